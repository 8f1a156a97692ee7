#include "links/WholesaleRequests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Exceptions.h"
#include "core/util/Text.h"
#include "links/LinkLayer.h"
#include "support/FakeLink.h"
#include "support/HostText.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

// A pair of nothing but its two orders.
TWholesalePair Pair(const TOrderItem& primary, const TOrderItem& secondary) {
  return {primary, secondary, nullptr, nullptr, false, {}, {}};
}

// The frame's body after checking its length word.
std::string BodyOf(TMMHUBSendWholesaleOrder& request) {
  TDynamicBuffer buffer;
  request.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  EXPECT_GE(count, 2);
  if (count < 2) return {};
  EXPECT_EQ((static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1]),
            count - 2);
  EXPECT_EQ(request.Length(), count - 2);
  return std::string(data + 2, static_cast<std::size_t>(count - 2));
}

// An API object built directly over LIFFE FTSE (GBP at rate 2, OnePoint 10, 4 ticks a point):
// the outright futures MAR27 (bid 101.25, offer 101.5) and JUN27, the spread MAR27-JUN27 whose
// legs are those two (ratios "2" and none), the call option "JUN27 C6500"; account TRADER1;
// order type LIMIT (one price).
class WholesaleRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisableDebugFlags(0xFF);
    api_ = std::make_shared<TClassAPI>();
    TClassAPI& api = *api_;
    api.Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    AddTradingCommodity(api, "FTSE", 10, 4);
    AddTradingRate(api, 2.0);
    AddContract("MAR27", "X1=F|X2=LIFFE|X3=MAR27");
    AddContract("JUN27", "X1=F|X2=LIFFE|X3=JUN27");
    AddContract("MAR27-JUN27",
                "<SG=1|X1=F|X2=LIFFE|X3=MAR27|X5=2|EG>=1|<SG=1|X1=F|X2=LIFFE|X3=JUN27|EG>=1");
    AddContract("JUN27 C6500", "X1=C|X2=LIFFE");
    future_ = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
    spread_ = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27-JUN27");
    option_ = api.Contracts.FindContract("LIFFE", "FTSE", "JUN27 C6500");
    ASSERT_TRUE(future_ && spread_ && option_);
    ASSERT_EQ(spread_->GetLegs(), 2);
    future_->SetPrice(0, 5, 101.25);
    future_->SetPrice(1, 6, 101.5);
    account_ = std::make_shared<TTraderAccountItem>("TRADER1");
    account_->Tradable = true;
    api.Accounts.Add(account_);
    AddTradingOrderType(api, "LIMIT", otLimit, 1);
    limit_ = api.OrderTypes.FindOrderType("LIFFE", "LIMIT");
    api.UserName.Set("USER1");
    api.Logon.LoggedOn = true;
  }

  void AddContract(const char* date, const char* fields) {
    ASSERT_GE(api_->Contracts.AddFromFields("LIFFE", "FTSE", date, Fields(fields)), 0) << date;
  }

  std::shared_ptr<TOrderItem> Order(const char* id, TPurchase side,
                                    const std::shared_ptr<TContractItem>& contract) {
    auto o = std::make_shared<TOrderItem>();
    o->ID = id;
    o->UserName = "USER1";
    o->TraderAccount = account_;
    o->OrderType = limit_;
    o->Contract = contract;
    o->BuySell = side;
    o->Price = 101.5;
    o->TargetLots = 3;
    o->DateClientSent = "20270105";
    o->TimeClientSent = "093015";
    o->OpenOrClose = 'O';
    o->SetBatchID(id);
    o->SetBatchType("42");
    o->BatchCount = 2;
    return o;
  }

  std::string Build(const TWholesalePair& pair) {
    if (pair.LegPrices) {
      TMMHUBSendWholesaleOrderWithLegs request;
      request.BuildFields(*api_, pair);
      return BodyOf(request);
    }
    TMMHUBSendWholesaleOrder request;
    request.BuildFields(*api_, pair);
    return BodyOf(request);
  }

  static void SetLegPrice(LegPriceStruct& prices, int leg, const char* text) {
    std::memset(prices.LegPrice[leg], 0, sizeof prices.LegPrice[leg]);
    std::memcpy(prices.LegPrice[leg], text, std::strlen(text));
  }

  // The fields every order of these tests carries up to "Mar", and from "OC" to "BtSt".
  static std::string Head(const char* id, const char* side, const char* date) {
    return std::string("OID=") + id +
           "|Usr=USER1|TA=TRADER1|OTy=LIMIT|TID=2|Ex=LIFFE|C=FTSE|CD=" + date + "|BS=" + side +
           "|Pr=101.50000000|Pr2=0.00000000|TLt=3|CTX=20270105093015|PnL=0|Mar=0|";
  }
  static std::string Tail(const char* id, const char* bid, const char* offer) {
    return std::string("OC=O|XR=0|Bid=") + bid + "|Ofr=" + offer + "|Pri=0|BtID=" + id +
           "|BtTy=42|BtCt=2|";
  }

  std::shared_ptr<TClassAPI> api_;
  std::shared_ptr<TContractItem> future_;
  std::shared_ptr<TContractItem> spread_;
  std::shared_ptr<TContractItem> option_;
  std::shared_ptr<TTraderAccountItem> account_;
  std::shared_ptr<TOrderTypeItem> limit_;
};

