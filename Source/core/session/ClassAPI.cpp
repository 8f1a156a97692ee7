#include "core/session/ClassAPI.h"

#include <chrono>
#include <limits>

#include "core/diag/ClientPath.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "platform/Files.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// The unload handling logs off after static objects of the process are gone.
struct TCurrentAPI {
  std::mutex lock;
  std::shared_ptr<TClassAPI> api;
};

TProcessWide<TCurrentAPI> current;
TCurrentAPI& Current() {
  return current.Get();
}

// The character positions (1-based, inclusive) at which a password is kept in pieces.
constexpr std::size_t kPasswordPieceEnds[5] = {37, 98, 110, 194, 255};

std::array<std::string, 5> SplitPassword(std::string_view password) {
  std::array<std::string, 5> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (start < password.size())
      pieces[i] = std::string(password.substr(start, kPasswordPieceEnds[i] - start));
    start = kPasswordPieceEnds[i];
  }
  return pieces;
}

std::string JoinPassword(const std::array<std::string, 5>& pieces) {
  std::string password;
  for (const auto& piece : pieces)
    password += piece;
  return password;
}

const char* YesNo(bool value) {
  return value ? "Y" : "N";
}

}  // namespace

std::shared_ptr<TClassAPI> API() {
  auto& current = Current();
  std::lock_guard guard(current.lock);
  return current.api;
}

std::shared_ptr<TClassAPI> ExchangeAPI(std::shared_ptr<TClassAPI> api) {
  auto& current = Current();
  std::lock_guard guard(current.lock);
  current.api.swap(api);
  SetCallbackDelivery(current.api && !current.api->ShuttingDown);
  return api;
}

TClassAPI::TClassAPI() : StartTime(Now()) {
  Heartbeat.SetInterval(1000);
  Heartbeat.SetOnTimer([this](TVORNTimer&) { HeartbeatTimer(); });
  auto contractServices = MakeContractServices(Commodities, Exchanges);
  contractServices->PriceAge = [this] { return Monitoring.PriceAgeCounter.load(); };
  contractServices->StrategyPermission = [this] { return Features.StrategyPermission.load(); };
  contractServices->Subscriptions = &Subscriptions;
  Contracts.SetServices(std::move(contractServices));
  Contracts.SetUUIDObjects(UUIDObjects);
  Subscriptions.SetOnDropPriceTable([this](const TContractKey& key) {
    Contracts.DropPriceTableIfUnsubscribed(key, Subscriptions);
  });
  MarginRatings.SetOptionTest(
      [this](std::string_view exchange, std::string_view commodity, std::string_view date) {
        const auto contract = Contracts.FindContract(exchange, commodity, date);
        return contract && contract->IsOption();
      });
  Orders.SetHost(std::make_shared<TAPIOrderQHost>(*this));
  Orders.SetSender(std::make_shared<TAPIOrderSender>(*this));
  TOrderServiceLookups lookups;
  lookups.FindAccount = [this](std::string_view name) { return Accounts.FindAccount(name); };
  lookups.FindContract = [this](std::string_view exchange, std::string_view commodity,
                                std::string_view date) {
    return Contracts.FindContract(exchange, commodity, date);
  };
  lookups.FindOrderType = [this](std::string_view exchange, std::string_view name) {
    return OrderTypes.FindOrderType(exchange, name);
  };
  lookups.RaiseOrderSequence = [this](std::int32_t next) {
    std::int32_t current = OrderSequence.load();
    while (current < next && !OrderSequence.compare_exchange_weak(current, next)) {
    }
  };
  lookups.NewSyntheticOrderID = [this] { return OrderIDs.GetNewSyntheticOrderID(); };
  lookups.UUIDObjects = [this] { return UUIDObjects.get(); };
  orderServices_ = std::make_shared<TOrderQServices>(Orders, std::move(lookups));
  SetOrderServices(orderServices_);
  Exchanges.SetOnEndOfSession([this](TExchange& exchange) { Positions.EndOfSession(exchange); });
}

TClassAPI::~TClassAPI() {
  Shutdown();
}

