#include "core/trading/Margin.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Exceptions.h"

namespace vorn {

bool CountsAsWorking(TOrderStatus status) {
  switch (status) {
    case osQueued:
    case osSent:
    case osWorking:
    case osBalCancelled:
    case osPart:
    case osFilled:
    case osCancelPending:
    case osAmendPending:
    case osORPIFilled:
    case osORPIPart:
      return true;
    default:
      return false;
  }
}

bool SameContract(const TContractItem& a, const TContractItem& b) {
  return &a == &b || a.NameKey() == b.NameKey();
}

double TMarginCalculator::GetContractRating(std::string_view account, std::string_view exchange,
                                            std::string_view commodity,
                                            std::string_view contractDate) {
  auto found = lists_.Accounts.FindAccount(account);
  if (!found) return 0.0;
  double rate = 0;
  std::uint64_t generation = 0;
  {
    std::lock_guard guard(cacheLock_);
    if (found->FindContractRating(exchange, commodity, contractDate, rate)) return rate;
    generation = cacheGeneration_;
  }
  const std::string rating = found->GetMarginRating();
  const TMarginFound accountRow = lists_.MarginRatings.GetMargin(rating, found->TraderAccount,
                                                                 contractDate, commodity, exchange);
  const TMarginFound ratingRow =
      lists_.MarginRatings.GetMargin(rating, contractDate, commodity, exchange);
  const double accMargin = accountRow.Found ? accountRow.MarginReq : 0.0;
  const double accPC = accountRow.Found ? accountRow.MarginPC : 0.0;
  double rateMargin = ratingRow.MarginReq;
  const double ratePC = ratingRow.MarginPC;
  const bool keysGiven = !exchange.empty() || !commodity.empty() || !contractDate.empty();
  if (accountRow.Found && ratingRow.Found && keysGiven)
    rateMargin = rateMargin * accPC / 100.0 + accMargin;
  rate = accMargin * ratePC / 100.0 + rateMargin;
  {
    std::lock_guard guard(cacheLock_);
    if (generation == cacheGeneration_)
      found->AddContractRating(
          {std::string(exchange), std::string(commodity), std::string(contractDate), rate});
  }
  return rate;
}

double TMarginCalculator::GetContractRating(std::string_view account,
                                            const TContractItem& contract) {
  return GetContractRating(account, ContractExchange(contract), contract.CommodityStr(),
                           contract.ContractDate());
}

void TMarginCalculator::ClearRatingCaches() {
  std::vector<std::shared_ptr<TTraderAccountItem>> accounts;
  {
    TIndexListLock guard(lists_.Accounts);
    const int count = lists_.Accounts.Count();
    accounts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      accounts.push_back(lists_.Accounts.At(i));
  }
  std::lock_guard guard(cacheLock_);
  ++cacheGeneration_;
  for (const auto& account : accounts)
    for (const auto& rating : account->GetContractRatings())
      account->DropContractRating(rating.Exchange, rating.Commodity, rating.Contract);
}

double TMarginCalculator::CalcMargin(const std::shared_ptr<TContractItem>& contract,
                                     const TTraderAccountItem& account, std::int32_t extraLots,
                                     std::string_view excludedID, double extraPrice,
                                     std::uint8_t flag) {
  if (!contract) {
    double total = 0;
    for (const auto& key : account.GetContractPositions())
      if (auto each = lists_.Contracts.FindByName(key.Exchange, key.Commodity, key.ContractDate))
        total += CalcMargin(each, account, extraLots, excludedID, 0.0, flag);
    return total;
  }
  const double rate = GetContractRating(account.TraderAccount, *contract);
  if (!lists_.MarginMode.load() || !contract->IsOption())
    return FuturesMargin(*contract, account, extraLots, excludedID, rate);
  return OptionsMargin(*contract, account, extraLots, excludedID, extraPrice, rate);
}

double TMarginCalculator::FuturesMargin(const TContractItem& contract,
                                        const TTraderAccountItem& account, std::int32_t extraLots,
                                        std::string_view excludedID, double rate) const {
  double pl = 0;
  std::int32_t buys = 0;
  std::int32_t sells = 0;
  lists_.Positions.GetContractPos(contract, account.TraderAccount, pl, buys, sells,
                                  lists_.MarginMode.load());
  std::int64_t buyWorking = 0;
  std::int64_t sellWorking = 0;
  if (auto services = GetOrderServices()) {
    TIndexList& orders = services->Orders();
    TIndexListLock guard(orders);
    const int count = orders.Count();
    for (int i = 0; i < count; ++i) {
      auto history = std::dynamic_pointer_cast<TOrderList>(orders.Items(i));
      auto order = history ? history->GetCurrent() : nullptr;
      if (!order || !order->Contract || !SameContract(*order->Contract, contract)) continue;
      if (!order->TraderAccount || order->TraderAccount->TraderAccount != account.TraderAccount)
        continue;
      if (order->ID == excludedID || !CountsAsWorking(order->Status)) continue;
      const std::int64_t open = static_cast<std::int64_t>(order->TargetLots) - order->Filled;
      if (order->BuySell == Buy)
        buyWorking += open;
      else
        sellWorking += open;
    }
  }
  if (extraLots > 0)
    buyWorking += extraLots;
  else if (extraLots < 0)
    sellWorking -= static_cast<std::int64_t>(extraLots);
  const std::int64_t net = static_cast<std::int64_t>(buys) - sells;
  const std::int64_t lots = std::max(std::llabs(net + buyWorking), std::llabs(net - sellWorking));
  return static_cast<double>(lots) * rate;
}

double TMarginCalculator::OptionsMargin(const TContractItem& contract,
                                        const TTraderAccountItem& account, std::int32_t extraLots,
                                        std::string_view excludedID, double extraPrice,
                                        double rate) const {
  const TContractKey key = contract.Key();
  const TCommodityFacts commodity = contract.CommodityFacts().value_or(TCommodityFacts{});
  const double onePoint = commodity.OnePoint;
  const std::string& currency = commodity.Currency;
  double premium = 0;
  double held = 0;
  for (const auto& entry : account.GetMarginOrders(key)) {
    if (!(entry.Contract == key) || entry.TraderAccount != account.TraderAccount) continue;
    if (entry.OrderID == excludedID || !CountsAsWorking(entry.State)) continue;
    if (entry.Side == Buy) {
      const double exchangeRate = lists_.ExchangeRates.GetRate(currency);
      if (exchangeRate == 0.0)
        throw EZeroDivide("No exchange rate for currency '" + currency + "'");
      premium += entry.Lots * onePoint * entry.Price / exchangeRate;
    } else if (entry.Side == Sell) {
      held += entry.Lots * rate;
    }
  }
  const double shortLots = extraLots < 0 ? -static_cast<double>(extraLots) : 0.0;
  const double bought = extraLots * extraPrice + premium;
  const double covered = shortLots * rate + held;
  // On a tie the second figure.
  return bought > covered ? bought : covered;
}

}  // namespace vorn
