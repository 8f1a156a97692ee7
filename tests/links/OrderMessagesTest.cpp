#include "links/OrderMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/session/OrderMargin.h"
#include "core/util/DateTime.h"
#include "core/wire/FieldsList.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

// An event as the application sees it: the id, then for an order event (5) the order id, the
// old order id and the state, for a message event (4) the message id.
struct TPosted {
  std::int32_t Id;
  std::string Text;
  std::string OldID = {};
  int Status = -1;
  bool operator==(const TPosted&) const = default;
};
using TEvents = std::vector<TPosted>;

void PrintTo(const TPosted& e, std::ostream* os) {
  *os << "{" << e.Id << ", \"" << e.Text << "\", \"" << e.OldID << "\", " << e.Status << "}";
}

TPosted OrderEvent(std::string id, std::string oldID, TOrderStatus status) {
  return {VN_CB_ORDER, std::move(id), std::move(oldID), status};
}
TPosted MessageEvent(std::string sequence) {
  return {VN_CB_MESSAGE, std::move(sequence)};
}

// The fields every order message of the tests carries; the test's own come after them and
// override them (the first value of a repeated tag is the one read, so they go first).
std::string OrderText(std::string_view own) {
  return "Msg=3601|" + std::string(own) +
         "|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|Pr=100|TLt=3|ALt=3|";
}

struct TPut {
  std::size_t Offset;
  std::size_t Width;
  std::string Text;
};
// A legacy order body of the code, blank-filled to the size.
std::string LegacyBody(int code, std::size_t size, const std::vector<TPut>& fields) {
  std::string body(size, ' ');
  PutFixedField(body, 0, 4, FormatCode4(code));
  for (const auto& f : fields)
    PutFixedField(body, f.Offset, f.Width, f.Text);
  return body;
}
std::vector<TPut> LegacyOrder(std::string id, std::string status) {
  return {{4, 10, std::move(id)},
          {14, 30, "EX-7"},
          {44, 10, "USER1"},
          {54, 20, "TRADER1"},
          {74, 10, "LIMIT"},
          {87, 10, "LIFFE"},
          {97, 10, "FTSE"},
          {107, 50, "MAR27"},
          {157, 1, "1"},
          {158, 10, "101.5"},
          {178, 10, "4"},
          {188, 10, "4"},
          {198, 2, std::move(status)},
          {220, 8, "20240305"},
          {228, 6, "140709"},
          {361, 8, "00010101"},
          {375, 25, "MYREF"}};
}

class OrderMessagesTest : public HostReceiverTest {
 protected:
  OrderMessagesTest() {
    Trader()->SetMarginRating("R1");
    AddOrderType("LIMIT", otLimit);
  }

  void AddOrderType(const char* name, std::int32_t id) { AddTradingOrderType(Api(), name, id, 1); }

  // Through the dispatcher, as the host link's socket thread applies it.
  void Order(std::string_view own) { Host(OrderText(own)); }
  void Legacy(const std::string& body) { ProcessMessage(*api_, psPriceFeed, body); }

  int HistoryCount(std::string_view id) {
    auto history = api_->Orders.FindOrderList(id);
    return history ? history->Count() : 0;
  }
  std::shared_ptr<TOrderItem> Head(std::string_view id) { return api_->Orders.FindOrder(id); }
  std::string Content(std::string_view sequence) {
    auto message = api_->UserMessages.FindMessage(sequence);
    return message ? message->Content : "<none>";
  }
  std::string Trace() { return ReadFileText(TraceFileName()); }

  // Delivers what is queued and returns it in posting order.
  TEvents DeliverCallbacks() {
    TEvents events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      if (delivery.Id == VN_CB_ORDER) {
        OrderUpdateStruct update;
        std::memcpy(&update, delivery.Payload.data(), sizeof update);
        events.push_back(OrderEvent(GetFixed(update.OrderID), GetFixed(update.OldOrderID),
                                    static_cast<TOrderStatus>(update.Status)));
      } else {
        const char* text = reinterpret_cast<const char*>(delivery.Payload.data());
        events.push_back({delivery.Id, std::string(text, strnlen(text, 20))});
      }
    }
    return events;
  }

  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
};

