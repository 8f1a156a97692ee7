// The subscription exports against the fake price feed: the requests on the wire byte for
// byte (the scripts check them), and a lost price link subscribing everything again.

#include <gtest/gtest.h>

#include "core/session/ClassAPI.h"
#include "support/Eventually.h"
#include "support/ExportSession.h"
#include "vornintf.h"

namespace vorn {
namespace {

class PriceSubscriptionRoadTest : public ExportSessionTest {
 protected:
  // The heartbeat has taken every queued request; what is queued after goes in a later batch.
  static bool RequestsTaken() {
    return Eventually([] {
      const auto api = API();
      return api && api->Subscriptions.PendingPriceRequests().empty() &&
             api->Subscriptions.PendingMarketRequests().empty();
    });
  }
};

TEST_F(PriceSubscriptionRoadTest, RequestsOnTheWire) {
  Play("price-subscriptions.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 0), 0);
  // Price and broadcast requests share a batch, which the heartbeat sends before the depth.
  ASSERT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_EQ(vnSubscribeBroadcast("LIFFE"), 0);
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", ""), 0);
  ASSERT_TRUE(RequestsTaken());
  ASSERT_EQ(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_EQ(vnUnsubscribeBroadcast("LIFFE"), 0);
  ASSERT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", ""), 0);
  ASSERT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  ExpectPlayed();
}

TEST_F(PriceSubscriptionRoadTest, ReconnectedPriceLinkSubscribesEverythingAgain) {
  Play("price-resubscribe.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", ""), 0);
  ExpectPlayed();
  // Re-subscribing counts no one twice.
  EXPECT_EQ(API()->Subscriptions.PriceSubscriberCount({"LIFFE", "FTSE", "MAR27"}), 1);
  EXPECT_EQ(API()->Subscriptions.MarketSubscriptionCount({"LIFFE", "FTSE", "MAR27"}), 2);
}

}  // namespace
}  // namespace vorn
