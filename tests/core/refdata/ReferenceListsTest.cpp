#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/OrderIDQ.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/ReportType.h"
#include "core/refdata/Subscriptions.h"
#include "core/refdata/UserLogon.h"
#include "core/refdata/UserMessage.h"
#include "core/session/ClassAPI.h"
#include "core/store/ObjStream.h"
#include "core/util/Exceptions.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

std::vector<std::string> KeysOf(const TIndexList& list) {
  std::vector<std::string> keys;
  for (int i = 0; i < list.Count(); ++i) {
    std::string key;
    list.GetKey(*list.Items(i), key);
    keys.push_back(key);
  }
  return keys;
}

std::shared_ptr<TCommodity> MakeCommodity(std::string_view exchange, std::string name) {
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName(exchange);
  commodity->SetName(std::move(name));
  return commodity;
}

std::shared_ptr<TOrderTypeItem> MakeOrderType(std::string_view exchange, std::string name,
                                              TOrderTypes id) {
  auto orderType = std::make_shared<TOrderTypeItem>();
  orderType->SetExchangeName(exchange);
  orderType->SetName(std::move(name));
  orderType->OrderTypeID = id;
  return orderType;
}

std::shared_ptr<TExchangeRate> MakeRate(std::string currency, double rate) {
  auto item = std::make_shared<TExchangeRate>();
  item->Currency = std::move(currency);
  item->Rate = rate;
  return item;
}

std::shared_ptr<TReportType> MakeReportType(std::string type) {
  auto item = std::make_shared<TReportType>();
  item->ReportType = std::move(type);
  return item;
}

std::shared_ptr<TUserMessage> MakeMessage(std::string sequence, std::string content = "") {
  auto item = std::make_shared<TUserMessage>();
  item->SetSequence(std::move(sequence));
  item->Content = std::move(content);
  return item;
}

std::shared_ptr<TUserLogon> MakeLogon(std::int32_t sequence, std::string user) {
  auto item = std::make_shared<TUserLogon>();
  item->Sequence = sequence;
  item->UserName = std::move(user);
  return item;
}

// The lists as the API object holds them, each filled out of key order.
struct TLists {
  TSubscriptions Book;
  TExchangeQ Exchanges{Book};
  TCommodityQ Commodities{Exchanges};
  TOrderTypeQ OrderTypes{Exchanges};
  TExchangeRateQ Rates;
  TReportTypeQ ReportTypes;
  TUserMessageQ Messages;
  TUserLogonQ Logons;
  TOrderIDQ OrderIDs;

  void Fill() {
    Exchanges.FindOrAdd("LIFFE");
    Exchanges.FindOrAdd(" eurex ");
    Exchanges.FindOrAdd("CME");
    Exchanges.FindOrAdd("LIFFE")->Decimals = 4;

    // "IC"/"EBRN" and "ICE"/"BRN" differ only in where the separator stands.
    Commodities.Add(MakeCommodity("LIFFE", "Z"));
    Commodities.Add(MakeCommodity(" LIFFE ", " FTSE "));
    Commodities.Add(MakeCommodity("ICE", "BRN"));
    Commodities.Add(MakeCommodity("IC", "EBRN"));
    Commodities.FindCommodity("LIFFE", "FTSE")->TickSize = 0.5;

    OrderTypes.Add(MakeOrderType("LIFFE", "Limit", otLimit));
    OrderTypes.Add(MakeOrderType("CME", " Market ", otMarket));
    OrderTypes.Add(MakeOrderType("NYMEX", "Stop", otStop));
    OrderTypes.Add(MakeOrderType("CME", "SynStop", otSyntheticStop));

    Rates.Add(MakeRate("USD", 1.25));
    Rates.Add(MakeRate("EUR", 1.5));
    Rates.Add(MakeRate("GBP", 1));

    ReportTypes.Add(MakeReportType("Trades"));
    ReportTypes.Add(MakeReportType("Daily"));

    Messages.Add(MakeMessage("12", "twelve"));
    Messages.Add(MakeMessage("-1", "local"));
    Messages.Add(MakeMessage(" 7 ", "seven"));
    Messages.Add(MakeMessage("12345678901", "long"));

    Logons.Add(MakeLogon(2, "second"));
    Logons.Add(MakeLogon(1, "first"));

    OrderIDs.AddOrderID("N2");
    OrderIDs.AddOrderID("17");
    OrderIDs.AddOrderID("N1");
  }
};

