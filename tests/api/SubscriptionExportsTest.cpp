// The price, snapshot, depth and broadcast subscription exports on a logged-on object whose
// link requests are recorded: what each queues in the subscription book or sends at once, the
// result ladders, and a snapshot's wait for its own reply.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/refdata/Subscriptions.h"
#include "core/session/ClassAPI.h"
#include "support/Eventually.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using TPriceRequest = TFakeLinkRequests::TPriceRequest;

const TContractKey kFuture{"LIFFE", "FTSE", "MAR27"};
const TContractKey kGilt{"LIFFE", "GILT", "MAR27"};
const TContractKey kFTSE{"LIFFE", "FTSE", ""};

class SubscriptionExportsTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    requests_->SetConnected(true);
  }

  std::vector<TSubscriptionRequest> PriceQueue() {
    return Api().Subscriptions.PendingPriceRequests();
  }
  std::vector<TSubscriptionRequest> MarketQueue() {
    return Api().Subscriptions.PendingMarketRequests();
  }
  // A spread of a strategy type that the exchange's ticket type does not permit.
  void AddForbiddenSpread() {
    ASSERT_GE(
        Api().Contracts.AddFromFields("LIFFE", "FTSE", "MAR27-JUN27", Fields("X1=BC|X2=LIFFE")), 0);
    Api().Exchanges.FindExchange("LIFFE")->TicketType = 'E';
  }
  // Each recorded snapshot request of the contract is answered at once, on the sending thread,
  // before the caller reaches its wait.
  void AnswerSnapshotsOf(const TContractKey& contract) {
    requests_->SetOnPriceSend([this, contract](const TPriceRequest& request) {
      if (request.Code == kPriceSnapshotCode) Api().Snapshots.Answer(contract);
    });
  }
  std::size_t SnapshotsSent() {
    std::size_t count = 0;
    for (const auto& request : requests_->PriceRequests())
      count += request.Code == kPriceSnapshotCode;
    return count;
  }
};

using TContractExport = std::function<std::int32_t(const char*, const char*, const char*)>;

struct TNamedExport {
  const char* Name;
  TContractExport Call;
};

const TNamedExport kContractExports[] = {
    {"vnSubscribePrice", vnSubscribePrice},
    {"vnUnsubscribePrice", vnUnsubscribePrice},
    {"vnPriceSnapshot",
     [](const char* e, const char* c, const char* d) { return vnPriceSnapshot(e, c, d, 5000); }}};

TEST_F(SubscriptionExportsTest, ContractExportsRefuseWithTheirCodesAndSendNothing) {
  AddForbiddenSpread();
  const struct {
    const char* Name;
    std::function<void(TClassAPI&)> Change;
    const char* Exchange;
    const char* ContractDate;
    std::int32_t Code;
  } cases[] = {
      {"not logged on", [](TClassAPI& api) { api.Logon.LoggedOn = false; }, "LIFFE", "MAR27", 4},
      {"unknown contract date", nullptr, "LIFFE", "DEC99", 22},
      {"unknown exchange", nullptr, "EUREX", "MAR27", 22},
      {"strategy not permitted", nullptr, "LIFFE", "MAR27-JUN27", 48},
  };
  for (const auto& c : cases) {
    for (const auto& call : kContractExports) {
      SCOPED_TRACE(std::string(call.Name) + ", " + c.Name);
      if (c.Change) c.Change(Api());
      EXPECT_EQ(call.Call(c.Exchange, "FTSE", c.ContractDate), c.Code);
      EXPECT_TRUE(PriceQueue().empty());
      EXPECT_TRUE(requests_->PriceRequests().empty());
      Api().Logon.LoggedOn = true;
    }
  }
  Api().Contracts.Clear();
  for (const auto& call : kContractExports)
    EXPECT_EQ(call.Call("LIFFE", "FTSE", "MAR27"), VN_RC_NO_DATA) << call.Name;
}

