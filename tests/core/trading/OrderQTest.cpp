#include "core/trading/OrderQ.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/util/NumberText.h"
#include "core/wire/FieldsList.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

class TFakeHost : public IOrderQHost {
 public:
  std::int32_t NextOrderSequence() override { return sequence++; }
  std::int32_t SentFailureDelay() override { return 3; }
  std::int32_t QueuedFailureDelay() override { return 4; }
  std::shared_ptr<TOrderTypeItem> FindOrderTypeByID(std::string_view exchange,
                                                    std::int32_t typeID) override {
    for (const auto& type : types)
      if (type->ExchangeName() == exchange && type->OrderTypeID == typeID) return type;
    return nullptr;
  }
  void UnsubscribePrice(const TContractKey& contract) override {
    std::lock_guard guard(lock);
    unsubscribed.push_back(contract.Text());
  }
  void RaiseLocalOrderCounter(std::int32_t value) override { localCounter = value; }
  void RaiseSyntheticOrderCounter(std::int32_t value) override { syntheticCounter = value; }
  std::string LogonUserName() override { return "logon"; }
  bool DownloadInProgress() override { return downloading; }
  double GetExchangeRate(std::string_view currency) override {
    return currency == "GBP" ? rate : 0.0;
  }
  void OrderAccountChanged(std::string_view id, const TOrderItem& previous,
                           const TOrderItem& item) override {
    accountChanges.push_back(std::string(id) + ":" + previous.GetTraderAccountName() + ">" +
                             item.GetTraderAccountName());
  }

  bool downloading = false;
  double rate = 2.0;
  std::vector<std::string> accountChanges;

  std::atomic<std::int32_t> sequence{100};
  std::vector<std::shared_ptr<TOrderTypeItem>> types;
  std::mutex lock;
  std::vector<std::string> unsubscribed;
  std::int32_t localCounter = 0;
  std::int32_t syntheticCounter = 0;
};

class TFakeSender : public IOrderSender {
 public:
  std::string GetNewOrderID() override {
    std::lock_guard guard(lock);
    if (ids.empty()) return {};
    std::string id = ids.front();
    ids.erase(ids.begin());
    return id;
  }
  void SendOrder(const TOrderItem& order) override {
    std::lock_guard guard(lock);
    sent.push_back(order.Copy());
  }
  void AmendOrder(std::string_view id, const AmendOrderStruct&, std::string_view user) override {
    std::lock_guard guard(lock);
    amends.push_back(std::string(id) + "/" + std::string(user));
  }
  void CancelOrder(std::string_view id, std::string_view user) override {
    std::lock_guard guard(lock);
    cancels.push_back(std::string(id) + "/" + std::string(user));
  }

  std::mutex lock;
  std::vector<std::string> ids;
  std::vector<std::shared_ptr<TOrderItem>> sent;
  std::vector<std::string> amends;
  std::vector<std::string> cancels;
};

struct TState {
  TOrderStatus Status;
  std::int32_t Filled = 0;
  std::int32_t Target = 10;
  std::int32_t Actual = 10;
};

std::shared_ptr<TOrderItem> MakeState(const std::string& id, const TState& s) {
  auto item = std::make_shared<TOrderItem>();
  item->ID = id;
  item->DisplayID = id;
  item->Status = s.Status;
  item->Filled = s.Filled;
  item->TargetLots = s.Target;
  item->ActualLots = s.Actual;
  return item;
}

TAmendRequest Request(const std::string& id, TAmendAction action) {
  TAmendRequest request;
  request.OrderID = id;
  request.Action = action;
  return request;
}

class OrderQTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCallbackQueue();
    orders.SetHost(host);
    orders.SetSender(sender);
  }
  void TearDown() override { ClearCallbackQueue(); }

  // A history with the given states, newest first.
  std::shared_ptr<TOrderList> Seed(const std::string& id, const std::vector<TState>& states) {
    auto history = orders.NewOrderList(id);
    for (auto it = states.rbegin(); it != states.rend(); ++it)
      history->Add(MakeState(id, *it));
    return history;
  }

  std::shared_ptr<TFakeHost> host = std::make_shared<TFakeHost>();
  std::shared_ptr<TFakeSender> sender = std::make_shared<TFakeSender>();
  TOrderQ orders;
};

// ---------------------------------------------------------------------------------------------
// The state rules: (history, incoming) -> (kept, new head, history length, watch lists).

struct TRuleCase {
  const char* Name;
  std::vector<TState> History;  // newest first
  TState Incoming;
  bool Added;
  TOrderStatus Head;
  std::int32_t HeadFilled;
  int Count;
  bool InSent;
  bool InQueued;
  bool InCancel;
  TOrderStatus Second = osIllegal;  // entry 1 after the add, when checked
};

class OrderQRuleTest : public OrderQTest, public ::testing::WithParamInterface<TRuleCase> {};

