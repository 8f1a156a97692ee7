#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/store/ObjStream.h"
#include "core/trading/OrderItem.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

const std::string kHeader = "Global Trading Compatible Dat File VER:8.1 BUILD:070509";
const std::string kVersionWord = "\x9D\xE9\xD2\xA5\x0B";

std::shared_ptr<TContractItem> MakeContract(const std::string& date) {
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames("LIFFE", "FTSE", date);
  contract->SetUUID("{" + date + "}");  // loading gives an empty one a new GUID
  return contract;
}

// Each API object is a run of the application over the same client path; one at a time.
class RepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StopCallbackThread();
    JoinStoppedThreads();
  }
  void TearDown() override {
    ClearCallbackQueue();
    JoinStoppedThreads();
  }

  // A new run: the object made and its store loaded, as vnInitialise does.
  static std::shared_ptr<TClassAPI> Start(char environment = 'C', bool reset = false) {
    auto api = std::make_shared<TClassAPI>();
    api->Environment = environment;
    api->ResetRequested = reset;
    api->StartupRepository();
    return api;
  }

  // A session with one item in every list of the store and a logon history, logged off.
  void SaveSession() {
    auto api = Start();
    api->Accounts.Add(std::make_shared<TTraderAccountItem>("ACC1"));
    auto rate = std::make_shared<TExchangeRate>();
    rate->Currency = "USD";
    rate->Rate = 1.25;
    api->ExchangeRates.Add(rate);
    api->Exchanges.FindOrAdd("LIFFE")->Decimals = 4;
    auto commodity = std::make_shared<TCommodity>();
    commodity->SetExchangeName("LIFFE");
    commodity->SetName("FTSE");
    api->Commodities.Add(commodity);
    const auto contract = MakeContract("MAR24");
    api->Contracts.Add(contract);
    api->Contracts.AddStoredContract(contract);
    api->Contracts.Add(MakeContract("JUN24"));  // not of the shared store
    auto orderType = std::make_shared<TOrderTypeItem>();
    orderType->SetExchangeName("LIFFE");
    orderType->SetName("Limit");
    api->OrderTypes.Add(orderType);
    auto order = std::make_shared<TOrderItem>();
    order->ID = "4711";
    order->DisplayID = "4711";
    order->Status = osWorking;
    api->Orders.Add(order);
    auto fill = std::make_shared<TFill>();
    fill->FillID = "F1";
    fill->Lots = 3;
    api->Fills.Add(fill);
    for (const char* sequence : {"12", "-3"}) {
      auto message = std::make_shared<TUserMessage>();
      message->SetSequence(sequence);
      message->Content = std::string("message ") + sequence;
      api->UserMessages.Add(message);
    }
    auto reportType = std::make_shared<TReportType>();
    reportType->ReportType = "Trades";
    api->ReportTypes.Add(reportType);
    auto report = std::make_shared<TReportItem>();
    report->ReportType = "Trades";
    report->Sequence = 5;
    report->Text = "report text";
    api->Reports.Add(report);
    auto rating = std::make_shared<TMarginRating>();
    rating->Rating = "R1";
    rating->Exchange = "LIFFE";
    rating->MarginReq = 10;
    api->MarginRatings.Add(rating);
    api->Logon.RefSequence.Set("4711");

    auto logon = std::make_shared<TUserLogon>();
    logon->Sequence = 9;
    logon->UserName = "TRADER";
    logon->LastDate = 20240315;
    logon->DBSequence = "77";
    logon->RefSequence = "4700";
    logon->DBIdentifier = "DB1";
    api->UserLogons.SetLogon(logon);
    ASSERT_TRUE(api->UserLogons.Save());  // as vnLogOff does
    api->Logon.LoggedOn = true;
    api->Shutdown();
    goodStore_ = ReadFileText(StoreFile());
    ASSERT_FALSE(goodStore_.empty());
  }

  std::string StoreFile() const { return dir_.File("VornInfo.dat"); }

  // What a run that finds the given store must show: the whole session, or nothing of the store
  // and a full download at the next login.
  static void ExpectSession(TClassAPI& api) {
    EXPECT_TRUE(api.Logon.StoreLoaded);
    EXPECT_EQ(api.Logon.LogonSequence, 9);
    EXPECT_TRUE(api.Accounts.FindAccount("ACC1"));
    EXPECT_EQ(api.ExchangeRates.Count(), 1);
    ASSERT_TRUE(api.Exchanges.FindExchange("LIFFE"));
    EXPECT_EQ(api.Exchanges.FindExchange("LIFFE")->Decimals, 4);
    EXPECT_TRUE(api.Commodities.FindCommodity("LIFFE", "FTSE"));
    EXPECT_TRUE(api.Contracts.FindByName("LIFFE", "FTSE", "MAR24"));
    EXPECT_FALSE(api.Contracts.FindByName("LIFFE", "FTSE", "JUN24"));
    EXPECT_TRUE(api.OrderTypes.FindOrderType("LIFFE", "Limit"));
    ASSERT_TRUE(api.Orders.FindOrder("4711"));
    EXPECT_EQ(api.Orders.FindOrder("4711")->Status, osWorking);
    ASSERT_TRUE(api.Fills.FindByID("F1"));
    EXPECT_EQ(api.Fills.FindByID("F1")->Lots, 3);
    EXPECT_EQ(api.UserMessages.Count(), 2);
    EXPECT_EQ(api.ReportTypes.Count(), 1);
    ASSERT_EQ(api.Reports.Count(), 1);
    EXPECT_EQ(api.Reports.At(0)->Text, "report text");
    EXPECT_EQ(api.MarginRatings.Count(), 1);
    // Local messages carry on below the lowest stored one.
    EXPECT_EQ(api.NextLocalMessageSequence(), -4);
  }

  TTempDir dir_;
  std::string goodStore_;
};

