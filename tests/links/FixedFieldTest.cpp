#include "links/FixedField.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

using namespace std::string_literals;

TEST(FixedFieldTest, ReadsAreBoundedByWidthNulAndBody) {
  struct TCase {
    std::string body;
    std::size_t offset;
    std::size_t width;
    std::string expected;
  };
  const TCase cases[] = {
      {"0201ABCDEFGH", 4, 4, "ABCD"},
      {"0201 12 \0XY"s, 4, 10, " 12 "},  // NUL ends the field early
      {"12\0Z"s, 0, 3, "12"},
      {"0201ABC", 4, 10, "ABC"},  // the body ends inside the field
      {"0201", 4, 10, ""},        // the field starts at the end
      {"0201", 400, 10, ""},      // and far past it
      {"0201AB", 4, 0, ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(GetFixedField(c.body, c.offset, c.width), c.expected)
        << c.body.size() << " bytes, " << c.offset << "/" << c.width;
  }
}

TEST(FixedFieldTest, WritesCutToWidthAndBodyWithoutFillOrTerminator) {
  struct TCase {
    std::size_t offset;
    std::size_t width;
    std::string text;
    std::string expected;
  };
  const TCase cases[] = {
      {2, 4, "ab", "..ab......"},         // shorter: the rest is left as it was
      {2, 4, "abcdefgh", "..abcd...."},   // longer: cut to the width
      {7, 10, "abcdefgh", ".......abc"},  // cut at the end of the body
      {10, 4, "ab", ".........."},        // nothing past the end
      {2, 4, "", ".........."},
  };
  for (const TCase& c : cases) {
    std::string body(10, '.');
    PutFixedField(body, c.offset, c.width, c.text);
    EXPECT_EQ(body, c.expected) << c.offset << "/" << c.width << " " << c.text;
  }
}

TEST(FixedFieldTest, Code4IsTheLastFourOfZeroPaddedDecimal) {
  EXPECT_EQ(FormatCode4(7), "0007");
  EXPECT_EQ(FormatCode4(66), "0066");
  EXPECT_EQ(FormatCode4(201), "0201");
  EXPECT_EQ(FormatCode4(3364), "3364");
  EXPECT_EQ(FormatCode4(12345), "2345");
  EXPECT_EQ(FormatCode4(0), "0000");
}

}  // namespace
}  // namespace vorn
