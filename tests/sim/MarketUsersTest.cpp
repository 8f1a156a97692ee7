// The users' side of the books: resting limit orders in the depth, their fills, amends and
// cancels, market orders, stops and trailing; the match ending whatever volume it meets.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <thread>
#include <vector>

#include "sim/MarketFixture.h"
#include "sim/TrailStop.h"

namespace vorn::sim {
namespace {

// A market whose services record what it reports; books are tick 0.5, 7600 to 8200.
class MarketUsersTest : public MarketTest {
 protected:
  TMarketServices Recording() {
    TMarketServices services;
    services.OrderFilled = [this](const TContractOrderList&, const TUserFill& fill) {
      fills_.push_back(fill);
    };
    services.RemainderEnded = [this](const TContractOrderList&, const TUserOrder& order) {
      ended_.push_back(order);
    };
    services.TrailStop = [this](const TContractOrderList&, const TUserOrder& stop) {
      trailed_.push_back(stop.OrderID);
    };
    return services;
  }

  std::shared_ptr<TContractOrderList> UsersBook(const std::string& date = "MAR27") {
    auto book = users_.AddContract(Contract("LIFFE", "IDX100", date, 0.5, 10), 8200, 7600, 40);
    EXPECT_TRUE(book);
    return book;
  }

  static TUserOrder Order(const std::string& id, bool buy, double price, std::int32_t lots,
                          std::int32_t filled = 0) {
    return TUserOrder{id, buy, price, lots, filled, false};
  }

  // The lots filled per order id, in the order the fills came.
  std::vector<std::pair<std::string, std::int32_t>> FilledLots() const {
    std::vector<std::pair<std::string, std::int32_t>> lots;
    for (const auto& fill : fills_) lots.emplace_back(fill.OrderID, fill.Lots);
    return lots;
  }

  std::vector<TUserFill> fills_;
  std::vector<TUserOrder> ended_;
  std::vector<std::string> trailed_;
  TMarket users_{random_, Recording()};
};

using Lots = std::vector<std::pair<std::string, std::int32_t>>;

TEST_F(MarketUsersTest, ARestingOrderShowsInTheDepthAndOnlyOnce) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, true, 2, true, 7900);
  EXPECT_TRUE(users_.AddUserOrderToDOM(*book, Order("101", true, 7900, 5)));
  EXPECT_TRUE(users_.AddUserOrderToDOM(*book, Order("102", true, 7899.5, 4, 1)));
  EXPECT_TRUE(users_.AddUserOrderToDOM(*book, Order("103", false, 7901, 6)));
  EXPECT_EQ(Entry(*book, VN_PK_BID).Value, 7900);
  EXPECT_EQ(Entry(*book, VN_PK_BID).Volume, 7) << "simulated and users' volume";
  EXPECT_EQ(Entry(*book, VN_PK_BID_DEPTH + 1).Value, 7899.5);
  EXPECT_EQ(Entry(*book, VN_PK_BID_DEPTH + 1).Volume, 3) << "what remains of the order";
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, 6);
  EXPECT_EQ(book->Bids.Find(7900)->Users, 5);

  // Refused, changing nothing: the same id again, nothing left, a price without a level key.
  EXPECT_FALSE(users_.AddUserOrderToDOM(*book, Order("101", true, 7900, 5)));
  EXPECT_FALSE(users_.AddUserOrderToDOM(*book, Order("104", true, 7898, 3, 3)));
  EXPECT_FALSE(users_.AddUserOrderToDOM(*book, Order("105", true, 7898, 3, 5)));
  EXPECT_FALSE(users_.AddUserOrderToDOM(*book, Order("106", true, std::nan(""), 3)));
  EXPECT_EQ(book->UserOrders.size(), 3u);
  EXPECT_EQ(book->Bids.Count(), 2u);
  EXPECT_EQ(book->Bids.Find(7900)->Users, 5);
  EXPECT_TRUE(fills_.empty());
}

