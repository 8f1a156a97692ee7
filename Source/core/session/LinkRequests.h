#pragma once
// The requests the core sends on the links. The link layer builds and sends them and attaches
// itself to each API object before the object is published; without it nothing is sent.

#include <cstdint>

#include "core/refdata/Subscriptions.h"
#include "core/session/Heartbeat.h"

namespace vorn {

class TOrderItem;

class ILinkRequests : public ISubscriptionSender {
 public:
  // The codes of the order requests.
  static constexpr std::int32_t kAddOrder = 3301;
  static constexpr std::int32_t kAmendOrder = 3302;
  static constexpr std::int32_t kCancelOrder = 3303;
  static constexpr std::int32_t kOrderStatusQuery = 3304;

  // The order-id batch request on the host link.
  virtual void SendOrderIDsRequest() = 0;
  virtual void SendBandwidthReport(const TBandwidthReport& report) = 0;
  // Logs on again with the stored logon after the host link reconnected.
  virtual void LogOnAgain() = 0;
  // Builds the order request of that code (3301 add, 3302 amend, 3303 cancel, 3304 status
  // query) from the order and sends it on the host link through the order throttle, which may
  // sleep the calling thread. Call with no lock held. Exceptions of the build (a margin figure
  // that cannot be computed) pass to the caller.
  virtual void SendOrderRequest(std::int32_t code, const TOrderItem& order) = 0;
};

}  // namespace vorn
