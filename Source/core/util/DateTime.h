#pragma once
// TDateTime arithmetic and the date-time formats the library writes. The library's format
// settings are fixed (the ones its initialisation always sets), never the caller's locale.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vorn {

inline constexpr char kDateSeparator = '/';
inline constexpr char kTimeSeparator = ':';
inline constexpr const char* kShortDateFormat = "dd/MM/yyyy";
inline constexpr const char* kLongDateFormat = "dd MMMM yyyy";
inline constexpr const char* kShortTimeFormat = "hh:mm";
inline constexpr const char* kLongTimeFormat = "hh:mm:ss";

// Throw EConvertError for a date or time that does not exist.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);

// Decoding rounds to the nearest millisecond first, so 10:00:00 never reads as 09:59:59.999.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// Date-time <-> seconds since 1970-01-01 (no time zone applied), rounded to whole seconds.
// Dates before 1899-12-30 follow the date-time layout (day number, then the time as a positive
// fraction). A NaN, infinite or absurdly large date-time throws EConvertError.
std::int64_t DateTimeToUnixSeconds(TDateTime value);
TDateTime UnixSecondsToDateTime(std::int64_t seconds);
// The same in milliseconds, for exact arithmetic on times of day.
std::int64_t DateTimeToUnixMs(TDateTime value);
TDateTime UnixMsToDateTime(std::int64_t ms);

// Format specifiers: d dd ddd dddd, m mm mmm mmmm (minutes right after h or hh), M.. as m..,
// yy yyyy, h hh, n nn, s ss, z zzz, c (short date, then long time when not midnight),
// ddddd (short date), t / tt (short / long time), '/' and ':' separators, "..." and '...'
// literals. Letters are case-insensitive; any other character is copied.
std::string FormatDateTime(std::string_view format, TDateTime value);
// The library's default date-time text: short date, then long time unless it is midnight.
std::string DateTimeToStr(TDateTime value);

// Local time now, from the one clock.
inline TDateTime Now() {
  return Clock().NowLocal();
}
// The same at the coarse clock's resolution (a few milliseconds), for stamps written at high
// rates.
inline TDateTime NowCoarse() {
  return Clock().NowLocalCoarse();
}

}  // namespace vorn
