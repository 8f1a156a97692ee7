#pragma once
// A periodic timer with a thread of its own, calling OnTimer at a fixed rate.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Thread.h"

namespace vorn {

// Fixed-rate schedule: the next deadline counts from the previous one, so a late call is
// followed at once by the calls that were due. After a stall of more than kMaxCatchUp
// intervals the schedule is re-based on the present instead of firing every missed tick.
class TFixedRateSchedule {
 public:
  static constexpr std::int64_t kMaxCatchUp = 5;

  void Start(std::int64_t nowMs, std::uint32_t intervalMs) { deadline_ = nowMs + intervalMs; }
  // Milliseconds to wait before the next call; 0 or less means call at once.
  std::int64_t WaitBefore(std::int64_t nowMs) const { return deadline_ - nowMs; }
  // After a call: moves the deadline on by the interval in force now.
  void Advance(std::int64_t nowMs, std::uint32_t intervalMs);
  std::int64_t Deadline() const { return deadline_; }

 private:
  std::int64_t deadline_ = 0;
};

class TVORNTimer {
 public:
  using TNotifyEvent = std::function<void(TVORNTimer& sender)>;
  // Where the timer's thread reads the time and sleeps; tests put a fake in.
  struct TTimeSource {
    std::function<std::int64_t()> nowMs;                             // default: the clock
    std::function<void(TThreadControl&, std::int64_t ms)> sleepFor;  // default: the wake event
  };

  explicit TVORNTimer(TTimeSource timeSource = {});
  TVORNTimer(const TVORNTimer&) = delete;
  TVORNTimer& operator=(const TVORNTimer&) = delete;
  // Joins the thread, so no call follows; from inside the handler the thread ends on return
  // (once the setter that started it has returned).
  ~TVORNTimer();

  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  std::uint32_t Interval() const { return interval_.load(); }
  void SetInterval(std::uint32_t value);
  void SetOnTimer(TNotifyEvent handler);
  bool IsRunning() const;

 private:
  void Update();
  void Execute(TThreadControl& control);
  bool OnOwnThread() const;

  TTimeSource timeSource_;
  std::atomic<bool> enabled_{false};
  std::atomic<std::uint32_t> interval_{1000};
  mutable std::mutex stateLock_;  // guards thread_ and onTimer_
  std::mutex updateLock_;         // serialises Update on other threads than the timer's
  std::unique_ptr<TStoppableThread> thread_;
  std::shared_ptr<const TNotifyEvent> onTimer_;
};

}  // namespace vorn
