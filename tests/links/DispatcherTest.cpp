#include "links/Dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "links/FixedField.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/FakeClock.h"
#include "support/FakeLink.h"
#include "support/HostText.h"
#include "support/LogText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using std::chrono::milliseconds;

// Every code of the host and price-feed code tables.
constexpr int kHostCodes[] = {3002, 3601, 3602, 3603, 3620, 3621, 3622, 3623, 3624, 3625, 3626,
                              3627, 3628, 3629, 3655, 3656, 3657, 3658, 3659, 3660, 3661, 3662,
                              3663, 3664, 3665, 3666, 3667, 3668, 3669, 3670, 3673, 3674, 3675,
                              3676, 3677, 3678, 3679, 3680, 3681, 3688, 3701, 3702, 3703, 3704};
constexpr int kPriceCodes[] = {2,  23, 24, 25, 30, 31, 39, 40, 41, 46,  47,  48,  52,  53,  54, 55,
                               56, 57, 58, 59, 60, 65, 67, 69, 70, 71,  72,  73,  74,  75,  76, 77,
                               78, 79, 80, 82, 83, 84, 85, 86, 87, 314, 340, 345, 806, 807, 810};

// What the test receivers saw: the code they were registered for and the code the body held.
struct TReceived {
  int Registered;
  std::string BodyCode;
  bool operator==(const TReceived&) const = default;
  friend void PrintTo(const TReceived& r, std::ostream* out) {
    *out << r.Registered << ":'" << r.BodyCode << "'";
  }
};
std::vector<TReceived>& Received() {
  static std::vector<TReceived> received;
  return received;
}

template <int Code>
void RecordHost(TClassAPI&, TFieldsList& fields) {
  Received().push_back({Code, fields.GetFieldValue("Msg", 0)});
}
template <int Code>
void RecordPrice(TClassAPI&, std::string_view body) {
  Received().push_back({Code, std::string(GetFixedField(body, 0, 4))});
}

template <std::size_t... I>
void RegisterRecorders(TMessageTable& table, std::index_sequence<I...>) {
  (table.RegisterHostMessage(kHostCodes[I], &RecordHost<kHostCodes[I]>), ...);
}
template <std::size_t... I>
void RegisterPriceRecorders(TMessageTable& table, std::index_sequence<I...>) {
  (table.RegisterPriceMessage(kPriceCodes[I], &RecordPrice<kPriceCodes[I]>), ...);
}

TMessageTable RecordingTable() {
  TMessageTable table;
  RegisterRecorders(table, std::make_index_sequence<std::size(kHostCodes)>());
  RegisterPriceRecorders(table, std::make_index_sequence<std::size(kPriceCodes)>());
  return table;
}

std::string HostBody(int code) {
  return Wire("Msg=" + std::to_string(code) + "|");
}
std::string PriceBody(int code) {
  return FormatCode4(code) + "      1234";
}

class TFakeDownloadServices final : public IDownloadServices {
 public:
  void Sleep(milliseconds duration) override {
    Sleeps.push_back(duration);
    if (OnSleep) OnSleep();
  }
  void MarkDownloadComplete(TLogonState&) override { ++Marks; }
  void StartContractWrite(TClassAPI&) override { ++ContractWrites; }

  std::vector<milliseconds> Sleeps;
  std::function<void()> OnSleep;
  int Marks = 0;
  int ContractWrites = 0;
};

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    ResetTraceState();
    InitTraceRing(kTraceRingSize);
    DisableDebugFlags(0xFF);
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    Received().clear();
    SetDownloadServices(&services_);
    NewAPI();
  }
  ~DispatcherTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    api_.reset();
    SetLinkFactory(nullptr);
    SetDownloadServices(nullptr);
    ClearCallbackQueue();
    ResetTraceState();
  }

  // A fresh current API object with a fake host and price link, and a fresh set of services.
  void NewAPI() {
    services_ = {};
    SetDownloadServices(&services_);
    ClearCallbackQueue();
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
    ASSERT_TRUE(links_.Create(*api_));
  }

  void Host(std::string_view text) { ProcessMessage(*api_, table_, psHost, Wire(text)); }
  void Price(std::string_view body) { ProcessMessage(*api_, table_, psPriceFeed, body); }

  std::string ErrorLog() const { return ReadFileText(dir_.File(kErrorLogFileName)); }
  void DeleteErrorLog() const { DeleteFile(dir_.File(kErrorLogFileName)); }

  // Delivers what is queued and returns the ids, in posting order.
  std::vector<std::int32_t> DeliverCallbacks() {
    std::vector<std::int32_t> ids;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued())
      ids.push_back(delivery.Id);
    return ids;
  }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
  TFakeDownloadServices services_;
  TMessageTable table_ = RecordingTable();
  TFakeLinks links_;
  std::shared_ptr<TClassAPI> api_;
};

