#include "core/trading/TraderPosition.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "support/PositionFixture.h"

namespace vorn {
namespace {

struct TLotsStep {
  TPurchase Side;
  std::int32_t Lots;
  double Price;
};

struct TNettingCase {
  const char* Name;
  std::vector<TLotsStep> Steps;
  std::vector<std::int32_t> OpenLots;  // oldest first
  std::vector<double> OpenPrices;
  TPurchase Side;
};

TEST(TraderPositionTest, NetsFirstInFirstOut) {
  const std::vector<TNettingCase> cases = {
      {"partial close", {{Buy, 5, 100}, {Sell, 3, 101}}, {2}, {100}, Buy},
      {"close and reverse", {{Buy, 5, 100}, {Sell, 3, 101}, {Sell, 4, 102}}, {2}, {102}, Sell},
      {"exact close keeps side", {{Sell, 4, 100}, {Buy, 4, 99}}, {}, {}, Sell},
      {"same side appends", {{Buy, 1, 100}, {Buy, 2, 101}}, {1, 2}, {100, 101}, Buy},
      {"close across entries",
       {{Buy, 2, 100}, {Buy, 3, 101}, {Buy, 4, 102}, {Sell, 6, 103}},
       {3},
       {102},
       Buy},
      {"close oldest exactly", {{Buy, 2, 100}, {Buy, 3, 101}, {Sell, 2, 103}}, {3}, {101}, Buy},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TNettedFillList list;
    TPurchase side = Buy;
    for (const auto& step : c.Steps)
      NetFill(list, {step.Lots, step.Price, 1, step.Side}, side);
    ASSERT_EQ(list.Fills.size(), c.OpenLots.size());
    for (std::size_t i = 0; i < c.OpenLots.size(); ++i) {
      EXPECT_EQ(list.Fills[i].Lots, c.OpenLots[i]);
      EXPECT_EQ(list.Fills[i].Price, c.OpenPrices[i]);
    }
    EXPECT_EQ(side, c.Side);
  }
}

struct TPLCase {
  const char* Name;
  std::int32_t TicksPerPoint;
  std::vector<TLotsStep> Steps;
  double CurrentPL;
  double LastPrice;
  std::int32_t Long;
  std::int32_t Short;
};

// The kept lot count against the open fills added one by one, saturating, after every netting:
// closes from the front, reversals, and sums beyond an int32 (huge lots on one side).
TEST(TraderPositionTest, KeptLotCountIsTheWalkedSum) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::vector<std::vector<TLotsStep>> sequences = {
      {{Buy, 5, 100}, {Sell, 3, 101}, {Sell, 4, 102}, {Buy, 1, 1}, {Buy, 9, 1}, {Sell, 10, 1}},
      {{Buy, 2, 100}, {Buy, 3, 101}, {Buy, 4, 102}, {Sell, 6, 103}, {Sell, 3, 1}},
      {{Sell, kMax, 1}, {Sell, kMax, 1}, {Sell, 7, 1}, {Buy, kMax, 1}, {Buy, 5, 1}, {Buy, kMax, 1}},
  };
  for (const auto& steps : sequences) {
    TNettedFillList list;
    TPurchase side = Buy;
    for (const auto& step : steps) {
      NetFill(list, {step.Lots, step.Price, 1, step.Side}, side);
      std::int32_t walked = 0;
      for (const auto& fill : list.Fills)
        walked = SaturatedLots(std::int64_t{walked} + fill.Lots);
      ASSERT_EQ(list.TotalLots(), walked);
    }
    list.Clear();
    EXPECT_EQ(list.TotalLots(), 0);
  }
}

TEST(TraderPositionTest, ProfitAndLossGeneralRule) {
  const std::vector<TPLCase> cases = {
      {"long 10 marked up one point", 1, {{Buy, 10, 100}, {Buy, 1, 101}}, 10, 101, 11, 0},
      {"round trip", 1, {{Buy, 3, 100}, {Sell, 3, 104}}, 12, 104, 3, 3},
      {"short loses", 1, {{Sell, 2, 50}, {Buy, 1, 52}, {Buy, 1, 51}}, -3, 51, 2, 2},
      // 101.16 in 32nds is 101.5.
      {"tick notation", 32, {{Buy, 4, 101.0}, {Sell, 4, 101.16}}, 2, 101.16, 4, 4},
      {"zero lots ignored", 1, {{Buy, 2, 100}, {Sell, 0, 300}, {Sell, -3, 300}}, 0, 100, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTraderPosition position;
    for (const auto& step : c.Steps)
      position.AddFill({"ACC", step.Side, step.Lots, step.Price, c.TicksPerPoint, false});
    auto record = position.GetAccountPosition("ACC");
    ASSERT_TRUE(record);
    EXPECT_DOUBLE_EQ(record->CurrentPL, c.CurrentPL);
    EXPECT_DOUBLE_EQ(record->LastPrice, c.LastPrice);
    EXPECT_EQ(record->LongPosn, c.Long);
    EXPECT_EQ(record->ShortPosn, c.Short);
  }
}

TEST(TraderPositionTest, OptionRulesUseStartOfDayLongLots) {
  // n = 5 start-of-day long lots.
  TPositionFigures sod;
  sod.Account = "ACC";
  sod.LongLots = 5;
  {
    SCOPED_TRACE("covered sell and buy: P/L held back");
    TTraderPosition position;
    position.SetStartOfDay("ACC", sod);
    position.AddFill({"ACC", Buy, 5, 10, 1, false});  // the start-of-day fill: general rule
    position.AddFill({"ACC", Sell, 2, 12, 1, true});  // 5 - 0 - 2 >= 0: first rule
    auto record = position.GetAccountPosition("ACC");
    EXPECT_EQ(record->CurrentPL, 0.0);
    EXPECT_EQ(record->SecondPrice, 12);
    EXPECT_EQ(record->LastPrice, 10);                // a sell keeps it
    position.AddFill({"ACC", Buy, 1, 14, 1, true});  // Buy: option P/L += (5 - 5) x ...
    record = position.GetAccountPosition("ACC");
    EXPECT_EQ(record->LastPrice, 14);
    EXPECT_EQ(record->SecondPrice, 14);
    EXPECT_EQ(record->OptionPL, 0.0);
    EXPECT_EQ(record->LongPosn, 6);
    EXPECT_EQ(record->ShortPosn, 2);
  }
  {
    SCOPED_TRACE("sell beyond the covered lots: second rule");
    TTraderPosition position;
    position.SetStartOfDay("ACC", sod);
    position.AddFill({"ACC", Buy, 7, 10, 1, false});
    position.AddFill({"ACC", Sell, 8, 13, 1, true});  // 5 - 0 - 8 < 0 and 5 > 0
    auto record = position.GetAccountPosition("ACC");
    // general rule on the first fill: 0; then += (7 - 5) x (13 - 10).
    EXPECT_DOUBLE_EQ(record->CurrentPL, 6);
    EXPECT_EQ(record->LastPrice, 13);
  }
  {
    SCOPED_TRACE("no start-of-day lots: general rule");
    TTraderPosition position;
    position.AddFill({"ACC", Buy, 2, 10, 1, true});
    position.AddFill({"ACC", Sell, 2, 13, 1, true});
    EXPECT_DOUBLE_EQ(position.GetAccountPosition("ACC")->CurrentPL, 6);
  }
}

TEST(TraderPositionTest, CoverLotsComeFromTheFreeStartOfDayLongLots) {
  TTraderPosition position;
  EXPECT_EQ(position.TakeCoverLots("ACC", 3), 0);  // no record
  TPositionFigures sod;
  sod.Account = "ACC";
  sod.LongLots = 5;
  sod.LongLots2 = 5;
  position.SetStartOfDay("ACC", sod);
  position.AddFill({"ACC", Buy, 5, 10, 1, false});
  const std::uint64_t version = position.GetAccountPosition("ACC")->Version;
  struct TCase {
    std::int32_t Wanted, Taken, FreeAfter;
  };
  const TCase cases[] = {{3, 3, 2}, {0, 0, 2}, {-4, 0, 2}, {4, 2, 0}, {1, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Wanted);
    EXPECT_EQ(position.TakeCoverLots(" ACC ", c.Wanted), c.Taken);
    const auto record = position.GetAccountPosition("ACC");
    EXPECT_EQ(record->Netted.StartOfDay.LongLots2, c.FreeAfter);
    EXPECT_EQ(record->Netted.StartOfDay.LongLots, 5);
    // Not a change of the figures the kept P/L is worked out from.
    EXPECT_EQ(record->Version, version);
  }
  // A negative count is no free lots.
  sod.LongLots2 = -2;
  position.SetStartOfDay("ACC", sod);
  EXPECT_EQ(position.TakeCoverLots("ACC", 1), 0);
  EXPECT_EQ(position.GetAccountPosition("ACC")->Netted.StartOfDay.LongLots2, -2);
}

TEST(TraderPositionTest, LongAccountNamesShareOneRecord) {
  TTraderPosition position;
  const std::string name = "ACCOUNT-NAME-LONGER-THAN-TWENTY";
  position.AddFill({name, Buy, 1, 10, 1, false});
  position.AddFill({"  " + name, Buy, 2, 10, 1, false});
  EXPECT_EQ(position.GetRecords().size(), 1u);
  EXPECT_EQ(position.GetNettedLots(name), 3);
  EXPECT_EQ(position.GetPositionSide(name), Buy);
  EXPECT_EQ(position.GetPositionSide("OTHER"), 0);
  EXPECT_EQ(position.GetAveragePrice("OTHER"), 0.0);
}

// Lot counts stop at the largest int32 instead of wrapping.
TEST(TraderPositionTest, HugeLotsSaturate) {
  TTraderPosition position;
  constexpr std::int32_t kHuge = 2'000'000'000;
  position.AddFill({"ACC", Buy, kHuge, 10, 1, false});
  position.AddFill({"ACC", Buy, kHuge, 11, 1, false});
  const auto records = position.GetRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].LongPosn, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(position.GetNettedLots("ACC"), std::numeric_limits<std::int32_t>::max());
  EXPECT_DOUBLE_EQ(position.GetAveragePrice("ACC"), 10.5);
}

TEST(TraderPositionTest, AveragePriceInDecimals) {
  TTraderPosition position;
  position.AddFill({"ACC", Buy, 1, 101.16, 32, false});  // 101.5
  position.AddFill({"ACC", Buy, 3, 101.0, 32, false});
  EXPECT_DOUBLE_EQ(position.GetAveragePrice("ACC"), (101.5 + 3 * 101.0) / 4);
}

TEST(TraderPositionTest, BookAppliesFillsAndComputesFigures) {
  TPositionFixture f;
  f.Rate("GBP", 1);
  f.Rate("USD", 2);
  auto acc = f.Account("ACC");
  auto gbp = f.Contract("EX", "MAR27", "F", 1, 10, "GBP");
  auto usd = f.Contract("EX", "JUN27", "F", 1, 10, "USD", "COM2");
  f.AddFill("F1", gbp, acc, Buy, 3, 100);
  f.AddFill("F2", gbp, acc, Sell, 1, 102);
  f.AddFill("F3", usd, acc, Sell, 2, 50);
  f.AddFill("R1", usd, acc, Buy, 7, 50, "", fltpRETAINED);  // retained: not netted

  EXPECT_EQ(f.Record(usd, "ACC").LongPosn, 0);
  EXPECT_TRUE(f.Contracts.IsStoredContract(*gbp));
  ASSERT_EQ(acc->GetTradedContracts().size(), 2u);

  double pl = 0;
  std::int32_t buys = 0, sells = 0;
  f.Book.GetContractPos(*gbp, "ACC", pl, buys, sells, false);
  EXPECT_EQ(pl, 0.0);  // no last trade yet
  EXPECT_EQ(buys, 3);
  EXPECT_EQ(sells, 1);

  gbp->SetPrice(5, 1, 105);
  usd->SetPrice(5, 1, 49);
  buys = sells = 0;
  f.Book.GetContractPos(*gbp, "ACC", pl, buys, sells, false);
  // (3 long from 100 to 102, then 2 long from 102 to 105) x 10.
  EXPECT_DOUBLE_EQ(pl, (3 * 2 + 2 * 3) * 10);

  const TPositionTotals totals = f.Book.GetTotalPos("ACC", false);
  // USD: short 2 from 50 to 49 = +2 x 10 = 20, at rate 2 is 10.
  EXPECT_DOUBLE_EQ(totals.PL, 120 + 10);
  EXPECT_EQ(totals.Buys, 3);
  EXPECT_EQ(totals.Sells, 3);
  EXPECT_FALSE(acc->GetPosDirty());
  f.AddFill("F4", gbp, acc, Buy, 1, 105);
  EXPECT_TRUE(acc->GetPosDirty());
  EXPECT_EQ(f.Book.GetTotalPos("ACC", false).Buys, 4);

  f.Book.ClearPositions();
  EXPECT_FALSE(ExistingPositionOf(*gbp)->GetAccountPosition("ACC"));
}

TEST(TraderPositionTest, OptionFiguresInMarginMode) {
  TPositionFixture f;
  f.MarginMode = true;
  auto acc = f.Account("ACC");
  auto shortCall = f.Contract("EX", "MAR27", "C");
  auto longPut = f.Contract("EX", "JUN27", "P");
  auto future = f.Contract("EX", "SEP27", "F");
  f.AddFill("F1", shortCall, acc, Sell, 3, 10);
  f.AddFill("F2", shortCall, acc, Buy, 1, 8);
  f.AddFill("F3", longPut, acc, Buy, 2, 5);
  f.AddFill("F4", future, acc, Buy, 4, 100);
  for (const auto& contract : {shortCall, longPut, future})
    contract->SetPrice(5, 1, 7);

  double pl = 0;
  std::int32_t buys = 0, sells = 0;
  // Open lots (2 sold) do not exceed the 3 sold, Sell side: the general rule, 6 + 2.
  f.Book.GetContractPos(*shortCall, "ACC", pl, buys, sells, true);
  EXPECT_DOUBLE_EQ(pl, 8);
  // Open bought lots exceed the 0 sold: no P/L in margin mode; outside it, 2 x 2.
  f.Book.GetContractPos(*longPut, "ACC", pl, buys, sells, true);
  EXPECT_EQ(pl, 0.0);
  f.Book.GetContractPos(*longPut, "ACC", pl, buys, sells, false);
  EXPECT_DOUBLE_EQ(pl, 4);

  TPositionTotals options = f.Book.GetOptionsPos("ACC", true);
  EXPECT_DOUBLE_EQ(options.PL, 8);  // only the contract with more sells than buys
  EXPECT_EQ(options.Buys, 3);
  EXPECT_EQ(options.Sells, 3);
  EXPECT_EQ(f.Book.GetOptionsPos("ACC", false).PL, 0.0);
}

TEST(TraderPositionTest, OpenPositionValuesOpenFillsOnly) {
  TPositionFixture f;
  f.MarginMode = true;
  auto acc = f.Account("ACC");
  auto future = f.Contract("EX", "MAR27", "F", 1, 10);
  auto longCall = f.Contract("EX", "JUN27", "C", 1, 10);
  f.AddFill("F1", future, acc, Sell, 3, 100);
  f.AddFill("F2", future, acc, Buy, 1, 95);  // closes one: 2 sold at 100 stay open
  f.AddFill("F3", longCall, acc, Buy, 2, 5);

  struct Case {
    std::shared_ptr<TContractItem> Contract;
    double Last;
    bool MarginMode;
    double PL;
    std::int32_t Buys, Sells;
  };
  const Case cases[] = {
      {future, 0, false, 0.0, 0, 2},          // no last trade: lots but no P/L
      {future, 97, false, 2 * 3 * 10, 0, 2},  // short 2 from 100 to 97
      {longCall, 6, false, 2 * 1 * 10, 2, 0},
      {longCall, 6, true, 0.0, 2, 0},  // a bought option in margin mode
  };
  for (const Case& c : cases) {
    c.Contract->SetPrice(5, 1, c.Last);
    if (c.Last == 0) c.Contract->ClearPrices(false);
    double pl = -1;
    std::int32_t buys = 0, sells = 0;
    f.Book.GetOpenPos(*c.Contract, "ACC", pl, buys, sells, c.MarginMode);
    EXPECT_DOUBLE_EQ(pl, c.PL) << c.Contract->GetDescription() << " at " << c.Last;
    EXPECT_EQ(buys, c.Buys);
    EXPECT_EQ(sells, c.Sells);
  }
}

TEST(TraderPositionTest, PositionMarginPerContract) {
  TPositionFixture f;
  f.Rate("GBP", 1);
  f.Rate("USD", 2);
  auto acc = f.Account("ACC");
  auto gbp = f.Contract("EX", "MAR27", "F", 1, 10, "GBP");
  auto usd = f.Contract("EX", "JUN27", "F", 1, 10, "USD", "COM2");
  auto none = f.Contract("EX", "SEP27", "F", 1, 10, "XXX", "COM3");
  TFieldsList fields;
  fields.SetFields("X1=F\x01TPP=1\x01Mar=100\x01");
  gbp->SetFields(fields);
  usd->SetFields(fields);
  none->SetFields(fields);
  f.AddFill("F1", gbp, acc, Buy, 3, 100);
  f.AddFill("F2", gbp, acc, Sell, 1, 100);
  f.AddFill("F3", usd, acc, Sell, 4, 100);
  f.AddFill("F4", none, acc, Sell, 4, 100);  // no rate: adds nothing
  EXPECT_DOUBLE_EQ(f.Book.GetPositionMargin("ACC"), 2 * 100 + 4 * 100 / 2.0);
}

TEST(TraderPositionTest, EndOfSessionPerAccountAndContract) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto flat = f.Account("FLAT");
  flat->EOSFlatten = true;
  auto c1 = f.Contract("EX", "MAR27");
  auto c2 = f.Contract("EX", "JUN27");
  auto other = f.Contract("OTHER", "MAR27");
  f.Order("1", c1, acc);
  f.Order("2", c2, acc);
  f.Order("3", other, acc);
  f.Order("4", c1, flat);
  f.AddFill("A1", c1, acc, Buy, 3, 100, "1");
  f.AddFill("A2", c1, acc, Sell, 1, 99, "1");
  f.AddFill("A3", c1, acc, Buy, 2, 101, "1");
  f.AddFill("A4", c1, acc, Sell, 1, 99.5, "1");
  f.AddFill("B1", c2, acc, Buy, 4, 200, "2");  // bought only
  f.AddFill("C1", other, acc, Buy, 1, 10, "3");
  f.AddFill("D1", c1, flat, Buy, 6, 100, "4");
  auto sod = f.AddFill("S1", c1, acc, Buy, 9, 1, "1", fltpNETTED);
  sod->IsSODFill = true;

