#pragma once
// The order list: one history (TOrderList) per order ID, and the order-state rules that every new
// state of an order passes on its way in (TOrderQ::Add). Beside it the watch lists that the
// heartbeat counts down (pending cancels, Sent, Queued) and the amending list of parked amend and
// cancel requests (OrderWatch.h), and the contracts on which held synthetic orders wait for a
// trigger.
//
// Locking, outermost first: the order list, a history, then one thread list at a time (a watch
// list, the amending list, the synthetic-contract count). Nothing that sends (an order released
// at its trigger, a parked amend or cancel re-issued, a price unsubscription) runs under the
// order list's lock: such work is queued while the lock is held and run once the outermost
// TOrderQGuard of the thread ends (or, for callers that take no guard, when Add, MatchOrder or
// CheckSyntheticOrders return).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/refdata/Subscriptions.h"
#include "core/store/IndexList.h"
#include "core/trading/OrderIndex.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderWatch.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {

class TOrderTypeItem;
class TOrderQ;

// ---------------------------------------------------------------------------------------------
// What the order list needs of the API object.

class IOrderQHost {
 public:
  virtual ~IOrderQHost() = default;

  // Initial download in progress: an account change does not re-label fills.
  virtual bool DownloadInProgress() { return false; }
  // The order sequence counter, then + 1.
  virtual std::int32_t NextOrderSequence() { return 0; }
  virtual std::int32_t SentFailureDelay() { return 0; }
  virtual std::int32_t QueuedFailureDelay() { return 0; }
  // TExchangeRateQ.GetRate (0 when unknown).
  virtual double GetExchangeRate(std::string_view /*currency*/) { return 0; }
  // TOrderTypeQ.FindOrderTypeByID.
  virtual std::shared_ptr<TOrderTypeItem> FindOrderTypeByID(std::string_view /*exchange*/,
                                                            std::int32_t /*typeID*/) {
    return nullptr;
  }
  // An order changed trader account (not during the download): the fills of the order move to
  // the new account and both accounts' positions on the contract are rebuilt. Called with the
  // order list's lock held (it comes before the fill list's).
  virtual void OrderAccountChanged(std::string_view /*orderID*/, const TOrderItem& /*previous*/,
                                   const TOrderItem& /*item*/) {}
  // Drops one price subscriber of the contract (TSubscriptions.UnsubscribePrice). Called with no
  // lock of the order list held.
  virtual void UnsubscribePrice(const TContractKey& /*contract*/) {}
  // The local ("N") and synthetic ("S") counters are raised to at least the number read back.
  virtual void RaiseLocalOrderCounter(std::int32_t /*value*/) {}
  virtual void RaiseSyntheticOrderCounter(std::int32_t /*value*/) {}
  // The logged-on user.
  virtual std::string LogonUserName() { return {}; }
};

// The order road towards the host: ids and requests. Send is called with no lock of the order
// list held; the re-issue of a parked amend or cancel is called inside Add, under the order
// list's lock, and sends once the outermost guard ends.
class IOrderSender {
 public:
  virtual ~IOrderSender() = default;

  // TClassAPI.GetNewOrderID: a host id, a local "N" id (then queued for a host id), or empty.
  // Called under the order list's lock (which comes before the order-id lock), held until the
  // order is re-keyed to the id or given up.
  virtual std::string GetNewOrderID() = 0;
  // Builds and sends the add-order request (3301) for the order, whose ID is a host id.
  virtual void SendOrder(const TOrderItem& order) = 0;
  // The re-issue of a parked request (vnAmendOrder / DoCancelOrder).
  virtual void AmendOrder(std::string_view id, const AmendOrderStruct& record,
                          std::string_view userName) = 0;
  virtual void CancelOrder(std::string_view id, std::string_view userName) = 0;
};

// ---------------------------------------------------------------------------------------------
// The order list

// Holds the order list's lock for the scope; work that sends, queued meanwhile by the thread,
// runs when the thread's outermost guard of that list ends.
class TOrderQGuard {
 public:
  explicit TOrderQGuard(TOrderQ& orders);
  TOrderQGuard(const TOrderQGuard&) = delete;
  TOrderQGuard& operator=(const TOrderQGuard&) = delete;
  ~TOrderQGuard();

 private:
  TOrderQ& orders_;
};

