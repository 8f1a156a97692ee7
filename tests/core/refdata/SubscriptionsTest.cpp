#include "core/refdata/Subscriptions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorn {
namespace {

const TContractKey kA{"LIFFE", "FTSE", "MAR27"};
const TContractKey kB{"LIFFE", "FTSE", "JUN27"};
const TContractKey kC{"CME", "ES", "MAR27"};
const TContractKey kFtse{"LIFFE", "FTSE", {}};

// Records what goes out as "code item" lines and a handshake as "HS".
class TRecordingSender : public ISubscriptionSender {
 public:
  bool Connected() override { return connected; }
  bool SendPriceSubscription(int code, const TContractKey& contract) override {
    return Record(std::to_string(code) + " " + contract.Text());
  }
  bool SendMarketSubscription(int code, const TContractKey& commodity) override {
    return Record(std::to_string(code) + " " + commodity.Text());
  }
  bool SendBroadcastSubscription(int code, std::string_view exchange) override {
    return Record(std::to_string(code) + " " + std::string(exchange));
  }
  void SendHandshake() override {
    std::lock_guard guard(lock);
    sent.push_back("HS");
  }
  std::vector<std::string> Take() {
    std::lock_guard guard(lock);
    return std::exchange(sent, {});
  }

  std::atomic<bool> connected{true};
  int failAfter = -1;  // refuse every send after this many, or throw with throwInstead
  bool throwInstead = false;
  std::mutex lock;
  std::vector<std::string> sent;

 private:
  bool Record(std::string line) {
    std::lock_guard guard(lock);
    if (failAfter == 0) {
      if (throwInstead) throw std::runtime_error("link lost");
      return false;
    }
    if (failAfter > 0) --failAfter;
    sent.push_back(std::move(line));
    return true;
  }
};

using Lines = std::vector<std::string>;

class SubscriptionsTest : public ::testing::Test {
 protected:
  SubscriptionsTest() {
    book_.SetOnDropPriceTable([this](const TContractKey& contract) {
      std::lock_guard guard(dropLock_);
      dropped_.push_back(contract.Text());
    });
  }
  Lines SendAll() {
    book_.SendPriceRequests(sender_);
    book_.SendMarketRequests(sender_);
    return sender_.Take();
  }
  Lines Dropped() {
    std::lock_guard guard(dropLock_);
    return std::exchange(dropped_, {});
  }

