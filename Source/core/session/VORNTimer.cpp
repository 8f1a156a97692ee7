#include "core/session/VORNTimer.h"

#include "platform/Clock.h"

namespace vorn {
namespace {
thread_local const TVORNTimer* runningTimer = nullptr;
}

void TFixedRateSchedule::Advance(std::int64_t nowMs, std::uint32_t intervalMs) {
  deadline_ += intervalMs;
  if (nowMs - deadline_ > kMaxCatchUp * static_cast<std::int64_t>(intervalMs))
    deadline_ = nowMs + intervalMs;
}

TVORNTimer::TVORNTimer(TTimeSource timeSource) : timeSource_(std::move(timeSource)) {
  if (!timeSource_.nowMs) timeSource_.nowMs = [] { return Clock().MonotonicMs(); };
  if (!timeSource_.sleepFor)
    timeSource_.sleepFor = [](TThreadControl& control, std::int64_t ms) {
      control.SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    };
}

TVORNTimer::~TVORNTimer() {
  enabled_ = false;
  Update();
}

void TVORNTimer::SetEnabled(bool value) {
  if (enabled_.exchange(value) != value) Update();
}

void TVORNTimer::SetInterval(std::uint32_t value) {
  if (interval_.exchange(value) != value) Update();
}

void TVORNTimer::SetOnTimer(TNotifyEvent handler) {
  auto shared = handler ? std::make_shared<const TNotifyEvent>(std::move(handler)) : nullptr;
  std::lock_guard lock(stateLock_);
  onTimer_ = std::move(shared);
}

bool TVORNTimer::IsRunning() const {
  std::lock_guard lock(stateLock_);
  return thread_ != nullptr;
}

bool TVORNTimer::OnOwnThread() const {
  return runningTimer == this;
}

// Stops the running thread (joined, or left to end by itself when this is that thread), then
// starts a new one when the timer is enabled with a non-zero interval. The timer's own thread
// does not take updateLock_: another thread may hold it while joining this one.
void TVORNTimer::Update() {
  std::unique_lock<std::mutex> serial(updateLock_, std::defer_lock);
  if (!OnOwnThread()) serial.lock();
  std::unique_ptr<TStoppableThread> old;
  {
    std::lock_guard lock(stateLock_);
    old = std::move(thread_);
  }
  old.reset();  // Stop(): join, or detach on itself
  if (!enabled_ || interval_ == 0) return;
  std::lock_guard lock(stateLock_);
  if (thread_) return;
  thread_ = std::make_unique<TStoppableThread>();
  thread_->Start([this](TThreadControl& control) { Execute(control); });
}

void TVORNTimer::Execute(TThreadControl& control) {
  runningTimer = this;
  TFixedRateSchedule schedule;
  schedule.Start(timeSource_.nowMs(), interval_);
  while (!control.Terminated()) {
    const std::int64_t wait = schedule.WaitBefore(timeSource_.nowMs());
    if (wait > 0) timeSource_.sleepFor(control, wait);
    if (control.Terminated()) break;
    std::shared_ptr<const TNotifyEvent> handler;
    {
      std::lock_guard lock(stateLock_);
      handler = onTimer_;
    }
    if (handler) (*handler)(*this);
    // The handler may have stopped or freed the timer: touch nothing of it once terminated.
    if (control.Terminated()) break;
    schedule.Advance(timeSource_.nowMs(), interval_);
  }
  runningTimer = nullptr;
}

}  // namespace vorn
