// Amends and cancels through the exported functions against the fake host: the amend and cancel
// requests on the host link, the host's answers, the order events and the orders read back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "support/OrderRoad.h"
#include "vornintf.h"

namespace vorn {
namespace {

class AmendCancelRoadTest : public OrderRoadSessionTest {
 protected:
  // The scripts' first order: a buy of 3 at 6500.5, host id 101.
  void EnterOrder() {
    ASSERT_TRUE(HostIDsArrived());
    NewOrderStruct order = Order('B', "6500.5", 3);
    PutTextAndNul(order.Reference, "first order");
    char id[11] = {};
    ASSERT_EQ(vnAddOrder(&order, id), 0);
    ASSERT_STREQ(id, "101");
  }
  bool EventsArrived(std::size_t count) {
    return Eventually([&] { return OrderEvents().size() >= count; });
  }

  // An amend to these terms on TRADER1, opening; every other field empty.
  static AmendOrderStruct Amend(const char* price, std::int32_t lots, const char* reference) {
    AmendOrderStruct amend;
    std::memset(&amend, 0, sizeof amend);
    PutTextAndNul(amend.Price, price);
    amend.Lots = lots;
    amend.OpenOrClose = 'O';
    PutTextAndNul(amend.TraderAccount, "TRADER1");
    PutTextAndNul(amend.Reference, reference);
    return amend;
  }

  // The order's versions, newest first.
  static std::vector<OrderDetailStruct> History(const char* id) {
    std::int32_t index = -1, count = 0;
    EXPECT_EQ(vnGetOrderIndex(id, &index), 0);
    EXPECT_EQ(vnCountOrderHistory(index, &count), 0);
    std::vector<OrderDetailStruct> versions(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i)
      EXPECT_EQ(vnGetOrderHistory(index, i, &versions[static_cast<std::size_t>(i)]), 0);
    return versions;
  }
  static std::vector<int> States(const std::vector<OrderDetailStruct>& versions) {
    std::vector<int> states;
    for (const auto& version : versions)
      states.push_back(version.Status);
    return states;
  }

