#pragma once
// Moving a price by a whole number of ticks in the notation exchange prices are written in.

#include <cstdint>

namespace vorn {

// The price moved by numTicks ticks (negative moves down). ticksPerPoint picks the notation:
//  - 800: whole points, two digits of 100ths in 400ths and the rest in tickSize units
//    (99.1225 with tick size 0.0025 is 99 + 49/400);
//  - 128: 32nds and a quarter digit 0/2/5/7 (99.162 is 99 + 16.25/32); tickSize is not used;
//  - a power of ten: a decimal price, price + numTicks x tickSize;
//  - any other: the fraction digits count ticks of tickSize (99.31 with 32 ticks per point and
//    tick size 0.01 is 99 + 31/32).
// The fraction digits are those of the price's general text (15 significant digits), so 99.1
// reads as 99.10. A negative tick size steps the other way in the 400ths and the other-base
// notations. A negative price steps as the mirror of its magnitude (-99.16 up one 32nd is
// -99.15).
//
// Arguments the notation cannot step give the price unchanged: a non-finite price or tick size,
// ticks per point below 1, a tick size of 0 in 400ths, in another base a tick size of less than
// one fraction digit or of more digits than ticksPerPoint, a tick count beyond 2^53, or a
// result that is not finite. Pure; any thread.
double PriceStep(double price, double tickSize, std::int32_t numTicks,
                 std::int32_t ticksPerPoint) noexcept;

}  // namespace vorn
