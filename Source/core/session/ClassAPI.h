#pragma once
// The API object: owns every piece of run-time state of the client library. One instance at a
// time is current (API()); vnInitialise makes it, vnLogOff shuts it down and lets it go.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/refdata/Commodity.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/ReportType.h"
#include "core/refdata/SnapshotWaiters.h"
#include "core/refdata/Subscriptions.h"
#include "core/refdata/UserLogon.h"
#include "core/refdata/UserMessage.h"
#include "core/session/APIHosts.h"
#include "core/session/ClassAPIState.h"
#include "core/session/Heartbeat.h"
#include "core/session/Link.h"
#include "core/session/LinkRequests.h"
#include "core/session/VORNTimer.h"
#include "core/store/ContractDataThread.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/Fill.h"
#include "core/trading/Margin.h"
#include "core/trading/MarginRequirement.h"
#include "core/trading/OrderIDPool.h"
#include "core/trading/OrderQ.h"
#include "core/trading/Report.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Locks.h"

namespace vorn {

class TClassAPI {
 public:
  static constexpr std::array<const char*, 12> kShortMonthNames = {
      "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

  TClassAPI();
  TClassAPI(const TClassAPI&) = delete;
  TClassAPI& operator=(const TClassAPI&) = delete;
  ~TClassAPI();

  // Stops everything in the fixed order and saves the store; idempotent. After it the object
  // still answers reads, but runs no thread and holds no link.
  void Shutdown();

  void StartupRepository();
  void ShutdownRepository();

  // "VornCont.dat" is read or written by one contract-data thread at a time
  // (TContractDataThread::cdaRead or cdaWrite); starting one stops the one before.
  void StartContractData(int action);
  // Stops the contract-data thread, if any, and waits for its end. Call with no list lock held.
  void StopContractData();

  // 0 when logged on, 4 when not (1, no API object, is answered by ReadyAPI in api/APIobject.h).
  std::int32_t CheckReadyState() const { return Logon.LoggedOn ? 0 : 4; }

  // Settings guarded by the links: refused, with a ring note, once the link concerned exists.
  void SetSSL(bool value);
  void SetPDDSSL(bool value);
  void SetCertName(std::string_view value);
  void SetPDDCertName(std::string_view value);
  void SetClientAuthName(std::string_view value);
  void SetPDDClientAuthName(std::string_view value);
  void SetMDSToken(std::string_view value);
  void SetMegaHub(bool value);

  // Links (created by vnReady through the link factory, freed by vnDisconnect).
  bool HasHostLink() const;
  bool HasPriceLink() const;
  // Creates each link that does not exist yet and whose address list is not empty, then
  // starts the heartbeat. Returns false when the link layer is not available.
  bool CreateLinks();
  // Frees each link that exists, emptying its address list; stops the heartbeat.
  void FreeLinks();

  void SetLogonPassword(std::string_view password);
  std::string GetLogonPassword() const;
  void SetNewPassword(std::string_view password);
  std::string GetNewPassword() const;
  void SetEncryption(std::string_view value);
  std::string GetEncryption() const { return Logon.Encryption.Get(); }

  // The margin mode the logon status grants; a change drops the cached margin rates.
  void SetMarginMode(bool on);
  // Every change to the margin-rating list or to a listed rating's figures calls this.
  void MarginRatingsChanged();

  void Purge(TDateTime before);
  void ClearAllData();
  void ClearOrdersAndFills();
  std::int32_t BlankPrices();
  void CompleteReports();

  // Runs once a second on the heartbeat timer's thread.
  void HeartbeatTimer();
  // A socket thread ended on request (forced logout, refused logon): the next tick frees both
  // links.
  void RequestConnectionReset() { ResetLinks = true; }
  // The host link reconnected after a loss while logged on: log on again with the stored logon.
  void LogOnAgain();

  std::int32_t NextOrderSequence() { return OrderSequence++; }
  std::int32_t NextLocalMessageSequence() { return LocalMessageSequence--; }

  // Takes the link of that kind out under the link lock; the caller shuts it down with no lock
  // held.
  std::shared_ptr<ILink> TakeLink(TLinkKind kind);
  // The link of that kind, or null. A holder may send on it while another thread takes it out:
  // a link that was shut down drops what it is given.
  std::shared_ptr<ILink> GetLink(TLinkKind kind) const;
  // The link exists and is connected.
  bool LinkConnected(TLinkKind kind) const;
  // Hands the message to the link of that kind; nothing when there is none.
  void SendOnLink(TVornMessage& message, TLinkKind kind);
  // The link layer's requests; set once, before the object is published.
  std::unique_ptr<ILinkRequests> LinkRequests;

  // Identity and environment
  std::atomic<char> Environment{' '};
  std::atomic<bool> TestFlag{false};
  std::atomic<bool> VersionMatches{true};
  std::atomic<bool> ResetRequested{false};
  TSharedText ApplicationID;
  TSharedText ApplicationVersion;
  TSharedText UserName;
  std::atomic<bool> InternetUser{false};

  // Settings the application makes
  std::atomic<bool> NotifyAllMessages{false};
  std::atomic<bool> OMIEnabled{true};
  std::atomic<bool> UserIDFilter{false};

  // The state groups; each group's header says who writes it.
  TLinkSettings Links;
  TLogonState Logon;
  THostFeatures Features;
  TMonitoring Monitoring;
  // The next heartbeat frees both links (RequestConnectionReset).
  std::atomic<bool> ResetLinks{false};
  std::atomic<bool> ShuttingDown{false};

  // Order ids and counters
  std::atomic<std::int32_t> OrderSequence{0};
  std::atomic<std::int32_t> LocalMessageSequence{0};

  // The heartbeat timer (Beat below holds its state)
  TVORNTimer Heartbeat;
  const TDateTime StartTime;

  // Price and market subscriptions
  TSubscriptions Subscriptions;

  // UUID groups and the thread that applies UUID messages to their members (started by the
  // first message posted).
  const std::shared_ptr<TUUIDObjectList> UUIDObjects = std::make_shared<TUUIDObjectList>();
  TUUIDMessageThread UUIDMessages{UUIDObjects};

  // Events
  // The callers of vnPriceSnapshot waiting for their price array; Shutdown wakes them.
  TSnapshotWaiters Snapshots;
  // Set while "VornCont.dat" is read; the latches stay set once their work is done.
  std::atomic<bool> ContractsReading{false};
  TLatch ContractsRead{true};
  TLatch ContractsSaved{true};

  // The keyed lists of reference data, reports and user messages. They live as long as the
  // object; the store fills and saves them.
  TExchangeQ Exchanges{Subscriptions};
  TCommodityQ Commodities{Exchanges};
  TOrderTypeQ OrderTypes{Exchanges};
  TContractQ Contracts{ContractsReading, ContractsRead};
  TTraderAccountQ Accounts{&Logon.DownloadInProgress};
  TExchangeRateQ ExchangeRates;
  TReportTypeQ ReportTypes;
  TReportQ Reports;
  TUserMessageQ UserMessages;
  TMarginRatingQ MarginRatings{&Features.MarginMode};
  TUserLogonQ UserLogons;

  // Orders, fills, positions and margins over the lists above.
  TOrderQ Orders;
  TFillQ Fills;
  TPositionBook Positions{
      {Fills, Contracts, Accounts, Commodities, ExchangeRates, Features.MarginMode}};
  TMarginCalculator Margins{{Accounts, MarginRatings, Contracts, Commodities, ExchangeRates,
                             Positions, Features.MarginMode}};
  TMarginRequirement MarginRequirement{
      {Accounts, Contracts, ExchangeRates, Orders, Positions, Margins, Features.MarginMode, Fills}};

  // The pre-allocated, local and synthetic order ids; its host comes first.
  TAPIOrderIDPoolHost OrderIDPoolHost{*this};
  TOrderIDPool OrderIDs{OrderIDPoolHost};

  // The heartbeat's state (the timer above drives it) and the links' byte counts.
  TBandwidthMonitor Bandwidth;
  THeartbeat Beat;
  TAPIHeartbeatHost HeartbeatHost{*this};

 private:
  // Shared by the guarded setters: the start entry, the refusal or "Value = " note, the exit.
  template <class Store>
  void GuardedSetting(const char* routine, bool linkExists, const char* refusal,
                      std::string_view valueText, bool traceValue, Store store);

  mutable std::mutex linkLock_;  // guards the two link pointers
  std::shared_ptr<ILink> hostLink_;
  std::shared_ptr<ILink> priceLink_;
  mutable std::mutex passwordLock_;
  std::array<std::string, 5> logonPassword_;
  std::array<std::string, 5> newPassword_;
  std::once_flag shutdownOnce_;
  std::mutex contractDataLock_;  // serialises starting and stopping the thread below
  std::unique_ptr<TContractDataThread> contractData_;
  std::shared_ptr<IOrderServices> orderServices_;  // installed by the constructor
  // The store behind StartupRepository and ShutdownRepository.
  bool LoadStoreFile();
  void SaveStoreFile();
  void FinishContractData();
  void AdjustLocalMessageSequence();
};

// The current API object (null before vnInitialise and after vnLogOff). A caller keeps the
// object alive for as long as it holds the pointer.
std::shared_ptr<TClassAPI> API();
// Installs a new current object and returns the one it replaces.
std::shared_ptr<TClassAPI> ExchangeAPI(std::shared_ptr<TClassAPI> api);

}  // namespace vorn