// The book counts subscribers: only the first queues a subscribe and only the last an
// unsubscribe, each for the contract as its item names it (not as typed, with a blank).
TEST_F(SubscriptionExportsTest, PriceSubscriptionsQueueTheFirstAndTheLastForTheHeartbeat) {
  EXPECT_EQ(vnSubscribePrice("LIFFE ", " FTSE", "MAR27"), 0);
  EXPECT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(kFuture), 2);
  EXPECT_EQ(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_TRUE(Api().Subscriptions.IsSubscribed(kFuture));
  EXPECT_EQ(PriceQueue(),
            (std::vector<TSubscriptionRequest>{{TSubscriptionKind::Price, kFuture, true}}));
  EXPECT_EQ(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_FALSE(Api().Subscriptions.IsSubscribed(kFuture));
  EXPECT_EQ(PriceQueue(),
            (std::vector<TSubscriptionRequest>{{TSubscriptionKind::Price, kFuture, true},
                                               {TSubscriptionKind::Price, kFuture, false}}));
  EXPECT_TRUE(requests_->PriceRequests().empty()) << "sent by the heartbeat, not by the export";
}

TEST_F(SubscriptionExportsTest, SnapshotWithoutAWaitIsSentAtOnceAndSubscribesNothing) {
  EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 0), 0);
  EXPECT_EQ(requests_->PriceRequests(), (std::vector<TPriceRequest>{{204, kFuture}}));
  EXPECT_TRUE(PriceQueue().empty());
  EXPECT_FALSE(Api().Subscriptions.IsSubscribed(kFuture));

  // The price link down: nothing goes, and there is nothing to wait for.
  requests_->SetConnected(false);
  EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", -1), 0);
  EXPECT_EQ(requests_->PriceRequests().size(), 1u);
}

// Each waiting call waits for a reply to its own request: one that came before the wait
// counts, a reply to an earlier call or to another contract does not.
TEST_F(SubscriptionExportsTest, SnapshotWaitEndsWithItsOwnReplyOrTimesOut) {
  const struct {
    const char* Name;
    const TContractKey* Answered;  // answered at the send; none: no reply
    bool LinkUp;
    std::int32_t Code;
  } cases[] = {
      {"no reply", nullptr, true, 11},
      {"reply before the wait", &kFuture, true, 0},
      {"reply for another contract", &kGilt, true, 11},
      {"price link down", &kFuture, false, 11},
  };
  constexpr std::int32_t kWait = 60;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    requests_->SetOnPriceSend(nullptr);
    if (c.Answered) AnswerSnapshotsOf(*c.Answered);
    requests_->SetConnected(c.LinkUp);
    const auto start = steady_clock::now();
    EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", kWait), c.Code);
    const auto waited = steady_clock::now() - start;
    if (c.Code == 0)
      EXPECT_LT(waited, milliseconds(kWait));
    else
      EXPECT_GE(waited, milliseconds(kWait));
  }

  // The first call answered, the second not: the second does not return on the first's reply.
  requests_->SetConnected(true);
  std::atomic<int> sends{0};
  requests_->SetOnPriceSend([&](const TPriceRequest&) {
    if (sends++ == 0) Api().Snapshots.Answer(kFuture);
  });
  EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", kWait), 0);
  EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", kWait), 11);
}

// Two callers waiting on the same contract at once each have a waiter: one price array ends
// both waits.
TEST_F(SubscriptionExportsTest, OnePriceArrayAnswersEveryCallerWaitingOnTheContract) {
  auto first = std::async(std::launch::async,
                          [] { return vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 10000); });
  auto second = std::async(std::launch::async,
                           [] { return vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 10000); });
  // Each waiter is registered before its request is sent.
  ASSERT_TRUE(Eventually([&] { return SnapshotsSent() == 2; }));
  Api().Snapshots.Answer(kFuture);
  EXPECT_EQ(first.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(second.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(first.get(), 0);
  EXPECT_EQ(second.get(), 0);
}

// A log-off while a caller waits wakes it with 11; the caller reads nothing of the object
// after waking (run under ASan).
TEST_F(SubscriptionExportsTest, LogOffDuringASnapshotWaitReturns11) {
  std::promise<void> sent;
  std::atomic<bool> once{false};
  requests_->SetOnPriceSend([&](const TPriceRequest&) {
    if (!once.exchange(true)) sent.set_value();
  });
  const auto start = steady_clock::now();
  auto waiting = std::async(std::launch::async,
                            [] { return vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 60000); });
  sent.get_future().wait();
  api_.reset();  // the caller alone holds the object now, with the log-off
  EXPECT_EQ(vnLogOff(), 0);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), 11);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(SubscriptionExportsTest, DepthExportsRefuseInTheirOrder) {
  const struct {
    const char* Name;
    std::function<void(TClassAPI&, TFakeLinks&)> Change;
    const char* Exchange;
    const char* Commodity;
    const char* ContractDate;
    std::int32_t Code;
  } cases[] = {
      {"not logged on, price link down",
       [](TClassAPI& api, TFakeLinks& links) {
         api.Logon.LoggedOn = false;
         links.Price->connected = false;
       },
       "LIFFE", "FTSE", "MAR27", 4},
      {"price link down", [](TClassAPI&, TFakeLinks& links) { links.Price->connected = false; },
       "EUREX", "FTSE", "MAR27", 36},
      {"unknown exchange", nullptr, "EUREX", "BUND", "MAR27", 32},
      {"unknown commodity", nullptr, "LIFFE", "BUND", "MAR27", 23},
      {"unknown contract date", nullptr, "LIFFE", "FTSE", "DEC99", 22},
  };
  for (const auto& c : cases) {
    for (const bool subscribe : {true, false}) {
      SCOPED_TRACE(std::string(subscribe ? "subscribe, " : "unsubscribe, ") + c.Name);
      if (c.Change) c.Change(Api(), links_);
      const auto call = subscribe ? vnSubscribeToMarket : vnUnsubscribeToMarket;
      EXPECT_EQ(call(c.Exchange, c.Commodity, c.ContractDate), c.Code);
      EXPECT_TRUE(MarketQueue().empty());
      Api().Logon.LoggedOn = true;
      links_.Price->connected = true;
    }
  }
}