struct TListCase {
  const char* Name;
  std::function<const TIndexList&(const TLists&)> List;
  bool Sorted;
  std::vector<std::string> Keys;
};

const std::vector<TListCase>& ListCases() {
  static const std::vector<TListCase> cases = {
      // Exchanges made by name, by a commodity (ICE, IC), none by an order type (NYMEX).
      {"Exchanges",
       [](const TLists& l) -> const TIndexList& { return l.Exchanges; },
       true,
       {"CME", "eurex", "IC", "ICE", "LIFFE"}},
      {"Commodities",
       [](const TLists& l) -> const TIndexList& { return l.Commodities; },
       true,
       {"IC\1EBRN", "ICE\1BRN", "LIFFE\1FTSE", "LIFFE\1Z"}},
      {"Order Type",
       [](const TLists& l) -> const TIndexList& { return l.OrderTypes; },
       true,
       {"CME\1Market", "CME\1SynStop", "LIFFE\1Limit", "NYMEX\1Stop"}},
      {"Exchange Rate",
       [](const TLists& l) -> const TIndexList& { return l.Rates; },
       true,
       {"EUR", "GBP", "USD"}},
      {"Report Type",
       [](const TLists& l) -> const TIndexList& { return l.ReportTypes; },
       true,
       {"Daily", "Trades"}},
      // Padded to ten, the last ten kept; '-' sorts before the digits.
      {"User Messages",
       [](const TLists& l) -> const TIndexList& { return l.Messages; },
       true,
       {"00000000-1", "0000000007", "0000000012", "2345678901"}},
      {"User Logon",
       [](const TLists& l) -> const TIndexList& { return l.Logons; },
       false,
       {"", ""}},
      {"OrderIDs",
       [](const TLists& l) -> const TIndexList& { return l.OrderIDs; },
       false,
       {"N2", "17", "N1"}},
  };
  return cases;
}

TEST(ReferenceListsTest, EveryListHasItsNameKeysAndIndexOrder) {
  TLists lists;
  lists.Fill();
  for (const auto& c : ListCases()) {
    SCOPED_TRACE(c.Name);
    const TIndexList& list = c.List(lists);
    EXPECT_EQ(list.Name(), c.Name);
    EXPECT_EQ(list.Sorted(), c.Sorted);
    EXPECT_TRUE(list.OwnsObjects());
    EXPECT_EQ(KeysOf(list), c.Keys);
  }
  EXPECT_EQ(lists.Logons.At(0)->UserName, "second");
}

TEST(ReferenceListsTest, EqualKeysAreRefusedAsDuplicates) {
  TLists lists;
  lists.Fill();
  EXPECT_FALSE(lists.Messages.Add(MakeMessage("0000000007")).Added);
  EXPECT_EQ(lists.Messages.FindMessage("7")->Content, "seven");
  EXPECT_FALSE(lists.Commodities.Add(MakeCommodity("LIFFE ", " FTSE")).Added);
  EXPECT_FALSE(lists.OrderTypes.Add(MakeOrderType(" CME", "Market", otLimit)).Added);
  EXPECT_FALSE(lists.Rates.Add(MakeRate("EUR", 9)).Added);
  EXPECT_EQ(lists.Exchanges.FindOrAdd(" LIFFE"), lists.Exchanges.FindExchange("LIFFE"));
  EXPECT_EQ(lists.Exchanges.Count(), 5);
  EXPECT_EQ(lists.Commodities.Count(), 4);
  EXPECT_EQ(lists.OrderTypes.Count(), 4);
  EXPECT_EQ(lists.Rates.GetRate("EUR"), 1.5);
  // Keys differing only in case are different keys.
  EXPECT_TRUE(lists.Rates.Add(MakeRate("eur", 2)).Added);
}

