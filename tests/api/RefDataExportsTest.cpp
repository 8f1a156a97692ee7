// The reference-data queries over a logged-on API object whose lists are filled directly.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "platform/Thread.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr unsigned char kPoison = 0x5A;

// The outline of a contract with one leg, and of a strategy with three.
constexpr const char* kFutureFields =
    "XD=20240315|LT=20240314|Mar=1250.5|MkR=REF1|ETe=Tpl|lnEx=LEX|lnC=LCOM|lnCD=LDATE|TSz=0.25|"
    "TPP=4|<SG=1|X1=F|X2=LIFFE|X3=FTSE|X4=MAR24|X5=100|EG>=1";
constexpr const char* kStrategyFields =
    "XD=20240601|<SG=1|X1=BC|X2=LIFFE|X3=FTSE|EG>=1|<SG=1|X1=C|X2=L2|X3=C2|EG>=1|"
    "<SG=1|X1=P|X2=L3|X3=C3|X4=SEP24|X5=6500|EG>=1";

template <class Record>
Record Poisoned() {
  Record record;
  std::memset(&record, kPoison, sizeof record);
  return record;
}

template <class Record>
Record Zeroed() {
  Record record;
  std::memset(&record, 0, sizeof record);
  return record;
}

template <std::size_t N>
void Put(char (&field)[N], const char* text) {
  ASSERT_LT(std::strlen(text), N);
  std::strcpy(field, text);
}

// How many leading bytes are zero, and whether every later byte still holds the poison.
template <class Record>
bool ZeroedThenPoisoned(const Record& record, std::size_t zeroBytes) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof record; ++i)
    if (bytes[i] != (i < zeroBytes ? 0 : kPoison)) return false;
  return true;
}

template <class Record>
bool SameBytes(const Record& a, const Record& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class RefDataExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vnLogOff();
    ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
    TClassAPI& api = *API();

    for (const char* name : {"LIFFE", "CME", "EUREX", "ABCDEFGHIJ"}) {
      auto exchange = std::make_shared<TExchange>(name);
      api.Exchanges.Add(exchange);
    }
    auto liffe = api.Exchanges.FindExchange("LIFFE");
    liffe->QueryEnabled = true;
    liffe->StrategyCreator = scStrategyCreator;
    liffe->CustomDecimal = true;
    liffe->Decimals = 3;
    liffe->TicketType = 'E';
    liffe->RFQT = true;
    liffe->EnableBasis = true;
    liffe->EnableCross = true;
    liffe->State = TUUIDStreamable::usInactive;

    for (const char* name : {"ACC1", "ACC0"}) {
      auto account = std::make_shared<TTraderAccountItem>(name);
      api.Accounts.Add(account);
    }
    auto account = api.Accounts.Get("ACC1");
    account->SetBackOfficeID("BO-77");
    account->Tradable = true;
    account->LossLimit = -2500;

    AddOrderType("LIFFE", "LIMIT", [](TOrderTypeItem& type) {
      type.OrderTypeID = otLimit;
      type.PricesRequired = 1;
      type.VolumesRequired = 2;
      type.DatesRequired = 3;
      type.AutoCreated = true;
      type.TimeTriggered = 'T';
      type.RealSynthetic = 'R';
      type.GTCFlag = 'G';
      type.TicketType = "E1";
    });
    AddOrderType("CME", "MKT", [](TOrderTypeItem&) {});

    AddCommodity("LIFFE", "FTSE", [](TCommodity& commodity) {
      commodity.Currency = "GBP";
      commodity.Group = "IDX";
      commodity.OnePoint = 1.0 / 3;  // longer than its field
      commodity.TicksPerPoint = 2;
      commodity.TickSize = 0.5;
      commodity.State = TUUIDStreamable::usExpired;
    });
    AddCommodity("CME", "ES", [](TCommodity&) {});

    for (const char* type : {"Weekly", "Daily", "None"}) {
      auto item = std::make_shared<TReportType>();
      item->ReportType = type;
      api.ReportTypes.Add(item);
    }
    AddReport("Daily", 2, "abcde");
    AddReport("Daily", 1, "0123456789");

    auto rate = std::make_shared<TExchangeRate>();
    rate->Currency = "GBP";
    rate->Rate = 1.25;
    api.ExchangeRates.Add(rate);

    ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "BCSPRD", Fields(kStrategyFields)), 0);
    ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR24", Fields(kFutureFields)), 0);
    ASSERT_GE(api.Contracts.AddFromFields("CME", "ES", "DEC24", Fields("X1=F|X2=CME")), 0);
    TAtBestPrices atBest;
    atBest.Bid = 101.5;
    atBest.Offer = 102.25;
    atBest.LastBuyer = "BUY";
    atBest.LastSeller = "SEL";
    atBest.Entries = {{"FRM", 5, 'B'}, {"XYZ", 3, 'O'}};
    Future()->SetAtBest(atBest);
    Future()->SetSubscriberDepth({{99.75, 12, "DPT", 'D'}});
  }
  void TearDown() override {
    vnLogOff();
    JoinStoppedThreads();
  }

  template <class Set>
  void AddOrderType(const char* exchange, const char* name, Set set) {
    auto type = std::make_shared<TOrderTypeItem>();
    type->SetExchangeName(exchange);
    type->SetName(name);
    set(*type);
    API()->OrderTypes.Add(type);
  }
  template <class Set>
  void AddCommodity(const char* exchange, const char* name, Set set) {
    auto commodity = std::make_shared<TCommodity>();
    commodity->SetExchangeName(exchange);
    commodity->SetName(name);
    set(*commodity);
    API()->Commodities.Add(commodity);
  }
  void AddReport(const char* type, std::int32_t sequence, const char* text) {
    auto report = std::make_shared<TReportItem>();
    report->ReportType = type;
    report->Sequence = sequence;
    report->Text = text;
    API()->Reports.Add(report);
  }
  static std::shared_ptr<TContractItem> Future() {
    return API()->Contracts.FindByName("LIFFE", "FTSE", "MAR24");
  }
  static void LogOn() { API()->Logon.LoggedOn = true; }

  TTempDir dir_;
};