  static std::vector<std::string> AlertTexts() {
    std::vector<std::string> texts;
    std::int32_t count = 0;
    EXPECT_EQ(vnCountUsrMsgs(&count), 0);
    for (std::int32_t i = 0; i < count; ++i) {
      MessageStruct message;
      if (vnGetUsrMsg(i, &message) == 0 && message.IsAlert == VN_MSG_ALERT)
        texts.push_back(message.MsgText);
    }
    return texts;
  }
};

TEST_F(AmendCancelRoadTest, AmendAcceptedAtNewPriceAndLots) {
  Play("amend-accepted.conv");
  LogOnAndDownload();
  EnterOrder();
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_WORKING}));

  AmendOrderStruct amend = Amend("6501", 5, "amended");
  amend.Priority = 2;
  PutTextAndNul(amend.SenderLocationID, "DESK4");
  PutTextAndNul(amend.ClientID, "C-9");
  amend.MaxClipSize = 2;
  PutTextAndNul(amend.LocalUserName, "local1");
  PutTextAndNul(amend.RoutingID1, "R1");
  ASSERT_EQ(vnAmendOrder("101", &amend), 0);

  // The amend itself posts nothing; the host's answers do.
  ASSERT_TRUE(EventsArrived(5));
  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{"101", "101", VN_OS_QUEUED},
                                                     {"101", "101", VN_OS_SENT},
                                                     {"101", "101", VN_OS_WORKING},
                                                     {"101", "101", VN_OS_AMEND_PENDING},
                                                     {"101", "101", VN_OS_WORKING}}));
  OrderDetailStruct detail;
  ASSERT_EQ(vnGetOrderByID("101", &detail, VN_ORDER_VERSION_NEWEST), 0);
  EXPECT_EQ(detail.Status, VN_OSC_WORKING);
  EXPECT_STREQ(detail.Price, "6501");
  EXPECT_EQ(std::int32_t{detail.Lots}, 5);
  EXPECT_STREQ(detail.Reference, "amended");

  // Behind the host's two answers, the client's own amend-pending version with the new terms.
  const auto versions = History("101");
  ASSERT_EQ(States(versions),
            (std::vector<int>{VN_OSC_WORKING, VN_OSC_AMEND_PENDING, VN_OSC_AMEND_PENDING,
                              VN_OSC_WORKING, VN_OSC_SENT, VN_OSC_QUEUED}));
  const OrderDetailStruct& own = versions[2];
  EXPECT_STREQ(own.Price, "6501");
  EXPECT_EQ(std::int32_t{own.Lots}, 5);
  EXPECT_STREQ(own.UserName, "trader1");
  EXPECT_STREQ(own.Reference, "amended");
  EXPECT_EQ(std::int32_t{own.Priority}, 2);
  EXPECT_STREQ(own.ExchangeID, "X-77");

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// The host refuses the amend by working the order on its old terms, with its reason; the
// application is told through an alert.
TEST_F(AmendCancelRoadTest, AmendRefusedLeavesTheOldTerms) {
  Play("amend-refused.conv");
  LogOnAndDownload();
  ASSERT_EQ(vnNotifyAllMessages('Y'), 0);
  EnterOrder();
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_WORKING}));

  AmendOrderStruct amend = Amend("6450", 4, "first order");
  ASSERT_EQ(vnAmendOrder("101", &amend), 0);

  ASSERT_TRUE(EventsArrived(4));
  EXPECT_EQ(OrderEvents()[3], (TOrderEvent{"101", "101", VN_OS_WORKING}));
  OrderDetailStruct detail;
  ASSERT_EQ(vnGetOrderByID("101", &detail, VN_ORDER_VERSION_NEWEST), 0);
  EXPECT_EQ(detail.Status, VN_OSC_WORKING);
  EXPECT_STREQ(detail.Price, "6500.5");
  EXPECT_EQ(std::int32_t{detail.Lots}, 3);
  EXPECT_STREQ(detail.NonExecReason, "Amend outside limits");
  EXPECT_EQ(States(History("101")), (std::vector<int>{VN_OSC_WORKING, VN_OSC_AMEND_PENDING,
                                                      VN_OSC_WORKING, VN_OSC_SENT, VN_OSC_QUEUED}));
  EXPECT_TRUE(Eventually([] {
    return AlertTexts() ==
           std::vector<std::string>{"Order ID: 101 Amending  rejected due to Amend outside limits"};
  })) << ::testing::PrintToString(AlertTexts());

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// More lots than are filled: the host's working answer keeps the fill, and the order stays
// part-filled at its new size.
TEST_F(AmendCancelRoadTest, AmendOfAPartFilledOrder) {
  Play("amend-part-filled.conv");
  LogOnAndDownload();
  EnterOrder();
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_PART}));

  AmendOrderStruct amend = Amend("6500.5", 5, "");
  ASSERT_EQ(vnAmendOrder("101", &amend), 0);

  ASSERT_TRUE(EventsArrived(5));
  EXPECT_EQ(OrderEvents()[4], (TOrderEvent{"101", "101", VN_OS_PART}));
  const auto versions = History("101");
  ASSERT_EQ(States(versions), (std::vector<int>{VN_OSC_PART, VN_OSC_AMEND_PENDING, VN_OSC_PART,
                                                VN_OSC_WORKING, VN_OSC_SENT, VN_OSC_QUEUED}));
  for (int i : {0, 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::int32_t{versions[i].Lots}, 5);
    EXPECT_EQ(std::int32_t{versions[i].Filled}, 1);
    EXPECT_STREQ(versions[i].Price, "6500.5");
  }

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// A working order's cancel goes at once; a second one sends nothing more (the script's next
// expected message is the acknowledgement made after it).
TEST_F(AmendCancelRoadTest, CancelAccepted) {
  Play("cancel-accepted.conv");
  LogOnAndDownload();
  EnterOrder();
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_WORKING}));

  ASSERT_EQ(vnCancelOrder("101"), 0);
  ASSERT_EQ(vnCancelOrder("101"), 0);
  ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);

  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_CANCELLED}));
  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{"101", "101", VN_OS_QUEUED},
                                                     {"101", "101", VN_OS_SENT},
                                                     {"101", "101", VN_OS_WORKING},
                                                     {"101", "101", VN_OS_CANCEL_PENDING},
                                                     {"101", "101", VN_OS_CANCELLED}}));
  // A live cancel adds no version of its own: the host's answers are the history.
  EXPECT_EQ(States(History("101")), (std::vector<int>{VN_OSC_CANCELLED, VN_OSC_CANCEL_PENDING,
                                                      VN_OSC_WORKING, VN_OSC_SENT, VN_OSC_QUEUED}));

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// A cancel made right after entry, before the host's first answer, is parked; it reaches the
// host once the order is working, and the application sees the order cancelled.
TEST_F(AmendCancelRoadTest, CancelWhileQueuedGoesOnceTheOrderWorks) {
  Play("cancel-while-queued.conv");
  LogOnAndDownload();
  // A parked request lives five heartbeat ticks: at the library's own one-second tick, the
  // script's round trips fit in it whatever the machine's load.
  API()->Heartbeat.SetInterval(1000);
  EnterOrder();
  EXPECT_EQ(vnCancelOrder("101"), VN_RC_ORDER_HELD_IN_QUEUE);
  ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_SENT}));
  ASSERT_EQ(vnAcknowledgeUsrMsg("6"), 0);

  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_CANCELLED}));
  EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{"101", "101", VN_OS_QUEUED},
                                                     {"101", "101", VN_OS_SENT},
                                                     {"101", "101", VN_OS_WORKING},
                                                     {"101", "101", VN_OS_CANCEL_PENDING},
                                                     {"101", "101", VN_OS_CANCELLED}}));
  const auto ids = Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), VN_CB_AMEND_FAILURE), 0);

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

