// Amend and cancel bodies against a logged-on API object whose order requests are recorded. The
// host's order states are put in as its receivers do: a copy of the head, changed, added through
// the order list's rules.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderQ.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/TimeZone.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

struct TEvent {
  std::int32_t Id;
  std::string OrderID;
  int Status;  // order events only
};

// The texts an order-entry and an amend record share, each as the prefix and a short name.
template <class Record>
void FillTexts(Record& r, const std::string& prefix) {
  PutTextAndNul(r.BatchID, prefix + "batch");
  PutTextAndNul(r.BatchType, prefix + "type");
  PutTextAndNul(r.BatchStatus, prefix + "status");
  PutTextAndNul(r.BigRefField, prefix + "big");
  PutTextAndNul(r.SenderLocationID, prefix + "loc");
  PutTextAndNul(r.Rawprice, prefix + "raw1");
  PutTextAndNul(r.Rawprice2, prefix + "raw2");
  PutTextAndNul(r.ExecutionID, prefix + "exec");
  PutTextAndNul(r.ClientID, prefix + "client");
  PutTextAndNul(r.ESARef, prefix + "esa");
  PutTextAndNul(r.YDSPAudit, prefix + "ydsp");
  PutTextAndNul(r.ICSNearLegPrice, prefix + "near");
  PutTextAndNul(r.ICSFarLegPrice, prefix + "far");
  PutTextAndNul(r.LocalUserName, prefix + "lu");
  PutTextAndNul(r.LocalTraderAccount, prefix + "lta");
  PutTextAndNul(r.LocalBOF, prefix + "lbof");
  PutTextAndNul(r.LocalOrderID, prefix + "loid");
  PutTextAndNul(r.LocalEAC, prefix + "leac");
  PutTextAndNul(r.RoutingID1, prefix + "rt1");
  PutTextAndNul(r.RoutingID2, prefix + "rt2");
}

class AmendCancelTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    StopCallbackThread();
    AddHostOrderIDs(1001, 200);
    trader2_ = std::make_shared<TTraderAccountItem>("TRADER2");
    trader2_->Tradable = true;
    Api().Accounts.Add(trader2_);
  }

  // A limit buy of 2 lots, every text of the record's tail filled with an "o-" value.
  static NewOrderStruct EntryRecord() {
    NewOrderStruct record = LimitOrder();
    FillTexts(record, "o-");
    record.Lots = 2;
    PutTextAndNul(record.LinkedOrder, "1");
    PutTextAndNul(record.Reference, "o-ref");
    record.Priority = 3;
    PutTextAndNul(record.TriggerDate, "15012027");
    PutTextAndNul(record.TriggerTime, "080000");
    record.DoneForDay = 'N';
    record.MaxClipSize = 4;
    return record;
  }

  std::string Enter(const NewOrderStruct& record, std::string_view user = "USER1") {
    char id[11] = {};
    EXPECT_EQ(vnAddOrderEx(&record, id, std::string(user).c_str()), 0);
    return id;
  }

  // The host's next state of the order: the head copied, changed and added under the list's
  // lock.
  void Deliver(std::string_view id, TOrderStatus status,
               const std::function<void(TOrderItem&)>& change = {}) {
    TOrderQGuard guard(Api().Orders);
    auto head = Api().Orders.FindOrder(id);
    ASSERT_NE(head, nullptr) << id;
    auto next = head->Copy();
    next->Status = status;
    if (change) change(*next);
    ASSERT_TRUE(Api().Orders.Add(next)) << id;
  }

  // An order of the record (a synthetic stop for a held one) brought to the state by the
  // host's replies.
  std::string OrderIn(TOrderStatus status, NewOrderStruct record = EntryRecord()) {
    if (status == osHeldOrder) PutTextAndNul(record.OrderType, "SYNSTOP");
    const std::string id = Enter(record);
    switch (status) {
      case osQueued:
      case osHeldOrder:
        break;
      case osSent:
        Deliver(id, osSent);
        break;
      case osRejected:
        Deliver(id, osSent);
        Deliver(id, osRejected);
        break;
      default:
        Deliver(id, osSent);
        Deliver(id, osWorking);
        break;
    }
    switch (status) {
      case osPart:
        Deliver(id, osPart, [](TOrderItem& o) { o.Filled = 1; });
        break;
      case osFilled:
        Deliver(id, osFilled, [](TOrderItem& o) { o.Filled = o.TargetLots; });
        break;
      case osCancelled:  // the host confirms with the lots cut to what was filled
        Deliver(id, osCancelled, [](TOrderItem& o) { o.TargetLots = o.ActualLots = 0; });
        break;
      case osBalCancelled:
        Deliver(id, osPart, [](TOrderItem& o) { o.Filled = 1; });
        Deliver(id, osBalCancelled, [](TOrderItem& o) { o.TargetLots = o.ActualLots = 1; });
        break;
      case osAmendPending:
      case osCancelPending:
        Deliver(id, status);
        break;
      case osORPIPart:
        Deliver(id, osORPIPart, [](TOrderItem& o) {
          o.Filled = 1;
          o.ActualLots = 2;
        });
        break;
      default:
        break;
    }
    auto head = Api().Orders.FindOrder(id);
    EXPECT_EQ(head ? head->Status : osIllegal, status) << "setting up " << id;
    return id;
  }

  // The recorded requests of that code, in sending order.
  std::vector<TFakeLinkRequests::TOrderRequest> Requests(std::int32_t code) const {
    std::vector<TFakeLinkRequests::TOrderRequest> out;
    for (auto& request : requests_->OrderRequests())
      if (request.Code == code) out.push_back(request);
    return out;
  }
  std::vector<std::string> RequestIDs(std::int32_t code) const {
    std::vector<std::string> ids;
    for (const auto& request : Requests(code))
      ids.push_back(request.Order->ID);
    return ids;
  }

  // Order and amend-failure events queued so far, in posting order.
  static std::vector<TEvent> Events() {
    std::vector<TEvent> events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      if (delivery.Id == VN_CB_ORDER) {
        OrderUpdateStruct update;
        std::memcpy(&update, delivery.Payload.data(), sizeof update);
        events.push_back({delivery.Id, GetFixed(update.OrderID), update.Status});
      } else if (delivery.Id == VN_CB_AMEND_FAILURE) {
        OrderFailureStruct failure;
        std::memcpy(&failure, delivery.Payload.data(), sizeof failure);
        events.push_back({delivery.Id, GetFixed(failure.OrderID), 0});
      }
    }
    return events;
  }

  std::shared_ptr<TOrderItem> Head(std::string_view id) const { return api_->Orders.FindOrder(id); }
  void SetAmendEnabled(bool on) { Api().Exchanges.FindExchange("LIFFE")->AmendEnabled = on; }

  std::shared_ptr<TTraderAccountItem> trader2_;
  TScopedTimeZone zone_{"Europe/London"};
};

