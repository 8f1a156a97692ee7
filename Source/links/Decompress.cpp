#include "links/Decompress.h"

#include <atomic>

#include "core/util/Exceptions.h"

namespace vorn {
namespace {

constexpr std::size_t kHeaderLength = 4;
constexpr std::uint16_t kRunOfSpaces = 1;
constexpr std::uint16_t kRunOfEquals = 2;

constexpr TCodeLetter kCodeLetters[] = {
    {'A', 3, 1, 64}, {'B', 5, 1, 8}, {'C', 7, 2, 4}, {'D', 11, 2, 16}, {'E', 13, 4, 32},
};
constexpr TCodeLetter kIdentityLetter = {'Z', 0, 0, 0};
constexpr std::size_t kLetterCount = std::size(kCodeLetters) + 1;  // the identity last

constexpr std::size_t LetterIndex(char letter) {
  return letter >= 'A' && letter <= 'E' ? static_cast<std::size_t>(letter - 'A') : kLetterCount - 1;
}

struct TTables {
  TSubstTable letter[kLetterCount];
  TSubstTable decode[kLetterCount];
};

const TTables& Tables() {
  static const TTables tables = [] {
    TTables t{};
    for (std::size_t i = 0; i < kLetterCount; ++i) {
      const TCodeLetter code = i + 1 < kLetterCount ? kCodeLetters[i] : kIdentityLetter;
      BuildSubstTable(t.letter[i], code.Shift);
      if (code.Mask1 != 0) SwapTableBits(t.letter[i], code.Mask1, code.Mask2);
      for (std::size_t v = 0; v < 256; ++v)
        t.decode[i][t.letter[i][v]] = static_cast<std::uint8_t>(v);
    }
    return t;
  }();
  return tables;
}

std::atomic<char> configuredLetter{' '};

[[noreturn]] void Corrupt(const char* what) {
  throw EReadError(std::string("Decompress: ") + what);
}

}  // namespace

TCodeLetter CodeLetterTable(char letter) {
  const std::size_t index = LetterIndex(letter);
  return index + 1 < kLetterCount ? kCodeLetters[index] : kIdentityLetter;
}

void BuildSubstTable(TSubstTable& table, std::uint8_t n) {
  table[0] = 0;
  for (unsigned i = 1; i < 256; ++i)
    table[i] = static_cast<std::uint8_t>((i - 1 + n) % 255 + 1);
}

void SwapTableBits(TSubstTable& table, std::uint8_t m1, std::uint8_t m2) {
  for (unsigned i = 1; i < 256; ++i) {
    const std::uint8_t value = table[i];
    std::uint8_t swapped = value & static_cast<std::uint8_t>(~(m1 | m2));
    if (value & m1) swapped |= m2;
    if (value & m2) swapped |= m1;
    table[i] = swapped;
  }
}

const TSubstTable& LetterTable(char letter) {
  return Tables().letter[LetterIndex(letter)];
}

const TSubstTable& DecodeTable(char letter) {
  return Tables().decode[LetterIndex(letter)];
}

void SetEncryptionCode(char letter) {
  configuredLetter.store(CodeLetterTable(letter).Letter);
}

char EncryptionCode() {
  return configuredLetter.load();
}

void Decompress(std::string_view body, std::string& out) {
  out.clear();
  if (!body.empty() && body[0] == ' ') {
    out.assign(body);
    return;
  }
  if (body.size() < kHeaderLength) Corrupt("body shorter than its header");
  // Each input byte yields at most 8 output bytes (a 2-byte reference writes up to 16), so
  // reserving the bound up front keeps every append below inside the buffer.
  const std::size_t bound = kHeaderLength + 8 * (body.size() - kHeaderLength);
  out.reserve(bound < kMaxDecompressedLength ? bound : kMaxDecompressedLength);
  out.push_back(' ');
  out.append(body.substr(1, kHeaderLength - 1));
  const TSubstTable& decode = DecodeTable(body[0]);

  const auto* in = reinterpret_cast<const std::uint8_t*>(body.data());
  const std::size_t size = body.size();
  std::size_t used = kHeaderLength;
  std::uint32_t flags = 0;
  int flagsLeft = 0;
  while (used < size) {
    if (flagsLeft == 0) {
      if (size - used < 2) break;
      flags = static_cast<std::uint32_t>(in[used]) | static_cast<std::uint32_t>(in[used + 1]) << 8;
      used += 2;
      flagsLeft = 16;
      continue;
    }
    if (flags & 1) {
      if (size - used < 2) break;
      const std::uint8_t b0 = in[used];
      const std::uint8_t b1 = in[used + 1];
      used += 2;
      const std::size_t length = (b0 & 0x0Fu) + 1;
      const std::size_t offset = (static_cast<std::size_t>(b0 & 0xF0u) << 4) + b1;
      if (out.size() + length > kMaxDecompressedLength) Corrupt("output too long");
      if (offset == kRunOfSpaces) {
        out.append(length, ' ');
      } else if (offset == kRunOfEquals) {
        out.append(length, '=');
      } else {
        if (offset + length > out.size()) Corrupt("reference beyond the output");
        out.append(out.data() + offset, length);  // no reallocation: see the reserve above
      }
    } else {
      if (out.size() + 1 > kMaxDecompressedLength) Corrupt("output too long");
      out.push_back(static_cast<char>(decode[in[used]]));
      ++used;
    }
    flags >>= 1;
    --flagsLeft;
  }
}

}  // namespace vorn