void TClassAPI::Shutdown() {
  std::call_once(shutdownOnce_, [this] {
    AddTraceEntry(tlStart, "TClassAPI.Destroy");
    ShuttingDown = true;
    if (API().get() == this) SetCallbackDelivery(false);
    if (DebugFlagOn(kDebugging)) WriteTraceLine("API shutdown - killing heartbeat monitor ...");
    Heartbeat.SetEnabled(false);
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "Timer Stopped");
    StopCallbackThread();
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "Callback Thread Stopped");
    if (auto price = TakeLink(psPriceFeed)) price->Shutdown();
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "PriceFeed Connection Closed");
    if (auto host = TakeLink(psHost)) host->Shutdown();
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "Host Connection Closed");
    if (DebugFlagOn(kDebugging)) WriteTraceLine("API shutdown - saving data ...");
    ShutdownRepository();
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "Repository Shut Down");
    FlushDebugFiles();
    AddTraceEntry(tlNote, "TClassAPI.Destroy", "Debug Files Flushed");
    if (DebugFlagOn(kDebugging)) WriteTraceLine("API shutdown - shutdown complete");
    // A caller waiting for a snapshot returns now.
    Snapshots.WakeAll();
    // The threads are stopped: the order items' services go, unless another object's replaced
    // them.
    RemoveOrderServices(orderServices_.get());
    AddTraceEntry(tlExit, "TClassAPI.Destroy");
  });
}

namespace {
constexpr const char* kStoreFileName = "VornInfo.dat";
// The simulator's environment: no store is read or written.
constexpr char kNoStoreEnvironment = 'D';

// The lists of "VornInfo.dat", in the file's order.
std::array<TIndexList*, 12> StoreLists(TClassAPI& api) {
  return {&api.Accounts,     &api.ExchangeRates, &api.Exchanges, &api.Commodities,
          &api.Contracts,    &api.OrderTypes,    &api.Orders,    &api.Fills,
          &api.UserMessages, &api.ReportTypes,   &api.Reports,   &api.MarginRatings};
}

// "logon.dat": the last logon's resume points and database identity.
void LoadLogonHistory(TClassAPI& api) {
  api.UserLogons.Load();
  const auto last = api.UserLogons.GetLastLogon();
  if (!last) return;
  api.Logon.LogonSequence = last->Sequence;
  api.Logon.DBSequence.Set(last->DBSequence);
  api.Logon.RefSequence.Set("0");
  api.Logon.RefSequence.Set(last->RefSequence);
  api.Logon.LastDate = last->LastDate;
  api.Logon.DBIdentifier.Set(last->DBIdentifier);
}

}  // namespace

void TClassAPI::StartupRepository() {
  AddTraceEntry(tlStart, "StartupRepository");
  // The lists live as long as the object; what is left to fail here is emptying them.
  try {
    StopContractData();
    AddTraceEntry(tlNote, "StartupRepository", "Queues created.  Loading data...");
    ClearAllData();
  } catch (...) {
    AddTraceEntry(tlNote, "StartupRepository", "Exception: Cannot initialise local Database");
    throw Exception("Cannot initialise local Database");
  }
  Logon.LogonSequence = -1;
  // Until a store was read whole, the next login asks for everything.
  Logon.StoreLoaded = false;
  if (Environment != kNoStoreEnvironment) {
    LoadLogonHistory(*this);
    LoadStoreFile();
  }
  AddTraceEntry(tlExit, "StartupRepository");
}

void TClassAPI::ShutdownRepository() {
  AddTraceEntry(tlStart, "ShutdownRepository");
  // No contract thread outlives the lists it works on, whether or not a logon happened.
  FinishContractData();
  if (Environment != kNoStoreEnvironment && Logon.LoggedOn) SaveStoreFile();
  AddTraceEntry(tlNote, "ShutdownRepository", "Data Saved. Freeing memory...");
  try {
    ClearAllData();
    UserLogons.FreeAll();
  } catch (const std::exception& e) {
    ReportException("TClassAPI.ShutdownRepository", e);
  }
  AddTraceEntry(tlExit, "ShutdownRepository");
}

