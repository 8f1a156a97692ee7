#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "platform/Thread.h"
#include "support/FakeLink.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

void VN_STDCALL Ignore() {}
void VN_STDCALL IgnoreLinkState(const LinkStateStruct*) {}

// A temp client path and no API object before and after each test.
class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override { vnLogOff(); }
  void TearDown() override {
    vnLogOff();
    JoinStoppedThreads();
  }

  static std::int32_t Initialise(char env = 'C', const char* version = "v2.8.3") {
    return vnInitialise(env, version, "app", "1.0", "", 0);
  }
  static void RegisterRequired() {
    ASSERT_EQ(vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState), 0);
    ASSERT_EQ(vnRegisterCallback(VN_CB_LOGON_STATUS, Ignore), 0);
    ASSERT_EQ(vnRegisterCallback(VN_CB_FORCED_LOGOUT, Ignore), 0);
  }

  TTempDir clientPath_;
};

TEST_F(SetupTest, EnvironmentLetterAndVersionDecideTheResult) {
  struct Case {
    char env;
    const char* version;
    std::int32_t result;
    bool object;
    bool testFlag;
  };
  const Case cases[] = {
      {'C', "v2.8.3", 0, true, false},  {'G', "v2.8.3", 0, true, false},
      {'T', "v2.8.3", 0, true, true},   {'g', "v2.8.3", 0, true, true},
      {'D', "v2.8.3", 1, false, false}, {'c', "v2.8.3", 1, false, false},
      {' ', "v2.8.3", 1, false, false}, {'C', "v2.8.4", 13, true, false},
      {'C', "V2.8.3", 13, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.env) + " " + c.version);
    EXPECT_EQ(Initialise(c.env, c.version), c.result);
    const auto api = API();
    ASSERT_EQ(api != nullptr, c.object);
    if (api) {
      EXPECT_EQ(api->TestFlag.load(), c.testFlag);
    }
  }
}

TEST_F(SetupTest, ApplicationTextsAreCutToTwentyCharacters) {
  ASSERT_EQ(vnInitialise('C', "v2.8.3", "ABCDEFGHIJKLMNOPQRSTUVWXY", "1.0", nullptr, 0), 0);
  EXPECT_EQ(API()->ApplicationID.Get(), "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(SetupTest, ReadyLadder) {
  EXPECT_EQ(vnReady(), 1);
  ASSERT_EQ(Initialise(), 0);
  EXPECT_EQ(vnReady(), 2);
  ASSERT_EQ(vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState), 0);
  ASSERT_EQ(vnRegisterCallback(VN_CB_LOGON_STATUS, Ignore), 0);
  EXPECT_EQ(vnReady(), 2);
  ASSERT_EQ(vnRegisterCallback(VN_CB_FORCED_LOGOUT, Ignore), 0);
  EXPECT_EQ(vnReady(), 0);
  EXPECT_TRUE(API()->Heartbeat.Enabled());

  ASSERT_EQ(Initialise('C', "v2.8.4"), 13);
  RegisterRequired();
  EXPECT_EQ(vnReady(), 13);
  EXPECT_EQ(vnSetHostReconnect(7), 0);  // other exports work after a mismatch
}

TEST_F(SetupTest, InitialisingAgainDropsRegistrations) {
  ASSERT_EQ(Initialise(), 0);
  RegisterRequired();
  ASSERT_TRUE(CallbackRegistered(VN_CB_LOGON_STATUS));
  ASSERT_EQ(Initialise(), 0);
  EXPECT_FALSE(CallbackRegistered(VN_CB_LOGON_STATUS));
  EXPECT_EQ(vnReady(), 2);
}

TEST_F(SetupTest, SettersClampTheirValues) {
  ASSERT_EQ(Initialise(), 0);
  const auto api = API();
  struct Case {
    const char* what;
    std::int32_t result;
    std::int32_t stored;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"host reconnect 2", vnSetHostReconnect(2), api->Links.HostReconnect, 5},
      {"price reconnect 30", vnSetPriceReconnect(30), api->Links.PriceReconnect, 30},
      {"age 300", vnSetPriceAgeCounter(300), api->Monitoring.PriceAgeCounter, 255},
      {"sent delay -7", vnSetOrderSentFailureDelay(-7), api->Monitoring.SentFailureDelay, 0},
      {"cancel delay 7200", vnSetOrderCancelFailureDelay(7200), api->Monitoring.CancelFailureDelay,
       3600},
      {"queued delay 60", vnSetOrderQueuedFailureDelay(60), api->Monitoring.QueuedFailureDelay, 60},
      {"memory 120", vnSetMemoryWarning(120), api->Monitoring.MemoryWarningThreshold, 120},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, 0) << c.what;
    EXPECT_EQ(c.stored, c.expected) << c.what;
  }
  EXPECT_EQ(vnSetPriceAgeCounter(-4), 0);
  EXPECT_EQ(api->Monitoring.PriceAgeCounter, 0);

  struct Handshake {
    std::int32_t interval, timeout, storedInterval, storedTimeout;
  };
  for (const Handshake& h : {Handshake{1000, 100, 900, 1800}, Handshake{30, 40, 30, 60},
                             Handshake{30, -1, 30, 0}, Handshake{30, 5000, 30, 1800}}) {
    EXPECT_EQ(vnSetHostHandShake(h.interval, h.timeout), 0);
    EXPECT_EQ(api->Links.HostHandshakePeriod, h.storedInterval) << h.interval << "," << h.timeout;
    EXPECT_EQ(api->Links.HostHandshakeTimeout, h.storedTimeout) << h.interval << "," << h.timeout;
  }
  EXPECT_EQ(vnSetHandShakePeriod(45), 0);
  EXPECT_EQ(api->Links.HostHandshakePeriod, 45);
  EXPECT_EQ(api->Links.PriceHandshakePeriod, 45);
  EXPECT_EQ(api->Links.HostHandshakeTimeout, 90);
  EXPECT_EQ(api->Links.PriceHandshakeTimeout, 90);

  EXPECT_EQ(vnOMIEnabled('N'), 0);
  EXPECT_FALSE(api->OMIEnabled);
  EXPECT_EQ(vnOMIEnabled('Y'), 0);
  EXPECT_TRUE(api->OMIEnabled);
}

