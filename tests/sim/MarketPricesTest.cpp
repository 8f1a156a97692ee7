// What the market writes into the contracts' price tables, the events it posts, and its locks.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "sim/MarketFixture.h"

namespace vorn::sim {
namespace {

using namespace std::chrono_literals;

TEST_F(MarketTest, DepthIsWrittenBestFirstWithAnEmptyTail) {
  auto book = Book();
  market_.AddToDOMLevel(*book, true, 4, true, 7899);
  market_.AddToDOMLevel(*book, true, 5, true, 7900);
  market_.AddToDOMLevel(*book, true, 6, true, 7898);
  market_.AddToDOMLevel(*book, true, 2, false, 7900);
  market_.AddToDOMLevel(*book, false, 7, true, 7901);
  market_.CheckPrices(*book);

  EXPECT_EQ(Entry(*book, VN_PK_BID).Value, 7900);
  EXPECT_EQ(Entry(*book, VN_PK_BID).Volume, 7) << "simulated and users' volume";
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Value, 7901);
  const std::pair<double, std::int32_t> bids[] = {{7900, 7}, {7899, 4}, {7898, 6}};
  for (int level = 0; level < VN_PK_DEPTH_LEVELS; ++level) {
    SCOPED_TRACE(level);
    const PriceEntry entry = Entry(*book, VN_PK_BID_DEPTH + level);
    const auto expected = level < 3 ? bids[level] : std::pair<double, std::int32_t>{0, 0};
    EXPECT_EQ(entry.Value, expected.first);
    EXPECT_EQ(entry.Volume, expected.second);
    EXPECT_EQ(entry.Unset, level < 3 ? 0 : 1);
  }
  EXPECT_EQ(Entry(*book, VN_PK_OFFER_DEPTH).Value, 7901);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER_DEPTH + 1).Volume, 0);
}

TEST_F(MarketTest, OnlyChangedEntriesAndTheEmptyTailAreWrittenAgain) {
  auto book = Book();
  // Full depth on both sides: no tail.
  for (int i = 0; i < 25; ++i) {
    market_.AddToDOMLevel(*book, true, 1 + i, true, 7800 + i);
    market_.AddToDOMLevel(*book, false, 1 + i, true, 8000 - i);
  }
  market_.CheckPrices(*book);
  EXPECT_EQ(Entry(*book, VN_PK_BID_DEPTH + 19).Value, 7805) << "the 20th level";
  EXPECT_EQ(Entry(*book, VN_PK_OFFER_DEPTH + 19).Value, 7995);
  book->Contract()->TakeChangeMask();
  market_.CheckPrices(*book);
  EXPECT_EQ(book->Contract()->ChangeMask(), 0u);

  // One level changes: its depth entry; the best entries stay.
  market_.AddToDOMLevel(*book, true, 1, true, 7823);
  market_.CheckPrices(*book);
  EXPECT_EQ(book->Contract()->TakeChangeMask(), static_cast<std::uint32_t>(VN_PM_BID_DEPTH));
  EXPECT_EQ(Entry(*book, VN_PK_BID_DEPTH + 1).Volume, 25);

  // An emptied side writes its best entry as (0, 0) once; its tail every time.
  book->Offers.Clear();
  market_.CheckPrices(*book);
  EXPECT_EQ(book->Contract()->TakeChangeMask(),
            static_cast<std::uint32_t>(VN_PM_OFFER | VN_PM_OFFER_DEPTH));
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Volume, 0);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER).Value, 0);
  EXPECT_EQ(Entry(*book, VN_PK_OFFER_DEPTH).Value, 0);
  market_.CheckPrices(*book);
  EXPECT_EQ(book->Contract()->TakeChangeMask(), static_cast<std::uint32_t>(VN_PM_OFFER_DEPTH));
}

TEST_F(MarketTest, TradesWriteLastTradeVolumeHighAndLow) {
  auto book = Book();
  struct TStep {
    std::int32_t Lots;
    double Price;
    double High;
    double Low;
    std::int32_t Volume;
  } steps[] = {
      {1, 7900, 7900, 7900, 1},  // the first trade sets both
      {2, 7902, 7902, 7900, 3},  {3, 7899, 7902, 7899, 6},
      {4, 7901, 7902, 7899, 10},  // inside: neither moves
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Price);
    market_.UpdateLastTrade(*book, step.Lots, step.Price);
    EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Value, step.Price);
    EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE).Volume, step.Lots);
    EXPECT_EQ(Entry(*book, VN_PK_HIGH).Value, step.High);
    EXPECT_EQ(Entry(*book, VN_PK_LOW).Value, step.Low);
    EXPECT_EQ(Entry(*book, VN_PK_TOTAL_VOLUME).Volume, step.Volume);
    EXPECT_EQ(Entry(*book, VN_PK_TOTAL_VOLUME).Value, 0);
  }
  // The trade history moved down, newest first.
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE + 1).Value, 7899);
  EXPECT_EQ(Entry(*book, VN_PK_LAST_TRADE + 3).Value, 7900);

  // The traded volume does not wrap.
  auto other = Book("JUN27");
  market_.UpdateLastTrade(*other, std::numeric_limits<std::int32_t>::max() - 1, 7900);
  market_.UpdateLastTrade(*other, 5, 7900);
  EXPECT_EQ(Entry(*other, VN_PK_TOTAL_VOLUME).Volume, std::numeric_limits<std::int32_t>::max());
}

