#include "links/OrderRequests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/diag/Trace.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Fill.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "links/LinkLayer.h"
#include "links/ReferenceOrderRequest.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

using TFields = std::vector<std::pair<std::string, std::string>>;

// The body of the request's frame as (tag, value) pairs in order, after checking the frame's
// length word and that every item ends with the separator.
TFields FieldsOf(TMMHUBSendOrder& request) {
  TDynamicBuffer buffer;
  request.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  EXPECT_GE(count, 2);
  if (count < 2) return {};
  EXPECT_EQ((static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1]),
            count - 2);
  const std::string body(data + 2, static_cast<std::size_t>(count - 2));
  EXPECT_TRUE(!body.empty() && body.back() == kFieldSeparator);
  TFields fields;
  std::size_t start = 0;
  for (std::size_t end; (end = body.find(kFieldSeparator, start)) != std::string::npos;
       start = end + 1) {
    const std::string item = body.substr(start, end - start);
    const std::size_t equals = item.find('=');
    EXPECT_NE(equals, std::string::npos) << item;
    fields.emplace_back(item.substr(0, equals), item.substr(equals + 1));
  }
  return fields;
}

// The value of the first field with the tag, if any.
std::optional<std::string> Find(const TFields& fields, const std::string& tag) {
  for (const auto& [name, value] : fields)
    if (name == tag) return value;
  return std::nullopt;
}