  TExchange exchange("EX");
  exchange.SetTimeStamp(TUUIDStreamable::skExpiry);
  exchange.State = TUUIDStreamable::usExpired;
  exchange.Purge(Now(), [&](TExchange& e) { f.Book.EndOfSession(e); });

  const TPositionRecord r1 = f.Record(c1, "ACC");
  EXPECT_EQ(r1.LongPosn, 5);
  EXPECT_EQ(r1.ShortPosn, 2);
  EXPECT_EQ(r1.Side, Buy);
  EXPECT_EQ(r1.CurrentPL, 0.0);
  EXPECT_TRUE(r1.Netted.Fills.empty());
  EXPECT_EQ(r1.Netted.StartOfDay.LongLots, 0);
  EXPECT_EQ(r1.Netted.StartOfDay.ShortLots, 0);
  EXPECT_EQ(r1.Netted.EndOfSession.LongLots, 5);
  EXPECT_EQ(r1.Netted.EndOfSession.ShortLots, 2);
  // The list is walked from its last (lowest key) fill up, so the last sale is A4's.
  EXPECT_EQ(r1.LastPrice, 99.5);

  const TPositionRecord r2 = f.Record(c2, "ACC");
  EXPECT_EQ(r2.LongPosn, 4);
  EXPECT_EQ(r2.ShortPosn, 0);
  EXPECT_EQ(r2.LastPrice, 0.0);  // bought only
  EXPECT_EQ(r2.Side, Buy);

