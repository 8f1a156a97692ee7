// Order entry through the exports, against a logged-on API object whose order requests are
// recorded instead of sent.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/util/Text.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/HostText.h"
#include "support/TimeZone.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

struct TEvent {
  std::string ID, OldID;
  int Status;
};

// Local time is Europe/London (GMT in winter, BST in summer); "now" is a winter day.
class OrderEntryTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    StopCallbackThread();
  }

  // The order events queued so far, in posting order.
  static std::vector<TEvent> OrderEvents() {
    std::vector<TEvent> events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      if (delivery.Id != VN_CB_ORDER) continue;
      OrderUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      events.push_back({GetFixed(update.OrderID), GetFixed(update.OldOrderID), update.Status});
    }
    return events;
  }
  TContractKey FutureKey() const { return Future()->Key(); }

  TFakeClock clock_{EncodeDate(2027, 1, 12) + EncodeTime(10, 15, 30, 0)};
  TClockInstaller installer_{clock_};

 private:
  TScopedTimeZone zone_{"Europe/London"};
};

ProtectionStruct Protection(const char* p1, const char* p2 = "2", const char* p3 = "3",
                            const char* stop = "4") {
  ProtectionStruct protection;
  std::memset(&protection, 0, sizeof protection);
  PutTextAndNul(protection.Pr1Price, p1);
  PutTextAndNul(protection.Pr2Price, p2);
  PutTextAndNul(protection.Pr3Price, p3);
  PutTextAndNul(protection.StPrice, stop);
  protection.Pr1Volume = 5;
  PutTextAndNul(protection.StType, "TR");
  PutTextAndNul(protection.StSteps1, "1.5");
  PutTextAndNul(protection.StSteps2, "0");
  return protection;
}

// One row per check, in the order the checks run; each leaves the list, the link and the event
// queue untouched.
TEST_F(OrderEntryTest, EachFailingCheckReturnsItsCodeAndEntersNothing) {
  // A spread of a strategy type the exchange's ticket type does not permit.
  ASSERT_GE(Api().Contracts.AddFromFields("LIFFE", "FTSE", "MAR27-JUN27", Fields("X1=BC|X2=LIFFE")),
            0);
  const struct {
    const char* name;
    std::function<void(TClassAPI&, TFakeLinks&, NewOrderStruct&, ProtectionStruct&)> change;
    std::int32_t code;
  } cases[] = {
      {"not logged on", [](auto& api, auto&, auto&, auto&) { api.Logon.LoggedOn = false; }, 4},
      {"no order id",
       [](auto& api, auto&, auto&, auto&) {
         api.OrderIDs.ClearNewOrderIDs();
         api.OrderIDs.SetOrderIDStatus(TOrderIDPool::kStatusNoLocalIDs);
       },
       40},
      {"host link down", [](auto&, auto& links, auto&, auto&) { links.Host->connected = false; },
       35},
      {"price link down while market data is required",
       [](auto& api, auto& links, auto&, auto&) {
         api.Features.MarketDataRequired = true;
         links.Price->connected = false;
       },
       36},
      {"unknown account",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.TraderAccount, "NOBODY"); }, 9},
      {"view-only account",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.TraderAccount, "VIEWER"); }, 34},
      {"unknown contract",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.ContractDate, "DEC99"); }, 22},
      {"contract not permitted",
       [](auto& api, auto&, auto& r, auto&) {
         api.Exchanges.FindExchange("LIFFE")->TicketType = 'E';
         PutTextAndNul(r.ContractDate, "MAR27-JUN27");
       },
       48},
      {"unknown parent", [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.ParentID, "777"); },
       25},
      {"unknown order type",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.OrderType, "NOPE"); }, 21},
      {"auto-created order type",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.OrderType, "AGGR"); }, 39},
      {"blank price", [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.Price, "  "); }, 24},
      {"no lots", [](auto&, auto&, auto& r, auto&) { r.Lots = 0; }, 29},
      {"protection price not a number text",
       [](auto&, auto&, auto&, auto& p) { p = Protection("1.2.3"); }, 27},
      {"price not a number", [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.Price, "1O0"); },
       99},
      {"protection price a lone sign", [](auto&, auto&, auto&, auto& p) { p = Protection("+"); },
       27},
      {"trigger date without a time",
       [](auto&, auto&, auto& r, auto&) { PutTextAndNul(r.TriggerDate, "01072027"); }, 99},
  };
  for (const auto& c : cases) {
    AddHostOrderIDs(1001, 2);
    NewOrderStruct record = LimitOrder();
    ProtectionStruct protection;
    std::memset(&protection, 0, sizeof protection);
    c.change(Api(), links_, record, protection);
    char id[11] = "unchanged";
    EXPECT_EQ(vnAddProtectionOrder(&record, &protection, id), c.code) << c.name;
    EXPECT_STREQ(id, "unchanged") << c.name;
    EXPECT_EQ(Api().Orders.Count(), 0) << c.name;
    EXPECT_TRUE(requests_->OrderRequests().empty()) << c.name;
    EXPECT_EQ(CallbackQueueCount(), 0u) << c.name;

    Api().Logon.LoggedOn = true;
    Api().Features.MarketDataRequired = false;
    links_.Host->connected = true;
    links_.Price->connected = true;
    Api().Exchanges.FindExchange("LIFFE")->TicketType = '\0';
    Api().OrderIDs.SetOrderIDStatus(TOrderIDPool::kStatusNone);
    Api().OrderIDs.ClearNewOrderIDs();
  }
  EXPECT_EQ(vnAddOrder(nullptr, nullptr), 99) << "a null record";
}