TEST_F(RepositoryTest, SessionAndLogonHistoryComeBackInTheNextRun) {
  SaveSession();
  EXPECT_EQ(goodStore_.substr(0, kHeader.size() + 5), kHeader + kVersionWord);

  auto api = Start();
  ExpectSession(*api);
  EXPECT_EQ(api->Logon.DBSequence.Get(), "77");
  EXPECT_EQ(api->Logon.LastDate, 20240315);
  EXPECT_EQ(api->Logon.DBIdentifier.Get(), "DB1");
  // The store's resume point is the later one.
  EXPECT_EQ(api->Logon.RefSequence.Get(), "4711");
  ASSERT_TRUE(api->ContractsRead.WaitFor(10s));
  EXPECT_TRUE(api->Logon.StoreLoaded);

  // The next run finds what this one saved, unchanged.
  api->Logon.LoggedOn = true;
  api->Shutdown();
  EXPECT_EQ(ReadFileText(StoreFile()), goodStore_);
  api = Start();
  ExpectSession(*api);
}

TEST_F(RepositoryTest, StoreFileHoldsTheListsInTheirOrderThenTheResumePoint) {
  SaveSession();
  // Read by hand in the file's order, into the lists of an object that loaded nothing.
  auto reader = Start('C', true);
  TStream stream(goodStore_);
  ASSERT_TRUE(ReadStoreHeader(stream));
  const std::vector<TIndexList*> order = {
      &reader->Accounts,     &reader->ExchangeRates, &reader->Exchanges, &reader->Commodities,
      &reader->Contracts,    &reader->OrderTypes,    &reader->Orders,    &reader->Fills,
      &reader->UserMessages, &reader->ReportTypes,   &reader->Reports,   &reader->MarginRatings};
  for (TIndexList* list : order) {
    EXPECT_TRUE(list->LoadFromStream(stream, true)) << list->Name();
    EXPECT_EQ(list->Count(), list == &reader->UserMessages ? 2 : 1) << list->Name();
  }
  EXPECT_EQ(stream.ReadString(), "4711");
  EXPECT_EQ(stream.Left(), 0u);
}

TEST_F(RepositoryTest, SimulatorEnvironmentReadsAndWritesNoStore) {
  SaveSession();
  const std::string logon = ReadFileText(dir_.File("logon.dat"));
  const auto files = dir_.Files();

  auto api = Start('D');
  EXPECT_EQ(api->Accounts.Count(), 0);
  EXPECT_EQ(api->Orders.Count(), 0);
  EXPECT_EQ(api->Logon.LogonSequence, -1);
  EXPECT_EQ(api->Logon.DBIdentifier.Get(), "");
  api->Accounts.Add(std::make_shared<TTraderAccountItem>("SIM"));
  api->Logon.LoggedOn = true;
  api->Shutdown();

  EXPECT_EQ(dir_.Files(), files);
  EXPECT_EQ(ReadFileText(StoreFile()), goodStore_);
  EXPECT_EQ(ReadFileText(dir_.File("logon.dat")), logon);
}

