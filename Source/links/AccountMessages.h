#pragma once
// The host's trader accounts, margin ratings, user messages, report types and reports, applied
// to the API object's lists on the host link's socket thread. Each kind has a tagged receiver
// (host codes) and, where the host still sends one, a fixed-width receiver (price-feed style
// codes at offset 0). Events are posted unless the initial download is in progress.
//
// Registrations (code -> receiver):
//   host 3679, 3680, 3681  ReceiveTraderAccount
//   host 3673, 3674, 3675  ReceiveMarginRating
//   host 3603              ReceiveUserMessage
//   price 30, 31           ReceiveLegacyTraderAccount
//   price 87               ReceiveLegacyMarginRating
//   price 2                ReceiveLegacyUserMessage
//   price 54, 55           ReceiveLegacyReportType
//   price 48               ReceiveLegacyReport
//
// Received texts are cut to the widths their fields have in the exported records (accounts,
// back-office ids and rating names 20, exchanges and commodities 10, contract dates 50, message
// sequences 10 and message texts 500). Deleted items leave their lists only: whoever still
// holds one keeps it alive.

#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// "TA" names the account (trimmed). An unlisted account is added whatever the code, except on
// 3681, which removes a listed account and otherwise changes nothing. Adds and updates post the
// trader event (37); a changed margin rating name drops the cached margin rates.
void ReceiveTraderAccount(TClassAPI& api, TFieldsList& fields);
// 30 adds, 31 updates; either adds an unlisted account and updates a listed one.
void ReceiveLegacyTraderAccount(TClassAPI& api, std::string_view body);

// 3673 and 3674 set the figures of a listed rating. 3673 adds an unlisted one when every
// reference it names (account, exchange, commodity, contract) is found; 3674 adds nothing.
// 3675 does nothing. Every change drops the cached margin rates.
void ReceiveMarginRating(TClassAPI& api, TFieldsList& fields);
// 87: as 3673.
void ReceiveLegacyMarginRating(TClassAPI& api, std::string_view body);

// 3603: a host alert, added once per sequence, with the message event (4). Its content then
// acts by its first letter: "Z" queues a UUID action for the UUID message thread ("Z?A?uuid":
// the third character is the action, the rest from the fifth the UUIDs), "P" purges.
void ReceiveUserMessage(TClassAPI& api, TFieldsList& fields);
// 2: a message with its own alert and status digits; the event is posted for an alert, or for
// any message while the notify-all-messages switch is on.
void ReceiveLegacyUserMessage(TClassAPI& api, std::string_view body);

// 54 adds and 55 removes the report type named at offset 4.
void ReceiveLegacyReportType(TClassAPI& api, std::string_view body);
// 48: one report text of a listed report type, made when missing.
void ReceiveLegacyReport(TClassAPI& api, std::string_view body);

}  // namespace vorn
