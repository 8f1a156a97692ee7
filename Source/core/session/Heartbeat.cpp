#include "core/session/Heartbeat.h"

#include <algorithm>
#include <exception>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"

namespace vorn {

namespace {

// Link states as the link-state event reports them.
constexpr std::uint8_t kLinkConnected = 3;
constexpr std::uint8_t kLinkClosed = 4;

// n / d to the nearest integer, a half to the even neighbour; d > 0, n >= 0.
std::int64_t DivideHalfEven(std::int64_t n, std::int64_t d) {
  const std::int64_t q = n / d;
  const std::int64_t r = n % d;
  if (2 * r > d || (2 * r == d && (q % 2) != 0)) return q + 1;
  return q;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TBandwidthMonitor::TBandwidthMonitor() : periodStartMs_(Clock().MonotonicMs()) {}

std::int32_t TBandwidthMonitor::ClampHostPeriod(std::int64_t seconds) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(seconds, 1, kMaxPeriod));
}

void TBandwidthMonitor::CloseSecond() {
  std::lock_guard guard(lock_);
  const std::int64_t sent = sent_.exchange(0, std::memory_order_relaxed);
  const std::int64_t received = received_.exchange(0, std::memory_order_relaxed);
  peakSent_ = std::max(peakSent_, sent);
  peakReceived_ = std::max(peakReceived_, received);
  sumSent_ += sent;
  sumReceived_ += received;
}

TBandwidthReport TBandwidthMonitor::TakeReport() {
  const std::int64_t nowMs = Clock().MonotonicMs();
  std::lock_guard guard(lock_);
  TBandwidthReport report;
  report.PeriodSeconds = std::max<std::int64_t>(1, (nowMs - periodStartMs_) / 1000);
  report.PeakSent = peakSent_;
  report.PeakReceived = peakReceived_;
  report.AverageSent = DivideHalfEven(sumSent_, report.PeriodSeconds);
  report.AverageReceived = DivideHalfEven(sumReceived_, report.PeriodSeconds);
  peakSent_ = peakReceived_ = sumSent_ = sumReceived_ = 0;
  periodStartMs_ = nowMs;
  return report;
}

// ---------------------------------------------------------------------------------------------

void IHeartbeatHost::PostLinkState(std::int32_t id, std::uint8_t oldState, std::uint8_t newState) {
  AddLinkStateCallback(id, oldState, newState);
}

void IHeartbeatHost::PostPrice(const TContractKey& contract) {
  AddPriceCallback(contract.Exchange, contract.Commodity, contract.ContractDate);
}

void IHeartbeatHost::PostWatchFailure(TWatchList list, std::string_view orderID) {
  switch (list) {
    case TWatchList::PendingCancel:
      AddOrderCancelFailureCallback(orderID);
      break;
    case TWatchList::Sent:
      AddOrderSentFailureCallback(orderID);
      break;
    case TWatchList::Queued:
      AddOrderQueuedFailureCallback(orderID);
      break;
    case TWatchList::Amending:
      AddAmendFailureCallback(orderID);
      break;
  }
}

void IHeartbeatHost::PostMemoryWarning() {
  AddCallback(VN_CB_MEMORY_WARNING, nullptr, 0);
}

// ---------------------------------------------------------------------------------------------

THeartbeat::THeartbeat() : lastMemoryWarningMs_(Clock().MonotonicMs()) {}

void THeartbeat::Tick(IHeartbeatHost& host) {
  try {
    RunTick(host);
  } catch (...) {
    ReportException("TClassAPI", std::current_exception());
  }
}

void THeartbeat::RunTick(IHeartbeatHost& host) {
  // After a forced logout or a refused logon the links go, and nothing else runs again.
  if (host.ResetLinksRequested()) {
    if (host.FreeLink(psHost))
      host.PostLinkState(VN_CB_HOST_LINK_STATE_CHANGE, kLinkConnected, kLinkClosed);
    if (host.FreeLink(psPriceFeed))
      host.PostLinkState(VN_CB_PRICE_STATE_CHANGE, kLinkConnected, kLinkClosed);
    return;
  }

  RunLink(host, psHost);
  RunLink(host, psPriceFeed);

  TSubscriptions* book = host.Subscriptions();
  if (book && host.LoggedOn() && !host.DownloadInProgress()) {
    book->SendPriceRequests(host.SubscriptionSender());
    book->SendMarketRequests(host.SubscriptionSender());
    AgePrices(host, *book);
    for (const TWatchList list :
         {TWatchList::PendingCancel, TWatchList::Sent, TWatchList::Queued, TWatchList::Amending}) {
      for (const std::string& id : host.CountDownWatchList(list))
        host.PostWatchFailure(list, id);
    }
  }

  CheckMemory(host);
  CheckBandwidth(host);
}

void THeartbeat::RunLink(IHeartbeatHost& host, TLinkKind kind) {
  const std::shared_ptr<IHeartbeatLink> link = host.Link(kind);
  if (!link) return;
  const std::vector<TAddressItem> addresses = host.Addresses(kind);
  if (addresses.empty()) return;
  // The lists can shrink under a stale index (vnDisconnect empties them): start again at 0.
  std::atomic<std::int32_t>& index = host.AddressIndex(kind);
  std::int32_t current = index.load();
  if (current < 0 || static_cast<std::size_t>(current) >= addresses.size()) {
    current = 0;
    index.store(0);
  }
  link->SetAddress(addresses[static_cast<std::size_t>(current)]);
  link->ProcessTimer();
}

void THeartbeat::AgePrices(IHeartbeatHost& host, TSubscriptions& book) {
  // A copy of the book: each contract is aged under its own price lock, none under the book's.
  const std::vector<TContractKey> subscribed = book.PriceSubscribed();
  for (auto it = subscribed.rbegin(); it != subscribed.rend(); ++it) {
    const std::shared_ptr<TContractItem> contract = host.FindContract(*it);
    if (contract && contract->AgePrices()) host.PostPrice(*it);
  }
}

std::int32_t THeartbeat::MemoryLoad(const TMemoryStatus& status) {
  if (status.totalPhysical == 0) return -1;
  const std::uint64_t available = std::min(status.availablePhysical, status.totalPhysical);
  const double free = static_cast<double>(available) / static_cast<double>(status.totalPhysical);
  return static_cast<std::int32_t>(100.0 - free * 100.0);
}

void THeartbeat::CheckMemory(IHeartbeatHost& host) {
  const std::int32_t load = MemoryLoad(host.MemoryStatus());
  if (load < 0 || load < host.MemoryWarningThreshold()) return;
  const std::int64_t nowMs = Clock().MonotonicMs();
  if (nowMs - lastMemoryWarningMs_ < kMemoryWarningGapMs) return;
  lastMemoryWarningMs_ = nowMs;
  host.PostMemoryWarning();
}

void THeartbeat::CheckBandwidth(IHeartbeatHost& host) {
  if (host.DownloadInProgress()) return;
  const std::int32_t period = host.BandwidthPeriod();
  if (period <= 0) return;
  TBandwidthMonitor& bandwidth = host.Bandwidth();
  bandwidth.CloseSecond();
  if (++bandwidthTicks_ < std::min(period, TBandwidthMonitor::kMaxPeriod)) return;
  bandwidthTicks_ = 0;
  AddTraceEntry(tlNote, "TClassAPI.MonitorBandwidth");
  const TBandwidthReport report = bandwidth.TakeReport();
  host.SendBandwidthReport(report);
}

}  // namespace vorn
