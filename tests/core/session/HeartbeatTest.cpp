#include "core/session/Heartbeat.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderWatch.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/OrderFixture.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

class TFakeLink : public IHeartbeatLink {
 public:
  void SetAddress(const TAddressItem& address) override { addresses.push_back(address.IP); }
  void ProcessTimer() override {
    ++timerCalls;
    if (throwOnTimer) throw std::runtime_error("socket gone");
  }
  std::vector<std::string> addresses;
  int timerCalls = 0;
  bool throwOnTimer = false;
};

class TCountingSender : public ISubscriptionSender {
 public:
  bool Connected() override { return true; }
  bool SendPriceSubscription(int code, const TContractKey& contract) override {
    sent.push_back(std::to_string(code) + " " + contract.Text());
    return true;
  }
  bool SendMarketSubscription(int code, const TContractKey& commodity) override {
    sent.push_back(std::to_string(code) + " " + commodity.Text());
    return true;
  }
  bool SendBroadcastSubscription(int code, std::string_view exchange) override {
    sent.push_back(std::to_string(code) + " " + std::string(exchange));
    return true;
  }
  void SendHandshake() override {}
  std::vector<std::string> sent;
};

// The API object as the tick sees it, with every event recorded as text.
class TFakeHost : public IHeartbeatHost {
 public:
  TFakeHost() {
    links[psHost] = std::make_unique<TFakeLink>();
    links[psPriceFeed] = std::make_unique<TFakeLink>();
    addresses[psHost] = {{"h0", "1"}, {"h1", "2"}};
    addresses[psPriceFeed] = {{"p0", "3"}};
  }

  bool ResetLinksRequested() override { return resetLinks; }
  bool LoggedOn() override { return loggedOn; }
  bool DownloadInProgress() override { return downloading; }
  bool FreeLink(TLinkKind kind) override {
    return static_cast<bool>(std::exchange(links[kind], {}));
  }
  std::shared_ptr<IHeartbeatLink> Link(TLinkKind kind) override { return links[kind]; }
  std::vector<TAddressItem> Addresses(TLinkKind kind) override { return addresses[kind]; }
  std::atomic<std::int32_t>& AddressIndex(TLinkKind kind) override { return indices[kind]; }
  TSubscriptions* Subscriptions() override { return &book; }
  ISubscriptionSender& SubscriptionSender() override { return sender; }
  std::shared_ptr<TContractItem> FindContract(const TContractKey& key) override {
    const auto it = contracts.find(key.Text());
    return it == contracts.end() ? nullptr : it->second;
  }
  std::vector<std::string> CountDownWatchList(TWatchList list) override {
    return list == TWatchList::Amending ? amending.Tick() : WatchList(list).Tick();
  }
  std::int32_t MemoryWarningThreshold() override { return threshold; }
  TMemoryStatus MemoryStatus() override { return memory; }
  std::int32_t BandwidthPeriod() override { return period; }
  TBandwidthMonitor& Bandwidth() override { return bandwidth; }
  void SendBandwidthReport(const TBandwidthReport& report) override { reports.push_back(report); }

  void PostLinkState(std::int32_t id, std::uint8_t oldState, std::uint8_t newState) override {
    if (!record) return IHeartbeatHost::PostLinkState(id, oldState, newState);
    events.push_back(std::to_string(id) + " " + std::to_string(oldState) + ">" +
                     std::to_string(newState));
  }
  void PostPrice(const TContractKey& contract) override {
    if (!record) return IHeartbeatHost::PostPrice(contract);
    events.push_back("8 " + contract.Text());
  }
  void PostWatchFailure(TWatchList list, std::string_view orderID) override {
    if (!record) return IHeartbeatHost::PostWatchFailure(list, orderID);
    static constexpr std::array<int, 4> kIds = {15, 28, 29, 25};
    events.push_back(std::to_string(kIds[static_cast<std::size_t>(list)]) + " " +
                     std::string(orderID));
  }
  void PostMemoryWarning() override {
    if (!record) return IHeartbeatHost::PostMemoryWarning();
    events.push_back("18");
  }

