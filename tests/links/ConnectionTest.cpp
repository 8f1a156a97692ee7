#include "links/Connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/wire/VornMessage.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/Eventually.h"
#include "support/FakeServer.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

// A host request of a fixed body; as a logon it is held until the link is connected.
class TTestMessage : public TSendHostMessage {
 public:
  TTestMessage(std::string_view code, bool logon) : TSendHostMessage(code), logon_(logon) {
    HeaderFields.AddFieldValue("Msg", code, 0, -1, false);
  }
  bool HeldUntilConnected() const override { return logon_; }

 private:
  bool logon_;
};

// A host link of the current API object (which creates no link itself), ticked by hand as the
// heartbeat does, with the callback thread delivering link states to a recorder.
class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearCallbackQueue();
    ExchangeAPI(apiObject_);
    ASSERT_EQ(TCallbackRecorder::Register(VN_CB_HOST_LINK_STATE_CHANGE), VN_RC_SUCCESS);
    StartCallbackThread();
    api_.Links.HostReconnect = 3;
  }
  void TearDown() override {
    link_.reset();
    StopCallbackThread();
    FreeCallbackRegistrations();
    ClearCallbackQueue();
    ExchangeAPI(nullptr);
  }

  void MakeLink() {
    link_ = std::make_unique<TConnection>(api_, psHost, [](std::int32_t) { return 0; });
  }
  void AddAddress(std::uint16_t port, const std::string& ip = "127.0.0.1") {
    api_.Links.HostAddresses.AddAddress(ip, std::to_string(port));
  }
  // One heartbeat tick of the link: the current address entry, then the link's timer.
  void Tick() {
    const auto entry =
        api_.Links.HostAddresses.Get(static_cast<std::size_t>(api_.Links.HostAddressIndex.load()));
    if (entry) link_->SetAddress(*entry);
    link_->ProcessTimer();
  }
  // Ticks until the link has started a connection attempt (the socket is past Closed).
  void TickUntilConnecting(int maxTicks = 20) {
    for (int i = 0; i < maxTicks && link_->SocketState() == TSocketState::Closed; ++i)
      Tick();
  }
  // A new link connected to the fake host, both ends: the client's connect completes in the
  // kernel before the server's thread takes the peer, and a send needs the peer.
  void ConnectTo(TFakeServer& host) {
    AddAddress(host.Port());
    MakeLink();
    link_->Start(true);
    TickUntilConnecting();
    ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
    ASSERT_TRUE(Eventually([&] { return host.IsConnected(); }));
  }
  std::vector<std::pair<int, int>> LinkStates() {
    std::vector<std::pair<int, int>> states;
    for (const auto& delivery : recorder_.Deliveries())
      if (delivery.Id == VN_CB_HOST_LINK_STATE_CHANGE)
        states.emplace_back(delivery.Payload[0], delivery.Payload[1]);
    return states;
  }

  TTempDir dir_;
  TCallbackRecorder recorder_;
  std::shared_ptr<TClassAPI> apiObject_ = std::make_shared<TClassAPI>();
  TClassAPI& api_ = *apiObject_;
  std::unique_ptr<TConnection> link_;
};

TEST_F(ConnectionTest, ConnectsOnTheThirdTickAndReportsEachLinkState) {
  TFakeServer host(TFakeServerKind::Host);
  AddAddress(host.Port());
  MakeLink();
  link_->Start(true);
  Tick();
  EXPECT_EQ(link_->SocketCount(), 1);  // the socket is made at the first tick
  EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
  Tick();
  EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
  Tick();
  ASSERT_TRUE(host.WaitConnected(5000));
  ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
  ASSERT_TRUE(recorder_.WaitForCount(3));
  const std::vector<std::pair<int, int>> expected = {{VN_LINK_CLOSED, VN_LINK_OPENED},
                                                     {VN_LINK_OPENED, VN_LINK_CONNECTING},
                                                     {VN_LINK_CONNECTING, VN_LINK_CONNECTED}};
  EXPECT_EQ(LinkStates(), expected);
  EXPECT_FALSE(link_->TimerActive());
}

// Logged on, the link handshakes as soon as it connects and tells the application it is
// connected only when the reply comes, once.
TEST_F(ConnectionTest, ConnectWhileLoggedOnWaitsForTheHandshakeReply) {
  TFakeServer host(TFakeServerKind::Host);
  AddAddress(host.Port());
  api_.Logon.LoggedOn = true;
  MakeLink();
  link_->Start(true);
  TickUntilConnecting();
  ASSERT_TRUE(host.WaitConnected(5000));
  const auto handshake = host.NextMessage(5000);
  ASSERT_TRUE(handshake);
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, *handshake), "3361");
  ASSERT_TRUE(recorder_.WaitForCount(2));
  link_->HandshakeReplyReceived();
  link_->HandshakeReplyReceived();
  ASSERT_TRUE(recorder_.WaitForCount(3));
  const std::vector<std::pair<int, int>> expected = {{VN_LINK_CLOSED, VN_LINK_OPENED},
                                                     {VN_LINK_OPENED, VN_LINK_CONNECTING},
                                                     {VN_LINK_CONNECTING, VN_LINK_CONNECTED}};
  EXPECT_EQ(LinkStates(), expected);
}

