#include "core/trading/MarginRequirement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "core/diag/Trace.h"
#include "core/trading/OrderQ.h"
#include "support/PositionFixture.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

// Margin rate 10 a lot for futures and 50 for options, point value 10 for the option and 1 for
// the future, exchange rate 1.0, margin mode on. The order list the calculations walk is also
// the one the position book and the rating-based margin lock and walk.
struct TRequirementFixture : TPositionFixture {
  TRequirementFixture() {
    TFakeOrderServices* fake = &*Services;
    TOrderServiceLookups lookups;
    lookups.FindAccount = [fake](std::string_view name) { return fake->FindAccount(name); };
    lookups.FindContract = [fake](std::string_view e, std::string_view c, std::string_view d) {
      return fake->FindContract(e, c, d);
    };
    lookups.FindOrderType = [fake](std::string_view e, std::string_view n) {
      return fake->FindOrderType(e, n);
    };
    SetOrderServices(std::make_shared<TOrderQServices>(Orders, std::move(lookups)));
    Acc = Account("ACC");
    Acc->SetMarginRating("R1");
    Rate("GBP", 1);
    RatingRow(" ", 10);
    RatingRow("O", 50);
    MarginMode = true;
    Option = Contract("EX", "MAR27", "C", 1, 10, "GBP", "OPT");
    Future = Contract("EX", "JUN27", "F", 1, 1, "GBP", "FUT");
  }
  ~TRequirementFixture() { SetOrderServices(nullptr); }

  void RatingRow(const std::string& indicator, std::int32_t req) {
    auto row = std::make_shared<TMarginRating>();
    row->Rating = "R1";
    row->Exchange = "EX";
    row->CommodityIndicator = indicator;
    row->MarginReq = req;
    row->MarginPC = 100;
    Ratings.Add(row);
  }

  // A listed order of the account whose current state has these terms.
  std::shared_ptr<TOrderList> Order(const std::string& id,
                                    const std::shared_ptr<TContractItem>& contract, TPurchase side,
                                    TOrderStatus status, std::int32_t target,
                                    std::int32_t filled = 0,
                                    std::shared_ptr<TTraderAccountItem> account = nullptr) {
    auto order = MakeOrderState(id, status, 1, filled, target);
    order->Contract = contract;
    order->TraderAccount = account ? account : Acc;
    order->BuySell = side;
    auto history = Orders.NewOrderList(id);
    history->Add(order);
    Orders.NoteHead(*history);  // the state went in behind the order list's Add
    return history;
  }

  // A margin-order entry of the account (which lists the contract among its positions).
  void Entry(const std::string& id, const std::shared_ptr<TContractItem>& contract, TPurchase side,
             TOrderStatus state, std::int32_t lots, std::int32_t filled, double price,
             std::int32_t covered = 0) {
    Acc->AddMarginOrder(
        TMarginOrderData{id, "ACC", contract->Key(), side, state, lots, filled, price},
        [covered](std::int32_t wanted) { return std::min(wanted, covered); });
  }

  void StartOfDay(const std::shared_ptr<TContractItem>& contract, std::int32_t longLots,
                  std::int32_t shortLots) {
    PositionOf(*contract)->SetStartOfDay("ACC",
                                         TPositionFigures{"ACC", longLots, longLots, shortLots});
  }

  double Req(const std::shared_ptr<TContractItem>& contract, std::int32_t lots = 0,
             double price = 0, std::uint8_t mode = 0, const std::string& orderID = "",
             bool covered = true) {
    return Requirement.CalcMarginReq(contract, *Acc, orderID, mode, lots, price, covered);
  }

  TOrderQ Orders;
  TMarginRequirement Requirement{
      {Accounts, Contracts, Rates, Orders, Book, Margins, MarginMode, Fills}};
  std::shared_ptr<TTraderAccountItem> Acc;
  std::shared_ptr<TContractItem> Option;
  std::shared_ptr<TContractItem> Future;
};

// The account's only business on the option: a filled sell of 3 lots.
void FilledShortThree(TRequirementFixture& f) {
  f.AddFill("F1", f.Option, f.Acc, Sell, 3, 4.0, "1");
  f.Entry("1", f.Option, Sell, osFilled, 3, 3, 4.0);
}

