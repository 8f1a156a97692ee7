#include "links/SSLConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "core/util/Exceptions.h"
#include "platform/DynamicLibrary.h"
#include "support/CallbackRecorder.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCounted = "SSL Error: certificate verify failed";

// An SSL host link over the scriptable mock library, ticked by hand as the heartbeat does. The
// test holds its own reference to the mock, so its script and counters outlive each socket.
class SSLConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(mock_.Load(VORN_MOCK_RAVELINK)) << mock_.Error();
    mock_.Function<void (*)()>("Mock_Reset")();
    SetRavelinkPathForTests(VORN_MOCK_RAVELINK);
    ClearCallbackQueue();
    ExchangeAPI(apiObject_);
    ASSERT_EQ(TCallbackRecorder::Register(VN_CB_HOST_LINK_STATE_CHANGE), VN_RC_SUCCESS);
    ASSERT_EQ(TCallbackRecorder::Register(VN_CB_FORCED_LOGOUT), VN_RC_SUCCESS);
    StartCallbackThread();
    api_.Links.HostReconnect = 1;
    api_.Links.HostAddresses.AddAddress("127.0.0.1", "4000");
  }
  void TearDown() override {
    link_.reset();
    StopCallbackThread();
    FreeCallbackRegistrations();
    ClearCallbackQueue();
    ExchangeAPI(nullptr);
    SetRavelinkPathForTests("");
  }

  void MakeLink() {
    link_ = std::make_unique<TSSLConnection>(
        api_, psHost, "", [](std::int32_t) { return 0; },
        [this](std::chrono::milliseconds pause) { pauses_.push_back(pause); });
    link_->Start(true);
  }
  void SetConnect(std::int32_t result, const std::string& error = {}) {
    mock_.Function<void (*)(std::int32_t, const char*)>("Mock_SetConnect")(result, error.c_str());
  }
  int MockInt(const char* name) { return mock_.Function<int (*)()>(name)(); }

  void Tick() {
    const auto entry =
        api_.Links.HostAddresses.Get(static_cast<std::size_t>(api_.Links.HostAddressIndex.load()));
    if (entry) link_->SetAddress(*entry);
    link_->ProcessTimer();
  }
  // Ticks until done() holds; false when it did not within maxTicks.
  bool TickUntil(const std::function<bool()>& done, int maxTicks = 200) {
    for (int i = 0; i < maxTicks; ++i) {
      if (done()) return true;
      Tick();
    }
    return done();
  }
  // Ticks through the next connect attempt (the mock answers it at once).
  bool TickThroughConnect() {
    const int connects = MockInt("Mock_Connects");
    return TickUntil([&] { return MockInt("Mock_Connects") > connects; });
  }
  std::vector<std::pair<int, int>> LinkStates() {
    std::vector<std::pair<int, int>> states;
    for (const auto& delivery : recorder_.Deliveries())
      if (delivery.Id == VN_CB_HOST_LINK_STATE_CHANGE)
        states.emplace_back(delivery.Payload[0], delivery.Payload[1]);
    return states;
  }
  int ForcedLogouts() {
    int count = 0;
    for (const auto& delivery : recorder_.Deliveries())
      if (delivery.Id == VN_CB_FORCED_LOGOUT) ++count;
    return count;
  }
  int ErrorLogLines(const std::string& text) {
    const std::string log = ReadFileText(dir_.File(kErrorLogFileName));
    int count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  TDynamicLibrary mock_;
  TTempDir dir_;
  TCallbackRecorder recorder_;
  std::shared_ptr<TClassAPI> apiObject_ = std::make_shared<TClassAPI>();
  TClassAPI& api_ = *apiObject_;
  std::vector<std::chrono::milliseconds> pauses_;
  std::unique_ptr<TSSLConnection> link_;
};

