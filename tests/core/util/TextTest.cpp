#include "core/util/Text.h"

#include <gtest/gtest.h>

#include "core/util/Exceptions.h"

namespace vorn {
namespace {

TEST(TextTest, TrimRemovesBlanksAndControlBytesOnly) {
  EXPECT_EQ(Trim(" \t\x01 a b \r\n"), "a b");
  EXPECT_EQ(Trim("\xA3x\xA3"), "\xA3x\xA3");
  EXPECT_EQ(Trim("   "), "");
  // Long runs of padding, also mixed with other blanks and around text of every length.
  for (std::size_t length = 0; length <= 12; ++length) {
    const std::string text = std::string(length, 'x') + (length % 3 == 0 ? "" : "x x");
    for (const std::string& pad : {std::string(0, ' '), std::string(7, ' '), std::string(8, ' '),
                                   std::string(39, ' '), std::string(16, ' ') + "\t" +
                                   std::string(9, ' ')}) {
      EXPECT_EQ(TrimView(pad + text + pad), text) << length << "/" << pad.size();
      EXPECT_EQ(TrimView(text + "\r\n" + pad), text) << length << "/" << pad.size();
    }
  }
}

TEST(TextTest, CopyIsOneBasedAndClamped) {
  struct Case {
    std::ptrdiff_t index, count;
    const char* expected;
  };
  for (const Case& c : {Case{1, 3, "abc"}, Case{2, 2, "bc"}, Case{4, 9, "def"}, Case{0, 2, "ab"},
                        Case{7, 1, ""}, Case{3, -1, ""}}) {
    EXPECT_EQ(Copy("abcdef", c.index, c.count), c.expected) << c.index << "," << c.count;
  }
}

TEST(TextTest, FixedFieldsAreBoundedByTheirWidth) {
  char field[4];
  PutFixed(field, "abcdef");
  EXPECT_EQ(std::string(field, 4), std::string("abc\0", 4));
  const char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(GetFixed(unterminated), "xyz");
  PutFixed(field, "");
  EXPECT_EQ(GetFixed(field), "");
}

TEST(ExceptionsTest, ClassNamesAreTheOnesTheLogsPrint) {
  EXPECT_EQ(ClassNameOf(EListError("x")), "EListError");
  EXPECT_EQ(ClassNameOf(EReadError("x")), "EReadError");
  EXPECT_EQ(ClassNameOf(EVORN("x", 3)), "EVORN");
  EXPECT_EQ(ClassNameOf(std::runtime_error("x")), "std::runtime_error");
}

}  // namespace
}  // namespace vorn