  const TPositionRecord rf = f.Record(c1, "FLAT");
  EXPECT_EQ(rf.LongPosn, 0);
  EXPECT_EQ(rf.ShortPosn, 0);
  EXPECT_EQ(rf.Side, Sell);

  // Another exchange's position is left as it was.
  EXPECT_EQ(f.Record(other, "ACC").Netted.Fills.size(), 1u);
}

TEST(TraderPositionTest, StoreLoadRebuildsAsTheLivePathDoes) {
  TPositionFixture live;
  auto acc = live.Account("ACC");
  auto c1 = live.Contract("EX", "MAR27", "F", 32);
  auto c2 = live.Contract("EX", "JUN27", "C");
  live.Order("1", c1, acc);
  live.AddFill("F1", c1, acc, Buy, 5, 100.16, "1");
  live.AddFill("F2", c1, acc, Sell, 2, 101.0, "1");
  live.AddFill("F3", c1, acc, Sell, 1, 100.0, "1");
  live.AddFill("F4", c2, acc, Sell, 3, 7, "");
  live.AddFill("F4", c2, acc, Buy, 1, 7, "", fltpRETAINED);

  TStream stream;
  WriteStoreHeader(stream);
  live.Fills.SaveToStream(stream);

  // A fresh session: the same reference data, empty positions.
  TPositionFixture loaded;
  auto acc2 = loaded.Account("ACC");
  auto d1 = loaded.Contract("EX", "MAR27", "F", 32);
  auto d2 = loaded.Contract("EX", "JUN27", "C");
  loaded.Order("1", d1, acc2);
  stream.SetPosition(0);
  ASSERT_TRUE(ReadStoreHeader(stream));
  ASSERT_TRUE(loaded.Fills.LoadFromStream(stream, true));
  loaded.Fills.Reindex();
  loaded.Book.RebuildAllPositions();

  ASSERT_EQ(loaded.Fills.Count(), 5);
  ASSERT_TRUE(loaded.Fills.FindByID("F2"));
  EXPECT_EQ(loaded.Fills.FindByID("F2")->Contract, d1);
  // Fills are replayed in list order, so the records' own P/L split may differ from the live
  // one; the position figures at a price may not.
  for (const auto& pair : {std::pair{c1, d1}, std::pair{c2, d2}}) {
    const TPositionRecord a = live.Record(pair.first, "ACC");
    const TPositionRecord b = loaded.Record(pair.second, "ACC");
    EXPECT_EQ(a.LongPosn, b.LongPosn);
    EXPECT_EQ(a.ShortPosn, b.ShortPosn);
    EXPECT_EQ(a.Side, b.Side);
    EXPECT_EQ(a.Netted.TotalLots(), b.Netted.TotalLots());
    pair.first->SetPrice(5, 1, 100.08);
    pair.second->SetPrice(5, 1, 100.08);
    double livePL = 0, loadedPL = 0;
    std::int32_t buys[2] = {0, 0}, sells[2] = {0, 0};
    live.Book.GetContractPos(*pair.first, "ACC", livePL, buys[0], sells[0], false);
    loaded.Book.GetContractPos(*pair.second, "ACC", loadedPL, buys[1], sells[1], false);
    EXPECT_DOUBLE_EQ(livePL, loadedPL);
    EXPECT_EQ(buys[0], buys[1]);
    EXPECT_EQ(sells[0], sells[1]);
  }
  EXPECT_EQ(loaded.Record(d2, "ACC").LongPosn, 0);  // the retained fill is not counted
  EXPECT_EQ(acc2->GetTradedContracts().size(), 2u);
  EXPECT_TRUE(loaded.Contracts.IsStoredContract(*d1));

  // Rebuilding again changes nothing.
  const TPositionRecord before = loaded.Record(d1, "ACC");
  loaded.Book.RebuildAccount(d1, "ACC");
  const TPositionRecord after = loaded.Record(d1, "ACC");
  EXPECT_EQ(after.ShortPosn, 3);
  EXPECT_EQ(after.LongPosn, before.LongPosn);
  EXPECT_DOUBLE_EQ(after.CurrentPL, before.CurrentPL);
}

