// The fill queries and the fill record, over fills listed through the position book as the fill
// receivers list them.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "api/FillDetail.h"
#include "core/session/ClassAPI.h"
#include "support/RecordBytes.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

class FillQueriesTest : public TradingTest {
 protected:
  std::shared_ptr<TFill> Add(const std::string& id, TFillType type = fltpFILL,
                             std::int32_t lots = 2, double price = 100) {
    auto fill = std::make_shared<TFill>();
    fill->FillID = id;
    fill->FillType = type;
    fill->Contract = Future();
    fill->Account = Api().Accounts.FindAccount("TRADER1");
    fill->BuySell = Buy;
    fill->Lots = lots;
    fill->Price = price;
    fill->OrderID = "1001";
    EXPECT_TRUE(Api().Positions.AddFill(fill).Added) << id;
    return fill;
  }
};

TEST_F(FillQueriesTest, WritesEveryFieldAtItsOffsetCutToItsWidth) {
  auto fill = std::make_shared<TFill>();
  fill->FillID = std::string(80, 'F');  // longer than the record holds
  fill->Contract = Option();
  fill->Account = Api().Accounts.FindAccount("TRADER1");
  fill->BuySell = Sell;
  fill->Lots = 7;
  fill->Price = 101.25;
  fill->OrderID = "12345678901234";
  fill->DateFilled = "20270315";
  fill->TimeFilled = "101112";
  fill->DateHostReceived = "20270316";
  fill->TimeHostReceived = "131415";
  fill->ExchangeOrderID = std::string(40, 'E');
  fill->FillType = fltpEXTERNAL;
  fill->UserName = "USER1";
  fill->ExchangeFillID = "XF-9";
  fill->ExchangeRawPrice = "10125";
  fill->ExecutionID = std::string(75, 'X');
  fill->State = TUUIDStreamable::usInactive;
  fill->FillSubType = 42;
  ASSERT_TRUE(Api().Positions.AddFill(fill).Added);

  std::int32_t count = -1;
  ASSERT_EQ(vnCountFills(&count), VN_RC_SUCCESS);
  EXPECT_EQ(count, 1);
  FillStruct record = Prefilled<FillStruct>();
  ASSERT_EQ(vnGetFill(0, &record), VN_RC_SUCCESS);

  EXPECT_EQ(IntAt(record, 0), 0);
  EXPECT_EQ(TextAt(record, 4, 71), std::string(70, 'F'));
  EXPECT_EQ(TextAt(record, 75, 11), "LIFFE");
  EXPECT_EQ(TextAt(record, 86, 11), "FTSE");
  EXPECT_EQ(TextAt(record, 97, 51), "JUN27 C6500");
  EXPECT_EQ(Bytes(record)[148], 'S');
  EXPECT_EQ(IntAt(record, 149), 7);
  EXPECT_EQ(TextAt(record, 153, 21), "101.25");
  EXPECT_EQ(TextAt(record, 174, 11), "1234567890");
  EXPECT_EQ(TextAt(record, 185, 9), "20270315");
  EXPECT_EQ(TextAt(record, 194, 7), "101112");
  EXPECT_EQ(TextAt(record, 201, 9), "20270316");
  EXPECT_EQ(TextAt(record, 210, 7), "131415");
  EXPECT_EQ(TextAt(record, 217, 31), std::string(30, 'E'));
  EXPECT_EQ(Bytes(record)[248], VN_FT_EXTERNAL);
  EXPECT_EQ(TextAt(record, 249, 21), "TRADER1");
  EXPECT_EQ(TextAt(record, 270, 11), "USER1");
  EXPECT_EQ(TextAt(record, 281, 71), "XF-9");
  EXPECT_EQ(TextAt(record, 352, 21), "10125");
  EXPECT_EQ(TextAt(record, 373, 71), std::string(70, 'X'));
  EXPECT_EQ(IntAt(record, 444), TUUIDStreamable::usInactive);
  EXPECT_EQ(IntAt(record, 448), 42);
  // Nothing of the prefill survives: the bytes after each NUL are zero.
  for (std::size_t i = 0; i < sizeof record; ++i)
    ASSERT_NE(Bytes(record)[i], kPrefill) << "byte " << i;
}

