#pragma once
// Month codes of contract legs, from a contract date text whose first three characters are a
// month name (any case, ASCII) and whose next two are a two-digit year:
// - on an exchange whose name begins with "CME" (as written): the month letter (F G H J K M N Q
//   U V X Z for January to December) and the year without a leading zero: MAR07 -> H7;
// - elsewhere the four-digit year (00-80 are 2000-2080, 81-99 are 1981-1999) and the two-digit
//   month: MAR07 -> 200703, DEC99 -> 199912.
// nullopt for a text shorter than five characters, an unknown month name or a year that is not
// two digits. Pure; any thread.

#include <optional>
#include <string>
#include <string_view>

namespace vorn::sim {

std::optional<std::string> MonthCode(std::string_view contractDate, std::string_view exchange);

}  // namespace vorn::sim
