#include "core/session/VORNTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace vorn {
namespace {

using namespace std::chrono_literals;

TEST(FixedRateScheduleTest, LateCallsCatchUpUntilTheStallIsTooLong) {
  struct Case {
    std::int64_t finishedAt;          // when the first call returns; it was due at 100
    std::vector<std::int64_t> waits;  // waits before the next calls, all seen at finishedAt
  };
  const Case cases[] = {
      {150, {50, 150}},             // on time: the rate holds
      {350, {-150, -50, 50, 150}},  // 2.5 intervals late: two calls at once, then the rate
      {600, {-400, -300, -200, -100, 0, 100}},  // 5 intervals late: still caught up
      {800, {100, 200}},  // more than 5 intervals late: re-based on the present
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.finishedAt);
    TFixedRateSchedule schedule;
    schedule.Start(0, 100);
    EXPECT_EQ(schedule.WaitBefore(0), 100);
    schedule.Advance(c.finishedAt, 100);
    for (std::size_t i = 0; i < c.waits.size(); ++i) {
      EXPECT_EQ(schedule.WaitBefore(c.finishedAt), c.waits[i]) << "call " << i + 2;
      schedule.Advance(c.finishedAt, 100);
    }
  }
}

// Drives a timer on fake time: a sleep advances the fake clock instead of waiting.
struct FakeTime {
  std::mutex lock;
  std::int64_t now = 0;
  std::vector<std::int64_t> callTimes;
  std::vector<std::int64_t> sleeps;

  TVORNTimer::TTimeSource Source() {
    return {[this] {
              std::lock_guard guard(lock);
              return now;
            },
            [this](TThreadControl&, std::int64_t ms) {
              std::lock_guard guard(lock);
              sleeps.push_back(ms);
              now += ms;
            }};
  }
};

TEST(VORNTimerTest, SlowHandlerIsFollowedByTheDueCallsThenTheRate) {
  FakeTime fake;
  std::promise<void> done;
  TVORNTimer timer(fake.Source());
  timer.SetInterval(100);
  timer.SetOnTimer([&](TVORNTimer& sender) {
    std::lock_guard guard(fake.lock);
    fake.callTimes.push_back(fake.now);
    if (fake.callTimes.size() == 1) fake.now += 250;  // the handler takes 2.5 intervals
    if (fake.callTimes.size() == 5) {
      sender.SetEnabled(false);  // stopping from inside the handler must not block
      done.set_value();
    }
  });
  timer.SetEnabled(true);
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
  std::lock_guard guard(fake.lock);
  EXPECT_EQ(fake.callTimes, (std::vector<std::int64_t>{100, 350, 350, 400, 500}));
  EXPECT_EQ(fake.sleeps, (std::vector<std::int64_t>{100, 50, 100}));
}

TEST(VORNTimerTest, LongStallReBasesInsteadOfBursting) {
  FakeTime fake;
  std::promise<void> done;
  TVORNTimer timer(fake.Source());
  timer.SetInterval(100);
  timer.SetOnTimer([&](TVORNTimer& sender) {
    std::lock_guard guard(fake.lock);
    fake.callTimes.push_back(fake.now);
    if (fake.callTimes.size() == 1) fake.now += 120 * 100;  // a two-minute stall
    if (fake.callTimes.size() == 3) {
      sender.SetEnabled(false);
      done.set_value();
    }
  });
  timer.SetEnabled(true);
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
  std::lock_guard guard(fake.lock);
  EXPECT_EQ(fake.callTimes, (std::vector<std::int64_t>{100, 12200, 12300}));
}

TEST(VORNTimerTest, ThreadRunsOnlyWhenEnabledWithAnInterval) {
  TVORNTimer timer;
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_FALSE(timer.Enabled());
  timer.SetInterval(0);
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.IsRunning());
  timer.SetInterval(1000);
  EXPECT_TRUE(timer.IsRunning());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.IsRunning());
}

TEST(VORNTimerTest, StoringAnEqualValueDoesNotRestartTheSchedule) {
  FakeTime fake;
  std::atomic<int> calls{0};
  std::promise<void> firstCall;
  std::promise<void> release;
  auto released = release.get_future().share();
  TVORNTimer timer(fake.Source());
  timer.SetInterval(100);
  timer.SetOnTimer([&](TVORNTimer& sender) {
    if (++calls == 1) {
      firstCall.set_value();
      released.wait();
      sender.SetEnabled(false);
    }
  });
  timer.SetEnabled(true);
  ASSERT_EQ(firstCall.get_future().wait_for(10s), std::future_status::ready);
  // A restart would stop (join) the thread that is blocked in the handler: equal values must
  // return at once.
  timer.SetEnabled(true);
  timer.SetInterval(100);
  EXPECT_TRUE(timer.IsRunning());
  release.set_value();
}

TEST(VORNTimerTest, NoCallAfterTheDestructorReturns) {
  std::atomic<int> calls{0};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> calledAfter{false};
  {
    TVORNTimer timer;
    timer.SetInterval(1);
    timer.SetOnTimer([&](TVORNTimer&) {
      if (destroyed) calledAfter = true;
      ++calls;
    });
    timer.SetEnabled(true);
    while (calls < 3)
      std::this_thread::yield();
  }
  destroyed = true;
  const int seen = calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(calls, seen);
  EXPECT_FALSE(calledAfter);
}

TEST(VORNTimerTest, DestroyingFromInsideTheHandlerReturns) {
  std::promise<void> done;
  std::promise<void> started;
  auto startedFuture = started.get_future().share();
  auto* timer = new TVORNTimer;
  timer->SetInterval(1);
  timer->SetOnTimer([&](TVORNTimer& sender) {
    startedFuture.wait();  // the caller of SetEnabled is done with the timer
    delete &sender;
    done.set_value();
  });
  timer->SetEnabled(true);
  started.set_value();
  EXPECT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace vorn
