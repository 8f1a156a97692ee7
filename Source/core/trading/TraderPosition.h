#pragma once
// Positions: each contract's TTraderPosition holds one record per trader account with the
// account's open fills netted first in, first out, its lot counts and its profit and loss; the
// book (TPositionBook) applies fills to them, rebuilds them, does the end-of-session work of an
// exchange purge and computes the position figures over an account's contracts.
//
// Locking. A position has its own lock, the innermost of the ones positions take (after the
// order list, the fill list, the contract list and the reference lists); nothing that takes
// another lock runs under it. Readers get copies of records, never references into them. The
// book looks orders and accounts up before taking a position's lock; work that must see the
// fill list and a position together (applying a fill, rebuilding) takes the order list's lock,
// then the fill list's, then the position's.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/trading/Fill.h"
#include "core/trading/OrderItem.h"
#include "core/trading/TraderAccount.h"

namespace vorn {

class TCommodityQ;
class TContractItem;
class TContractQ;
class TExchange;
class TExchangeRateQ;
class TTraderAccountItem;
class TTraderAccountQ;

// Account names in position records are cut to this length and compared cut.
inline constexpr std::size_t kPositionAccountLength = 20;

// One open fill of a netted list.
struct TPosFill {
  std::int32_t Lots = 0;
  double Price = 0;
  std::int32_t TicksPerPoint = 0;
  TPurchase Side = Buy;
  bool Flag = false;
  // A working count for the risk figures; every calculation sets it afresh on its own copy.
  std::int32_t WorkingLots = 0;
};

// An account's start-of-day or end-of-session figures on a contract.
struct TPositionFigures {
  std::string Account;
  std::int32_t LongLots = 0;
  // Of the start-of-day figures: the long lots still free to cover sells, stored as the long
  // lots and taken by TTraderPosition::TakeCoverLots.
  std::int32_t LongLots2 = 0;
  std::int32_t ShortLots = 0;
  double Price = 0;
  double OptionPremium = 0;
};

// Fills changes only through NetFill and Clear, which keep the lot count beside it.
struct TNettedFillList {
  std::vector<TPosFill> Fills;  // oldest first
  std::int32_t TicksPerPoint = 0;
  TPositionFigures StartOfDay;
  TPositionFigures EndOfSession;

  // The open fills' lots added one by one, saturating: kept as their exact sum while every open
  // fill has lots above 0 (then the stepwise saturated sum is the saturated total), walked
  // otherwise.
  std::int32_t TotalLots() const;
  // Each price turned from tick notation into a decimal for its ticks per point, weighted by
  // its lots; 0.0 without lots.
  double AveragePrice() const;
  void Clear();

 private:
  friend void NetFill(TNettedFillList& list, const TPosFill& fill, TPurchase& side);
  void Append(const TPosFill& fill);
  void EraseFront();
  void TakeFromFront(std::int32_t lots);

  std::int64_t lotSum_ = 0;
  // Open fills with lots of 0 or below.
  std::int32_t nonPositive_ = 0;
};

// The P/L of a record on a contract as GetContractPos works it out, with what it was worked out
// from: the record's version, the last-trade price (its bits; 0 when unset), the commodity's
// OnePoint, the margin mode and whether the contract is an option.
struct TContractPLTerm {
  std::uint64_t Version = 0;
  std::uint64_t LastTrade = 0;
  std::uint64_t OnePoint = 0;
  bool MarginMode = false;
  bool Option = false;
  double PL = 0;

