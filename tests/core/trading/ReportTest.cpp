#include "core/trading/Report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "support/FakeClock.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

const std::string kRule(100, '=');
const std::string kHeader =
    "Order ID  Exchange  Contract Maturity            Side      Fills  Average Price    Date "
    "Fill Time Fill Reference                ";

// An order of account on COM MAR24 of exchange EX (tick 0.25, 2 decimals).
TTradeReportOrder ReportOrder(const std::string& id, const std::string& account, TPurchase side,
                              std::int32_t filled, double average = 0,
                              const std::string& dateFilled = "",
                              const std::string& timeFilled = "",
                              const std::string& reference = "") {
  TTradeReportOrder order;
  order.ID = id;
  order.ExchangeName = "EX";
  order.AccountName = account;
  order.HasContract = true;
  order.CommodityName = "COM";
  order.ContractDate = "MAR24";
  order.TickSize = 0.25;
  order.Decimals = 2;
  order.BuySell = side;
  order.Filled = filled;
  order.AveragePrice = average;
  order.DateFilled = dateFilled;
  order.TimeFilled = timeFilled;
  order.Reference = reference;
  return order;
}

// The same without a contract: the line shows the names the report builder is given.
TTradeReportOrder Uncontracted(TTradeReportOrder order) {
  order.HasContract = false;
  order.CommodityName.clear();
  order.ContractDate.clear();
  return order;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines)
    text += line + "\r\n";
  return text;
}

class ReportTest : public ::testing::Test {
 protected:
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(18, 30, 15, 0)};
  TClockInstaller installer_{clock_};
  TReportQ reports_;
};

TEST_F(ReportTest, KeysOrderAndLookUps) {
  EXPECT_EQ(TReportQ::ReportKey(" ABC ", 2), std::string("ABC\x01") + "0000000002");
  EXPECT_EQ(TReportQ::ReportKey("ABC", -5), std::string("ABC\x01") + "-0000000005");

  reports_.SetReportText("ABC", 10, "ten;");
  reports_.SetReportText("ABC", 2, "two;");
  reports_.SetReportText("ABD", 1, "other;");
  reports_.SetReportText(" XYZ ", 1, "padded;");
  ASSERT_EQ(reports_.Count(), 4);
  EXPECT_EQ(reports_.At(0)->Sequence, 2);
  EXPECT_EQ(reports_.At(1)->Sequence, 10);
  EXPECT_EQ(reports_.GetReportText(" ABC "), "two;ten;");
  EXPECT_EQ(reports_.GetReportText("NONE"), "");
  ASSERT_NE(reports_.FindReport("XYZ", 1), nullptr);
  EXPECT_EQ(reports_.FindReport("XYZ", 1)->Text, "padded;");
  EXPECT_EQ(reports_.FindReport("XYZ", 2), nullptr);

  reports_.SetReportText("ABC", 2, "replaced;");
  EXPECT_EQ(reports_.Count(), 4);
  EXPECT_EQ(reports_.FindReport("ABC", 2)->GetTextLength(), 9u);
}

TEST_F(ReportTest, TradeReportTextForOrdersAndFills) {
  const struct {
    TTradeReportOrder order;
    const char* dateText;
  } orders[] = {
      {ReportOrder("1003", "acc1", Buy, 0, 0, "", "", "UNFILLED"), "20240305"},
      {ReportOrder("1001", "acc1", Buy, 5, 101.125, "20240305", "140709", "REF-A"), "20240305"},
      {ReportOrder("1002", "Acc1", Sell, 5, 99.5, "20240304", "093000", "REF-B"), "20240305"},
      // Fill time not a time; a two-sided order shows "Sell" and counts as bought.
      {Uncontracted(ReportOrder("a200", "ACC2", TwoSided, 2, 12.5, "20240305", "256000",
                                "REFERENCE-TEXT-OF-THIRTY-CHARS")),
       "20240305"},
      // Fill date not a date; names longer than their columns are cut.
      {[] {
         auto order = Uncontracted(ReportOrder("B100123456", "ACC2", Buy, 1, 7, "2024", "100000"));
         order.ExchangeName = "LONGEXCHANGE";
         return order;
       }(),
       "20240305"},
  };
  for (const auto& o : orders)
    reports_.AddTradeReportOrder(o.order, o.dateText, "JUN24", "COMX");
  ASSERT_EQ(reports_.Count(), 1);
  auto report = reports_.At(0);
  EXPECT_EQ(report->ReportType, "Tue 05-Mar-2024");
  EXPECT_EQ(report->ReportDate, "20240305");
  ASSERT_EQ(report->TraderAccReportQ().size(), 2u);

  EXPECT_EQ(reports_.CompleteReports(), std::vector<std::string>{"Tue 05-Mar-2024"});
  const std::string expected = Join({
      kRule,
      "Trade Report for Tue 05-Mar-2024 05-Mar-2024",
      kRule,
      "",
      "TRADER ACCOUNT: ACC1",
      "",
      kHeader,
      "",
      "1001      EX        COM      MAR24               Buy           5         101.13  "
      "05-Mar-2024 14:07.09  REF-A                    ",
      "1002      EX        COM      MAR24               Sell          5          99.50  "
      "04-Mar-2024 09:30.00  REF-B                    ",
      "1003      EX        COM      MAR24               Buy           0                 "
      "                      UNFILLED                 ",
      "",
      "Total Bought = 5  Total Sold = 5  Todays Position = 0",
      "",
      kRule,
      "",
      "TRADER ACCOUNT: ACC2",
      "",
      kHeader,
      "",
      "a200      EX        COMX     JUN24               Sell          2             13  "
      "05-Mar-2024           REFERENCE-TEXT-OF-THIRTY-",
      "B10012345 LONGEXCHANCOMX     JUN24               Buy           1              7  "
      "            10:00.00                           ",
      "",
      "Total Bought = 3  Total Sold = 0  Todays Position = 3",
      "",
      kRule,
      "",
      "==== End of Report ====",
      "",
      "==== Produced: 05-Mar-2024 18:30.15 ====",
  });
  EXPECT_EQ(report->Text, expected);
}

