// The risk exports over a small portfolio of a future and an option, with margin mode on and
// off: each figure worked by hand, each failure code in order, the divisions by zero, and the
// figures read while another thread changes the fills and the orders.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "api/RiskFigures.h"
#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr char kPrefill = '\xCC';

using TAccountExport = int32_t(VN_STDCALL*)(const char*, const char*, const char*, const char*,
                                            char*);

struct TAnswer {
  std::int32_t Code = 0;
  std::string Text;
};

// Margin rates on LIFFE: 10 a lot, 50 for an option in margin mode. TRADER1 (loss limit 400):
// the future bought 2 at 100 with a working sell of 5, the option bought 2 at 3; last trades
// future 105 and option 8, so each makes a profit of 100 (2 lots x 5 points x 10). TRADER2
// (loss limit 500): the option sold 3 at 4.
class RiskExportsTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    RatingRow(" ", 10);
    RatingRow("O", 50);
    trader1_ = Api().Accounts.FindAccount("TRADER1");
    trader1_->SetMarginRating("R1");
    trader1_->LossLimit = 400;
    trader2_ = std::make_shared<TTraderAccountItem>("TRADER2");
    trader2_->Tradable = true;
    trader2_->SetMarginRating("R1");
    trader2_->LossLimit = 500;
    Api().Accounts.Add(trader2_);

    Fill(trader1_, Future(), Buy, 2, 100);
    WorkingOrder("1", trader1_, Future(), Sell, 5);
    Fill(trader1_, Option(), Buy, 2, 3);
    Fill(trader2_, Option(), Sell, 3, 4);
    Future()->SetPrice(VN_PK_LAST_TRADE, 1, 105);
    Option()->SetPrice(VN_PK_LAST_TRADE, 1, 8);
  }

  void RatingRow(const char* indicator, std::int32_t margin) {
    auto row = std::make_shared<TMarginRating>();
    row->Rating = "R1";
    row->Exchange = "LIFFE";
    row->CommodityIndicator = indicator;
    row->MarginReq = margin;
    row->MarginPC = 100;
    Api().MarginRatings.Add(row);
  }

  // A fill listed and applied, with its margin entry, as the fill receiver books it.
  void Fill(const std::shared_ptr<TTraderAccountItem>& account,
            const std::shared_ptr<TContractItem>& contract, TPurchase side, std::int32_t lots,
            double price) {
    auto fill = std::make_shared<TFill>();
    fill->FillID = "F" + std::to_string(++fills_);
    fill->Contract = contract;
    fill->Account = account;
    fill->BuySell = side;
    fill->Lots = lots;
    fill->Price = price;
    fill->FillType = fltpFILL;
    ASSERT_TRUE(Api().Positions.AddFill(fill).Added);
    account->AddMarginFill(fill->FillID, contract->Key(), side, lots, price);
  }

  std::shared_ptr<TOrderList> WorkingOrder(const std::string& id,
                                           const std::shared_ptr<TTraderAccountItem>& account,
                                           const std::shared_ptr<TContractItem>& contract,
                                           TPurchase side, std::int32_t lots) {
    auto order = MakeOrderState(id, osWorking, 1, 0, lots);
    order->Contract = contract;
    order->TraderAccount = account;
    order->BuySell = side;
    order->Price = 100;
    auto history = Api().Orders.NewOrderList(id);
    history->Add(order);
    Api().Orders.NoteHead(*history);
    account->AddMarginOrder(*order);
    return history;
  }

  void SetExchangeRate(double rate) {
    TIndexListLock guard(Api().ExchangeRates);
    Api().ExchangeRates.Get("GBP")->Rate = rate;
  }

  static TAnswer Figure(TAccountExport figure, const char* commodity, const char* date,
                        const char* account = "TRADER1") {
    char text[kRiskTextSize];
    std::memset(text, kPrefill, sizeof text);
    const std::int32_t code = figure("LIFFE", commodity, date, account, text);
    return {code, std::string(text, strnlen(text, sizeof text))};
  }
  static TAnswer MarginForTrade(const char* commodity, const char* date, std::int32_t lots,
                                const char* price = "", const char* account = "TRADER1") {
    char text[kRiskTextSize];
    std::memset(text, kPrefill, sizeof text);
    const std::int32_t code =
        vnMarginForTrade("LIFFE", commodity, date, account, &lots, "", price, text);
    return {code, std::string(text, strnlen(text, sizeof text))};
  }
  static TAnswer OptionPremium(char side, const char* price, std::int32_t lots) {
    char text[kRiskTextSize];
    std::memset(text, kPrefill, sizeof text);
    const std::int32_t code =
        vnGetOptionPremium("LIFFE", "FTSE", "JUN27 C6500", side, price, lots, text);
    return {code, std::string(text, strnlen(text, sizeof text))};
  }

  std::shared_ptr<TTraderAccountItem> trader1_;
  std::shared_ptr<TTraderAccountItem> trader2_;
  int fills_ = 0;
};

