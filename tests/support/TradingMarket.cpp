#include "support/TradingMarket.h"

#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/refdata/ExchangeRate.h"
#include "core/util/Text.h"
#include "support/HostText.h"
#include "vornintf.h"

namespace vorn {

namespace {

void RequireContract(int added) {
  if (added < 0) throw std::runtime_error("trading market: a contract was refused");
}

}  // namespace

std::shared_ptr<TCommodity> AddTradingCommodity(TClassAPI& api, const char* name, double onePoint,
                                                std::int32_t ticksPerPoint) {
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("LIFFE");
  commodity->SetName(name);
  commodity->Currency = "GBP";
  commodity->OnePoint = onePoint;
  commodity->TicksPerPoint = ticksPerPoint;
  commodity->TickSize = 1.0 / ticksPerPoint;
  api.Commodities.Add(commodity);
  return commodity;
}

std::shared_ptr<TExchangeRate> AddTradingRate(TClassAPI& api, double rate) {
  auto item = std::make_shared<TExchangeRate>();
  item->Currency = "GBP";
  item->Rate = rate;
  api.ExchangeRates.Add(item);
  return item;
}

void AddTradingOrderType(TClassAPI& api, const char* name, std::int32_t typeID,
                         std::uint8_t pricesRequired) {
  auto type = std::make_shared<TOrderTypeItem>();
  type->SetExchangeName("LIFFE");
  type->SetName(name);
  type->OrderTypeID = static_cast<TOrderTypes>(typeID);
  type->PricesRequired = pricesRequired;
  api.OrderTypes.Add(type);
}

NewOrderStruct TradingLimitOrder() {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  PutFixed(order.TraderAccount, "TRADER1");
  PutFixed(order.OrderType, "LIMIT");
  PutFixed(order.ExchangeName, "LIFFE");
  PutFixed(order.CommodityName, "FTSE");
  PutFixed(order.ContractDate, "MAR27");
  order.BuySell = 'B';
  PutFixed(order.Price, "100");
  order.Lots = 1;
  order.OpenOrClose = 'O';
  return order;
}

void AddTradingMarket(TClassAPI& api) {
  for (const char* name : {"LIFFE", "CME"})
    api.Exchanges.Add(std::make_shared<TExchange>(name));
  api.Exchanges.FindExchange("LIFFE")->QueryEnabled = true;

  AddTradingCommodity(api, "FTSE", 10, 4);
  AddTradingCommodity(api, "GILT", 1000, 32);
  AddTradingRate(api, 1.0);
  RequireContract(api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", Fields("X1=F|X2=LIFFE")));
  RequireContract(
      api.Contracts.AddFromFields("LIFFE", "FTSE", "JUN27 C6500", Fields("X1=C|X2=LIFFE")));
  RequireContract(api.Contracts.AddFromFields("LIFFE", "GILT", "MAR27", Fields("X1=F|X2=LIFFE")));

  auto trader = std::make_shared<TTraderAccountItem>("TRADER1");
  trader->Tradable = true;
  trader->LossLimit = 100000;
  api.Accounts.Add(trader);
  api.Accounts.Add(std::make_shared<TTraderAccountItem>("VIEWER"));

  AddTradingOrderType(api, "LIMIT", VN_OT_LIMIT, 1);
  AddTradingOrderType(api, "MARKET", VN_OT_MARKET, 0);
  AddTradingOrderType(api, "STOPLIMIT", 8, 2);
  AddTradingOrderType(api, "SYNSTOP", VN_OT_SYNTHETIC_STOP, 1);
  AddTradingOrderType(api, "RFQI", VN_OT_RFQI, 0);
  AddTradingOrderType(api, "AGGR", VN_OT_AGGREGATE_ORDER, 0);
  api.OrderTypes.FindOrderType("LIFFE", "AGGR")->AutoCreated = true;
  AddTradingOrderType(api, "PROTECT", VN_OT_PROTECT, 1);
}

}  // namespace vorn
