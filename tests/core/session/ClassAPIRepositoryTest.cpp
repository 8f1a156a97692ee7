#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/store/ObjStream.h"
#include "core/trading/OrderItem.h"
#include "platform/Files.h"
#include "platform/Thread.h"
#include "support/Eventually.h"
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

  // A contract file of the saved session's contract and the given ones, written as the end of
  // a download does.
  void SaveContracts(const std::vector<std::string>& dates) {
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(10s));
    for (const std::string& date : dates)
      api->Contracts.Add(MakeContract(date));
    api->StartContractData(TContractDataThread::cdaWrite);
    ASSERT_TRUE(api->ContractsSaved.WaitFor(10s));
    api->Shutdown();
  }

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

// A damaged store of each kind: the run starts, keeps what precedes the damage, asks for a full
// download at the next login, and the trace and the error log name the damaged file.
TEST_F(RepositoryTest, DamagedStoreOfEachKindKeepsWhatPrecedesAndSaysSo) {
  SaveSession();
  // The contract file's items in key order: the session's contract, then X1 to X3, each
  // save ending where the next item starts.
  std::vector<std::size_t> contractEnds;
  for (const std::vector<std::string>& dates :
       {std::vector<std::string>{}, {"X1"}, {"X2"}, {"X3"}}) {
    SaveContracts(dates);
    contractEnds.push_back(ReadFileText(dir_.File("VornCont.dat")).size());
  }
  const std::vector<std::string> names = {"VornCont.dat", "VornInfo.dat", "logon.dat"};
  std::map<std::string, std::string> good;
  for (const std::string& name : names)
    good[name] = ReadFileText(dir_.File(name));
  const std::size_t start = kHeader.size() + kVersionWord.size() + 1;  // the first item

  struct TCase {
    std::string Name;
    std::string File;
    std::string Bytes;
    std::function<void(TClassAPI&)> Kept;
  };
  std::vector<TCase> cases;
  const std::string& contracts = good["VornCont.dat"];
  for (std::size_t cut = start; cut < contracts.size(); cut += 11) {
    cases.push_back({"contracts cut at " + std::to_string(cut), "VornCont.dat",
                     contracts.substr(0, cut), [&contractEnds, cut](TClassAPI& api) {
                       for (int i = 1; i <= 3; ++i) {
                         EXPECT_EQ(api.Contracts.FindByName("LIFFE", "FTSE",
                                                            "X" + std::to_string(i)) != nullptr,
                                   contractEnds[static_cast<std::size_t>(i)] <= cut)
                             << "X" << i;
                       }
                     }});
  }
  std::string badVersion = contracts;
  badVersion[kHeader.size() + 4] = 0x0C;
  cases.push_back({"contracts of another store version", "VornCont.dat", badVersion,
                   [](TClassAPI& api) { EXPECT_EQ(api.Contracts.Count(), 1); }});
  const std::string& info = good["VornInfo.dat"];
  cases.push_back({"store cut in its resume point", "VornInfo.dat", info.substr(0, info.size() - 1),
                   [](TClassAPI& api) {
                     EXPECT_TRUE(api.Accounts.FindAccount("ACC1"));
                     EXPECT_EQ(api.MarginRatings.Count(), 1);
                   }});
  cases.push_back({"store cut in the middle", "VornInfo.dat", info.substr(0, info.size() / 2),
                   [](TClassAPI& api) {
                     EXPECT_TRUE(api.Accounts.FindAccount("ACC1"));
                     EXPECT_EQ(api.MarginRatings.Count(), 0);
                   }});
  const std::string& logon = good["logon.dat"];
  for (std::size_t cut = start; cut < logon.size(); cut += 9) {
    cases.push_back({"logon history cut at " + std::to_string(cut), "logon.dat",
                     logon.substr(0, cut), [](TClassAPI& api) {
                       EXPECT_EQ(api.UserLogons.Count(), 0);
                       EXPECT_EQ(api.Logon.DBIdentifier.Get(), "");
                       EXPECT_TRUE(api.Accounts.FindAccount("ACC1"));
                     }});
  }

  for (const TCase& c : cases) {
    for (const std::string& name : names)
      WriteFileText(dir_.File(name), name == c.File ? c.Bytes : good[name]);
    DeleteFile(dir_.File(kErrorLogFileName));
    ResetTraceState();
    OpenTraceFile();
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(10s)) << c.Name;
    EXPECT_FALSE(api->Logon.StoreLoaded && c.File != "logon.dat") << c.Name;
    if (c.File == "VornInfo.dat") {
      EXPECT_EQ(api->Logon.LogonSequence, -1) << c.Name;
    }
    {
      SCOPED_TRACE(c.Name);
      c.Kept(*api);
    }
    api->Shutdown();
    const std::string traceFile = TraceFileName();
    ResetTraceState();
    const std::string trace = ReadFileText(traceFile);
    const std::string said = dir_.File(c.File) + " is damaged";
    EXPECT_NE(trace.find(said), std::string::npos) << c.Name << "\n" << trace;
    EXPECT_NE(ReadFileText(dir_.File(kErrorLogFileName)).find(said), std::string::npos) << c.Name;
    // The damaged file stays as it was for the next save to replace.
    EXPECT_EQ(ReadFileText(dir_.File(c.File)), c.Bytes) << c.Name;
  }
  DeleteFile(dir_.File(kErrorLogFileName));
}

