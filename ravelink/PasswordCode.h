#pragma once
// The password code of the stand-in library, shared by the library and the test-only decoder.
//
// Each byte of the password becomes one output character where it can: a byte of the code
// alphabet (the printable characters except '=', '<', '>' and '~') is replaced by the alphabet
// character a key- and position-dependent shift further on. Any other byte (a blank, one of the
// four excluded characters, a control character or a byte above 126) becomes '~' and two
// upper-case hex digits of the byte masked the same way. A password of printable characters
// therefore keeps its length, up to the 255 characters the logon record holds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorn::ravelink {

inline constexpr char kEscape = '~';
inline constexpr std::size_t kMaxCodeLength = 255;
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

inline constexpr bool InCodeAlphabet(unsigned char c) {
  return c >= 0x21 && c <= 0x7E && c != '=' && c != '<' && c != '>' && c != kEscape;
}

inline constexpr std::array<char, 90> MakeCodeAlphabet() {
  std::array<char, 90> alphabet{};
  std::size_t n = 0;
  for (int c = 0x21; c <= 0x7E; ++c) {
    if (InCodeAlphabet(static_cast<unsigned char>(c))) alphabet[n++] = static_cast<char>(c);
  }
  return alphabet;
}

inline constexpr std::array<char, 90> kCodeAlphabet = MakeCodeAlphabet();
inline constexpr int kCodeAlphabetSize = static_cast<int>(kCodeAlphabet.size());

// Position of a byte in the alphabet, -1 when it is not in it.
inline constexpr std::array<int, 256> MakeCodeIndex() {
  std::array<int, 256> index{};
  for (int& i : index)
    i = -1;
  for (int i = 0; i < kCodeAlphabetSize; ++i) {
    index[static_cast<unsigned char>(kCodeAlphabet[static_cast<std::size_t>(i)])] = i;
  }
  return index;
}

inline constexpr std::array<int, 256> kCodeIndex = MakeCodeIndex();

// The key byte for the password byte at position i; 0 for an empty key.
inline constexpr unsigned KeyByte(std::string_view key, std::size_t i) {
  return key.empty() ? 0u : static_cast<unsigned char>(key[i % key.size()]);
}

// Shift of an alphabet character at position i, 0 to 89.
inline constexpr int CodeShift(std::string_view key, std::size_t i) {
  return static_cast<int>((KeyByte(key, i) + 17u * i + 41u) % kCodeAlphabetSize);
}

// Mask of an escaped byte at position i.
inline constexpr unsigned char EscapeMask(std::string_view key, std::size_t i) {
  return static_cast<unsigned char>(KeyByte(key, i) ^ (0xA5u + 31u * i));
}

static_assert(kCodeAlphabet[kCodeAlphabetSize - 1] == '}');
static_assert(kCodeIndex['!'] == 0 && kCodeIndex['='] == -1 && kCodeIndex['~'] == -1);

}  // namespace vorn::ravelink
