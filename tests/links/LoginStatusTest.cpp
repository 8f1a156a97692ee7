#include "links/LoginStatus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/UserLogon.h"
#include "core/refdata/UserMessage.h"
#include "core/session/ClassAPI.h"
#include "core/store/ContractDataThread.h"
#include "core/util/DateTime.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "links/LinkLayer.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using TEvents = std::vector<std::int32_t>;

// Every bit the first mask can hold: up to 4194304, without 8 and 16.
constexpr std::int32_t kAllFunctionality = 0x7FFFFF & ~(8 | 16);

// A fixed-width logon reply (price-feed 69).
struct TLegacyReply {
  const char* Status;
  const char* Account;
  const char* A;
  const char* B;
  const char* C;
  const char* Text;
  const char* Value;
  const char* Period;
};
std::string LegacyBody(const TLegacyReply& r) {
  std::string body(119, ' ');
  PutFixedField(body, 0, 4, "0069");
  PutFixedField(body, 4, 1, r.Status);
  PutFixedField(body, 5, 20, r.Account);
  PutFixedField(body, 25, 2, r.A);
  PutFixedField(body, 27, 2, r.B);
  PutFixedField(body, 29, 2, r.C);
  PutFixedField(body, 35, 60, r.Text);
  PutFixedField(body, 95, 14, r.Value);
  PutFixedField(body, 109, 10, r.Period);
  return body;
}

class LoginStatusTest : public ::testing::Test {
 protected:
  LoginStatusTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    NewAPI();
  }
  ~LoginStatusTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    api_.reset();
    SetLinkFactory(nullptr);
    ClearCallbackQueue();
  }

  // A fresh current API object with fake links and the link layer's requests.
  void NewAPI() {
    ExchangeAPI(nullptr);
    api_.reset();
    ClearCallbackQueue();
    api_ = std::make_shared<TClassAPI>();
    AttachLinkLayer(*api_);
    ExchangeAPI(api_);
    ASSERT_TRUE(links_.Create(*api_));
  }

  // Through the built-in table, as the host link's socket thread does. A receiver that fails
  // would only be written to the error log, so every body checks that log stays empty.
  void Host(std::string_view text) {
    ProcessMessage(*api_, psHost, Wire(text));
    EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName))) << text;
  }
  void Price(std::string_view body) {
    ProcessMessage(*api_, psPriceFeed, body);
    EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName))) << body;
  }

  // Delivers what is queued and returns the ids, in posting order.
  TEvents DeliverCallbacks() {
    TEvents ids;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued())
      ids.push_back(delivery.Id);
    return ids;
  }

  // Socket-thread stops asked of each link: {host, price}.
  std::pair<int, int> Stops() {
    std::scoped_lock guard(links_.Host->lock, links_.Price->lock);
    return {links_.Host->socketStops, links_.Price->socketStops};
  }

  std::pair<std::int32_t, std::int32_t> Masks() const {
    std::int32_t mask1 = -1, mask2 = -1;
    EnabledFunctionality(api_->Features, mask1, mask2);
    return {mask1, mask2};
  }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
  TFakeLinks links_;
  std::shared_ptr<TClassAPI> api_;
};

