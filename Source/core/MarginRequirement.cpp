#include "core/MarginRequirement.h"

#include <string>

#include "core/Commodity.h"
#include "core/ContractItem.h"
#include "core/Exceptions.h"
#include "core/ExchangeRate.h"
#include "core/IndexList.h"

namespace vorn {

double TMarginRequirement::CalcContractValue(const TContractItem& contract, std::int32_t lots,
                                             TPurchase side, double price) const {
  if (side == Sell) return 0.0;
  double onePoint = 0;
  std::string currency;
  if (auto commodity = contract.GetCommodity()) {
    TIndexListLock guard(lists_.Commodities);
    onePoint = commodity->OnePoint;
    currency = commodity->Currency;
  }
  const double rate = lists_.ExchangeRates.GetRate(currency);
  if (rate == 0.0) throw EZeroDivide("No exchange rate for currency '" + currency + "'");
  return onePoint * lots * price / rate;
}

double TMarginRequirement::CalcMarginReq(const std::shared_ptr<TContractItem>& /*contract*/,
                                         const TTraderAccountItem& /*account*/,
                                         std::string_view /*orderID*/, std::uint8_t /*mode*/,
                                         std::int32_t /*lots*/, double /*price*/,
                                         bool /*covered*/) {
  return 0.0;
}

}  // namespace vorn