TEST_F(OrderMessagesTest, NewOrderIsListedConfirmedWatchedAndRegistered) {
  Api().NotifyAllMessages = true;
  Order("OID=101|Sts=2|Seq=5|Flg=1|GUID=G-101|Act=1");

  auto head = Head("101");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->Status, osSent);
  EXPECT_EQ(head->LastSequence, 5);
  EXPECT_EQ(head->Contract, Future());
  EXPECT_EQ(head->TraderAccount, Trader());
  EXPECT_EQ(head->TargetLots, 3);
  EXPECT_TRUE(Api().Orders.SentWatch.Contains("101"));
  EXPECT_EQ(Content("0"), "Order received by host for 101");
  EXPECT_EQ(Api().UserMessages.FindMessage("0")->IsAlert, alNormal);
  EXPECT_EQ(DeliverCallbacks(), (TEvents{MessageEvent("0"), OrderEvent("101", "101", osSent)}));

  // Positional contract with one price subscriber; the order's margin entry on its account.
  EXPECT_TRUE(Future()->Positional);
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(Future()->Key()), 1);
  EXPECT_EQ(Trader()->GetMarginOrders(Future()->Key()).size(), 1u);
  // The UUID: its group, the contract's members, the log line.
  ASSERT_TRUE(Api().UUIDObjects->FindGroup("G-101"));
  EXPECT_EQ(Future()->Members.Count(), 1u);
  EXPECT_EQ(head->GetUUID(), "G-101");
  CloseUUIDLog();
  EXPECT_EQ(ReadFileText(dir_.File(kUUIDObjectFileName))
                    .find("LIFFE/FTSE/MAR27/101\t\tG-101\tStatus=Active\r\n") != std::string::npos,
            true);
}

// Orders cleared from the order book (a logon that asks for it) leave nothing that grows with
// them: their UUID groups go and the contract's member entries do not pile up from one clearing
// to the next (each held a dead order's memory).
TEST_F(OrderMessagesTest, ClearedOrdersLeaveNoGroupsOrEntriesBehind) {
  constexpr int kOrders = 200;
  for (int round = 0; round < 5; ++round) {
    for (int n = 0; n < kOrders; ++n) {
      const std::string id = std::to_string(1000 * (round + 1) + n);
      Order("OID=" + id + "|Sts=2|Seq=1|Flg=1");
      Order("OID=" + id + "|Sts=10|Seq=2|Flg=1|Fil=3|AvP=100");
    }
    Api().ClearOrdersAndFills();
  }
  Order("OID=1|Sts=2|Seq=1|Flg=1|GUID=G-1");
  ASSERT_TRUE(Api().UUIDObjects->FindGroup("G-1"));
  EXPECT_LT(Api().UUIDObjects->Count(), 3 * kOrders);
  EXPECT_LT(Future()->Members.Count(), 3u * kOrders);
}

