#include "links/WSocket.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <netdb.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "platform/Event.h"
#include "support/Eventually.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

// Plays the link: records every call in order, reads one block per data call as the link does,
// and notes calls that overlap.
class TRecordingHandler : public ISocketHandler {
 public:
  // Runs inside SocketDataAvailable in place of the plain read.
  std::function<void(TWSocket&)> OnData;
  // Runs inside SocketChangeState after the change is recorded.
  std::function<void(TWSocket&, TSocketState)> OnState;

  void SocketDataAvailable(TWSocket& socket, int error) override {
    TEnter enter(*this);
    if (OnData) {
      OnData(socket);
    } else {
      char buffer[8192];
      const int got = socket.Receive(buffer, sizeof buffer);
      if (got > 0) Record([&] { received_.append(buffer, static_cast<std::size_t>(got)); });
    }
    Record([&] { errors_ += error; });
  }
  void SocketSessionConnected(TWSocket&, int error) override {
    TEnter enter(*this);
    Record([&] { events_.push_back("SessionConnected " + std::to_string(error)); });
  }
  void SocketSessionClosed(TWSocket&, int error) override {
    TEnter enter(*this);
    Record([&] { events_.push_back("SessionClosed " + std::to_string(error)); });
  }
  void SocketChangeState(TWSocket& socket, TSocketState oldState, TSocketState newState) override {
    TEnter enter(*this);
    const bool stored = socket.State() == newState;
    const int sendResult = socket.Send("hello", 5);
    Record([&] {
      events_.push_back(std::string(SocketStateName(oldState)) + ">" + SocketStateName(newState));
      if (!stored) events_.push_back("state not stored");
      sendResults_.push_back(sendResult);
    });
    if (OnState) OnState(socket, newState);
  }
  void SocketThreadStopped(TWSocket&) override {
    TEnter enter(*this);
    Record([&] { events_.push_back("ThreadStopped"); });
  }

  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<int> SendResults() {
    std::lock_guard lock(mutex_);
    return sendResults_;
  }
  int Count(const std::string& event) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(events_.begin(), events_.end(), event));
  }
  bool Overlapped() const { return overlapped_.load(); }
  int Errors() {
    std::lock_guard lock(mutex_);
    return errors_;
  }

  bool WaitForEvent(const std::string& event) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }
  bool WaitForReceived(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] { return received_.size() >= count; });
  }

  void AppendReceived(const char* data, int count) {
    Record([&] { received_.append(data, static_cast<std::size_t>(count)); });
  }
  void Note(const std::string& event) {
    Record([&] { events_.push_back(event); });
  }

 private:
  struct TEnter {
    explicit TEnter(TRecordingHandler& owner) : owner(owner) {
      if (owner.active_.fetch_add(1) != 0) owner.overlapped_ = true;
    }
    ~TEnter() { owner.active_.fetch_sub(1); }
    TRecordingHandler& owner;
  };

  template <class Change>
  void Record(Change change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::vector<int> sendResults_;
  std::string received_;
  int errors_ = 0;
  std::atomic<int> active_{0};
  std::atomic<bool> overlapped_{false};
};

// Ends the test process when a step hangs, instead of letting the suite stall.
class TWatchdog {
 public:
  explicit TWatchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          if (!done_.WaitFor(limit)) {
            std::fprintf(stderr, "watchdog: the socket hung\n");
            std::abort();
          }
        }) {}
  ~TWatchdog() {
    done_.SetEvent();
    thread_.join();
  }

 private:
  TEvent done_{true};
  std::thread thread_;
};

class WSocketTest : public ::testing::Test {
 protected:
  WSocketTest() {
    ResetTraceState();
    InitTraceRing(kTraceRingSize);
  }
  ~WSocketTest() override { ResetTraceState(); }

