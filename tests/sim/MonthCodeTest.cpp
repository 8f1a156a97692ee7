#include "sim/MonthCode.h"

#include <gtest/gtest.h>

namespace vorn::sim {
namespace {

TEST(MonthCodeTest, LettersOnCMEExchangesYearAndMonthElsewhere) {
  struct TCase {
    const char* Date;
    const char* Exchange;
    const char* Code;
  } cases[] = {
      {"MAR07", "CME", "H7"},        {"mar07", "CMEGLOBEX", "H7"},   {"Jan27", "CME", "F27"},
      {"DEC00", "CME", "Z0"},        {"MAR27 7900 C", "CME", "H27"}, {"MAR07", "LIFFE", "200703"},
      {"DEC99", "EUREX", "199912"},  {"JAN80", "EUREX", "208001"},   {"JAN81", "EUREX", "198101"},
      {"oct27", "LIFFE", "202710"},  {"MAR07", "XCME", "200703"},    {"MAR07", "cme", "200703"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Date) + " on " + c.Exchange);
    const auto code = MonthCode(c.Date, c.Exchange);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, c.Code);
  }
}

TEST(MonthCodeTest, TextsWithoutAMonthAndYearHaveNoCode) {
  for (const char* date : {"", "MAR7", "MRZ27", "MAR2X", "M1R27", "27MAR"}) {
    EXPECT_FALSE(MonthCode(date, "CME")) << date;
    EXPECT_FALSE(MonthCode(date, "LIFFE")) << date;
  }
}

}  // namespace
}  // namespace vorn::sim
