#pragma once
// A small market for the order road's tests and benchmarks:
//   exchanges  LIFFE (status queries enabled) and CME;
//   LIFFE FTSE (GBP, OnePoint 10, 4 ticks a point): future "MAR27", call option "JUN27 C6500";
//   LIFFE GILT (GBP, OnePoint 1000, 32 ticks a point): future "MAR27";
//   accounts "TRADER1" (tradable, loss limit 100000) and "VIEWER" (view only);
//   order types on LIFFE: LIMIT (2, one price), MARKET (1), STOPLIMIT (8, two prices),
//   SYNSTOP (6, one price), RFQI (47), AGGR (25, auto-created), PROTECT (134);
//   exchange rate GBP 1.0.

#include <cstdint>
#include <memory>

#include "core/refdata/ExchangeRate.h"
#include "core/session/ClassAPI.h"
#include "vornintf.h"

namespace vorn {

// Fills the API object's lists with the market above (throws when a contract is refused).
void AddTradingMarket(TClassAPI& api);
// Adds a commodity on LIFFE in GBP, its tick size one tick.
std::shared_ptr<TCommodity> AddTradingCommodity(TClassAPI& api, const char* name, double onePoint,
                                                std::int32_t ticksPerPoint);
// Adds the GBP exchange rate.
std::shared_ptr<TExchangeRate> AddTradingRate(TClassAPI& api, double rate);
// A limit buy of 1 lot of the future at "100" for TRADER1.
NewOrderStruct TradingLimitOrder();
// Adds an order type on LIFFE.
void AddTradingOrderType(TClassAPI& api, const char* name, std::int32_t typeID,
                         std::uint8_t pricesRequired);

}  // namespace vorn
