#include "links/AccountMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/HostText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

// An event as the application sees it: the id and the text at the start of its payload (for
// the trader event, the account).
struct TPosted {
  std::int32_t Id;
  std::string Text;
  bool operator==(const TPosted&) const = default;
};
using TEvents = std::vector<TPosted>;

void PrintTo(const TPosted& e, std::ostream* os) {
  *os << "{" << e.Id << ", \"" << e.Text << "\"}";
}

// A fixed-width body of the given code, blank-filled to size, with each field put at its offset.
struct TPut {
  std::size_t Offset;
  std::size_t Width;
  std::string Text;
};
std::string LegacyBody(int code, std::size_t size, const std::vector<TPut>& fields) {
  std::string body(size, ' ');
  PutFixedField(body, 0, 4, FormatCode4(code));
  for (const auto& f : fields)
    PutFixedField(body, f.Offset, f.Width, f.Text);
  return body;
}

std::string LegacyAccount(int code, std::string_view account, std::string_view backOffice,
                          char tradable, std::string_view loss, std::string_view rating) {
  return LegacyBody(code, 85,
                    {{4, 20, std::string(account)},
                     {24, 20, std::string(backOffice)},
                     {44, 1, std::string(1, tradable)},
                     {45, 10, "7"},
                     {55, 10, std::string(loss)},
                     {65, 20, std::string(rating)}});
}

std::string LegacyRating(std::string_view rating, std::string_view account,
                         std::string_view exchange, std::string_view req, std::string_view pc) {
  return LegacyBody(87, 134,
                    {{4, 20, std::string(rating)},
                     {24, 20, std::string(account)},
                     {44, 10, std::string(exchange)},
                     {114, 10, std::string(req)},
                     {124, 10, std::string(pc)}});
}

std::string LegacyMessage(std::string_view sequence, char alert, std::string_view text,
                          char status = '0') {
  return LegacyBody(2, 516,
                    {{4, 10, std::string(sequence)},
                     {14, 1, std::string(1, alert)},
                     {15, 500, std::string(text)},
                     {515, 1, std::string(1, status)}});
}

// A group member that records what the UUID message thread asks of it.
class TRecordingMember : public TUUIDStreamable {
 public:
  const TStreamClass& StreamClass() const override { return TUUIDObject::Class(); }
  void Activate(bool) override { Record("A"); }
  void Deactivate(bool) override { Record("I"); }
  void Expire() override { Record("E"); }
  void Purge(TDateTime) override { Record("P"); }

  // The actions so far, waiting (bounded) until there is at least one.
  std::string WaitForActions() {
    std::unique_lock guard(lock_);
    changed_.wait_for(guard, std::chrono::seconds(10), [&] { return !actions_.empty(); });
    return actions_;
  }

 private:
  void Record(const char* action) {
    std::lock_guard guard(lock_);
    actions_ += action;
    changed_.notify_all();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::string actions_;
};

class AccountMessagesTest : public ::testing::Test {
 protected:
  AccountMessagesTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
  }
  ~AccountMessagesTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    api_.reset();
    ClearCallbackQueue();
  }

  void Host(void (*receiver)(TClassAPI&, TFieldsList&), std::string_view text) {
    TFieldsList fields = Fields(text);
    receiver(*api_, fields);
  }
  // By the code: the tagged receivers of this family.
  void Tagged(std::string_view text) {
    const TFieldsList fields = Fields(text);
    const int code = std::stoi(fields.GetFieldValue("Msg", 0));
    if (code >= 3679 && code <= 3681) return Host(ReceiveTraderAccount, text);
    if (code >= 3673 && code <= 3675) return Host(ReceiveMarginRating, text);
    Host(ReceiveUserMessage, text);
  }

  std::shared_ptr<TTraderAccountItem> AddAccount(const std::string& name) {
    auto account = std::make_shared<TTraderAccountItem>(name);
    account->SetBackOfficeID("OLD");
    api_->Accounts.Add(account);
    return account;
  }

  // Delivers what is queued and returns it in posting order.
  TEvents DeliverCallbacks() {
    TEvents events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      const char* text = reinterpret_cast<const char*>(delivery.Payload.data());
      events.push_back({delivery.Id, std::string(text, strnlen(text, 20))});
    }
    return events;
  }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
  std::shared_ptr<TClassAPI> api_;
};