// Every export, called with a poisoned buffer as its output. The count exports are marked: they
// zero their count before the ready check.
struct TCall {
  const char* Name;
  std::function<std::int32_t(void* out)> Call;
  bool Count = false;
};

std::vector<TCall> AllCalls() {
  const auto key = Zeroed<ContractStruct>();
  return {
      {"vnCountExchanges", [](void* o) { return vnCountExchanges(static_cast<int32_t*>(o)); },
       true},
      {"vnGetExchange", [](void* o) { return vnGetExchange(0, static_cast<ExchangeStruct*>(o)); }},
      {"vnGetExchangeByName",
       [](void* o) { return vnGetExchangeByName("LIFFE", static_cast<ExchangeStruct*>(o)); }},
      {"vnExchangeExists", [](void*) { return vnExchangeExists("LIFFE"); }},
      {"vnCountTraders", [](void* o) { return vnCountTraders(static_cast<int32_t*>(o)); }, true},
      {"vnGetTrader", [](void* o) { return vnGetTrader(0, static_cast<TraderAcctStruct*>(o)); }},
      {"vnGetTraderByName",
       [](void* o) { return vnGetTraderByName("ACC1", static_cast<TraderAcctStruct*>(o)); }},
      {"vnTraderExists", [](void*) { return vnTraderExists("ACC1"); }},
      {"vnCountOrderTypes", [](void* o) { return vnCountOrderTypes(static_cast<int32_t*>(o)); },
       true},
      {"vnGetOrderType",
       [](void* o) { return vnGetOrderType(0, static_cast<OrderTypeStruct*>(o)); }},
      {"vnCountReportTypes", [](void* o) { return vnCountReportTypes(static_cast<int32_t*>(o)); },
       true},
      {"vnGetReportType",
       [](void* o) { return vnGetReportType(0, static_cast<ReportTypeStruct*>(o)); }},
      {"vnReportTypeExists", [](void*) { return vnReportTypeExists("Daily"); }},
      {"vnGetReportSize",
       [](void* o) { return vnGetReportSize("Daily", static_cast<int32_t*>(o)); }},
      {"vnGetReport", [](void* o) { return vnGetReport("Daily", 100, static_cast<char*>(o)); }},
      {"vnCountCommodities", [](void* o) { return vnCountCommodities(static_cast<int32_t*>(o)); },
       true},
      {"vnGetCommodity",
       [](void* o) { return vnGetCommodity(0, static_cast<CommodityStruct*>(o)); }},
      {"vnGetCommodityByName",
       [](void* o) {
         return vnGetCommodityByName("LIFFE", "FTSE", static_cast<CommodityStruct*>(o));
       }},
      {"vnCommodityExists", [](void*) { return vnCommodityExists("LIFFE", "FTSE"); }},
      {"vnCountContracts", [](void* o) { return vnCountContracts(static_cast<int32_t*>(o)); },
       true},
      {"vnGetContract", [](void* o) { return vnGetContract(0, static_cast<ContractStruct*>(o)); }},
      {"vnGetExtendedContract",
       [](void* o) { return vnGetExtendedContract(0, static_cast<ExtendedContractStruct*>(o)); }},
      {"vnGetContractByName",
       [](void* o) {
         return vnGetContractByName("LIFFE", "FTSE", "MAR24", static_cast<ContractStruct*>(o));
       }},
      {"vnGetExtendedContractByName",
       [](void* o) {
         return vnGetExtendedContractByName("LIFFE", "FTSE", "MAR24",
                                            static_cast<ExtendedContractStruct*>(o));
       }},
      {"vnContractExists", [](void*) { return vnContractExists("LIFFE", "FTSE", "MAR24"); }},
      {"vnGetContractByExternalID",
       [key](void* o) { return vnGetContractByExternalID(&key, static_cast<ContractStruct*>(o)); }},
      {"vnGetExchangeRate",
       [](void* o) { return vnGetExchangeRate("GBP", static_cast<ExchangeRateStruct*>(o)); }},
      {"vnCountContractAtBest",
       [](void* o) {
         return vnCountContractAtBest("LIFFE", "FTSE", "MAR24", static_cast<int32_t*>(o));
       },
       true},
      {"vnGetContractAtBest",
       [](void* o) {
         return vnGetContractAtBest("LIFFE", "FTSE", "MAR24", 0, static_cast<AtBestStruct*>(o));
       }},
      {"vnGetContractAtBestPrices",
       [](void* o) {
         return vnGetContractAtBestPrices("LIFFE", "FTSE", "MAR24",
                                          static_cast<AtBestPriceStruct*>(o));
       }},
      {"vnCountContractSubscriberDepth",
       [](void* o) {
         return vnCountContractSubscriberDepth("LIFFE", "FTSE", "MAR24", static_cast<int32_t*>(o));
       },
       true},
      {"vnGetContractSubscriberDepth",
       [](void* o) {
         return vnGetContractSubscriberDepth("LIFFE", "FTSE", "MAR24", 0,
                                             static_cast<SubscriberDepthStruct*>(o));
       }},
  };
}