// A repeated message changes nothing; a cancel pending is watched once however often it comes.
TEST_F(OrderMessagesTest, RepeatedSequenceChangesNothingAndCancelIsWatchedOnce) {
  Api().NotifyAllMessages = true;
  Api().Monitoring.CancelFailureDelay = 7;
  Order("OID=101|Sts=2|Seq=5|Flg=1");
  Order("OID=101|Sts=11|Seq=6|Flg=1");
  ASSERT_EQ(HistoryCount("101"), 2);
  ASSERT_EQ(Api().Orders.CancelWatch.Count(), 1u);
  // The state that was current when the cancel was confirmed is watched, counting down from
  // the cancel failure delay.
  EXPECT_EQ(Api().Orders.CancelWatch.Entries().front()->Status, osSent);
  EXPECT_EQ(Api().Orders.CancelWatch.Entries().front()->CancelTimeOut, 7);
  const int messages = Api().UserMessages.Count();
  DeliverCallbacks();

  Order("OID=101|Sts=11|Seq=6|Flg=1");  // the same message again
  EXPECT_EQ(HistoryCount("101"), 2);
  EXPECT_EQ(Api().Orders.CancelWatch.Count(), 1u);
  EXPECT_EQ(Api().UserMessages.Count(), messages);
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_TRUE(Traced("Order message previously received.  Order ID : 101, Sequence : 6"));

  Order("OID=101|Sts=11|Seq=7|Flg=1");  // a second cancel request
  EXPECT_EQ(HistoryCount("101"), 3);
  EXPECT_EQ(Api().Orders.CancelWatch.Count(), 1u);
}

// Arrival orders of one order's states. A step is an order message's own fields, or a logon
// reply (the link was lost and the client logged on again). Each case gives the sequences of
// the history's entries, newest first, and the order events posted: one per state applied.
struct TArrivalCase {
  const char* Name;
  std::vector<std::string> Steps;
  std::vector<std::int32_t> Sequences;
  std::size_t OrderEvents;
};

TEST_F(OrderMessagesTest, StateIsAppliedOnlyWhenNewerThanEveryOneAppliedForTheOrder) {
  auto state = [](int status, int filled, int sequence) {
    return "Flg=1|Sts=" + std::to_string(status) + "|Fil=" + std::to_string(filled) +
           "|Seq=" + std::to_string(sequence);
  };
  auto sent = [&](int sequence) { return state(osSent, 0, sequence); };
  auto working = [&](int sequence) { return state(osWorking, 0, sequence); };
  auto part = [&](int filled, int sequence) { return state(osPart, filled, sequence); };
  const std::string sameDatabase = "Msg=3625|TA=TRADER1|DBID=D1";
  const std::vector<TArrivalCase> cases = {
      {"in order", {sent(1), working(2), part(1, 3)}, {3, 2, 1}, 3},
      {"exact repeat of the last", {sent(1), working(2), working(2)}, {2, 1}, 2},
      {"older repeats after a newer state",
       {sent(1), working(2), part(1, 3), working(2), sent(1)},
       {3, 2, 1},
       3},
      {"older state never seen before, after a newer one",
       {sent(1), part(1, 4), working(3)},
       {4, 1},
       2},
      {"re-logon to the same database: the resent states are dropped, the next is applied",
       {sameDatabase, sent(1), working(2), sameDatabase, sent(1), working(2), part(1, 3)},
       {3, 2, 1},
       3},
      {"re-logon with an order download: the list starts again and takes the download",
       {sameDatabase, sent(1), working(2), part(1, 3), sameDatabase + "|FODw=Y", part(1, 3)},
       {3},
       4},
      {"re-logon to another database: its sequences start again and are applied",
       {sameDatabase, sent(5), working(6), "Msg=3625|TA=TRADER1|DBID=D2", part(1, 2),
        part(2, 3)},
       {3, 2, 6, 5},
       4},
      {"amend history is a past state and is kept behind the head",
       {working(5), "Flg=3|Sts=2|Fil=0|Seq=3"},
       {5, 3},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Api().Orders.FreeAll();
    ClearCallbackQueue();
    for (const auto& step : c.Steps) {
      if (step.starts_with("Msg="))
        Host(step + "|");
      else
        Order("OID=101|" + step);
    }
    std::vector<std::int32_t> sequences;
    if (auto history = Api().Orders.FindOrderList("101"))
      for (int i = 0; i < history->Count(); ++i)
        sequences.push_back(history->At(i)->LastSequence);
    EXPECT_EQ(sequences, c.Sequences);
    std::size_t orderEvents = 0;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued())
      orderEvents += delivery.Id == VN_CB_ORDER ? 1 : 0;
    EXPECT_EQ(orderEvents, c.OrderEvents);
  }
  EXPECT_TRUE(Traced("Order message older than the state applied.  Order ID : 101, Sequence : 2, "
                     "Applied : 3"));
}

