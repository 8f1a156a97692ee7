#include "core/util/Conversions.h"

#include <gtest/gtest.h>

#include "support/LocaleTest.h"
#include "support/TimeZone.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "core/util/DateTime.h"

namespace vorn {
namespace {

class ConversionsLocaleTest : public TLocaleParamTest {};
VORN_INSTANTIATE_LOCALES(ConversionsLocaleTest);

TEST_P(ConversionsLocaleTest, SafeStrToFloatTable) {
  constexpr double kDef = 7.25;
  struct Case {
    const char* text;
    double expected;
  };
  for (const Case& c : {
           Case{" 3.5 ", 3.5},  Case{"\t\x01 3.5\r\n", 3.5},
           Case{"12-", -12},    Case{" 12.5- ", -12.5},
           Case{"-12-", 12},    Case{"+5", 5},
           Case{"1e3", 1000},   Case{".5", 0.5},
           Case{"5.", 5},       Case{"1e-400", 0},
           Case{"", kDef},      Case{"   ", kDef},
           Case{"-", kDef},     Case{"1,5", kDef},
           Case{"inf", kDef},   Case{"nan", kDef},
           Case{"0x1A", kDef},  Case{"1e400", kDef},
           Case{"1a2", kDef},   Case{"1 2", kDef},
           Case{"abc-", kDef},   // the failed conversion is not negated
           Case{"2.5 -", kDef},  // the minus belongs to the end of the text only
           Case{"5--", kDef},
       }) {
    EXPECT_EQ(SafeStrToFloat(c.text, kDef), c.expected) << "[" << c.text << "]";
  }
}

TEST_P(ConversionsLocaleTest, SafeStrToIntTable) {
  constexpr std::int32_t kDef = 77;
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  for (const Case& c : {
           Case{" 42 ", 42},
           Case{"\x01\t42\r\n", 42},
           Case{"12-", -12},
           Case{"-12-", 12},
           Case{"+5", 5},
           Case{"0-", 0},
           Case{"2147483647", 2147483647},
           Case{"-2147483648", kMin},
           Case{"2147483648-", kMin},  // the smallest int32 written with a trailing minus
           Case{"2147483648", kDef},
           Case{"-2147483648-", kDef},  // would be 2147483648
           Case{"99999999999999999999", kDef},
           Case{"1e3", kDef},
           Case{".5", kDef},
           Case{"5.", kDef},
           Case{"", kDef},
           Case{"-", kDef},
           Case{"1,5", kDef},
           Case{"inf", kDef},
           Case{"nan", kDef},
           Case{"0x1A", kDef},
           Case{"4a2", kDef},
           Case{"4a-", kDef},  // the failed conversion is not negated
           Case{"42\x7f", kDef},
       }) {
    EXPECT_EQ(SafeStrToInt(c.text, kDef), c.expected) << "[" << c.text << "]";
  }
}

TEST_P(ConversionsLocaleTest, PriceStrToFloatCutsToTheTickGrid) {
  struct Case {
    const char* text;
    std::int32_t ticksPerPoint;
    double expected;
  };
  for (const Case& c : {
           Case{"101.125*x", 32, 101.12},  // exact half, to even
           Case{"101.135", 32, 101.14},
           Case{"0.015", 32, 0.01},  // 1.49999... x 100; a double product would make it 1.5
           Case{"0.025", 32, 0.03},  // 2.50000...1 x 100; a double product would make it 2.5
           Case{"101.125-", 32, -101.12},
           Case{"101.16", 4, 101.2},
           Case{"101.15", 4, 101.2},
           Case{"0.0625", 800, 0.062},  // exact halves, to even
           Case{"0.1875", 800, 0.188},
           Case{"101.1234", 100, 101.12},
           Case{"98.5", 1, 98},  // to even
           Case{"99.5", 0, 100},
           Case{"101.7", -5, 102},
           Case{"101.125", 2147483647, 101.125},  // scale 10^10, no overflow
           Case{"*101.5", 32, 0},
           Case{"", 32, 0},
           Case{"abc*1", 32, 0},
           Case{" 3.5 * 2", 100, 3.5},
       }) {
    EXPECT_EQ(PriceStrToFloat(c.text, c.ticksPerPoint), c.expected)
        << c.text << " @" << c.ticksPerPoint;
  }
}

TEST(ConversionsTest, TickNotationToDecimalTable) {
  struct Case {
    std::int32_t ticksPerPoint;
    double price, expected;
  };
  for (const Case& c : {
           Case{32, 101.16, 101.5},
           Case{32, -101.16, -101.5},
           Case{32, 101.31, 101 + 31.0 / 32},
           Case{64, 101.32, 101.5},
           Case{4, 101.3, 101.75},
           Case{256, 101.128, 101.5},
           Case{800, 101.122, 101 + 122.5 / 800},
           Case{800, 101.124, 101 + 125.0 / 800},
           Case{800, 101.126, 101 + 127.5 / 800},
           Case{800, 101.120, 101 + 120.0 / 800},
           Case{800, 101.121, 101 + 121.0 / 800},  // other digits add nothing
           Case{800, -0.122, -122.5 / 800},        // spreads keep their half tick
           Case{800, -101.126, -101 - 127.5 / 800},
           Case{100, 101.16, 101.16},
           Case{10, 101.16, 101.16},
           Case{1000000, 0.1234567, 0.1234567},
           Case{1, 5.3, 5.3},
           Case{0, 5.3, 5.3},
           Case{-32, 5.3, 5.3},
           Case{10000000, 1.5, 1.5},
       }) {
    EXPECT_DOUBLE_EQ(TickNotationToDecimal(c.ticksPerPoint, c.price), c.expected)
        << c.price << " @" << c.ticksPerPoint;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(TickNotationToDecimal(32, nan)));
}

TEST(ConversionsTest, TickNotationDifferenceTable) {
  struct Case {
    std::int32_t ticksPerPoint;
    double first, second, expected;
  };
  for (const Case& c : {
           Case{32, 101.16, 100.08, 1.25},
           Case{32, 0.16, 0.24, -0.25},
           Case{800, 101.122, 101.0, 122.5 / 800},
           Case{800, 101.122, 101.126, -5.0 / 800},
           Case{100, 1.5, 0.25, 1.25},
           Case{1, 101.16, 100.08, 101.16 - 100.08},
       }) {
    EXPECT_NEAR(TickNotationDifference(c.ticksPerPoint, c.first, c.second), c.expected, 1e-12)
        << c.first << " - " << c.second << " @" << c.ticksPerPoint;
  }
}

// Local time is Europe/London for the test: GMT in winter, BST (UTC+1) in summer.
class ConvertTimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (LocalOffsetAtUtc(1721037600) != 3600) {
      GTEST_SKIP() << "no Europe/London time zone data";
    }
  }
  static std::string Text(TDateTime value) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value);
  }
  static TDateTime At(int y, int mo, int d, int h, int mi = 0, int s = 0, int ms = 0) {
    return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
  }

 private:
  TScopedTimeZone zone_{"Europe/London"};
};

