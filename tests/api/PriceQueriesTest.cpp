// The price queries: the price record of a contract with its change mask, the generic prices,
// blanking, and the price-text check of order entry.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/trading/OrderItem.h"
#include "core/util/DateTime.h"
#include "support/FakeClock.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr unsigned char kPrefill = 0xCC;

template <class Record>
Record Prefilled() {
  Record record;
  std::memset(&record, kPrefill, sizeof record);
  return record;
}

template <class Record>
bool AllZero(const Record& record) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof record; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// An unset entry: the text 0 and every other byte zero.
bool IsUnsetEntry(const PriceDetailStruct& entry) {
  PriceDetailStruct expected;
  std::memset(&expected, 0, sizeof expected);
  expected.Price[0] = '0';
  return std::memcmp(&entry, &expected, sizeof entry) == 0;
}

class PriceQueriesTest : public TradingTest {
 protected:
  std::int32_t IndexOf(const std::shared_ptr<TContractItem>& contract) {
    return Api().Contracts.IndexOf(contract.get());
  }
  PriceStruct Prices(const std::shared_ptr<TContractItem>& contract) {
    auto record = Prefilled<PriceStruct>();
    EXPECT_EQ(vnGetPrice(IndexOf(contract), &record), VN_RC_SUCCESS);
    return record;
  }
};

TEST_F(PriceQueriesTest, AContractNeverPricedReadsAsUnsetEntries) {
  const auto contract = Future();
  const PriceStruct record = Prices(contract);
  for (int kind = 0; kind < VN_PK_COUNT; ++kind)
    EXPECT_TRUE(IsUnsetEntry(record.Entries[kind])) << kind;
  EXPECT_EQ(std::int32_t{record.Status}, 0);
  EXPECT_EQ(std::int32_t{record.ChangeMask}, 0);

  // Without a table, the own last price lives in its own entry and is read from there.
  contract->SetPrice(VN_PK_OWN_LAST, 4, 77);
  ASSERT_FALSE(contract->HasPriceTable());
  const PriceStruct own = Prices(contract);
  EXPECT_STREQ(own.Entries[VN_PK_OWN_LAST].Price, "77");
  EXPECT_EQ(std::int32_t{own.Entries[VN_PK_OWN_LAST].Volume}, 4);
  EXPECT_TRUE(IsUnsetEntry(own.Entries[VN_PK_LAST_TRADE]));
  EXPECT_EQ(std::int32_t{own.ChangeMask}, VN_PM_OWN_LAST);
}

TEST_F(PriceQueriesTest, EntriesCarryDirectionAgeAndTimeAndTheMaskIsTakenOnce) {
  TFakeClock clock(EncodeDate(2027, 3, 15) + EncodeTime(10, 11, 12, 0));
  TClockInstaller installed(clock);
  Api().Monitoring.PriceAgeCounter = 3;
  const auto contract = Future();
  contract->Status = 6;
  contract->SetPrice(VN_PK_BID, 5, 99.5);
  contract->SetPrice(VN_PK_OFFER, 2, 101);
  contract->SetPrice(VN_PK_OFFER, 2, 100.5);
  contract->SetPrice(VN_PK_LAST_TRADE, 2, 100);
  clock.SetLocal(EncodeDate(2027, 3, 15) + EncodeTime(23, 59, 58, 0));
  contract->SetPrice(VN_PK_LAST_TRADE, 1, 101);

  const PriceStruct first = Prices(contract);
  const struct {
    int kind;
    const char* price;
    std::int32_t volume;
    std::uint8_t direction, hour, minute, second;
  } cases[] = {
      {VN_PK_BID, "99.5", 5, VN_DIRECTION_UP, 10, 11, 12},
      {VN_PK_OFFER, "100.5", 2, VN_DIRECTION_DOWN, 10, 11, 12},
      {VN_PK_LAST_TRADE, "101", 1, VN_DIRECTION_UP, 23, 59, 58},
      {VN_PK_LAST_TRADE + 1, "100", 2, VN_DIRECTION_UP, 10, 11, 12},
  };
  for (const auto& c : cases) {
    const PriceDetailStruct& entry = first.Entries[c.kind];
    EXPECT_STREQ(entry.Price, c.price) << c.kind;
    EXPECT_EQ(std::int32_t{entry.Volume}, c.volume) << c.kind;
    EXPECT_EQ(entry.Age, 3) << c.kind;
    EXPECT_EQ(entry.Direction, c.direction) << c.kind;
    EXPECT_EQ(entry.Hour, c.hour) << c.kind;
    EXPECT_EQ(entry.Minute, c.minute) << c.kind;
    EXPECT_EQ(entry.Second, c.second) << c.kind;
  }
  EXPECT_TRUE(IsUnsetEntry(first.Entries[VN_PK_LAST_TRADE + 2]));
  EXPECT_EQ(std::int32_t{first.Status}, 6);
  EXPECT_EQ(std::int32_t{first.ChangeMask}, VN_PM_BID | VN_PM_OFFER | VN_PM_TRADES);

  // A second reader sees the same prices and no change; a new mark shows again, by name too.
  const PriceStruct second = Prices(contract);
  EXPECT_EQ(std::memcmp(&first.Entries, &second.Entries, sizeof first.Entries), 0);
  EXPECT_EQ(std::int32_t{second.ChangeMask}, 0);
  contract->SetPrice(VN_PK_BID, 5, 99);
  auto named = Prefilled<PriceStruct>();
  ASSERT_EQ(vnGetPriceForContract(" LIFFE", "FTSE ", "MAR27", &named), VN_RC_SUCCESS);
  EXPECT_EQ(std::int32_t{named.ChangeMask}, VN_PM_BID);
  EXPECT_EQ(named.Entries[VN_PK_BID].Direction, VN_DIRECTION_DOWN);
  EXPECT_EQ(Prices(contract).ChangeMask, 0);
}