TEST_F(RefDataExportsTest, NoObjectGives1AndNoLogonGives4WithTheOutputUntouched) {
  const auto calls = AllCalls();
  ASSERT_EQ(calls.size(), 32u);
  auto expectRefused = [&](std::int32_t code) {
    for (const TCall& call : calls) {
      alignas(8) unsigned char out[sizeof(ExtendedContractStruct)];
      std::memset(out, kPoison, sizeof out);
      EXPECT_EQ(call.Call(out), code) << call.Name;
      const std::size_t zeroed = call.Count ? sizeof(std::int32_t) : 0;
      for (std::size_t i = 0; i < sizeof out; ++i)
        ASSERT_EQ(out[i], i < zeroed ? 0 : kPoison) << call.Name << " byte " << i;
    }
  };
  expectRefused(VN_RC_NOT_LOGGED_ON);
  vnLogOff();
  expectRefused(VN_RC_NOT_INITIALISED);
}

TEST_F(RefDataExportsTest, NullOutputPointersFailTheCallInsteadOfCrashing) {
  LogOn();
  for (const TCall& call : AllCalls()) {
    const std::string name = call.Name;
    if (name.find("Exists") != std::string::npos) continue;  // no output
    EXPECT_EQ(call.Call(nullptr), VN_RC_UNEXPECTED_ERROR) << name;
  }
  ExchangeRateStruct rate;
  EXPECT_EQ(vnGetContractByExternalID(nullptr, reinterpret_cast<ContractStruct*>(&rate)),
            VN_RC_UNEXPECTED_ERROR);
}

TEST_F(RefDataExportsTest, CountsAndIndexOrderFollowTheListKeys) {
  LogOn();
  const struct {
    std::int32_t (*Count)(int32_t*);
    std::function<std::string(int32_t)> NameAt;
    std::vector<std::string> Expected;
  } lists[] = {
      {vnCountExchanges,
       [](int32_t i) {
         auto r = Poisoned<ExchangeStruct>();
         EXPECT_EQ(vnGetExchange(i, &r), 0);
         return std::string(r.Name);
       },
       {"ABCDEFGHIJ", "CME", "EUREX", "LIFFE"}},
      {vnCountTraders,
       [](int32_t i) {
         auto r = Poisoned<TraderAcctStruct>();
         EXPECT_EQ(vnGetTrader(i, &r), 0);
         return std::string(r.TraderAccount);
       },
       {"ACC0", "ACC1"}},
      {vnCountOrderTypes,
       [](int32_t i) {
         auto r = Poisoned<OrderTypeStruct>();
         EXPECT_EQ(vnGetOrderType(i, &r), 0);
         return std::string(r.ExchangeName) + "/" + r.Name;
       },
       {"CME/MKT", "LIFFE/LIMIT"}},
      {vnCountReportTypes,
       [](int32_t i) {
         auto r = Poisoned<ReportTypeStruct>();
         EXPECT_EQ(vnGetReportType(i, &r), 0);
         return std::string(r.ReportType);
       },
       {"Daily", "None", "Weekly"}},
      {vnCountCommodities,
       [](int32_t i) {
         auto r = Poisoned<CommodityStruct>();
         EXPECT_EQ(vnGetCommodity(i, &r), 0);
         return std::string(r.ExchangeName) + "/" + r.Name;
       },
       {"CME/ES", "LIFFE/FTSE"}},
      // Futures before strategies within a commodity.
      {vnCountContracts,
       [](int32_t i) {
         auto r = Poisoned<ContractStruct>();
         EXPECT_EQ(vnGetContract(i, &r), 0);
         auto e = Poisoned<ExtendedContractStruct>();
         EXPECT_EQ(vnGetExtendedContract(i, &e), 0);
         EXPECT_STREQ(r.ContractDate, e.ContractDate);
         return std::string(r.ContractDate);
       },
       {"DEC24", "MAR24", "BCSPRD"}},
  };
  for (const auto& list : lists) {
    std::int32_t count = -1;
    ASSERT_EQ(list.Count(&count), 0);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < count; ++i)
      names.push_back(list.NameAt(i));
    EXPECT_EQ(names, list.Expected);
  }
}

