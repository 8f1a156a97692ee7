#include "sim/ContractOrderList.h"

#include <cmath>
#include <limits>
#include <utility>

#include "core/refdata/ContractItem.h"
#include "core/refdata/PriceStep.h"

namespace vorn::sim {
namespace {

// Whole ticks between the limits. A band that is a whole number of ticks can come out a hair
// below it in binary (2 / 0.005), so the quotient is nudged up by far less than a tick first.
std::int32_t BandTicksOf(double upper, double lower, double tickSize) {
  const double ticks = (upper - lower) / tickSize;
  const double whole = std::floor(ticks + 1e-9 * std::fmax(1.0, std::fabs(ticks)));
  if (!(whole > 0)) return 0;
  if (whole >= std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(whole);
}

}  // namespace

TContractOrderList::TContractOrderList(std::shared_ptr<TContractItem> contract, std::string key,
                                       double upper, double lower, std::int32_t lotLimit,
                                       double tickSize, std::int32_t ticksPerPoint)
    : contract_(std::move(contract)),
      key_(std::move(key)),
      description_(contract_->GetDescription()),
      upper_(upper),
      lower_(lower),
      tickSize_(tickSize),
      ticksPerPoint_(ticksPerPoint),
      bandTicks_(BandTicksOf(upper, lower, tickSize)),
      startPrice_(RoundPrice7(PriceStep(lower, tickSize, bandTicks_ / 2, ticksPerPoint))),
      lotLimit_(lotLimit) {}

}  // namespace vorn::sim
