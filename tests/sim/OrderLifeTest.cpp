// The simulated order life in-process, through the exports as libsimapi.so runs them: the timer
// stopped after the start, the status pass, the market and the one-in-three draws driven by the
// test, each book laid out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/refdata/ContractItem.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Fill.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/refdata/UserMessage.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "sim/AutoDemo.h"
#include "sim/SimRecorder.h"
#include "sim/SimSession.h"
#include "sim/SimTestData.h"
#include "sim/SyntheticOrders.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

class OrderLifeTest : public SimSessionTest {
 protected:
  void SetUp() override {
    SimSessionTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(
        Initialise([] { vnRegisterOrderCallback(VN_CB_ORDER, OrderUpdate); }));
    API()->Heartbeat.SetInterval(25);
    ASSERT_EQ(LogOn(), 0);
    // The price link's connection starts the timer; from then on the test drives the ticks.
    ASSERT_NO_FATAL_FAILURE(DriveTicks());
    demo_->SetPendingDrawForTests([this] { return draw_.load(); });
    demo_->Random().Seed(20270319);
    EmptyBook();
  }

  // Simulated volume at a price.
  void Level(bool bid, double price, std::int32_t lots) {
    WithBook([&](TContractOrderList& book) {
      demo_->Market().AddToDOMLevel(book, bid, lots, true, price);
    });
  }

  static std::string Enter(const NewOrderStruct& order) {
    char id[11] = {};
    EXPECT_EQ(vnAddOrder(&order, id), 0);
    return Field(id, sizeof id);
  }
  // Enters the order and passes it to Sent; returns its new id.
  std::string EnterAndSend(const NewOrderStruct& order) {
    const std::string local = Enter(order);
    demo_->StatusPass();
    EXPECT_FALSE(API()->Orders.FindOrder(local)) << local << " kept its local id";
    return SentId(local);
  }
  std::string EnterWorking(const NewOrderStruct& order) {
    const std::string id = EnterAndSend(order);
    demo_->StatusPass();
    return id;
  }
  // The new id of the order event that carried the local id.
  static std::string LastSentId(const std::string& local) {
    std::string id;
    for (const TDelivery& d : recorder.Deliveries()) {
      if (d.Id != VN_CB_ORDER) continue;
      const auto* update = reinterpret_cast<const OrderUpdateStruct*>(d.Payload.data());
      if (Field(update->OldOrderID, 11) == local && update->Status == osSent)
        id = Field(update->OrderID, 11);
    }
    return id;
  }
  // The order event is queued synchronously; its delivery waits for the callback thread.
  std::string SentId(const std::string& local) {
    std::string id;
    EXPECT_TRUE(Eventually([&] { return !(id = LastSentId(local)).empty(); }));
    return id;
  }
  static std::vector<std::shared_ptr<TFill>> FillsOf(const std::string& id) {
    std::vector<std::shared_ptr<TFill>> fills;
    for (const auto& fill : API()->Fills.Snapshot())
      if (fill->OrderID == id) fills.push_back(fill);
    return fills;
  }
  static std::vector<std::shared_ptr<TUserMessage>> Messages() {
    std::vector<std::shared_ptr<TUserMessage>> messages;
    for (int i = 0; i < API()->UserMessages.Count(); ++i)
      messages.push_back(API()->UserMessages.At(i));
    return messages;
  }
  static bool HasMessage(const std::string& text, TAlert alert) {
    for (const auto& message : Messages())
      if (message->Content == text && message->IsAlert == alert) return true;
    return false;
  }

  std::atomic<bool> draw_{true};
};

