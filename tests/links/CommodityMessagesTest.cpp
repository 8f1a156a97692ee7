#include "links/CommodityMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/session/ClassAPI.h"
#include "links/FixedField.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using TEvents = std::vector<std::string>;

constexpr const char* kCommodity = "Msg=3655|Ex=EUX|C=FGBL|Cur=EUR|VOP=1000|TPP=100|TSz=0.01|Act=1";
constexpr const char* kContract =
    "Msg=3658|Ex=EUX|C=FGBL|CD=Mar24|XD=20240307|LT=20240306|X1=F|MkR=R1";

// A fixed-width commodity body (codes 23 to 25).
std::string LegacyCommodity(const char* code, const char* exchange, const char* name,
                            const char* currency, const char* onePoint) {
  std::string body(84, ' ');
  PutFixedField(body, 0, 4, code);
  PutFixedField(body, 4, 10, exchange);
  PutFixedField(body, 24, 10, name);
  PutFixedField(body, 34, 10, currency);
  PutFixedField(body, 44, 10, "GRP");
  PutFixedField(body, 54, 10, onePoint);
  PutFixedField(body, 64, 10, "32");
  PutFixedField(body, 74, 10, "0.5");
  return body;
}

// A fixed-width contract leg (code 82) or delete (83).
std::string LegacyLeg(const char* code, const char* commodity, const char* leg, const char* x1) {
  std::string body(154, ' ');
  PutFixedField(body, 0, 4, code);
  PutFixedField(body, 4, 10, "EUX");
  PutFixedField(body, 14, 10, commodity);
  PutFixedField(body, 24, 50, "Jun24");
  PutFixedField(body, 74, 4, leg);
  PutFixedField(body, 78, 8, "20240614");
  PutFixedField(body, 86, 8, "20240613");
  PutFixedField(body, 94, 10, "2500");
  PutFixedField(body, 104, 10, x1);
  PutFixedField(body, 114, 10, "L2");
  PutFixedField(body, 124, 10, "L3");
  PutFixedField(body, 134, 10, "L4");
  PutFixedField(body, 144, 10, "L5");
  return body;
}

class CommodityMessagesTest : public ::testing::Test {
 protected:
  CommodityMessagesTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
  }
  ~CommodityMessagesTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    api_.reset();
    ClearCallbackQueue();
    EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));
  }

  void Host(std::string_view text) {
    TFieldsList fields = Fields(text);
    const int code = std::stoi(fields.GetFieldValue("Msg", 0));
    if (code <= 3657)
      ReceiveCommodity(*api_, fields);
    else
      ReceiveContractDate(*api_, fields);
  }
  void Legacy(const std::string& body) {
    if (body.compare(0, 4, "0082") == 0 || body.compare(0, 4, "0083") == 0)
      ReceiveLegacyContractDate(*api_, body);
    else
      ReceiveLegacyCommodity(*api_, body);
  }
  // Applied as during the download: no events.
  void Quietly(std::string_view text) {
    api_->Logon.DownloadInProgress = true;
    Host(text);
    api_->Logon.DownloadInProgress = false;
  }

  // Delivers what is queued: "id:names", the names of commodity and contract events.
  TEvents Events() {
    TEvents events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      std::string text = std::to_string(delivery.Id) + ":";
      if (delivery.Id == VN_CB_COMMODITY_UPDATED) {
        ExchangeCommodityStruct names;
        std::memcpy(&names, delivery.Payload.data(), sizeof names);
        text += std::string(names.ExchangeName) + "\\" + names.CommodityName;
      } else {
        ContractKeyStruct key;
        std::memcpy(&key, delivery.Payload.data(), sizeof key);
        text += std::string(key.ExchangeName) + "\\" + key.CommodityName + "\\" + key.ContractDate;
      }
      events.push_back(text);
    }
    return events;
  }

  std::shared_ptr<TCommodity> Commodity(const char* name = "FGBL") const {
    return api_->Commodities.FindCommodity("EUX", name);
  }
  std::shared_ptr<TContractItem> Contract(const char* date = "Mar24") const {
    return api_->Contracts.FindByName("EUX", "FGBL", date);
  }

  TTempDir dir_;
  std::shared_ptr<TClassAPI> api_;
};

