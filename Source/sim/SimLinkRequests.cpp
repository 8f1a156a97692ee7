#include "sim/SimLinkRequests.h"

#include "core/session/ClassAPI.h"
#include "core/trading/OrderItem.h"
#include "links/OrderRequests.h"
#include "sim/AutoDemo.h"

namespace vorn::sim {

bool TSimLinkRequests::Connected() {
  return api_.LinkConnected(psPriceFeed);
}

bool TSimLinkRequests::SendPriceSubscription(int, const TContractKey&) {
  return true;
}

bool TSimLinkRequests::SendMarketSubscription(int, const TContractKey&) {
  return true;
}

bool TSimLinkRequests::SendBroadcastSubscription(int, std::string_view) {
  return true;
}

void TSimLinkRequests::SendOrderRequest(std::int32_t code, const TOrderItem& order) {
  TMMHUBSendOrder request;
  request.BuildFields(api_, code, order);
  if (code != kOrderStatusQuery) return;
  if (const auto demo = CurrentAutoDemo()) demo->AdvanceQueriedOrder(order.ID);
}

}  // namespace vorn::sim