// A bad index gives 8 and zeroes the record, or the part of it that the export zeroes: 4 bytes
// of a report type, the part shared by both contract records.
TEST_F(RefDataExportsTest, BadIndexGives8AndZeroesTheRecordOrItsStatedPart) {
  LogOn();
  for (const std::int32_t index : {-1, 4}) {
    auto exchange = Poisoned<ExchangeStruct>();
    EXPECT_EQ(vnGetExchange(index, &exchange), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(exchange, sizeof exchange));
    auto trader = Poisoned<TraderAcctStruct>();
    EXPECT_EQ(vnGetTrader(index, &trader), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(trader, sizeof trader));
    auto orderType = Poisoned<OrderTypeStruct>();
    EXPECT_EQ(vnGetOrderType(index, &orderType), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(orderType, sizeof orderType));
    auto reportType = Poisoned<ReportTypeStruct>();
    EXPECT_EQ(vnGetReportType(index, &reportType), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(reportType, 4));
    auto commodity = Poisoned<CommodityStruct>();
    EXPECT_EQ(vnGetCommodity(index, &commodity), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(commodity, sizeof commodity));
    auto contract = Poisoned<ContractStruct>();
    EXPECT_EQ(vnGetContract(index, &contract), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(contract, sizeof contract));
    auto extended = Poisoned<ExtendedContractStruct>();
    EXPECT_EQ(vnGetExtendedContract(index, &extended), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(ZeroedThenPoisoned(extended, sizeof(ContractStruct)));
  }
}

// An empty list: 10 where the family checks for it first, else the bad-index answer.
TEST_F(RefDataExportsTest, EmptyListsGive10WhereTheFamilyChecksForThem) {
  LogOn();
  TClassAPI& api = *API();
  for (TIndexList* list : std::initializer_list<TIndexList*>{
           &api.Contracts, &api.OrderTypes, &api.Commodities, &api.Exchanges, &api.Accounts,
           &api.ReportTypes, &api.Reports, &api.ExchangeRates})
    list->FreeAll();

  auto exchange = Poisoned<ExchangeStruct>();
  EXPECT_EQ(vnGetExchange(0, &exchange), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(exchange, sizeof exchange));
  exchange = Poisoned<ExchangeStruct>();
  EXPECT_EQ(vnGetExchangeByName("LIFFE", &exchange), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(exchange, 0));
  EXPECT_EQ(vnExchangeExists("LIFFE"), VN_RC_NO_DATA);

  auto trader = Poisoned<TraderAcctStruct>();
  EXPECT_EQ(vnGetTrader(0, &trader), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetTraderByName("ACC1", &trader), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(trader, 0));
  EXPECT_EQ(vnTraderExists("ACC1"), VN_RC_NO_DATA);

  auto orderType = Poisoned<OrderTypeStruct>();
  EXPECT_EQ(vnGetOrderType(0, &orderType), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(orderType, 0));

  auto reportType = Poisoned<ReportTypeStruct>();
  EXPECT_EQ(vnGetReportType(0, &reportType), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(reportType, 4));
  EXPECT_EQ(vnReportTypeExists("Daily"), VN_RC_NO_DATA);
  std::int32_t size = -1;
  EXPECT_EQ(vnGetReportSize("Daily", &size), VN_RC_NO_DATA);
  EXPECT_EQ(size, 0);
  char text[8] = "poison";
  EXPECT_EQ(vnGetReport("Daily", 8, text), VN_RC_NO_DATA);
  EXPECT_STREQ(text, "poison");

  auto commodity = Poisoned<CommodityStruct>();
  EXPECT_EQ(vnGetCommodity(0, &commodity), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetCommodityByName("LIFFE", "FTSE", &commodity), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(commodity, 0));
  EXPECT_EQ(vnCommodityExists("LIFFE", "FTSE"), VN_RC_NO_DATA);

  auto contract = Poisoned<ContractStruct>();
  EXPECT_EQ(vnGetContract(0, &contract), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(contract, 0));
  auto extended = Poisoned<ExtendedContractStruct>();
  EXPECT_EQ(vnGetExtendedContract(0, &extended), VN_RC_NO_DATA);
  EXPECT_EQ(vnContractExists("LIFFE", "FTSE", "MAR24"), VN_RC_NO_DATA);
  // Not found, not "no data", for the look-ups by name and by leg fields.
  EXPECT_EQ(vnGetContractByName("LIFFE", "FTSE", "MAR24", &contract), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(contract, sizeof contract));
  const auto key = Zeroed<ContractStruct>();
  contract = Poisoned<ContractStruct>();
  EXPECT_EQ(vnGetContractByExternalID(&key, &contract), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(contract, sizeof contract));

  auto rate = Poisoned<ExchangeRateStruct>();
  EXPECT_EQ(vnGetExchangeRate("GBP", &rate), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(rate, 0));
}

// Each record kind, byte for byte, from one item: every field written at its place.
TEST_F(RefDataExportsTest, RecordsCarryEveryFieldOfTheirItem) {
  LogOn();
  {
    auto expected = Zeroed<ExchangeStruct>();
    Put(expected.Name, "LIFFE");
    expected.QueryEnabled = 'Y';
    expected.AmendEnabled = 'N';
    expected.StrategyCreator = VN_SC_STRATEGY_CREATOR;
    expected.CustomDecimal = 'Y';
    expected.Decimals = 3;
    expected.TicketType = 'E';
    expected.RFQA = 'N';
    expected.RFQT = 'Y';
    expected.EnableBlock = 'N';
    expected.EnableBasis = 'Y';
    expected.EnableAA = 'N';
    expected.EnableCross = 'Y';
    expected.UUIDState = VN_STATE_INACTIVE;
    auto byIndex = Poisoned<ExchangeStruct>();
    ASSERT_EQ(vnGetExchange(3, &byIndex), 0);
    EXPECT_TRUE(SameBytes(byIndex, expected));
    auto byName = Poisoned<ExchangeStruct>();
    ASSERT_EQ(vnGetExchangeByName("LIFFE", &byName), 0);
    EXPECT_TRUE(SameBytes(byName, expected));
  }
  {
    auto expected = Zeroed<TraderAcctStruct>();
    Put(expected.TraderAccount, "ACC1");
    Put(expected.BackOfficeID, "BO-77");
    expected.Tradable = 'Y';
    expected.LossLimit = -2500;
    auto byIndex = Poisoned<TraderAcctStruct>();
    ASSERT_EQ(vnGetTrader(1, &byIndex), 0);
    EXPECT_TRUE(SameBytes(byIndex, expected));
    auto byName = Poisoned<TraderAcctStruct>();
    ASSERT_EQ(vnGetTraderByName("ACC1", &byName), 0);
    EXPECT_TRUE(SameBytes(byName, expected));
  }
  {
    auto expected = Zeroed<OrderTypeStruct>();
    Put(expected.Name, "LIMIT");
    Put(expected.ExchangeName, "LIFFE");
    expected.OrderTypeID = VN_OT_LIMIT;
    expected.PricesRequired = 1;
    expected.VolumesRequired = 2;
    expected.DatesRequired = 3;
    expected.AutoCreated = 'Y';
    expected.TimeTriggered = 'T';
    expected.RealSynthetic = 'R';
    expected.GTCFlag = 'G';
    Put(expected.TicketType, "E1");
    auto actual = Poisoned<OrderTypeStruct>();
    ASSERT_EQ(vnGetOrderType(1, &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
  {
    auto expected = Zeroed<ReportTypeStruct>();
    Put(expected.ReportType, "Daily");
    auto actual = Poisoned<ReportTypeStruct>();
    ASSERT_EQ(vnGetReportType(0, &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
  {
    auto expected = Zeroed<CommodityStruct>();
    Put(expected.ExchangeName, "LIFFE");
    Put(expected.Name, "FTSE");
    Put(expected.Currency, "GBP");
    Put(expected.Group, "IDX");
    Put(expected.OnePoint, "0.33333333");  // cut to its width
    expected.TicksPerPoint = 2;
    Put(expected.TickSize, "0.5");
    expected.UUIDState = VN_STATE_EXPIRED;
    auto byIndex = Poisoned<CommodityStruct>();
    ASSERT_EQ(vnGetCommodity(1, &byIndex), 0);
    EXPECT_TRUE(SameBytes(byIndex, expected)) << byIndex.OnePoint;
    auto byName = Poisoned<CommodityStruct>();
    ASSERT_EQ(vnGetCommodityByName("LIFFE", "FTSE", &byName), 0);
    EXPECT_TRUE(SameBytes(byName, expected));
  }
  {
    auto expected = Zeroed<ExchangeRateStruct>();
    Put(expected.Rate, "1.25");
    auto actual = Poisoned<ExchangeRateStruct>();
    ASSERT_EQ(vnGetExchangeRate("GBP", &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
  {
    auto expected = Zeroed<AtBestStruct>();
    Put(expected.Firm, "XYZ");
    expected.Volume = 3;
    expected.BestType = 'O';
    auto actual = Poisoned<AtBestStruct>();
    ASSERT_EQ(vnGetContractAtBest("LIFFE", "FTSE", "MAR24", 1, &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
  {
    auto expected = Zeroed<AtBestPriceStruct>();
    Put(expected.BestBid, "101.5");
    Put(expected.BestOffer, "102.25");
    Put(expected.LastBuyer, "BUY");
    Put(expected.LastSeller, "SEL");
    auto actual = Poisoned<AtBestPriceStruct>();
    ASSERT_EQ(vnGetContractAtBestPrices("LIFFE", "FTSE", "MAR24", &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
  {
    auto expected = Zeroed<SubscriberDepthStruct>();
    Put(expected.Price, "99.75");
    expected.Volume = 12;
    Put(expected.Firm, "DPT");
    expected.DepthType = 'D';
    auto actual = Poisoned<SubscriberDepthStruct>();
    ASSERT_EQ(vnGetContractSubscriberDepth("LIFFE", "FTSE", "MAR24", 0, &actual), 0);
    EXPECT_TRUE(SameBytes(actual, expected));
  }
}

// A contract with one leg: slot 2 is written empty. The extended record carries every slot.
TEST_F(RefDataExportsTest, ContractRecordsCarryEveryFieldAndEveryLegSlot) {
  LogOn();
  auto expected = Zeroed<ContractStruct>();
  Put(expected.ContractName, "FTSE");
  Put(expected.ContractDate, "MAR24");
  Put(expected.ExchangeName, "LIFFE");
  Put(expected.ExpiryDate, "20240315");
  Put(expected.LastTradeDate, "20240314");
  expected.NumberOfLegs = 1;
  expected.TicksPerPoint = 4;
  Put(expected.TickSize, "0.25");
  expected.Tradable = 'Y';
  expected.UUIDState = VN_STATE_ACTIVE;
  Put(expected.MarginRequired, "1250.5");
  expected.ESATemplate = 'T';
  Put(expected.MarketRef, "REF1");
  Put(expected.lnExchange, "LEX");
  Put(expected.lnCommodity, "LCOM");
  Put(expected.lnContractDate, "LDATE");
  const char* leg1[] = {"F", "LIFFE", "FTSE", "MAR24", "100"};
  for (int f = 0; f < 5; ++f)
    Put(expected.Legs[0].Field[f], leg1[f]);

  auto byIndex = Poisoned<ContractStruct>();
  ASSERT_EQ(vnGetContract(1, &byIndex), 0);
  EXPECT_TRUE(SameBytes(byIndex, expected));
  auto byName = Poisoned<ContractStruct>();
  ASSERT_EQ(vnGetContractByName("LIFFE", "FTSE", "MAR24", &byName), 0);
  EXPECT_TRUE(SameBytes(byName, expected));
  auto extended = Poisoned<ExtendedContractStruct>();
  ASSERT_EQ(vnGetExtendedContractByName("LIFFE", "FTSE", "MAR24", &extended), 0);
  EXPECT_EQ(std::memcmp(&extended, &expected, sizeof expected), 0);
  EXPECT_TRUE(ZeroedThenPoisoned(extended.Legs[2], sizeof extended.Legs[2]));
  EXPECT_TRUE(ZeroedThenPoisoned(extended.Legs[15], sizeof extended.Legs[15]));

  // The strategy: its commodity's figures stand in for its own; the exchange's ticket type and
  // leg 1's type make it not tradable; its third leg reaches only the extended record.
  ASSERT_EQ(vnGetExtendedContract(2, &extended), 0);
  // Packed fields are read by value: a reference to one would be misaligned.
  EXPECT_EQ(std::int32_t{extended.NumberOfLegs}, 3);
  EXPECT_EQ(std::int32_t{extended.TicksPerPoint}, 2);
  EXPECT_STREQ(extended.TickSize, "0.5");
  EXPECT_EQ(extended.Tradable, 'N');
  EXPECT_STREQ(extended.Legs[2].Field[3], "SEP24");
  EXPECT_STREQ(extended.Legs[2].Field[4], "6500");
  EXPECT_STREQ(extended.Legs[3].Field[0], "");
  auto strategy = Poisoned<ContractStruct>();
  ASSERT_EQ(vnGetContract(2, &strategy), 0);
  EXPECT_STREQ(strategy.Legs[1].Field[1], "L2");
}

TEST_F(RefDataExportsTest, LookUpsByNameAndExistence) {
  LogOn();
  const struct {
    const char* Name;
    std::function<std::int32_t()> Call;
    std::int32_t Expected;
  } cases[] = {
      // Exchanges: by name trims, exists wants the exact key; names are cut to 10 characters.
      {"exchange by trimmed name",
       [] {
         ExchangeStruct r;
         return vnGetExchangeByName(" LIFFE ", &r);
       },
       0},
      {"exchange exists", [] { return vnExchangeExists("LIFFE"); }, 0},
      {"exchange exists, blank", [] { return vnExchangeExists("LIFFE "); }, VN_RC_GENERIC_ERROR},
      {"exchange exists, cut", [] { return vnExchangeExists("ABCDEFGHIJK"); }, 0},
      {"exchange exists, null", [] { return vnExchangeExists(nullptr); }, VN_RC_GENERIC_ERROR},
      // Trader accounts: by name as given, exists trimmed.
      {"trader by name, blank",
       [] {
         TraderAcctStruct r;
         return vnGetTraderByName("ACC1 ", &r);
       },
       VN_RC_TRADER_ACCOUNT_NOT_FOUND},
      {"trader exists, blank", [] { return vnTraderExists("ACC1 "); }, 0},
      {"trader exists, unknown", [] { return vnTraderExists("ACC9"); }, VN_RC_GENERIC_ERROR},
      {"report type exists", [] { return vnReportTypeExists("Weekly"); }, 0},
      {"report type exists, unknown", [] { return vnReportTypeExists("Monthly"); },
       VN_RC_GENERIC_ERROR},
      {"commodity exists, trimmed", [] { return vnCommodityExists("LIFFE ", " FTSE"); }, 0},
      {"commodity exists, unknown", [] { return vnCommodityExists("CME", "FTSE"); },
       VN_RC_GENERIC_ERROR},
      {"contract exists", [] { return vnContractExists("CME", "ES", "DEC24"); }, 0},
      {"contract exists, unknown", [] { return vnContractExists("CME", "ES", "MAR24"); },
       VN_RC_GENERIC_ERROR},
      {"at best count, unknown contract",
       [] {
         std::int32_t count = -1;
         const std::int32_t result = vnCountContractAtBest("CME", "ES", "MAR24", &count);
         return count == 0 ? result : -1;
       },
       VN_RC_INVALID_INDEX},
      {"depth count",
       [] {
         std::int32_t count = -1;
         const std::int32_t result =
             vnCountContractSubscriberDepth("LIFFE", "FTSE", "MAR24", &count);
         return count == 1 ? result : -1;
       },
       0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Call(), c.Expected) << c.Name;

  // Failed look-ups: the record zeroed where the family says so, else untouched.
  auto exchange = Poisoned<ExchangeStruct>();
  EXPECT_EQ(vnGetExchangeByName("XEUREX", &exchange), VN_RC_UNKNOWN_EXCHANGE);
  EXPECT_TRUE(ZeroedThenPoisoned(exchange, sizeof exchange));
  auto trader = Poisoned<TraderAcctStruct>();
  EXPECT_EQ(vnGetTraderByName("ACC1 ", &trader), VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  EXPECT_TRUE(ZeroedThenPoisoned(trader, sizeof trader));
  auto commodity = Poisoned<CommodityStruct>();
  EXPECT_EQ(vnGetCommodityByName("CME", "FTSE", &commodity), VN_RC_UNKNOWN_COMMODITY);
  EXPECT_TRUE(ZeroedThenPoisoned(commodity, sizeof commodity));
  auto extended = Poisoned<ExtendedContractStruct>();
  EXPECT_EQ(vnGetExtendedContractByName("CME", "ES", "MAR24", &extended), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(extended, sizeof(ContractStruct)));
  auto rate = Poisoned<ExchangeRateStruct>();
  EXPECT_EQ(vnGetExchangeRate("USD", &rate), VN_RC_UNKNOWN_CURRENCY);
  EXPECT_TRUE(ZeroedThenPoisoned(rate, 0));
  auto prices = Poisoned<AtBestPriceStruct>();
  EXPECT_EQ(vnGetContractAtBestPrices("CME", "ES", "MAR24", &prices), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(prices, 0));
}

// The first contract whose leg 1 fields 1-3 and leg 2 fields 2-3 match, trimmed.
TEST_F(RefDataExportsTest, ContractByExternalIDMatchesTrimmedLegFields) {
  LogOn();
  auto key = Poisoned<ContractStruct>();
  Put(key.Legs[0].Field[0], " BC");
  Put(key.Legs[0].Field[1], "LIFFE ");
  Put(key.Legs[0].Field[2], "FTSE");
  Put(key.Legs[1].Field[1], "L2");
  Put(key.Legs[1].Field[2], "C2");
  auto found = Poisoned<ContractStruct>();
  ASSERT_EQ(vnGetContractByExternalID(&key, &found), 0);
  EXPECT_STREQ(found.ContractDate, "BCSPRD");
  // The output may be the key itself.
  ASSERT_EQ(vnGetContractByExternalID(&key, &key), 0);
  EXPECT_STREQ(key.ContractDate, "BCSPRD");

  Put(key.Legs[1].Field[2], "C9");
  found = Poisoned<ContractStruct>();
  EXPECT_EQ(vnGetContractByExternalID(&key, &found), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(found, sizeof found));
}

TEST_F(RefDataExportsTest, ReportSizeAndTextJoinTheReportsOfTheType) {
  LogOn();
  std::int32_t size = -1;
  EXPECT_EQ(vnGetReportSize(" Daily", &size), 0);
  EXPECT_EQ(size, 16);  // 10 + 5 characters and the NUL
  EXPECT_EQ(vnGetReportSize("Weekly", &size), VN_RC_NO_MATCHING_REPORT);
  EXPECT_EQ(size, 0);

  char buffer[20];
  std::memset(buffer, kPoison, sizeof buffer);
  EXPECT_EQ(vnGetReport("Daily", 0, buffer), VN_RC_REPORT_NO_ROOM);
  EXPECT_EQ(vnGetReport("Daily", 15, buffer), VN_RC_REPORT_NO_ROOM);
  EXPECT_EQ(vnGetReport("Daily", -1, buffer), VN_RC_REPORT_NO_ROOM);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), kPoison);
  ASSERT_EQ(vnGetReport("Daily ", 16, buffer), 0);
  EXPECT_STREQ(buffer, "0123456789abcde");
  EXPECT_EQ(vnGetReport("None", 16, buffer), VN_RC_NO_MATCHING_REPORT);
  EXPECT_STREQ(buffer, "");
}

TEST_F(RefDataExportsTest, AtBestAndDepthEntriesByIndex) {
  LogOn();
  std::int32_t count = -1;
  ASSERT_EQ(vnCountContractAtBest("LIFFE", "FTSE", "MAR24", &count), 0);
  EXPECT_EQ(count, 2);

  // The firm is zeroed before any check; the rest is left as it was.
  auto atBest = Poisoned<AtBestStruct>();
  EXPECT_EQ(vnGetContractAtBest("LIFFE", "FTSE", "MAR24", count, &atBest), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(atBest, 4));
  atBest = Poisoned<AtBestStruct>();
  EXPECT_EQ(vnGetContractAtBest("CME", "ES", "MAR24", 0, &atBest), VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(atBest, 4));
  atBest = Poisoned<AtBestStruct>();
  EXPECT_EQ(vnGetContractAtBest("CME", "ES", "DEC24", 0, &atBest), VN_RC_NO_DATA);
  EXPECT_TRUE(ZeroedThenPoisoned(atBest, 4));

  auto depth = Poisoned<SubscriberDepthStruct>();
  EXPECT_EQ(vnGetContractSubscriberDepth("LIFFE", "FTSE", "MAR24", -1, &depth),
            VN_RC_INVALID_INDEX);
  EXPECT_TRUE(ZeroedThenPoisoned(depth, 4));
  EXPECT_EQ(vnGetContractSubscriberDepth("CME", "ES", "DEC24", 0, &depth), VN_RC_NO_DATA);
}

// Application threads query every list while another thread adds and removes items of them and
// replaces a contract's at-best entries.
TEST_F(RefDataExportsTest, QueriesRunWhileTheListsChange) {
  LogOn();
  TClassAPI& api = *API();
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 300; ++i) {
      const std::string n = "T" + std::to_string(i);
      auto exchange = std::make_shared<TExchange>(n);
      api.Exchanges.Add(exchange);
      auto account = std::make_shared<TTraderAccountItem>(n);
      api.Accounts.Add(account);
      auto commodity = std::make_shared<TCommodity>();
      commodity->SetExchangeName("CME");
      commodity->SetName(n);
      api.Commodities.Add(commodity);
      const int index = api.Contracts.AddFromFields("CME", "ES", n, Fields("X1=F|X2=CME|X3=ES"));
      TAtBestPrices atBest;
      atBest.Entries.assign(static_cast<std::size_t>(i % 3), TAtBest{"F" + n, i, 'B'});
      Future()->SetAtBest(atBest);
      if (index >= 0) api.Contracts.RemoveItem(api.Contracts.At(index).get());
      api.Commodities.RemoveItem(commodity.get());
      api.Accounts.RemoveItem(account.get());
      api.Exchanges.RemoveItem(exchange.get());
    }
    done = true;
  });
  auto reader = [&] {
    int rounds = 0;
    while (!done || rounds < 50) {
      ++rounds;
      std::int32_t count = 0;
      ASSERT_EQ(vnCountExchanges(&count), 0);
      ExchangeStruct exchange;
      const std::int32_t got = vnGetExchange(count - 1, &exchange);
      ASSERT_TRUE(got == 0 || got == VN_RC_INVALID_INDEX) << got;
      TraderAcctStruct trader;
      ASSERT_EQ(vnGetTrader(0, &trader), 0);
      ASSERT_EQ(vnGetTraderByName("ACC1", &trader), 0);
      CommodityStruct commodity;
      ASSERT_EQ(vnGetCommodity(0, &commodity), 0);
      ASSERT_EQ(vnCountContracts(&count), 0);
      ContractStruct contract;
      ASSERT_EQ(vnGetContract(0, &contract), 0);
      ExtendedContractStruct extended;
      ASSERT_EQ(vnGetExtendedContractByName("LIFFE", "FTSE", "MAR24", &extended), 0);
      ASSERT_EQ(vnGetContractByExternalID(&contract, &contract), 0);
      AtBestStruct atBest;
      const std::int32_t entry = vnGetContractAtBest("LIFFE", "FTSE", "MAR24", 1, &atBest);
      ASSERT_TRUE(entry == 0 || entry == VN_RC_NO_DATA || entry == VN_RC_INVALID_INDEX) << entry;
      ASSERT_EQ(vnExchangeExists("LIFFE"), 0);
    }
  };
  std::thread first(reader);
  std::thread second(reader);
  writer.join();
  first.join();
  second.join();
  std::int32_t count = 0;
  ASSERT_EQ(vnCountContracts(&count), 0);
  EXPECT_EQ(count, 3);
}

}  // namespace
}  // namespace vorn
