#pragma once
// The API object's one-second heartbeat: link timers, queued subscription requests, price
// ageing, the order watch-list countdowns, the memory warning and the bandwidth report.
//
// The tick reaches the rest of the library through IHeartbeatHost, a narrow view of the API
// object, so that it can be driven tick by tick with fakes. Events are posted through virtual
// members whose defaults queue the library's events.
//
// Locking: the tick holds no lock while it calls a link, sends or posts. Each watch list counts
// itself down under its own lock and hands back the order ids that expired;
// the bandwidth report is built under the bandwidth lock and sent after it is released.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/refdata/Subscriptions.h"
#include "core/session/AddressQ.h"
#include "core/session/Link.h"
#include "platform/Clock.h"
#include "platform/MemoryStatus.h"

namespace vorn {

class TContractItem;

enum class TWatchList : std::uint8_t { PendingCancel, Sent, Queued, Amending };

// The per-second byte counts of both links and the report built from them. The links add
// what they send and receive at any time without a lock; each tick closes the current second.
struct TBandwidthReport {
  std::int64_t PeakSent = 0;  // the largest count of one second
  std::int64_t PeakReceived = 0;
  std::int64_t AverageSent = 0;  // per second over the period, a half to the even neighbour
  std::int64_t AverageReceived = 0;
  std::int64_t PeriodSeconds = 0;  // at least 1
};

class TBandwidthMonitor {
 public:
  static constexpr std::int32_t kMaxPeriod = 86399;

  TBandwidthMonitor();

  void AddSent(std::int64_t bytes) { sent_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddReceived(std::int64_t bytes) { received_.fetch_add(bytes, std::memory_order_relaxed); }

  // A report period as the host gives it, in seconds: kept within 1 to kMaxPeriod.
  static std::int32_t ClampHostPeriod(std::int64_t seconds);

  // Closes the current second and opens the next.
  void CloseSecond();
  // The report over the seconds closed since the last report (or the start), measured on the
  // monotonic clock; starts a new period.
  TBandwidthReport TakeReport();

 private:
  std::atomic<std::int64_t> sent_{0};
  std::atomic<std::int64_t> received_{0};
  std::mutex lock_;  // the bandwidth lock: guards the figures below
  std::int64_t peakSent_ = 0;
  std::int64_t peakReceived_ = 0;
  std::int64_t sumSent_ = 0;
  std::int64_t sumReceived_ = 0;
  std::int64_t periodStartMs_ = 0;
};

// The API object as the tick sees it.
class IHeartbeatHost {
 public:
  virtual ~IHeartbeatHost() = default;

  virtual bool ResetLinksRequested() = 0;
  virtual bool LoggedOn() = 0;
  virtual bool DownloadInProgress() = 0;

  // Frees the link of that kind; true when there was one.
  virtual bool FreeLink(TLinkKind kind) = 0;
  // The link of that kind, or null.
  virtual std::shared_ptr<IHeartbeatLink> Link(TLinkKind kind) = 0;
  // The kind's address list (empty: no address to use) and its current index.
  virtual std::vector<TAddressItem> Addresses(TLinkKind kind) = 0;
  virtual std::atomic<std::int32_t>& AddressIndex(TLinkKind kind) = 0;

  // The subscription book (null: none) and the price link as the book sends on it.
  virtual TSubscriptions* Subscriptions() = 0;
  virtual ISubscriptionSender& SubscriptionSender() = 0;
  // The contract of a subscribed key, or null once it has left its list.
  virtual std::shared_ptr<TContractItem> FindContract(const TContractKey& key) = 0;

  // One tick of the watch list (TOrderWatchList::Tick, TAmendingOrdersList::Tick): the order
  // ids whose entries ran out and left the list, in the order their events are posted.
  virtual std::vector<std::string> CountDownWatchList(TWatchList list) = 0;

  virtual std::int32_t MemoryWarningThreshold() = 0;
  virtual TMemoryStatus MemoryStatus() { return GetMemoryStatus(); }

  virtual std::int32_t BandwidthPeriod() = 0;
  virtual TBandwidthMonitor& Bandwidth() = 0;
  // Sends the report on the host link (no lock held).
  virtual void SendBandwidthReport(const TBandwidthReport& report) = 0;

  // Events; the defaults queue them for the application.
  virtual void PostLinkState(std::int32_t id, std::uint8_t oldState, std::uint8_t newState);
  virtual void PostPrice(const TContractKey& contract);
  virtual void PostWatchFailure(TWatchList list, std::string_view orderID);
  virtual void PostMemoryWarning();
};

class THeartbeat {
 public:
  static constexpr std::int64_t kMemoryWarningGapMs = 60'000;

  // The memory-warning gap counts from now.
  THeartbeat();

  // One tick. An exception ends this tick only; it goes to the error log.
  void Tick(IHeartbeatHost& host);

  // Memory load in percent from the platform's figures; -1 when they give no total.
  static std::int32_t MemoryLoad(const TMemoryStatus& status);

 private:
  void RunTick(IHeartbeatHost& host);
  static void RunLink(IHeartbeatHost& host, TLinkKind kind);
  static void AgePrices(IHeartbeatHost& host, TSubscriptions& book);
  void CheckMemory(IHeartbeatHost& host);
  void CheckBandwidth(IHeartbeatHost& host);

  // Only the heartbeat's thread touches these.
  std::int64_t lastMemoryWarningMs_;
  std::int32_t bandwidthTicks_ = 0;
};

}  // namespace vorn
