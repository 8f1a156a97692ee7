#include "sim/AutoDemo.h"

#include <array>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>

#include "core/diag/ClientPath.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/UserLogon.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "platform/Files.h"
#include "platform/ProcessWide.h"
#include "sim/Marlo.h"
#include "sim/SimTestData.h"
#include "vornintf.h"

namespace vorn::sim {

namespace {

constexpr std::int64_t kStepPause = 500;
constexpr std::int64_t kStatusPause = 250;

std::atomic<bool> noPauses{false};

struct TCurrentDemo {
  std::mutex lock;
  std::shared_ptr<TAutoDemo> demo;
};

TCurrentDemo& CurrentDemo() {
  static TCurrentDemo& current = KeepProcessWide(new TCurrentDemo);
  return current;
}

// Trunc(Now) + (Round(Now x 10000) mod 1000), the day count of local time, halves to even.
std::int32_t CounterSeed() {
  const TDateTime now = Now();
  const auto days = static_cast<std::int64_t>(std::trunc(now));
  const auto scaled = static_cast<std::int64_t>(std::nearbyint(now * 10000.0));
  return static_cast<std::int32_t>(days + scaled % 1000);
}

void Note(const char* text) {
  if (DebugFlagOn(kDebugging)) WriteTraceLine(text);
}

}  // namespace

std::shared_ptr<TAutoDemo> CurrentAutoDemo() {
  TCurrentDemo& current = CurrentDemo();
  std::lock_guard guard(current.lock);
  return current.demo;
}

void SetCurrentAutoDemo(std::shared_ptr<TAutoDemo> demo) {
  TCurrentDemo& current = CurrentDemo();
  std::shared_ptr<TAutoDemo> old;
  {
    std::lock_guard guard(current.lock);
    old = std::exchange(current.demo, std::move(demo));
  }
  // The last holder may free it here, outside the lock.
}

void TAutoDemo::SetNoPausesForTests(bool none) {
  noPauses = none;
}

TAutoDemo::TAutoDemo(TClassAPI& api)
    : api_(api),
      random_(0),
      market_(random_,
              TMarketServices{
                  [this](const TContractItem& contract) {
                    api_.Orders.CheckSyntheticOrders(contract);
                  },
                  [this](const TContractOrderList&, const TUserFill& fill) { OnOrderFilled(fill); },
                  [this](const TContractOrderList&, const TUserOrder& order) {
                    OnRemainderEnded(order);
                  },
                  [this](const TContractOrderList& book, const TUserOrder& stop) {
                    OnTrailStop(book, stop);
                  }}) {
  TTraceScope scope("TAutoDemo.Create");
  timer_.SetInterval(kTimerInterval);
  timer_.SetOnTimer([this](TVORNTimer&) { TimerPriceFeedTimer(); });
  random_.SeedFromClock();
  synthetic_ = std::make_shared<TMarlo>(
      api_, random_, [this](const std::string& text, bool alert) { AddUserMessage(text, alert); });
  orderNumber_ = CounterSeed();
  fillNumber_ = CounterSeed();
  SetFeatures();
  Note("Created AutoDemo class");
}

TAutoDemo::~TAutoDemo() {
  pause_.SetEvent();
  timer_.SetEnabled(false);
}

void TAutoDemo::SetFeatures() {
  THostFeatures& features = api_.Features;
  for (std::atomic<bool>* granted :
       {&features.DOMEnabled, &features.PostTradeAmend, &features.Functionality4,
        &features.Functionality32, &features.Functionality64, &features.MarketDataRequired,
        &features.Functionality1024, &features.Functionality2048, &features.Functionality4096,
        &features.Functionality8192, &features.Functionality65536, &features.Functionality131072,
        &features.StrategyPermission})
    *granted = true;
  features.Functionality256 = false;
}

void TAutoDemo::Pause(std::int64_t ms) {
  if (noPauses) return;
  pause_.WaitFor(std::chrono::milliseconds(ms));
}

void TAutoDemo::StartTimer() {
  timer_.SetEnabled(true);
}

void TAutoDemo::StopTimer() {
  timer_.SetEnabled(false);
}

void TAutoDemo::PrepareLogon() {
  TTraceScope scope("TAutoDemo.PrepareLogon");
  StopTimer();
  started_ = false;
  market_.Reset();
}

void TAutoDemo::TimerPriceFeedTimer() {
  AddTraceEntry(tlStart, "TimerPriceFeedTimer");
  try {
    if (++statusCounter_ % 6 == 0) StatusPass();
    if (++marketCounter_ % 10 == 0) MarketStep();
  } catch (const std::exception& e) {
    ReportException("TAutoDemo.TimerPriceFeedTimer", e);
  } catch (...) {
    ReportException("TAutoDemo.TimerPriceFeedTimer", std::current_exception());
  }
  AddTraceEntry(tlExit, "TimerPriceFeedTimer");
}

bool TAutoDemo::LoadAll() {
  const std::string folder = TestDataFolder();
  std::vector<TLoadedContract> contracts;
  if (!LoadCommodities(api_, folder)) return false;
  market_.Reset();
  if (!LoadContracts(api_, folder, contracts)) return false;
  for (const TLoadedContract& loaded : contracts)
    market_.AddContract(loaded.Contract, loaded.UpperLimit, loaded.LowerLimit, loaded.LotLimit);
  return LoadTraders(api_, folder) && LoadReportTypes(api_, folder) && LoadReports(api_, folder) &&
         LoadOrderTypes(api_, folder);
}

void TAutoDemo::LogOnLocally() {
  TLogonState& logon = api_.Logon;
  logon.LoggedOn = true;
  logon.LogonStatus = 1;
  api_.Features.DOMEnabled = true;
  logon.LogonText.Set(kStartedText);
  const auto first = api_.Accounts.At(0);
  const std::string account = first ? first->TraderAccount : std::string();
  logon.LogonTraderAccount.Set(account);
  logon.CurrentTraderAccount.Set(account);
  auto record = std::make_shared<TUserLogon>();
  record->UserName = api_.UserName.Get();
  record->Sequence = logon.LogonSequence;
  api_.UserLogons.SetLogon(std::move(record));
  const std::string path = GetClientPath() + kLogonFileName;
  if (FileExists(path)) DeleteFile(path);
}

void TAutoDemo::Enable(bool clear) {
  AddTraceEntry(tlStart, "TAutoDemo.Enable");
  Note("Enabling AutoDemo...");
  // Nothing of an earlier start may run over the lists the loaders rebuild.
  StopTimer();
  started_ = false;
  const bool loaded = LoadAll();

  nextUserMessage_ = 0;
  if (loaded && clear) {
    api_.Logon.LogonSequence = 0;
    api_.Orders.FreeAll();
    api_.UserMessages.FreeAll();
    api_.Fills.FreeAll();
    api_.Positions.ClearPositions();
  } else {
    std::int32_t largest = -1;
    for (int i = 0, count = api_.UserMessages.Count(); i < count; ++i) {
      std::int32_t sequence = 0;
      if (const auto message = api_.UserMessages.At(i);
          message && TryStrToInt(message->Sequence(), sequence) && sequence > largest)
        largest = sequence;
    }
    nextUserMessage_ = largest + 1;
  }

  if (loaded) {
    LogOnLocally();
  } else {
    api_.Logon.LoggedOn = false;
    api_.Logon.LogonStatus = 0;
    api_.Logon.LogonText.Set(kNotStartedText);
  }
  Pause(kStepPause);
  AddCallback(VN_CB_LOGON_STATUS, nullptr, 0);

  if (loaded) {
    api_.Logon.DownloadInProgress = false;
    AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);
    market_.SeedMarket();
    Pause(kStepPause);
    if (const auto price = api_.GetLink(psPriceFeed)) {
      price->Start(true);
      // A price link that stayed connected from an earlier start does not connect again.
      if (price->Connected()) StartTimer();
    } else {
      WriteTraceLine("TAutoDemo.Enable: no price link, the market stays still");
    }
    Pause(kStepPause);
    SendServerStatus();
    started_ = true;
  }
  AddTraceEntry(tlExit, "TAutoDemo.Enable", loaded ? "OK" : "failed");
  Note(loaded ? "AutoDemo enabled: OK" : "AutoDemo enabled: failed");
}

void TAutoDemo::SendServerStatus() {
  const std::string now = FormatDateTime("yyyymmddhhnnss", Now());
  const std::array<std::array<std::string_view, 10>, 2> servers = {{
      {"DEMO HUB", "3", "1", "1", "DEMO HUB", "Demo HUB is running", "EXID", "OWNER", now, "SYSID"},
      {"DEMO MDS", "5", "1", "1", "DEMO MDS", "Demo MDS is running", "EXID", "OWNER", now, "SYSID"},
  }};
  for (const auto& fields : servers) {
    AddConnectivityStatusCallback(fields);
    Pause(kStatusPause);
  }
}

}  // namespace vorn::sim
