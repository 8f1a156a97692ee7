// The order road through the exported functions against the fake host: an order entered by
// the application, its add request on the host link, the host's replies moving it through its
// states, the order events and the order read back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "support/OrderRoad.h"
#include "vornintf.h"

namespace vorn {
namespace {

class OrderRoadTest : public OrderRoadSessionTest {};

TEST_F(OrderRoadTest, AcceptedWorkedPartFilledAndFilled) {
  Play("order-filled.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());

  NewOrderStruct order = Order('B', "6500.5", 3);
  order.XRefP = 77;
  PutTextAndNul(order.Reference, "first order");
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  EXPECT_STREQ(id, "101");
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_FILLED}));

  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{"101", "101", VN_OS_QUEUED},
                                                     {"101", "101", VN_OS_SENT},
                                                     {"101", "101", VN_OS_WORKING},
                                                     {"101", "101", VN_OS_PART},
                                                     {"101", "101", VN_OS_FILLED}}));

  // The newest version, then the history newest first, as the host's messages set them.
  OrderDetailStruct detail;
  std::memset(&detail, 0xCC, sizeof detail);
  ASSERT_EQ(vnGetOrderByID("101", &detail, 0), 0);
  EXPECT_STREQ(detail.OrderID, "101");
  EXPECT_STREQ(detail.ExchangeID, "X-77");
  EXPECT_STREQ(detail.TraderAccount, "TRADER1");
  EXPECT_STREQ(detail.OrderType, "LIMIT");
  EXPECT_STREQ(detail.ContractDate, "MAR27");
  EXPECT_EQ(detail.BuySell, 'B');
  EXPECT_EQ(std::int32_t{detail.Lots}, 3);
  EXPECT_EQ(std::int32_t{detail.Filled}, 3);
  EXPECT_EQ(detail.Status, VN_OSC_FILLED);
  EXPECT_EQ(std::int32_t{detail.XRefP}, 77);
  EXPECT_STREQ(detail.Reference, "first order");
  std::int32_t index = -1, versions = 0;
  ASSERT_EQ(vnGetOrderIndex("101", &index), 0);
  ASSERT_EQ(vnCountOrderHistory(index, &versions), 0);
  EXPECT_EQ(versions, 5);
  std::vector<int> states;
  for (std::int32_t i = 0; i < versions; ++i) {
    ASSERT_EQ(vnGetOrderHistory(index, i, &detail), 0);
    states.push_back(detail.Status);
  }
  EXPECT_EQ(states, (std::vector<int>{VN_OSC_FILLED, VN_OSC_PART, VN_OSC_WORKING, VN_OSC_SENT,
                                      VN_OSC_QUEUED}));

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// The host link drops after the order's first state. The re-logon asks for everything (no
// store was read), so the lists are refilled from the download, which repeats that state and
// brings the next: the order is there once, its history holds each host state once, and the
// application, told of the order again by the download, ends on its newest state.
TEST_F(OrderRoadTest, DropWhileAnOrderIsOnItsWayKeepsItOnceAfterTheRelogon) {
  Play("order-relogon.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  NewOrderStruct order = Order('B', "6500.5", 3);
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  EXPECT_STREQ(id, "101");
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_WORKING}));
  const auto events = OrderEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), (TOrderEvent{"101", "101", VN_OS_QUEUED}));
  EXPECT_EQ(events.back(), (TOrderEvent{"101", "101", VN_OS_WORKING}));
  EXPECT_EQ(std::count(events.begin(), events.end(), events.back()), 1);

  std::int32_t count = 0;
  ASSERT_EQ(vnCountOrders(&count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(HistoryStates("101"), (std::vector<int>{VN_OSC_WORKING, VN_OSC_SENT}));
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

TEST_F(OrderRoadTest, RejectedWithTheHostsReason) {
  Play("order-rejected.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  NewOrderStruct order = Order('S', "6400", 5);
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_REJECTED}));
  OrderDetailStruct detail;
  ASSERT_EQ(vnGetOrderByID("101", &detail, 0), 0);
  EXPECT_EQ(detail.Status, VN_OSC_REJECTED);
  EXPECT_STREQ(detail.NonExecReason, "Price outside limits");
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// Two identical orders entered in the same second while no host id is free stay two orders;
// the host's batch gives them its first two ids in the order they were entered.
TEST_F(OrderRoadTest, OrdersWaitForHostIDs) {
  Play("order-no-ids.conv");
  LogOnAndDownload();
  NewOrderStruct order = Order('B', "6500", 1);
  char first[11] = {}, second[11] = {};
  ASSERT_EQ(vnAddOrder(&order, first), 0);
  ASSERT_EQ(vnAddOrder(&order, second), 0);
  EXPECT_EQ(first[0], 'N');
  EXPECT_EQ(second[0], 'N');
  EXPECT_STRNE(first, second);
  ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
  ASSERT_TRUE(OrderEventArrived({"201", "201", VN_OS_SENT}));
  const auto events = OrderEvents();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0], (TOrderEvent{first, first, VN_OS_QUEUED}));
  EXPECT_EQ(events[1], (TOrderEvent{second, second, VN_OS_QUEUED}));
  EXPECT_EQ(events[2], (TOrderEvent{"201", first, VN_OS_QUEUED}));
  EXPECT_EQ(events[3], (TOrderEvent{"202", second, VN_OS_QUEUED}));
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// The last trade from the price feed that reaches a held synthetic stop's trigger releases it
// as a market order.
TEST_F(OrderRoadTest, SyntheticStopReleasedAtItsTrigger) {
  Play("order-synthetic.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  NewOrderStruct order = Order('S', "6490", 2);
  PutTextAndNul(order.OrderType, "SYNSTOP");
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  EXPECT_EQ(id[0], 'S');
  ASSERT_TRUE(OrderEventArrived({id, id, VN_OS_HELD_ORDER}));
  // Held orders are checked before a price's events are posted: once the application has the
  // last trade above the trigger, the stop has been checked against it and is still held.
  ASSERT_TRUE(LastTradeArrived("6495"));
  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{id, id, VN_OS_HELD_ORDER}}));
  OrderDetailStruct held;
  ASSERT_EQ(vnGetOrderByID(id, &held, 0), 0);
  EXPECT_EQ(held.Status, VN_OSC_HELD_ORDER);
  // The snapshot's answer is the last trade below the trigger. Its entry used up the first host
  // id; the release takes the next.
  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 0), 0);
  ASSERT_TRUE(OrderEventArrived({"102", "102", VN_OS_SENT}));
  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{id, id, VN_OS_HELD_ORDER},
                                                     {"102", id, VN_OS_QUEUED},
                                                     {"102", "102", VN_OS_SENT}}));
  // The release drops the stop's price subscription, the order's state message subscribes the
  // contract again; the log-off waits until the heartbeat has sent both.
  ASSERT_TRUE(Eventually([] { return API()->Subscriptions.PendingPriceRequests().empty(); }));
  EXPECT_EQ(API()->Subscriptions.PriceSubscriberCount({"LIFFE", "FTSE", "MAR27"}), 1);
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// The fills of an order, positions and profit after each, a corrected fill, the start- and
// end-of-day positions, and a UUID group action on a fill. The test acknowledges the host's user
// message of each step once it has read the step's figures.
class FillRoadTest : public OrderRoadTest {
 protected:
  void AwaitStep(const char* seq) {
    ASSERT_TRUE(Eventually([&] {
      MessageStruct message;
      return vnGetUsrMsgByID(seq, &message) == 0;
    })) << "step "
        << seq;
  }
  void FinishStep(const char* seq) { ASSERT_EQ(vnAcknowledgeUsrMsg(seq), 0); }

