#include "links/OrderThrottle.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "core/session/ClassAPI.h"
#include "platform/Clock.h"

namespace vorn {

TThrottleSettings ThrottleSettingsOf(const TClassAPI& api) {
  return {api.Features.OrderThrottle.load(), api.Features.ThrottleBurst.load(),
          api.Features.ThrottleWindowSeconds.load(), api.Features.ThrottleGapTenths.load()};
}

TOrderThrottle::TOrderThrottle()
    : TOrderThrottle([] { return Clock().MonotonicMs(); },
                     [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }) {}

TOrderThrottle::TOrderThrottle(TMonotonicMs now, TSleeper sleep)
    : now_(std::move(now)), sleep_(std::move(sleep)) {}

std::chrono::milliseconds TOrderThrottle::Pass(const TThrottleSettings& settings) {
  const bool active =
      settings.On && (settings.Burst > 0 || settings.WindowSeconds > 0 || settings.GapTenths > 0);
  std::int64_t wait = 0;
  {
    std::lock_guard guard(lock_);
    const std::int64_t now = now_();
    if (active) {
      const std::int64_t gapMs = std::int64_t{settings.GapTenths} * 100;
      const std::int64_t windowMs = std::int64_t{settings.WindowSeconds} * 1000;
      // What is left of the minimum gap since the previous request.
      std::int64_t gap = 0;
      if (lastRequest_) {
        const std::int64_t sinceLast = now - *lastRequest_;
        if (sinceLast < gapMs) gap = gapMs - sinceLast;
      }
      // A window ends once more than W whole seconds have passed since its start. Before the
      // first window nothing is left of one.
      std::int64_t windowLeft = 0;
      if (windowStart_) {
        const std::int64_t sinceStart = now - *windowStart_;
        windowLeft = windowMs - sinceStart;
        if (sinceStart / 1000 > settings.WindowSeconds) windowStart_.reset();
      }
      if (windowStart_) {
        ++count_;
      } else {
        count_ = 0;
        windowStart_ = now;
      }
      if (count_ > settings.Burst) wait = std::max(gap, windowLeft);
    }
    if (wait <= 0) {
      wait = 0;
      lastRequest_ = now;
    }
  }
  if (wait == 0) return std::chrono::milliseconds(0);

  sleep_(std::chrono::milliseconds(wait));
  std::lock_guard guard(lock_);
  const std::int64_t now = now_();
  windowStart_ = now;
  count_ = 0;
  lastRequest_ = now;
  return std::chrono::milliseconds(wait);
}

}  // namespace vorn