// ---------------------------------------------------------------------------------------------
// The amend record's fields by state class

enum TCopied { kWorking, kWorkingOrPost, kAll, kNever };

struct TFieldCheck {
  const char* Name;
  TCopied Copied;
  std::function<std::string(const TOrderItem&)> Get;
  std::string Amended;  // the value the amend record's field gives the order
};

std::string Text(double value) {
  return FloatToStr(value);
}
std::string Text(std::int32_t value) {
  return IntToStr(value);
}
std::string Text(char value) {
  return std::string(1, value);
}

// Every field with a value distinct from the order's own.
AmendOrderStruct FullAmendRecord() {
  AmendOrderStruct r;
  std::memset(&r, 0, sizeof r);
  FillTexts(r, "a-");
  PutTextAndNul(r.Price, "101.37");
  PutTextAndNul(r.Price2, "99.84");
  r.Lots = 7;
  PutTextAndNul(r.LinkedOrder, "4321");
  r.OpenOrClose = 'C';
  PutTextAndNul(r.TraderAccount, "TRADER2");
  std::memset(r.Reference, 'R', sizeof r.Reference);  // no NUL: the width bounds the read
  r.Reference[0] = 'a';
  r.Priority = 9;
  PutTextAndNul(r.TriggerDate, "01072027");
  PutTextAndNul(r.TriggerTime, "103000");
  r.BatchCount = 77;
  PutTextAndNul(r.ParentID, "a-parent");
  r.DoneForDay = 'Y';
  r.MaxClipSize = 5;
  return r;
}

