#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace vorn {

void TStoppableThread::Start(Body body) {
  Stop();
  control_ = std::make_shared<TThreadControl>();
  thread_ = std::thread([control = control_, body = std::move(body)] { body(*control); });
}

void TStoppableThread::Stop() {
  if (!thread_.joinable()) return;
  control_->terminated.store(true, std::memory_order_release);
  control_->wake.SetEvent();
  if (IsCurrentThread())
    thread_.detach();
  else
    thread_.join();
  control_.reset();
}

std::uint32_t CurrentThreadId() {
  thread_local const auto id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  return id;
}

}  // namespace vorn
