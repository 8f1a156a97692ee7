#include "core/util/DateTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "core/util/Exceptions.h"

namespace vorn {
namespace {

constexpr double kMs = 1.0 / 86400000.0;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
}

TEST(DateTimeTest, EncodeDateMatchesDayNumbersAndDecodesBack) {
  struct Case {
    int year, month, day;
    double serial;
  };
  for (const Case& c :
       {Case{1899, 12, 30, 0}, Case{1900, 1, 1, 2}, Case{1900, 3, 1, 61}, Case{1970, 1, 1, 25569},
        Case{2000, 2, 29, 36585}, Case{2024, 3, 5, 45356}, Case{1, 1, 1, -693593},
        Case{9999, 12, 31, 2958465}, Case{1899, 12, 29, -1}, Case{1600, 2, 29, -109512}}) {
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.serial) << c.year << "-" << c.month;
    int y = 0, m = 0, d = 0;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.year * 10000 + c.month * 100 + c.day) << c.serial;
  }
}

TEST(DateTimeTest, InvalidDatesAndTimesAreRejected) {
  struct DateCase {
    int year, month, day;
  };
  for (const DateCase& c :
       {DateCase{2023, 2, 29}, DateCase{1900, 2, 29}, DateCase{0, 1, 1}, DateCase{10000, 1, 1},
        DateCase{2024, 13, 1}, DateCase{2024, 0, 1}, DateCase{2024, 4, 31}, DateCase{2024, 1, 0}}) {
    TDateTime out = -7;
    EXPECT_FALSE(TryEncodeDate(c.year, c.month, c.day, out)) << c.year << "-" << c.month;
    EXPECT_EQ(out, -7);
    EXPECT_THROW(EncodeDate(c.year, c.month, c.day), EConvertError);
  }
  struct TimeCase {
    int h, m, s, ms;
  };
  for (const TimeCase& c :
       {TimeCase{24, 0, 0, 0}, TimeCase{0, 60, 0, 0}, TimeCase{0, 0, 60, 0},
        TimeCase{0, 0, 0, 1000}, TimeCase{-1, 0, 0, 0}, TimeCase{0, 0, 0, -1}}) {
    TDateTime out = -7;
    EXPECT_FALSE(TryEncodeTime(c.h, c.m, c.s, c.ms, out)) << c.h << ":" << c.m;
    EXPECT_THROW(EncodeTime(c.h, c.m, c.s, c.ms), EConvertError);
  }
  EXPECT_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(DateTimeTest, DecodeRoundsToTheNearestMillisecondFirst) {
  struct Case {
    TDateTime value;
    const char* expected;  // yyyy-mm-dd hh:nn:ss.zzz
  };
  const TDateTime ten = At(2024, 3, 5, 10);
  for (const Case& c : {
           Case{ten - kMs * 0.4, "2024-03-05 10:00:00.000"},
           Case{ten + kMs * 0.4, "2024-03-05 10:00:00.000"},
           Case{45356 + 10.0 / 24, "2024-03-05 10:00:00.000"},
           Case{45356 + 36000.0 / 86400, "2024-03-05 10:00:00.000"},
           Case{At(2024, 3, 5, 23, 59, 59, 999) + kMs * 0.6, "2024-03-06 00:00:00.000"},
           // Before the base date the integer part is the day and the fraction the time.
           Case{-1.25, "1899-12-29 06:00:00.000"},
           Case{-1.75, "1899-12-29 18:00:00.000"},
           Case{-0.5, "1899-12-30 12:00:00.000"},
           Case{-2.0 - kMs * 1.4, "1899-12-28 00:00:00.001"},
       }) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDate(c.value, y, mo, d);
    DecodeTime(c.value, h, mi, s, ms);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    EXPECT_STREQ(text, c.expected) << c.value;
  }
  int y = 1, mo = 1, d = 1, h = 1, mi = 1, s = 1, ms = 1;
  DecodeDate(std::numeric_limits<double>::quiet_NaN(), y, mo, d);
  DecodeTime(std::numeric_limits<double>::infinity(), h, mi, s, ms);
  EXPECT_EQ(y + mo + d + h + mi + s + ms, 0);
}

