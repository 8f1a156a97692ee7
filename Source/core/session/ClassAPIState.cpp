#include "core/session/ClassAPIState.h"

#include <utility>

namespace vorn {

void EnabledFunctionality(const THostFeatures& features, std::int32_t& mask1, std::int32_t& mask2) {
  const std::pair<const std::atomic<bool>*, std::int32_t> bits[] = {
      {&features.DOMEnabled, 1},
      {&features.PostTradeAmend, 2},
      {&features.Functionality4, 4},
      {&features.Functionality32, 32},
      {&features.Functionality64, 64},
      {&features.MarketDataRequired, 128},
      {&features.Functionality256, 256},
      {&features.MarginMode, 512},
      {&features.Functionality1024, 1024},
      {&features.Functionality2048, 2048},
      {&features.Functionality4096, 4096},
      {&features.Functionality8192, 8192},
      {&features.Functionality16384, 16384},
      {&features.Functionality32768, 32768},
      {&features.Functionality65536, 65536},
      {&features.Functionality131072, 131072},
      {&features.Functionality262144, 262144},
      {&features.StrategyPermission, 524288},
      {&features.Functionality1048576, 1048576},
      {&features.Functionality2097152, 2097152},
      {&features.Functionality4194304, 4194304},
  };
  mask1 = 0;
  for (const auto& [flag, bit] : bits)
    if (*flag) mask1 |= bit;
  mask2 = (features.EnableClientRole1 ? 1 : 0) | (features.EnableClientRole2 ? 2 : 0) |
          (features.EnableClientRole3 ? 4 : 0) | (features.EnableClientRole4 ? 8 : 0);
}

}  // namespace vorn
