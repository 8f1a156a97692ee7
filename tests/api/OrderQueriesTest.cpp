// The order queries and the order record, over orders put into the order list of a logged-on API
// object through the order-state rules.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/OrderDetail.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "support/RecordBytes.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

// Local time is Europe/London for these tests: GMT in winter, BST (UTC+1) in summer.
class OrderQueriesTest : public TradingTest {
 protected:
  // A state of a limit buy of the future for TRADER1; each later state of an order takes a
  // higher history sequence.
  std::shared_ptr<TOrderItem> State(const std::string& id, TOrderStatus status,
                                    std::int32_t lots = 5) {
    auto item = std::make_shared<TOrderItem>();
    item->ID = id;
    item->DisplayID = id;
    item->Contract = Future();
    item->OrderType = Api().OrderTypes.FindOrderType("LIFFE", "LIMIT");
    item->TraderAccount = Api().Accounts.FindAccount("TRADER1");
    item->BuySell = Buy;
    item->Price = 100;
    item->Status = status;
    item->TargetLots = lots;
    item->ActualLots = lots;
    item->OrderHistorySeq = ++sequence_;
    return item;
  }
  std::shared_ptr<TOrderItem> Add(const std::string& id, TOrderStatus status,
                                  std::int32_t lots = 5) {
    auto item = State(id, status, lots);
    EXPECT_TRUE(Api().Orders.Add(item)) << id;
    return item;
  }
  std::int32_t IndexOf(const char* id) {
    std::int32_t index = -2;
    EXPECT_EQ(vnGetOrderIndex(id, &index), VN_RC_SUCCESS);
    return index;
  }

  std::int32_t sequence_ = 0;

 private:
  TScopedTimeZone zone_{"Europe/London"};
};

using OrderDetailTest = OrderQueriesTest;

// --- The record -----------------------------------------------------------------------------