  std::unique_ptr<TWSocket> MakeSocket(std::uint16_t port, bool keepAlive = true) {
    auto socket = std::make_unique<TWSocket>(handler_, keepAlive);
    socket->SetAddr("127.0.0.1");
    socket->SetPort(std::to_string(port));
    socket->SetProto("tcp");
    return socket;
  }
  // Connects to the listener and accepts the connection.
  std::unique_ptr<TWSocket> ConnectAndAccept(std::unique_ptr<TLoopbackPeer>& peer,
                                             bool keepAlive = true) {
    auto socket = MakeSocket(listener_.Port(), keepAlive);
    socket->Connect();
    peer = listener_.Accept();
    EXPECT_NE(peer, nullptr);
    EXPECT_TRUE(handler_.WaitForEvent("SessionConnected 0"));
    // What the state handler sent on Connected; read, so that the peer's close is orderly.
    if (peer) {
      EXPECT_EQ(peer->Read(5), "hello");
    }
    return socket;
  }

  TRecordingHandler handler_;
  TLoopbackListener listener_;
};

const std::vector<std::string> kConnectEvents = {"Closed>Opened", "Opened>Connecting",
                                                 "Connecting>Connected", "SessionConnected 0"};

TEST_F(WSocketTest, ConnectAnnouncesStatesInOrderAndCanSendFromConnected) {
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TRecordingHandler handler;
    auto socket = std::make_unique<TWSocket>(handler, true);
    socket->SetAddr("127.0.0.1");
    socket->SetPort(std::to_string(listener_.Port()));
    socket->SetProto("tcp");
    EXPECT_EQ(socket->Send("x", 1), -1);
    socket->Connect();
    auto peer = listener_.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(handler.WaitForEvent("SessionConnected 0"));
    EXPECT_EQ(handler.Events(), kConnectEvents);
    // Sends from the state handler: refused before Connected, sent on Connected.
    EXPECT_EQ(handler.SendResults(), (std::vector<int>{-1, -1, 5}));
    EXPECT_EQ(peer->Read(5), "hello");
    EXPECT_EQ(socket->State(), TSocketState::Connected);
    EXPECT_EQ(socket->BytesSent(), 5);
    socket.reset();
    const std::vector<std::string> closed = {"Connected>Closed", "SessionClosed 0"};
    auto events = handler.Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(events.begin() + 4, events.end()), closed);
    EXPECT_FALSE(handler.Overlapped());
    EXPECT_TRUE(peer->WaitForEnd());
  }
}

TEST_F(WSocketTest, ReceivesAndSendsAndCountsBytes) {
  std::unique_ptr<TLoopbackPeer> peer;
  auto socket = ConnectAndAccept(peer);
  const std::string data(3000, 'q');
  ASSERT_TRUE(peer->Write(data));
  ASSERT_TRUE(handler_.WaitForReceived(data.size()));
  EXPECT_EQ(handler_.Received(), data);
  EXPECT_EQ(socket->BytesReceived(), 3000);

  const std::string reply = "0123456789";
  EXPECT_EQ(socket->Send(reply.data(), static_cast<int>(reply.size())), 10);
  EXPECT_EQ(peer->Read(10), reply);
  EXPECT_EQ(socket->BytesSent(), 15);
  EXPECT_EQ(socket->GetAddr(), "127.0.0.1");
  EXPECT_EQ(socket->GetProto(), "tcp");
  EXPECT_EQ(handler_.Errors(), 0);
}