// Whatever "logon.dat" holds, a run without the store behind it asks for everything.
TEST_F(RepositoryTest, RunWithoutTheStoreAsksForAFullDownload) {
  struct TCase {
    const char* Name;
    bool Reset;
    std::string Store;  // empty: no file
    bool StoreKept;
  };
  SaveSession();
  std::string otherBuild = goodStore_;
  otherBuild[kHeader.size() - 1] ^= 1;
  const std::vector<TCase> cases = {
      {"reset", true, goodStore_, true},
      {"no store", false, "", false},
      {"store of another build", false, otherBuild, false},
  };
  for (const TCase& c : cases) {
    DeleteFile(StoreFile());
    if (!c.Store.empty()) WriteFileText(StoreFile(), c.Store);
    auto api = Start('C', c.Reset);
    EXPECT_FALSE(api->Logon.StoreLoaded) << c.Name;
    EXPECT_EQ(api->Accounts.Count(), 0) << c.Name;
    EXPECT_EQ(api->Orders.Count(), 0) << c.Name;
    EXPECT_EQ(api->Logon.LogonSequence, 9) << c.Name;  // the logon history is read all the same
    EXPECT_EQ(FileExists(StoreFile()), c.StoreKept) << c.Name;
    // Never logged on: nothing is written over what is there.
    api->Shutdown();
    EXPECT_EQ(FileExists(StoreFile()), c.StoreKept) << c.Name;
    if (c.StoreKept) {
      EXPECT_EQ(ReadFileText(StoreFile()), c.Store) << c.Name;
    }
  }
}

TEST_F(RepositoryTest, DamagedStoreIsSurvivedKeptAndAsksForAFullDownload) {
  SaveSession();
  std::vector<std::pair<std::string, std::string>> cases;
  for (std::size_t cut = 0; cut < goodStore_.size(); cut += 7)
    cases.emplace_back("cut at " + std::to_string(cut), goodStore_.substr(0, cut));
  cases.emplace_back("last byte missing", goodStore_.substr(0, goodStore_.size() - 1));
  for (std::size_t at = kHeader.size(); at < goodStore_.size(); at += 5) {
    std::string damaged = goodStore_;
    damaged[at] = static_cast<char>(0xFF);
    cases.emplace_back("0xFF at " + std::to_string(at), damaged);
  }
  for (const auto& [name, bytes] : cases) {
    WriteFileText(StoreFile(), bytes);
    auto api = Start();
    // A cut is always noticed; a changed byte may pass as another value.
    if (bytes.size() < goodStore_.size()) {
      EXPECT_FALSE(api->Logon.StoreLoaded) << name;
    }
    if (!api->Logon.StoreLoaded && bytes.size() >= kHeader.size()) {
      // The next login asks for everything; the store stays where it is.
      EXPECT_EQ(api->Logon.LogonSequence, -1) << name;
      EXPECT_EQ(ReadFileText(StoreFile()), bytes) << name;
    }
    api->Shutdown();
  }
  // The good store still loads whole.
  WriteFileText(StoreFile(), goodStore_);
  ExpectSession(*Start());
}

// A full disk while the store is written: the write fails part-way.
TEST_F(RepositoryTest, FailedSaveKeepsThePreviousStore) {
  SaveSession();
  auto api = Start();
  api->Accounts.Add(std::make_shared<TTraderAccountItem>("ACC2"));
  api->Logon.LoggedOn = true;
  {
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64;
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    api->Shutdown();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
  }
  EXPECT_EQ(ReadFileText(StoreFile()), goodStore_);
  EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"VornInfo.dat", "logon.dat"}));
  auto next = Start();
  ExpectSession(*next);
  EXPECT_FALSE(next->Accounts.FindAccount("ACC2"));
}

// The contract file is read and written on a thread of its own; the lists it works on go only
// after it was joined, whether or not a logon happened (run under TSan and ASan).
TEST_F(RepositoryTest, ContractThreadEndsBeforeTheListsGo) {
  constexpr int kContracts = 20000;
  SaveSession();
  {
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(10s));
    for (int i = 0; i < kContracts; ++i)
      api->Contracts.Add(MakeContract("D" + std::to_string(i)));
    // A write started by the end of the download is still running at the logoff: it finishes.
    api->StartContractData(TContractDataThread::cdaWrite);
    api->Logon.LoggedOn = true;
    api->Shutdown();
  }
  {
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(60s));
    EXPECT_EQ(api->Contracts.Count(), kContracts + 1);
    EXPECT_TRUE(api->Logon.StoreLoaded);
  }
  // Gone while the contracts are still being read: never logged on, then logged on.
  for (bool loggedOn : {false, true}) {
    auto api = Start();
    api->Logon.LoggedOn = loggedOn;
    api->Shutdown();
    EXPECT_FALSE(api->ContractsReading) << loggedOn;
    EXPECT_EQ(api->Contracts.Count(), 0) << loggedOn;
    api.reset();
  }
  // The store saved meanwhile still holds the session.
  ExpectSession(*Start());
}

}  // namespace
}  // namespace vorn