TEST_F(OrderLifeTest, AnOrderGoesQueuedSentWorkingOnTheTimersSchedule) {
  const std::string local = Enter(Order("Limit", 'B', "7800", 2));
  ASSERT_EQ(local.substr(0, 1), "N");
  auto waiting = API()->OrderIDs.WaitingIDs();
  ASSERT_NE(std::find(waiting.begin(), waiting.end(), local), waiting.end());
  for (int tick = 1; tick < 6; ++tick)
    demo_->TimerPriceFeedTimer();
  EXPECT_EQ(Head(local)->Status, osQueued);
  demo_->TimerPriceFeedTimer();  // the 6th: the status pass

  const std::string id = SentId(local);
  ASSERT_FALSE(id.empty());
  EXPECT_TRUE(TOrderIDPool::IsHostOrderID(id)) << id;
  EXPECT_FALSE(Head(local));
  const auto sent = Head(id);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->Status, osSent);
  EXPECT_EQ(sent->DisplayID, id);
  EXPECT_EQ(sent->ActualLots, 2);
  EXPECT_FALSE(API()->Orders.QueuedWatch.Contains(local));
  EXPECT_FALSE(API()->Orders.QueuedWatch.Contains(id));
  waiting = API()->OrderIDs.WaitingIDs();
  EXPECT_EQ(std::find(waiting.begin(), waiting.end(), local), waiting.end());
  // The whole history went over to the new id.
  const auto history = API()->Orders.FindOrderList(id);
  ASSERT_TRUE(history);
  for (int i = 0; i < history->Count(); ++i)
    EXPECT_EQ(history->At(i)->ID, id);

  for (int tick = 0; tick < 6; ++tick)
    demo_->TimerPriceFeedTimer();
  EXPECT_EQ(Head(id)->Status, osWorking);
  EXPECT_EQ(UsersAt(true, 7800), 2);
  EXPECT_TRUE(HasMessage("Order received for Order " + id, alNormal));
  ASSERT_TRUE(Eventually([&] {
    for (const TDelivery& d : recorder.Deliveries()) {
      const auto* update = reinterpret_cast<const OrderUpdateStruct*>(d.Payload.data());
      if (d.Id == VN_CB_ORDER && Field(update->OrderID, 11) == id &&
          Field(update->OldOrderID, 11) == id && update->Status == osWorking)
        return true;
    }
    return false;
  }));
  // A second order gets the next number.
  const std::string second = EnterAndSend(Order("Limit", 'B', "7800", 1));
  EXPECT_EQ(SafeStrToInt(second, 0), SafeStrToInt(id, 0) + 1);
}

TEST_F(OrderLifeTest, LimitsRejectWithTheirTexts) {
  struct TCase {
    std::int32_t Lots;
    TOrderStatus Status;
    const char* Reason;
  };
  for (const TCase& c : {TCase{100, osWorking, ""},
                         TCase{101, osRejected, "Order Rejected.  MAX lots (100) exceeded"}}) {
    SCOPED_TRACE(c.Lots);
    const std::string id = EnterWorking(Order("Limit", 'B', "7700", c.Lots));
    ASSERT_TRUE(Head(id));
    EXPECT_EQ(Head(id)->Status, c.Status);
    EXPECT_EQ(Head(id)->NonExecReason(), c.Reason);
    if (c.Status == osRejected) {
      EXPECT_TRUE(HasMessage(c.Reason, alAlert));
      EXPECT_FALSE(HasMessage("Order received for Order " + id, alNormal));
      EXPECT_EQ(UsersAt(true, 7700), 100);
    }
  }

  // The account's lots bought and sold above the trader limit reject every further order.
  const auto head = Head(EnterWorking(Order("Limit", 'S', "8100", 1)));
  auto fill = std::make_shared<TFill>();
  fill->FillID = "LIMIT1";
  fill->OrderID = "LIMIT";
  fill->Contract = head->Contract;
  fill->Account = head->TraderAccount;
  fill->BuySell = Buy;
  fill->Lots = 10001;
  fill->Price = 7900;
  ASSERT_TRUE(API()->Positions.AddFill(fill).Added);
  const std::string rejected = EnterWorking(Order("Limit", 'B', "7700", 1));
  EXPECT_EQ(Head(rejected)->Status, osRejected);
  EXPECT_EQ(Head(rejected)->NonExecReason(), "Order Rejected.  Trader limit (10000) exceeded");
  EXPECT_TRUE(HasMessage("Order Rejected.  Trader limit (10000) exceeded", alAlert));
  EXPECT_TRUE(HasMessage("Order received for Order " + rejected, alNormal));
}

