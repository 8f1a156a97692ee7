#include "core/refdata/ContractItem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/Exchange.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/util/Text.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/HostText.h"

namespace vorn {
namespace {

std::shared_ptr<TContractItem> MakeContract(const std::string& fields = "X1=F",
                                            const std::string& date = "MAR24") {
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames("EX", "COM", date);
  contract->SetFields(Fields(fields));
  return contract;
}

// An outright contract whose price table exists already, mask taken.
std::shared_ptr<TContractItem> MakeTabledContract() {
  auto contract = MakeContract();
  contract->SetPrice(VN_PK_BID, 1, 1.0);
  contract->TakeChangeMask();
  return contract;
}

class PriceTableTest : public ::testing::Test {
 protected:
  PriceTableTest()
      : clock_(EncodeDate(2024, 3, 15) + EncodeTime(10, 20, 30, 0)), install_(clock_) {}
  TFakeClock clock_;
  TClockInstaller install_;
};

TEST_F(PriceTableTest, EachKindWritesItsEntryAndItsMaskBit) {
  struct TCase {
    int kind;
    std::uint32_t bit;
  };
  const TCase cases[] = {
      {0, 0x1},     {1, 0x2},     {2, 0x4},     {3, 0x8},     {4, 0x10},    {5, 0x20},
      {6, 0x20},    {24, 0x20},   {25, 0x40},   {26, 0x80},   {27, 0x100},  {28, 0x200},
      {29, 0x400},  {30, 0x800},  {49, 0x800},  {50, 0x1000}, {69, 0x1000}, {70, 0x2000},
      {74, 0x2000}, {75, 0x4000}, {77, 0x4000}, {78, 0x8000}, {79, 0x8000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    EXPECT_EQ(PriceKindMaskBit(c.kind), c.bit);
    auto contract = MakeTabledContract();
    EXPECT_TRUE(contract->SetPrice(c.kind, 7, 101.5));
    const PriceEntry entry = contract->GetPrice(c.kind);
    EXPECT_EQ(ValueOf(entry), 101.5);
    EXPECT_EQ(VolumeOf(entry), 7);
    EXPECT_EQ(entry.Unset, 0);
    EXPECT_EQ(entry.DirectionHour, VN_PE_UP | 10);
    EXPECT_EQ(entry.Minute, 20);
    EXPECT_EQ(entry.Second, 30);
    EXPECT_EQ(contract->ChangeMask(), c.bit);
  }
  EXPECT_EQ(PriceKindMaskBit(-1), 0u);
  EXPECT_EQ(PriceKindMaskBit(80), 0u);
}

TEST_F(PriceTableTest, KindsOutsideTheTableChangeNothing) {
  auto contract = MakeContract();
  for (int kind : {-1, 80, 1000}) {
    EXPECT_FALSE(contract->SetPrice(kind, 1, 1.0));
    EXPECT_EQ(contract->GetPrice(kind).Unset, 1);
    EXPECT_FALSE(contract->SetGenericPrice(kind < 0 ? kind : 9, 1, 1.0));
  }
  EXPECT_FALSE(contract->SetPrice(VN_PK_BID, 1, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(contract->ChangeMask(), 0u);
}

TEST_F(PriceTableTest, OwnLastPriceLivesOutsideTheTableUntilTheFirstOtherKind) {
  auto contract = MakeContract();
  EXPECT_EQ(contract->GetPrice(VN_PK_OWN_LAST).Unset, 1);
  EXPECT_TRUE(contract->SetPrice(VN_PK_OWN_LAST, 0, 99.0));
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(ValueOf(contract->GetPrice(VN_PK_OWN_LAST)), 99.0);
  EXPECT_EQ(contract->GetPrice(3).Unset, 1);
  EXPECT_EQ(contract->TakeChangeMask(), VN_PM_OWN_LAST);

  EXPECT_TRUE(contract->SetPrice(VN_PK_LAST_TRADE, 3, 100.0));
  EXPECT_TRUE(contract->HasPriceTable());
  EXPECT_EQ(ValueOf(contract->GetPrice(VN_PK_OWN_LAST)), 99.0);
  EXPECT_EQ(contract->ChangeMask(), VN_PM_TRADES);

  contract->DropPriceTable();
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(ValueOf(contract->GetPrice(VN_PK_OWN_LAST)), 99.0);
  EXPECT_EQ(contract->GetPrice(VN_PK_LAST_TRADE).Unset, 1);
}

TEST_F(PriceTableTest, LastTradesKeepTheNewestTwenty) {
  auto contract = MakeContract();
  const std::uint64_t epoch = LastTradeEpoch();
  for (int trade = 1; trade <= 21; ++trade)
    contract->SetPrice(VN_PK_LAST_TRADE, trade, 100.0 + trade);
  EXPECT_EQ(LastTradeEpoch() - epoch, 21u);
  for (int kind = VN_PK_LAST_TRADE; kind <= VN_PK_OLDEST_TRADE; ++kind)
    EXPECT_EQ(VolumeOf(contract->GetPrice(kind)), 21 - (kind - VN_PK_LAST_TRADE)) << kind;
  EXPECT_EQ(contract->GetPrice(VN_PK_TOTAL_VOLUME).Unset, 1);
}

TEST_F(PriceTableTest, DirectionAgeAndChangeReport) {
  auto api = std::make_shared<TClassAPI>();
  api->Monitoring.PriceAgeCounter = 2;
  auto contract = MakeContract();
  contract->SetServices(api->Contracts.Services());

  EXPECT_TRUE(contract->SetPrice(VN_PK_BID, 5, 10.0));
  EXPECT_EQ(contract->GetPrice(VN_PK_BID).DirectionHour & 0xC0, VN_PE_UP);
  EXPECT_EQ(contract->GetPrice(VN_PK_BID).Age, 2);
  // The same price again: unchanged, direction kept.
  EXPECT_FALSE(contract->SetPrice(VN_PK_BID, 5, 10.0));
  EXPECT_EQ(contract->GetPrice(VN_PK_BID).DirectionHour & 0xC0, VN_PE_UP);
  // A new volume alone is a change.
  EXPECT_TRUE(contract->SetPrice(VN_PK_BID, 6, 10.0));
  EXPECT_TRUE(contract->SetPrice(VN_PK_BID, 6, 9.5));
  EXPECT_EQ(contract->GetPrice(VN_PK_BID).DirectionHour & 0xC0, VN_PE_DOWN);
  contract->TakeChangeMask();

  EXPECT_FALSE(contract->AgePrices());
  EXPECT_EQ(contract->ChangeMask(), 0u);
  EXPECT_TRUE(contract->AgePrices());
  const PriceEntry aged = contract->GetPrice(VN_PK_BID);
  EXPECT_EQ(aged.Age, 0);
  EXPECT_EQ(aged.DirectionHour, 10);  // direction gone, hour kept
  EXPECT_EQ(contract->ChangeMask(), VN_PM_BID);
  EXPECT_FALSE(contract->AgePrices());
}

TEST_F(PriceTableTest, AnEmptyPriceReadsUnsetOnAnOutrightOnly) {
  auto outright = MakeContract("X1=F");
  outright->SetPrice(VN_PK_BID, 5, 10.0);
  EXPECT_TRUE(outright->SetPrice(VN_PK_BID, 0, 0.0));
  EXPECT_EQ(outright->GetPrice(VN_PK_BID).Unset, 1);
  EXPECT_EQ(outright->GetPrice(VN_PK_BID).DirectionHour & 0xC0, VN_PE_DOWN);

  auto strategy = MakeContract("X1=BC|X1=C|X1=C");
  ASSERT_EQ(strategy->GetLegs(), 3);
  strategy->SetPrice(VN_PK_BID, 0, 0.0);
  EXPECT_EQ(strategy->GetPrice(VN_PK_BID).Unset, 0);
}

TEST_F(PriceTableTest, ReadingCopiesEveryEntryAndTakesTheMask) {
  auto contract = MakeContract();
  TPriceTable prices{};
  contract->SetPrice(VN_PK_OWN_LAST, 0, 50.0);
  EXPECT_EQ(contract->ReadPrices(prices), VN_PM_OWN_LAST);
  EXPECT_EQ(ValueOf(prices[VN_PK_OWN_LAST]), 50.0);
  EXPECT_EQ(prices[VN_PK_BID].Unset, 1);

  contract->SetPrice(VN_PK_BID, 1, 10.0);
  contract->SetPrice(VN_PK_HIGH, 0, 12.0);
  EXPECT_EQ(contract->ReadPrices(prices), VN_PM_BID | VN_PM_HIGH);
  EXPECT_EQ(ValueOf(prices[VN_PK_BID]), 10.0);
  EXPECT_EQ(ValueOf(prices[VN_PK_HIGH]), 12.0);
  EXPECT_EQ(ValueOf(prices[VN_PK_OWN_LAST]), 50.0);
  EXPECT_EQ(contract->ReadPrices(prices), 0u);
}

TEST_F(PriceTableTest, ClearPricesEmptiesTopAndDepthOnly) {
  auto contract = MakeContract();
  contract->ClearPrices(false);  // no table: nothing
  EXPECT_EQ(contract->ChangeMask(), 0u);
  for (int kind = 0; kind < kPriceKindCount; ++kind)
    contract->SetPrice(kind, 1, 1.0 + kind);
  contract->TakeChangeMask();

  contract->ClearPrices(false);
  EXPECT_EQ(contract->ChangeMask(), kClearedPricesMask);
  for (int kind = 0; kind < kPriceKindCount; ++kind) {
    const bool cleared = kind <= 4 || (kind >= 30 && kind <= 69);
    EXPECT_EQ(contract->GetPrice(kind).Unset, cleared ? 1 : 0) << kind;
  }
}

TEST_F(PriceTableTest, GenericPricesHaveTheirOwnZeroedTable) {
  auto contract = MakeContract();
  EXPECT_EQ(contract->GetGenericPrice(3).Unset, 1);
  EXPECT_TRUE(contract->SetGenericPrice(3, 4, 7.5));
  EXPECT_FALSE(contract->SetGenericPrice(3, 4, 7.5));
  EXPECT_EQ(ValueOf(contract->GetGenericPrice(3)), 7.5);
  EXPECT_EQ(contract->GetGenericPrice(3).DirectionHour, VN_PE_UP | 10);
  const PriceEntry untouched = contract->GetGenericPrice(5);
  EXPECT_EQ(untouched.Unset, 0);
  EXPECT_EQ(ValueOf(untouched), 0.0);
  EXPECT_TRUE(contract->SetGenericPrice(3, 0, 0.0));
  EXPECT_EQ(contract->GetGenericPrice(3).Unset, 1);
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(contract->ChangeMask(), 0u);
}

// A batch writes what the same writes one at a time write: random batches over kinds with
// and without a table, the own entry, the trade history, refused kinds and values, 0/0 on an
// outright and on a strategy, rising, falling and repeated values.
TEST_F(PriceTableTest, ABatchWritesWhatSingleWritesInTurnWrite) {
  auto api = std::make_shared<TClassAPI>();
  api->Monitoring.PriceAgeCounter = 3;
  constexpr int kKinds[] = {0, 1, 2, 4, 5, 5, 24, 25, 29, 29, 30, 69, 79, -1, 80};
  constexpr double kValues[] = {0.0, 0.0, 1.5, 2.5, -3.0, std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937 random(20240315);
  const auto pick = [&random](const auto& table) {
    return table[std::uniform_int_distribution<std::size_t>(0, std::size(table) - 1)(random)];
  };
  for (const char* fields : {"X1=F", "X1=BC|X1=C|X1=C"}) {
    SCOPED_TRACE(fields);
    auto single = MakeContract(fields);
    auto batched = MakeContract(fields);
    single->SetServices(api->Contracts.Services());
    batched->SetServices(api->Contracts.Services());
    for (int round = 0; round < 300; ++round) {
      SCOPED_TRACE(round);
      std::vector<TPriceWrite> writes(std::uniform_int_distribution<std::size_t>(1, 12)(random));
      for (auto& write : writes)
        write = {pick(kKinds), std::uniform_int_distribution<std::int32_t>(0, 2)(random),
                 pick(kValues)};
      std::uint32_t expected = 0;
      const std::uint64_t epoch = LastTradeEpoch();
      for (std::size_t i = 0; i < writes.size(); ++i)
        if (single->SetPrice(writes[i].Kind, writes[i].Volume, writes[i].Value))
          expected |= 1u << i;
      const std::uint64_t trades = LastTradeEpoch() - epoch;
      EXPECT_EQ(batched->SetPrices(writes), expected);
      EXPECT_EQ(LastTradeEpoch() - epoch, 2 * trades);
      EXPECT_EQ(batched->HasPriceTable(), single->HasPriceTable());
      TPriceTable singleTable{};
      TPriceTable batchedTable{};
      EXPECT_EQ(batched->ReadPrices(batchedTable), single->ReadPrices(singleTable));
      EXPECT_EQ(std::memcmp(&batchedTable, &singleTable, sizeof singleTable), 0);
      if (round % 50 == 49) {  // the own entry survives a drop alike
        single->DropPriceTable();
        batched->DropPriceTable();
      }
    }
  }
}

TEST_F(PriceTableTest, ABatchBeyondItsLimitWritesNothing) {
  auto contract = MakeContract();
  const std::vector<TPriceWrite> writes(kMaxPriceWrites + 1, TPriceWrite{VN_PK_BID, 1, 1.0});
  EXPECT_THROW(contract->SetPrices(writes), EListError);
  EXPECT_FALSE(contract->HasPriceTable());
  EXPECT_EQ(contract->ChangeMask(), 0u);
  EXPECT_EQ(contract->SetPrices(std::span(writes).first(kMaxPriceWrites)), 1u);
}

TEST_F(PriceTableTest, ABatchedReadCopiesWhatSingleReadsCopy) {
  const int kinds[] = {VN_PK_OWN_LAST, VN_PK_BID, VN_PK_LAST_TRADE, -1, 80, VN_PK_BID};
  PriceEntry read[std::size(kinds)];
  auto contract = MakeContract();
  const auto expectSame = [&] {
    contract->GetPrices(kinds, read);
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
      const PriceEntry single = contract->GetPrice(kinds[i]);
      EXPECT_EQ(std::memcmp(&read[i], &single, sizeof single), 0) << kinds[i];
    }
  };
  contract->SetPrice(VN_PK_OWN_LAST, 0, 50.0);
  expectSame();  // no table: the own entry and empty ones
  contract->SetPrice(VN_PK_BID, 4, 10.0);
  contract->SetPrice(VN_PK_LAST_TRADE, 2, 11.0);
  expectSame();
  EXPECT_THROW(contract->GetPrices(kinds, std::span(read).first(2)), EListError);
}

// The stamp is decoded once a second: it must still be the hour, minute and second that
// DecodeTime gives for every reading, across second, minute and day boundaries.
TEST_F(PriceTableTest, TheTimeStampFollowsTheClockAcrossSeconds) {
  const TDateTime day = EncodeDate(2024, 3, 15);
  const TDateTime readings[] = {
      day + EncodeTime(10, 20, 30, 0),   day + EncodeTime(10, 20, 30, 999),
      day + EncodeTime(10, 20, 31, 0),   day + EncodeTime(10, 20, 30, 500),
      day + EncodeTime(10, 59, 59, 999), day + EncodeTime(11, 0, 0, 0),
      day + EncodeTime(23, 59, 59, 999), day + 1.0 - 0.4 / 86400000.0,
      day + 1.0,                         day + EncodeTime(0, 0, 0, 1),
  };
  auto contract = MakeContract();
  for (const TDateTime reading : readings) {
    clock_.SetNow(reading);
    int hour = 0, minute = 0, second = 0, ms = 0;
    DecodeTime(reading, hour, minute, second, ms);
    SCOPED_TRACE(std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                 std::to_string(second) + "." + std::to_string(ms));
    for (const bool batch : {false, true}) {
      if (batch)
        contract->SetPrices(std::vector<TPriceWrite>{{VN_PK_BID, 1, 2.0}});
      else
        contract->SetPrice(VN_PK_BID, 1, 2.0);
      const PriceEntry entry = contract->GetPrice(VN_PK_BID);
      EXPECT_EQ(entry.DirectionHour & VN_PE_HOUR_MASK, hour);
      EXPECT_EQ(entry.Minute, minute);
      EXPECT_EQ(entry.Second, second);
    }
  }
}

// The price feed writes while application threads read, clear, age and drop the table. Each
// write puts the same number in value and volume, so a torn copy shows as a mismatch.
TEST(PriceTableRaceTest, WriterAndReadersShareTheTableSafely) {
  auto contract = MakeContract();
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread writer([&] {
    for (int i = 1; !stop.load(); ++i) {
      const int kind = i % kPriceKindCount;
      contract->SetPrice(kind, i, i);
      contract->SetGenericPrice(i % kGenericPriceCount, i, i);
      const TPriceWrite batch[] = {{VN_PK_BID, i, static_cast<double>(i)},
                                   {VN_PK_LAST_TRADE, i, static_cast<double>(i)},
                                   {(kind + 7) % kPriceKindCount, i, static_cast<double>(i)}};
      contract->SetPrices(batch);
    }
  });
  std::thread reader([&] {
    TPriceTable prices{};
    for (int i = 0; i < 2000; ++i) {
      contract->ReadPrices(prices);
      for (const auto& entry : prices)
        if (entry.Unset == 0 && entry.Value != entry.Volume) ++torn;
      const PriceEntry last = contract->GetPrice(VN_PK_LAST_TRADE);
      if (last.Unset == 0 && last.Value != last.Volume) ++torn;
      const int kinds[] = {VN_PK_BID, VN_PK_OFFER, VN_PK_LAST_TRADE};
      PriceEntry ticker[3];
      contract->GetPrices(kinds, ticker);
      for (const auto& entry : ticker)
        if (entry.Unset == 0 && entry.Value != entry.Volume) ++torn;
      switch (i % 4) {
        case 0:
          contract->DropPriceTable();
          break;
        case 1:
          contract->ClearPrices(true);
          break;
        case 2:
          contract->AgePrices();
          break;
        default:
          contract->GetGenericPrice(i % kGenericPriceCount);
          break;
      }
    }
    stop = true;
  });
  reader.join();
  writer.join();
  EXPECT_EQ(torn.load(), 0);
}

// --- Fields, legs, permission ----------------------------------------------------------------

TEST(ContractFieldsTest, GettersReadTheFieldListAndFallBackToTheCommodity) {
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetName("COM");
  commodity->TickSize = 0.25;
  commodity->TicksPerPoint = 4;
  auto contract = MakeContract(
      "XD=20240315XX|LT=20240314|Mar=1250.5|MkR=REF1|ETe=Tpl|lnEx=LEX|lnC=LCOM|lnCD=LDATE|"
      "<SG=1|X1=C|X2=EX|X3=COM|X4=MAR24|X5=100|EG>=1|<SG=1|X1=P|X2=EX2|EG>=1");
  contract->SetCommodity(commodity);
  EXPECT_EQ(contract->GetExpiryDate(), "20240315");
  EXPECT_EQ(contract->GetLastTradeDate(), "20240314");
  EXPECT_EQ(contract->GetMarginRequired(), 1250.5);
  EXPECT_EQ(contract->GetMargin(), "1250.5");
  EXPECT_EQ(contract->GetMarketReference(), "REF1");
  EXPECT_EQ(contract->GetESATemplate(), 'T');
  EXPECT_EQ(contract->GetlnExchange(), "LEX");
  EXPECT_EQ(contract->GetlnCommodity(), "LCOM");
  EXPECT_EQ(contract->GetlnContractDate(), "LDATE");
  EXPECT_EQ(contract->GetTickSize(), 0.25);
  EXPECT_EQ(contract->GetTicksPerPoint(), 4);
  EXPECT_EQ(contract->GetLegs(), 2);
  EXPECT_EQ(contract->GetTypeCode(), "C");
  EXPECT_EQ(contract->GetLegField(1, 4), "MAR24");
  EXPECT_EQ(contract->GetLegField(2, 2), "EX2");
  EXPECT_EQ(contract->GetLegField(3, 1), "");
  EXPECT_TRUE(contract->IsOption());

  contract->SetFields(Fields("X1=F|TSz=0.5|TPP=32"));
  EXPECT_EQ(contract->GetTickSize(), 0.5);
  EXPECT_EQ(contract->GetTicksPerPoint(), 32);
  EXPECT_EQ(contract->GetExpiryDate(), "");
  EXPECT_EQ(contract->GetLegField(2, 2), "");
  EXPECT_FALSE(contract->IsOption());
  EXPECT_EQ(contract->GetESATemplate(), '\0');
}

TEST(ContractFieldsTest, LegTableHoldsSixteenLegsAndIgnoresOutOfRangeAccess) {
  std::string text;
  for (int leg = 1; leg <= 20; ++leg)
    text += "<SG=1|X1=F|X2=L" + std::to_string(leg) + "|EG>=1|";
  auto contract = MakeContract(text);
  EXPECT_EQ(contract->GetLegs(), 20);
  EXPECT_EQ(contract->GetLegField(16, 2), "L16");
  for (auto [leg, field] : {std::pair{17, 1}, {0, 1}, {1, 0}, {1, 6}, {-3, 2}}) {
    contract->SetLegField(leg, field, "X");
    EXPECT_EQ(contract->GetLegField(leg, field), "") << leg << "," << field;
  }
  contract->SetLegField(16, 5, "Z");
  EXPECT_EQ(contract->GetLegField(16, 5), "Z");
}

TEST(ContractFieldsTest, KeysAndRankLetters) {
  EXPECT_EQ(TContractItem::RankLetter("F"), 'E');
  EXPECT_EQ(TContractItem::RankLetter("C"), 'K');
  EXPECT_EQ(TContractItem::RankLetter("P"), 'K');
  EXPECT_EQ(TContractItem::RankLetter("EF"), 'P');
  EXPECT_EQ(TContractItem::RankLetter("BC"), 'Q');
  EXPECT_EQ(TContractItem::RankLetter(""), 'Q');
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames(" EX ", "COM ", " MAR 24");
  contract->SetFields(Fields("XD=20240315|X1= C "));
  EXPECT_EQ(contract->SortKey(),
            " EX \x01"
            "COM \x01K20240315 MAR 24");
  EXPECT_EQ(contract->NameKey(),
            "EX\x01"
            "COM\x01MAR 24");
  EXPECT_EQ(contract->GetDescription(), " EX  \\ COM  \\  MAR 24");
}

TEST(ContractFieldsTest, PermissionTable) {
  struct TCase {
    bool flag;
    char ticketType;
    const char* leg1;
    bool permitted;
  };
  const TCase cases[] = {
      {false, 'E', "HP", false}, {false, 'E', "BC", false}, {false, 'E', "LP", false},
      {false, 'E', "MC", false}, {false, 'E', "C", true},   {false, 'E', "P", true},
      {false, 'E', "F", true},   {false, 'E', "XX", true},  {false, 'E', "", true},
      {false, 'A', "HP", true},  {false, '\0', "HP", true}, {true, 'E', "HP", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TContractItem::IsPermittedFor(c.flag, c.ticketType, c.leg1), c.permitted)
        << c.flag << " " << c.ticketType << " " << c.leg1;
  for (const char* code : kStrategyTypeCodes)
    EXPECT_FALSE(TContractItem::IsPermittedFor(false, 'E', code)) << code;

  // Through the contract: its commodity's exchange and the API object's feature flag, which the
  // contract reads through the services of the API object's contract list.
  auto exchange = std::make_shared<TExchange>("EX");
  exchange->TicketType = 'E';
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetName("COM");
  commodity->SetExchange(exchange);
  auto strategy = MakeContract("X1=HP|X1=C");
  EXPECT_TRUE(strategy->IsPermitted());  // no commodity known
  strategy->SetCommodity(commodity);
  auto api = std::make_shared<TClassAPI>();
  strategy->SetServices(api->Contracts.Services());
  EXPECT_FALSE(strategy->IsPermitted());
  api->Features.StrategyPermission = true;
  EXPECT_TRUE(strategy->IsPermitted());
}

// --- Events ----------------------------------------------------------------------------------

class ContractEventTest : public ::testing::Test {
 protected:
  ContractEventTest() : api_(std::make_shared<TClassAPI>()) {
    ExchangeAPI(api_);
    FreeCallbackRegistrations();
    ClearCallbackQueue();
    TCallbackRecorder::RegisterAll();
    StartCallbackThread();
  }
  ~ContractEventTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
  }

  // What was delivered since the last call: a marker is posted and waited for.
  std::vector<TCallbackRecorder::TDelivery> Delivered() {
    AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);
    std::vector<TCallbackRecorder::TDelivery> all;
    for (std::size_t count = seen_ + 1; recorder_.WaitForCount(count); count = all.size() + 1) {
      all = recorder_.Deliveries();
      if (all.back().Id == VN_CB_DATA_DL_COMPLETE) break;
    }
    std::vector<TCallbackRecorder::TDelivery> fresh;
    if (all.empty() || all.back().Id != VN_CB_DATA_DL_COMPLETE) {
      ADD_FAILURE() << "marker not delivered";
      return fresh;
    }
    fresh.assign(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end() - 1);
    seen_ = all.size();
    return fresh;
  }
  std::vector<int> DeliveredIds() {
    std::vector<int> ids;
    for (const auto& d : Delivered())
      ids.push_back(d.Id);
    return ids;
  }

  std::shared_ptr<TClassAPI> api_;
  TCallbackRecorder recorder_;
  std::size_t seen_ = 0;
};

std::string PayloadText(const TCallbackRecorder::TDelivery& d, std::size_t offset,
                        std::size_t width) {
  return GetFixed(reinterpret_cast<const char*>(d.Payload.data()) + offset, width);
}

TEST_F(ContractEventTest, ClearPricesNotifiesOnlyWithASubscriber) {
  auto contract = MakeTabledContract();
  contract->SetServices(api_->Contracts.Services());
  contract->ClearPrices(true);
  EXPECT_TRUE(DeliveredIds().empty());
  api_->Subscriptions.SubscribePrice(contract->Key());
  contract->ClearPrices(true);
  contract->ClearPrices(false);
  EXPECT_EQ(DeliveredIds(), (std::vector<int>{VN_CB_PRICE_UPDATE, VN_CB_DOM_UPDATE}));
}

TEST_F(ContractEventTest, StateChangesPostTheContractEvent) {
  auto contract = MakeContract();
  contract->SetServices(api_->Contracts.Services());
  contract->Deactivate(true);
  contract->Activate(true);
  EXPECT_TRUE(DeliveredIds().empty());
  EXPECT_EQ(contract->State, TUUIDStreamable::usActive);

  api_->Subscriptions.SubscribePrice(contract->Key());
  contract->Deactivate(true);
  EXPECT_EQ(contract->State, TUUIDStreamable::usInactive);
  contract->Activate(true);
  contract->Expire();
  EXPECT_EQ(contract->State, TUUIDStreamable::usExpired);
  const auto delivered = Delivered();
  ASSERT_EQ(delivered.size(), 3u);
  for (const auto& d : delivered) {
    EXPECT_EQ(d.Id, VN_CB_CONTRACT_UPDATE);
    EXPECT_EQ(PayloadText(d, 22, 51), "MAR24");
  }
}

// The commodity tells its members when it is activated, and an activated contract activates
// its inactive commodity: this must end.
TEST_F(ContractEventTest, ActivatingAContractActivatesItsInactiveCommodityOnce) {
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetName("COM");
  commodity->SetExchangeName("EX");
  commodity->State = TUUIDStreamable::usInactive;
  auto contract = MakeContract();
  contract->SetCommodity(commodity);
  commodity->AddMember(contract);
  contract->State = TUUIDStreamable::usInactive;

  contract->Activate(true);
  EXPECT_EQ(commodity->State, TUUIDStreamable::usActive);
  EXPECT_EQ(contract->State, TUUIDStreamable::usActive);
  EXPECT_EQ(DeliveredIds(), std::vector<int>{VN_CB_COMMODITY_UPDATED});
}

TEST(ContractMembersTest, UpdateChildListSwapsMembersForTheirCurrentStateAndCopiesGroups) {
  auto contract = MakeContract();
  auto old = std::make_shared<TContractItem>();
  old->BelongsTo.Add(std::string("{GROUP}"));
  auto current = std::make_shared<TContractItem>();
  contract->AddMember(old);
  auto services = std::make_shared<TContractServices>();
  services->ResolveMember = [&](const std::shared_ptr<TUUIDStreamable>& member) {
    return member == old ? std::static_pointer_cast<TUUIDStreamable>(current) : nullptr;
  };
  contract->SetServices(services);
  contract->UpdateChildList();
  {
    auto members = contract->Members.LockList();
    ASSERT_EQ(members->size(), 1u);
    EXPECT_EQ(members->front().lock(), current);
  }
  auto groups = current->BelongsTo.LockList();
  EXPECT_EQ(*groups, std::vector<std::string>{"{GROUP}"});
  EXPECT_EQ(old->BelongsTo.Count(), 1u);
}

}  // namespace
}  // namespace vorn