// A logged-on API object built directly over a small market:
//   LIFFE FTSE (GBP at rate 2, OnePoint 10, 32 ticks a point): future "MAR27" (bid 101.25,
//   offer 101.5) and call option "JUN27 C6500" (bid 4, offer 4.08 in tick notation);
//   account TRADER1; order types LIMIT (one price) and MARKET (none).
class OrderRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisableDebugFlags(0xFF);
    api_ = std::make_shared<TClassAPI>();
    TClassAPI& api = *api_;
    api.Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    AddTradingCommodity(api, "FTSE", 10, 32);
    SetRate(2.0);
    ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", Fields("X1=F|X2=LIFFE")), 0);
    ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "JUN27 C6500", Fields("X1=C|X2=LIFFE")),
              0);
    future_ = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
    option_ = api.Contracts.FindContract("LIFFE", "FTSE", "JUN27 C6500");
    ASSERT_TRUE(future_ && option_);
    future_->SetPrice(0, 5, 101.25);
    future_->SetPrice(1, 6, 101.5);
    option_->SetPrice(0, 5, 4);
    option_->SetPrice(1, 6, 4.08);
    account_ = std::make_shared<TTraderAccountItem>("TRADER1");
    account_->Tradable = true;
    account_->SetMarginRating("R1");
    api.Accounts.Add(account_);
    auto rating = std::make_shared<TMarginRating>();  // 10 a lot on LIFFE's futures
    rating->Rating = "R1";
    rating->Exchange = "LIFFE";
    rating->MarginReq = 10;
    rating->MarginPC = 100;
    api.MarginRatings.Add(rating);
    limit_ = AddOrderType("LIMIT", otLimit, 1);
    market_ = AddOrderType("MARKET", otMarket, 0);
    api.UserName.Set("USER1");
    api.Logon.LoggedOn = true;
  }

  void TearDown() override { DisableDebugFlags(0xFF); }

  void SetRate(double value) {
    if (!rate_) rate_ = AddTradingRate(*api_, value);
    TIndexListLock guard(api_->ExchangeRates);
    rate_->Rate = value;
  }

  std::shared_ptr<TOrderTypeItem> AddOrderType(const char* name, TOrderTypes id,
                                               std::uint8_t pricesRequired) {
    AddTradingOrderType(*api_, name, id, pricesRequired);
    return api_->OrderTypes.FindOrderType("LIFFE", name);
  }

  // An order with every field the requests carry set to a value of its own.
  std::shared_ptr<TOrderItem> FullOrder() {
    auto o = std::make_shared<TOrderItem>();
    o->ID = "1234";
    o->DisplayID = "1234";
    o->ExchangeID = "EX77";
    o->UserName = "USER1";
    o->TraderAccount = account_;
    o->OrderType = limit_;
    o->Contract = future_;
    o->ExchangeName = "LIFFE";
    o->BuySell = Buy;
    o->Price = 101.5;
    o->Price2 = 12345678.123456789;
    o->TargetLots = 3;
    o->DateClientSent = "20270105";
    o->TimeClientSent = "093015";
    o->OpenOrClose = 'O';
    o->SetLinkedOrder("1200");
    o->XRefP = 77;
    o->SetGoodTillDate("20270110");
    o->SetReference("MyRef");
    o->Priority = 2;
    o->SetTriggerDate("20270106");
    o->SetTriggerTime("101500");
    o->SetBatchID("B1");
    o->BatchCount = 4;
    o->SetBatchStatus("A");
    o->SetBatchType("10000");
    o->SetBigRefField("QUOTEID=Q1");
    o->SetParentID("999");
    o->DoneForDay = 'Y';
    o->SetSenderLocationID("LOC1");
    o->SetRawprice("101.16");
    o->SetRawprice2("7");
    o->SetClientID("CLI");
    o->SetESARef("ESA1");
    o->APIM = 'M';
    o->SetAPIMUser("apiuser");
    o->SetYDSPAudit("YD");
    o->SetICSNearLegPrice("1.5");
    o->SetICSFarLegPrice("2.5");
    o->MinClipSize = 5;
    o->MaxClipSize = 10;
    o->Randomise = 'R';
    o->SetTicketType("01");
    o->SetTicketVersion("2");
    o->SetPr1Price("+5");
    o->Pr1Volume = 1;
    o->SetPr2Price("+10");
    o->Pr2Volume = 2;
    o->SetPr3Price("-3");
    o->Pr3Volume = 3;
    o->SetStType("T");
    o->SetStPrice("99");
    o->StSteps1 = 1.5;
    o->StSteps2 = 0.25;
    o->SetExchangeField("EAC1");
    o->SetBOFID("BOF1");
    o->SetBadge("BDG");
    o->SetLocalUserName("lu");
    o->SetLocalTraderAccount("lta");
    o->SetLocalBOF("lbof");
    o->SetLocalOrderID("loid");
    o->SetLocalEAC("leac");
    o->SetRoutingID1("R1");
    o->SetRoutingID2("R2");
    return o;
  }

  TFields Build(std::int32_t code, const TOrderItem& order) {
    TMMHUBSendOrder request;
    request.BuildFields(*api_, code, order);
    EXPECT_EQ(request.Code(), IntToStr(code));
    return FieldsOf(request);
  }

  // The margin figure the request must carry: the account's requirement with the order's
  // signed lots at its price, as the order of that id (none for a new order).
  std::string ExpectedMargin(const TOrderItem& order, std::int32_t signedLots,
                             const std::string& orderID) {
    return FloatToStrFixed(api_->MarginRequirement.CalcMarginReq(order.Contract, *account_, orderID,
                                                                 TMarginRequirement::kOrderRequest,
                                                                 signedLots, order.Price, true),
                           10, 8);
  }

  std::shared_ptr<TClassAPI> api_;
  std::shared_ptr<TContractItem> future_;
  std::shared_ptr<TContractItem> option_;
  std::shared_ptr<TTraderAccountItem> account_;
  std::shared_ptr<TOrderTypeItem> limit_;
  std::shared_ptr<TOrderTypeItem> market_;
  std::shared_ptr<TExchangeRate> rate_;
};

