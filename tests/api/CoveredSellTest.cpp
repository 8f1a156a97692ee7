// The covered value of the option margin end to end: a start-of-day long position and a sell of
// the option reach the library through the host receivers in margin mode; the sell's filled lots
// take the start-of-day long lots still free, its margin entry holds what they cover, and the
// margin requirement and the risk exports come out lower by the covered value. The start-of-day
// record and the sell in either order during the download, a record after the download, and an
// amendment of the sell.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "api/RiskFigures.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "links/Dispatcher.h"
#include "support/HostText.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr char kOptionFields[] = "Ex=LIFFE|C=FTSE|CD=JUN27 C6500|TA=TRADER1|";

// The option rated 50 a lot in margin mode; TRADER1 with a loss limit of 400. No last trade, so
// every profit is 0 and each figure is the margin's.
class CoveredSellTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    auto row = std::make_shared<TMarginRating>();
    row->Rating = "R1";
    row->Exchange = "LIFFE";
    row->CommodityIndicator = "O";
    row->MarginReq = 50;
    row->MarginPC = 100;
    Api().MarginRatings.Add(row);
    trader_ = Api().Accounts.FindAccount("TRADER1");
    trader_->SetMarginRating("R1");
    trader_->LossLimit = 400;
    Api().SetMarginMode(true);
  }

  void Host(const std::string& text) { ProcessMessage(Api(), psHost, Wire(text)); }
  void StartOfDay(std::int32_t longLots) {
    Host("Msg=3676|" + std::string(kOptionFields) + "Psl=" + std::to_string(longLots) +
         "|Pss=0|Pr=2|OPr=0|");
  }
  // The sell order 101 of 6 lots at 3 in the given state with its filled lots.
  void Sell(std::int32_t status, std::int32_t filled, std::int32_t sequence,
            std::int32_t target = 6) {
    Host("Msg=3601|OID=101|Sts=" + std::to_string(status) + "|Seq=" + std::to_string(sequence) +
         "|Flg=1|Fil=" + std::to_string(filled) + "|" + kOptionFields +
         "OTy=LIMIT|Usr=trader1|BS=2|Pr=3|TLt=" + std::to_string(target) +
         "|ALt=" + std::to_string(target) + "|");
  }
  void SellFill(const std::string& id, std::int32_t lots) {
    Host("Msg=3602|FID=" + id + "|OID=101|" + kOptionFields + "BS=2|Fil=" + std::to_string(lots) +
         "|Pr=3|FTy=1|Usr=trader1|DF=20261209093000|HRx=20261209093001|");
  }

  std::int32_t FreeLongLots() {
    const auto position = ExistingPositionOf(*Option());
    if (!position) return -1;
    const auto record = position->GetAccountPosition("TRADER1");
    return record ? record->Netted.StartOfDay.LongLots2 : -1;
  }
  TMarginOrderItem SellEntry() {
    for (const TMarginOrderItem& entry : trader_->GetMarginOrders(Option()->Key()))
      if (entry.OrderID == "101") return entry;
    ADD_FAILURE() << "no margin entry for the sell";
    return {};
  }
  double Requirement(std::uint8_t mode, bool covered) {
    return Api().MarginRequirement.CalcMarginReq(nullptr, *trader_, "", mode, 0, 0.0, covered);
  }
  static std::string Figure(decltype(&vnPLBurnRate) figure) {
    char text[kRiskTextSize] = {};
    EXPECT_EQ(figure("LIFFE", "FTSE", "JUN27 C6500", "TRADER1", text), VN_RC_SUCCESS);
    return std::string(text, strnlen(text, sizeof text));
  }

  std::shared_ptr<TTraderAccountItem> trader_;
};

