#include "core/ClassAPI.h"

#include "core/Callbacks.h"
#include "core/ClientPath.h"
#include "core/DateTime.h"
#include "core/ErrorLog.h"
#include "core/Trace.h"
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
  return api;
}

TClassAPI::TClassAPI() : StartTime(Now()) {
  Heartbeat.SetInterval(1000);
  Heartbeat.SetOnTimer([this](TVORNTimer&) { HeartbeatTimer(); });
  Contracts.SetServices(MakeContractServices(Commodities, Exchanges));
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
    if (SnapshotWaiting.exchange(false)) SnapshotEvent.SetEvent();
    // The threads are stopped: the order items' services go, unless another object's replaced
    // them.
    RemoveOrderServices(orderServices_.get());
    AddTraceEntry(tlExit, "TClassAPI.Destroy");
  });
}

// The keyed lists and the store come with the object model; until then there is nothing to
// create, load or save.
void TClassAPI::StartupRepository() {
  AddTraceEntry(tlStart, "StartupRepository");
  AddTraceEntry(tlNote, "StartupRepository", "Queues created.  Loading data...");
  ClearAllData();
  LogonSequence = -1;
  AddTraceEntry(tlExit, "StartupRepository");
}

void TClassAPI::ShutdownRepository() {
  AddTraceEntry(tlStart, "ShutdownRepository");
  AddTraceEntry(tlNote, "ShutdownRepository", "Data Saved. Freeing memory...");
  AddTraceEntry(tlExit, "ShutdownRepository");
}

void TClassAPI::StartContractData(int action) {
  std::lock_guard guard(contractDataLock_);
  contractData_.reset();  // joins the one before
  TContractStore store{Contracts,       GetClientPath(), ContractsRead, ContractsSaved,
                       ContractsReading, StoreLoaded,    [this] { Contracts.RecordHeldContracts(); }};
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
                 [&] { HostSSL = value; });
}

void TClassAPI::SetPDDSSL(bool value) {
  GuardedSetting("TClassAPI.SetSSL", HasPriceLink(), kSSLRefusal, YesNo(value), true,
                 [&] { PriceSSL = value; });
}

void TClassAPI::SetCertName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, true,
                 [&] { HostCertName.Set(std::string(value)); });
}

void TClassAPI::SetPDDCertName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasPriceLink(), kCertRefusal, value, true,
                 [&] { PriceCertName.Set(std::string(value)); });
}

void TClassAPI::SetClientAuthName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, false,
                 [&] { HostClientAuthName.Set(std::string(value)); });
}

// Guarded by the host link, as the price-feed name is handed over with the host's.
void TClassAPI::SetPDDClientAuthName(std::string_view value) {
  GuardedSetting("TClassAPI.SetCertName", HasHostLink(), kCertRefusal, value, false,
                 [&] { PriceClientAuthName.Set(std::string(value)); });
}

void TClassAPI::SetMDSToken(std::string_view value) {
  GuardedSetting("TClassAPI.SetMDSToken", HasPriceLink(),
                 "The MDS Token can only be set before price connection is attempted", value, true,
                 [&] { MDSToken.Set(std::string(value)); });
}

void TClassAPI::SetMegaHub(bool value) {
  GuardedSetting("TClassAPI.SetMegaHub", HasHostLink(),
                 "MegaHub setting can only be set before host connection is attempted",
                 YesNo(value), true, [&] { MegaHub = value; });
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

void TClassAPI::SendOnLink(TVornMessage& message, TLinkKind kind) {
  if (const auto link = GetLink(kind)) link->Send(message);
}

bool TClassAPI::CreateLinks() {
  const TLinkFactory factory = GetLinkFactory();
  const auto specFor = [&](TLinkKind kind) {
    TLinkSpec spec;
    spec.Kind = kind;
    const bool host = kind == psHost;
    spec.SSL = host ? HostSSL : PriceSSL;
    spec.CertName = (host ? HostCertName : PriceCertName).Get();
    auto& addresses = host ? HostAddresses : PriceAddresses;
    (host ? HostAddressIndex : PriceAddressIndex) = 0;
    spec.Address = *addresses.Get(0);
    return spec;
  };
  std::shared_ptr<ILink> host, price;
  if (factory) {
    if (!HasHostLink() && HostAddresses.Count() > 0) host = factory(*this, specFor(psHost));
    if (!HasPriceLink() && PriceAddresses.Count() > 0) price = factory(*this, specFor(psPriceFeed));
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
    HostAddresses.Clear();
  }
  if (const auto price = TakeLink(psPriceFeed)) {
    price->Shutdown();
    PriceAddresses.Clear();
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
  Encryption.Set(std::string(value));
  if (DebugFlagOn(kDebugging)) WriteTraceLine("API Encryption Set = " + std::string(value));
}

// The logon road is not built yet: nothing to log on with.
void TClassAPI::LogOnAgain() {
  AddTraceEntry(tlNote, "TClassAPI.LogOnAgain", "No logon available");
}

void TClassAPI::SetMarginMode(bool on) {
  if (MarginMode.exchange(on) != on) Margins.ClearRatingCaches();
}

void TClassAPI::MarginRatingsChanged() { Margins.ClearRatingCaches(); }

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
  DataCleared = true;
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
