#include "core/refdata/PriceStep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "support/LocaleTest.h"

namespace vorn {
namespace {

struct StepCase {
  double price;
  double tickSize;
  std::int32_t numTicks;
  std::int32_t ticksPerPoint;
  double expected;
  const char* what;
};

void ExpectSteps(std::initializer_list<StepCase> cases) {
  for (const StepCase& c : cases)
    EXPECT_DOUBLE_EQ(PriceStep(c.price, c.tickSize, c.numTicks, c.ticksPerPoint), c.expected)
        << c.what << ": " << c.price << " by " << c.numTicks << " at " << c.ticksPerPoint << "/"
        << c.tickSize;
}

// The fraction digits are read from the price's text, which must not follow the locale.
class PriceStepTest : public TLocaleParamTest {};
VORN_INSTANTIATE_LOCALES(PriceStepTest);

TEST_P(PriceStepTest, StepsUpAndDownInEachNotation) {
  ExpectSteps({
      {99.5, 0.01, 3, 100, 99.53, "decimal"},
      {99.5, 0.01, -3, 100, 99.47, "decimal down"},
      {1.2345, 0.0001, 5, 10000, 1.235, "decimal, 4 places"},
      {100, 0.5, 2, 1, 101, "one tick per point"},

      {99.31, 0.01, 1, 32, 100, "32nds: 31/32 plus one"},
      {99.16, 0.01, -17, 32, 98.31, "32nds down across a point"},
      {99.1, 0.01, 1, 32, 99.11, "32nds: 99.1 is 10/32"},
      {99.2, 0.01, -21, 32, 98.31, "32nds: 99.2 is 20/32"},
      {99.3, 0.01, 2, 32, 100, "32nds: 99.3 is 30/32"},
      {99.63, 0.01, 1, 64, 100, "64ths"},
      {99.3, 0.02, 1, 32, 100, "ticks of 2/32"},
      {99.16, -0.01, 1, 32, 99.15, "32nds: a negative tick size steps down"},
      {3, 0.29, 1, 56, 3.29, "0.29 x 100 truncates to 28: two ticks per point, not one"},

      {99.317, 0, 1, 128, 100, "128ths: 31 3/4 plus a quarter"},
      {99.16, 0, 1, 128, 99.162, "128ths: a quarter"},
      {99.162, 0, 1, 128, 99.165, "128ths: a half"},
      {99.165, 0, 1, 128, 99.167, "128ths: three quarters"},
      {99.167, 0, 1, 128, 99.17, "128ths: into the next 32nd"},
      {99.16, 0, -1, 128, 99.157, "128ths down"},
      {100, 0, -1, 128, 99.317, "128ths down across a point"},
      {99.163, 0, 1, 128, 99.162, "128ths: a third digit 3 counts as 0"},
      {99.1, 0, 1, 128, 99.102, "128ths: 99.1 is 10/32"},
      {99.2, 0, -1, 128, 99.197, "128ths: 99.2 is 20/32"},
      {99.3, 0, 4, 128, 99.31, "128ths: 99.3 is 30/32"},

      {99.12, 0.0025, 1, 800, 99.1225, "400ths"},
      {99.1225, 0.0025, 1, 800, 99.125, "400ths: the tick digits"},
      {99.1275, 0.0025, 1, 800, 99.13, "400ths: into the next 100th"},
      {99.9975, 0.0025, 1, 800, 100, "400ths: into the next point"},
      {99.12, 0.0025, -1, 800, 99.1175, "400ths down"},
      {99.1, 0.0025, 1, 800, 99.1025, "400ths: 99.1 is 99.10"},
      {99.12, -0.0025, 1, 800, 99.1175, "400ths: a negative tick size steps down"},
      {99.1225, 0.005, 0, 800, 99.12, "400ths: half a tick rounds to even (down)"},
      {99.1275, 0.005, 0, 800, 99.13, "400ths: half a tick rounds to even (up)"},
  });
}

TEST(PriceStepSignTest, ANegativePriceStepsAsTheMirrorOfItsMagnitude) {
  ExpectSteps({
      {-99.16, 0.01, 1, 32, -99.15, "32nds"},
      {-98.31, 0.01, -1, 32, -99, "32nds down across a point"},
      {0.01, 0.01, -2, 32, -0.01, "32nds through zero"},
      {-99.16, 0, 1, 128, -99.157, "128ths up"},
      {-99.16, 0, -1, 128, -99.162, "128ths down keeps the quarter"},
      {-99.317, 0, -1, 128, -100, "128ths down across a point"},
      {0, 0, -1, 128, -0.002, "128ths through zero"},
      {-99.12, 0.0025, 1, 800, -99.1175, "400ths up"},
      {-99.12, 0.0025, -1, 800, -99.1225, "400ths down"},
      {-99.5, 0.01, 3, 100, -99.47, "decimal"},
  });
}

TEST(PriceStepEdgeTest, TheWholeAndTheFractionComeFromOneText) {
  // 99.99999999999999 writes as "100" in 15 digits: it steps from 100, not from 99 and no 32nds.
  ExpectSteps({
      {99.99999999999999, 0.01, 1, 32, 100.01, "32nds"},
      {99.99999999999999, 0, 1, 128, 100.002, "128ths"},
      // Below 0.0001 the text has an exponent ("1.5E-5"), whose letters are no fraction digits.
      {0.000015, 0.01, 1, 32, 0.01, "32nds"},
      {0.000015, 0, 1, 128, 0.002, "128ths"},
      {-0.000015, 0.0025, 1, 800, 0.0025, "400ths"},
      {0.00007, 0.0001, 0, 2000, 0.0001, "0.7 of a tick still counts"},
  });
}

TEST(PriceStepEdgeTest, ArgumentsTheNotationCannotStepGiveThePriceBack) {
  ExpectSteps({
      {99.16, 0.01, 1, 0, 99.16, "no ticks per point"},
      {99.16, 0.01, 1, -32, 99.16, "negative ticks per point"},
      {99.16, 0, 1, 32, 99.16, "tick size 0 in 32nds"},
      {99.16, 0.005, 1, 32, 99.16, "less than one fraction digit per tick"},
      {99.16, 0.5, 1, 32, 99.16, "more fraction digits per tick than ticks per point"},
      {99.16, 1e300, 1, 32, 99.16, "a tick size past any count"},
      {99.12, 0, 1, 800, 99.12, "tick size 0 in 400ths"},
      {99.1225, 1e-300, 1, 800, 99.1225, "a tick too small to count"},
      {1e300, 0.01, 1, 32, 1e300, "too many ticks"},
      {1e14, 0, 1, 128, 1e14, "too many ticks to count exactly"},
      {1e308, 1e308, 1, 100, 1e308, "a result past the largest double"},
  });
  // The step itself is taken wide: the smallest int32 negated for a negative tick size.
  ExpectSteps({{99.16, -0.01, std::numeric_limits<std::int32_t>::min(), 32, 67108963.16,
                "2^31 ticks up"}});

  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(std::isnan(PriceStep(kNaN, 0.01, 1, 32)));
  EXPECT_EQ(PriceStep(kInf, 0.01, 1, 100), kInf);
  EXPECT_EQ(PriceStep(-kInf, 0, 1, 128), -kInf);
  for (const std::int32_t ticksPerPoint : {800, 128, 100, 32}) {
    EXPECT_EQ(PriceStep(99.16, kNaN, 1, ticksPerPoint), 99.16) << ticksPerPoint;
    EXPECT_EQ(PriceStep(99.16, kInf, 1, ticksPerPoint), 99.16) << ticksPerPoint;
  }
}

}  // namespace
}  // namespace vorn
