#include "core/util/DateTime.h"

#include <charconv>
#include <cmath>

#include "core/util/Exceptions.h"

namespace vorn {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kMsPerSecond = 1000;
// Days from 0001-01-01 to 1899-12-30 and from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kDaysTo1899 = 693594;
constexpr std::int64_t kDaysUnixTo1899 = 25569;
// Far outside years 1..9999, yet small enough that a millisecond count never overflows.
constexpr double kMaxDays = 1.0e9;

constexpr const char* kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[12] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
constexpr const char* kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// A date-time as a day number (days since 1899-12-30, the integer part truncated towards zero)
// and the milliseconds into that day, the absolute fraction: -1.25 is the day before the
// base date at 06:00. The value is first rounded to the nearest millisecond (halves to even).
struct TTimeStamp {
  std::int64_t day;
  std::int64_t ms;
};

bool ToTimeStamp(TDateTime value, TTimeStamp& stamp) {
  if (!std::isfinite(value) || std::fabs(value) > kMaxDays) return false;
  const auto total =
      static_cast<std::int64_t>(std::nearbyint(value * static_cast<double>(kMsPerDay)));
  const std::int64_t magnitude = total < 0 ? -total : total;
  stamp.day = magnitude / kMsPerDay;
  stamp.ms = magnitude % kMsPerDay;
  if (total < 0) stamp.day = -stamp.day;
  return true;
}

TDateTime FromTimeStamp(std::int64_t day, std::int64_t ms) {
  const double fraction = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

struct TDecoded {
  int year = 0, month = 0, day = 0, dayOfWeek = 0;  // dayOfWeek 0 = Sunday
  int hour = 0, minute = 0, second = 0, ms = 0;
};

TDecoded Decode(TDateTime value) {
  TDecoded d;
  TTimeStamp stamp{};
  if (!ToTimeStamp(value, stamp)) return d;
  const auto msOfDay = static_cast<int>(stamp.ms);
  d.hour = msOfDay / 3600000;
  d.minute = msOfDay / 60000 % 60;
  d.second = msOfDay / 1000 % 60;
  d.ms = msOfDay % 1000;
  std::int64_t year = 0;
  CivilFromDays(stamp.day - kDaysUnixTo1899, year, d.month, d.day);
  if (year < 1 || year > 9999) {
    // No such calendar date in the date-time range: the date reads as zeros.
    d.month = d.day = 0;
    return d;
  }
  d.year = static_cast<int>(year);
  // 1899-12-30 was a Saturday.
  d.dayOfWeek = static_cast<int>(((stamp.day + 6) % 7 + 7) % 7);
  return d;
}

// Walks the format once, specifier by specifier; nested formats (c, ddddd, t) recurse.
class TDateTimeFormatter {
 public:
  explicit TDateTimeFormatter(TDateTime value) : d_(Decode(value)) {}

  void Append(std::string_view format, int level = 0) {
    if (level > 2) return;  // nested formats never refer back; guard against a loop all the same
    std::size_t i = 0;
    while (i < format.size()) {
      const char starter = format[i++];
      char token = starter;
      if (token >= 'a' && token <= 'z') token = static_cast<char>(token - 32);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && lastToken_ == 'H') token = 'N';
        lastToken_ = token;
      }
      // Letters repeat case-sensitively: "Mm" is two one-letter specifiers.
      int count = 1;
      auto takeCount = [&] {
        while (i < format.size() && format[i] == starter) {
          ++i;
          ++count;
        }
      };
      switch (token) {
        case 'Y':
          takeCount();
          if (count <= 2)
            AppendNumber(d_.year % 100, 2);
          else
            AppendNumber(d_.year, 4);
          break;
        case 'M':
          takeCount();
          if (count <= 2)
            AppendNumber(d_.month, count);
          else if (d_.month >= 1)
            out_ += (count == 3 ? kShortMonthNames : kLongMonthNames)[d_.month - 1];
          break;
        case 'D':
          takeCount();
          if (count <= 2)
            AppendNumber(d_.day, count);
          else if (count <= 4) {
            if (d_.month >= 1) out_ += (count == 3 ? kShortDayNames : kLongDayNames)[d_.dayOfWeek];
          } else
            Append(count == 5 ? kShortDateFormat : kLongDateFormat, level + 1);
          break;
        case 'H':
          takeCount();
          AppendNumber(d_.hour, count > 2 ? 2 : count);
          break;
        case 'N':
          takeCount();
          AppendNumber(d_.minute, count > 2 ? 2 : count);
          break;
        case 'S':
          takeCount();
          AppendNumber(d_.second, count > 2 ? 2 : count);
          break;
        case 'Z':
          takeCount();
          AppendNumber(d_.ms, count > 3 ? 3 : count);
          break;
        case 'T':
          takeCount();
          Append(count == 1 ? kShortTimeFormat : kLongTimeFormat, level + 1);
          break;
        case 'C':
          takeCount();
          Append(kShortDateFormat, level + 1);
          // Milliseconds alone do not count: the long time format would not show them.
          if (d_.hour != 0 || d_.minute != 0 || d_.second != 0) {
            out_ += ' ';
            Append(kLongTimeFormat, level + 1);
          }
          break;
        case '/':
          out_ += kDateSeparator;
          break;
        case ':':
          out_ += kTimeSeparator;
          break;
        case '\'':
        case '"': {
          const std::size_t close = format.find(starter, i);
          const std::size_t end = close == std::string_view::npos ? format.size() : close;
          out_.append(format.substr(i, end - i));
          i = close == std::string_view::npos ? end : end + 1;
          break;
        }
        default:
          out_ += starter;
          break;
      }
    }
  }

