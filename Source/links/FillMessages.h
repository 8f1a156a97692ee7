#pragma once
// The host's fill messages (TMFill): each reports one fill. The fill is found in the fill list
// under its key (the fill id, prefixed for netted and retained fills) or made, its fields are
// written, and a new fill is listed and applied to the positions once; the fill event (9)
// follows for every accepted message outside the initial download.
//
// Registrations (code -> receiver):
//   host 3602    ReceiveFill        (tagged, host link)
//   price 80     ReceiveLegacyFill  (fixed width, price-feed link)
//
// Both run on the socket thread of the link that received the message and read the body only
// through the parsed field list or the bounded fixed-width readers. Every received text is kept
// cut to the width of its fill-record field (a fill id to 70 characters). The look-up, the
// update of a listed fill and the listing of a new one happen under the order list's and the
// fill list's locks, so readers copying fills never see one half written.

#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// Host 3602. A blank "FID" or an unknown contract changes nothing. The contract is held as a
// positional contract with a forced price subscription. A new fill, or a repeated one with a
// different "GUID", joins its UUID group, its order's members and its belongs-to list; a repeated
// fill without a "GUID" keeps its UUID. A new fill is recorded on its account (traded contract;
// the margin entry of an external fill), netted into the position, and counted on its order; an
// account that is not found is traced and its steps are skipped. Outside the download, a fill
// whose type gives an order-id text other than "ILLEGAL" is confirmed by a user message and
// posts the fill event.
void ReceiveFill(TClassAPI& api, TFieldsList& fields);
// Price-feed 80: the same with the fixed-width fields, without the price subscription, the UUID,
// the margin entry and the confirmation message.
void ReceiveLegacyFill(TClassAPI& api, std::string_view body);

}  // namespace vorn
