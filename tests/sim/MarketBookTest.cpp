// The books: making them, their start prices and lot ranges, random orders, crossing and pulls.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sim/ContractList.h"
#include "sim/MarketFixture.h"

namespace vorn::sim {
namespace {

struct TSampleBook {
  const char* Exchange;
  const char* Commodity;
  const char* Date;
  double TickSize;
  std::int32_t TicksPerPoint;
  double Upper;
  double Lower;
  double StartPrice;
  std::int32_t BandTicks;
};

TEST_F(MarketTest, StartPricesAreTheMiddleOfTheBandOnTheTickGrid) {
  const TSampleBook books[] = {
      {"LIFFE", "IDX100", "MAR27", 0.5, 10, 8200, 7600, 7900, 1200},
      {"LIFFE", "IDX100", "JUN27", 0.5, 10, 8250, 7650, 7950, 1200},
      {"LIFFE", "IDX100", "MAR27JUN27", 0.5, 10, 80, -20, 30, 200},
      {"LIFFE", "IDX100", "MAR27 7900 C", 0.5, 10, 400, 0.5, 200, 799},
      {"LIFFE", "RATE3M", "MAR27", 0.005, 1000, 97.5, 95.5, 96.5, 400},
      {"EUREX", "BOND10", "MAR27", 0.01, 100, 136, 128, 132, 800},
      {"EUREX", "IDX50", "MAR27", 1, 1, 5600, 5000, 5300, 600},
      {"CME", "EMINI", "MAR27", 0.25, 100, 6400, 5800, 6100, 2400},
      {"CME", "CRUDE", "FEB27", 0.01, 100, 80, 60, 70, 2000},
      {"CME", "NARROW", "MAR27", 0.5, 10, 3, -3, 0, 12},
  };
  for (const auto& sample : books) {
    SCOPED_TRACE(std::string(sample.Commodity) + " " + sample.Date);
    auto contract = Contract(sample.Exchange, sample.Commodity, sample.Date, sample.TickSize,
                             sample.TicksPerPoint);
    auto book = market_.AddContract(contract, sample.Upper, sample.Lower, 30);
    ASSERT_TRUE(book);
    EXPECT_DOUBLE_EQ(book->StartPrice(), sample.StartPrice);
    EXPECT_EQ(book->BandTicks(), sample.BandTicks);
    EXPECT_EQ(book->Key(), TContractList::MakeKey(sample.Exchange, sample.Commodity, sample.Date));
  }
}

TEST_F(MarketTest, ABookIsMadeOnlyForAListedContractWithUsableFigures) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct TCase {
    const char* Name;
    double TickSize;
    std::int32_t TicksPerPoint;
    bool Listed;
    double Upper;
    double Lower;
  } cases[] = {
      {"not listed", 0.5, 10, false, 8200, 7600}, {"tick size 0", 0, 10, true, 8200, 7600},
      {"negative tick", -0.5, 10, true, 8200, 7600}, {"ticks per point 0", 0.5, 0, true, 8200, 7600},
      {"upper below lower", 0.5, 10, true, 7600, 8200}, {"no upper", 0.5, 10, true, nan, 7600},
      {"lower beyond keys", 0.5, 10, true, 8200, -1e12},
  };
  int date = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto contract = Contract("LIFFE", "IDX100", "D" + std::to_string(++date), c.TickSize,
                             c.TicksPerPoint, c.Listed);
    EXPECT_FALSE(market_.AddContract(contract, c.Upper, c.Lower, 40));
    EXPECT_FALSE(market_.Find(*contract));
  }
  EXPECT_EQ(market_.Count(), 0u);

  auto contract = Contract("LIFFE", "IDX100", "MAR27", 0.5, 10);
  auto book = market_.AddContract(contract, 8200, 7600, 40);
  ASSERT_TRUE(book);
  EXPECT_FALSE(market_.AddContract(contract, 8200, 7600, 40)) << "a second book";
  EXPECT_EQ(market_.Find(*contract), book);
  EXPECT_EQ(market_.Count(), 1u);
  EXPECT_FALSE(market_.AddContract(nullptr, 8200, 7600, 40));
}

TEST_F(MarketTest, LotRangesAreConsecutiveInTheListsOrder) {
  auto liffe = Book("MAR27", 8200, 7600, 0.5, 40);
  auto bond = market_.AddContract(Contract("EUREX", "BOND10", "MAR27", 0.01, 100), 136, 128, 50);
  auto crude = market_.AddContract(Contract("CME", "CRUDE", "FEB27", 0.01, 100), 80, 60, 60);
  ASSERT_TRUE(bond && crude);
  // CME, EUREX, LIFFE.
  EXPECT_EQ(crude->LotRangeStart(), 0);
  EXPECT_EQ(crude->LotRangeEnd(), 60);
  EXPECT_EQ(bond->LotRangeStart(), 60);
  EXPECT_EQ(bond->LotRangeEnd(), 110);
  EXPECT_EQ(liffe->LotRangeStart(), 110);
  EXPECT_EQ(liffe->LotLimit(), 40);
  EXPECT_EQ(market_.Books(), (std::vector<std::shared_ptr<TContractOrderList>>{crude, bond, liffe}));
}

