#pragma once
// The price feed's fixed-width messages, applied to the contracts' price tables, depth lists and
// status, and the events they post.
//
// Registrations (code -> receiver):
//   price 84        TMPriceArray::Receive
//   price 56        TMDOM::Receive
//   price 65        TMVarDOM::Receive
//   price 57        TMAtBest::Receive
//   price 807       TMSubscriberDepth::Receive
//   price 810       TMGenericPrice::Receive
//   price 806       TMBlankPrices::Receive
//   price 85, 86    TMSettlementPrice::Receive
//   host 3688       TMSettlementPrice::ReceiveFields  (tagged)
//   price 340       TMConnectivityStatus::Receive
//   price 314, 345  TMBroadcastMsg::Receive
//
// Threads and locks: the price receivers run on the price link's socket thread, the tagged
// settlement on the host link's. They are called with no lock held. A body is read whole first
// (every field through the bounded readers, never past its end), then written: each write takes
// the contract's price lock for itself alone, and no lock is held while an event is posted or
// held synthetic orders are checked. Data is stored (or cleared) before the event that
// announces it is posted.
//
// Events: none is posted while the initial download is in progress, and those of price writes
// only when a write changed what the table held: an identical body posts nothing. Prices are
// written whatever the download flag says.
//
// A contract is found by its trimmed exchange (offset 4, 10 characters), commodity (14, 10) and
// contract date (24, 50); a body for a contract that is not listed changes nothing.

#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// Price array (84). A status flag '1' (offset 93) with a blank contract date is a status for
// every contract of the exchange (and commodity, when one is named): each whose status differs
// takes it, with the status event (10) for those price-subscribed; nothing during the download.
// Otherwise the contract's bid (0), offer (1), last trade (5, unless it repeats the stored last
// price, last volume and total volume; "EUREX" keeps the stored last volume), high (26), low
// (27), kinds 28, 29 (only when not 0), 25 and 2-4 are written, and with the status flag its
// status (event 10 on a change). A changed last trade on a contract with held synthetic orders
// releases those it triggers. Then the ticker (17) and price (8) events, and last the snapshot
// waiters of the contract are answered (also during the download).
struct TMPriceArray {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Depth of market (56), only while the host grants it: bid levels 1-10 to kinds 30-39, offer
// levels to 50-59, level 1 to the bid (0) while no price array has written the bid, and the last
// trade (record 20) when its volume is above 0, no price array has written the last trade (or
// the exchange is "EUREX") and it differs from the stored one. Ticker (17) and depth (21) events.
struct TMDOM {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Variable depth of market (65): bid count (offset 149) and offer count (151) levels from the
// records at 153, the offers after the bids; the offer count is cut so that both together name
// at most the 20 records the body holds. Every other level of kinds 30-69 is emptied; each kind
// is written once. The bid (0) is never written; the last trade as for 56, from record 20 (573).
struct TMVarDOM {
  static void Receive(TClassAPI& api, std::string_view body);
};

// At best (57): the at-best prices, last buyer and seller, and the entries (15 characters each
// from offset 105) lying wholly inside the body, those with a volume above 0. A list equal to
// the stored one changes nothing; otherwise it is stored and the at-best event (16) follows.
struct TMAtBest {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Subscriber depth (807): the entries (25 characters each from offset 77) lying wholly inside
// the body, those with a volume above 0; stored and the subscriber-depth event (19) as for 57.
struct TMSubscriberDepth {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Generic price (810), for a contract the user is permitted: type 26 levels 1-4 to generic
// entries 1-4, type 27 to entries 5-8 (event 26); type 28 level 1 to kind 78, 2 to 79, 3 to both
// (event 8). A level outside those stores nothing. Unknown contracts, contracts not permitted
// and other types are traced.
struct TMGenericPrice {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Price blanking (806): kinds 0-4 and 30-69 emptied for the named contract, or for every
// price-subscribed contract of the named commodity or exchange; then the blank-prices event (27)
// with the names given. Names that are not found are traced.
struct TMBlankPrices {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Settlement prices. A body of exactly 99 characters (85/86) is the contract's kind 29 (price
// event 8 on a change) and settlement type 0. Otherwise type 7 goes to kind 75, 25 to 76 and 24
// to 77, stored also during the download; 33-38 store nothing. The settlement event (22)
// follows unless the download is in progress or the type is 23.
struct TMSettlementPrice {
  // 85 and 86: price (74, 11), date (85, 8), time (93, 6), type (99, 2); other types traced.
  static void Receive(TClassAPI& api, std::string_view body);
  // Host 3688: "Ex", "C", "CD", type "PT", price "Pr"; the event's date and time are "0".
  static void ReceiveFields(TClassAPI& api, TFieldsList& fields);
};

// Connectivity status (340): ten fields of exact widths; a body shorter than the layout (546
// bytes), a NUL in any field, or field 2, 3 or 4 reading 0 drops the message. Otherwise the
// connectivity event (14).
struct TMConnectivityStatus {
  static void Receive(TClassAPI& api, std::string_view body);
};

// Broadcast text (314, 345): a user message "exchange: text" numbered by the next local message
// sequence, with the message event (4) while the notify-all-messages switch is on.
struct TMBroadcastMsg {
  static void Receive(TClassAPI& api, std::string_view body);
};

}  // namespace vorn
