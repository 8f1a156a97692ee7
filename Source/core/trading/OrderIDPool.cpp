#include "core/trading/OrderIDPool.h"

#include <algorithm>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/store/IndexList.h"
#include "core/trading/OrderList.h"

namespace vorn {

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

}  // namespace

bool IOrderIDPoolHost::ReKeyOrder(TIndexList& orders, const std::shared_ptr<TOrderList>& history,
                                  std::string_view id) {
  return ReKeyOrderList(orders, history, id);
}

void IOrderIDPoolHost::PostOrder(std::string_view orderID, std::string_view oldOrderID,
                                 TOrderStatus status, std::int32_t ofSeqNumber) {
  AddOrderCallback(orderID, oldOrderID, status, ofSeqNumber);
}

// ---------------------------------------------------------------------------------------------

std::string TOrderIDPool::GetNewOrderID() {
  return TakeOrderID(true);
}

std::string TOrderIDPool::GetNewOrderIDUnderListLock() {
  return TakeOrderID(false);
}

std::string TOrderIDPool::TakeOrderID(bool entering) {
  std::string id;
  bool request = false;
  {
    std::lock_guard guard(lock_);
    if (!preAllocated_.empty()) {
      id = std::move(preAllocated_.front());
      preAllocated_.pop_front();
    } else if (status_ != kStatusNoLocalIDs) {
      id = std::to_string(++localCounter_).insert(0, 1, 'N');
      waiting_.push_back(id);
      if (entering) entering_.push_back(id);
    }
    request = NeedOrderIDsLocked();
  }
  if (request) host_.SendOrderIDsRequest();
  return id;
}

std::string TOrderIDPool::GetNewSyntheticOrderID() {
  std::lock_guard guard(lock_);
  return std::to_string(++syntheticCounter_).insert(0, 1, 'S');
}

void TOrderIDPool::RaiseLocalOrderCounter(std::int32_t value) {
  std::lock_guard guard(lock_);
  localCounter_ = std::max(localCounter_, value);
}

void TOrderIDPool::RaiseSyntheticOrderCounter(std::int32_t value) {
  std::lock_guard guard(lock_);
  syntheticCounter_ = std::max(syntheticCounter_, value);
}

void TOrderIDPool::AddPreAllocatedOrderID(std::string_view id) {
  std::lock_guard guard(lock_);
  preAllocated_.emplace_back(id);
}

void TOrderIDPool::SetOrderIDStatus(std::int32_t status) {
  std::lock_guard guard(lock_);
  status_ = status;
}

std::int32_t TOrderIDPool::OrderIDStatus() const {
  std::lock_guard guard(lock_);
  return status_;
}

void TOrderIDPool::ClearNewOrderIDs() {
  // Under the lock: order entry takes ids from this list on other threads.
  std::lock_guard guard(lock_);
  preAllocated_.clear();
}

bool TOrderIDPool::IsEnteringLocked(std::string_view id) const {
  return std::find(entering_.begin(), entering_.end(), id) != entering_.end();
}

bool TOrderIDPool::NeedOrderIDsLocked() {
  if (preAllocated_.size() >= kLowWater || status_ == kStatusRequested) return false;
  status_ = kStatusRequested;
  return true;
}

void TOrderIDPool::CheckPreAllocatedOrderIDs() {
  bool request = false;
  {
    std::lock_guard guard(lock_);
    request = NeedOrderIDsLocked();
  }
  if (request) {
    AddTraceEntry(tlNote, "TClassAPI.CheckPreAllocatedOrderIDs", "Requesting order ids");
    host_.SendOrderIDsRequest();
  }
}