TEST_P(OrderQRuleTest, AppliesRule) {
  const TRuleCase& c = GetParam();
  const std::string id = "700";
  if (!c.History.empty()) {
    auto history = Seed(id, c.History);
    // Every watch list holds the order before the new state arrives.
    orders.SentWatch.Add(history->GetCurrent());
    orders.QueuedWatch.Add(history->GetCurrent());
    orders.CancelWatch.Add(history->GetCurrent());
  }
  const std::size_t events = CallbackQueueCount();
  auto item = MakeState(id, c.Incoming);

  EXPECT_EQ(orders.Add(item), c.Added);

  auto history = orders.FindOrderList(id);
  ASSERT_TRUE(history);
  auto head = history->GetCurrent();
  EXPECT_EQ(head->Status, c.Head);
  EXPECT_EQ(head->Filled, c.HeadFilled);
  EXPECT_EQ(history->Count(), c.Count);
  if (c.Second != osIllegal) {
    EXPECT_EQ(history->At(1)->Status, c.Second);
  }
  EXPECT_EQ(orders.SentWatch.Contains(id), c.InSent);
  EXPECT_EQ(orders.QueuedWatch.Contains(id), c.InQueued);
  EXPECT_EQ(orders.CancelWatch.Contains(id), c.InCancel);
  // The rules post no event of their own.
  EXPECT_EQ(CallbackQueueCount(), events);
}

const TRuleCase kRuleCases[] = {
    // name, history, incoming, added, head, head filled, count, sent, queued, cancel[, second]
    {"Rule1_CancelAfterFilledIgnored",
     {{osFilled, 10}},
     {osCancelled, 0},
     false,
     osFilled,
     10,
     1,
     true,
     true,
     false},
    {"Rule2_CancelConfirmation",
     {{osWorking}},
     {osCancelled, 10, 10, 10},
     true,
     osCancelled,
     10,
     2,
     false,
     false,
     false},
    {"Rule3_MidCancelBecomesCancelPending",
     {{osWorking, 4, 10, 8}},
     {osCancelled, 4, 10, 10},
     true,
     osCancelPending,
     4,
     2,
     false,
     false,
     false},
    {"Rule4_CancelWithoutHistory",
     {},
     {osCancelled, 0, 10, 5},
     true,
     osCancelled,
     0,
     1,
     false,
     false,
     false},
    {"Rule4_CancelAfterCancel",
     {{osCancelled}},
     {osBalCancelled, 2, 10, 5},
     true,
     osBalCancelled,
     2,
     2,
     false,
     false,
     false},
    {"Rule7_WorkingAfterSent", {{osSent}}, {osWorking}, true, osWorking, 0, 2, false, false, true},
    {"Rule6_PartAfterSent", {{osSent}}, {osPart, 3}, true, osPart, 3, 2, false, false, true},
    {"Rule9_SamePartRelabelsHeadWorking",
     {{osPart, 3}},
     {osPart, 3},
     true,
     osPart,
     3,
     2,
     false,
     false,
     true,
     osWorking},
    {"Rule11_AmendStillPending",
     {{osAmendPending}, {osWorking}},
     {osWorking, 0, 12, 10},
     true,
     osAmendPending,
     0,
     3,
     false,
     false,
     true},
    {"Rule14_AmendConfirmedPartFilled",
     {{osAmendPending}, {osWorking}},
     {osWorking, 2},
     true,
     osPart,
     2,
     3,
     false,
     false,
     true},
    {"Rule15_AmendConfirmedWorking",
     {{osAmendPending}},
     {osPart, 0},
     true,
     osWorking,
     0,
     2,
     false,
     false,
     true},
    {"Rule16_SentStartsHistory", {}, {osSent}, true, osSent, 0, 1, true, false, false},
    {"Rule17_SentAfterQueued", {{osQueued}}, {osSent}, true, osSent, 0, 2, true, false, true},
    {"Rule18_SentWhileAmending",
     {{osAmendPending}},
     {osSent},
     true,
     osAmendPending,
     0,
     2,
     false,
     false,
     true},
    {"Rule20_FilledResolvesORPIFilled",
     {{osWorking}, {osORPIFilled, 5}},
     {osFilled, 5},
     true,
     osFilled,
     5,
     2,
     false,
     false,
     false,
     osWorking},
    {"Rule21_FilledHiddenBehindHead",
     {{osPart, 3}, {osORPIFilled, 7}},
     {osFilled, 5},
     true,
     osPart,
     3,
     3,
     true,
     true,
     false,
     osORPIFilled},
    {"Rule24_PartResolvesORPIPart",
     {{osWorking}, {osORPIPart, 2}},
     {osPart, 4},
     true,
     osPart,
     4,
     2,
     false,
     false,
     true,
     osWorking},
    {"Rule25_PartHiddenBehindHead",
     {{osPart, 2}, {osORPIPart, 6}},
     {osPart, 4},
     true,
     osPart,
     2,
     3,
     true,
     true,
     true,
     osORPIPart},
    {"Rule27_ORPIAfterFilledIgnored",
     {{osFilled, 10}},
     {osORPIPart, 4},
     false,
     osFilled,
     10,
     1,
     true,
     true,
     true},
    {"Rule28_ORPIPartNotAboveHeadIgnored",
     {{osPart, 3}},
     {osORPIPart, 3},
     false,
     osPart,
     3,
     1,
     true,
     true,
     true},
    {"Rule30_ORPIPartAboveHeadAdded",
     {{osWorking}},
     {osORPIPart, 2, 7, 10},
     true,
     osORPIPart,
     2,
     2,
     false,
     false,
     true},
    {"Rule30_QueuedStartsHistory", {}, {osQueued}, true, osQueued, 0, 1, false, true, false},
    {"Rule30_RejectedLeavesEveryWatchList",
     {{osQueued}},
     {osRejected},
     true,
     osRejected,
     0,
     2,
     false,
     false,
     false},
};

