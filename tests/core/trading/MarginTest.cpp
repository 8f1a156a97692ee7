#include "core/trading/Margin.h"

#include <gtest/gtest.h>

#include "core/util/Exceptions.h"
#include "support/PositionFixture.h"

namespace vorn {
namespace {

struct TMarginFixture : TPositionFixture {
  TMarginFixture() {
    Acc = Account("ACC");
    Acc->SetMarginRating("R1");
    Rate("GBP", 1);
  }

  void Row(const std::string& account, const std::string& exchange, const std::string& commodity,
           const std::string& date, std::int32_t req, std::int32_t pc,
           const std::string& indicator = " ") {
    auto row = std::make_shared<TMarginRating>();
    row->Rating = "R1";
    row->TraderAccount = account;
    row->Exchange = exchange;
    row->Commodity = commodity;
    row->Contract = date;
    row->CommodityIndicator = indicator;
    row->MarginReq = req;
    row->MarginPC = pc;
    Ratings.Add(row);
  }

  double RateOf(const std::string& date = "MAR27") {
    return Margins.GetContractRating("ACC", "EX", "COM", date);
  }

  std::shared_ptr<TTraderAccountItem> Acc;
};

TEST(MarginTest, ContractRatingFromTheRows) {
  struct TCase {
    const char* Name;
    bool AccountRow;
    std::int32_t AccReq, AccPC;
    bool RatingRow;
    std::int32_t RateReq, RatePC;
    double Rate;
  };
  const TCase cases[] = {
      {"no rows", false, 0, 0, false, 0, 0, 0},
      {"rating row only", false, 0, 0, true, 10, 100, 10},
      // RateMargin := 10 x 50 / 100 + 4 = 9; rate := 4 x 200 / 100 + 9 = 17.
      {"both rows", true, 4, 50, true, 10, 200, 17},
      // RatePC defaults to 100: 4 x 100 / 100 + 0.
      {"account row only", true, 4, 50, false, 0, 0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TMarginFixture f;
    f.Contract("EX", "MAR27");
    if (c.AccountRow) f.Row("ACC", "EX", "COM", "MAR27", c.AccReq, c.AccPC);
    if (c.RatingRow) f.Row("", "EX", "", "", c.RateReq, c.RatePC);
    EXPECT_DOUBLE_EQ(f.RateOf(), c.Rate);
  }
  TMarginFixture f;
  EXPECT_EQ(f.Margins.GetContractRating("NOBODY", "EX", "COM", "MAR27"), 0.0);
}

TEST(MarginTest, OptionRowsInMarginMode) {
  TMarginFixture f;
  f.Contract("EX", "MAR27", "C");
  f.Row("", "EX", "COM", "", 10, 100);
  f.Row("", "EX", "", "", 30, 100, "O");
  EXPECT_EQ(f.RateOf(), 10);  // margin mode off: " " rows only
  f.MarginMode = true;
  f.Margins.ClearRatingCaches();
  EXPECT_EQ(f.RateOf(), 30);  // the "O" row, even less specific, comes first
}

TEST(MarginTest, RatesAreCachedUntilARatingChange) {
  TMarginFixture f;
  f.Contract("EX", "MAR27");
  EXPECT_EQ(f.RateOf(), 0.0);
  f.Row("", "EX", "", "", 10, 100);
  EXPECT_EQ(f.RateOf(), 0.0);  // served from the cache
  f.Margins.ClearRatingCaches();
  EXPECT_EQ(f.RateOf(), 10);
  EXPECT_EQ(f.Acc->GetContractRatings().size(), 1u);
}

TEST(MarginTest, FuturesRuleCountsPositionAndWorkingOrders) {
  TMarginFixture f;
  auto c1 = f.Contract("EX", "MAR27");
  f.Row("", "EX", "", "", 10, 100);
  f.AddFill("F1", c1, f.Acc, Buy, 3, 100);
  f.Order("1", c1, f.Acc, Sell, osWorking, 2);
  f.Order("2", c1, f.Acc, Sell, osCancelled, 5);  // closed: not working
  // max(|3 + 0|, |3 - 2|) x 10.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, 0, "", 0, 0), 30);
  // A sell of 6 more: max(3, |3 - 8|) = 5.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, -6, "", 0, 0), 50);
  // An amendment of order 1 to 6 lots: its old 2 lots are not counted.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, -6, "1", 0, 0), 30);
  // Buys: 3 + 4 = 7.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, 4, "", 0, 0), 70);
}

TEST(MarginTest, OptionsRulePremiumAgainstHeld) {
  TMarginFixture f;
  f.MarginMode = true;
  auto c1 = f.Contract("EX", "MAR27", "C", 1, 10, "GBP");
  f.Row("", "EX", "", "", 50, 100, "O");
  TMarginOrderData buy{"1", "ACC", c1->Key(), Buy, osWorking, 2, 0, 3.0};
  TMarginOrderData sell{"2", "ACC", c1->Key(), Sell, osWorking, 1, 0, 4.0};
  f.Acc->AddMarginOrder(buy);
  f.Acc->AddMarginOrder(sell);
  // Premium 2 x 10 x 3.0 / 1.0 = 60; held 1 x 50 = 50.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, 0, "", 0, 0), 60);
  // Short 2: 2 x 50 + 50 = 150 against -2 x 5 + 60.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, -2, "", 5, 0), 150);
  // Excluding the sell: nothing held, the premium stands.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, 0, "2", 0, 0), 60);
  // Excluding the buy: no premium; 1 x 50 + 50 held.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(c1, *f.Acc, -1, "1", 0, 0), 100);
  // Without a contract: the sum over its contract positions, extra price 0.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(nullptr, *f.Acc, 0, "", 9, 0), 60);
}

TEST(MarginTest, PremiumWithoutExchangeRateFails) {
  TMarginFixture f;
  f.MarginMode = true;
  auto c1 = f.Contract("EX", "MAR27", "C", 1, 10, "XXX");
  f.Acc->AddMarginOrder(TMarginOrderData{"1", "ACC", c1->Key(), Buy, osWorking, 2, 0, 3.0});
  EXPECT_THROW(f.Margins.CalcMargin(c1, *f.Acc, 0, "", 0, 0), EZeroDivide);
}

}  // namespace
}  // namespace vorn