TEST(ReferenceListsTest, LookUpsByNameAndByKey) {
  TLists lists;
  lists.Fill();
  auto& ex = lists.Exchanges;

  // An empty or blank exchange name finds nothing and makes nothing.
  EXPECT_EQ(ex.FindOrAdd(""), nullptr);
  EXPECT_EQ(ex.FindOrAdd("   "), nullptr);
  EXPECT_EQ(ex.Count(), 5);
  EXPECT_EQ(ex.FindExchange("NYMEX"), nullptr);
  auto made = ex.FindOrAdd(" SGX ");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name(), "SGX");
  EXPECT_EQ(ex.FindExchange("SGX"), made);

  auto ftse = lists.Commodities.FindCommodity(" LIFFE", "FTSE ");
  ASSERT_NE(ftse, nullptr);
  EXPECT_EQ(ftse->Name(), " FTSE ");
  EXPECT_EQ(ftse->ExchangeName(), "LIFFE");
  EXPECT_EQ(ftse->Exchange(), ex.FindExchange("LIFFE"));
  EXPECT_EQ(ftse->TickSize, 0.5);
  EXPECT_EQ(lists.Commodities.FindCommodity("LIFFE", "ftse"), nullptr);
  EXPECT_TRUE(lists.Commodities.KeyExists(TCommodityQ::MakeKey("ICE ", " BRN")));
  EXPECT_EQ(lists.Commodities.FindCommodity("", "BRN"), nullptr);

  auto& types = lists.OrderTypes;
  ASSERT_NE(types.FindOrderType("CME", "Market"), nullptr);
  EXPECT_EQ(types.FindOrderType("CME", "Market")->Exchange(), ex.FindExchange("CME"));
  // An order type of an unknown exchange keeps its name but gets no exchange.
  auto stop = types.FindOrderType("NYMEX", "Stop");
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->Exchange(), nullptr);
  EXPECT_EQ(types.FindOrderTypeByID(" CME ", otSyntheticStop),
            types.FindOrderType("CME", "SynStop"));
  EXPECT_EQ(types.FindOrderTypeByID("LIFFE", otLimit), types.FindOrderType("LIFFE", "Limit"));
  EXPECT_EQ(types.FindOrderTypeByID("CME", otLimit), nullptr);
  EXPECT_EQ(types.FindOrderTypeByID("LIFFE", otMarket), nullptr);
  // Found as listed, whatever the caller would have made; made with the caller's values, its
  // exchange attached and its name trimmed.
  const int typeCount = types.Count();
  EXPECT_EQ(types.FindOrMakeOrderType("CME", " Market ", {otLimit, false, 1}),
            types.FindOrderType("CME", "Market"));
  auto aggregate = types.FindOrMakeOrderType("CME", " AggOrder ", {25, false, 1});
  ASSERT_NE(aggregate, nullptr);
  EXPECT_EQ(types.Count(), typeCount + 1);
  EXPECT_EQ(types.FindOrderType("CME", "AggOrder"), aggregate);
  EXPECT_EQ(aggregate->Name(), "AggOrder");
  EXPECT_EQ(aggregate->OrderTypeID, 25);
  EXPECT_FALSE(aggregate->AutoCreated);
  EXPECT_EQ(aggregate->PricesRequired, 1);
  EXPECT_EQ(aggregate->Exchange(), ex.FindExchange("CME"));

  EXPECT_EQ(lists.Rates.GetRate("USD"), 1.25);
  EXPECT_EQ(lists.Rates.GetRate("JPY"), 0.0);
  EXPECT_EQ(lists.Rates.GetRate(""), 0.0);

  EXPECT_EQ(lists.Messages.FindMessage("0000000007"), lists.Messages.FindMessage("7"));
  EXPECT_EQ(lists.Messages.FindMessage("-1")->Content, "local");
  EXPECT_EQ(lists.Messages.FindMessage("8"), nullptr);

  EXPECT_EQ(lists.ReportTypes.Get("Daily")->ReportType, "Daily");
}

TEST(ReferenceListsTest, OnlyTheFourSyntheticTypesAreSynthetic) {
  for (int id = 0; id <= 500; ++id) {
    SCOPED_TRACE(id);
    TOrderTypeItem item;
    item.OrderTypeID = static_cast<TOrderTypes>(id);
    EXPECT_EQ(item.IsSynthetic(), id == 6 || id == 7 || id == 9 || id == 19);
  }
}

