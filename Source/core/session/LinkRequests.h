#pragma once
// The requests the core sends on the links. The link layer builds and sends them and attaches
// itself to each API object before the object is published; without it nothing is sent.

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/refdata/Subscriptions.h"
#include "core/session/Heartbeat.h"
#include "vornintf.h"

namespace vorn {

class TOrderItem;

// A wholesale pair for its one request (3310): the two orders, read during the call only, and
// what the pair's kind adds to them. At most one of the three additions is given.
struct TWholesalePair {
  const TOrderItem& Primary;
  const TOrderItem& Secondary;
  // Crossing and block: the request carries leg fills at these prices when the primary's
  // contract has more than one leg.
  const LegPriceStruct* LegPrices = nullptr;
  // Basis: the record's four basis values go with each order.
  const BasisStruct* Basis = nullptr;
  // Against-actual: the two user names, in the order they are sent (one per order).
  bool AgainstActual = false;
  std::string_view FirstUser;
  std::string_view SecondUser;
};

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

  // Builds the wholesale request of a pair and sends it on the host link through the order
  // throttle, as SendOrderRequest does (same thread and lock rules, same failures).
  virtual void SendWholesaleRequest(const TWholesalePair& pair) = 0;

  // An order request taken from its order ahead of the send.
  class TPreparedOrderRequest {
   public:
    virtual ~TPreparedOrderRequest() = default;
  };
  // SendOrderRequest in two steps, so that the order need not be copied: Prepare takes what
  // the request needs from the order and may run under the order list's lock (it throws
  // nothing but allocation failures); Send, called once with no lock held, does the rest of
  // SendOrderRequest's work in its order (a failure of the build passes to its caller there).
  // The defaults keep a copy of the order and send it with SendOrderRequest.
  virtual std::unique_ptr<TPreparedOrderRequest> PrepareOrderRequest(std::int32_t code,
                                                                     const TOrderItem& order);
  // request: made by this object's PrepareOrderRequest.
  virtual void SendPreparedOrderRequest(TPreparedOrderRequest& request);
};

}  // namespace vorn
