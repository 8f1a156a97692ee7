#pragma once
// The order-rate throttle in front of the host link: when order requests follow each other too
// fast, the sending thread sleeps before its request goes out. One throttle per API object,
// shared by every thread that sends order requests.
//
// With the settings B (burst), W (window, seconds) and G (gap, tenths of a second): a window
// starts with a request more than W whole seconds after the last window start, and counts the
// requests after it. A request that makes the count exceed B waits until W seconds after the
// window start, or G tenths after the previous request when that is later; after a wait a new
// window starts. All times are total elapsed milliseconds of a monotonic clock.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace vorn {

class TClassAPI;

struct TThrottleSettings {
  bool On = true;
  std::int32_t Burst = 2;
  std::int32_t WindowSeconds = 1;
  std::int32_t GapTenths = 5;
};

// The API object's current settings.
TThrottleSettings ThrottleSettingsOf(const TClassAPI& api);

class TOrderThrottle {
 public:
  using TMonotonicMs = std::function<std::int64_t()>;
  using TSleeper = std::function<void(std::chrono::milliseconds)>;

  // Defaults: the one clock's monotonic count and std::this_thread::sleep_for.
  TOrderThrottle();
  TOrderThrottle(TMonotonicMs now, TSleeper sleep);
  TOrderThrottle(const TOrderThrottle&) = delete;
  TOrderThrottle& operator=(const TOrderThrottle&) = delete;

  // Runs once before each order request is sent: computes the wait under the lock, sleeps
  // outside it, and records the request. Returns the wait slept (0 for none). Call with no
  // other lock held.
  std::chrono::milliseconds Pass(const TThrottleSettings& settings);

 private:
  TMonotonicMs now_;
  TSleeper sleep_;
  std::mutex lock_;
  // Unset until the first request / the first window: "long ago".
  std::optional<std::int64_t> lastRequest_;
  std::optional<std::int64_t> windowStart_;
  std::int32_t count_ = 0;
};

}  // namespace vorn