TEST(ReferenceListsTest, CreatedItemsHaveTheirDefaults) {
  TExchange exchange;
  EXPECT_EQ(exchange.StrategyCreator, scNone);
  EXPECT_FALSE(exchange.EnableBlock || exchange.EnableBasis || exchange.EnableAA ||
               exchange.EnableCross);
  EXPECT_EQ(exchange.GetUUID(), "");  // the exchange receiver counts an exchange without one as new
  EXPECT_EQ(TOrderTypeItem().TicketType, "00");
  EXPECT_EQ(TCommodity().Key(), "\1");
  EXPECT_EQ(TUserMessage().Key(), "0000000000");
}

TEST(ReferenceListsTest, BroadcastRequestsGoToTheSubscriptionBook) {
  TLists lists;
  auto liffe = lists.Exchanges.FindOrAdd("LIFFE");
  EXPECT_TRUE(lists.Exchanges.SubscribeBroadcast(liffe));
  EXPECT_TRUE(lists.Exchanges.UnsubscribeBroadcast(liffe));
  EXPECT_FALSE(lists.Exchanges.SubscribeBroadcast(nullptr));
  EXPECT_FALSE(lists.Exchanges.SubscribeBroadcast(lists.Exchanges.FindOrAdd(" ")));
  const std::vector<TSubscriptionRequest> expected = {
      {TSubscriptionKind::Broadcast, {"LIFFE", "", ""}, true},
      {TSubscriptionKind::Broadcast, {"LIFFE", "", ""}, false},
  };
  EXPECT_EQ(lists.Book.PendingPriceRequests(), expected);
}

TEST(ReferenceListsTest, OrderIdsAreTakenInTheOrderTheyCame) {
  TOrderIDQ ids;
  ids.AddOrderID("101");
  ids.AddOrderID("102");
  ids.AddOrderID("103");
  EXPECT_EQ(ids.RemoveKey("102"), 1);
  std::string id;
  ASSERT_TRUE(ids.TakeFirst(id));
  EXPECT_EQ(id, "101");
  ASSERT_TRUE(ids.TakeFirst(id));
  EXPECT_EQ(id, "103");
  EXPECT_FALSE(ids.TakeFirst(id));
  EXPECT_EQ(id, "103");
}

// --- Store ---------------------------------------------------------------------------------

struct TStreamCase {
  const char* Class;
  std::shared_ptr<TStreamable> Item;
  std::vector<std::string> Properties;
  // The encoding expected of Item, written field by field.
  std::function<void(TStream&)> Expected;
};