TEST_F(MarketUsersTest, CrossingFillsSimulatedVolumeFirstThenOrdersInTimeOrder) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, true, 2, true, 7900);
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("A", true, 7900, 2)));
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("B", true, 7900, 3)));
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("S", false, 7902, 9)));

  // A simulated offer through the bid, added last: trades at the bid's price, 2 simulated lots
  // first, then A whole and 1 of B.
  users_.AddToDOMLevel(*book, false, 5, true, 7899.5);
  EXPECT_EQ(users_.CheckOrders(*book).Trades, 1);
  EXPECT_EQ(FilledLots(), (Lots{{"A", 2}, {"B", 1}}));
  EXPECT_EQ(fills_[0].Price, 7900);
  EXPECT_TRUE(fills_[0].Buy);
  EXPECT_EQ(fills_[1].Filled, 1);
  EXPECT_EQ(fills_[1].TargetLots, 3);
  ASSERT_EQ(book->UserOrders.size(), 2u) << "A filled out of the book";
  EXPECT_EQ(book->UserOrders[0].OrderID, "B");
  EXPECT_EQ(book->UserOrders[0].Filled, 1);
  EXPECT_EQ(book->Bids.Find(7900)->Users, 2);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Volume, 5);

  // A user's buy through the resting user offer: trades at the offer's price, both filled.
  fills_.clear();
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("C", true, 7902, 4)));
  EXPECT_EQ(FilledLots(), (Lots{{"C", 4}, {"S", 4}}));
  EXPECT_EQ(fills_[0].Price, 7902);
  EXPECT_EQ(fills_[1].Price, 7902);
  EXPECT_FALSE(fills_[1].Buy);
  EXPECT_EQ(book->Offers.Find(7902)->Users, 5);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, 5);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Value, 7902);
}

TEST_F(MarketUsersTest, AmendsMoveTheOrderAndEndItFilledAtOrBelowItsFills) {
  struct TCase {
    const char* Name;
    double Price;
    std::int32_t TargetLots;
    bool EndsFilled;
    std::int32_t UsersAt7900;  // -1: no level
    std::int32_t UsersAt7899;
  } cases[] = {
      {"up", 7900, 8, false, 6, -1},
      {"down", 7900, 3, false, 1, -1},
      {"to the filled lots", 7900, 2, true, -1, -1},
      {"below the filled lots", 7900, 1, true, -1, -1},
      {"to a new price", 7899, 6, false, -1, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto book = UsersBook(std::string("MAR27 ") + c.Name);
    ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("7", true, 7900, 5, 2)));
    const TUserAmend amend = users_.AmendUserOrder(*book, "7", c.Price, c.TargetLots);
    EXPECT_TRUE(amend.Found);
    EXPECT_EQ(amend.Filled, 2);
    EXPECT_EQ(amend.EndsFilled, c.EndsFilled);
    EXPECT_EQ(book->UserOrders.size(), c.EndsFilled ? 0u : 1u);
    for (const auto& [price, users] : {std::pair{7900.0, c.UsersAt7900}, {7899.0, c.UsersAt7899}}) {
      const TDOMPrice* level = book->Bids.Find(price);
      if (users < 0) {
        EXPECT_FALSE(level) << price;
      } else {
        ASSERT_TRUE(level) << price;
        EXPECT_EQ(level->Users, users);
      }
    }
    EXPECT_EQ(Entry(*book, VN_PK_BID).Volume, std::max({c.UsersAt7900, c.UsersAt7899, 0}));
  }
  auto book = UsersBook("NOORDER");
  EXPECT_FALSE(users_.AmendUserOrder(*book, "none", 7900, 3).Found);
  EXPECT_TRUE(fills_.empty());
}

TEST_F(MarketUsersTest, TakingAnOrderOutLeavesNoVolume) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, false, 3, true, 7901);
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("1", true, 7900, 4)));
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("2", false, 7901, 2)));

  // A cancel: the remaining lots out, the order and its emptied level gone, the best cleared.
  EXPECT_EQ(users_.AdjustAnOrder(*book, "1", 4, true, true), 4);
  EXPECT_TRUE(book->Bids.Empty());
  EXPECT_EQ(Entry(*book, VN_PK_BID).Volume, 0);
  EXPECT_EQ(users_.AdjustAnOrder(*book, "1", 4, true, true), 0) << "out once";

  // A level with simulated volume stays, with the simulated lots only.
  EXPECT_EQ(users_.AdjustAnOrder(*book, "2", 2, true, true), 2);
  ASSERT_TRUE(book->Offers.Find(7901));
  EXPECT_EQ(book->Offers.Find(7901)->Users, 0);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, 3);

  // More lots than the level holds of users' volume never leave it negative.
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("3", false, 7901, 2)));
  EXPECT_EQ(users_.AdjustAnOrder(*book, "3", 50, false, false), 2);
  EXPECT_EQ(book->Offers.Find(7901)->Users, 0);

  // Removing a level's whole volume fills its orders out of the book.
  auto other = UsersBook("JUN27");
  users_.AddToDOMLevel(*other, true, 3, true, 7900);
  ASSERT_TRUE(users_.AddUserOrderToDOM(*other, Order("4", true, 7900, 2)));
  ASSERT_TRUE(users_.AddUserOrderToDOM(*other, Order("5", true, 7900, 1)));
  TDOMPrice& level = *other->Bids.Find(7900);
  EXPECT_EQ(users_.RemoveFromDOM(*other, level, 10, 7900, true), 6) << "no more than it holds";
  EXPECT_EQ(level.LevelTotal(), 0);
  EXPECT_TRUE(other->UserOrders.empty());
  EXPECT_EQ(FilledLots(), (Lots{{"4", 2}, {"5", 1}}));
}