TEST_F(OrderDetailTest, WritesEveryFieldAtItsOffsetAndLeavesTheBytesAfterEachNul) {
  auto item = State("4711", osWorking, 7);
  item->ExchangeID = std::string(40, 'E');  // cut to 30 characters and the NUL
  item->UserName = "USER1";
  item->BuySell = Sell;
  item->Price = 101.25;
  item->Price2 = 0;
  item->SetLinkedOrder(" 77 ");
  item->Filled = 2;
  item->AveragePrice = 0.1 + 0.2;
  item->OpenOrClose = 'O';
  item->DateClientSent = "20270714";
  item->TimeClientSent = "080910";
  item->DateHostReceived = "20270714";
  item->TimeHostReceived = "080911";
  item->DateExchangeReceived = "20270714";
  item->TimeExchangeReceived = "080912";
  item->DateExchangeAcknowledged = "20270714";
  item->TimeExchangeAcknowledged = "080913";
  item->SetNonExecReason("none");
  item->XRef = 123456;
  item->XRefP = -7;
  item->SetGoodTillDate("20271231");
  item->SetReference("REF-1");
  item->Priority = 3;
  item->SetTriggerDate("20270715");  // UTC; BST locally
  item->SetTriggerTime("093000");
  item->SubState = 4;
  item->SetBatchID("B1");
  item->SetBatchType("10000");
  item->BatchCount = 2;
  item->SetBatchStatus("OK");
  item->SetParentID("4700");
  item->DoneForDay = 'D';
  item->SetBigRefField(std::string(300, 'R'));  // cut to 255
  item->TimeOut = 30;
  item->SetQuoteID("Q1");
  item->LotsPosted = 6;
  item->ChildCount = 1;
  item->SetSenderLocationID("LOC");
  item->SetRawprice("10125");
  item->SetRawprice2("0");
  item->SetExecutionID("EX1");
  item->SetClientID("CL1");
  item->SetESARef("ESA");
  item->SetISINCode("GB0001");
  item->SetCashPrice("99.5");
  item->Methodology = 'M';
  item->SetBasisRef("BR");
  item->EntryDate = "20270713";
  item->EntryTime = "070000";
  item->APIM = 'A';
  item->SetAPIMUser("APIMU");
  item->SetICSNearLegPrice("1.5");
  item->SetICSFarLegPrice("2.5");
  item->SetCreationDate("20270712");
  item->MinClipSize = 1;
  item->MaxClipSize = 9;
  item->Randomise = 'R';
  item->ProfitLevel = 'P';
  item->SetExchangeField("XF");
  item->SetBOFID("BOF");
  item->SetBadge("BADGE");
  item->State = TUUIDStreamable::usInactive;
  item->SetLocalUserName("LU");
  item->SetLocalTraderAccount("LTA");
  item->SetLocalBOF("LBOF");
  item->SetLocalOrderID("N12");
  item->SetLocalEAC("EAC");
  item->SetRoutingID1("R1");
  item->SetRoutingID2("R2");
  ASSERT_TRUE(Api().Orders.Add(item));
  Api().Orders.IncNoOfFills("4711");
  Api().Orders.IncNoOfFills("4711");

  auto record = Prefilled<OrderDetailStruct>();
  ASSERT_EQ(vnGetOrder(0, &record), VN_RC_SUCCESS);

  struct Text {
    std::size_t offset, width;
    std::string value;
  };
  const std::vector<Text> texts = {
      {6, 11, "4711"},
      {17, 11, "4711"},
      {28, 31, std::string(30, 'E')},
      {59, 11, "USER1"},
      {70, 21, "TRADER1"},
      {91, 11, "LIMIT"},
      {102, 11, "LIFFE"},
      {113, 11, "FTSE"},
      {124, 51, "MAR27"},
      {176, 21, "101.25"},
      {197, 21, "0"},
      {222, 11, "77"},
      {241, 21, "0.3"},
      {264, 9, "20270714"},
      {273, 7, "080910"},
      {280, 9, "20270714"},
      {289, 7, "080911"},
      {296, 9, "20270714"},
      {305, 7, "080912"},
      {312, 9, "20270714"},
      {321, 7, "080913"},
      {328, 61, "none"},
      {401, 9, "20271231"},
      {410, 26, "REF-1"},
      {440, 9, "15072027"},
      {449, 7, "103000"},
      {460, 11, "B1"},
      {471, 11, "10000"},
      {486, 11, "OK"},
      {497, 11, "4700"},
      {509, 256, std::string(255, 'R')},
      {769, 121, "Q1"},
      {902, 33, "LOC"},
      {935, 21, "10125"},
      {956, 21, "0"},
      {977, 71, "EX1"},
      {1048, 21, "CL1"},
      {1069, 51, "ESA"},
      {1120, 21, "GB0001"},
      {1141, 21, "99.5"},
      {1163, 21, "BR"},
      {1184, 9, "20270713"},
      {1193, 7, "070000"},
      {1201, 21, "APIMU"},
      {1222, 11, "1.5"},
      {1233, 11, "2.5"},
      {1244, 9, "20270712"},
      {1271, 11, "XF"},
      {1282, 21, "BOF"},
      {1303, 6, "BADGE"},
      {1313, 11, "LU"},
      {1324, 21, "LTA"},
      {1345, 21, "LBOF"},
      {1366, 11, "N12"},
      {1377, 11, "EAC"},
      {1388, 11, "R1"},
      {1399, 11, "R2"},
  };
  for (const auto& t : texts) {
    ASSERT_LE(t.value.size(), t.width - 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Bytes(record)) + t.offset, t.value.size()),
              t.value)
        << "at " << t.offset;
    EXPECT_EQ(Bytes(record)[t.offset + t.value.size()], 0) << "NUL after " << t.offset;
    for (std::size_t i = t.offset + t.value.size() + 1; i < t.offset + t.width; ++i)
      ASSERT_EQ(Bytes(record)[i], kPrefill) << "byte " << i << " of the field at " << t.offset;
  }

  const std::vector<std::pair<std::size_t, std::int32_t>> ints = {
      {0, 0},
      {218, 7},
      {233, 2},
      {237, 2},
      {389, 123456},
      {393, -7},
      {397, item->UpdateSequence},
      {436, 3},
      {456, 4},
      {482, 2},
      {765, 30},
      {890, 6},
      {894, 1},
      {898, 7},
      {1253, item->OrderHistorySeq},
      {1257, 1},
      {1261, 9},
      {1267, 1},
      {1309, VN_STATE_INACTIVE},
  };
  for (const auto& [offset, value] : ints)
    EXPECT_EQ(IntAt(record, offset), value) << "at " << offset;

  const std::vector<std::pair<std::size_t, char>> chars = {
      {4, 'N'},   {5, 'N'},    {175, 'S'},  {262, VN_OSC_WORKING}, {263, 'O'},
      {508, 'D'}, {1162, 'M'}, {1200, 'A'}, {1265, 'R'},           {1266, 'P'},
  };
  for (const auto& [offset, value] : chars)
    EXPECT_EQ(static_cast<char>(Bytes(record)[offset]), value) << "at " << offset;
}