const std::vector<TFieldCheck>& FieldChecks() {
  using O = const TOrderItem&;
  static const std::vector<TFieldCheck> checks = {
      // 4 ticks a point keep one decimal.
      {"Price", kWorking, [](O o) { return Text(o.Price); }, "101.4"},
      {"Price2", kWorking, [](O o) { return Text(o.Price2); }, "99.8"},
      {"TargetLots", kWorking, [](O o) { return Text(o.TargetLots); }, "7"},
      {"LinkedOrder", kWorking, [](O o) { return o.LinkedOrder(); }, "4321"},
      {"OpenOrClose", kWorking, [](O o) { return Text(o.OpenOrClose); }, "C"},
      {"TraderAccount", kWorkingOrPost, [](O o) { return o.GetTraderAccountName(); }, "TRADER2"},
      {"Reference", kWorkingOrPost, [](O o) { return o.GetReference(); },
       "a" + std::string(24, 'R')},
      {"Priority", kWorking, [](O o) { return Text(o.Priority); }, "9"},
      // 10:30 local on a summer day is 09:30 UTC.
      {"TriggerDate", kWorking, [](O o) { return o.TriggerDate(); }, "20270701"},
      {"TriggerTime", kWorking, [](O o) { return o.TriggerTime(); }, "093000"},
      {"BatchID", kAll, [](O o) { return o.BatchID(); }, "a-batch"},
      {"BatchType", kNever, [](O o) { return o.BatchType(); }, "a-type"},
      {"BatchCount", kAll, [](O o) { return Text(o.BatchCount); }, "77"},
      {"BatchStatus", kAll, [](O o) { return o.BatchStatus(); }, "a-status"},
      {"ParentID", kAll, [](O o) { return o.ParentID(); }, "a-parent"},
      {"DoneForDay", kAll, [](O o) { return Text(o.DoneForDay); }, "Y"},
      {"BigRefField", kAll, [](O o) { return o.BigRefField(); }, "a-big"},
      {"SenderLocationID", kAll, [](O o) { return o.SenderLocationID(); }, "a-loc"},
      {"Rawprice", kAll, [](O o) { return o.Rawprice(); }, "a-raw1"},
      {"Rawprice2", kAll, [](O o) { return o.Rawprice2(); }, "a-raw2"},
      {"ExecutionID", kAll, [](O o) { return o.ExecutionID(); }, "a-exec"},
      {"ClientID", kAll, [](O o) { return o.ClientID(); }, "a-client"},
      {"ESARef", kNever, [](O o) { return o.ESARef(); }, "a-esa"},
      {"YDSPAudit", kAll, [](O o) { return o.YDSPAudit(); }, "a-ydsp"},
      {"ICSNearLegPrice", kAll, [](O o) { return o.ICSNearLegPrice(); }, "a-near"},
      {"ICSFarLegPrice", kAll, [](O o) { return o.ICSFarLegPrice(); }, "a-far"},
      {"MaxClipSize", kWorking, [](O o) { return Text(o.MaxClipSize); }, "5"},
      {"LocalUserName", kWorking, [](O o) { return o.LocalUserName(); }, "a-lu"},
      {"LocalTraderAccount", kWorking, [](O o) { return o.LocalTraderAccount(); }, "a-lta"},
      {"LocalBOF", kWorking, [](O o) { return o.LocalBOF(); }, "a-lbof"},
      {"LocalOrderID", kWorking, [](O o) { return o.LocalOrderID(); }, "a-loid"},
      {"LocalEAC", kWorking, [](O o) { return o.LocalEAC(); }, "a-leac"},
      {"RoutingID1", kWorking, [](O o) { return o.RoutingID1(); }, "a-rt1"},
      {"RoutingID2", kWorking, [](O o) { return o.RoutingID2(); }, "a-rt2"},
  };
  return checks;
}

TEST_F(AmendCancelTest, AmendCopiesTheRecordFieldsOfTheOrdersStateClass) {
  SetAmendEnabled(true);
  Api().Features.PostTradeAmend = true;  // a filled order may change account
  enum TClass { kW, kP, kOther };
  const struct {
    TOrderStatus status;
    TClass cls;
  } rows[] = {
      {osWorking, kW},      {osPart, kW},   {osHeldOrder, kW},
      {osBalCancelled, kP}, {osFilled, kP}, {osORPIPart, kOther},
  };
  const AmendOrderStruct record = FullAmendRecord();
  for (const auto& row : rows) {
    const std::string id = OrderIn(row.status);
    const auto before = Head(id);
    const std::size_t amendsBefore = Requests(3302).size();
    ASSERT_EQ(DoAmendOrder(Api(), id, record, "AMENDER"), 0) << id;
    const auto after = Head(id);
    ASSERT_NE(after, before) << id << ": a new version, the old one untouched";
    EXPECT_EQ(after->UserName, "AMENDER") << id;
    EXPECT_FALSE(after->Checked) << id;
    EXPECT_EQ(after->Status, row.status == osHeldOrder ? osHeldOrder : osAmendPending) << id;

    const auto amends = Requests(3302);
    std::shared_ptr<TOrderItem> sent;
    if (row.status == osHeldOrder) {
      EXPECT_EQ(amends.size(), amendsBefore) << "a held order's amend stays local";
    } else {
      ASSERT_EQ(amends.size(), amendsBefore + 1) << id;
      sent = amends.back().Order;
      EXPECT_EQ(sent->ID, id);
    }
    for (const auto& check : FieldChecks()) {
      const bool copied = check.Copied == kAll || (check.Copied == kWorking && row.cls == kW) ||
                          (check.Copied == kWorkingOrPost && row.cls != kOther);
      const std::string expected = copied ? check.Amended : check.Get(*before);
      EXPECT_EQ(check.Get(*after), expected)
          << check.Name << " in state " << int(row.status) << (copied ? " (copied)" : " (kept)");
      if (sent) {
        EXPECT_EQ(check.Get(*sent), expected) << check.Name << " sent, " << id;
      }
    }
    EXPECT_EQ(before->Status, row.status) << "the old version keeps its state";
    EXPECT_EQ(before->GetReference(), "o-ref");
  }
}

