#include "core/refdata/SnapshotWaiters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vorn {
namespace {

using std::chrono::milliseconds;

const TContractKey kMar{"LIFFE", "FTSE", "MAR27"};
const TContractKey kJun{"LIFFE", "FTSE", "JUN27"};

TEST(SnapshotWaitersTest, AReplyBeforeTheWaitStillAnswersIt) {
  TSnapshotWaiters waiters;
  const auto waiter = waiters.Register(kMar);
  waiters.Answer(kMar);
  EXPECT_TRUE(waiter->Wait(milliseconds(0)));
}

TEST(SnapshotWaitersTest, OnlyTheWaitersOfThatContractAreAnsweredAndEachOnlyOnce) {
  TSnapshotWaiters waiters;
  const auto first = waiters.Register(kMar);
  const auto second = waiters.Register(kMar);
  const auto other = waiters.Register(kJun);
  waiters.Answer(kMar);
  EXPECT_TRUE(first->Wait(milliseconds(0)));
  EXPECT_TRUE(second->Wait(milliseconds(0)));
  EXPECT_FALSE(other->Wait(milliseconds(20)));
  // A later caller for the same contract waits for a price array of its own.
  const auto later = waiters.Register(kMar);
  EXPECT_FALSE(later->Wait(milliseconds(20)));
}

TEST(SnapshotWaitersTest, AWithdrawnWaiterIsNotAnswered) {
  TSnapshotWaiters waiters;
  const auto waiter = waiters.Register(kMar);
  waiters.Withdraw(waiter);
  waiters.Answer(kMar);
  EXPECT_FALSE(waiter->Wait(milliseconds(0)));
}

TEST(SnapshotWaitersTest, WakeAllEndsEveryWaitUnansweredAndRefusesNewWaiters) {
  TSnapshotWaiters waiters;
  const auto waiter = waiters.Register(kMar);
  std::thread shutdown([&] {
    std::this_thread::sleep_for(milliseconds(20));
    waiters.WakeAll();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(waiter->Wait(milliseconds(60000)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(30000));
  shutdown.join();
  const auto late = waiters.Register(kMar);
  waiters.Answer(kMar);
  EXPECT_FALSE(late->Wait(milliseconds(60000)));
}

}  // namespace
}  // namespace vorn
