#include "links/FillMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Fill.h"
#include "core/trading/TraderPosition.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/ReceiverFixture.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

// The fields every fill of the tests carries; the test's own come first and override them (the
// first value of a repeated tag is the one read).
std::string FillText(std::string_view own) {
  return "Msg=3602|" + std::string(own) +
         "|Ex=LIFFE|C=FTSE|CD=MAR27|TA=TRADER1|BS=1|Fil=2|Pr=100|OID=101|Usr=USER1|"
         "DF=20240305140709|HRx=20240305140710|";
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  out.resize(width, ' ');
  return out;
}

class FillMessagesTest : public HostReceiverTest {
 protected:
  FillMessagesTest() {
    AddTradingOrderType(Api(), "LIMIT", otLimit, 1);
    // Order 101, working.
    Host(
        "Msg=3601|OID=101|Sts=3|Seq=5|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|"
        "Pr=100|TLt=10|ALt=10|");
    ClearCallbackQueue();
  }

  void Fill(std::string_view own) { Host(FillText(own)); }

  // TRADER1's netted lots on the future, negative on the Sell side.
  std::int32_t NetLots() {
    auto position = ExistingPositionOf(*Future());
    if (!position) return 0;
    const std::int32_t lots = position->GetNettedLots("TRADER1");
    return position->GetPositionSide("TRADER1") == Sell ? -lots : lots;
  }
  std::int32_t NoOfFills() {
    auto order = api_->Orders.FindOrder("101");
    return order ? order->NoOfFills : -1;
  }
  std::vector<std::string> MessageContents() {
    std::vector<std::string> contents;
    for (int i = 0; i < api_->UserMessages.Count(); ++i)
      contents.push_back(api_->UserMessages.At(i)->Content);
    return contents;
  }
  std::string UUIDLog() {
    CloseUUIDLog();
    return ReadFileText(dir_.File(kUUIDObjectFileName));
  }
};

