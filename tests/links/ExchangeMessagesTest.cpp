#include "links/ExchangeMessages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/OrderType.h"
#include "core/session/ClassAPI.h"
#include "core/store/UUIDObjects.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

// An event as the application sees it: the id and the text at the start of its record (the
// exchange, the currency, or the order type's name).
using TEvent = std::pair<std::int32_t, std::string>;
using TEvents = std::vector<TEvent>;

// A fixed-width body: the code, then each (offset, text).
std::string Legacy(const char* code, std::size_t length,
                   std::initializer_list<std::pair<std::size_t, std::string_view>> fields) {
  std::string body(length, ' ');
  PutFixedField(body, 0, 4, code);
  for (const auto& [offset, text] : fields)
    PutFixedField(body, offset, text.size(), text);
  return body;
}

std::string LegacyExchange(const char* code, std::string_view name) {
  return Legacy(code, 14, {{4, name}});
}
std::string LegacyRate(const char* code, std::string_view currency, std::string_view rate) {
  return Legacy(code, 24, {{4, currency}, {14, rate}});
}
// Type id, exchange, name, then the prices, volumes and dates digits.
std::string LegacyOrderType(const char* code, std::string_view id, std::string_view exchange,
                            std::string_view name, std::string_view digits) {
  return Legacy(code, 30, {{4, id}, {7, exchange}, {17, name}, {27, digits}});
}

class ExchangeMessagesTest : public ::testing::Test {
 protected:
  ExchangeMessagesTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    CloseUUIDLog();  // the log opens in this test's client path
    ExchangeAPI(api_);
  }
  ~ExchangeMessagesTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    ClearCallbackQueue();
    CloseUUIDLog();
  }

  void Host(THostReceiver receiver, std::string_view text) {
    TFieldsList fields = Fields(text);
    receiver(*api_, fields);
  }

  // Delivers what is queued and returns it in posting order.
  TEvents Events() {
    TEvents events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      const auto* text = reinterpret_cast<const char*>(delivery.Payload.data());
      events.emplace_back(delivery.Id, std::string(text, strnlen(text, 11)));
    }
    return events;
  }

  std::shared_ptr<TOrderTypeItem> OrderType(std::string_view exchange, std::string_view name) {
    return api_->OrderTypes.FindOrderType(exchange, name);
  }

  void NewAPI() {
    ExchangeAPI(nullptr);
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
  }

  TTempDir dir_;
  std::shared_ptr<TClassAPI> api_ = std::make_shared<TClassAPI>();
};