TEST_F(WSocketTest, PeerCloseDeliversEveryByteThenClosesOnce) {
  // The first read is held until the peer has sent everything and closed, so the close is seen
  // with far more bytes waiting than one read takes.
  TEvent peerClosed{true};
  TEvent firstRead{true};
  handler_.OnData = [&](TWSocket& socket) {
    firstRead.SetEvent();
    EXPECT_TRUE(peerClosed.WaitFor(kWait));
    char buffer[8192];
    const int got = socket.Receive(buffer, sizeof buffer);
    if (got > 0) handler_.AppendReceived(buffer, got);
  };
  std::unique_ptr<TLoopbackPeer> peer;
  auto socket = ConnectAndAccept(peer);
  std::string data(20 * 1024, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(peer->Write(data));
  ASSERT_TRUE(firstRead.WaitFor(kWait));
  peer->Close();
  peerClosed.SetEvent();

  ASSERT_TRUE(handler_.WaitForEvent("SessionClosed 0"));
  EXPECT_EQ(handler_.Received(), data);
  EXPECT_EQ(socket->BytesReceived(), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(socket->State(), TSocketState::Closed);
  EXPECT_EQ(socket->HSocket(), kInvalidSocket);
  EXPECT_EQ(socket->Send("x", 1), -1);
  socket.reset();
  auto events = handler_.Events();
  EXPECT_EQ(std::vector<std::string>(events.begin() + 4, events.end()),
            (std::vector<std::string>{"Connected>Closed", "SessionClosed 0"}));
}

TEST_F(WSocketTest, CloseWithSilentPeerClosesOnce) {
  std::unique_ptr<TLoopbackPeer> peer;
  auto socket = ConnectAndAccept(peer);
  socket->Close();
  ASSERT_TRUE(handler_.WaitForEvent("SessionClosed 0"));
  EXPECT_EQ(socket->State(), TSocketState::Closed);
  EXPECT_TRUE(peer->WaitForEnd());
  socket->Close();  // nothing more to do
  socket.reset();
  EXPECT_EQ(handler_.Count("SessionClosed 0"), 1);
  EXPECT_EQ(handler_.Count("Connected>Closed"), 1);
  EXPECT_EQ(handler_.Events().size(), 6u);
}

TEST_F(WSocketTest, CloseWhileConnectingToUnacceptedPeer) {
  // Nobody accepts: the kernel completes the connect, the host stays silent.
  auto socket = MakeSocket(listener_.Port());
  socket->Connect();
  socket->Close();
  ASSERT_TRUE(handler_.WaitForEvent("SessionClosed 0"));
  EXPECT_EQ(socket->State(), TSocketState::Closed);
  socket.reset();
  EXPECT_EQ(handler_.Count("SessionClosed 0"), 1);
  EXPECT_FALSE(handler_.Overlapped());
}

// The event thread reports nothing while Connect is still announcing Connecting, so a check made
// from that announcement sees a connect the network has completed but nobody has reported yet
// (a busy machine's slow event thread), and one that was refused.
TEST_F(WSocketTest, ConnectionEstablishedSeesTheNetworkBeforeTheEventThreadReportsIt) {
  std::unique_ptr<TLoopbackPeer> peer;
  bool establishedUnreported = false;
  handler_.OnState = [&](TWSocket& socket, TSocketState state) {
    if (state != TSocketState::Connecting) return;
    peer = listener_.Accept();
    establishedUnreported =
        socket.State() == TSocketState::Connecting && socket.ConnectionEstablished();
  };
  auto socket = MakeSocket(listener_.Port());
  EXPECT_FALSE(socket->ConnectionEstablished());
  socket->Connect();
  ASSERT_NE(peer, nullptr);
  EXPECT_TRUE(establishedUnreported);
  ASSERT_TRUE(handler_.WaitForEvent("SessionConnected 0"));
  EXPECT_TRUE(socket->ConnectionEstablished());
  socket->Close();
  EXPECT_FALSE(socket->ConnectionEstablished());

  const std::uint16_t port = listener_.Port();
  listener_.Close();
  TRecordingHandler refusedHandler;
  bool refusedEstablished = true;
  refusedHandler.OnState = [&](TWSocket& refused, TSocketState state) {
    if (state == TSocketState::Connecting) refusedEstablished = refused.ConnectionEstablished();
  };
  TWSocket refused(refusedHandler, true);
  refused.SetAddr("127.0.0.1");
  refused.SetPort(std::to_string(port));
  refused.Connect();
  EXPECT_FALSE(refusedEstablished);
  ASSERT_TRUE(refusedHandler.WaitForEvent("Connecting>Closed"));
  EXPECT_FALSE(refused.ConnectionEstablished());
}

struct TRefusalCase {
  const char* Name;
  std::function<void(TWSocket&, std::uint16_t)> Setup;
  std::vector<const char*> Traces;
};

TEST_F(WSocketTest, RefusalsAreTracedAndConnectNothing) {
  const std::vector<TRefusalCase> cases = {
      {"unknown service",
       [](TWSocket& s, std::uint16_t) { s.SetPort("no-such-service-name"); },
       {"SetPort: Cannot convert port", "Exception: Connect: No Port Specified"}},
      {"port above 65535",
       [](TWSocket& s, std::uint16_t port) { s.SetPort(std::to_string(port + 65536)); },
       {"SetPort: Cannot convert port", "Exception: Connect: No Port Specified"}},
      {"unresolvable host",
       [](TWSocket& s, std::uint16_t) { s.SetAddr("no.such.host.invalid"); },
       {"Exception: SetAddr: Cannot convert host address",
        "Exception: Connect: No IP Address Specified"}},
      {"unknown protocol",
       [](TWSocket& s, std::uint16_t) { s.SetProto("no-such-protocol"); },
       {"Exception: Connect: No Protocol Specified"}},
  };
  for (const auto& refusal : cases) {
    SCOPED_TRACE(refusal.Name);
    ResetTraceState();
    InitTraceRing(kTraceRingSize);
    TRecordingHandler handler;
    TWSocket socket(handler, true);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(listener_.Port()));
    refusal.Setup(socket, listener_.Port());
    socket.Connect();
    EXPECT_EQ(socket.State(), TSocketState::Closed);
    EXPECT_EQ(socket.HSocket(), kInvalidSocket);
    EXPECT_TRUE(handler.Events().empty());
    const std::string trace = FormatTraceback();
    for (const char* text : refusal.Traces)
      EXPECT_NE(trace.find(text), std::string::npos) << text << "\n" << trace;
  }
  EXPECT_EQ(listener_.Accept(0ms), nullptr);
}

TEST_F(WSocketTest, SecondConnectIsRefused) {
  std::unique_ptr<TLoopbackPeer> peer;
  auto socket = ConnectAndAccept(peer);
  const int fd = socket->HSocket();
  socket->Connect();
  EXPECT_NE(FormatTraceback().find("Exception: Connect: Socket already in use"), std::string::npos);
  EXPECT_EQ(socket->State(), TSocketState::Connected);
  EXPECT_EQ(socket->HSocket(), fd);
  EXPECT_EQ(handler_.Events(), kConnectEvents);
  EXPECT_EQ(listener_.Accept(0ms), nullptr);
}

TEST_F(WSocketTest, RefusedConnectEndsClosedWithoutSession) {
  const std::uint16_t port = listener_.Port();
  listener_.Close();
  auto socket = MakeSocket(port);
  socket->Connect();
  ASSERT_TRUE(handler_.WaitForEvent("Connecting>Closed"));
  socket.reset();  // joins the event thread: nothing further can arrive
  EXPECT_EQ(handler_.Events(),
            (std::vector<std::string>{"Closed>Opened", "Opened>Connecting", "Connecting>Closed"}));
  EXPECT_NE(FormatTraceback().find("FD_CONNECT: Connection refused"), std::string::npos);
}

TEST_F(WSocketTest, SocketOptionsFollowTheKeepAliveChoice) {
  for (const bool keepAlive : {true, false}) {
    SCOPED_TRACE(keepAlive ? "keep-alive" : "internet user");
    std::unique_ptr<TLoopbackPeer> peer;
    TRecordingHandler handler;
    TWSocket socket(handler, keepAlive);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(listener_.Port()));
    socket.Connect();
    ASSERT_TRUE(handler.WaitForEvent("SessionConnected 0"));
    const int fd = socket.HSocket();
    bool on = !keepAlive;
    ASSERT_EQ(GetSocketOption(fd, TSocketOption::KeepAlive, on), 0);
    EXPECT_EQ(on, keepAlive);
    ASSERT_EQ(GetSocketOption(fd, TSocketOption::NoDelay, on), 0);
    EXPECT_TRUE(on);
    ASSERT_EQ(GetSocketOption(fd, TSocketOption::Linger, on), 0);
    EXPECT_FALSE(on);
    peer = listener_.Accept();
  }
}