TEST_F(OrderRequestsTest, AddRequestCarriesEveryFieldInOrder) {
  const auto order = FullOrder();
  const TFields expected = {
      {"Msg", "3301"},
      {"OID", "1234"},
      {"Usr", "USER1"},
      {"TA", "TRADER1"},
      {"OTy", "LIMIT"},
      {"TID", "2"},
      {"Ex", "LIFFE"},
      {"C", "FTSE"},
      {"CD", "MAR27"},
      {"BS", "1"},
      {"Pr", "101.50000000"},
      {"Pr2", "12345678.12345680"},
      {"TLt", "3"},
      {"CTX", "20270105093015"},
      {"PnL", "0"},
      {"Mar", ExpectedMargin(*order, 3, "")},
      {"OC", "O"},
      {"LID", "1200"},
      {"XR", "77"},
      {"Bid", "101.25"},
      {"Ofr", "101.5"},
      {"GTD", "20270110000000"},
      {"Ref", "MyRef"},
      {"Pri", "2"},
      {"TgD", "20270106101500"},
      {"BtID", "B1"},
      {"BtCt", "4"},
      {"BtSt", "A"},
      {"BtTy", "10000"},
      {"BgRf", "QUOTEID=Q1"},
      {"POD", "999"},
      {"DFD", "Y"},
      {"sLoc", "LOC1"},
      {"rPr", "101.16"},
      {"rPr2", "7"},
      {"CID", "CLI"},
      {"ERf", "ESA1"},
      {"APIM", "M"},
      {"APUr", "apiuser"},
      {"YDSP", "YD"},
      {"INLg", "1.5"},
      {"IFLg", "2.5"},
      {"MiCS", "5"},
      {"MxCS", "10"},
      {"RAN", "R"},
      {"TicT", "01"},
      {"TicV", "2"},
      {"EAc", "EAC1"},
      {"BOF", "BOF1"},
      {"Bdg", "BDG"},
      {"lUsr", "lu"},
      {"lTA", "lta"},
      {"lBOF", "lbof"},
      {"lOID", "loid"},
      {"lEAc", "leac"},
      {"rRID1", "R1"},
      {"rRID2", "R2"},
  };
  EXPECT_EQ(Build(TMMHUBSendOrder::kAddOrder, *order), expected);
}

TEST_F(OrderRequestsTest, AmendRequestCarriesItsFieldsInOrder) {
  auto order = FullOrder();
  order->ExchangeName = "LIFFE-X";  // the amend sends the order's own exchange name
  order->BuySell = Sell;
  const TFields expected = {
      {"Msg", "3302"},
      {"OID", "1234"},
      {"EID", "EX77"},
      {"TA", "TRADER1"},
      {"Usr", "USER1"},
      {"Pr", "101.5"},
      {"Pr2", "12345678.1234568"},
      {"TLt", "3"},
      {"Bid", "101.25"},
      {"Ofr", "101.5"},
      {"PnL", "0"},
      {"OC", "O"},
      {"Mar", ExpectedMargin(*order, -3, "1234")},
      {"Ref", "MyRef"},
      {"Pri", "2"},
      {"TgD", "20270106101500"},
      {"sLoc", "LOC1"},
      {"rPr", "101.16"},
      {"rPr2", "7"},
      {"CID", "CLI"},
      {"ERf", "ESA1"},
      {"POD", "999"},
      {"DFD", "Y"},
      {"APIM", "M"},
      {"APUr", "apiuser"},
      {"YDSP", "YD"},
      {"INLg", "1.5"},
      {"IFLg", "2.5"},
      {"MiCS", "5"},
      {"MxCS", "10"},
      {"RAN", "R"},
      {"TicT", "01"},
      {"TicV", "2"},
      {"EAc", "EAC1"},
      {"BOF", "BOF1"},
      {"Bdg", "BDG"},
      {"lUsr", "lu"},
      {"lTA", "lta"},
      {"lBOF", "lbof"},
      {"lOID", "loid"},
      {"lEAc", "leac"},
      {"rRID1", "R1"},
      {"rRID2", "R2"},
      {"Ex", "LIFFE-X"},
      {"C", "FTSE"},
  };
  EXPECT_EQ(Build(TMMHUBSendOrder::kAmendOrder, *order), expected);
}