TEST_F(OrderDetailTest, TriggerIsLocalTimeWithTheOffsetAtItsOwnDate) {
  struct Case {
    const char* date;
    const char* time;
    const char* localDate;  // null: both fields all zero
    const char* localTime;
  };
  for (const Case& c : {
           Case{"20270715", "233000", "16072027", "003000"},  // summer: the day moves on
           Case{"20270115", "093000", "15012027", "093000"},  // winter: GMT
           Case{"", "093000", nullptr, nullptr},              // no trigger
           Case{"2027071", "093000", nullptr, nullptr},       // not a date
       }) {
    Api().Orders.Clear();
    auto item = State("1", osWorking);
    item->SetTriggerDate(c.date);
    item->SetTriggerTime(c.time);
    ASSERT_TRUE(Api().Orders.Add(item));
    auto record = Prefilled<OrderDetailStruct>();
    ASSERT_EQ(vnGetOrder(0, &record), VN_RC_SUCCESS);
    if (c.localDate) {
      EXPECT_EQ(GetFixed(record.TriggerDate), c.localDate) << c.date;
      EXPECT_EQ(GetFixed(record.TriggerTime), c.localTime) << c.date;
    } else {
      for (std::size_t i = 440; i < 456; ++i)
        EXPECT_EQ(Bytes(record)[i], 0) << c.date;
    }
  }
}

TEST_F(OrderDetailTest, AnIllegalSideLeavesTheSideByte) {
  auto item = State("1", osWorking);
  item->BuySell = Illegal;
  ASSERT_TRUE(Api().Orders.Add(item));
  auto record = Prefilled<OrderDetailStruct>();
  ASSERT_EQ(vnGetOrder(0, &record), VN_RC_SUCCESS);
  EXPECT_EQ(Bytes(record)[175], kPrefill);
}

TEST(OrderDetailStatusTest, MapsEveryStateToItsPublicCode) {
  const std::uint8_t expected[22] = {0, 1,  2,  3,  4,  5,  6, 7, 0, 0,  8,
                                     9, 10, 11, 12, 13, 14, 0, 0, 0, 20, 21};
  for (int state = 0; state < 22; ++state)
    EXPECT_EQ(OrderStatusCode(static_cast<TOrderStatus>(state)), expected[state]) << state;
}

// --- Versions and lots ----------------------------------------------------------------------