TEST_F(FillQueriesTest, FillTypeKeepsTheHostTypesAndGivesZeroForAnyOther) {
  const struct {
    const char* id;
    TFillType type;
    std::uint8_t code;
  } cases[] = {
      {"T1", fltpFILL, VN_FT_FILL},         {"T2", fltpEXTERNAL, VN_FT_EXTERNAL},
      {"T3", fltpNETTED, VN_FT_NETTED},     {"T4", fltpUNDEFINED, VN_FT_OTHER},
      {"T5", fltpRETAINED, VN_FT_RETAINED}, {"T0", fltpNone, VN_FT_OTHER},
  };
  for (const auto& c : cases)
    Add(c.id, c.type);
  for (const auto& c : cases) {
    FillStruct record = Prefilled<FillStruct>();
    ASSERT_EQ(vnGetFillByID(c.id, &record), VN_RC_SUCCESS) << c.id;
    EXPECT_EQ(record.FillType, c.code) << c.id;
    EXPECT_STREQ(record.FillID, c.id);
  }
}

TEST_F(FillQueriesTest, AnIndexOutsideTheListZeroesTheRecordWithIndexMinusOne) {
  Add("F1");
  Add("F2");
  for (const std::int32_t index : {-1, 2, 1000}) {
    FillStruct record = Prefilled<FillStruct>();
    EXPECT_EQ(vnGetFill(index, &record), VN_RC_INVALID_INDEX) << index;
    EXPECT_EQ(IntAt(record, 0), -1) << index;
    EXPECT_TRUE(AllZeroFrom(record, 4)) << index;
  }
  // Index is the fill's place in the list, which runs in descending key order.
  FillStruct record = Prefilled<FillStruct>();
  ASSERT_EQ(vnGetFill(1, &record), VN_RC_SUCCESS);
  EXPECT_EQ(std::int32_t{record.Index}, 1);
  EXPECT_STREQ(record.FillID, "F1");
  EXPECT_EQ(vnGetFill(0, nullptr), VN_RC_UNEXPECTED_ERROR);
}

TEST_F(FillQueriesTest, ByIDTrimsTheIDAndFindsNettedFillsUnderTheirPrefix) {
  Add("F1");
  Add("SOD", fltpNETTED, 5, 98);
  Add("F2");

  FillStruct record = Prefilled<FillStruct>();
  ASSERT_EQ(vnGetFillByID(" \tF1 \r\n", &record), VN_RC_SUCCESS);
  EXPECT_STREQ(record.FillID, "F1");
  EXPECT_EQ(std::int32_t{record.Index}, Api().Fills.IndexOfKey("F1"));

  record = Prefilled<FillStruct>();
  ASSERT_EQ(vnGetFillByID("SOD", &record), VN_RC_SUCCESS);
  EXPECT_STREQ(record.FillID, "SOD");
  EXPECT_EQ(std::int32_t{record.Lots}, 5);
  EXPECT_EQ(record.FillType, VN_FT_NETTED);
  EXPECT_EQ(std::int32_t{record.Index}, Api().Fills.IndexOfKey(std::string("\xFF") + "SOD"));

  for (const char* id : {"F3", "",
                         "\xFF"
                         "F1"}) {
    record = Prefilled<FillStruct>();
    EXPECT_EQ(vnGetFillByID(id, &record), VN_RC_INVALID_INDEX) << id;
    EXPECT_TRUE(AllZeroFrom(record, 0)) << id;
  }
  record = Prefilled<FillStruct>();
  EXPECT_EQ(vnGetFillByID(nullptr, &record), VN_RC_INVALID_INDEX);
}

TEST_F(FillQueriesTest, BeforeLogonTheRecordIsUntouchedAndTheCountZero) {
  Add("F1");
  Api().Logon.LoggedOn = false;
  std::int32_t count = 9;
  EXPECT_EQ(vnCountFills(&count), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(count, 0);
  FillStruct record = Prefilled<FillStruct>();
  EXPECT_EQ(vnGetFill(0, &record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(vnGetFillByID("F1", &record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(Bytes(record)[0], kPrefill);
  EXPECT_EQ(Bytes(record)[sizeof record - 1], kPrefill);
  EXPECT_EQ(vnCountFills(nullptr), VN_RC_UNEXPECTED_ERROR);
}

}  // namespace
}  // namespace vorn
