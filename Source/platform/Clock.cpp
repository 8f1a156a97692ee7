#include "platform/Clock.h"

#include <atomic>
#include <ctime>
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

class TSystemClock final : public IClock {
 public:
  TDateTime NowLocal() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return FromSeconds(static_cast<double>(ts.tv_sec) + local.tm_gmtoff, ts.tv_nsec);
  }
  TDateTime NowUTC() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromSeconds(static_cast<double>(ts.tv_sec), ts.tv_nsec);
  }
  std::int64_t MonotonicMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
  // The coarse wall clock with the local offset of its second: the offset is looked up once a
  // second, so a change of the process's time zone shows from the next second on.
  TDateTime NowLocalCoarse() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    // Whole milliseconds; the product differs from the quotient by far less than a millisecond.
    constexpr double kDaysPerMs = 1.0 / (kSecondsPerDay * 1000.0);
    const std::int64_t ms =
        (static_cast<std::int64_t>(ts.tv_sec) + OffsetAt(ts.tv_sec)) * 1000 + ts.tv_nsec / 1000000;
    return kUnixEpochDate + static_cast<double>(ms) * kDaysPerMs;
  }

 private:
  // One word: the second (upper bits) and its offset in seconds, biased to be positive (lower
  // kOffsetBits bits); 0 before the first lookup.
  static constexpr int kOffsetBits = 20;
  static constexpr std::int64_t kOffsetBias = std::int64_t{1} << (kOffsetBits - 1);

  std::int64_t OffsetAt(time_t second) {
    const std::uint64_t cached = offset_.load(std::memory_order_relaxed);
    if (cached != 0 && static_cast<std::int64_t>(cached >> kOffsetBits) == second)
      return static_cast<std::int64_t>(cached & ((std::uint64_t{1} << kOffsetBits) - 1)) -
             kOffsetBias;
    tm local{};
    localtime_r(&second, &local);
    const std::int64_t offset = local.tm_gmtoff;
    if (second > 0 && offset > -kOffsetBias && offset < kOffsetBias)
      offset_.store(static_cast<std::uint64_t>(second) << kOffsetBits |
                        static_cast<std::uint64_t>(offset + kOffsetBias),
                    std::memory_order_relaxed);
    return offset;
  }

  std::atomic<std::uint64_t> offset_{0};

  // Whole milliseconds, as the platform's time readings carry.
  static TDateTime FromSeconds(double seconds, long nanoseconds) {
    return kUnixEpochDate +
           (seconds + static_cast<double>(nanoseconds / 1000000) / 1000.0) / kSecondsPerDay;
  }
};

// The library's unload handling still reads the time after static objects of the process
// are gone.
TProcessWide<TSystemClock> systemClock;
IClock& SystemClock() {
  return systemClock.Get();
}

std::atomic<IClock*> installedClock{nullptr};

}  // namespace

IClock& Clock() {
  IClock* clock = installedClock.load(std::memory_order_acquire);
  return clock ? *clock : SystemClock();
}

void SetClock(IClock* clock) {
  installedClock.store(clock, std::memory_order_release);
}

std::int32_t LocalOffsetAtUtc(std::int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  tm local{};
  localtime_r(&t, &local);
  return static_cast<std::int32_t>(local.tm_gmtoff);
}

std::int32_t LocalOffsetAtLocal(std::int64_t localSeconds) {
  const time_t asUtc = static_cast<time_t>(localSeconds);
  tm fields{};
  gmtime_r(&asUtc, &fields);
  fields.tm_isdst = -1;
  const time_t instant = mktime(&fields);
  if (instant == static_cast<time_t>(-1)) return LocalOffsetAtUtc(localSeconds);
  return LocalOffsetAtUtc(instant);
}

}  // namespace vorn