// A disk that fills while a store file is written: the file's first write call gets room for a
// share of the bytes asked for, the calls after it get what is left of that room, then ENOSPC;
// or every byte is written and the flush fails.
std::atomic<std::int64_t> diskRoomPermille{1000};
std::atomic<std::int64_t> diskRoom{-1};  // bytes left for the file; -1 before its first write
std::atomic<bool> diskFlushFails{false};
std::atomic<int> diskWrites{0};

ssize_t FullDiskWrite(int fd, const void* bytes, std::size_t size) {
  ++diskWrites;
  std::int64_t room = diskRoom.load();
  if (room < 0) room = static_cast<std::int64_t>(size) * diskRoomPermille.load() / 1000;
  const auto taken = static_cast<std::size_t>(std::min<std::int64_t>(room, 64 * 1024));
  if (taken == 0) {
    diskRoom = 0;
    errno = ENOSPC;
    return -1;
  }
  const ssize_t written = ::write(fd, bytes, std::min(size, taken));
  if (written > 0) diskRoom = room - written;
  return written;
}

int FullDiskSync(int fd) {
  if (!diskFlushFails.load()) return ::fsync(fd);
  errno = EIO;
  return -1;
}

constexpr TFileWriteCalls kFullDisk{FullDiskWrite, FullDiskSync};

// Each store file, saved while the disk fills at several points: the file saved before stays
// whole, no temporary file stays behind, and the next run reads the old store whole.
TEST_F(RepositoryTest, DiskFilledDuringAnySaveKeepsEveryPreviousStore) {
  SaveSession();
  SaveContracts({"DEC24"});
  const std::vector<std::string> names = {"VornCont.dat", "VornInfo.dat", "logon.dat"};
  std::vector<std::string> good;
  for (const std::string& name : names)
    good.push_back(ReadFileText(dir_.File(name)));

  struct TSave {
    const char* File;
    std::function<void(TClassAPI&)> Run;
  };
  const std::vector<TSave> saves = {
      {"VornInfo.dat",
       [](TClassAPI& api) {
         api.Accounts.Add(std::make_shared<TTraderAccountItem>("ACC2"));
         api.Logon.LoggedOn = true;
         api.Shutdown();
       }},
      {"VornCont.dat",
       [](TClassAPI& api) {
         ASSERT_TRUE(api.ContractsRead.WaitFor(10s));
         api.Contracts.Add(MakeContract("SEP24"));
         api.StartContractData(TContractDataThread::cdaWrite);
         ASSERT_TRUE(api.ContractsSaved.WaitFor(10s));
       }},
      {"logon.dat",
       [](TClassAPI& api) {
         auto logon = std::make_shared<TUserLogon>();
         logon->Sequence = 10;
         logon->UserName = "TRADER";
         api.UserLogons.SetLogon(logon);
         EXPECT_FALSE(api.UserLogons.Save());
       }},
  };
  struct TFault {
    const char* Name;
    std::int64_t RoomPermille;
    bool FlushFails;
  };
  const std::vector<TFault> faults = {
      {"no room at all", 0, false},
      {"room for half", 500, false},
      {"one byte short", 999, false},
      {"flush fails", 1000, true},
  };
  for (const TSave& save : saves) {
    for (const TFault& fault : faults) {
      const std::string name = std::string(save.File) + ", " + fault.Name;
      auto api = Start();
      diskRoomPermille = fault.RoomPermille;
      diskRoom = -1;
      diskFlushFails = fault.FlushFails;
      diskWrites = 0;
      const TFileWriteCalls* before = SetFileWriteCalls(&kFullDisk);
      save.Run(*api);
      SetFileWriteCalls(before);
      EXPECT_GT(diskWrites.load(), 0) << name;
      api->Shutdown();
      api.reset();

      EXPECT_EQ(dir_.Files(), names) << name;
      for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadFileText(dir_.File(names[i])), good[i]) << name << ": " << names[i];
      auto next = Start();
      ExpectSession(*next);
      ASSERT_TRUE(next->ContractsRead.WaitFor(10s)) << name;
      EXPECT_TRUE(next->Logon.StoreLoaded) << name;
      EXPECT_TRUE(next->Contracts.FindByName("LIFFE", "FTSE", "DEC24")) << name;
      EXPECT_FALSE(next->Contracts.FindByName("LIFFE", "FTSE", "SEP24")) << name;
      EXPECT_FALSE(next->Accounts.FindAccount("ACC2")) << name;
    }
  }
}

// Shared with a child process that saves the stores in a loop: the bytes its writes have
// taken so far, and the byte count at which it kills itself (0: it waits to be killed).
struct TSaverProgress {
  std::atomic<std::uint64_t> Written{0};
  std::atomic<std::uint64_t> KillAt{0};
};
TSaverProgress* saverProgress = nullptr;

