// Strategy creation through the exports against the fake host: the tagged request on the host
// link and the host's answer delivered as the success or failure event.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/util/Text.h"
#include "support/ExportSession.h"
#include "vornintf.h"

namespace vorn {
namespace {

class StrategyRoadTest : public ExportSessionTest {
 protected:
  // A March-June strategy of the scripts' FTSE futures, bought March, sold June.
  std::int32_t CreateMarchJune() {
    StrategyLegStruct legs[16] = {};
    PutTextAndNul(legs[0].ContractDate, "MAR27");
    legs[0].Ratio = 1;
    PutTextAndNul(legs[1].ContractDate, "JUN27");
    legs[1].Ratio = -1;
    return vnCreateStrategy('S', 2, "LIFFE", "FTSE", legs);
  }

  // The payload of the first delivery of that id.
  StrategyResultStruct Result(std::int32_t id) {
    StrategyResultStruct result{};
    for (const auto& delivery : recorder_.Deliveries()) {
      if (delivery.Id != id) continue;
      std::memcpy(&result, delivery.Payload.data(), sizeof result);
      break;
    }
    return result;
  }
};

TEST_F(StrategyRoadTest, CreatedStrategyPostsTheSuccessEvent) {
  Play("strategy-created.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(CreateMarchJune(), 0);
  ASSERT_TRUE(Delivered(VN_CB_STRATEGY_CREATE_SUCCESS));
  const StrategyResultStruct result = Result(VN_CB_STRATEGY_CREATE_SUCCESS);
  EXPECT_STREQ(result.UserName, "trader1");
  EXPECT_STREQ(result.ExchangeName, "LIFFE");
  EXPECT_STREQ(result.CommodityName, "FTSE");
  EXPECT_STREQ(result.ContractDate, "MAR27JUN27");
  EXPECT_STREQ(result.Text, "MAR27-JUN27");
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

TEST_F(StrategyRoadTest, RefusedStrategyPostsTheFailureEventWithTheReason) {
  Play("strategy-refused.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(CreateMarchJune(), 0);
  ASSERT_TRUE(Delivered(VN_CB_STRATEGY_CREATE_FAILURE));
  EXPECT_STREQ(Result(VN_CB_STRATEGY_CREATE_FAILURE).Text, "Strategy not allowed");
  EXPECT_STREQ(Result(VN_CB_STRATEGY_CREATE_FAILURE).ContractDate, "MAR27JUN27");
  const auto ids = Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), VN_CB_STRATEGY_CREATE_SUCCESS), 0);
  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

}  // namespace
}  // namespace vorn