// A history found under the order list's lock, with the count of the list's removals at that
// time: while the count is the same the history is still listed under its key, and the order
// road uses it again without a look-up.
struct TOrderListRef {
  std::shared_ptr<TOrderList> History;
  std::uint64_t Removals = 0;
};

// "Order List": sorted by order ID, one history per ID, with an index by ID beside it.
class TOrderQ : public TIndexListOf<TOrderList> {
 public:
  TOrderQ();
  ~TOrderQ() override;

  void SetHost(std::shared_ptr<IOrderQHost> host);
  void SetSender(std::shared_ptr<IOrderSender> sender);

  // The watch lists and the amending list (counted down by the heartbeat).
  TOrderWatchList CancelWatch{&TOrderFields::CancelTimeOut};
  TOrderWatchList SentWatch{&TOrderFields::SentTimeOut};
  TOrderWatchList QueuedWatch{&TOrderFields::QueuedTimeOut};
  TAmendingOrdersList AmendingOrders;

  // The order type id a released synthetic MLM order is sent as; not positive: MLM orders stay
  // held.
  std::atomic<std::int32_t> MLMOrderTypeID{-1};

  // The order-state rules. True: the item is now in its history. False: ignored; the caller
  // keeps it. `known`, when still valid for the item's ID, spares the look-up of its history;
  // `used`, when given, is set to the history the item went to (or was ignored by). A state taken
  // raises its history's applied sequence to its LastSequence.
  bool Add(const std::shared_ptr<TOrderItem>& item, const TOrderListRef& known = {},
           TOrderListRef* used = nullptr);
  // Behind the head of the item's history (the head of a new one); no rules, no watch lists.
  void AddToHistory(const std::shared_ptr<TOrderItem>& item);

  // Look-ups by the first 10 characters of the ID, through the index. FindOrder takes the list's
  // lock alone and reads the history's cached head.
  std::shared_ptr<TOrderItem> FindOrder(std::string_view id) const;
  // FindOrderList with the list's removal count; under the list's lock.
  TOrderListRef FindOrderListRef(std::string_view id) const;
  // FindOrder through `known` when it is still valid for the ID, else through the index.
  std::shared_ptr<TOrderItem> FindOrder(std::string_view id, const TOrderListRef& known) const;
  std::shared_ptr<TOrderList> FindOrderList(std::string_view id, bool create = false);
  // A new history, keyed; null when the key is held already.
  std::shared_ptr<TOrderList> NewOrderList(std::string_view id);
  int IndexOfOrder(std::string_view id) const;
  void IncNoOfFills(std::string_view id);
  // Sum of MarginRequired over the live heads of the account.
  double GetAccountMargin(std::string_view accountName) const;

  // The open lots of the heads of the account's orders (that account's, or another's of the same
  // name), by contract name key: in the margin states into `margin`, queued into `queued` when
  // given. Read from the open-lot index (OpenLots.h), not from the heads. Takes the list's lock.
  void GatherOpenLots(const TTraderAccountItem& account, TOpenLotsByKey& margin,
                      TOpenLotsByKey* queued = nullptr) const;
  // The history's head may have changed: its share of the open-lot index is brought up to date.
  // Every change of a listed head that bypasses Add calls it. Takes the list's lock, then the
  // history's.
  void NoteHead(TOrderList& history);
  // Whether every listed history's recorded share is its head's and the index holds their sum
  // and nothing else (a pass over the whole list; for the tests). Takes the list's lock.
  bool OpenLotsConsistent() const;

  // Re-keys a queued local history whose head matches the item's terms to the item's (host) ID.
  // Returns the local ID matched, or empty.
  std::string MatchOrder(const TOrderItem& item);

  // Held synthetic orders: their contracts (one count per held order) and their release.
  static std::string SyntheticContractKey(const TContractKey& contract);
  // Counts the held order's contract; false (nothing counted) unless the order's head is held.
  bool AddSyntheticContract(const TOrderItem& held);
  bool IsSyntheticContract(std::string_view key) const;
  std::int32_t SyntheticContractCount(std::string_view key) const;
  // Releases the held orders of the contract (all of them, or only the given ID) that its last
  // trade triggers.
  void CheckSyntheticOrders(const TContractItem& contract, std::string_view id = {});
  // Releases one held order now: back to queued as a market, limit or MLM order, sent with a
  // host id (a local id waits for one). False when it cannot be released yet.
  bool SendSyntheticOrder(const std::shared_ptr<TOrderList>& history);

