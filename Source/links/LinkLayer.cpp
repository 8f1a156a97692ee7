#include "links/LinkLayer.h"

#include <memory>

#include "core/session/ClassAPI.h"
#include "core/session/CurrentAPIMessageHost.h"
#include "core/wire/VornMessage.h"
#include "links/Connection.h"
#include "links/HostRequests.h"
#include "links/LogOn.h"
#include "links/OrderRequests.h"
#include "links/PriceRequests.h"
#include "links/WholesaleRequests.h"

namespace vorn {

void InstallLinkLayer() {
  if (!GetLinkFactory()) SetLinkFactory(MakeLink);
  InstallCurrentAPIMessageHost();
}

void AttachLinkLayer(TClassAPI& api) {
  api.LinkRequests = std::make_unique<TLinkRequests>(api);
}

bool TLinkRequests::Connected() {
  const auto link = api_.GetLink(psPriceFeed);
  return link && link->Connected();
}

bool TLinkRequests::SendPrice(TVornMessage& message) {
  const auto link = api_.GetLink(psPriceFeed);
  if (!link || !link->Connected()) return false;
  link->Send(message);
  return true;
}

bool TLinkRequests::SendPriceSubscription(int code, const TContractKey& contract) {
  TMPriceSubscription request(code, contract.Exchange, contract.Commodity, contract.ContractDate);
  return SendPrice(request);
}

bool TLinkRequests::SendMarketSubscription(int code, const TContractKey& commodity) {
  TMPriceSubscription request(code, commodity.Exchange, commodity.Commodity, {});
  return SendPrice(request);
}

bool TLinkRequests::SendBroadcastSubscription(int code, std::string_view exchange) {
  TMBroadcastSubscription request(code, exchange);
  return SendPrice(request);
}

void TLinkRequests::SendHandshake() {
  TMHandshake handshake(api_.Links.PriceHandshakePeriod, api_.Links.HostHandshakeValue);
  SendPrice(handshake);
}

void TLinkRequests::SendOrderIDsRequest() {
  TMOrderIDsRequest request;
  api_.SendOnLink(request, psHost);
}

void TLinkRequests::SendBandwidthReport(const TBandwidthReport& report) {
  TMMHUBBandWidthMonitor request(api_.UserName.Get(), report);
  api_.SendOnLink(request, psHost);
}

void TLinkRequests::LogOnAgain() {
  LogonStruct logon = StoredLogon(api_);
  DoLogOn(api_, logon, true);
}

void TLinkRequests::SendOrderRequest(std::int32_t code, const TOrderItem& order) {
  TMMHUBSendOrder request;
  request.BuildFields(api_, code, order);
  throttle_.Pass(ThrottleSettingsOf(api_));
  api_.SendOnLink(request, psHost);
}

void TLinkRequests::SendWholesaleRequest(const TWholesalePair& pair) {
  std::unique_ptr<TMMHUBSendWholesaleOrder> request =
      pair.LegPrices ? std::make_unique<TMMHUBSendWholesaleOrderWithLegs>()
                     : std::make_unique<TMMHUBSendWholesaleOrder>();
  request->BuildFields(api_, pair);
  request->WrittenFrame();  // an over-long body fails here, before the throttle
  throttle_.Pass(ThrottleSettingsOf(api_));
  api_.SendOnLink(*request, psHost);
}

namespace {

class TPreparedSendOrder : public ILinkRequests::TPreparedOrderRequest {
 public:
  TMMHUBSendOrder Request;
};

}  // namespace

std::unique_ptr<ILinkRequests::TPreparedOrderRequest> TLinkRequests::PrepareOrderRequest(
    std::int32_t code, const TOrderItem& order) {
  auto prepared = std::make_unique<TPreparedSendOrder>();
  prepared->Request.WriteTexts(code, order);
  return prepared;
}

void TLinkRequests::SendPreparedOrderRequest(TPreparedOrderRequest& prepared) {
  TMMHUBSendOrder& request = static_cast<TPreparedSendOrder&>(prepared).Request;
  request.WriteFigures(api_);
  throttle_.Pass(ThrottleSettingsOf(api_));
  api_.SendOnLink(request, psHost);
}

}  // namespace vorn
