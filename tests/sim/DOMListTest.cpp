#include "sim/DOMList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vorn::sim {
namespace {

std::vector<double> Prices(const TDOMList& side) {
  std::vector<double> prices;
  for (const auto& [key, level] : side.Levels()) prices.push_back(level.Price);
  return prices;
}

TEST(DOMListTest, LevelsSortInPriceOrderWhateverTheirDigits) {
  TDOMList side;
  for (double price : {100.25, 99.75, 100.0, 98.5, -3.5, -20.0, 0.0000001, 1e10, 9.99})
    ASSERT_NE(side.FindOrAdd(price), nullptr) << price;
  EXPECT_EQ(Prices(side), (std::vector<double>{-20.0, -3.5, 0.0000001, 9.99, 98.5, 99.75, 100.0,
                                               100.25, 1e10}));
  EXPECT_EQ(side.First()->Price, -20.0);
  EXPECT_EQ(side.Last()->Price, 1e10);
}

TEST(DOMListTest, PricesThatRoundAlikeShareOneLevel) {
  TDOMList side;
  TDOMPrice* level = side.FindOrAdd(0.3);
  level->Simulated = 4;
  EXPECT_EQ(side.FindOrAdd(0.1 + 0.2), level);
  EXPECT_EQ(side.Find(std::nextafter(0.3, 1.0)), level);
  // One unit of the key apart is another level.
  EXPECT_NE(side.FindOrAdd(0.3000001), level);
  EXPECT_EQ(side.Count(), 2u);
  EXPECT_EQ(level->Price, 0.3);
  EXPECT_TRUE(side.Remove(0.1 + 0.2));
  EXPECT_EQ(side.Find(0.3), nullptr);
  EXPECT_FALSE(side.Remove(0.3));
}

TEST(DOMListTest, PricesWithoutAKeyMakeNoLevel) {
  TDOMList side;
  for (double price : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -2e11, 2e11}) {
    EXPECT_FALSE(TDOMList::MakeKey(price)) << price;
    EXPECT_EQ(side.FindOrAdd(price), nullptr) << price;
  }
  EXPECT_TRUE(side.Empty());
  EXPECT_EQ(side.First(), nullptr);
  EXPECT_EQ(side.Last(), nullptr);
}

TEST(DOMListTest, RoundPrice7KeepsSevenDecimals) {
  EXPECT_EQ(RoundPrice7(95.5 + 200 * 0.005), 96.5);
  EXPECT_EQ(RoundPrice7(1.23456789), 1.2345679);
  EXPECT_EQ(RoundPrice7(-1.23456789), -1.2345679);
}

}  // namespace
}  // namespace vorn::sim
