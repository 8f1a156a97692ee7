#pragma once
// Strategy creation without the host, for the environment 'D': each library defines its own.
// The live library's does nothing and returns 0.

#include <cstdint>
#include <string_view>

#include "vornintf.h"

namespace vorn {

// legCount: clamped to 0..16; legs: the caller's 16 leg records, read during the call only.
// Runs on the calling application thread with no lock held. Returns the export's result.
std::int32_t CreateStrategyLocally(char strategyType, std::int32_t legCount,
                                   std::string_view exchange, std::string_view commodity,
                                   const StrategyLegStruct* legs);

}  // namespace vorn