TEST_F(WSocketTest, StopSocketThreadClosesAndReportsOnce) {
  std::unique_ptr<TLoopbackPeer> peer;
  auto socket = ConnectAndAccept(peer);
  socket->StopSocketThread();
  ASSERT_TRUE(handler_.WaitForEvent("ThreadStopped"));
  EXPECT_EQ(socket->State(), TSocketState::Closed);
  socket.reset();
  auto events = handler_.Events();
  EXPECT_EQ(std::vector<std::string>(events.begin() + 4, events.end()),
            (std::vector<std::string>{"Connected>Closed", "SessionClosed 0", "ThreadStopped"}));
  EXPECT_TRUE(peer->WaitForEnd());
}

// The trace-file lines written while a read is applied are held and written together before
// the thread waits again: with no time-out on the wait and nothing more to read, they reach the
// file while the thread waits.
TEST_F(WSocketTest, TraceLinesOfAReadReachTheFileBeforeTheThreadWaitsAgain) {
  TTempDir dir;
  OpenTraceFile();
  const auto lineAt = [](const std::string& line) {
    return ReadFileText(TraceFileName()).find(line + "\r\n");
  };
  handler_.OnData = [&](TWSocket& socket) {
    char buffer[64];
    const int got = socket.Receive(buffer, sizeof buffer);
    if (got <= 0) return;
    const std::string text(buffer, static_cast<std::size_t>(got));
    WriteTraceLine("applied " + text);
    WriteTraceLine("then " + text);
    handler_.Note((lineAt("applied " + text) == std::string::npos ? "held " : "written ") + text);
  };
  auto socket = MakeSocket(listener_.Port());
  socket->SetEventWaitMs(-1);
  socket->Connect();
  auto peer = listener_.Accept();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(handler_.WaitForEvent("SessionConnected 0"));
  EXPECT_EQ(peer->Read(5), "hello");
  for (const std::string text : {"one", "two"}) {
    ASSERT_TRUE(peer->Write(text));
    EXPECT_TRUE(handler_.WaitForEvent("held " + text));
    EXPECT_TRUE(Eventually([&] {
      const auto applied = lineAt("applied " + text);
      const auto then = lineAt("then " + text);
      return applied != std::string::npos && then != std::string::npos && applied < then;
    }));
  }
  EXPECT_EQ(handler_.Count("written one") + handler_.Count("written two"), 0);
}