// The record built from an order gives that order back: amended with it, nothing changes (on an
// exchange without amends only an unchanged price and lot count pass).
TEST_F(AmendCancelTest, RecordOfAnOrderAmendsItToItself) {
  NewOrderStruct entry = EntryRecord();
  PutTextAndNul(entry.Price, "100.25");
  PutTextAndNul(entry.Price2, "99.75");
  PutTextAndNul(entry.TriggerDate, "01072027");
  PutTextAndNul(entry.TriggerTime, "103000");
  const std::string id = OrderIn(osWorking, entry);
  const auto before = Head(id);
  ASSERT_EQ(before->TriggerTime(), "093000");

  const AmendOrderStruct record = AmendRecordOf(*before);
  EXPECT_EQ(GetFixed(record.TriggerDate), "01072027") << "back in local time";
  EXPECT_EQ(GetFixed(record.TriggerTime), "103000");
  EXPECT_EQ(GetFixed(record.TraderAccount), "TRADER1");
  EXPECT_EQ(GetFixed(record.ESARef), "o-esa");
  EXPECT_EQ(GetFixed(record.BatchType), "o-type");
  EXPECT_EQ(std::int32_t{record.Lots}, 2);

  ASSERT_EQ(DoAmendOrder(Api(), id, record, "USER1"), 0);
  const auto after = Head(id);
  ASSERT_NE(after, before);
  EXPECT_EQ(after->Status, osAmendPending);
  for (const auto& check : FieldChecks())
    EXPECT_EQ(check.Get(*after), check.Get(*before)) << check.Name;
  EXPECT_EQ(Requests(3302).size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// State tables

TEST_F(AmendCancelTest, AmendByState) {
  SetAmendEnabled(true);
  const struct {
    TOrderStatus status;
    std::int32_t code;
    bool sent, parked;
  } rows[] = {
      {osQueued, 47, false, true},       {osSent, 26, false, false},
      {osWorking, 0, true, false},       {osPart, 0, true, false},
      {osHeldOrder, 0, false, false},    {osFilled, 0, true, false},
      {osCancelled, 26, false, false},   {osBalCancelled, 0, true, false},
      {osAmendPending, 47, false, true}, {osCancelPending, 26, false, false},
      {osRejected, 26, false, false},
  };
  for (const auto& row : rows) {
    const std::string id = OrderIn(row.status);
    const auto before = Head(id);
    AmendOrderStruct record = AmendRecordOf(*before);
    PutTextAndNul(record.Price, "101");
    const std::size_t amends = Requests(3302).size();
    EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), row.code) << int(row.status);
    EXPECT_EQ(Requests(3302).size(), amends + (row.sent ? 1 : 0)) << int(row.status);
    EXPECT_EQ(Api().Orders.AmendingOrders.Contains(id), row.parked) << int(row.status);
    if (row.code != 0) {
      EXPECT_EQ(Head(id), before) << "refused or parked: no new version";
    }
  }
}

