#include "links/PositionMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/store/ContractDataThread.h"
#include "core/trading/TraderPosition.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/Text.h"
#include "links/Dispatcher.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/Eventually.h"
#include "support/FakeClock.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

const std::string kSODID = "OP,TRADER1,LIFFE,FTSE,MAR27";
const std::string kEODID = "CL,TRADER1,FTSE,MAR27";

// A position of TRADER1 on the future: short 5 at 101.5, premium 2. The test's own fields go
// first, so they override these (the first value of a repeated tag is the one read).
std::string Position(std::string_view code, std::string_view own = {}) {
  std::string text = "Msg=" + std::string(code) + "|";
  if (!own.empty()) text += std::string(own) + "|";
  return text + "Ex=LIFFE|C=FTSE|CD=MAR27|TA=TRADER1|Psl=0|Pss=5|Pr=101.5|OPr=2|";
}

class PositionMessagesTest : public HostReceiverTest {
 protected:
  PositionMessagesTest() {
    Api().Accounts.Add(std::make_shared<TTraderAccountItem>("TRADER2"));
    Api().UserName.Set("USER1");
  }

  std::shared_ptr<TFill> Pseudo(const std::string& id) {
    return api_->Fills.FindByKey(TFill::KeyFor(id, fltpNETTED));
  }
  TPositionRecord Record(std::string_view account = "TRADER1") {
    auto position = ExistingPositionOf(*Future());
    if (!position) return {};
    return position->GetAccountPosition(account).value_or(TPositionRecord{});
  }
  std::vector<TMarginOrderItem> Margins() { return Trader()->GetMarginOrders(Future()->Key()); }

  TFakeClock clock_{EncodeDate(2024, 3, 1) + EncodeTime(9, 30, 0, 0)};
  TClockInstaller installer_{clock_};
};

TEST_F(PositionMessagesTest, StartOfDayIsASellPseudoFillWithTheTableFields) {
  Host(Position("3676"));

  ASSERT_EQ(Api().Fills.Count(), 1);
  const auto fill = Pseudo(kSODID);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->Contract, Future());
  EXPECT_EQ(fill->BuySell, Sell);
  EXPECT_EQ(fill->Lots, 5);
  EXPECT_EQ(fill->Price, 101.5);
  EXPECT_EQ(fill->OrderID, "0");
  // Yesterday from the clock, across a month end.
  EXPECT_EQ(fill->DateFilled, "20240229");
  EXPECT_EQ(fill->TimeFilled, "000000");
  EXPECT_EQ(fill->DateHostReceived, "20240229");
  EXPECT_EQ(fill->TimeHostReceived, "000000");
  EXPECT_EQ(fill->ExchangeOrderID, "NETTED");
  EXPECT_EQ(fill->FillType, fltpNETTED);
  EXPECT_EQ(fill->Account, Trader());
  EXPECT_EQ(fill->UserName, "USER1");
  EXPECT_TRUE(fill->IsSODFill);
  EXPECT_FALSE(fill->IsEODFill);

  // The position, its start-of-day figures, the margin entry and the traded contract.
  const TPositionRecord record = Record();
  EXPECT_EQ(record.Side, Sell);
  EXPECT_EQ(record.Netted.TotalLots(), 5);
  const TPositionFigures& sod = record.Netted.StartOfDay;
  EXPECT_EQ(sod.Account, "TRADER1");
  EXPECT_EQ(sod.LongLots, 0);
  EXPECT_EQ(sod.LongLots2, 0);
  EXPECT_EQ(sod.ShortLots, 5);
  EXPECT_EQ(sod.Price, 101.5);
  EXPECT_EQ(sod.OptionPremium, 2);
  ASSERT_EQ(Margins().size(), 1u);
  EXPECT_EQ(Margins()[0].OrderID, kSODID);
  EXPECT_EQ(Trader()->GetTradedContracts().size(), 1u);

  // Held as a positional contract with the library's own price subscription.
  EXPECT_TRUE(Future()->Positional);
  EXPECT_TRUE(Api().Subscriptions.ForcedSubscription(Future()->Key()));
  EXPECT_TRUE(Api().Subscriptions.IsSubscribed(Future()->Key()));
  EXPECT_EQ(DeliverFillEvents(), (TFillEvents{{"NETTED", kSODID}}));
}