  bool SameInputs(const TContractPLTerm& other) const {
    return Version == other.Version && LastTrade == other.LastTrade &&
           OnePoint == other.OnePoint && MarginMode == other.MarginMode && Option == other.Option;
  }
};

struct TPositionRecord {
  std::string Account;
  // Moves on at every change of the record, so a figure computed from one version can be told
  // from a later one.
  std::uint64_t Version = 0;
  TPurchase Side = Buy;
  TNettedFillList Netted;
  std::int32_t LongPosn = 0;
  std::int32_t ShortPosn = 0;
  double LastPrice = 0;
  double SecondPrice = 0;
  double CurrentPL = 0;
  double OptionPL = 0;
  // Kept by GetContractPos; void once the record changes.
  std::optional<TContractPLTerm> PLTerm;
};

// A record's figures without its open fills.
struct TPositionSummary {
  std::uint64_t Version = 0;
  TPurchase Side = Buy;
  std::int32_t LongPosn = 0;
  std::int32_t ShortPosn = 0;
  double LastPrice = 0;
  double SecondPrice = 0;
  double CurrentPL = 0;
  double OptionPL = 0;
  std::int32_t TicksPerPoint = 0;
  std::int32_t TotalLots = 0;
  // The start-of-day figures: whether they name an account, and their long and short lots.
  bool StartOfDaySet = false;
  std::int32_t StartOfDayLong = 0;
  std::int32_t StartOfDayShort = 0;
  std::optional<TContractPLTerm> PLTerm;
};

// What a fill brings to a position, gathered before the position's lock is taken.
struct TPositionFill {
  std::string Account;
  TPurchase Side = Buy;
  std::int32_t Lots = 0;
  double Price = 0;
  // Of the contract of the fill's order, else of the fill's own contract.
  std::int32_t TicksPerPoint = 0;
  // Margin mode, an option contract, and not a start-of-day fill.
  bool OptionRules = false;
};

// The account name as a record holds it: trimmed, at most 20 characters.
std::string PositionAccountName(std::string_view name);

// Nets a fill into a netted list whose open fills are on `side`.
void NetFill(TNettedFillList& list, const TPosFill& fill, TPurchase& side);

class TTraderPosition {
 public:
  TTraderPosition() = default;
  TTraderPosition(const TTraderPosition&) = delete;
  TTraderPosition& operator=(const TTraderPosition&) = delete;

  // Nets the fill into the account's record (made when there is none) and updates its profit
  // and loss and lot counts. Lots <= 0 change nothing. Returns true when the position held no
  // record before.
  bool AddFill(const TPositionFill& fill);
  // Clears the account's record: open fills, side Buy, lot counts, prices and P/L; the
  // start-of-day and end-of-session figures stay.
  void ClearAccount(std::string_view account);
  // Every record of the account takes the end-of-session totals. False when it has none.
  bool ApplyEndOfSession(std::string_view account, std::int32_t buyLots, double price,
                         std::int32_t sellLots);
  // Stores the account's start-of-day figures, making its record when there is none.
  void SetStartOfDay(std::string_view account, const TPositionFigures& figures);
  // Takes up to `wanted` of the account's start-of-day long lots still free to cover sells
  // (LongLots2, never below 0) and returns how many it took: 0 without a record. Not a change
  // of the record's figures: its kept P/L term stays.
  std::int32_t TakeCoverLots(std::string_view account, std::int32_t wanted);

  double GetAveragePrice(std::string_view account) const;
  std::int32_t GetNettedLots(std::string_view account) const;
  // Its side byte; 0 without a record.
  std::uint8_t GetPositionSide(std::string_view account) const;
  // A copy of the account's record.
  std::optional<TPositionRecord> GetAccountPosition(std::string_view account) const;
  // The account's figures without a copy of its open fills; with `fills`, those copied into it.
  std::optional<TPositionSummary> GetAccountFigures(std::string_view account,
                                                    std::vector<TPosFill>* fills = nullptr) const;
  // Keeps the term for the account's record, unless the record has changed since the term's
  // version (the term may then be out of date, and is dropped).
  void KeepPLTerm(std::string_view account, const TContractPLTerm& term);
  std::vector<TPositionRecord> GetRecords() const;
  bool Empty() const;
  // Drops every record.
  void Clear();

 private:
  // Under lock_.
  TPositionRecord* FindLocked(const std::string& account);
  const TPositionRecord* FindLocked(const std::string& account) const;

  // Under lock_: the record changed; its kept P/L term is void.
  void Touch(TPositionRecord& record);

  mutable std::mutex lock_;
  std::vector<TPositionRecord> records_;
  // Never reused, so a version names one state of one record of this position.
  std::uint64_t nextVersion_ = 0;
};

// The position of a contract, made on first use.
std::shared_ptr<TTraderPosition> PositionOf(TContractItem& contract);
// The position of a contract when it has one.
std::shared_ptr<TTraderPosition> ExistingPositionOf(const TContractItem& contract);

// The cover of an account's sells on a contract for TTraderAccountItem::AddMarginOrder: the
// start-of-day long lots that the account's position record there still has free (none while
// the contract has no position). It refers to both arguments, which must outlive it; it is
// small enough to be held without an allocation.
TCoverLots StartOfDayCover(const TContractItem& contract, const std::string& account);

// Profit and loss with lots bought and sold.
struct TPositionTotals {
  double PL = 0;
  std::int32_t Buys = 0;
  std::int32_t Sells = 0;
};

// Fills and positions over the API object's lists, which must outlive the book. Orders are
// found through the order services (core/trading/OrderItem.h).
class TPositionBook {
 public:
  struct TLists {
    TFillQ& Fills;
    TContractQ& Contracts;
    TTraderAccountQ& Accounts;
    TCommodityQ& Commodities;
    TExchangeRateQ& ExchangeRates;
    const std::atomic<bool>& MarginMode;
  };