TEST_F(AmendCancelTest, CancelByState) {
  // An exchange named IFX may cancel rejected orders.
  Api().Exchanges.Add(std::make_shared<TExchange>("IFX"));
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("IFX");
  commodity->SetName("FTSE");
  commodity->Currency = "GBP";
  commodity->TicksPerPoint = 4;
  commodity->TickSize = 0.25;
  Api().Commodities.Add(commodity);
  ASSERT_GE(Api().Contracts.AddFromFields("IFX", "FTSE", "MAR27", Fields("X1=F|X2=IFX")), 0);
  auto limit = std::make_shared<TOrderTypeItem>();
  limit->SetExchangeName("IFX");
  limit->SetName("LIMIT");
  limit->OrderTypeID = static_cast<TOrderTypes>(VN_OT_LIMIT);
  limit->PricesRequired = 1;
  Api().OrderTypes.Add(limit);
  NewOrderStruct ifx = EntryRecord();
  PutTextAndNul(ifx.ExchangeName, "IFX");

  const struct {
    const char* name;
    TOrderStatus status;
    bool onIFX;
    std::int32_t code;
    bool sent, parked;
  } rows[] = {
      {"queued", osQueued, false, 47, false, true},
      {"sent", osSent, false, 47, false, true},
      {"working", osWorking, false, 0, true, false},
      {"part", osPart, false, 0, true, false},
      {"held", osHeldOrder, false, 0, false, false},
      {"filled", osFilled, false, 0, false, false},
      {"cancelled", osCancelled, false, 0, false, false},
      {"balance cancelled", osBalCancelled, false, 0, false, false},
      {"amend pending", osAmendPending, false, 47, false, true},
      {"cancel pending", osCancelPending, false, 47, false, true},
      {"rejected", osRejected, false, 0, false, false},
      {"rejected on IFX", osRejected, true, 0, true, false},
  };
  for (const auto& row : rows) {
    const std::string id = OrderIn(row.status, row.onIFX ? ifx : EntryRecord());
    const auto before = Head(id);
    const std::size_t cancels = Requests(3303).size();
    EXPECT_EQ(CancelOrder(Api(), id, "USER1"), row.code) << row.name;
    EXPECT_EQ(Requests(3303).size(), cancels + (row.sent ? 1 : 0)) << row.name;
    EXPECT_EQ(Api().Orders.AmendingOrders.Contains(id), row.parked) << row.name;
    if (row.sent) {
      EXPECT_EQ(Requests(3303).back().Order->ID, id) << row.name;
      EXPECT_TRUE(Head(id)->CancelSent) << row.name;
      EXPECT_EQ(Head(id), before) << row.name << ": a live cancel waits for the host's state";
    }
    if (row.status != osHeldOrder && !row.sent) {
      EXPECT_EQ(Head(id), before) << row.name;
    }
  }
}

TEST_F(AmendCancelTest, SecondCancelOfAWorkingOrderSendsNothing) {
  const std::string id = OrderIn(osWorking);
  EXPECT_EQ(DoCancelOrder(Api(), id, "USER1"), 0);
  EXPECT_EQ(DoCancelOrder(Api(), id, "USER1"), 0);
  EXPECT_EQ(CancelOrder(Api(), id, "USER1"), 0);
  EXPECT_EQ(RequestIDs(3303), std::vector<std::string>{id});
  EXPECT_EQ(CancelOrder(Api(), "999", "USER1"), 25);
}

// ---------------------------------------------------------------------------------------------
// Parked requests

TEST_F(AmendCancelTest, ParkedRequestsGoWhenTheOrderWorks) {
  SetAmendEnabled(true);
  // An amend on a queued order.
  const std::string amended = OrderIn(osQueued);
  AmendOrderStruct record = AmendRecordOf(*Head(amended));
  PutTextAndNul(record.Price, "102");
  ASSERT_EQ(DoAmendOrder(Api(), amended, record, "USER1"), 47);
  Deliver(amended, osSent);
  EXPECT_TRUE(Requests(3302).empty()) << "still in transit";
  EXPECT_TRUE(Api().Orders.AmendingOrders.Contains(amended));
  Deliver(amended, osWorking);
  ASSERT_EQ(RequestIDs(3302), std::vector<std::string>{amended});
  EXPECT_DOUBLE_EQ(Requests(3302)[0].Order->Price, 102.0);
  EXPECT_EQ(Head(amended)->Status, osAmendPending);
  EXPECT_FALSE(Api().Orders.AmendingOrders.Contains(amended));

  // A cancel made right after the order was sent.
  const std::string cancelled = OrderIn(osSent);
  ASSERT_EQ(CancelOrder(Api(), cancelled, "USER1"), 47);
  Deliver(cancelled, osWorking);
  EXPECT_EQ(RequestIDs(3303), std::vector<std::string>{cancelled});
  EXPECT_TRUE(Head(cancelled)->CancelSent);
  EXPECT_FALSE(Api().Orders.AmendingOrders.Contains(cancelled));

  // A cancel parked on an order that fills meanwhile is dropped.
  const std::string filled = OrderIn(osSent);
  ASSERT_EQ(CancelOrder(Api(), filled, "USER1"), 47);
  Deliver(filled, osFilled, [](TOrderItem& o) { o.Filled = o.TargetLots; });
  EXPECT_FALSE(Api().Orders.AmendingOrders.Contains(filled));
  EXPECT_EQ(RequestIDs(3303), std::vector<std::string>{cancelled});
}

