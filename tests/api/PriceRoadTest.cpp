// The road of a price through the exports against the fake price feed: a subscription on the
// wire, the feed's bodies applied, the events the application receives and the records it reads
// back; depth, snapshots and broadcasts alike.

#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "support/ExportSession.h"
#include "vornintf.h"

namespace vorn {
namespace {

using TDeliveries = std::vector<TCallbackRecorder::TDelivery>;

std::string KeyText(const unsigned char* payload) {
  ContractKeyStruct key;
  std::memcpy(&key, payload, sizeof key);
  return std::string(key.ExchangeName) + "\\" + key.CommodityName + "\\" + key.ContractDate;
}

std::string PriceVolume(const char* price, std::int32_t volume) {
  return std::string(price) + "/" + std::to_string(volume);
}

// The price events as lines: the id, the contract, and for a ticker its bid, offer and last
// trade with the changed flags.
std::vector<std::string> PriceEvents(const TDeliveries& deliveries) {
  std::vector<std::string> lines;
  for (const auto& delivery : deliveries) {
    const unsigned char* payload = delivery.Payload.data();
    switch (delivery.Id) {
      case VN_CB_TICKER_UPDATE: {
        TickerStruct t;
        std::memcpy(&t, payload, sizeof t);
        lines.push_back("17 " + KeyText(payload) + " " + PriceVolume(t.BidPrice, t.BidVolume) +
                        " " + PriceVolume(t.OfferPrice, t.OfferVolume) + " " +
                        PriceVolume(t.LastPrice, t.LastVolume) + " " + t.BidChanged +
                        t.OfferChanged + t.LastChanged);
        break;
      }
      case VN_CB_PRICE_UPDATE:
      case VN_CB_DOM_UPDATE:
        lines.push_back(std::to_string(delivery.Id) + " " + KeyText(payload));
        break;
      default:
        break;
    }
  }
  return lines;
}

std::size_t CountOf(const TDeliveries& deliveries, std::int32_t id) {
  std::size_t count = 0;
  for (const auto& delivery : deliveries)
    count += delivery.Id == id;
  return count;
}

// The ids of the user-message events, in order.
std::vector<std::string> MessageEvents(const TDeliveries& deliveries) {
  std::vector<std::string> ids;
  for (const auto& delivery : deliveries)
    if (delivery.Id == VN_CB_MESSAGE)
      ids.emplace_back(reinterpret_cast<const char*>(delivery.Payload.data()));
  return ids;
}

std::string Entry(const PriceStruct& prices, int kind) {
  const PriceDetailStruct& entry = prices.Entries[kind];
  return PriceVolume(entry.Price, entry.Volume);
}

// Entries count kinds from first on.
std::vector<std::string> Entries(const PriceStruct& prices, int first, int count) {
  std::vector<std::string> entries;
  for (int kind = first; kind < first + count; ++kind)
    entries.push_back(Entry(prices, kind));
  return entries;
}

// count depth levels: those given, the rest empty.
std::vector<std::string> Levels(std::vector<std::string> given, int count = VN_PK_DEPTH_LEVELS) {
  given.resize(static_cast<std::size_t>(count), "0/0");
  return given;
}

PriceStruct FuturePrices() {
  PriceStruct prices;
  std::memset(&prices, 0xCC, sizeof prices);
  EXPECT_EQ(vnGetPriceForContract("LIFFE", "FTSE", "MAR27", &prices), 0);
  return prices;
}

const TContractKey kFuture{"LIFFE", "FTSE", "MAR27"};
constexpr const char* kFutureText = "LIFFE\\FTSE\\MAR27";

class PriceRoadTest : public ExportSessionTest {
 protected:
  // Waits until the price events so far end with that line.
  bool PriceEventsEndWith(const std::string& line) {
    return recorder_.WaitUntil([&](const TDeliveries& deliveries) {
      const auto lines = PriceEvents(deliveries);
      return !lines.empty() && lines.back() == line;
    });
  }
  std::vector<std::string> PriceEventsSoFar() { return PriceEvents(recorder_.Deliveries()); }
};

TEST_F(PriceRoadTest, SubscribedPricesArriveOncePerChangeAndGoWithTheLastSubscriber) {
  Play("price-road.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(vnSubscribePrice("LIFFE", "FTSE", "MAR27"), 0);

  // The feed's last body moves the bid: its events come after those of every earlier body.
  const std::string moved = std::string("17 ") + kFutureText + " 6500.5/5 6501/4 6500.5/2 YNN";
  ASSERT_TRUE(recorder_.WaitUntil([&](const TDeliveries& deliveries) {
    const auto lines = PriceEvents(deliveries);
    return lines.size() >= 2 && lines[lines.size() - 2] == moved;
  }));
  // The repeated array posted nothing; the depth body, not granted by the host, neither.
  EXPECT_EQ(PriceEventsSoFar(),
            (std::vector<std::string>{
                std::string("17 ") + kFutureText + " 6500/3 6501/4 6500.5/2 YYY",
                std::string("8 ") + kFutureText, moved, std::string("8 ") + kFutureText}));

  // The record by name and by the contract's place in the list.
  const PriceStruct named = FuturePrices();
  PriceStruct placed;
  ASSERT_EQ(vnGetPrice(0, &placed), 0);
  EXPECT_EQ(std::memcmp(named.Entries, placed.Entries, sizeof named.Entries), 0);
  EXPECT_EQ(Entry(named, VN_PK_BID), "6500.5/5");
  EXPECT_EQ(named.Entries[VN_PK_BID].Direction, VN_DIRECTION_UP);
  EXPECT_EQ(Entry(named, VN_PK_OFFER), "6501/4");
  EXPECT_EQ(Entry(named, VN_PK_LAST_TRADE), "6500.5/2");
  EXPECT_EQ(Entry(named, VN_PK_LAST_TRADE + 1), "0/0");  // the repeat was no new trade
  EXPECT_EQ(Entry(named, VN_PK_TOTAL_VOLUME), "0/100");
  EXPECT_EQ(Entry(named, VN_PK_HIGH), "6510/0");
  EXPECT_EQ(Entry(named, VN_PK_LOW), "6490/0");
  EXPECT_EQ(Entry(named, VN_PK_BID_DEPTH), "0/0");
  EXPECT_EQ(Entry(named, VN_PK_OFFER_DEPTH), "0/0");

  ASSERT_EQ(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27"), 0);
  ExpectPlayed();  // the 0203
  const PriceStruct blank = FuturePrices();
  EXPECT_EQ(Entries(blank, 0, VN_PK_OWN_LAST), Levels({}, VN_PK_OWN_LAST));
  EXPECT_EQ(Entries(blank, VN_PK_BID_DEPTH, 2 * VN_PK_DEPTH_LEVELS),
            Levels({}, 2 * VN_PK_DEPTH_LEVELS));
}


// Depth needs the host's grant (the logon's features), which the price logon passes on to the
// feed; without it the depth bodies are dropped (above).
TEST_F(PriceRoadTest, DepthOfAContractFromFixedAndVariableDepthBodies) {
  Play("price-depth.conv");
  LogOnWithPriceLink();
  EXPECT_EQ(vnDOMEnabled(), 0);
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);

  // The fixed body: bid and offer levels 1, 2 and 10, level 1 also the bid while no price array
  // has written one, and its last trade, as no price array has written that either.
  const std::string dom = std::string("21 ") + kFutureText;
  ASSERT_TRUE(PriceEventsEndWith(dom));
  PriceStruct prices = FuturePrices();
  std::vector<std::string> bids = Levels({"6499/11", "6498.5/12"});
  bids[9] = "6494.5/20";
  std::vector<std::string> offers = Levels({"6500/21", "6500.5/22"});
  offers[9] = "6504.5/30";
  EXPECT_EQ(Entries(prices, VN_PK_BID_DEPTH, VN_PK_DEPTH_LEVELS), bids);
  EXPECT_EQ(Entries(prices, VN_PK_OFFER_DEPTH, VN_PK_DEPTH_LEVELS), offers);
  EXPECT_EQ(Entry(prices, VN_PK_BID), "6499/11");
  EXPECT_EQ(Entry(prices, VN_PK_OFFER), "0/0");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE), "6499.5/2");

