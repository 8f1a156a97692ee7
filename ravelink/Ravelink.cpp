// Stand-in for the outside library: password encryption. Built twice, the second time with
// RAVELINK_NO_ENCRYPT and without the entry point, for the test of a library that lacks it.

#include "Ravelink.h"

#include <algorithm>

#include "PasswordCode.h"

#ifndef RAVELINK_NO_ENCRYPT

extern "C" int ENC_EncryptPassword(const char* key, const char* text, int textLen, char* out,
                                   int outSize) {
  using namespace vorn::ravelink;
  if (!out || outSize < 1) return -1;
  out[0] = '\0';
  if (!text || textLen < 0) return -1;
  const std::string_view keyText = key ? std::string_view(key) : std::string_view();
  const std::size_t limit =
      std::min(kMaxCodeLength, static_cast<std::size_t>(outSize) - 1);  // room for the NUL
  std::size_t n = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(textLen); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int index = kCodeIndex[byte];
    if (index >= 0) {
      if (n + 1 > limit) break;
      out[n++] = kCodeAlphabet[static_cast<std::size_t>((index + CodeShift(keyText, i)) %
                                                        kCodeAlphabetSize)];
    } else {
      // A symbol is written whole or not at all, so a cut output still decodes to a prefix.
      if (n + 3 > limit) break;
      const unsigned char masked = byte ^ EscapeMask(keyText, i);
      out[n++] = kEscape;
      out[n++] = kHexDigits[masked >> 4];
      out[n++] = kHexDigits[masked & 15];
    }
  }
  out[n] = '\0';
  return static_cast<int>(n);
}

#endif