INSTANTIATE_TEST_SUITE_P(Rules, OrderQRuleTest, ::testing::ValuesIn(kRuleCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(OrderQTest, CarriesOverEntryStampsCountersAndSetsTimeOuts) {
  auto first = MakeState("800", {osQueued});
  first->DateHostReceived = " 20240102 ";
  first->TimeHostReceived = "101112";
  first->XRef = 77;
  ASSERT_TRUE(orders.Add(first));
  EXPECT_EQ(first->EntryDate, "20240102");
  EXPECT_EQ(first->EntryTime, "101112");
  EXPECT_EQ(first->UpdateSequence, 100);
  EXPECT_EQ(first->QueuedTimeOut.load(), 4);
  orders.IncNoOfFills("800");

  auto sent = MakeState("800", {osSent});
  sent->XRef = 5;
  ASSERT_TRUE(orders.Add(sent));
  EXPECT_EQ(sent->EntryDate, "20240102");
  EXPECT_EQ(sent->XRef, 77);
  EXPECT_EQ(sent->NoOfFills, 1);
  EXPECT_EQ(sent->UpdateSequence, 101);
  EXPECT_EQ(sent->SentTimeOut.load(), 3);
  EXPECT_EQ(sent->OFSeqNumber, 2);
  EXPECT_FALSE(orders.QueuedWatch.Contains("800"));
}

TEST_F(OrderQTest, QueuedStateWithoutIDStartsOneHistoryOnly) {
  EXPECT_TRUE(orders.Add(MakeState("", {osQueued})));
  // A second empty-ID history would share the key: refused, and the item stays the caller's.
  auto second = MakeState("", {osQueued});
  EXPECT_FALSE(orders.Add(second));
  EXPECT_EQ(orders.Count(), 1);
  EXPECT_EQ(orders.FindOrderList("")->Count(), 1);
}

// ---------------------------------------------------------------------------------------------
// Parked amend and cancel requests

struct TParkCase {
  TOrderStatus Parking;
  TAmendAction Action;
};

class OrderQParkTest : public OrderQTest, public ::testing::WithParamInterface<TParkCase> {};

TEST_P(OrderQParkTest, ReissuedOnceTheHeadLeavesTheParkingStates) {
  const auto [parking, action] = GetParam();
  Seed("900", {{parking}});
  TAmendRequest request;
  request.OrderID = "900";
  request.Action = action;
  request.UserName = "trader";
  orders.AmendingOrders.AddRequest(request);

  // Another parking state keeps it parked.
  ASSERT_TRUE(orders.Add(MakeState("900", {parking == osSent ? osCancelPending : osSent})));
  EXPECT_TRUE(orders.AmendingOrders.Contains("900"));
  EXPECT_TRUE(sender->amends.empty());
  EXPECT_TRUE(sender->cancels.empty());

  ASSERT_TRUE(orders.Add(MakeState("900", {osWorking})));
  EXPECT_FALSE(orders.AmendingOrders.Contains("900"));
  const auto& issued = action == TAmendAction::Amend ? sender->amends : sender->cancels;
  EXPECT_EQ(issued, std::vector<std::string>{"900/trader"});
}

INSTANTIATE_TEST_SUITE_P(Parking, OrderQParkTest,
                         ::testing::Values(TParkCase{osQueued, TAmendAction::Cancel},
                                           TParkCase{osSent, TAmendAction::Cancel},
                                           TParkCase{osCancelPending, TAmendAction::Cancel},
                                           TParkCase{osAmendPending, TAmendAction::Cancel},
                                           TParkCase{osQueued, TAmendAction::Amend},
                                           TParkCase{osSent, TAmendAction::Amend},
                                           TParkCase{osCancelPending, TAmendAction::Amend},
                                           TParkCase{osAmendPending, TAmendAction::Amend}));

TEST_F(OrderQTest, ParkedRequestsForClosedOrdersAreDropped) {
  Seed("901", {{osQueued}});
  Seed("902", {{osQueued}});
  orders.AmendingOrders.AddRequest(Request("901", TAmendAction::Amend));
  orders.AmendingOrders.AddRequest(Request("902", TAmendAction::Cancel));
  orders.AmendingOrders.AddRequest(Request("902", TAmendAction::Cancel));  // replaces the first
  EXPECT_EQ(orders.AmendingOrders.Count(), 2u);

  ASSERT_TRUE(orders.Add(MakeState("901", {osRejected})));
  ASSERT_TRUE(orders.Add(MakeState("902", {osFilled, 10})));
  EXPECT_EQ(orders.AmendingOrders.Count(), 0u);
  EXPECT_TRUE(sender->amends.empty());
  EXPECT_TRUE(sender->cancels.empty());
}

TEST_F(OrderQTest, WatchListsCountDownToTheirTick) {
  auto now = MakeState("1", {osSent});
  auto later = MakeState("2", {osSent});
  now->SentTimeOut = 0;
  later->SentTimeOut = 2;
  orders.SentWatch.Add(now);
  orders.SentWatch.Add(later);
  EXPECT_EQ(orders.SentWatch.Tick(), std::vector<std::string>{"1"});
  EXPECT_EQ(orders.SentWatch.Tick(), std::vector<std::string>{"2"});
  EXPECT_EQ(orders.SentWatch.Count(), 0u);

  orders.AmendingOrders.AddRequest(Request("3", TAmendAction::Cancel));
  for (int tick = 1; tick < kAmendRequestTicks; ++tick) {
    EXPECT_TRUE(orders.AmendingOrders.Tick().empty());
  }
  EXPECT_EQ(orders.AmendingOrders.Tick(), std::vector<std::string>{"3"});
}

// ---------------------------------------------------------------------------------------------
// Matching a host order to a local one

class OrderQMatchTest : public OrderQTest {
 protected:
  void SetUp() override {
    OrderQTest::SetUp();
    contract = refs.AddContract("EX", "COM", "JUN24");
    type = refs.AddOrderType("EX", "Limit", otLimit);
    account = refs.AddAccount("ACC");
  }
  std::shared_ptr<TOrderItem> Order(const std::string& id, double price) {
    auto item = MakeState(id, {osQueued});
    item->Contract = contract;
    item->OrderType = type;
    item->TraderAccount = account;
    item->BuySell = Buy;
    item->Price = price;
    item->DateClientSent = "20240102";
    item->TimeClientSent = "101010";
    return item;
  }
  TFakeOrderServices refs;
  std::shared_ptr<TContractItem> contract;
  std::shared_ptr<TOrderTypeItem> type;
  std::shared_ptr<TTraderAccountItem> account;
};

TEST_F(OrderQMatchTest, MatchesWithinTolerance) {
  struct {
    double HostPrice;
    const char* Matched;
  } const cases[] = {{100.000000005, "N1"}, {100.00000002, ""}};
  for (const auto& c : cases) {
    orders.Clear();
    ASSERT_TRUE(orders.Add(Order("N1", 100.0)));
    EXPECT_EQ(orders.MatchOrder(*Order("4711", c.HostPrice)), c.Matched) << c.HostPrice;
    const bool matched = *c.Matched != '\0';
    EXPECT_EQ(orders.FindOrder("4711") != nullptr, matched);
    EXPECT_EQ(orders.FindOrder("N1") != nullptr, !matched);
    if (matched) {
      EXPECT_EQ(orders.FindOrder("4711")->DisplayID, "4711");
    }
  }
}

TEST_F(OrderQMatchTest, EachTermMustMatch) {
  const std::function<void(TOrderItem&)> changes[] = {
      [](TOrderItem& o) { o.TargetLots = 11; },
      [](TOrderItem& o) { o.Price2 = 1; },
      [](TOrderItem& o) { o.BuySell = Sell; },
      [](TOrderItem& o) { o.TimeClientSent = "1"; },
      [](TOrderItem& o) { o.SetLinkedOrder("5"); },
      [](TOrderItem& o) { o.XRefP = 3; },
      [this](TOrderItem& o) { o.Contract = refs.AddContract("EX", "COM", "SEP24"); },
      [](TOrderItem& o) { o.TraderAccount.reset(); }};
  ASSERT_TRUE(orders.Add(Order("N1", 100.0)));
  for (const auto& change : changes) {
    auto host = Order("4711", 100.0);
    change(*host);
    EXPECT_EQ(orders.MatchOrder(*host), "");
  }
  EXPECT_EQ(orders.MatchOrder(*Order("abc", 100.0)), "");  // not a host ID
}

TEST_F(OrderQMatchTest, NeverDropsAHistoryOnAKeyCollision) {
  ASSERT_TRUE(orders.Add(Order("N1", 100.0)));
  ASSERT_TRUE(orders.Add(Order("4711", 50.0)));
  EXPECT_EQ(orders.MatchOrder(*Order("4711", 100.0)), "");
  EXPECT_EQ(orders.Count(), 2);
  EXPECT_TRUE(orders.FindOrder("N1"));
}

// The log of the heads tried is written with the order log on, and nothing without it.
TEST_F(OrderQMatchTest, LogsTheHeadsTriedWithTheOrderLogOn) {
  TTempDir dir;
  ResetTraceState();
  OpenTraceFile();
  ASSERT_TRUE(orders.Add(Order("N1", 100.0)));
  ASSERT_TRUE(orders.Add(Order("N2", 50.0)));
  const auto written = [&](const std::string& id, double price) {
    const std::string before = ReadFileText(TraceFileName());
    orders.MatchOrder(*Order(id, price));
    std::string text = ReadFileText(TraceFileName()).substr(before.size());
    return text.size() > 13 ? text.substr(13) : text;  // without the time
  };
  EXPECT_EQ(written("abc", 50.0), "");
  EnableDebugFlags(kGenerateOrderLog);
  EXPECT_EQ(written("4711", 50.0), "Trying to Match 4711 : N1 N2: Matched to N2 at Index 1\r\n");
  EXPECT_EQ(written("4712", 75.0), "Trying to Match 4712 : N1: Not matched\r\n");
  EXPECT_EQ(written("abc", 50.0), "Not matching abc\r\n");
  DisableDebugFlags(kGenerateOrderLog);
  EXPECT_EQ(written("4713", 75.0), "");
  ResetTraceState();
}

TEST_F(OrderQMatchTest, WorksOutMarginAndReportsAccountChanges) {
  TFieldsList fields;
  fields.SetFields("X1=F\x01Mar=100\x01");
  contract->SetFields(fields);
  struct {
    const char* Currency;
    double Rate;
    TOrderStatus Status;
    double Margin;
  } const cases[] = {
      {"GBP", 2.0, osWorking, 300.0},  // (10 - 4) lots x 100 / 2
      {"GBP", 0.0, osWorking, 0.0},   {"", 2.0, osWorking, 0.0},
      {"GBP", 2.0, osFilled, 0.0},    {"GBP", 2.0, osCancHeldOrder, 0.0},
  };
  for (const auto& c : cases) {
    contract->GetCommodity()->Currency = c.Currency;
    host->rate = c.Rate;
    auto item = Order("600", 100.0);
    item->Status = c.Status;
    item->Filled = 4;
    ASSERT_TRUE(orders.Add(item));
    EXPECT_DOUBLE_EQ(item->MarginRequired, c.Margin) << c.Currency << " " << c.Rate;
  }
  EXPECT_DOUBLE_EQ(orders.GetAccountMargin(" ACC "), 0.0);  // head is cancelled
  orders.Add(Order("601", 1.0));
  EXPECT_DOUBLE_EQ(orders.GetAccountMargin("ACC"), 500.0);  // 10 queued lots x 100 / 2
  EXPECT_TRUE(host->accountChanges.empty());

  auto moved = Order("600", 100.0);
  moved->TraderAccount = refs.AddAccount("OTHER");
  host->downloading = true;
  orders.Add(moved->Copy());
  EXPECT_TRUE(host->accountChanges.empty());
  host->downloading = false;
  orders.Add(Order("600", 100.0));
  EXPECT_EQ(host->accountChanges, std::vector<std::string>{"600:OTHER>ACC"});
}

// ---------------------------------------------------------------------------------------------
// Held synthetic orders

class OrderQSyntheticTest : public OrderQMatchTest {
 protected:
  void SetUp() override {
    OrderQMatchTest::SetUp();
    host->types.push_back(refs.AddOrderType("EX", "Market", otMarket));
    host->types.push_back(refs.AddOrderType("EX", "Limit2", otLimit));
  }
  std::shared_ptr<TOrderItem> Held(const std::string& id, TOrderTypes kind, TPurchase side,
                                   double trigger) {
    auto item = Order(id, trigger);
    item->Status = osHeldOrder;
    item->OrderType = refs.AddOrderType("EX", "Syn" + IntToStr(kind), kind);
    item->BuySell = side;
    item->Price2 = trigger + 1;
    EXPECT_TRUE(orders.Add(item));
    EXPECT_TRUE(orders.AddSyntheticContract(*item));
    return item;
  }
  std::string Key() const { return TOrderQ::SyntheticContractKey(contract->Key()); }
};

TEST_F(OrderQSyntheticTest, ReleasedAtTheTrigger) {
  struct {
    TOrderTypes Kind;
    TPurchase Side;
    double Last;
    bool Released;
  } const cases[] = {
      {otSyntheticStop, Buy, 50.0, true},      {otSyntheticStop, Buy, 49.9, false},
      {otSyntheticStop, Sell, 50.0, true},     {otSyntheticStop, Sell, 50.1, false},
      {otSyntheticStopLimit, Buy, 50.5, true}, {otSyntheticMIT, Buy, 49.0, true},
      {otSyntheticMIT, Buy, 50.1, false},      {otSyntheticMIT, Sell, 50.1, true},
      {otSyntheticMIT, Sell, 49.9, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(IntToStr(c.Kind) + " side " + IntToStr(c.Side) + " last " + FloatToStr(c.Last));
    orders.Clear();
    sender->ids = {"5001"};
    sender->sent.clear();
    Held("S1", c.Kind, c.Side, 50.0);
    contract->SetPrice(5, 1, c.Last);
    const std::size_t events = CallbackQueueCount();
    orders.CheckSyntheticOrders(*contract);
    EXPECT_EQ(sender->sent.size(), c.Released ? 1u : 0u);
    EXPECT_EQ(orders.FindOrder("S1") == nullptr, c.Released);
    EXPECT_EQ(CallbackQueueCount(), events + (c.Released ? 1 : 0));
    if (!c.Released) {
      orders.ForgetOrder("S1");
      continue;
    }
    const auto& request = sender->sent.front();
    EXPECT_EQ(request->ID, "5001");
    EXPECT_EQ(request->Status, osQueued);
    if (c.Kind == otSyntheticStopLimit) {
      EXPECT_EQ(request->OrderType->OrderTypeID, otLimit);
      EXPECT_EQ(request->Price, 51.0);
      EXPECT_EQ(request->Price2, 0.0);
    } else {
      EXPECT_EQ(request->OrderType->OrderTypeID, otMarket);
      EXPECT_EQ(request->Price, 0.0);
    }
    EXPECT_EQ(orders.FindOrder("5001")->ID, "5001");
    EXPECT_FALSE(orders.IsSyntheticContract(Key()));
  }
}

TEST_F(OrderQSyntheticTest, FreeAllLeavesNoWatchEntryOrHeldCountBehind) {
  ASSERT_TRUE(orders.Add(MakeState("800", {osQueued})));
  ASSERT_TRUE(orders.Add(MakeState("801", {osSent})));
  Held("S1", otSyntheticStop, Buy, 50.0);
  ASSERT_TRUE(orders.QueuedWatch.Contains("800"));
  ASSERT_TRUE(orders.SentWatch.Contains("801"));
  orders.FreeAll();
  EXPECT_FALSE(orders.QueuedWatch.Contains("800"));
  EXPECT_FALSE(orders.SentWatch.Contains("801"));
  EXPECT_FALSE(orders.IsSyntheticContract(Key()));
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 0);
}

TEST_F(OrderQSyntheticTest, NothingReleasedWithoutALastTradeVolume) {
  sender->ids = {"5001"};
  Held("S1", otSyntheticStop, Buy, 50.0);
  contract->SetPrice(5, 0, 60.0);
  orders.CheckSyntheticOrders(*contract);
  EXPECT_TRUE(sender->sent.empty());
  EXPECT_TRUE(orders.FindOrder("S1"));
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 1);
}

TEST_F(OrderQSyntheticTest, LocalIDWaitsAndNoIDKeepsTheOrderHeld) {
  Held("S1", otSyntheticStop, Buy, 50.0);
  contract->SetPrice(5, 1, 50.0);
  sender->ids = {};
  orders.CheckSyntheticOrders(*contract);
  EXPECT_EQ(orders.FindOrder("S1")->Status, osHeldOrder);
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 1);

  sender->ids = {"N7"};
  orders.CheckSyntheticOrders(*contract, "S1");
  EXPECT_TRUE(sender->sent.empty());
  ASSERT_TRUE(orders.FindOrder("N7"));
  EXPECT_EQ(orders.FindOrder("N7")->Status, osQueued);
  EXPECT_EQ(host->unsubscribed.size(), 1u);
}

