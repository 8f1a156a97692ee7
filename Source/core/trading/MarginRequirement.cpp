#include "core/trading/MarginRequirement.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/diag/Trace.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/ExchangeRate.h"
#include "core/store/IndexList.h"
#include "core/trading/Fill.h"
#include "core/trading/Margin.h"
#include "core/trading/OrderQ.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"

namespace vorn {
namespace {

constexpr const char* kSODFailed = "ORM method failed in SOD calcs";
constexpr const char* kFilledFailed = "ORM method failed in Filled calcs";
constexpr const char* kWorkingFailed = "ORM method failed in Working calcs";
constexpr const char* kFutureFailed = "ORM method failed in Future calcs";
constexpr const char* kTradeFailed = "ORM method failed in trade calcs";
constexpr const char* kContractFailed = "ORM method failed in acalcmargin method";
constexpr const char* kRequirementFailed = "Error in CalcMarginReq ";

bool IsMarginState(TOrderStatus status) {
  return IsMarginOpenState(status);
}

bool PremiumsOnly(std::uint8_t mode) {
  return mode == TMarginRequirement::kPremiumsOnly || mode == TMarginRequirement::kPremiumsOnlyToo;
}

// Every mode but 1 values the open long option fills.
bool ValuesOpenLongFills(std::uint8_t mode) {
  return mode == TMarginRequirement::kAllComponents || mode == TMarginRequirement::kPremiumsOnly ||
         mode == TMarginRequirement::kPremiumsOnlyToo || mode == TMarginRequirement::kOrderRequest;
}

// An order ID names the order whose own lots the trade replaces; none excludes nothing.
bool Excluded(std::string_view orderID, std::string_view id) {
  return !orderID.empty() && id == orderID;
}

// Closes what it can of the open lots against the pool: both go down by the smaller.
void Offset(std::int64_t& open, std::int64_t& pool) {
  const std::int64_t taken = std::min(open, pool);
  open -= taken;
  pool -= taken;
}

// Whether the order's account is the calculation's or has its name.
bool SameAccount(const TTraderAccountItem* account, const TTraderAccountItem& calcAccount) {
  return account &&
         (account == &calcAccount || account->TraderAccount == calcAccount.TraderAccount);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// One calculation

struct TMarginRequirement::TCalc {
  TCalc(const TMarginRequirement& owner, const TTraderAccountItem& account,
        std::string_view orderID, std::uint8_t mode, bool covered, bool byScan = false)
      : OrderLock(owner.lists_.Orders),
        Account(account),
        OrderID(orderID),
        Mode(mode),
        Covered(covered),
        MarginMode(owner.lists_.MarginMode.load()),
        ByScan(byScan),
        Gathered(owner.GatherOrders(*this)),
        FillLock(owner.lists_.Fills),
        ContractLock(owner.lists_.Contracts) {}

  // Outermost first, as the lock order has them. The orders' heads are read (under their
  // histories' locks) before the fill and contract lists are locked: the order road takes the
  // fill list's lock while it holds a history's.
  TIndexListLock OrderLock;

  const TTraderAccountItem& Account;
  // The order whose lots the trade replaces; the order buckets leave it out.
  const std::string OrderID;
  const std::uint8_t Mode;
  const bool Covered;
  const bool MarginMode;
  // The open lots by a pass over the order list instead of from its open-lot index.
  const bool ByScan;

  // The open lots of the account's orders in the margin states, by contract name key: of the
  // orders other than OrderID, and of OrderID's own order.
  bool Scanned = false;
  TOpenLotsByKey Open;
  TOpenLotsByKey OwnOpen;

  // What OrderID's order has filled (none when it is not listed).
  bool FilledLookedUp = false;
  std::optional<std::int32_t> Filled;

  const bool Gathered;
  TIndexListLock FillLock;
  TIndexListLock ContractLock;
};

struct TMarginRequirement::TOptionMargin {
  double Rate = 0;
  std::optional<TPositionSummary> Record;
  // The record's open fills, oldest first.
  std::vector<TPosFill> Fills;
  TMarginOptionEntries Entries;
  // The reference's way: every entry of the contract, walked as a whole.
  bool ByScan = false;
  std::vector<TMarginOrderItem> AllEntries;
  // Start-of-day long and short, then long and short still open.
  std::int64_t SL = 0;
  std::int64_t SS = 0;
  std::int64_t L = 0;
  std::int64_t S = 0;
  double SODMargin = 0;
  double FilledShortMargin = 0;
  double FilledPremium = 0;
  double CoveredValue = 0;
  double WorkingShortMargin = 0;
  double WorkingPremium = 0;
};

// ---------------------------------------------------------------------------------------------

double TMarginRequirement::CalcContractValue(const TContractItem& contract, std::int32_t lots,
                                             TPurchase side, double price) const {
  if (side == Sell) return 0.0;
  const TCommodityFacts commodity = contract.CommodityFacts().value_or(TCommodityFacts{});
  const double rate = lists_.ExchangeRates.GetRate(commodity.Currency);
  if (rate == 0.0) throw EZeroDivide("No exchange rate for currency '" + commodity.Currency + "'");
  return commodity.OnePoint * lots * price / rate;
}

std::int32_t TMarginRequirement::LotsLessFilled(TCalc& calc, std::string_view orderID,
                                                std::int32_t lots) const {
  if (orderID.empty()) return lots;
  std::optional<std::int32_t> filled;
  if (orderID == calc.OrderID) {
    if (!calc.FilledLookedUp) {
      if (auto order = lists_.Orders.FindOrder(orderID)) calc.Filled = order->Filled;
      calc.FilledLookedUp = true;
    }
    filled = calc.Filled;
  } else if (auto order = lists_.Orders.FindOrder(orderID)) {
    filled = order->Filled;
  }
  if (!filled) return lots;
  if (lots >= 1) return SaturatedLots(std::max<std::int64_t>(std::int64_t{lots} - *filled, 0));
  return SaturatedLots(std::min<std::int64_t>(std::int64_t{*filled} + lots, 0));
}

bool TMarginRequirement::GatherOrders(TCalc& calc) const {
  if (!calc.OrderID.empty()) {
    if (auto order = lists_.Orders.FindOrder(calc.OrderID)) calc.Filled = order->Filled;
  }
  calc.FilledLookedUp = true;
  if (calc.ByScan) {
    ScanOrders(calc);
    return true;
  }
  calc.Scanned = true;
  lists_.Orders.GatherOpenLots(calc.Account, calc.Open);
  if (calc.OrderID.empty()) return true;
  // The calculation's order is listed under its own key, if at all.
  const auto order = lists_.Orders.FindOrder(calc.OrderID);
  if (!order || order->ID != calc.OrderID || !order->Contract || !IsMarginState(order->Status) ||
      !SameAccount(order->TraderAccount.get(), calc.Account))
    return true;
  TOpenLots own;
  own.Add(*order);
  const std::string key = order->Contract->NameKey();
  calc.Open[key] -= own;
  calc.OwnOpen[key] += own;
  return true;
}

void TMarginRequirement::ScanOrders(TCalc& calc) const {
  if (calc.Scanned) return;
  calc.Scanned = true;
  // By contract instance first: one name key per contract rather than per order.
  std::unordered_map<const TContractItem*, std::pair<TOpenLots, TOpenLots>> byContract;
  // Each history's current state (its first item), read in place: no reference is copied.
  lists_.Orders.ForEach([&](const TOrderList& history) {
    history.VisitItems([&](const TStreamable& item) {
      const auto& order = static_cast<const TOrderItem&>(item);
      if (!order.Contract || !IsMarginState(order.Status)) return false;
      if (!SameAccount(order.TraderAccount.get(), calc.Account)) return false;
      auto& open = byContract[order.Contract.get()];
      (Excluded(calc.OrderID, order.ID) ? open.second : open.first).Add(order);
      return false;
    });
  });
  for (const auto& [contract, open] : byContract) {
    const std::string key = contract->NameKey();
    calc.Open[key] += open.first;
    calc.OwnOpen[key] += open.second;
  }
}

// ---------------------------------------------------------------------------------------------
// Futures rule

double TMarginRequirement::FutureCalcs(TCalc& calc, const TContractItem& contract,
                                       std::string_view orderID, std::int32_t lots) {
  try {
    const double rate = lists_.Margins.GetContractRating(calc.Account.TraderAccount, contract);
    const std::string key = contract.NameKey();
    TOpenLots open;
    if (const auto it = calc.Open.find(key); it != calc.Open.end()) open = it->second;
    if (orderID != calc.OrderID) {
      // The buckets left out the calculation's order; this call leaves out another (or none).
      if (const auto it = calc.OwnOpen.find(key); it != calc.OwnOpen.end()) open += it->second;
      if (!orderID.empty()) {
        if (auto order = lists_.Orders.FindOrder(orderID);
            order && order->ID == orderID && IsMarginState(order->Status) && order->Contract &&
            SameContract(*order->Contract, contract) && order->TraderAccount &&
            order->TraderAccount->TraderAccount == calc.Account.TraderAccount) {
          TOpenLots own;
          own.Add(*order);
          open -= own;
        }
      }
    }
    const std::int64_t trade = LotsLessFilled(calc, orderID, lots);
    if (trade < 0)
      open.Sell -= trade;
    else
      open.Buy += trade;
    double pl = 0;
    std::int32_t buys = 0;
    std::int32_t sells = 0;
    lists_.Positions.GetContractPos(contract, calc.Account.TraderAccount, pl, buys, sells,
                                    calc.MarginMode);
    const std::int64_t net = std::int64_t{buys} - sells;
    const std::int64_t longLots = std::max<std::int64_t>(net + open.Buy, 0);
    const std::int64_t shortLots = std::min<std::int64_t>(net - open.Sell, 0);
    return static_cast<double>(std::max(longLots, -shortLots)) * rate;
  } catch (const std::exception&) {
    WriteTraceLine(kFutureFailed);
    return 0.0;
  }
}

// ---------------------------------------------------------------------------------------------
// Option margin

void TMarginRequirement::SODCalcs(TCalc& calc, TOptionMargin& option) {
  try {
    std::int64_t sl = 0;
    std::int64_t ss = 0;
    double margin = 0;
    if (option.Record && lists_.Accounts.IndexOfKey(calc.Account.TraderAccount) >= 0) {
      if (option.Record->StartOfDaySet) {
        sl = option.Record->StartOfDayLong;
        ss = option.Record->StartOfDayShort;
      }
      if (ss > 0) {
        ss = std::max<std::int64_t>(ss - option.Record->LongPosn, 0);
        margin = static_cast<double>(ss) * option.Rate;
      }
    }
    option.SL = sl;
    option.SS = ss;
    option.SODMargin = margin;
  } catch (const std::exception&) {
    WriteTraceLine(kSODFailed);
  }
}

void TMarginRequirement::FilledCalcs(TCalc& calc, const TContractItem& contract,
                                     TOptionMargin& option) {
  if (!option.Record) return;
  try {
    const TPositionSummary& record = *option.Record;
    const std::vector<TPosFill>& fills = option.Fills;
    // Working counts of this calculation only.
    std::vector<std::int64_t> working(fills.size());
    for (std::size_t i = 0; i < fills.size(); ++i)
      working[i] = fills[i].Lots;

    // The start-of-day lots still held are not new business: set aside, oldest fill first.
    std::int64_t asideLong =
        std::max<std::int64_t>(std::int64_t{record.StartOfDayLong} - record.ShortPosn, 0);
    std::int64_t asideShort =
        std::max<std::int64_t>(std::int64_t{record.StartOfDayShort} - record.LongPosn, 0);
    for (std::size_t i = 0; i < fills.size(); ++i) {
      std::int64_t& aside = fills[i].Side == Buy ? asideLong : asideShort;
      const std::int64_t taken = std::max<std::int64_t>(std::min(working[i], aside), 0);
      working[i] -= taken;
      aside -= taken;
    }

    const bool bought =
        std::any_of(fills.begin(), fills.end(), [](const TPosFill& f) { return f.Side == Buy; });
    double shortMargin = 0;
    double premium = 0;
    double covered = 0;
    std::int64_t ss = option.SS;
    if (!bought && !PremiumsOnly(calc.Mode)) {
      for (const std::int64_t lots : working)
        shortMargin += static_cast<double>(lots) * option.Rate;
    }
    if (bought && ValuesOpenLongFills(calc.Mode)) {
      // The start-of-day short lots close the bought ones, oldest first.
      for (std::size_t i = 0; i < fills.size(); ++i) {
        Offset(working[i], ss);
        premium += CalcContractValue(contract, SaturatedLots(working[i]), Buy, fills[i].Price);
      }
    }
    if (record.StartOfDayLong > 0 && option.ByScan) {
      for (const TMarginOrderItem& entry : option.AllEntries)
        if (entry.Side == Sell && entry.FilledLots > 0)
          covered += CalcContractValue(contract, entry.CoveredLots, Buy, entry.CoveredAvgPrice);
    } else if (record.StartOfDayLong > 0) {
      // Every filled sell is valued, the uncovered ones at 0.0; without a rate the first fails.
      if (option.Entries.FilledSells > 0 && option.Entries.CoveredSells.empty())
        CalcContractValue(contract, 0, Buy, 0.0);
      for (const TMarginOrderItem& entry : option.Entries.CoveredSells)
        covered += CalcContractValue(contract, entry.CoveredLots, Buy, entry.CoveredAvgPrice);
    }
    option.SS = ss;
    option.FilledShortMargin = shortMargin;
    option.FilledPremium = premium;
    option.CoveredValue = covered;
  } catch (const std::exception&) {
    WriteTraceLine(kFilledFailed);
  }
}

void TMarginRequirement::WorkingCalcs(const TContractItem& contract, std::string_view orderID,
                                      TOptionMargin& option) {
  try {
    struct TWorking {
      std::int64_t Open;
      double Price;
    };
    std::vector<TWorking> buys;
    std::vector<TWorking> sells;
    // Only the entries with lots open: the others offset nothing (the pools are never below 0).
    for (const TMarginOrderItem& entry :
         option.ByScan ? option.AllEntries : option.Entries.Working) {
      if (Excluded(orderID, entry.OrderID) || !IsMarginState(entry.State)) continue;
      const TWorking working{std::int64_t{entry.Lots} - entry.FilledLots, entry.Price};
      (entry.Side == Buy ? buys : sells).push_back(working);
    }
    std::int64_t l = option.SL;
    std::int64_t s = option.SS;
    if (option.Record) {
      const std::int64_t net = std::int64_t{option.Record->LongPosn} - option.Record->ShortPosn;
      l = std::max<std::int64_t>(net, 0);
      s = std::max<std::int64_t>(-net, 0);
    }
    // The long lots cover the working sells, the short lots close the working buys, in list
    // order; what is left of each goes on to the trade whatever becomes of the figures.
    for (TWorking& sell : sells)
      Offset(sell.Open, l);
    for (TWorking& buy : buys)
      Offset(buy.Open, s);
    option.L = l;
    option.S = s;

    std::int64_t uncovered = 0;
    for (const TWorking& sell : sells)
      uncovered += sell.Open;
    const double shortMargin =
        static_cast<double>(std::max<std::int64_t>(uncovered - l, 0)) * option.Rate;
    double premium = 0;
    for (const TWorking& buy : buys)
      if (buy.Open > 0)
        premium += CalcContractValue(contract, SaturatedLots(buy.Open), Buy, buy.Price);
    option.WorkingShortMargin = shortMargin;
    option.WorkingPremium = premium;
  } catch (const std::exception&) {
    WriteTraceLine(kWorkingFailed);
  }
}

double TMarginRequirement::OptionMargin(TCalc& calc, const TContractItem& contract,
                                        std::int32_t lots, std::string_view price,
                                        std::string_view orderID) {
  TOptionMargin option;
  option.Rate = lists_.Margins.GetContractRating(calc.Account.TraderAccount, contract);
  if (auto position = ExistingPositionOf(contract))
    option.Record = position->GetAccountFigures(calc.Account.TraderAccount, &option.Fills);
  option.ByScan = calc.ByScan;
  if (calc.ByScan)
    option.AllEntries = calc.Account.GetMarginOrders(contract.Key());
  else
    option.Entries = calc.Account.GetOptionEntries(contract.Key());

  SODCalcs(calc, option);
  FilledCalcs(calc, contract, option);
  WorkingCalcs(contract, orderID, option);

  // The trade, after what the open position and the working orders already close.
  double tradePremium = 0;
  double tradeShortMargin = 0;
  const std::int64_t trade = LotsLessFilled(calc, orderID, lots);
  if (trade > 0) {
    const std::int64_t buyLots =
        std::max<std::int64_t>(trade - std::max<std::int64_t>(option.S - option.L, 0), 0);
    tradePremium =
        CalcContractValue(contract, SaturatedLots(buyLots), Buy, SafeStrToFloat(price, 0.0));
  } else if (trade < 0) {
    const std::int64_t sellLots =
        std::max<std::int64_t>(-trade - std::max<std::int64_t>(option.L - option.S, 0), 0);
    tradeShortMargin = static_cast<double>(sellLots) * option.Rate;
  }

  const double premium = tradePremium + option.WorkingPremium + option.FilledPremium;
  const double margin = PremiumsOnly(calc.Mode) ? 0.0
                                                : tradeShortMargin + option.WorkingShortMargin +
                                                      option.FilledShortMargin + option.SODMargin;
  double result = premium > margin ? premium : margin;
  if (calc.Covered) result -= option.CoveredValue;
  return result;
}

// ---------------------------------------------------------------------------------------------

double TMarginRequirement::ContractMargin(TCalc& calc, const TContractItem& contract,
                                          std::int32_t lots, std::string_view price,
                                          std::string_view orderID) {
  try {
    if (calc.MarginMode && contract.IsOption())
      return OptionMargin(calc, contract, lots, price, orderID);
    if (PremiumsOnly(calc.Mode)) return 0.0;
    return FutureCalcs(calc, contract, orderID, lots);
  } catch (const std::exception&) {
    WriteTraceLine(kContractFailed);
    return 0.0;
  }
}

double TMarginRequirement::TradeMargin(bool marginMode, const TContractItem& contract,
                                       std::string_view price, std::int32_t lots,
                                       std::string_view accountName) {
  try {
    if (contract.IsOption() && marginMode && lots >= 0)
      return CalcContractValue(contract, lots, Buy, SafeStrToFloat(price, 0.0));
    return std::abs(static_cast<double>(lots)) *
           lists_.Margins.GetContractRating(accountName, contract);
  } catch (const std::exception&) {
    WriteTraceLine(kTradeFailed);
    return 0.0;
  }
}

double TMarginRequirement::CalcMarginReq(const std::shared_ptr<TContractItem>& contract,
                                         const TTraderAccountItem& account,
                                         std::string_view orderID, std::uint8_t mode,
                                         std::int32_t lots, double price, bool covered) {
  return MarginReq(contract, account, orderID, mode, lots, price, covered, false);
}

double TMarginRequirement::CalcMarginReqByScan(const std::shared_ptr<TContractItem>& contract,
                                               const TTraderAccountItem& account,
                                               std::string_view orderID, std::uint8_t mode,
                                               std::int32_t lots, double price, bool covered) {
  return MarginReq(contract, account, orderID, mode, lots, price, covered, true);
}

double TMarginRequirement::MarginReq(const std::shared_ptr<TContractItem>& contract,
                                     const TTraderAccountItem& account, std::string_view orderID,
                                     std::uint8_t mode, std::int32_t lots, double price,
                                     bool covered, bool byScan) {
  try {
    if (contract && lots == 0) {
      TCalc calc(*this, account, {}, mode, covered, byScan);
      return ContractMargin(calc, *contract, 0, {}, {});
    }
    TCalc calc(*this, account, orderID, mode, covered, byScan);
    const std::string priceText = FloatToStr(price);
    double total = 0;
    bool matched = false;
    for (const TContractKey& key : account.GetContractPositions()) {
      auto each = lists_.Contracts.FindByName(key.Exchange, key.Commodity, key.ContractDate);
      if (!each) continue;
      if (contract && SameContract(*each, *contract)) {
        total += ContractMargin(calc, *each, lots, priceText, orderID);
        matched = true;
      } else {
        total += ContractMargin(calc, *each, 0, "0.0", orderID);
      }
    }
    if (contract && !matched) total += ContractMargin(calc, *contract, lots, priceText, {});
    return total;
  } catch (const std::exception&) {
    WriteTraceLine(kRequirementFailed);
    return 0.0;
  }
}

double TMarginRequirement::acalcmargin(const std::shared_ptr<TContractItem>& contract,
                                       const TTraderAccountItem& account, std::int32_t lots,
                                       std::string_view price, std::string_view orderID,
                                       std::uint8_t mode, bool covered) {
  if (!contract) {
    WriteTraceLine(kContractFailed);
    return 0.0;
  }
  TCalc calc(*this, account, orderID, mode, covered);
  return ContractMargin(calc, *contract, lots, price, orderID);
}

double TMarginRequirement::TradeCalcs(const std::shared_ptr<TContractItem>& contract,
                                      std::string_view price, std::int32_t lots,
                                      std::string_view accountName) {
  if (!contract) {
    WriteTraceLine(kTradeFailed);
    return 0.0;
  }
  return TradeMargin(lists_.MarginMode.load(), *contract, price, lots, accountName);
}

TMarginRequirement::TTradeMargin TMarginRequirement::MarginForTrade(
    const std::shared_ptr<TContractItem>& named, const TTraderAccountItem& account,
    std::int32_t lots, std::string_view price, std::string_view orderID) {
  TCalc calc(*this, account, orderID, kAllComponents, false);
  double total = 0;
  bool matched = false;
  for (const TContractKey& key : account.GetContractPositions()) {
    auto each = lists_.Contracts.FindByName(key.Exchange, key.Commodity, key.ContractDate);
    if (!each) return {VN_RC_INVALID_INDEX, 0.0};
    if (named && each->Key() == named->Key()) {
      total += ContractMargin(calc, *each, lots, price, orderID);
      matched = true;
    } else {
      total += ContractMargin(calc, *each, 0, price, orderID);
    }
  }
  if (!matched) {
    if (!named) return {VN_RC_INVALID_INDEX, 0.0};
    total += TradeMargin(calc.MarginMode, *named, price, lots, account.TraderAccount);
  }
  return {VN_RC_SUCCESS, total};
}

}  // namespace vorn