TEST_F(SSLConnectionTest, ConnectsThroughConnectingAndReportsEachState) {
  MakeLink();
  ASSERT_TRUE(TickThroughConnect());
  EXPECT_EQ(link_->SocketState(), TSocketState::Connected);
  EXPECT_TRUE(link_->Connected());
  EXPECT_FALSE(link_->TimerActive());
  ASSERT_TRUE(recorder_.WaitForCount(2));
  const std::vector<std::pair<int, int>> expected = {{VN_LINK_CLOSED, VN_LINK_CONNECTING},
                                                     {VN_LINK_CONNECTING, VN_LINK_CONNECTED}};
  EXPECT_EQ(LinkStates(), expected);
  // The host link handshakes at once on connect.
  EXPECT_GT(mock_.Function<long (*)()>("Mock_Written")(), 0);
  EXPECT_TRUE(pauses_.empty());
}

// Reads that time out keep the connection; the end of the stream closes it once, and the link
// starts its reconnect cycle.
TEST_F(SSLConnectionTest, ReadTimeOutsKeepTheLinkAndTheEndOfTheStreamClosesIt) {
  MakeLink();
  ASSERT_TRUE(TickThroughConnect());
  std::this_thread::sleep_for(100ms);  // several 20 ms read time-outs
  EXPECT_EQ(link_->SocketState(), TSocketState::Connected);
  mock_.Function<void (*)()>("Mock_EndStream")();
  // The session's end is reported after the state.
  ASSERT_TRUE(Eventually([&] { return !link_->Connected() && link_->TimerActive(); }));
  EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
  EXPECT_TRUE(link_->LinkLost());
  ASSERT_TRUE(recorder_.WaitForCount(3));
  EXPECT_EQ(LinkStates().back(), std::make_pair(int{VN_LINK_CONNECTED}, int{VN_LINK_CLOSED}));
  EXPECT_EQ(MockInt("Mock_OpenHandles"), 0);
}