TEST_F(OrderMessagesTest, DownloadPostsNoEventsAndWatchesNoCancel) {
  Api().NotifyAllMessages = true;
  Api().Logon.DownloadInProgress = true;
  Order("OID=101|Sts=2|Seq=5|Flg=1");
  Order("OID=101|Sts=11|Seq=6|Flg=1");
  Order("OID=101|Sts=4|Seq=7|Flg=1|OSt=11|Txt=too late");
  EXPECT_EQ(HistoryCount("101"), 3);
  EXPECT_EQ(Api().Orders.CancelWatch.Count(), 0u);
  // The confirmations and the alert are kept for later; no event 4 or 5 goes out.
  EXPECT_EQ(Content("-2"), "Order ID: 101 Cancellation  rejected due to too late");
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(OrderMessagesTest, MissingAccountOrContractDropsTheMessage) {
  Order("OID=101|Sts=2|Seq=5|Flg=1|TA=NOBODY");
  Order("OID=102|Sts=2|Seq=5|Flg=1|CD=DEC99");
  Order("OID=103|Sts=2|Seq=5|Flg=4|CD=JUN99|TrD=20240305");
  for (const char* id : {"101", "102", "103"})
    EXPECT_FALSE(Head(id)) << id;
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_TRUE(Traced("No Such Account NOBODY"));
  EXPECT_TRUE(Traced("No Such Contract LIFFE\\FTSE\\DEC99"));
  // An order-detail download's is dropped silently.
  EXPECT_FALSE(Traced("No Such Contract LIFFE\\FTSE\\JUN99"));
  // During the download an unknown account is made, and the order kept.
  Api().Logon.DownloadInProgress = true;
  Order("OID=104|Sts=2|Seq=5|Flg=1|TA=NEWACC");
  EXPECT_EQ(Head("104")->GetTraderAccountName(), "NEWACC");
}

TEST_F(OrderMessagesTest, UnknownOrderTypesAreMadeAndOMIFiltersHostKinds) {
  struct TCase {
    const char* name;
    std::int32_t id;
    bool autoCreated;
  };
  const TCase cases[] = {{"AggOrder", 25, false}, {"CustReq", 26, false}, {"NEWTYPE", 0, true}};
  int n = 200;
  for (const auto& c : cases) {
    const std::string id = std::to_string(++n);
    Order("OID=" + id + "|Sts=3|Flg=1|OTy=" + c.name);
    const auto type = Api().OrderTypes.FindOrderType("LIFFE", c.name);
    ASSERT_TRUE(type) << c.name;
    EXPECT_EQ(type->OrderTypeID, c.id) << c.name;
    EXPECT_EQ(type->AutoCreated, c.autoCreated) << c.name;
    EXPECT_EQ(type->TicketType, "00") << c.name;
    EXPECT_EQ(Head(id)->OrderType, type) << c.name;
  }
  Api().OMIEnabled = false;
  Order("OID=301|Sts=3|Flg=1|OTy=CustReq");
  Order("OID=302|Sts=3|Flg=1|OTy=AggOrder");
  Order("OID=303|Sts=3|Flg=1");
  EXPECT_FALSE(Head("301"));
  EXPECT_FALSE(Head("302"));
  EXPECT_TRUE(Head("303"));
  EXPECT_TRUE(Traced("OMI disabled for 6.1 Beta - tmOrder.ReceiveFields"));
}

TEST_F(OrderMessagesTest, EnvironmentGTakesORPIOnlyForASentOrder) {
  Api().Environment = 'G';
  Order("OID=101|Sts=2|Flg=1");
  Order("OID=102|Sts=3|Flg=1");
  Order("OID=101|Sts=14|Fil=2|Flg=1");
  Order("OID=102|Sts=14|Fil=2|Flg=1");
  Order("OID=103|Sts=13|Fil=2|Flg=1");
  EXPECT_EQ(Head("101")->Status, osWorking);
  EXPECT_EQ(Head("101")->Filled, 0);
  EXPECT_EQ(HistoryCount("102"), 1);
  EXPECT_EQ(Head("102")->Status, osWorking);
  EXPECT_FALSE(Head("103"));
}

TEST_F(OrderMessagesTest, TransferredOrderLeavesTheListAndItsWatchLists) {
  Api().NotifyAllMessages = true;
  Order("OID=101|Sts=2|Seq=5|Flg=1");
  ASSERT_TRUE(Api().Orders.SentWatch.Contains("101"));
  DeliverCallbacks();
  std::weak_ptr<TOrderItem> state = Head("101");

  Order("OID=101|Sts=20|Seq=6|Flg=1|Txt=moved to desk 2");
  EXPECT_FALSE(Head("101"));
  EXPECT_FALSE(Api().Orders.SentWatch.Contains("101"));
  EXPECT_TRUE(Trader()->GetMarginOrders(Future()->Key()).empty());
  EXPECT_TRUE(state.expired());  // nothing holds the history any more
  EXPECT_EQ(Content("-1"), "moved to desk 2");
  EXPECT_EQ(DeliverCallbacks(),
            (TEvents{OrderEvent("101", "", osTransferred), MessageEvent("-1")}));
}

TEST_F(OrderMessagesTest, AmendHistoryAndOrderDetailDownload) {
  Order("OID=101|Sts=3|Seq=8|Flg=1|OHSq=3");
  DeliverCallbacks();
  Order("OID=101|Sts=2|Seq=4|Flg=3|OHSq=1");
  ASSERT_EQ(HistoryCount("101"), 2);
  EXPECT_EQ(Head("101")->Status, osWorking);
  EXPECT_EQ(DeliverCallbacks(), (TEvents{OrderEvent("101", "101", osSent)}));

  // An order detail: filed as a trade report line; not listed, not announced, in no UUID group.
  Order("OID=102|Sts=2|Seq=9|Flg=4|GUID=G-102|TrD=20240305|DF=20240305101500");
  EXPECT_FALSE(Head("102"));
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_EQ(Api().Reports.Count(), 1);
  EXPECT_FALSE(Api().UUIDObjects->FindGroup("G-102"));
}

TEST_F(OrderMessagesTest, AlertsToTheUser) {
  AddOrderType("RFQ", otRFQi);
  AddOrderType("T24", 24);
  const auto limit = Api().OrderTypes.FindOrderType("LIFFE", "LIMIT");
  const auto rfq = Api().OrderTypes.FindOrderType("LIFFE", "RFQ");
  const auto t24 = Api().OrderTypes.FindOrderType("LIFFE", "T24");
  struct TCase {
    const char* text;
    TOrderStatus status;
    std::int32_t flags;
    const TOrderTypeItem* type;
    TAlert alert;
    const char* content;  // null: no message
  };
  const TCase cases[] = {
      {"no margin", osRejected, 0, limit.get(), alAlert,
       "Order ID: 7 Rejection  rejected due to no margin"},
      {"x", osPart, 0, limit.get(), alAlert, "Order ID: 7 Part Filled rejected due to x"},
      {"x", osTransferred, 0, limit.get(), alAlert, "Order ID: 7 rejected due to x"},
      {"*:*:quiet", osRejected, 0, limit.get(), alSuppress,
       "Order ID: 7 Rejection  rejected due to *:*:quiet"},
      {"flagged", osRejected, 16, limit.get(), alSuppress,
       "Order ID: 7 Rejection  rejected due to flagged"},
      {"any", osRejected, 0, rfq.get(), alAlert, "RFQ submitted to Market 7"},
      {"was submitted", osRejected, 0, t24.get(), alAlert, "was submitted"},
      {"refused", osRejected, 0, t24.get(), alAlert,
       "Order ID: 7 Rejection  rejected due to refused"},
      {"plain text", osRejected, 0, nullptr, alAlert, "plain text"},
      {"ignored", osIllegal, 0, limit.get(), alAlert, nullptr},
  };
  for (const auto& c : cases) {
    const std::int32_t before = Api().LocalMessageSequence;
    SendAlertToUser(Api(), "7", c.text, c.status, c.flags, c.type);
    auto message = Api().UserMessages.FindMessage(std::to_string(before));
    if (!c.content) {
      EXPECT_FALSE(message) << c.text;
      EXPECT_EQ(Api().LocalMessageSequence, before) << c.text;
      continue;
    }
    ASSERT_TRUE(message) << c.text;
    EXPECT_EQ(message->Content, c.content);
    EXPECT_EQ(message->IsAlert, c.alert) << c.text;
  }
  EXPECT_TRUE(Traced("Invalid Order PreviousStatus - osIllegal, No User Message Sent for Order 7"));
}

// A sequence a host message took already keeps its message; nothing is announced for it.
TEST_F(OrderMessagesTest, UsedSequenceKeepsItsMessage) {
  Api().NotifyAllMessages = true;
  auto host = std::make_shared<TUserMessage>();
  host->SetSequence("0");
  host->Content = "from the host";
  Api().UserMessages.Add(host);
  SendConfirmMsg(Api(), "101", osSent);
  SendAlertToUser(Api(), "101", "text", osRejected, 0, nullptr);
  EXPECT_EQ(Content("0"), "from the host");
  EXPECT_EQ(Content("-1"), "text");
  EXPECT_EQ(DeliverCallbacks(), (TEvents{MessageEvent("-1")}));
  EXPECT_TRUE(Traced("SendConfirmMsg unable to send user message: MsgID 0 has already been used"));
}

TEST_F(OrderMessagesTest, FieldDefaultsAndCurrentStateCarryOver) {
  Order(
      "OID=101|Sts=3|Flg=1|EAc=E1|BOF=B1|Bdg=D1|OC=C|PfLv=Y|CTX=20240305140709|GTD=20240306|"
      "Ref=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123|BgRf=QUOTEID=Q-9|EAk=20240305140710");
  auto first = Head("101");
  EXPECT_EQ(first->OpenOrClose, 'C');
  EXPECT_EQ(first->ProfitLevel, 'Y');
  EXPECT_EQ(first->DateClientSent, "20240305");
  EXPECT_EQ(first->TimeClientSent, "140709");
  EXPECT_EQ(first->GoodTillDate(), "20240306");
  EXPECT_EQ(first->GetReference(), "ABCDEFGHIJKLMNOPQRSTUVWXY");
  EXPECT_EQ(first->QuoteID(), "Q-9");
  EXPECT_EQ(first->TimeOut, 0);
  EXPECT_EQ(first->TimeExchangeAcknowledged, "140710");

  Order("OID=101|Sts=7|Fil=1|Flg=1");
  auto second = Head("101");
  EXPECT_EQ(second->OpenOrClose, 'O');
  EXPECT_EQ(second->ProfitLevel, 'N');
  EXPECT_EQ(second->ExchangeField(), "E1");
  EXPECT_EQ(second->BOFID(), "B1");
  EXPECT_EQ(second->Badge(), "D1");
  EXPECT_EQ(second->DateExchangeAcknowledged, "");
}

TEST_F(OrderMessagesTest, QuoteIDAndTimeOutFromTheReferenceField) {
  struct TCase {
    const char* field;
    const char* quoteID;
    std::int32_t timeOut;
  };
  const TCase cases[] = {
      {"QUOTEID=Q1|TIMEOUT=30", "Q1", 30},
      {"X|TIMEOUT:15|QUOTEID:AB", "AB", 15},
      {"QUOTEID=", "", 0},
      {"QUOTEID", "", 0},  // the keyword closes the text
      {"A|TIMEOUT", "", 0},
      {"TIMEOUT=abc", "", 0},
      {"nothing here", "", 0},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteIDOf(c.field), c.quoteID) << c.field;
    EXPECT_EQ(TimeOutOf(c.field), c.timeOut) << c.field;
  }
}

