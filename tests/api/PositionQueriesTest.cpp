// The position queries over a small portfolio of futures and options, with margin mode on and
// off: closed and open profit, lots, totals and average prices as golden cases.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "core/session/ClassAPI.h"
#include "support/HostText.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr unsigned char kPrefill = 0xCC;

PositionStruct Prefilled() {
  PositionStruct record;
  std::memset(&record, kPrefill, sizeof record);
  return record;
}

struct TFigures {
  std::string Profit;
  std::int32_t Buy = 0;
  std::int32_t Sell = 0;
  bool operator==(const TFigures&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TFigures& f) {
  return out << f.Profit << " " << f.Buy << "/" << f.Sell;
}

TFigures FiguresOf(const PositionStruct& record) {
  return {record.Profit, record.Buy, record.Sell};
}

class PositionQueriesTest : public TradingTest {
 protected:
  std::shared_ptr<TContractItem> Gilt() const {
    return api_->Contracts.FindContract("LIFFE", "GILT", "MAR27");
  }
  std::shared_ptr<TTraderAccountItem> Account(const char* name) {
    if (!Api().Accounts.KeyExists(name))
      Api().Accounts.Add(std::make_shared<TTraderAccountItem>(name));
    return Api().Accounts.FindAccount(name);
  }
  void Fill(const char* account, const std::shared_ptr<TContractItem>& contract, TPurchase side,
            std::int32_t lots, double price) {
    auto fill = std::make_shared<TFill>();
    fill->FillID = "F" + std::to_string(++fills_);
    fill->Contract = contract;
    fill->Account = Account(account);
    fill->BuySell = side;
    fill->Lots = lots;
    fill->Price = price;
    ASSERT_TRUE(Api().Positions.AddFill(fill).Added);
  }
  // TRADER1: 3 bought at 100 and 1 sold at 102 of the future, 2 bought at 10 of the option, 1
  // at 100.16 and 1 at 101.00 of the gilt (32nds: 100.5 and 101). TRADER2: 3 sold at 20 of the
  // option. TRADER3: the option bought at 10 and sold at 12 (flat). Last trades: future 105,
  // option 13, gilt 101.08 (101.25).
  void AddPortfolio() {
    Fill("TRADER1", Future(), Buy, 3, 100);
    Fill("TRADER1", Future(), Sell, 1, 102);
    Fill("TRADER1", Option(), Buy, 2, 10);
    Fill("TRADER1", Gilt(), Buy, 1, 100.16);
    Fill("TRADER1", Gilt(), Buy, 1, 101.00);
    Fill("TRADER2", Option(), Sell, 3, 20);
    Fill("TRADER3", Option(), Buy, 1, 10);
    Fill("TRADER3", Option(), Sell, 1, 12);
    Future()->SetPrice(VN_PK_LAST_TRADE, 1, 105);
    Option()->SetPrice(VN_PK_LAST_TRADE, 1, 13);
    Gilt()->SetPrice(VN_PK_LAST_TRADE, 1, 101.08);
  }
  TFigures ContractPosition(const std::shared_ptr<TContractItem>& contract, const char* account) {
    PositionStruct record = Prefilled();
    const std::string commodity = contract->CommodityStr();
    const std::string date = contract->ContractDate();
    EXPECT_EQ(vnGetContractPosition("LIFFE", commodity.c_str(), date.c_str(), account, &record),
              VN_RC_SUCCESS);
    return FiguresOf(record);
  }
  TFigures OpenPosition(const std::shared_ptr<TContractItem>& contract, const char* account) {
    PositionStruct record = Prefilled();
    const std::string commodity = contract->CommodityStr();
    const std::string date = contract->ContractDate();
    EXPECT_EQ(vnGetOpenPosition("LIFFE", commodity.c_str(), date.c_str(), account, &record),
              VN_RC_SUCCESS);
    return FiguresOf(record);
  }
  std::string AveragePrice(const std::shared_ptr<TContractItem>& contract, const char* account) {
    char price[21];
    std::memset(price, kPrefill, sizeof price);
    const std::string commodity = contract->CommodityStr();
    const std::string date = contract->ContractDate();
    EXPECT_EQ(vnGetAveragePrice("LIFFE", commodity.c_str(), date.c_str(), account, price),
              VN_RC_SUCCESS);
    return price;
  }
  TFigures TotalPosition(const char* account) {
    PositionStruct record = Prefilled();
    EXPECT_EQ(vnGetTotalPosition(account, &record), VN_RC_SUCCESS);
    return FiguresOf(record);
  }