TEST_F(AccountMessagesTest, TraderAccountMessagesChangeTheListAndPostTheTraderEvent) {
  struct TCase {
    const char* name;
    bool listed;  // ACC1 is listed before, with back-office id "OLD"
    bool legacy;  // body is a fixed-width body, else tagged text
    std::string body;
    bool listedAfter;
    const char* backOffice;  // of the listed account after
    TEvents events;
  };
  const TCase cases[] = {
      {"3679 adds", false, false, "Msg=3679|TA= ACC1 |BOF=B1|", true, "B1", {{37, "ACC1"}}},
      {"3680 updates a listed account",
       true,
       false,
       "Msg=3680|TA=ACC1|BOF=B2|",
       true,
       "B2",
       {{37, "ACC1"}}},
      {"3680 adds an unlisted account",
       false,
       false,
       "Msg=3680|TA=ACC1|BOF=B3|",
       true,
       "B3",
       {{37, "ACC1"}}},
      {"3679 of a listed account updates it",
       true,
       false,
       "Msg=3679|TA=ACC1|BOF=B4|",
       true,
       "B4",
       {{37, "ACC1"}}},
      {"3681 removes a listed account", true, false, "Msg=3681|TA=ACC1|", false, "", {}},
      {"3681 of an unlisted account changes nothing",
       false,
       false,
       "Msg=3681|TA=ACC1|BOF=B5|",
       false,
       "",
       {}},
      {"3679 without a name changes nothing", false, false, "Msg=3679|TA=  |", false, "", {}},
      {"30 adds",
       false,
       true,
       LegacyAccount(30, "ACC1", "L1", 'Y', "5", "R"),
       true,
       "L1",
       {{37, "ACC1"}}},
      {"31 updates a listed account",
       true,
       true,
       LegacyAccount(31, "ACC1", "L2", 'N', "5", "R"),
       true,
       "L2",
       {{37, "ACC1"}}},
      {"31 adds an unlisted account",
       false,
       true,
       LegacyAccount(31, "ACC1", "L3", 'N', "5", "R"),
       true,
       "L3",
       {{37, "ACC1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    api_->Accounts.FreeAll();
    ClearCallbackQueue();
    std::shared_ptr<TTraderAccountItem> before;
    if (c.listed) before = AddAccount("ACC1");
    if (c.legacy)
      ReceiveLegacyTraderAccount(*api_, c.body);
    else
      Tagged(c.body);
    const auto after = api_->Accounts.Get("ACC1");
    EXPECT_EQ(after != nullptr, c.listedAfter);
    EXPECT_EQ(api_->Accounts.Count(), c.listedAfter ? 1 : 0);
    if (after) {
      EXPECT_EQ(after->GetBackOfficeID(), c.backOffice);
      // An update changes the listed account in place.
      if (before) {
        EXPECT_EQ(after, before);
      }
    }
    // A removed account is still whole for those that hold it.
    if (before && !after) {
      EXPECT_EQ(before->GetBackOfficeID(), "OLD");
    }
    EXPECT_EQ(DeliverCallbacks(), c.events);
  }
}

TEST_F(AccountMessagesTest, AccountFieldsAndTheTraderRecord) {
  struct TCase {
    const char* flatten;  // "Fla" value, null when absent
    const char* access;
    bool eosFlatten;
    bool tradable;
  };
  const TCase cases[] = {
      {nullptr, "1", true, true}, {"1", "1", false, true}, {"0", "2", true, false},
      {"11", "0", true, false},   {"", "x", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flatten ? c.flatten : "(absent)");
    api_->Accounts.FreeAll();
    ClearCallbackQueue();
    std::string text = "Msg=3679|TA=ACC1|BOF= BO |Acs=" + std::string(c.access) +
                       "|MOO=12|LL=500|Mar=RATE1|Flg=F|";
    if (c.flatten) text += "Fla=" + std::string(c.flatten) + "|";
    Tagged(text);
    const auto account = api_->Accounts.Get("ACC1");
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->EOSFlatten.load(), c.eosFlatten);
    EXPECT_EQ(account->Tradable.load(), c.tradable);
    EXPECT_EQ(account->GetBackOfficeID(), "BO");
    EXPECT_EQ(account->MaxOustandingOrders.load(), 12);
    EXPECT_EQ(account->LossLimit.load(), 500);
    EXPECT_EQ(account->GetMarginRating(), "RATE1");
  }

  // The event carries the account's record.
  ClearCallbackQueue();
  Tagged("Msg=3680|TA=ACC1|BOF=BO|Acs=1|LL=-25|");
  const auto deliveries = TCallbackRecorder::DeliverQueued();
  ASSERT_EQ(deliveries.size(), 1u);
  TraderAcctStruct record;
  std::memcpy(&record, deliveries[0].Payload.data(), sizeof record);
  EXPECT_STREQ(record.TraderAccount, "ACC1");
  EXPECT_STREQ(record.BackOfficeID, "BO");
  EXPECT_EQ(record.Tradable, 'Y');
  const std::int32_t lossLimit = record.LossLimit;  // packed: read by value
  EXPECT_EQ(lossLimit, -25);

  // Fixed-width: 'Y' is tradable, the numbers and the rating name are read from their offsets.
  ReceiveLegacyTraderAccount(*api_, LegacyAccount(31, " ACC2", "BO2", 'Y', "9", " RATE2"));
  const auto legacy = api_->Accounts.Get("ACC2");
  ASSERT_NE(legacy, nullptr);
  EXPECT_TRUE(legacy->Tradable);
  EXPECT_EQ(legacy->MaxOustandingOrders.load(), 7);
  EXPECT_EQ(legacy->LossLimit.load(), 9);
  EXPECT_EQ(legacy->GetMarginRating(), "RATE2");
}

TEST_F(AccountMessagesTest, ReceivedTextsAreCutToTheirFieldWidths) {
  const std::string longName(30, 'A');
  const std::string longText(600, 't');
  Tagged("Msg=3679|TA=" + longName + "|BOF=" + std::string(25, 'B') +
         "|Mar=" + std::string(25, 'R') + "|");
  ASSERT_EQ(api_->Accounts.Count(), 1);
  const auto account = api_->Accounts.At(0);
  EXPECT_EQ(account->TraderAccount, std::string(20, 'A'));
  EXPECT_EQ(account->GetBackOfficeID(), std::string(20, 'B'));
  EXPECT_EQ(account->GetMarginRating(), std::string(20, 'R'));
  // The same long name again is the same account.
  Tagged("Msg=3680|TA=" + longName + "|");
  EXPECT_EQ(api_->Accounts.Count(), 1);

  Tagged("Msg=3603|Seq=123456789012|Txt=" + longText + "|");
  ASSERT_EQ(api_->UserMessages.Count(), 1);
  const auto message = api_->UserMessages.At(0);
  EXPECT_EQ(message->Sequence(), "1234567890");
  EXPECT_EQ(message->Content, std::string(500, 't'));
}

TEST_F(AccountMessagesTest, MarginRatingMessagesAddOnlyWithTheirReferences) {
  struct TCase {
    const char* name;
    bool listed;  // R1 of ACC1 on EX is listed before, with 10 and 20
    bool legacy;
    std::string body;
    bool listedAfter;
    std::int32_t req, pc;
    bool cacheDropped;
  };
  const TCase cases[] = {
      {"3673 with its references adds", false, false,
       "Msg=3673|Rat= R1 |TA=ACC1|Ex=EX|Mar=150|Adj=75|", true, 150, 75, true},
      {"3673 of an unknown exchange adds nothing", false, false,
       "Msg=3673|Rat=R1|TA=ACC1|Ex=NOEX|Mar=150|Adj=75|", false, 0, 0, false},
      {"3673 of an unknown commodity adds nothing", false, false,
       "Msg=3673|Rat=R1|TA=ACC1|Ex=EX|C=NOCOM|Mar=150|Adj=75|", false, 0, 0, false},
      {"3673 of a listed rating updates it", true, false,
       "Msg=3673|Rat=R1|TA=ACC1|Ex=EX|Mar=30|Adj=40|", true, 30, 40, true},
      {"3674 updates a listed rating", true, false,
       "Msg=3674|Rat=R1|TA=ACC1|Ex=EX|CIR= |Mar=31|Adj=41|", true, 31, 41, true},
      {"3674 of an unlisted rating adds nothing", false, false,
       "Msg=3674|Rat=R1|TA=ACC1|Ex=EX|Mar=31|Adj=41|", false, 0, 0, false},
      {"3675 changes nothing", true, false, "Msg=3675|Rat=R1|TA=ACC1|Ex=EX|Mar=1|Adj=1|", true, 10,
       20, false},
      {"87 adds", false, true, LegacyRating("R1", "ACC1", "EX", "60", "70"), true, 60, 70, true},
      {"87 updates", true, true, LegacyRating("R1", "ACC1", "EX", "61", "71"), true, 61, 71, true},
      {"87 of an unknown account adds nothing", false, true,
       LegacyRating("R1", "NOACC", "EX", "60", "70"), false, 0, 0, false},
  };
  api_->Exchanges.FindOrAdd("EX");
  const auto account = AddAccount("ACC1");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    api_->MarginRatings.FreeAll();
    if (c.listed) {
      auto rating = std::make_shared<TMarginRating>();
      rating->Rating = "R1";
      rating->TraderAccount = "ACC1";
      rating->Exchange = "EX";
      rating->MarginReq = 10;
      rating->MarginPC = 20;
      api_->MarginRatings.Add(rating);
    }
    account->AddContractRating({"EX", "COM", "MAR24", 99});
    if (c.legacy)
      ReceiveLegacyMarginRating(*api_, c.body);
    else
      Tagged(c.body);
    const auto rating = api_->MarginRatings.FindRating("R1", "ACC1", " ", "", "", "EX");
    EXPECT_EQ(rating != nullptr, c.listedAfter);
    EXPECT_EQ(api_->MarginRatings.Count(), c.listedAfter ? 1 : 0);
    if (rating) {
      EXPECT_EQ(rating->MarginReq.load(), c.req);
      EXPECT_EQ(rating->MarginPC.load(), c.pc);
    }
    double rate = 0;
    EXPECT_EQ(!account->FindContractRating("EX", "COM", "MAR24", rate), c.cacheDropped);
  }
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(AccountMessagesTest, ChangingAnAccountsRatingNameDropsTheCachedRates) {
  const auto account = AddAccount("ACC1");
  account->SetMarginRating("R1");
  account->AddContractRating({"EX", "COM", "MAR24", 99});
  double rate = 0;
  Tagged("Msg=3680|TA=ACC1|Mar=R1|");
  EXPECT_TRUE(account->FindContractRating("EX", "COM", "MAR24", rate));
  Tagged("Msg=3680|TA=ACC1|Mar=R2|");
  EXPECT_FALSE(account->FindContractRating("EX", "COM", "MAR24", rate));
}

TEST_F(AccountMessagesTest, UserMessagesAreListedOncePerSequenceWithTheirEvent) {
  Tagged("Msg=3603|Seq= 7 |Txt=  Hello  |");
  Tagged("Msg=3603|Seq=0000000007|Txt=Again|");
  Tagged("Msg=3603|Seq=8|Txt=Second|");
  ASSERT_EQ(api_->UserMessages.Count(), 2);
  const auto first = api_->UserMessages.FindMessage("7");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Content, "Hello");
  EXPECT_EQ(first->IsAlert, alAlert);
  EXPECT_EQ(first->Status, altPending);

  // Fixed-width: the event only for an alert, or for any message with notify-all on.
  ReceiveLegacyUserMessage(*api_, LegacyMessage("20", '1', "  Alert text "));
  ReceiveLegacyUserMessage(*api_, LegacyMessage("21", '0', "Normal"));
  ReceiveLegacyUserMessage(*api_, LegacyMessage("20", '1', "Duplicate"));
  api_->NotifyAllMessages = true;
  ReceiveLegacyUserMessage(*api_, LegacyMessage("22", '0', "Notified", '1'));
  EXPECT_EQ(DeliverCallbacks(), (TEvents{{4, "7"}, {4, "8"}, {4, "20"}, {4, "22"}}));

  const auto alert = api_->UserMessages.FindMessage("20");
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->Content, "Alert text");
  EXPECT_EQ(alert->IsAlert, alAlert);
  EXPECT_EQ(api_->UserMessages.FindMessage("22")->Status, altCleared);
}

