#pragma once
// Number <-> text with '.' as decimal separator whatever the process locale, reproducing the
// original run-time library's formats.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

// General format: 15 significant digits, rounded half away from zero, no trailing zeros; fixed
// notation from 0.0001 up to 15 integer digits, else scientific as "1.5E-7" / "1E15".
std::string FloatToStr(double value);
// The same written into the caller's buffer, for hot paths that must not allocate; the view is
// of the buffer (no NUL is written). Any thread.
inline constexpr std::size_t kFloatTextSize = 32;
std::string_view FloatToStr(double value, char (&text)[kFloatTextSize]) noexcept;
// Fixed format with the given number of decimals (0 to 18), rounded half away from zero
// (2.5 -> "3", 0.125 -> "0.13"); large values fall back to the general format.
std::string FloatToStrFixed(double value, int decimals);
// The same with at most `precision` significant digits (1 to 18): the value is rounded at the
// requested decimal or at the last significant digit, whichever comes first (12345.678 at
// precision 6 and 2 decimals is "12345.70"). A value with more integer digits than precision
// falls back to the general format at that precision ("1.23456789E10").
std::string FloatToStrFixed(double value, int precision, int decimals);
std::string IntToStr(std::int64_t value);

// Strict parses of a whole text (no blanks): optional sign, digits, '.', exponent for floats;
// no thousands separators, "inf", "nan" or hexadecimal. Out-of-range values fail.
bool TryStrToFloat(std::string_view text, double& result);
bool TryStrToInt(std::string_view text, std::int32_t& result);
bool TryStrToInt64(std::string_view text, std::int64_t& result);

}  // namespace vorn
