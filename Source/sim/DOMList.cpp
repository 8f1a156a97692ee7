#include "sim/DOMList.h"

#include <cmath>

namespace vorn::sim {

double RoundPrice7(double price) {
  if (!std::isfinite(price) || std::fabs(price) > kMaxDOMPrice) return price;
  return std::nearbyint(price * kDOMPriceUnits) / kDOMPriceUnits;
}

std::optional<std::int64_t> TDOMList::MakeKey(double price) {
  if (!std::isfinite(price) || std::fabs(price) > kMaxDOMPrice) return std::nullopt;
  return std::llround(price * kDOMPriceUnits);
}

TDOMPrice* TDOMList::Find(double price) {
  const auto key = MakeKey(price);
  if (!key) return nullptr;
  const auto level = levels_.find(*key);
  return level == levels_.end() ? nullptr : &level->second;
}

TDOMPrice* TDOMList::FindOrAdd(double price) {
  const auto key = MakeKey(price);
  if (!key) return nullptr;
  auto [level, added] = levels_.try_emplace(*key);
  if (added) level->second.Price = price;
  return &level->second;
}

bool TDOMList::Remove(double price) {
  const auto key = MakeKey(price);
  return key && levels_.erase(*key) > 0;
}

TDOMPrice* TDOMList::First() {
  return levels_.empty() ? nullptr : &levels_.begin()->second;
}

TDOMPrice* TDOMList::Last() {
  return levels_.empty() ? nullptr : &levels_.rbegin()->second;
}

const TDOMPrice* TDOMList::First() const {
  return levels_.empty() ? nullptr : &levels_.begin()->second;
}

const TDOMPrice* TDOMList::Last() const {
  return levels_.empty() ? nullptr : &levels_.rbegin()->second;
}

}  // namespace vorn::sim
