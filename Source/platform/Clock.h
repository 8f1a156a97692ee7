#pragma once
// The one source of "now": local and UTC date-times and a monotonic millisecond count.
// Tests install a fake clock to fix time.

#include <cstdint>

namespace vorn {

// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

constexpr TDateTime kUnixEpochDate = 25569.0;  // 1970-01-01
constexpr double kSecondsPerDay = 86400.0;

class IClock {
 public:
  virtual ~IClock() = default;
  virtual TDateTime NowLocal() = 0;
  virtual TDateTime NowUTC() = 0;
  virtual std::int64_t MonotonicMs() = 0;
  // Local time at the resolution of the platform's coarse clock (a few milliseconds, as fine as
  // the original platform's own clock), for the stamps written at high rates: trace ring
  // entries and price entries. A clock without a coarse reading gives NowLocal.
  virtual TDateTime NowLocalCoarse() { return NowLocal(); }
};

// The clock every "now" goes through: the system clock unless a test installed another.
IClock& Clock();
// Installs a clock (nullptr restores the system clock); the caller keeps it alive.
void SetClock(IClock* clock);

// Offset of local time from UTC, in whole seconds, in force at the given instant (Unix seconds).
std::int32_t LocalOffsetAtUtc(std::int64_t unixSeconds);
// The same for a local wall-clock time given as seconds since 1970-01-01 local; a time that
// falls in a daylight-saving gap or overlap takes the platform's choice.
std::int32_t LocalOffsetAtLocal(std::int64_t localSeconds);

}  // namespace vorn