TEST_F(OrderMessagesTest, LegacyOrderMessages) {
  // 70: the order-state rules; every field read at its offset; "00010101" is no date.
  Legacy(LegacyBody(70, 400, LegacyOrder("501", "3")));
  auto head = Head("501");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->Status, osWorking);
  EXPECT_EQ(head->ExchangeID, "EX-7");
  EXPECT_EQ(head->UserName, "USER1");
  EXPECT_EQ(head->BuySell, Buy);
  EXPECT_DOUBLE_EQ(head->Price, 101.5);
  EXPECT_EQ(head->TargetLots, 4);
  EXPECT_EQ(head->DateClientSent, "20240305");
  EXPECT_EQ(head->GoodTillDate(), "");
  EXPECT_EQ(head->GetReference(), "MYREF");
  EXPECT_EQ(head->OrderType, Api().OrderTypes.FindOrderType("LIFFE", "LIMIT"));

  // 79: behind the current state.
  Legacy(LegacyBody(79, 400, LegacyOrder("501", "2")));
  EXPECT_EQ(HistoryCount("501"), 2);
  EXPECT_EQ(Head("501")->Status, osWorking);

  // 74: a queued local order with the same terms takes the host's id.
  auto local = std::make_shared<TOrderItem>();
  local->ID = "N1";
  local->Status = osQueued;
  local->TraderAccount = Trader();
  local->Contract = Future();
  local->OrderType = Api().OrderTypes.FindOrderType("LIFFE", "LIMIT");
  local->BuySell = Buy;
  local->Price = 101.5;
  local->TargetLots = 4;
  local->DateClientSent = "20240305";
  local->TimeClientSent = "140709";
  ASSERT_TRUE(Api().Orders.Add(local));
  Legacy(LegacyBody(74, 400, LegacyOrder("502", "2")));
  EXPECT_FALSE(Head("N1"));
  EXPECT_EQ(HistoryCount("502"), 2);

  // A short body: the fields past its end are empty, never bytes of the message before.
  Legacy(LegacyBody(70, 200, LegacyOrder("503", "3")));
  auto shortHead = Head("503");
  ASSERT_TRUE(shortHead);
  EXPECT_EQ(shortHead->Filled, 0);
  EXPECT_EQ(shortHead->DateClientSent, "");
  EXPECT_EQ(shortHead->GetReference(), "");

  EXPECT_EQ(DeliverCallbacks(),
            (TEvents{OrderEvent("501", "501", osWorking), OrderEvent("501", "501", osSent),
                     OrderEvent("502", "N1", osSent), OrderEvent("503", "503", osWorking)}));

  // A body too short to name its account is dropped; so is one cut inside its status.
  Legacy(LegacyBody(70, 60, LegacyOrder("504", "3")));
  Legacy(std::string("0070"));
  EXPECT_FALSE(Head("504"));
}

