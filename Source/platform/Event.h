#pragma once
// Process-local event in place of the platform's event objects: manual or automatic reset.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorn {

class TEvent {
 public:
  explicit TEvent(bool manualReset, bool initiallySet = false)
      : manualReset_(manualReset), set_(initiallySet) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits until the event is set; an auto-reset event is reset by the wait that sees it.
  void Wait();
  // Returns true when the event was set within the time-out.
  bool WaitFor(std::chrono::milliseconds timeout);
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  bool IsSet() const;

 private:
  bool TakeLocked();  // mutex_ held

  const bool manualReset_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_;
};

// A state that stays reached once reached: every waiter, present and later, is released until
// Reset re-arms it for the next run of the work it stands for.
class TLatch {
 public:
  explicit TLatch(bool initiallySet = false) : event_(true, initiallySet) {}

  void Set() { event_.SetEvent(); }
  void Reset() { event_.ResetEvent(); }
  void Wait() { event_.Wait(); }
  // True when the latch was set within the time-out.
  bool WaitFor(std::chrono::milliseconds timeout) { return event_.WaitFor(timeout); }
  bool IsSet() const { return event_.IsSet(); }

 private:
  TEvent event_;
};

}  // namespace vorn