TEST_F(OrderLifeTest, AMarketOrderFillsAcrossTwoLevelsWithTheFillsFields) {
  Level(false, 7900, 1);
  Level(false, 7900.5, 4);
  const std::int32_t sequence = API()->Logon.LogonSequence;
  const std::int32_t counter = demo_->FillNumber();
  const std::string id = EnterWorking(Order("Market", 'B', "", 3));
  ASSERT_EQ(Head(id)->Status, osWorking);
  demo_->StatusPass();

  const auto head = Head(id);
  EXPECT_EQ(head->Status, osFilled);
  EXPECT_EQ(head->Filled, 3);
  EXPECT_EQ(head->NoOfFills, 2);
  EXPECT_DOUBLE_EQ(head->AveragePrice, (7900 + 2 * 7900.5) / 3);
  EXPECT_DOUBLE_EQ(demo_->AveragePrice(id), head->AveragePrice);
  EXPECT_EQ(API()->Logon.LogonSequence, sequence + 2);
  EXPECT_EQ(UsersAt(false, 7900), -1);
  EXPECT_EQ(UsersAt(false, 7900.5), 0);

  auto fills = FillsOf(id);
  ASSERT_EQ(fills.size(), 2u);
  std::sort(fills.begin(), fills.end(), [](const auto& a, const auto& b) { return a->Price < b->Price; });
  const std::string today = FormatDateTime("yyyymmdd", Now());
  // Digits, a blank, then "dd/dd/dddd dd:dd:dd" ('9' stands for a digit).
  const auto shaped = [](const std::string& id) {
    const std::size_t blank = id.find(' ');
    if (blank == 0 || blank == std::string::npos) return false;
    const std::string shape = "99/99/9999 99:99:99";
    const std::string when = id.substr(blank + 1);
    if (when.size() != shape.size()) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
      const char c = id[i];
      const bool digit = c >= '0' && c <= '9';
      if (i < blank ? !digit : i > blank && (shape[i - blank - 1] == '9' ? !digit
                                                                         : c != shape[i - blank - 1]))
        return false;
    }
    return true;
  };
  for (std::size_t i = 0; i < fills.size(); ++i) {
    SCOPED_TRACE(i);
    const TFill& fill = *fills[i];
    EXPECT_TRUE(shaped(fill.FillID)) << fill.FillID;
    // The counter, then 1000 to 10998.
    const std::string number = fill.FillID.substr(0, fill.FillID.find(' '));
    const std::string prefix = IntToStr(counter + static_cast<std::int32_t>(i));
    ASSERT_EQ(number.substr(0, prefix.size()), prefix);
    const std::int32_t drawn = SafeStrToInt(number.substr(prefix.size()), -1);
    EXPECT_GE(drawn, 1000);
    EXPECT_LE(drawn, 10998);
    EXPECT_EQ(fill.Lots, i == 0 ? 1 : 2);
    EXPECT_EQ(fill.BuySell, Buy);
    EXPECT_EQ(fill.Status, flNORMAL);
    EXPECT_EQ(fill.FillType, fltpFILL);
    EXPECT_EQ(fill.DateFilled, today);
    EXPECT_EQ(fill.DateHostReceived, today);
    EXPECT_EQ(fill.TimeFilled.size(), 6u);
    EXPECT_EQ(fill.TimeHostReceived, fill.TimeFilled);
    EXPECT_EQ(fill.GetAccountName(), "TRADER1");
    EXPECT_EQ(fill.UserName, head->UserName);
    EXPECT_EQ(fill.Contract, head->Contract);
  }
  EXPECT_NE(fills[0]->FillID, fills[1]->FillID);
  double pl = 0;
  std::int32_t buys = 0, sells = 0;
  API()->Positions.GetContractPos(*head->Contract, "TRADER1", pl, buys, sells, false);
  EXPECT_EQ(buys, 3);
  EXPECT_EQ(sells, 0);
  EXPECT_TRUE(HasMessage("Fill received for Order " + id, alNormal));
}

