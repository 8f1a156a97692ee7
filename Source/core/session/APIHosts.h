#pragma once
// The API object as the order list, the order-id pool and the heartbeat see it. Each adapter
// holds a reference to the object that owns it and forwards to its fields and lists.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/session/Heartbeat.h"
#include "core/session/LinkRequests.h"
#include "core/trading/OrderIDPool.h"
#include "core/trading/OrderQ.h"

namespace vorn {

class TClassAPI;

class TAPIOrderQHost : public IOrderQHost {
 public:
  explicit TAPIOrderQHost(TClassAPI& api) : api_(api) {}

  bool DownloadInProgress() override;
  std::int32_t NextOrderSequence() override;
  std::int32_t SentFailureDelay() override;
  std::int32_t QueuedFailureDelay() override;
  double GetExchangeRate(std::string_view currency) override;
  std::shared_ptr<TOrderTypeItem> FindOrderTypeByID(std::string_view exchange,
                                                    std::int32_t typeID) override;
  void OrderAccountChanged(std::string_view orderID, const TOrderItem& previous,
                           const TOrderItem& item) override;
  void UnsubscribePrice(const TContractKey& contract) override;
  void RaiseLocalOrderCounter(std::int32_t value) override;
  void RaiseSyntheticOrderCounter(std::int32_t value) override;
  std::string LogonUserName() override;

 private:
  TClassAPI& api_;
};

class TAPIOrderIDPoolHost : public IOrderIDPoolHost {
 public:
  explicit TAPIOrderIDPoolHost(TClassAPI& api) : api_(api) {}

  void SendOrderIDsRequest() override;
  void SendOrder(const TOrderItem& order) override;
  bool ReKeyOrder(TIndexList& orders, const std::shared_ptr<TOrderList>& history,
                  std::string_view id) override;

 private:
  TClassAPI& api_;
};

// The order road towards the host for the order list: ids from the pool, requests through the
// link layer.
class TAPIOrderSender : public IOrderSender {
 public:
  explicit TAPIOrderSender(TClassAPI& api) : api_(api) {}

  std::string GetNewOrderID() override;
  void SendOrder(const TOrderItem& order) override;
  void AmendOrder(std::string_view id, const AmendOrderStruct& record,
                  std::string_view userName) override;
  void CancelOrder(std::string_view id, std::string_view userName) override;

 private:
  TClassAPI& api_;
};

// Sends the order request of that code through the API object's link layer; a trace line
// without one.
void SendOrderRequest(TClassAPI& api, std::int32_t code, const TOrderItem& order);
// SendOrderRequest in the link layer's two steps (ILinkRequests::PrepareOrderRequest): the
// prepared request is null without a link layer, and its send then writes SendOrderRequest's
// trace line for the order of that id.
std::unique_ptr<ILinkRequests::TPreparedOrderRequest> PrepareOrderRequest(TClassAPI& api,
                                                                          std::int32_t code,
                                                                          const TOrderItem& order);
void SendPreparedOrderRequest(TClassAPI& api, ILinkRequests::TPreparedOrderRequest* request,
                              std::string_view orderID);

// Without the link layer there is no price link: the book keeps its requests queued.
class TNoSubscriptionSender : public ISubscriptionSender {
 public:
  bool Connected() override { return false; }
  bool SendPriceSubscription(int, const TContractKey&) override { return false; }
  bool SendMarketSubscription(int, const TContractKey&) override { return false; }
  bool SendBroadcastSubscription(int, std::string_view) override { return false; }
  void SendHandshake() override {}
};

class TAPIHeartbeatHost : public IHeartbeatHost {
 public:
  explicit TAPIHeartbeatHost(TClassAPI& api) : api_(api) {}

  bool ResetLinksRequested() override;
  bool LoggedOn() override;
  bool DownloadInProgress() override;
  bool FreeLink(TLinkKind kind) override;
  std::shared_ptr<IHeartbeatLink> Link(TLinkKind kind) override;
  std::vector<TAddressItem> Addresses(TLinkKind kind) override;
  std::atomic<std::int32_t>& AddressIndex(TLinkKind kind) override;
  TSubscriptions* Subscriptions() override;
  ISubscriptionSender& SubscriptionSender() override;
  std::shared_ptr<TContractItem> FindContract(const TContractKey& key) override;
  std::vector<std::string> CountDownWatchList(TWatchList list) override;
  std::int32_t MemoryWarningThreshold() override;
  std::int32_t BandwidthPeriod() override;
  TBandwidthMonitor& Bandwidth() override;
  void SendBandwidthReport(const TBandwidthReport& report) override;

 private:
  TClassAPI& api_;
  TNoSubscriptionSender noSender_;
};

}  // namespace vorn