TEST_F(OrderEntryTest, EntersQueuedOrderSendsItAndAnnouncesIt) {
  AddHostOrderIDs(1001, 2);
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.Price2, "100.3");
  PutTextAndNul(record.ESARef, "ESA-1");
  PutTextAndNul(record.BigRefField, "big");
  PutTextAndNul(record.RoutingID2, "R2");
  record.BuySell = 'X';
  char id[11];
  std::memset(id, 'x', sizeof id);
  ASSERT_EQ(vnAddOrder(&record, id), 0);
  EXPECT_STREQ(id, "1001");

  const auto order = Api().Orders.FindOrder("1001");
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->Status, osQueued);
  EXPECT_EQ(order->UserName, "USER1");
  EXPECT_EQ(order->Contract, Future());
  EXPECT_EQ(order->BuySell, Cross);
  EXPECT_DOUBLE_EQ(order->Price, 100.0);
  EXPECT_DOUBLE_EQ(order->Price2, 100.3);
  EXPECT_EQ(order->ESARef(), "ESA-1");
  EXPECT_EQ(order->BigRefField(), "big");
  EXPECT_EQ(order->RoutingID2(), "R2");
  EXPECT_EQ(order->DateClientSent, "20270112");
  EXPECT_EQ(order->TimeClientSent, "101530");
  EXPECT_FALSE(order->IsProtectionOrder);

  const auto requests = requests_->OrderRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Code, 3301);
  EXPECT_EQ(requests[0].Order->ID, "1001");
  EXPECT_EQ(requests[0].Order->BuySell, Cross);
  EXPECT_EQ(requests[0].Order->TargetLots, 1);

  ASSERT_EQ(vnAddOrderEx(&record, nullptr, "ABCDEFGHIJKLMNOP"), 0) << "a nil output is allowed";
  EXPECT_EQ(Api().Orders.FindOrder("1002")->UserName, "ABCDEFGHIJK");

  const auto events = OrderEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "1001");
  EXPECT_EQ(events[0].OldID, "1001");
  EXPECT_EQ(events[0].Status, osQueued);
  EXPECT_EQ(events[1].ID, "1002");
}

TEST_F(OrderEntryTest, WithoutHostIDsOrdersWaitUnderLocalIDsAndStaySeparate) {
  const NewOrderStruct record = LimitOrder();
  char first[11], second[11];
  ASSERT_EQ(vnAddOrder(&record, first), 0);
  ASSERT_EQ(vnAddOrder(&record, second), 0);
  EXPECT_STREQ(first, "N1");
  EXPECT_STREQ(second, "N2");
  EXPECT_EQ(Api().Orders.Count(), 2) << "identical orders in the same second stay two orders";
  EXPECT_TRUE(requests_->OrderRequests().empty());
  const auto events = OrderEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "N1");
  EXPECT_EQ(events[0].OldID, "N1");
  EXPECT_EQ(events[1].ID, "N2");
  EXPECT_EQ(events[1].OldID, "N2");
}