// Every level of both sides inside the limits, on the tick grid counted from the lower limit.
void ExpectInsideTheBand(const TContractOrderList& book, const TDOMList& side) {
  for (const auto& [key, level] : side.Levels()) {
    EXPECT_GE(level.Price, book.LowerLimit());
    EXPECT_LE(level.Price, book.UpperLimit());
    const double ticks = (level.Price - book.LowerLimit()) / book.TickSize();
    EXPECT_NEAR(ticks, std::round(ticks), 1e-6) << level.Price;
    EXPECT_GE(level.Simulated, 1);
  }
}

TEST_F(MarketTest, RandomOrdersStayInsideTheLimitsOnTheTickGrid) {
  struct TCase {
    const char* Name;
    double Upper;
    double Lower;
  } cases[] = {{"wide band", 8200, 7600}, {"band narrower than the offsets", 3, -3}};
  int date = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto book = Book("M" + std::to_string(++date), c.Upper, c.Lower, 0.5, 40);
    ASSERT_TRUE(book);
    // References at both limits: the best bid at the upper one, the best offer at the lower.
    market_.AddToDOMLevel(*book, true, 1, true, c.Upper);
    market_.AddToDOMLevel(*book, false, 1, true, c.Lower);
    for (int i = 0; i < 400; ++i) market_.AddAnOrder(*book, i % 2 == 0);
    ExpectInsideTheBand(*book, book->Bids);
    ExpectInsideTheBand(*book, book->Offers);
    // Bids came down from the upper limit by at most 29 ticks (the band's width when smaller).
    EXPECT_GE(book->Bids.First()->Price, std::max(c.Lower, c.Upper - 29 * 0.5));
    EXPECT_LE(book->Offers.Last()->Price, std::min(c.Upper, c.Lower + 29 * 0.5));
  }
}

TEST_F(MarketTest, ARandomOrderWithoutPricesStartsFromTheStartPrice) {
  auto book = Book();
  market_.AddAnOrder(*book, true);
  ASSERT_EQ(book->Bids.Count(), 1u);
  const double price = book->Bids.First()->Price;
  EXPECT_GE(price, 7900 - 29 * 0.5);
  EXPECT_LE(price, 7900 + 14 * 0.5);
  EXPECT_GE(book->Bids.First()->Simulated, 1);
  EXPECT_LE(book->Bids.First()->Simulated, 40);
  EXPECT_TRUE(book->LastSideBid);
}

TEST_F(MarketTest, CrossedLevelsTradeAtTheRestingSidesPrice) {
  struct TCase {
    const char* Name;
    bool BidAddedLast;
    double TradePrice;
  } cases[] = {{"bid through the offer", true, 7900}, {"offer through the bid", false, 7901}};
  int date = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto book = Book("M" + std::to_string(++date));
    if (c.BidAddedLast) {
      market_.AddToDOMLevel(*book, false, 5, true, 7900);
      market_.AddToDOMLevel(*book, true, 3, true, 7901);
    } else {
      market_.AddToDOMLevel(*book, true, 3, true, 7901);
      market_.AddToDOMLevel(*book, false, 5, true, 7900);
    }
    const TTradeRange range = market_.CheckOrders(*book);
    EXPECT_EQ(range.Trades, 1);
    EXPECT_EQ(range.High, c.TradePrice);
    EXPECT_EQ(range.Low, c.TradePrice);
    EXPECT_TRUE(book->Bids.Empty());
    ASSERT_EQ(book->Offers.Count(), 1u);
    EXPECT_EQ(book->Offers.First()->Simulated, 2);
    EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Value, c.TradePrice);
    EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Volume, 3);
  }
}

TEST_F(MarketTest, ABidThroughSeveralOffersTakesThemInPriceOrder) {
  auto book = Book();
  market_.AddToDOMLevel(*book, false, 3, true, 7900);
  market_.AddToDOMLevel(*book, false, 4, true, 7905);
  market_.AddToDOMLevel(*book, false, 9, true, 7911);
  market_.AddToDOMLevel(*book, true, 10, true, 7910);
  const TTradeRange range = market_.CheckOrders(*book);
  EXPECT_EQ(range.Trades, 2);
  EXPECT_EQ(range.Low, 7900);
  EXPECT_EQ(range.High, 7905);
  ASSERT_EQ(book->Bids.Count(), 1u);
  EXPECT_EQ(book->Bids.First()->Simulated, 3);
  ASSERT_EQ(book->Offers.Count(), 1u);
  EXPECT_EQ(book->Offers.First()->Price, 7911);
  EXPECT_EQ(Entry(*book, VN_PK_TOTAL_VOLUME).Volume, 7);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Value, 7905);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE + 1).Value, 7900);
  // An uncrossed book does not trade.
  EXPECT_EQ(market_.CheckOrders(*book).Trades, 0);
}

