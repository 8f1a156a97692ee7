#pragma once
// The wholesale request (3310) that carries a pair of orders to the host in one body: both
// orders' fields as occurrences 1 (primary) and 2 (secondary) of group 2, and, for a crossing or
// block pair on a contract of more than one leg, the leg fills as a second repeating group
// (group 0) written after them. The order throttle in front of the host link is applied by the
// sender (TLinkRequests::SendWholesaleRequest), as for the single order requests.
//
// A request is built and sent on one thread (the exporting call's), with no list lock held:
// the account figures take the lists' locks themselves.

#include <string>
#include <string_view>

#include "core/session/LinkRequests.h"
#include "core/wire/VornMessage.h"

namespace vorn {

class TClassAPI;

// The plain form (basis and against-actual pairs).
class TMMHUBSendWholesaleOrder : public TSendHostMessage {
 public:
  static constexpr const char* kCode = "3310";
  static constexpr int kOrderGroup = 2;

  TMMHUBSendWholesaleOrder();

  // "Msg" and both orders' fields; a basis pair adds the basis record's four values to each
  // order, an against-actual pair each order's user ("AUs"). Throws, adding nothing of use,
  // when an order has no contract, trader account or order type; passes on any failure of the
  // margin and premium figures. Call once, with no list lock held.
  virtual void BuildFields(TClassAPI& api, const TWholesalePair& pair);

  // The frame, composed on first use and kept. Throws ERangeError when the body exceeds
  // kMaxBodyLength.
  std::string_view WrittenFrame() override;
  void FillBuffer(TDynamicBuffer& buffer) override;

 protected:
  // Appends what follows the orders' group to the body (nothing here).
  virtual void AppendAfterOrders(std::string& body) const;

 private:
  std::string frame_;
};

// The form with leg fills (crossing and block pairs).
class TMMHUBSendWholesaleOrderWithLegs : public TMMHUBSendWholesaleOrder {
 public:
  static constexpr int kFillGroup = 0;
  static constexpr const char* kFillType = "52";

  // As the plain form, then, when the primary's contract has more than one leg (at most 16
  // are read), a buyer's and a seller's fill per leg at the pair's leg price for that leg
  // ("FNo" counting 1, 2, ... across them). Each value sits at its fill's occurrence, so a
  // blank leg price leaves only its own fills without "Pr". Throws when the pair has no leg
  // prices or a leg has no contract.
  void BuildFields(TClassAPI& api, const TWholesalePair& pair) override;

  // The leg fills, written after the orders' group.
  TFieldsSendList LegFills;

 protected:
  void AppendAfterOrders(std::string& body) const override;
};

}  // namespace vorn