TEST_F(MarketUsersTest, AMarketOrderFillsAcrossLevelsAndEndsWhatFindsNoVolume) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, false, 3, true, 7900);
  users_.AddToDOMLevel(*book, false, 4, true, 7900.5);
  users_.AddToDOMLevel(*book, false, 9, true, 7901);

  const TTradeRange range = users_.CheckMarket(*book, Order("M1", true, 0, 5));
  EXPECT_EQ(range.Trades, 2);
  EXPECT_EQ(range.High, 7900.5);
  EXPECT_EQ(range.Low, 7900);
  ASSERT_EQ(fills_.size(), 2u);
  EXPECT_EQ(FilledLots(), (Lots{{"M1", 3}, {"M1", 2}}));
  EXPECT_EQ(fills_[0].Price, 7900);
  EXPECT_EQ(fills_[1].Price, 7900.5);
  EXPECT_EQ(fills_[1].Filled, 5);
  EXPECT_TRUE(ended_.empty());
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Value, 7900.5);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, 2);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Value, 7900.5);
  EXPECT_EQ(Entry(*book, VN_PK_TOTAL_VOLUME).Volume, 5);

  // Lots already filled are not filled again; what the side cannot give ends.
  fills_.clear();
  users_.CheckMarket(*book, Order("M2", true, 0, 20, 8));
  EXPECT_EQ(FilledLots(), (Lots{{"M2", 2}, {"M2", 9}}));
  ASSERT_EQ(ended_.size(), 1u);
  EXPECT_EQ(ended_[0].OrderID, "M2");
  EXPECT_EQ(ended_[0].Filled, 19);
  EXPECT_TRUE(book->Offers.Empty());

  // Against an empty side: no fill, the whole order ends.
  fills_.clear();
  EXPECT_EQ(users_.CheckMarket(*book, Order("M3", true, 0, 4)).Trades, 0);
  EXPECT_TRUE(fills_.empty());
  ASSERT_EQ(ended_.size(), 2u);
  EXPECT_EQ(ended_[1].Filled, 0);
}

TEST_F(MarketUsersTest, StopsTriggerAtTheirPriceAndLeaveTheListOnce) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, true, 20, true, 7890);
  users_.AddToDOMLevel(*book, false, 20, true, 7910);
  EXPECT_TRUE(users_.AddAStop(*book, Order("BS", true, 7905, 2)));
  EXPECT_TRUE(users_.AddAStop(*book, Order("SS", false, 7895, 3)));
  EXPECT_FALSE(users_.AddAStop(*book, Order("BS", true, 7905, 2))) << "once";
  ASSERT_EQ(book->Stops.size(), 2u);
  EXPECT_EQ(book->Stops.front().OrderID, "SS") << "newest first";

  users_.CheckStops(*book, 7904.5, 7895.5);
  EXPECT_TRUE(fills_.empty()) << "neither reached";
  users_.CheckStops(*book, 7905, 7900);
  EXPECT_EQ(FilledLots(), (Lots{{"BS", 2}}));
  EXPECT_EQ(fills_[0].Price, 7910) << "filled like a market order";
  users_.CheckStops(*book, 7920, 7900);
  EXPECT_EQ(fills_.size(), 1u) << "left the list";
  users_.CheckStops(*book, 7900, 7895);
  EXPECT_EQ(FilledLots(), (Lots{{"BS", 2}, {"SS", 3}}));
  EXPECT_EQ(fills_[1].Price, 7890);
  EXPECT_TRUE(book->Stops.empty());

  EXPECT_TRUE(users_.AddAStop(*book, Order("X", true, 7950, 1)));
  EXPECT_TRUE(users_.RemoveAStop(*book, "X"));
  EXPECT_FALSE(users_.RemoveAStop(*book, "X"));
}