TEST_F(OrderQSyntheticTest, CancelledHeldOrderReleasesItsContract) {
  Held("S1", otSyntheticStop, Buy, 50.0);
  Held("S2", otSyntheticMIT, Buy, 40.0);
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 2);
  ASSERT_TRUE(orders.Add(MakeState("S1", {osCancHeldOrder})));
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 1);
  EXPECT_EQ(host->unsubscribed.size(), 1u);
  // A second cancel does not count the contract down again.
  ASSERT_TRUE(orders.Add(MakeState("S1", {osCancHeldOrder})));
  EXPECT_EQ(orders.SyntheticContractCount(Key()), 1);
}

TEST_F(OrderQSyntheticTest, ExchangeWithoutTheReleaseTypeKeepsTheOrderHeld) {
  host->types.clear();
  sender->ids = {"5001"};
  Held("S1", otSyntheticStop, Buy, 50.0);
  contract->SetPrice(5, 1, 55.0);
  orders.CheckSyntheticOrders(*contract);
  EXPECT_EQ(orders.FindOrder("S1")->Status, osHeldOrder);
  EXPECT_EQ(sender->ids.size(), 1u);  // no id taken
}

// ---------------------------------------------------------------------------------------------
// Index and store

TEST_F(OrderQTest, IndexFollowsAddReKeyRemoveAndLoad) {
  for (const char* id : {"300", "100", "N2", "S3", "200"})
    ASSERT_TRUE(orders.Add(MakeState(id, {osQueued})));
  auto history = orders.FindOrderList("100");
  ASSERT_TRUE(ReKeyOrderList(orders, history, "150"));
  EXPECT_FALSE(orders.FindOrder("100"));
  EXPECT_EQ(orders.FindOrderList("150"), history);
  EXPECT_EQ(orders.IndexOfOrder("150"), 0);
  ASSERT_TRUE(orders.ReKeyOrder(orders.FindOrderList("N2"), "160"));
  EXPECT_TRUE(orders.QueuedWatch.Contains("160"));
  EXPECT_FALSE(orders.QueuedWatch.Contains("N2"));
  EXPECT_FALSE(orders.ReKeyOrder(orders.FindOrderList("160"), "300"));
  orders.RemoveItem(orders.FindOrderList("200").get());
  EXPECT_FALSE(orders.FindOrder("200"));
  EXPECT_EQ(orders.FindOrderList("12345678901"), nullptr);

  ASSERT_TRUE(orders.Add(MakeState("150", {osWorking})));
  TStream stream;
  orders.SaveToStream(stream);
  stream.SetPosition(0);
  TOrderQ loaded;
  loaded.SetHost(host);
  ASSERT_TRUE(loaded.LoadFromStream(stream, true));
  // Local and held histories are not stored.
  EXPECT_EQ(loaded.Count(), 3);
  EXPECT_FALSE(loaded.FindOrder("N2"));
  EXPECT_FALSE(loaded.FindOrder("S3"));
  ASSERT_TRUE(loaded.FindOrderList("150"));
  EXPECT_EQ(loaded.FindOrderList("150")->Count(), 2);
  EXPECT_EQ(loaded.FindOrder("150")->Status, osWorking);
  EXPECT_EQ(loaded.FindOrder("300")->Status, osQueued);
}