TEST(DateTimeTest, UnixSecondsTable) {
  struct Case {
    TDateTime value;
    std::int64_t seconds;
  };
  for (const Case& c :
       {Case{25569, 0}, Case{25569.5, 43200}, Case{At(2024, 3, 31, 1), 1711846800},
        Case{At(1969, 12, 31, 23, 59, 59), -1}, Case{-1.25, -2209226400},  // 1899-12-29 06:00
        Case{0, -2209161600}}) {
    EXPECT_EQ(DateTimeToUnixSeconds(c.value), c.seconds) << c.value;
    EXPECT_EQ(UnixSecondsToDateTime(c.seconds), c.value) << c.seconds;
  }
  EXPECT_EQ(DateTimeToUnixSeconds(25569 + 499 * kMs), 0);
  EXPECT_EQ(DateTimeToUnixSeconds(25569 + 500 * kMs), 1);
  EXPECT_EQ(DateTimeToUnixMs(At(1969, 12, 31, 23, 59, 59, 999)), -1);
  EXPECT_EQ(UnixMsToDateTime(-1), At(1969, 12, 31, 23, 59, 59, 999));
  EXPECT_EQ(UnixMsToDateTime(DateTimeToUnixMs(-1.25 - 123 * kMs)), -1.25 - 123 * kMs);
  EXPECT_THROW(DateTimeToUnixSeconds(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(DateTimeToUnixMs(1e300), EConvertError);
}

TEST(DateTimeTest, FormatDateTimeTable) {
  const TDateTime value = At(2024, 3, 5, 9, 7, 3, 45);  // a Tuesday
  struct Case {
    const char* format;
    const char* expected;
  };
  for (const Case& c : {
           Case{"yyyymmdd", "20240305"},
           Case{"hhnnss", "090703"},
           Case{"hh:nn:ss.zzz", "09:07:03.045"},
           Case{"yyyymmddhhnnss", "20240305090703"},
           Case{"hhmmsszzz", "090703045"},  // m right after h is minutes
           Case{"dd/MM/yyyy", "05/03/2024"},
           Case{"dd MMMM yyyy", "05 March 2024"},
           Case{"c", "05/03/2024 09:07:03"},
           Case{"", "05/03/2024 09:07:03"},
           Case{"d/m/yy h:n:s z", "5/3/24 9:7:3 45"},
           Case{"ddd dddd mmm", "Tue Tuesday Mar"},
           Case{"ddddd|dddddd", "05/03/2024|05 March 2024"},
           Case{"t|tt", "09:07|09:07:03"},
           Case{"HH:MM", "09:07"},
           Case{"hh 'x' mm", "09 x 07"},  // a literal does not break the h-m link
           Case{"hh x mm", "09 x 03"},    // another letter does
           Case{"Mm", "33"},              // repeats are case-sensitive
           Case{"hhh nnn sss zzzz yyy", "09 07 03 045 2024"},
           Case{"'yyyy' \"hh\" #-", "yyyy hh #-"},
           Case{"'unclosed", "unclosed"},
       }) {
    EXPECT_EQ(FormatDateTime(c.format, value), c.expected) << c.format;
  }
  EXPECT_EQ(FormatDateTime("dddd dd/MM/yyyy hh:nn", -1.25), "Friday 29/12/1899 06:00");
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", At(2024, 3, 5, 10) - kMs * 0.3), "10:00:00.000");
}

TEST(DateTimeTest, DateTimeToStrOmitsAMidnightTime) {
  EXPECT_EQ(DateTimeToStr(At(2024, 3, 5)), "05/03/2024");
  EXPECT_EQ(DateTimeToStr(At(2024, 3, 5, 0, 0, 0, 500)), "05/03/2024");  // ms are not shown
  EXPECT_EQ(DateTimeToStr(At(2024, 3, 5, 0, 0, 1)), "05/03/2024 00:00:01");
  EXPECT_EQ(DateTimeToStr(At(2024, 12, 31, 23, 59, 59)), "31/12/2024 23:59:59");
  EXPECT_EQ(DateTimeToStr(-1.25), "29/12/1899 06:00:00");
}

}  // namespace
}  // namespace vorn