TEST_F(MarketUsersTest, AStopsFillTriggersTheNextStopsInLaterRounds) {
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, false, 1, true, 7901);
  users_.AddToDOMLevel(*book, false, 1, true, 7903);
  users_.AddToDOMLevel(*book, false, 5, true, 7906);
  TUserOrder trailing = Order("T", true, 7950, 1);
  trailing.Trailing = true;
  ASSERT_TRUE(users_.AddAStop(*book, trailing));
  ASSERT_TRUE(users_.AddAStop(*book, Order("B3", true, 7903, 1)));
  ASSERT_TRUE(users_.AddAStop(*book, Order("B1", true, 7901, 2)));

  // A user's buy trades 7901; B1 takes 7901 and 7903 (2 lots), which triggers B3 at 7906.
  users_.CheckMarket(*book, Order("M", true, 0, 1));
  EXPECT_EQ(FilledLots(), (Lots{{"M", 1}, {"B1", 1}, {"B1", 1}, {"B3", 1}}));
  EXPECT_EQ(fills_.back().Price, 7906);
  ASSERT_EQ(book->Stops.size(), 1u);
  EXPECT_EQ(book->Stops[0].OrderID, "T");
  EXPECT_GE(trailed_.size(), 2u) << "re-priced in each round";
  for (const auto& id : trailed_) EXPECT_EQ(id, "T") << "only the trailing stop";
}

TEST_F(MarketUsersTest, TheMatchEndsOnVolumeNoOrderExplains) {
  struct TCase {
    const char* Name;
    std::int32_t BidUsers;  // users' volume put straight into the level
    std::int32_t BidOrder;  // lots of a user's order resting there (0: none)
    std::int32_t OfferUsers;
    std::int32_t OfferOrder;
    std::int32_t OfferSimulated;
  } cases[] = {
      {"stale on both sides", 5, 0, 7, 0, 0},
      {"orders and stale volume", 3, 4, 2, 1, 3},
      {"an order larger than its level", -3, 6, 0, 2, 0},
      {"odd lots", 1, 3, 5, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto book = UsersBook(std::string("MAR27 ") + c.Name);
    if (c.BidOrder) {
      ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("b", true, 7901, c.BidOrder)));
    }
    if (c.BidUsers) book->Bids.FindOrAdd(7901)->Users += c.BidUsers;
    if (c.OfferSimulated) users_.AddToDOMLevel(*book, false, c.OfferSimulated, true, 7900);
    if (c.OfferOrder) {
      ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("o", false, 7900, c.OfferOrder)));
    }
    if (c.OfferUsers) book->Offers.FindOrAdd(7900)->Users += c.OfferUsers;
    users_.CheckOrders(*book);
    const TDOMPrice* bid = book->Bids.Last();
    const TDOMPrice* offer = book->Offers.First();
    EXPECT_FALSE(bid && offer && bid->Price >= offer->Price) << "the book stays crossed";
    for (const auto* side : {&book->Bids, &book->Offers})
      for (const auto& [key, level] : side->Levels()) {
        EXPECT_GE(level.Users, 0);
        EXPECT_GE(level.Simulated, 0);
        EXPECT_GT(level.LevelTotal(), 0) << "an empty level stays";
      }
  }
}

