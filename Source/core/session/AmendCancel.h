#pragma once
// Amend and cancel: the bodies behind vnAmendOrder, vnCancelOrder and the bulk cancels, callable
// without the export shell. The order list re-issues parked requests through them (by way of
// TAPIOrderSender) and the simulator amends through DoAmendOrder.
//
// An amend never edits the order's current version: it adds a changed copy (osAmendPending, a
// held order stays held) to the history and sends the amend request (3302). A cancel marks the
// current version CancelSent and sends the cancel request (3303); a held order gets a local
// osCancHeldOrder version instead. An order still in transit is parked on the amending list and
// the call returns 47; the order list sends the request once the order's next state arrives.
//
// The order list's lock is held for every look-up and change; requests are sent and events
// posted after it is released, so the order throttle never sleeps under it. An EListError gives
// 8, any other exception 99 (recorded under "vnAmendOrder" or "vnCancelOrder").

#include <cstdint>
#include <string>
#include <string_view>

#include "vornintf.h"

namespace vorn {

class TClassAPI;
class TOrderItem;

enum class TCancelSide : std::uint8_t { Buys = 1, Sells = 2, Both = 3 };

// The contract and account a bulk cancel selects from (texts as the caller gave them).
struct TCancelSelection {
  std::string Account;
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;
  TCancelSide Side = TCancelSide::Both;
};

// Amends the order for the user. Codes in check order: ready (4), empty list (10), unknown
// order (25), contract not permitted (48), unknown account at the record's TraderAccount (9),
// view-only account and the amend differs from the order (34), then by the order's state: 47
// parked, 24/29 prices and lots, 30 refused, 26 not amendable.
std::int32_t DoAmendOrder(TClassAPI& api, std::string_view id, const AmendOrderStruct& record,
                          std::string_view userName);

// Cancels the order's current version for the user: 25 unknown, 47 parked, 34 view-only
// account, 48 contract not permitted, else 0 (a closed order, or one cancelled already, is left
// as it is).
std::int32_t DoCancelOrder(TClassAPI& api, std::string_view id, std::string_view userName);

// vnCancelOrder: ready (4), host link (35), empty list (10), then DoCancelOrder.
std::int32_t CancelOrder(TClassAPI& api, std::string_view id, std::string_view userName);

// vnCancelBuys, vnCancelSells, vnCancelOrders: cancels every working order of the account on the
// contract on the selected side, nearest to the market first (ready 4, host link 35, empty list
// 10; an unknown contract or account cancels nothing and gives 0). With the user-ID filter on,
// only the user's own orders are taken. The single cancels' results are not returned.
std::int32_t CancelOrders(TClassAPI& api, const TCancelSelection& selection,
                          std::string_view userName);

// vnCancelAll / vnCancelAllEx (routine names the export in the trace): every working order of
// the account, nearest to the market first, cancelled for the user. The user-ID filter compares
// with the logged-on user.
std::int32_t CancelAll(TClassAPI& api, std::string_view account, std::string_view userName,
                       std::string_view routine);

// The amend record of an order version, as vnReParent and vnDoneForDay start from: every field
// an amend copies, as the version holds it (the trigger back in the record's local form), so
// that an amend with the record unchanged changes nothing.
AmendOrderStruct AmendRecordOf(const TOrderItem& order);

// 100 less the order's distance from the market in percent (the best bid for a buy, the best
// offer otherwise; 0 without one), as "0000000." with one decimal per character of the tick
// size's text beyond two. The higher the key, the nearer the market.
std::string MarketDistanceKey(const TOrderItem& order);

}  // namespace vorn
