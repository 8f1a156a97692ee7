#pragma once
// The decompressor of received bodies.
//
// A compressed body is a 4-byte header (the code letter, then three bytes carried over) and
// items under 16-bit little-endian flag words, one bit per item from the least significant up:
// bit 0 a literal byte decoded through the code letter's substitution table, bit 1 a 2-byte
// reference (length (b0 & 0x0F) + 1, 12-bit absolute output offset ((b0 & 0xF0) << 4) + b1;
// offset 1 is a run of spaces, offset 2 a run of '='). The output starts with ' ' and the three
// carried bytes. A body whose first byte is ' ' is plain and comes out unchanged.
//
// The substitution tables are immutable and shared by every link, so two links can decode at
// the same time without a lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

// Output is bounded: a body that would decode to more bytes than this is corrupt.
inline constexpr std::size_t kMaxDecompressedLength = 65536;

using TSubstTable = std::array<std::uint8_t, 256>;

// Parameters of a code letter: rotation n and the two bits m1, m2 that each value exchanges.
struct TCodeLetter {
  char Letter;  // 'Z' for every letter without parameters
  std::uint8_t Shift;
  std::uint8_t Mask1;
  std::uint8_t Mask2;
};

// 'A' to 'E' have parameters; any other letter gives the identity table, recorded as 'Z'.
TCodeLetter CodeLetterTable(char letter);

// T[0] = 0 and T[i] = ((i - 1 + n) mod 255) + 1: i + n up to 255 - n, then the values 1 to n
// that those entries leave free, so the table is a permutation.
void BuildSubstTable(TSubstTable& table, std::uint8_t n);
// Exchanges the bits m1 and m2 of every entry but entry 0.
void SwapTableBits(TSubstTable& table, std::uint8_t m1, std::uint8_t m2);

// The substitution table of a letter (what the sender applies to each literal).
const TSubstTable& LetterTable(char letter);
// Its inverse, through which literals are decoded.
const TSubstTable& DecodeTable(char letter);

// Records the configured code letter ('Z' for a letter without parameters). Decoding depends
// on each body's own letter alone; the setting is kept for reading back.
void SetEncryptionCode(char letter);
char EncryptionCode();

// Decodes body into out (replacing its content; out keeps its capacity between calls). Throws
// EReadError on a corrupt body: shorter than the header, a reference to bytes not yet
// produced, or more output than kMaxDecompressedLength. Input that ends where a flag word or
// a reference should start ends the output there.
void Decompress(std::string_view body, std::string& out);

}  // namespace vorn