// With no time-out on its wait, only the wake signal can end the event thread's poll: a stop,
// a close and the destructor each end an idle connection's wait at once, not after a poll.
TEST_F(WSocketTest, RequestsWakeAnIdleWaitThatHasNoTimeOut) {
  enum class TRequest { Stop, Close, Destroy };
  for (const TRequest request : {TRequest::Stop, TRequest::Close, TRequest::Destroy}) {
    SCOPED_TRACE(static_cast<int>(request));
    TWatchdog watchdog(30s);
    TRecordingHandler handler;
    auto socket = std::make_unique<TWSocket>(handler, true);
    socket->SetAddr("127.0.0.1");
    socket->SetPort(std::to_string(listener_.Port()));
    socket->SetEventWaitMs(-1);
    socket->Connect();
    auto peer = listener_.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(handler.WaitForEvent("SessionConnected 0"));
    EXPECT_EQ(peer->Read(5), "hello");
    if (request == TRequest::Stop) {
      socket->StopSocketThread();
      EXPECT_TRUE(handler.WaitForEvent("ThreadStopped"));
    } else if (request == TRequest::Close) {
      socket->Close();
      EXPECT_TRUE(handler.WaitForEvent("SessionClosed 0"));
    }
    socket.reset();
    EXPECT_EQ(handler.Count("SessionClosed 0"), 1);
    EXPECT_TRUE(peer->WaitForEnd());
  }
}