TEST_F(OrderQueriesTest, VersionsCountFromTheOldestAndHistoryPositionsFromTheNewest) {
  Add("300", osQueued);
  Add("300", osSent);
  Add("300", osWorking);

  struct Case {
    std::int32_t version;
    std::uint8_t status;
    char historic;
  };
  for (const Case& c : {Case{0, VN_OSC_WORKING, 'N'}, Case{1, VN_OSC_QUEUED, 'Y'},
                        Case{2, VN_OSC_SENT, 'Y'}, Case{3, VN_OSC_WORKING, 'N'},
                        Case{4, VN_OSC_WORKING, 'N'}, Case{-1, VN_OSC_WORKING, 'N'}}) {
    auto record = Prefilled<OrderDetailStruct>();
    ASSERT_EQ(vnGetOrderByID("300", &record, c.version), VN_RC_SUCCESS) << c.version;
    EXPECT_EQ(std::int32_t{record.Index}, 0);
    EXPECT_EQ(record.Status, c.status) << c.version;
    EXPECT_EQ(record.Historic, c.historic) << c.version;
  }

  std::int32_t count = 0;
  ASSERT_EQ(vnCountOrderHistory(0, &count), VN_RC_SUCCESS);
  EXPECT_EQ(count, 3);
  const std::uint8_t byPosition[] = {VN_OSC_WORKING, VN_OSC_SENT, VN_OSC_QUEUED};
  for (std::int32_t position = 0; position < 3; ++position) {
    auto record = Prefilled<OrderDetailStruct>();
    ASSERT_EQ(vnGetOrderHistory(0, position, &record), VN_RC_SUCCESS);
    EXPECT_EQ(record.Status, byPosition[position]);
    EXPECT_EQ(static_cast<std::uint32_t>(record.Index), 0xCCCCCCCCu) << "offset 0 not written";
  }

  // A history still marked new reads as historic even at its newest version.
  Api().Orders.FindOrderList("300")->SetIsNew(true);
  OrderDetailStruct record{};
  ASSERT_EQ(vnGetOrder(0, &record), VN_RC_SUCCESS);
  EXPECT_EQ(record.Historic, 'Y');
}

TEST_F(OrderQueriesTest, CancelledVersionsReportTheLotsTheOrderWasWorking) {
  Add("400", osWorking, 5);
  Add("400", osCancelPending, 5);
  Add("400", osCancelled, 0);  // the cancel confirmation
  Add("401", osHeldOrder, 3);
  Add("401", osCancHeldOrder, 0);

  OrderDetailStruct record{};
  ASSERT_EQ(vnGetOrderByID("400", &record, 0), VN_RC_SUCCESS);
  EXPECT_EQ(record.Status, VN_OSC_CANCELLED);
  EXPECT_EQ(std::int32_t{record.Lots}, 5);
  ASSERT_EQ(vnGetOrderByID("401", &record, 0), VN_RC_SUCCESS);
  EXPECT_EQ(record.Status, VN_OSC_CANC_HELD_ORDER);
  EXPECT_EQ(std::int32_t{record.Lots}, 0) << "a held order was never working";
}

// --- Look-ups and errors --------------------------------------------------------------------