TEST(TraderPositionTest, ReadersTakeCopiesWhileFillsArrive) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto c1 = f.Contract("EX", "MAR27");
  constexpr int kFills = 400;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      double pl = 0;
      std::int32_t buys = 0, sells = 0;
      f.Book.GetContractPos(*c1, "ACC", pl, buys, sells, false);
      if (auto position = ExistingPositionOf(*c1)) {
        auto record = position->GetAccountPosition("ACC");
        if (record) {
          EXPECT_LE(record->Netted.TotalLots(), kFills);
        }
        position->GetAveragePrice("ACC");
      }
    }
  });
  for (int i = 0; i < kFills; ++i)
    f.AddFill("F" + std::to_string(i), c1, acc, i % 3 ? Buy : Sell, 1, 100 + i % 7);
  done = true;
  reader.join();
  const TPositionRecord record = f.Record(c1, "ACC");
  EXPECT_EQ(record.LongPosn + record.ShortPosn, kFills);
}

TEST(TraderPositionTest, RebuildsRaceNoFill) {
  TPositionFixture f;
  f.Rate("GBP", 1);
  auto acc = f.Account("ACC");
  auto c1 = f.Contract("EX", "MAR27");
  f.Order("1", c1, acc, Sell);
  c1->SetPrice(5, 1, 101);
  constexpr int kFills = 200;
  std::atomic<bool> done{false};
  std::thread other([&] {
    while (!done.load()) {
      f.Book.RebuildAccount(c1, "ACC");
      f.Book.GetTotalPos("ACC", false);
      f.Margins.CalcMargin(c1, *acc, 1, "", 0, 0);
    }
  });
  for (int i = 0; i < kFills; ++i)
    f.AddFill("F" + std::to_string(1000 + i), c1, acc, Buy, 1, 100);
  done = true;
  other.join();
  // However the rebuilds interleaved, every listed fill is counted exactly once.
  EXPECT_EQ(f.Record(c1, "ACC").LongPosn, kFills);
  EXPECT_EQ(f.Book.GetTotalPos("ACC", false).Buys, kFills);
}

}  // namespace
}  // namespace vorn
