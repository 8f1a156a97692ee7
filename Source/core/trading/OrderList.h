#pragma once
// An order's history, one per order ID in the order list (TOrderQ), and its re-keying.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/trading/OpenLots.h"
#include "core/trading/OrderItem.h"

namespace vorn {

// One order's history: its states, newest first. Entry 0 is the current state and the entries
// are kept in descending OrderHistorySeq; every entry's ID and DisplayID are the history's
// order ID.
//
// Each operation takes the history's lock for its own run; the order road brackets its work
// with the order list's lock first and the history's second. The entries of a history that is
// in the order list change only with the order list's lock held as well (the order road, the
// closing states, re-keying; a store load lists its histories once they are read): the order
// list reads the cached head under its own lock alone.
class TOrderList : public TIndexListOf<TOrderItem>,
                   public TStreamable,
                   public std::enable_shared_from_this<TOrderList> {
 public:
  // A new history, marked new; its key is the first 10 characters of the ID.
  explicit TOrderList(std::string_view id);

  const char* ClassName() const override { return "TOrderList"; }

  // The key of the history in the order list. It changes only through SetOrderID, which the
  // order list calls with the history taken out of it (ReKeyOrderList).
  const std::string& OrderID() const { return orderID_; }
  // Set when made and when read from the store; cleared by every insertion at the head.
  bool IsNew() const { return isNew_.load(std::memory_order_relaxed); }
  void SetIsNew(bool value) { isNew_.store(value, std::memory_order_relaxed); }
  // The trimmed LinkedOrder of the last added state that named a positive order number.
  std::string GetLinkedOrder() const;
  void SetLinkedOrder(std::string value);

  // While loading from a store, appends in stored order; otherwise makes the item the head.
  TAddResult Add(const TItem& item) override;
  // Entry 0, or null.
  std::shared_ptr<TOrderItem> GetCurrent() const;
  // Entry 0 without a reference of its own, or null: for a caller that holds the history's lock
  // (or, for a listed history, the order list's), and only for as long as it does.
  TOrderItem* PeekHead() const { return head_.get(); }
  // TargetLots of the newest working state (queued, sent, working, part or ORPI part) with
  // lots above 0; 0 when none.
  std::int32_t GetWorkingLots() const;
  // Inserts in front of the first entry whose OrderHistorySeq is not above the item's (at the
  // end when all are above).
  void InsertBySequence(const std::shared_ptr<TOrderItem>& item);
  // Behind the current state, which stays current; as the head of a new or empty history.
  // OFSeqNumber := count + 1.
  void InsertSecond(const std::shared_ptr<TOrderItem>& item);
  // The oldest entry in that state, or null.
  std::shared_ptr<TOrderItem> FindStatus(TOrderStatus status) const;
  // Drops the oldest entry in state `from`, relabels the later ones osPart and makes the
  // newest of them the head, osFilled when `to` is osFilled.
  void ResolveORPI(TOrderStatus from, TOrderStatus to);
  // The history's key and every entry's ID and DisplayID := id.
  void SetOrderID(std::string_view id);

  // The highest host sequence ("Seq", the state's LastSequence) of the states the order-state
  // rules took into this history, 0 while none; a store load starts it at the highest of the
  // entries read. The order receiver drops a host state whose sequence is not above it. Read and
  // written with the order list's lock held.
  std::int32_t AppliedSequence() const { return appliedSequence_; }
  // Raises it to `sequence` when that is higher.
  void NoteAppliedSequence(std::int32_t sequence);
  // Back to 0: the host's sequences started again (another database).
  void ForgetAppliedSequence() { appliedSequence_ = 0; }

 protected:
  void KeyOf(const TOrderItem& item, std::string& key) const override { key = item.ID; }
  void ItemsChanged() override;

 private:
  friend class TOrderQ;
  int SequencePosition(std::int32_t sequence) const;

  // Entry 0, kept in step by ItemsChanged; beside the list's lock and the key, which a look-up
  // reads with it.
  std::shared_ptr<TOrderItem> head_;
  std::string orderID_;
  std::atomic<bool> isNew_{true};
  std::string linkedOrder_;  // under the history's lock
  std::int32_t appliedSequence_ = 0;  // under the order list's lock
  // What the head last added to the order list's open-lot index, and whether the history counts
  // in it (it is listed); kept by the order list under its lock.
  TOpenLotShare openLotShare_;
  bool openLotListed_ = false;
};

// Gives a history a new order ID. A history in the order list (which keys its histories by
// OrderID) is taken out, re-keyed and put back, all under the order list's lock, so the list
// stays in key order. When another history holds the new key already nothing changes and the
// result is false.
bool ReKeyOrderList(TIndexList& orders, const std::shared_ptr<TOrderList>& history,
                    std::string_view id);

}  // namespace vorn
