#pragma once
// The new price of a bracket's trailing stop, from the last trade and the bracket's trailing
// figures. The order-life code reads the figures (under the order list's lock) and amends the
// stop when a price comes back; the price table is read without touching its change mask.
//
// Threads: none of its own; pure.

#include <optional>
#include <string_view>

namespace vorn::sim {

struct TTrailInputs {
  bool Buy = false;
  // The stop's price and its StPrice: the last trade when it was sent, as text.
  double StopPrice = 0;
  std::string_view StopStPrice;
  double LastTrade = 0;
  // The parent bracket's price, its StPrice (the trailing distance, as text) and StSteps2 (the
  // price move per step).
  bool HasParent = false;
  double ParentPrice = 0;
  std::string_view ParentStPrice;
  double ParentStSteps2 = 0;
  double TickSize = 0;
};

// The price to amend the stop to, only when it moves the stop protectively (a sell stop up, a
// buy stop down) by more than 0.000001; nullopt otherwise, and without a parent, with a step of
// 0, or with a figure that is not a finite number.
std::optional<double> TrailedStopPrice(const TTrailInputs& in);

}  // namespace vorn::sim
