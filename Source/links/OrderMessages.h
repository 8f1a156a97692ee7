#pragma once
// The host's order messages (TMOrder): each describes one state of one order. A new order item
// is built from the message, its trader account, contract and order type are resolved, and it
// is handed to the order-state rules of the order list; the order event (5) follows. Around that:
// the cancel watch list, repeated messages dropped, the order's contract held as a positional
// contract with a price subscription, confirmation and alert user messages, the trader
// account's margin orders, and order-detail downloads filed as trade reports.
//
// Registrations (code -> receiver):
//   host 3601        ReceiveOrder        (tagged, host link)
//   price 70 to 79   ReceiveLegacyOrder  (fixed width, price-feed link)
//
// Both run on the socket thread of the link that received the message; they read the body only
// through the parsed field list or the bounded fixed-width readers, never past its end. During
// the initial download no order (5) or message (4) event is posted and no cancel watch entry
// is made.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/trading/OrderItem.h"

namespace vorn {

class TClassAPI;
class TContractItem;
class TFieldsList;

// Host 3601. "Flg" says what the message is: 3 a state of the order's amend history (added
// behind the current state, no rules), 4 a state of an order-detail download (filed in the trade
// report of the day "TrD", not kept in the order list), anything else an order update (the
// order-state rules).
void ReceiveOrder(TClassAPI& api, TFieldsList& fields);
// Price-feed 70 to 79: 74 first matches the order to a queued local order, 79 adds to the
// amend history, the others go through the order-state rules.
void ReceiveLegacyOrder(TClassAPI& api, std::string_view body);

// The text after "QUOTEID" and one separator, up to the next '|' or the end; empty without the
// keyword (a keyword at the very end gives the empty text).
std::string QuoteIDOf(std::string_view bigRefField);
// The integer after "TIMEOUT" found the same way; 0 when absent or not a number.
std::int32_t TimeOutOf(std::string_view bigRefField);

// Confirms a state the host received for the order as a local user message ("Order received by
// host for ", "Cancellation received by host for order ", "Amendment received by host for
// order ", else "Fill received for order "), numbered by the next local message sequence. With
// the notify-all-messages switch on and no download in progress the message event follows.
// A sequence already listed is traced and nothing is added.
void SendConfirmMsg(TClassAPI& api, std::string_view orderID, TOrderStatus status);
// An alert about the order: suppressed (alSuppress) when the text starts "*:*:" or the flags
// carry 16. Its content is the text without an order type; "RFQ submitted to Market " + id for
// the request-for-quote types (15, 47, 48); the text for type 24 when it says "submitted";
// otherwise "Order ID: " + id + the state's word + " rejected due to " + text. Nothing for a
// status osIllegal, or when the sequence is already listed. The message event follows unless a
// download is in progress.
void SendAlertToUser(TClassAPI& api, std::string_view orderID, std::string_view text,
                     TOrderStatus status, std::int32_t flags, const TOrderTypeItem* orderType);

// The price subscription the library takes itself for a contract it holds positions or orders
// in: as the price-subscription export with the contract in hand. 4 when not logged on, 48 when
// the user may not see the contract, else 0 with one price subscriber counted.
std::int32_t SubscribePositionalPrice(TClassAPI& api, const TContractItem& contract);
// A contract named by an order, fill or position message is held as a positional contract: it
// is marked positional, made a forced subscription when forced, and its prices are subscribed.
// With TraceAppCalls on, the result is traced under exchange\commodity\contract date as the
// message names them.
void HoldPositionalContract(TClassAPI& api, TContractItem& contract, bool forced,
                            std::string_view exchange, std::string_view commodity,
                            std::string_view contractDate);

}  // namespace vorn