  // Gives a history a new order ID (taken out and put back under the list's lock) and moves the
  // watch-list, amending-list and held-order entries with it. False when the ID is listed.
  bool ReKeyOrder(const std::shared_ptr<TOrderList>& history, std::string_view id);

  // Re-issues the parked request of the order, if any, for its current head.
  void CheckAmendingOrder(std::string_view id);
  // Drops the order from the watch lists and the amending list, and its held-order count.
  void ForgetOrder(std::string_view id);
  // Every history's applied sequence back to 0 (TOrderList::ForgetAppliedSequence): the host's
  // sequences no longer compare with those applied. Takes the list's lock.
  void ForgetAppliedSequences();

  // Store: per history its ID, IsNew and its entries; local and held histories are left out.
  TItem ReadItem(TStream& stream) override;
  void WriteItem(TStream& stream, const TStreamable& item) override;
  void SaveToStream(TStream& stream) override;

  // Kept in step with the index; a change of the entries through any other road (Insert,
  // Delete, a sort) has the index rebuilt at the next look-up.
  TAddResult Add(const TItem& item) override;
  int RemoveItem(const TStreamable* item) override;
  int RemoveKey(std::string_view key) override;
  int DeleteKey(std::string_view key) override;
  void FreeAt(int index) override;
  // Also empties the watch lists, the amending list and the held-order counts: none of the
  // orders they name is left.
  void FreeAll() override;
  void Clear() override;

  // Whether the calling thread holds this list's guard.
  bool GuardHeldByThisThread() const;
  // Queues work that sends; it runs on this thread once its outermost guard ends (at once when
  // the thread holds no guard).
  void Defer(std::function<void()> work);
  // Runs the work this thread queued; called by its outermost guard.
  void RunDeferred();

 protected:
  void KeyOf(const TOrderList& history, std::string& key) const override {
    key = history.OrderID();
  }
  void ItemsChanged() override;

 private:
  friend class TOrderQGuard;
  struct TRuleContext;

  // The steps of Add, in the order it takes them. Those from ReadPriorStates to InsertNewState
  // run with the item's history locked.

  // The item's margin and update sequence.
  void StampIncoming(TOrderItem& item, IOrderQHost& host);
  // The item's history: a new one for a queued item without an ID, else `known` when still
  // valid, else found or made.
  std::shared_ptr<TOrderList> HistoryFor(const TOrderItem& item, const TOrderListRef& known);
  // Whether `known` is still the listed history of the ID; under the list's lock.
  bool StillListed(const TOrderListRef& known, std::string_view id) const;
  // The head and the state behind it, as the rules compare against them.
  static void ReadPriorStates(TRuleContext& rc);
  // Entry date and time, XRef and the fill count carry over from the head; a first state takes
  // its entry date and time from the host's receipt.
  static void InheritEntryFields(TRuleContext& rc);
  // Tells the host when the order changed trader account (not during the download).
  static void NoteAccountChange(const TRuleContext& rc, IOrderQHost& host);
  // The order log's dump of the head and the state behind it.
  static void LogPriorStates(const TRuleContext& rc);
  // A pending cancel stops being watched once the new state is no longer live.
  void EndCancelWatchUnlessLive(const TOrderItem& item, std::string_view id);
  // The rule blocks. The rule numbers in their comments are the numbers the order-log lines
  // print ("... 21 hide new as an orpi-fill"), so the two can be read side by side.
  bool ApplyStateRules(TRuleContext& rc);
  bool CancelRules(TRuleContext& rc);
  void WorkingRules(TRuleContext& rc);
  void SentRules(TRuleContext& rc);
  bool ORPIRules(TRuleContext& rc);
  // Rule 30: the item goes into its history by sequence; returns the history's head.
  static std::shared_ptr<TOrderItem> InsertNewState(TRuleContext& rc);
  // A state that follows an amend-pending head takes over the head's margin entry on the
  // account.
  static void RebookAmendedMargin(const TRuleContext& rc);
  // Whether the order's parked request is to be re-issued now: the amend was confirmed, or the
  // head left the parking states while a request is parked.
  bool ParkedRequestDue(const TRuleContext& rc, const TOrderItem* head, std::string_view id) const;
  // The head was held and is held no longer: the order's count on its contract goes, and one
  // price subscriber with it.
  void ReleaseEndedHeldOrder(const TRuleContext& rc, const TOrderItem* head, std::string_view id);
  // Off the Sent and Queued watch lists; a queued or sent state is watched again with the
  // host's failure delay as its countdown.
  void UpdateWatchLists(TOrderItem& item, const std::shared_ptr<TOrderItem>& head,
                        std::string_view id, IOrderQHost& host);

