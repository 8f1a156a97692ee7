#include "core/util/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vorn {
namespace {

constexpr int kGeneralPrecision = 15;
constexpr int kMaxDecimals = 18;
constexpr int kRawDigits = 18;

// |value| = 0.d1 d2 ... d(count) x 10^exponent; count 0 is zero.
struct TDecimal {
  char digits[kRawDigits + 1];
  int count;
  int exponent;
  bool negative;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value's first 18 significant digits, as the original read them off an 80-bit value.
void ToDecimal(double value, TDecimal& d) {
  d.negative = std::signbit(value);
  d.count = 0;
  d.exponent = 0;
  if (value == 0) return;
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, kRawDigits - 1);
  // "d.ddddddddddddddddde+XX"
  d.digits[0] = buffer[0];
  std::copy(buffer + 2, buffer + 1 + kRawDigits, d.digits + 1);
  d.count = kRawDigits;
  const char* exponentText = buffer + 2 + kRawDigits;  // after the 'e'
  const bool negativeExponent = *exponentText == '-';
  int exponent = 0;
  std::from_chars(exponentText + 1, result.ptr, exponent);
  d.exponent = (negativeExponent ? -exponent : exponent) + 1;
}

// Keeps the first `keep` digits, rounding half away from zero on the digit after them, then
// drops trailing zeros. A keep of 0 or less can leave zero or carry to a single "1".
void RoundDigits(TDecimal& d, int keep) {
  if (keep < d.count) {
    if (keep < 0) {
      d.count = 0;
    } else {
      const bool up = d.digits[keep] >= '5';
      d.count = keep;
      if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9')
          --i;
        if (i < 0) {
          d.digits[0] = '1';
          d.count = 1;
          ++d.exponent;
        } else {
          ++d.digits[i];
          d.count = i + 1;
        }
      }
    }
  }
  while (d.count > 0 && d.digits[d.count - 1] == '0')
    --d.count;
  if (d.count == 0) d.exponent = 0;
}

// The digits of the value when it is a decimal of at most 15 significant digits and at most 8
// decimals (a price) in the general format's fixed range (0.0001 up to 15 integer digits);
// false otherwise. Such a decimal m / 10^k is found when m / 10^k, computed exactly rounded,
// gives the value back: it then lies within half a unit in the last place (at most 1.2e-16) of
// the value, the value's 18 digits (ToDecimal) within 5e-18 of it, and both round to the same
// 15 digits, which are m's.
bool ShortDecimal(double value, TDecimal& d) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return false;
  for (int decimals = 0; decimals < static_cast<int>(std::size(kPowers)); ++decimals) {
    const double power = kPowers[decimals];
    const double scaled = std::nearbyint(magnitude * power);
    if (scaled >= 1e15) return false;
    if (scaled / power != magnitude) continue;
    char text[16];
    const auto end =
        std::to_chars(text, text + sizeof text, static_cast<std::uint64_t>(scaled)).ptr;
    const int length = static_cast<int>(end - text);
    d.count = length;
    while (d.count > 1 && text[d.count - 1] == '0')
      --d.count;
    std::memcpy(d.digits, text, static_cast<std::size_t>(d.count));
    d.exponent = length - decimals;
    d.negative = std::signbit(value);
    return true;
  }
  return false;
}

const char* NonFiniteText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Appends to a buffer the longest text fits in (kFloatTextSize, checked by the formats).
class TTextWriter {
 public:
  explicit TTextWriter(char* text) : text_(text) {}
  void Put(char c) { text_[size_++] = c; }
  void Put(const char* from, std::size_t count) {
    std::copy(from, from + count, text_ + size_);
    size_ += count;
  }
  void Put(const char* from) { Put(from, std::char_traits<char>::length(from)); }
  void PutZeros(std::size_t count) {
    std::fill(text_ + size_, text_ + size_ + count, '0');
    size_ += count;
  }
  void PutInt(int value) {
    const auto result = std::to_chars(text_ + size_, text_ + kFloatTextSize, value);
    size_ = static_cast<std::size_t>(result.ptr - text_);
  }
  std::string_view Text() const { return {text_, size_}; }

 private:
  char* text_;
  std::size_t size_ = 0;
};

// Scientific past `precision` integer digits or below 0.0001. At most 25 characters: a sign,
// 18 digits, '.', 'E' and "-324"; or a sign, "0.000" and 18 digits.
std::string_view FormatGeneral(const TDecimal& d, char (&text)[kFloatTextSize],
                               int precision = kGeneralPrecision) {
  TTextWriter out(text);
  if (d.count == 0) {
    out.Put('0');
    return out.Text();
  }
  if (d.negative) out.Put('-');
  if (d.exponent > precision || d.exponent < -3) {
    out.Put(d.digits[0]);
    if (d.count > 1) {
      out.Put('.');
      out.Put(d.digits + 1, static_cast<std::size_t>(d.count - 1));
    }
    out.Put('E');
    out.PutInt(d.exponent - 1);
  } else if (d.exponent <= 0) {
    out.Put("0.");
    out.PutZeros(static_cast<std::size_t>(-d.exponent));
    out.Put(d.digits, static_cast<std::size_t>(d.count));
  } else {
    const int integerDigits = std::min(d.exponent, d.count);
    out.Put(d.digits, static_cast<std::size_t>(integerDigits));
    if (d.exponent > d.count) {
      out.PutZeros(static_cast<std::size_t>(d.exponent - d.count));
    } else if (d.count > d.exponent) {
      out.Put('.');
      out.Put(d.digits + integerDigits, static_cast<std::size_t>(d.count - integerDigits));
    }
  }
  return out.Text();
}

