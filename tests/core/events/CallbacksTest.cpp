#include "core/events/Callbacks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/Eventually.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using TPayload = TCallbackRecorder::TPayload;

// Expected payloads are written at the offsets of the interface, not through the records.
struct TExpected {
  TPayload Bytes{};
  TExpected& Text(std::size_t offset, std::string_view text) {
    std::memcpy(Bytes.data() + offset, text.data(), text.size());
    return *this;
  }
  TExpected& Int(std::size_t offset, std::int32_t value) {
    std::memcpy(Bytes.data() + offset, &value, sizeof value);
    return *this;
  }
  TExpected& Byte(std::size_t offset, unsigned char value) {
    Bytes[offset] = value;
    return *this;
  }
  TExpected& Key(std::string_view exchange, std::string_view commodity, std::string_view date) {
    return Text(0, exchange).Text(11, commodity).Text(22, date);
  }
};

void VN_STDCALL OnNotify() {}
void VN_STDCALL OnOrder(const OrderUpdateStruct*) {}
void VN_STDCALL OnLinkState(const LinkStateStruct*) {}
void VN_STDCALL OnContract(const ContractKeyStruct*) {}

// Polls a condition that another thread brings about; false when it does not hold in time.
class CallbacksTest : public ::testing::Test {
 protected:
  CallbacksTest() {
    ExchangeAPI(std::make_shared<TClassAPI>());
    FreeCallbackRegistrations();
    ClearCallbackQueue();
  }
  ~CallbacksTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
  }

  TTempDir dir_;
  TCallbackRecorder recorder_;
};

