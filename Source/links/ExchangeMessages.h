#pragma once
// The host's exchange, order type and exchange rate messages, in their tagged form (host codes)
// and their fixed-width form (price-feed style codes), applied to the API object's lists. Each
// receiver runs on the socket thread of the link that received the body and posts its event
// unless the download is in progress.
//
// Received names are trimmed and cut to the widths of the records that hand them out: exchange
// and order type names and currencies 10 characters, an order type's ticket type 2.
//
// Registrations (code -> receiver):
//   host 3664, 3665, 3666   ReceiveExchange
//   host 3667, 3668, 3669   ReceiveOrderType
//   host 3661, 3662, 3663   ReceiveExchangeRate
//   price 46, 47            ReceiveLegacyExchange
//   price 58, 59, 60        ReceiveLegacyOrderType
//   price 52, 53            ReceiveLegacyExchangeRate

#include <cstddef>
#include <string_view>

namespace vorn {

class TClassAPI;
class TFieldsList;

// 3664 add, 3665 update, 3666 ignored ("TMExchange.ReceiveFields"). The exchange "Ex" is found
// or made; one without a UUID yet counts as an add, joins the UUID groups and writes its UUID
// log line. Posts the exchange event (31). While the OMI switch is on, the exchange also gets
// the order types "CustReq" (26) and "AggOrder" (25) when it has none of that name.
void ReceiveExchange(TClassAPI& api, TFieldsList& fields);
// 46 adds (found or made, with QueryEnabled for "Eurex", "XEurex" and "Liffe") and posts the
// exchange event; 47 removes the exchange ("TMExchange.Receive").
void ReceiveLegacyExchange(TClassAPI& api, std::string_view body);

// 3667 add, 3668 update, 3669 ignored ("TMOrderType.ReceiveFields"). "CustReq" and "AggOrder"
// are dropped while the OMI switch is off. The capability ids 22, 23 and 42-45 set flags of the
// exchange (found or made) and add no order type. A new order type is added only for a listed
// exchange; a listed one takes DatesRequired, PricesRequired and RealSynthetic from 3668 only.
// Posts the order type event (38) for the listed order type.
void ReceiveOrderType(TClassAPI& api, TFieldsList& fields);
// 58 add, 59 update, 60 ignored ("TMOrderType.Receive"): type id (4, 3), exchange (7, 10),
// name (17, 10), then one digit each for PricesRequired (27), VolumesRequired (28) and
// DatesRequired (29). Ids 22 and 23 set the exchange's StrategyCreator only.
void ReceiveLegacyOrderType(TClassAPI& api, std::string_view body);

// 3661 adds an unlisted currency, 3662 changes the rate of a listed one (both post the exchange
// rate event, 13), 3663 removes it ("TMExchangeRate.ReceiveFields").
void ReceiveExchangeRate(TClassAPI& api, TFieldsList& fields);
// 52 and 53: currency (4, 10), rate (14, 10); added or changed, then the event
// ("TMExchangeRate.Receive").
void ReceiveLegacyExchangeRate(TClassAPI& api, std::string_view body);

}  // namespace vorn