// Every prefix of a body, each in a heap block of exactly its size, so that a read past the end
// is caught by the address sanitizer.
TEST_F(OrderMessagesTest, EveryCutOfABodyIsReadWithinIt) {
  Api().NotifyAllMessages = true;
  const std::string legacy = LegacyBody(70, 400, LegacyOrder("601", "2"));
  const std::string tagged =
      Wire(OrderText("OID=602|Sts=2|Seq=5|Flg=1|BgRf=QUOTEID=Q|EAk=20240305|GUID=G-602"));
  for (const auto& [kind, body] : {std::pair{psPriceFeed, legacy}, std::pair{psHost, tagged}}) {
    for (std::size_t size = 0; size <= body.size(); ++size) {
      auto block = std::make_unique<char[]>(size == 0 ? 1 : size);
      std::memcpy(block.get(), body.data(), size);
      ProcessMessage(Api(), kind, std::string_view(block.get(), size));
    }
  }
  EXPECT_TRUE(Head("601"));
  EXPECT_TRUE(Head("602"));
}

// The host link and the price-feed link apply states of the same orders while an application
// thread reads the order list, the user messages and the margin orders.
TEST_F(OrderMessagesTest, LinksAndReadersRunTogether) {
  Api().NotifyAllMessages = true;
  constexpr int kOrders = 40;
  std::atomic<bool> done{false};
  std::thread host([&] {
    for (int i = 0; i < kOrders; ++i) {
      const std::string id = std::to_string(700 + i);
      Order("OID=" + id + "|Sts=2|Seq=1|Flg=1|EAc=E" + id);
      Order("OID=" + id + "|Sts=11|Seq=2|Flg=1");
      Order("OID=" + id + "|Sts=4|Seq=3|Flg=1|OSt=11|Txt=no");
    }
  });
  std::thread price([&] {
    for (int i = 0; i < kOrders; ++i)
      Legacy(LegacyBody(70, 400, LegacyOrder(std::to_string(700 + i), "3")));
  });
  std::thread reader([&] {
    while (!done) {
      for (int i = 0; i < kOrders; ++i)
        if (auto head = Head(std::to_string(700 + i))) (void)head->OFSeqNumber;
      (void)Api().Orders.GetAccountMargin("TRADER1");
      (void)Api().UserMessages.Count();
      (void)Trader()->GetMarginOrders(Future()->Key());
    }
  });
  host.join();
  price.join();
  done = true;
  reader.join();
  for (int i = 0; i < kOrders; ++i)
    EXPECT_TRUE(Head(std::to_string(700 + i))) << i;
  ClearCallbackQueue();
}

