#include "support/TradingFixture.h"

#include <cstring>

#include "core/ExchangeRate.h"
#include "core/NumberText.h"
#include "platform/Thread.h"
#include "support/HostText.h"

namespace vorn {

namespace {

void AddCommodity(TClassAPI& api, const char* name, double onePoint, std::int32_t ticksPerPoint) {
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("LIFFE");
  commodity->SetName(name);
  commodity->Currency = "GBP";
  commodity->OnePoint = onePoint;
  commodity->TicksPerPoint = ticksPerPoint;
  commodity->TickSize = 1.0 / ticksPerPoint;
  api.Commodities.Add(commodity);
}

}  // namespace

void TradingTest::SetUp() {
  vnLogOff();
  ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
  api_ = API();
  TClassAPI& api = *api_;
  requests_ = &TFakeLinkRequests::Install(api);
  ASSERT_TRUE(links_.Create(api));
  links_.Host->connected = true;
  links_.Price->connected = true;

  for (const char* name : {"LIFFE", "CME"})
    api.Exchanges.Add(std::make_shared<TExchange>(name));
  api.Exchanges.FindExchange("LIFFE")->QueryEnabled = true;

  AddCommodity(api, "FTSE", 10, 4);
  AddCommodity(api, "GILT", 1000, 32);
  auto rate = std::make_shared<TExchangeRate>();
  rate->Currency = "GBP";
  rate->Rate = 1.0;
  api.ExchangeRates.Add(rate);
  ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", Fields("X1=F|X2=LIFFE")), 0);
  ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "JUN27 C6500", Fields("X1=C|X2=LIFFE")),
            0);
  ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "GILT", "MAR27", Fields("X1=F|X2=LIFFE")), 0);

  auto trader = std::make_shared<TTraderAccountItem>("TRADER1");
  trader->Tradable = true;
  trader->LossLimit = 100000;
  api.Accounts.Add(trader);
  api.Accounts.Add(std::make_shared<TTraderAccountItem>("VIEWER"));

  AddOrderType("LIMIT", VN_OT_LIMIT, 1);
  AddOrderType("MARKET", VN_OT_MARKET, 0);
  AddOrderType("STOPLIMIT", 8, 2);
  AddOrderType("SYNSTOP", VN_OT_SYNTHETIC_STOP, 1);
  AddOrderType("RFQI", VN_OT_RFQI, 0);
  AddOrderType("AGGR", VN_OT_AGGREGATE_ORDER, 0);
  API()->OrderTypes.FindOrderType("LIFFE", "AGGR")->AutoCreated = true;
  AddOrderType("PROTECT", VN_OT_PROTECT, 1);

  api.UserName.Set("USER1");
  api.LoggedOn = true;
}

void TradingTest::TearDown() {
  api_.reset();
  vnLogOff();
  JoinStoppedThreads();
}

std::shared_ptr<TContractItem> TradingTest::Future() const {
  return api_->Contracts.FindContract("LIFFE", "FTSE", "MAR27");
}

std::shared_ptr<TContractItem> TradingTest::Option() const {
  return api_->Contracts.FindContract("LIFFE", "FTSE", "JUN27 C6500");
}

void TradingTest::AddOrderType(const char* name, std::int32_t typeID, std::uint8_t pricesRequired) {
  auto type = std::make_shared<TOrderTypeItem>();
  type->SetExchangeName("LIFFE");
  type->SetName(name);
  type->OrderTypeID = static_cast<TOrderTypes>(typeID);
  type->PricesRequired = pricesRequired;
  api_->OrderTypes.Add(type);
}

void TradingTest::AddHostOrderIDs(std::int32_t first, std::int32_t count) {
  for (std::int32_t id = first; id < first + count; ++id)
    api_->OrderIDs.AddPreAllocatedOrderID(IntToStr(id));
}

NewOrderStruct TradingTest::LimitOrder() {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  PutText(order.TraderAccount, "TRADER1");
  PutText(order.OrderType, "LIMIT");
  PutText(order.ExchangeName, "LIFFE");
  PutText(order.CommodityName, "FTSE");
  PutText(order.ContractDate, "MAR27");
  order.BuySell = 'B';
  PutText(order.Price, "100");
  order.Lots = 1;
  order.OpenOrClose = 'O';
  return order;
}

}  // namespace vorn
