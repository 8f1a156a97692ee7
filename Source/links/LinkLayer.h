#pragma once
// Attaches the link layer to the library: the link factory vnReady uses, the message host that
// sends each message on the current API object's links, and each API object's requests (the
// subscription sender over its price link, the order-id request, the bandwidth report and the
// order requests with their throttle).

#include <memory>
#include <utility>

#include "core/session/LinkRequests.h"
#include "links/OrderThrottle.h"

namespace vorn {

class TClassAPI;

// Installs the link factory (unless one is installed) and the message host. Idempotent.
void InstallLinkLayer();
// Gives the API object its link requests; call before the object is published.
void AttachLinkLayer(TClassAPI& api);

// The requests of one API object, sent on its links.
class TLinkRequests : public ILinkRequests {
 public:
  explicit TLinkRequests(TClassAPI& api) : api_(api) {}
  // Tests give the throttle a fake clock and sleeper.
  TLinkRequests(TClassAPI& api, TOrderThrottle::TMonotonicMs now, TOrderThrottle::TSleeper sleep)
      : api_(api), throttle_(std::move(now), std::move(sleep)) {}

  bool Connected() override;
  bool SendPriceSubscription(int code, const TContractKey& contract) override;
  bool SendMarketSubscription(int code, const TContractKey& commodity) override;
  bool SendBroadcastSubscription(int code, std::string_view exchange) override;
  void SendHandshake() override;
  void SendOrderIDsRequest() override;
  void SendBandwidthReport(const TBandwidthReport& report) override;
  void LogOnAgain() override;
  // Builds the request, then passes the throttle (which may sleep this thread) and sends it
  // on the host link. Call with no lock held.
  void SendOrderRequest(std::int32_t code, const TOrderItem& order) override;
  // Builds the pair's request (with leg fills when the pair has leg prices), then throttles
  // and sends it as SendOrderRequest does.
  void SendWholesaleRequest(const TWholesalePair& pair) override;
  // The request's texts written from the order (no copy of it); the send adds the account
  // figures, then throttles and sends as SendOrderRequest does.
  std::unique_ptr<TPreparedOrderRequest> PrepareOrderRequest(std::int32_t code,
                                                             const TOrderItem& order) override;
  void SendPreparedOrderRequest(TPreparedOrderRequest& request) override;

 private:
  // Sends on the price link when it is connected; false otherwise.
  bool SendPrice(TVornMessage& message);

  TClassAPI& api_;
  TOrderThrottle throttle_;
};

}  // namespace vorn
