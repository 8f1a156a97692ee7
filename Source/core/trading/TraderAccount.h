#pragma once
// Trader accounts: the account item with its cached contract ratings, its margin-order entries
// per contract, the contracts it trades and its kept position totals, and the list "Accounts".
//
// An account is read by application threads while the host link's socket thread, the price
// link and the order road change it, so everything on it that can change while it is listed is
// either an atomic or guarded by the account's own lock. That lock sits at the level of the
// reference lists in the lock order and is held only for the account's own bookkeeping.
//
// Contracts are named here by their identity texts (exchange, commodity, contract date) and
// resolved through the contract list where a caller needs the contract itself, so an account
// never keeps a contract alive or points at one that its list dropped.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/refdata/Subscriptions.h"
#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/trading/OrderItem.h"
#include "platform/Locks.h"
#include "vornintf.h"

namespace vorn {

// contract date + " \ " + commodity + " \ " + exchange: the key of an account's margin-order
// list and of its contract positions.
std::string ContractPositionKey(const TContractKey& contract);

// One cached margin rate of an account on a contract (the margin of one lot).
struct TContractRating {
  std::string Exchange;
  std::string Commodity;
  std::string Contract;
  double Rate = 0;
};

// The margin held by one working order or one fill in an account's margin-order list of a
// contract.
struct TMarginOrderItem {
  std::string OrderID;
  std::string TraderAccount;
  TContractKey Contract;
  TPurchase Side = Illegal;
  TOrderStatus State = osIllegal;
  // The order's target lots, its filled lots when balance-cancelled.
  std::int32_t Lots = 0;
  std::int32_t FilledLots = 0;
  // A working count of the margin calculations; each works on its own copy of the entries.
  std::int32_t OpenLots = 0;
  double Price = 0;
  // The part of a sell that the account's start-of-day long lots cover: its lots and their
  // average price.
  double CoveredAvgPrice = 0;
  std::int32_t CoveredLots = 0;

  bool operator==(const TMarginOrderItem&) const = default;
};

// The entries of a contract's margin-order list that the option margin reads, each sublist in
// list order. An entry left out adds nothing: a margin-state entry with no lots open offsets
// nothing against the non-negative pools, and an uncovered sell adds a zero covered value.
struct TMarginOptionEntries {
  // Margin-state entries with Lots != FilledLots.
  std::vector<TMarginOrderItem> Working;
  // Sell entries with FilledLots > 0 and CoveredLots != 0.
  std::vector<TMarginOrderItem> CoveredSells;
  // How many sell entries have FilledLots > 0, covered or not (each values its covered lots,
  // which fails without an exchange rate even for none).
  std::int32_t FilledSells = 0;
};

// What an order (or a fill) contributes to a margin-order entry.
struct TMarginOrderData {
  std::string OrderID;
  std::string TraderAccount;
  TContractKey Contract;
  TPurchase Side = Illegal;
  TOrderStatus State = osIllegal;
  std::int32_t TargetLots = 0;
  std::int32_t Filled = 0;
  double Price = 0;
};

// Takes up to the given number of the start-of-day long lots that the account's position record
// on the contract still has free to cover sells, and returns how many it took (0 when there is
// no record). Called under the account's lock: it may take the contract's position lock, which
// comes later in the lock order, and must not call back into the account.
using TCoverLots = std::function<std::int32_t(std::int32_t wanted)>;

// Position totals over the account's traded contracts.
struct TKeptTotals {
  double PL = 0;
  std::int32_t Buys = 0;
  std::int32_t Sells = 0;
};

class TTraderAccountItem : public TStreamable {
 public:
  TTraderAccountItem() = default;
  explicit TTraderAccountItem(std::string name) : TraderAccount(std::move(name)) {}

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }
  // The totals are not stored, so a loaded account starts with them stale.
  void ReadExtra(TStream& stream) override;

  // The account name and the key: set before the account is listed, never while it is.
  std::string TraderAccount;

  // Published.
  std::string GetBackOfficeID() const;
  void SetBackOfficeID(std::string value);
  std::string GetMarginRating() const;
  void SetMarginRating(std::string value);
  std::atomic<bool> Tradable{false};
  std::atomic<std::int32_t> MaxOustandingOrders{0};
  std::atomic<std::int32_t> LossLimit{0};
  std::atomic<bool> ReceivedSOD{false};
  std::atomic<bool> EOSFlatten{false};

  // PosDirty: set by every fill added and every new last trade; the kept totals are valid while
  // it is False.
  bool GetPosDirty() const;
  void SetPosDirty(bool value);
  // The kept totals when they are valid: PosDirty False and kept at the given last-trade epoch
  // (a new last trade on any contract makes them stale). Either way generation receives the
  // mark to hand to KeepTotals with totals computed afresh.
  bool GetKeptTotals(std::uint64_t tradeEpoch, TKeptTotals& totals,
                     std::uint64_t& generation) const;
  // Keeps the totals, computed at the epoch, and clears PosDirty, unless PosDirty was set since
  // the generation was taken (the totals may then miss that change, and stay stale).
  void KeepTotals(const TKeptTotals& totals, std::uint64_t tradeEpoch, std::uint64_t generation);