TEST_F(OrderQueriesTest, AnEmptyOrderListGivesNoData) {
  OrderDetailStruct record{};
  std::int32_t value = -5;
  EXPECT_EQ(vnGetOrder(0, &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetOrderByID("1", &record, 0), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetOrderIndex("1", &value), VN_RC_NO_DATA);
  EXPECT_EQ(vnCountOrderHistory(0, &value), VN_RC_NO_DATA);
  EXPECT_EQ(vnGetOrderHistory(0, 0, &record), VN_RC_NO_DATA);
  EXPECT_EQ(vnQueryOrderStatus("1"), VN_RC_NO_DATA);
  EXPECT_EQ(vnOrderChecked("1", 'Y'), VN_RC_NO_DATA);
  EXPECT_EQ(vnCountOrders(&value), VN_RC_SUCCESS);
  EXPECT_EQ(value, 0);
}

TEST_F(OrderQueriesTest, AFailedLookUpZeroesTheRecordAndMarksItsIndex) {
  Add("500", osWorking);
  struct Case {
    const char* name;
    std::int32_t (*call)(OrderDetailStruct*);
    std::int32_t result;
  };
  for (const Case& c : {
           Case{"index -1", [](OrderDetailStruct* r) { return vnGetOrder(-1, r); },
                VN_RC_INVALID_INDEX},
           Case{"index = count", [](OrderDetailStruct* r) { return vnGetOrder(1, r); },
                VN_RC_INVALID_INDEX},
           Case{"history order out of range",
                [](OrderDetailStruct* r) { return vnGetOrderHistory(1, 0, r); },
                VN_RC_INVALID_INDEX},
           Case{"history position -1",
                [](OrderDetailStruct* r) { return vnGetOrderHistory(0, -1, r); },
                VN_RC_INVALID_INDEX},
           Case{"history position = count",
                [](OrderDetailStruct* r) { return vnGetOrderHistory(0, 1, r); },
                VN_RC_INVALID_INDEX},
           Case{"unknown id", [](OrderDetailStruct* r) { return vnGetOrderByID("999", r, 0); },
                VN_RC_INVALID_ORDER_ID},
       }) {
    auto record = Prefilled<OrderDetailStruct>();
    EXPECT_EQ(c.call(&record), c.result) << c.name;
    EXPECT_EQ(std::int32_t{record.Index}, -1) << c.name;
    EXPECT_TRUE(AllZeroFrom(record, sizeof record.Index)) << c.name;
  }

  std::int32_t count = -5;
  EXPECT_EQ(vnCountOrderHistory(1, &count), VN_RC_INVALID_INDEX);
  EXPECT_EQ(vnCountOrderHistory(-1, &count), VN_RC_INVALID_INDEX);
  EXPECT_EQ(count, -5);
  EXPECT_EQ(vnQueryOrderStatus("999"), VN_RC_INVALID_ORDER_ID);
  EXPECT_EQ(vnOrderChecked("999", 'Y'), VN_RC_INVALID_ORDER_ID);
  EXPECT_EQ(IndexOf("999"), -1);

  // A null record or out argument fails the call instead of the caller's process.
  EXPECT_EQ(vnGetOrder(0, nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnGetOrderByID("500", nullptr, 0), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnGetOrderHistory(0, 0, nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnGetOrderIndex("500", nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnCountOrderHistory(0, nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnCountOrders(nullptr), VN_RC_UNEXPECTED_ERROR);

  Api().Logon.LoggedOn = false;
  OrderDetailStruct record{};
  EXPECT_EQ(vnGetOrder(0, &record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(vnQueryOrderStatus("500"), VN_RC_NOT_LOGGED_ON);
}

TEST_F(OrderQueriesTest, IdsCompareAsTheirFirstTenTrimmedCharactersInListOrder) {
  Add("9", osWorking);
  Add("10", osWorking);
  Add("1234567890", osWorking);
  std::int32_t count = 0;
  ASSERT_EQ(vnCountOrders(&count), VN_RC_SUCCESS);
  EXPECT_EQ(count, 3);

  // The list is in key order: numeric ids compare as text.
  for (const char* id : {"10", "1234567890", "9"}) {
    const std::int32_t index = IndexOf(id);
    OrderDetailStruct record{};
    ASSERT_EQ(vnGetOrder(index, &record), VN_RC_SUCCESS) << id;
    EXPECT_EQ(GetFixed(record.OrderID), id);
  }
  EXPECT_EQ(IndexOf("10"), 0);
  EXPECT_EQ(IndexOf(" 9 "), 2);

  // An 11-byte id field filled to the brim: read no further than its width, its first ten count.
  const char brim[11] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 'X'};
  OrderDetailStruct record{};
  ASSERT_EQ(vnGetOrderByID(brim, &record, 0), VN_RC_SUCCESS);
  EXPECT_EQ(std::int32_t{record.Index}, 1);
  EXPECT_EQ(GetFixed(record.OrderID), "1234567890");
}

// --- Status query, checked mark, user filter ------------------------------------------------

TEST_F(OrderQueriesTest, StatusQueryGoesOnlyForWorkingOrdersOnAQueryingExchange) {
  struct Case {
    const char* id;
    TOrderStatus status;
    bool queryEnabled;
    std::int32_t result;
  };
  for (const Case& c :
       {Case{"601", osWorking, true, VN_RC_SUCCESS}, Case{"602", osPart, true, VN_RC_SUCCESS},
        Case{"603", osFilled, true, VN_RC_INVALID_ORDER_STATE},
        Case{"604", osQueued, true, VN_RC_INVALID_ORDER_STATE},
        Case{"605", osWorking, false, VN_RC_QUERY_NOT_ENABLED}}) {
    Api().Exchanges.FindExchange("LIFFE")->QueryEnabled = c.queryEnabled;
    Add(c.id, c.status);
    const std::size_t before = requests_->OrderRequests().size();
    EXPECT_EQ(vnQueryOrderStatus(c.id), c.result) << c.id;
    const auto requests = requests_->OrderRequests();
    if (c.result != VN_RC_SUCCESS) {
      EXPECT_EQ(requests.size(), before) << c.id << ": nothing sent";
      continue;
    }
    ASSERT_EQ(requests.size(), before + 1) << c.id;
    EXPECT_EQ(requests.back().Code, 3304);
    EXPECT_EQ(requests.back().Order->ID, c.id);
    EXPECT_EQ(requests.back().Order->Status, c.status);
  }
}

TEST_F(OrderQueriesTest, CheckedMarksTheCurrentVersionOnly) {
  Add("700", osSent);
  Add("700", osWorking);
  OrderDetailStruct record{};
  ASSERT_EQ(vnOrderChecked("700", 'Y'), VN_RC_SUCCESS);
  ASSERT_EQ(vnGetOrderByID("700", &record, 0), VN_RC_SUCCESS);
  EXPECT_EQ(record.Checked, 'Y');
  ASSERT_EQ(vnGetOrderByID("700", &record, 1), VN_RC_SUCCESS);
  EXPECT_EQ(record.Checked, 'N');
  ASSERT_EQ(vnOrderChecked("700", 'y'), VN_RC_SUCCESS);
  ASSERT_EQ(vnGetOrderByID("700", &record, 0), VN_RC_SUCCESS);
  EXPECT_EQ(record.Checked, 'N');
  EXPECT_TRUE(requests_->OrderRequests().empty());
}

TEST_F(OrderQueriesTest, TheUserIDFilterChangesNoQuery) {
  auto other = State("801", osWorking);
  other->UserName = "SOMEONE";
  ASSERT_TRUE(Api().Orders.Add(other));
  Add("802", osWorking);

  for (char flag : {'Y', 'N', 'x'}) {
    ASSERT_EQ(vnSetUserIDFilter(flag), VN_RC_SUCCESS);
    EXPECT_EQ(Api().UserIDFilter.load(), flag == 'Y');
    std::int32_t count = 0;
    ASSERT_EQ(vnCountOrders(&count), VN_RC_SUCCESS);
    EXPECT_EQ(count, 2) << flag;
    EXPECT_EQ(IndexOf("801"), 0) << flag;
  }
  vnLogOff();
  EXPECT_EQ(vnSetUserIDFilter('Y'), VN_RC_NOT_INITIALISED);
}

// --- Threads --------------------------------------------------------------------------------

// One thread adds versions and orders while another reads histories through the exports: every
// read answers with a whole record or a clean index failure.
TEST_F(OrderQueriesTest, ReadsHistoriesWhileVersionsAreAdded) {
  Add("900", osSent);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 300; ++i) {
      Api().Orders.Add(State("900", i % 2 ? osWorking : osAmendPending));
      // New orders list after "900", so its index stays put.
      if (i % 10 == 0) Api().Orders.Add(State(IntToStr(91000 + i), osWorking));
    }
    done = true;
  });
  int reads = 0;
  while (!done || reads < 50) {
    std::int32_t index = -1;
    ASSERT_EQ(vnGetOrderIndex("900", &index), VN_RC_SUCCESS);
    std::int32_t count = 0;
    ASSERT_EQ(vnCountOrderHistory(index, &count), VN_RC_SUCCESS);
    for (std::int32_t position = 0; position < count + 1; ++position) {
      OrderDetailStruct record{};
      const std::int32_t result = vnGetOrderHistory(index, position, &record);
      ASSERT_TRUE(result == VN_RC_SUCCESS || result == VN_RC_INVALID_INDEX) << result;
      if (result == VN_RC_SUCCESS) {
        ASSERT_EQ(GetFixed(record.OrderID), "900");
      }
    }
    ++reads;
  }
  writer.join();
  std::int32_t count = 0;
  ASSERT_EQ(vnCountOrderHistory(IndexOf("900"), &count), VN_RC_SUCCESS);
  EXPECT_EQ(count, 301);
}

}  // namespace
}  // namespace vorn
