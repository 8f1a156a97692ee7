#include "core/trading/OrderWatch.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
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
  auto it = byID_.find(id);
  if (it == byID_.end()) it = byID_.emplace(id, TPositions()).first;
  it->second.push_back(entries_.size());
  entries_.push_back({std::move(id), std::move(order)});
  ++live_;
}

std::shared_ptr<TOrderItem> TOrderWatchList::MakeGap(std::size_t at) {
  TEntry& entry = entries_[at];
  auto it = byID_.find(entry.ID);
  if (it != byID_.end()) {
    std::erase(it->second, at);
    if (it->second.empty()) byID_.erase(it);
  }
  --live_;
  return std::move(entry.Order);
}

void TOrderWatchList::CompactIfSparse() {
  if (live_ == 0) {
    entries_.clear();
    return;
  }
  if (entries_.size() < 16 || live_ * 2 > entries_.size()) return;
  // The index keeps its nodes: only the positions move down.
  std::vector<std::size_t> moved(entries_.size());
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].Order) continue;
    moved[i] = kept;
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.resize(kept);
  for (auto& [id, positions] : byID_)
    for (std::size_t& at : positions)
      at = moved[at];
}

bool TOrderWatchList::Remove(std::string_view id) {
  std::shared_ptr<TOrderItem> dropped;
  std::lock_guard guard(lock_);
  auto it = byID_.find(id);
  if (it == byID_.end()) return false;
  dropped = MakeGap(it->second.front());
  CompactIfSparse();
  return true;
}

void TOrderWatchList::Rename(std::string_view oldID, std::string_view newID) {
  std::lock_guard guard(lock_);
  auto from = byID_.find(oldID);
  if (from == byID_.end() || oldID == newID) return;
  TPositions moved = std::move(from->second);
  byID_.erase(from);
  for (const std::size_t at : moved)
    entries_[at].ID = newID;
  auto to = byID_.find(newID);
  if (to == byID_.end()) {
    byID_.emplace(std::string(newID), std::move(moved));
    return;
  }
  TPositions merged;
  merged.reserve(to->second.size() + moved.size());
  std::merge(to->second.begin(), to->second.end(), moved.begin(), moved.end(),
             std::back_inserter(merged));
  to->second = std::move(merged);
}

bool TOrderWatchList::Contains(std::string_view id) const {
  std::lock_guard guard(lock_);
  return byID_.find(id) != byID_.end();
}

std::size_t TOrderWatchList::Count() const {
  std::lock_guard guard(lock_);
  return live_;
}

std::vector<std::shared_ptr<TOrderItem>> TOrderWatchList::Entries() const {
  std::vector<std::shared_ptr<TOrderItem>> orders;
  std::lock_guard guard(lock_);
  orders.reserve(live_);
  for (const auto& entry : entries_)
    if (entry.Order) orders.push_back(entry.Order);
  return orders;
}

std::vector<std::string> TOrderWatchList::Tick() {
  std::vector<std::string> expired;
  std::vector<std::shared_ptr<TOrderItem>> dropped;
  std::lock_guard guard(lock_);
  for (std::size_t i = entries_.size(); i-- > 0;) {
    TEntry& entry = entries_[i];
    if (!entry.Order) continue;
    if (((*entry.Order).*countdown_).Decrement() < 1) {
      expired.push_back(entry.ID);
      dropped.push_back(MakeGap(i));
    }
  }
  CompactIfSparse();
  return expired;
}

void TOrderWatchList::Clear() {
  std::vector<TEntry> dropped;
  std::lock_guard guard(lock_);
  dropped.swap(entries_);
  byID_.clear();
  live_ = 0;
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
