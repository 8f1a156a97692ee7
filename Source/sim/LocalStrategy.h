#pragma once
// The strategies that vnCreateStrategy makes without a host in the simulator library: a
// strategy contract named from its legs' contracts, added to the contract list with a book and
// appended to the contract file, so that the next start reads it back.
//
// The name is built by the strategy type character from the legs' outright contracts (each a
// future "M" or a single option "M K k"), in the shapes the contract file's reader knows
// (ContractShape.h), and the contract's legs are the shape of that name, so the contract made
// now and the one read back after a new start are the same:
//   'D' two legs of one kind: "M1 CAL M2/S" (futures) or "M1 K k CAL M2/S" (options, one strike);
//   'E' two futures: "M1M2";
//   'S' an option: "M K STRDL";
//   'd' two options of one kind and month and a future: "M K1/K2 k/S vs BUY|SELL U MU", BUY when
//       the future's ratio is above 0; only "C/S vs SELL" and "P/S vs BUY" read back;
//   's' an option and a future: "M K STRDL vs BUY|SELL MU".
//
// Results: 48 (nothing posted) when the commodity is not on the exchange; 22 with the failure
// event (24, "Strategy is not supported in the Demo") for another type character, legs that
// do not make one of these names, or a strategy of that name held already; 99 with the failure
// event ("Strategy creation failed in the Demo") when a leg's contract is not held, the
// simulation has not started, the contract file cannot be appended to, or on an exception.
// On 0: the line "exchange,commodity,name,expiry,last trade,3,-2,30" is appended first (a
// newline in front when the file does not end in one), then the contract is listed with a book
// (limits 3.0 / -3.0, lot limit 100), the success event (23: user, exchange, commodity, leg 1's
// contract date, the new name) and the contract-added event (11) are posted.
//
// Threads: the application's, with no lock held; calls are serialised among themselves. The
// contract list and the market take their own locks.

#include <cstdint>
#include <string_view>

#include "vornintf.h"

namespace vorn {
class TClassAPI;
}

namespace vorn::sim {

class TAutoDemo;

inline constexpr const char* kStrategyNotSupportedText = "Strategy is not supported in the Demo";
inline constexpr const char* kStrategyFailedText = "Strategy creation failed in the Demo";

// demo: the running simulation, or null. legs: legCount (1..16) records, read during the call.
std::int32_t CreateLocalStrategy(TClassAPI& api, TAutoDemo* demo, char strategyType,
                                 std::int32_t legCount, std::string_view exchange,
                                 std::string_view commodity, const StrategyLegStruct* legs);

}  // namespace vorn::sim
