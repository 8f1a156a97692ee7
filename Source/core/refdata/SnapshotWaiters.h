#pragma once
// The callers of a price snapshot waiting for their contract's next price array. Each caller
// registers its own waiter before it sends the request, so a reply that comes first is not
// lost and two callers never share a signal. A waiter is shared between its caller and the
// list: the caller waits on it, and reads nothing of the API object after it wakes.
//
// Threads: Register, Wait and Withdraw on the caller's thread; Answer on the price link's
// thread; WakeAll on the thread that shuts the API object down. No call out is made under the
// list's lock, and a waiter's lock is taken only after the list's is released.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "core/refdata/Subscriptions.h"

namespace vorn {

class TSnapshotWaiter {
 public:
  explicit TSnapshotWaiter(TContractKey contract) : contract_(std::move(contract)) {}
  TSnapshotWaiter(const TSnapshotWaiter&) = delete;
  TSnapshotWaiter& operator=(const TSnapshotWaiter&) = delete;

  const TContractKey& Contract() const { return contract_; }
  // Ends the wait; answered says whether a price array came (false: the API object shut down).
  void Signal(bool answered);
  // Blocks until signalled or until the time-out has passed on the steady clock. True only
  // when a price array answered.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  const TContractKey contract_;
  std::mutex lock_;
  std::condition_variable signalled_;
  bool done_ = false;
  bool answered_ = false;
};

class TSnapshotWaiters {
 public:
  // A new waiter for the contract, listed until answered, woken or withdrawn. After WakeAll
  // the waiter comes back already woken, unanswered.
  std::shared_ptr<TSnapshotWaiter> Register(TContractKey contract);
  // Takes the waiter off the list (a caller that timed out); nothing when it is gone already.
  void Withdraw(const std::shared_ptr<TSnapshotWaiter>& waiter);
  // A price array for the contract arrived: signals and unlists its waiters. Costs one atomic
  // load when nobody waits.
  void Answer(const TContractKey& contract);
  // Signals every waiter unanswered and refuses new ones; for the shut-down.
  void WakeAll();

 private:
  std::vector<std::shared_ptr<TSnapshotWaiter>> TakeMatching(const TContractKey* contract);

  std::mutex lock_;
  std::vector<std::shared_ptr<TSnapshotWaiter>> waiters_;
  std::atomic<std::size_t> count_{0};
  bool closed_ = false;
};

}  // namespace vorn