// The host sequence a history holds its states against: the highest of the states taken, read
// back from the store, and forgotten on demand.
TEST_F(OrderQTest, AppliedSequenceIsTheHighestTakenAndIsReadBackFromTheStore) {
  auto sequenced = [](TOrderStatus status, std::int32_t sequence) {
    auto item = MakeState("500", {status});
    item->LastSequence = sequence;
    return item;
  };
  ASSERT_TRUE(orders.Add(sequenced(osWorking, 7)));
  ASSERT_TRUE(orders.Add(sequenced(osFilled, 9)));
  EXPECT_FALSE(orders.Add(sequenced(osCancelled, 12)));  // rule 1: not taken, raises nothing
  EXPECT_EQ(orders.FindOrderList("500")->AppliedSequence(), 9);

  TStream stream;
  orders.SaveToStream(stream);
  stream.SetPosition(0);
  TOrderQ loaded;
  loaded.SetHost(host);
  ASSERT_TRUE(loaded.LoadFromStream(stream, true));
  EXPECT_EQ(loaded.FindOrderList("500")->AppliedSequence(), 9);
  loaded.ForgetAppliedSequences();
  EXPECT_EQ(loaded.FindOrderList("500")->AppliedSequence(), 0);
}

// ---------------------------------------------------------------------------------------------
// Threads: application threads enter orders while a socket thread applies host states, the
// heartbeat counts the watch lists down and prices check held orders.