  int fills_ = 0;
};

TEST_F(PositionQueriesTest, PortfolioFiguresWithMarginModeOffAndOn) {
  AddPortfolio();
  const auto future = Future();
  const auto option = Option();
  const auto gilt = Gilt();
  const struct {
    const char* name;
    std::shared_ptr<TContractItem> contract;
    const char* account;
    bool marginMode;
    TFigures closed;
    TFigures open;
    const char* average;
  } cases[] = {
      // (1 sold 100 -> 102 = 2 a lot, then 2 long 102 -> 105) x 10; open: 2 long 100 -> 105.
      {"future", future, "TRADER1", false, {"120", 3, 1}, {"100", 2, 0}, "100"},
      {"future, margin mode", future, "TRADER1", true, {"120", 3, 1}, {"100", 2, 0}, "100"},
      // Open fills in 32nds: (101.25 - 100.5) + (101.25 - 101) points x 1000.
      {"gilt", gilt, "TRADER1", false, {"1000", 2, 0}, {"1000", 2, 0}, "100.75"},
      // A bought option: 2 x 3 x 10. The open query takes the inverse of margin mode, under which
      // a bought option's premium is paid and it has no open profit.
      {"long option", option, "TRADER1", false, {"60", 2, 0}, {"0", 2, 0}, "10"},
      {"long option, margin mode", option, "TRADER1", true, {"0", 2, 0}, {"60", 2, 0}, "10"},
      // A sold option: -3 x (13 - 20) x 10, whatever the mode.
      {"short option", option, "TRADER2", false, {"210", 0, 3}, {"210", 0, 3}, "20"},
      {"short option, margin mode", option, "TRADER2", true, {"210", 0, 3}, {"210", 0, 3}, "20"},
      // Flat: the closed 2 points x 10 only.
      {"flat option", option, "TRADER3", false, {"20", 1, 1}, {"0", 0, 0}, "0"},
      {"flat option, margin mode", option, "TRADER3", true, {"20", 1, 1}, {"0", 0, 0}, "0"},
      // No record on the contract.
      {"no record", future, "TRADER2", false, {"0", 0, 0}, {"0", 0, 0}, "0"},
  };
  for (const auto& c : cases) {
    Api().Features.MarginMode = c.marginMode;
    EXPECT_EQ(ContractPosition(c.contract, c.account), c.closed) << c.name;
    EXPECT_EQ(OpenPosition(c.contract, c.account), c.open) << c.name;
    EXPECT_EQ(AveragePrice(c.contract, c.account), c.average) << c.name;
  }

  // Totals leave out a bought option's profit: 120 + 1000 over 7 bought and 1 sold.
  Api().Features.MarginMode = false;
  EXPECT_EQ(TotalPosition("TRADER1"), (TFigures{"1120", 7, 1}));
  EXPECT_EQ(TotalPosition(" TRADER2 "), (TFigures{"210", 0, 3}));
  Api().Features.MarginMode = true;
  EXPECT_EQ(TotalPosition("TRADER1"), (TFigures{"1120", 7, 1}));
}

TEST_F(PositionQueriesTest, TotalsWithAndWithoutTheOptionFlagNeverStandInForEachOther) {
  AddPortfolio();
  const double withOption = 120 + 60 + 1000;
  for (int round = 0; round < 2; ++round) {
    EXPECT_DOUBLE_EQ(Api().Positions.GetTotalPos("TRADER1", false).PL, withOption) << round;
    EXPECT_EQ(TotalPosition("TRADER1").Profit, "1120") << round;
    EXPECT_DOUBLE_EQ(Api().Positions.GetTotalPos("TRADER1", false).PL, withOption) << round;
  }
  // A new last trade still makes the kept totals stale.
  Option()->SetPrice(VN_PK_LAST_TRADE, 1, 14);
  EXPECT_DOUBLE_EQ(Api().Positions.GetTotalPos("TRADER1", false).PL, withOption + 20);
  EXPECT_EQ(TotalPosition("TRADER1").Profit, "1120");
}

TEST_F(PositionQueriesTest, ContractProfitIsRoundedToFourDecimalsHalvesToEven) {
  auto commodity = AddTradingCommodity(Api(), "ODD", 1, 1);
  ASSERT_GE(Api().Contracts.AddFromFields("LIFFE", "ODD", "MAR27", Fields("X1=F|X2=LIFFE")), 0);
  const auto contract = Api().Contracts.FindContract("LIFFE", "ODD", "MAR27");
  Fill("TRADER1", contract, Buy, 1, 100);
  contract->SetPrice(VN_PK_LAST_TRADE, 1, 101);
  // One lot up one point: the profit is the point value.
  const struct {
    double onePoint;
    const char* closed;
  } cases[] = {
      {1.23456789, "1.2346"}, {0, "0"},
      {2.5, "2.5"},           {0.00025, "0.0002"},
      {0.00035, "0.0004"},    {0.12345, "0.1234"},
      {-0.00025, "-0.0002"},  {0.00004, "0"},
      {-0.00004, "0"},
  };
  for (const auto& c : cases) {
    commodity->OnePoint = c.onePoint;
    EXPECT_EQ(ContractPosition(contract, "TRADER1").Profit, c.closed) << c.onePoint;
  }
  // The open profit is not rounded.
  commodity->OnePoint = 1.23456789;
  EXPECT_EQ(OpenPosition(contract, "TRADER1").Profit, "1.23456789");
}

TEST_F(PositionQueriesTest, ChecksGiveTheirCodesInOrder) {
  AddPortfolio();
  PositionStruct record = Prefilled();
  EXPECT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "NOBODY", &record),
            VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  EXPECT_EQ(vnGetOpenPosition("LIFFE", "FTSE", "MAR27", nullptr, &record),
            VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  EXPECT_EQ(vnGetTotalPosition("NOBODY", &record), VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  EXPECT_EQ(static_cast<unsigned char>(record.Profit[0]), kPrefill);

  for (auto query : {vnGetContractPosition, vnGetOpenPosition}) {
    record = Prefilled();
    EXPECT_EQ(query("LIFFE", "FTSE", "DEC99", "TRADER1", &record), VN_RC_UNKNOWN_CONTRACT);
    EXPECT_EQ(FiguresOf(record), (TFigures{"", 0, 0}));
    EXPECT_EQ(record.Profit[20], 0);
  }
  char price[21];
  std::memset(price, kPrefill, sizeof price);
  EXPECT_EQ(vnGetAveragePrice("LIFFE", "FTSE", "DEC99", "TRADER1", price), VN_RC_UNKNOWN_CONTRACT);
  for (char c : price)
    EXPECT_EQ(c, 0);
  EXPECT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", nullptr),
            VN_RC_UNEXPECTED_ERROR);

  // Names are cut to their widths and trimmed as the contract list keeps them.
  EXPECT_EQ(ContractPosition(Future(), "  TRADER1\t").Profit, "120");
  record = Prefilled();
  EXPECT_EQ(vnGetContractPosition(" LIFFE ", "FTSE ", " MAR27", "TRADER1", &record), 0);
  EXPECT_STREQ(record.Profit, "120");

  // An account not yet listed is not made by the look-up, even during the download.
  Api().Logon.DownloadInProgress = true;
  EXPECT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "LATER", &record),
            VN_RC_TRADER_ACCOUNT_NOT_FOUND);
  EXPECT_FALSE(Api().Accounts.KeyExists("LATER"));
  Api().Logon.DownloadInProgress = false;

  // Without contracts every query gives 10, even for a known account.
  Api().Contracts.FreeAll();
  EXPECT_EQ(vnGetTotalPosition("TRADER1", &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetOpenPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetAveragePrice("LIFFE", "FTSE", "MAR27", "TRADER1", price), VN_RC_NO_DATA);

  Api().Logon.LoggedOn = false;
  EXPECT_EQ(vnGetTotalPosition("TRADER1", &record), VN_RC_NOT_LOGGED_ON);
}

}  // namespace
}  // namespace vorn
