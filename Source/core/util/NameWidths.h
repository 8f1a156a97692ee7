#pragma once
// The widths of the names that the query records carry (their fields less the NUL). Received
// names are kept cut to them, and the query exports cut their arguments alike, so both reach
// the same item.

#include <cstddef>

namespace vorn {

inline constexpr std::size_t kExchangeNameWidth = 10;
inline constexpr std::size_t kCommodityNameWidth = 10;
inline constexpr std::size_t kContractDateWidth = 50;
inline constexpr std::size_t kCurrencyWidth = 10;
inline constexpr std::size_t kOrderTypeNameWidth = 10;
inline constexpr std::size_t kTicketTypeWidth = 2;
inline constexpr std::size_t kTraderAccountWidth = 20;
inline constexpr std::size_t kReportTypeWidth = 20;

}  // namespace vorn
