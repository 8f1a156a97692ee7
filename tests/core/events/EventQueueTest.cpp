#include "core/events/EventQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

namespace vorn {
namespace {

// The payload of event n: size bytes, each a function of n and its offset.
std::vector<unsigned char> PayloadOf(int n, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<unsigned char>(n * 31 + static_cast<int>(i) + 1);
  return bytes;
}

void ExpectItem(const TCallbackQueueItem& item, int n, std::size_t size) {
  ASSERT_EQ(item.Id, n);
  const auto expected = PayloadOf(n, size);
  if (size > 0) {
    EXPECT_EQ(std::memcmp(item.Payload, expected.data(), size), 0) << n;
  }
  for (std::size_t i = size; i < sizeof item.Payload; ++i)
    ASSERT_EQ(item.Payload[i], 0) << n << " byte " << i;
}

// Every size from none to past the payload area, pushed and taken out in waves that fill and
// empty many blocks, each event out in order with its bytes and zeros behind them; an item
// holding an earlier, longer event is overwritten whole.
TEST(EventQueueTest, EventsComeOutInOrderWithTheirBytesAndZerosAfterThem) {
  TEventQueue queue;
  TCallbackQueueItem item;
  std::memset(&item, 0xCC, sizeof item);
  std::deque<std::pair<int, std::size_t>> expected;
  int next = 0;
  for (int wave = 0; wave < 6; ++wave) {
    const int pushes = wave % 2 == 0 ? 700 : 150;
    for (int k = 0; k < pushes; ++k, ++next) {
      const std::size_t size = static_cast<std::size_t>(next * 7 % 530);
      const auto payload = PayloadOf(next, size);
      queue.Push(next, payload.data(), size);
      expected.emplace_back(next, std::min<std::size_t>(size, VN_CALLBACK_PAYLOAD_SIZE));
    }
    const std::size_t pops = wave % 2 == 0 ? 300 : expected.size();
    for (std::size_t k = 0; k < pops; ++k) {
      ASSERT_TRUE(queue.Pop(item));
      ExpectItem(item, expected.front().first, expected.front().second);
      expected.pop_front();
    }
    EXPECT_EQ(queue.Count(), expected.size());
  }
  EXPECT_FALSE(queue.Pop(item));
  EXPECT_EQ(item.Id, next - 1) << "a failed take leaves the item as it was";

  // A null payload queues none of its size.
  queue.Push(7, nullptr, 100);
  ASSERT_TRUE(queue.Pop(item));
  ExpectItem(item, 7, 0);
}

TEST(EventQueueTest, APushReportsWhetherTheQueueWasEmpty) {
  TEventQueue queue;
  TCallbackQueueItem item;
  const char text[] = "x";
  EXPECT_TRUE(queue.Push(1, text, sizeof text));
  EXPECT_FALSE(queue.Push(2, text, sizeof text));
  ASSERT_TRUE(queue.Pop(item));
  EXPECT_FALSE(queue.Push(3, nullptr, 0));
  ASSERT_TRUE(queue.Pop(item));
  ASSERT_TRUE(queue.Pop(item));
  EXPECT_TRUE(queue.Push(4, nullptr, 0));
  queue.Clear();
  EXPECT_EQ(queue.Count(), 0u);
  EXPECT_TRUE(queue.Push(5, nullptr, 0));
}

// The queue holds what was posted: a burst of 73-byte records (a contract key) takes about 80
// bytes each plus the partly filled block, and taking them out gives the blocks back but the
// newest and one spare; clearing gives back everything.
TEST(EventQueueTest, HeldMemoryFollowsWhatIsQueued) {
  constexpr std::size_t kEvents = 5000;
  constexpr std::size_t kRecord = 8 + 80;
  const std::size_t block = TEventQueue::kBlockBytes;
  TEventQueue queue;
  const std::array<unsigned char, 73> key{};
  for (std::size_t n = 0; n < kEvents; ++n)
    queue.Push(8, key.data(), key.size());
  const std::size_t perBlock = block / kRecord;
  const std::size_t blocks = (kEvents + perBlock - 1) / perBlock;
  EXPECT_GE(queue.HeldBytes(), blocks * block);
  EXPECT_LE(queue.HeldBytes(), (blocks + 1) * (block + 64));
  TCallbackQueueItem item;
  while (queue.Pop(item)) {
  }
  EXPECT_LE(queue.HeldBytes(), 2 * (block + 64));
  queue.Clear();
  EXPECT_EQ(queue.HeldBytes(), 0u);
}

// Two threads post while a third takes out: each poster's events arrive in its order, none
// lost, none twice (and, under the thread sanitizer, no race).
TEST(EventQueueTest, PostersAndATakerShareTheQueue) {
  constexpr int kPerThread = 20000;
  TEventQueue queue;
  std::thread posters[2];
  for (int t = 0; t < 2; ++t)
    posters[t] = std::thread([&queue, t] {
      std::array<unsigned char, 256> payload{};
      for (std::int32_t n = 0; n < kPerThread; ++n) {
        std::memcpy(payload.data(), &n, sizeof n);
        queue.Push(t, payload.data(), sizeof n + static_cast<std::size_t>(n % 200));
      }
    });
  int next[2] = {0, 0};
  bool ordered = true;
  TCallbackQueueItem item;
  while (next[0] + next[1] < 2 * kPerThread) {
    if (!queue.Pop(item)) {
      std::this_thread::yield();
      continue;
    }
    std::int32_t value = 0;
    std::memcpy(&value, item.Payload, sizeof value);
    ordered = ordered && item.Id >= 0 && item.Id < 2 && value == next[item.Id];
    if (item.Id >= 0 && item.Id < 2) ++next[item.Id];
  }
  for (auto& poster : posters)
    poster.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(queue.Count(), 0u);
}

}  // namespace
}  // namespace vorn
