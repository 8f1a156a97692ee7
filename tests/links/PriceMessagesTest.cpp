// The price feed's receivers, fed fixed-width bodies through the dispatcher as the price link's
// socket thread applies them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/util/NumberText.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"
#include "support/TradingFixture.h"

namespace vorn {
namespace {

using TFields = std::vector<std::pair<std::size_t, std::string>>;

// A blank body of that code and length naming a contract, with texts at offsets.
std::string PriceBody(std::string_view code, std::size_t length, const TFields& fields,
                      std::string_view exchange = "LIFFE", std::string_view commodity = "FTSE",
                      std::string_view contractDate = "MAR27") {
  std::string body(length, ' ');
  PutFixedField(body, 0, 4, code);
  PutFixedField(body, 4, 10, exchange);
  PutFixedField(body, 14, 10, commodity);
  PutFixedField(body, 24, 50, contractDate);
  for (const auto& [offset, text] : fields)
    PutFixedField(body, offset, text.size(), text);
  return body;
}

// The fields of a price array, as texts; an empty status leaves the status flag clear.
struct TArray {
  std::string Bid = "6500";
  std::string BidVolume = "3";
  std::string Offer = "6501";
  std::string OfferVolume = "4";
  std::string Last = "6500.5";
  std::string LastVolume = "2";
  std::string TotalVolume = "100";
  std::string High = "";
  std::string Low = "";
  std::string Kind29 = "";
  std::string Status = "";
  std::string Exchange = "LIFFE";
  std::string Commodity = "FTSE";
  std::string ContractDate = "MAR27";
};

std::string ArrayBody(const TArray& a) {
  TFields fields = {{94, a.Bid},          {105, a.Offer},      {116, a.Last},
                    {127, a.High},        {138, a.Low},        {160, a.Kind29},
                    {204, a.BidVolume},   {215, a.OfferVolume}, {226, a.TotalVolume},
                    {237, a.LastVolume}};
  if (!a.Status.empty()) {
    fields.push_back({93, "1"});
    fields.push_back({303, a.Status});
  }
  return PriceBody("0084", 314, fields, a.Exchange, a.Commodity, a.ContractDate);
}

// A depth record of 21 characters: price 11, volume 10.
std::string Level(std::string_view price, std::string_view volume) {
  std::string record(21, ' ');
  PutFixedField(record, 0, 11, price);
  PutFixedField(record, 11, 10, volume);
  return record;
}

// A fixed depth body (56) with bid level i at "100+i"/"10+i", offer level i at "200+i"/"20+i",
// and the last trade given.
std::string DOMBody(std::string_view last, std::string_view lastVolume) {
  TFields fields;
  for (int i = 0; i < 10; ++i) {
    fields.push_back({74 + 21 * i, Level(IntToStr(101 + i), IntToStr(11 + i))});
    fields.push_back({74 + 21 * (10 + i), Level(IntToStr(201 + i), IntToStr(21 + i))});
  }
  fields.push_back({494, Level(last, lastVolume)});
  return PriceBody("0056", 515, fields);
}

// A variable depth body (65): the counts as texts, record i at "300+i"/"30+i" for all 20
// records, and the last trade given.
std::string VarDOMBody(std::string_view bids, std::string_view offers,
                       std::string_view last = "", std::string_view lastVolume = "") {
  TFields fields = {{149, std::string(bids)}, {151, std::string(offers)}};
  for (int i = 0; i < 20; ++i)
    fields.push_back({153 + 21 * i, Level(IntToStr(300 + i), IntToStr(30 + i))});
  fields.push_back({573, Level(last, lastVolume)});
  return PriceBody("0065", 594, fields);
}

std::string Key(const void* payload) {
  ContractKeyStruct key;
  std::memcpy(&key, payload, sizeof key);
  return std::string(key.ExchangeName) + "\\" + key.CommodityName + "\\" + key.ContractDate;
}

// An event as a line: its id, its contract and what else its record says.
std::string Describe(const TCallbackRecorder::TDelivery& delivery) {
  const unsigned char* payload = delivery.Payload.data();
  std::string text = std::to_string(delivery.Id) + " ";
  switch (delivery.Id) {
    case VN_CB_TICKER_UPDATE: {
      TickerStruct t;
      std::memcpy(&t, payload, sizeof t);
      return text + Key(payload) + " " + t.BidPrice + "/" + IntToStr(t.BidVolume) + " " +
             t.OfferPrice + "/" + IntToStr(t.OfferVolume) + " " + t.LastPrice + "/" +
             IntToStr(t.LastVolume) + " " + t.BidChanged + t.OfferChanged + t.LastChanged;
    }
    case VN_CB_STATUS_CHANGE: {
      ContractStatusStruct s;
      std::memcpy(&s, payload, sizeof s);
      return text + Key(payload) + " =" + IntToStr(s.Status);
    }
    case VN_CB_GENERIC_PRICE_UPDATE: {
      GenericPriceUpdateStruct g;
      std::memcpy(&g, payload, sizeof g);
      return text + Key(payload) + " " + IntToStr(g.PriceType) + " " + g.Level;
    }
    case VN_CB_SETTLEMENT: {
      SettlementStruct s;
      std::memcpy(&s, payload, sizeof s);
      return text + Key(payload) + " " + IntToStr(s.SettlementType) + " " + s.Price + " " +
             s.SettlementDate + " " + s.SettlementTime;
    }
    case VN_CB_CONNECTIVITY_STATUS: {
      ConnectivityStatusStruct c;
      std::memcpy(&c, payload, sizeof c);
      for (const char* field : {c.Field1, c.Field2, c.Field3, c.Field4, c.Field5, c.Field6,
                                c.Field7, c.Field8, c.Field9, c.Field10})
        text += std::string(field) + "|";
      return text;
    }
    case VN_CB_MESSAGE:
      return text + reinterpret_cast<const char*>(payload);
    default:
      return text + Key(payload);
  }
}

std::vector<std::string> DeliverEvents() {
  std::vector<std::string> events;
  for (const auto& delivery : TCallbackRecorder::DeliverQueued())
    events.push_back(Describe(delivery));
  return events;
}

using TEvents = std::vector<std::string>;

// Value/volume of a price entry, "-" when it is unset.
std::string Show(const PriceEntry& entry) {
  if (entry.Unset) return "-";
  return FloatToStr(entry.Value) + "/" + IntToStr(entry.Volume);
}

// The future LIFFE FTSE MAR27 of the receiver fixture and, beside it: FTSE JUN27, the strategy
// FTSE MAR27-JUN27 (a "BC"), GILT MAR27, and EUREX FDAX DEC27.
class PriceMessagesTest : public HostReceiverTest {
 protected:
  PriceMessagesTest() {
    TClassAPI& api = Api();
    api.Contracts.AddFromFields("LIFFE", "FTSE", "JUN27", Fields("X1=F|X2=LIFFE"));
    api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR27-JUN27", Fields("X1=BC|X2=LIFFE"));
    AddTradingCommodity(api, "GILT", 1000, 32);
    api.Contracts.AddFromFields("LIFFE", "GILT", "MAR27", Fields("X1=F|X2=LIFFE"));
    api.Exchanges.Add(std::make_shared<TExchange>("EUREX"));
    auto fdax = std::make_shared<TCommodity>();
    fdax->SetExchangeName("EUREX");
    fdax->SetName("FDAX");
    api.Commodities.Add(fdax);
    api.Contracts.AddFromFields("EUREX", "FDAX", "DEC27", Fields("X1=F|X2=EUREX"));
  }
  // No body made a receiver fail.
  void TearDown() override { EXPECT_EQ(ReadFileText(dir_.File(kErrorLogFileName)), ""); }

