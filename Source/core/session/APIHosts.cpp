#include "core/session/APIHosts.h"

#include "core/diag/Trace.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/trading/Fill.h"
#include "core/util/Text.h"

namespace vorn {

// ---------------------------------------------------------------------------------------------
// Order list

bool TAPIOrderQHost::DownloadInProgress() {
  return api_.Logon.DownloadInProgress;
}

std::int32_t TAPIOrderQHost::NextOrderSequence() {
  return api_.NextOrderSequence();
}

std::int32_t TAPIOrderQHost::SentFailureDelay() {
  return api_.Monitoring.SentFailureDelay;
}

std::int32_t TAPIOrderQHost::QueuedFailureDelay() {
  return api_.Monitoring.QueuedFailureDelay;
}

double TAPIOrderQHost::GetExchangeRate(std::string_view currency) {
  return api_.ExchangeRates.GetRate(currency);
}

std::shared_ptr<TOrderTypeItem> TAPIOrderQHost::FindOrderTypeByID(std::string_view exchange,
                                                                  std::int32_t typeID) {
  return api_.OrderTypes.FindOrderTypeByID(exchange, typeID);
}

// Called under the order list's lock; the fill list comes after it.
void TAPIOrderQHost::OrderAccountChanged(std::string_view orderID, const TOrderItem& previous,
                                         const TOrderItem& item) {
  const auto contract = item.Contract ? item.Contract : previous.Contract;
  const std::string oldAccount =
      previous.TraderAccount ? previous.TraderAccount->TraderAccount : std::string();
  const std::string newAccount =
      item.TraderAccount ? item.TraderAccount->TraderAccount : std::string();
  {
    TIndexListLock guard(api_.Fills);
    for (int i = 0, count = api_.Fills.Count(); i < count; ++i) {
      const auto fill = api_.Fills.At(i);
      if (fill && Trim(fill->OrderID) == orderID) fill->Account = item.TraderAccount;
    }
  }
  if (!contract) return;
  if (!oldAccount.empty()) api_.Positions.RebuildAccount(contract, oldAccount);
  if (!newAccount.empty() && newAccount != oldAccount)
    api_.Positions.RebuildAccount(contract, newAccount);
}

void TAPIOrderQHost::UnsubscribePrice(const TContractKey& contract) {
  api_.Subscriptions.UnsubscribePrice(contract);
}

void TAPIOrderQHost::RaiseLocalOrderCounter(std::int32_t value) {
  api_.OrderIDs.RaiseLocalOrderCounter(value);
}

void TAPIOrderQHost::RaiseSyntheticOrderCounter(std::int32_t value) {
  api_.OrderIDs.RaiseSyntheticOrderCounter(value);
}

std::string TAPIOrderQHost::LogonUserName() {
  return api_.UserName.Get();
}

// ---------------------------------------------------------------------------------------------
// Order-id pool

// A release under the order list's lock asks for ids too: the request waits for the lock's end.
void TAPIOrderIDPoolHost::SendOrderIDsRequest() {
  api_.Orders.Defer([&api = api_] {
    if (api.LinkRequests)
      api.LinkRequests->SendOrderIDsRequest();
    else
      WriteTraceLine("Order ID request not sent: no host link layer");
  });
}

void TAPIOrderIDPoolHost::SendOrder(const TOrderItem& order) {
  SendOrderRequest(api_, ILinkRequests::kAddOrder, order);
}

bool TAPIOrderIDPoolHost::ReKeyOrder(TIndexList& /*orders*/,
                                     const std::shared_ptr<TOrderList>& history,
                                     std::string_view id) {
  return api_.Orders.ReKeyOrder(history, id);
}

// ---------------------------------------------------------------------------------------------
// Order requests

void SendOrderRequest(TClassAPI& api, std::int32_t code, const TOrderItem& order) {
  if (api.LinkRequests)
    api.LinkRequests->SendOrderRequest(code, order);
  else
    WriteTraceLine("Order " + order.ID + " not sent: no host link layer");
}

std::unique_ptr<ILinkRequests::TPreparedOrderRequest> PrepareOrderRequest(TClassAPI& api,
                                                                          std::int32_t code,
                                                                          const TOrderItem& order) {
  if (!api.LinkRequests) return nullptr;
  return api.LinkRequests->PrepareOrderRequest(code, order);
}

void SendPreparedOrderRequest(TClassAPI& api, ILinkRequests::TPreparedOrderRequest* request,
                              std::string_view orderID) {
  if (api.LinkRequests && request)
    api.LinkRequests->SendPreparedOrderRequest(*request);
  else
    WriteTraceLine("Order " + std::string(orderID) + " not sent: no host link layer");
}

std::string TAPIOrderSender::GetNewOrderID() {
  return api_.OrderIDs.GetNewOrderIDUnderListLock();
}

void TAPIOrderSender::SendOrder(const TOrderItem& order) {
  SendOrderRequest(api_, ILinkRequests::kAddOrder, order);
}

void TAPIOrderSender::AmendOrder(std::string_view id, const AmendOrderStruct& record,
                                 std::string_view userName) {
  DoAmendOrder(api_, id, record, userName);
}

void TAPIOrderSender::CancelOrder(std::string_view id, std::string_view userName) {
  DoCancelOrder(api_, id, userName);
}

// ---------------------------------------------------------------------------------------------
// Heartbeat

bool TAPIHeartbeatHost::ResetLinksRequested() {
  return api_.ResetLinks;
}

bool TAPIHeartbeatHost::LoggedOn() {
  return api_.Logon.LoggedOn;
}

bool TAPIHeartbeatHost::DownloadInProgress() {
  return api_.Logon.DownloadInProgress;
}

bool TAPIHeartbeatHost::FreeLink(TLinkKind kind) {
  const std::shared_ptr<ILink> link = api_.TakeLink(kind);
  if (!link) return false;
  link->Shutdown();  // its socket thread stops here, with no lock held
  return true;
}

std::shared_ptr<IHeartbeatLink> TAPIHeartbeatHost::Link(TLinkKind kind) {
  return api_.GetLink(kind);
}

std::vector<TAddressItem> TAPIHeartbeatHost::Addresses(TLinkKind kind) {
  const TAddressQ& list = kind == psHost ? api_.Links.HostAddresses : api_.Links.PriceAddresses;
  std::vector<TAddressItem> addresses;
  for (std::size_t i = 0, count = list.Count(); i < count; ++i)
    if (auto address = list.Get(i)) addresses.push_back(std::move(*address));
  return addresses;
}

std::atomic<std::int32_t>& TAPIHeartbeatHost::AddressIndex(TLinkKind kind) {
  return kind == psHost ? api_.Links.HostAddressIndex : api_.Links.PriceAddressIndex;
}

TSubscriptions* TAPIHeartbeatHost::Subscriptions() {
  return &api_.Subscriptions;
}

ISubscriptionSender& TAPIHeartbeatHost::SubscriptionSender() {
  if (api_.LinkRequests) return *api_.LinkRequests;
  return noSender_;
}

std::shared_ptr<TContractItem> TAPIHeartbeatHost::FindContract(const TContractKey& key) {
  return api_.Contracts.FindByName(key.Exchange, key.Commodity, key.ContractDate);
}

std::vector<std::string> TAPIHeartbeatHost::CountDownWatchList(TWatchList list) {
  switch (list) {
    case TWatchList::PendingCancel:
      return api_.Orders.CancelWatch.Tick();
    case TWatchList::Sent:
      return api_.Orders.SentWatch.Tick();
    case TWatchList::Queued:
      return api_.Orders.QueuedWatch.Tick();
    case TWatchList::Amending:
      return api_.Orders.AmendingOrders.Tick();
  }
  return {};
}

std::int32_t TAPIHeartbeatHost::MemoryWarningThreshold() {
  return api_.Monitoring.MemoryWarningThreshold;
}

std::int32_t TAPIHeartbeatHost::BandwidthPeriod() {
  return api_.Monitoring.BandwidthPeriod;
}

TBandwidthMonitor& TAPIHeartbeatHost::Bandwidth() {
  return api_.Bandwidth;
}

void TAPIHeartbeatHost::SendBandwidthReport(const TBandwidthReport& report) {
  if (api_.LinkRequests)
    api_.LinkRequests->SendBandwidthReport(report);
  else
    WriteTraceLine("Bandwidth report not sent: no host link layer");
}

}  // namespace vorn
