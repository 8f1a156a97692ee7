#include "links/LoginRequest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/refdata/ExchangeRate.h"
#include "core/refdata/ReportType.h"
#include "core/session/ClassAPI.h"
#include "core/store/ContractDataThread.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "platform/Files.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

LogonStruct Logon(std::string_view user, std::string_view password,
                  std::string_view newPassword = {}, char fullDownload = 'N') {
  LogonStruct logon{};
  PutFixed(logon.UserName, std::string(user));
  PutFixed(logon.Password, std::string(password));
  PutFixed(logon.NewPassword, std::string(newPassword));
  logon.FullDownload = fullDownload;
  logon.ReportDownload = 'N';
  return logon;
}

// The body of the request's frame, after checking the frame's length word.
std::string BodyOf(TMMHUBLogin& login) {
  TDynamicBuffer buffer;
  login.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  EXPECT_GE(count, 2);
  if (count < 2) return {};
  const auto length = static_cast<std::int32_t>((static_cast<unsigned char>(data[0]) << 8) |
                                                static_cast<unsigned char>(data[1]));
  EXPECT_EQ(length, count - 2);
  return std::string(data + 2, static_cast<std::size_t>(count - 2));
}

class LoginRequestTest : public ::testing::Test {
 protected:
  // A fresh API object in the state a second session finds: logon history of "bob", a loaded
  // store with resume points, some reference data, and a contract write waiting for a read.
  std::shared_ptr<TClassAPI> ReturningSession() {
    auto api = std::make_shared<TClassAPI>();
    api->Environment = 'T';
    api->ApplicationID.Set("Desk");
    api->ApplicationVersion.Set("2.0");
    api->Logon.LogonSequence = 5;
    auto last = std::make_shared<TUserLogon>();
    last->UserName = "bob";
    last->LastDate = 20070508;
    api->UserLogons.SetLogon(last);
    api->Logon.RefSequence.Set("120");
    api->Logon.DBSequence.Set("55");
    api->Logon.DBIdentifier.Set("DB7");
    auto type = std::make_shared<TReportType>();
    type->ReportType = "EOD";
    api->ReportTypes.Add(type);
    auto rate = std::make_shared<TExchangeRate>();
    rate->Currency = "EUR";
    rate->Rate = 1.1;
    api->ExchangeRates.Add(rate);
    api->ContractsRead.Reset();
    api->StartContractData(TContractDataThread::cdaWrite);
    return api;
  }

  TTempDir dir_;
};