TEST_F(PositionMessagesTest, SideAndLotsFollowTheLongLots) {
  struct TCase {
    const char* text;
    TPurchase side;
    std::int32_t lots;
  };
  const TCase cases[] = {{"Psl=0|Pss=5", Sell, 5},
                         {"Psl=3|Pss=0", Buy, 3},
                         {"Psl=1|Pss=4", Buy, 1},
                         {"Psl=x|Pss=4", Sell, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Host(Position("3677", c.text));
    const auto fill = Pseudo(kSODID);
    ASSERT_TRUE(fill);
    EXPECT_EQ(fill->BuySell, c.side);
    EXPECT_EQ(fill->Lots, c.lots);
  }
}

TEST_F(PositionMessagesTest, DebugDumpAndSubscriptionTrace) {
  EnableDebugFlags(kDebugging | kTraceAppCalls);
  Host(Position("3676"));
  Host(Position("3704", "OPr=x"));
  const std::string dump =
      "TMSODPosition.ReceiveFields: \r\n  Exchange Name  LIFFE\r\n  Contract Name  FTSE\r\n"
      "  Contract Date  MAR27\r\n  Trader Accnt   TRADER1\r\n  Long Position  0\r\n"
      "  ShortPosition  5\r\n  Option Premium ";
  const std::string trace = ReadFileText(TraceFileName());
  EXPECT_NE(trace.find(dump + "2\r\n  Price          101.5\r\n"), std::string::npos);
  EXPECT_NE(trace.find(dump + "0\r\n  Price          101.5\r\n"), std::string::npos);
  EXPECT_NE(trace.find("Subscribe to positional contract LIFFE\\FTSE\\MAR27 = 0"),
            std::string::npos);
}

// A repeated message updates its pseudo-fill in place: nothing is netted or margined twice, and
// a corrected one replaces the figures.
TEST_F(PositionMessagesTest, RepeatedStartOfDayUpdatesInPlace) {
  Host(Position("3676"));
  const auto first = Pseudo(kSODID);
  const TPositionRecord before = Record();
  const int subscribers = Api().Subscriptions.PriceSubscriberCount(Future()->Key());
  Host(Position("3676"));

  EXPECT_EQ(Api().Fills.Count(), 1);
  EXPECT_EQ(Pseudo(kSODID), first);
  const TPositionRecord again = Record();
  EXPECT_EQ(again.Netted.TotalLots(), before.Netted.TotalLots());
  EXPECT_EQ(again.ShortPosn, before.ShortPosn);
  EXPECT_EQ(again.LongPosn, before.LongPosn);
  ASSERT_EQ(Margins().size(), 1u);
  EXPECT_EQ(Margins()[0].Lots, 5);
  EXPECT_EQ(Api().Subscriptions.PriceSubscriberCount(Future()->Key()), subscribers);

  // The correction: the fields pass "Pss", "Pr" and "OPr" ahead of the defaults.
  Host(Position("3676", "Pss=7|Pr=99|OPr=3"));
  EXPECT_EQ(Api().Fills.Count(), 1);
  EXPECT_EQ(Pseudo(kSODID), first);
  EXPECT_EQ(first->Lots, 7);
  EXPECT_EQ(first->Price, 99);
  const TPositionRecord corrected = Record();
  EXPECT_EQ(corrected.Netted.TotalLots(), 7);
  EXPECT_EQ(corrected.Netted.StartOfDay.ShortLots, 7);
  EXPECT_EQ(corrected.Netted.StartOfDay.Price, 99);
  EXPECT_EQ(corrected.Netted.StartOfDay.OptionPremium, 3);
  ASSERT_EQ(Margins().size(), 1u);
  EXPECT_EQ(Margins()[0].Lots, 7);
  EXPECT_EQ(Margins()[0].Price, 99);
  EXPECT_EQ(DeliverFillEvents(), (TFillEvents(3, {"NETTED", kSODID})));
}

TEST_F(PositionMessagesTest, EndOfDayFieldsWithoutSubscriptionOrFigures) {
  for (const char* code : {"3702", "3703", "3704"})
    Host(Position(code));
  Host("Msg=3702|Ex=LIFFE|C=FTSE|CD=MAR27|TA=TRADER2|Psl=2|Pss=0|Pr=100|");

  // One pseudo-fill per account: the three codes are applied alike.
  ASSERT_EQ(Api().Fills.Count(), 2);
  const auto fill = Pseudo(kEODID);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->BuySell, Sell);
  EXPECT_EQ(fill->Lots, 5);
  EXPECT_EQ(fill->OrderID, "0");
  EXPECT_EQ(fill->DateFilled, "20240229");
  EXPECT_EQ(fill->ExchangeOrderID, "NETTED");
  EXPECT_TRUE(fill->IsEODFill);
  EXPECT_FALSE(fill->IsSODFill);
  ASSERT_TRUE(Pseudo("CL,TRADER2,FTSE,MAR27"));
  EXPECT_EQ(Pseudo("CL,TRADER2,FTSE,MAR27")->BuySell, Buy);

  EXPECT_EQ(Record().Netted.TotalLots(), 5);
  EXPECT_EQ(Record("TRADER2").Netted.TotalLots(), 2);
  EXPECT_EQ(Record().Netted.StartOfDay.Account, "");
  EXPECT_EQ(Margins().size(), 1u);
  EXPECT_FALSE(Future()->Positional);
  EXPECT_FALSE(Api().Subscriptions.ForcedSubscription(Future()->Key()));
  EXPECT_FALSE(Api().Subscriptions.IsSubscribed(Future()->Key()));
  EXPECT_EQ(DeliverFillEvents().size(), 4u);
}

