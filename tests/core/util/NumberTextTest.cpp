#include "core/util/NumberText.h"

#include <gtest/gtest.h>

#include "support/LocaleTest.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace vorn {
namespace {

class NumberTextTest : public TLocaleParamTest {};
VORN_INSTANTIATE_LOCALES(NumberTextTest);

TEST_P(NumberTextTest, FloatToStrGeneralFormat) {
  struct Case {
    double value;
    const char* expected;
  };
  for (const Case& c : {
           Case{0, "0"},
           Case{-0.0, "0"},
           Case{100, "100"},
           Case{123.456, "123.456"},
           Case{-0.5, "-0.5"},
           Case{2.5, "2.5"},
           Case{0.1 + 0.2, "0.3"},  // 15 digits, where "%.17g" shows 0.30000000000000004
           Case{1.0 / 3, "0.333333333333333"},
           Case{2.0 / 3, "0.666666666666667"},
           Case{-2.0 / 3, "-0.666666666666667"},
           Case{0.0001, "0.0001"},
           Case{0.00012345, "0.00012345"},
           Case{0.00001, "1E-5"},
           Case{1.5e-7, "1.5E-7"},
           Case{-1.5e-7, "-1.5E-7"},
           Case{999999999999999.0, "999999999999999"},
           Case{999999999999999.9, "1E15"},  // rounds up into the next decade
           Case{1e15, "1E15"},
           Case{1e20, "1E20"},
           Case{123456789012345678.0, "1.23456789012346E17"},
           Case{1.7976931348623157e308, "1.79769313486232E308"},
           Case{5e-324, "4.94065645841247E-324"},
           Case{-1.23456789012345e-300, "-1.23456789012345E-300"},  // the longest text
           Case{0.999999999999999944, "1"},
           Case{101.125, "101.125"},
           Case{std::numeric_limits<double>::quiet_NaN(), "NAN"},
           Case{std::numeric_limits<double>::infinity(), "INF"},
           Case{-std::numeric_limits<double>::infinity(), "-INF"},
       }) {
    EXPECT_EQ(FloatToStr(c.value), c.expected) << c.expected;
    char text[kFloatTextSize];
    EXPECT_EQ(FloatToStr(c.value, text), c.expected) << "into a buffer";
  }
}

TEST_P(NumberTextTest, FloatToStrFixedRoundsHalfAwayFromZero) {
  struct Case {
    double value;
    int decimals;
    const char* expected;
  };
  for (const Case& c : {
           Case{2.5, 0, "3"},  // printf gives "2"
           Case{-2.5, 0, "-3"},
           Case{0.5, 0, "1"},
           Case{0.125, 2, "0.13"},  // exact half; printf gives "0.12"
           Case{1.005, 2, "1.00"},  // really 1.00499999999999989...
           Case{12345678.125, 2, "12345678.13"},
           Case{123.456, 5, "123.45600"},
           Case{0, 2, "0.00"},
           Case{-0.0, 0, "0"},
           Case{-0.001, 2, "0.00"},  // never "-0.00"
           Case{-0.004999, 2, "0.00"},
           Case{-0.005, 2, "-0.01"},
           Case{0.0004, 3, "0.000"},
           Case{0.0005, 3, "0.001"},
           Case{99.995, 2, "100.00"},
           Case{0.1, 18, "0.100000000000000000"},  // at most 15 significant digits
           Case{1.0 / 3, 18, "0.333333333333333000"},
           Case{123456789.123456789, 10, "123456789.1234570000"},
           Case{999999999999999.0, 1, "999999999999999.0"},
           Case{999999999999999.9, 0, "1E15"},  // past 15 integer digits: general format
           Case{1e15, 2, "1E15"},
           Case{-1.5e20, 2, "-1.5E20"},
           Case{2.5, -3, "3"},  // decimals clamped to 0..18
           Case{0.5, 40, "0.500000000000000000"},
           Case{std::numeric_limits<double>::quiet_NaN(), 2, "NAN"},
       }) {
    EXPECT_EQ(FloatToStrFixed(c.value, c.decimals), c.expected) << c.expected;
  }
}

TEST_P(NumberTextTest, FloatToStrFixedKeepsAtMostPrecisionSignificantDigits) {
  struct Case {
    double value;
    int precision;
    int decimals;
    const char* expected;
  };
  for (const Case& c : {
           Case{12345678.123456789, 15, 8, "12345678.12345680"},
           Case{0.001953125, 15, 8, "0.00195313"},  // rounded at the 8th decimal
           Case{100.25, 15, 8, "100.25000000"},
           Case{12345.123456789, 10, 8, "12345.12346000"},
           Case{-12345.123456789, 10, 8, "-12345.12346000"},
           Case{0.123456789012, 10, 8, "0.12345679"},
           Case{12345.678, 6, 2, "12345.70"},
           Case{-0.000000004, 10, 8, "0.00000000"},
           Case{-0.000000005, 10, 8, "-0.00000001"},
           Case{2.5, 10, 0, "3"},
           Case{-2.5, 10, 0, "-3"},
           Case{1234567890.4, 10, 0, "1234567890"},
           Case{9999999999.5, 10, 0, "1E10"},  // rounds past 10 integer digits: general format
           Case{12345678901.5, 10, 8, "1.23456789E10"},
           Case{0, 10, 8, "0.00000000"},
           Case{1.5, 0, 2, "2.00"},  // precision clamped to 1..18
           Case{std::numeric_limits<double>::infinity(), 10, 8, "INF"},
       }) {
    EXPECT_EQ(FloatToStrFixed(c.value, c.precision, c.decimals), c.expected) << c.expected;
  }
}

TEST_P(NumberTextTest, IntToStr) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

TEST_P(NumberTextTest, TryStrToFloatAcceptsOnlyTheStrictGrammar) {
  struct Good {
    const char* text;
    double value;
  };
  for (const Good& c : {
           Good{"0", 0},
           Good{"3.5", 3.5},
           Good{"-3.5", -3.5},
           Good{"+5", 5},
           Good{".5", 0.5},
           Good{"5.", 5},
           Good{"-.5", -0.5},
           Good{"1e3", 1000},
           Good{"1E+3", 1000},
           Good{"2.5e-3", 0.0025},
           Good{"007.50", 7.5},
           Good{"0.1", 0.1},
           Good{"1e-400", 0},
           Good{"0e99999", 0},
           Good{"1.7976931348623157e308", 1.7976931348623157e308},
       }) {
    double value = -99;
    EXPECT_TRUE(TryStrToFloat(c.text, value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  for (const char* text : {"",
                           "+",
                           "-",
                           ".",
                           "+.",
                           "e5",
                           ".e5",
                           "1e",
                           "1e+",
                           "1e-",
                           "1.2.3",
                           "1,5",
                           "1 000",
                           " 1",
                           "1 ",
                           "+-5",
                           "--5",
                           "5-",
                           "inf",
                           "-inf",
                           "infinity",
                           "nan",
                           "NAN",
                           "0x1A",
                           "0x1p3",
                           "1e400",
                           "-1e400",
                           "2e308",
                           "1e99999999999999999999",
                           "12a",
                           "1d5"}) {
    double value = -99;
    EXPECT_FALSE(TryStrToFloat(text, value)) << text;
    EXPECT_EQ(value, -99) << text;
  }
  // A NUL inside the view is a character like any other.
  double value = 0;
  EXPECT_FALSE(TryStrToFloat(std::string_view("1\0", 2), value));
}

TEST_P(NumberTextTest, TryStrToIntIsDecimalAndRangeChecked) {
  struct Case {
    const char* text;
    bool ok32, ok64;
    std::int64_t value;
  };
  for (const Case& c : {
           Case{"0", true, true, 0},
           Case{"+5", true, true, 5},
           Case{"-0", true, true, 0},
           Case{"007", true, true, 7},
           Case{"2147483647", true, true, 2147483647},
           Case{"-2147483648", true, true, -2147483648LL},
           Case{"2147483648", false, true, 2147483648LL},
           Case{"-2147483649", false, true, -2147483649LL},
           Case{"9223372036854775807", false, true, std::numeric_limits<std::int64_t>::max()},
           Case{"-9223372036854775808", false, true, std::numeric_limits<std::int64_t>::min()},
           Case{"9223372036854775808", false, false, 0},
           Case{"", false, false, 0},
           Case{"-", false, false, 0},
           Case{"+", false, false, 0},
           Case{"+-1", false, false, 0},
           Case{" 5", false, false, 0},
           Case{"5 ", false, false, 0},
           Case{"1e3", false, false, 0},
           Case{"1.0", false, false, 0},
           Case{"0x1A", false, false, 0},
           Case{"1,000", false, false, 0},
           Case{"12a", false, false, 0},
       }) {
    std::int32_t v32 = -99;
    std::int64_t v64 = -99;
    EXPECT_EQ(TryStrToInt(c.text, v32), c.ok32) << c.text;
    EXPECT_EQ(v32, c.ok32 ? c.value : -99) << c.text;
    EXPECT_EQ(TryStrToInt64(c.text, v64), c.ok64) << c.text;
    EXPECT_EQ(v64, c.ok64 ? c.value : -99) << c.text;
  }
}

TEST_P(NumberTextTest, GeneralTextReadsBackToTheSameValue) {
  // Any value with at most 15 significant digits survives a write and a read.
  for (const double value : {0.001, 1.1, 101.15625, -7.25e-12, 3.14159265358979, 1e100, 6.02e23,
                             123456789012345.0, 0.000123456789012345}) {
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(FloatToStr(value), back)) << FloatToStr(value);
    EXPECT_EQ(back, value) << FloatToStr(value);
  }
  for (int k = -2000; k <= 2000; k += 7) {
    const double value = k / 1000.0;
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(FloatToStr(value), back));
    EXPECT_EQ(back, value) << FloatToStr(value);
  }
}

// Short decimal texts (no exponent, at most 15 digits) are read without from_chars: they must
// read the very double from_chars reads, for any digits, point position and sign.
TEST_P(NumberTextTest, ShortDecimalsReadAsFromCharsReadsThem) {
  std::mt19937_64 random(1234);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int round = 0; round < 200000; ++round) {
    std::string text;
    if (round % 3 == 0) text += '-';
    const int integers = static_cast<int>(random() % 10);
    const int fractions = static_cast<int>(random() % 9);
    for (int k = 0; k < integers; ++k)
      text += static_cast<char>('0' + digit(random));
    if (fractions > 0 || integers == 0) text += '.';
    for (int k = 0; k < (integers == 0 ? fractions + 1 : fractions); ++k)
      text += static_cast<char>('0' + digit(random));
    double expected = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(parsed.ptr, text.data() + text.size()) << text;
    double read = 0;
    ASSERT_TRUE(TryStrToFloat(text, read)) << text;
    ASSERT_EQ(std::memcmp(&read, &expected, sizeof read), 0) << text;
  }
}

// Values in the fixed range that are short decimals (prices) take their digits without the
// 18-digit reading: they must give the text of the 18-digit rounding, which the fixed format
// (with 18 decimals, 15 significant digits) still writes, for random doubles of every decade,
// prices on tick grids of every size and the ends of the range.
TEST_P(NumberTextTest, GeneralTextOfTheFixedRangeIsThatOfTheEighteenDigits) {
  const auto expected = [](double value) {
    std::string text = FloatToStrFixed(value, 15, 18);
    if (text.find('.') != std::string::npos && text.find('E') == std::string::npos) {
      while (text.back() == '0')
        text.pop_back();
      if (text.back() == '.') text.pop_back();
    }
    return text;
  };
  std::vector<double> values = {1e-4, std::nextafter(1e-4, 1.0), std::nextafter(1e-4, 0.0),
                                1e15, std::nextafter(1e15, 0.0), 999999999999999.9,
                                0.1 + 0.2, 1.0 / 3, 123456789012345.6, 0.000123456789012345};
  std::mt19937_64 random(4321);
  for (int k = 0; k < 100000; ++k) {
    const double decade = std::pow(10.0, static_cast<double>(random() % 19) - 4);
    values.push_back(decade * std::uniform_real_distribution<double>(1.0, 10.0)(random));
    static constexpr double kGrids[] = {4.0, 32.0, 100.0, 1e4, 1e8, 1e9};
    values.push_back(static_cast<double>(random() % 4000000000) / kGrids[k % 6]);
    values.push_back(static_cast<double>(random() % 1000000000000000) / kGrids[k % 3]);
  }
  for (const double value : values) {
    if (value < 1e-4 || value >= 1e15) continue;
    ASSERT_EQ(FloatToStr(value), expected(value)) << value;
    ASSERT_EQ(FloatToStr(-value), "-" + expected(value)) << value;
  }
}

}  // namespace
}  // namespace vorn