  void Price(std::string_view body) { ProcessMessage(Api(), psPriceFeed, body); }
  std::shared_ptr<TContractItem> Contract(std::string_view exchange, std::string_view commodity,
                                          std::string_view contractDate) {
    return Api().Contracts.FindContract(exchange, commodity, contractDate);
  }
  void Subscribe(std::string_view exchange, std::string_view commodity,
                 std::string_view contractDate) {
    Api().Subscriptions.SubscribePrice(Contract(exchange, commodity, contractDate)->Key());
  }
  std::string Kind(int kind) { return Show(Future()->GetPrice(kind)); }
  // Kinds first to last of the future, "-" for an unset entry.
  std::vector<std::string> Kinds(int first, int last) {
    std::vector<std::string> shown;
    for (int kind = first; kind <= last; ++kind)
      shown.push_back(Kind(kind));
    return shown;
  }
};

// ---------------------------------------------------------------------------------------------
// Price array

TEST_F(PriceMessagesTest, PriceArrayWritesEveryKindFromItsOffsets) {
  std::string body = PriceBody("0084", 314,
                               {{93, "1"},     {94, "11"},   {105, "13"},  {116, "15"},
                                {127, "17"},   {138, "18"},  {149, "19"},  {160, "21"},
                                {171, "20"},   {204, "12"},  {215, "14"},  {226, "22"},
                                {237, "16"},   {248, "23"},  {259, "24"},  {270, "25"},
                                {281, "26"},   {292, "27"},  {303, "4"}});
  Price(body);
  const struct {
    int Kind;
    const char* Shown;
  } expected[] = {{0, "11/12"},  {1, "13/14"},  {5, "15/16"},  {26, "17/0"}, {27, "18/0"},
                  {28, "19/20"}, {29, "21/0"},  {25, "0/22"},  {2, "23/24"}, {3, "25/26"},
                  {4, "0/27"},   {6, "-"},      {30, "-"}};
  for (const auto& e : expected)
    EXPECT_EQ(Kind(e.Kind), e.Shown) << "kind " << e.Kind;
  EXPECT_EQ(Future()->Status, 4);
  EXPECT_EQ(Future()->PriceArrayFlags(), 15);
  EXPECT_EQ(DeliverEvents(), (TEvents{"10 LIFFE\\FTSE\\MAR27 =4",
                                      "17 LIFFE\\FTSE\\MAR27 11/12 13/14 15/16 YYY",
                                      "8 LIFFE\\FTSE\\MAR27"}));
}

TEST_F(PriceMessagesTest, PriceArrayPostsOnlyWhatChangedAndKeepsARepeatedTradeOutOfTheHistory) {
  Price(ArrayBody({.Kind29 = "6400"}));
  ASSERT_EQ(DeliverEvents().size(), 2u);

  // The same body again, the kind 29 price left out (0 is not written): nothing changes.
  Price(ArrayBody({}));
  EXPECT_EQ(DeliverEvents(), TEvents{});
  EXPECT_EQ(Kind(29), "6400/0");
  EXPECT_EQ(Kind(6), "-") << "a repeated trade does not move the history";

  // Only the bid moves: the ticker says so, and the trade is still a repeat.
  Price(ArrayBody({.Bid = "6499"}));
  EXPECT_EQ(DeliverEvents(), (TEvents{"17 LIFFE\\FTSE\\MAR27 6499/3 6501/4 6500.5/2 YNN",
                                      "8 LIFFE\\FTSE\\MAR27"}));
  EXPECT_EQ(Kind(6), "-");

  // A new trade at the same price and volume is told by the total volume.
  Price(ArrayBody({.Bid = "6499", .TotalVolume = "102"}));
  EXPECT_EQ(DeliverEvents(), (TEvents{"8 LIFFE\\FTSE\\MAR27"}))
      << "the last trade was written again but did not change: no ticker";
  EXPECT_EQ(Kind(5), "6500.5/2");
  EXPECT_EQ(Kind(6), "6500.5/2");
  EXPECT_EQ(Kind(25), "0/102");

  Price(ArrayBody({.Bid = "6499", .Last = "6501", .LastVolume = "5", .TotalVolume = "107"}));
  EXPECT_EQ(DeliverEvents(), (TEvents{"17 LIFFE\\FTSE\\MAR27 6499/3 6501/4 6501/5 NNY",
                                      "8 LIFFE\\FTSE\\MAR27"}));
  EXPECT_EQ(Kinds(5, 7), (std::vector<std::string>{"6501/5", "6500.5/2", "6500.5/2"}));
}

TEST_F(PriceMessagesTest, EurexKeepsTheStoredLastVolumeAndRepeatsAreToldByIt) {
  const auto dax = Contract("EUREX", "FDAX", "DEC27");
  dax->SetPrice(5, 7, 15000);
  const std::string body =
      ArrayBody({.Last = "15001", .LastVolume = "3", .TotalVolume = "50", .Exchange = "EUREX",
                 .Commodity = "FDAX", .ContractDate = "DEC27"});
  Price(body);
  EXPECT_EQ(Show(dax->GetPrice(5)), "15001/7");
  EXPECT_EQ(Show(dax->GetPrice(6)), "15000/7");
  ClearCallbackQueue();

  Price(body);
  EXPECT_EQ(Show(dax->GetPrice(6)), "15000/7") << "the same trade again is a repeat";
  EXPECT_EQ(DeliverEvents(), TEvents{});

  // A new trade at the same price: what is written equals what was there, whatever volume the
  // body names, so the ticker does not report a changed last trade.
  Price(ArrayBody({.Last = "15001", .LastVolume = "9", .TotalVolume = "51", .Exchange = "EUREX",
                   .Commodity = "FDAX", .ContractDate = "DEC27"}));
  EXPECT_EQ(Show(dax->GetPrice(6)), "15001/7");
  EXPECT_EQ(DeliverEvents(), (TEvents{"8 EUREX\\FDAX\\DEC27"}));
}

TEST_F(PriceMessagesTest, StatusForManyContractsPostsOnlyForTheSubscribed) {
  Subscribe("LIFFE", "FTSE", "MAR27");
  Subscribe("LIFFE", "GILT", "MAR27");
  const auto statuses = [&] {
    std::vector<int> shown;
    for (const auto& [commodity, date] : std::vector<std::pair<const char*, const char*>>{
             {"FTSE", "MAR27"}, {"FTSE", "JUN27"}, {"FTSE", "MAR27-JUN27"}, {"GILT", "MAR27"}})
      shown.push_back(Contract("LIFFE", commodity, date)->Status);
    shown.push_back(Contract("EUREX", "FDAX", "DEC27")->Status);
    return shown;
  };

  Price(ArrayBody({.Status = "3", .Commodity = "", .ContractDate = ""}));
  EXPECT_EQ(statuses(), (std::vector<int>{3, 3, 3, 3, 0}));
  EXPECT_EQ(Kind(0), "-") << "a status for many writes no prices";
  EXPECT_EQ(DeliverEvents(), (TEvents{"10 LIFFE\\FTSE\\MAR27 =3", "10 LIFFE\\GILT\\MAR27 =3"}));

  Price(ArrayBody({.Status = "5", .Commodity = "GILT", .ContractDate = ""}));
  Price(ArrayBody({.Status = "5", .Commodity = "GILT", .ContractDate = ""}));
  EXPECT_EQ(statuses(), (std::vector<int>{3, 3, 3, 5, 0}));
  EXPECT_EQ(DeliverEvents(), (TEvents{"10 LIFFE\\GILT\\MAR27 =5"}));

  for (const TArray& unknown : {TArray{.Status = "6", .Commodity = "NONE", .ContractDate = ""},
                                TArray{.Status = "6", .Exchange = "NONE", .ContractDate = ""}})
    Price(ArrayBody(unknown));
  Api().Logon.DownloadInProgress = true;
  Price(ArrayBody({.Status = "6", .Commodity = "", .ContractDate = ""}));
  EXPECT_EQ(statuses(), (std::vector<int>{3, 3, 3, 5, 0}));
  EXPECT_EQ(DeliverEvents(), TEvents{});
}

// ---------------------------------------------------------------------------------------------
// Depth of market

TEST_F(PriceMessagesTest, DepthWritesItsLevelsTheBidUntilAPriceArrayAndTheLastTrade) {
  Price(DOMBody("150", "5"));
  EXPECT_EQ(Kinds(0, 1), (std::vector<std::string>{"-", "-"})) << "no depth without the feature";
  ASSERT_EQ(DeliverEvents(), TEvents{});

  Api().Features.DOMEnabled = true;
  Price(DOMBody("150", "5"));
  EXPECT_EQ(Kinds(30, 40), (std::vector<std::string>{"101/11", "102/12", "103/13", "104/14",
                                                     "105/15", "106/16", "107/17", "108/18",
                                                     "109/19", "110/20", "-"}));
  EXPECT_EQ(Kinds(50, 60), (std::vector<std::string>{"201/21", "202/22", "203/23", "204/24",
                                                     "205/25", "206/26", "207/27", "208/28",
                                                     "209/29", "210/30", "-"}));
  EXPECT_EQ(Kinds(0, 1), (std::vector<std::string>{"101/11", "-"}));
  EXPECT_EQ(Kind(5), "150/5");
  EXPECT_EQ(DeliverEvents(),
            (TEvents{"17 LIFFE\\FTSE\\MAR27 101/11 0/0 150/5 YNY", "21 LIFFE\\FTSE\\MAR27"}));

  Price(DOMBody("150", "5"));
  EXPECT_EQ(DeliverEvents(), TEvents{}) << "an identical depth posts nothing";

  // Once a price array has written the bid and the last trade, the depth leaves them alone.
  Price(ArrayBody({.Bid = "99", .Last = "140", .LastVolume = "1"}));
  ClearCallbackQueue();
  Price(DOMBody("151", "6"));
  EXPECT_EQ(Kind(0), "99/3");
  EXPECT_EQ(Kind(5), "140/1");
  EXPECT_EQ(DeliverEvents(), TEvents{});
}

TEST_F(PriceMessagesTest, DepthLastTradeNeedsAVolumeAndOnEurexFollowsAnyPriceArray) {
  Api().Features.DOMEnabled = true;
  Price(DOMBody("150", ""));
  EXPECT_EQ(Kind(5), "-");

  const auto dax = Contract("EUREX", "FDAX", "DEC27");
  Price(ArrayBody({.Last = "15000", .LastVolume = "1", .Exchange = "EUREX", .Commodity = "FDAX",
                   .ContractDate = "DEC27"}));
  std::string depth = DOMBody("15002", "4");
  PutFixedField(depth, 4, 10, "EUREX     ");
  PutFixedField(depth, 14, 10, "FDAX      ");
  PutFixedField(depth, 24, 10, "DEC27     ");
  Price(depth);
  EXPECT_EQ(Show(dax->GetPrice(5)), "15002/4");
  EXPECT_EQ(Show(dax->GetPrice(6)), "15000/0") << "EUREX's price array kept its stored volume";
}

TEST_F(PriceMessagesTest, VariableDepthWritesItsCountsAndEmptiesTheRest) {
  Api().Features.DOMEnabled = true;
  Price(DOMBody("", ""));
  Price(ArrayBody({}));
  ClearCallbackQueue();
  const std::vector<std::string> empty17(17, "-");

  Price(VarDOMBody("3", "2"));
  EXPECT_EQ(Kinds(30, 32), (std::vector<std::string>{"300/30", "301/31", "302/32"}));
  EXPECT_EQ(Kinds(33, 49), empty17);
  EXPECT_EQ(Kinds(50, 51), (std::vector<std::string>{"303/33", "304/34"}));
  EXPECT_EQ(Kinds(52, 68), empty17);
  EXPECT_EQ(Kind(69), "-");
  EXPECT_EQ(Kind(0), "6500/3") << "the variable depth never writes the bid";
  EXPECT_EQ(DeliverEvents(), (TEvents{"21 LIFFE\\FTSE\\MAR27"})) << "no ticker flag changed";
  Price(VarDOMBody("3", "2"));
  EXPECT_EQ(DeliverEvents(), TEvents{}) << "each kind is written once: nothing changed";

  // 15 + 15 would run the offers into the last trade and past the body: the offers get what
  // is left of the 20 records.
  Price(VarDOMBody("15", "15", "999", "9"));
  EXPECT_EQ(Kind(44), "314/44");
  EXPECT_EQ(Kind(45), "-");
  EXPECT_EQ(Kinds(50, 55), (std::vector<std::string>{"315/45", "316/46", "317/47", "318/48",
                                                     "319/49", "-"}));
  EXPECT_EQ(Kind(5), "6500.5/2") << "a price array wrote the last trade";

  for (const char* bids : {"25", "-3", "xx"}) {
    SCOPED_TRACE(bids);
    Price(VarDOMBody(bids, "2"));
    const bool all = std::string(bids) == "25";
    EXPECT_EQ(Kind(30), all ? "300/30" : "-");
    EXPECT_EQ(Kind(49), all ? "319/49" : "-");
    EXPECT_EQ(Kind(50), all ? "-" : "300/30");
  }
}

TEST_F(PriceMessagesTest, VariableDepthLastTradeAndAShortBody) {
  Api().Features.DOMEnabled = true;
  Price(VarDOMBody("1", "1", "77", "3"));
  EXPECT_EQ(Kind(5), "77/3");
  EXPECT_EQ(DeliverEvents(),
            (TEvents{"17 LIFFE\\FTSE\\MAR27 0/0 0/0 77/3 NNY", "21 LIFFE\\FTSE\\MAR27"}));

  // Counts that name records the body does not hold read them as empty.
  Price(VarDOMBody("2", "2").substr(0, 153 + 21 * 3));
  EXPECT_EQ(Kinds(30, 31), (std::vector<std::string>{"300/30", "301/31"}));
  EXPECT_EQ(Kind(50), "302/32");
  EXPECT_EQ(Kind(51), "-");
  EXPECT_EQ(Kind(5), "77/3");
}

// ---------------------------------------------------------------------------------------------
// At best and subscriber depth

TEST_F(PriceMessagesTest, AtBestListsTheWholeEntriesWithAVolume) {
  const auto entry = [](const char* code, const char* volume, const char* type) {
    std::string text(15, ' ');
    PutFixedField(text, 0, 3, code);
    PutFixedField(text, 3, 11, volume);
    PutFixedField(text, 14, 1, type);
    return text;
  };
  const std::string three = entry("AB", "5", "B") + entry("CD", "0", "S") + entry("EF", "7", "S");
  const auto body = [&](const char* count, std::string entries) {
    return PriceBody("0057", 105,
                     {{74, "X1"}, {77, "Y2"}, {80, count}, {83, "6500.5"}, {94, "6501"}}) +
           entries;
  };
  const auto listed = [&] {
    const TAtBestPrices atBest = Future()->GetAtBest();
    std::string text = FloatToStr(atBest.Bid) + " " + FloatToStr(atBest.Offer) + " " +
                       atBest.LastBuyer + " " + atBest.LastSeller + ":";
    for (const auto& e : atBest.Entries)
      text += " " + e.Code + "/" + IntToStr(e.Volume) + "/" + e.Type;
    return text;
  };
  const struct {
    const char* Count;
    std::string Entries;
    const char* Listed;
  } cases[] = {
      {"3", three, "6500.5 6501 X1 Y2: AB/5/B EF/7/S"},
      {"2", three, "6500.5 6501 X1 Y2: AB/5/B"},
      // The count runs past the body; the third entry is cut inside its volume.
      {"999", three.substr(0, 37), "6500.5 6501 X1 Y2: AB/5/B"},
      {"ab", three, "6500.5 6501 X1 Y2:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Count);
    Price(PriceBody("0057", 105, {{83, "1"}}));  // a different list in between
    ClearCallbackQueue();
    Price(body(c.Count, c.Entries));
    EXPECT_EQ(listed(), c.Listed);
    EXPECT_EQ(DeliverEvents(), (TEvents{"16 LIFFE\\FTSE\\MAR27"}));
    Price(body(c.Count, c.Entries));
    EXPECT_EQ(DeliverEvents(), TEvents{}) << "the same list again";
  }
}

TEST_F(PriceMessagesTest, SubscriberDepthListsTheWholeEntriesWithAVolume) {
  const auto entry = [](const char* price, const char* volume, const char* code) {
    std::string text(25, ' ');
    PutFixedField(text, 0, 11, price);
    PutFixedField(text, 11, 10, volume);
    PutFixedField(text, 21, 3, code);
    PutFixedField(text, 24, 1, "B");
    return text;
  };
  const std::string entries = entry("6500", "4", "AB") + entry("6499", "0", "CD") +
                              entry("6498", "2", "EF") + entry("6497", "9", "GH");
  const auto listed = [&] {
    std::string text;
    for (const auto& e : Future()->GetSubscriberDepth())
      text += FloatToStr(e.Price) + "/" + IntToStr(e.Volume) + "/" + e.Code + "/" + e.Type + " ";
    return text;
  };
  // The count says 5; the body holds three whole entries and a fourth cut inside its volume.
  Price(PriceBody("0807", 77, {{74, "5"}}) + entries.substr(0, 88));
  EXPECT_EQ(listed(), "6500/4/AB/B 6498/2/EF/B ");
  EXPECT_EQ(DeliverEvents(), (TEvents{"19 LIFFE\\FTSE\\MAR27"}));
  Price(PriceBody("0807", 77, {{74, "5"}}) + entries.substr(0, 88));
  EXPECT_EQ(DeliverEvents(), TEvents{});

  Price(PriceBody("0807", 77, {{74, "--"}}) + entries);
  EXPECT_EQ(listed(), "");
  EXPECT_EQ(DeliverEvents(), (TEvents{"19 LIFFE\\FTSE\\MAR27"}));
}

// ---------------------------------------------------------------------------------------------
// Generic prices

TEST_F(PriceMessagesTest, GenericPricesGoToTheirEntriesAndKinds) {
  const auto body = [](const char* type, const char* level) {
    return PriceBody("0810", 97, {{74, type}, {76, level}, {77, "6502.5"}, {87, "8"}});
  };
  const auto generic = [&](int entry) { return Show(Future()->GetGenericPrice(entry)); };
  const struct {
    const char* Type;
    const char* Level;
    int Entry;  // generic entry written, 0 none
    std::vector<int> Kinds;
    TEvents Events;
  } cases[] = {
      {"26", "3", 3, {}, {"26 LIFFE\\FTSE\\MAR27 26 3"}},
      {"26", "1", 1, {}, {"26 LIFFE\\FTSE\\MAR27 26 1"}},
      {"27", "1", 5, {}, {"26 LIFFE\\FTSE\\MAR27 27 1"}},
      {"27", "4", 8, {}, {"26 LIFFE\\FTSE\\MAR27 27 4"}},
      {"26", "5", 0, {}, {}},
      {"27", "0", 0, {}, {}},
      {"28", "1", 0, {78}, {"8 LIFFE\\FTSE\\MAR27"}},
      {"28", "2", 0, {79}, {"8 LIFFE\\FTSE\\MAR27"}},
      {"28", "3", 0, {78, 79}, {"8 LIFFE\\FTSE\\MAR27"}},
      {"28", "4", 0, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Type) + " level " + c.Level);
    Future()->SetPrice(78, 0, 0);
    Future()->SetPrice(79, 0, 0);
    for (int entry = 1; entry <= 8; ++entry)
      Future()->SetGenericPrice(entry, 0, 0);
    ClearCallbackQueue();

    Price(body(c.Type, c.Level));
    for (int entry = 1; entry <= 8; ++entry)
      EXPECT_EQ(generic(entry), entry == c.Entry ? "6502.5/8" : "-") << "entry " << entry;
    for (int kind : {78, 79}) {
      const bool written = std::find(c.Kinds.begin(), c.Kinds.end(), kind) != c.Kinds.end();
      EXPECT_EQ(Kind(kind), written ? "6502.5/8" : "-") << "kind " << kind;
    }
    EXPECT_EQ(DeliverEvents(), c.Events);
    Price(body(c.Type, c.Level));
    EXPECT_EQ(DeliverEvents(), TEvents{}) << "the same price again";
  }

  Price(body("31", "1"));
  EXPECT_TRUE(Traced("Unknown Generic price type received. Type = 31"));
}

TEST_F(PriceMessagesTest, GenericPriceForAnUnknownOrNotPermittedContractIsTracedAndDropped) {
  Api().Exchanges.FindExchange("LIFFE")->TicketType = 'E';
  const auto strategy = Contract("LIFFE", "FTSE", "MAR27-JUN27");
  ASSERT_FALSE(strategy->IsPermitted());
  Price(PriceBody("0810", 97, {{74, "26"}, {76, "1"}, {77, "10"}, {87, "1"}}, "LIFFE", "FTSE",
                  "MAR27-JUN27"));
  Price(PriceBody("0810", 97, {{74, "28"}, {76, "1"}, {77, "10"}, {87, "1"}}, "LIFFE", "FTSE",
                  "MAR27-JUN27"));
  Price(PriceBody("0810", 97, {{74, "26"}, {76, "1"}, {77, "10"}, {87, "1"}}, "LIFFE", "FTSE",
                  "DEC99"));
  EXPECT_EQ(Show(strategy->GetGenericPrice(1)), "-");
  EXPECT_EQ(Show(strategy->GetPrice(78)), "-");
  EXPECT_EQ(DeliverEvents(), TEvents{});
  EXPECT_TRUE(Traced("Generic Price received for untradable contract : LIFFE\\FTSE\\MAR27-JUN27"));
  EXPECT_TRUE(Traced("Generic Price received for unknown contract : LIFFE\\FTSE\\DEC99"));
}

// ---------------------------------------------------------------------------------------------
// Blanking

TEST_F(PriceMessagesTest, BlankingClearsTheContractOrTheSubscribedContractsOfACommodityOrExchange) {
  Subscribe("LIFFE", "FTSE", "MAR27");
  Subscribe("LIFFE", "GILT", "MAR27");
  const std::vector<std::pair<const char*, const char*>> contracts = {
      {"FTSE", "MAR27"}, {"FTSE", "JUN27"}, {"GILT", "MAR27"}};
  // Which of the contracts above still hold their bid (1) and depth (1); the last trade stays.
  const auto holding = [&] {
    std::string text;
    for (const auto& [commodity, date] : contracts) {
      const auto contract = Contract("LIFFE", commodity, date);
      text += contract->GetPrice(0).Unset ? '0' : '1';
      text += contract->GetPrice(30).Unset ? '0' : '1';
      EXPECT_FALSE(contract->GetPrice(5).Unset);
    }
    return text;
  };
  const struct {
    const char* Name;
    const char* Exchange;
    const char* Commodity;
    const char* ContractDate;
    const char* Holding;
    TEvents Events;
    const char* Trace;
  } cases[] = {
      {"contract", "LIFFE", "FTSE", "JUN27", "110011", {"27 LIFFE\\FTSE\\JUN27"}, nullptr},
      {"commodity", "LIFFE", "FTSE", "", "001111", {"27 LIFFE\\FTSE\\"}, nullptr},
      {"exchange", "LIFFE", "", "", "001100", {"27 LIFFE\\\\"}, nullptr},
      {"nothing named", "", "", "", "111111", {}, nullptr},
      {"unknown contract", "LIFFE", "FTSE", "DEC99", "111111", {},
       "Price Blanking received for unknown contract : LIFFE\\FTSE\\DEC99"},
      {"unknown commodity", "LIFFE", "NONE", "", "111111", {},
       "Price Blanking received for unknown Commodity : LIFFE\\NONE"},
      {"unknown exchange", "NONE", "", "", "111111", {},
       "Price Blanking received for unknown Exchange : NONE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const auto& [commodity, date] : contracts) {
      const auto contract = Contract("LIFFE", commodity, date);
      contract->SetPrice(0, 1, 10);
      contract->SetPrice(30, 1, 10);
      contract->SetPrice(5, 1, 10);
    }
    Price(PriceBody("0806", 74, {}, c.Exchange, c.Commodity, c.ContractDate));
    EXPECT_EQ(holding(), c.Holding);
    EXPECT_EQ(DeliverEvents(), c.Events);
    if (c.Trace) {
      EXPECT_TRUE(Traced(c.Trace));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Settlement

TEST_F(PriceMessagesTest, SettlementTypesStoreTheirKindsAndPostTheirEvent) {
  const auto body = [](const char* type, const char* price = "6480.5") {
    return PriceBody("0085", 101, {{74, price}, {85, "261231"}, {93, "1630"}, {99, type}});
  };
  const struct {
    std::string Body;
    int Kind;  // written, or -1
    TEvents Events;
    const char* Trace;
  } cases[] = {
      {body("7"), 75, {"22 LIFFE\\FTSE\\MAR27 7 6480.5 261231 1630"}, nullptr},
      {body("25"), 76, {"22 LIFFE\\FTSE\\MAR27 25 6480.5 261231 1630"}, nullptr},
      {body("24"), 77, {"22 LIFFE\\FTSE\\MAR27 24 6480.5 261231 1630"}, nullptr},
      {body("33"), -1, {"22 LIFFE\\FTSE\\MAR27 33 6480.5 261231 1630"}, nullptr},
      {body("38"), -1, {"22 LIFFE\\FTSE\\MAR27 38 6480.5 261231 1630"}, nullptr},
      {body("23"), -1, {}, "invalid settlement type = 23"},
      {body("40"), -1, {"22 LIFFE\\FTSE\\MAR27 40 6480.5 261231 1630"},
       "invalid settlement type = 40"},
      {body("7", ""), -1, {}, nullptr},
      {body("").substr(0, 99), 29,
       {"8 LIFFE\\FTSE\\MAR27", "22 LIFFE\\FTSE\\MAR27 0 6480.5 261231 1630"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    for (int kind : {29, 75, 76, 77})
      Future()->SetPrice(kind, 0, 0);
    Price(c.Body);
    for (int kind : {29, 75, 76, 77})
      EXPECT_EQ(Kind(kind), kind == c.Kind ? "6480.5/0" : "-") << "kind " << kind;
    EXPECT_EQ(DeliverEvents(), c.Events);
    if (c.Trace) {
      EXPECT_TRUE(Traced(c.Trace));
    }
  }
}

TEST_F(PriceMessagesTest, TaggedSettlementHasNoDateOrTimeAndTracesNoType) {
  Host("Msg=3688|Ex=LIFFE|C=FTSE|CD=MAR27|PT=25|Pr=6470|");
  Host("Msg=3688|Ex=LIFFE|C=FTSE|CD=MAR27|PT=23|Pr=6471|");
  Host("Msg=3688|Ex=LIFFE|C=FTSE|CD=MAR27|PT=40|Pr=6472|");
  Host("Msg=3688|Ex=LIFFE|C=FTSE|CD=MAR27|PT=7|Pr= |");
  EXPECT_EQ(Kind(76), "6470/0");
  EXPECT_EQ(Kind(75), "-");
  EXPECT_EQ(DeliverEvents(), (TEvents{"22 LIFFE\\FTSE\\MAR27 25 6470 0 0",
                                      "22 LIFFE\\FTSE\\MAR27 40 6472 0 0"}));
  EXPECT_FALSE(Traced("invalid settlement type"));
}

// ---------------------------------------------------------------------------------------------
// Connectivity and broadcasts

TEST_F(PriceMessagesTest, ConnectivityStatusNeedsTheWholeLayoutAndItsNumbers) {
  const TFields good = {{29, "Feed A"}, {169, "1"},        {185, " 22"},       {201, "333"},
                        {217, "five"},  {237, "six text"}, {492, "seven"},     {502, "eight"},
                        {522, "nine"},  {536, "ten end"}};
  const auto body = [&](std::size_t length, const TFields& changes) {
    std::string text(length, ' ');
    PutFixedField(text, 0, 4, "0340");
    for (const TFields* fields : {&good, &changes})
      for (const auto& [offset, value] : *fields)
        PutFixedField(text, offset, value.size(), value);
    return text;
  };
  Price(body(546, {}));
  EXPECT_EQ(DeliverEvents(),
            (TEvents{"14 Feed A|1|22|333|five|six text|seven|eight|nine|ten end|"}));

  const struct {
    const char* Name;
    std::string Body;
  } dropped[] = {
      {"short by one", body(545, {})},
      {"NUL in field 6", body(546, {{300, std::string(1, '\0')}})},
      {"NUL in field 10", body(546, {{545, std::string(1, '\0')}})},
      {"field 2 not a number", body(546, {{169, "x"}})},
      {"field 3 zero", body(546, {{185, "  0"}})},
      {"field 4 blank", body(546, {{201, "   "}})},
  };
  for (const auto& d : dropped) {
    SCOPED_TRACE(d.Name);
    Price(d.Body);
    EXPECT_EQ(DeliverEvents(), TEvents{});
  }
}

TEST_F(PriceMessagesTest, BroadcastsAreLocalMessagesNotifiedOnlyWithNotifyAll) {
  const auto body = [](const char* exchange, const char* text) {
    std::string b(514, ' ');
    PutFixedField(b, 0, 4, "0314");
    PutFixedField(b, 4, 10, exchange);
    PutFixedField(b, 14, 500, text);
    return b;
  };
  Price(body(" LIFFE", "  Market opens late "));
  Api().NotifyAllMessages = true;
  Price(body("CME", "second"));
  std::string third = body("EUREX", "third");
  third.replace(0, 4, "0345");
  Price(third);
  for (const auto& [sequence, content] : std::vector<std::pair<const char*, const char*>>{
           {"0", "LIFFE: Market opens late"}, {"-1", "CME: second"}, {"-2", "EUREX: third"}}) {
    const auto message = Api().UserMessages.FindMessage(sequence);
    ASSERT_TRUE(message) << sequence;
    EXPECT_EQ(message->Content, content);
    EXPECT_EQ(message->IsAlert, alNormal);
    EXPECT_EQ(message->Status, altPending);
  }
  EXPECT_EQ(DeliverEvents(), (TEvents{"4 -1", "4 -2"}));
}

// ---------------------------------------------------------------------------------------------
// The download

TEST_F(PriceMessagesTest, DuringTheDownloadPricesAreStoredAndNoEventIsPosted) {
  Subscribe("LIFFE", "FTSE", "MAR27");
  Api().Features.DOMEnabled = true;
  Api().NotifyAllMessages = true;
  Api().Logon.DownloadInProgress = true;
  std::string connectivity(546, ' ');
  for (const auto& [offset, text] : TFields{{0, "0340"}, {169, "1"}, {185, "1"}, {201, "1"}})
    PutFixedField(connectivity, offset, text.size(), text);
  std::string broadcast(514, ' ');
  PutFixedField(broadcast, 0, 14, "0314LIFFE");
  for (const std::string& body : {
           PriceBody("0806", 74, {}, "LIFFE", "", ""),
           ArrayBody({.Status = "2"}),
           ArrayBody({.Status = "3", .Commodity = "", .ContractDate = ""}),
           DOMBody("6400", "1"),
           VarDOMBody("1", "1"),
           PriceBody("0057", 120, {{80, "1"}, {108, "5"}}),
           PriceBody("0807", 102, {{74, "1"}, {77, "1"}, {88, "5"}}),
           PriceBody("0810", 97, {{74, "26"}, {76, "1"}, {77, "10"}, {87, "1"}}),
           PriceBody("0810", 97, {{74, "28"}, {76, "1"}, {77, "10"}, {87, "1"}}),
           PriceBody("0085", 101, {{74, "6480"}, {99, "7"}}),
           PriceBody("0085", 99, {{74, "6481"}}),
           connectivity,
           broadcast,
       })
    Price(body);
  Host("Msg=3688|Ex=LIFFE|C=FTSE|CD=MAR27|PT=24|Pr=6470|");
  EXPECT_EQ(DeliverEvents(), TEvents{});
  EXPECT_EQ(Kind(5), "6500.5/2");
  EXPECT_EQ(Kind(30), "300/30");
  EXPECT_EQ(Kind(75), "6480/0");
  EXPECT_EQ(Kind(77), "6470/0");
  EXPECT_EQ(Kind(78), "10/1");
  EXPECT_EQ(Kind(29), "6481/0");
  EXPECT_EQ(Future()->Status, 2) << "the status for many waits for the end of the download";
  EXPECT_EQ(Future()->GetAtBest().Entries.size(), 1u);
  EXPECT_EQ(Future()->GetSubscriberDepth().size(), 1u);
  EXPECT_EQ(Show(Future()->GetGenericPrice(1)), "10/1");
  EXPECT_TRUE(Api().UserMessages.FindMessage("0"));
}

// ---------------------------------------------------------------------------------------------
// Held synthetic orders

// A buy stop at 100 on the future of the trading market, held until the last trade reaches it.
class PriceReleasesHeldOrdersTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    AddHostOrderIDs(1001, 2);
    NewOrderStruct record = LimitOrder();
    PutTextAndNul(record.OrderType, "SYNSTOP");
    char id[11];
    ASSERT_EQ(vnAddOrder(&record, id), 0);
    ASSERT_STREQ(id, "S1");
  }
  void Price(std::string_view body) { ProcessMessage(Api(), psPriceFeed, body); }
  bool Released() const { return !requests_->OrderRequests().empty(); }
};

TEST_F(PriceReleasesHeldOrdersTest, ByAPriceArrayLastTrade) {
  Price(ArrayBody({.Last = "99.5", .LastVolume = "1"}));
  EXPECT_FALSE(Released());
  Price(ArrayBody({.Bid = "99", .Last = "99.5", .LastVolume = "1"}));  // the trade repeats
  EXPECT_FALSE(Released());
  Price(ArrayBody({.Last = "100", .LastVolume = "1", .TotalVolume = "101"}));
  ASSERT_TRUE(Released());
  EXPECT_EQ(requests_->OrderRequests()[0].Order->ID, "1002");
  EXPECT_FALSE(Api().Orders.FindOrder("S1"));
}

TEST_F(PriceReleasesHeldOrdersTest, ByADepthLastTrade) {
  Api().Features.DOMEnabled = true;
  Price(DOMBody("99", "2"));
  EXPECT_FALSE(Released());
  Price(DOMBody("100.25", "2"));
  ASSERT_TRUE(Released());
  EXPECT_EQ(requests_->OrderRequests()[0].Order->ID, "1002");
}

}  // namespace
}  // namespace vorn