// What the library says of a failed connect decides whether it counts; each failure pauses
// one second and frees its handle.
TEST_F(SSLConnectionTest, FailureTextsThatCount) {
  const struct {
    const char* Text;
    int Counted;
  } cases[] = {{"", 0},
               {"Socket Error: Server has disconnected", 0},
               {"Socket Error: Host Unreachable (Connection refused)", 0},
               {"Socket Error: Server has disconnected.", 1},
               {kCounted, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    MakeLink();
    SetConnect(0, c.Text);
    pauses_.clear();
    ASSERT_TRUE(TickThroughConnect());
    EXPECT_EQ(link_->FailedConnects(), c.Counted);
    EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
    EXPECT_EQ(pauses_, std::vector<std::chrono::milliseconds>{1000ms});
    EXPECT_EQ(MockInt("Mock_OpenHandles"), 0);
    link_.reset();
  }
  EXPECT_EQ(ErrorLogLines("Unable to log into SSL socket. Error message is "), 5);
}

// Counted failures in a row lengthen the wait between creating a socket and connecting it; the
// tenth tells the application to shut down, once, and the link goes on trying every 5 ticks. No
// failed attempt keeps a handle of the library.
TEST_F(SSLConnectionTest, BackOffAndTheTenthFailure) {
  const std::int32_t backOff[] = {5, 5, 10, 20, 40, 60, 60, 60, 60, 60, 60, 5};
  MakeLink();
  SetConnect(0, kCounted);
  for (std::int32_t failures = 0; failures < 20; ++failures) {
    SCOPED_TRACE(failures);
    const std::int32_t sockets = link_->SocketCount();
    ASSERT_TRUE(TickUntil([&] { return link_->SocketCount() > sockets; }));
    if (failures < 12) {
      EXPECT_EQ(link_->Delay(), backOff[failures]);
    }
    ASSERT_TRUE(TickThroughConnect());
    EXPECT_EQ(link_->FailedConnects(), failures + 1);
    if (failures + 1 == 9) {
      ASSERT_TRUE(recorder_.WaitForCount(2 * 9));  // Connecting and Closed each time
      EXPECT_EQ(ForcedLogouts(), 0);
      EXPECT_FALSE(api_.Logon.LoggedOn);
    }
  }
  ASSERT_TRUE(recorder_.WaitForCount(2 * 20 + 1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(recorder_.Count(), 2u * 20 + 1);
  EXPECT_EQ(ForcedLogouts(), 1);
  EXPECT_TRUE(api_.Logon.LoggedOn);  // as after a forced logout
  EXPECT_EQ(ErrorLogLines("Fatal Error: Unable to connect to SSL socket.  Shutting Down!"), 1);
  EXPECT_EQ(MockInt("Mock_OpenHandles"), 0);
  EXPECT_EQ(MockInt("Mock_Connects"), 20);
}

// The count is of failures in a row: a connect that succeeds clears it.
TEST_F(SSLConnectionTest, SuccessfulConnectClearsTheCount) {
  MakeLink();
  SetConnect(0, kCounted);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(TickThroughConnect());
  EXPECT_EQ(link_->FailedConnects(), 3);
  SetConnect(1);
  ASSERT_TRUE(TickThroughConnect());
  EXPECT_TRUE(link_->Connected());
  EXPECT_EQ(link_->FailedConnects(), 0);

  SetConnect(0, kCounted);
  mock_.Function<void (*)()>("Mock_EndStream")();
  ASSERT_TRUE(Eventually([&] { return !link_->Connected() && link_->TimerActive(); }));
  ASSERT_TRUE(TickThroughConnect());
  EXPECT_EQ(link_->FailedConnects(), 1);
}

// A port that is not a number refuses the connect before it starts: no library call, and the
// link tries again rather than stay down.
TEST_F(SSLConnectionTest, RefusedBeforeTheAttemptIsRetried) {
  api_.Links.HostAddresses.Clear();
  api_.Links.HostAddresses.AddAddress("127.0.0.1", "port");
  MakeLink();
  ASSERT_TRUE(TickUntil([&] { return link_->ReconnectState() == prsDestroy; }));
  EXPECT_EQ(MockInt("Mock_Connects"), 0);
  EXPECT_TRUE(link_->TimerActive());
  EXPECT_EQ(link_->FailedConnects(), 0);
  api_.Links.HostAddresses.Clear();
  api_.Links.HostAddresses.AddAddress("127.0.0.1", "4000");
  ASSERT_TRUE(TickThroughConnect());
  EXPECT_TRUE(link_->Connected());
}

// The socket closes the library's connection before it waits for the read thread: destroying a
// link whose read is blocked takes no longer than the close.
TEST_F(SSLConnectionTest, DestroyDoesNotWaitForABlockedRead) {
  mock_.Function<void (*)(int)>("Mock_SetReadWait")(10000);
  MakeLink();
  ASSERT_TRUE(TickThroughConnect());
  std::this_thread::sleep_for(50ms);  // the read thread is inside SSL_Read
  const auto start = std::chrono::steady_clock::now();
  link_->Shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(MockInt("Mock_OpenHandles"), 0);
}

TEST_F(SSLConnectionTest, TheHostClientAuthNameGoesToEverySocket) {
  api_.Links.HostClientAuthName.Set("client.pem");
  MakeLink();
  ASSERT_TRUE(TickThroughConnect());
  char name[64] = {};
  mock_.Function<void (*)(char*, int)>("Mock_ClientCertName")(name, sizeof name);
  EXPECT_STREQ(name, "client.pem");
}

// A library that is missing, or lacks an entry point, fails the socket's creation with its
// exception, and nothing connects.
TEST_F(SSLConnectionTest, MissingLibraryOrEntryPoint) {
  const struct {
    std::string Path;
    const char* Message;
  } cases[] = {{dir_.File("absent.so"), "SSL Library not found"},
               {VORN_MOCK_RAVELINK_NOWRITE, "Invalid SSL Library"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    SetRavelinkPathForTests(c.Path);
    MakeLink();
    try {
      Tick();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    for (int i = 0; i < 10; ++i) Tick();
    EXPECT_EQ(link_->SocketState(), TSocketState::Closed);
    EXPECT_EQ(link_->SocketCount(), 0);
    link_.reset();
  }
  EXPECT_EQ(MockInt("Mock_Connects"), 0);
}

}  // namespace
}  // namespace vorn
