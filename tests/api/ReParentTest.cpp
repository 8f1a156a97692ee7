// Re-parenting, done-for-day and the amend and cancel export shells, against a logged-on API
// object whose order requests are recorded instead of sent. Host states are put into the order
// list through the order-state rules, as the message receivers do.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/OrderEntry.h"
#include "api/ReParent.h"
#include "core/session/ClassAPI.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr std::int32_t kAddRequest = 3301;
constexpr std::int32_t kAmendRequest = 3302;
constexpr std::int32_t kCancelRequest = 3303;

class ReParentTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    AddOrderType("CUSTOMER", kCustomerRequestTypeID, 1);
    auto trader2 = std::make_shared<TTraderAccountItem>("TRADER2");
    trader2->Tradable = true;
    Api().Accounts.Add(trader2);
  }

  // A host state of a buy of 5 lots (2 done) of the future at 100 for TRADER1, of the order type
  // named, under the parent "800".
  std::shared_ptr<TOrderItem> State(const std::string& id, const char* type, TOrderStatus status) {
    auto item = std::make_shared<TOrderItem>();
    item->ID = id;
    item->DisplayID = id;
    item->UserName = "USER1";
    item->Contract = Future();
    item->OrderType = Api().OrderTypes.FindOrderType("LIFFE", type);
    item->TraderAccount = Api().Accounts.FindAccount("TRADER1");
    item->BuySell = Buy;
    item->Price = 100;
    item->Status = status;
    item->TargetLots = 5;
    item->ActualLots = 2;
    item->SetParentID("800");
    item->OrderHistorySeq = ++sequence_;
    return item;
  }
  void Put(const std::shared_ptr<TOrderItem>& item) {
    ASSERT_TRUE(Api().Orders.Add(item)) << item->ID;
  }
  int Versions(const std::string& id) { return Api().Orders.FindOrderList(id)->Count(); }

  std::int32_t sequence_ = 0;
};