TEST_F(OrderEntryTest, SyntheticOrderIsHeldSubscribedAndNotSent) {
  AddHostOrderIDs(1001, 2);
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.OrderType, "SYNSTOP");
  char id[11];
  ASSERT_EQ(vnAddOrder(&record, id), 0);
  EXPECT_STREQ(id, "S1");
  EXPECT_EQ(Api().Orders.FindOrder("S1")->Status, osHeldOrder);
  EXPECT_TRUE(requests_->OrderRequests().empty());
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(FutureKey()), 1);
  EXPECT_EQ(Api().Orders.SyntheticContractCount(TOrderQ::SyntheticContractKey(FutureKey())), 1);
  EXPECT_EQ(Api().OrderIDs.PreAllocatedIDs(), std::vector<std::string>{"1002"})
      << "a held order uses up a host id all the same";
  const auto events = OrderEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].ID, "S1");
  EXPECT_EQ(events[0].Status, osHeldOrder);
}

TEST_F(OrderEntryTest, CheckAtOnceReleasesAtTheTriggerWithTheSubscriptionsBalanced) {
  AddHostOrderIDs(1001, 2);
  Api().Subscriptions.SubscribePrice(FutureKey());  // the application's own subscription
  ASSERT_TRUE(Future()->SetPrice(5, 3, 101));       // last trade above the stop
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.OrderType, "SYNSTOP");
  record.CheckNow = 'Y';
  char id[11];
  ASSERT_EQ(vnAddOrder(&record, id), 0);
  EXPECT_STREQ(id, "S1");

  const auto released = Api().Orders.FindOrder("1002");
  ASSERT_NE(released, nullptr);
  EXPECT_EQ(released->Status, osQueued);
  const auto requests = requests_->OrderRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Order->ID, "1002");
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(FutureKey()), 1)
      << "the application keeps its subscription";
  EXPECT_FALSE(Api().Orders.IsSyntheticContract(TOrderQ::SyntheticContractKey(FutureKey())));
  const auto events = OrderEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ID, "S1");
  EXPECT_EQ(events[0].Status, osHeldOrder);
  EXPECT_EQ(events[1].ID, "1002");
  EXPECT_EQ(events[1].OldID, "S1");
  EXPECT_EQ(events[1].Status, osQueued);
}

TEST_F(OrderEntryTest, RequestForQuoteMayHaveNoLots) {
  AddHostOrderIDs(1001, 1);
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.OrderType, "RFQI");
  record.Lots = 0;
  EXPECT_EQ(vnAddOrder(&record, nullptr), 0);
  EXPECT_DOUBLE_EQ(Api().Orders.FindOrder("1001")->Price, 0.0) << "the type takes no price";
}

TEST_F(OrderEntryTest, ProtectionOrderCarriesItsLegs) {
  AddHostOrderIDs(1001, 1);
  const NewOrderStruct record = LimitOrder();
  const ProtectionStruct protection = Protection("-.5", "+2", "3.");
  ASSERT_EQ(vnAddProtectionOrder(&record, &protection, nullptr), 0);
  const auto order = Api().Orders.FindOrder("1001");
  EXPECT_TRUE(order->IsProtectionOrder);
  EXPECT_EQ(order->Pr1Price(), "-.5");
  EXPECT_EQ(order->Pr2Price(), "+2");
  EXPECT_EQ(order->StPrice(), "4");
  EXPECT_EQ(order->Pr1Volume, 5);
  EXPECT_EQ(order->StType(), "TR");
  EXPECT_DOUBLE_EQ(order->StSteps1, 1.5);
}