TEST_F(MarketTest, VolumeNoOrderAccountsForDoesNotHangTheMatch) {
  auto book = Book();
  market_.AddToDOMLevel(*book, true, 5, false, 7901);
  market_.AddToDOMLevel(*book, true, 2, true, 7901);
  market_.AddToDOMLevel(*book, false, 6, false, 7900);
  const TTradeRange range = market_.CheckOrders(*book);
  EXPECT_EQ(range.Trades, 1);
  EXPECT_TRUE(book->Offers.Empty());
  ASSERT_EQ(book->Bids.Count(), 1u);
  // 6 lots: the 2 simulated ones first, then 4 of the users'.
  EXPECT_EQ(book->Bids.First()->Simulated, 0);
  EXPECT_EQ(book->Bids.First()->Users, 1);
}

TEST_F(MarketTest, NoLotsAddNoLevel) {
  auto book = Book();
  market_.AddToDOMLevel(*book, true, 0, true, 7900);
  market_.AddToDOMLevel(*book, false, -3, false, 7900);
  EXPECT_TRUE(book->Bids.Empty());
  EXPECT_TRUE(book->Offers.Empty());
}

TEST_F(MarketTest, PullsNeverEmptyALevel) {
  auto book = Book();
  EXPECT_FALSE(market_.PullAnOrder(*book)) << "nothing to pull";
  market_.SeedBook(*book);
  const std::size_t bids = book->Bids.Count();
  const std::size_t offers = book->Offers.Count();
  ASSERT_GT(bids + offers, 2u);
  for (int i = 0; i < 2000; ++i) EXPECT_TRUE(market_.PullAnOrder(*book));
  EXPECT_EQ(book->Bids.Count(), bids);
  EXPECT_EQ(book->Offers.Count(), offers);
  int atOneLot = 0;
  for (const auto* side : {&book->Bids, &book->Offers}) {
    for (const auto& [key, level] : side->Levels()) {
      EXPECT_GE(level.Simulated, 1);
      atOneLot += level.Simulated == 1;
    }
  }
  EXPECT_GT(atOneLot, 0) << "pulled down to their last lot";
}

TEST_F(MarketTest, SeedingLeavesAnUncrossedBookWithinTheLimits) {
  auto book = Book();
  auto narrow = Book("NARROW", 3, -3, 0.5, 20);
  market_.SeedMarket();
  for (const auto* seeded : {book.get(), narrow.get()}) {
    ASSERT_FALSE(seeded->Bids.Empty());
    ASSERT_FALSE(seeded->Offers.Empty());
    EXPECT_LT(seeded->Bids.Last()->Price,
              seeded->Offers.First()->Price);
    ExpectInsideTheBand(*seeded, seeded->Bids);
    ExpectInsideTheBand(*seeded, seeded->Offers);
    EXPECT_EQ(Entry(*seeded, VN_PK_BID).Value,
              seeded->Bids.Last()->Price);
  }
  EXPECT_LE(book->Bids.Count() + book->Offers.Count(), 2u + 19 + 19 + 1);
}

TEST_F(MarketTest, ASeededRandomSourceReplaysTheMarket) {
  const auto run = [this](std::uint64_t seed, const std::string& date) {
    random_.Seed(seed);
    auto book = Book(date);
    market_.SeedBook(*book);
    for (int step = 0; step < 200; ++step) market_.StepBook(*book);
    TPriceTable prices{};
    book->Contract()->ReadPrices(prices);
    std::vector<std::pair<double, std::int32_t>> entries;
    for (const auto& entry : prices) entries.emplace_back(entry.Value, entry.Volume);
    return entries;
  };
  const auto first = run(7, "A");
  EXPECT_EQ(run(7, "B"), first);
  EXPECT_NE(run(8, "C"), first);
}

TEST_F(MarketTest, AResetDropsEveryBook) {
  auto book = Book();
  market_.SeedMarket();
  market_.Reset();
  EXPECT_EQ(market_.Count(), 0u);
  EXPECT_FALSE(market_.Find(*book->Contract()));
  market_.Step();  // nothing to step
  EXPECT_TRUE(market_.AddContract(book->Contract(), 8200, 7600, 40)) << "a new start";
}

}  // namespace
}  // namespace vorn::sim
