// The Java bridge's marshalling of native arguments: strategy leg texts into leg records, the
// leg count, and the numbers the API writes as text.
//
// Input: byte 0 picks the road. 0: the rest is one leg text. 1: the rest holds leg texts split
// at '\n', built into the 16 records. 2: the rest fills a number buffer of its own size (no NUL
// need be in it, so a read past the buffer shows). 3: four bytes of leg count.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vornjni/core/Marshal.h"

using namespace vorn::bridge;

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
    text.remove_suffix(1);
  return text;
}

// A field holds the trimmed text cut to its width less one, then NUL.
template <std::size_t Width>
void CheckField(const char (&field)[Width], std::string_view text) {
  const std::size_t length = strnlen(field, Width);
  if (length >= Width) __builtin_trap();
  // Texts holding a NUL end early in the record; compare up to the record's NUL.
  const std::string_view expected = Trimmed(text).substr(0, Width - 1);
  if (std::string_view(field, length) != expected.substr(0, length)) __builtin_trap();
  if (expected.find('\0') == std::string_view::npos && length != expected.size())
    __builtin_trap();
}

bool CheckLeg(std::string_view text) {
  StrategyLegStruct leg;
  try {
    leg = ParseStrategyLeg(text);
  } catch (const EStrategyLeg&) {
    return false;  // any other exception escapes and is reported
  }
  std::vector<std::string_view> fields;
  for (int i = 0; i < 4; ++i) {
    const auto colon = text.find(':');
    fields.push_back(text.substr(0, colon));
    text = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  }
  fields.push_back(text);
  if (leg.LegChar != (fields[0].empty() ? '\0' : fields[0].front())) __builtin_trap();
  CheckField(leg.ContractDate, fields[1]);
  CheckField(leg.LegText, fields[2]);
  // An optional '-' then decimal digits, in range; from_chars takes no '+' and no spaces.
  const std::string_view ratio = fields[3];
  const std::string_view digits = ratio.substr(!ratio.empty() && ratio[0] == '-' ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    __builtin_trap();
  if (std::strtoll(std::string(ratio).c_str(), nullptr, 10) != leg.Ratio) __builtin_trap();
  CheckField(leg.Commodity, fields[4]);
  return true;
}

void Legs(std::string_view rest) {
  std::vector<std::string> texts;
  while (true) {
    const auto end = rest.find('\n');
    texts.emplace_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  TStrategyLegs records;
  try {
    records = BuildStrategyLegs(texts);
  } catch (const EStrategyLeg&) {
    return;
  }
  const StrategyLegStruct zero{};
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i < texts.size()) {
      const StrategyLegStruct one = ParseStrategyLeg(texts[i]);
      if (std::memcmp(&one, &records[i], sizeof one) != 0) __builtin_trap();
    } else if (std::memcmp(&zero, &records[i], sizeof zero) != 0) {
      __builtin_trap();
    }
  }
}

void Number(std::string_view rest) {
  // A buffer of exactly the room given, on the heap, so ASan sees a read one past it.
  const std::size_t room = rest.size();
  const auto buffer = std::make_unique<char[]>(room ? room : 1);
  std::memcpy(buffer.get(), rest.data(), room);
  const double value = NumberFromText(buffer.get(), room);
  if (!std::isfinite(value)) __builtin_trap();
  // Only the text up to the first NUL counts.
  const std::size_t length = strnlen(buffer.get(), room);
  if (length < room) {
    const double prefix = NumberFromText(buffer.get(), length);
    if (std::memcmp(&prefix, &value, sizeof value) != 0) __builtin_trap();
  }
  if (NumberFromText(nullptr, room) != 0.0) __builtin_trap();
}

void Count(std::string_view rest) {
  std::int32_t count = 0;
  std::memcpy(&count, rest.data(), std::min(rest.size(), sizeof count));
  const std::int32_t clamped = ClampLegCount(count);
  if (clamped < 0 || clamped > VN_MAX_STRATEGY_LEGS) __builtin_trap();
  if (count >= 0 && count <= VN_MAX_STRATEGY_LEGS && clamped != count) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: CheckLeg(rest); break;
    case 1: Legs(rest); break;
    case 2: Number(rest); break;
    default: Count(rest); break;
  }
  return 0;
}