  static std::vector<std::string> FillEvents(const std::vector<TCallbackRecorder::TDelivery>& all) {
    std::vector<std::string> events;
    for (const auto& delivery : all) {
      if (delivery.Id != VN_CB_FILL) continue;
      FillUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      events.push_back(std::string(update.OrderID) + " " + update.FillID);
    }
    return events;
  }
  // Profit, bought and sold of TRADER1 on the future.
  static std::string Position() {
    PositionStruct position;
    std::memset(&position, 0, sizeof position);
    EXPECT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &position), 0);
    return std::string(position.Profit) + " " + std::to_string(std::int32_t{position.Buy}) + "/" +
           std::to_string(std::int32_t{position.Sell});
  }
  static std::string Fill(const char* id) {
    FillStruct fill;
    std::memset(&fill, 0, sizeof fill);
    if (vnGetFillByID(id, &fill) != 0) return "none";
    return std::string(1, fill.BuySell) + " " + std::to_string(std::int32_t{fill.Lots}) + " @" +
           fill.Price + " " + fill.OrderID + " " + std::to_string(int{fill.FillType});
  }
  static std::int32_t FillCount() {
    std::int32_t count = -1;
    EXPECT_EQ(vnCountFills(&count), 0);
    return count;
  }
};

TEST_F(FillRoadTest, FillsPositionsAndDayPositions) {
  Play("fills-and-positions.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  // Profit is valued at the last trade from the price feed.
  ASSERT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_TRUE(LastTradeArrived("6505"));
  NewOrderStruct order = Order('B', "6500", 3);
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);

  // Profit is every lot valued from its price to the last trade, times the point value 10.
  AwaitStep("21");
  EXPECT_EQ(Fill("F1"), "B 1 @6500 101 1");
  EXPECT_EQ(FillCount(), 1);
  EXPECT_EQ(Position(), "50 1/0");
  FinishStep("21");

  AwaitStep("22");
  EXPECT_EQ(Fill("F2"), "B 2 @6502 101 1");
  EXPECT_EQ(FillCount(), 2);
  EXPECT_EQ(Position(), "110 3/0");
  FinishStep("22");

  AwaitStep("23");  // the repeated message corrected F2 in place
  EXPECT_EQ(Fill("F2"), "B 2 @6501 101 1");
  EXPECT_EQ(FillCount(), 2);
  EXPECT_EQ(Position(), "130 3/0");
  FinishStep("23");

  AwaitStep("24");
  EXPECT_EQ(Fill("OP,TRADER1,LIFFE,FTSE,MAR27"), "B 4 @6490 0 3");
  EXPECT_EQ(FillCount(), 3);
  EXPECT_EQ(Position(), "730 7/0");
  FinishStep("24");

  AwaitStep("25");
  EXPECT_EQ(Fill("CL,TRADER1,FTSE,MAR27"), "S 7 @6510 0 3");
  EXPECT_EQ(FillCount(), 4);
  EXPECT_EQ(Position(), "1080 7/7");
  FinishStep("25");

  // The UUID thread applies the group action on its own time.
  AwaitStep("26");
  EXPECT_TRUE(Eventually([] {
    FillStruct fill;
    return vnGetFillByID("F1", &fill) == 0 && std::int32_t{fill.UUIDState} == VN_STATE_INACTIVE;
  }));
  FillStruct second;
  ASSERT_EQ(vnGetFillByID("F2", &second), 0);
  EXPECT_EQ(std::int32_t{second.UUIDState}, VN_STATE_ACTIVE);
  FinishStep("26");

  // Fill events outside the download: the order's own fills (the correction too), the netted
  // pseudo-fills, then the first fill's change of state.
  EXPECT_TRUE(Eventually([&] { return FillEvents(recorder_.Deliveries()).size() >= 6; }));
  EXPECT_EQ(
      FillEvents(recorder_.Deliveries()),
      (std::vector<std::string>{"101 F1", "101 F2", "101 F2", "NETTED OP,TRADER1,LIFFE,FTSE,MAR27",
                                "NETTED CL,TRADER1,FTSE,MAR27", "101 F1"}));
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

}  // namespace
}  // namespace vorn
