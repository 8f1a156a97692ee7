#include "core/trading/OrderIDPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/trading/OrderList.h"
#include "support/OrderFixture.h"

namespace vorn {
namespace {

// Records the requests as "3341" and "3301 <id>", and the order events as "5 <id> <old> <status>".
class TRecordingSink : public IOrderIDPoolHost {
 public:
  void SendOrderIDsRequest() override {
    std::lock_guard guard(lock);
    sent.push_back("3341");
  }
  void SendOrder(const TOrderItem& order) override {
    std::lock_guard guard(lock);
    sent.push_back("3301 " + order.ID);
  }
  void PostOrder(std::string_view orderID, std::string_view oldOrderID, TOrderStatus status,
                 std::int32_t) override {
    std::lock_guard guard(lock);
    sent.push_back("5 " + std::string(orderID) + " " + std::string(oldOrderID) + " " +
                   std::to_string(status));
  }
  std::vector<std::string> Take() {
    std::lock_guard guard(lock);
    return std::exchange(sent, {});
  }
  std::mutex lock;
  std::vector<std::string> sent;
};

class OrderIDPoolTest : public ::testing::Test {
 protected:
  void AddIDs(std::initializer_list<const char*> ids) {
    for (const char* id : ids)
      pool_.AddPreAllocatedOrderID(id);
  }
  // A queued order listed under its id.
  std::shared_ptr<TOrderList> AddOrder(const std::string& id) {
    return services_->AddHistory(id, {MakeOrderState(id, osQueued)});
  }
  std::vector<std::string> ListedIDs() {
    std::vector<std::string> ids;
    for (int i = 0; i < services_->OrderQ.Count(); ++i)
      ids.push_back(services_->OrderQ.At(i)->OrderID());
    return ids;
  }