// Long 10 at the start of the day, then 4 of a 6-lot sell at 3 filled: 4 lots covered at 3, a
// covered value of 10 x 4 x 3 = 120. Before it, nothing: the 2 lots still working are covered
// by the 10 long, the 6 long left are set aside as start-of-day lots, so every margin is 0.
TEST_F(CoveredSellTest, ACoveredSellLowersTheMarginByItsCoveredValue) {
  StartOfDay(10);
  EXPECT_EQ(FreeLongLots(), 10);
  Sell(osSent, 0, 1);
  Sell(osWorking, 0, 2);
  EXPECT_EQ(Requirement(0, true), 0.0);
  Sell(osPart, 4, 3);
  SellFill("F1", 4);

  EXPECT_EQ(FreeLongLots(), 6);
  const TMarginOrderItem entry = SellEntry();
  EXPECT_EQ(entry.FilledLots, 4);
  EXPECT_EQ(entry.CoveredLots, 4);
  EXPECT_EQ(entry.CoveredAvgPrice, 3.0);
  for (const std::uint8_t mode : {0, 2, 4}) {
    SCOPED_TRACE(int{mode});
    EXPECT_EQ(Requirement(mode, false), 0.0);
    EXPECT_EQ(Requirement(mode, true), -120.0);
  }
  // Burn rate (M x R + P) / (L x R) = -120 / 400; used (P - M) / (L x R) = 120 / 400.
  EXPECT_EQ(Figure(vnPLBurnRate), "-30");
  EXPECT_EQ(Figure(vnBuyingPowerUsed), "30");
  EXPECT_EQ(Figure(vnBuyingPowerRemaining), "130");

  // The rest of the sell: 2 more lots covered, at the same price.
  Sell(osFilled, 6, 4);
  EXPECT_EQ(FreeLongLots(), 4);
  EXPECT_EQ(SellEntry().CoveredLots, 6);
  EXPECT_EQ(Requirement(0, true), -180.0);
}

// Only the free lots cover: long 3, a sell of 6 filled in full covers 3, the rest is short.
TEST_F(CoveredSellTest, TheFreeLotsBoundTheCover) {
  StartOfDay(3);
  Sell(osFilled, 6, 1);
  EXPECT_EQ(FreeLongLots(), 0);
  EXPECT_EQ(SellEntry().CoveredLots, 3);
  EXPECT_EQ(Requirement(0, false) - Requirement(0, true), 90.0);
}

// During the download the record may come after the orders: the sells listed then are covered
// from it as if it had come first.
class CoveredSellDownloadTest : public CoveredSellTest,
                                public ::testing::WithParamInterface<bool> {};

TEST_P(CoveredSellDownloadTest, TheRecordCoversTheSellsListedBeforeIt) {
  const bool recordFirst = GetParam();
  Api().Logon.DownloadInProgress = true;
  if (recordFirst) StartOfDay(10);
  Sell(osPart, 4, 1);
  if (!recordFirst) StartOfDay(10);
  Api().Logon.DownloadInProgress = false;
  EXPECT_EQ(FreeLongLots(), 6);
  EXPECT_EQ(SellEntry().CoveredLots, 4);
  EXPECT_EQ(SellEntry().CoveredAvgPrice, 3.0);
  EXPECT_EQ(Requirement(0, true), -120.0);
}

INSTANTIATE_TEST_SUITE_P(Order, CoveredSellDownloadTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "RecordFirst" : "RecordLast";
});

// After the download a new record starts the day again: all its long lots are free, and the sells
// covered before it are settled in it.
TEST_F(CoveredSellTest, ARecordAfterTheDownloadRestartsTheCover) {
  StartOfDay(10);
  Sell(osPart, 4, 1);
  EXPECT_EQ(FreeLongLots(), 6);
  StartOfDay(8);
  EXPECT_EQ(FreeLongLots(), 8);
  EXPECT_EQ(SellEntry().CoveredLots, 0);
  EXPECT_EQ(SellEntry().CoveredAvgPrice, 0.0);
  Sell(osPart, 5, 2);
  EXPECT_EQ(FreeLongLots(), 7);
  EXPECT_EQ(SellEntry().CoveredLots, 1);
}

// An amendment rebooks the sell's entry: what it covered stays, and no lot is taken twice.
TEST_F(CoveredSellTest, AnAmendedSellKeepsItsCover) {
  StartOfDay(10);
  Sell(osPart, 4, 1);
  Sell(osAmendPending, 4, 2);
  Sell(osWorking, 4, 3, 8);
  EXPECT_EQ(FreeLongLots(), 6);
  EXPECT_EQ(SellEntry().Lots, 8);
  EXPECT_EQ(SellEntry().CoveredLots, 4);
  Sell(osPart, 7, 4, 8);
  EXPECT_EQ(FreeLongLots(), 3);
  EXPECT_EQ(SellEntry().CoveredLots, 7);
}

}  // namespace
}  // namespace vorn