  // Puts an order (or for the amending list a request) on the list with that countdown.
  void Watch(TWatchList list, const std::string& id, std::int32_t countdown) {
    if (list == TWatchList::Amending) {
      amending.AddRequest({id, TAmendAction::Cancel, {}, {}, countdown});
      return;
    }
    auto order = MakeOrderState(id, osSent);
    order->CancelTimeOut = countdown;
    order->SentTimeOut = countdown;
    order->QueuedTimeOut = countdown;
    WatchList(list).Add(order);
  }
  std::size_t Watched(TWatchList list) {
    return list == TWatchList::Amending ? amending.Count() : WatchList(list).Count();
  }
  TOrderWatchList& WatchList(TWatchList list) {
    return list == TWatchList::PendingCancel ? cancelWatch
           : list == TWatchList::Sent        ? sentWatch
                                             : queuedWatch;
  }

  std::vector<std::string> TakeEvents() { return std::exchange(events, {}); }
  TFakeLink& FakeLink(TLinkKind kind) { return static_cast<TFakeLink&>(*links[kind]); }

  bool record = true;  // false: the events go to the application
  bool resetLinks = false;
  bool loggedOn = true;
  bool downloading = false;
  std::array<std::shared_ptr<IHeartbeatLink>, 2> links;
  std::array<std::vector<TAddressItem>, 2> addresses;
  std::array<std::atomic<std::int32_t>, 2> indices{};
  TSubscriptions book;
  TCountingSender sender;
  std::map<std::string, std::shared_ptr<TContractItem>> contracts;
  TOrderWatchList cancelWatch{&TOrderFields::CancelTimeOut};
  TOrderWatchList sentWatch{&TOrderFields::SentTimeOut};
  TOrderWatchList queuedWatch{&TOrderFields::QueuedTimeOut};
  TAmendingOrdersList amending;
  std::int32_t threshold = 95;
  TMemoryStatus memory{0, 100, 50};  // 50 % load
  std::int32_t period = 0;
  TBandwidthMonitor bandwidth;
  std::vector<TBandwidthReport> reports;
  std::vector<std::string> events;
};

class HeartbeatTest : public ::testing::Test {
 protected:
  // The clock goes in before the heartbeat and the bandwidth monitor read it.
  HeartbeatTest() : install_(clock_), host_(std::make_unique<TFakeHost>()) {}

  // One tick a second, as the timer runs it.
  void Tick() {
    clock_.AdvanceMs(1000);
    beat_.Tick(*host_);
  }

  TFakeClock clock_{45000.0, 1'000'000};
  TClockInstaller install_;
  std::unique_ptr<TFakeHost> host_;
  THeartbeat beat_;
};

TEST_F(HeartbeatTest, EachCountdownFiresItsEventOnceAtItsTick) {
  struct TCase {
    TWatchList list;
    int eventId;
  };
  const TCase lists[] = {{TWatchList::PendingCancel, 15},
                         {TWatchList::Sent, 28},
                         {TWatchList::Queued, 29},
                         {TWatchList::Amending, 25}};
  for (const TCase& c : lists) {
    for (const int delay : {0, 1, 3}) {
      SCOPED_TRACE("event " + std::to_string(c.eventId) + " delay " + std::to_string(delay));
      host_ = std::make_unique<TFakeHost>();
      host_->Watch(c.list, "101", delay);
      host_->Watch(c.list, "102", delay + 1);
      const int firesAt = delay < 1 ? 1 : delay;
      for (int tick = 1; tick <= firesAt + 2; ++tick) {
        Tick();
        // The list is walked from its last entry.
        std::vector<std::string> expected;
        if (tick == delay + 1) expected.push_back(std::to_string(c.eventId) + " 102");
        if (tick == firesAt) expected.push_back(std::to_string(c.eventId) + " 101");
        EXPECT_EQ(host_->TakeEvents(), expected) << "tick " << tick;
      }
      EXPECT_EQ(host_->Watched(c.list), 0u);
    }
  }
}

