#pragma once
// A clock whose readings the test sets, and a scope that installs it as the one clock.

#include <atomic>
#include <cstdint>

#include "platform/Clock.h"

namespace vorn {

class TFakeClock : public IClock {
 public:
  // UTC starts equal to local time; set it on its own where a test needs an offset.
  explicit TFakeClock(TDateTime local = 0, std::int64_t monotonicMs = 0)
      : local_(local), utc_(local), monotonic_(monotonicMs) {}

  TDateTime NowLocal() override { return local_.load(); }
  TDateTime NowUTC() override { return utc_.load(); }
  std::int64_t MonotonicMs() override { return monotonic_.load(); }

  // Sets local and UTC time together (the same value).
  void SetNow(TDateTime value) {
    local_.store(value);
    utc_.store(value);
  }
  void SetLocal(TDateTime value) { local_.store(value); }
  void SetUTC(TDateTime value) { utc_.store(value); }
  void SetMonotonicMs(std::int64_t value) { monotonic_.store(value); }
  // Moves every reading forward by the given milliseconds.
  void AdvanceMs(std::int64_t ms) {
    const double days = static_cast<double>(ms) / (kSecondsPerDay * 1000.0);
    local_.store(local_.load() + days);
    utc_.store(utc_.load() + days);
    monotonic_.fetch_add(ms);
  }

 private:
  std::atomic<TDateTime> local_;
  std::atomic<TDateTime> utc_;
  std::atomic<std::int64_t> monotonic_;
};

// Installs a clock for the life of the scope, then restores the system clock.
class TClockInstaller {
 public:
  explicit TClockInstaller(IClock& clock) { SetClock(&clock); }
  TClockInstaller(const TClockInstaller&) = delete;
  TClockInstaller& operator=(const TClockInstaller&) = delete;
  ~TClockInstaller() { SetClock(nullptr); }
};

}  // namespace vorn
