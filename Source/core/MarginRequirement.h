#pragma once
// The margin engine of the order requests and the risk figures: the value of a number of lots of
// a contract, and the margin requirement of a trader account over its contract positions with a
// prospective trade (futures rule, option margin from the start-of-day position, open fills and
// working orders, the covered value).
//
// Every figure is computed into local working counts: nothing is written into the shared
// position records or margin-order entries, so concurrent calculations never disturb each other.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/OrderItem.h"

namespace vorn {

class TCommodityQ;
class TContractItem;
class TContractQ;
class TExchangeRateQ;
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
    TCommodityQ& Commodities;
    TExchangeRateQ& ExchangeRates;
    TOrderQ& Orders;
    const TPositionBook& Positions;
    TMarginCalculator& Margins;
    const std::atomic<bool>& MarginMode;
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

 private:
  TLists lists_;
};

}  // namespace vorn