// ---------------------------------------------------------------------------------------------
// The open-lot index follows every way a head changes.

TEST_F(OrderQSyntheticTest, OpenLotIndexFollowsEveryHeadChange) {
  // A listed order of the account on the contract, in that state.
  auto state = [&](const std::string& id, TState terms, TPurchase side = Buy) {
    auto item = MakeState(id, terms);
    item->Contract = contract;
    item->TraderAccount = account;
    item->BuySell = side;
    return item;
  };
  auto seed = [&](const std::string& id, const std::vector<TState>& states) {
    auto history = Seed(id, states);
    for (int i = 0; i < history->Count(); ++i) {
      history->At(i)->Contract = contract;
      history->At(i)->TraderAccount = account;
      history->At(i)->BuySell = Buy;
    }
    orders.NoteHead(*history);  // the states went in behind Add
    return history;
  };
  struct TCase {
    const char* Name;
    std::function<void()> Change;
    TOpenLots Margin;  // the account's lots on the contract afterwards
    TOpenLots Queued;
  };
  const TCase cases[] = {
      {"a state through the rules",
       [&] {
         orders.Add(state("1", {osWorking, 2, 5}, Sell));
       },
       {0, 3},
       {}},
      {"a queued state",
       [&] {
         orders.Add(state("1", {osQueued, 0, 4}));
       },
       {},
       {4, 0}},
      {"rule 9 in place while rule 25 hides the new state",
       [&] {
         seed("1", {{osPart, 1, 5}, {osORPIPart, 3, 5}});
         orders.Add(state("1", {osPart, 1, 5}));  // the head is now working, 0 filled
       },
       {5, 0},
       {}},
      {"an ORPI fill resolved",
       [&] {
         seed("1", {{osORPIPart, 2, 5}, {osWorking, 0, 5}});
         orders.Add(state("1", {osPart, 3, 5}));
       },
       {2, 0},
       {}},
      {"a state behind the head of a new history",
       [&] {
         orders.AddToHistory(state("1", {osWorking, 0, 6}));
       },
       {6, 0},
       {}},
      {"expiry's closing state",
       [&] {
         orders.Add(state("1", {osWorking, 0, 6}));
         TOrderQServices services(orders, {});
         SetOrderServices(
             std::shared_ptr<IOrderServices>(std::shared_ptr<IOrderServices>(), &services));
         orders.FindOrder("1")->Expire();
         SetOrderServices(nullptr);
       },
       {},
       {}},
      {"a held order released",
       [&] {
         sender->ids = {"5001"};
         Held("S1", otSyntheticStop, Buy, 50.0);
         contract->SetPrice(5, 1, 50.0);
         orders.CheckSyntheticOrders(*contract);
       },
       {},
       {10, 0}},
      {"a held order released to an id listed already (not re-keyed)",
       [&] {
         sender->ids = {"99"};
         Held("S1", otSyntheticStop, Buy, 50.0);
         contract->SetPrice(5, 1, 50.0);
         orders.CheckSyntheticOrders(*contract);
       },
       {},
       {10, 0}},
      {"re-keyed",
       [&] {
         orders.Add(state("N1", {osQueued, 0, 4}));
         orders.ReKeyOrder(orders.FindOrderList("N1"), "7");
       },
       {},
       {4, 0}},
      {"a history outside the list noted",
       [&] {
         auto loose = std::make_shared<TOrderList>("77");
         loose->Add(state("77", {osWorking, 0, 5}));
         orders.NoteHead(*loose);
       },
       {},
       {}},
      {"taken out, then noted",
       [&] {
         orders.Add(state("1", {osWorking, 0, 5}));
         auto history = orders.FindOrderList("1");
         orders.RemoveItem(history.get());
         orders.NoteHead(*history);
       },
       {},
       {}},
      {"removed",
       [&] {
         orders.Add(state("1", {osSent}));
         orders.RemoveItem(orders.FindOrderList("1").get());
       },
       {},
       {}},
      {"removed by key",
       [&] {
         orders.Add(state("1", {osSent}));
         orders.RemoveKey("1");
       },
       {},
       {}},
      {"deleted by key",
       [&] {
         orders.Add(state("1", {osSent}));
         orders.DeleteKey("1");
       },
       {},
       {}},
      {"freed at its index",
       [&] {
         orders.Add(state("1", {osSent}));
         orders.FreeAt(0);
       },
       {},
       {}},
      {"all freed",
       [&] {
         orders.Add(state("1", {osSent}));
         orders.FreeAll();
       },
       {},
       {}},
      {"saved and loaded",
       [&] {
         orders.Add(state("1", {osWorking, 1, 4}));
         orders.Add(state("2", {osSent, 0, 3}, Sell));
         TStream stream;
         orders.SaveToStream(stream);
         stream.SetPosition(0);
         // The references are read back through the services.
         TOrderServiceLookups lookups;
         lookups.FindAccount = [&](std::string_view name) { return refs.FindAccount(name); };
         lookups.FindContract = [&](std::string_view e, std::string_view c, std::string_view d) {
           return refs.FindContract(e, c, d);
         };
         SetOrderServices(std::make_shared<TOrderQServices>(orders, std::move(lookups)));
         ASSERT_TRUE(orders.LoadFromStream(stream, true));
         SetOrderServices(nullptr);
       },
       {3, 3},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    orders.Add(state("99", {osWorking, 0, 1}, Sell));  // listed throughout
    c.Change();
    ASSERT_TRUE(orders.OpenLotsConsistent());
    TOpenLotsByKey margin, queued;
    orders.GatherOpenLots(*account, margin, &queued);
    TOpenLots expected = c.Margin;
    if (orders.FindOrder("99")) expected.Sell += 1;
    EXPECT_EQ(margin[contract->NameKey()], expected);
    EXPECT_EQ(queued[contract->NameKey()], c.Queued);
    orders.Clear();
    ASSERT_TRUE(orders.OpenLotsConsistent());
    margin.clear();
    queued.clear();
    orders.GatherOpenLots(*account, margin, &queued);
    EXPECT_TRUE(margin.empty() && queued.empty());
  }
}

TEST_F(OrderQSyntheticTest, ConcurrentAddApplyAndTick) {
  constexpr int kOrders = 200;
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kOrders; ++i)
        orders.Add(MakeState(IntToStr(10000 * (t + 1) + i), {osQueued}));
    });
  }
  threads.emplace_back([&] {
    for (int round = 0; round < 3; ++round) {
      for (int t = 0; t < 2; ++t) {
        for (int i = 0; i < kOrders; ++i) {
          const std::string id = IntToStr(10000 * (t + 1) + i);
          orders.Add(MakeState(id, {round == 0 ? osSent : round == 1 ? osWorking : osFilled}));
          if (round == 1) orders.AmendingOrders.AddRequest(Request(id, TAmendAction::Cancel));
        }
      }
    }
  });
  threads.emplace_back([&] {
    while (!done.load()) {
      orders.SentWatch.Tick();
      orders.QueuedWatch.Tick();
      orders.AmendingOrders.Tick();
      orders.CheckSyntheticOrders(*contract);
      orders.GetAccountMargin("ACC");
    }
  });
  for (int i = 0; i < 3; ++i)
    threads[static_cast<std::size_t>(i)].join();
  done = true;
  threads.back().join();
  EXPECT_EQ(orders.Count(), 2 * kOrders);
}

}  // namespace
}  // namespace vorn