TEST_F(OrderLifeTest, AMarketOrderAgainstAnEmptySideEndsBalanceCancelledUnfilled) {
  Level(true, 7800, 5);
  const std::string id = EnterWorking(Order("Market", 'B', "", 2));
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osBalCancelled);
  EXPECT_EQ(Head(id)->Filled, 0);
  EXPECT_TRUE(FillsOf(id).empty());
}

TEST_F(OrderLifeTest, ACancelCompletesOnADrawAndTakesTheLotsOutOfTheBook) {
  const std::string id = EnterWorking(Order("Limit", 'B', "7800", 3));
  ASSERT_EQ(UsersAt(true, 7800), 3);
  ASSERT_EQ(vnCancelOrder(id.c_str()), 0);
  ASSERT_EQ(Head(id)->Status, osCancelPending);
  draw_ = false;
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osCancelPending);
  draw_ = true;
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_EQ(UsersAt(true, 7800), -1);
  EXPECT_TRUE(HasMessage("Cancellation Received for " + id, alNormal));

  // After a part fill: balance cancelled, the lots all the filled ones.
  Level(false, 7900, 1);
  const std::string part = EnterWorking(Order("Limit", 'B', "7900", 3));
  ASSERT_EQ(Head(part)->Status, osPart);
  ASSERT_EQ(UsersAt(true, 7900), 2);
  ASSERT_EQ(vnCancelOrder(part.c_str()), 0);
  demo_->StatusPass();
  const auto head = Head(part);
  EXPECT_EQ(head->Status, osBalCancelled);
  EXPECT_EQ(head->Filled, 1);
  EXPECT_EQ(head->TargetLots, 1);
  EXPECT_EQ(head->ActualLots, 1);
  EXPECT_EQ(UsersAt(true, 7900), -1);
}

TEST_F(OrderLifeTest, AmendingDownToTheFilledLotsEndsTheOrderFilledOutOfTheBook) {
  Level(false, 7900, 2);
  const std::string id = EnterWorking(Order("Limit", 'B', "7900", 5));
  ASSERT_EQ(Head(id)->Status, osPart);
  ASSERT_EQ(UsersAt(true, 7900), 3);
  AmendOrderStruct amend = AmendRecordOf(*Head(id));
  amend.Lots = 2;
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  ASSERT_EQ(Head(id)->Status, osAmendPending);
  demo_->StatusPass();
  const auto head = Head(id);
  EXPECT_EQ(head->Status, osFilled);
  EXPECT_EQ(head->Filled, 2);
  EXPECT_EQ(head->TargetLots, 2);
  EXPECT_EQ(UsersAt(true, 7900), -1);
  WithBook([](TContractOrderList& book) { EXPECT_TRUE(book.UserOrders.empty()); });

  // An amend of price and lots moves the resting lots.
  const std::string moved = EnterWorking(Order("Limit", 'B', "7800", 2));
  amend = AmendRecordOf(*Head(moved));
  PutFixed(amend.Price, "7790");
  amend.Lots = 4;
  ASSERT_EQ(vnAmendOrder(moved.c_str(), &amend), 0);
  demo_->StatusPass();
  EXPECT_EQ(Head(moved)->Status, osWorking);
  EXPECT_EQ(UsersAt(true, 7800), -1);
  EXPECT_EQ(UsersAt(true, 7790), 4);
}

TEST_F(OrderLifeTest, StopsTriggerOnTheTradedRangeAndFillAgainstTheBook) {
  Level(false, 7906, 5);
  Level(true, 7890, 5);
  const std::string buyStop = EnterWorking(Order("Stop", 'B', "7905", 2));
  const std::string sellStop = EnterWorking(Order("Stop", 'S', "7800", 1));
  ASSERT_EQ(Head(buyStop)->Status, osWorking);
  WithBook([](TContractOrderList& book) { EXPECT_EQ(book.Stops.size(), 2u); });
  TradeAt(7904);
  EXPECT_EQ(Head(buyStop)->Status, osWorking);
  TradeAt(7905);
  EXPECT_EQ(Head(buyStop)->Status, osFilled);
  const auto fills = FillsOf(buyStop);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_DOUBLE_EQ(fills[0]->Price, 7906);
  EXPECT_EQ(Head(sellStop)->Status, osWorking);
  WithBook([](TContractOrderList& book) { EXPECT_EQ(book.Stops.size(), 1u); });
  // A cancelled stop leaves the list.
  ASSERT_EQ(vnCancelOrder(sellStop.c_str()), 0);
  demo_->StatusPass();
  EXPECT_EQ(Head(sellStop)->Status, osCancelled);
  WithBook([](TContractOrderList& book) { EXPECT_TRUE(book.Stops.empty()); });
}