TEST_F(AmendCancelTest, ParkedRequestRunsOutAfterFiveHeartbeats) {
  const std::string id = OrderIn(osQueued);
  ASSERT_EQ(DoAmendOrder(Api(), id, AmendRecordOf(*Head(id)), "USER1"), 47);
  Events();  // the entry's event
  for (int tick = 1; tick <= 4; ++tick)
    Api().HeartbeatTimer();
  EXPECT_TRUE(Api().Orders.AmendingOrders.Contains(id));
  Api().HeartbeatTimer();
  EXPECT_FALSE(Api().Orders.AmendingOrders.Contains(id));
  std::vector<std::string> failures;
  for (const auto& event : Events())
    if (event.Id == VN_CB_AMEND_FAILURE) failures.push_back(event.OrderID);
  EXPECT_EQ(failures, std::vector<std::string>{id});
  Deliver(id, osWorking);
  EXPECT_TRUE(Requests(3302).empty()) << "a request that ran out is gone";
}

// ---------------------------------------------------------------------------------------------
// Refusals

TEST_F(AmendCancelTest, WithoutAmendsOnTheExchangeOnlyAnUnchangedPriceAndLotsPass) {
  SetAmendEnabled(false);
  const struct {
    const char* name;
    std::function<void(AmendOrderStruct&)> change;
    std::int32_t code;
  } rows[] = {
      {"unchanged", [](auto&) {}, 0},
      {"same price written otherwise", [](auto& r) { PutTextAndNul(r.Price, "100.0"); }, 0},
      {"reference only", [](auto& r) { PutTextAndNul(r.Reference, "new"); }, 0},
      {"price", [](auto& r) { PutTextAndNul(r.Price, "100.5"); }, 30},
      {"lots", [](auto& r) { r.Lots = 3; }, 30},
  };
  for (const auto& row : rows) {
    const std::string id = OrderIn(osWorking);
    AmendOrderStruct record = AmendRecordOf(*Head(id));
    row.change(record);
    const std::size_t amends = Requests(3302).size();
    EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), row.code) << row.name;
    EXPECT_EQ(Requests(3302).size(), amends + (row.code == 0 ? 1 : 0)) << row.name;
  }
}

// A view-only account named in the record may only make an amend that changes nothing compared.
TEST_F(AmendCancelTest, ViewOnlyAccountIsRefusedOnlyWhenTheAmendDiffers) {
  SetAmendEnabled(true);
  const struct {
    const char* name;
    std::function<void(AmendOrderStruct&)> change;
    std::int32_t code;
  } rows[] = {
      {"unchanged", [](auto&) {}, 0},
      {"reference (not compared)", [](auto& r) { PutTextAndNul(r.Reference, "new"); }, 0},
      {"price", [](auto& r) { PutTextAndNul(r.Price, "101"); }, 34},
      {"second price", [](auto& r) { PutTextAndNul(r.Price2, "1"); }, 34},
      {"lots", [](auto& r) { r.Lots = 3; }, 34},
      {"linked order", [](auto& r) { PutTextAndNul(r.LinkedOrder, "77"); }, 34},
      {"batch type (compared only)", [](auto& r) { PutTextAndNul(r.BatchType, "x"); }, 34},
      {"ESA reference (compared only)", [](auto& r) { PutTextAndNul(r.ESARef, "x"); }, 34},
      {"done for day", [](auto& r) { r.DoneForDay = 'Y'; }, 34},
      {"trigger", [](auto& r) { PutTextAndNul(r.TriggerTime, "080001"); }, 34},
  };
  for (const auto& row : rows) {
    const std::string id = OrderIn(osWorking);
    AmendOrderStruct record = AmendRecordOf(*Head(id));
    PutTextAndNul(record.TraderAccount, "VIEWER");
    row.change(record);
    EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), row.code) << row.name;
  }
  const std::string id = OrderIn(osWorking);
  AmendOrderStruct record = AmendRecordOf(*Head(id));
  PutTextAndNul(record.TraderAccount, "NOBODY");
  EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), 9);
  EXPECT_EQ(DoAmendOrder(Api(), "999", record, "USER1"), 25);
}

