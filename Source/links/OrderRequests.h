#pragma once
// The order requests to the host: add (3301), amend (3302), cancel (3303) and order status
// query (3304), each a tagged body built from one order state. The order throttle in front of
// the host link is applied by the sender (TLinkRequests::SendOrderRequest), which owns it per
// API object.

#include <cstdint>

#include "core/session/LinkRequests.h"
#include "core/wire/VornMessage.h"

namespace vorn {

class TClassAPI;
class TOrderItem;

class TMMHUBSendOrder : public TSendHostMessage {
 public:
  static constexpr std::int32_t kAddOrder = ILinkRequests::kAddOrder;
  static constexpr std::int32_t kAmendOrder = ILinkRequests::kAmendOrder;
  static constexpr std::int32_t kCancelOrder = ILinkRequests::kCancelOrder;
  static constexpr std::int32_t kOrderStatusQuery = ILinkRequests::kOrderStatusQuery;

  // Fills the request of that code from the order: "Msg" and the add or amend fields, "OID"
  // and "EID" for a cancel or status query, "Msg" alone for any other code. Empty values are
  // left out. The add and amend requests carry the account's P/L and margin requirement with
  // this order, and in margin mode, for an option, the premium of one lot; they throw when the
  // order has no contract or no trader account (an order restored from the store whose
  // references are gone), and pass on any failure of the margin figures. With Debugging on it
  // ends with the "Build Order: " trace. Call once, with no list lock held.
  void BuildFields(TClassAPI& api, std::int32_t code, const TOrderItem& order);
};

}  // namespace vorn
