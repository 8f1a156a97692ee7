#pragma once
// The host's replies about the session: handshake replies on both links.

#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// Host 3624 (trace name "TMHandshake.ReceiveFields"): the password-encryption key "EnT" while
// the API object has none; the host link's held-back Connected state after a reconnect.
void ReceiveHostHandshakeReply(TClassAPI& api, TFieldsList& fields);
// Price-feed 67 (trace name "TMHandshake.Receive"): the price link's held-back Connected state.
void ReceivePriceHandshakeReply(TClassAPI& api, std::string_view body);

}  // namespace vorn