void ExpectAnswer(const TAnswer& answer, std::int32_t code, const std::string& text) {
  EXPECT_EQ(answer.Code, code);
  EXPECT_EQ(answer.Text, text);
}

const char* const kFuture[] = {"FTSE", "MAR27"};
const char* const kOption[] = {"FTSE", "JUN27 C6500"};
const char* const kNoContract[] = {"", ""};

struct TFigureCase {
  const char* Name;
  TAccountExport Export;
  const char* const* Contract;
  const char* Expected;
};

// Margin mode off: the option is margined as a future (2 long x 10 = 20), the future 3 x 10 = 30
// (long 2 against 5 working sells). P is taken with the option rule (the inverse of F), so the
// bought option's profit is 0 in the contract forms and in the totals.
TEST_F(RiskExportsTest, FiguresWithMarginModeOff) {
  const TFigureCase cases[] = {
      {"burn rate, future: 100 / 400", vnPLBurnRate, kFuture, "25"},
      {"burn rate, option: its profit is 0", vnPLBurnRate, kOption, "0"},
      {"exposure, future: 30 / (400 + 100)", vnOpenPositionExposure, kFuture, "6"},
      {"exposure, option: 20 / (400 + 0)", vnOpenPositionExposure, kOption, "5"},
      {"exposure, all: 50 / (400 + 100)", vnOpenPositionExposure, kNoContract, "10"},
      {"used, future: (100 - 50) / 400", vnBuyingPowerUsed, kFuture, "12.5"},
      {"used, all: (100 - 0 - 50) / 400", vnBuyingPowerUsed, kNoContract, "12.5"},
      {"remaining, all: 100 + 12.5", vnBuyingPowerRemaining, kNoContract, "112.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectAnswer(Figure(c.Export, c.Contract[0], c.Contract[1]), VN_RC_SUCCESS, c.Expected);
  }
  // The rating-based margin that a trade adds: with 4 bought max(|2 + 4|, |2 - 5|) = 6 lots,
  // with 4 sold max(|2|, |2 - 9|) = 7, against 3 lots before.
  ExpectAnswer(MarginForTrade("FTSE", "MAR27", 4), VN_RC_SUCCESS, "30");
  ExpectAnswer(MarginForTrade("FTSE", "MAR27", -4), VN_RC_SUCCESS, "40");
  // An account that is not listed: every account's loss limit less its margin, TRADER1
  // 400 - 50, TRADER2 500 - 30 (short 3 x 10), VIEWER 0.
  ExpectAnswer(MarginForTrade("FTSE", "MAR27", 0, "", "NOBODY"), VN_RC_SUCCESS, "820");
}

// Margin mode on: the option's margin is its premium (10 x 2 x 3 = 60), left out of mode 1 and
// alone in mode 2; the future stays at 30. P is taken without the option rule.
TEST_F(RiskExportsTest, FiguresWithMarginModeOn) {
  Api().SetMarginMode(true);
  const TFigureCase cases[] = {
      {"burn rate, option: (60 + 100) / 400", vnPLBurnRate, kOption, "40"},
      {"burn rate, future: (0 + 100) / 400", vnPLBurnRate, kFuture, "25"},
      {"exposure, option: mode 1 over all, 30 / (400 + 100)", vnOpenPositionExposure, kOption, "6"},
      {"exposure, all: 90 / (400 + 100)", vnOpenPositionExposure, kNoContract, "18"},
      {"used, option: (100 - 90) / 400", vnBuyingPowerUsed, kOption, "2.5"},
      {"used, all: (100 - 0 - 90) / 400", vnBuyingPowerUsed, kNoContract, "2.5"},
      {"remaining, option", vnBuyingPowerRemaining, kOption, "102.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectAnswer(Figure(c.Export, c.Contract[0], c.Contract[1]), VN_RC_SUCCESS, c.Expected);
  }
  // Over the positions, the option with the trade: selling 2 is covered by the long 2; selling
  // 5 leaves 3 short (150 > the premium of 60).
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", 0), VN_RC_SUCCESS, "90");
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", -2), VN_RC_SUCCESS, "90");
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", -5), VN_RC_SUCCESS, "180");
  // A contract outside the positions: 3 lots of the gilt at 10 on top.
  ExpectAnswer(MarginForTrade("GILT", "MAR27", 3), VN_RC_SUCCESS, "120");
  // The short 3 options of TRADER2: 150 alone; a buy of 5 at 2.5 closes the 3 and costs 50 for
  // the other 2, less than the margin; a sell of 2 adds 100.
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", 0, "", "TRADER2"), VN_RC_SUCCESS, "150");
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", 5, "2.5", "TRADER2"), VN_RC_SUCCESS, "150");
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", -2, "", "TRADER2"), VN_RC_SUCCESS, "250");
}

TEST_F(RiskExportsTest, BuyingPowerRemainingIsAHundredPlusTheUsedFigure) {
  // Used: (100 - 0 - 50) / L x 100 = -25 with a loss limit of -200.
  trader1_->LossLimit = -200;
  ExpectAnswer(Figure(vnBuyingPowerUsed, "", ""), VN_RC_SUCCESS, "-25");
  ExpectAnswer(Figure(vnBuyingPowerRemaining, "", ""), VN_RC_SUCCESS, "75");
  // The used figure's failure is the remaining figure's, with the text 0.
  ExpectAnswer(Figure(vnBuyingPowerRemaining, "", "", "NOBODY"), VN_RC_TRADER_ACCOUNT_NOT_FOUND,
               "0");
}

TEST_F(RiskExportsTest, OptionPremiumAndOrderSequence) {
  // "2.2" in quarters is 2.5: 10 x 3 x 2.5; a sell is worth nothing.
  ExpectAnswer(OptionPremium('B', "2.2", 3), VN_RC_SUCCESS, "75");
  ExpectAnswer(OptionPremium('S', "2.2", 3), VN_RC_SUCCESS, "0");
  ExpectAnswer(OptionPremium('B', "x", 3), VN_RC_SUCCESS, "0");
  char text[kRiskTextSize];
  EXPECT_EQ(vnGetOptionPremium("LIFFE", "FTSE", "NOPE", 'B', "2", 1, text), VN_RC_UNKNOWN_CONTRACT);
  EXPECT_STREQ(text, "0");

  std::int32_t first = -1, second = -1;
  ASSERT_EQ(vnNextOrderSequence(&first), VN_RC_SUCCESS);
  ASSERT_EQ(vnNextOrderSequence(&second), VN_RC_SUCCESS);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(vnNextOrderSequence(nullptr), VN_RC_UNEXPECTED_ERROR);
}

// Each export's checks in order; every failure leaves the text 0 (vnMarginForTrade leaves it
// untouched).
TEST_F(RiskExportsTest, FailureCodesInOrder) {
  struct TCase {
    const char* Name;
    TAccountExport Export;
    const char* const* Contract;
    const char* Account;
    std::int32_t Code;
  };
  const TCase cases[] = {
      {"burn rate, unknown account", vnPLBurnRate, kNoContract, "NOBODY", 9},
      {"burn rate, unknown contract", vnPLBurnRate, kNoContract, "TRADER1", 22},
      {"exposure, unknown account", vnOpenPositionExposure, kFuture, "NOBODY", 9},
      {"used, unknown account", vnBuyingPowerUsed, kFuture, "NOBODY", 9},
      {"remaining, unknown account", vnBuyingPowerRemaining, kFuture, "NOBODY", 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectAnswer(Figure(c.Export, c.Contract[0], c.Contract[1], c.Account), c.Code, "0");
  }
  // The look-up never makes an account, even during the initial download.
  Api().Logon.DownloadInProgress = true;
  ExpectAnswer(Figure(vnPLBurnRate, "FTSE", "MAR27", "TYPO"), VN_RC_TRADER_ACCOUNT_NOT_FOUND, "0");
  EXPECT_FALSE(Api().Accounts.KeyExists("TYPO"));
  Api().Logon.DownloadInProgress = false;

  ExpectAnswer(MarginForTrade("FTSE", "NOPE", 1), VN_RC_UNKNOWN_CONTRACT,
               std::string(21, kPrefill));
  Api().SetMarginMode(true);
  ExpectAnswer(MarginForTrade("FTSE", "NOPE", 1), VN_RC_INVALID_INDEX, std::string(21, kPrefill));

  // Before logon: 4 with the text 0, but vnMarginForTrade computes on the lists as they stand.
  Api().Logon.LoggedOn = false;
  for (TAccountExport figure :
       {vnPLBurnRate, vnOpenPositionExposure, vnBuyingPowerUsed, vnBuyingPowerRemaining})
    ExpectAnswer(Figure(figure, "FTSE", "MAR27"), VN_RC_NOT_LOGGED_ON, "0");
  ExpectAnswer(OptionPremium('B', "2", 1), VN_RC_NOT_LOGGED_ON, "0");
  std::int32_t sequence = -1;
  EXPECT_EQ(vnNextOrderSequence(&sequence), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(sequence, 0);
  ExpectAnswer(MarginForTrade("FTSE", "JUN27 C6500", 0), VN_RC_SUCCESS, "90");

  // Without an API object: 1, vnMarginForTrade included.
  api_.reset();
  vnLogOff();
  for (TAccountExport figure :
       {vnPLBurnRate, vnOpenPositionExposure, vnBuyingPowerUsed, vnBuyingPowerRemaining})
    ExpectAnswer(Figure(figure, "FTSE", "MAR27"), VN_RC_NOT_INITIALISED, "0");
  ExpectAnswer(OptionPremium('B', "2", 1), VN_RC_NOT_INITIALISED, "0");
  EXPECT_EQ(vnNextOrderSequence(&sequence), VN_RC_NOT_INITIALISED);
  ExpectAnswer(MarginForTrade("FTSE", "MAR27", 1), VN_RC_NOT_INITIALISED,
               std::string(21, kPrefill));
}

// L = 0, L + P = 0 and L x R = 0 fail with 99 and the text 0; R = 0 is no failure where the
// figure does not divide by it.
TEST_F(RiskExportsTest, DivisionsByZero) {
  trader1_->LossLimit = 0;
  ExpectAnswer(Figure(vnPLBurnRate, "FTSE", "MAR27"), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(Figure(vnBuyingPowerUsed, "", ""), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(Figure(vnBuyingPowerRemaining, "", ""), VN_RC_UNEXPECTED_ERROR, "0");
  trader1_->LossLimit = -100;  // P is 100 on the future and in total
  ExpectAnswer(Figure(vnOpenPositionExposure, "FTSE", "MAR27"), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(Figure(vnOpenPositionExposure, "", ""), VN_RC_UNEXPECTED_ERROR, "0");

  trader1_->LossLimit = 400;
  SetExchangeRate(0);
  ExpectAnswer(Figure(vnPLBurnRate, "FTSE", "MAR27"), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(Figure(vnBuyingPowerUsed, "FTSE", "MAR27"), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(Figure(vnOpenPositionExposure, "FTSE", "MAR27"), VN_RC_SUCCESS, "6");
  ExpectAnswer(Figure(vnBuyingPowerUsed, "", ""), VN_RC_SUCCESS, "12.5");
  ExpectAnswer(OptionPremium('B', "2", 1), VN_RC_UNEXPECTED_ERROR, "0");
  ExpectAnswer(OptionPremium('S', "2", 1), VN_RC_SUCCESS, "0");
}

// The rating-based margin of an unlisted account's sum catches nothing: a bought option
// without an exchange rate fails the export (99) with its trace line, the text untouched.
TEST_F(RiskExportsTest, MarginForTradeReportsAFailureAsOne) {
  Api().SetMarginMode(true);
  WorkingOrder("2", trader1_, Option(), Buy, 1);
  SetExchangeRate(0);
  ExpectAnswer(MarginForTrade("FTSE", "MAR27", 1, "", "NOBODY"), VN_RC_UNEXPECTED_ERROR,
               std::string(21, kPrefill));
  const std::string trace = ReadFileText(TraceFileName());
  EXPECT_NE(trace.find(" ORM method failed in margincalcs method\r\n"), std::string::npos) << trace;
}

TEST_F(RiskExportsTest, TraceLines) {
  EnableDebugFlags(kDebugging | kTraceAppCalls);
  ExpectAnswer(Figure(vnOpenPositionExposure, "FTSE", "MAR27"), VN_RC_SUCCESS, "6");
  std::int32_t sequence = -1;
  ASSERT_EQ(vnNextOrderSequence(&sequence), VN_RC_SUCCESS);
  ExpectAnswer(OptionPremium('B', "2.2", 3), VN_RC_SUCCESS, "75");
  DisableDebugFlags(kDebugging | kTraceAppCalls);
  const std::string trace = ReadFileText(TraceFileName());
  for (const std::string& line :
       {std::string(
            " Start : vnOpenPositionExposure: LIFFE\\FTSE\\MAR27 Trader: TRADER1 Exposure 0\r\n"),
        std::string(" Currency: GBP\r\n     Rate 1\r\n"),
        std::string(
            " End : vnOpenPositionExposure: LIFFE\\FTSE\\MAR27 Trader: TRADER1 Exposure 6\r\n"),
        " vnNextOrderSequence " + IntToStr(sequence) + "\r\n",
        std::string(" vnGetOptionPremium 75\r\n")})
    EXPECT_NE(trace.find(line), std::string::npos) << line << trace;
}

TEST(RiskFigureTextTest, FitsTwentyCharactersAndNeverWritesANonNumber) {
  EXPECT_EQ(RiskFigureText(-25), "-25");
  EXPECT_EQ(RiskFigureText(-0.0), "0");
  EXPECT_EQ(RiskFigureText(100.0 / 3), "33.3333333333333");
  EXPECT_EQ(RiskFigureText(0.000123456789012345), "0.000123456789012345");  // 20: as it is
  EXPECT_EQ(RiskFigureText(1.5E-300), "1.5E-300");
  // Texts of 21 and 22 characters lose digits, not their exponent or their last places.
  for (double figure : {-0.000123456789012345, 1.23456789012345E-300, -1.23456789012345E-300,
                        -1.23456789012345E100, -9.99999999999999E-10}) {
    SCOPED_TRACE(FloatToStr(figure));
    ASSERT_GT(FloatToStr(figure).size(), kRiskTextSize - 1);
    const std::string text = RiskFigureText(figure);
    EXPECT_LE(text.size(), kRiskTextSize - 1);
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(text, back)) << text;
    EXPECT_NEAR(back / figure, 1.0, 1e-12) << text;
  }
  EXPECT_THROW(RiskFigureText(HUGE_VAL), EInvalidOp);
  EXPECT_THROW(RiskFigureText(-HUGE_VAL), EInvalidOp);
  EXPECT_THROW(RiskFigureText(std::nan("")), EInvalidOp);
}

// The risk figures read on one thread while another adds fills and moves an order through its
// states: every answer is a success with a finite figure (run under TSan and ASan).
TEST_F(RiskExportsTest, FiguresWhileFillsAndOrdersChange) {
  Api().SetMarginMode(true);
  auto history = WorkingOrder("7", trader1_, Option(), Sell, 100);
  constexpr int kRounds = 200;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) {
      Fill(i % 2 ? trader1_ : trader2_, i % 3 ? Option() : Future(), i % 2 ? Buy : Sell, 1, 2.0);
      {
        TOrderQGuard guard(Api().Orders);
        auto next = history->GetCurrent()->Copy();
        next->Filled = i % 100;
        next->Status = i % 5 ? osPart : osAmendPending;
        next->OrderHistorySeq = i + 2;
        history->Add(next);
        Api().Orders.NoteHead(*history);
      }
      if (i % 10 == 0) Api().SetMarginMode(i % 20 == 0);
    }
    done = true;
  });
  int reads = 0;
  while (!done || reads < 20) {
    for (TAccountExport figure :
         {vnPLBurnRate, vnOpenPositionExposure, vnBuyingPowerUsed, vnBuyingPowerRemaining}) {
      const TAnswer answer = Figure(figure, "FTSE", "JUN27 C6500");
      ASSERT_EQ(answer.Code, VN_RC_SUCCESS);
      double value = 0;
      ASSERT_TRUE(TryStrToFloat(answer.Text, value)) << answer.Text;
    }
    const TAnswer margin = MarginForTrade("FTSE", "JUN27 C6500", -3, "", "NOBODY");
    ASSERT_EQ(margin.Code, VN_RC_SUCCESS);
    ++reads;
  }
  writer.join();
}

}  // namespace
}  // namespace vorn
