// The logon road through the exported functions only, against the fake host.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "links/Dispatcher.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/ExportSession.h"
#include "support/RavelinkDecode.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

class LogonTest : public ExportSessionTest {
 protected:
  void TearDown() override {
    ExportSessionTest::TearDown();
    SetRavelinkPathForTests({});
  }
};

TEST_F(LogonTest, AcceptedLogonDownloadsAndLogsOff) {
  Play("logon-accepted.conv");
  Start();
  vnEnable(0xFF);  // every trace and message log
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ASSERT_TRUE(Delivered(VN_CB_DATA_DL_COMPLETE));

  // Host link states 4->1, 1->2, 2->3, then the logon status, then the end of the download.
  const auto ids = IdsWithoutPriceLink();
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 1, 1, 3, 7}));
  LogonStatusStruct status;
  ASSERT_EQ(vnGetLogonStatus(&status), 0);
  EXPECT_EQ(status.Status, 1);
  EXPECT_STREQ(status.StatusText, "Welcome");
  EXPECT_STREQ(status.TraderAccount, "TRADER1");
  EXPECT_STREQ(status.UserName, "trader1");

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
  // The logoff saved the logon history and the store for the next session.
  EXPECT_TRUE(FileExists(dir_.File("logon.dat")));
  EXPECT_TRUE(FileExists(dir_.File("VornInfo.dat")));
  // The host reads the password the record now holds in its encrypted form.
  const std::string sent = runner_.Variables().at("pwd");
  EXPECT_EQ(sent, logon.Password);
  EXPECT_EQ(RavelinkDecodePassword("KWEZ", sent), "secret1");
  EXPECT_EQ(vnGetLogonStatus(&status), 1);
  vnDisable(0xFF);
  // The logs dumped the logon request, but none holds the password, plain or encrypted.
  bool dumped = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    const std::string text = ReadFileText(entry.path().string());
    dumped = dumped || text.find("Msg=3362") != std::string::npos;
    EXPECT_EQ(text.find("secret1"), std::string::npos) << entry.path();
    EXPECT_EQ(text.find(sent), std::string::npos) << entry.path();
  }
  EXPECT_TRUE(dumped);
}

// Application threads read the logon state while the socket thread applies the logon and the
// download and the test thread logs off (run under TSan).
TEST_F(LogonTest, QueriesWhileLoggingOnAndOff) {
  Play("logon-accepted.conv");
  Start();
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i)
    readers.emplace_back([&] {
      while (!done) {
        LogonStatusStruct status;
        std::int32_t count = 0, features = 0, roles = 0;
        vnGetLogonStatus(&status);
        vnCountUsrMsgs(&count);
        vnEnabledFunctionality(&features, &roles);
        vnDOMEnabled();
      }
    });
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  EXPECT_TRUE(Delivered(VN_CB_DATA_DL_COMPLETE));
  EXPECT_EQ(vnLogOff(), 0);
  done = true;
  for (auto& reader : readers)
    reader.join();
  ExpectPlayed();
}

// The download fills the lists the query exports read; the session's updates post their events.
TEST_F(LogonTest, DownloadedReferenceDataReadsBackThroughTheQueries) {
  Play("logon-reference-data.conv");
  Start();
  // Application threads query the lists while the socket thread fills them (run under TSan).
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i)
    readers.emplace_back([&] {
      while (!done) {
        std::int32_t n = 0;
        ExchangeStruct exchange;
        ContractStruct contract;
        vnCountExchanges(&n);
        vnGetExchange(0, &exchange);
        vnCountContracts(&n);
        vnGetContract(0, &contract);
        vnContractExists("EXCH", "COM1", "MAR27");
      }
    });
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  const bool downloaded = Delivered(VN_CB_DATA_DL_COMPLETE);
  done = true;
  for (auto& reader : readers)
    reader.join();
  ASSERT_TRUE(downloaded);
  const auto count = [](std::int32_t(VN_STDCALL * counter)(std::int32_t*)) {
    std::int32_t n = -1;
    EXPECT_EQ(counter(&n), 0);
    return n;
  };
  EXPECT_EQ(count(vnCountExchanges), 1);
  EXPECT_GE(count(vnCountOrderTypes), 1);
  EXPECT_EQ(count(vnCountCommodities), 1);
  EXPECT_EQ(count(vnCountContracts), 2);
  EXPECT_EQ(count(vnCountTraders), 1);
  EXPECT_EQ(count(vnCountUsrMsgs), 1);
  ExchangeRateStruct rate;
  ASSERT_EQ(vnGetExchangeRate("USD", &rate), 0);
  // No reference event during the download.
  const auto ids = Ids();
  for (const std::int32_t id : {VN_CB_MESSAGE, VN_CB_EXCHANGE_UPDATED, VN_CB_CONTRACT_ADDED})
    EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0) << id;

  ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
  ExpectPlayed();
  EXPECT_EQ(count(vnCountExchanges), 2);
  EXPECT_TRUE(Delivered(VN_CB_EXCHANGE_UPDATED));
  EXPECT_TRUE(Delivered(VN_CB_CONTRACT_DELETED));
}