// Four working orders, two buys at the same price: every one is cancelled, nearest to the
// market first (the script checks the order of the requests).
TEST_F(AmendCancelRoadTest, CancelAllWithOrdersAtTheSamePrice) {
  Play("cancel-all-same-price.conv");
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  const struct {
    char Side;
    const char* Price;
    const char* ID;
  } orders[] = {
      {'B', "6400", "101"}, {'B', "6500", "102"}, {'S', "6550", "103"}, {'B', "6500", "104"}};
  for (const auto& entry : orders) {
    NewOrderStruct order = Order(entry.Side, entry.Price, 1);
    char id[11] = {};
    ASSERT_EQ(vnAddOrder(&order, id), 0);
    ASSERT_STREQ(id, entry.ID);
  }
  for (const auto& entry : orders)
    ASSERT_TRUE(OrderEventArrived({entry.ID, entry.ID, VN_OS_WORKING})) << entry.ID;
  ASSERT_TRUE(TickerArrived([](const TickerStruct& ticker) {
    return std::string(ticker.BidPrice) == "6505" && std::string(ticker.OfferPrice) == "6510";
  }));

  ASSERT_EQ(vnCancelAll("TRADER1"), 0);

  for (const auto& entry : orders) {
    SCOPED_TRACE(entry.ID);
    ASSERT_TRUE(OrderEventArrived({entry.ID, entry.ID, VN_OS_CANCELLED}));
    OrderDetailStruct detail;
    ASSERT_EQ(vnGetOrderByID(entry.ID, &detail, VN_ORDER_VERSION_NEWEST), 0);
    EXPECT_EQ(detail.Status, VN_OSC_CANCELLED);
  }

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

}  // namespace
}  // namespace vorn
