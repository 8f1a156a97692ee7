#pragma once
// One side of a simulated book: TDOMPrice levels in ascending price order, so the best bid is
// the last level of the bid list and the best offer the first of the offer list.
//
// Levels are keyed by the price in units of 1e-7 (the book's prices are rounded to 7 decimals),
// so two prices that round alike share one level whatever their last bits, and negative prices
// sort below positive ones. Prices beyond +-kMaxDOMPrice, or not finite, have no key.
//
// Threads: no lock of its own; the book's lock guards it.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>

namespace vorn::sim {

inline constexpr double kDOMPriceUnits = 1e7;
inline constexpr double kMaxDOMPrice = 1e11;

// A price rounded to 7 decimals (Round(price x 1e7) / 1e7).
double RoundPrice7(double price);

// One price level: the simulated volume and the volume of the users' resting orders. The users'
// volume is the sum of the orders' lots, each up to 2^31 - 1, so it is held in 64 bits: a sum
// saturated at 32 bits would leave orders at the level that its volume no longer accounts for.
struct TDOMPrice {
  double Price = 0;
  std::int32_t Simulated = 0;
  std::int64_t Users = 0;

  // Saturated to the 32-bit range of the depth's volumes.
  std::int32_t LevelTotal() const {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Simulated + Users,
                                                              std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
  }
};

class TDOMList {
 public:
  using TLevels = std::map<std::int64_t, TDOMPrice>;

  // The key of a price; nullopt when it has none.
  static std::optional<std::int64_t> MakeKey(double price);

  // The level of the price, or null.
  TDOMPrice* Find(double price);
  // The level of the price, made (empty, at that price) when there is none; null when the price
  // has no key.
  TDOMPrice* FindOrAdd(double price);
  // Drops the level of the price; false when there is none.
  bool Remove(double price);
  void Clear() { levels_.clear(); }

  bool Empty() const { return levels_.empty(); }
  std::size_t Count() const { return levels_.size(); }
  // Lowest and highest levels; null when empty.
  TDOMPrice* First();
  TDOMPrice* Last();
  const TDOMPrice* First() const;
  const TDOMPrice* Last() const;
  const TLevels& Levels() const { return levels_; }
  TLevels& Levels() { return levels_; }

 private:
  TLevels levels_;
};

}  // namespace vorn::sim
