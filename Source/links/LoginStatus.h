#pragma once
// The host's replies about the session: the logon reply in its tagged and fixed-width forms,
// the forced logout, the handshake replies on both links and the batches of pre-allocated
// order ids. Every receiver runs on the socket thread of the link that received the body.

#include <cstdint>
#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;
struct THostFeatures;

// Host 3625 (accepted) and 3626 (status in "Sts"; trace name "TMLoginStatus.ReceiveFields").
// Only a status of exactly 1 is an acceptance; the status is stored as its low byte. A refusal
// with status 0 or 2 posts the forced logout (6) and sets the logged-on flag; any refusal while
// the flag is set stops both links. An acceptance sets the session texts, the feature flags
// from "Flg", records the logon and deletes "logon.dat". The logon status event (3) comes last.
void ReceiveLoginStatus(TClassAPI& api, TFieldsList& fields);
// Price-feed 69 (trace name "TMLoginStatus.Receive"): the fixed-width form of the same reply.
void ReceiveLegacyLoginStatus(TClassAPI& api, std::string_view body);
// Host 3627 (trace name "TMForcedLogout.ReceiveFields"): posts the forced logout (6) and stops
// both links; nothing reconnects until the next vnInitialise.
void ReceiveForcedLogout(TClassAPI& api, TFieldsList& fields);

// Host 3624 (trace name "TMHandshake.ReceiveFields"): the password-encryption key "EnT" while
// the API object has none; the host link's held-back Connected state after a reconnect.
void ReceiveHostHandshakeReply(TClassAPI& api, TFieldsList& fields);
// Price-feed 67 (trace name "TMHandshake.Receive"): the price link's held-back Connected state.
void ReceivePriceHandshakeReply(TClassAPI& api, std::string_view body);

// Host 3622 (trace name "TMPreAllocatedOrderIDs.ReceiveFields"): appends every non-empty "OID"
// to the pool, stores "Sts" as the pool's status, releases the orders waiting for an id and
// asks for more ids when fewer than six are left.
void ReceivePreAllocatedOrderIDs(TClassAPI& api, TFieldsList& fields);

}  // namespace vorn