std::vector<TStreamCase> StreamCases() {
  auto exchange = std::make_shared<TExchange>("LIFFE");
  exchange->QueryEnabled = true;
  exchange->StrategyCreator = scStrategyCreator;
  exchange->EnableBasis = true;
  exchange->Decimals = 3;
  exchange->TicketType = 'E';
  exchange->RFQT = true;
  exchange->ISO = "XLIF";

  auto commodity = MakeCommodity("LIFFE", "FTSE");
  commodity->Currency = "GBP";
  commodity->Group = "IDX";
  commodity->OnePoint = 10;
  commodity->TickSize = 0.5;
  commodity->TicksPerPoint = 2;

  auto orderType = MakeOrderType("CME", "Stop", otSyntheticStopLimit);
  orderType->PricesRequired = 2;
  orderType->VolumesRequired = 1;
  orderType->DatesRequired = 3;
  orderType->AutoCreated = true;
  orderType->TimeTriggered = 'Y';
  orderType->RealSynthetic = 'N';
  orderType->GTCFlag = 'Y';
  orderType->TicketType = "01";

  auto message = MakeMessage("42", "Hello");
  message->IsAlert = alSuppress;
  message->Status = altCleared;

  auto logon = MakeLogon(7, "trader");
  logon->LastDate = 39211;
  logon->DBSequence = "1200";
  logon->RefSequence = "88";
  logon->DBIdentifier = "DB1";

  return {
      {"TExchange",
       exchange,
       {"AmendEnabled", "CustomDecimal", "Decimals", "EnableAA", "EnableBasis", "EnableBlock",
        "EnableCross", "ISO", "Name", "QueryEnabled", "RFQA", "RFQT", "StrategyCreator",
        "TicketType"},
       [](TStream& s) {
         s.WriteCompact(0);  // AmendEnabled
         s.WriteCompact(0);  // CustomDecimal
         s.WriteCompact(3);  // Decimals
         s.WriteCompact(0);  // EnableAA
         s.WriteCompact(1);  // EnableBasis
         s.WriteCompact(0);  // EnableBlock
         s.WriteCompact(0);  // EnableCross
         s.WriteString("XLIF");
         s.WriteString("LIFFE");
         s.WriteCompact(1);  // QueryEnabled
         s.WriteCompact(0);  // RFQA
         s.WriteCompact(1);  // RFQT
         s.WriteCompact(2);  // StrategyCreator
         s.WriteChar('E');
       }},
      {"TCommodity",
       commodity,
       {"Currency", "ExchangeName", "Group", "MarketSubscriptionCount", "Name", "OnePoint",
        "TickSize", "TicksPerPoint"},
       [](TStream& s) {
         s.WriteString("GBP");
         s.WriteString("LIFFE");
         s.WriteString("IDX");
         s.WriteCompact(0);
         s.WriteString("FTSE");
         s.WriteFloat(10);
         s.WriteFloat(0.5);
         s.WriteCompact(2);
       }},
      {"TOrderTypeItem",
       orderType,
       {"AutoCreated", "DatesRequired", "ExchangeName", "GTCFlag", "Name", "OrderTypeID",
        "PricesRequired", "RealSynthetic", "TicketType", "TimeTriggered", "VolumesRequired"},
       [](TStream& s) {
         s.WriteCompact(1);
         s.WriteCompact(3);
         s.WriteString("CME");
         s.WriteChar('Y');
         s.WriteString("Stop");
         s.WriteCompact(7);
         s.WriteCompact(2);
         s.WriteChar('N');
         s.WriteString("01");
         s.WriteChar('Y');
         s.WriteCompact(1);
       }},
      {"TExchangeRate",
       MakeRate("EUR", 1.5),
       {"Currency", "Rate"},
       [](TStream& s) {
         s.WriteString("EUR");
         s.WriteFloat(1.5);
       }},
      {"TReportType",
       MakeReportType("Daily"),
       {"ReportType"},
       [](TStream& s) { s.WriteString("Daily"); }},
      {"TUserMessage",
       message,
       {"Content", "IsAlert", "Sequence", "Status"},
       [](TStream& s) {
         s.WriteString("Hello");
         s.WriteCompact(3);
         s.WriteString("42");
         s.WriteCompact(1);
       }},
      {"TUserLogon",
       logon,
       {"DBIdentifier", "DBSequence", "LastDate", "RefSequence", "Sequence", "UserName"},
       [](TStream& s) {
         s.WriteString("DB1");
         s.WriteString("1200");
         s.WriteCompact(39211);
         s.WriteString("88");
         s.WriteCompact(7);
         s.WriteString("trader");
       }},
      {"TPreAllocatedOrderID",
       std::make_shared<TPreAllocatedOrderID>("N12"),
       {"OrderID"},
       [](TStream& s) { s.WriteString("N12"); }},
  };
}

std::string PropertyBytes(const TStreamable& item) {
  TStream stream;
  WriteProperties(stream, item);
  item.WriteExtra(stream);
  return stream.Bytes();
}

TEST(ReferenceListsTest, EachItemClassStreamsItsPublishedPropertiesInNameOrder) {
  for (const auto& c : StreamCases()) {
    SCOPED_TRACE(c.Class);
    const TStreamClass& description = c.Item->StreamClass();
    EXPECT_STREQ(description.Name(), c.Class);
    std::vector<std::string> names;
    for (const auto& property : description.Properties())
      names.push_back(property.Name);
    EXPECT_EQ(names, c.Properties);

    TStream expected;
    c.Expected(expected);
    EXPECT_EQ(PropertyBytes(*c.Item), expected.Bytes());
  }
}