TEST_F(PriceQueriesTest, LookUpFailuresZeroTheRecord) {
  for (const std::int32_t index : {-1, Api().Contracts.Count()}) {
    auto record = Prefilled<PriceStruct>();
    EXPECT_EQ(vnGetPrice(index, &record), VN_RC_INVALID_INDEX) << index;
    EXPECT_TRUE(AllZero(record)) << index;
  }
  auto record = Prefilled<PriceStruct>();
  EXPECT_EQ(vnGetPriceForContract("LIFFE", "FTSE", "DEC99", &record), VN_RC_UNKNOWN_CONTRACT);
  EXPECT_TRUE(AllZero(record));
  auto generic = Prefilled<GenericPriceStruct>();
  EXPECT_EQ(vnGetGenericPrice("LIFFE", "FTSE", "DEC99", 26, 1, &generic), VN_RC_UNKNOWN_CONTRACT);
  EXPECT_TRUE(AllZero(generic));
  EXPECT_EQ(vnGetPrice(0, nullptr), VN_RC_UNEXPECTED_ERROR);

  Api().Contracts.FreeAll();
  record = Prefilled<PriceStruct>();
  EXPECT_EQ(vnGetPrice(0, &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetPriceForContract("LIFFE", "FTSE", "MAR27", &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetGenericPrice("LIFFE", "FTSE", "MAR27", 26, 1, &generic), VN_RC_NO_DATA);
  EXPECT_EQ(std::int32_t{record.Status}, static_cast<std::int32_t>(0xCCCCCCCC));

  Api().Logon.LoggedOn = false;
  EXPECT_EQ(vnGetPrice(0, &record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(vnBlankPrices(), VN_RC_NOT_LOGGED_ON);
}

TEST_F(PriceQueriesTest, GenericPriceTypeAndLevelSelectOneOfEight) {
  const auto contract = Future();
  for (int kind = 0; kind < 9; ++kind)
    contract->SetGenericPrice(kind, 10 + kind, kind + 0.5);
  const struct {
    std::int32_t type, level;
    const char* price;
    std::int32_t volume;
  } cases[] = {
      {26, 1, "1.5", 11},  {26, 4, "4.5", 14},   {27, 1, "5.5", 15},  {27, 4, "8.5", 18},
      {26, 0, "0.000", 0}, {26, 5, "0.000", 0},  {27, 5, "0.000", 0}, {25, 1, "0.000", 0},
      {28, 4, "0.000", 0}, {27, -1, "0.000", 0},
  };
  for (const auto& c : cases) {
    auto record = Prefilled<GenericPriceStruct>();
    ASSERT_EQ(vnGetGenericPrice("LIFFE", "FTSE", "MAR27", c.type, c.level, &record), 0)
        << c.type << "/" << c.level;
    EXPECT_STREQ(record.Price, c.price) << c.type << "/" << c.level;
    EXPECT_EQ(std::int32_t{record.Volume}, c.volume) << c.type << "/" << c.level;
    if (c.volume == 0) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
      for (std::size_t i = 25; i < sizeof record; ++i)
        EXPECT_EQ(bytes[i], 0) << c.type << "/" << c.level << " byte " << i;
    }
  }
  // A selected generic price never set reads as unset.
  auto record = Prefilled<GenericPriceStruct>();
  ASSERT_EQ(vnGetGenericPrice("LIFFE", "GILT", "MAR27", 27, 2, &record), 0);
  EXPECT_TRUE(IsUnsetEntry(record));
}

TEST_F(PriceQueriesTest, BlankPricesClearsEveryContractsPrices) {
  const auto contract = Future();
  contract->SetPrice(VN_PK_BID, 5, 99.5);
  contract->SetPrice(VN_PK_LAST_TRADE, 1, 100);
  Prices(contract);
  ASSERT_EQ(vnBlankPrices(), VN_RC_SUCCESS);
  const PriceStruct record = Prices(contract);
  EXPECT_TRUE(IsUnsetEntry(record.Entries[VN_PK_BID]));
  EXPECT_STREQ(record.Entries[VN_PK_LAST_TRADE].Price, "100");
  EXPECT_NE(std::int32_t{record.ChangeMask} & VN_PM_BID, 0);
}

TEST(PriceQueriesTextTest, ValidTextsConvertAndOthersGiveTheDefault) {
  const struct {
    const char* text;
    bool valid;
    double value;
  } cases[] = {
      {"-12.5", true, -12.5}, {"+2", true, 2},      {".5", true, 0.5},   {"3.", true, 3},
      {"0", true, 0},         {"1234", true, 1234}, {"1.2.3", false, 0}, {"1-2", false, 0},
      {"1e5", false, 0},      {"", false, 0},       {"+", false, 0},     {"-", false, 0},
      {".", false, 0},        {"+.", false, 0},     {" 1", false, 0},    {"1 ", false, 0},
      {"--1", false, 0},      {"abc", false, 0},
  };
  for (const auto& c : cases) {
    double value = 99;
    EXPECT_EQ(CheckPriceText(c.text, -7, value), c.valid) << '"' << c.text << '"';
    EXPECT_EQ(value, c.valid ? c.value : -7) << '"' << c.text << '"';
  }
}

// Readers take the mask while the feed marks it and another thread drops the table: every mark
// is seen by exactly one reader. The feed marks a kind again only once its last mark was seen,
// so a bit lost between a read and its clear would leave a mark that no reader ever sees.
TEST_F(PriceQueriesTest, ReadersUnderAPriceFeedLoseNoChangeBits) {
  const auto contract = Future();
  const std::int32_t index = IndexOf(contract);
  constexpr int kKinds = 5;  // bid to kind 4: one mask bit each
  constexpr int kMarks = 10000;
  std::array<std::atomic<int>, kKinds> seen{};
  std::array<int, kKinds> marked{};
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};

  auto reader = [&](bool byName) {
    while (!stop.load()) {
      PriceStruct record;
      const std::int32_t result = byName ? vnGetPriceForContract("LIFFE", "FTSE", "MAR27", &record)
                                         : vnGetPrice(index, &record);
      if (result != VN_RC_SUCCESS) failures.fetch_add(1);
      for (int kind = 0; kind < kKinds; ++kind)
        if (record.ChangeMask & (1 << kind)) seen[static_cast<std::size_t>(kind)].fetch_add(1);
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(reader, false);
  threads.emplace_back(reader, true);
  threads.emplace_back([&] {
    while (!stop.load()) {
      contract->DropPriceTable();
      std::this_thread::yield();
    }
  });

  int total = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int i = 0; total < kMarks && std::chrono::steady_clock::now() < deadline; ++i) {
    const auto kind = static_cast<std::size_t>(i % kKinds);
    if (seen[kind].load() != marked[kind]) {
      std::this_thread::yield();
      continue;
    }
    contract->SetPrice(static_cast<int>(kind), 1, 100.0 + i);
    ++marked[kind];
    ++total;
  }
  auto allSeen = [&] {
    for (std::size_t kind = 0; kind < kKinds; ++kind)
      if (seen[kind].load() != marked[kind]) return false;
    return true;
  };
  while (!allSeen() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  stop = true;
  for (auto& thread : threads)
    thread.join();

  EXPECT_EQ(total, kMarks);
  for (std::size_t kind = 0; kind < kKinds; ++kind)
    EXPECT_EQ(seen[kind].load(), marked[kind]) << kind;
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Prices(contract).ChangeMask, 0);
}

}  // namespace
}  // namespace vorn