TEST_F(MarketTest, PriceEventsOnlyForSubscribedContracts) {
  auto quiet = Book("MAR27");
  auto watched = Book("JUN27");
  Subscribe(*watched->Contract());

  market_.SeedBook(*quiet);
  for (int i = 0; i < 20; ++i) market_.StepBook(*quiet);
  EXPECT_EQ(CallbackQueueCount(), 0u);
  EXPECT_NE(Entry(*quiet, VN_PK_BID).Value, 0) << "its prices are written all the same";

  market_.SeedBook(*watched);
  const std::size_t seeded = CallbackQueueCount();
  EXPECT_GT(seeded, 0u);

  // A trade posts; a price write that leaves the (untaken) mask as it was does not.
  ClearCallbackQueue();
  market_.UpdateLastTrade(*watched, 1, 7900);
  EXPECT_EQ(CallbackQueueCount(), 1u);
  ClearCallbackQueue();
  market_.CheckPrices(*watched);
  EXPECT_EQ(CallbackQueueCount(), 0u);
  // Once a reader took the mask, the rewritten tail moves it again.
  watched->Contract()->TakeChangeMask();
  market_.CheckPrices(*watched);
  EXPECT_EQ(CallbackQueueCount(), watched->Bids.Count() < 20 || watched->Offers.Count() < 20);

  subscriptions_.UnsubscribePrice(watched->Contract()->Key());
  ClearCallbackQueue();
  market_.UpdateLastTrade(*watched, 1, 7900);
  EXPECT_EQ(CallbackQueueCount(), 0u);
}

// A market whose synthetic-order check is the test's hook.
class MarketHookTest : public MarketTest {
 protected:
  TMarket hooked_{random_, TMarketServices{[this](const TContractItem& contract) {
                    checked_.push_back(contract.ContractDate());
                    if (hook_) hook_();
                  }}};
  std::vector<std::string> checked_;
  std::function<void()> hook_;

  std::shared_ptr<TContractOrderList> HookedBook(const std::string& date) {
    auto book = hooked_.AddContract(Contract("LIFFE", "IDX100", date, 0.5, 10), 8200, 7600, 40);
    EXPECT_TRUE(book);
    return book;
  }
};

TEST_F(MarketHookTest, EachTradeChecksTheHeldSyntheticOrders) {
  auto book = HookedBook("MAR27");
  hooked_.AddToDOMLevel(*book, false, 3, true, 7900);
  hooked_.AddToDOMLevel(*book, false, 4, true, 7905);
  hooked_.AddToDOMLevel(*book, true, 10, true, 7910);
  hooked_.CheckOrders(*book);
  EXPECT_EQ(checked_, (std::vector<std::string>{"MAR27", "MAR27"}));
}

TEST_F(MarketHookTest, AStepHoldsOnlyItsOwnBook) {
  auto busy = HookedBook("A");
  auto other = HookedBook("B");
  // A crossed book: its step trades, and the check holds the step inside the busy book.
  hooked_.AddToDOMLevel(*busy, false, 50, true, 7900);
  hooked_.AddToDOMLevel(*busy, true, 50, true, 7950);
  std::promise<void> inside;
  std::promise<void> release;
  auto released = release.get_future().share();
  hook_ = [&, once = true]() mutable {
    if (!once) return;
    once = false;
    inside.set_value();
    released.wait();
  };
  auto step = std::async(std::launch::async, [&] { hooked_.Step(); });
  inside.get_future().wait();

  // Meanwhile the market's list and another book's work go on.
  auto added = std::async(std::launch::async, [&] {
    hooked_.StepBook(*other);
    return hooked_.AddContract(Contract("LIFFE", "IDX100", "C", 0.5, 10), 8200, 7600, 40) !=
               nullptr &&
           hooked_.Find(*busy->Contract()) == busy && hooked_.Count() == 3;
  });
  ASSERT_EQ(added.wait_for(30s), std::future_status::ready);
  EXPECT_TRUE(added.get());
  release.set_value();
  step.get();
}

TEST_F(MarketTest, StepsRunBesideReadersAndSubscribers) {
  auto first = Book("MAR27");
  auto second = Book("JUN27");
  market_.SeedMarket();
  std::atomic<bool> stop{false};
  std::thread timer([&] {
    while (!stop.load()) market_.Step();
  });
  TPriceTable prices{};
  for (int i = 0; i < 300; ++i) {
    const auto& contract = i % 2 ? first->Contract() : second->Contract();
    Subscribe(*contract);
    contract->ReadPrices(prices);
    subscriptions_.UnsubscribePrice(contract->Key());
    contract->DropPriceTable();
    if (i % 50 == 0) market_.AddContract(Contract("EUREX", "BOND10", std::to_string(i), 0.01, 100),
                                         136, 128, 50);
  }
  stop = true;
  timer.join();
  EXPECT_EQ(market_.Count(), 8u);
  ClearCallbackQueue();
}

}  // namespace
}  // namespace vorn::sim