TEST_F(HeartbeatTest, PriceWorkWaitsForLogonAndTheEndOfTheDownload) {
  host_->book.SubscribePrice({"EX", "COM", "MAR24"});
  host_->Watch(TWatchList::Sent, "101", 0);
  for (const auto& [loggedOn, downloading] : {std::pair{false, false}, std::pair{true, true}}) {
    host_->loggedOn = loggedOn;
    host_->downloading = downloading;
    Tick();
    EXPECT_TRUE(host_->sender.sent.empty());
    EXPECT_TRUE(host_->TakeEvents().empty());
    EXPECT_EQ(host_->Watched(TWatchList::Sent), 1u);
  }
  // The links run all the same.
  EXPECT_EQ(host_->FakeLink(psHost).timerCalls, 2);

  host_->downloading = false;
  Tick();
  EXPECT_EQ(host_->sender.sent, (std::vector<std::string>{"202 EX\\COM\\MAR24"}));
  EXPECT_EQ(host_->TakeEvents(), (std::vector<std::string>{"28 101"}));
}

TEST_F(HeartbeatTest, LinksRunWithTheCurrentAddressAndAStaleIndexStartsAgain) {
  host_->indices[psHost] = 1;
  host_->indices[psPriceFeed] = 4;  // past the end of a one-entry list
  Tick();
  EXPECT_EQ(host_->FakeLink(psHost).addresses, (std::vector<std::string>{"h1"}));
  EXPECT_EQ(host_->FakeLink(psPriceFeed).addresses, (std::vector<std::string>{"p0"}));
  EXPECT_EQ(host_->indices[psPriceFeed].load(), 0);

  host_->addresses[psPriceFeed].clear();
  Tick();
  EXPECT_EQ(host_->FakeLink(psHost).timerCalls, 2);
  EXPECT_EQ(host_->FakeLink(psPriceFeed).timerCalls, 1);
}