TEST_F(OrderRequestsTest, OtherCodesCarryTheOrderReferenceOrNothing) {
  auto order = FullOrder();
  auto noExchangeID = FullOrder();
  noExchangeID->ExchangeID.clear();
  noExchangeID->Contract.reset();  // not needed for these
  noExchangeID->TraderAccount.reset();
  struct TCase {
    std::int32_t code;
    const TOrderItem& order;
    TFields expected;
  };
  const TCase cases[] = {
      {3303, *order, {{"Msg", "3303"}, {"OID", "1234"}, {"EID", "EX77"}}},
      {3304, *order, {{"Msg", "3304"}, {"OID", "1234"}, {"EID", "EX77"}}},
      {3303, *noExchangeID, {{"Msg", "3303"}, {"OID", "1234"}}},
      {3304, *noExchangeID, {{"Msg", "3304"}, {"OID", "1234"}}},
      {3305, *order, {{"Msg", "3305"}}},
      {3300, *noExchangeID, {{"Msg", "3300"}}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Build(c.code, c.order), c.expected) << c.code;
}

TEST_F(OrderRequestsTest, ConditionalFields) {
  // No good-till date: no "GTD"; an empty value is left out; a NUL character is no value.
  auto order = FullOrder();
  order->SetGoodTillDate("");
  order->SetClientID("");
  order->DoneForDay = '\0';
  TFields fields = Build(3301, *order);
  EXPECT_EQ(Find(fields, "GTD"), std::nullopt);
  EXPECT_EQ(Find(fields, "CID"), std::nullopt);
  EXPECT_EQ(Find(fields, "DFD"), std::nullopt);
  EXPECT_EQ(Find(fields, "L1Pr"), std::nullopt);

  // A protection order carries its levels and steps between "TicV" and "EAc".
  order->IsProtectionOrder = true;
  fields = Build(3301, *order);
  const auto ticket =
      std::find(fields.begin(), fields.end(), std::pair<std::string, std::string>{"TicV", "2"});
  ASSERT_NE(ticket, fields.end());
  const TFields protection(ticket + 1, ticket + 11);
  const TFields expected = {{"L1Pr", "+5"},   {"L1Vo", "1"},  {"L2Pr", "+10"}, {"L2Vo", "2"},
                            {"L3Pr", "-3"},   {"L3Vo", "3"},  {"StOT", "T"},   {"StS1", "1.5"},
                            {"StS2", "0.25"}, {"StLPr", "99"}};
  EXPECT_EQ(protection, expected);
  EXPECT_EQ(ticket[11].first, "EAc");
  // The amend request has no protection fields.
  EXPECT_EQ(Find(Build(3302, *order), "L1Pr"), std::nullopt);
}

// The option premium: only in margin mode and only for an option; the value of one lot at the
// order's price, or at the offer for an order type without prices; the add request reads the
// price in tick notation (32 a point), the amend request as it is; a sell is worth 0.
TEST_F(OrderRequestsTest, OptionPremium) {
  struct TCase {
    bool marginMode;
    bool option;
    TPurchase side;
    bool market;
    std::int32_t code;
    const char* premium;  // null: no "OPr"
  };
  const TCase cases[] = {
      {true, true, Buy, false, 3301, "22.50000000"},  // 4.16 is 4.5: 10 x 4.5 / 2
      {true, true, Buy, false, 3302, "20.80000000"},  // 10 x 4.16 / 2
      {true, true, Buy, true, 3301, "21.25000000"},   // the offer 4.08 is 4.25
      {true, true, Buy, true, 3302, "20.40000000"},   // the offer as it is
      {true, true, Sell, false, 3301, "0.00000000"}, {true, true, Sell, false, 3302, "0.00000000"},
      {true, false, Buy, false, 3301, nullptr},      {true, false, Sell, false, 3302, nullptr},
      {false, true, Buy, false, 3301, nullptr},      {false, true, Sell, false, 3302, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << (c.marginMode ? " margin" : "")
                                    << (c.option ? " option " : " future ") << int{c.side}
                                    << (c.market ? " market" : " limit"));
    api_->Features.MarginMode = c.marginMode;
    auto order = FullOrder();
    order->Contract = c.option ? option_ : future_;
    order->BuySell = c.side;
    order->OrderType = c.market ? market_ : limit_;
    order->Price = 4.16;
    const TFields fields = Build(c.code, *order);
    const auto premium = Find(fields, "OPr");
    if (!c.premium) {
      EXPECT_EQ(premium, std::nullopt);
      continue;
    }
    ASSERT_NE(premium, std::nullopt);
    EXPECT_EQ(*premium, c.premium);
    // Right after the margin.
    const auto at = std::find_if(fields.begin(), fields.end(),
                                 [](const auto& field) { return field.first == "OPr"; });
    EXPECT_EQ(at[-1].first, "Mar");
  }
}

// An order whose contract, account or order type is gone cannot be priced: the build fails
// (the export turns it into 99) instead of sending a request without them. So does a premium
// in a currency without a rate.
TEST_F(OrderRequestsTest, MissingReferencesAndRatesFailTheBuild) {
  struct TCase {
    const char* name;
    std::function<void(TOrderItem&)> change;
    std::int32_t code;
  };
  const TCase cases[] = {
      {"no contract, add", [](TOrderItem& o) { o.Contract.reset(); }, 3301},
      {"no contract, amend", [](TOrderItem& o) { o.Contract.reset(); }, 3302},
      {"no account, add", [](TOrderItem& o) { o.TraderAccount.reset(); }, 3301},
      {"no account, amend", [](TOrderItem& o) { o.TraderAccount.reset(); }, 3302},
      {"no order type, add", [](TOrderItem& o) { o.OrderType.reset(); }, 3301},
  };
  for (const TCase& c : cases) {
    auto order = FullOrder();
    c.change(*order);
    TMMHUBSendOrder request;
    EXPECT_THROW(request.BuildFields(*api_, c.code, *order), Exception) << c.name;
  }

  api_->Features.MarginMode = true;
  SetRate(0.0);
  auto order = FullOrder();
  order->Contract = option_;
  TMMHUBSendOrder request;
  EXPECT_THROW(request.BuildFields(*api_, 3301, *order), EZeroDivide);
}

// "Mar" is the account's requirement with the order: a new order adds to the working orders; an
// amendment replaces its order's own lots.
TEST_F(OrderRequestsTest, MarginCountsAnAmendedOrderOnce) {
  auto working = FullOrder();
  working->Status = osWorking;
  working->OrderHistorySeq = 1;
  auto history = api_->Orders.NewOrderList("1234");
  history->Add(working);
  api_->Orders.NoteHead(*history);  // the state went in behind the order list's Add
  account_->AddMarginOrder(*working);  // as order entry books it
  auto changed = FullOrder();
  changed->TargetLots = 5;
  struct TCase {
    std::int32_t code;
    TPurchase side;
    const char* margin;
  };
  const TCase cases[] = {
      {3301, Buy, "80.00000000"},   // 3 working + 5 more, bought
      {3301, Sell, "50.00000000"},  // 3 bought, 5 sold: the larger side
      {3302, Buy, "50.00000000"},   // 5 in place of the 3
  };
  for (const TCase& c : cases) {
    changed->BuySell = c.side;
    const auto margin = Find(Build(c.code, *changed), "Mar");
    ASSERT_NE(margin, std::nullopt);
    EXPECT_EQ(*margin, c.margin) << c.code << " " << int{c.side};
  }
}

TEST_F(OrderRequestsTest, PnLIsTheAccountsTotalOverItsContracts) {
  auto fill = std::make_shared<TFill>();
  fill->FillID = "F1";
  fill->Contract = future_;
  fill->Account = account_;
  fill->BuySell = Buy;
  fill->Lots = 3;
  fill->Price = 100;
  fill->FillType = fltpFILL;
  api_->Positions.AddFill(fill);
  future_->SetPrice(5, 1, 101);
  // 3 lots x 1 point x 10 / rate 2.
  const auto pnl = Find(Build(3301, *FullOrder()), "PnL");
  ASSERT_NE(pnl, std::nullopt);
  EXPECT_EQ(*pnl, "15");
}

TEST_F(OrderRequestsTest, DebuggingTraceShowsTheRequest) {
  TTempDir dir;
  TFakeClock clock{EncodeDate(2027, 1, 5) + EncodeTime(9, 30, 15, 250)};
  TClockInstaller installer{clock};
  ResetTraceState();
  OpenTraceFile();
  auto order = FullOrder();
  order->SetGoodTillDate("");
  const std::string before = ReadFileText(TraceFileName());
  Build(3301, *order);  // Debugging off: nothing
  EXPECT_EQ(ReadFileText(TraceFileName()), before);

  EnableDebugFlags(kDebugging);
  TMMHUBSendOrder request;
  request.BuildFields(*api_, 3301, *order);
  const std::string written = ReadFileText(TraceFileName()).substr(before.size());
  ResetTraceState();
  const std::string margin = ExpectedMargin(*order, 3, "");
  const std::string expected =
      "09:30:15.250 Build Order: \r\n"
      "  Message ID      3301\r\n"
      "  VORN OrderID    1234\r\n"
      "  Trader Accnt    TRADER1\r\n"
      "  User Name       USER1\r\n"
      "  Exchange Name   LIFFE\r\n"
      "  Contract Name   FTSE\r\n"
      "  Contract Date   MAR27\r\n"
      "  Order Type      LIMIT\r\n"
      "  Order Type ID   2\r\n"
      "  Buy/Sell        1\r\n"
      "  Target Lots     3\r\n"
      "  Price           101.50000000\r\n"
      "  Price 2         12345678.12345680\r\n"
      "  Total PL        0\r\n"
      "  Margin Required " +
      margin +
      "\r\n"
      "  Linked Order    1200\r\n"
      "  Client X Ref P  77\r\n"
      "  Date ClientSent 20270105093015\r\n"
      "  Good Till Date  \r\n"
      "  Reference       MyRef\r\n"
      "  Sender Location LOC1\r\n"
      "  Raw Price       101.16\r\n"
      "  Raw Price 2     7\r\n"
      "  Client ID       CLI\r\n"
      "  ESA Reference   ESA1\r\n"
      "  MinClip         5\r\n"
      "  MaxClip         10\r\n"
      "  Randomise       R\r\n";
  // Other trace lines (the position totals) may come first.
  const auto at = written.find("09:30:15.250 Build Order: ");
  ASSERT_NE(at, std::string::npos) << written;
  EXPECT_EQ(written.substr(at), expected);
}

// The requests written straight into the frame equal, byte for byte, what the field list of
// name/value strings wrote (kept as TReferenceOrderRequest), over seeded random orders of every
// code, side, order type and contract: blank, padded, empty, long and 0x01-carrying texts,
// missing references, margin mode on and off, a zero rate, bodies over the frame's limit. So do
// the failures (their class and text) and, with Debugging on, the "Build Order: " trace. The new
// request is written from an order that is changed and dropped between its two steps, as the
// entry does under its guard: nothing of the order may be read after the first.
TEST_F(OrderRequestsTest, WrittenRequestsEqualTheFieldListsBytes) {
  auto listedOrder = [&](const char* id, TPurchase side, std::int32_t lots,
                         std::shared_ptr<TContractItem> contract) {
    auto o = FullOrder();
    o->ID = id;
    o->Status = osWorking;
    o->OrderHistorySeq = 1;
    o->BuySell = side;
    o->TargetLots = lots;
    o->Contract = std::move(contract);
    auto history = api_->Orders.NewOrderList(id);
    history->Add(o);
    api_->Orders.NoteHead(*history);
  };
  listedOrder("1", Buy, 4, future_);
  listedOrder("2", Sell, 2, future_);
  listedOrder("3", Buy, 1, option_);
  auto fill = std::make_shared<TFill>();
  fill->FillID = "F1";
  fill->Account = account_;
  fill->Contract = future_;
  fill->BuySell = Buy;
  fill->Lots = 3;
  fill->Price = 100;
  fill->FillType = fltpFILL;
  api_->Positions.AddFill(fill);
  future_->SetPrice(5, 1, 101);

  const std::vector<std::string> texts = {
      "",         " ",         "   ",    "A",      "abc",
      " lead",    "trail  ",   " both ", "in ner", "a\x01b",
      "\x01",     "\x01x\x01", "x\x01",  "\tTab",  std::string(300, 'L'),
      "\x80\xff", "=eq=",      "0",      "1234"};
  const std::vector<double> numbers = {
      0, 1, -1, 101.5, 0.1, 1e15, 1e-9, 4.16, -0.5, 12345678.123456789, 6500.25};
  const std::vector<std::int32_t> whole = {0, 1, -1, 77, 2147483647, -2147483647 - 1};
  const std::vector<char> chars = {'\0', ' ', 'Y', 'N', 'O', 'C', '\x01', 'M'};
  const std::vector<std::int32_t> codes = {3301, 3301, 3301, 3301, 3302,
                                           3302, 3302, 3303, 3304, 3300};
  std::mt19937 random(20261211);
  const auto pick = [&](const auto& from) { return from[random() % from.size()]; };
  const auto text = [&] { return std::string(pick(texts)); };
  const auto chance = [&](unsigned percent) { return random() % 100 < percent; };

  TTempDir dir;
  TFakeClock clock{EncodeDate(2027, 1, 5) + EncodeTime(9, 30, 15, 250)};
  TClockInstaller installer{clock};
  ResetTraceState();
  OpenTraceFile();
  const auto traceSince = [](std::size_t& at) {
    const std::string file = ReadFileText(TraceFileName());
    const std::string written = file.substr(at);
    at = file.size();
    return written;
  };
  std::size_t traceAt = ReadFileText(TraceFileName()).size();

  // What a build and its frame gave: the frame's bytes or the failure, and the trace.
  struct TOutcome {
    std::string Frame, Failure, Trace;
  };
  const auto frameOf = [](TVornMessage& message, TOutcome& outcome) {
    try {
      TDynamicBuffer buffer;
      message.FillBuffer(buffer);
      std::int32_t count = 0;
      const char* data = buffer.Peek(count);
      outcome.Frame.assign(data ? data : "", static_cast<std::size_t>(count));
    } catch (const Exception& error) {
      outcome.Failure = std::string(error.ClassName()) + ": " + error.what();
    }
  };

  int built = 0;
  for (int round = 0; round < 600; ++round) {
    const std::int32_t code = pick(codes);
    api_->Features.MarginMode = chance(40);
    SetRate(chance(5) ? 0.0 : 2.0);
    const bool debugging = round % 5 == 0;
    if (debugging) {
      EnableDebugFlags(kDebugging);
    } else {
      DisableDebugFlags(kDebugging);
    }
    auto o = FullOrder();
    o->ID = chance(30) ? std::string(pick(std::vector<const char*>{"1", "2", "3"})) : text();
    o->ExchangeID = text();
    o->UserName = text();
    o->TraderAccount = chance(4) ? nullptr : account_;
    o->OrderType = chance(4) ? nullptr : (chance(50) ? limit_ : market_);
    o->Contract = chance(4) ? nullptr : (chance(50) ? future_ : option_);
    o->ExchangeName = text();
    o->BuySell = static_cast<TPurchase>(random() % 6);
    o->Price = pick(numbers);
    o->Price2 = pick(numbers);
    o->TargetLots = chance(50) ? static_cast<std::int32_t>(random() % 20) : pick(whole);
    o->DateClientSent = text();
    o->TimeClientSent = text();
    o->OpenOrClose = pick(chars);
    o->SetLinkedOrder(text());
    o->XRefP = pick(whole);
    o->SetGoodTillDate(chance(30) ? std::string() : text());
    o->SetReference(text());
    o->Priority = pick(whole);
    o->SetTriggerDate(text());
    o->SetTriggerTime(text());
    o->SetBatchID(text());
    o->BatchCount = pick(whole);
    o->SetBatchStatus(text());
    o->SetBatchType(text());
    o->SetBigRefField(text());
    o->SetParentID(text());
    o->DoneForDay = pick(chars);
    o->SetSenderLocationID(text());
    o->SetRawprice(text());
    o->SetRawprice2(text());
    o->SetClientID(text());
    o->SetESARef(chance(2) ? std::string(33000, 'E') : text());  // over the frame's limit
    o->APIM = pick(chars);
    o->SetAPIMUser(text());
    o->SetYDSPAudit(text());
    o->SetICSNearLegPrice(text());
    o->SetICSFarLegPrice(text());
    o->MinClipSize = pick(whole);
    o->MaxClipSize = pick(whole);
    o->Randomise = pick(chars);
    o->SetTicketType(text());
    o->SetTicketVersion(text());
    o->IsProtectionOrder = chance(40);
    o->SetPr1Price(text());
    o->Pr1Volume = pick(whole);
    o->SetPr2Price(text());
    o->Pr2Volume = pick(whole);
    o->SetPr3Price(text());
    o->Pr3Volume = pick(whole);
    o->SetStType(text());
    o->SetStPrice(text());
    o->StSteps1 = pick(numbers);
    o->StSteps2 = pick(numbers);
    o->SetExchangeField(text());
    o->SetBOFID(text());
    o->SetBadge(text());
    o->SetLocalUserName(text());
    o->SetLocalTraderAccount(text());
    o->SetLocalBOF(text());
    o->SetLocalOrderID(text());
    o->SetLocalEAC(text());
    o->SetRoutingID1(text());
    o->SetRoutingID2(text());
    if (chance(30)) {
      o->MutableStrategyLegs()[0].fill('L');  // legs travel in no request
      o->MutableLegPrices()[0].fill('1');
    }
    SCOPED_TRACE(testing::Message() << "round " << round << " code " << code);

    TOutcome old;
    {
      TReferenceOrderRequest request;
      try {
        request.BuildFields(*api_, code, *o);
        frameOf(request, old);
      } catch (const Exception& error) {
        old.Failure = std::string(error.ClassName()) + ": " + error.what();
      }
      old.Trace = traceSince(traceAt);
    }
    TOutcome now;
    {
      TMMHUBSendOrder request;
      auto copy = o->Copy();
      request.WriteTexts(code, *copy);
      // Changed, then gone, before the figures.
      copy->ID = "changed";
      copy->Contract.reset();
      copy->TraderAccount.reset();
      copy->OrderType.reset();
      copy->BuySell = Sell;
      copy->Price = -7;
      copy->TargetLots = 99;
      copy->OpenOrClose = 'Z';
      copy->SetESARef("changed");
      copy.reset();
      try {
        request.WriteFigures(*api_);
        frameOf(request, now);
      } catch (const Exception& error) {
        now.Failure = std::string(error.ClassName()) + ": " + error.what();
      }
      now.Trace = traceSince(traceAt);
    }
    EXPECT_EQ(now.Failure, old.Failure);
    EXPECT_EQ(now.Frame, old.Frame);
    EXPECT_EQ(now.Trace, old.Trace);
    if (debugging && old.Failure.empty()) {
      EXPECT_NE(old.Trace.find("Build Order: "), std::string::npos);
    }
    if (!old.Frame.empty()) ++built;
  }
  ResetTraceState();
  EXPECT_GT(built, 300);  // most rounds reach the wire, not only the failures
}

// The link layer builds the request, throttles it and hands it to the host link; the throttle
// belongs to the API object's requests.
TEST_F(OrderRequestsTest, SendOrderRequestThrottlesThenSendsOnTheHostLink) {
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
  const auto order = FullOrder();
  for (const std::int64_t at : {0, 100, 200, 300}) {
    now = at;
    requests.SendOrderRequest(3301, *order);
  }
  requests.SendOrderRequest(3303, *order);
  EXPECT_EQ(waits, (std::vector<std::int64_t>{700}));
  std::lock_guard guard(links.Host->lock);
  EXPECT_EQ(links.Host->sent, (std::vector<std::string>{"3301", "3301", "3301", "3301", "3303"}));
  EXPECT_TRUE(links.Price->sent.empty());
}

}  // namespace
}  // namespace vorn