TEST_F(ReportTest, AveragePriceDecimalsFollowTheTickSizeText) {
  const struct {
    double tick;
    std::int32_t exchangeDecimals;
    int decimals;
  } cases[] = {
      {0.25, 2, 2}, {1, 2, 1}, {1e-5, 2, 5}, {12.5, 2, 2}, {0.5, 4, 3}, {1, 1, 0}, {0.001, 0, 3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AveragePriceDecimals(c.tick, c.exchangeDecimals), c.decimals)
        << c.tick << " / " << c.exchangeDecimals;
}

TEST_F(ReportTest, OrdersWithInvalidDatesAreStillCounted) {
  reports_.AddTradeReportOrder(ReportOrder("1", "ACC", Buy, 4, 10, "20241399", "120000"), "", "",
                               "");
  reports_.AddTradeReportOrder(ReportOrder("2", "ACC", Sell, 1, 10), "garbage", "", "");
  // Both days without a valid date share the one report of that key.
  ASSERT_EQ(reports_.Count(), 1);
  auto report = reports_.At(0);
  EXPECT_EQ(report->ReportType, "");
  const auto& section = *report->TraderAccReportQ().at(0);
  EXPECT_EQ(section.TotalBought, 4);
  EXPECT_EQ(section.TotalSold, 1);
  EXPECT_EQ(section.Lines().at(0).substr(81, 12), std::string(12, ' ')) << "no fill date";
  reports_.CompleteReports();
  EXPECT_EQ(report->Text.substr(100, 4), "\r\n\r\n") << "an empty title line";
}

TEST_F(ReportTest, ARepeatedOrderReplacesItsLineAndLots) {
  reports_.AddTradeReportOrder(ReportOrder("1", "ACC", Buy, 4, 10, "20240305", "120000"),
                               "20240305", "", "");
  reports_.AddTradeReportOrder(ReportOrder("1", "ACC", Buy, 6, 11, "20240305", "121000"),
                               "20240305", "", "");
  const auto& section = *reports_.At(0)->TraderAccReportQ().at(0);
  EXPECT_EQ(section.TotalBought, 6);
  ASSERT_EQ(section.Lines().size(), 1u);
  EXPECT_NE(section.Lines()[0].find("11.00"), std::string::npos);
}

TEST_F(ReportTest, CompletingKeepsHostAndStoredReportTexts) {
  TTempDir dir;
  reports_.SetReportText("Daily", 1, "host text");
  reports_.AddTradeReportOrder(ReportOrder("1", "ACC", Buy, 1, 10), "20240304", "", "");
  reports_.CompleteReports();
  const std::string tradeText = reports_.FindReport("Mon 04-Mar-2024", 0)->Text;
  ASSERT_NE(tradeText.find("TRADER ACCOUNT: ACC"), std::string::npos);
  reports_.SaveToFile(dir.File("reports.dat"));

  TStream stream;
  ASSERT_TRUE(stream.LoadFromFile(dir.File("reports.dat")));
  ASSERT_TRUE(ReadStoreHeader(stream));
  TReportQ loaded;
  ASSERT_TRUE(loaded.LoadFromStream(stream, false));
  ASSERT_EQ(loaded.Count(), 2);
  auto trade = loaded.FindReport("Mon 04-Mar-2024", 0);
  ASSERT_NE(trade, nullptr);
  EXPECT_EQ(trade->ReportDate, "20240304");
  EXPECT_EQ(trade->Text, tradeText);
  EXPECT_FALSE(trade->HasAccountSections());

  clock_.AdvanceMs(60000);
  EXPECT_EQ(loaded.CompleteReports(), (std::vector<std::string>{"Daily", "Mon 04-Mar-2024"}));
  EXPECT_EQ(loaded.FindReport("Daily", 1)->Text, "host text");
  EXPECT_EQ(trade->Text, tradeText);
}

TEST(TradeReportOrderTest, TakesTheContractNamesTickSizeAndExchangeDecimals) {
  TOrderServicesScope services;
  TOrderItem order;
  order.ID = "77";
  order.ExchangeName = "EX";
  order.Contract = services->AddContract("EX", "COM", "MAR24", "F", 100, 0.5, 3);
  order.TraderAccount = services->AddAccount("ACC");
  order.BuySell = Sell;
  order.Filled = 2;
  order.AveragePrice = 1.5;
  order.SetDateFilled("20240305");
  order.SetTimeFilled("101010");
  order.SetReference("R");
  const TTradeReportOrder line = TradeReportOrderOf(order);
  EXPECT_TRUE(line.HasContract);
  EXPECT_EQ(line.CommodityName, "COM");
  EXPECT_EQ(line.ContractDate, "MAR24");
  EXPECT_DOUBLE_EQ(line.TickSize, 0.5);
  EXPECT_EQ(line.Decimals, 3);
  EXPECT_EQ(line.AccountName, "ACC");
  EXPECT_EQ(line.Reference, "R");

  order.Contract.reset();
  order.TraderAccount.reset();
  const TTradeReportOrder bare = TradeReportOrderOf(order);
  EXPECT_FALSE(bare.HasContract);
  EXPECT_EQ(bare.AccountName, "");
  EXPECT_EQ(TradeReportLine(bare, "COMX", "JUN24").substr(20, 29), "COMX     JUN24               ");
}

}  // namespace
}  // namespace vorn