// Small writes, so that a kill finds a save part-way through its file.
ssize_t CountedWrite(int fd, const void* bytes, std::size_t size) {
  const ssize_t written = ::write(fd, bytes, std::min<std::size_t>(size, 256));
  if (written > 0) {
    const std::uint64_t total =
        saverProgress->Written.fetch_add(static_cast<std::uint64_t>(written)) +
        static_cast<std::uint64_t>(written);
    const std::uint64_t killAt = saverProgress->KillAt.load();
    if (killAt != 0 && total >= killAt) ::raise(SIGKILL);
  }
  return written;
}

constexpr TFileWriteCalls kCountedWrites{CountedWrite, ::fsync};

// A process killed while it saves the three store files, at a byte of a write it reaches or
// wherever the signal finds it: every file afterwards is the old one or the new one, whole, and
// the next run reads it whole.
TEST_F(RepositoryTest, KilledDuringSavesLeavesEveryStoreOldOrNew) {
  constexpr int kRounds = 20;
  SaveSession();
  SaveContracts({"DEC24"});
  const std::vector<std::string> names = {"VornCont.dat", "VornInfo.dat", "logon.dat"};
  std::vector<std::string> before;
  for (const std::string& name : names)
    before.push_back(ReadFileText(dir_.File(name)));
  {
    // The new stores: a later session with many more accounts, a new contract and logon.
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(10s));
    for (int i = 2; i <= 301; ++i)
      api->Accounts.Add(std::make_shared<TTraderAccountItem>("ACC" + std::to_string(i)));
    api->Contracts.Add(MakeContract("SEP24"));
    api->StartContractData(TContractDataThread::cdaWrite);
    ASSERT_TRUE(api->ContractsSaved.WaitFor(10s));
    auto logon = std::make_shared<TUserLogon>();
    logon->Sequence = 10;
    api->UserLogons.SetLogon(logon);
    ASSERT_TRUE(api->UserLogons.Save());
    api->Logon.LoggedOn = true;
    api->Shutdown();
  }
  std::vector<TStream> after;
  std::uint64_t cycleBytes = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    after.emplace_back(ReadFileText(dir_.File(names[i])));
    ASSERT_NE(after[i].Bytes(), before[i]) << names[i];
    cycleBytes += after[i].Size() + before[i].size();
  }
  std::vector<TStream> old;
  for (const std::string& bytes : before)
    old.emplace_back(bytes);

  void* shared = ::mmap(nullptr, sizeof(TSaverProgress), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  saverProgress = new (shared) TSaverProgress;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  int leftPartWritten = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (std::size_t i = 0; i < names.size(); ++i) {
      WriteFileText(dir_.File(names[i]), before[i]);
      DeleteFile(dir_.File(names[i] + ".tmp"));
    }
    // Somewhere in the first three cycles of saves, new then old.
    const std::uint64_t point = 1 + random() % (3 * cycleBytes);
    const bool selfKill = round % 2 == 0;
    saverProgress->Written = 0;
    saverProgress->KillAt = selfKill ? point : 0;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SetFileWriteCalls(&kCountedWrites);
      const auto deadline = std::chrono::steady_clock::now() + 30s;
      for (int cycle = 0; std::chrono::steady_clock::now() < deadline; ++cycle) {
        for (std::size_t i = 0; i < names.size(); ++i)
          (cycle % 2 == 0 ? after[i] : old[i]).SaveToFile(dir_.File(names[i]));
      }
      ::_exit(0);
    }
    if (!selfKill) {
      EXPECT_TRUE(Eventually([&] { return saverProgress->Written.load() >= point; }));
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    std::vector<bool> isNew;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string bytes = ReadFileText(dir_.File(names[i]));
      ASSERT_TRUE(bytes == before[i] || bytes == after[i].Bytes()) << names[i];
      isNew.push_back(bytes != before[i]);
      if (FileExists(dir_.File(names[i] + ".tmp"))) ++leftPartWritten;
    }
    auto api = Start();
    ASSERT_TRUE(api->ContractsRead.WaitFor(10s));
    EXPECT_TRUE(api->Logon.StoreLoaded);
    EXPECT_EQ(api->Contracts.FindByName("LIFFE", "FTSE", "SEP24") != nullptr, isNew[0]);
    EXPECT_TRUE(api->Contracts.FindByName("LIFFE", "FTSE", "DEC24"));
    EXPECT_EQ(api->Accounts.FindAccount("ACC2") != nullptr, isNew[1]);
    EXPECT_EQ(api->Accounts.Count(), isNew[1] ? 301 : 1);
    EXPECT_TRUE(api->Orders.FindOrder("4711"));
    EXPECT_EQ(api->Logon.LogonSequence, isNew[2] ? 10 : 9);
    api->Shutdown();
  }
  std::cout << "[ figures  ] " << kRounds << " kills, " << leftPartWritten
            << " store files caught part-written\n";
  ::munmap(shared, sizeof(TSaverProgress));
  saverProgress = nullptr;
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
