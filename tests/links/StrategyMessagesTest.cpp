#include "links/StrategyMessages.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"

namespace vorn {
namespace {

class StrategyMessagesTest : public ::testing::Test {
 protected:
  StrategyMessagesTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    ExchangeAPI(api_);
  }
  ~StrategyMessagesTest() override {
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    ClearCallbackQueue();
  }

  // What was posted, delivered in posting order.
  std::vector<TCallbackRecorder::TDelivery> Delivered() {
    return TCallbackRecorder::DeliverQueued();
  }

  std::shared_ptr<TClassAPI> api_ = std::make_shared<TClassAPI>();
};

std::string PayloadText(const TCallbackRecorder::TDelivery& d, std::size_t offset,
                        std::size_t width) {
  return GetFixed(reinterpret_cast<const char*>(d.Payload.data()) + offset, width);
}

TEST_F(StrategyMessagesTest, StrategyRepliesPostTheirEvents) {
  TStrategyCreateSuccess success;
  auto fields = Fields("Usr=trader1|Ex=EX|C=COM|CD=MAR24|CDG=MAR24 BC 100");
  success.ReceiveFields(fields);
  EXPECT_EQ(success.Text, "MAR24 BC 100");
  TStrategyCreateFailure failure;
  auto refused = Fields("Usr=trader1|Ex=EX|CD=MAR24|Txt=Not allowed");
  failure.ReceiveFields(refused);
  EXPECT_EQ(failure.Commodity, "");

  const auto delivered = Delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].Id, VN_CB_STRATEGY_CREATE_SUCCESS);
  EXPECT_EQ(PayloadText(delivered[0], 0, 11), "trader1");
  EXPECT_EQ(PayloadText(delivered[0], 11, 11), "EX");
  EXPECT_EQ(PayloadText(delivered[0], 22, 11), "COM");
  EXPECT_EQ(PayloadText(delivered[0], 33, 51), "MAR24");
  EXPECT_EQ(PayloadText(delivered[0], 84, 51), "MAR24 BC 100");
  EXPECT_EQ(delivered[1].Id, VN_CB_STRATEGY_CREATE_FAILURE);
  EXPECT_EQ(PayloadText(delivered[1], 22, 11), "");
  EXPECT_EQ(PayloadText(delivered[1], 84, 51), "Not allowed");
}

}  // namespace
}  // namespace vorn