TEST_F(LoginStatusTest, RepliesSetTheLogonStateAndEndRefusedSessions) {
  struct TCase {
    const char* name;
    const char* earlier;  // a reply applied before, its events dropped
    const char* reply;
    TEvents events;
    int stops;  // of each link
    bool loggedOn;
    bool completed;
    std::int32_t status;
    bool textFlag;
    const char* text;
  };
  const TCase cases[] = {
      {"3625 accepts whatever Sts says",
       nullptr,
       "Msg=3625|Sts=0|Txt=  Welcome |",
       {3},
       0,
       true,
       true,
       1,
       true,
       "Welcome"},
      {"3626 with Sts 1 accepts", nullptr, "Msg=3626|Sts=1|", {3}, 0, true, true, 1, false, ""},
      {"3626 without Sts is refused with 0",
       nullptr,
       "Msg=3626|Txt=Bad password|",
       {6, 3},
       1,
       true,
       false,
       0,
       true,
       "Bad password"},
      {"3626 Sts 2", nullptr, "Msg=3626|Sts=2|", {6, 3}, 1, true, false, 2, true, ""},
      {"3626 Sts 3 on a first logon keeps the links",
       nullptr,
       "Msg=3626|Sts=3|",
       {3},
       0,
       false,
       false,
       3,
       true,
       ""},
      {"3626 Sts 3 after an accepted logon stops the links",
       "Msg=3625|",
       "Msg=3626|Sts=3|",
       {3},
       1,
       true,
       true,
       3,
       true,
       ""},
      // Only a whole 1 accepts, though the status is kept as one byte.
      {"3626 Sts 257 is no acceptance",
       nullptr,
       "Msg=3626|Sts=257|",
       {3},
       0,
       false,
       false,
       1,
       true,
       ""},
      {"3626 Sts 256 is refused as 0",
       nullptr,
       "Msg=3626|Sts=256|",
       {6, 3},
       1,
       true,
       false,
       0,
       true,
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewAPI();
    if (c.earlier) {
      Host(c.earlier);
      ClearCallbackQueue();
    }
    api_->Logon.LogonSent = true;
    Host(c.reply);
    EXPECT_EQ(DeliverCallbacks(), c.events);
    EXPECT_EQ(Stops(), std::make_pair(c.stops, c.stops));
    EXPECT_EQ(api_->Logon.LoggedOn, c.loggedOn);
    EXPECT_EQ(api_->Logon.LogonCompleted, c.completed);
    EXPECT_FALSE(api_->Logon.LogonSent);
    EXPECT_EQ(api_->Logon.LogonStatus, c.status);
    EXPECT_EQ(api_->Logon.LogonTextFlag, c.textFlag);
    EXPECT_EQ(api_->Logon.LogonText.Get(), c.text);
  }
}

TEST_F(LoginStatusTest, AcceptanceStoresTheSessionAndItsLogonRecord) {
  struct TCase {
    const char* reply;
    const char* user;
    std::int32_t tradingDate;
    std::int32_t period;
    bool gtok;
    const char* account;
    const char* dbid;
  };
  const TCase cases[] = {
      {"Msg=3625|GTOK=Y|TA= ACC1 |Usr=trader|DBID=DB7|TrD=20240301|Frq=60|", "trader", 20240301, 60,
       true, "ACC1", "DB7"},
      // Absent texts keep the user, give today's date and the default period.
      {"Msg=3625|", "bob", 20240305, 300, false, "", ""},
      {"Msg=3625|TrD=-1|Frq=x|GTOK=y|", "bob", 20240305, 300, false, "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.reply);
    NewAPI();
    api_->UserName.Set("bob");
    api_->Logon.RefSequence.Set("120");
    api_->Logon.DBSequence.Set("55");
    api_->Logon.DataCleared = true;
    api_->Monitoring.BandwidthPeriod = 17;
    Host(c.reply);
    EXPECT_EQ(api_->UserName.Get(), c.user);
    EXPECT_EQ(api_->Logon.TradingDate, c.tradingDate);
    EXPECT_EQ(api_->Monitoring.BandwidthPeriod, c.period);
    EXPECT_EQ(api_->Logon.GTOKFlag, c.gtok);
    EXPECT_EQ(api_->Logon.LogonTraderAccount.Get(), c.account);
    EXPECT_EQ(api_->Logon.CurrentTraderAccount.Get(), c.account);
    EXPECT_EQ(api_->Logon.DBIdentifier.Get(), c.dbid);
    EXPECT_FALSE(api_->Logon.DataCleared);

    const auto logon = api_->UserLogons.GetLastLogon();
    ASSERT_TRUE(logon);
    EXPECT_EQ(api_->UserLogons.Count(), 1);
    EXPECT_EQ(logon->UserName, c.user);
    EXPECT_EQ(logon->LastDate, c.tradingDate);
    EXPECT_EQ(logon->RefSequence, "120");
    EXPECT_EQ(logon->DBSequence, "55");
    EXPECT_EQ(logon->Sequence, 0);
    EXPECT_EQ(logon->DBIdentifier, "");
  }
}

TEST_F(LoginStatusTest, LogonFileIsDeletedOnAcceptanceOnly) {
  struct TCase {
    const char* reply;
    bool legacy;
    bool deleted;
  };
  const TCase cases[] = {
      {"Msg=3626|Sts=3|", false, false},
      {"Msg=3626|", false, false},
      {"Msg=3625|", false, true},
      {"00690", true, false},
      {"00691", true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.reply);
    NewAPI();
    WriteFileText(dir_.File(kLogonFileName), "old history");
    if (c.legacy)
      Price(c.reply);
    else
      Host(c.reply);
    EXPECT_EQ(FileExists(dir_.File(kLogonFileName)), !c.deleted);
    EXPECT_EQ(api_->UserLogons.Count(), c.deleted ? 1 : 0);
  }
}

TEST_F(LoginStatusTest, FeatureFlagsFromFlgGiveTheFunctionalityMasks) {
  struct TCase {
    const char* name;
    const char* earlier;  // "Flg" of an accepted logon before
    const char* flags;    // null: no "Flg"
    std::int32_t mask1;
    std::int32_t mask2;
    bool dom;
    bool throttle;
    bool marginMode;
    bool strategy;
    bool kestrel;
  };
  const TCase cases[] = {
      {"no Flg keeps the defaults", nullptr, nullptr, 0, 0, false, true, false, false, true},
      {"every bit", nullptr, "FFFFFFFFF", kAllFunctionality, 15, true, true, true, true, false},
      {"5 characters change no flag", "FFFFFFFFF", "00000", kAllFunctionality, 15, true, true, true,
       true, false},
      {"6 characters clear D, E and F", "FFFFFFFFF", "0C0400", 512 | 4, 0, false, true, true, false,
       false},
      {"one place each", nullptr, "01C0FF0F1",
       128 | 1 | 2 | 524288 | 1024 | 2048 | 4096 | 8192 | 262144 | 1048576 | 2097152 | 4194304, 1,
       true, false, false, true, false},
      {"non-hex places read as 0, either case is hex", nullptr, "1G4aZz9q2",
       1 | 32 | 16384 | 131072, 2, true, false, false, false, false},
      {"characters past the ninth are ignored", nullptr, "000000000F", 0, 0, false, false, false,
       false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewAPI();
    api_->Features.Kestrel = true;  // as a fixed-width logon reply leaves it
    if (c.earlier) Host(std::string("Msg=3625|Flg=") + c.earlier + "|");
    Host(c.flags ? std::string("Msg=3625|Flg=") + c.flags + "|" : std::string("Msg=3625|"));
    EXPECT_EQ(Masks(), std::make_pair(c.mask1, c.mask2));
    EXPECT_EQ(api_->Features.DOMEnabled, c.dom);
    EXPECT_EQ(api_->Features.OrderThrottle, c.throttle);
    EXPECT_EQ(api_->Features.MarginMode, c.marginMode);
    EXPECT_EQ(api_->Features.StrategyPermission, c.strategy);
    EXPECT_EQ(api_->Features.Kestrel, c.kestrel);
  }
}

TEST_F(LoginStatusTest, DownloadFlagsClearTheListsOnce) {
  struct TCase {
    const char* reply;
    TEvents events;
    bool allCleared;
    bool ordersCleared;
  };
  const TCase cases[] = {
      {"Msg=3625|FDDw=Y|FODw=Y|", {3}, true, true},
      {"Msg=3625|FDDw=Y|", {3}, true, true},
      {"Msg=3625|FODw=Y|", {VN_CB_ORDER_BOOK_RESET, 3}, false, true},
      {"Msg=3625|FDDw=N|FODw=y|", {3}, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.reply);
    NewAPI();
    api_->Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    auto message = std::make_shared<TUserMessage>();
    message->SetSequence("7");
    api_->UserMessages.Add(message);
    // A contract-data thread still at work on the list: the write waits for a read to end.
    api_->ContractsRead.Reset();
    api_->StartContractData(TContractDataThread::cdaWrite);

    Host(c.reply);
    EXPECT_EQ(DeliverCallbacks(), c.events);
    EXPECT_EQ(api_->Exchanges.Count(), c.allCleared ? 0 : 1);
    EXPECT_EQ(api_->UserMessages.Count(), c.ordersCleared ? 0 : 1);
    // A full download ends the contract-data thread before it clears anything.
    EXPECT_EQ(api_->ContractsSaved.IsSet(), c.allCleared);
    EXPECT_FALSE(api_->Logon.DataCleared);
    api_->ContractsRead.Set();  // lets a write that is still waiting end
  }
}

TEST_F(LoginStatusTest, FixedWidthReplyIsReadByOffsets) {
  struct TCase {
    const char* name;
    std::string body;
    TEvents events;
    int stops;
    bool loggedOn;
    std::int32_t status;
    const char* text;
    const char* value;
    std::int32_t period;
    std::int32_t mask1;
    bool textFlag;
    bool kestrel;
  };
  const TCase cases[] = {
      {"accepted",
       LegacyBody({"1", " ACC9", "07", "c0", "01", " Market open ", "VAL12345678901", "45"}),
       {3},
       0,
       true,
       1,
       "Market open",
       "VAL12345678901",
       45,
       512 | 128 | 1 | 2,
       true,
       true},
      {"refused",
       LegacyBody({"0", "ACC9", "00", "40", "00", "Refused", "X", "45"}),
       {6, 3},
       1,
       true,
       0,
       "Refused",
       "",
       45,
       512 | 1,
       false,
       false},
      {"a short body reads empty fields", "00691", {3}, 0, true, 1, "", "", 300, 512, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewAPI();
    api_->UserName.Set("bob");
    api_->Links.HostHandshakeValue = 42;
    api_->SetMarginMode(true);  // not carried by this form
    Price(c.body);
    EXPECT_EQ(DeliverCallbacks(), c.events);
    EXPECT_EQ(Stops(), std::make_pair(c.stops, c.stops));
    EXPECT_EQ(api_->Logon.LoggedOn, c.loggedOn);
    EXPECT_EQ(api_->Logon.LogonStatus, c.status);
    EXPECT_EQ(api_->Logon.LogonText.Get(), c.text);
    EXPECT_EQ(api_->Logon.LogonValue.Get(), c.value);
    EXPECT_EQ(api_->Monitoring.BandwidthPeriod, c.period);
    EXPECT_EQ(Masks().first, c.mask1);
    EXPECT_EQ(api_->Logon.LogonTextFlag, c.textFlag);
    EXPECT_EQ(api_->Features.Kestrel, c.kestrel);
  }

  // The accepted reply's account and logon record.
  NewAPI();
  api_->UserName.Set("bob");
  api_->Links.HostHandshakeValue = 42;
  Price(cases[0].body);
  EXPECT_EQ(api_->Logon.LogonTraderAccount.Get(), "ACC9");
  EXPECT_EQ(api_->Logon.CurrentTraderAccount.Get(), "ACC9");
  EXPECT_TRUE(api_->Logon.LogonCompleted);
  const auto logon = api_->UserLogons.GetLastLogon();
  ASSERT_TRUE(logon);
  EXPECT_EQ(logon->UserName, "bob");
  EXPECT_EQ(logon->Sequence, 42);
  EXPECT_EQ(logon->LastDate, 0);
}

TEST_F(LoginStatusTest, ForcedLogoutStopsBothLinks) {
  api_->Logon.LogonValue.Set("V1");
  Host("Msg=3627|Txt=Session ended by the risk desk|");
  EXPECT_EQ(DeliverCallbacks(), TEvents{VN_CB_FORCED_LOGOUT});
  EXPECT_EQ(Stops(), std::make_pair(1, 1));
  EXPECT_TRUE(api_->Logon.LoggedOn);
  EXPECT_EQ(api_->Logon.LogonText.Get(), "Session ended by the risk desk");
  EXPECT_EQ(api_->Logon.LogonValue.Get(), "");
}

TEST_F(LoginStatusTest, OrderIdBatchFeedsThePoolAndAsksForMoreWhenLow) {
  struct TCase {
    const char* reply;
    std::vector<std::string> ids;
    std::vector<std::string> sent;
  };
  const TCase cases[] = {
      {"Msg=3622|<SG=1|OID=5|EG>=1|<SG=1|OID=|EG>=1|<SG=1|OID=6|EG>=1|", {"5", "6"}, {"3341"}},
      {"Msg=3622|Sts=0|<SG=1|OID=1|EG>=1|<SG=1|OID=2|EG>=1|<SG=1|OID=3|EG>=1|<SG=1|OID=4|EG>=1|"
       "<SG=1|OID=5|EG>=1|<SG=1|OID=6|EG>=1|",
       {"1", "2", "3", "4", "5", "6"},
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.reply);
    NewAPI();
    Host(c.reply);
    EXPECT_EQ(api_->OrderIDs.PreAllocatedIDs(), c.ids);
    std::lock_guard guard(links_.Host->lock);
    EXPECT_EQ(links_.Host->sent, c.sent);
  }
}

}  // namespace
}  // namespace vorn