TEST_F(OrderMessagesTest, OrderMarginInBothModes) {
  auto rating = std::make_shared<TMarginRating>();
  rating->Rating = "R1";
  rating->Exchange = "LIFFE";
  rating->Commodity = "FTSE";
  rating->Contract = "MAR27";
  rating->CommodityIndicator = " ";
  rating->MarginReq = 50;
  Api().MarginRatings.Add(rating);
  Api().MarginRatingsChanged();
  Order("OID=101|Sts=3|Flg=1|TLt=3");  // a working buy of 3; the contract's "Mar" is 100

  auto prospective = [&](TPurchase side, std::int32_t lots) {
    auto order = std::make_shared<TOrderItem>();
    order->TraderAccount = Trader();
    order->Contract = Future();
    order->BuySell = side;
    order->TargetLots = lots;
    return order;
  };
  // Without market data: the live orders' margin (3 x 100) and no position.
  EXPECT_DOUBLE_EQ(CalcOrderMargin(Api(), *prospective(Buy, 2), 0.0), 300.0);
  // With it, at 50 a lot: the account's 3 working, plus what 2 more add on the contract.
  Api().Features.MarketDataRequired = true;
  EXPECT_DOUBLE_EQ(CalcOrderMargin(Api(), *prospective(Buy, 2), 0.0), 250.0);
  EXPECT_DOUBLE_EQ(CalcOrderMargin(Api(), *prospective(Sell, 2), 0.0), 150.0);
  TOrderItem noAccount;
  EXPECT_DOUBLE_EQ(CalcOrderMargin(Api(), noAccount, 0.0), 0.0);
}

}  // namespace
}  // namespace vorn