TEST_F(LogonTest, RefusedLogonStopsTheLinks) {
  Play("logon-refused.conv");
  Start();
  LogonStruct logon = Logon("trader1", "wrong1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ExpectPlayed();
  ASSERT_TRUE(Delivered(VN_CB_LOGON_STATUS));
  // Link states are left out: the price link may or may not have moved before it was stopped.
  auto ids = IdsWithoutPriceLink();
  std::erase(ids, VN_CB_HOST_LINK_STATE_CHANGE);
  EXPECT_EQ(ids, (std::vector<std::int32_t>{VN_CB_FORCED_LOGOUT, VN_CB_LOGON_STATUS}));
  LogonStatusStruct status;
  ASSERT_EQ(vnGetLogonStatus(&status), 0);
  EXPECT_EQ(status.Status, 0);
  EXPECT_STREQ(status.StatusText, "Invalid password");
  EXPECT_TRUE(Eventually([] { return !API()->HasHostLink(); }));  // freed by the heartbeat
}

TEST_F(LogonTest, ForcedLogoutStopsTheLinks) {
  Play("logon-forced-logout.conv");
  Start();
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ExpectPlayed();
  ASSERT_TRUE(Delivered(VN_CB_FORCED_LOGOUT));
  EXPECT_TRUE(Eventually([] { return !API()->HasHostLink(); }));
  LogonStatusStruct status;
  ASSERT_EQ(vnGetLogonStatus(&status), 0);
  EXPECT_STREQ(status.StatusText, "Logged on elsewhere");
}

TEST_F(LogonTest, PasswordChangeSendsBothPasswordsEncrypted) {
  Play("logon-password-change.conv");
  Start();
  LogonStruct logon = Logon("trader1", "secret1");
  std::strcpy(logon.NewPassword, "Better2~");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ExpectPlayed();
  EXPECT_EQ(RavelinkDecodePassword("KWEZ", runner_.Variables().at("pwd")), "secret1");
  EXPECT_EQ(RavelinkDecodePassword("KWEZ", runner_.Variables().at("npw")), "Better2~");
  EXPECT_EQ(runner_.Variables().at("npw"), logon.NewPassword);
}

TEST_F(LogonTest, LogonAfterARefusalNeedsANewSession) {
  Play("logon-refused-then-accepted.conv");
  Start();
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ASSERT_TRUE(Delivered(VN_CB_FORCED_LOGOUT));
  EXPECT_TRUE(Eventually([] { return !API()->HasHostLink(); }));
  Start();
  logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ExpectPlayed();
  EXPECT_TRUE(Delivered(VN_CB_DATA_DL_COMPLETE));
}

TEST_F(LogonTest, ReconnectLogsOnAgainWithTheSameEncryptedPassword) {
  Play("logon-relogon.conv");
  Start();
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ExpectPlayed();
}

TEST_F(LogonTest, RefusalsBeforeAnythingIsSent) {
  struct TCase {
    const char* Name;
    const char* NewPassword;
    std::int32_t Result;
  };
  const TCase cases[] = {
      {"letters only", "abcdef", VN_RC_NEW_PASSWORD_NOT_ALPHANUMERIC},
      {"a blank", "a1 b", VN_RC_NEW_PASSWORD_NOT_TEXT},
      {"a comma", "a1,b", VN_RC_NEW_PASSWORD_NOT_TEXT},
      {"a control character", "a1\tb", VN_RC_NEW_PASSWORD_NOT_TEXT},
      {"a byte above 126", "a1\xC0", VN_RC_NEW_PASSWORD_NOT_TEXT},
  };
  LogonStruct logon = Logon("trader1", "secret1");
  EXPECT_EQ(vnLogOn(&logon), VN_RC_NOT_INITIALISED);
  ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::strcpy(logon.NewPassword, c.NewPassword);
    EXPECT_EQ(vnLogOn(&logon), c.Result);
  }
  // A good new password, but no host link yet: nothing can leave.
  std::strcpy(logon.NewPassword, "Aa1~");
  EXPECT_EQ(vnLogOn(&logon), VN_RC_HOST_NOT_CONNECTED);
  EXPECT_STREQ(logon.Password, "secret1");
  EXPECT_FALSE(API()->Logon.LogonSent);
  EXPECT_EQ(vnLogOn(nullptr), VN_RC_UNEXPECTED_ERROR);
}

// A stand-in without the entry point, or no stand-in at all.
TEST_F(LogonTest, MissingEncryptionGivesThirteenAndSendsNothing) {
  for (const std::string& library :
       {std::string(VORN_RAVELINK_NOENC_LIBRARY), dir_.File("no-such-library.so")}) {
    SCOPED_TRACE(library);
    SetRavelinkPathForTests(library);
    Start();
    LogonStruct logon = Logon("trader1", "secret1");
    EXPECT_EQ(vnLogOn(&logon), VN_RC_VERSION_MISMATCH);
    EXPECT_STREQ(logon.Password, "secret1");
    EXPECT_FALSE(API()->Logon.LogonSent);
  }
}

}  // namespace
}  // namespace vorn