// ---------------------------------------------------------------------------------------------

struct TCommodityCase {
  const char* Name;
  bool Listed;  // listed before the message
  const char* Message;
  int Count;  // commodities after it
  const char* Currency;
  std::int32_t State;
  TEvents Events;
};

TEST_F(CommodityMessagesTest, CommodityAddUpdateAndIgnoredDelete) {
  const TCommodityCase cases[] = {
      {"add", false, kCommodity, 1, "EUR", 1, {"32:EUX\\FGBL"}},
      {"add of a listed one updates",
       true,
       "Msg=3655|Ex=EUX|C=FGBL|Cur=USD|Act=2",
       1,
       "USD",
       2,
       {"32:EUX\\FGBL"}},
      {"update", true, "Msg=3656|Ex=EUX|C=FGBL|Cur=GBP", 1, "GBP", 1, {"32:EUX\\FGBL"}},
      {"update of an unlisted one adds",
       false,
       "Msg=3656|Ex=EUX|C=FGBL|Cur=GBP|Act=2",
       1,
       "GBP",
       2,
       {"32:EUX\\FGBL"}},
      {"other state characters leave the state",
       true,
       "Msg=3656|Ex=EUX|C=FGBL|Cur=EUR|Act=7",
       1,
       "EUR",
       1,
       {"32:EUX\\FGBL"}},
      {"delete is ignored", true, "Msg=3657|Ex=EUX|C=FGBL|Cur=CHF", 1, "EUR", 1, {}},
      {"delete of an unlisted one adds nothing", false, "Msg=3657|Ex=EUX|C=FGBL", 0, "", 0, {}},
      {"blanks around the names",
       true,
       "Msg=3656|Ex= EUX |C= FGBL |Cur= JPY ",
       1,
       "JPY",
       1,
       {"32:EUX\\FGBL"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
    if (c.Listed) Quietly(kCommodity);
    Host(c.Message);
    EXPECT_EQ(api_->Commodities.Count(), c.Count);
    if (c.Count) {
      const auto commodity = Commodity();
      ASSERT_TRUE(commodity);
      EXPECT_EQ(commodity->Currency, c.Currency);
      EXPECT_EQ(commodity->State, c.State);
    }
    EXPECT_EQ(Events(), c.Events);
  }
}

TEST_F(CommodityMessagesTest, NewCommodityIsGroupedAndJoinsItsExchange) {
  Host(std::string(kCommodity) + "|GUID={C-1}");
  const auto commodity = Commodity();
  ASSERT_TRUE(commodity);
  EXPECT_EQ(commodity->GetUUID(), "{C-1}");
  EXPECT_DOUBLE_EQ(commodity->OnePoint, 1000);
  EXPECT_EQ(commodity->TicksPerPoint, 100);
  EXPECT_DOUBLE_EQ(commodity->TickSize, 0.01);
  EXPECT_TRUE(api_->UUIDObjects->FindGroup("{C-1}"));
  const auto exchange = api_->Exchanges.FindExchange("EUX");
  ASSERT_TRUE(exchange);
  EXPECT_EQ(commodity->Exchange(), exchange);

  // An update without a GUID keeps the UUID; one with another moves the group.
  Host("Msg=3656|Ex=EUX|C=FGBL");
  EXPECT_EQ(commodity->GetUUID(), "{C-1}");
  Host("Msg=3656|Ex=EUX|C=FGBL|GUID={C-2}");
  EXPECT_EQ(commodity->GetUUID(), "{C-2}");
  EXPECT_FALSE(api_->UUIDObjects->FindGroup("{C-1}"));
  EXPECT_TRUE(api_->UUIDObjects->FindGroup("{C-2}"));
  EXPECT_EQ(api_->Commodities.Count(), 1);
  Events();
}

// ---------------------------------------------------------------------------------------------

struct TContractCase {
  const char* Name;
  bool Listed;
  const char* Message;
  int Count;
  const char* Expiry;  // of Mar24 after the message
  bool Deleted;
  bool Stored;
  TEvents Events;
};

TEST_F(CommodityMessagesTest, ContractDateAddUpdateAndDelete) {
  const TContractCase cases[] = {
      {"add", false, kContract, 1, "20240307", false, true, {"11:EUX\\FGBL\\Mar24"}},
      {"update of a listed one",
       true,
       "Msg=3659|Ex=EUX|C=FGBL|CD=Mar24|XD=20240308|X1=F",
       1,
       "20240308",
       false,
       false,
       {}},
      {"add of a listed one updates",
       true,
       "Msg=3658|Ex=EUX|C=FGBL|CD=Mar24|XD=20240309|X1=F",
       1,
       "20240309",
       false,
       false,
       {}},
      {"update of an unlisted one adds",
       false,
       "Msg=3659|Ex=EUX|C=FGBL|CD=Mar24|XD=20240310",
       1,
       "20240310",
       false,
       true,
       {"11:EUX\\FGBL\\Mar24"}},
      {"delete flags and keeps it",
       true,
       "Msg=3660|Ex=EUX|C=FGBL|CD=Mar24",
       1,
       "20240307",
       true,
       false,
       {"12:EUX\\FGBL\\Mar24"}},
      {"delete of an unlisted one changes nothing",
       false,
       "Msg=3660|Ex=EUX|C=FGBL|CD=Mar24",
       0,
       "",
       false,
       false,
       {}},
      {"unknown commodity is dropped",
       false,
       "Msg=3658|Ex=EUX|C=FOAT|CD=Mar24|XD=20240307",
       0,
       "",
       false,
       false,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
    Quietly(kCommodity);
    if (c.Listed) Quietly(kContract);
    Host(c.Message);
    EXPECT_EQ(api_->Contracts.Count(), c.Count);
    if (c.Count) {
      const auto contract = Contract();
      ASSERT_TRUE(contract);
      EXPECT_EQ(contract->GetExpiryDate(), c.Expiry);
      EXPECT_EQ(contract->Deleted.load(), c.Deleted);
      EXPECT_EQ(api_->Contracts.IsStoredContract(*contract), c.Stored);
    }
    EXPECT_EQ(Events(), c.Events);
  }
}

TEST_F(CommodityMessagesTest, ContractKeepsTheMessageFieldsAndTakesStateAgain) {
  Quietly(kCommodity);
  Host(std::string(kContract) + "|GUID={K-1}|Act=2");
  const auto contract = Contract();
  ASSERT_TRUE(contract);
  // The dispatcher's list is gone; the contract reads its own.
  EXPECT_EQ(contract->GetMarketReference(), "R1");
  EXPECT_EQ(contract->GetLastTradeDate(), "20240306");
  EXPECT_EQ(contract->State, TUUIDStreamable::usInactive);
  EXPECT_TRUE(api_->UUIDObjects->FindGroup("{K-1}"));
  EXPECT_EQ(contract->GetCommodity(), Commodity());

  Host("Msg=3659|Ex=EUX|C=FGBL|CD=Mar24|XD=20240307|X1=F|MkR=R2|Act=1");
  EXPECT_EQ(contract->GetMarketReference(), "R2");
  EXPECT_EQ(contract->GetLastTradeDate(), "");
  EXPECT_EQ(contract->State, TUUIDStreamable::usActive);
  EXPECT_EQ(contract->GetUUID(), "{K-1}");
  EXPECT_EQ(Events(), (TEvents{"11:EUX\\FGBL\\Mar24"}));
}

TEST_F(CommodityMessagesTest, DownloadPostsNothingAndTakesContractsOfUnknownCommodities) {
  api_->Logon.DownloadInProgress = true;
  Host(kCommodity);
  Host(kContract);
  Host("Msg=3658|Ex=EUX|C=FOAT|CD=Jun24|XD=20240607");
  Host("Msg=3660|Ex=EUX|C=FGBL|CD=Mar24");
  Legacy(LegacyCommodity("0023", "EUX", "FGBM", "EUR", "1"));
  Legacy(LegacyLeg("0082", "FGBM", "1", "F"));
  Legacy(LegacyLeg("0083", "FGBM", "1", "F"));
  api_->Logon.DownloadInProgress = false;
  EXPECT_EQ(api_->Commodities.Count(), 2);
  EXPECT_EQ(api_->Contracts.Count(), 3);
  const auto orphan = api_->Contracts.FindByName("EUX", "FOAT", "Jun24");
  ASSERT_TRUE(orphan);
  EXPECT_FALSE(orphan->GetCommodity());
  EXPECT_FALSE(api_->Contracts.IsStoredContract(*orphan));
  EXPECT_TRUE(Contract()->Deleted);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(CommodityMessagesTest, LongTextsAreCutToTheirWidths) {
  Host("Msg=3655|Ex=EXCHANGE-LONG|C=COMMODITY-LONG|Cur=CURRENCY-LONG");
  const auto commodity = api_->Commodities.FindCommodity("EXCHANGE-L", "COMMODITY-");
  ASSERT_TRUE(commodity);
  EXPECT_EQ(commodity->Currency, "CURRENCY-L");
  const std::string date(60, 'D');
  Host("Msg=3658|Ex=EXCHANGE-LONG|C=COMMODITY-LONG|CD=" + date + "|XD=20240307");
  const auto contract = api_->Contracts.FindByName("EXCHANGE-L", "COMMODITY-", date.substr(0, 50));
  ASSERT_TRUE(contract);
  EXPECT_EQ(contract->GetCommodity(), commodity);
  EXPECT_EQ(Events(), (TEvents{"32:EXCHANGE-L\\COMMODITY-",
                               "11:EXCHANGE-L\\COMMODITY-\\" + date.substr(0, 50)}));
}

// ---------------------------------------------------------------------------------------------

TEST_F(CommodityMessagesTest, LegacyCommodityThroughItsOffsets) {
  Legacy(LegacyCommodity("0023", "EUX", "FGBL", "EUR", "1000"));
  auto commodity = Commodity();
  ASSERT_TRUE(commodity);
  EXPECT_EQ(commodity->Currency, "EUR");
  EXPECT_EQ(commodity->Group, "GRP");
  EXPECT_DOUBLE_EQ(commodity->OnePoint, 1000);
  EXPECT_EQ(commodity->TicksPerPoint, 32);
  EXPECT_DOUBLE_EQ(commodity->TickSize, 0.5);
  EXPECT_FALSE(commodity->GetUUID().empty());

  // Full-width fields do not run into each other.
  Legacy(LegacyCommodity("0024", "EUX", "FGBL", "CURRENCYXX", "NOTANUMBER"));
  EXPECT_EQ(api_->Commodities.Count(), 1);
  EXPECT_EQ(commodity->Currency, "CURRENCYXX");
  EXPECT_EQ(commodity->OnePoint, 0);
  EXPECT_EQ(Events(), (TEvents{"32:EUX\\FGBL", "32:EUX\\FGBL"}));
}

TEST_F(CommodityMessagesTest, LegacyCommodityDeleteLetsGoOfItsContractsOnly) {
  Quietly(kCommodity);
  Quietly(kContract);
  Quietly("Msg=3658|Ex=EUX|C=FGBL|CD=Jun24|XD=20240607");
  Quietly("Msg=3655|Ex=EUX|C=FGBM");
  Quietly("Msg=3658|Ex=EUX|C=FGBM|CD=Mar24|XD=20240307");
  const auto held = Contract();  // as an order would hold it
  Legacy(LegacyCommodity("0025", "EUX", "FGBL", "", ""));
  EXPECT_FALSE(Commodity());
  EXPECT_EQ(api_->Commodities.Count(), 1);
  EXPECT_EQ(api_->Contracts.Count(), 1);
  EXPECT_FALSE(Contract());
  ASSERT_TRUE(held);
  EXPECT_FALSE(held->Listed());
  EXPECT_EQ(held->GetMarketReference(), "R1");
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(CommodityMessagesTest, LegacyContractLegs) {
  Quietly(kCommodity);
  Legacy(LegacyLeg("0082", "FGBL", "2", "B2"));  // a later leg first: no event
  const auto contract = api_->Contracts.FindByName("EUX", "FGBL", "Jun24");
  ASSERT_TRUE(contract);
  EXPECT_EQ(contract->GetLegs(), 2);
  EXPECT_EQ(contract->GetExpiryDate(), "20240614");
  EXPECT_EQ(contract->GetLastTradeDate(), "20240613");
  EXPECT_DOUBLE_EQ(contract->GetMarginRequired(), 2500);
  EXPECT_TRUE(api_->Contracts.IsStoredContract(*contract));

  Legacy(LegacyLeg("0082", "FGBL", "1", "A1"));
  EXPECT_EQ(api_->Contracts.Count(), 1);
  EXPECT_EQ(contract->GetLegs(), 2);
  EXPECT_EQ(contract->GetLegField(1, 1), "A1");
  EXPECT_EQ(contract->GetLegField(2, 1), "B2");
  EXPECT_EQ(contract->GetLegField(2, 5), "L5");

  Legacy(LegacyLeg("0082", "FGBL", "3", ""));  // a blank type still counts the leg
  EXPECT_EQ(contract->GetLegs(), 3);

  for (const char* leg : {"0", "17", "x"})
    Legacy(LegacyLeg("0082", "FGBL", leg, "Z"));
  Legacy(LegacyLeg("0082", "FOAT", "1", "F"));  // commodity not listed
  EXPECT_EQ(api_->Contracts.Count(), 1);
  EXPECT_EQ(contract->GetLegs(), 3);

  Legacy(LegacyLeg("0083", "FGBL", "1", ""));
  Legacy(LegacyLeg("0083", "FOAT", "1", ""));
  EXPECT_EQ(Events(), (TEvents{"11:EUX\\FGBL\\Jun24", "12:EUX\\FGBL\\Jun24"}));
}

// ---------------------------------------------------------------------------------------------

TEST(ContractDateDeltaTest, ChangedNewAndRemovedFields) {
  std::map<std::string, std::string> previous;
  const std::string first = ContractDateDeltaLine(
      previous, Fields("Msg=3658|Ex=EUX|C=FGBL|CD=Mar24|Old=1|<SG=1|X1=F|X2=A|EG>=1|<SG=1|X1=C|"
                       "X2=B|EG>=1"));
  // A new commodity: every field in byte order of the names.
  EXPECT_EQ(first, "RMsg:C=FGBL,CD=Mar24,Ex=EUX,Msg=3658,Old=1,g1:X1=F,g1:X2=A,g2:X1=C,g2:X2=B,");

  const std::string second = ContractDateDeltaLine(
      previous, Fields("Msg=3658|Ex=EUX|C=FGBL|CD=Jun24|<SG=1|X1=F|X2=A|EG>=1|<SG=1|X1=P|EG>=1"));
  EXPECT_EQ(second, "RMsg:CD=Jun24,g2:X1=P,g2:X2=,**Old**,");

  const std::string third =
      ContractDateDeltaLine(previous, Fields("Msg=3658|Ex=EUX|C=FOAT|CD=Jun24"));
  EXPECT_EQ(third, "RMsg:C=FOAT,CD=Jun24,Ex=EUX,Msg=3658,");
}

// ---------------------------------------------------------------------------------------------

// A query thread reads the contract and commodity lists, under their locks as the queries do,
// while the host thread adds and updates contracts.
TEST_F(CommodityMessagesTest, QueriesReadWhileUpdatesArrive) {
  Quietly(kCommodity);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      {
        TIndexListLock guard(api_->Contracts);
        for (int i = 0; i < api_->Contracts.Count(); ++i) {
          const auto contract = api_->Contracts.At(i);
          volatile auto state = contract->State.load();
          (void)state;
          EXPECT_FALSE(contract->GetExpiryDate().empty());
          (void)contract->GetMarketReference();
          (void)contract->GetDescription();
        }
      }
      TIndexListLock guard(api_->Commodities);
      if (const auto commodity = api_->Commodities.FindCommodity("EUX", "FGBL")) {
        EXPECT_FALSE(commodity->Currency.empty());
      }
    }
  });
  for (int round = 0; round < 200; ++round) {
    const std::string date = "D" + std::to_string(round % 20);
    const std::string expiry = std::to_string(20240000 + round);
    Host("Msg=3658|Ex=EUX|C=FGBL|CD=" + date + "|XD=" + expiry + "|MkR=R" + std::to_string(round) +
         "|Act=" + (round % 2 ? "1" : "2"));
    Host(std::string("Msg=3656|Ex=EUX|C=FGBL|Cur=") + (round % 2 ? "EUR" : "USD"));
  }
  done = true;
  reader.join();
  EXPECT_EQ(api_->Contracts.Count(), 20);
  ClearCallbackQueue();
}

}  // namespace
}  // namespace vorn