// "VornInfo.dat": when it is there, was written by this build and no reset was asked for, its
// lists replace the empty ones, the resume sequence follows them and the contract file is read
// on its own thread. True when the whole store was read.
bool TClassAPI::LoadStoreFile() {
  const std::string path = GetClientPath() + kStoreFileName;
  TStream stream;
  if (ResetRequested || !OpenStoreFile(path, stream)) return false;
  std::string refSequence;
  std::string failure;
  try {
    for (TIndexList* list : StoreLists(*this))
      if (!list->LoadFromStream(stream, false)) throw EReadError(list->Name() + " not read whole");
    refSequence = stream.ReadString();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // Loading adds fills without their index, and positions are not stored: both follow from
  // the fills that were read.
  Fills.Reindex();
  Positions.RebuildAllPositions();
  if (!failure.empty()) {
    // What was read stays; the next login asks for everything.
    WriteTraceLine("Exception loading Reference Data: " + failure);
    ReportDamagedStore(path, failure);
    Logon.LogonSequence = -1;
    return false;
  }
  // The stored point replaces the logon history's.
  Logon.RefSequence.Set("0");
  Logon.RefSequence.Set(refSequence);
  AdjustLocalMessageSequence();
  // The contracts of this store are saved with it again, whatever the contract file adds.
  Contracts.RecordHeldContracts();
  // Before the contract thread starts: it clears the flag when the contract file is damaged.
  Logon.StoreLoaded = true;
  StartContractData(TContractDataThread::cdaRead);
  return true;
}

// Written whole to a temporary file and renamed over the old one: a failure leaves the store
// of the last good save.
void TClassAPI::SaveStoreFile() {
  const std::string path = GetClientPath() + kStoreFileName;
  try {
    TStream stream;
    WriteStoreHeader(stream);
    for (TIndexList* list : StoreLists(*this))
      list->SaveToStream(stream);
    stream.WriteString(Logon.RefSequence.Get());
    if (!stream.SaveToFile(path))
      WriteTraceLine("Cannot write " + path + ": the old store is kept");
  } catch (const std::exception& e) {
    WriteTraceLine(path + " not saved: " + e.what());
  }
}

// A contract write (started by the end of the download) is let finish, so the file holds every
// contract; a read, or a write still waiting for one, is stopped after its current contract.
// Either way the thread is joined.
void TClassAPI::FinishContractData() {
  for (;;) {
    {
      std::lock_guard guard(contractDataLock_);
      if (!contractData_ || contractData_->Action() != TContractDataThread::cdaWrite ||
          !contractData_->IsRunning())
        break;
    }
    if (!ContractsRead.IsSet() || ContractsSaved.WaitFor(std::chrono::milliseconds(100))) break;
  }
  StopContractData();
}

// Local user messages count down from the sequence: start below every numeric sequence loaded.
void TClassAPI::AdjustLocalMessageSequence() {
  std::int32_t lowest = LocalMessageSequence;
  {
    TIndexListLock guard(UserMessages);
    for (int i = 0, count = UserMessages.Count(); i < count; ++i) {
      std::int32_t sequence = 0;
      if (TryStrToInt(Trim(UserMessages.At(i)->Sequence()), sequence) && sequence <= lowest &&
          sequence > std::numeric_limits<std::int32_t>::min())
        lowest = sequence - 1;
    }
  }
  LocalMessageSequence = lowest;
}

void TClassAPI::StartContractData(int action) {
  std::lock_guard guard(contractDataLock_);
  contractData_.reset();  // joins the one before
  TContractStore store{Contracts,
                       GetClientPath(),
                       ContractsRead,
                       ContractsSaved,
                       ContractsReading,
                       Logon.StoreLoaded,
                       [this] { Contracts.RecordHeldContracts(); }};
  contractData_ = std::make_unique<TContractDataThread>(std::move(store), action);
  contractData_->Start();
}

void TClassAPI::StopContractData() {
  std::lock_guard guard(contractDataLock_);
  contractData_.reset();
}

template <class Store>
void TClassAPI::GuardedSetting(const char* routine, bool linkExists, const char* refusal,
                               std::string_view valueText, bool traceValue, Store store) {
  AddTraceEntry(tlStart, routine);
  if (linkExists) {
    AddTraceEntry(tlNote, routine, refusal);
    return;
  }
  if (traceValue) AddTraceEntry(tlNote, routine, "Value = " + std::string(valueText));
  store();
  AddTraceEntry(tlExit, routine);
}

namespace {
constexpr const char* kSSLRefusal = "SSL can only be set before host connection is attempted";
constexpr const char* kCertRefusal =
    "SSL Certificate Name can only be set before host connection is attempted";
}  // namespace

void TClassAPI::SetSSL(bool value) {
  GuardedSetting("TClassAPI.SetSSL", HasHostLink(), kSSLRefusal, YesNo(value), true,
                 [&] { Links.HostSSL = value; });
}

void TClassAPI::SetPDDSSL(bool value) {
  GuardedSetting("TClassAPI.SetSSL", HasPriceLink(), kSSLRefusal, YesNo(value), true,
                 [&] { Links.PriceSSL = value; });
}

void TClassAPI::SetCertName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, true,
                 [&] { Links.HostCertName.Set(std::string(value)); });
}