  // Once the commodity's depth is subscribed too, the variable body: three bids and two offers,
  // every other level emptied, the bid left alone, a new last trade.
  ASSERT_EQ(vnSubscribeToMarket("LIFFE", "FTSE", ""), 0);
  ASSERT_TRUE(recorder_.WaitUntil(
      [](const TDeliveries& deliveries) { return CountOf(deliveries, VN_CB_DOM_UPDATE) >= 2; }));
  prices = FuturePrices();
  EXPECT_EQ(Entries(prices, VN_PK_BID_DEPTH, VN_PK_DEPTH_LEVELS),
            Levels({"6498/5", "6497.5/6", "6497/7"}));
  EXPECT_EQ(Entries(prices, VN_PK_OFFER_DEPTH, VN_PK_DEPTH_LEVELS),
            Levels({"6500.5/8", "6501/9"}));
  EXPECT_EQ(Entry(prices, VN_PK_BID), "6499/11");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE), "6500/3");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE + 1), "6499.5/2");
  EXPECT_EQ(PriceEventsSoFar(),
            (std::vector<std::string>{
                std::string("17 ") + kFutureText + " 6499/11 0/0 6499.5/2 YNY", dom,
                std::string("17 ") + kFutureText + " 6499/11 0/0 6500/3 NNY", dom}));

  // The table goes with the last depth subscriber, as it does with the last price subscriber.
  ASSERT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", ""), 0);
  EXPECT_EQ(Entry(FuturePrices(), VN_PK_BID_DEPTH), "6498/5");
  ASSERT_EQ(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27"), 0);
  ExpectPlayed();
  prices = FuturePrices();
  EXPECT_EQ(Entries(prices, VN_PK_BID_DEPTH, 2 * VN_PK_DEPTH_LEVELS),
            Levels({}, 2 * VN_PK_DEPTH_LEVELS));
  EXPECT_EQ(Entry(prices, VN_PK_BID), "0/0");
}

