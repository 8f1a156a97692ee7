#pragma once
// The requests the core sends on the links. The link layer builds and sends them and attaches
// itself to each API object before the object is published; without it nothing is sent.

#include "core/Heartbeat.h"
#include "core/Subscriptions.h"

namespace vorn {

class ILinkRequests : public ISubscriptionSender {
 public:
  // The order-id batch request on the host link.
  virtual void SendOrderIDsRequest() = 0;
  virtual void SendBandwidthReport(const TBandwidthReport& report) = 0;
  // Logs on again with the stored logon after the host link reconnected.
  virtual void LogOnAgain() = 0;
};

}  // namespace vorn
