#include "links/OrderThrottle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

namespace vorn {
namespace {

using std::chrono::milliseconds;

// A throttle on a clock the test sets; the sleeper records each wait and moves the clock on by
// it, as a real sleep would.
class OrderThrottleTest : public ::testing::Test {
 protected:
  std::atomic<std::int64_t> now_{0};
  std::vector<std::int64_t> waits_;
  TOrderThrottle throttle_{[this] { return now_.load(); },
                           [this](milliseconds wait) {
                             waits_.push_back(wait.count());
                             now_ += wait.count();
                           }};
};

TEST_F(OrderThrottleTest, WaitsFollowBurstWindowAndGap) {
  struct TRequest {
    std::int64_t at;    // ms
    std::int64_t wait;  // ms slept before it goes out
  };
  struct TCase {
    const char* name;
    TThrottleSettings settings;
    std::vector<TRequest> requests;
  };
  const TThrottleSettings starting;  // on, B 2, W 1 s, G 5 tenths
  const TCase cases[] = {
      // The fourth within the window waits until one second after the first; the next window
      // starts after the wait.
      {"burst", starting, {{0, 0}, {100, 0}, {200, 0}, {300, 700}, {1100, 0}, {1200, 0}}},
      // More than W whole seconds after the window start: a new window, no wait.
      {"new window", starting, {{0, 0}, {100, 0}, {200, 0}, {2000, 0}, {2100, 0}, {2200, 0}}},
      // Under two whole seconds since its start is still the same window: the fourth request
      // waits out the gap.
      {"window boundary", starting, {{0, 0}, {100, 0}, {1900, 0}, {1999, 401}}},
      // The gap since the previous request outlasts what is left of the window.
      {"gap", {true, 2, 1, 9}, {{0, 0}, {100, 0}, {200, 0}, {800, 300}}},
      // A minute and half a second after the window start is a new window, not the same one.
      {"a minute later",
       starting,
       {{0, 0}, {100, 0}, {200, 0}, {60500, 0}, {60600, 0}, {60700, 0}, {60800, 700}}},
      {"switched off", {false, 2, 1, 5}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
      {"all zero", {true, 0, 0, 0}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
      // Gap only: each request within the window waits out G after the one before.
      {"gap only", {true, 0, 0, 5}, {{0, 0}, {100, 400}, {700, 300}, {5000, 0}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TOrderThrottle throttle{[this] { return now_.load(); },
                            [this](milliseconds wait) {
                              waits_.push_back(wait.count());
                              now_ += wait.count();
                            }};
    waits_.clear();
    std::vector<std::int64_t> expectedWaits;
    for (const TRequest& r : c.requests) {
      now_ = r.at;
      EXPECT_EQ(throttle.Pass(c.settings).count(), r.wait) << "request at " << r.at;
      if (r.wait > 0) expectedWaits.push_back(r.wait);
    }
    EXPECT_EQ(waits_, expectedWaits);
  }
}

// Concurrent senders never lose a count: after exactly B + 1 requests in one window the next
// one waits.
TEST_F(OrderThrottleTest, CountsEveryRequestFromEveryThread) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 100;
  const TThrottleSettings settings{true, kThreads * kPerThread - 1, 1, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i)
        EXPECT_EQ(throttle_.Pass(settings).count(), 0);
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(throttle_.Pass(settings).count(), 1000);
}

// A sleeping sender does not hold up the others.
TEST_F(OrderThrottleTest, SleepsOutsideTheLock) {
  const TThrottleSettings settings{true, 0, 1, 0};
  std::future<std::int64_t> other;
  bool otherPassed = false;
  TOrderThrottle throttle{[] { return std::int64_t{0}; },
                          [&](milliseconds) {
                            other = std::async(std::launch::async, [&] {
                              return std::int64_t{throttle.Pass({false, 0, 0, 0}).count()};
                            });
                            otherPassed = other.wait_for(std::chrono::seconds(10)) ==
                                          std::future_status::ready;
                          }};
  EXPECT_EQ(throttle.Pass(settings).count(), 0);
  EXPECT_EQ(throttle.Pass(settings).count(), 1000);
  EXPECT_TRUE(otherPassed);
  other.wait();
}

}  // namespace
}  // namespace vorn
