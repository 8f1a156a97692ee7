#include "vornjni/core/EventQueue.h"

#include <gtest/gtest.h>

#include <thread>

namespace vorn::bridge {
namespace {

TEST(EventQueueTest, RoundsKeepOrderAndCopyThePayloads) {
  TEventQueue queue;
  std::uint8_t bytes[3] = {1, 2, 3};
  queue.Add(5, bytes, 3);
  bytes[0] = 9;  // the queue holds its own copy
  queue.Add(7, nullptr, 0);
  std::deque<TCallback> round;
  ASSERT_TRUE(queue.Take(round));
  ASSERT_EQ(round.size(), 2u);
  EXPECT_EQ(round[0].Type, 5);
  EXPECT_EQ(round[0].Data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(round[1].Type, 7);
  EXPECT_TRUE(round[1].Data.empty());

  // The next round holds only what came after.
  queue.Add(8, bytes, 1);
  ASSERT_TRUE(queue.Take(round));
  ASSERT_EQ(round.size(), 1u);
  EXPECT_EQ(round[0].Type, 8);
}

TEST(EventQueueTest, StopBeforeTheTakeIsNotLostAndDropsWhatIsQueued) {
  TEventQueue queue;
  queue.Add(1, nullptr, 0);
  queue.Stop();
  std::deque<TCallback> round;
  EXPECT_FALSE(queue.Take(round));
  EXPECT_TRUE(round.empty());
  EXPECT_FALSE(queue.Take(round));  // stays stopped until the next session

  queue.Reset();
  queue.Add(2, nullptr, 0);
  ASSERT_TRUE(queue.Take(round));
  EXPECT_EQ(round.front().Type, 2);
}

TEST(EventQueueTest, WaitingTakeWakesForEventsAndForStop) {
  TEventQueue queue;
  std::deque<TCallback> first;
  bool stopped = false;
  std::thread taker([&] {
    queue.Take(first);
    std::deque<TCallback> second;
    stopped = !queue.Take(second);
  });
  queue.Add(3, nullptr, 0);
  queue.Stop();
  taker.join();
  // Either the event came in a round before the stop, or the stop dropped it.
  EXPECT_LE(first.size(), 1u);
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace vorn::bridge
