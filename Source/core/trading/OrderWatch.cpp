#include "core/trading/OrderWatch.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace vorn {

bool IsParkingState(TOrderStatus status) {
  return StatusIn(status, {osQueued, osSent, osCancelPending, osAmendPending});
}

// ---------------------------------------------------------------------------------------------
// TOrderWatchList

void TOrderWatchList::Add(std::shared_ptr<TOrderItem> order) {
  if (!order) return;
  std::string id = order->ID;
  std::lock_guard guard(lock_);
  entries_.push_back({std::move(id), std::move(order)});
}

bool TOrderWatchList::Remove(std::string_view id) {
  std::shared_ptr<TOrderItem> dropped;
  std::lock_guard guard(lock_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [id](const TEntry& entry) { return entry.ID == id; });
  if (it == entries_.end()) return false;
  dropped = std::move(it->Order);
  entries_.erase(it);
  return true;
}

void TOrderWatchList::Rename(std::string_view oldID, std::string_view newID) {
  std::lock_guard guard(lock_);
  for (auto& entry : entries_)
    if (entry.ID == oldID) entry.ID = newID;
}

bool TOrderWatchList::Contains(std::string_view id) const {
  std::lock_guard guard(lock_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [id](const TEntry& entry) { return entry.ID == id; });
}

std::size_t TOrderWatchList::Count() const {
  std::lock_guard guard(lock_);
  return entries_.size();
}

std::vector<std::shared_ptr<TOrderItem>> TOrderWatchList::Entries() const {
  std::vector<std::shared_ptr<TOrderItem>> orders;
  std::lock_guard guard(lock_);
  for (const auto& entry : entries_)
    orders.push_back(entry.Order);
  return orders;
}

std::vector<std::string> TOrderWatchList::Tick() {
  std::vector<std::string> expired;
  std::vector<std::shared_ptr<TOrderItem>> dropped;
  std::lock_guard guard(lock_);
  for (std::size_t i = entries_.size(); i-- > 0;) {
    TEntry& entry = entries_[i];
    if (((*entry.Order).*countdown_).Decrement() < 1) {
      expired.push_back(entry.ID);
      dropped.push_back(std::move(entry.Order));
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return expired;
}

void TOrderWatchList::Clear() {
  std::vector<TEntry> dropped;
  std::lock_guard guard(lock_);
  dropped.swap(entries_);
}

// ---------------------------------------------------------------------------------------------
// TAmendingOrdersList

void TAmendingOrdersList::AddRequest(TAmendRequest request) {
  request.OrderID = OrderKey(request.OrderID);
  std::lock_guard guard(lock_);
  std::erase_if(requests_, [&](const TAmendRequest& r) { return r.OrderID == request.OrderID; });
  requests_.push_back(std::move(request));
}

std::optional<TAmendRequest> TAmendingOrdersList::Take(std::string_view id) {
  const std::string key = OrderKey(id);
  std::lock_guard guard(lock_);
  auto it = std::find_if(requests_.begin(), requests_.end(),
                         [&](const TAmendRequest& r) { return r.OrderID == key; });
  if (it == requests_.end()) return std::nullopt;
  TAmendRequest request = std::move(*it);
  requests_.erase(it);
  return request;
}

bool TAmendingOrdersList::Contains(std::string_view id) const {
  const std::string key = OrderKey(id);
  std::lock_guard guard(lock_);
  return std::any_of(requests_.begin(), requests_.end(),
                     [&](const TAmendRequest& r) { return r.OrderID == key; });
}

bool TAmendingOrdersList::Remove(std::string_view id) {
  return Take(id).has_value();
}

void TAmendingOrdersList::Rename(std::string_view oldID, std::string_view newID) {
  const std::string from = OrderKey(oldID);
  std::lock_guard guard(lock_);
  for (auto& request : requests_)
    if (request.OrderID == from) request.OrderID = OrderKey(newID);
}

std::size_t TAmendingOrdersList::Count() const {
  std::lock_guard guard(lock_);
  return requests_.size();
}

std::vector<std::string> TAmendingOrdersList::Tick() {
  std::vector<std::string> expired;
  std::lock_guard guard(lock_);
  for (std::size_t i = requests_.size(); i-- > 0;) {
    if (--requests_[i].Countdown < 1) {
      expired.push_back(requests_[i].OrderID);
      requests_.erase(requests_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return expired;
}

void TAmendingOrdersList::Clear() {
  std::lock_guard guard(lock_);
  requests_.clear();
}

}  // namespace vorn