// Every decision of the builder, from the state it finds.
TEST_F(LoginRequestTest, FieldsFlagsAndDownloadFollowTheSessionState) {
  constexpr const char* kKept =
      "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=124|RSq=120|"
      "API=8.1|Seq=55|DBID=DB7|";
  constexpr const char* kFull =
      "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=126|RSq=0|"
      "API=8.1|Seq=0|";
  struct TCase {
    const char* name;
    std::function<void(TClassAPI&)> setup;
    LogonStruct logon;
    const char* body;
    bool fullDownload;
    bool downloadFlag;
  };
  const auto none = [](TClassAPI&) {};
  const TCase cases[] = {
      {"same user, loaded store", none, Logon("bob", "E1"), kKept, false, true},
      {"first logon after initialisation",
       [](TClassAPI& api) {
         api.Logon.LogonSequence = -1;
         api.UserLogons.Clear();
       },
       Logon("bob", "E1", "", 'Y'),
       "Msg=3362|Usr=bob|Pwd=E1|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=126|RSq=0|API=8.1|Seq=0|", true,
       true},
      {"sequence -1 alone", [](TClassAPI& api) { api.Logon.LogonSequence = -1; },
       Logon("bob", "E1"), kFull, true, true},
      {"full download asked for", none, Logon("bob", "E1", "", 'Y'), kFull, true, true},
      {"another user (case counts)", none, Logon("Bob", "E1"),
       "Msg=3362|Usr=Bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=126|RSq=0|"
       "API=8.1|Seq=0|",
       true, true},
      {"store not loaded", [](TClassAPI& api) { api.Logon.StoreLoaded = false; },
       Logon("bob", "E1"), kFull, true, true},
      {"no logon record", [](TClassAPI& api) { api.UserLogons.Clear(); }, Logon("UNKNOWN", "E1"),
       "Msg=3362|Usr=UNKNOWN|Pwd=E1|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=124|RSq=120|API=8.1|"
       "Seq=55|DBID=DB7|",
       false, true},
      {"logon record without a date",
       [](TClassAPI& api) {
         auto last = std::make_shared<TUserLogon>();
         last->UserName = "bob";
         api.UserLogons.SetLogon(last);
       },
       Logon("bob", "E1"),
       "Msg=3362|Usr=bob|Pwd=E1|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=124|RSq=120|API=8.1|Seq=55|"
       "DBID=DB7|",
       false, true},
      {"logged on, nothing cleared", [](TClassAPI& api) { api.Logon.LoggedOn = true; },
       Logon("bob", "E1"),
       "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=252|RSq=120|"
       "API=8.1|Seq=55|DBID=DB7|",
       false, false},
      {"logged on, orders and fills cleared",
       [](TClassAPI& api) {
         api.Logon.LoggedOn = true;
         api.Logon.DataCleared = true;
       },
       Logon("bob", "E1"),
       "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=252|RSq=120|"
       "API=8.1|Seq=55|DBID=DB7|",
       false, true},
      {"logged on, full download", [](TClassAPI& api) { api.Logon.LoggedOn = true; },
       Logon("bob", "E1", "", 'Y'),
       "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=254|RSq=0|"
       "API=8.1|Seq=0|",
       true, false},
      {"environment C", [](TClassAPI& api) { api.Environment = 'C'; }, Logon("bob", "E1"),
       "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=20|AID=Desk|ApV=2.0|CoG=C|Flg=125|RSq=120|"
       "API=8.1|Seq=55|DBID=DB7|",
       false, true},
      {"environment G, handshake time-out 45, no application",
       [](TClassAPI& api) {
         api.Environment = 'G';
         api.Links.HostHandshakeTimeout = 45;
         api.ApplicationID.Set("");
         api.ApplicationVersion.Set("");
       },
       Logon("bob", "E1"),
       "Msg=3362|Usr=bob|Pwd=E1|TrD=20070508|Frq=45|CoG=C|Flg=125|RSq=120|API=8.1|Seq=55|"
       "DBID=DB7|",
       false, true},
      {"environment c (upper case only)", [](TClassAPI& api) { api.Environment = 'c'; },
       Logon("bob", "E1"), kKept, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto api = ReturningSession();
    c.setup(*api);
    TMMHUBLogin login;
    login.BuildFields(*api, c.logon);
    EXPECT_EQ(BodyOf(login), Wire(c.body));

    EXPECT_EQ(api->Logon.DownloadInProgress.load(), c.downloadFlag);
    EXPECT_TRUE(api->Logon.LogonSent);
    EXPECT_EQ(api->UserName.Get(), std::string(c.logon.UserName));
    const int listed = c.fullDownload ? 0 : 1;
    EXPECT_EQ(api->ReportTypes.Count(), listed);
    EXPECT_EQ(api->ExchangeRates.Count(), listed);
    // A full download stops the contract-data thread (a stopped write releases its waiters
    // and writes nothing) before the lists go; otherwise the write still waits for the read.
    EXPECT_EQ(api->ContractsSaved.IsSet(), c.fullDownload);
    EXPECT_FALSE(FileExists(dir_.File(kContractStoreFileName)));
    if (c.fullDownload) {
      EXPECT_EQ(api->Logon.LogonSequence, 0);
      EXPECT_EQ(api->Logon.RefSequence.Get(), "0");
      EXPECT_EQ(api->Logon.DBSequence.Get(), "0");
      EXPECT_EQ(api->Logon.DBIdentifier.Get(), "");
    } else {
      EXPECT_NE(api->Logon.LogonSequence, 0);
      EXPECT_EQ(api->Logon.DBIdentifier.Get(), "DB7");
    }
    api->StopContractData();  // a write still waiting would hold up the shut-down
  }
}

// The re-logon sends the password the host holds once this logon is accepted.
TEST_F(LoginRequestTest, NewPasswordIsSentAndKeptForTheReLogon) {
  struct TCase {
    const char* newPassword;
    const char* sentNPw;  // empty: absent
    const char* kept;
  };
  const TCase cases[] = {
      {"", "", "E1"},
      {"N9", "N9", "N9"},
      // Blanks are not sent, so the current password stays in force.
      {"   ", "", "E1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.newPassword);
    TClassAPI api;
    TMMHUBLogin login;
    login.BuildFields(api, Logon("bob", "E1", c.newPassword));
    TFieldsList fields;
    fields.SetFields(BodyOf(login));
    EXPECT_EQ(fields.GetFieldValue("Pwd", 0), "E1");
    EXPECT_EQ(fields.GetFieldCount("NPw"), *c.sentNPw ? 1 : 0);
    EXPECT_EQ(fields.GetFieldValue("NPw", 0), c.sentNPw);
    EXPECT_EQ(api.GetLogonPassword(), c.kept);
  }
}

// Text fields without a NUL end at their field: nothing of the next field or past the record.
TEST_F(LoginRequestTest, RecordWithoutTerminatorsIsReadBounded) {
  auto logon = std::make_unique<LogonStruct>();
  std::memset(logon->UserName, 'u', sizeof logon->UserName);
  std::memset(logon->Password, 'p', sizeof logon->Password);
  std::memset(logon->NewPassword, 'n', sizeof logon->NewPassword);
  logon->FullDownload = 'N';
  logon->ReportDownload = 'N';
  TClassAPI api;
  TMMHUBLogin login;
  login.BuildFields(api, *logon);
  TFieldsList fields;
  fields.SetFields(BodyOf(login));
  EXPECT_EQ(fields.GetFieldValue("Usr", 0), std::string(255, 'u'));
  EXPECT_EQ(fields.GetFieldValue("Pwd", 0), std::string(255, 'p'));
  EXPECT_EQ(fields.GetFieldValue("NPw", 0), std::string(255, 'n'));
  EXPECT_EQ(api.UserName.Get(), std::string(255, 'u'));
  EXPECT_EQ(api.GetLogonPassword(), std::string(255, 'n'));
}

TEST_F(LoginRequestTest, HeldUntilTheHostLinkIsConnected) {
  TMMHUBLogin login;
  EXPECT_TRUE(login.HeldUntilConnected());
  EXPECT_FALSE(login.IsPriceFeedMessage());
  EXPECT_EQ(login.Code(), "3362");
}

}  // namespace
}  // namespace vorn
