#include "core/session/OrderMargin.h"

#include <cstdint>

#include "core/session/ClassAPI.h"

namespace vorn {

double CalcOrderMargin(TClassAPI& api, const TOrderItem& order, double price) {
  const std::shared_ptr<TTraderAccountItem> account = order.TraderAccount;
  if (!account) return 0.0;
  const std::string& name = account->TraderAccount;
  if (!api.Features.MarketDataRequired)
    return api.Orders.GetAccountMargin(name) + api.Positions.GetPositionMargin(name);

  const std::shared_ptr<TContractItem> contract = order.Contract;
  const std::uint8_t asOption = contract && contract->IsOption() ? 1 : 0;
  double margin = api.Margins.CalcMargin(nullptr, *account, 0, {}, price, asOption);
  if (contract) {
    const std::int32_t lots = order.BuySell == Buy ? order.TargetLots : -order.TargetLots;
    margin += api.Margins.CalcMargin(contract, *account, lots, {}, price, asOption) -
              api.Margins.CalcMargin(contract, *account, 0, {}, price, asOption);
  }
  return margin;
}

}  // namespace vorn
