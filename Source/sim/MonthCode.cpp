#include "sim/MonthCode.h"

#include <array>

#include "core/util/NumberText.h"

namespace vorn::sim {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr std::string_view kMonthLetters = "FGHJKMNQUVXZ";

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::string> MonthCode(std::string_view contractDate, std::string_view exchange) {
  if (contractDate.size() < 5) return std::nullopt;
  const std::string month = {UpperAscii(contractDate[0]), UpperAscii(contractDate[1]),
                             UpperAscii(contractDate[2])};
  std::size_t index = 0;
  while (index < kMonths.size() && kMonths[index] != month) ++index;
  if (index == kMonths.size()) return std::nullopt;
  if (!IsDigit(contractDate[3]) || !IsDigit(contractDate[4])) return std::nullopt;
  const int year = (contractDate[3] - '0') * 10 + (contractDate[4] - '0');

  if (exchange.starts_with("CME"))
    return std::string(1, kMonthLetters[index]) + IntToStr(year);
  const int fullYear = year <= 80 ? 2000 + year : 1900 + year;
  const int monthNumber = static_cast<int>(index) + 1;
  std::string code = IntToStr(fullYear);
  code.push_back(static_cast<char>('0' + monthNumber / 10));
  code.push_back(static_cast<char>('0' + monthNumber % 10));
  return code;
}

}  // namespace vorn::sim
