#include "support/TradingFixture.h"

#include "core/util/NumberText.h"
#include "platform/Thread.h"

namespace vorn {

void TradingTest::SetUp() {
  vnLogOff();
  ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
  api_ = API();
  TClassAPI& api = *api_;
  requests_ = &TFakeLinkRequests::Install(api);
  ASSERT_TRUE(links_.Create(api));
  links_.Host->connected = true;
  links_.Price->connected = true;

  AddTradingMarket(api);
  api.UserName.Set("USER1");
  api.Logon.LoggedOn = true;
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
  AddTradingOrderType(*api_, name, typeID, pricesRequired);
}

void TradingTest::AddHostOrderIDs(std::int32_t first, std::int32_t count) {
  for (std::int32_t id = first; id < first + count; ++id)
    api_->OrderIDs.AddPreAllocatedOrderID(IntToStr(id));
}

NewOrderStruct TradingTest::LimitOrder() {
  return TradingLimitOrder();
}

}  // namespace vorn