TEST_F(OrderEntryTest, BatchIsVerifiedWholeThenEnteredUnderTheFirstOrdersID) {
  AddHostOrderIDs(1001, 6);
  NewOrderStruct orders[3] = {LimitOrder(), LimitOrder(), LimitOrder()};
  PutTextAndNul(orders[2].TraderAccount, "NOBODY");
  char ids[3][11] = {};
  EXPECT_EQ(vnAddBatchOrder(3, orders, ids), 9);
  EXPECT_EQ(Api().Orders.Count(), 0);
  EXPECT_TRUE(requests_->OrderRequests().empty());
  EXPECT_EQ(Api().OrderIDs.PreAllocatedIDs().size(), 6u) << "verification takes no ids";

  PutTextAndNul(orders[2].TraderAccount, "TRADER1");
  PutTextAndNul(orders[0].BatchID, "junk");
  ASSERT_EQ(vnAddBatchOrder(3, orders, ids), 0);
  EXPECT_STREQ(ids[0], "1001");
  EXPECT_STREQ(ids[1], "1002");
  EXPECT_STREQ(ids[2], "1003");
  EXPECT_STREQ(orders[0].BatchID, "");
  EXPECT_STREQ(orders[2].BatchID, "1001");
  EXPECT_EQ(Api().Orders.FindOrder("1001")->BatchID(), "");
  EXPECT_EQ(Api().Orders.FindOrder("1003")->BatchID(), "1001");
  EXPECT_EQ(Api().Orders.FindOrder("1003")->BatchCount, 1001);
  EXPECT_EQ(requests_->OrderRequests().size(), 3u);

  EXPECT_EQ(vnAddBatchOrder(3, orders, nullptr), 0) << "a nil id array takes no output";
  EXPECT_EQ(Api().Orders.Count(), 6);
}

TEST_F(OrderEntryTest, OwnBatchTypeMakesTheOrderItsOwnBatch) {
  AddHostOrderIDs(1001, 1);
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.BatchType, "10000");
  ASSERT_EQ(vnAddOrder(&record, nullptr), 0);
  EXPECT_EQ(Api().Orders.FindOrder("1001")->BatchID(), "1001");
}

AggregateOrderStruct Aggregate() {
  AggregateOrderStruct record;
  std::memset(&record, 0, sizeof record);
  PutTextAndNul(record.TraderAccount, "TRADER1");
  PutTextAndNul(record.ExchangeName, "LIFFE");
  PutTextAndNul(record.CommodityName, "FTSE");
  PutTextAndNul(record.ContractDate, "MAR27");
  record.BuySell = 'S';
  PutTextAndNul(record.Reference, "agg");
  record.XRef = 9;
  return record;
}

TEST_F(OrderEntryTest, AggregateOrderMakesItsOrderTypeWhichOrdersMayNotName) {
  AddHostOrderIDs(1001, 2);
  const AggregateOrderStruct record = Aggregate();
  char id[11];
  ASSERT_EQ(vnAddAggregateOrder(&record, id), 0);
  EXPECT_STREQ(id, "1001");
  const auto type = Api().OrderTypes.FindOrderType("LIFFE", "AggOrder");
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->OrderTypeID, VN_OT_AGGREGATE_ORDER);
  EXPECT_TRUE(type->AutoCreated);
  const auto order = Api().Orders.FindOrder("1001");
  EXPECT_EQ(order->OrderType, type);
  EXPECT_EQ(order->BuySell, Sell);
  EXPECT_EQ(order->GetReference(), "agg");
  ASSERT_EQ(requests_->OrderRequests().size(), 1u);
  ASSERT_EQ(OrderEvents().size(), 1u);

  NewOrderStruct named = LimitOrder();
  PutTextAndNul(named.OrderType, "AggOrder");
  EXPECT_EQ(vnAddOrder(&named, nullptr), 39);
}