void TOrderIDPool::CheckQueuedMHUBOrders() {
  struct TReleased {
    std::shared_ptr<TOrderItem> Order;
    std::string NewID;
    std::string LocalID;
    TOrderStatus Status;
    std::int32_t OFSeqNumber;
  };
  std::vector<TReleased> released;
  std::vector<std::string> rejected;
  const std::shared_ptr<IOrderServices> services = GetOrderServices();
  if (services) {
    // The order list's lock comes before the order-id lock.
    TIndexListLock listGuard(services->Orders());
    std::lock_guard guard(lock_);
    while (!waiting_.empty() && !preAllocated_.empty()) {
      const std::string local = waiting_.front();
      const std::shared_ptr<TOrderList> history = services->FindOrderList(local);
      if (!history) {
        // Still being entered: it and the orders entered after it wait for EntryFinished.
        if (IsEnteringLocked(local)) break;
        TraceOrderLog([&] { return "Queued order " + local + " NOT found in orderq"; });
        waiting_.pop_front();
        continue;
      }
      TraceOrderLog([&] { return "Queued order " + local + " WAS found in orderq"; });
      const std::string newID = preAllocated_.front();
      preAllocated_.pop_front();
      // A host id that another history holds already is not used; the order takes the next.
      if (!host_.ReKeyOrder(services->Orders(), history, newID)) {
        TraceOrderLog(
            [&] { return "OrderID :" + newID + ": already in orderq, not assigned to :" + local; });
        continue;
      }
      waiting_.pop_front();
      TraceOrderLog([&] { return "OrderID :" + newID + ": assigned to :" + local; });
      // The request is made from a copy taken under the locks and sent after they are left.
      if (const auto head = history->GetCurrent())
        released.push_back({head->Copy(), newID, local, head->Status, head->OFSeqNumber});
    }
    if (status_ == kStatusNoLocalIDs) {
      std::deque<std::string> entering;
      for (const std::string& local : waiting_) {
        const std::shared_ptr<TOrderList> history = services->FindOrderList(local);
        const auto head = history ? history->GetCurrent() : nullptr;
        if (!head) {
          // Rejected once its entry has listed it.
          if (IsEnteringLocked(local)) entering.push_back(local);
          continue;
        }
        head->Status = osRejected;
        services->NoteHead(*history);
        rejected.push_back(local);
      }
      waiting_.swap(entering);
    }
  }
  // Each order's event is queued before its request leaves: the host's reply cannot reach the
  // application before the news of the order's new id.
  for (const TReleased& order : released) {
    host_.PostOrder(order.NewID, order.LocalID, order.Status, order.OFSeqNumber);
    host_.SendOrder(*order.Order);
  }
  for (const std::string& local : rejected) {
    services->ForgetOrder(local);
    host_.PostOrder(local, local, osRejected, 0);
  }
  CheckPreAllocatedOrderIDs();
}

void TOrderIDPool::EntryFinished(std::string_view id) {
  bool release = false;
  {
    std::lock_guard guard(lock_);
    const auto found = std::find(entering_.begin(), entering_.end(), id);
    if (found == entering_.end()) return;
    entering_.erase(found);
    release = !waiting_.empty() && (!preAllocated_.empty() || status_ == kStatusNoLocalIDs);
  }
  if (release) CheckQueuedMHUBOrders();
}

bool TOrderIDPool::IsHostOrderID(std::string_view id) {
  return AllDigits(id) && !WithoutLeadingZeros(id).empty();
}

std::vector<std::string> TOrderIDPool::PreAllocatedIDs() const {
  std::lock_guard guard(lock_);
  return {preAllocated_.begin(), preAllocated_.end()};
}

std::vector<std::string> TOrderIDPool::WaitingIDs() const {
  std::lock_guard guard(lock_);
  return {waiting_.begin(), waiting_.end()};
}

bool TOrderIDPool::DropWaitingID(std::string_view id) {
  std::lock_guard guard(lock_);
  const auto it = std::find(waiting_.begin(), waiting_.end(), id);
  if (it == waiting_.end()) return false;
  waiting_.erase(it);
  return true;
}

// ---------------------------------------------------------------------------------------------

std::string TRefDataSequence::Get() const {
  std::lock_guard guard(lock_);
  return value_;
}

void TRefDataSequence::Set(std::string_view value) {
  std::lock_guard guard(lock_);
  if (Replaces(value_, value)) value_ = value;
}

bool TRefDataSequence::Replaces(std::string_view stored, std::string_view incoming) {
  if (incoming == "0") return true;
  if (AllDigits(stored) && AllDigits(incoming)) {
    const std::string_view a = WithoutLeadingZeros(stored);
    const std::string_view b = WithoutLeadingZeros(incoming);
    if (a.size() != b.size()) return b.size() > a.size();
    return b > a;
  }
  return incoming > stored;
}

}  // namespace vorn