// During the download no event goes out and an unknown account is made; outside it an unknown
// account is traced and its steps skipped, the pseudo-fill still listed.
TEST_F(PositionMessagesTest, DownloadAndUnknownAccounts) {
  Api().Logon.DownloadInProgress = true;
  Host("Msg=3676|Ex=LIFFE|C=FTSE|CD=MAR27|TA=NEWACC|Psl=2|Pr=100|");
  ASSERT_TRUE(Pseudo("OP,NEWACC,LIFFE,FTSE,MAR27"));
  const auto made = Api().Accounts.FindAccount("NEWACC");
  ASSERT_TRUE(made);
  EXPECT_EQ(made->GetMarginOrders(Future()->Key()).size(), 1u);
  EXPECT_EQ(CallbackQueueCount(), 0u);

  Api().Logon.DownloadInProgress = false;
  Host("Msg=3676|Ex=LIFFE|C=FTSE|CD=MAR27|TA=NOBODY|Psl=2|Pr=100|");
  const auto orphan = Pseudo("OP,NOBODY,LIFFE,FTSE,MAR27");
  ASSERT_TRUE(orphan);
  EXPECT_EQ(orphan->Account, nullptr);
  EXPECT_EQ(Api().Accounts.FindAccount("NOBODY"), nullptr);
  EXPECT_TRUE(Traced("No Such Account NOBODY for SOD Position"));
  EXPECT_EQ(CallbackQueueCount(), 1u);
}