void TClassAPI::SetPDDCertName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasPriceLink(), kCertRefusal, value, true,
                 [&] { Links.PriceCertName.Set(std::string(value)); });
}

void TClassAPI::SetClientAuthName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, false,
                 [&] { Links.HostClientAuthName.Set(std::string(value)); });
}

// Guarded by the host link, as the price-feed name is handed over with the host's.
void TClassAPI::SetPDDClientAuthName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, false,
                 [&] { Links.PriceClientAuthName.Set(std::string(value)); });
}

void TClassAPI::SetMDSToken(std::string_view value) {
  GuardedSetting("TClassAPI.SetMDSToken", HasPriceLink(),
                 "The MDS Token can only be set before price connection is attempted", value, true,
                 [&] { Links.MDSToken.Set(std::string(value)); });
}

void TClassAPI::SetMegaHub(bool value) {
  GuardedSetting("TClassAPI.SetMegaHub", HasHostLink(),
                 "MegaHub setting can only be set before host connection is attempted",
                 YesNo(value), true, [&] { Links.MegaHub = value; });
}

bool TClassAPI::HasHostLink() const {
  std::lock_guard guard(linkLock_);
  return hostLink_ != nullptr;
}

bool TClassAPI::HasPriceLink() const {
  std::lock_guard guard(linkLock_);
  return priceLink_ != nullptr;
}

std::shared_ptr<ILink> TClassAPI::TakeLink(TLinkKind kind) {
  std::lock_guard guard(linkLock_);
  return std::move(kind == psHost ? hostLink_ : priceLink_);
}

std::shared_ptr<ILink> TClassAPI::GetLink(TLinkKind kind) const {
  std::lock_guard guard(linkLock_);
  return kind == psHost ? hostLink_ : priceLink_;
}

bool TClassAPI::LinkConnected(TLinkKind kind) const {
  const auto link = GetLink(kind);
  return link && link->Connected();
}

void TClassAPI::SendOnLink(TVornMessage& message, TLinkKind kind) {
  if (const auto link = GetLink(kind)) link->Send(message);
}

