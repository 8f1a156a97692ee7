#include "vornjni/core/Marshal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vorn::bridge {
namespace {

TEST(StrategyLegTest, FieldsLandAtTheirOffsets) {
  const StrategyLegStruct leg = ParseStrategyLeg("Buy: MAR26 \\ FTSE : L1 :-3: FTSE ");
  const auto* bytes = reinterpret_cast<const unsigned char*>(&leg);
  EXPECT_EQ('B', bytes[0]);
  EXPECT_STREQ("MAR26 \\ FTSE", reinterpret_cast<const char*>(bytes + 1));
  EXPECT_STREQ("L1", reinterpret_cast<const char*>(bytes + 52));
  std::int32_t ratio = 0;
  std::memcpy(&ratio, bytes + 63, 4);
  EXPECT_EQ(-3, ratio);
  EXPECT_STREQ("FTSE", reinterpret_cast<const char*>(bytes + 67));
}

TEST(StrategyLegTest, TextsAreCutToTheirWidthsAndTheLastFieldKeepsColons) {
  const std::string longDate(60, 'd');
  const StrategyLegStruct leg =
      ParseStrategyLeg(":" + longDate + ":ABCDEFGHIJKL:1:a:b:c:d:e:f:g:h");
  EXPECT_EQ('\0', leg.LegChar);  // an empty type field gives 0, never a read past it
  EXPECT_EQ(std::string(50, 'd'), leg.ContractDate);
  EXPECT_STREQ("ABCDEFGHIJ", leg.LegText);
  EXPECT_STREQ("a:b:c:d:e:", leg.Commodity);
}

TEST(StrategyLegTest, AMissingCommodityIsEmpty) {
  // The last field is then a view with no data behind it (null under UBSan if copied).
  const StrategyLegStruct leg = ParseStrategyLeg("B:MAR26:L1:2");
  EXPECT_STREQ("L1", leg.LegText);
  EXPECT_STREQ("", leg.Commodity);
}

TEST(StrategyLegTest, ARatioThatIsNotAnIntegerIsRefused) {
  for (const char* text :
       {"a:b:c:x:e", "a:b:c::e", "a:b:c", "a:b:c:1.5:e", "a:b:c:9999999999:e", "a:b:c: 1:e"}) {
    EXPECT_THROW(ParseStrategyLeg(text), EStrategyLeg) << text;
  }
}

TEST(StrategyLegTest, SixteenLegsAtMostAndTheCountIsClamped) {
  std::vector<std::string> legs;
  for (int i = 0; i < 17; ++i)
    legs.push_back("L:d" + std::to_string(i) + ":t:" + std::to_string(i) + ":c");
  legs[16] = "not a leg";  // ignored, so never an error
  const TStrategyLegs records = BuildStrategyLegs(legs);
  const std::int32_t ratio = records[15].Ratio;  // a packed field: read by value
  EXPECT_EQ(15, ratio);
  EXPECT_STREQ("d15", records[15].ContractDate);

  const TStrategyLegs two = BuildStrategyLegs({"A:x:y:1:z", "B:x:y:2:z"});
  const StrategyLegStruct zero{};
  EXPECT_EQ(0, std::memcmp(&zero, &two[2], sizeof zero));

  const std::pair<std::int32_t, std::int32_t> counts[] = {{-1, 0},  {0, 0},   {5, 5},
                                                          {16, 16}, {17, 16}, {INT32_MAX, 16}};
  for (const auto& [given, clamped] : counts)
    EXPECT_EQ(clamped, ClampLegCount(given)) << given;
}

TEST(NumberFromTextTest, ReadsDecimalTextWithAPoint) {
  const std::pair<const char*, double> cases[] = {
      {"12.5", 12.5}, {"-0.25", -0.25}, {" 7 ", 7.0},  {"1E3", 1000.0}, {"", 0.0},
      {"x", 0.0},     {"12,5", 0.0},    {"1.5x", 0.0}, {"nan", 0.0},    {"inf", 0.0}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(value, NumberFromText(text)) << text;
  EXPECT_EQ(0.0, NumberFromText(nullptr));
}

TEST(NumberFromTextTest, NeverReadsPastTheBuffer) {
  char text[kNumberTextBytes];
  std::memset(text, '1', sizeof text);  // no NUL anywhere
  EXPECT_EQ(111111111111111111111.0, NumberFromText(text));
  char shorter[4] = {'4', '2', '.', '5'};
  EXPECT_EQ(42.5, NumberFromText(shorter, sizeof shorter));
}

}  // namespace
}  // namespace vorn::bridge