TEST_F(OrderLifeTest, ATrailingStopMovesOnlyProtectively) {
  // The parent's trailing figures as a bracket would set them: price 7900, distance 50, a step
  // every 2 points.
  const std::string parent = EnterWorking(Order("Limit", 'B', "7700", 1));
  const std::string flat = EnterWorking(Order("Limit", 'B', "7700", 1));
  {
    TOrderQGuard guard(API()->Orders);
    const auto head = Head(parent);
    head->Price = 7900;
    head->SetStPrice("50");
    head->StSteps2 = 2;
    Head(flat)->SetStPrice("50");
  }
  NewOrderStruct order = Order("TrStop!", 'S', "7800", 1);
  PutFixed(order.ParentID, parent);
  const std::string stop = EnterWorking(order);
  PutFixed(order.ParentID, flat);
  const std::string noStep = EnterWorking(order);
  PutFixed(order.ParentID, "");
  const std::string orphan = EnterWorking(order);
  for (const std::string& id : {stop, noStep, orphan}) {
    TOrderQGuard guard(API()->Orders);
    ASSERT_EQ(Head(id)->Status, osWorking) << id;
    Head(id)->SetStPrice("7900");
  }

  // Up 10: 5 steps of a tick up from 7850.
  TradeAt(7910);
  ASSERT_EQ(Head(stop)->Status, osAmendPending);
  EXPECT_DOUBLE_EQ(Head(stop)->Price, 7852.5);
  EXPECT_EQ(Head(noStep)->Status, osWorking);
  EXPECT_EQ(Head(orphan)->Status, osWorking);
  demo_->StatusPass();
  ASSERT_EQ(Head(stop)->Status, osWorking);
  WithBook([&](TContractOrderList& book) {
    for (const TUserOrder& held : book.Stops)
      if (held.OrderID == stop) {
        EXPECT_DOUBLE_EQ(held.Price, 7852.5);
      }
  });
  // Down again: a sell stop never moves down.
  TradeAt(7890);
  EXPECT_EQ(Head(stop)->Status, osWorking);
  EXPECT_DOUBLE_EQ(Head(stop)->Price, 7852.5);
  EXPECT_DOUBLE_EQ(Head(noStep)->Price, 7800);
  EXPECT_DOUBLE_EQ(Head(orphan)->Price, 7800);
}

TEST_F(OrderLifeTest, AnOrderUnderAnOrdinaryParentFills) {
  const std::string parent = EnterWorking(Order("Limit", 'B', "7700", 1));
  Level(false, 7900, 3);
  NewOrderStruct order = Order("Limit", 'B', "7900", 2);
  PutFixed(order.ParentID, parent);
  const std::string child = EnterWorking(order);
  EXPECT_EQ(Head(child)->Status, osFilled);
  EXPECT_EQ(FillsOf(child).size(), 1u);
}

// The synthetic-order manager hears of the children of the parents it works, and only of those.
class TFakeSyntheticOrders : public ISyntheticOrders {
 public:
  explicit TFakeSyntheticOrders(std::string parent) : parent_(std::move(parent)) {}
  void Dispatch(const std::shared_ptr<TOrderList>&) override {}
  bool Manages(std::string_view parentId) const override { return parentId == parent_; }
  void ChildUpdate(std::string_view parentId, const TOrderItem& child) override {
    Calls.push_back("update " + std::string(parentId) + " " + IntToStr(child.Status));
  }
  void ChildAmended(std::string_view parentId, const TOrderItem&) override {
    Calls.push_back("amended " + std::string(parentId));
  }
  void ChildCancelled(std::string_view parentId, const TOrderItem&) override {
    Calls.push_back("cancelled " + std::string(parentId));
  }
  char ProtectionLevel(std::string_view, const TOrderItem&) const override { return 0; }
  std::vector<std::string> Calls;