  // key: at most 10 characters.
  TOrderList* LookUp(std::string_view key) const;
  void Reindex() const;
  void ReleaseHeldOrder(std::string_view id);
  double MarginOf(const TOrderItem& item) const;

  std::shared_ptr<IOrderQHost> Host() const;
  std::shared_ptr<IOrderSender> Sender() const;

  mutable std::mutex servicesLock_;
  std::shared_ptr<IOrderQHost> host_;
  std::shared_ptr<IOrderSender> sender_;

  // Under the list's lock. Stale after a store load or a change of the entries that bypassed the
  // overrides above (rebuilt at the next look-up); keepingIndex_ counts the overrides running.
  mutable TOrderIndex byID_;
  mutable bool indexStale_ = false;
  int keepingIndex_ = 0;
  // Under the list's lock: counts every change that may take a history out of the list or off
  // its key (removals, clears, loads, changes that bypass the overrides).
  std::uint64_t removals_ = 0;

  // Under the list's lock. Stale after a store load or a failed update (rebuilt at the next use).
  void DropOpenLotShare(TOrderList& history) const;
  void Unlist(TOrderList& history);
  void FreshenOpenLots() const;
  void DropOpenLots() const;
  mutable TOpenLotIndex openLots_;
  mutable bool openLotsStale_ = false;

  mutable std::mutex syntheticLock_;
  std::unordered_map<std::string, std::int32_t, TTextHash, std::equal_to<>> syntheticContracts_;
  // Its size, written under the lock: a price update asks without the lock while none is held.
  std::atomic<std::size_t> syntheticContractsHeld_{0};
  std::unordered_map<std::string, TContractKey> heldOrderContract_;  // by order ID

  // The thread holding the guard and its depth (changed only under the list's lock).
  std::atomic<std::thread::id> guardOwner_{};
  int guardDepth_ = 0;

  struct TDeferred {
    std::thread::id Thread;
    std::function<void()> Work;
  };
  std::mutex deferredLock_;
  std::vector<TDeferred> deferred_;
};

// Order-item services over an order list, for SetOrderServices. The reference look-ups and
// counters come from the functions given.
struct TOrderServiceLookups {
  std::function<std::shared_ptr<TTraderAccountItem>(std::string_view)> FindAccount;
  std::function<std::shared_ptr<TContractItem>(std::string_view, std::string_view,
                                               std::string_view)>
      FindContract;
  std::function<std::shared_ptr<TOrderTypeItem>(std::string_view, std::string_view)> FindOrderType;
  std::function<void(std::int32_t)> RaiseOrderSequence;
  std::function<std::string()> NewSyntheticOrderID;
  std::function<TUUIDObjectList*()> UUIDObjects;
};

class TOrderQServices : public IOrderServices {
 public:
  TOrderQServices(TOrderQ& orders, TOrderServiceLookups lookups)
      : orders_(orders), lookups_(std::move(lookups)) {}

  std::shared_ptr<TTraderAccountItem> FindAccount(std::string_view name) override;
  std::shared_ptr<TContractItem> FindContract(std::string_view exchange, std::string_view commodity,
                                              std::string_view contractDate) override;
  std::shared_ptr<TOrderTypeItem> FindOrderType(std::string_view exchange,
                                                std::string_view name) override;
  void RaiseOrderSequence(std::int32_t next) override;
  std::string NewSyntheticOrderID() override;
  TIndexList& Orders() override { return orders_; }
  std::shared_ptr<TOrderList> FindOrderList(std::string_view id) override;
  std::string MatchOrder(TOrderItem& item) override;
  void ForgetOrder(std::string_view id) override { orders_.ForgetOrder(id); }
  TUUIDObjectList* UUIDObjects() override;
  void NoteHead(TOrderList& history) override;

 private:
  TOrderQ& orders_;
  TOrderServiceLookups lookups_;
};

}  // namespace vorn
