#include "support/LocalStrategies.h"

#include <cstring>
#include <mutex>
#include <string_view>

#include "api/StrategyCreation.h"

namespace vorn {
namespace {

struct TLocalStrategies {
  std::mutex Lock;
  std::vector<TLocalStrategyCall> Calls;
  std::int32_t Result = 0;
};

TLocalStrategies& State() {
  static TLocalStrategies state;
  return state;
}

}  // namespace

void ResetLocalStrategies(std::int32_t result) {
  TLocalStrategies& state = State();
  std::lock_guard guard(state.Lock);
  state.Calls.clear();
  state.Result = result;
}

std::vector<TLocalStrategyCall> LocalStrategyCalls() {
  TLocalStrategies& state = State();
  std::lock_guard guard(state.Lock);
  return state.Calls;
}

std::int32_t CreateStrategyLocally(char strategyType, std::int32_t legCount,
                                   std::string_view exchange, std::string_view commodity,
                                   const StrategyLegStruct* legs) {
  TLocalStrategyCall call{
      strategyType, legCount, std::string(exchange), std::string(commodity), {}};
  if (legs) {
    call.FirstLegDate.assign(legs[0].ContractDate,
                             strnlen(legs[0].ContractDate, sizeof legs[0].ContractDate));
  }
  TLocalStrategies& state = State();
  std::lock_guard guard(state.Lock);
  state.Calls.push_back(std::move(call));
  return state.Result;
}

}  // namespace vorn