  TSubscriptions book_;
  TRecordingSender sender_;
  std::mutex dropLock_;
  Lines dropped_;
};

TEST_F(SubscriptionsTest, OneRequestPerContractHoweverManySubscribers) {
  book_.SubscribePrice(kA);
  book_.SubscribePrice(kA);
  book_.UnsubscribePrice(kA);
  EXPECT_EQ(SendAll(), (Lines{"202 LIFFE\\FTSE\\MAR27", "HS"}));
  EXPECT_TRUE(book_.IsSubscribed(kA));
  EXPECT_EQ(book_.PriceSubscriberCount(kA), 1);
  EXPECT_TRUE(Dropped().empty());

  book_.UnsubscribePrice(kA);
  EXPECT_FALSE(book_.IsSubscribed(kA));
  EXPECT_EQ(Dropped(), (Lines{"LIFFE\\FTSE\\MAR27"}));
  EXPECT_EQ(SendAll(), (Lines{"203 LIFFE\\FTSE\\MAR27", "HS"}));

  // An unsubscribe without a subscriber changes nothing.
  book_.UnsubscribePrice(kA);
  EXPECT_EQ(book_.PriceSubscriberCount(kA), 0);
  EXPECT_TRUE(SendAll().empty());
}

TEST_F(SubscriptionsTest, IsSubscribedComparesNamesExactly) {
  book_.SubscribePrice(kA);
  EXPECT_TRUE(book_.IsSubscribed({"LIFFE", "FTSE", "MAR27"}));
  EXPECT_FALSE(book_.IsSubscribed({"LIFFE", "FTSE", "mar27"}));
  EXPECT_FALSE(book_.IsSubscribed({"LIFFE", "FTSEMAR27", ""}));
  EXPECT_FALSE(book_.IsSubscribed(kB));
}

TEST_F(SubscriptionsTest, RequestsWaitForTheLinkAndEveryBatchEndsWithAHandshake) {
  sender_.connected = false;
  book_.SubscribePrice(kA);
  book_.QueueBroadcastRequest("LIFFE", true);
  book_.SubscribeMarket(kFtse);
  EXPECT_TRUE(SendAll().empty());

  sender_.connected = true;
  EXPECT_EQ(SendAll(),
            (Lines{"202 LIFFE\\FTSE\\MAR27", "206 LIFFE", "HS", "210 LIFFE\\FTSE", "HS"}));
  EXPECT_TRUE(SendAll().empty());  // nothing left, no handshake
  book_.QueueBroadcastRequest("LIFFE", false);
  EXPECT_EQ(SendAll(), (Lines{"207 LIFFE", "HS"}));
}

TEST_F(SubscriptionsTest, RequestsThatCouldNotGoOutAreKeptInOrder) {
  for (const auto& contract : {kA, kB, kC})
    book_.SubscribePrice(contract);
  sender_.failAfter = 1;
  EXPECT_EQ(SendAll(), (Lines{"202 LIFFE\\FTSE\\MAR27", "HS"}));
  book_.UnsubscribePrice(kA);  // queued behind the two kept back

  sender_.failAfter = 0;
  sender_.throwInstead = true;
  EXPECT_THROW(book_.SendPriceRequests(sender_), std::runtime_error);
  EXPECT_TRUE(sender_.Take().empty());

  sender_.failAfter = -1;
  EXPECT_EQ(SendAll(), (Lines{"202 LIFFE\\FTSE\\JUN27", "202 CME\\ES\\MAR27",
                              "203 LIFFE\\FTSE\\MAR27", "HS"}));
}

TEST_F(SubscriptionsTest, ForcedSubscriptionCountsOneExtraAndSurvivesUnsubscribe) {
  book_.SetForcedSubscription(kA, true);
  book_.SubscribePrice(kA);
  EXPECT_EQ(book_.PriceSubscriberCount(kA), 2);
  book_.SubscribePrice(kA);  // counted once only
  book_.UnsubscribePrice(kA);
  EXPECT_EQ(book_.PriceSubscriberCount(kA), 2);
  EXPECT_TRUE(book_.IsSubscribed(kA));
  EXPECT_EQ(SendAll(), (Lines{"202 LIFFE\\FTSE\\MAR27", "HS"}));
}

TEST_F(SubscriptionsTest, ReconnectRequestsEverythingOnceWithCountsUnchanged) {
  book_.SubscribePrice(kA);
  book_.SubscribePrice(kB);
  book_.SubscribePrice(kB);
  book_.SetForcedSubscription(kC, true);
  book_.SubscribePrice(kC);
  book_.SubscribeMarket(kA);
  book_.SubscribeMarket(kA);
  book_.SubscribeMarket(kFtse);
  book_.SubscribeMarket(kFtse);
  book_.SubscribeMarket(kC);
  SendAll();

  book_.ResubscribePrices();
  book_.ResubscribeMarkets();
  EXPECT_EQ(SendAll(),
            (Lines{"202 CME\\ES\\MAR27", "202 LIFFE\\FTSE\\JUN27", "202 LIFFE\\FTSE\\MAR27", "HS",
                   "210 CME\\ES\\MAR27", "210 LIFFE\\FTSE", "210 LIFFE\\FTSE\\MAR27", "HS"}));
  EXPECT_EQ(book_.PriceSubscriberCount(kA), 1);
  EXPECT_EQ(book_.PriceSubscriberCount(kB), 2);
  EXPECT_EQ(book_.PriceSubscriberCount(kC), 2);
  EXPECT_EQ(book_.MarketSubscriptionCount(kA), 4);  // two own, two of its commodity
  EXPECT_EQ(book_.MarketSubscriptionCount(kFtse), 2);
  EXPECT_EQ(book_.MarketSubscriptionCount(kC), 1);

  // A second reconnect asks again: the re-requests are not counted as subscribers.
  book_.ResubscribePrices();
  book_.ResubscribeMarkets();
  EXPECT_EQ(SendAll().size(), 8u);
  book_.UnsubscribePrice(kA);
  EXPECT_FALSE(book_.IsSubscribed(kA));
}

TEST_F(SubscriptionsTest, UnsubscribeToAllLowersEachCountOnceAndQueuesNothing) {
  book_.SubscribePrice(kA);
  book_.SubscribePrice(kB);
  book_.SubscribePrice(kB);
  book_.SubscribeMarket(kC);
  book_.SubscribeMarket(kFtse);
  book_.SubscribeMarket(kFtse);
  SendAll();

  book_.Unsubscribetoall();
  book_.MarketUnsubscribetoall();
  EXPECT_TRUE(SendAll().empty());
  EXPECT_EQ(book_.PriceSubscribed(), (std::vector<TContractKey>{kB}));
  EXPECT_EQ(book_.PriceSubscriberCount(kB), 1);
  EXPECT_EQ(book_.MarketSubscribed(), (std::vector<TContractKey>{kFtse}));
  EXPECT_EQ(book_.MarketSubscriptionCount(kFtse), 1);
  EXPECT_EQ(book_.MarketSubscriptionCount(kC), 0);
  // kA lost its last price subscriber, but its commodity's depth still fills its table.
  EXPECT_EQ(Dropped(), (Lines{"CME\\ES\\MAR27"}));

  // After the reconnect only what is left is asked for.
  book_.ResubscribePrices();
  book_.ResubscribeMarkets();
  EXPECT_EQ(SendAll(), (Lines{"202 LIFFE\\FTSE\\JUN27", "HS", "210 LIFFE\\FTSE", "HS"}));
}

TEST_F(SubscriptionsTest, CommodityDepthCoversItsContracts) {
  // Contract first, then its commodity: leaving the contract's own depth keeps the commodity's.
  book_.SubscribeMarket(kA);
  book_.SubscribeMarket(kFtse);
  EXPECT_EQ(book_.MarketSubscriptionCount(kA), 2);
  EXPECT_EQ(book_.MarketSubscriptionCount(kB), 1);
  book_.UnsubscribeMarket(kA);
  EXPECT_EQ(SendAll(), (Lines{"210 LIFFE\\FTSE\\MAR27", "210 LIFFE\\FTSE", "HS"}));
  EXPECT_EQ(book_.MarketSubscriptionCount(kA), 1);

  // A contract subscribed while its commodity is is only counted; when the commodity goes it
  // gets a request of its own, and the listed contract with no subscriber left is let go.
  book_.SubscribeMarket(kB);
  EXPECT_TRUE(SendAll().empty());
  book_.UnsubscribeMarket(kB);  // never below its own count
  book_.UnsubscribeMarket(kB);
  book_.SubscribeMarket(kB);
  book_.UnsubscribeMarket(kFtse);
  const Lines sent = SendAll();
  EXPECT_EQ(std::multiset<std::string>(sent.begin(), sent.end()),
            (std::multiset<std::string>{"211 LIFFE\\FTSE", "210 LIFFE\\FTSE\\JUN27",
                                        "211 LIFFE\\FTSE\\MAR27", "HS"}));
  EXPECT_EQ(sent.front(), "211 LIFFE\\FTSE");
  EXPECT_EQ(book_.MarketSubscribed(), (std::vector<TContractKey>{kB}));
  EXPECT_EQ(Dropped(), (Lines{"LIFFE\\FTSE\\MAR27"}));
}

TEST_F(SubscriptionsTest, PriceTableStaysWhileEitherKindOfSubscriberRemains) {
  book_.SubscribePrice(kA);
  book_.SubscribeMarket(kA);
  book_.UnsubscribePrice(kA);
  EXPECT_TRUE(Dropped().empty());
  book_.UnsubscribeMarket(kA);
  EXPECT_EQ(Dropped(), (Lines{"LIFFE\\FTSE\\MAR27"}));

  book_.SubscribeMarket(kA);
  book_.SubscribePrice(kA);
  book_.UnsubscribeMarket(kA);
  EXPECT_TRUE(Dropped().empty());
  book_.UnsubscribePrice(kA);
  EXPECT_EQ(Dropped(), (Lines{"LIFFE\\FTSE\\MAR27"}));
}

// Application threads subscribe and unsubscribe while the heartbeat sends and the price link
// reconnects. Whatever the interleaving, the feed ends with what the book holds.
TEST_F(SubscriptionsTest, ConcurrentChangesLeaveTheFeedMatchingTheBook) {
  const std::vector<TContractKey> contracts{kA, kB, kC};
  std::atomic<bool> done{false};
  std::thread heartbeat([&] {
    while (!done) {
      book_.SendPriceRequests(sender_);
      book_.SendMarketRequests(sender_);
    }
  });
  std::thread reconnects([&] {
    for (int i = 0; i < 50; ++i) {
      book_.ResubscribePrices();
      book_.ResubscribeMarkets();
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> apps;
  for (int t = 0; t < 4; ++t) {
    apps.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const TContractKey& contract = contracts[(t + i) % contracts.size()];
        book_.SubscribePrice(contract);
        book_.SubscribeMarket(contract);
        book_.IsSubscribed(contract);
        if (t != 0 || i != 299) {  // one subscriber stays
          book_.UnsubscribeMarket(contract);
          book_.UnsubscribePrice(contract);
        }
      }
    });
  }
  for (auto& thread : apps)
    thread.join();
  reconnects.join();
  done = true;
  heartbeat.join();
  book_.SendPriceRequests(sender_);
  book_.SendMarketRequests(sender_);

  // Replay what the feed was sent, in order.
  std::map<std::string, bool> feed;
  for (const auto& line : sender_.Take()) {
    if (line == "HS") continue;
    const int code = std::stoi(line.substr(0, 3));
    const std::string item = line.substr(4);
    if (code == kPriceSubscribeCode || code == kPriceUnsubscribeCode)
      feed["P " + item] = code == kPriceSubscribeCode;
    else
      feed["D " + item] = code == kMarketSubscribeCode;
  }
  for (const auto& contract : contracts) {
    const bool kept = contract == kC;
    EXPECT_EQ(book_.IsSubscribed(contract), kept) << contract.Text();
    EXPECT_EQ(book_.PriceSubscriberCount(contract), kept ? 1 : 0) << contract.Text();
    EXPECT_EQ(book_.MarketSubscriptionCount(contract), kept ? 1 : 0) << contract.Text();
    EXPECT_EQ(feed["P " + contract.Text()], kept) << contract.Text();
    EXPECT_EQ(feed["D " + contract.Text()], kept) << contract.Text();
  }
}

}  // namespace
}  // namespace vorn