TEST_F(ExchangeMessagesTest, ExchangeMessagesAddUpdateAndIgnoreDeletes) {
  struct TCase {
    const char* name;
    const char* earlier;  // applied first, its events dropped
    const char* message;
    bool listed;
    bool queryEnabled;
    const char* uuid;
    const char* log;  // the whole UUID log
    TEvents events;
  };
  const TCase cases[] = {
      {"3664 adds, with its UUID",
       nullptr,
       "Msg=3664|Ex= LME |QE=Y|GUID={G1}|Act=2|",
       true,
       true,
       "{G1}",
       "LME\t\t{G1}\tStatus=Inactive\r\n",
       {{31, "LME"}}},
      {"3665 updates a listed exchange and keeps its UUID",
       "Msg=3664|Ex=LME|GUID={G1}|",
       "Msg=3665|Ex=LME|QE=Y|",
       true,
       true,
       "{G1}",
       "LME\t\t{G1}\tStatus=Active\r\n",
       {{31, "LME"}}},
      {"3665 of an unlisted exchange is an add",
       nullptr,
       "Msg=3665|Ex=LME|GUID={G2}|",
       true,
       false,
       "{G2}",
       "LME\t\t{G2}\tStatus=Active\r\n",
       {{31, "LME"}}},
      {"3666 changes a listed exchange not at all",
       "Msg=3664|Ex=LME|GUID={G1}|",
       "Msg=3666|Ex=LME|QE=Y|",
       true,
       false,
       "{G1}",
       "LME\t\t{G1}\tStatus=Active\r\n",
       {}},
      {"3666 of an unlisted exchange adds nothing",
       nullptr,
       "Msg=3666|Ex=LME|",
       false,
       false,
       nullptr,
       "",
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir rowDir;  // a UUID log of the row's own
    CloseUUIDLog();
    NewAPI();
    api_->OMIEnabled = false;
    if (c.earlier) Host(ReceiveExchange, c.earlier);
    ClearCallbackQueue();
    Host(ReceiveExchange, c.message);
    const auto exchange = api_->Exchanges.FindExchange("LME");
    ASSERT_EQ(exchange != nullptr, c.listed);
    EXPECT_EQ(api_->Exchanges.Count(), c.listed ? 1 : 0);
    if (exchange) {
      EXPECT_EQ(exchange->QueryEnabled, c.queryEnabled);
      EXPECT_EQ(exchange->GetUUID(), c.uuid);
      EXPECT_TRUE(api_->UUIDObjects->FindGroup(c.uuid));
    }
    CloseUUIDLog();
    EXPECT_EQ(ReadFileText(rowDir.File(kUUIDObjectFileName)), c.log);
    EXPECT_EQ(Events(), c.events);
  }
}

TEST_F(ExchangeMessagesTest, TaggedExchangeWritesItsFields) {
  Host(ReceiveExchange, "Msg=3664|Ex=ICE|QE=N|Cde=Y|Dcs=3|TicT=XY|RFQA=Y|RFQT=Y|ISO=IFEU|Act=1|");
  const auto exchange = api_->Exchanges.FindExchange("ICE");
  ASSERT_TRUE(exchange);
  EXPECT_FALSE(exchange->QueryEnabled);
  EXPECT_TRUE(exchange->AmendEnabled);
  EXPECT_TRUE(exchange->CustomDecimal);
  EXPECT_EQ(exchange->Decimals, 3);
  EXPECT_EQ(exchange->TicketType, 'X');
  EXPECT_TRUE(exchange->RFQA);
  EXPECT_TRUE(exchange->RFQT);
  EXPECT_EQ(exchange->ISO, "IFEU");
  EXPECT_EQ(exchange->State, TUUIDStreamable::usActive);
  // Without a GUID a new one is made.
  EXPECT_EQ(exchange->GetUUID().size(), 38u);
}

TEST_F(ExchangeMessagesTest, OMISwitchAddsTheTwoOrderTypesOnceAndDropsTheirMessagesWhenOff) {
  // A received "CustReq" is kept as it came.
  Host(ReceiveExchange, "Msg=3664|Ex=LME|");
  api_->OrderTypes.Clear();
  Host(ReceiveOrderType, "Msg=3667|Ex=LME|OTy=CustReq|TID=26|PrR=0|");
  Host(ReceiveExchange, "Msg=3665|Ex=LME|");
  Host(ReceiveExchange, "Msg=3665|Ex=LME|");
  EXPECT_EQ(api_->OrderTypes.Count(), 2);
  const auto customer = OrderType("LME", "CustReq");
  ASSERT_TRUE(customer);
  EXPECT_FALSE(customer->AutoCreated);
  EXPECT_EQ(customer->PricesRequired, 0);
  const auto aggregate = OrderType("LME", "AggOrder");
  ASSERT_TRUE(aggregate);
  EXPECT_TRUE(aggregate->AutoCreated);
  EXPECT_EQ(aggregate->OrderTypeID, otAggregateOrder);
  EXPECT_EQ(aggregate->Exchange(), api_->Exchanges.FindExchange("LME"));

  Host(ReceiveExchange, "Msg=3664|Ex=CME|");
  const auto made = OrderType("CME", "CustReq");
  ASSERT_TRUE(made);
  EXPECT_TRUE(made->AutoCreated);
  EXPECT_EQ(made->OrderTypeID, 26);
  EXPECT_EQ(made->PricesRequired, 1);

  api_->OMIEnabled = false;
  Host(ReceiveExchange, "Msg=3664|Ex=EUX|");
  Host(ReceiveOrderType, "Msg=3667|Ex=EUX|OTy=AggOrder|TID=25|");
  Host(ReceiveOrderType, "Msg=3667|Ex=EUX|OTy=Limit|TID=2|");
  EXPECT_FALSE(OrderType("EUX", "CustReq"));
  EXPECT_FALSE(OrderType("EUX", "AggOrder"));
  EXPECT_TRUE(OrderType("EUX", "Limit"));
}

TEST_F(ExchangeMessagesTest, OrderTypeMessagesAddForListedExchangesAndUpdateThreeFields) {
  struct TCase {
    const char* name;
    const char* earlier;
    const char* message;
    bool listed;
    int prices, volumes, dates;
    char realSynthetic, timeTriggered;
    int typeID;
    TEvents events;
  };
  const char* const kLimit = "Msg=3667|Ex=LME|OTy= Limit |TID=2|PrR=1|VlR=1|DRq=0|TT=Y|Syn=N|";
  const TCase cases[] = {
      {"3667 adds", nullptr, kLimit, true, 1, 1, 0, 'N', 'Y', 2, {{38, "Limit"}}},
      {"3668 of an unlisted order type adds it",
       nullptr,
       "Msg=3668|Ex=LME|OTy=Limit|TID=2|PrR=1|",
       true,
       1,
       0,
       0,
       '\0',
       '\0',
       2,
       {{38, "Limit"}}},
      {"3667 for an unlisted exchange is dropped",
       nullptr,
       "Msg=3667|Ex=CME|OTy=Limit|TID=2|",
       false,
       0,
       0,
       0,
       0,
       0,
       0,
       {}},
      {"3668 updates prices, dates and synthetic only",
       kLimit,
       "Msg=3668|Ex=LME|OTy=Limit|TID=9|PrR=2|VlR=5|DRq=1|TT=N|Syn=S|",
       true,
       2,
       1,
       1,
       'S',
       'Y',
       2,
       {{38, "Limit"}}},
      {"3667 of a listed order type changes nothing",
       kLimit,
       "Msg=3667|Ex=LME|OTy=Limit|TID=9|PrR=2|",
       true,
       1,
       1,
       0,
       'N',
       'Y',
       2,
       {{38, "Limit"}}},
      {"3669 is ignored",
       kLimit,
       "Msg=3669|Ex=LME|OTy=Limit|PrR=2|",
       true,
       1,
       1,
       0,
       'N',
       'Y',
       2,
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    api_->OMIEnabled = false;
    api_->OrderTypes.Clear();
    api_->Exchanges.Clear();
    api_->Exchanges.FindOrAdd("LME");
    if (c.earlier) Host(ReceiveOrderType, c.earlier);
    ClearCallbackQueue();
    Host(ReceiveOrderType, c.message);
    const auto item = OrderType("LME", "Limit");
    ASSERT_EQ(item != nullptr, c.listed);
    EXPECT_EQ(api_->OrderTypes.Count(), c.listed ? 1 : 0);
    if (item) {
      EXPECT_EQ(item->PricesRequired, c.prices);
      EXPECT_EQ(item->VolumesRequired, c.volumes);
      EXPECT_EQ(item->DatesRequired, c.dates);
      EXPECT_EQ(item->RealSynthetic, c.realSynthetic);
      EXPECT_EQ(item->TimeTriggered, c.timeTriggered);
      EXPECT_EQ(item->OrderTypeID, c.typeID);
      EXPECT_EQ(item->TicketType, "00");
      EXPECT_EQ(item->Exchange(), api_->Exchanges.FindExchange("LME"));
    }
    EXPECT_EQ(Events(), c.events);
  }
}

TEST_F(ExchangeMessagesTest, CapabilityIdsSetExchangeFlagsAndAddNoOrderType) {
  struct TCase {
    const char* message;
    bool legacy;
    TStrategyCreator strategyCreator;
    bool cross, basis, block, aa;
  };
  const TCase cases[] = {
      {"Msg=3667|Ex=NEW|OTy=Strat|TID=22|", false, scVORN, false, false, false, false},
      {"Msg=3668|Ex=NEW|OTy=Strat|TID=23|", false, scStrategyCreator, false, false, false, false},
      {"Msg=3667|Ex=NEW|OTy=Strat|TID=42|", false, scNone, true, false, false, false},
      {"Msg=3667|Ex=NEW|OTy=Strat|TID=43|", false, scNone, false, true, false, false},
      {"Msg=3667|Ex=NEW|OTy=Strat|TID=44|", false, scNone, false, false, true, false},
      {"Msg=3667|Ex=NEW|OTy=Strat|TID=45|", false, scNone, false, false, false, true},
      {"22", true, scVORN, false, false, false, false},
      {"23", true, scStrategyCreator, false, false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.message);
    api_->Exchanges.Clear();
    api_->OrderTypes.Clear();
    if (c.legacy)
      ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", c.message, "NEW", "Strat", "111"));
    else
      Host(ReceiveOrderType, c.message);
    const auto exchange = api_->Exchanges.FindExchange("NEW");
    ASSERT_TRUE(exchange);  // made for the capability
    EXPECT_EQ(exchange->StrategyCreator, c.strategyCreator);
    EXPECT_EQ(exchange->EnableCross, c.cross);
    EXPECT_EQ(exchange->EnableBasis, c.basis);
    EXPECT_EQ(exchange->EnableBlock, c.block);
    EXPECT_EQ(exchange->EnableAA, c.aa);
    EXPECT_EQ(api_->OrderTypes.Count(), 0);
    EXPECT_EQ(CallbackQueueCount(), 0u);
  }

  // The event follows only for a listed order type of that name.
  Host(ReceiveOrderType, "Msg=3667|Ex=NEW|OTy=Block|TID=2|");
  ClearCallbackQueue();
  Host(ReceiveOrderType, "Msg=3667|Ex=NEW|OTy=Block|TID=44|");
  EXPECT_TRUE(api_->Exchanges.FindExchange("NEW")->EnableBlock);
  EXPECT_EQ(OrderType("NEW", "Block")->OrderTypeID, otLimit);
  EXPECT_EQ(Events(), (TEvents{{38, "Block"}}));
}

TEST_F(ExchangeMessagesTest, ExchangeRateMessagesAddOnlyUnlistedAndUpdateOnlyListed) {
  struct TCase {
    const char* name;
    bool listedBefore;  // USD at 1.5
    bool legacy;
    const char* message;  // tagged text, or the legacy code
    const char* rate;     // legacy rate text
    bool listed;
    double rate_;
    TEvents events;
  };
  const TCase cases[] = {
      {"3661 adds",
       false,
       false,
       "Msg=3661|Cur= USD |ER= 1.25 |",
       nullptr,
       true,
       1.25,
       {{13, "USD"}}},
      {"3661 of a listed currency changes nothing",
       true,
       false,
       "Msg=3661|Cur=USD|ER=2|",
       nullptr,
       true,
       1.5,
       {}},
      {"3662 updates a listed currency",
       true,
       false,
       "Msg=3662|Cur=USD|ER=2|",
       nullptr,
       true,
       2.0,
       {{13, "USD"}}},
      {"3662 of an unlisted currency adds nothing",
       false,
       false,
       "Msg=3662|Cur=USD|ER=2|",
       nullptr,
       false,
       0,
       {}},
      {"3663 removes without an event", true, false, "Msg=3663|Cur=USD|", nullptr, false, 0, {}},
      {"a rate that is not a number is 0",
       false,
       false,
       "Msg=3661|Cur=USD|ER=abc|",
       nullptr,
       true,
       0,
       {{13, "USD"}}},
      {"52 adds", false, true, "0052", "0.75", true, 0.75, {{13, "USD"}}},
      {"53 updates", true, true, "0053", "3", true, 3.0, {{13, "USD"}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    api_->ExchangeRates.Clear();
    if (c.listedBefore) Host(ReceiveExchangeRate, "Msg=3661|Cur=USD|ER=1.5|");
    ClearCallbackQueue();
    if (c.legacy)
      ReceiveLegacyExchangeRate(*api_, LegacyRate(c.message, "USD", c.rate));
    else
      Host(ReceiveExchangeRate, c.message);
    const auto rate = api_->ExchangeRates.Get("USD");
    ASSERT_EQ(rate != nullptr, c.listed);
    EXPECT_EQ(api_->ExchangeRates.Count(), c.listed ? 1 : 0);
    if (rate) {
      EXPECT_EQ(rate->Rate, c.rate_);
    }
    EXPECT_EQ(Events(), c.events);
  }
}

TEST_F(ExchangeMessagesTest, LegacyExchangeAddsAndRemovesWhileHoldersKeepIt) {
  ReceiveLegacyExchange(*api_, LegacyExchange("0046", "Eurex"));
  ReceiveLegacyExchange(*api_, LegacyExchange("0046", "EUREXX"));
  const auto eurex = api_->Exchanges.FindExchange("Eurex");
  ASSERT_TRUE(eurex);
  EXPECT_TRUE(eurex->QueryEnabled);
  EXPECT_TRUE(eurex->AmendEnabled);
  EXPECT_FALSE(api_->Exchanges.FindExchange("EUREXX")->QueryEnabled);
  EXPECT_EQ(Events(), (TEvents{{31, "Eurex"}, {31, "EUREXX"}}));

  api_->OMIEnabled = false;
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", "2", "Eurex", "Limit", "101"));
  ReceiveLegacyExchange(*api_, LegacyExchange("0047", "Eurex"));
  EXPECT_FALSE(api_->Exchanges.FindExchange("Eurex"));
  // The order type still reaches the exchange it was listed with.
  const auto limit = OrderType("Eurex", "Limit");
  ASSERT_TRUE(limit);
  EXPECT_EQ(limit->Exchange(), eurex);
  EXPECT_EQ(limit->Exchange()->Name(), "Eurex");
}

TEST_F(ExchangeMessagesTest, LegacyOrderTypeAddsUpdatesAndIgnoresDeletes) {
  api_->Exchanges.FindOrAdd("LME");
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", "2", "LME", "Limit", "101"));
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", "2", "CME", "Limit", "101"));
  const auto limit = OrderType("LME", "Limit");
  ASSERT_TRUE(limit);
  EXPECT_EQ(api_->OrderTypes.Count(), 1);
  EXPECT_EQ(limit->OrderTypeID, otLimit);
  EXPECT_EQ(limit->PricesRequired, 1);
  EXPECT_EQ(limit->VolumesRequired, 0);
  EXPECT_EQ(limit->DatesRequired, 1);

  ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", "2", "LME", "Limit", "222"));
  EXPECT_EQ(limit->PricesRequired, 1);
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0059", "2", "LME", "Limit", "232"));
  EXPECT_EQ(limit->PricesRequired, 2);
  EXPECT_EQ(limit->VolumesRequired, 0);
  EXPECT_EQ(limit->DatesRequired, 2);
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0060", "2", "LME", "Limit", "999"));
  EXPECT_EQ(limit->PricesRequired, 2);
  EXPECT_EQ(api_->OrderTypes.Count(), 1);
  EXPECT_EQ(Events(), (TEvents{{38, "Limit"}, {38, "Limit"}, {38, "Limit"}}));
}

TEST_F(ExchangeMessagesTest, DownloadSuppressesEveryEvent) {
  api_->Logon.DownloadInProgress = true;
  Host(ReceiveExchange, "Msg=3664|Ex=LME|");
  Host(ReceiveExchange, "Msg=3665|Ex=LME|");
  ReceiveLegacyExchange(*api_, LegacyExchange("0046", "ICE"));
  Host(ReceiveOrderType, "Msg=3667|Ex=LME|OTy=Limit|TID=2|");
  Host(ReceiveOrderType, "Msg=3668|Ex=LME|OTy=Limit|TID=2|");
  ReceiveLegacyOrderType(*api_, LegacyOrderType("0058", "1", "LME", "Market", "000"));
  Host(ReceiveExchangeRate, "Msg=3661|Cur=USD|ER=1|");
  Host(ReceiveExchangeRate, "Msg=3662|Cur=USD|ER=2|");
  ReceiveLegacyExchangeRate(*api_, LegacyRate("0052", "EUR", "1"));
  EXPECT_EQ(api_->Exchanges.Count(), 2);
  EXPECT_EQ(api_->OrderTypes.Count(), 4);  // with CustReq and AggOrder
  EXPECT_EQ(api_->ExchangeRates.Count(), 2);
  EXPECT_EQ(api_->ExchangeRates.GetRate("USD"), 2.0);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(ExchangeMessagesTest, ReceivedNamesAreCutToTheirWidths) {
  api_->OMIEnabled = false;
  Host(ReceiveExchange, "Msg=3664|Ex=  ABCDEFGHI JKLM|");
  Host(ReceiveOrderType, "Msg=3667|Ex=ABCDEFGHI XYZ|OTy=LongOrderTypeName|TID=2|TicT=ABC|");
  Host(ReceiveExchangeRate, "Msg=3661|Cur=CURRENCYXYZ|ER=1|");
  // The cut leaves no blank at the end of a key.
  const auto exchange = api_->Exchanges.FindExchange("ABCDEFGHI");
  ASSERT_TRUE(exchange);
  EXPECT_EQ(api_->Exchanges.Count(), 1);
  const auto item = OrderType("ABCDEFGHI", "LongOrderT");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->TicketType, "AB");
  ASSERT_TRUE(api_->ExchangeRates.Get("CURRENCYXY"));
  EXPECT_EQ(Events(), (TEvents{{31, "ABCDEFGHI"}, {38, "LongOrderT"}, {13, "CURRENCYXY"}}));
}

}  // namespace
}  // namespace vorn
