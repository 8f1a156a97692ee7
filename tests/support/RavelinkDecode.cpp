#include "support/RavelinkDecode.h"

#include "PasswordCode.h"

namespace vorn {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> RavelinkDecodePassword(std::string_view key, std::string_view code) {
  using namespace ravelink;
  std::string text;
  for (std::size_t pos = 0, i = 0; pos < code.size(); ++i) {
    const auto c = static_cast<unsigned char>(code[pos]);
    if (c == static_cast<unsigned char>(kEscape)) {
      if (pos + 3 > code.size()) return std::nullopt;
      const int high = HexValue(code[pos + 1]);
      const int low = HexValue(code[pos + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      const auto byte = static_cast<unsigned char>((high << 4 | low) ^ EscapeMask(key, i));
      // The encoder escapes only bytes outside the alphabet.
      if (InCodeAlphabet(byte)) return std::nullopt;
      text.push_back(static_cast<char>(byte));
      pos += 3;
    } else {
      const int index = kCodeIndex[c];
      if (index < 0) return std::nullopt;
      const int plain = (index - CodeShift(key, i) + kCodeAlphabetSize) % kCodeAlphabetSize;
      text.push_back(kCodeAlphabet[static_cast<std::size_t>(plain)]);
      ++pos;
    }
  }
  return text;
}

}  // namespace vorn