// A level whose volume passes the 32-bit range: its total and the depth saturate, and the match
// and market orders still take the right lots from it and from each order resting there.
TEST_F(MarketUsersTest, ALevelBeyondThe32BitRangeSaturatesItsTotal) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  auto book = UsersBook();
  users_.AddToDOMLevel(*book, false, 1000, true, 7901);
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("201", false, 7901, kMax - 1)));
  EXPECT_EQ(book->Offers.Find(7901)->LevelTotal(), kMax);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, kMax);

  users_.CheckMarket(*book, Order("202", true, 0, 1500));
  EXPECT_EQ(FilledLots(), (Lots{{"201", 500}, {"202", 1500}})) << "simulated lots first";
  EXPECT_EQ(book->Offers.Find(7901)->Users, kMax - 501);

  // A bid as large crosses it: the match trades the smaller side whole.
  fills_.clear();
  users_.AddToDOMLevel(*book, true, 7, true, 7901);
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("203", true, 7901, kMax - 2)));
  EXPECT_EQ(FilledLots(), (Lots{{"203", kMax - 501 - 7}, {"201", kMax - 501}}));
  EXPECT_TRUE(book->Offers.Empty());
  EXPECT_EQ(book->Bids.Find(7901)->LevelTotal(), 506) << "7 + (kMax - 2) - (kMax - 501)";

  // Two orders at one level whose lots together pass the range both rest whole and both fill.
  fills_.clear();
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("204", false, 7905, kMax - 1)));
  ASSERT_TRUE(users_.AddUserOrderToDOM(*book, Order("205", false, 7905, kMax - 1)));
  EXPECT_EQ(book->Offers.Find(7905)->Users, 2 * std::int64_t{kMax - 1});
  users_.CheckMarket(*book, Order("206", true, 0, kMax));
  users_.CheckMarket(*book, Order("207", true, 0, kMax));
  EXPECT_EQ(FilledLots(), (Lots{{"204", kMax - 1},
                                {"205", 1},
                                {"206", kMax},
                                {"205", kMax - 2},
                                {"207", kMax - 2}}));
  EXPECT_TRUE(book->Offers.Empty());
  EXPECT_TRUE(book->UserOrders.size() == 1 && book->UserOrders[0].OrderID == "203");
}

// Random simulated and users' orders, amends and cancels: every level's users' volume is what
// its resting orders have left, nothing is negative, the book never stays crossed, and every
// order's fills add up to what it lost from the book.
TEST_F(MarketUsersTest, RandomTradingKeepsTheUsersVolumeInStep) {
  auto book = UsersBook();
  users_.SeedBook(*book);
  std::map<std::string, std::int32_t> filled;
  std::int32_t next = 0;
  for (int step = 0; step < 3000; ++step) {
    const std::int32_t action = random_.Random(6);
    if (action == 0 && !book->UserOrders.empty()) {
      const TUserOrder order = book->UserOrders[static_cast<std::size_t>(
          random_.Random(static_cast<std::int32_t>(book->UserOrders.size())))];
      users_.AdjustAnOrder(*book, order.OrderID, order.Remaining(), true, true);
    } else if (action == 1 && !book->UserOrders.empty()) {
      const TUserOrder order = book->UserOrders[static_cast<std::size_t>(
          random_.Random(static_cast<std::int32_t>(book->UserOrders.size())))];
      users_.AmendUserOrder(*book, order.OrderID,
                            order.Price + 0.5 * (random_.Random(9) - 4), 1 + random_.Random(12));
    } else if (action == 2) {
      users_.CheckMarket(*book, Order("M" + std::to_string(++next), random_.Random(2) == 1, 0,
                                      1 + random_.Random(30)));
    } else if (action == 3) {
      const bool buy = random_.Random(2) == 1;
      const double best = buy ? Entry(*book, VN_PK_BID).Value : Entry(*book, VN_PK_OFFER).Value;
      const double price = (best > 0 ? best : 7900) + 0.5 * (random_.Random(9) - 4);
      users_.AddUserOrderToDOM(*book, Order("L" + std::to_string(++next), buy, price,
                                            1 + random_.Random(12)));
    } else {
      users_.StepBook(*book);
    }

    std::map<std::pair<bool, std::int64_t>, std::int32_t> resting;
    for (const auto& order : book->UserOrders) {
      ASSERT_GT(order.Remaining(), 0) << order.OrderID;
      resting[{order.Buy, *TDOMList::MakeKey(order.Price)}] += order.Remaining();
    }
    std::size_t restingLevels = 0;
    for (const bool buy : {true, false})
      for (const auto& [key, level] : (buy ? book->Bids : book->Offers).Levels()) {
        ASSERT_GE(level.Simulated, 0);
        const auto found = resting.find({buy, key});
        const std::int32_t restingLots = found == resting.end() ? 0 : found->second;
        ASSERT_EQ(level.Users, restingLots) << "step " << step << " at " << level.Price;
        if (restingLots > 0) ++restingLevels;
      }
    ASSERT_EQ(restingLevels, resting.size()) << "every resting order has its level";
    const TDOMPrice* bid = book->Bids.Last();
    const TDOMPrice* offer = book->Offers.First();
    ASSERT_FALSE(bid && offer && bid->Price >= offer->Price) << "step " << step;
  }
  for (const auto& fill : fills_) {
    EXPECT_GT(fill.Lots, 0);
    EXPECT_LE(fill.Filled, fill.TargetLots);
  }
  EXPECT_GT(fills_.size(), 100u);
}