// A contract date subscribes the contract's depth; an empty one the whole commodity's, named
// as the commodity item names it.
TEST_F(SubscriptionExportsTest, DepthOfAContractOrOfAWholeCommodity) {
  EXPECT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_EQ(vnSubscribeToMarket(" LIFFE", "FTSE ", ""), 0);
  EXPECT_EQ(Api().Subscriptions.MarketSubscriptionCount(kFuture), 2);
  EXPECT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", ""), 0);
  EXPECT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_EQ(MarketQueue(), (std::vector<TSubscriptionRequest>{
                               {TSubscriptionKind::ContractDepth, kFuture, true},
                               {TSubscriptionKind::CommodityDepth, kFTSE, true},
                               {TSubscriptionKind::CommodityDepth, kFTSE, false},
                               {TSubscriptionKind::ContractDepth, kFuture, false}}));
  EXPECT_EQ(Api().Subscriptions.MarketSubscriptionCount(kFuture), 0);
}

// Broadcasts need no logon; an exchange not held is made, an empty name makes and queues
// nothing.
TEST_F(SubscriptionExportsTest, BroadcastsQueueForTheTrimmedExchangeMadeWhenNew) {
  Api().Logon.LoggedOn = false;
  const int exchanges = Api().Exchanges.Count();
  EXPECT_EQ(vnSubscribeBroadcast("  NEWX "), 0);
  EXPECT_NE(Api().Exchanges.FindExchange("NEWX"), nullptr);
  EXPECT_EQ(vnUnsubscribeBroadcast("LIFFE"), 0);
  EXPECT_EQ(vnSubscribeBroadcast("   "), 0);
  EXPECT_EQ(vnUnsubscribeBroadcast(nullptr), 0);
  EXPECT_EQ(Api().Exchanges.Count(), exchanges + 1);
  EXPECT_EQ(PriceQueue(), (std::vector<TSubscriptionRequest>{
                              {TSubscriptionKind::Broadcast, {"NEWX", "", ""}, true},
                              {TSubscriptionKind::Broadcast, {"LIFFE", "", ""}, false}}));
}

TEST_F(SubscriptionExportsTest, EveryExportAnswers1WithoutAnAPIObject) {
  api_.reset();
  ASSERT_EQ(vnLogOff(), 0);
  EXPECT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 1);
  EXPECT_EQ(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27"), 1);
  EXPECT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 100), 1);
  EXPECT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27"), 1);
  EXPECT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27"), 1);
  EXPECT_EQ(vnSubscribeBroadcast("LIFFE"), 1);
  EXPECT_EQ(vnUnsubscribeBroadcast("LIFFE"), 1);
}

// The call lines and the depth exports' outcome lines are written with TraceAppCalls; the
// depth unsubscribe export writes its failure lines whenever the trace file is open.
TEST_F(SubscriptionExportsTest, TraceLines) {
  ASSERT_TRUE(TraceFileOpen());
  const auto written = [before = ReadFileText(TraceFileName())] {
    return ReadFileText(TraceFileName()).substr(before.size());
  };
  EXPECT_EQ(vnSubscribeToMarket("EUREX", "FTSE", ""), 32);
  EXPECT_EQ(vnUnsubscribeToMarket("LIFFE", "BUND", ""), 23);
  EXPECT_EQ(written().find("bad exchange"), std::string::npos);
  EXPECT_NE(written().find("bad commodity"), std::string::npos);

  vnEnable(kTraceAppCalls);
  EXPECT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", ""), 0);
  EXPECT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  EXPECT_EQ(vnSubscribeBroadcast(" NEWX "), 0);
  vnDisable(kTraceAppCalls);
  const std::string text = written();
  for (const char* line :
       {"vnSubscribePrice LIFFE\\FTSE\\MAR27", "Subscribe to market LIFFE\\FTSE\\\r\n",
        "Subscribe to market commodity successful", "Unsubscribe to market contract successful",
        "vnSubscribeBroadcast NEWX\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
}  // namespace vorn