// Both orders are occurrences of group 2 with their fields in one order; a field only one order
// carries ("GTD", "ERf") is left out of the other's occurrence. The basis record goes with each.
TEST_F(WholesaleRequestsTest, BasisPairCarriesBothOrdersAndTheBasisInGroupTwo) {
  const auto primary = Order("1001", Buy, future_);
  const auto secondary = Order("1002", Sell, future_);
  secondary->SetGoodTillDate("20270110");
  secondary->SetESARef("ESA2");
  BasisStruct basis{};
  std::memcpy(basis.ISINCode, "GB0001", 6);
  std::memcpy(basis.CashPrice, "99.5", 4);
  basis.Methodology = 'M';
  std::memset(basis.BasisRef, 'R', sizeof basis.BasisRef);  // full width: no NUL to stop at
  const std::string ref(sizeof basis.BasisRef, 'R');
  TWholesalePair pair = Pair(*primary, *secondary);
  pair.Basis = &basis;

  const std::string basisFields = "ISI=GB0001|CP=99.5|Me=M|ReN=" + ref + "|";
  EXPECT_EQ(Build(pair),
            Wire("Msg=3310|<SG=2|" + Head("1001", "1", "MAR27") + Tail("1001", "101.25", "101.5") +
                 basisFields + "EG>=2|<SG=2|" + Head("1002", "2", "MAR27") +
                 "OC=O|XR=0|Bid=101.25|Ofr=101.5|GTD=20270110000000|Pri=0|BtID=1002|BtTy=42|"
                 "BtCt=2|ERf=ESA2|" +
                 basisFields + "EG>=2|"));
}

// The users go one per order, first user with the primary; a side other than buy or sell is 3.
TEST_F(WholesaleRequestsTest, AgainstActualPairCarriesEachOrdersUser) {
  const auto primary = Order("1001", Sell, future_);
  const auto secondary = Order("1002", Cross, future_);
  primary->SetESARef("ESA1");
  TWholesalePair pair = Pair(*primary, *secondary);
  pair.AgainstActual = true;
  pair.FirstUser = "SELLER";
  pair.SecondUser = "BUYER";

  EXPECT_EQ(Build(pair),
            Wire("Msg=3310|<SG=2|" + Head("1001", "2", "MAR27") + Tail("1001", "101.25", "101.5") +
                 "ERf=ESA1|AUs=SELLER|EG>=2|<SG=2|" + Head("1002", "3", "MAR27") +
                 Tail("1002", "101.25", "101.5") + "AUs=BUYER|EG>=2|"));
}

// A crossing pair on a contract of one leg: the orders alone, no leg fills.
TEST_F(WholesaleRequestsTest, OneLegCrossingCarriesNoLegFills) {
  const auto primary = Order("1001", Buy, future_);
  const auto secondary = Order("1002", Sell, future_);
  LegPriceStruct prices{};
  SetLegPrice(prices, 0, "1.5");
  TWholesalePair pair = Pair(*primary, *secondary);
  pair.LegPrices = &prices;

  EXPECT_EQ(Build(pair),
            Wire("Msg=3310|<SG=2|" + Head("1001", "1", "MAR27") + Tail("1001", "101.25", "101.5") +
                 "EG>=2|<SG=2|" + Head("1002", "2", "MAR27") + Tail("1002", "101.25", "101.5") +
                 "EG>=2|"));
}

// Each leg gives a buyer's and a seller's fill on its outright contract, "Fil" the leg's ratio
// (1 when it has none) times the primary's lots. A blank leg price leaves only its own fills
// without "Pr": the next leg's price stays with that leg's fills.
TEST_F(WholesaleRequestsTest, TwoLegPairCarriesFourLegFills) {
  const auto primary = Order("1001", Buy, spread_);
  const auto secondary = Order("1002", Sell, spread_);
  const auto fill = [](int number, const char* date, const char* side, const char* lots,
                       const char* price, const char* id, int leg) {
    std::string text = "<SG=0|Ex=LIFFE|TdID=OFFMARKET|FNo=" + std::to_string(number) +
                       "|C=FTSE|CD=" + date + "|BS=" + side + "|Fil=" + lots + "|";
    if (*price) text += std::string("Pr=") + price + "|";
    return text + "OID=" + id + "|FTy=52|Leg=" + std::to_string(leg) + "|EG>=0|";
  };
  const std::string orders = "Msg=3310|<SG=2|" + Head("1001", "1", "MAR27-JUN27") +
                             Tail("1001", "0", "0") + "EG>=2|<SG=2|" +
                             Head("1002", "2", "MAR27-JUN27") + Tail("1002", "0", "0") + "EG>=2|";

  struct TCase {
    const char* Leg1;
    const char* Leg2;
  };
  for (const TCase& c : {TCase{"0.5", "-1.25"}, TCase{"", "-1.25"}, TCase{"0.5", ""}}) {
    SCOPED_TRACE(std::string(c.Leg1) + " / " + c.Leg2);
    LegPriceStruct prices{};
    SetLegPrice(prices, 0, c.Leg1);
    SetLegPrice(prices, 1, c.Leg2);
    SetLegPrice(prices, 2, "9");  // past the contract's legs: not read
    TWholesalePair pair = Pair(*primary, *secondary);
    pair.LegPrices = &prices;
    EXPECT_EQ(Build(pair), Wire(orders + fill(1, "MAR27", "1", "6", c.Leg1, "1001", 1) +
                                fill(2, "MAR27", "2", "6", c.Leg1, "1002", 1) +
                                fill(3, "JUN27", "1", "3", c.Leg2, "1001", 2) +
                                fill(4, "JUN27", "2", "3", c.Leg2, "1002", 2)));
  }
}