  TOrderServicesScope services_;
  TRecordingSink sink_;
  TOrderIDPool pool_{sink_};
};

TEST_F(OrderIDPoolTest, AsksForOneBatchOnceFewerThanSixAreLeft) {
  AddIDs({"101", "102", "103", "104", "105", "106", "107"});
  pool_.SetOrderIDStatus(0);
  EXPECT_EQ(pool_.GetNewOrderID(), "101");  // six left
  EXPECT_TRUE(sink_.Take().empty());
  EXPECT_EQ(pool_.GetNewOrderID(), "102");  // five left
  EXPECT_EQ(sink_.Take(), (std::vector<std::string>{"3341"}));
  EXPECT_EQ(pool_.OrderIDStatus(), TOrderIDPool::kStatusRequested);
  // Until the host answers, no further request, not even once local ids stand in.
  for (int i = 0; i < 6; ++i)
    pool_.GetNewOrderID();
  EXPECT_EQ(pool_.GetNewOrderID(), "N2");
  EXPECT_TRUE(sink_.Take().empty());

  // The answer brings two ids: both go to the waiting orders (none listed) and, still short,
  // the pool asks again.
  AddIDs({"201", "202"});
  pool_.SetOrderIDStatus(0);
  pool_.CheckQueuedMHUBOrders();
  EXPECT_EQ(sink_.Take(), (std::vector<std::string>{"3341"}));
}

TEST_F(OrderIDPoolTest, WaitingOrdersGetHostIDsInTheOrderTheyWereEntered) {
  EXPECT_EQ(pool_.GetNewOrderID(), "N1");
  EXPECT_EQ(pool_.GetNewOrderID(), "N2");
  EXPECT_EQ(pool_.GetNewOrderID(), "N3");
  EXPECT_EQ(pool_.WaitingIDs(), (std::vector<std::string>{"N1", "N2", "N3"}));
  sink_.Take();
  const auto first = AddOrder("N1");
  const auto third = AddOrder("N3");  // N2's order is gone
  AddOrder("777");
  for (const char* id : {"N1", "N2", "N3"})
    pool_.EntryFinished(id);

  // 777 is held already: it is passed over, and N1 takes the next id.
  AddIDs({"777", "501", "502", "503"});
  pool_.SetOrderIDStatus(0);
  pool_.CheckQueuedMHUBOrders();
  EXPECT_EQ(sink_.Take(),
            (std::vector<std::string>{"5 501 N1 1", "3301 501", "5 502 N3 1", "3301 502", "3341"}));
  EXPECT_EQ(first->OrderID(), "501");
  EXPECT_EQ(first->GetCurrent()->ID, "501");
  EXPECT_EQ(third->OrderID(), "502");
  // Re-keyed histories sit in key order.
  EXPECT_EQ(ListedIDs(), (std::vector<std::string>{"501", "502", "777"}));
  EXPECT_TRUE(pool_.WaitingIDs().empty());
  EXPECT_EQ(pool_.PreAllocatedIDs(), (std::vector<std::string>{"503"}));
}

TEST_F(OrderIDPoolTest, StatusOneRefusesLocalIDsAndRejectsTheWaitingOrders) {
  pool_.GetNewOrderID();
  pool_.GetNewOrderID();
  AddOrder("N1");
  AddOrder("N2");
  pool_.EntryFinished("N1");
  pool_.EntryFinished("N2");
  sink_.Take();

  pool_.SetOrderIDStatus(TOrderIDPool::kStatusNoLocalIDs);
  pool_.CheckQueuedMHUBOrders();
  EXPECT_EQ(sink_.Take(), (std::vector<std::string>{"5 N1 N1 4", "5 N2 N2 4", "3341"}));
  EXPECT_EQ(services_->Forgotten, (std::vector<std::string>{"N1", "N2"}));
  EXPECT_EQ(services_->FindOrderList("N1")->GetCurrent()->Status, osRejected);
  EXPECT_TRUE(pool_.WaitingIDs().empty());

  pool_.SetOrderIDStatus(TOrderIDPool::kStatusNoLocalIDs);
  EXPECT_EQ(pool_.GetNewOrderID(), "");
  EXPECT_TRUE(pool_.WaitingIDs().empty());
}

// Host ids that arrive between an entry taking its local id and listing its order wait for the
// entry; the entry's end gives them out.
TEST_F(OrderIDPoolTest, IDsArrivingDuringAnEntryWaitForIt) {
  EXPECT_EQ(pool_.GetNewOrderID(), "N1");
  sink_.Take();
  AddIDs({"501", "502", "503", "504", "505", "506"});
  pool_.SetOrderIDStatus(0);
  pool_.CheckQueuedMHUBOrders();
  EXPECT_TRUE(sink_.Take().empty());
  EXPECT_EQ(pool_.WaitingIDs(), (std::vector<std::string>{"N1"}));

  const auto order = AddOrder("N1");
  pool_.EntryFinished("N1");
  EXPECT_EQ(sink_.Take(), (std::vector<std::string>{"5 501 N1 1", "3301 501", "3341"}));
  EXPECT_EQ(order->OrderID(), "501");

  // An entry that gave up leaves nothing waiting.
  pool_.ClearNewOrderIDs();
  EXPECT_EQ(pool_.GetNewOrderID(), "N2");
  pool_.EntryFinished("N2");
  AddIDs({"601"});
  pool_.CheckQueuedMHUBOrders();
  EXPECT_TRUE(pool_.WaitingIDs().empty());
  EXPECT_EQ(pool_.PreAllocatedIDs(), (std::vector<std::string>{"601"}));
}

// An id taken under the order list's lock is listed (or given up) before a batch can come
// between: one whose order was never listed is dropped, never holding back those after it.
TEST_F(OrderIDPoolTest, AnIDTakenUnderTheListLockNeverHoldsBackTheQueue) {
  EXPECT_EQ(pool_.GetNewOrderIDUnderListLock(), "N1");  // its re-key failed: never listed
  EXPECT_EQ(pool_.GetNewOrderID(), "N2");
  const auto order = AddOrder("N2");
  pool_.EntryFinished("N2");
  sink_.Take();
  AddIDs({"501", "502", "503", "504", "505", "506"});
  pool_.SetOrderIDStatus(0);
  pool_.CheckQueuedMHUBOrders();
  EXPECT_EQ(sink_.Take(), (std::vector<std::string>{"5 501 N2 1", "3301 501", "3341"}));
  EXPECT_EQ(order->OrderID(), "501");
  EXPECT_TRUE(pool_.WaitingIDs().empty());
}

TEST_F(OrderIDPoolTest, ClearEmptiesThePoolAndSyntheticIDsCount) {
  AddIDs({"101", "102"});
  pool_.ClearNewOrderIDs();
  EXPECT_TRUE(pool_.PreAllocatedIDs().empty());
  EXPECT_EQ(pool_.GetNewSyntheticOrderID(), "S1");
  EXPECT_EQ(pool_.GetNewSyntheticOrderID(), "S2");
}

TEST(OrderIDTest, HostOrderIDs) {
  for (const char* id : {"1", "0042", "9999999999"})
    EXPECT_TRUE(TOrderIDPool::IsHostOrderID(id)) << id;
  for (const char* id : {"", "0", "000", "N1", "S1", "12a", " 12", "-1"})
    EXPECT_FALSE(TOrderIDPool::IsHostOrderID(id)) << id;
}

TEST(RefDataSequenceTest, ReplacesOnlyWithALaterPoint) {
  struct TCase {
    const char* stored;
    const char* incoming;
    bool replaces;
  };
  const TCase cases[] = {
      {"150", "0", true},  {"0", "0", true},     {"9", "10", true},    {"10", "9", false},
      {"99", "100", true}, {"100", "99", false}, {"15", "15", false},  {"007", "8", true},
      {"8", "007", false}, {"A1", "A10", true},  {"A9", "A10", false}, {"abc", "abd", true},
      {"12", "12x", true}, {"12x", "12", false}, {"0", "", false},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(TRefDataSequence::Replaces(c.stored, c.incoming), c.replaces)
        << c.stored << " <- " << c.incoming;

  TRefDataSequence sequence;
  EXPECT_EQ(sequence.Get(), "0");
  sequence.Set("12");
  sequence.Set("9");
  EXPECT_EQ(sequence.Get(), "12");
  sequence.Set("120");
  EXPECT_EQ(sequence.Get(), "120");
  sequence.Set("0");
  EXPECT_EQ(sequence.Get(), "0");
}

TEST_F(OrderIDPoolTest, IDsStayUniqueUnderConcurrentUse) {
  constexpr int kTakers = 4;
  constexpr int kPerTaker = 300;
  std::vector<std::vector<std::string>> taken(kTakers);
  std::atomic<bool> done{false};
  std::thread host([&] {
    int next = 1000;
    while (!done.load()) {
      for (int i = 0; i < 8; ++i)
        pool_.AddPreAllocatedOrderID(std::to_string(next++));
      pool_.SetOrderIDStatus(0);
      pool_.CheckQueuedMHUBOrders();
      if (next % 5 == 0) pool_.ClearNewOrderIDs();
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> takers;
  for (int t = 0; t < kTakers; ++t) {
    takers.emplace_back([&, t] {
      for (int i = 0; i < kPerTaker; ++i)
        taken[static_cast<std::size_t>(t)].push_back(pool_.GetNewOrderID());
    });
  }
  for (auto& thread : takers)
    thread.join();
  done = true;
  host.join();

  std::set<std::string> unique;
  for (const auto& ids : taken) {
    for (const auto& id : ids) {
      EXPECT_FALSE(id.empty());
      EXPECT_TRUE(unique.insert(id).second) << id;
    }
  }
  EXPECT_EQ(unique.size(), static_cast<std::size_t>(kTakers * kPerTaker));
}

}  // namespace
}  // namespace vorn