  std::string Take() { return std::move(out_); }

 private:
  // At least `digits` digits, zero-padded.
  void AppendNumber(int number, int digits) {
    char buffer[16];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    const auto length = static_cast<int>(end - buffer);
    if (length < digits) out_.append(static_cast<std::size_t>(digits - length), '0');
    out_.append(buffer, end);
  }

  TDecoded d_;
  std::string out_;
  char lastToken_ = ' ';
};

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const std::int64_t y = year - 1;
  const std::int64_t dayOfYear =
      kDaysBefore[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0) + day;
  result = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + dayOfYear - kDaysTo1899);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  result = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) /
           static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result))
    throw EConvertError("Invalid argument to date encode");
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result = 0;
  if (!TryEncodeTime(hour, minute, second, millisecond, result))
    throw EConvertError("Invalid argument to time encode");
  return result;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const TDecoded d = Decode(value);
  year = d.year;
  month = d.month;
  day = d.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  const TDecoded d = Decode(value);
  hour = d.hour;
  minute = d.minute;
  second = d.second;
  millisecond = d.ms;
}

std::int64_t DateTimeToUnixMs(TDateTime value) {
  TTimeStamp stamp{};
  if (!ToTimeStamp(value, stamp)) throw EConvertError("Date-time out of range");
  return (stamp.day - kDaysUnixTo1899) * kMsPerDay + stamp.ms;
}

TDateTime UnixMsToDateTime(std::int64_t ms) {
  const std::int64_t days = FloorDiv(ms, kMsPerDay);
  return FromTimeStamp(days + kDaysUnixTo1899, ms - days * kMsPerDay);
}

std::int64_t DateTimeToUnixSeconds(TDateTime value) {
  return FloorDiv(DateTimeToUnixMs(value) + kMsPerSecond / 2, kMsPerSecond);
}

TDateTime UnixSecondsToDateTime(std::int64_t seconds) {
  const std::int64_t days = FloorDiv(seconds, 86400);
  return FromTimeStamp(days + kDaysUnixTo1899, (seconds - days * 86400) * kMsPerSecond);
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  TDateTimeFormatter formatter(value);
  formatter.Append(format.empty() ? std::string_view("c") : format);
  return formatter.Take();
}

std::string DateTimeToStr(TDateTime value) {
  return FormatDateTime("c", value);
}

}  // namespace vorn
