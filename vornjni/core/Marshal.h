#pragma once
// What the ClientAPI natives do to their arguments that needs no JVM: the record sizes the
// Java byte arrays must hold, the strategy leg texts turned into leg records, and the numbers
// the API writes as text. Pure functions, callable from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vornintf.h"

namespace vorn::bridge {

// Bytes copied between a Java array and each record. Two records cross one byte longer than
// the API's, from a zero-filled native buffer, so that last byte is 0.
inline constexpr std::size_t kTraderBytes = sizeof(TraderAcctStruct) + 1;
inline constexpr std::size_t kOrderTypeBytes = sizeof(OrderTypeStruct) + 1;
// A batch always crosses as ten orders and ten 11-byte id slots; a count outside 0..10 is
// refused with VN_RC_INVALID_INDEX.
inline constexpr std::int32_t kBatchOrders = 10;
inline constexpr std::size_t kBatchOrderBytes = kBatchOrders * sizeof(NewOrderStruct);
inline constexpr std::size_t kBatchIdBytes = kBatchOrders * 11;
// The room of a number the API writes as text.
inline constexpr std::size_t kNumberTextBytes = 21;

// A malformed strategy leg text; its what() names the leg and the field.
class EStrategyLeg : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

using TStrategyLegs = std::array<StrategyLegStruct, VN_MAX_STRATEGY_LEGS>;

// One leg "type:contract date:leg text:ratio:commodity", split left to right at the first ':'
// each time (the last field keeps any further ':'); missing fields are empty. Byte 0 is the
// first character of the type (0 when it is empty); the three texts are trimmed and cut to
// their widths less the NUL; the ratio must be a decimal 32-bit integer (EStrategyLeg).
StrategyLegStruct ParseStrategyLeg(std::string_view text);
// The first 16 legs, zero-filled records after the last one given; later legs are ignored.
TStrategyLegs BuildStrategyLegs(const std::vector<std::string>& legs);
// The leg count vnCreateStrategy is given: clamped to 0..16, so it never reads past the array.
std::int32_t ClampLegCount(std::int32_t count);

// A number the API wrote into a kNumberTextBytes buffer: read up to its first NUL (never
// past the buffer), trimmed, with '.' as the decimal separator; 0.0 when the whole text is
// not a finite number.
double NumberFromText(const char* text, std::size_t room = kNumberTextBytes);

}  // namespace vorn::bridge