TEST_F(PositionMessagesTest, UnknownContractIsTracedAndDropped) {
  Host("Msg=3676|Ex=LIFFE|C=FTSE|CD=DEC99|TA=TRADER1|Psl=1|Pr=1|");
  Host("Msg=3703|Ex=LIFFE|C=FTSE |CD=DEC99|TA=TRADER1|Psl=1|Pr=1|");
  EXPECT_TRUE(Traced("Cannot find Contract LIFFE \\ FTSE \\ DEC99 for SOD Position"));
  EXPECT_TRUE(Traced("Cannot find Contract LIFFE \\ FTSE \\ DEC99 for EOD Position"));
  EXPECT_EQ(Api().Fills.Count(), 0);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

TEST_F(PositionMessagesTest, PriceThatIsNotANumberRaisesBeforeAnythingIsWritten) {
  for (const char* code : {"3676", "3702"}) {
    SCOPED_TRACE(code);
    TFieldsList fields = Fields(Position(code, "Pr=x"));
    EXPECT_THROW(
        code[3] == '6' ? ReceiveSODPosition(Api(), fields) : ReceiveEODPosition(Api(), fields),
        EConvertError);
  }
  Host("Msg=3676|Ex=LIFFE|C=FTSE|CD=MAR27|TA=TRADER1|Pss=5|");  // no price at all
  EXPECT_EQ(Api().Fills.Count(), 0);
  EXPECT_FALSE(ExistingPositionOf(*Future()));
  EXPECT_TRUE(Margins().empty());
  EXPECT_FALSE(Future()->Positional);
  EXPECT_FALSE(Api().Subscriptions.IsSubscribed(Future()->Key()));
  EXPECT_EQ(CallbackQueueCount(), 0u);

  // An option premium that is not a number reads 0.
  Host(Position("3676", "OPr=x"));
  EXPECT_EQ(Record().Netted.StartOfDay.OptionPremium, 0);
}

// A group member that records what it was asked to do; one can hold the thread inside it.
class TMember : public TUUIDStreamable {
 public:
  explicit TMember(std::string uuid) { SetUUID(uuid); }
  void Activate(bool) override { Act('A'); }
  void Deactivate(bool) override { Act('I'); }
  void Expire() override { Act('E'); }
  void Purge(TDateTime) override {}

  void Hold() {
    std::lock_guard guard(lock_);
    held_ = true;
  }
  void WaitEntered() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return entered_; });
  }
  void Release() {
    std::lock_guard guard(lock_);
    held_ = false;
    changed_.notify_all();
  }
  std::string Actions() {
    std::lock_guard guard(lock_);
    return actions_;
  }

 private:
  void Act(char action) {
    std::unique_lock guard(lock_);
    actions_ += action;
    entered_ = true;
    changed_.notify_all();
    changed_.wait(guard, [&] { return !held_; });
  }
  std::mutex lock_;
  std::condition_variable changed_;
  bool held_ = false;
  bool entered_ = false;
  std::string actions_;
};

TEST_F(PositionMessagesTest, UUIDListIsQueuedAsOneMessage) {
  std::vector<std::shared_ptr<TMember>> members;
  for (const char* uuid : {"{G0}", "{G1}", "{G2}", "{G3}"}) {
    members.push_back(std::make_shared<TMember>(uuid));
    Api().UUIDObjects->Add(members.back());
  }
  // The thread is held inside the first group's member while the list arrives.
  members[0]->Hold();
  Host("Msg=3701|Act=I|GUIDL={G0}|");
  members[0]->WaitEntered();
  Host("Msg=3701|Act=I|GUIDL={G1},{G2},{G3}|");
  EXPECT_EQ(Api().UUIDMessages.Pending(), 1u);

  members[0]->Release();
  for (const auto& member : members)
    EXPECT_TRUE(Eventually([&] { return member->Actions() == "I"; })) << member->GetUUID();
}

// A save started while a load runs waits for the load to end: one thread at a time works on
// the contract list and the file.
TEST_F(PositionMessagesTest, ContractSaveJoinsTheRunningLoadFirst) {
  StartContractsSave(Api());
  ASSERT_TRUE(Api().ContractsSaved.WaitFor(10s));
  ASSERT_TRUE(FileExists(dir_.File(kContractStoreFileName)));

  // The load stops at the contract list's lock, which the test holds.
  Api().Contracts.Lock();
  StartContractsLoad(Api());
  EXPECT_TRUE(Api().ContractsReading);
  std::atomic<bool> returned{false};
  bool loadEnded = false;
  std::thread saver([&] {
    StartContractsSave(Api());
    loadEnded = Api().ContractsRead.IsSet() && !Api().ContractsReading;
    returned = true;
  });
  // A save that did not wait for the load would come back while the lock is still held.
  EXPECT_FALSE(Eventually([&] { return returned.load(); }, 200ms));
  Api().Contracts.Unlock();
  saver.join();
  EXPECT_TRUE(loadEnded);
  EXPECT_TRUE(Api().ContractsSaved.WaitFor(10s));
}

}  // namespace
}  // namespace vorn