TEST_F(HeartbeatTest, ResetLinksFreesBothOnceAndThenDoesNothing) {
  host_->resetLinks = true;
  host_->Watch(TWatchList::Sent, "101", 0);
  host_->threshold = 10;
  host_->period = 1;
  clock_.AdvanceMs(120'000);
  Tick();
  EXPECT_EQ(host_->TakeEvents(), (std::vector<std::string>{"1 3>4", "2 3>4"}));
  EXPECT_EQ(host_->links[psHost], nullptr);
  EXPECT_EQ(host_->links[psPriceFeed], nullptr);
  Tick();
  EXPECT_TRUE(host_->TakeEvents().empty());
  EXPECT_EQ(host_->Watched(TWatchList::Sent), 1u);
  EXPECT_TRUE(host_->reports.empty());
}

TEST_F(HeartbeatTest, AnExceptionEndsOnlyThatTick) {
  TTempDir dir;  // the error report goes here
  host_->FakeLink(psHost).throwOnTimer = true;
  host_->Watch(TWatchList::Sent, "101", 0);
  Tick();
  EXPECT_EQ(host_->FakeLink(psPriceFeed).timerCalls, 0);
  EXPECT_TRUE(host_->TakeEvents().empty());
  host_->FakeLink(psHost).throwOnTimer = false;
  Tick();
  EXPECT_EQ(host_->FakeLink(psPriceFeed).timerCalls, 1);
  EXPECT_EQ(host_->TakeEvents(), (std::vector<std::string>{"28 101"}));
}

TEST_F(HeartbeatTest, PricesAgeOutWithOneEventPerContract) {
  auto api = std::make_shared<TClassAPI>();
  api->Monitoring.PriceAgeCounter = 2;
  const TContractKey aged{"EX", "COM", "MAR24"};
  const TContractKey quiet{"EX", "COM", "JUN24"};
  for (const TContractKey& key : {aged, quiet}) {
    auto contract = std::make_shared<TContractItem>();
    contract->SetNames(key.Exchange, key.Commodity, key.ContractDate);
    contract->SetServices(api->Contracts.Services());
    host_->contracts[key.Text()] = contract;
    host_->book.SubscribePrice(key);
  }
  host_->contracts[aged.Text()]->SetPrice(VN_PK_BID, 5, 101.5);
  host_->contracts[aged.Text()]->SetPrice(VN_PK_OFFER, 5, 102.0);
  host_->contracts[aged.Text()]->TakeChangeMask();
  host_->book.SubscribePrice({"EX", "COM", "SEP24"});  // no contract behind it

  Tick();
  EXPECT_TRUE(host_->TakeEvents().empty());
  Tick();
  EXPECT_EQ(host_->TakeEvents(), (std::vector<std::string>{"8 EX\\COM\\MAR24"}));
  EXPECT_EQ(host_->contracts[aged.Text()]->TakeChangeMask(),
            PriceKindMaskBit(VN_PK_BID) | PriceKindMaskBit(VN_PK_OFFER));
  Tick();
  EXPECT_TRUE(host_->TakeEvents().empty());
}

TEST_F(HeartbeatTest, MemoryWarningsComeAtMostOnceAMinute) {
  host_->memory = {0, 1000, 40};  // 96 %
  std::vector<int> warnedAt;
  for (int tick = 1; tick <= 150; ++tick) {
    Tick();
    if (!host_->TakeEvents().empty()) warnedAt.push_back(tick);
  }
  // The gap counts from the heartbeat's start.
  EXPECT_EQ(warnedAt, (std::vector<int>{60, 120}));

  // Below the threshold, and with no figures at all, nothing comes.
  for (const TMemoryStatus status : {TMemoryStatus{0, 1000, 60}, TMemoryStatus{0, 0, 0}}) {
    host_->memory = status;
    for (int tick = 0; tick < 70; ++tick)
      Tick();
    EXPECT_TRUE(host_->TakeEvents().empty());
  }
  EXPECT_EQ(THeartbeat::MemoryLoad({0, 1000, 40}), 96);
  EXPECT_EQ(THeartbeat::MemoryLoad({0, 0, 0}), -1);
}

TEST_F(HeartbeatTest, BandwidthReportEveryPeriod) {
  host_->period = 3;
  const std::int64_t sentPerTick[] = {10, 40, 5};
  for (int tick = 0; tick < 3; ++tick) {
    host_->bandwidth.AddSent(sentPerTick[tick]);
    host_->bandwidth.AddReceived(7);
    EXPECT_TRUE(host_->reports.empty());
    Tick();
  }
  ASSERT_EQ(host_->reports.size(), 1u);
  const TBandwidthReport& report = host_->reports[0];
  EXPECT_EQ(report.PeriodSeconds, 3);
  EXPECT_EQ(report.PeakSent, 40);
  EXPECT_EQ(report.AverageSent, 18);  // 55 / 3
  EXPECT_EQ(report.PeakReceived, 7);
  EXPECT_EQ(report.AverageReceived, 7);

  // The next period starts empty; nothing is counted during a download or with period 0.
  host_->downloading = true;
  host_->bandwidth.AddSent(1000);
  for (int tick = 0; tick < 5; ++tick)
    Tick();
  host_->downloading = false;
  host_->period = 0;
  for (int tick = 0; tick < 5; ++tick)
    Tick();
  EXPECT_EQ(host_->reports.size(), 1u);
}

TEST_F(HeartbeatTest, TicksRunWhileTheLinksCountBytesAndOrdersAreWatched) {
  host_->period = 2;
  constexpr int kOrders = 400;
  std::thread road([&] {
    for (int i = 0; i < kOrders; ++i) {
      host_->Watch(TWatchList::Sent, std::to_string(1000 + i), i % 3);
      host_->bandwidth.AddSent(100);
      host_->bandwidth.AddReceived(10);
    }
  });
  for (int tick = 0; tick < 200; ++tick)
    Tick();
  road.join();
  for (int tick = 0; tick < 3; ++tick)
    Tick();
  std::set<std::string> fired;
  for (const std::string& event : host_->TakeEvents())
    if (event.starts_with("28 ")) fired.insert(event);
  EXPECT_EQ(fired.size(), static_cast<std::size_t>(kOrders));
  EXPECT_EQ(host_->Watched(TWatchList::Sent), 0u);
  EXPECT_FALSE(host_->reports.empty());
}

TEST_F(HeartbeatTest, EventsReachTheApplicationUnderTheirIds) {
  TTempDir dir;
  ExchangeAPI(std::make_shared<TClassAPI>());
  FreeCallbackRegistrations();
  TCallbackRecorder recorder;
  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  StartCallbackThread();

  host_->record = false;
  host_->memory = {0, 100, 1};
  const std::pair<TWatchList, const char*> watched[] = {{TWatchList::PendingCancel, "11"},
                                                        {TWatchList::Sent, "12"},
                                                        {TWatchList::Queued, "13"},
                                                        {TWatchList::Amending, "14"}};
  for (const auto& [list, id] : watched)
    host_->Watch(list, id, 0);
  clock_.AdvanceMs(60'000);
  Tick();
  host_->resetLinks = true;
  Tick();
  ASSERT_TRUE(recorder.WaitForCount(7));

  std::vector<std::int32_t> ids;
  for (const auto& delivery : recorder.Deliveries())
    ids.push_back(delivery.Id);
  EXPECT_EQ(ids, (std::vector<std::int32_t>{15, 28, 29, 25, 18, 1, 2}));
  const auto deliveries = recorder.Deliveries();
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_STREQ(reinterpret_cast<const char*>(deliveries[i].Payload.data()), watched[i].second);

  StopCallbackThread();
  JoinStoppedThreads();
  FreeCallbackRegistrations();
  ExchangeAPI(nullptr);
}

TEST(BandwidthMonitorTest, AveragesRoundHalfToEvenOverThePeriod) {
  struct TCase {
    std::int64_t bytes;
    std::int64_t seconds;
    std::int64_t average;
  };
  const TCase cases[] = {{30000, 300, 100}, {5, 2, 2}, {7, 2, 4}, {8, 3, 3}, {0, 5, 0}};
  for (const TCase& c : cases) {
    TFakeClock clock{0, 0};
    TClockInstaller install(clock);
    TBandwidthMonitor monitor;
    monitor.AddSent(c.bytes);
    monitor.CloseSecond();
    clock.AdvanceMs(c.seconds * 1000);
    const TBandwidthReport report = monitor.TakeReport();
    EXPECT_EQ(report.PeriodSeconds, c.seconds);
    EXPECT_EQ(report.AverageSent, c.average) << c.bytes << " / " << c.seconds;
  }
}

TEST(BandwidthMonitorTest, HostPeriodIsClamped) {
  EXPECT_EQ(TBandwidthMonitor::ClampHostPeriod(-5), 1);
  EXPECT_EQ(TBandwidthMonitor::ClampHostPeriod(0), 1);
  EXPECT_EQ(TBandwidthMonitor::ClampHostPeriod(300), 300);
  EXPECT_EQ(TBandwidthMonitor::ClampHostPeriod(86400), 86399);
  EXPECT_EQ(TBandwidthMonitor::ClampHostPeriod(std::int64_t{1} << 40), 86399);
}

}  // namespace
}  // namespace vorn