bool TClassAPI::CreateLinks() {
  const TLinkFactory factory = GetLinkFactory();
  const auto specFor = [&](TLinkKind kind) {
    TLinkSpec spec;
    spec.Kind = kind;
    const bool host = kind == psHost;
    spec.SSL = host ? Links.HostSSL : Links.PriceSSL;
    spec.CertName = (host ? Links.HostCertName : Links.PriceCertName).Get();
    auto& addresses = host ? Links.HostAddresses : Links.PriceAddresses;
    (host ? Links.HostAddressIndex : Links.PriceAddressIndex) = 0;
    spec.Address = *addresses.Get(0);
    return spec;
  };
  std::shared_ptr<ILink> host, price;
  if (factory) {
    if (!HasHostLink() && Links.HostAddresses.Count() > 0) host = factory(*this, specFor(psHost));
    if (!HasPriceLink() && Links.PriceAddresses.Count() > 0)
      price = factory(*this, specFor(psPriceFeed));
  }
  {
    std::lock_guard guard(linkLock_);
    if (host) hostLink_ = host;
    if (price) priceLink_ = price;
  }
  // Only the host link starts at once; the end of the initial download starts the price link.
  if (const auto link = GetLink(psHost)) link->Start(true);
  if (price) price->Start(false);
  Heartbeat.SetEnabled(true);
  return static_cast<bool>(factory);
}

void TClassAPI::FreeLinks() {
  Heartbeat.SetEnabled(false);
  if (const auto host = TakeLink(psHost)) {
    host->Shutdown();
    Links.HostAddresses.Clear();
  }
  if (const auto price = TakeLink(psPriceFeed)) {
    price->Shutdown();
    Links.PriceAddresses.Clear();
  }
}

void TClassAPI::SetLogonPassword(std::string_view password) {
  std::lock_guard guard(passwordLock_);
  logonPassword_ = SplitPassword(password);
}

std::string TClassAPI::GetLogonPassword() const {
  std::lock_guard guard(passwordLock_);
  return JoinPassword(logonPassword_);
}

void TClassAPI::SetNewPassword(std::string_view password) {
  std::lock_guard guard(passwordLock_);
  newPassword_ = SplitPassword(password);
}

std::string TClassAPI::GetNewPassword() const {
  std::lock_guard guard(passwordLock_);
  return JoinPassword(newPassword_);
}

void TClassAPI::SetEncryption(std::string_view value) {
  Logon.Encryption.Set(std::string(value));
  if (DebugFlagOn(kDebugging)) WriteTraceLine("API Encryption Set = " + std::string(value));
}

void TClassAPI::LogOnAgain() {
  if (LinkRequests) LinkRequests->LogOnAgain();
}

void TClassAPI::SetMarginMode(bool on) {
  if (Features.MarginMode.exchange(on) != on) Margins.ClearRatingCaches();
}

void TClassAPI::MarginRatingsChanged() {
  Margins.ClearRatingCaches();
}

void TClassAPI::Purge(TDateTime before) {
  WriteTraceLine("Starting Purge");
  Exchanges.Purge(before);
  WriteTraceLine("End of Purge");
}

// Every list of the store but the logon history.
void TClassAPI::ClearAllData() {
  Orders.FreeAll();
  Fills.FreeAll();
  Positions.ClearPositions();
  for (TIndexList* list : std::initializer_list<TIndexList*>{
           &Accounts, &ExchangeRates, &Exchanges, &Commodities, &Contracts, &OrderTypes,
           &UserMessages, &ReportTypes, &Reports, &MarginRatings})
    list->FreeAll();
  Margins.ClearRatingCaches();
}

void TClassAPI::ClearOrdersAndFills() {
  AddCallback(VN_CB_ORDER_BOOK_RESET, nullptr, 0);
  Orders.FreeAll();
  Fills.FreeAll();
  Positions.ClearPositions();
  UserMessages.FreeAll();
  OrderSequence = 0;
  Logon.DataCleared = true;
}

std::int32_t TClassAPI::BlankPrices() {
  const std::int32_t ready = CheckReadyState();
  if (ready != 0) return ready;
  for (int i = 0, count = Contracts.Count(); i < count; ++i)
    if (const auto contract = Contracts.At(i)) contract->ClearPrices(true);
  return 0;
}

// A report type for each report's type; the list refuses one it holds already.
void TClassAPI::CompleteReports() {
  for (const std::string& type : Reports.CompleteReports()) {
    auto reportType = std::make_shared<TReportType>();
    reportType->ReportType = type;
    ReportTypes.Add(reportType);
  }
}

void TClassAPI::HeartbeatTimer() {
  Beat.Tick(HeartbeatHost);
}

}  // namespace vorn
