// The data-file loaders on an API object of their own, each file written by the test.
#include "sim/SimTestData.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Report.h"
#include "core/util/Exceptions.h"
#include "support/TempDir.h"

namespace vorn::sim {
namespace {

class SimTestDataTest : public ::testing::Test {
 protected:
  void Write(const char* name, const std::string& text) { WriteFileText(folder_.File(name), text); }
  bool Commodities(const std::string& text) {
    Write(kCommodityFile, text);
    return LoadCommodities(*api_, folder_.Path());
  }
  std::shared_ptr<TExchange> Exchange(const char* name) {
    return api_->Exchanges.FindExchange(name);
  }

  TTempDir folder_;
  std::shared_ptr<TClassAPI> api_ = std::make_shared<TClassAPI>();
};

TEST_F(SimTestDataTest, CommodityLinesSetTheExchangeFlagsByName) {
  ASSERT_TRUE(
      Commodities("liffe,IDX,GBP,10,10,0.5,1.0,x\n"
                  "EUREX,BUND,EUR,1000,100,0.01,1.17,x\n"
                  "xCMEy,ES,USD,50,4,0.25,1.27,x\n"
                  "xcmey,NQ,USD,20,4,0.25,1.27,x\n"
                  "LEHMANFX,EURUSD,USD,1,10000,0.0001,1.27,x\n"));
  struct TExpected {
    const char* name;
    bool query, liffe;
    char ticket;
    bool rfq;
  };
  for (const TExpected& e : std::vector<TExpected>{{"liffe", true, true, '\0', false},
                                                   {"EUREX", true, false, '\0', false},
                                                   {"xCMEy", false, false, 'E', false},
                                                   {"xcmey", false, false, '\0', false},
                                                   {"LEHMANFX", false, false, 'F', true}}) {
    SCOPED_TRACE(e.name);
    const auto exchange = Exchange(e.name);
    ASSERT_NE(exchange, nullptr);
    EXPECT_TRUE(exchange->AmendEnabled);
    EXPECT_EQ(exchange->QueryEnabled, e.query);
    EXPECT_EQ(exchange->EnableAA, e.liffe);
    EXPECT_EQ(exchange->EnableBasis, e.liffe);
    EXPECT_EQ(exchange->EnableBlock, e.liffe);
    EXPECT_EQ(exchange->EnableCross, e.liffe);
    EXPECT_EQ(exchange->StrategyCreator, scVORN);
    EXPECT_EQ(exchange->TicketType, e.ticket);
    EXPECT_EQ(exchange->RFQA, e.rfq);
    EXPECT_EQ(exchange->RFQT, e.rfq);
  }
}

TEST_F(SimTestDataTest, CommodityColumnsRatesAndRefusals) {
  // CRLF endings, a blank line, a short line repeating its last column, a second commodity in
  // a currency overwriting its rate, a tick size of 0 and a duplicate refused.
  ASSERT_TRUE(
      Commodities("LIFFE,ABCDEFGHIJKLM,GBP,10,10,0.5,1.0,long name\r\n"
                  "\r\n"
                  "LIFFE,SHORT,EUR,25,4\r\n"
                  "EUREX,BUND,EUR,1000,100,0.01,1.17,bond\r\n"
                  "EUREX,ZERO,EUR,1000,100,0,1.5,no tick\r\n"
                  "LIFFE,SHORT,GBP,1,1,1,2,again\r\n"));
  EXPECT_EQ(api_->Commodities.Count(), 3);
  const auto longName = api_->Commodities.FindCommodity("LIFFE", "ABCDEFGHIJ");
  ASSERT_NE(longName, nullptr);
  EXPECT_EQ(longName->Currency, "GBP");
  EXPECT_EQ(longName->OnePoint, 10);
  EXPECT_EQ(longName->TicksPerPoint, 10);
  EXPECT_EQ(longName->TickSize, 0.5);
  EXPECT_EQ(std::dynamic_pointer_cast<TDemoCommodity>(longName)->Description, "long name");
  const auto shortLine = api_->Commodities.FindCommodity("LIFFE", "SHORT");
  ASSERT_NE(shortLine, nullptr);
  EXPECT_EQ(shortLine->TicksPerPoint, 4);
  EXPECT_EQ(shortLine->TickSize, 4);
  EXPECT_EQ(std::dynamic_pointer_cast<TDemoCommodity>(shortLine)->Description, "4");
  EXPECT_EQ(api_->Commodities.FindCommodity("EUREX", "ZERO"), nullptr);
  EXPECT_EQ(api_->ExchangeRates.GetRate("GBP"), 1.0);
  EXPECT_EQ(api_->ExchangeRates.GetRate("EUR"), 1.17);

  EXPECT_THROW(Commodities("LIFFE,X,GBP,10,ten,0.5,1,x\n"), EConvertError);
  EXPECT_FALSE(Commodities(""));
  EXPECT_FALSE(LoadCommodities(*api_, folder_.Path() + "missing/"));
}

TEST_F(SimTestDataTest, ContractsNeedAListedCommodityAndAKnownShape) {
  ASSERT_TRUE(Commodities("LIFFE,IDX100,GBP,10,10,0.5,1.0,x\n"));
  Write(kContractFile,
        "LIFFE,IDX100,MAR27,20270319123,20270318,8200,7600,40\r\n"
        "LIFFE,IDX100,MAR27JUN27,20270319,20270319,80,-20,20\n"
        "LIFFE,IDX100,MAR27 7900 C,20270319,20270319,400,0.5,25\n"
        "LIFFE,IDX100,NOT A SHAPE,20270319,20270319,400,0.5,25\n"
        "LIFFE,NOSUCH,MAR27,20270319,20270319,400,0.5,25\n"
        "LIFFE,IDX100,MAR27,20270319,20270319,1,0,1\n");
  std::vector<TLoadedContract> added;
  ASSERT_TRUE(LoadContracts(*api_, folder_.Path(), added));
  ASSERT_EQ(added.size(), 3u);
  EXPECT_EQ(api_->Contracts.Count(), 3);
  const auto& outright = *added[0].Contract;
  EXPECT_EQ(outright.GetExpiryDate(), "20270319");
  EXPECT_EQ(outright.GetLastTradeDate(), "20270318");
  EXPECT_EQ(outright.State, TUUIDStreamable::usActive);
  EXPECT_EQ(outright.GetLegs(), 1);
  EXPECT_EQ(outright.GetLegField(1, 1), "F");
  EXPECT_EQ(added[0].UpperLimit, 8200);
  EXPECT_EQ(added[0].LowerLimit, 7600);
  EXPECT_EQ(added[0].LotLimit, 40);
  EXPECT_EQ(added[1].Contract->GetLegs(), 2);
  EXPECT_EQ(added[1].Contract->GetLegField(1, 1), "EF");
  EXPECT_EQ(added[1].Contract->GetLegField(2, 5), "1 2");
  EXPECT_TRUE(added[2].Contract->IsOption());

  Write(kContractFile, "LIFFE,IDX100,MAR27,20270319,20270319,8200,7600,forty\n");
  EXPECT_THROW(LoadContracts(*api_, folder_.Path(), added), EConvertError);
}

TEST_F(SimTestDataTest, TradersReportTypesReportsAndOrderTypes) {
  ASSERT_TRUE(Commodities("LIFFE,IDX100,GBP,10,10,0.5,1.0,x\n"));
  Write(kTraderFile, "TRADER1,BO-1,Y\r\nVIEW,BO-2,N,none\r\nSHORT\r\n");
  ASSERT_TRUE(LoadTraders(*api_, folder_.Path()));
  ASSERT_EQ(api_->Accounts.Count(), 3);
  const auto trader = api_->Accounts.FindAccount("TRADER1");
  ASSERT_NE(trader, nullptr);
  EXPECT_TRUE(trader->Tradable);
  EXPECT_EQ(trader->GetBackOfficeID(), "BO-1");
  EXPECT_EQ(trader->LossLimit, 0);  // the short line repeats "Y"
  EXPECT_FALSE(api_->Accounts.FindAccount("VIEW")->Tradable);
  EXPECT_EQ(api_->Accounts.FindAccount("VIEW")->LossLimit, 0);

  Write(kReportTypeFile, "  Daily Trades \r\nOpen Positions\n\n");
  ASSERT_TRUE(LoadReportTypes(*api_, folder_.Path()));
  EXPECT_EQ(api_->ReportTypes.Count(), 2);

  // N = 0 reads the next line as a head line; body lines keep blanks and CR LF is added.
  Write(kReportFile, "Empty,1,0\r\nDaily,2,2\r\nfirst\r\n\r\n\nOther,3,1\nonly\n");
  ASSERT_TRUE(LoadReports(*api_, folder_.Path()));
  EXPECT_EQ(api_->Reports.Count(), 3);
  ASSERT_NE(api_->Reports.FindReport("Empty", 1), nullptr);
  EXPECT_EQ(api_->Reports.FindReport("Empty", 1)->Text, "");
  EXPECT_EQ(api_->Reports.FindReport("Daily", 2)->Text, "first\r\n\r\n");
  EXPECT_EQ(api_->Reports.FindReport("Other", 3)->Text, "only\r\n");
  Write(kReportFile, "Daily,two,1\nx\n");
  EXPECT_THROW(LoadReports(*api_, folder_.Path()), EConvertError);

  Write(kOrderTypeFile, "Limit,LIFFE,1,2,0\r\nGhost,NOWHERE,1,131,0\r\nGTD,LIFFE,x,54,1\r\n");
  ASSERT_TRUE(LoadOrderTypes(*api_, folder_.Path()));
  ASSERT_EQ(api_->OrderTypes.Count(), 2);
  const auto limit = api_->OrderTypes.FindOrderType("LIFFE", "Limit");
  ASSERT_NE(limit, nullptr);
  EXPECT_EQ(limit->OrderTypeID, 2);
  EXPECT_EQ(limit->PricesRequired, 1);
  EXPECT_EQ(limit->VolumesRequired, 1);
  const auto gtd = api_->OrderTypes.FindOrderType("LIFFE", "GTD");
  EXPECT_EQ(gtd->PricesRequired, 0);
  EXPECT_EQ(gtd->DatesRequired, 1);
  Write(kOrderTypeFile, "");
  EXPECT_FALSE(LoadOrderTypes(*api_, folder_.Path()));
  Write(kOrderTypeFile, "Limit,LIFFE,1,two,0\n");
  EXPECT_THROW(LoadOrderTypes(*api_, folder_.Path()), EConvertError);
}

}  // namespace
}  // namespace vorn::sim