TEST(MarginRequirementTest, GoldenCases) {
  using TSetUp = std::function<void(TRequirementFixture&)>;
  struct TCase {
    const char* Name;
    TSetUp SetUp;
    bool OnOption;  // else on the future
    std::int32_t Lots;
    double Price;
    std::uint8_t Mode;
    bool Covered;
    double Expected;
  };
  const TSetUp nothing = [](TRequirementFixture&) {};
  const TSetUp sodLongTen = [](TRequirementFixture& f) {
    f.StartOfDay(f.Option, 10, 0);
    f.AddFill("F1", f.Option, f.Acc, Buy, 10, 2.0);
    f.Entry("F1", f.Option, Buy, osFilled, 10, 10, 2.0);
  };
  const TSetUp boughtTen = [](TRequirementFixture& f) {
    f.AddFill("F1", f.Option, f.Acc, Buy, 10, 2.0);
    f.Entry("F1", f.Option, Buy, osFilled, 10, 10, 2.0);
  };
  // 5 start-of-day long, 2 sold since (covered at 3.0), 5 more working sells: 3 of them
  // covered by the long lots still open, 2 uncovered (100); covered value 10 x 2 x 3.0.
  const TSetUp coveredSells = [](TRequirementFixture& f) {
    f.StartOfDay(f.Option, 5, 0);
    f.AddFill("F1", f.Option, f.Acc, Buy, 5, 2.0);
    f.AddFill("F2", f.Option, f.Acc, Sell, 2, 3.0, "S1");
    f.Entry("S1", f.Option, Sell, osFilled, 2, 2, 3.0, 2);
    f.Entry("S2", f.Option, Sell, osWorking, 5, 0, 3.5);
  };
  // Start-of-day short 4 with 1 bought since: 3 start-of-day short lots left (150), which also
  // close the bought lot (no filled premium); a working buy of 2 at 3.0 (premium 60).
  const TSetUp sodShortChain = [](TRequirementFixture& f) {
    f.StartOfDay(f.Option, 0, 4);
    f.AddFill("F1", f.Option, f.Acc, Buy, 1, 2.0);
    f.Entry("B1", f.Option, Buy, osWorking, 2, 0, 3.0);
  };
  const TCase cases[] = {
      {"filled short 3, mode 0", FilledShortThree, true, 0, 0, 0, true, 150},
      {"filled short 3, mode 2", FilledShortThree, true, 0, 0, 2, true, 0},
      {"filled short 3, mode 4 as 0", FilledShortThree, true, 0, 0, 4, true, 150},
      // 3 of the 5 close the short; the other 2 cost 10 x 2 x 2.5 = 50 < 150.
      {"filled short 3, buy 5 at 2.5", FilledShortThree, true, 5, 2.5, 0, true, 150},
      {"filled short 3, sell 2", FilledShortThree, true, -2, 0, 0, true, 250},
      // Long 3 bought at 1.0 (premium 30); 4 working sells leave 1 uncovered (50).
      {"4 working sells against long 3",
       [](TRequirementFixture& f) {
         f.AddFill("F1", f.Option, f.Acc, Buy, 3, 1.0);
         f.Entry("S1", f.Option, Sell, osWorking, 4, 0, 2.0);
       },
       true, 0, 0, 0, true, 50},
      {"start-of-day long 10 makes no premium", sodLongTen, true, 0, 0, 0, true, 0},
      {"10 bought today: premium 10 x 10 x 2.0", boughtTen, true, 0, 0, 0, true, 200},
      {"mode 1 leaves out the open long fills", boughtTen, true, 0, 0, 1, true, 0},
      {"covered value taken off", coveredSells, true, 0, 0, 0, true, 40},
      {"covered value kept without the flag", coveredSells, true, 0, 0, 0, false, 100},
      {"start-of-day short chain", sodShortChain, true, 0, 0, 0, true, 150},
      // The buy is not closed by anything short: 10 x 20 x 1.0 + 60.
      {"start-of-day short chain, buy 20 at 1.0", sodShortChain, true, 20, 1.0, 0, true, 260},
      {"no positions: a prospective buy at its price", nothing, true, 4, 2.5, 0, true, 100},
      {"future, mode 0",
       [](TRequirementFixture& f) { f.AddFill("F1", f.Future, f.Acc, Buy, 2, 100); }, false, 0, 0,
       0, true, 20},
      {"future, mode 2",
       [](TRequirementFixture& f) { f.AddFill("F1", f.Future, f.Acc, Buy, 2, 100); }, false, 0, 0,
       2, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRequirementFixture f;
    c.SetUp(f);
    const auto contract = c.OnOption ? f.Option : f.Future;
    EXPECT_DOUBLE_EQ(f.Req(contract, c.Lots, c.Price, c.Mode, "", c.Covered), c.Expected);
  }
}

TEST(MarginRequirementTest, ContractAloneOrOverThePositions) {
  TRequirementFixture f;
  FilledShortThree(f);  // 150
  f.AddFill("F2", f.Future, f.Acc, Buy, 2, 100);
  f.Entry("2", f.Future, Buy, osFilled, 2, 2, 100);  // 20
  auto other = f.Contract("EX", "SEP27", "C", 1, 10, "GBP", "OPT");

  EXPECT_DOUBLE_EQ(f.Req(nullptr), 170);
  EXPECT_DOUBLE_EQ(f.Req(f.Option), 150);
  EXPECT_DOUBLE_EQ(f.Req(f.Future), 20);
  EXPECT_DOUBLE_EQ(f.Req(other), 0);
  // Outside the positions: the positions, plus the contract with the trade (10 x 4 x 2.5).
  EXPECT_DOUBLE_EQ(f.Req(other, 4, 2.5), 270);
  // On a listed position the trade goes to that contract only: 3 more short lots on the future.
  EXPECT_DOUBLE_EQ(f.Req(f.Future, -5), 150 + 30);
}

// Future: long 1. Order 1 sells 10 with 2 filled (8 open), order 2 buys 2 with 1 filled
// (1 open); a queued sell, a cancelled sell, another account's and another contract's orders
// hold no margin here. Base: long 1 + 1 = 2, short 1 - 8 = -7: 70.
struct TFuturesFixture : TRequirementFixture {
  explicit TFuturesFixture(bool listed = true) {
    AddFill("F1", Future, Acc, Buy, 1, 100);
    Order("1", Future, Sell, osWorking, 10, 2);
    Order("2", Future, Buy, osPart, 2, 1);
    Order("3", Future, Sell, osQueued, 7);
    Order("4", Future, Sell, osCancelled, 9);
    Order("5", Future, Sell, osWorking, 50, 0, Account("OTHER"));
    Order("6", Option, Sell, osWorking, 50);
    if (listed) Entry("1", Future, Sell, osWorking, 10, 2, 100);
  }
};

TEST(MarginRequirementTest, FuturesRuleReplacesTheAmendedOrder) {
  struct TCase {
    const char* Name;
    bool Listed;  // the future among the account's contract positions
    std::string OrderID;
    std::int32_t Lots;
    double Expected;
  };
  const TCase cases[] = {
      {"no trade", true, "", 0, 70},
      {"no trade, an order ID is ignored", true, "1", 0, 70},
      {"a new sell of 6", true, "", -6, 130},
      // Order 1's 8 open lots leave; 6 less its 2 filled: short 1 - 4.
      {"order 1 amended to sell 6", true, "1", -6, 30},
      // Order 2's open lot leaves; 10 less its 1 filled: long 1 + 9.
      {"order 2 amended to buy 10", true, "2", 10, 100},
      // Filled beyond the new lots: nothing left to sell; long 1 + order 2's open lot.
      {"order 1 amended to sell 1", true, "1", -1, 20},
      {"order 2 amended to buy 1", true, "2", 1, 70},
      // Outside the positions the trade is added with no order ID: nothing excluded or reduced.
      {"not a contract position", false, "1", -6, 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFuturesFixture f(c.Listed);
    EXPECT_DOUBLE_EQ(f.Req(f.Future, c.Lots, 0, 0, c.OrderID), c.Expected);
  }
}

TEST(MarginRequirementTest, QueuedOrdersHoldNoMarginHereButDoInTheRatingMargin) {
  TFuturesFixture f;
  EXPECT_DOUBLE_EQ(f.Req(f.Future), 70);
  // The rating-based margin counts the queued sell of 7 as well: |1 - 15| x 10.
  EXPECT_DOUBLE_EQ(f.Margins.CalcMargin(f.Future, *f.Acc, 0, "", 0, 0), 140);
}

TEST(MarginRequirementTest, ZeroExchangeRateIsATracedFailureContributingNothing) {
  TTempDir dir;
  ResetTraceState();
  OpenTraceFile();
  ASSERT_TRUE(TraceFileOpen());
  {
    TRequirementFixture f;
    auto option = f.Contract("EX", "DEC27", "C", 1, 10, "XXX", "NOR");
    // Start-of-day short 2 with 1 bought since: a start-of-day margin of 1 x 50 that needs no
    // exchange rate; the bought lot and the working buy need one.
    f.StartOfDay(option, 0, 2);
    f.AddFill("F1", option, f.Acc, Buy, 1, 3.0);
    f.Entry("B1", option, Buy, osWorking, 1, 0, 2.0);
    f.AddFill("F2", f.Future, f.Acc, Buy, 2, 100);
    f.Entry("2", f.Future, Buy, osFilled, 2, 2, 100);

    const double alone = f.Req(option);
    EXPECT_DOUBLE_EQ(alone, 50);
    std::string trace = ReadFileText(TraceFileName());
    EXPECT_NE(trace.find(" ORM method failed in Filled calcs\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" ORM method failed in Working calcs\r\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("acalcmargin"), std::string::npos) << trace;

    // A prospective buy cannot be valued: the contract contributes nothing, the future stays.
    const double withTrade = f.Req(option, 4, 2.5);
    EXPECT_TRUE(std::isfinite(withTrade));
    EXPECT_DOUBLE_EQ(withTrade, 20);
    trace = ReadFileText(TraceFileName());
    EXPECT_NE(trace.find(" ORM method failed in acalcmargin method\r\n"), std::string::npos)
        << trace;

    EXPECT_DOUBLE_EQ(f.Requirement.TradeCalcs(option, "2.5", 4, "ACC"), 0);
    trace = ReadFileText(TraceFileName());
    EXPECT_NE(trace.find(" ORM method failed in trade calcs\r\n"), std::string::npos) << trace;
  }
  ResetTraceState();
}

TEST(MarginRequirementTest, MarginForTradeOverThePositions) {
  TRequirementFixture f;
  FilledShortThree(f);  // 150
  // A sell of 2 more on the option: 250 (covered value never taken off here).
  auto onOption = f.Requirement.MarginForTrade(f.Option, *f.Acc, -2, "0", "");
  EXPECT_EQ(onOption.Code, 0);
  EXPECT_DOUBLE_EQ(onOption.Margin, 250);
  // A future outside the positions: the trade's |lots| x rate on top.
  auto onFuture = f.Requirement.MarginForTrade(f.Future, *f.Acc, -3, "0", "");
  EXPECT_EQ(onFuture.Code, 0);
  EXPECT_DOUBLE_EQ(onFuture.Margin, 150 + 30);
  EXPECT_EQ(f.Requirement.MarginForTrade(nullptr, *f.Acc, 1, "0", "").Code, 8);
}

// Fills arrive and orders change state on one thread while another calculates.
TEST(MarginRequirementTest, CalculatesWhileFillsAndOrdersChange) {
  TRequirementFixture f;
  FilledShortThree(f);
  auto history = f.Order("7", f.Future, Sell, osWorking, 100);
  f.Entry("7", f.Future, Sell, osWorking, 100, 0, 100);
  constexpr int kRounds = 300;
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::string id = "W" + std::to_string(i);
      f.AddFill(id, i % 2 ? f.Option : f.Future, f.Acc, i % 3 ? Buy : Sell, 1, 2.0, "7");
      {
        TOrderQGuard guard(f.Orders);
        auto next = history->GetCurrent()->Copy();
        next->Filled = i % 100;
        next->Status = i % 5 ? osPart : osAmendPending;
        history->Add(next);
        f.Order(id, f.Option, i % 2 ? Buy : Sell, osWorking, 2);
      }
      f.Entry(id, f.Option, i % 2 ? Buy : Sell, osWorking, 2, 0, 1.5);
    }
  });
  double last = 0;
  for (int i = 0; i < kRounds; ++i) {
    last = f.Req(nullptr, 0, 0, 0, "7") + f.Req(f.Option, 3, 1.5, 0, "7") + f.Req(f.Future);
    ASSERT_TRUE(std::isfinite(last));
  }
  writer.join();
  EXPECT_GT(f.Req(nullptr), 0);
}

}  // namespace
}  // namespace vorn
