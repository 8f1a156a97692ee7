#include "core/trading/OrderList.h"

#include <utility>

namespace vorn {

TOrderList::TOrderList(std::string_view id)
    : TIndexListOf<TOrderItem>("Order List " + OrderKey(id), &TOrderItem::Class()),
      orderID_(OrderKey(id)) {
  SetOwnsObjects(true);
}

std::string TOrderList::GetLinkedOrder() const {
  TIndexListLock guard(*this);
  return linkedOrder_;
}

void TOrderList::SetLinkedOrder(std::string value) {
  TIndexListLock guard(*this);
  linkedOrder_ = std::move(value);
}

TAddResult TOrderList::Add(const TItem& item) {
  TIndexListLock guard(*this);
  if (Loading()) return TIndexListOf<TOrderItem>::Add(item);
  SetIsNew(false);
  Insert(0, item);
  return {0, true};
}

std::shared_ptr<TOrderItem> TOrderList::GetCurrent() const {
  TIndexListLock guard(*this);
  return head_;
}

void TOrderList::ItemsChanged() {
  TStreamable* front = FrontItem();
  if (front == head_.get()) return;
  if (front)
    head_ = std::static_pointer_cast<TOrderItem>(FrontRef());
  else
    head_.reset();
}

std::int32_t TOrderList::GetWorkingLots() const {
  TIndexListLock guard(*this);
  for (int i = 0; i < Count(); ++i) {
    const auto entry = At(i);
    switch (entry->Status) {
      case osQueued:
      case osSent:
      case osWorking:
      case osPart:
      case osORPIPart:
        if (entry->TargetLots > 0) return entry->TargetLots;
        break;
      default:
        break;
    }
  }
  return 0;
}

int TOrderList::SequencePosition(std::int32_t sequence) const {
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    if (At(i)->OrderHistorySeq <= sequence) return i;
  }
  return count;
}

void TOrderList::InsertBySequence(const std::shared_ptr<TOrderItem>& item) {
  TIndexListLock guard(*this);
  SetIsNew(false);
  Insert(SequencePosition(item->OrderHistorySeq), item);
}

void TOrderList::InsertSecond(const std::shared_ptr<TOrderItem>& item) {
  TIndexListLock guard(*this);
  const int count = Count();
  item->OFSeqNumber = count + 1;
  // A new history takes the entry as its head; so does an empty one (a stored history without
  // entries), where there is nothing to go behind.
  if (IsNew() || count == 0) {
    SetIsNew(false);
    Insert(0, item);
  } else {
    Insert(1, item);
  }
}

std::shared_ptr<TOrderItem> TOrderList::FindStatus(TOrderStatus status) const {
  TIndexListLock guard(*this);
  for (int i = Count() - 1; i >= 0; --i) {
    auto entry = At(i);
    if (entry->Status == status) return entry;
  }
  return nullptr;
}

void TOrderList::ResolveORPI(TOrderStatus from, TOrderStatus to) {
  std::shared_ptr<TOrderItem> dropped;
  TIndexListLock guard(*this);
  bool oldestFound = false;
  std::shared_ptr<TOrderItem> newest;
  for (int i = Count() - 1; i >= 0; --i) {
    auto entry = At(i);
    if (entry->Status != from) continue;
    if (!oldestFound) {
      oldestFound = true;
      dropped = entry;
      Delete(i);
    } else {
      entry->Status = osPart;
      newest = entry;
    }
  }
  if (!newest) return;
  SetIsNew(false);
  const int index = IndexOf(newest.get());
  if (index > 0) {
    Delete(index);
    Insert(0, newest);
  }
  if (to == osFilled) newest->Status = osFilled;
}

void TOrderList::NoteAppliedSequence(std::int32_t sequence) {
  if (sequence > appliedSequence_) appliedSequence_ = sequence;
}

void TOrderList::SetOrderID(std::string_view id) {
  TIndexListLock guard(*this);
  orderID_ = OrderKey(id);
  for (int i = 0; i < Count(); ++i) {
    auto entry = At(i);
    entry->ID = id;
    entry->DisplayID = id;
  }
}

namespace {

// Whether the history is in the list: a sorted list keyed by OrderID is searched by key.
bool Listed(const TIndexList& orders, const TOrderList& history) {
  if (!orders.Sorted()) return orders.IndexOf(&history) >= 0;
  int index = 0;
  if (orders.Find(history.OrderID(), index) && orders.Items(index).get() == &history) return true;
  // Not where its key says (keyed otherwise, or the key changed behind the list's back).
  return orders.IndexOf(&history) >= 0;
}

}  // namespace

bool ReKeyOrderList(TIndexList& orders, const std::shared_ptr<TOrderList>& history,
                    std::string_view id) {
  TIndexListLock guard(orders);
  const std::string key = OrderKey(id);
  const bool listed = Listed(orders, *history);
  if (listed && key != history->OrderID() && orders.KeyExists(key)) return false;
  const int index = orders.RemoveItem(history.get());
  history->SetOrderID(id);
  if (index >= 0) orders.Add(history);
  return true;
}

}  // namespace vorn
