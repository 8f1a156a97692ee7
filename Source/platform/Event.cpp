#include "platform/Event.h"

namespace vorn {

void TEvent::SetEvent() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  if (manualReset_)
    changed_.notify_all();
  else
    changed_.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool TEvent::TakeLocked() {
  if (!set_) return false;
  if (!manualReset_) set_ = false;
  return true;
}

void TEvent::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return set_; });
  TakeLocked();
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout) {
  return WaitUntil(std::chrono::steady_clock::now() + timeout);
}

bool TEvent::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_until(lock, deadline, [this] { return set_; })) return false;
  return TakeLocked();
}

bool TEvent::IsSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

}  // namespace vorn