// Each message in turn, on one set of lists: what it adds to the fill list, the position, the
// order's fill count, the events and the confirmation messages.
TEST_F(FillMessagesTest, TaggedFillsAreListedAppliedOnceAndReported) {
  const std::string netted = std::string(1, kPositionFillKeyPrefix) + "N1";
  const std::string retained = std::string(1, kPositionFillKeyPrefix) + "R1";
  struct TCase {
    const char* name;
    std::string own;
    int count;        // fills listed afterwards
    std::string key;  // listed under this key ("" for none)
    int netLots;      // TRADER1's position afterwards
    int noOfFills;    // order 101's fill count afterwards
    TFillEvents events;
    std::string confirmation;  // the user message added, "" for none
  };
  const TCase cases[] = {
      {"type 1 new", "FID=F1|FTy=1", 1, "F1", 2, 1, {{"101", "F1"}}, "Fill received for order 101"},
      {"type 1 repeated",
       "FID=F1|FTy=1|Pr=101",
       1,
       "F1",
       2,
       1,
       {{"101", "F1"}},
       "Fill received for order 101"},
      {"type 2",
       "FID=F2|FTy=2|BS=2|Fil=1",
       2,
       "F2",
       1,
       1,
       {{"EXTERNAL", "F2"}},
       "Fill received for order EXTERNAL"},
      {"type 3 netted",
       "FID=N1|FTy=3|EID=NETTED|Fil=3",
       3,
       netted,
       4,
       1,
       {{"NETTED", "N1"}},
       "Fill received for order NETTED"},
      {"type 4", "FID=U1|FTy=4|Fil=1", 4, "U1", 5, 1, {}, ""},
      {"type 5",
       "FID=R1|FTy=5|Fil=1",
       5,
       retained,
       5,
       1,
       {{"101", "R1"}},
       "Fill received for order 101"},
      {"blank FID", "FID=  |FTy=1", 5, "", 5, 1, {}, ""},
      {"unknown contract", "FID=X1|FTy=1|CD=DEC99", 5, "", 5, 1, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = MessageContents();
    Fill(c.own);
    EXPECT_EQ(Api().Fills.Count(), c.count);
    EXPECT_EQ(c.key.empty() || Api().Fills.FindByKey(c.key) != nullptr, true);
    EXPECT_EQ(NetLots(), c.netLots);
    EXPECT_EQ(NoOfFills(), c.noOfFills);
    EXPECT_EQ(DeliverFillEvents(), c.events);
    auto expected = before;
    if (!c.confirmation.empty()) expected.push_back(c.confirmation);
    auto after = MessageContents();
    std::sort(expected.begin(), expected.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, expected);
  }
  // The repeated fill was updated in place.
  EXPECT_EQ(Api().Fills.FindByKey("F1")->Price, 101);
  // The external fill's margin entry; the unknown contract's trace line.
  EXPECT_EQ(Trader()->GetMarginOrders(Future()->Key()).size(), 2u);  // order 101 and F2
  EXPECT_TRUE(Traced("Cannot find Contract LIFFE \\ FTSE \\ DEC99 for Fill X1"));
  // Held positionally with a forced price subscription.
  EXPECT_TRUE(Future()->Positional);
  EXPECT_TRUE(Api().Subscriptions.ForcedSubscription(Future()->Key()));
}

TEST_F(FillMessagesTest, FieldsAreWrittenAndTextsCutToTheirWidths) {
  Fill("FID=" + std::string(80, 'f') + "|FTy=1|EID=" + std::string(40, 'e') + "|EFID=" +
       std::string(75, 'x') + "|ErPr=101'16 and more text here|XcnId=" + std::string(75, 'c') +
       "|Usr=LONGUSERNAME1|OID=101XXXXXXXX|FSTy=7");
  ASSERT_EQ(Api().Fills.Count(), 1);
  const auto fill = Api().Fills.At(0);
  EXPECT_EQ(fill->FillID, std::string(70, 'f'));
  EXPECT_EQ(fill->ExchangeOrderID, std::string(30, 'e'));
  EXPECT_EQ(fill->ExchangeFillID, std::string(70, 'x'));
  EXPECT_EQ(fill->ExchangeRawPrice, "101'16 and more text");
  EXPECT_EQ(fill->ExecutionID, std::string(70, 'c'));
  EXPECT_EQ(fill->UserName, "LONGUSERNA");
  EXPECT_EQ(fill->OrderID, "101XXXXXXX");
  EXPECT_EQ(fill->FillSubType, 7);
  EXPECT_EQ(fill->Contract, Future());
  EXPECT_EQ(fill->Account, Trader());
  EXPECT_EQ(fill->BuySell, Buy);
  EXPECT_EQ(fill->Lots, 2);
  EXPECT_EQ(fill->DateFilled, "20240305");
  EXPECT_EQ(fill->TimeFilled, "140709");
  EXPECT_EQ(fill->DateHostReceived, "20240305");
  EXPECT_EQ(fill->TimeHostReceived, "140710");
  EXPECT_FALSE(fill->IsSODFill);
}

TEST_F(FillMessagesTest, DuringTheDownloadNoEventAndNoMessage) {
  Api().Logon.DownloadInProgress = true;
  const int messages = Api().UserMessages.Count();
  Fill("FID=F1|FTy=1");
  Fill("FID=F1|FTy=1");
  EXPECT_EQ(Api().Fills.Count(), 1);
  EXPECT_EQ(NetLots(), 2);
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_EQ(Api().UserMessages.Count(), messages);
}

// The state from "Act"; the UUID joins its group once, a repeat without "GUID" keeps it, and a
// different "GUID" moves the fill to the new group.
TEST_F(FillMessagesTest, StateAndUUIDGroupsFollowTheMessages) {
  Fill("FID=F1|FTy=1");
  Fill("FID=F2|FTy=1|Act=2|GUID={G-2}");
  const auto f1 = Api().Fills.FindByKey("F1");
  const auto f2 = Api().Fills.FindByKey("F2");
  EXPECT_EQ(f1->State.load(), TUUIDStreamable::usActive);
  EXPECT_EQ(f2->State.load(), TUUIDStreamable::usInactive);
  EXPECT_EQ(f2->GetUUID(), "{G-2}");
  const std::string generated = f1->GetUUID();
  ASSERT_FALSE(generated.empty());

  Fill("FID=F1|FTy=1|Act=x");  // repeated, no GUID: same UUID, state kept
  Fill("FID=F1|FTy=1|Act=2");
  Fill("FID=F1|FTy=1|Act=x");
  EXPECT_EQ(f1->GetUUID(), generated);
  EXPECT_EQ(f1->State.load(), TUUIDStreamable::usInactive);
  ASSERT_TRUE(Api().UUIDObjects->FindGroup(generated));
  EXPECT_EQ(Api().UUIDObjects->FindGroup(generated)->Members.Count(), 1u);
  EXPECT_EQ(f1->BelongsTo.Count(), 1u);
  EXPECT_EQ(Api().Orders.FindOrder("101")->Members.Count(), 2u);  // F1 and F2, once each

  Fill("FID=F1|FTy=1|GUID={G-NEW}");  // no "Act": Active
  EXPECT_EQ(f1->GetUUID(), "{G-NEW}");
  EXPECT_EQ(f1->State.load(), TUUIDStreamable::usActive);
  EXPECT_FALSE(Api().UUIDObjects->FindGroup(generated));
  EXPECT_EQ(Api().UUIDObjects->FindGroup("{G-NEW}")->Members.Count(), 1u);
  EXPECT_EQ(f1->BelongsTo.Count(), 1u);
  EXPECT_EQ(Api().Orders.FindOrder("101")->Members.Count(), 2u);

  // One log line per message.
  const std::string log = UUIDLog();
  EXPECT_NE(log.find("LIFFE/FTSE/MAR27/101/F2\t\t{G-2}\tStatus=Inactive\r\n"), std::string::npos);
  EXPECT_NE(log.find("LIFFE/FTSE/MAR27/101/F1\t\t{G-NEW}\tStatus=Active\r\n"), std::string::npos);
}

// The account is not known and none is made outside the download: the fill is kept and
// reported, the account's own steps are skipped.
TEST_F(FillMessagesTest, UnknownAccountOutsideTheDownloadSkipsTheAccountSteps) {
  Fill("FID=F1|FTy=2|TA=NOBODY");
  ASSERT_EQ(Api().Fills.Count(), 1);
  EXPECT_FALSE(Api().Fills.At(0)->Account);
  EXPECT_FALSE(Api().Accounts.FindAccount("NOBODY"));
  EXPECT_EQ(Trader()->GetMarginOrders(Future()->Key()).size(), 1u);  // order 101 only
  EXPECT_TRUE(Traced("Cannot find Account NOBODY for Fill F1"));
  EXPECT_EQ(DeliverFillEvents(), (TFillEvents{{"EXTERNAL", "F1"}}));
}

// Code 80 with its names padded to their widths: found, held positionally without a forced
// subscription, reported without a confirmation message.
TEST_F(FillMessagesTest, LegacyFillIsAppliedFromItsFixedFields) {
  std::string body(264, ' ');
  struct TPut {
    std::size_t Offset;
    std::size_t Width;
    const char* Text;
  };
  const TPut fields[] = {
      {0, 4, "0080"},     {4, 70, "L1"},        {74, 10, "LIFFE"},  {84, 10, "FTSE"},
      {94, 50, "MAR27"},  {144, 1, "2"},        {145, 10, "3"},     {155, 10, "99.5"},
      {165, 10, "101"},   {175, 8, "20240305"}, {183, 6, "140709"}, {189, 8, "20240306"},
      {197, 6, "010203"}, {203, 30, "EX-9"},    {233, 1, "1"},      {234, 20, "TRADER1"},
      {254, 10, "USER1"},
  };
  for (const auto& f : fields)
    PutFixedField(body, f.Offset, f.Width, f.Text);
  const int messages = Api().UserMessages.Count();
  ProcessMessage(Api(), psPriceFeed, body);

  ASSERT_EQ(Api().Fills.Count(), 1);
  const auto fill = Api().Fills.FindByKey("L1");
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->Contract, Future());
  EXPECT_EQ(fill->Account, Trader());
  EXPECT_EQ(fill->BuySell, Sell);
  EXPECT_EQ(fill->Lots, 3);
  EXPECT_EQ(fill->Price, 99.5);
  EXPECT_EQ(fill->OrderID, "101");
  EXPECT_EQ(fill->DateFilled + fill->TimeFilled, "20240305140709");
  EXPECT_EQ(fill->DateHostReceived + fill->TimeHostReceived, "20240306010203");
  EXPECT_EQ(fill->ExchangeOrderID, "EX-9");
  EXPECT_EQ(fill->UserName, "USER1");
  EXPECT_EQ(NetLots(), -3);
  EXPECT_EQ(NoOfFills(), 1);
  EXPECT_TRUE(Future()->Positional);
  EXPECT_FALSE(Api().Subscriptions.ForcedSubscription(Future()->Key()));
  EXPECT_EQ(Api().UserMessages.Count(), messages);
  EXPECT_EQ(DeliverFillEvents(), (TFillEvents{{"101", "L1"}}));

  // A short body reads blanks for what it lacks: a fill id and nothing else finds no contract.
  ProcessMessage(Api(), psPriceFeed, "0080" + Padded("L2", 70));
  EXPECT_EQ(Api().Fills.Count(), 1);
  EXPECT_TRUE(Traced("Cannot find Contract  \\  \\  for Fill L2"));
}