// In margin mode an option's margin is shown to 8 decimals, followed by the value of one lot
// at the order's price (none for a sell).
TEST_F(WholesaleRequestsTest, OptionInMarginModeCarriesThePremium) {
  api_->Features.MarginMode = true;
  auto primary = Order("1001", Buy, option_);
  auto secondary = Order("1002", Sell, option_);
  primary->Price = secondary->Price = 4.5;
  TMMHUBSendWholesaleOrder request;
  request.BuildFields(*api_, Pair(*primary, *secondary));
  const TFieldsSendList& fields = request.BodyFields;
  EXPECT_EQ(fields.GetFieldValue("Mar", 0), "0.00000000");
  EXPECT_EQ(fields.GetFieldValue("OPr", 0), "22.50000000");  // 10 x 4.5 / rate 2
  EXPECT_EQ(fields.GetFieldValue("Mar", 1), "0.00000000");
  EXPECT_EQ(fields.GetFieldValue("OPr", 1), "0.00000000");
}

TEST_F(WholesaleRequestsTest, MissingReferencesAndOverLongBodiesFail) {
  const auto primary = Order("1001", Buy, future_);
  const auto secondary = Order("1002", Sell, future_);
  secondary->OrderType = nullptr;
  TMMHUBSendWholesaleOrder noType;
  EXPECT_THROW(noType.BuildFields(*api_, Pair(*primary, *secondary)), Exception);
  secondary->OrderType = limit_;
  secondary->Contract = nullptr;
  TMMHUBSendWholesaleOrderWithLegs noContract;
  LegPriceStruct prices{};
  TWholesalePair pair = Pair(*primary, *secondary);
  pair.LegPrices = &prices;
  EXPECT_THROW(noContract.BuildFields(*api_, pair), Exception);

  secondary->Contract = future_;
  secondary->UserName = std::string(kMaxBodyLength, 'U');
  TMMHUBSendWholesaleOrder tooLong;
  tooLong.BuildFields(*api_, Pair(*primary, *secondary));
  EXPECT_THROW(tooLong.WrittenFrame(), ERangeError);
  TDynamicBuffer buffer;
  EXPECT_THROW(tooLong.FillBuffer(buffer), ERangeError);
  EXPECT_EQ(buffer.DataLength(), 0);
}

// The pair goes through the same throttle as the order requests, then to the host link; a
// request that cannot be written neither waits nor goes out.
TEST_F(WholesaleRequestsTest, SendWholesaleRequestThrottlesThenSendsOnTheHostLink) {
  TFakeLinks links;
  ASSERT_TRUE(links.Create(*api_));
  links.Host->connected = true;
  std::int64_t now = 0;
  std::vector<std::int64_t> waits;
  TLinkRequests requests(
      *api_, [&] { return now; },
      [&](std::chrono::milliseconds wait) {
        waits.push_back(wait.count());
        now += wait.count();
      });
  const auto primary = Order("1001", Buy, spread_);
  const auto secondary = Order("1002", Sell, spread_);
  LegPriceStruct prices{};
  TWholesalePair withLegs = Pair(*primary, *secondary);
  withLegs.LegPrices = &prices;
  for (const std::int64_t at : {0, 100, 200}) {
    now = at;
    requests.SendWholesaleRequest(withLegs);
  }
  now = 300;
  requests.SendOrderRequest(3301, *primary);
  EXPECT_EQ(waits, (std::vector<std::int64_t>{700}));

  secondary->UserName = std::string(kMaxBodyLength, 'U');
  now = 5000;
  EXPECT_THROW(requests.SendWholesaleRequest(Pair(*primary, *secondary)), ERangeError);
  EXPECT_EQ(waits.size(), 1u);
  std::lock_guard guard(links.Host->lock);
  EXPECT_EQ(links.Host->sent, (std::vector<std::string>{"3310", "3310", "3310", "3301"}));
}

}  // namespace
}  // namespace vorn