// Saves a filled list to a store file of its own and reads it into a fresh one.
template <class List>
void SaveAndLoad(List& from, List& to, const std::string& path) {
  from.SaveToFile(path);
  TStream stream;
  ASSERT_TRUE(stream.LoadFromFile(path));
  ASSERT_TRUE(ReadStoreHeader(stream));
  EXPECT_TRUE(to.LoadFromStream(stream, true));
}

TEST(ReferenceListsTest, EveryListSurvivesTheStoreWithItsOrderAndValues) {
  TTempDir dir;
  TLists saved;
  saved.Fill();
  TLists loaded;
  SaveAndLoad(saved.Exchanges, loaded.Exchanges, dir.File("ex.dat"));
  SaveAndLoad(saved.Commodities, loaded.Commodities, dir.File("com.dat"));
  SaveAndLoad(saved.OrderTypes, loaded.OrderTypes, dir.File("ot.dat"));
  SaveAndLoad(saved.Rates, loaded.Rates, dir.File("rate.dat"));
  SaveAndLoad(saved.ReportTypes, loaded.ReportTypes, dir.File("rt.dat"));
  SaveAndLoad(saved.Messages, loaded.Messages, dir.File("msg.dat"));
  SaveAndLoad(saved.Logons, loaded.Logons, dir.File("logon.dat"));
  SaveAndLoad(saved.OrderIDs, loaded.OrderIDs, dir.File("ids.dat"));

  for (const auto& c : ListCases()) {
    SCOPED_TRACE(c.Name);
    const TIndexList& before = c.List(saved);
    const TIndexList& after = c.List(loaded);
    ASSERT_EQ(KeysOf(after), c.Keys);
    for (int i = 0; i < before.Count(); ++i)
      EXPECT_EQ(PropertyBytes(*after.Items(i)), PropertyBytes(*before.Items(i))) << i;
  }
  // Loaded commodities found their exchanges; the order type of an unknown exchange did not.
  auto ftse = loaded.Commodities.FindCommodity("LIFFE", "FTSE");
  EXPECT_EQ(ftse->Exchange(), loaded.Exchanges.FindExchange("LIFFE"));
  EXPECT_EQ(loaded.OrderTypes.FindOrderType("NYMEX", "Stop")->Exchange(), nullptr);
  EXPECT_EQ(loaded.Exchanges.FindExchange("LIFFE")->Decimals, 4);
}

TEST(ReferenceListsTest, LoadingCommoditiesMakesTheirUnknownExchanges) {
  TTempDir dir;
  TLists saved;
  saved.Commodities.Add(MakeCommodity("LIFFE", "FTSE"));
  saved.Commodities.Add(MakeCommodity("", "ORPHAN"));
  saved.OrderTypes.Add(MakeOrderType("CME", "Limit", otLimit));
  TLists loaded;
  SaveAndLoad(saved.Commodities, loaded.Commodities, dir.File("com.dat"));
  SaveAndLoad(saved.OrderTypes, loaded.OrderTypes, dir.File("ot.dat"));
  // Only LIFFE: no exchange with an empty name, none for an order type.
  EXPECT_EQ(KeysOf(loaded.Exchanges), std::vector<std::string>{"LIFFE"});
  EXPECT_EQ(loaded.Commodities.FindCommodity("", "ORPHAN")->Exchange(), nullptr);
}

// --- Events --------------------------------------------------------------------------------

class ReferenceEventsTest : public ::testing::Test {
 protected:
  ReferenceEventsTest() {
    ExchangeAPI(std::make_shared<TClassAPI>());
    FreeCallbackRegistrations();
    ClearCallbackQueue();
    clock_.SetNow(39211.5);
  }
  ~ReferenceEventsTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ClearCallbackQueue();
    ExchangeAPI(nullptr);
  }

  // The deliveries as id and names, for comparison.
  std::vector<std::string> Delivered(std::size_t count) {
    EXPECT_TRUE(recorder_.WaitForCount(count));
    std::vector<std::string> out;
    for (const auto& d : recorder_.Deliveries()) {
      const char* text = reinterpret_cast<const char*>(d.Payload.data());
      std::string line = std::to_string(d.Id) + " " + text;
      if (d.Id == VN_CB_COMMODITY_UPDATED) line += std::string("/") + (text + 11);
      out.push_back(line);
    }
    return out;
  }

  TTempDir dir_;
  TFakeClock clock_;
  TClockInstaller installer_{clock_};
  TCallbackRecorder recorder_;
};