TEST_F(AmendCancelTest, FilledOrderChangesAccountOnlyWithPostTradeAmend) {
  SetAmendEnabled(true);
  const std::string id = OrderIn(osFilled);
  AmendOrderStruct record = AmendRecordOf(*Head(id));
  PutTextAndNul(record.TraderAccount, "TRADER2");
  Api().Features.PostTradeAmend = false;
  EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), 30);
  EXPECT_TRUE(Requests(3302).empty());
  Api().Features.PostTradeAmend = true;
  EXPECT_EQ(DoAmendOrder(Api(), id, record, "USER1"), 0);
  EXPECT_EQ(Head(id)->GetTraderAccountName(), "TRADER2");

  const std::string same = OrderIn(osFilled);
  Api().Features.PostTradeAmend = false;
  EXPECT_EQ(DoAmendOrder(Api(), same, AmendRecordOf(*Head(same)), "USER1"), 0);
  EXPECT_EQ(Requests(3302).size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Held synthetic orders

TEST_F(AmendCancelTest, CancellingAHeldOrderReleasesItsSubscriptionAndContract) {
  const std::string id = OrderIn(osHeldOrder);
  const TContractKey key = Future()->Key();
  const std::string synthetic = TOrderQ::SyntheticContractKey(key);
  ASSERT_EQ(Api().Subscriptions.PriceSubscriberCount(key), 1);
  ASSERT_EQ(Api().Orders.SyntheticContractCount(synthetic), 1);
  Events();  // the entry's event

  EXPECT_EQ(CancelOrder(Api(), id, "USER1"), 0);
  EXPECT_EQ(Head(id)->Status, osCancHeldOrder);
  EXPECT_TRUE(requests_->OrderRequests().empty()) << "a held order never reached the host";
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(key), 0);
  EXPECT_EQ(Api().Orders.SyntheticContractCount(synthetic), 0);
  const auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Id, VN_CB_ORDER);
  EXPECT_EQ(events[0].OrderID, id);
  EXPECT_EQ(events[0].Status, osHeldOrder) << "the state the cancel was issued from";

  EXPECT_EQ(CancelOrder(Api(), id, "USER1"), 0) << "a cancelled held order stays as it is";
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(key), 0);
}

// ---------------------------------------------------------------------------------------------
// Bulk cancels

class AmendCancelBulkTest : public AmendCancelTest {
 protected:
  // A working order of the side at the price.
  std::string Working(char side, const char* price, std::string_view user = "USER1",
                      const char* account = "TRADER1") {
    NewOrderStruct record = EntryRecord();
    record.BuySell = side;
    PutTextAndNul(record.Price, price);
    PutTextAndNul(record.TraderAccount, account);
    const std::string id = Enter(record, user);
    Deliver(id, osSent);
    Deliver(id, osWorking);
    return id;
  }
  static TCancelSelection Selection(TCancelSide side, const char* date = "MAR27",
                                    const char* account = "TRADER1") {
    return {account, "LIFFE", "FTSE", date, side};
  }
};

TEST_F(AmendCancelBulkTest, NearestToTheMarketGoFirstAndEqualDistancesAllGo) {
  ASSERT_TRUE(Future()->SetPrice(VN_PK_BID, 10, 100));
  ASSERT_TRUE(Future()->SetPrice(VN_PK_OFFER, 10, 300));  // a sell would be far from it
  const struct {
    const char* name;
    std::function<std::int32_t(TClassAPI&)> cancel;
  } calls[] = {
      {"CancelOrders",
       [](TClassAPI& api) { return CancelOrders(api, Selection(TCancelSide::Both), "USER1"); }},
      {"CancelAll",
       [](TClassAPI& api) { return CancelAll(api, "TRADER1", "USER1", "vnCancelAll"); }},
  };
  for (const auto& call : calls) {
    // 5%, 1% and 5% from the bid; the nearest is neither first nor last in the list.
    const std::string far1 = Working('B', "95");
    const std::string near = Working('B', "99");
    const std::string far2 = Working('B', "95");
    const std::size_t before = Requests(3303).size();
    EXPECT_EQ(call.cancel(Api()), 0) << call.name;
    const auto ids = RequestIDs(3303);
    ASSERT_EQ(ids.size(), before + 3) << call.name;
    EXPECT_EQ(ids[before], near) << call.name;
    EXPECT_EQ((std::set<std::string>{ids[before + 1], ids[before + 2]}),
              (std::set<std::string>{far1, far2}))
        << call.name;
  }
}