TEST_F(DispatcherTest, EveryCodeReachesTheReceiverRegisteredForIt) {
  std::vector<TReceived> expected;
  for (int code : kHostCodes) {
    Host("Msg=" + std::to_string(code) + "|");
    expected.push_back({code, std::to_string(code)});
  }
  for (int code : kPriceCodes) {
    Price(PriceBody(code));
    expected.push_back({code, FormatCode4(code)});
  }
  // A decompressed price body starts with a blank in place of its code letter.
  Price(" 084");
  expected.push_back({84, " 084"});
  EXPECT_EQ(Received(), expected);
  EXPECT_EQ(ErrorLog(), "");

  // Codes next to the registered ones, and outside either range, stay unhandled.
  Received().clear();
  for (int code : {3671, 3700, 2999, 4000})
    Host("Msg=" + std::to_string(code) + "|");
  for (const char* body : {"0001", "0999", "9999", "-001"})
    Price(body);
  EXPECT_TRUE(Received().empty());
  for (const char* text :
       {"Unhandled Host Message Code 3671Source", "Unhandled Host Message Code 2999Source",
        "Unhandled Host Message Code 4000Source", "Unhandled Message Code 1Source",
        "Unhandled Message Code 9999Source", "Unhandled Message Code -1Source"})
    EXPECT_NE(ErrorLog().find(text), std::string::npos) << text;
}

// Which codes the built-in table handles; every other code of the tables is reported.
TEST_F(DispatcherTest, BuiltInTableHandlesTheBuiltCodesAndReportsTheOthers) {
  const std::vector<int> hostHandled = {
      3002, 3601, 3602, 3603, 3620, 3621, 3622, 3623, 3624, 3625, 3626, 3627, 3628, 3629, 3655,
      3656, 3657, 3658, 3659, 3660, 3661, 3662, 3663, 3664, 3665, 3666, 3667, 3668, 3669, 3670,
      3673, 3674, 3675, 3676, 3677, 3678, 3679, 3680, 3681, 3688, 3701, 3702, 3703, 3704};
  const std::vector<int> priceHandled = {2,  23, 24, 25, 30, 31, 39,  40,  41,  46,  47,  48,
                                         52, 53, 54, 55, 56, 57, 58,  59,  60,  65,  67,  69,
                                         70, 71, 72, 73, 74, 75, 76,  77,  78,  79,  80,  82,
                                         83, 84, 85, 86, 87, 314, 340, 345, 806, 807, 810};
  const auto handled = [](const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
  };
  api_->OrderIDs.AddPreAllocatedOrderID("101");

  for (int code : kHostCodes)
    ProcessMessage(*api_, psHost, HostBody(code));
  for (int code : kPriceCodes)
    ProcessMessage(*api_, psPriceFeed, PriceBody(code));

  const std::string log = ErrorLog();
  const auto reports = [&](const std::string& text) {
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++count;
    return count;
  };
  for (int code : kHostCodes)
    EXPECT_EQ(reports("Unhandled Host Message Code " + std::to_string(code) + "Source"),
              handled(hostHandled, code) ? 0u : 1u)
        << code;
  for (int code : kPriceCodes)
    EXPECT_EQ(reports("Unhandled Message Code " + std::to_string(code) + "Source"),
              handled(priceHandled, code) ? 0u : 1u)
        << code;
  EXPECT_TRUE(api_->OrderIDs.PreAllocatedIDs().empty());  // 3623
  EXPECT_EQ(links_.Host->handshakeReplies, 1);            // 3624
  EXPECT_EQ(links_.Price->handshakeReplies, 1);           // 67
}