 private:
  std::string parent_;
};

TEST_F(OrderLifeTest, TheSyntheticManagerHearsOnlyOfItsOwnChildren) {
  const std::string managed = EnterWorking(Order("Limit", 'B', "7700", 1));
  const std::string other = EnterWorking(Order("Limit", 'B', "7700", 1));
  auto manager = std::make_shared<TFakeSyntheticOrders>(managed);
  demo_->SetSyntheticOrders(manager);
  Level(false, 7900, 1);
  NewOrderStruct order = Order("Limit", 'B', "7900", 2);
  PutFixed(order.ParentID, managed);
  const std::string child = EnterWorking(order);
  ASSERT_EQ(Head(child)->Status, osPart);
  ASSERT_EQ(vnCancelOrder(child.c_str()), 0);
  demo_->StatusPass();
  Level(false, 7900, 1);
  PutFixed(order.ParentID, other);
  EXPECT_EQ(Head(EnterWorking(order))->Status, osPart);
  demo_->SetSyntheticOrders(nullptr);
  EXPECT_EQ(manager->Calls, (std::vector<std::string>{"update " + managed + " " + IntToStr(osPart),
                                                     "cancelled " + managed}));
}

TEST_F(OrderLifeTest, AStatusQueryPostsTheStateTheOrderHolds) {
  const std::string id = EnterWorking(Order("Limit", 'B', "7700", 1));
  recorder.Clear();
  demo_->AdvanceQueriedOrder(id);
  demo_->AdvanceQueriedOrder(id);
  EXPECT_EQ(Head(id)->Status, osWorking);
  EXPECT_TRUE(FillsOf(id).empty());
  ASSERT_TRUE(recorder.WaitFor(VN_CB_ORDER, 2));
  for (const TDelivery& d : recorder.Deliveries()) {
    if (d.Id != VN_CB_ORDER) continue;
    const auto* update = reinterpret_cast<const OrderUpdateStruct*>(d.Payload.data());
    EXPECT_EQ(Field(update->OrderID, 11), id);
    EXPECT_EQ(update->Status, osWorking);
  }
}

// The application enters and cancels on its own thread while the simulation ticks.
TEST_F(OrderLifeTest, ApplicationThreadsEnterAndCancelWhilePassesRun) {
  Level(false, 7950, 20);
  Level(true, 7850, 20);
  std::atomic<bool> done{false};
  std::thread application([&] {
    for (int i = 0; i < 60; ++i) {
      const char* price = i % 3 == 0 ? "7950" : "7840";
      const std::string id = Enter(Order(i % 5 == 0 ? "Market" : "Limit", 'B', price, 1 + i % 3));
      if (i % 2 == 0 && !id.empty()) vnCancelOrder(id.c_str());
      std::this_thread::yield();
    }
    done = true;
  });
  while (!done)
    demo_->TimerPriceFeedTimer();
  application.join();
  // Later cancels of orders that were still in transit were parked; let every order settle.
  for (int pass = 0; pass < 40; ++pass) {
    demo_->StatusPass();
  }

  std::int32_t resting = 0;
  {
    // The market's locks come before the order list's: the book is read after this scope.
    TOrderQGuard guard(API()->Orders);
    for (int i = 0; i < API()->Orders.Count(); ++i) {
      const auto head = API()->Orders.At(i)->GetCurrent();
      ASSERT_TRUE(head);
      EXPECT_FALSE(StatusIn(head->Status, {osQueued, osSent, osCancelPending, osAmendPending}))
          << head->ID << " " << int(head->Status);
      if (StatusIn(head->Status, {osWorking, osPart})) resting += head->TargetLots - head->Filled;
    }
  }
  std::int32_t users = 0;
  WithBook([&](TContractOrderList& book) {
    for (const auto& [key, level] : book.Bids.Levels())
      users += level.Users;
  });
  EXPECT_EQ(users, resting);
}

}  // namespace
}  // namespace vorn::sim