  explicit TPositionBook(TLists lists) : lists_(lists) {}

  // Lists a new fill and applies it, both under the order list's and the fill list's locks, so
  // no rebuild sees the fill listed but not applied. The fill receivers add fills through here.
  TAddResult AddFill(const std::shared_ptr<TFill>& fill);
  // The position work of a listed fill, the same for a fill that arrives and for a rebuild: the
  // contract is recorded as traded by the fill's account; a fill other than a retained one, with
  // a contract and lots above 0, is netted into the contract's position (the contract is then
  // entered in the contract list's stored contracts) and the account's PosDirty is set.
  void ApplyFill(const TFill& fill);
  // Clears the account's record on the contract and applies every listed fill of the contract
  // and account again, in list order.
  void RebuildAccount(const std::shared_ptr<TContractItem>& contract, std::string_view account);
  // RebuildAccount for the fill's contract and account.
  void RebuildPosition(const TFill& fill) { RebuildAccount(fill.Contract, fill.GetAccountName()); }
  // After a store load: every (contract, account) of the listed fills rebuilt.
  void RebuildAllPositions();
  // Drops the records of every listed contract (the fills were cleared).
  void ClearPositions();

  // The end-of-session work of an exchange purge (TExchangeQ::SetOnEndOfSession): totals of the
  // exchange's fills per account and contract, handed to each contract's position.
  void EndOfSession(const TExchange& exchange);

  // The account's figures on one contract: P/L (in the contract's currency, times OnePoint) with
  // lots bought and sold added to buys and sells. `marginMode` selects the option rule.
  // The P/L is kept per record (TContractPLTerm) and worked out again only when the record, the
  // last-trade price, the OnePoint or the mode has changed; with the debugging trace on it is
  // always worked out (and traced).
  void GetContractPos(const TContractItem& contract, std::string_view account, double& pl,
                      std::int32_t& buys, std::int32_t& sells, bool marginMode) const;
  // GetContractPos working the P/L out afresh, with no kept term read or kept: the reference
  // the tests hold the kept terms to.
  void GetContractPosUncached(const TContractItem& contract, std::string_view account, double& pl,
                              std::int32_t& buys, std::int32_t& sells, bool marginMode) const;
  // The profit or loss of the position still open: for each open fill of the account's netted
  // list, its lots (positive on the Buy side, negative on the Sell side) times the difference,
  // in the list's tick notation, from its price to the last-trade price, times the commodity's
  // OnePoint; 0.0 without a last-trade price or without a record. `marginMode` acts on option
  // contracts as in GetContractPos: a long option's open P/L is 0.0 (its premium is paid). The
  // open lots are added to buys or sells by their side.
  void GetOpenPos(const TContractItem& contract, std::string_view account, double& pl,
                  std::int32_t& buys, std::int32_t& sells, bool marginMode) const;
  // Over the account's traded contracts, P/L in the base currency. With the flag, an option
  // contract with more buys than sells adds no P/L. The totals without the flag are kept in the
  // account while valid; those with it are computed on every call.
  TPositionTotals GetTotalPos(std::string_view account, bool flag) const;
  // Lots bought and sold over the account's option contracts; with the flag in margin mode, the
  // P/L of those with more sells than buys.
  TPositionTotals GetOptionsPos(std::string_view account, bool flag) const;
  // Sum over the account's contracts of MarginRequired x |bought - sold|, in the base currency
  // (a contract whose currency has no rate adds 0).
  double GetPositionMargin(std::string_view account) const;

 private:
  // Resolves the fill's figures under TOrderAndFillLock, with no position lock held.
  TPositionFill FactsOf(const TFill& fill) const;
  std::vector<std::shared_ptr<TContractItem>> TradedContracts(
      const TTraderAccountItem& account) const;
  double OnePoint(const TContractItem& contract) const;
  std::string Currency(const TContractItem& contract) const;
  void ContractPos(const TContractItem& contract, std::string_view account, double& pl,
                   std::int32_t& buys, std::int32_t& sells, bool marginMode, bool useKept) const;

  TLists lists_;
};

}  // namespace vorn
