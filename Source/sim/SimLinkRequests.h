#pragma once
// The simulator's link requests: subscriptions are taken (the simulated market writes every
// contract's prices, subscribed or not) and the other requests go nowhere, but an order request
// is still built, so that its failures reach the order exports as they do in the live library;
// no throttle applies. An order status query (3304) advances the queried order.
//
// Threads: as ILinkRequests (the caller's thread, or the heartbeat's for the subscriptions);
// called with no lock held.

#include "core/session/LinkRequests.h"

namespace vorn {
class TClassAPI;
}

namespace vorn::sim {

class TSimLinkRequests : public ILinkRequests {
 public:
  // The API object outlives its requests.
  explicit TSimLinkRequests(TClassAPI& api) : api_(api) {}

  // The price link is connected.
  bool Connected() override;
  bool SendPriceSubscription(int code, const TContractKey& contract) override;
  bool SendMarketSubscription(int code, const TContractKey& commodity) override;
  bool SendBroadcastSubscription(int code, std::string_view exchange) override;
  void SendHandshake() override {}
  void SendOrderIDsRequest() override {}
  void SendBandwidthReport(const TBandwidthReport&) override {}
  // The simulated links never lose their connection.
  void LogOnAgain() override {}
  void SendOrderRequest(std::int32_t code, const TOrderItem& order) override;
  void SendWholesaleRequest(const TWholesalePair&) override {}

 private:
  TClassAPI& api_;
};

}  // namespace vorn::sim