// Readers copy fills under the fill list's lock while repeated messages rewrite them.
TEST_F(FillMessagesTest, RepeatedFillsAreRewrittenUnderTheFillListLock) {
  Fill("FID=F1|FTy=1");
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  std::thread reader([&] {
    std::size_t seen = 0;
    do {
      TIndexListLock guard(Api().Fills);
      for (int i = 0; i < Api().Fills.Count(); ++i) {
        const auto fill = Api().Fills.At(i);
        seen += fill->ExchangeOrderID.size() + fill->ExecutionID.size() + fill->UserName.size();
      }
      started = true;
    } while (!done.load());
    EXPECT_GT(seen, 0u);
  });
  while (!started.load())
    std::this_thread::yield();
  for (int i = 0; i < 300; ++i)
    Fill("FID=F1|FTy=1|EID=EXCH-" + std::to_string(i) + "|XcnId=X-" + std::to_string(i) + "|Usr=U" +
         std::to_string(i));
  done = true;
  reader.join();
  EXPECT_EQ(Api().Fills.Count(), 1);
  EXPECT_EQ(Api().Fills.At(0)->ExchangeOrderID, "EXCH-299");
  EXPECT_EQ(NetLots(), 2);
  ClearCallbackQueue();
}

}  // namespace
}  // namespace vorn