TEST_F(SetupTest, WithoutAnAPIObject) {
  EXPECT_EQ(vnSetHostReconnect(10), 1);
  EXPECT_EQ(vnSetHostAddress("127.0.0.1", "1"), 1);
  EXPECT_EQ(vnDisconnect(), 1);
  EXPECT_EQ(vnOMIEnabled('Y'), 1);
  EXPECT_EQ(vnMegaHubEnabled(), 1);
  EXPECT_EQ(vnKestrelEnabled(), 'N');
  EXPECT_EQ(vnLogOff(), 1);
  BuildVersionStruct version{};
  version.Version[0] = 'x';
  EXPECT_EQ(vnGetAPIBuildVersion(&version), 0);
  EXPECT_EQ(version.Version[0], 'x');
}

TEST_F(SetupTest, BuildVersionAndAddresses) {
  ASSERT_EQ(Initialise(), 0);
  BuildVersionStruct version{};
  EXPECT_EQ(vnGetAPIBuildVersion(&version), 0);
  EXPECT_STREQ(version.Version, "8.1 070509");
  EXPECT_EQ(vnGetAPIBuildVersion(nullptr), 99);  // refused, as every export's null output

  EXPECT_EQ(vnSetHostAddress("10.0.0.1", "4001"), 0);
  EXPECT_EQ(vnSetHostAddress(std::string(60, 'h').c_str(), nullptr), 0);
  const auto api = API();
  ASSERT_EQ(api->Links.HostAddresses.Count(), 2u);
  EXPECT_EQ(api->Links.HostAddresses.Get(0)->IP, std::string(50, 'h'));  // the last set comes first
  EXPECT_EQ(api->Links.HostAddresses.Get(1)->Port, "4001");
}

TEST_F(SetupTest, LinkSettingsAreRefusedOnceTheLinkExists) {
  SetLinkFactory([](TClassAPI&, const TLinkSpec&) { return std::make_shared<TFakeLink>(); });
  ASSERT_EQ(Initialise(), 0);
  RegisterRequired();
  const auto api = API();
  EXPECT_EQ(vnSetSSL('Y'), 0);
  EXPECT_TRUE(api->Links.HostSSL);
  vnSetHostAddress("127.0.0.1", "1");
  ASSERT_EQ(vnReady(), 0);
  ASSERT_TRUE(api->HasHostLink());
  EXPECT_FALSE(api->HasPriceLink());  // no price address: no link
  EXPECT_EQ(vnSetSSL('N'), 0);
  EXPECT_TRUE(api->Links.HostSSL);  // refused
  EXPECT_EQ(vnSetPDDSSL('Y'), 0);
  EXPECT_TRUE(api->Links.PriceSSL);  // the price link does not exist
  EXPECT_EQ(vnDisconnect(), 0);
  EXPECT_FALSE(api->HasHostLink());
  EXPECT_EQ(api->Links.HostAddresses.Count(), 0u);
  EXPECT_FALSE(api->Heartbeat.Enabled());
  SetLinkFactory(nullptr);
}

TEST(ErrorMessageTest, EveryCodeHasItsText) {
  struct Case {
    std::int32_t code;
    const char* text;
  };
  for (const Case& c :
       {Case{0, "Success"}, Case{2, "Required callback addresses not set"},
        Case{13, "Mismatch between application and API"},
        Case{51, "The order has been cancelled due to the exchange closing"},
        Case{99, "Unexpected Error trapped - Routine aborted"}, Case{52, "Undefined Error Number"},
        Case{-1, "Undefined Error Number"}, Case{98, "Undefined Error Number"}}) {
    EXPECT_STREQ(vnGetErrorMessage(c.code), c.text) << c.code;
  }
}

TEST_F(SetupTest, PurgeReadsItsDigitsInAnyLocale) {
  ASSERT_EQ(Initialise(), 0);
  vnPurge("20070509", "123000000");  // no failure recorded
  vnPurge("2007x509", "123000000");  // recorded, nothing purged
  EXPECT_EQ(vnDumpLastError(), 0);
}

void VN_STDCALL LogOffFromCallback() {
  vnLogOff();
}

TEST_F(SetupTest, LogOffFromInsideACallbackReturnsAndLeavesNoThread) {
  ASSERT_EQ(Initialise(), 0);
  ASSERT_EQ(vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, LogOffFromCallback), 0);
  AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);
  for (int i = 0; i < 500 && API(); ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(API(), nullptr);
  JoinStoppedThreads();  // the callback thread, stopped from inside itself, has ended
}

}  // namespace
}  // namespace vorn