template <typename T>
bool ParseInteger(std::string_view text, T& result) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first == last || !IsDigit(*first)) return false;  // no "+-5"
  }
  T value{};
  const auto [ptr, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || ptr != last) return false;
  result = value;
  return true;
}

}  // namespace

std::string_view FloatToStr(double value, char (&text)[kFloatTextSize]) noexcept {
  if (!std::isfinite(value)) {
    TTextWriter out(text);
    out.Put(NonFiniteText(value));
    return out.Text();
  }
  TDecimal d;
  if (!ShortDecimal(value, d)) {
    ToDecimal(value, d);
    RoundDigits(d, kGeneralPrecision);
  }
  return FormatGeneral(d, text);
}

std::string FloatToStr(double value) {
  char text[kFloatTextSize];
  return std::string(FloatToStr(value, text));
}

std::string FloatToStrFixed(double value, int decimals) {
  return FloatToStrFixed(value, kGeneralPrecision, decimals);
}

std::string FloatToStrFixed(double value, int precision, int decimals) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  precision = std::clamp(precision, 1, kRawDigits);
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  TDecimal d;
  ToDecimal(value, d);
  // Round at the requested decimal, but never keep more than `precision` significant digits.
  RoundDigits(d, d.count == 0 ? 0 : std::min(d.exponent + decimals, precision));
  if (d.exponent > precision) {
    ToDecimal(value, d);
    RoundDigits(d, precision);
    char text[kFloatTextSize];
    return std::string(FormatGeneral(d, text, precision));
  }
  std::string out;
  out.reserve(static_cast<std::size_t>(std::max(d.exponent, 1) + decimals + 2));
  if (d.negative && d.count > 0) out += '-';  // a value rounded to zero has no sign
  if (d.exponent <= 0) {
    out += '0';
  } else {
    for (int i = 0; i < d.exponent; ++i)
      out += i < d.count ? d.digits[i] : '0';
  }
  if (decimals > 0) {
    out += '.';
    for (int k = 0; k < decimals; ++k) {
      const int i = d.exponent + k;
      out += i >= 0 && i < d.count ? d.digits[i] : '0';
    }
  }
  return out;
}

std::string IntToStr(std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool TryStrToFloat(std::string_view text, double& result) {
  // Checked by hand first: from_chars would also take "inf", "nan" and "1e" followed by text
  // it leaves unread, and rejects the leading '+'.
  const std::size_t n = text.size();
  std::size_t i = 0;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissaStart = i;
  int mantissaDigits = 0;
  int fractionDigits = 0;
  std::uint64_t mantissa = 0;  // exact while mantissaDigits <= 19
  // Decimal position of the first significant digit, to tell underflow from overflow.
  long magnitude = 0;
  bool significant = false;
  while (i < n && IsDigit(text[i])) {
    significant = significant || text[i] != '0';
    if (significant) ++magnitude;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++mantissaDigits;
    ++i;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      if (!significant) {
        if (text[i] != '0')
          significant = true;
        else
          --magnitude;
      }
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
      ++mantissaDigits;
      ++fractionDigits;
      ++i;
    }
  }
  if (mantissaDigits == 0) return false;
  long exponent = 0;
  const bool exponentGiven = i < n && (text[i] == 'e' || text[i] == 'E');
  if (exponentGiven) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
    if (i == n || !IsDigit(text[i])) return false;
    while (i < n && IsDigit(text[i])) {
      exponent = std::min(exponent * 10 + (text[i] - '0'), 1000000000L);
      ++i;
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (i != n) return false;

  // At most 15 digits and no exponent (a price as the servers send it): the digits and the
  // power of ten are exact doubles, and one division rounds as from_chars does.
  if (!exponentGiven && mantissaDigits <= kGeneralPrecision) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double value = static_cast<double>(mantissa) / kPowers[fractionDigits];
    result = negative ? -value : value;
    return true;
  }

  // from_chars takes the '-' itself; the '+' was checked above.
  const char* first = text.data() + (negative ? 0 : mantissaStart);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(first, text.data() + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && significant && magnitude + exponent <= 0) {
    value = negative ? -0.0 : 0.0;  // underflow reads as zero
  } else if (ec != std::errc() || ptr != text.data() + n || !std::isfinite(value)) {
    return false;  // overflow
  }
  result = value;
  return true;
}

bool TryStrToInt(std::string_view text, std::int32_t& result) {
  return ParseInteger(text, result);
}

bool TryStrToInt64(std::string_view text, std::int64_t& result) {
  return ParseInteger(text, result);
}

}  // namespace vorn
