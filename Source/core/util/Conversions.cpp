#include "core/util/Conversions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// Splits off a trailing minus sign; the text is already trimmed.
bool TakeTrailingMinus(std::string_view& text) {
  if (text.empty() || text.back() != '-') return false;
  text.remove_suffix(1);
  return true;
}

// Powers of ten up to 10^10, past the largest int32.
constexpr std::int64_t kPowersOfTen[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000};

// The smallest power of ten that is at least ticksPerPoint (1 below 1).
std::int64_t TickScale(std::int32_t ticksPerPoint) {
  for (const std::int64_t power : kPowersOfTen)
    if (power >= ticksPerPoint) return power;
  return kPowersOfTen[std::size(kPowersOfTen) - 1];
}

bool IsDecimalTickGrid(std::int32_t ticksPerPoint) {
  if (ticksPerPoint <= 1) return true;
  switch (ticksPerPoint) {
    case 10:
    case 100:
    case 1000:
    case 10000:
    case 100000:
    case 1000000:
      return true;
    default:
      return false;
  }
}

// value x scale to the nearest integer, halves to even. The product is taken in extended
// precision so that a price such as 101.135 is not pushed onto an exact half by the multiply.
long double ScaleToInteger(double value, std::int64_t scale) {
  return std::nearbyint(static_cast<long double>(value) * static_cast<long double>(scale));
}

double FromTicks(std::int32_t ticksPerPoint, double price) {
  const std::int64_t scale = TickScale(ticksPerPoint);
  const long double scaled = ScaleToInteger(price, scale);
  // Beyond any real price; only NaN, infinity or nonsense gets here.
  if (!(std::fabs(scaled) < 9.0e18L)) return price;
  const auto n = static_cast<std::int64_t>(scaled);
  const std::int64_t whole = n / scale;
  double ticks = static_cast<double>(n - whole * scale);
  if (ticksPerPoint == 800) {
    // The last digit carries eighths of a tick: 2, 4, 6 add 1/2, 1, 3/2 in the price's direction.
    static constexpr double kExtra[10] = {0, 0, 0.5, 0, 1, 0, 1.5, 0, 0, 0};
    const double extra = kExtra[(n < 0 ? -n : n) % 10];
    ticks += n < 0 ? -extra : extra;
  }
  return static_cast<double>(whole) + ticks / static_cast<double>(ticksPerPoint);
}

}  // namespace

double SafeStrToFloat(std::string_view text, double def) {
  text = TrimView(text);
  const bool negate = TakeTrailingMinus(text);
  double value = 0;
  if (!TryStrToFloat(text, value)) return def;
  return negate ? -value : value;
}

std::int32_t SafeStrToInt(std::string_view text, std::int32_t def) {
  text = TrimView(text);
  const bool negate = TakeTrailingMinus(text);
  // Read wide, so that "2147483648-" is the smallest int32 and "-2147483648-" is out of range.
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value)) return def;
  if (negate) {
    if (value == std::numeric_limits<std::int64_t>::min()) return def;
    value = -value;
  }
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return def;
  return static_cast<std::int32_t>(value);
}

double PriceStrToFloat(std::string_view text, std::int32_t ticksPerPoint) {
  const std::string_view part = text.substr(0, text.find('*'));
  if (part.empty()) return 0;
  const double value = SafeStrToFloat(part, 0);
  const std::int64_t scale = TickScale(ticksPerPoint);
  const long double scaled = ScaleToInteger(value, scale);
  // The whole number is exact as a double for any real price, so one division rounds once.
  return static_cast<double>(scaled) / static_cast<double>(scale);
}

double TickNotationToDecimal(std::int32_t ticksPerPoint, double price) {
  if (IsDecimalTickGrid(ticksPerPoint)) return price;
  return FromTicks(ticksPerPoint, price);
}

double TickNotationDifference(std::int32_t ticksPerPoint, double first, double second) {
  if (IsDecimalTickGrid(ticksPerPoint)) return first - second;
  return FromTicks(ticksPerPoint, first) - FromTicks(ticksPerPoint, second);
}

TDateTime ConvertTimeZone(bool toUTC, TDateTime value) {
  if (!std::isfinite(value)) return value;
  std::int64_t ms = 0;
  try {
    ms = DateTimeToUnixMs(value);
  } catch (const EConvertError&) {
    return value;
  }
  // Whole milliseconds throughout, so 10:00:00 stays on the second after the shift.
  const std::int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  if (toUTC)
    ms -= static_cast<std::int64_t>(LocalOffsetAtLocal(seconds)) * 1000;
  else
    ms += static_cast<std::int64_t>(LocalOffsetAtUtc(seconds)) * 1000;
  return UnixMsToDateTime(ms);
}

std::int32_t SaturatedLots(std::int64_t lots) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      lots, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

int ZeroRecord(void* record, std::size_t size) {
  if (record && size > 0) std::memset(record, 0, size);
  return 0;
}

std::string MakeSODFillID(std::string_view account, std::string_view exchange,
                          std::string_view commodity, std::string_view contractDate) {
  std::string id;
  id.reserve(6 + account.size() + exchange.size() + commodity.size() + contractDate.size());
  id.append("OP,").append(account).append(1, ',').append(exchange).append(1, ',');
  id.append(commodity).append(1, ',').append(contractDate);
  return id;
}

std::string MakeEODFillID(std::string_view account, std::string_view commodity,
                          std::string_view contractDate) {
  std::string id;
  id.reserve(5 + account.size() + commodity.size() + contractDate.size());
  id.append("CL,").append(account).append(1, ',').append(commodity).append(1, ',');
  id.append(contractDate);
  return id;
}

void GetStrategyLeg(int index, const std::array<StrategyLegRecord, kStrategyLegCount>& legs,
                    void* out) {
  if (!out) return;
  std::memset(out, 0, sizeof(StrategyLegRecord));
  if (index >= 0 && index < kStrategyLegCount)
    std::memcpy(out, legs[static_cast<std::size_t>(index)].data(), sizeof(StrategyLegRecord));
}

void GetLegPrice(int index, const std::array<LegPriceText, kStrategyLegCount>& prices, char* out) {
  if (!out) return;
  std::memset(out, 0, sizeof(LegPriceText));
  if (index >= 0 && index < kStrategyLegCount)
    std::memcpy(out, prices[static_cast<std::size_t>(index)].data(), sizeof(LegPriceText));
}

}  // namespace vorn