TEST_F(OrderEntryTest, CustomerRequestNeedsAMatchingAggregateParent) {
  AddHostOrderIDs(1001, 20);
  auto trader2 = std::make_shared<TTraderAccountItem>("TRADER2");
  trader2->Tradable = true;
  Api().Accounts.Add(trader2);
  const AggregateOrderStruct aggregate = Aggregate();
  ASSERT_EQ(vnAddAggregateOrder(&aggregate, nullptr), 0);
  const NewOrderStruct limit = LimitOrder();
  ASSERT_EQ(vnAddOrder(&limit, nullptr), 0);  // 1002, not an aggregate
  // The host's state of the aggregate names its exchange.
  auto parent = Api().Orders.FindOrder("1001");
  parent->ExchangeName = "LIFFE";

  const auto request = [] {
    CustReqStruct record;
    std::memset(&record, 0, sizeof record);
    PutTextAndNul(record.TraderAccount, "TRADER1");
    PutTextAndNul(record.ExchangeName, "LIFFE");
    PutTextAndNul(record.CommodityName, "FTSE");
    PutTextAndNul(record.ContractDate, "MAR27");
    record.BuySell = 'B';
    PutTextAndNul(record.Price, "101.5");
    PutTextAndNul(record.ParentID, "1001");
    record.Lots = 4;
    record.LotsDone = 1;
    PutTextAndNul(record.AveragePrice, "x");
    return record;
  };
  const struct {
    const char* name;
    std::function<void(CustReqStruct&)> change;
  } mismatches[] = {
      {"no such parent", [](auto& r) { PutTextAndNul(r.ParentID, "999"); }},
      {"parent not an aggregate", [](auto& r) { PutTextAndNul(r.ParentID, "1002"); }},
      {"other commodity", [](auto& r) { PutTextAndNul(r.CommodityName, "GILT"); }},
      {"other contract date", [](auto& r) { PutTextAndNul(r.ContractDate, "JUN27 C6500"); }},
      {"other trader account", [](auto& r) { PutTextAndNul(r.TraderAccount, "TRADER2"); }},
      {"other exchange", [&parent](auto&) { parent->ExchangeName = "CME"; }},
  };
  for (const auto& m : mismatches) {
    CustReqStruct record = request();
    m.change(record);
    EXPECT_EQ(vnAddCustRequest(&record, nullptr), 45) << m.name;
    parent->ExchangeName = "LIFFE";
  }
  EXPECT_EQ(Api().Orders.Count(), 2);

  const CustReqStruct record = request();
  char id[11];
  ASSERT_EQ(vnAddCustRequest(&record, id), 0);
  const auto order = Api().Orders.FindOrder(id);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->OrderType->Name(), "CustReq");
  EXPECT_EQ(order->OrderType->OrderTypeID, 26);
  EXPECT_EQ(order->ParentID(), "1001");
  EXPECT_EQ(order->ExchangeName, "LIFFE");
  EXPECT_EQ(order->TargetLots, 4);
  EXPECT_EQ(order->ActualLots, 1);
  EXPECT_DOUBLE_EQ(order->Price, 101.5);
  EXPECT_DOUBLE_EQ(order->AveragePrice, 0.0);
}

// The offset is the one in force at the trigger's own date, not today's (a winter day).
TEST_F(OrderEntryTest, TriggerIsConvertedToUTCWithTheOffsetAtItsDate) {
  AddHostOrderIDs(1001, 2);
  NewOrderStruct record = LimitOrder();
  PutTextAndNul(record.TriggerDate, "01072027");
  PutTextAndNul(record.TriggerTime, "103000");
  ASSERT_EQ(vnAddOrder(&record, nullptr), 0);
  EXPECT_EQ(Api().Orders.FindOrder("1001")->TriggerDate(), "20270701");
  EXPECT_EQ(Api().Orders.FindOrder("1001")->TriggerTime(), "093000");

  clock_.SetNow(EncodeDate(2027, 7, 1) + EncodeTime(8, 0, 0, 0));
  PutTextAndNul(record.TriggerDate, "01022027");
  ASSERT_EQ(vnAddOrder(&record, nullptr), 0);
  EXPECT_EQ(Api().Orders.FindOrder("1002")->TriggerTime(), "103000");
}

// Application threads enter orders while the host's id batches release the orders waiting
// under local ids.
TEST_F(OrderEntryTest, ThreadsEnterOrdersWhileHostIDsArrive) {
  constexpr int kThreads = 4;
  constexpr int kOrders = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&failures] {
      const NewOrderStruct record = LimitOrder();
      for (int i = 0; i < kOrders; ++i)
        if (vnAddOrder(&record, nullptr) != 0) ++failures;
    });
  threads.emplace_back([this] {
    for (int batch = 0; batch < 10; ++batch) {
      AddHostOrderIDs(1001 + batch * 10, 10);
      Api().OrderIDs.CheckQueuedMHUBOrders();
    }
  });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Api().Orders.Count(), kThreads * kOrders);
}

}  // namespace
}  // namespace vorn