// Every refused move leaves the order as it was, sends nothing and makes no parent.
TEST_F(ReParentTest, RefusedMovesGive45AndChangeNothing) {
  const auto gilt = [this] { return Api().Contracts.FindContract("LIFFE", "GILT", "MAR27"); };
  const struct {
    const char* name;
    const char* orderType;
    const char* parentType;
    std::function<void(TOrderItem& order, TOrderItem& parent)> change;
    const char* newParent;  // null: the parent made for the case
  } cases[] = {
      {"parent not a customer request", "LIMIT", "LIMIT", nullptr, nullptr},
      {"limit order under an aggregate order", "LIMIT", "AGGR", nullptr, nullptr},
      {"aggregate order", "AGGR", "CUSTOMER", nullptr, nullptr},
      {"customer request under a customer request", "CUSTOMER", "CUSTOMER", nullptr, nullptr},
      {"other commodity", "LIMIT", "CUSTOMER", [&](auto&, auto& p) { p.Contract = gilt(); },
       nullptr},
      {"other contract date", "LIMIT", "CUSTOMER",
       [this](auto&, auto& p) { p.Contract = Option(); }, nullptr},
      {"other trader account", "LIMIT", "CUSTOMER",
       [this](auto&, auto& p) { p.TraderAccount = Api().Accounts.FindAccount("TRADER2"); },
       nullptr},
      {"unknown new parent", "LIMIT", "CUSTOMER", nullptr, "999"},
      {"no parent is made for an aggregate order", "AGGR", "CUSTOMER", nullptr, "-1"},
      {"customer request not made (view-only account)", "LIMIT", "CUSTOMER",
       [this](auto& o, auto&) { o.TraderAccount = Api().Accounts.FindAccount("VIEWER"); }, "-1"},
      {"aggregate order not made (view-only account)", "CUSTOMER", "AGGR",
       [this](auto& o, auto&) { o.TraderAccount = Api().Accounts.FindAccount("VIEWER"); }, "-1"},
      {"parent not made (order without a contract)", "LIMIT", "CUSTOMER",
       [](auto& o, auto&) { o.Contract = nullptr; }, "-1"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string orderID = std::to_string(900 + n), parentID = std::to_string(700 + n);
    ++n;
    auto order = State(orderID, c.orderType, osWorking);
    auto parent = State(parentID, c.parentType, osWorking);
    if (c.change) c.change(*order, *parent);
    Put(order);
    Put(parent);
    const int count = Api().Orders.Count();

    EXPECT_EQ(vnReParent(orderID.c_str(), c.newParent ? c.newParent : parentID.c_str()), 45)
        << c.name;
    EXPECT_EQ(Api().Orders.Count(), count) << c.name;
    EXPECT_EQ(Versions(orderID), 1) << c.name;
    EXPECT_EQ(Api().Orders.FindOrder(orderID)->ParentID(), "800") << c.name;
    EXPECT_TRUE(requests_->OrderRequests().empty()) << c.name;
  }
}

// The amend goes out with the new parent; a customer request's move under an aggregate order
// compares no contract or account.
TEST_F(ReParentTest, AllowedMovesSendTheAmendWithTheNewParent) {
  const struct {
    const char* name;
    const char* orderType;
    const char* parentType;
    bool otherContract;
  } cases[] = {
      {"limit order under a customer request", "LIMIT", "CUSTOMER", false},
      {"customer request under an aggregate order", "CUSTOMER", "AGGR", false},
      {"customer request under an aggregate order of another contract", "CUSTOMER", "AGGR", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string orderID = std::to_string(900 + n), parentID = std::to_string(700 + n);
    ++n;
    Put(State(orderID, c.orderType, osWorking));
    auto parent = State(parentID, c.parentType, osWorking);
    if (c.otherContract) parent->Contract = Api().Contracts.FindContract("LIFFE", "GILT", "MAR27");
    Put(parent);
    const auto before = requests_->OrderRequests().size();

    ASSERT_EQ(vnReParent(orderID.c_str(), parentID.c_str()), 0) << c.name;
    const auto requests = requests_->OrderRequests();
    ASSERT_EQ(requests.size(), before + 1) << c.name;
    EXPECT_EQ(requests.back().Code, kAmendRequest) << c.name;
    EXPECT_EQ(requests.back().Order->ID, orderID) << c.name;
    EXPECT_EQ(requests.back().Order->ParentID(), parentID) << c.name;
    EXPECT_EQ(requests.back().Order->TargetLots, 5) << c.name;
    const auto current = Api().Orders.FindOrder(orderID);
    EXPECT_EQ(current->Status, osAmendPending) << c.name;
    EXPECT_EQ(current->ParentID(), parentID) << c.name;
  }
}

// "-1" makes the parent first: an aggregate order for a customer request, a customer request for
// any other order; then the order is amended under it.
TEST_F(ReParentTest, NewParentMinusOneIsMadeAndTheOrderAmendedUnderIt) {
  const struct {
    const char* orderType;
    TPurchase side;
    std::int32_t parentTypeID;
    std::int32_t parentLots;
    char parentDoneForDay;
  } cases[] = {
      {"CUSTOMER", Sell, otAggregateOrder, 0, 'N'},
      {"LIMIT", Buy, kCustomerRequestTypeID, 2, '\0'},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string orderID = std::to_string(900 + n);
    const std::string parentID = std::to_string(1001 + n);
    ++n;
    auto order = State(orderID, c.orderType, osWorking);
    order->BuySell = c.side;
    order->Price = 101.5;
    Put(order);
    AddHostOrderIDs(std::stoi(parentID), 1);
    const auto before = requests_->OrderRequests().size();

    ASSERT_EQ(vnReParent(orderID.c_str(), "-1"), 0) << c.orderType;
    const auto parent = Api().Orders.FindOrder(parentID);
    ASSERT_NE(parent, nullptr) << c.orderType;
    EXPECT_EQ(std::int32_t{parent->OrderType->OrderTypeID}, c.parentTypeID) << c.orderType;
    EXPECT_EQ(parent->BuySell, c.side) << c.orderType;
    EXPECT_EQ(parent->Contract, Future()) << c.orderType;
    EXPECT_EQ(parent->GetTraderAccountName(), "TRADER1") << c.orderType;
    EXPECT_EQ(parent->TargetLots, c.parentLots) << "the order's lots done" << c.orderType;
    EXPECT_EQ(parent->DoneForDay, c.parentDoneForDay) << c.orderType;
    EXPECT_EQ(parent->ParentID(), "") << c.orderType;

    const auto requests = requests_->OrderRequests();
    ASSERT_EQ(requests.size(), before + 2) << c.orderType;
    EXPECT_EQ(requests[before].Code, kAddRequest) << c.orderType;
    EXPECT_EQ(requests[before].Order->ID, parentID) << c.orderType;
    EXPECT_EQ(requests[before + 1].Code, kAmendRequest) << c.orderType;
    EXPECT_EQ(requests[before + 1].Order->ID, orderID) << c.orderType;
    EXPECT_EQ(requests[before + 1].Order->ParentID(), parentID) << c.orderType;
    EXPECT_DOUBLE_EQ(requests[before + 1].Order->Price, 101.5) << c.orderType;
  }
  const auto made = Api().Orders.FindOrder("1002");
  EXPECT_DOUBLE_EQ(made->Price, 101.5) << "the customer request takes the order's price";
}

TEST_F(ReParentTest, UnknownOrdersOrdersWithoutAParentAndNotReady) {
  EXPECT_EQ(vnReParent("999", "800"), 25);
  EXPECT_EQ(vnDoneForDay("999"), 25);

  auto orphan = State("900", "LIMIT", osWorking);
  orphan->SetParentID(" ");
  Put(orphan);
  AddHostOrderIDs(1001, 1);
  EXPECT_EQ(vnReParent("900", "-1"), 0) << "an order without a parent is left as it is";
  EXPECT_EQ(vnReParent("900", "999"), 0);
  EXPECT_EQ(Api().Orders.Count(), 1) << "no parent made";
  EXPECT_TRUE(requests_->OrderRequests().empty());

  Api().Logon.LoggedOn = false;
  EXPECT_EQ(ReParent(Api(), "900", "-1"), 4);
  EXPECT_EQ(DoneForDay(Api(), "900"), 4);
}

// A parked amend (47) is sent once the order's state arrives: the calls report it as done. Any
// other result of the amend is the calls' own.
TEST_F(ReParentTest, ReturnTheAmendsResultWithAParkedAmendAsDone) {
  Put(State("700", "CUSTOMER", osWorking));
  Put(State("901", "LIMIT", osQueued));
  Put(State("902", "LIMIT", osSent));
  Put(State("903", "AGGR", osQueued));
  Put(State("904", "AGGR", osSent));

  EXPECT_EQ(vnReParent("901", "700"), 0);
  EXPECT_TRUE(Api().Orders.AmendingOrders.Contains("901"));
  EXPECT_EQ(vnDoneForDay("903"), 0);
  EXPECT_TRUE(Api().Orders.AmendingOrders.Contains("903"));
  EXPECT_EQ(vnReParent("902", "700"), VN_RC_INVALID_ORDER_STATE);
  EXPECT_EQ(vnDoneForDay("904"), VN_RC_INVALID_ORDER_STATE);
  EXPECT_EQ(Api().Orders.AmendingOrders.Count(), 2u);
  EXPECT_TRUE(requests_->OrderRequests().empty());
}

TEST_F(ReParentTest, DoneForDaySwitchesAnAggregateOrdersFlag) {
  const struct {
    char flag;
    char switched;
  } cases[] = {{'N', 'Y'}, {'Y', 'N'}, {'\0', 'Y'}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = std::to_string(900 + n++);
    auto order = State(id, "AGGR", osWorking);
    order->DoneForDay = c.flag;
    Put(order);
    ASSERT_EQ(vnDoneForDay(id.c_str()), 0) << id;
    const auto requests = requests_->OrderRequests();
    ASSERT_EQ(requests.size(), static_cast<std::size_t>(n)) << id;
    EXPECT_EQ(requests.back().Code, kAmendRequest) << id;
    EXPECT_EQ(requests.back().Order->DoneForDay, c.switched) << id;
    EXPECT_EQ(requests.back().Order->ParentID(), "800") << "the rest as it was";
    EXPECT_EQ(Api().Orders.FindOrder(id)->DoneForDay, c.switched) << id;
  }
  Put(State("950", "LIMIT", osWorking));
  Put(State("951", "CUSTOMER", osWorking));
  EXPECT_EQ(vnDoneForDay("950"), VN_RC_DONE_FOR_DAY_NOT_ALLOWED);
  EXPECT_EQ(vnDoneForDay("951"), VN_RC_DONE_FOR_DAY_NOT_ALLOWED);
  EXPECT_EQ(requests_->OrderRequests().size(), 3u);
}

// --- The export shells ------------------------------------------------------------------------

using ReParentExportsTest = ReParentTest;

AmendOrderStruct AmendOf(const TOrderItem& order) {
  AmendOrderStruct record;
  std::memset(&record, 0, sizeof record);
  PutTextAndNul(record.Price, "100");
  record.Lots = order.TargetLots;
  PutTextAndNul(record.TraderAccount, "TRADER1");
  PutTextAndNul(record.ParentID, order.ParentID());
  return record;
}

TEST_F(ReParentExportsTest, EveryExportRefusesWithoutALoggedOnObject) {
  AmendOrderStruct record;
  std::memset(&record, 0, sizeof record);
  const std::function<std::int32_t()> calls[] = {
      [&] { return vnAmendOrder("900", &record); },
      [&] { return vnAmendOrderEx("900", &record, "U"); },
      [] { return vnReParent("900", "-1"); },
      [] { return vnDoneForDay("900"); },
      [] { return vnCancelOrder("900"); },
      [] { return vnCancelOrderEx("900", "U"); },
      [] { return vnCancelBuys("TRADER1", "LIFFE", "FTSE", "MAR27"); },
      [] { return vnCancelSells("TRADER1", "LIFFE", "FTSE", "MAR27"); },
      [] { return vnCancelOrders("TRADER1", "LIFFE", "FTSE", "MAR27"); },
      [] { return vnCancelBuysEx("TRADER1", "LIFFE", "FTSE", "MAR27", "U"); },
      [] { return vnCancelSellsEx("TRADER1", "LIFFE", "FTSE", "MAR27", "U"); },
      [] { return vnCancelAll("TRADER1"); },
      [] { return vnCancelAllEx("TRADER1", "U"); },
  };
  Put(State("900", "LIMIT", osWorking));
  Api().Logon.LoggedOn = false;
  int n = 0;
  for (const auto& call : calls)
    EXPECT_EQ(call(), VN_RC_NOT_LOGGED_ON) << "export " << n++;
  EXPECT_TRUE(requests_->OrderRequests().empty());

  api_.reset();
  vnLogOff();
  n = 0;
  for (const auto& call : calls)
    EXPECT_EQ(call(), VN_RC_NOT_INITIALISED) << "export " << n++;
}

TEST_F(ReParentExportsTest, AmendTakesTheLoggedOnOrTheNamedUserAndNeedsItsRecord) {
  Put(State("900", "LIMIT", osWorking));
  Put(State("901", "LIMIT", osWorking));
  EXPECT_EQ(vnAmendOrder("900", nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_EQ(vnAmendOrderEx("900", nullptr, "U"), VN_RC_UNEXPECTED_ERROR);
  EXPECT_TRUE(requests_->OrderRequests().empty());

  const AmendOrderStruct record = AmendOf(*Api().Orders.FindOrder("900"));
  ASSERT_EQ(vnAmendOrder(" 900 ", &record), 0) << "the ID is read as the order queries read it";
  ASSERT_EQ(vnAmendOrderEx("901", &record, "ABCDEFGHIJKLMNOP"), 0);
  EXPECT_EQ(Api().Orders.FindOrder("900")->UserName, "USER1");
  EXPECT_EQ(Api().Orders.FindOrder("901")->UserName, "ABCDEFGHIJK") << "as vnAddOrderEx cuts it";
  EXPECT_EQ(requests_->OrderRequests().size(), 2u);
  EXPECT_EQ(vnAmendOrder(nullptr, &record), VN_RC_INVALID_ORDER_ID) << "a null ID reads as empty";
}

// Each contract-wide export takes its side; the Ex forms cancel for the named user.
TEST_F(ReParentExportsTest, CancelExportsSelectTheirSideAndUser) {
  const char* const kLong = "ABCDEFGHIJKLMNOP";
  const struct {
    const char* name;
    std::function<std::int32_t()> call;
    std::set<std::string> cancelled;  // of "buy", "sell"
    std::string user;
  } cases[] = {
      {"vnCancelBuys",
       [] { return vnCancelBuys("TRADER1", "LIFFE", "FTSE", "MAR27"); },
       {"buy"},
       "USER1"},
      {"vnCancelSells",
       [] { return vnCancelSells("TRADER1", "LIFFE", "FTSE", "MAR27"); },
       {"sell"},
       "USER1"},
      {"vnCancelOrders",
       [] { return vnCancelOrders("TRADER1", "LIFFE", "FTSE", "MAR27"); },
       {"buy", "sell"},
       "USER1"},
      {"vnCancelBuysEx",
       [&] { return vnCancelBuysEx("TRADER1", "LIFFE", "FTSE", "MAR27", kLong); },
       {"buy"},
       "ABCDEFGHIJK"},
      {"vnCancelSellsEx",
       [&] { return vnCancelSellsEx("TRADER1", "LIFFE", "FTSE", "MAR27", kLong); },
       {"sell"},
       "ABCDEFGHIJK"},
      {"vnCancelAll", [] { return vnCancelAll("TRADER1"); }, {"buy", "sell"}, "USER1"},
      {"vnCancelAllEx",
       [&] { return vnCancelAllEx("TRADER1", kLong); },
       {"buy", "sell"},
       "ABCDEFGHIJK"},
      {"vnCancelOrder", [] { return vnCancelOrder("9000000000 tail"); }, {"buy"}, "USER1"},
      {"vnCancelOrderEx",
       [&] { return vnCancelOrderEx("9000000001", kLong); },
       {"sell"},
       "ABCDEFGHIJK"},
  };
  for (const auto& c : cases) {
    Api().Orders.Clear();
    Put(State("9000000000", "LIMIT", osWorking));
    auto sell = State("9000000001", "LIMIT", osWorking);
    sell->BuySell = Sell;
    Put(sell);
    const auto before = requests_->OrderRequests().size();

    EXPECT_EQ(c.call(), 0) << c.name;
    const auto requests = requests_->OrderRequests();
    std::set<std::string> cancelled;
    for (auto r = requests.begin() + static_cast<std::ptrdiff_t>(before); r != requests.end();
         ++r) {
      EXPECT_EQ(r->Code, kCancelRequest) << c.name;
      EXPECT_EQ(r->Order->UserName, c.user) << c.name;
      cancelled.insert(r->Order->BuySell == Buy ? "buy" : "sell");
    }
    EXPECT_EQ(cancelled, c.cancelled) << c.name;
    EXPECT_EQ(requests.size() - before, c.cancelled.size()) << c.name;
  }
}

// With the user-ID filter on, the named user, cut as vnAddOrderEx cuts it, selects the orders.
TEST_F(ReParentExportsTest, NamedUserFiltersWithTheNameCutAsOrderEntryCutsIt) {
  auto named = State("900", "LIMIT", osWorking);
  named->UserName = "ABCDEFGHIJK";
  Put(named);
  Put(State("901", "LIMIT", osWorking));
  ASSERT_EQ(vnSetUserIDFilter('Y'), 0);
  EXPECT_EQ(vnCancelBuysEx("TRADER1", "LIFFE", "FTSE", "MAR27", "ABCDEFGHIJKLMNOP"), 0);
  const auto requests = requests_->OrderRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Code, kCancelRequest);
  EXPECT_EQ(requests[0].Order->ID, "900");
}

}  // namespace
}  // namespace vorn