TEST_F(ConvertTimeZoneTest, UsesTheOffsetInForceAtTheDate) {
  struct Case {
    TDateTime local;
    const char* utc;
  };
  for (const Case& c : {
           Case{At(2024, 1, 15, 10), "2024-01-15 10:00:00.000"},
           Case{At(2024, 7, 15, 10), "2024-07-15 09:00:00.000"},
           Case{At(2024, 7, 15, 0, 30, 0, 250), "2024-07-14 23:30:00.250"},
           // The change days: clocks go forward at 01:00 UTC on 31 March, back on 27 October.
           Case{At(2024, 3, 31, 0, 30), "2024-03-31 00:30:00.000"},
           Case{At(2024, 3, 31, 3, 0), "2024-03-31 02:00:00.000"},
           Case{At(2024, 10, 27, 0, 30), "2024-10-26 23:30:00.000"},
           Case{At(2024, 10, 27, 3, 0), "2024-10-27 03:00:00.000"},
       }) {
    const TDateTime utc = ConvertTimeZone(true, c.local);
    EXPECT_EQ(Text(utc), c.utc) << Text(c.local);
    EXPECT_EQ(ConvertTimeZone(false, utc), c.local) << Text(c.local);
  }
}

TEST_F(ConvertTimeZoneTest, RoundTripsExactlyToTheMillisecond) {
  for (int month = 1; month <= 12; ++month) {
    for (const TDateTime local : {At(2023, month, 10, 10), At(2023, month, 11, 23, 59, 59, 999),
                                  At(1890, month, 1, 12, 0, 0, 1)}) {
      const TDateTime utc = ConvertTimeZone(true, local);
      EXPECT_EQ(Text(utc).substr(14), Text(local).substr(14)) << Text(local);  // whole hours
      EXPECT_EQ(ConvertTimeZone(false, utc), local) << Text(local);
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(ConvertTimeZone(true, nan)));
}

TEST(ConversionsTest, LegsAndPricesAreCopiedOnlyForAValidIndex) {
  std::array<StrategyLegRecord, kStrategyLegCount> legs{};
  std::array<LegPriceText, kStrategyLegCount> prices{};
  for (std::size_t i = 0; i < legs.size(); ++i) {
    legs[i].fill(static_cast<char>('A' + i));
    prices[i].fill(static_cast<char>('a' + i));
  }
  struct Case {
    int index;
    char expected;  // every byte of the result; 0 for a zeroed record
  };
  for (const Case& c : {Case{0, 'A'}, Case{15, 'P'}, Case{16, 0}, Case{-1, 0}, Case{1000, 0}}) {
    // One guard byte past each record must stay untouched.
    char leg[sizeof(StrategyLegRecord) + 1];
    char price[sizeof(LegPriceText) + 1];
    std::memset(leg, '#', sizeof leg);
    std::memset(price, '#', sizeof price);
    GetStrategyLeg(c.index, legs, leg);
    GetLegPrice(c.index, prices, price);
    const char priceExpected = c.expected ? static_cast<char>(c.expected + ('a' - 'A')) : 0;
    EXPECT_EQ(std::string(leg, sizeof(StrategyLegRecord)),
              std::string(sizeof(StrategyLegRecord), c.expected))
        << c.index;
    EXPECT_EQ(std::string(price, sizeof(LegPriceText)),
              std::string(sizeof(LegPriceText), priceExpected))
        << c.index;
    EXPECT_EQ(leg[sizeof(StrategyLegRecord)], '#');
    EXPECT_EQ(price[sizeof(LegPriceText)], '#');
  }
}

TEST(ConversionsTest, ZeroRecordAndFillIds) {
  char record[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(ZeroRecord(record, 4), 0);
  EXPECT_EQ(std::string(record, 5), std::string("\0\0\0\0\x05", 5));
  EXPECT_EQ(ZeroRecord(nullptr, 4), 0);

  EXPECT_EQ(MakeSODFillID("TR1", "EXA", "COM", "MAR24"), "OP,TR1,EXA,COM,MAR24");
  EXPECT_EQ(MakeSODFillID("", "", "", ""), "OP,,,,");
  EXPECT_EQ(MakeEODFillID("TR1", "COM", "MAR24"), "CL,TR1,COM,MAR24");
  EXPECT_NE(MakeEODFillID("TR1", "COM", "MAR24"), MakeEODFillID("TR2", "COM", "MAR24"));
}

}  // namespace
}  // namespace vorn
