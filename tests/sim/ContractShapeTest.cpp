#include "sim/ContractShape.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorn::sim {
namespace {

using TLegs = std::vector<TLegShape>;

TEST(ContractShapeTest, EachShapeGivesItsTypeAndLegs) {
  struct TCase {
    const char* Date;
    const char* Exchange;
    TLegs Legs;
  } cases[] = {
      {"MAR27", "LIFFE", {{"F", "MAR27", "202703", "", ""}}},
      {"MAR27", "CME", {{"F", "MAR27", "H27", "", ""}}},
      {"MAR27JUN27",
       "LIFFE",
       {{"EF", "MAR27", "202703", "", "1 1"}, {"F", "JUN27", "202706", "", "1 2"}}},
      {"MAR27 7900 C", "LIFFE", {{"C", "MAR27", "202703", "7900", ""}}},
      {"MAR27 7900 P", "CME", {{"P", "MAR27", "H27", "7900", ""}}},
      {"MAR27 7900 JUN27 8000 DICALSTRDL/S",
       "LIFFE",
       {{"PC", "MAR27", "202703", "7900", "1 1"},
        {"P", "MAR27", "202703", "7900", "1 1"},
        {"C", "JUN27", "202706", "8000", "1 2"},
        {"P", "JUN27", "202706", "8000", "1 2"}}},
      {"MAR27 CAL JUN27/S",
       "CME",
       {{"EF", "MAR27", "H27", "", "1 1"}, {"F", "JUN27", "M27", "", "1 2"}}},
      {"MAR27 7900 P CAL JUN27/S",
       "LIFFE",
       {{"DP", "MAR27", "202703", "7900", "1 1"}, {"P", "JUN27", "202706", "7900", "1 2"}}},
      {"MAR27 7800/7900/8000 C LDR",
       "LIFFE",
       {{"LC", "MAR27", "202703", "7800", "1 1"},
        {"C", "MAR27", "202703", "7900", "1 2"},
        {"C", "MAR27", "202703", "8000", "1 2"}}},
      {"MAR27 7900 STRDL",
       "LIFFE",
       {{"SC", "MAR27", "202703", "7900", "1 1"}, {"P", "MAR27", "202703", "7900", "1 1"}}},
      {"MAR27 7900 STRDL vs BUY MAR27",
       "LIFFE",
       {{"sP", "MAR27", "202703", "7900", "1 1"},
        {"P", "MAR27", "202703", "7900", "1 1"},
        {"F", "MAR27", "202703", "", "1 1"}}},
      {"MAR27 7800/8000 C/S vs SELL U MAR27",
       "LIFFE",
       {{"dC", "MAR27", "202703", "7800", "1 1"},
        {"C", "MAR27", "202703", "8000", "1 2"},
        {"F", "MAR27", "202703", "", "1 2"}}},
      {"MAR27 7800/8000 P/S vs BUY U JUN27",
       "LIFFE",
       {{"dP", "MAR27", "202703", "7800", "1 1"},
        {"P", "MAR27", "202703", "8000", "1 2"},
        {"F", "JUN27", "202706", "", "1 1"}}},
      {"MAR27 7800/8000 C VERT",
       "LIFFE",
       {{"BC", "MAR27", "202703", "7800", "1 1"}, {"C", "MAR27", "202703", "8000", "1 2"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Date);
    const auto shape = ParseContractShape(c.Date, c.Exchange);
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->Legs, c.Legs);
    EXPECT_EQ(shape->TypeCode(), c.Legs.front().Kind);
  }
}

TEST(ContractShapeTest, TextsNoRuleReadsAreRefused) {
  for (const char* date : {
           "",            "MAR2",  "XYZ27",  "MAR27JUN2C",        "MAR27XXX27",
           "MAR27 7900",  "MAR27 7900 X",    "MAR27 7900C",      "MAR27 CAL",
           "MAR27 7900 C CAL",               "MAR27 7900 Q CAL JUN27",
           "MAR27 7800/8000 C LDR",          "MAR27 STRDL",      "MAR27 7900 STRDL vs HOLD MAR27",
           "MAR27 7800 C/S vs SELL U MAR27", "MAR27 7800/8000 X VERT",
           "MAR27 7900 JUN27 DICALSTRDL/S",  "FOO27 7900 C"}) {
    EXPECT_FALSE(ParseContractShape(date, "LIFFE")) << '"' << date << '"';
  }
}

}  // namespace
}  // namespace vorn::sim