TEST_F(DispatcherTest, FailuresAreWrittenToTheErrorLogAndTheBodyIsDropped) {
  table_.RegisterHostMessage(
      3603, [](TClassAPI&, TFieldsList&) { throw EListError("List index out of bounds (5)"); });
  table_.RegisterPriceMessage(
      84, [](TClassAPI&, std::string_view) { throw std::runtime_error("bad price"); });
  struct TCase {
    TLinkKind kind;
    std::string body;
    std::string expected;  // the line after "EXCEPTION error in ProcessMessage"
  };
  const std::string when = "When: 05/03/2024 14:07:09";
  const TCase cases[] = {
      {psHost, Wire("Msg=3700|"),
       when + "Message no: 3700E.msg: Unhandled Host Message Code 3700Source: psHostE.Classname: "
              "Exception"},
      {psPriceFeed, "0999 rest",
       when + "Message no: 0999E.msg: Unhandled Message Code 999Source: psPriceFeedE.Classname: "
              "Exception"},
      {psHost, Wire("Msg=12a|"),
       when + "Message no: 12aE.msg: '12a' is not a valid integer valueSource: psHostE.Classname: "
              "EConvertError"},
      {psPriceFeed, "x12 rest",
       when + "Message no: x12 E.msg: 'x12' is not a valid integer valueSource: "
              "psPriceFeedE.Classname: EConvertError"},
      {psHost, Wire("Msg=3603|"),
       when + "Message no: 3603E.msg: List index out of bounds (5)Source: psHostE.Classname: "
              "EListError"},
      {psPriceFeed, "0084",
       when + "Message no: 0084E.msg: bad priceSource: psPriceFeedE.Classname: "
              "std::runtime_error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    DeleteErrorLog();
    ProcessMessage(*api_, table_, c.kind, c.body);
    EXPECT_EQ(SplitLogLines(ErrorLog()),
              (std::vector<std::string>{"", "EXCEPTION error in ProcessMessage", c.expected}));
  }
  EXPECT_NE(FormatTraceback().find("Exception: bad price"), std::string::npos);
}

TEST_F(DispatcherTest, HostBodyWithoutMsgIsDroppedSilently) {
  api_->Logon.DBSequence.Set("100");
  for (const char* text : {"", "Seq=9|Flg=1|", "Msg=|Seq=9|", "Msg=   |Seq=9|", "Msg=3601"})
    Host(text);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(api_->Logon.DBSequence.Get(), "100");
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));
}

TEST_F(DispatcherTest, WhileShuttingDownOnlyTheHandshakesPass) {
  api_->ShuttingDown = true;
  api_->Logon.DBSequence.Set("100");
  api_->Logon.RefSequence.Set("500");
  for (const char* text :
       {"Msg=3601|Flg=1|Seq=200|", "Msg=3655|Seq=900|", "Msg=3624|", "Msg=3700|", "Msg=3002|"})
    Host(text);
  for (const char* body : {"0070", "0067", "0999"})
    Price(body);
  EXPECT_EQ(Received(), (std::vector<TReceived>{{3624, "3624"}, {67, "0067"}}));
  EXPECT_EQ(api_->Logon.DBSequence.Get(), "100");
  EXPECT_EQ(api_->Logon.RefSequence.Get(), "500");
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));
}

TEST_F(DispatcherTest, ResumeSequencesFollowTheirMessages) {
  struct TCase {
    const char* text;
    const char* order;      // order/fill resume point afterwards (from "100")
    const char* reference;  // reference-data resume point afterwards (from "500")
  };
  const TCase cases[] = {
      {"Msg=3601|Flg=4|Seq=200|", "100", "500"},  // a report download's trade report
      {"Msg=3601|Flg=1|Seq=200|", "200", "500"}, {"Msg=3601|Seq=200|", "200", "500"},
      {"Msg=3601|Flg=x|Seq=200|", "200", "500"}, {"Msg=3602|Seq=200|", "200", "500"},
      {"Msg=3603|Seq=200|", "100", "500"},       {"Msg=3655|Seq=600|", "100", "600"},
      {"Msg=3655|Seq=400|", "100", "500"},  // older: kept
      {"Msg=3688|Seq=0|", "100", "0"},      // "0" always replaces
      {"Msg=3670|Seq=600|", "100", "600"},       {"Msg=3677|Seq=600|", "100", "600"},
      {"Msg=3668|Seq=600|", "100", "500"},       {"Msg=3678|Seq=600|", "100", "500"},
      {"Msg=3700|Seq=600|", "100", "500"},  // unhandled
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    api_->Logon.DBSequence.Set("100");
    api_->Logon.RefSequence.Set("0");
    api_->Logon.RefSequence.Set("500");
    Host(c.text);
    EXPECT_EQ(api_->Logon.DBSequence.Get(), c.order);
    EXPECT_EQ(api_->Logon.RefSequence.Get(), c.reference);
  }
}

