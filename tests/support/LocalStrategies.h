#pragma once
// The test build's CreateStrategyLocally (each library defines its own; the tests link the
// exports without one): every call is recorded and answered with the result set last.
// Any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

struct TLocalStrategyCall {
  char StrategyType = 0;
  std::int32_t LegCount = 0;
  std::string Exchange;
  std::string Commodity;
  std::string FirstLegDate;  // leg 1's date text, as the record holds it
};

// Forgets the calls; later calls return result.
void ResetLocalStrategies(std::int32_t result = 0);
std::vector<TLocalStrategyCall> LocalStrategyCalls();

}  // namespace vorn