TEST_F(ReferenceEventsTest, SlotOperationsStampSetStateTellMembersAndPostTheirEvents) {
  TLists lists;
  auto liffe = lists.Exchanges.FindOrAdd("LIFFE");
  auto ftse = MakeCommodity("LIFFE", "FTSE");
  lists.Commodities.Add(ftse);
  liffe->AddMember(ftse);
  ASSERT_EQ(TCallbackRecorder::Register(VN_CB_EXCHANGE_UPDATED), VN_RC_SUCCESS);
  ASSERT_EQ(TCallbackRecorder::Register(VN_CB_COMMODITY_UPDATED), VN_RC_SUCCESS);
  StartCallbackThread();

  liffe->Expire();
  EXPECT_EQ(liffe->State, TUUIDStreamable::usExpired);
  EXPECT_EQ(liffe->ExpiryTime, 39211.5);
  EXPECT_EQ(ftse->State, TUUIDStreamable::usExpired);
  EXPECT_EQ(ftse->ExpiryTime, 39211.5);

  clock_.SetNow(39212.25);
  liffe->Deactivate(true);
  EXPECT_EQ(liffe->State, TUUIDStreamable::usInactive);
  EXPECT_EQ(liffe->DeactivationTime, 39212.25);
  EXPECT_EQ(liffe->ExpiryTime, 0);
  EXPECT_EQ(ftse->State, TUUIDStreamable::usInactive);

  // Members are deactivated only when asked.
  ftse->Activate(true);
  liffe->Deactivate(false);
  EXPECT_EQ(ftse->State, TUUIDStreamable::usActive);

  liffe->Activate(true);
  EXPECT_EQ(liffe->State, TUUIDStreamable::usActive);
  EXPECT_EQ(liffe->ActivationTime, 39212.25);

  // Members first, then the item's own event.
  const std::vector<std::string> expected = {"32 LIFFE/FTSE", "31 LIFFE",      "32 LIFFE/FTSE",
                                             "31 LIFFE",      "32 LIFFE/FTSE", "31 LIFFE",
                                             "32 LIFFE/FTSE", "31 LIFFE"};
  EXPECT_EQ(Delivered(expected.size()), expected);
}

TEST_F(ReferenceEventsTest, PurgeRunsEndOfSessionOnlyForAnExpiredExchangeAndAlwaysReports) {
  TLists lists;
  auto liffe = lists.Exchanges.FindOrAdd("LIFFE");
  lists.Exchanges.FindOrAdd("CME");
  auto ftse = MakeCommodity("LIFFE", "FTSE");
  liffe->AddMember(ftse);
  std::vector<std::string> ended;
  lists.Exchanges.SetOnEndOfSession([&](TExchange& exchange) {
    ended.push_back(exchange.Name());
    throw Exception("traced, not passed on");
  });
  ASSERT_EQ(TCallbackRecorder::Register(VN_CB_PURGE_COMPLETED), VN_RC_SUCCESS);
  StartCallbackThread();

  liffe->Expire();           // expiry stamped now
  lists.Exchanges.Purge(0);  // CanPurge is asked of the time now, not of the purge time
  EXPECT_EQ(ended, std::vector<std::string>{"LIFFE"});
  EXPECT_EQ(liffe->Members.Count(), 0u);

  liffe->Activate(true);  // no longer expired
  lists.Exchanges.Purge(clock_.NowLocal());
  EXPECT_EQ(ended.size(), 1u);

  // Every exchange reports, the last first.
  const std::vector<std::string> expected = {"36 LIFFE", "36 CME", "36 LIFFE", "36 CME"};
  EXPECT_EQ(Delivered(expected.size()), expected);
}

}  // namespace
}  // namespace vorn
