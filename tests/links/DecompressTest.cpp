#include "links/Decompress.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/util/Exceptions.h"
#include "support/CompressEncoder.h"

namespace vorn {
namespace {

using namespace std::string_literals;

std::string Decoded(std::string_view body) {
  std::string out;
  Decompress(body, out);
  return out;
}

TEST(DecompressTest, LetterTablesArePermutationsWithTheCheckedValues) {
  for (const char letter : {'A', 'B', 'C', 'D', 'E', 'Q'}) {
    const TSubstTable& table = LetterTable(letter);
    const TSubstTable& decode = DecodeTable(letter);
    EXPECT_EQ(table[0], 0) << letter;
    for (int v = 0; v < 256; ++v)
      EXPECT_EQ(decode[table[v]], v) << letter << " " << v;
  }
  EXPECT_EQ(LetterTable('A')['M'], 17);
  EXPECT_EQ(LetterTable('A')['0'], 114);
  EXPECT_EQ(LetterTable('B')['M'], 82);
  // Up to 255 - n the rotation is i + n; the top entries take the values 1 to n in order.
  TSubstTable t;
  BuildSubstTable(t, 13);
  EXPECT_EQ(t[242], 255);
  EXPECT_EQ(t[243], 1);
  EXPECT_EQ(t[255], 13);
  EXPECT_EQ(CodeLetterTable('Q').Letter, 'Z');
  EXPECT_EQ(CodeLetterTable('D').Shift, 11);
}

TEST(DecompressTest, DecodesTheFormat) {
  const auto& a = LetterTable('A');
  const auto lit = [](const TSubstTable& t, char c) { return static_cast<char>(t[uint8_t(c)]); };
  std::string sixteenRuns = "Q084\xFF\xFF"s;  // 256 spaces
  for (int i = 0; i < 16; ++i)
    sixteenRuns += "\x0F\x01"s;
  struct Case {
    const char* name;
    std::string body;
    std::string output;
  };
  const Case cases[] = {
      {"checked vector", "\x42\x30\x38\x34\x04\x00\x36\x3E\x04\x01"s, " 08412     "},
      {"plain body unchanged", " 084\x04\x00", " 084\x04\x00"},
      {"header only", "B084", " 084"},
      {"literals of A", "A084\x00\x00"s + lit(a, 'M') + lit(a, '0'), " 084M0"},
      {"identity letter", "Q084\x00\x00xyz\xF5"s, " 084xyz\xF5"},
      {"16 spaces and 3 '='", "Q084\x03\x00\x0F\x01\x02\x02"s,
       " 084" + std::string(16, ' ') + "==="},
      {"offset 0 copies from the first byte", "Q084\x03\x00\x00\x00\x03\x00"s, " 084  084"},
      {"absolute copy", "Q084\x10\x00wxyz\x03\x04"s, " 084wxyzwxyz"},
      {"12-bit offset",
       sixteenRuns + "\x02\x00"
                     "b\x10\x04"s,
       " 084" + std::string(256, ' ') + "bb"},
      {"second flag word after 16 items",
       "Q084\x00\x00"s + std::string(16, 'k') + "\x01\x00\x00\x05"s, " 084" + std::string(17, 'k')},
      {"input ends inside a flag word", "Q084\x00\x00z\x05"s + std::string(14, 'k') + "\x01",
       " 084z\x05" + std::string(14, 'k')},
      {"input ends inside a reference", "Q084\x02\x00z\x05"s, " 084z"},
      {"input ends after a flag word", "Q084\x00\x00"s, " 084"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Decoded(c.body), c.output) << c.name;
}

TEST(DecompressTest, CorruptBodiesRaise) {
  const std::string cases[] = {
      "B08",                     // shorter than the header
      "Q084\x01\x00\x02\x04"s,   // copy of bytes 4-6 before they exist
      "Q084\x02\x00z\x03\x03"s,  // copy reaching past the bytes produced
      "Q084\x01\x00\xF0\xFF"s,   // offset 4095 beyond the output
  };
  for (const auto& body : cases)
    EXPECT_THROW(Decoded(body), EReadError) << body;

  // Output is bounded: a long body of 16-space runs would decode to about 8 times its length.
  std::string runs = "Q084";
  for (int word = 0; word < 600; ++word) {
    runs += "\xFF\xFF"s;
    for (int i = 0; i < 16; ++i)
      runs += "\x0F\x01"s;
  }
  EXPECT_THROW(Decoded(runs), EReadError);
}

TEST(DecompressTest, EncodedTextsRoundTripForEveryLetter) {
  std::mt19937 random(20240305);
  const std::string alphabet = " =      ===abcXYZ0123456789.\x01\xF3\xFF";
  std::string out;
  for (int round = 0; round < 300; ++round) {
    std::string plain = " 084";
    const int length = static_cast<int>(random() % 3000);
    for (int i = 0; i < length; ++i)
      plain += random() % 4 == 0 ? static_cast<char>(random() % 256)
                                 : alphabet[random() % alphabet.size()];
    for (const char letter : {'A', 'B', 'C', 'D', 'E', 'Q'}) {
      const TCompressOptions options{round % 3 != 1, round % 3 != 2};
      const std::string body = CompressBody(plain, letter, options);
      Decompress(body, out);
      ASSERT_EQ(out, plain) << "round " << round << " letter " << letter;
    }
  }
}

TEST(DecompressTest, EncryptionCodeRecordsTheLetter) {
  SetEncryptionCode('C');
  EXPECT_EQ(EncryptionCode(), 'C');
  SetEncryptionCode('q');
  EXPECT_EQ(EncryptionCode(), 'Z');
}

}  // namespace
}  // namespace vorn
