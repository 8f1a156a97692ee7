#include "vornjni/core/Marshal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vorn::bridge {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
    text.remove_suffix(1);
  return text;
}

// The text before the first ':' (all of it when there is none); the rest stays in text.
std::string_view NextField(std::string_view& text) {
  const auto colon = text.find(':');
  std::string_view field = text.substr(0, colon);
  text = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
  return field;
}

template <std::size_t Width>
void CopyField(char (&field)[Width], std::string_view text) {
  const std::size_t length = std::min(text.size(), Width - 1);
  // A missing field is an empty view with no data; memcpy must not be given null.
  if (length > 0) std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

}  // namespace

StrategyLegStruct ParseStrategyLeg(std::string_view text) {
  StrategyLegStruct leg{};
  const std::string_view type = NextField(text);
  const std::string_view date = NextField(text);
  const std::string_view legText = NextField(text);
  const std::string_view ratio = NextField(text);
  const std::string_view commodity = text;
  leg.LegChar = type.empty() ? '\0' : type.front();
  CopyField(leg.ContractDate, Trim(date));
  CopyField(leg.LegText, Trim(legText));
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(ratio.data(), ratio.data() + ratio.size(), value);
  if (ratio.empty() || error != std::errc{} || end != ratio.data() + ratio.size())
    throw EStrategyLeg("'" + std::string(ratio) + "' is not a valid integer value");
  leg.Ratio = value;
  CopyField(leg.Commodity, Trim(commodity));
  return leg;
}

TStrategyLegs BuildStrategyLegs(const std::vector<std::string>& legs) {
  TStrategyLegs records{};
  const std::size_t count = std::min(legs.size(), records.size());
  for (std::size_t i = 0; i < count; ++i)
    records[i] = ParseStrategyLeg(legs[i]);
  return records;
}

std::int32_t ClampLegCount(std::int32_t count) {
  return std::clamp<std::int32_t>(count, 0, VN_MAX_STRATEGY_LEGS);
}

double NumberFromText(const char* text, std::size_t room) {
  if (!text) return 0.0;
  const std::string_view number = Trim(std::string_view(text, strnlen(text, room)));
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || error != std::errc{} || end != number.data() + number.size() ||
      !std::isfinite(value))
    return 0.0;
  return value;
}

}  // namespace vorn::bridge