TEST_F(AccountMessagesTest, LegacyMessageFlagsReadAsDigits) {
  struct TCase {
    char alert, status;
    TAlert isAlert;
    TAlertStatus alertStatus;
  };
  const TCase cases[] = {
      {'0', '0', alNormal, altPending},   {'1', '1', alAlert, altCleared},
      {'3', ' ', alSuppress, altPending}, {' ', '1', alNormal, altCleared},
      {'x', 'x', alIllegal, altPending},  {'9', '9', alIllegal, altPending},
  };
  int sequence = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.alert) + c.status);
    const std::string id = std::to_string(sequence++);
    ReceiveLegacyUserMessage(*api_, LegacyMessage(id, c.alert, "text", c.status));
    const auto message = api_->UserMessages.FindMessage(id);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->IsAlert, c.isAlert);
    EXPECT_EQ(message->Status, c.alertStatus);
  }
  // A body cut short keeps what it has.
  ReceiveLegacyUserMessage(*api_, LegacyMessage("99", '1', "short").substr(0, 20));
  const auto cut = api_->UserMessages.FindMessage("99");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->Content, "short");
}

TEST_F(AccountMessagesTest, ZContentQueuesAUUIDActionAndPContentPurges) {
  auto member = std::make_shared<TRecordingMember>();
  member->SetUUID("U1");
  ASSERT_TRUE(api_->UUIDObjects->Add(member).Added);

  // Too short to carry an action: listed, nothing queued.
  Tagged("Msg=3603|Seq=1|Txt=Z|");
  EXPECT_EQ(api_->UserMessages.Count(), 1);
  // Lower case acts as well; the action letter is taken in upper case.
  Tagged("Msg=3603|Seq=2|Txt=z?a?U1|");
  EXPECT_EQ(member->WaitForActions(), "A");

  api_->Exchanges.FindOrAdd("EX");
  ClearCallbackQueue();
  Tagged("Msg=3603|Seq=3|Txt=Purge now|");
  EXPECT_EQ(DeliverCallbacks(), (TEvents{{4, "3"}, {VN_CB_PURGE_COMPLETED, "EX"}}));
  // A repeated sequence does not act again.
  Tagged("Msg=3603|Seq=3|Txt=Purge now|");
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(AccountMessagesTest, TheDownloadSuppressesTheEvents) {
  api_->Logon.DownloadInProgress = true;
  Tagged("Msg=3679|TA=ACC1|");
  Tagged("Msg=3680|TA=ACC1|BOF=X|");
  Tagged("Msg=3603|Seq=1|Txt=Hello|");
  ReceiveLegacyTraderAccount(*api_, LegacyAccount(30, "ACC2", "B", 'Y', "1", "R"));
  ReceiveLegacyUserMessage(*api_, LegacyMessage("2", '1', "Alert"));
  EXPECT_EQ(api_->Accounts.Count(), 2);
  EXPECT_EQ(api_->UserMessages.Count(), 2);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(AccountMessagesTest, ReportTypesAndReports) {
  const auto type = [](int code, std::string_view name) {
    return LegacyBody(code, 24, {{4, 20, std::string(name)}});
  };
  const auto report = [](std::string_view name, std::string_view sequence, std::string_view text) {
    return LegacyBody(48, 34, {{4, 20, std::string(name)}, {24, 10, std::string(sequence)}}) +
           std::string(text);
  };
  ReceiveLegacyReportType(*api_, type(54, " Daily "));
  ReceiveLegacyReportType(*api_, type(54, "Daily"));
  ReceiveLegacyReportType(*api_, type(54, "Weekly"));
  ASSERT_EQ(api_->ReportTypes.Count(), 2);
  EXPECT_EQ(api_->ReportTypes.At(0)->ReportType, "Daily");

  ReceiveLegacyReport(*api_, report("Daily", "2", "second "));
  ReceiveLegacyReport(*api_, report("Daily", "1", "  first "));
  ReceiveLegacyReport(*api_, report("Daily", "2", "SECOND"));  // replaces the text
  ReceiveLegacyReport(*api_, report("Unknown", "1", "dropped"));
  ReceiveLegacyReport(*api_, report("Weekly", "1", ""));
  EXPECT_EQ(api_->Reports.Count(), 3);
  EXPECT_EQ(api_->Reports.GetReportText("Daily"), "  first SECOND");
  EXPECT_EQ(api_->Reports.FindReport("Weekly", 1)->Text, "");

  ReceiveLegacyReportType(*api_, type(55, "Weekly"));
  ReceiveLegacyReportType(*api_, type(55, "Never listed"));
  ASSERT_EQ(api_->ReportTypes.Count(), 1);
  EXPECT_EQ(api_->ReportTypes.At(0)->ReportType, "Daily");
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

// The host thread and the price thread both add user messages.
TEST_F(AccountMessagesTest, UserMessagesFromTwoThreadsAreEachListedOnce) {
  const auto feed = [this](int first) {
    for (int i = 0; i < 200; ++i) {
      const std::string sequence = std::to_string(first + i);
      if (i % 2)
        Tagged("Msg=3603|Seq=" + sequence + "|Txt=t|");
      else
        ReceiveLegacyUserMessage(*api_, LegacyMessage(sequence, '1', "t"));
    }
  };
  std::thread a(feed, 1);
  std::thread b(feed, 101);
  a.join();
  b.join();
  EXPECT_EQ(api_->UserMessages.Count(), 300);
  EXPECT_EQ(CallbackQueueCount(), 300u);
}

}  // namespace
}  // namespace vorn