// A waiting snapshot returns once its price array has been applied; one without a wait returns
// at once and its prices follow. Neither subscribes.
TEST_F(PriceRoadTest, SnapshotsAnsweredByThePriceFeed) {
  Play("price-snapshot.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 20000), 0);
  PriceStruct prices = FuturePrices();
  EXPECT_EQ(Entry(prices, VN_PK_BID), "6500/3");
  EXPECT_EQ(Entry(prices, VN_PK_OFFER), "6501/4");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE), "6500.5/2");

  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 0), 0);
  ASSERT_TRUE(recorder_.WaitUntil([](const TDeliveries& deliveries) {
    return CountOf(deliveries, VN_CB_PRICE_UPDATE) >= 2;
  }));
  prices = FuturePrices();
  EXPECT_EQ(Entry(prices, VN_PK_BID), "6501/6");
  EXPECT_EQ(Entry(prices, VN_PK_OFFER), "6502/7");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE), "6501.5/1");
  ExpectPlayed();
  EXPECT_EQ(API()->Subscriptions.PriceSubscriberCount(kFuture), 0);
}

// Broadcasts are user messages numbered 0, -1, ...; each is announced only while the
// application asks to be told of every message.
TEST_F(PriceRoadTest, BroadcastsBecomeUserMessages) {
  Play("price-broadcast.conv");
  LogOnWithPriceLink();
  ASSERT_EQ(vnNotifyAllMessages('Y'), 0);
  ASSERT_EQ(vnSubscribeBroadcast("LIFFE"), 0);
  ASSERT_TRUE(recorder_.WaitUntil(
      [](const TDeliveries& deliveries) { return !MessageEvents(deliveries).empty(); }));
  EXPECT_EQ(MessageEvents(recorder_.Deliveries()), std::vector<std::string>{"0"});
  MessageStruct message;
  ASSERT_EQ(vnGetUsrMsgByID("0", &message), 0);
  EXPECT_STREQ(message.MsgText, "LIFFE: Opening delayed");
  EXPECT_EQ(message.IsAlert, VN_MSG_NORMAL);
  EXPECT_EQ(message.Status, VN_MSG_PENDING);

  // The second crosses the unsubscription; the price array after it shows it has been applied.
  ASSERT_EQ(vnNotifyAllMessages('N'), 0);
  ASSERT_EQ(vnUnsubscribeBroadcast("LIFFE"), 0);
  ASSERT_TRUE(PriceEventsEndWith(std::string("8 ") + kFutureText));
  ASSERT_EQ(vnGetUsrMsgByID("-1", &message), 0);
  EXPECT_STREQ(message.MsgText, "LIFFE: Opening at ten");
  EXPECT_EQ(MessageEvents(recorder_.Deliveries()), std::vector<std::string>{"0"});
  ExpectPlayed();
}

