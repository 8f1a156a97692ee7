#pragma once
// Number, price and time conversions used throughout the client library to read wire texts,
// tick-notation prices and order times. They hold no state.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vorn {

// Host number texts: blanks and control characters around the text are ignored, a trailing
// '-' negates the value ("12-" is -12), '.' is the decimal separator in any locale. A text that
// is not a number gives the default, as given (never negated).
double SafeStrToFloat(std::string_view text, double def);
std::int32_t SafeStrToInt(std::string_view text, std::int32_t def);

// A lot count saturated to the 32-bit range instead of wrapping: no real position or order
// holds 2^31 lots, but a corrupt or hostile message must not overflow one.
std::int32_t SaturatedLots(std::int64_t lots);

// The price before the first '*' (0 when that part is empty), cut to the decimals of the tick
// grid: ticks per point 4 keeps one decimal, 32 and 100 two, 800 three (halves to even).
double PriceStrToFloat(std::string_view text, std::int32_t ticksPerPoint);

// A price in tick notation ("101.16" with 32 ticks per point is 101 and 16/32) as a decimal
// value. Ticks per point of 1 or less or a power of ten from 10 to 1000000 leave it unchanged.
// With 800 ticks per point the last digit 2, 4 or 6 adds half, one or one and a half ticks.
double TickNotationToDecimal(std::int32_t ticksPerPoint, double price);
// first - second, both in tick notation, as a decimal value.
double TickNotationDifference(std::int32_t ticksPerPoint, double first, double second);

// Local time -> UTC (toUTC) or UTC -> local time, with the offset in force at that date-time.
// The result is exact to the millisecond. A NaN, infinite or out-of-range value is returned
// unchanged.
TDateTime ConvertTimeZone(bool toUTC, TDateTime value);

// Zero-fills the record; returns 0.
int ZeroRecord(void* record, std::size_t size);

// Ids of the start-of-day ("OP,account,exchange,commodity,contract date") and end-of-day
// ("CL,account,commodity,contract date") position fills. The account comes first, so two
// accounts' positions on one contract never share a fill.
std::string MakeSODFillID(std::string_view account, std::string_view exchange,
                          std::string_view commodity, std::string_view contractDate);
std::string MakeEODFillID(std::string_view account, std::string_view commodity,
                          std::string_view contractDate);

// An order's strategy legs and leg price texts, 16 of each.
using StrategyLegRecord = std::array<char, 78>;
using LegPriceText = std::array<char, 21>;
inline constexpr int kStrategyLegCount = 16;

// Zero the caller's record, then copy entry `index` into it when the index is 0 to 15.
void GetStrategyLeg(int index, const std::array<StrategyLegRecord, kStrategyLegCount>& legs,
                    void* out);
void GetLegPrice(int index, const std::array<LegPriceText, kStrategyLegCount>& prices, char* out);

}  // namespace vorn