TEST_F(ConnectionTest, LogonSentBeforeTheConnectLeavesFirstAndOtherMessagesAreDropped) {
  TFakeServer host(TFakeServerKind::Host);
  AddAddress(host.Port());
  MakeLink();
  link_->Start(true);
  TTestMessage early("3301", false);
  link_->Send(early);  // no socket yet: dropped
  TTestMessage logon("3300", true);
  link_->Send(logon);
  TickUntilConnecting();
  ASSERT_TRUE(host.WaitConnected(5000));
  const auto first = host.NextMessage(5000);
  ASSERT_TRUE(first);
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, *first), "3300");
  TTestMessage later("3302", false);
  ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
  link_->Send(later);
  const auto second = host.NextMessage(5000);
  ASSERT_TRUE(second);
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, *second), "3302");
}

// Entry 0 is the address set last. After each loss the link moves on, wrapping after the last;
// a fall-back entry after a loss is tried at the next tick, entry 0 after the reconnect period.
TEST_F(ConnectionTest, WalksTheFallBackAddressesWithWrapAfterEachLoss) {
  std::vector<std::unique_ptr<TFakeServer>> hosts;
  for (int i = 0; i < 3; ++i)
    hosts.push_back(std::make_unique<TFakeServer>(TFakeServerKind::Host));
  for (int i = 2; i >= 0; --i)
    AddAddress(hosts[static_cast<std::size_t>(i)]->Port());
  ASSERT_EQ(api_.Links.HostAddresses.Get(0)->Port, std::to_string(hosts[0]->Port()));
  MakeLink();
  link_->Start(true);
  TickUntilConnecting();

  const int order[] = {0, 1, 2, 0};
  for (std::size_t step = 0; step < std::size(order); ++step) {
    TFakeServer& host = *hosts[static_cast<std::size_t>(order[step])];
    ASSERT_TRUE(host.WaitConnected(5000)) << "step " << step;
    ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
    if (step + 1 == std::size(order)) break;
    host.Disconnect();
    ASSERT_TRUE(Eventually([&] { return link_->LinkLost() && link_->TimerActive(); }));
    for (int i = 0; i < 5 && link_->ReconnectState() != prsCreateInit; ++i)
      Tick();
    ASSERT_EQ(link_->ReconnectState(), prsCreateInit);  // destroyed: the next entry and its delay
    EXPECT_EQ(api_.Links.HostAddressIndex, order[step + 1]);
    EXPECT_EQ(link_->Delay(), order[step + 1] > 0 ? 1 : 3);
    TickUntilConnecting();
  }
}

