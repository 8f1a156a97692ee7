#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderIDPool.h"
#include "core/trading/OrderItem.h"
#include "platform/Thread.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

// An API object installed as the current one, with no callback thread: what the heartbeat
// posts stays in the queue, where the test counts it.
class ClassAPITest : public ::testing::Test {
 protected:
  void SetUp() override {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    ExchangeAPI(api_);
  }
  void TearDown() override {
    ExchangeAPI(nullptr);
    api_.reset();
    ClearCallbackQueue();
    JoinStoppedThreads();
  }

  TTempDir dir_;
  std::shared_ptr<TClassAPI> api_ = std::make_shared<TClassAPI>();
};

TEST_F(ClassAPITest, SentOrderFailsOnceOnTheHeartbeatTickItsDelayRunsOutOn) {
  api_->Logon.LoggedOn = true;
  api_->Monitoring.SentFailureDelay = 2;
  api_->Monitoring.MemoryWarningThreshold = 101;  // no memory warning whatever the machine's load

  auto item = std::make_shared<TOrderItem>();
  item->ID = "4711";
  item->DisplayID = "4711";
  item->Status = osSent;
  ASSERT_TRUE(api_->Orders.Add(item));
  ASSERT_TRUE(api_->Orders.SentWatch.Contains("4711"));

  api_->HeartbeatTimer();
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_TRUE(api_->Orders.SentWatch.Contains("4711"));

  api_->HeartbeatTimer();
  EXPECT_EQ(CallbackQueueCount(), 1u);
  EXPECT_FALSE(api_->Orders.SentWatch.Contains("4711"));

  for (int i = 0; i < 3; ++i)
    api_->HeartbeatTimer();
  EXPECT_EQ(CallbackQueueCount(), 1u);
}

TEST_F(ClassAPITest, OrderIDPoolAsksForABatchOnceFewerThanSixAreLeft) {
  for (const char* id : {"101", "102", "103", "104", "105", "106", "107"})
    api_->OrderIDs.AddPreAllocatedOrderID(id);
  api_->OrderIDs.SetOrderIDStatus(0);

  EXPECT_EQ(api_->OrderIDs.GetNewOrderID(), "101");  // six left
  EXPECT_EQ(api_->OrderIDs.OrderIDStatus(), 0);
  EXPECT_EQ(api_->OrderIDs.GetNewOrderID(), "102");  // five left: the request goes out
  EXPECT_EQ(api_->OrderIDs.OrderIDStatus(), TOrderIDPool::kStatusRequested);
}

// Clearing the orders and fills also empties the order list and its watch lists.
TEST_F(ClassAPITest, ClearOrdersAndFillsEmptiesTheOrderList) {
  auto item = std::make_shared<TOrderItem>();
  item->ID = "815";
  item->Status = osSent;
  ASSERT_TRUE(api_->Orders.Add(item));
  api_->ClearOrdersAndFills();
  EXPECT_EQ(api_->Orders.Count(), 0);
  EXPECT_EQ(api_->Fills.Count(), 0);
  EXPECT_EQ(api_->Orders.FindOrder("815"), nullptr);
}

// Application threads enter orders while a socket thread moves them through their states and
// the heartbeat ticks: every order ends filled and off every watch list (run under TSan).
TEST_F(ClassAPITest, OrdersFromSeveralThreadsWhileTheHeartbeatTicks) {
  api_->Logon.LoggedOn = true;
  api_->Monitoring.SentFailureDelay = 1000;
  api_->Monitoring.MemoryWarningThreshold = 101;
  constexpr int kThreads = 3;
  constexpr int kOrders = 150;
  const auto id = [](int thread, int n) { return std::to_string(thread * 1000 + n + 1); };

  std::atomic<bool> done{false};
  std::thread heartbeat([&] {
    while (!done)
      api_->HeartbeatTimer();
  });
  std::vector<std::thread> applications;
  for (int t = 0; t < kThreads; ++t)
    applications.emplace_back([&, t] {
      for (int n = 0; n < kOrders; ++n)
        api_->Orders.Add(MakeOrderState(id(t, n), osSent, 1));
    });
  std::thread socket([&] {
    for (int n = 0; n < kOrders; ++n)
      for (int t = 0; t < kThreads; ++t) {
        const std::string orderID = id(t, n);
        while (!api_->Orders.FindOrder(orderID))
          std::this_thread::yield();
        api_->Orders.Add(MakeOrderState(orderID, osWorking, 2));
        api_->Orders.Add(MakeOrderState(orderID, osFilled, 3, 10));
      }
  });
  for (auto& thread : applications)
    thread.join();
  socket.join();
  done = true;
  heartbeat.join();

  EXPECT_EQ(api_->Orders.Count(), kThreads * kOrders);
  for (int t = 0; t < kThreads; ++t)
    for (int n = 0; n < kOrders; ++n) {
      auto head = api_->Orders.FindOrder(id(t, n));
      ASSERT_NE(head, nullptr);
      EXPECT_EQ(head->Status, osFilled) << id(t, n);
      EXPECT_FALSE(api_->Orders.SentWatch.Contains(id(t, n)));
    }
}

// A cached margin rate lasts until the ratings or the margin mode change.
TEST_F(ClassAPITest, MarginRatingAndModeChangesDropCachedRates) {
  auto account = std::make_shared<TTraderAccountItem>("ACC");
  account->SetMarginRating("R1");
  api_->Accounts.Add(account);
  auto row = std::make_shared<TMarginRating>();
  row->Rating = "R1";
  row->Exchange = "EX";
  row->MarginReq = 10;
  row->MarginPC = 100;
  api_->MarginRatings.Add(row);
  const auto rate = [&] { return api_->Margins.GetContractRating("ACC", "EX", "COM", "MAR27"); };

  EXPECT_EQ(rate(), 10);
  row->MarginReq = 20;
  EXPECT_EQ(rate(), 10);
  api_->SetMarginMode(false);  // no change
  EXPECT_EQ(rate(), 10);
  api_->MarginRatingsChanged();
  EXPECT_EQ(rate(), 20);
  row->MarginReq = 30;
  api_->SetMarginMode(true);
  EXPECT_EQ(rate(), 30);
}

}  // namespace
}  // namespace vorn
