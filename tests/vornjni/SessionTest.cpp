// The bridge session without a JVM: helpers, and a whole session on the fake API library,
// with the events taken from the queue the way processCallbacks does.
#include "vornjni/core/Session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vorn::bridge {
namespace {

TEST(SessionTest, GetHostAndPort) {
  const struct {
    const char* text;
    const char* host;
    const char* port;
  } cases[] = {
      {"a:1", "a", "1"}, {":1", "", "1"}, {"a:", "a", ""},
      {"a", "", "a"},    {"", "", ""},    {"a:b:c", "a", "b:c"},
  };
  for (const auto& c : cases) {
    const THostAndPort split = GetHostAndPort(c.text);
    EXPECT_EQ(split.Host, c.host) << c.text;
    EXPECT_EQ(split.Port, c.port) << c.text;
  }
}

TEST(SessionTest, LogonRecordCutsEachTextTo255) {
  const LogonStruct record = MakeLogonRecord(std::string(300, 'u'), "pw", "", true, false);
  EXPECT_EQ(std::string(record.UserName), std::string(255, 'u'));
  EXPECT_STREQ(record.Password, "pw");
  EXPECT_STREQ(record.NewPassword, "");
  EXPECT_EQ(record.FullDownload, 'Y');
  EXPECT_EQ(record.ReportDownload, 'N');
}

// The fake's payload bytes (see FakeAPI.cpp).
std::uint8_t FakePayloadByte(int id, std::size_t index) {
  return static_cast<std::uint8_t>(id * 31 + static_cast<int>(index) + 1);
}

const std::vector<int> kRegistrationOrder = {1,  2,  8,  27, 26, 21, 22, 16, 19, 10, 5,  38,
                                             9,  4,  11, 12, 33, 32, 31, 36, 7,  3,  6,  13,
                                             25, 18, 14, 15, 28, 29, 23, 24, 30, 37};

class SessionFlowTest : public ::testing::Test {
 protected:
  SessionFlowTest() {
    char pattern[] = "/tmp/vornjni-XXXXXX";
    folder_ = std::string(::mkdtemp(pattern)) + "/";
  }
  ~SessionFlowTest() override {
    Logoff();
    std::filesystem::remove_all(folder_);
  }

