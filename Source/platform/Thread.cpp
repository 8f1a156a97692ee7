#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <vector>
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// Threads stopped from inside themselves, waiting to be joined by another thread. The unload
// handling joins them after static objects of the process are gone.
struct TStoppedThreads {
  std::mutex lock;
  std::vector<std::thread> threads;
};

TProcessWide<TStoppedThreads> stopped;
TStoppedThreads& StoppedThreads() {
  return stopped.Get();
}

}  // namespace

void JoinStoppedThreads() {
  std::vector<std::thread> joinable;
  {
    auto& stopped = StoppedThreads();
    std::lock_guard guard(stopped.lock);
    for (auto it = stopped.threads.begin(); it != stopped.threads.end();) {
      if (it->get_id() == std::this_thread::get_id()) {
        ++it;
        continue;
      }
      joinable.push_back(std::move(*it));
      it = stopped.threads.erase(it);
    }
  }
  for (auto& thread : joinable)
    thread.join();
}

void TStoppableThread::Start(Body body) {
  Stop();
  control_ = std::make_shared<TThreadControl>();
  thread_ = std::thread([control = control_, body = std::move(body)] { body(*control); });
}

void TStoppableThread::Stop() {
  if (!thread_.joinable()) return;
  control_->terminated.store(true, std::memory_order_release);
  control_->wake.SetEvent();
  if (IsCurrentThread()) {
    auto& stopped = StoppedThreads();
    std::lock_guard guard(stopped.lock);
    stopped.threads.push_back(std::move(thread_));
  } else {
    thread_.join();
  }
  control_.reset();
}

std::uint32_t CurrentThreadId() {
  thread_local const auto id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  return id;
}

}  // namespace vorn
