#include "links/PriceRequests.h"

#include <utility>

#include "core/diag/Trace.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Version.h"
#include "links/FixedField.h"

namespace vorn {

TPriceFeedRequest::TPriceFeedRequest(int code, std::size_t bodyLength, const char* routine)
    : TVornMessage(FormatCode4(code)), body_(bodyLength, ' '), routine_(routine) {
  SetLength(static_cast<std::uint16_t>(bodyLength));
}

void TPriceFeedRequest::PutField(std::size_t offset, std::size_t width, std::string_view text) {
  PutFixedField(body_, offset, width, text);
}

void TPriceFeedRequest::FillBuffer(TDynamicBuffer& buffer) {
  TTraceScope scope(routine_);
  WriteFields();
  PutField(0, 4, Code());
  TVornMessage::FillBuffer(buffer);
  buffer.Write(body_.data(), static_cast<std::int32_t>(body_.size()));
}

// ---------------------------------------------------------------------------------------------

TMHandshake::TMHandshake(std::int32_t interval, std::int32_t hostHandshakeValue)
    : TPriceFeedRequest(kCode, kBodyLength, "TMHandshake.FillBuffer") {
  PutField(4, 6, IntToStr(interval));
  // "s" alone is the seconds again, without a leading zero.
  PutField(10, 23, FormatDateTime("yyyy-mm-dd hh:mm:ss.s", Now()));
  PutField(136, 10, IntToStr(hostHandshakeValue));
}

void TMHandshake::Send() {
  if (IMessageHost* host = GetMessageHost()) host->SendOnLink(*this, true);
}

// ---------------------------------------------------------------------------------------------

TMPriceSynchronise::TMPriceSynchronise(TPriceLogonSettings settings)
    : TPriceFeedRequest(kCode, kBodyLength, "TMPriceSynchronise.FillBuffer"),
      settings_(std::move(settings)) {}

void TMPriceSynchronise::WriteFields() {
  PutField(4, 4, "2");
  PutField(8, 4, "10");
  if (settings_.TickerRegistered) {
    PutField(12, 8, "PRICE");
    AddTraceEntry(tlNote, "TMPriceSynchronise.FillBuffer", "Real Time Prices enabled");
  } else {
    PutField(12, 8, "VORNAPI");
    AddTraceEntry(tlNote, "TMPriceSynchronise.FillBuffer", "Throttled Prices Enabled");
  }
  PutField(20, 6, settings_.TestEnvironment ? "TEST" : "LIVE");
  PutField(26, 6, IntToStr(settings_.HandshakePeriod));
  PutField(32, 1, settings_.DOMEnabled ? "Y" : "N");
  PutField(33, 1, "Y");
  PutField(34, 1, "N");
  PutField(35, 1, "2");
  PutField(42, 10, settings_.UserName);
  PutField(52, 25, std::string(kProductVersion) + ":" + kPrivateBuild);
  PutField(77, 50, settings_.MDSToken);
}

// ---------------------------------------------------------------------------------------------

TMPriceSubscription::TMPriceSubscription(int code, std::string_view exchange,
                                         std::string_view commodity, std::string_view contractDate)
    : TPriceFeedRequest(code, kBodyLength, "TMPriceSubscription.FillBuffer") {
  PutField(4, 10, exchange);
  PutField(14, 10, commodity);
  PutField(24, 50, contractDate);
}

std::unique_ptr<TMPriceSubscription> TMPriceSubscription::CreateForContract(
    int code, const TContractItem& contract) {
  const std::shared_ptr<TCommodity> commodity = contract.GetCommodity();
  if (!commodity) {
    return std::make_unique<TMPriceSubscription>(code, contract.ExchangeStr(),
                                                 contract.CommodityStr(), contract.ContractDate());
  }
  return std::make_unique<TMPriceSubscription>(code, commodity->ExchangeName(), commodity->Name(),
                                               contract.ContractDate());
}

std::unique_ptr<TMPriceSubscription> TMPriceSubscription::CreateForMarket(
    int code, const TCommodity& commodity) {
  return std::make_unique<TMPriceSubscription>(code, commodity.ExchangeName(), commodity.Name(),
                                               std::string_view());
}

// ---------------------------------------------------------------------------------------------

TMBroadcastSubscription::TMBroadcastSubscription(int code, std::string_view exchange)
    : TPriceFeedRequest(code, kBodyLength, "TMBroadcastSubscription.FillBuffer") {
  PutField(4, 10, exchange);
}

}  // namespace vorn
