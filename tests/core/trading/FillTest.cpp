#include "core/trading/Fill.h"

#include <gtest/gtest.h>

#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "support/PositionFixture.h"

namespace vorn {
namespace {

TEST(FillTest, KeysKeepHostAndPositionFillsApart) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto c1 = f.Contract("EX", "MAR27");
  EXPECT_TRUE(f.Fills.Add(f.MakeFill("100", c1, acc, Buy, 1, 1)).Added);
  EXPECT_TRUE(f.Fills.Add(f.MakeFill("100", c1, acc, Buy, 1, 2, "", fltpNETTED)).Added);
  EXPECT_TRUE(f.Fills.Add(f.MakeFill("200", c1, acc, Buy, 1, 3)).Added);
  EXPECT_FALSE(f.Fills.Add(f.MakeFill("200", c1, acc, Buy, 1, 4)).Added);
  ASSERT_EQ(f.Fills.Count(), 3);
  // Descending: the chr(255) key first.
  EXPECT_EQ(f.Fills.At(0)->FillType, fltpNETTED);
  EXPECT_EQ(f.Fills.At(1)->FillID, "200");
  EXPECT_EQ(f.Fills.At(2)->FillID, "100");

  EXPECT_EQ(f.Fills.FindByID("100")->Price, 1);
  EXPECT_EQ(f.Fills.FindByKey(TFill::KeyFor("100", fltpRETAINED))->Price, 2);
  EXPECT_EQ(f.Fills.FindByID("300"), nullptr);

  // A type change moves the fill to its new key; a taken key is refused.
  auto fill = f.Fills.FindByID("200");
  EXPECT_TRUE(f.Fills.SetFillType(fill, fltpRETAINED));
  EXPECT_EQ(f.Fills.FindByKey("\xFF"
                              "200"),
            fill);
  EXPECT_EQ(f.Fills.At(0), fill);
  EXPECT_FALSE(f.Fills.SetFillType(f.Fills.FindByID("100"), fltpNETTED));

  f.Fills.RemoveItem(fill.get());
  EXPECT_EQ(f.Fills.FindByID("200"), nullptr);
  f.Fills.Clear();
  EXPECT_EQ(f.Fills.FindByID("100"), nullptr);
}

TEST(FillTest, FillPricesWhileTheContractHasNoLastTrade) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto c1 = f.Contract("EX", "MAR27");
  f.Fills.Add(f.MakeFill("1", c1, acc, Buy, 1, 10));
  f.Fills.Add(f.MakeFill("2", c1, acc, Buy, 1, 11));
  TFillPrices prices = c1->GetFillPrices();
  EXPECT_EQ(prices.FirstFillPrice, 10);
  EXPECT_EQ(prices.LastFillPrice, 11);
  EXPECT_TRUE(prices.FirstFillPriceEntered && prices.LastFillPriceEntered);

  c1->SetPrice(5, 1, 12);
  f.Fills.Add(f.MakeFill("3", c1, acc, Buy, 1, 13));
  EXPECT_EQ(c1->GetFillPrices().LastFillPrice, 11);

  auto loose = f.MakeFill("4", nullptr, acc, Buy, 1, 1);  // no contract: listed all the same
  EXPECT_TRUE(f.Fills.Add(loose).Added);
}

TEST(FillTest, StoreFormKeepsEveryPropertyAndReferences) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto c1 = f.Contract("EX", "MAR27");
  auto fill = f.MakeFill("F1", c1, acc, Sell, 7, 101.25, "123", fltpEXTERNAL);
  fill->Status = flORPI;
  fill->DateFilled = "20270101";
  fill->TimeFilled = "101112";
  fill->ExchangeFillID = "XF";
  fill->IsEODFill = true;
  fill->FillSubType = 4;
  auto copy = CloneItem(*fill);
  EXPECT_EQ(copy->FillID, "F1");
  EXPECT_EQ(copy->BuySell, Sell);
  EXPECT_EQ(copy->Lots, 7);
  EXPECT_EQ(copy->Price, 101.25);
  EXPECT_EQ(copy->OrderID, "123");
  EXPECT_EQ(copy->Status, flORPI);
  EXPECT_EQ(copy->FillType, fltpEXTERNAL);
  EXPECT_EQ(copy->DateFilled, "20270101");
  EXPECT_EQ(copy->TimeFilled, "101112");
  EXPECT_EQ(copy->ExchangeFillID, "XF");
  EXPECT_TRUE(copy->IsEODFill);
  EXPECT_FALSE(copy->IsSODFill);
  EXPECT_EQ(copy->FillSubType, 4);
  EXPECT_EQ(copy->Contract, c1);
  EXPECT_EQ(copy->Account, acc);
  // Copying is not adding: no position was touched.
  EXPECT_EQ(ExistingPositionOf(*c1), nullptr);

  // Names that no longer resolve leave the references null.
  auto orphan = f.MakeFill("F2", f.Contract("GONE", "X"), acc, Buy, 1, 1);
  f.Services->Contracts.pop_back();
  f.Services->Accounts.clear();
  auto orphanCopy = CloneItem(*orphan);
  EXPECT_EQ(orphanCopy->Contract, nullptr);
  EXPECT_EQ(orphanCopy->Account, nullptr);
}

TEST(FillTest, PurgeLeavesGroupsAndTheList) {
  TPositionFixture f;
  auto acc = f.Account("ACC");
  auto fill = f.MakeFill("F1", f.Contract("EX", "MAR27"), acc, Buy, 1, 1);
  fill->SetUUID("{G}");
  f.Services->Groups.Add(fill);
  fill->BelongsTo.LockList()->push_back("{G}");
  f.Fills.Add(fill);
  fill->Purge(Now());  // not expired: stays
  EXPECT_EQ(f.Fills.Count(), 1);
  fill->Expire();
  fill->Purge(Now());
  EXPECT_EQ(f.Fills.Count(), 0);
  EXPECT_EQ(f.Services->Groups.FindGroup("{G}"), nullptr);
}

}  // namespace
}  // namespace vorn