  TInitialiseArgs Args(bool conStatus) const {
    TInitialiseArgs args;
    args.ApiDir = VORNJNI_FAKE_DIR;
    args.ClientPath = folder_;
    args.ConStatus = conStatus;
    args.ApplicId = "app";
    args.Reserved = "res";
    return args;
  }
  std::vector<std::string> CallLog() const {
    std::ifstream file(folder_ + "fakeapi.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  std::string folder_;
};

TEST_F(SessionFlowTest, InitialiseCallsInOrderAndRegistersConStatusOnlyWhenAsked) {
  for (const bool conStatus : {false, true}) {
    ASSERT_EQ(Initialise(Args(conStatus)), 0);
    std::vector<std::string> expected = {
        "vnSetClientPath|" + folder_, "vnInitialise|C|v2.8.3|app|Calvoru 6.3|res|0",
        "vnSetHostHandShake|0|0", "vnSetPriceHandShake|0|0"};
    const std::vector<std::string> log = CallLog();
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4), expected);
    std::vector<int> registered;
    for (std::size_t i = 4; i < log.size(); ++i)
      registered.push_back(std::stoi(log[i].substr(log[i].find('|') + 1)));
    std::vector<int> order = kRegistrationOrder;
    if (!conStatus) order.erase(std::find(order.begin(), order.end(), 14));
    EXPECT_EQ(registered, order) << conStatus;
    EXPECT_EQ(Logoff(), 0);
  }
}

TEST_F(SessionFlowTest, NativesAnswer52WithoutALibrary) {
  EXPECT_EQ(OpenConnections({"a:1"}, {}), kLibraryNotLoaded);
  EXPECT_EQ(Logon("u", "p", "", false, false), kLibraryNotLoaded);
  EXPECT_EQ(Logoff(), 0);
  TInitialiseArgs args = Args(false);
  args.Demo = true;
  args.ApiDir = folder_;  // no library there
  EXPECT_EQ(Initialise(args), kCannotLoadLibrary);
  EXPECT_EQ(Logon("u", "p", "", false, false), kLibraryNotLoaded);
}

TEST_F(SessionFlowTest, EveryEventArrivesInOrderWithItsSizeAndBytes) {
  ASSERT_EQ(Initialise(Args(true)), 0);
  ASSERT_EQ(OpenConnections({"a:1", "b:2"}, {"p:3"}), 0);
  ASSERT_EQ(Logon("user", "pw", "", true, true), 0);

  std::vector<TCallback> events;
  std::deque<TCallback> round;
  while (events.size() < kRegistrationOrder.size() && EventQueue().Take(round))
    events.insert(events.end(), round.begin(), round.end());
  ASSERT_EQ(events.size(), kRegistrationOrder.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    const TCallback& event = events[i];
    EXPECT_EQ(event.Type, kRegistrationOrder[i]);
    ASSERT_EQ(event.Data.size(), static_cast<std::size_t>(PayloadSize(event.Type))) << event.Type;
    for (std::size_t b = 0; b < event.Data.size(); ++b) {
      std::uint8_t expected = FakePayloadByte(event.Type, b);
      if (event.Type == 3 && b == 343) expected = 1;  // vnDOMEnabled gave 0
      if (event.Type == 3 && b == 344) expected = 0;  // vnPostTradeAmendEnabled did not
      ASSERT_EQ(event.Data[b], expected) << "id " << event.Type << " byte " << b;
    }
  }
  EXPECT_EQ(Logoff(), 0);
  const std::vector<std::string> log = CallLog();
  const auto at = [&](const std::string& line) {
    return std::find(log.begin(), log.end(), line) - log.begin();
  };
  EXPECT_LT(at("vnSetHostAddress|b|2"), at("vnSetHostAddress|a|1"));
  EXPECT_LT(at("vnSetPriceAddress|p|3"), at("vnReady"));
  EXPECT_LT(at("vnNotifyAllMessages|Y"), static_cast<long>(log.size()));
}

TEST_F(SessionFlowTest, LogoffBeforeTheTakeAndFromAnotherThreadEndsIt) {
  ASSERT_EQ(Initialise(Args(false)), 0);
  EXPECT_EQ(Logoff(), 0);
  std::deque<TCallback> round;
  EXPECT_FALSE(EventQueue().Take(round));

  // A new session clears the stop; a logoff from another thread ends the waiting take.
  ASSERT_EQ(Initialise(Args(false)), 0);
  std::thread logoff([] { Logoff(); });
  while (EventQueue().Take(round)) {
  }
  logoff.join();
}

TEST_F(SessionFlowTest, CheckResultAndLogBridgeError) {
  ASSERT_EQ(Initialise(Args(false)), 0);
  {
    const auto lock = APILibrary().Share();
    const TAPITable& api = APILibrary().Require();
    EXPECT_EQ(CheckResult(api, 0), 0);
    EXPECT_EQ(CheckResult(api, 11), 11);  // counts as success
    for (const std::int32_t code : {4, 99}) {
      try {
        CheckResult(api, code);
        ADD_FAILURE() << "no EVORN for " << code;
      } catch (const EVORN& error) {
        EXPECT_EQ(error.Code(), code);
      }
    }
  }
  EXPECT_EQ(LogBridgeError(std::string(300, 'x')), 99);
  const std::vector<std::string> log = CallLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "vnDumpLastError"), 1);  // for 99 only
  EXPECT_EQ(log.back(), "vnLogString|Wrapper API Error" + std::string(255 - 17, 'x'));

  // With no library the line goes to standard error.
  Logoff();
  ::testing::internal::CaptureStderr();
  LogBridgeError(" - no library");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Wrapper API Error - no library\n");
}

TEST_F(SessionFlowTest, RefusedLogonGivesItsCode) {
  ASSERT_EQ(Initialise(Args(false)), 0);
  EXPECT_EQ(Logon("NOPE", "pw", "", false, false), 4);
}

}  // namespace
}  // namespace vorn::bridge