TEST_F(ConnectionTest, HandshakesFollowTheIntervalOnceLoggedOnButNotDuringTheDownload) {
  struct TCase {
    const char* Name;
    std::int32_t Interval;
    bool Download;
    int Handshakes;  // in 9 ticks
  };
  const TCase cases[] = {
      {"interval 0: none", 0, false, 0},
      {"interval 3: every third tick", 3, false, 3},
      {"during the download: none", 3, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeServer host(TFakeServerKind::Host);
    api_.Links.HostAddresses.Clear();
    AddAddress(host.Port());
    api_.Links.HostHandshakePeriod = c.Interval;
    api_.Logon.LoggedOn = false;
    MakeLink();
    link_->Start(true);
    TickUntilConnecting();
    ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
    api_.Logon.LoggedOn = true;
    api_.Logon.DownloadInProgress = c.Download;
    for (int i = 0; i < 9; ++i)
      Tick();
    int handshakes = 0;
    while (const auto body = host.NextMessage(c.Handshakes > handshakes ? 5000 : 100))
      handshakes += MessageCode(TFakeServerKind::Host, *body) == "3361";
    EXPECT_EQ(handshakes, c.Handshakes);
    link_.reset();
  }
}

TEST_F(ConnectionTest, PriceLinkStaysIdleUntilLoggedOn) {
  link_ = std::make_unique<TConnection>(api_, psPriceFeed, [](std::int32_t) { return 0; });
  link_->SetAddress({"127.0.0.1", "1"});
  link_->Start(true);
  for (int i = 0; i < 5; ++i)
    link_->ProcessTimer();
  EXPECT_EQ(link_->SocketCount(), 0);
  api_.Logon.LoggedOn = true;
  link_->ProcessTimer();
  EXPECT_EQ(link_->SocketCount(), 1);
}

TEST_F(ConnectionTest, UnresolvableHostKeepsTheCycleGoing) {
  AddAddress(1, "no.such.host.invalid");
  MakeLink();
  link_->Start(true);
  for (int i = 0; i < 3; ++i)
    Tick();  // create, wait, connect: refused at once
  EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
  EXPECT_TRUE(link_->TimerActive());
  EXPECT_EQ(link_->ReconnectState(), prsDestroy);
  const std::int32_t sockets = link_->SocketCount();
  for (int i = 0; i < 10; ++i)
    Tick();
  EXPECT_GT(link_->SocketCount(), sockets);  // a new socket for a new attempt
}

TEST_F(ConnectionTest, ShutdownWhileConnectingAndWhileConnectedReturns) {
  TFakeServer host(TFakeServerKind::Host);
  AddAddress(host.Port());
  MakeLink();
  link_->Start(true);
  TickUntilConnecting();
  link_->Shutdown();
  EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
  TTestMessage message("3301", false);
  link_->Send(message);  // dropped

  MakeLink();
  link_->Start(true);
  TickUntilConnecting();
  ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
  link_->Shutdown();
  EXPECT_FALSE(link_->Connected());
}

// Bursts of many reads' worth of frames reach the dispatcher whole and in order, the frames
// straddling the read boundaries; a peer that closes right after its last byte has every byte
// before the close applied.
TEST_F(ConnectionTest, LargeBurstsArriveWholeAndInOrderAlsoWhenThePeerClosesAfterThem) {
  for (const bool closeAfter : {false, true}) {
    SCOPED_TRACE(closeAfter ? "peer closes after the burst" : "peer stays");
    TFakeServer host(TFakeServerKind::Host);
    api_.Links.HostAddresses.Clear();
    api_.Links.HostAddressIndex = 0;
    ASSERT_NO_FATAL_FAILURE(ConnectTo(host));
    api_.OrderIDs.ClearNewOrderIDs();
    // Each frame adds one pre-allocated id; about 4.5 reads' worth of bytes.
    constexpr int kFrames = 12000;
    std::string burst;
    std::vector<std::string> expected;
    for (int n = 1; n <= kFrames; ++n) {
      expected.push_back(std::to_string(1000000 + n));
      burst += Frame(Wire("Msg=3622|OID=" + expected.back() + "|Sts=0|"));
    }
    ASSERT_GT(burst.size(), 4u * TConnection::kReadSize);
    ASSERT_TRUE(host.SendRaw(burst));
    if (closeAfter) host.Disconnect();
    ASSERT_TRUE(Eventually([&] { return api_.OrderIDs.PreAllocatedIDs().size() >= expected.size(); }));
    EXPECT_EQ(api_.OrderIDs.PreAllocatedIDs(), expected);
    if (closeAfter) {
      EXPECT_TRUE(Eventually([&] { return !link_->Connected(); }));
    }
    link_.reset();
  }
}

// The trace lines of a burst applied by the host link's socket thread are in the file, in order,
// once the burst is applied and the thread waits again: nothing else writes the trace.
TEST_F(ConnectionTest, TraceLinesOfAnAppliedBurstAreInTheFileWhileTheLinkWaits) {
  ResetTraceState();
  OpenTraceFile();
  TFakeServer host(TFakeServerKind::Host);
  ASSERT_NO_FATAL_FAILURE(ConnectTo(host));
  api_.OrderIDs.ClearNewOrderIDs();
  constexpr int kFrames = 2000;
  std::string burst;
  std::vector<std::string> dumps;
  for (int n = 1; n <= kFrames; ++n) {
    const std::string id = std::to_string(1000000 + n);
    burst += Frame(Wire("Msg=3622|OID=" + id + "|Sts=0|"));
    dumps.push_back("TFieldsList.SetFields: Msg=3622?OID=" + id + "?Sts=0?\r\n");
  }
  ASSERT_TRUE(host.SendRaw(burst));
  ASSERT_TRUE(Eventually([&] { return api_.OrderIDs.PreAllocatedIDs().size() >= kFrames; }));
  EXPECT_TRUE(Eventually([&] {
    const std::string text = ReadFileText(TraceFileName());
    std::size_t at = 0;
    for (const auto& dump : dumps) {
      at = text.find(dump, at);
      if (at == std::string::npos) return false;
    }
    return true;
  }));
  link_.reset();
  ResetTraceState();
}

// A socket thread ended on request (forced logout) has the API object reset the links.
TEST_F(ConnectionTest, StopSocketThreadRequestsALinkReset) {
  TFakeServer host(TFakeServerKind::Host);
  AddAddress(host.Port());
  MakeLink();
  link_->Start(true);
  TickUntilConnecting();
  ASSERT_TRUE(Eventually([&] { return link_->Connected(); }));
  link_->StopSocketThread();
  EXPECT_TRUE(Eventually([&] { return api_.ResetLinks.load(); }));
}

}  // namespace
}  // namespace vorn