TEST_F(CallbacksTest, BuildersDeliverTheirRecordsInPostingOrderOnTheCallbackThread) {
  struct Case {
    const char* name;
    std::int32_t id;
    std::function<void()> post;
    TExpected expected;
  };
  OrderTypeStruct orderType{};
  std::memcpy(orderType.Name, " LMT ", 5);
  std::memcpy(orderType.ExchangeName, "\tX", 2);
  orderType.OrderTypeID = 2;
  orderType.PricesRequired = 1;
  orderType.AutoCreated = 'N';
  orderType.GTCFlag = 'G';
  std::memcpy(orderType.TicketType, "AB", 2);
  TraderAcctStruct trader{};
  std::memcpy(trader.TraderAccount, " T1 ", 4);
  std::memcpy(trader.BackOfficeID, "BO ", 3);
  trader.Tradable = 'Y';
  trader.LossLimit = 5000;

  const std::string longText(60, 'f');
  const std::vector<Case> cases = {
      {"order, ids trimmed", 5, [] { AddOrderCallback(" 123 ", "\t99\r", VN_OS_WORKING, 42); },
       TExpected().Text(0, "123").Text(11, "99").Byte(22, 3).Int(23, 42)},
      {"fill", 9, [] { AddFillCallback("123 ", " F-1"); },
       TExpected().Text(0, "123").Text(11, "F-1")},
      {"message id, not trimmed", 4, [] { AddMessageCallback(" M7 "); },
       TExpected().Text(0, " M7 ")},
      {"contract update", 33, [] { AddContractCallback(33, " CME ", "ES", "MAR24 "); },
       TExpected().Key("CME", "ES", "MAR24")},
      {"price, name cut to its width", 8,
       [] { AddPriceCallback("AnExchangeNameTooLong", "C", "D"); },
       TExpected().Key("AnExchange", "C", "D")},
      {"depth of market, not trimmed", 21, [] { AddDOMCallback(" X ", "C", "D"); },
       TExpected().Key(" X ", "C", "D")},
      {"status change", 10, [] { AddStatusChangeCallback("X", "C", "D", 0x1234); },
       TExpected().Key("X", "C", "D").Int(73, 0x1234)},
      {"generic price", 26, [] { AddGenericPriceCallback(" X ", "C", "D", 28, 'B'); },
       TExpected().Key("X", "C", "D").Int(73, 28).Text(77, "B")},
      {"price link state", 2, [] { AddLinkStateCallback(VN_CB_PRICE_STATE_CHANGE, 2, 3); },
       TExpected().Byte(0, 2).Byte(1, 3)},
      {"exchange rate", 13, [] { AddExchangeRateCallback(" USD "); }, TExpected().Text(0, "USD")},
      {"commodity", 32, [] { AddCommodityCallback(32, " X ", " C "); },
       TExpected().Text(0, "X").Text(11, "C")},
      {"purge completed", 36, [] { AddPurgeCompletedCallback(36, " X "); },
       TExpected().Text(0, "X")},
      {"connectivity status", 14,
       [] {
         AddConnectivityStatusCallback(
             {" f1 ", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10"});
       },
       TExpected()
           .Text(0, "f1")
           .Text(37, "f2")
           .Text(41, "f3")
           .Text(45, "f4")
           .Text(49, "f5")
           .Text(70, "f6")
           .Text(326, "f7")
           .Text(347, "f8")
           .Text(368, "f9")
           .Text(383, "f10")},
      {"cancel failure", 15, [] { AddOrderCancelFailureCallback(" 77 "); },
       TExpected().Text(0, "77")},
      {"sent failure", 28, [] { AddOrderSentFailureCallback("78"); }, TExpected().Text(0, "78")},
      {"ticker", 17,
       [] {
         AddTickerCallback("X", "C", "D", {101.5, 3, 102.25, 4, 101.75, 9}, true, false, true);
       },
       TExpected()
           .Key("X", "C", "D")
           .Text(73, "101.5")
           .Int(94, 3)
           .Text(98, "102.25")
           .Int(119, 4)
           .Text(123, "101.75")
           .Int(144, 9)
           .Text(148, "YNY")},
      {"settlement", 22,
       [] { AddSettlementCallback(" X ", "C", "D", 7, " 240315 ", "14:30:00", 1234.56789012); },
       TExpected()
           .Key("X", "C", "D")
           .Int(73, 7)
           .Text(77, "1234.56789")
           .Text(98, "240315")
           .Text(105, "14:30:00")},
      {"settlement date longer than its field", 22,
       [] { AddSettlementCallback("X", "C", "D", 25, "20240315", "143000", 5); },
       TExpected()
           .Key("X", "C", "D")
           .Int(73, 25)
           .Text(77, "5")
           .Text(98, "202403")
           .Text(105, "143000")},
      {"strategy failure, text cut to 50", 24,
       [&] { AddStrategyCreateFailureCallback(" U ", "X", "C", "D", longText); },
       TExpected().Text(0, "U").Text(11, "X").Text(22, "C").Text(33, "D").Text(
           84, longText.substr(0, 50))},
      {"order type", 38, [&] { AddOrderTypeCallback(orderType); },
       TExpected().Text(0, "LMT").Text(11, "X").Int(22, 2).Byte(26, 1).Text(29, "N").Text(32,
                                                                                          "GAB")},
      {"trader", 37, [&] { AddTraderCallback(37, trader); },
       TExpected().Text(0, "T1").Text(21, "BO").Text(42, "Y").Int(43, 5000)},
      {"download complete, no payload", 7, [] { AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0); },
       TExpected()},
  };

  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  StartCallbackThread();
  for (const auto& c : cases)
    c.post();
  ASSERT_TRUE(recorder_.WaitForCount(cases.size()));

  const auto deliveries = recorder_.Deliveries();
  ASSERT_EQ(deliveries.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(deliveries[i].Id, cases[i].id);
    EXPECT_EQ(deliveries[i].Payload, cases[i].expected.Bytes);
    EXPECT_NE(deliveries[i].Thread, std::this_thread::get_id());
    EXPECT_EQ(deliveries[i].Thread, deliveries[0].Thread);
  }
  EXPECT_FALSE(recorder_.Overlapped());
}

TEST_F(CallbacksTest, EventsFromTwoThreadsKeepTheirQueueOrder) {
  constexpr int kPerThread = 400;
  TCallbackRecorder::Register(VN_CB_ORDER);
  StartCallbackThread();
  const auto poster = [](const char* tag) {
    for (int seq = 0; seq < kPerThread; ++seq)
      AddOrderCallback(tag, "", VN_OS_QUEUED, seq);
  };
  std::thread a(poster, "A");
  std::thread b(poster, "B");
  a.join();
  b.join();
  ASSERT_TRUE(recorder_.WaitForCount(2 * kPerThread));

  std::map<std::string, std::vector<std::int32_t>> seen;
  for (const auto& delivery : recorder_.Deliveries()) {
    OrderUpdateStruct update;
    std::memcpy(&update, delivery.Payload.data(), sizeof update);
    const std::int32_t seq = update.OFSeqNumber;  // packed: copied before binding a reference
    seen[update.OrderID].push_back(seq);
  }
  std::vector<std::int32_t> expected(kPerThread);
  for (int seq = 0; seq < kPerThread; ++seq)
    expected[static_cast<std::size_t>(seq)] = seq;
  EXPECT_EQ(seen["A"], expected);
  EXPECT_EQ(seen["B"], expected);
  EXPECT_FALSE(recorder_.Overlapped());
}

// The thread is woken only by a post that finds the queue empty: events posted one or a few
// at a time, each lot awaited before the next, and lots posted from inside a procedure, all
// arrive (a lost wake-up would leave one queued).
TEST_F(CallbacksTest, EveryLotOfEventsWakesTheThread) {
  TCallbackRecorder::Register(VN_CB_ORDER);
  TCallbackRecorder::Register(VN_CB_FILL);
  recorder_.SetHook([](const TCallbackRecorder::TDelivery& delivery) {
    if (delivery.Id == VN_CB_FILL) AddOrderCallback("from inside", "", VN_OS_QUEUED, 0);
  });
  StartCallbackThread();
  std::size_t expected = 0;
  for (int lot = 0; lot < 300; ++lot) {
    for (int k = 0; k <= lot % 3; ++k, ++expected)
      AddOrderCallback("1", "", VN_OS_QUEUED, lot);
    if (lot % 10 == 0) {
      AddFillCallback("1", "F1");
      expected += 2;
    }
    ASSERT_TRUE(recorder_.WaitForCount(expected)) << "lot " << lot;
  }
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

// The trace ring shows each post and each delivery under its event's name, as an error
// report's traceback prints them.
TEST_F(CallbacksTest, TheTraceRingNamesEachPostAndDelivery) {
  InitTraceRing(kTraceRingSize);
  TCallbackRecorder::Register(VN_CB_TICKER_UPDATE);
  // The invalid one first: it has been taken out once the ticker is delivered.
  AddCallback(99, nullptr, 0);
  AddTickerCallback("X", "C", "D", {1, 1, 2, 2, 1.5, 3}, true, true, true);
  StartCallbackThread();
  ASSERT_TRUE(recorder_.WaitForCount(1));
  StopCallbackThread();
  const std::string ring = FormatTraceback();
  for (const char* line : {
           "Start: AddCallback  - vnTickerUpdate\r\n",
           "Exit:  AddCallback \r\n",
           "Start: AddCallback  - Invalid\r\n",
           "TCallbackThread.Execute Routine vnTickerUpdate\r\n",
           "TCallbackThread.Execute Routine Invalid\r\n",
       })
    EXPECT_NE(ring.find(line), std::string::npos) << line;
}

TEST_F(CallbacksTest, EachExportAcceptsOnlyItsOwnIds) {
  // Every id with an event is accepted by exactly one registering export; 0, 20, 34, 35 and
  // numbers outside the range by none.
  std::vector<std::string_view> exports;
#define VN_EXPORT(name) \
  if (std::string_view(#name).starts_with("vnRegister")) exports.push_back(#name);
#include "vornexports.inc"
#undef VN_EXPORT
  ASSERT_EQ(exports.size(), 28u);
  for (std::int32_t id = -1; id <= 40; ++id) {
    int accepting = 0;
    for (const auto name : exports)
      accepting += CallbackIdAccepted(name, id) ? 1 : 0;
    const bool hasEvent = id >= 1 && id <= 38 && id != 20 && id != 34 && id != 35;
    EXPECT_EQ(accepting, hasEvent ? 1 : 0) << "id " << id;
  }

  // Through the exports themselves.
  FreeCallbackRegistrations();
  EXPECT_EQ(vnRegisterOrderCallback(VN_CB_FILL, OnOrder), VN_RC_UNKNOWN_CALLBACK_ID);
  EXPECT_FALSE(CallbackRegistered(VN_CB_FILL));
  EXPECT_EQ(vnRegisterCallback(VN_CB_ORDER_BOOK_RESET, OnNotify), VN_RC_UNKNOWN_CALLBACK_ID);
  EXPECT_FALSE(CallbackRegistered(VN_CB_ORDER_BOOK_RESET));
  EXPECT_EQ(vnRegisterLinkStateCallback(20, OnLinkState), VN_RC_UNKNOWN_CALLBACK_ID);
  for (const std::int32_t id : {11, 12, 33}) {
    EXPECT_EQ(vnRegisterContractCallback(id, OnContract), VN_RC_SUCCESS) << id;
    EXPECT_TRUE(CallbackRegistered(id)) << id;
  }
  EXPECT_EQ(vnRegisterContractCallback(VN_CB_PRICE_UPDATE, OnContract), VN_RC_UNKNOWN_CALLBACK_ID);
  EXPECT_TRUE(TCallbackRecorder::RegisterAll());

  // Re-initialising drops every registration; without an API object nothing is stored.
  FreeCallbackRegistrations();
  for (std::int32_t id = 0; id <= kMaxCallbackId; ++id)
    EXPECT_FALSE(CallbackRegistered(id)) << id;
  ExchangeAPI(nullptr);
  EXPECT_EQ(vnRegisterOrderCallback(VN_CB_ORDER, OnOrder), VN_RC_NOT_INITIALISED);
  EXPECT_FALSE(CallbackRegistered(VN_CB_ORDER));
}

TEST_F(CallbacksTest, ANullProcedureUnregisters) {
  ASSERT_EQ(TCallbackRecorder::Register(VN_CB_ORDER), VN_RC_SUCCESS);
  ASSERT_EQ(TCallbackRecorder::Register(VN_CB_FILL), VN_RC_SUCCESS);
  ASSERT_EQ(vnRegisterOrderCallback(VN_CB_ORDER, nullptr), VN_RC_SUCCESS);
  EXPECT_FALSE(CallbackRegistered(VN_CB_ORDER));

  StartCallbackThread();
  AddOrderCallback("1", "", VN_OS_SENT, 0);
  AddFillCallback("1", "F1");
  ASSERT_TRUE(recorder_.WaitForCount(1));
  const auto deliveries = recorder_.Deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].Id, VN_CB_FILL);
}

TEST_F(CallbacksTest, NothingIsDeliveredWhileTheAPIObjectIsShuttingDownOrGone) {
  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  StartCallbackThread();
  SetCallbackDelivery(false);  // as the API object's shut-down does
  AddOrderCallback("1", "", VN_OS_SENT, 0);
  AddCallback(VN_CB_FORCED_LOGOUT, nullptr, 0);
  ASSERT_TRUE(Eventually([] { return CallbackQueueCount() == 0; }));

  // Gone as the current object, but kept alive here: its destructor would stop the thread.
  SetCallbackDelivery(true);
  auto kept = ExchangeAPI(nullptr);
  AddFillCallback("1", "F1");
  ASSERT_TRUE(Eventually([] { return CallbackQueueCount() == 0; }));

  kept.reset();  // stops the thread, which may still hold the last event
  EXPECT_FALSE(CallbackThreadRunning());
  EXPECT_EQ(recorder_.Count(), 0u);
}

TEST_F(CallbacksTest, EventsQueuedBeforeTheThreadStartsAreDelivered) {
  TCallbackRecorder::Register(VN_CB_ORDER);
  AddOrderCallback("1", "", VN_OS_SENT, 0);
  AddOrderCallback("2", "", VN_OS_SENT, 0);
  EXPECT_EQ(CallbackQueueCount(), 2u);
  StartCallbackThread();
  EXPECT_TRUE(recorder_.WaitForCount(2));
}

TEST_F(CallbacksTest, StopFromInsideAProcedureReturnsAndFreesTheQueuedEvents) {
  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  TEvent stopReturned(true);
  recorder_.SetHook([&](const TCallbackRecorder::TDelivery& delivery) {
    if (delivery.Id != VN_CB_DATA_DL_COMPLETE) return;
    StopCallbackThread();
    stopReturned.SetEvent();
  });
  // Queued before the thread runs, so the second is still waiting when the first stops it.
  AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);
  AddOrderCallback("1", "", VN_OS_SENT, 0);
  StartCallbackThread();
  ASSERT_TRUE(stopReturned.WaitFor(std::chrono::seconds(10)));

  JoinStoppedThreads();
  EXPECT_FALSE(CallbackThreadRunning());
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_EQ(recorder_.Count(), 1u);

  // A new thread takes over.
  StartCallbackThread();
  AddFillCallback("1", "F1");
  ASSERT_TRUE(recorder_.WaitForCount(2));
  EXPECT_EQ(recorder_.Deliveries()[1].Id, VN_CB_FILL);
}

TEST_F(CallbacksTest, AFailingProcedureDoesNotStopDelivery) {
  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  recorder_.SetHook([](const TCallbackRecorder::TDelivery& delivery) {
    if (delivery.Id == VN_CB_ORDER) throw std::runtime_error("application failure");
  });
  StartCallbackThread();
  AddOrderCallback("1", "", VN_OS_SENT, 0);
  AddFillCallback("1", "F1");
  ASSERT_TRUE(recorder_.WaitForCount(2));
  EXPECT_EQ(recorder_.Deliveries()[1].Id, VN_CB_FILL);
}

// An application procedure that blocks on the first event until released, then records the
// sequence number of every event it is given.
struct TBlockingApplication {
  TLatch Blocked;
  TLatch Release;
  std::vector<std::int32_t> Seen;  // written on the callback thread only
  std::atomic<std::size_t> Count{0};
};
TBlockingApplication* blockingApplication = nullptr;

void VN_STDCALL OnOrderBlocking(const OrderUpdateStruct* update) {
  TBlockingApplication& app = *blockingApplication;
  if (app.Seen.empty()) {
    app.Blocked.Set();
    app.Release.Wait();
  }
  const std::int32_t seq = update->OFSeqNumber;
  app.Seen.push_back(seq);
  app.Count.store(app.Seen.size(), std::memory_order_release);
}

// The procedure blocks for 5 s while 100,000 events are posted: the queue holds no more than
// the records posted (40 bytes each here, in blocks of 32 KB), and once the procedure returns
// every event arrives, in posting order, and the queue gives its blocks back.
TEST_F(CallbacksTest, EventsPostedWhileTheApplicationBlocksAllArriveInOrder) {
  constexpr std::int32_t kQueued = 100000;
  constexpr std::size_t kRecordBytes = 8 + 32;  // header, payload rounded up to 8
  TBlockingApplication app;
  app.Seen.reserve(kQueued + 1);
  blockingApplication = &app;
  // However the test ends, the procedure is let go and the thread ends before app does.
  struct TLetGo {
    TLatch& Release;
    ~TLetGo() {
      Release.Set();
      StopCallbackThread();
      JoinStoppedThreads();
      blockingApplication = nullptr;
    }
  } letGo{app.Release};
  ASSERT_EQ(vnRegisterOrderCallback(VN_CB_ORDER, OnOrderBlocking), VN_RC_SUCCESS);
  StartCallbackThread();
  AddOrderCallback("1", "", VN_OS_QUEUED, 0);
  ASSERT_TRUE(app.Blocked.WaitFor(std::chrono::seconds(10)));
  const auto blockedAt = std::chrono::steady_clock::now();

  for (std::int32_t seq = 1; seq <= kQueued; ++seq)
    AddOrderCallback("1", "", VN_OS_QUEUED, seq);
  EXPECT_EQ(CallbackQueueCount(), static_cast<std::size_t>(kQueued));
  const std::size_t posted = kQueued * kRecordBytes;
  const std::size_t held = CallbackQueueBytes();
  EXPECT_GE(held, posted);
  EXPECT_LE(held, posted + posted / 100 + 3 * (TEventQueue::kBlockBytes + 64));
  std::this_thread::sleep_until(blockedAt + std::chrono::seconds(5));
  EXPECT_EQ(app.Count.load(), 0u);  // still inside the first event
  app.Release.Set();

  ASSERT_TRUE(Eventually([&] { return app.Count.load(std::memory_order_acquire) == kQueued + 1u; },
                         std::chrono::seconds(60)))
      << app.Count.load();
  StopCallbackThread();
  JoinStoppedThreads();
  for (std::int32_t seq = 0; seq <= kQueued; ++seq) {
    ASSERT_EQ(app.Seen[static_cast<std::size_t>(seq)], seq);
  }
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_LE(CallbackQueueBytes(), 2 * (TEventQueue::kBlockBytes + 64));
}

TEST_F(CallbacksTest, ATickerWithoutAChangePostsNothing) {
  AddTickerCallback("X", "C", "D", {}, false, false, false);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(CallbacksTest, TraceLinesNameTheEvents) {
  ResetTraceState();
  OpenTraceFile();
  ASSERT_TRUE(TraceFileOpen());
  const std::string traceFile = TraceFileName();
  EnableDebugFlags(kTraceAppCalls | kGenerateOrderLog);

  TCallbackRecorder::Register(VN_CB_ORDER);
  TCallbackRecorder::Register(VN_CB_FILL);
  TCallbackRecorder::Register(VN_CB_STATUS_CHANGE);
  recorder_.SetHook([](const TCallbackRecorder::TDelivery& delivery) {
    if (delivery.Id == VN_CB_FILL) throw std::runtime_error("application failure");
  });
  StartCallbackThread();
  AddOrderCallback("123", "99", VN_OS_WORKING, 0);
  AddFillCallback("123", "F1");
  AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);  // not registered
  AddStatusChangeCallback("X", "C", "D", 255);
  ASSERT_TRUE(recorder_.WaitForCount(3));
  StopCallbackThread();
  DisableDebugFlags(kTraceAppCalls | kGenerateOrderLog);
  CloseTraceFile();

  const std::string trace = ReadFileText(traceFile);
  ResetTraceState();
  for (const char* line : {
           " vnRegisterOrderCallback: added routine vnOrder\r\n",
           " Adding Order Callback 123, Old ID=99 status= osWorking\r\n",
           " Issuing callback vnOrder 123\r\n",
           " Issuing callback vnFill 123, F1\r\n",
           " Error executing vnFill\r\n",
           " Cant issued callback: vnDataDLComplete is not defined\r\n",
           " Issuing callback vnStatusChange X \\ C \\ D: 000000FF\r\n",
       })
    EXPECT_NE(trace.find(line), std::string::npos) << line;
}

TEST(CallbackNameTest, NamesEveryIdAndInvalidOtherwise) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {1, "vnHostLinkStateChange"},
      {5, "vnOrder"},
      {20, "vnVTSUpdate"},
      {22, "vnSettlementCallback"},
      {28, "vnOrderSentFailure"},
      {38, "vnOrderTypeUpdate"},
      {0, "Invalid"},
      {34, "Invalid"},
      {35, "Invalid"},
      {39, "Invalid"},
      {-1, "Invalid"},
  };
  for (const auto& [id, name] : cases)
    EXPECT_EQ(CallbackName(id), name) << id;
}

}  // namespace
}  // namespace vorn