// Application threads read price records, depth and at-best lists while the feed streams price
// arrays, depth, at-best and subscriber-depth bodies and another thread subscribes, unsubscribes
// (dropping the price table) and blanks prices. Every body of round i gives each entry it
// writes a price of whole thousands plus i and the volume i + 1, so an entry read whole always
// has volume = price mod 1000 + 1, whatever body or blanking it comes from.
class PriceRoadThreadsTest : public PriceRoadTest {
 protected:
  static constexpr int kRounds = 200;

  static std::string Names() { return "@4:LIFFE @14:FTSE @24:MAR27"; }
  static std::string At(int offset, long value) {
    return " @" + std::to_string(offset) + ":" + std::to_string(value);
  }
  static std::string At(int offset, const char* text) {
    return " @" + std::to_string(offset) + ":" + text;
  }

  // The feed's side: the stream starts when the application's first snapshot request comes and
  // ends with the answer to its second.
  static std::string Script() {
    std::string script =
        "include prelude-price-link-depth.conv\n"
        "ignore price 0202\nignore price 0203\nignore price 0210\nignore price 0211\n"
        "expect price 0204\n";
    for (int i = 0; i < kRounds; ++i) {
      const int volume = i + 1;
      script += "send price 0084 len=314 " + Names() + At(94, 1000 + i) + At(105, 2000 + i) +
                At(116, 3000 + i) + At(204, volume) + At(215, volume) + At(226, volume) +
                At(237, volume) + "\n";
      script += "send price 0056 len=515 " + Names();
      for (int level = 0; level < 10; ++level) {
        script += At(74 + 21 * level, (4 + level) * 1000 + i) + At(85 + 21 * level, volume);
        script += At(284 + 21 * level, (14 + level) * 1000 + i) + At(295 + 21 * level, volume);
      }
      script += "\n";
      script += "send price 0057 len=135 " + Names() + At(74, "AAA") + At(77, "BBB") +
                At(80, 2) + At(83, 1000 + i) + At(94, 2000 + i) + At(105, "AAA") +
                At(108, volume) + At(119, "B") + At(120, "BBB") + At(123, volume) +
                At(134, "S") + "\n";
      script += "send price 0807 len=127 " + Names() + At(74, 2) + At(77, 5000 + i) +
                At(88, volume) + At(98, "CCC") + At(101, "B") + At(102, 6000 + i) +
                At(113, volume) + At(123, "DDD") + At(126, "S") + "\n";
    }
    script += "timeout 60000\nexpect price 0204\n";
    script += "send price 0084 len=314 " + Names() + At(94, 9000) + At(105, 9001) +
              At(116, 9000) + At(204, 7) + At(215, 8) + At(226, 1000) + At(237, 9) + "\n";
    return script;
  }

  // The first entry read that breaks the rule, for the test's report.
  class TFaults {
   public:
    void Check(bool whole, const std::string& what) {
      if (whole) return;
      std::lock_guard guard(lock_);
      if (first_.empty()) first_ = what;
    }
    std::string First() {
      std::lock_guard guard(lock_);
      return first_;
    }

   private:
    std::mutex lock_;
    std::string first_;
  };

  // The whole number a price text starts with; 0 for none.
  static long Number(const char* text) {
    long value = 0;
    std::from_chars(text, text + std::strlen(text), value);
    return value;
  }
  static bool Whole(const char* price, std::int32_t volume) {
    const long value = Number(price);
    return (value == 0 && volume == 0) || volume == value % 1000 + 1;
  }
  static void CheckEntries(const PriceStruct& prices, int first, int last, TFaults& faults) {
    for (int kind = first; kind <= last; ++kind) {
      const PriceDetailStruct& entry = prices.Entries[kind];
      faults.Check(Whole(entry.Price, entry.Volume),
                   "kind " + std::to_string(kind) + " " + PriceVolume(entry.Price, entry.Volume));
    }
  }
};

