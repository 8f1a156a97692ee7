#pragma once
// The margin engine of the order requests and the risk figures: the value of a number of lots of
// a contract, and the margin requirement of a trader account over its contract positions with a
// prospective trade (futures rule, option margin from the start-of-day position, open fills and
// working orders, the covered value).
//
// Every figure is computed into local working counts: nothing is written into the shared
// position records or margin-order entries, so concurrent calculations never disturb each other.
//
// Locking: a calculation holds the order list's, the fill list's and the contract list's locks,
// in that order, for its whole run, so the orders, fills and positions it reads do not change
// under it (fills are applied to positions under the order and fill lists' locks). Call it with
// no lock held, or with the order list's lock only. Position records and margin-order entries are
// read as copies, each under its owner's lock.
//
// Failures: each routine catches what is raised inside it (a currency without an exchange rate
// above all), writes its trace line, and contributes 0.0 for its own figures; the calculation
// goes on with the others. No division by zero reaches a figure.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/trading/OrderItem.h"

namespace vorn {

class TContractItem;
class TContractQ;
class TExchangeRateQ;
class TFillQ;
class TMarginCalculator;
class TOrderQ;
class TPositionBook;
class TTraderAccountItem;
class TTraderAccountQ;

class TMarginRequirement {
 public:
  struct TLists {
    TTraderAccountQ& Accounts;
    TContractQ& Contracts;
    TExchangeRateQ& ExchangeRates;
    TOrderQ& Orders;
    const TPositionBook& Positions;
    TMarginCalculator& Margins;
    const std::atomic<bool>& MarginMode;
    TFillQ& Fills;
  };

  // The components the mode byte selects.
  enum : std::uint8_t {
    kAllComponents = 0,
    kNoOpenLongPremium = 1,
    kPremiumsOnly = 2,
    kPremiumsOnlyToo = 3,
    kOrderRequest = 4
  };

  explicit TMarginRequirement(TLists lists) : lists_(lists) {}

  // The commodity's OnePoint x lots x price / the exchange rate of its currency; 0.0 for a sell.
  // EZeroDivide when the currency has no rate.
  double CalcContractValue(const TContractItem& contract, std::int32_t lots, TPurchase side,
                           double price) const;

  // The margin requirement of the account: over its contract positions (contract null), or the
  // contract alone, with a prospective trade of the signed lots at the price on the contract.
  // The order named by orderID (an amendment) has its own lots replaced by the trade's.
  double CalcMarginReq(const std::shared_ptr<TContractItem>& contract,
                       const TTraderAccountItem& account, std::string_view orderID,
                       std::uint8_t mode, std::int32_t lots, double price, bool covered);
  // CalcMarginReq with the open lots of the orders gathered by a pass over every listed head
  // rather than read from the order list's open-lot index, and the option margin walking every
  // margin-order entry of the contract rather than its live sublists: the reference the tests
  // hold the kept figures to. O(listed orders + entries ever made).
  double CalcMarginReqByScan(const std::shared_ptr<TContractItem>& contract,
                             const TTraderAccountItem& account, std::string_view orderID,
                             std::uint8_t mode, std::int32_t lots, double price, bool covered);

  // The margin of one contract for one account with a trade of the signed lots at the price
  // text (option margin in margin mode, else the futures rule; 0.0 under the futures rule for
  // the premium-only modes).
  double acalcmargin(const std::shared_ptr<TContractItem>& contract,
                     const TTraderAccountItem& account, std::int32_t lots, std::string_view price,
                     std::string_view orderID, std::uint8_t mode, bool covered);

  // The margin of a trade on a contract outside the account's contract positions: in margin
  // mode a bought option's value at the price text, else |lots| x the contract's rate.
  double TradeCalcs(const std::shared_ptr<TContractItem>& contract, std::string_view price,
                    std::int32_t lots, std::string_view accountName);

  // The margin-mode form of the margin a trade adds: acalcmargin over the account's contract
  // positions (mode 0, covered value not taken off), the named contract with the trade's lots and
  // the others with none; TradeCalcs for the named contract when it is not among them. Code 8,
  // with no margin, when a contract position is not listed, or when the named contract (found by
  // the caller, with no lock held; null when unknown) is needed and null.
  struct TTradeMargin {
    std::int32_t Code = 0;
    double Margin = 0;
  };
  TTradeMargin MarginForTrade(const std::shared_ptr<TContractItem>& named,
                              const TTraderAccountItem& account, std::int32_t lots,
                              std::string_view price, std::string_view orderID);

 private:
  struct TCalc;          // one calculation: its locks and what it gathered from the order list
  struct TOptionMargin;  // the lot counts and figures of one option margin

  double ContractMargin(TCalc& calc, const TContractItem& contract, std::int32_t lots,
                        std::string_view price, std::string_view orderID);
  double FutureCalcs(TCalc& calc, const TContractItem& contract, std::string_view orderID,
                     std::int32_t lots);
  double OptionMargin(TCalc& calc, const TContractItem& contract, std::int32_t lots,
                      std::string_view price, std::string_view orderID);
  void SODCalcs(TCalc& calc, TOptionMargin& option);
  void FilledCalcs(TCalc& calc, const TContractItem& contract, TOptionMargin& option);
  void WorkingCalcs(const TContractItem& contract, std::string_view orderID, TOptionMargin& option);
  double TradeMargin(bool marginMode, const TContractItem& contract, std::string_view price,
                     std::int32_t lots, std::string_view accountName);

  // The signed lots of a trade that replaces the order's, less what the order has filled.
  std::int32_t LotsLessFilled(TCalc& calc, std::string_view orderID, std::int32_t lots) const;
  double MarginReq(const std::shared_ptr<TContractItem>& contract,
                   const TTraderAccountItem& account, std::string_view orderID, std::uint8_t mode,
                   std::int32_t lots, double price, bool covered, bool byScan);
  // Builds the open-lot buckets of the calculation's account (from the order list's open-lot
  // index, less the calculation's own order, or by ScanOrders for the reference) and looks up
  // what its order has filled; called as the calculation starts, under the order list's lock.
  bool GatherOrders(TCalc& calc) const;
  // The same buckets by one pass over the order list.
  void ScanOrders(TCalc& calc) const;

  TLists lists_;
};

}  // namespace vorn
