#include "core/refdata/SnapshotWaiters.h"

#include <algorithm>
#include <utility>

namespace vorn {

void TSnapshotWaiter::Signal(bool answered) {
  {
    std::lock_guard guard(lock_);
    if (done_) return;
    done_ = true;
    answered_ = answered;
  }
  signalled_.notify_all();
}

bool TSnapshotWaiter::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock guard(lock_);
  signalled_.wait_for(guard, timeout, [this] { return done_; });
  return answered_;
}

std::shared_ptr<TSnapshotWaiter> TSnapshotWaiters::Register(TContractKey contract) {
  auto waiter = std::make_shared<TSnapshotWaiter>(std::move(contract));
  {
    std::lock_guard guard(lock_);
    if (!closed_) {
      waiters_.push_back(waiter);
      count_.store(waiters_.size(), std::memory_order_release);
      return waiter;
    }
  }
  waiter->Signal(false);
  return waiter;
}

void TSnapshotWaiters::Withdraw(const std::shared_ptr<TSnapshotWaiter>& waiter) {
  std::lock_guard guard(lock_);
  std::erase(waiters_, waiter);
  count_.store(waiters_.size(), std::memory_order_release);
}

std::vector<std::shared_ptr<TSnapshotWaiter>> TSnapshotWaiters::TakeMatching(
    const TContractKey* contract) {
  std::vector<std::shared_ptr<TSnapshotWaiter>> taken;
  std::lock_guard guard(lock_);
  const auto matches = [contract](const std::shared_ptr<TSnapshotWaiter>& waiter) {
    return !contract || waiter->Contract() == *contract;
  };
  for (const auto& waiter : waiters_)
    if (matches(waiter)) taken.push_back(waiter);
  std::erase_if(waiters_, matches);
  count_.store(waiters_.size(), std::memory_order_release);
  return taken;
}

void TSnapshotWaiters::Answer(const TContractKey& contract) {
  if (count_.load(std::memory_order_acquire) == 0) return;
  for (const auto& waiter : TakeMatching(&contract))
    waiter->Signal(true);
}

void TSnapshotWaiters::WakeAll() {
  {
    std::lock_guard guard(lock_);
    closed_ = true;
  }
  for (const auto& waiter : TakeMatching(nullptr))
    waiter->Signal(false);
}

}  // namespace vorn
