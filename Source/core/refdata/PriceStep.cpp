#include "core/refdata/PriceStep.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/util/NumberText.h"

namespace vorn {
namespace {

// Every tick count is exact as a double and leaves room for the rebuilds' multiplications.
constexpr double kMaxTickCount = 9007199254740992.0;  // 2^53

// A step's way of saying "give the price back unchanged".
constexpr double kUnchanged = std::numeric_limits<double>::quiet_NaN();

// A price as its general text (15 significant digits) writes it: the whole part and the
// fraction digits, both as magnitudes, with the sign apart.
struct TPriceText {
  double sign = 1;
  double whole = 0;
  char head[3] = {'0', '0', '0'};  // the first three fraction digits, right-padded with '0'
  double fraction = 0;             // 0.d1 d2 d3 ...
  double tail = 0;                 // 0.d3 d4 ..., the digits after the second
};

// "0." and the digits, read back as a number.
double ReadFraction(std::string_view digits) {
  if (digits.empty()) return 0;
  char text[kFloatTextSize + 2] = {'0', '.'};
  std::copy(digits.begin(), digits.end(), text + 2);
  double value = 0;
  TryStrToFloat(std::string_view(text, digits.size() + 2), value);
  return value;
}

TPriceText ReadPriceText(double price) {
  TPriceText p;
  char buffer[kFloatTextSize];
  std::string_view text = FloatToStr(price, buffer);
  if (text.front() == '-') {
    p.sign = -1;
    text.remove_prefix(1);
  }
  const std::size_t exponent = text.find('E');
  if (exponent != std::string_view::npos) {
    if (text[exponent + 1] == '-') {
      // Below 0.0001: no whole part and four leading zero digits.
      TryStrToFloat(text, p.fraction);
      p.tail = p.fraction * 100;
    } else {
      p.whole = std::trunc(std::fabs(price));  // from 1E15 up there are no fraction digits
    }
    return p;
  }
  // The whole part comes from the text too: 99.99999999999999 writes as "100" and is 100.
  const std::size_t point = std::min(text.find('.'), text.size());
  for (const char c : text.substr(0, point))
    p.whole = p.whole * 10 + (c - '0');
  if (point == text.size()) return p;
  const std::string_view digits = text.substr(point + 1);
  std::copy_n(digits.begin(), std::min<std::size_t>(digits.size(), 3), p.head);
  p.fraction = ReadFraction(digits);
  p.tail = ReadFraction(digits.substr(std::min<std::size_t>(digits.size(), 2)));
  return p;
}

int Digit(char c) {
  return c - '0';
}

// Halves to even, whatever rounding mode the calling process has set.
double RoundHalfEven(double value) {
  const double whole = std::trunc(value);
  const double rest = std::fabs(value - whole);
  const double away = whole + std::copysign(1.0, value);
  if (rest < 0.5) return whole;
  if (rest > 0.5) return away;
  return std::fmod(whole, 2.0) == 0 ? whole : away;
}

// The rounded tick count plus the step; false when the count is out of range.
bool CountTicks(double ticks, std::int64_t step, std::int64_t& count) {
  const double rounded = RoundHalfEven(ticks);
  if (!(std::fabs(rounded) <= kMaxTickCount)) return false;
  count = static_cast<std::int64_t>(rounded) + step;
  return true;
}

// 800 ticks per point: 400ths of a point, written as two digits of 100ths (40 and 4 each) and
// the rest in tick-size units.
double StepFourHundredths(const TPriceText& p, double tickSize, std::int64_t step) {
  if (tickSize < 0) {
    tickSize = -tickSize;
    step = -step;
  }
  if (tickSize == 0) return kUnchanged;
  const double own =
      40.0 * Digit(p.head[0]) + 4.0 * Digit(p.head[1]) + p.tail / (tickSize * 100);
  std::int64_t ticks = 0;
  if (!CountTicks((400 * p.whole + own) * p.sign, step, ticks)) return kUnchanged;
  const std::int64_t whole = ticks / 400;
  std::int64_t rest = ticks - 400 * whole;
  const std::int64_t tenths = rest / 40;
  rest %= 40;
  const std::int64_t hundredths = rest / 4;
  rest %= 4;
  return static_cast<double>(whole * 100 + tenths * 10 + hundredths) / 100 +
         static_cast<double>(rest) * tickSize;
}

// 128 ticks per point: 32nds in the first two digits and a quarter in the third, written
// 0, 2, 5 or 7; any other third digit counts as 0.
double StepThirtySeconds(const TPriceText& p, std::int64_t step) {
  static constexpr int kQuarterDigit[4] = {0, 2, 5, 7};
  int quarter = 0;
  for (int q = 0; q < 4; ++q)
    if (p.head[2] == '0' + kQuarterDigit[q]) quarter = q;
  const double own = 4.0 * (10 * Digit(p.head[0]) + Digit(p.head[1])) + quarter;
  std::int64_t ticks = 0;
  if (!CountTicks((128 * p.whole + own) * p.sign, step, ticks)) return kUnchanged;
  const std::int64_t whole = ticks / 128;
  const std::int64_t rest = ticks - 128 * whole;  // takes the sign of ticks, as the whole does
  const std::int64_t thirtySeconds = rest / 4;
  const std::int64_t quarters = rest % 4;
  const std::int64_t quarterDigit =
      quarters < 0 ? -kQuarterDigit[-quarters] : kQuarterDigit[quarters];
  return static_cast<double>(whole * 1000 + thirtySeconds * 10 + quarterDigit) / 1000;
}

// Any other ticks per point: the fraction digits count ticks of tickSize, in base B, the power
// of ten above ticksPerPoint.
double StepOtherBase(const TPriceText& p, double tickSize, std::int64_t step,
                     std::int32_t ticksPerPoint) {
  if (tickSize < 0) {
    tickSize = -tickSize;
    step = -step;
  }
  double base = 1;
  while (base <= ticksPerPoint)
    base *= 10;
  // Truncated as a binary product, as the notation has always been read: a tick size of 0.29
  // in base 100 counts 28 digits per tick (0.29 x 100 is 28.999...).
  const double digitsPerTick = std::trunc(base * tickSize);
  if (!(digitsPerTick >= 1 && digitsPerTick <= ticksPerPoint)) return kUnchanged;
  const std::int64_t perPoint = ticksPerPoint / static_cast<std::int64_t>(digitsPerTick);
  std::int64_t ticks = 0;
  if (!CountTicks((static_cast<double>(perPoint) * p.whole + p.fraction / tickSize) * p.sign,
                  step, ticks))
    return kUnchanged;
  const std::int64_t whole = ticks / perPoint;
  return static_cast<double>(whole) + static_cast<double>(ticks - perPoint * whole) * tickSize;
}

bool IsPowerOfTen(std::int32_t value) {
  while (value % 10 == 0)
    value /= 10;
  return value == 1;
}

}  // namespace

double PriceStep(double price, double tickSize, std::int32_t numTicks,
                 std::int32_t ticksPerPoint) noexcept {
  if (!std::isfinite(price) || !std::isfinite(tickSize) || ticksPerPoint < 1) return price;
  double stepped = kUnchanged;
  if (ticksPerPoint == 800) {
    stepped = StepFourHundredths(ReadPriceText(price), tickSize, numTicks);
  } else if (ticksPerPoint == 128) {
    stepped = StepThirtySeconds(ReadPriceText(price), numTicks);
  } else if (IsPowerOfTen(ticksPerPoint)) {
    stepped = price + static_cast<double>(numTicks) * tickSize;
  } else {
    stepped = StepOtherBase(ReadPriceText(price), tickSize, numTicks, ticksPerPoint);
  }
  return std::isfinite(stepped) ? stepped : price;
}

}  // namespace vorn