  // Contract ratings: at most one per exchange, commodity and contract.
  bool FindContractRating(std::string_view exchange, std::string_view commodity,
                          std::string_view contract, double& rate) const;
  // Adds the rating, replacing one with the same three texts.
  void AddContractRating(const TContractRating& rating);
  // Drops the rating of the three texts; false when there was none.
  bool DropContractRating(std::string_view exchange, std::string_view commodity,
                          std::string_view contract);
  std::vector<TContractRating> GetContractRatings() const;

  // Margin orders. An account holds at most one entry per order ID: a new state of a listed
  // order replaces its entry in place, whatever the state of the old one. A sell entry takes
  // over the covered figures of the entry it replaces on the same contract (never more covered
  // lots than it has filled) and adds what the start-of-day long lots cover of the newly filled
  // lots. The receivers and order entry pass StartOfDayCover (core/trading/TraderPosition.h)
  // and book under the order list's lock.
  void AddMarginOrder(const TMarginOrderData& order, const TCoverLots& coverLots = {});
  // The order's ID, account, contract names, side, state, lots, filled lots and price. An order
  // without a contract has no margin entry.
  void AddMarginOrder(const TOrderItem& order, const TCoverLots& coverLots = {});
  void AddMarginOrder(const std::shared_ptr<TOrderItem>& order, const TCoverLots& coverLots = {});
  // A fill's margin, as a filled entry keyed by the fill's ID.
  void AddMarginFill(std::string_view fillID, const TContractKey& contract, TPurchase side,
                     std::int32_t lots, double price, const TCoverLots& coverLots = {});
  // A new start-of-day record on the contract. `store` writes it, with its long lots all free
  // to cover sells; then each sell entry of the contract with lots filled, in list order, drops
  // its covered figures and, with `coverLots`, is covered afresh from those lots at its price.
  // All under the account's lock, so no sell is covered between the two.
  void RestartCover(const TContractKey& contract, const std::function<void()>& store,
                    const TCoverLots& coverLots);
  // Drops the entry of the order ID; false when there was none.
  bool RemoveMarginOrder(std::string_view orderID);
  bool RemoveMarginOrder(const TOrderItem& order) { return RemoveMarginOrder(order.ID); }
  // Copies of the entries of a contract, in list order (empty when none).
  std::vector<TMarginOrderItem> GetMarginOrders(const TContractKey& contract) const;
  // Copies of the option margin's entries of a contract: O(those entries), not O(the list),
  // which keeps every entry ever made on the contract.
  TMarginOptionEntries GetOptionEntries(const TContractKey& contract) const;
  // The contracts on which the account has had margin-order entries, in the order of the first.
  std::vector<TContractKey> GetContractPositions() const;

  // Traded contracts: each contract once, in the order first traded.
  void AddTradedContract(const TContractKey& contract);
  std::vector<TContractKey> GetTradedContracts() const;

 private:
  // An entry with its place in the list: entries are only ever appended, so places grow in
  // list order.
  struct TMarginOrderSlot {
    TMarginOrderItem Item;
    std::uint64_t Place = 0;
  };
  using TSlotIterator = std::list<TMarginOrderSlot>::iterator;
  struct TMarginOrderList {
    std::list<TMarginOrderSlot> Entries;
    std::unordered_map<std::string, TSlotIterator> ByOrderID;
    std::uint64_t NextPlace = 0;
    // The sublists of TMarginOptionEntries, by place.
    std::map<std::uint64_t, const TMarginOrderItem*> Working;
    std::map<std::uint64_t, const TMarginOrderItem*> CoveredSells;
    std::int32_t FilledSells = 0;
  };
  // Under lock_: enter the slot's entry in the sublists its figures put it in, or take it out.
  static void File(TMarginOrderList& list, const TMarginOrderSlot& slot);
  static void Unfile(TMarginOrderList& list, const TMarginOrderSlot& slot);

  mutable TCriticalSection lock_;
  std::string backOfficeID_;
  std::string marginRating_;
  // Stale until first computed: fills of the account may already be listed.
  bool posDirty_ = true;
  std::uint64_t dirtyGeneration_ = 0;
  std::uint64_t totalsEpoch_ = 0;
  TKeptTotals totals_;
  std::unordered_map<std::string, TContractRating> contractRatings_;
  // Margin-order lists by contract key, and the contract key of each listed order ID.
  std::unordered_map<std::string, TMarginOrderList> marginOrders_;
  std::unordered_map<std::string, std::string> marginOrderContract_;
  std::vector<TContractKey> contractPositions_;
  std::vector<TContractKey> tradedContracts_;
  std::unordered_set<std::string> tradedKeys_;
};

// "Accounts": sorted by account name.
class TTraderAccountQ : public TIndexListOf<TTraderAccountItem> {
 public:
  // The flag says when the initial download is in progress; without one, FindAccount never
  // creates.
  explicit TTraderAccountQ(const std::atomic<bool>* downloadInProgress = nullptr);

  // The account of the trimmed name. When none is listed and the initial download is in
  // progress, an account of that name is created (not tradable) and added; otherwise null.
  std::shared_ptr<TTraderAccountItem> FindAccount(std::string_view name);

 protected:
  void KeyOf(const TTraderAccountItem& item, std::string& key) const override {
    key = item.TraderAccount;
  }

 private:
  const std::atomic<bool>* downloadInProgress_;
};

// Writes the account's fields into the record, each text cut to its field (the query exports
// and the trader event share it).
void WriteTraderRecord(const TTraderAccountItem& account, TraderAcctStruct& record);

}  // namespace vorn
