#pragma once
// Margin rates and margin requirements: the margin of one lot of a contract for a trader account
// (from the margin-rating rows, cached per account and contract) and the margin an account needs
// on a contract for its position, its working orders and a trade about to be made.
//
// Cached rates are dropped from every account on any margin-rating change and on a margin-mode
// change (ClearRatingCaches), so a rate never outlives the rows it was computed from. A rate
// computed while the caches were cleared is returned but not kept.
//
// Locking: the cache lock is taken only around an account's own rating calls; the account list,
// the rating list and the order list are never taken under it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/trading/OrderItem.h"

namespace vorn {

class TCommodityQ;
class TContractItem;
class TContractQ;
class TExchangeRateQ;
class TMarginRatingQ;
class TPositionBook;
class TTraderAccountItem;
class TTraderAccountQ;

// The states whose remaining lots count as working orders for the rating-based margin; the
// margin requirement leaves out osQueued, which has not reached the host.
bool CountsAsWorking(TOrderStatus status);

// The same contract: one instance, or equal name keys.
bool SameContract(const TContractItem& a, const TContractItem& b);

class TMarginCalculator {
 public:
  struct TLists {
    TTraderAccountQ& Accounts;
    TMarginRatingQ& MarginRatings;
    TContractQ& Contracts;
    TCommodityQ& Commodities;
    TExchangeRateQ& ExchangeRates;
    const TPositionBook& Positions;
    const std::atomic<bool>& MarginMode;
  };

  explicit TMarginCalculator(TLists lists) : lists_(lists) {}

  // The margin of one lot; 0.0 for an account that is not held.
  double GetContractRating(std::string_view account, std::string_view exchange,
                           std::string_view commodity, std::string_view contractDate);
  // The same for the contract's exchange (its commodity's, else its own), commodity and date.
  double GetContractRating(std::string_view account, const TContractItem& contract);
  // The margin the account needs on the contract (every contract of its ContractPositions when
  // null, each with an extra price of 0.0). Extra lots are signed: positive buys, negative sells.
  // The order excluded is not counted. EZeroDivide when a premium's currency has no rate.
  double CalcMargin(const std::shared_ptr<TContractItem>& contract,
                    const TTraderAccountItem& account, std::int32_t extraLots,
                    std::string_view excludedID, double extraPrice, std::uint8_t flag);
  // Drops every account's cached rates (a margin-rating row added, changed or deleted; the
  // margin mode changed).
  void ClearRatingCaches();

 private:
  double FuturesMargin(const TContractItem& contract, const TTraderAccountItem& account,
                       std::int32_t extraLots, std::string_view excludedID, double rate) const;
  double OptionsMargin(const TContractItem& contract, const TTraderAccountItem& account,
                       std::int32_t extraLots, std::string_view excludedID, double extraPrice,
                       double rate) const;

  TLists lists_;
  std::mutex cacheLock_;
  std::uint64_t cacheGeneration_ = 0;  // under cacheLock_
};

}  // namespace vorn
