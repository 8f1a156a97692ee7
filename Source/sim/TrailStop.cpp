#include "sim/TrailStop.h"

#include <cmath>
#include <limits>

#include "core/diag/Trace.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"

namespace vorn::sim {

std::optional<double> TrailedStopPrice(const TTrailInputs& in) {
  if (!in.HasParent) return std::nullopt;
  constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
  const double sentAt = SafeStrToFloat(in.StopStPrice, kNotANumber);
  const double distance = SafeStrToFloat(in.ParentStPrice, kNotANumber);
  for (const double figure : {sentAt, distance, in.StopPrice, in.LastTrade, in.ParentPrice,
                              in.ParentStSteps2, in.TickSize})
    if (!std::isfinite(figure)) return std::nullopt;
  if (in.ParentStSteps2 == 0) return std::nullopt;

  const double priceDiff = in.LastTrade - sentAt;
  const double stepDiff = std::trunc(priceDiff / in.ParentStSteps2);
  const double base = in.Buy ? in.ParentPrice + distance : in.ParentPrice - distance;
  const double newPrice = base + stepDiff * in.TickSize;
  WriteTraceLine(std::string(in.Buy ? "Stop is a BUY, LTP=" : "Stop is a SELL, LTP=") +
                 FloatToStr(in.LastTrade) + " Stopprice=" + FloatToStr(in.StopPrice) +
                 "LTP@Marketsent=" + FloatToStr(sentAt) + " pricediff=" + FloatToStr(priceDiff) +
                 " stepdiff=" + FloatToStr(stepDiff) + " newPrice=" + FloatToStr(newPrice));
  if (!std::isfinite(newPrice)) return std::nullopt;
  const bool protective = in.Buy ? newPrice < in.StopPrice - 0.000001
                                 : newPrice > in.StopPrice + 0.000001;
  if (!protective) return std::nullopt;
  WriteTraceLine(in.Buy ? "lets amend the buy stop then" : "lets amend the sell stop then");
  return newPrice;
}

}  // namespace vorn::sim