TEST_F(PriceRoadThreadsTest, ReadersSubscribersAndTheFeedTogether) {
  PlayText(Script());
  LogOnWithPriceLink();

  std::atomic<bool> stop{false};
  TFaults faults;
  std::atomic<int> reads{0};
  std::vector<std::thread> threads;
  // Bid, offer and the trades, by the contract's place in the list.
  threads.emplace_back([&] {
    while (!stop) {
      PriceStruct prices{};
      faults.Check(vnGetPrice(0, &prices) == 0, "vnGetPrice failed");
      CheckEntries(prices, VN_PK_BID, VN_PK_OLDEST_TRADE, faults);
      ++reads;
    }
  });
  // Depth, by name.
  threads.emplace_back([&] {
    while (!stop) {
      PriceStruct prices{};
      faults.Check(vnGetPriceForContract("LIFFE", "FTSE", "MAR27", &prices) == 0,
                   "vnGetPriceForContract failed");
      CheckEntries(prices, VN_PK_BID_DEPTH, VN_PK_OFFER_DEPTH + VN_PK_DEPTH_LEVELS - 1, faults);
      ++reads;
    }
  });
  // At best and subscriber depth; a list may change between its count and its entries.
  threads.emplace_back([&] {
    while (!stop) {
      std::int32_t count = -1;
      faults.Check(vnCountContractAtBest("LIFFE", "FTSE", "MAR27", &count) == 0,
                   "vnCountContractAtBest failed");
      AtBestStruct best{};
      if (vnGetContractAtBest("LIFFE", "FTSE", "MAR27", 0, &best) == 0)
        faults.Check(std::string(best.Firm) == "AAA" && best.Volume >= 1 &&
                         best.Volume <= kRounds && best.BestType == 'B',
                     "at best " + std::string(best.Firm) + " " + std::to_string(best.Volume));
      AtBestPriceStruct bestPrices{};
      faults.Check(vnGetContractAtBestPrices("LIFFE", "FTSE", "MAR27", &bestPrices) == 0,
                   "vnGetContractAtBestPrices failed");
      const long bid = Number(bestPrices.BestBid);
      faults.Check(bid == 0 || Number(bestPrices.BestOffer) == bid + 1000,
                   "at-best prices " + std::string(bestPrices.BestBid) + " " +
                       bestPrices.BestOffer);
      faults.Check(vnCountContractSubscriberDepth("LIFFE", "FTSE", "MAR27", &count) == 0,
                   "vnCountContractSubscriberDepth failed");
      SubscriberDepthStruct depth{};
      if (vnGetContractSubscriberDepth("LIFFE", "FTSE", "MAR27", 1, &depth) == 0)
        faults.Check(Whole(depth.Price, depth.Volume) && std::string(depth.Firm) == "DDD",
                     "subscriber depth " + PriceVolume(depth.Price, depth.Volume));
      ++reads;
    }
  });
  // Subscriptions come and go, taking the price table with them; now and then every price is
  // blanked.
  threads.emplace_back([&] {
    for (int turn = 0; !stop; ++turn) {
      faults.Check(vnSubscribePrice("LIFFE", "FTSE", "MAR27") == 0, "vnSubscribePrice failed");
      faults.Check(vnSubscribeToMarket("LIFFE", "FTSE", "MAR27") == 0,
                   "vnSubscribeToMarket failed");
      faults.Check(vnUnsubscribeToMarket("LIFFE", "FTSE", "MAR27") == 0,
                   "vnUnsubscribeToMarket failed");
      faults.Check(vnUnsubscribePrice("LIFFE", "FTSE", "MAR27") == 0,
                   "vnUnsubscribePrice failed");
      if (turn % 16 == 0) faults.Check(vnBlankPrices() == 0, "vnBlankPrices failed");
    }
  });

  // The stream starts once every thread runs, and has been applied whole once each of its
  // at-best bodies has been announced.
  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 0), 0);
  const bool streamed = recorder_.WaitUntil(
      [](const TDeliveries& deliveries) {
        return CountOf(deliveries, VN_CB_AT_BEST_UPDATE) >= static_cast<std::size_t>(kRounds);
      },
      std::chrono::seconds(90));
  stop = true;
  for (auto& thread : threads)
    thread.join();
  ASSERT_TRUE(streamed);
  EXPECT_EQ(faults.First(), "");
  EXPECT_GT(reads.load(), 0);

  // Once the threads are done the feed's last array stands as sent, and nobody is subscribed.
  ASSERT_EQ(vnPriceSnapshot("LIFFE", "FTSE", "MAR27", 60000), 0);
  const PriceStruct prices = FuturePrices();
  EXPECT_EQ(Entry(prices, VN_PK_BID), "9000/7");
  EXPECT_EQ(Entry(prices, VN_PK_OFFER), "9001/8");
  EXPECT_EQ(Entry(prices, VN_PK_LAST_TRADE), "9000/9");
  EXPECT_EQ(API()->Subscriptions.PriceSubscriberCount(kFuture), 0);
  EXPECT_EQ(API()->Subscriptions.MarketSubscriptionCount(kFuture), 0);
  ExpectPlayed();
}

}  // namespace
}  // namespace vorn