TEST(TrailStopTest, TheStopMovesOnlyProtectively) {
  struct TCase {
    const char* Name;
    bool Buy;
    double StopPrice;
    double LastTrade;
    bool HasParent;
    const char* ParentStPrice;
    double StSteps2;
    double Expected;  // NaN: no amend
  } cases[] = {
      // A sell stop 10 below a 7900 bracket, sent at a last trade of 7900: the market rising
      // by 6 (3 steps of 2) lifts it by 3 ticks of 0.5.
      {"sell, market up", false, 7890, 7906, true, "10", 2, 7891.5},
      {"sell, market down", false, 7890, 7894, true, "10", 2, NAN},
      {"sell, less than a step", false, 7890, 7901.5, true, "10", 2, NAN},
      {"buy, market down", true, 7910, 7894, true, "10", 2, 7908.5},
      {"buy, market up", true, 7910, 7906, true, "10", 2, NAN},
      {"no parent", false, 7890, 7906, false, "10", 2, NAN},
      {"no step", false, 7890, 7906, true, "10", 0, NAN},
      {"distance not a number", false, 7890, 7906, true, "ten", 2, NAN},
      {"no distance", false, 7890, 7906, true, "", 2, NAN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTrailInputs in;
    in.Buy = c.Buy;
    in.StopPrice = c.StopPrice;
    in.StopStPrice = "7900";
    in.LastTrade = c.LastTrade;
    in.HasParent = c.HasParent;
    in.ParentPrice = 7900;
    in.ParentStPrice = c.ParentStPrice;
    in.ParentStSteps2 = c.StSteps2;
    in.TickSize = 0.5;
    const auto price = TrailedStopPrice(in);
    if (std::isnan(c.Expected)) {
      EXPECT_FALSE(price) << *price;
    } else {
      ASSERT_TRUE(price);
      EXPECT_DOUBLE_EQ(*price, c.Expected);
    }
  }
}

// The order-life code's entries run on other threads while the market steps.
TEST_F(MarketUsersTest, UsersEntriesRunBesideTheMarketStep) {
  auto contract = Contract("LIFFE", "IDX100", "SEP27", 0.5, 10);
  auto book = users_.AddContract(contract, 8200, 7600, 40);
  ASSERT_TRUE(book);
  users_.SeedMarket();
  std::atomic<bool> stop{false};
  std::thread market([&] {
    while (!stop) users_.Step();
  });
  for (int i = 0; i < 400; ++i) {
    const std::string id = "U" + std::to_string(i);
    ASSERT_TRUE(users_.WithBook(*contract, [&](TContractOrderList& b) {
      const double best = Entry(b, VN_PK_BID).Value;
      users_.AddUserOrderToDOM(b, Order(id, i % 2 == 0, best > 0 ? best : 7900, 3));
      users_.AddAStop(b, Order("S" + id, i % 2 == 1, best > 0 ? best : 7900, 1));
    }));
    ASSERT_TRUE(users_.WithBook(*contract, [&](TContractOrderList& b) {
      users_.AmendUserOrder(b, id, 7800, 2);
      for (const auto& order : b.UserOrders)
        if (order.OrderID == id) {
          users_.AdjustAnOrder(b, id, order.Remaining(), true, true);
          break;
        }
      users_.RemoveAStop(b, "S" + id);
    }));
  }
  stop = true;
  market.join();
  users_.WithBook(*contract, [&](TContractOrderList& b) {
    EXPECT_TRUE(b.UserOrders.empty());
    EXPECT_TRUE(b.Stops.empty());
  });
  EXPECT_FALSE(users_.WithBook(*Contract("LIFFE", "IDX100", "DEC27", 0.5, 10),
                               [](TContractOrderList&) { ADD_FAILURE(); }));
}

}  // namespace
}  // namespace vorn::sim
