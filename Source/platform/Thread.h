#pragma once
// A thread owned by one object: stop is set a flag, wake, join. A stop called on the thread
// itself cannot join: the thread is handed to a process-wide list of stopped threads instead,
// its loop ends once its current step returns, and JoinStoppedThreads (from any other thread,
// at the latest when the library is unloaded) joins it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Event.h"

namespace vorn {

// Shared by the owner and the running thread; outlives a detached thread's owner.
struct TThreadControl {
  std::atomic<bool> terminated{false};
  TEvent wake{false};  // auto reset: an interruptible sleep
  bool Terminated() const { return terminated.load(std::memory_order_acquire); }
  // Sleeps until the deadline or a stop; returns false when stopped.
  bool SleepUntil(std::chrono::steady_clock::time_point deadline) {
    if (Terminated()) return false;
    wake.WaitUntil(deadline);
    return !Terminated();
  }
};

class TStoppableThread {
 public:
  using Body = std::function<void(TThreadControl&)>;

  TStoppableThread() = default;
  TStoppableThread(const TStoppableThread&) = delete;
  TStoppableThread& operator=(const TStoppableThread&) = delete;
  ~TStoppableThread() { Stop(); }

  // Starts the body on a new thread; a running thread is stopped first.
  void Start(Body body);
  // Sets the stop flag, wakes the thread and joins it; on the thread itself, hands it over to
  // JoinStoppedThreads.
  void Stop();
  bool IsRunning() const { return thread_.joinable(); }
  bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  std::shared_ptr<TThreadControl> control_;
  std::thread thread_;
};

// Joins every thread that was stopped from inside itself; a call from one of those threads
// leaves that one alone.
void JoinStoppedThreads();

// A small number that names the calling thread in traces.
std::uint32_t CurrentThreadId();

}  // namespace vorn
