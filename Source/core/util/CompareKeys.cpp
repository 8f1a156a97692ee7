#include "core/util/CompareKeys.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace vorn {
namespace {

// Primary weight of a byte: its class in the high bits, its (lower-cased) value below.
constexpr std::array<std::uint16_t, 256> MakePrimaryWeights() {
  std::array<std::uint16_t, 256> weights{};
  for (int c = 0; c < 256; ++c) {
    int group;
    int value = c;
    if (c < 0x20 || c == 0x7F) {
      group = 0;
    } else if (c == 0x20) {
      group = 1;
    } else if (c >= '0' && c <= '9') {
      group = 3;
    } else if (c >= 'a' && c <= 'z') {
      group = 4;
    } else if (c >= 'A' && c <= 'Z') {
      group = 4;
      value = c + ('a' - 'A');
    } else if (c >= 0x80) {
      group = 5;
    } else {
      group = 2;  // the rest of printable ASCII
    }
    weights[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(group << 8 | value);
  }
  return weights;
}

constexpr std::array<std::uint16_t, 256> kPrimary = MakePrimaryWeights();

constexpr bool IsUpper(unsigned char c) {
  return c >= 'A' && c <= 'Z';
}

}  // namespace

int CompareKeys(std::string_view a, std::string_view b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  int caseOrder = 0;  // decided at the first position that differs only in case
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char ca = pa[i];
    const unsigned char cb = pb[i];
    if (ca == cb) continue;
    const unsigned wa = kPrimary[ca];
    const unsigned wb = kPrimary[cb];
    if (wa != wb) return wa < wb ? -1 : 1;
    if (caseOrder == 0) caseOrder = IsUpper(ca) ? 1 : -1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (caseOrder != 0) return caseOrder;
  // Primary weights only merge case pairs, so this is reached with equal bytes; kept so that
  // equality stays byte equality should the weights ever change.
  const int bytes = common == 0 ? 0 : std::memcmp(pa, pb, common);
  return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

}  // namespace vorn