// Inside the data handler, on the event thread: a close or a send that fails hard must not wait
// for the thread it runs on.
TEST_F(WSocketTest, CloseOrHardSendErrorInsideDataHandlerDoesNotHang) {
  enum class TAction { Close, SendAfterReset, Stop };
  for (const TAction action : {TAction::Close, TAction::SendAfterReset, TAction::Stop}) {
    SCOPED_TRACE(static_cast<int>(action));
    TWatchdog watchdog(30s);
    TRecordingHandler handler;
    TEvent peerReset{true};
    std::atomic<int> sendResult{99};
    handler.OnData = [&](TWSocket& socket) {
      handler.Note("Data");
      if (action == TAction::Close) {
        socket.Close();
      } else if (action == TAction::Stop) {
        socket.StopSocketThread();
      } else {
        EXPECT_TRUE(peerReset.WaitFor(kWait));
        sendResult = socket.Send("after reset", 11);
      }
    };
    TWSocket socket(handler, true);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(std::to_string(listener_.Port()));
    socket.Connect();
    auto peer = listener_.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(handler.WaitForEvent("SessionConnected 0"));
    ASSERT_TRUE(peer->Write("x"));
    if (action == TAction::SendAfterReset) {
      ASSERT_TRUE(handler.WaitForEvent("Data"));
      peer->Close(true);
      // The reset has arrived once the client socket reports it.
      pollfd entry{socket.HSocket(), 0, 0};
      EXPECT_EQ(::poll(&entry, 1, 10000), 1);
      peerReset.SetEvent();
    }
    ASSERT_TRUE(handler.WaitForEvent("SessionClosed 0"));
    EXPECT_EQ(socket.State(), TSocketState::Closed);
    if (action == TAction::SendAfterReset) {
      EXPECT_EQ(sendResult.load(), 0);
    }
    if (action == TAction::Stop) {
      EXPECT_TRUE(handler.WaitForEvent("ThreadStopped"));
    }
    EXPECT_EQ(handler.Count("SessionClosed 0"), 1);
  }
}

TEST(WinSockErrors, TextsAndMappings) {
  const struct {
    int Code;
    const char* Text;
  } texts[] = {{0, "No Error"},
               {10004, "Interrupted system call"},
               {10035, "Operation would block"},
               {10054, "Connection reset by peer"},
               {10058, "Can't send after socket shutdown"},
               {10061, "Connection refused"},
               {10092, "WinSock DLL cannot support this application"},
               {11001, "Host not found"},
               {11004, "No Data"},
               {10001, "Not a WinSock error"},
               {10072, "Not a WinSock error"},
               {32, "Not a WinSock error"}};
  for (const auto& row : texts)
    EXPECT_STREQ(WinSockErrorText(row.Code), row.Text) << row.Code;

  const struct {
    int Errno;
    int Code;
  } errnos[] = {{0, 0},
                {ECONNREFUSED, 10061},
                {EAGAIN, 10035},
                {EINPROGRESS, 10036},
                {ECONNRESET, 10054},
                {EPIPE, 10058},
                {ETIMEDOUT, 10060},
                {EHOSTUNREACH, 10065}};
  for (const auto& row : errnos)
    EXPECT_EQ(WSAErrorFromErrno(row.Errno), row.Code) << row.Errno;

  EXPECT_EQ(WSAErrorFromGai(EAI_NONAME, 0), 11001);
  EXPECT_EQ(WSAErrorFromGai(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(WSAErrorFromGai(EAI_FAIL, 0), 11003);
  EXPECT_EQ(WSAErrorFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(WinSockNames, PortsAndProtocolsWithoutSystemTables) {
  int number = 0;
  EXPECT_EQ(LookupProtocol("tcp", number), 0);
  EXPECT_EQ(number, 6);
  EXPECT_EQ(ProtocolName(6), "tcp");
  std::uint32_t address = 0;
  EXPECT_EQ(ResolveIPv4("10.1.2.3", address), 0);
  EXPECT_EQ(IPv4Text(address), "10.1.2.3");
  EXPECT_NE(ResolveIPv4("", address), 0);
}

}  // namespace
}  // namespace vorn
