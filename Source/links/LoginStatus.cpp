#include "links/LoginStatus.h"

#include <string>

#include "core/ClassAPI.h"
#include "core/FieldsList.h"
#include "core/Trace.h"
#include "links/FixedField.h"

namespace vorn {

void ReceiveHostHandshakeReply(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMHandshake.ReceiveFields");
  const std::string key = fields.GetFieldValue("EnT", 0);
  if (api.GetEncryption().empty()) api.SetEncryption(key.empty() ? TClassAPI::kDefaultEncryption : key);
  if (const auto link = api.GetLink(psHost)) link->HandshakeReplyReceived();
}

void ReceivePriceHandshakeReply(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMHandshake.Receive");
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Handshake: " + std::string(GetFixedField(body, 136, 10)));
  if (const auto link = api.GetLink(psPriceFeed)) link->HandshakeReplyReceived();
}

}  // namespace vorn