TEST_F(AmendCancelBulkTest, SideSelectionTakesItsSideOnly) {
  const struct {
    TCancelSide side;
    bool buy, sell;
  } rows[] = {
      {TCancelSide::Buys, true, false},
      {TCancelSide::Sells, false, true},
      {TCancelSide::Both, true, true},
  };
  for (const auto& row : rows) {
    const std::string buy = Working('B', "100");
    const std::string sell = Working('S', "100");
    NewOrderStruct gilt = EntryRecord();  // another contract
    PutTextAndNul(gilt.CommodityName, "GILT");
    const std::string giltID = Enter(gilt);
    Deliver(giltID, osWorking);
    Working('B', "100", "USER1", "TRADER2");  // another account
    const std::size_t before = Requests(3303).size();
    EXPECT_EQ(CancelOrders(Api(), Selection(row.side), "USER1"), 0);
    const auto all = RequestIDs(3303);
    const std::set<std::string> ids(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    std::set<std::string> expected;
    if (row.buy) expected.insert(buy);
    if (row.sell) expected.insert(sell);
    EXPECT_EQ(ids, expected) << int(row.side);
    // The rest go before the next row.
    CancelAll(Api(), "TRADER1", "USER1", "vnCancelAll");
    CancelAll(Api(), "TRADER2", "USER1", "vnCancelAll");
  }
}

TEST_F(AmendCancelBulkTest, UnknownContractOrAccountCancelsNothing) {
  Working('B', "100");
  EXPECT_EQ(CancelOrders(Api(), Selection(TCancelSide::Both, "DEC99"), "USER1"), 0);
  EXPECT_EQ(CancelOrders(Api(), Selection(TCancelSide::Both, "MAR27", "NOBODY"), "USER1"), 0);
  EXPECT_EQ(CancelAll(Api(), "NOBODY", "USER1", "vnCancelAll"), 0);
  EXPECT_TRUE(Requests(3303).empty());
}

// With the user-ID filter on, a contract-wide cancel takes the named user's orders; cancel-all
// takes the logged-on user's and issues the cancels for the named user.
TEST_F(AmendCancelBulkTest, UserFilter) {
  for (const bool filter : {false, true}) {
    Api().UserIDFilter = filter;
    const std::string mine = Working('B', "100", "USER1");
    const std::string theirs = Working('B', "100", "USER2");
    const std::size_t before = Requests(3303).size();
    EXPECT_EQ(CancelOrders(Api(), Selection(TCancelSide::Both), "USER2"), 0);
    auto all = RequestIDs(3303);
    std::set<std::string> ids(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const std::set<std::string> expected =
        filter ? std::set<std::string>{theirs} : std::set<std::string>{mine, theirs};
    EXPECT_EQ(ids, expected) << "CancelOrders, filter " << filter;
    if (!filter) continue;

    const std::string mine2 = Working('B', "100", "USER1");
    const std::size_t start = Requests(3303).size();
    EXPECT_EQ(CancelAll(Api(), "TRADER1", "USER2", "vnCancelAllEx"), 0);
    const auto cancels = Requests(3303);
    ASSERT_EQ(cancels.size(), start + 2) << "the logged-on user's two orders";
    for (std::size_t i = start; i < cancels.size(); ++i) {
      EXPECT_TRUE(cancels[i].Order->ID == mine || cancels[i].Order->ID == mine2);
      EXPECT_EQ(cancels[i].Order->UserName, "USER2") << "issued for the named user";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Market-distance key

TEST(AmendCancelKeyTest, FormatsOneHundredLessTheDistanceOnTheTickGrid) {
  auto half = std::make_shared<TContractItem>();
  half->SetNames("LIFFE", "FTSE", "JUN27");
  half->SetFields(Fields("X1=F|TSz=0.5"));
  auto whole = std::make_shared<TContractItem>();
  whole->SetNames("LIFFE", "FTSE", "SEP27");
  whole->SetFields(Fields("X1=F|TSz=1"));
  auto quarter = std::make_shared<TContractItem>();
  quarter->SetNames("LIFFE", "FTSE", "DEC27");
  quarter->SetFields(Fields("X1=F|TSz=0.25"));
  auto noPrices = std::make_shared<TContractItem>();
  noPrices->SetNames("LIFFE", "FTSE", "MAR28");
  noPrices->SetFields(Fields("X1=F|TSz=0.25"));
  for (const auto& contract : {half, whole, quarter}) {
    ASSERT_TRUE(contract->SetPrice(VN_PK_BID, 1, 200));
    ASSERT_TRUE(contract->SetPrice(VN_PK_OFFER, 1, 100));
  }
  const struct {
    std::shared_ptr<TContractItem> contract;
    TPurchase side;
    double price;
    const char* key;
  } rows[] = {
      {whole, Buy, 198, "0000099"},   // 1% from the bid
      {whole, Sell, 95, "0000095"},   // 5% from the offer
      {half, Buy, 201, "0000099.5"},  // above the bid counts the same
      {quarter, Buy, 190, "0000095.00"},
      {quarter, Cross, 101, "0000099.00"},  // any side but a buy reads the offer
      {noPrices, Buy, 50, "0000100.00"},    // no market: no distance
      {quarter, Buy, 500, "-0000050.00"},   // 150% away
  };
  for (const auto& row : rows) {
    TOrderItem order;
    order.Contract = row.contract;
    order.BuySell = row.side;
    order.Price = row.price;
    EXPECT_EQ(MarketDistanceKey(order), row.key)
        << row.contract->ContractDate() << " side " << int(row.side) << " at " << row.price;
  }
}

}  // namespace
}  // namespace vorn