TEST_F(DispatcherTest, EndOfDownloadStoresTheLogonStartsThePriceLinkAndReportsCompletion) {
  struct TCase {
    bool reportDownload;
    char environment;
  };
  for (const TCase c : {TCase{false, 'L'}, TCase{true, 'L'}, TCase{false, 'D'}}) {
    SCOPED_TRACE(std::string(1, c.environment) + (c.reportDownload ? " with reports" : ""));
    NewAPI();
    api_->Logon.ReportDownload = c.reportDownload;
    api_->Environment = c.environment;
    api_->Logon.DownloadInProgress = true;
    api_->UserName.Set("trader1");
    api_->Logon.LogonSequence = 42;
    api_->Logon.DBSequence.Set("77");
    api_->Logon.RefSequence.Set("88");
    api_->Logon.LastDate = 20240304;
    api_->Logon.DBIdentifier.Set("DB9");

    ProcessMessage(*api_, psHost, HostBody(3620));

    EXPECT_EQ(services_.Sleeps, std::vector<milliseconds>{milliseconds(1000)});
    const auto logon = api_->UserLogons.GetLastLogon();
    ASSERT_TRUE(logon);
    EXPECT_EQ(api_->UserLogons.Count(), 1);
    EXPECT_EQ(logon->UserName, "trader1");
    EXPECT_EQ(logon->Sequence, 42);
    EXPECT_EQ(logon->DBSequence, "77");
    EXPECT_EQ(logon->RefSequence, "88");
    EXPECT_EQ(logon->LastDate, 20240304);
    EXPECT_EQ(logon->DBIdentifier, "DB9");
    EXPECT_TRUE(api_->Contracts.Sorted());
    EXPECT_EQ(links_.Price->starts, (std::vector<bool>{false, true}));
    EXPECT_FALSE(api_->Logon.DownloadInProgress);
    EXPECT_EQ(services_.Marks, 1);
    EXPECT_EQ(services_.ContractWrites, c.environment == 'D' ? 0 : 1);
    const bool reportRequested = std::find(links_.Host->sent.begin(), links_.Host->sent.end(),
                                           "3342") != links_.Host->sent.end();
    EXPECT_EQ(reportRequested, c.reportDownload);

    if (c.reportDownload) {
      EXPECT_EQ(CallbackQueueCount(), 0u);
      ProcessMessage(*api_, psHost, HostBody(3621));
    }
    EXPECT_EQ(DeliverCallbacks(), std::vector<std::int32_t>{VN_CB_DATA_DL_COMPLETE});
  }
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(DispatcherTest, DownloadCompleteWaitsForTheContractsBeingRead) {
  api_->ContractsReading = true;
  api_->ContractsRead.Reset();
  std::atomic<bool> slept{false};
  services_.OnSleep = [&] { slept = true; };

  std::thread socket([&] { ProcessMessage(*api_, psHost, HostBody(3620)); });
  while (!slept)
    std::this_thread::yield();
  EXPECT_EQ(CallbackQueueCount(), 0u);
  api_->ContractsRead.Set();
  socket.join();
  EXPECT_EQ(CallbackQueueCount(), 1u);
}

TEST_F(DispatcherTest, LegacyEndOfDownloadStoresItsSequenceAndReportsCompletion) {
  WriteFileText(dir_.File("VornInfo.dat"), "old store");
  api_->UserName.Set("trader1");
  api_->Logon.DownloadInProgress = true;
  api_->Environment = 'L';

  ProcessMessage(*api_, psPriceFeed, "0040      1234");

  EXPECT_FALSE(FileExists(dir_.File("VornInfo.dat")));
  EXPECT_EQ(services_.Sleeps, std::vector<milliseconds>{milliseconds(1000)});
  EXPECT_EQ(api_->Logon.LogonSequence, 1234);
  const auto logon = api_->UserLogons.GetLastLogon();
  ASSERT_TRUE(logon);
  EXPECT_EQ(logon->UserName, "trader1");
  EXPECT_EQ(logon->Sequence, 1234);
  EXPECT_EQ(logon->LastDate, 20240305);
  EXPECT_EQ(links_.Price->starts, (std::vector<bool>{false, true}));
  EXPECT_FALSE(api_->Logon.DownloadInProgress);
  EXPECT_EQ(services_.Marks, 1);
  EXPECT_EQ(services_.ContractWrites, 0);
  EXPECT_EQ(DeliverCallbacks(), std::vector<std::int32_t>{VN_CB_DATA_DL_COMPLETE});

  // A short body has no sequence: 0.
  ProcessMessage(*api_, psPriceFeed, "0040");
  EXPECT_EQ(api_->Logon.LogonSequence, 0);
  EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace vorn
