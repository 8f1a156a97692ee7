// The simulator's market: its books, the users' orders in them and the price steps, driven by a
// sequence of operations as the simulation object and the order-life code call them.
//
// Kept across inputs: the market, the contract list with three contracts and their commodities,
// the subscription book and the random source. Each input starts from empty books: the market is
// reset, the contracts' price tables dropped, and the books made again with the input's figures,
// so that an input replays alone.
//
// Input: a seed, then per contract its tick size, ticks per point, limits and lot limit (picked
// from tables of real figures, or raw doubles), then operations until the input ends, each an
// operation byte and its arguments. After every operation the books are checked: level keys,
// no negative volume, users' orders with lots left and unique ids, finite prices in the table,
// no crossed book after a match; while only the order-life calls are used, each level's users'
// volume is the sum of its orders' remaining lots and the fills add up per order.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/PriceStep.h"
#include "core/refdata/Subscriptions.h"
#include "platform/Event.h"
#include "sim/ContractOrderList.h"
#include "sim/DOMList.h"
#include "sim/Market.h"
#include "sim/RandomSource.h"

using namespace vorn;
using namespace vorn::sim;

namespace {

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "MarketFuzz.cpp:%d: %s fails\n", __LINE__, #condition); \
      __builtin_trap();                                                       \
    }                                                                         \
  } while (0)

constexpr std::size_t kContracts = 3;
constexpr std::array<double, 10> kTickSizes = {0.5,  0.25, 0.01, 0.0025, 0.005,
                                               1,    5,    1e-7, 0.03125, 0.1};
constexpr std::array<std::int32_t, 10> kTicksPerPoint = {10, 100, 1, 800, 128, 32, 64, 4, 8, 1000};
constexpr std::array<double, 10> kLimits = {8200, 7600, 0, 100, 99.5, -50, 1e11, -1e11, 0.001,
                                            130.15625};
constexpr std::array<std::int32_t, 6> kLotLimits = {40, 1, 0, 1000, 100000,
                                                    std::numeric_limits<std::int32_t>::max()};

// What the fills told of one user's order of this input.
struct TOrderModel {
  std::int32_t Target = 0;
  std::int32_t Filled = 0;
};

struct TState {
  std::atomic<bool> contractsReading{false};
  TLatch contractsRead{true};
  TSubscriptions subscriptions;
  TContractQ contracts{contractsReading, contractsRead};
  std::array<std::shared_ptr<TCommodity>, kContracts> commodities;
  std::array<std::shared_ptr<TContractItem>, kContracts> items;
  TRandomSource random{1};
  std::unique_ptr<TMarket> market;

  // Per input.
  std::array<std::shared_ptr<TContractOrderList>, kContracts> books;
  std::map<std::string, TOrderModel> orders;
  // False once an operation may leave the users' volume apart from the orders (a raw adjust, an
  // id used twice, users' volume added without an order).
  bool exact = true;
  unsigned nextId = 0;
};

TState* state = nullptr;

void OrderFilled(const TContractOrderList&, const TUserFill& fill) {
  CHECK(fill.Lots > 0);
  CHECK(std::isfinite(fill.Price));
  CHECK(fill.Filled <= fill.TargetLots);
  if (!state->exact) return;
  const auto order = state->orders.find(fill.OrderID);
  CHECK(order != state->orders.end());
  order->second.Filled += fill.Lots;
  CHECK(order->second.Filled == fill.Filled);
  CHECK(order->second.Filled <= order->second.Target);
}

void RemainderEnded(const TContractOrderList&, const TUserOrder& order) {
  CHECK(order.Remaining() > 0);
  if (!state->exact) return;
  const auto model = state->orders.find(order.OrderID);
  CHECK(model != state->orders.end());
  CHECK(model->second.Filled == order.Filled);
}

double PickDouble(FuzzedDataProvider& in, const auto& table) {
  const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
  if (pick < 0xF0) return table[pick % table.size()];
  return in.ConsumeFloatingPoint<double>();
}

// A price near the book's start price in its own notation, or (rarely) any double.
double PickPrice(FuzzedDataProvider& in, const TContractOrderList& book) {
  const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
  if (pick >= 0xF8) return in.ConsumeFloatingPoint<double>();
  const std::int32_t ticks = in.ConsumeIntegralInRange<std::int32_t>(-64, 63);
  const double base = (pick & 1) ? book.UpperLimit() : book.StartPrice();
  return RoundPrice7(PriceStep(base, book.TickSize(), ticks, book.TicksPerPoint()));
}

std::int32_t PickLots(FuzzedDataProvider& in) {
  const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
  if (pick < 0xF0) return 1 + pick % 50;
  return in.ConsumeIntegral<std::int32_t>();
}

std::string NewId() { return "U" + std::to_string(state->nextId++); }

// An id of a resting order (or stop) of the book, or a new one when it has none.
std::string PickId(FuzzedDataProvider& in, const std::vector<TUserOrder>& orders) {
  if (orders.empty()) return NewId();
  return orders[in.ConsumeIntegral<std::uint8_t>() % orders.size()].OrderID;
}

bool Crossed(const TContractOrderList& book) {
  const TDOMPrice* bid = book.Bids.Last();
  const TDOMPrice* offer = book.Offers.First();
  return bid && offer &&
         *TDOMList::MakeKey(bid->Price) >= *TDOMList::MakeKey(offer->Price);
}

void CheckBook(const TContractOrderList& book, bool matched) {
  for (const TDOMList* side : {&book.Bids, &book.Offers})
    for (const auto& [key, level] : side->Levels()) {
      const auto levelKey = TDOMList::MakeKey(level.Price);
      CHECK(levelKey && *levelKey == key);
      CHECK(level.Simulated >= 0);
      CHECK(level.Users >= 0);
    }
  if (matched) CHECK(!Crossed(book));
  std::map<std::pair<bool, std::int64_t>, std::int64_t> resting;
  for (std::size_t i = 0; i < book.UserOrders.size(); ++i) {
    const TUserOrder& order = book.UserOrders[i];
    CHECK(order.Remaining() > 0);
    for (std::size_t j = 0; j < i; ++j) CHECK(book.UserOrders[j].OrderID != order.OrderID);
    const auto key = TDOMList::MakeKey(order.Price);
    CHECK(key);
    resting[{order.Buy, *key}] += order.Remaining();
    if (state->exact) {
      const auto model = state->orders.find(order.OrderID);
      CHECK(model != state->orders.end());
      CHECK(model->second.Filled == order.Filled);
    }
  }
  for (std::size_t i = 0; i < book.Stops.size(); ++i)
    for (std::size_t j = 0; j < i; ++j) CHECK(book.Stops[j].OrderID != book.Stops[i].OrderID);
  if (state->exact) {
    for (const bool buy : {true, false})
      for (const auto& [key, level] : (buy ? book.Bids : book.Offers).Levels()) {
        const auto held = resting.find({buy, key});
        CHECK(level.Users == (held == resting.end() ? 0 : held->second));
      }
    for (const auto& [where, lots] : resting) {
      const auto& levels = (where.first ? book.Bids : book.Offers).Levels();
      CHECK(levels.contains(where.second));
    }
  }
  for (int kind = 0; kind < kPriceKindCount; ++kind)
    CHECK(std::isfinite(book.Contract()->GetPrice(kind).Value));
}

// Everything an input made is freed again, so that the next one starts as this one did and the
// leak check sees an input free what it allocates.
void DropBooks() {
  state->market->Reset();
  for (std::size_t i = 0; i < kContracts; ++i) {
    state->books[i].reset();
    state->items[i]->DropPriceTable();
    state->items[i]->TakeChangeMask();
    state->subscriptions.UnsubscribePrice(state->items[i]->Key());
  }
  state->orders.clear();
  ClearCallbackQueue();
}

void MakeBooks(FuzzedDataProvider& in) {
  TMarket& market = *state->market;
  for (std::size_t i = 0; i < kContracts; ++i) {
    state->commodities[i]->TickSize = PickDouble(in, kTickSizes);
    const std::uint8_t tpp = in.ConsumeIntegral<std::uint8_t>();
    state->commodities[i]->TicksPerPoint =
        tpp < 0xF0 ? kTicksPerPoint[tpp % kTicksPerPoint.size()]
                   : in.ConsumeIntegral<std::int32_t>();
    const double upper = PickDouble(in, kLimits);
    const double lower = PickDouble(in, kLimits);
    const std::uint8_t lotPick = in.ConsumeIntegral<std::uint8_t>();
    const std::int32_t lotLimit = lotPick < 0xF0 ? kLotLimits[lotPick % kLotLimits.size()]
                                                 : in.ConsumeIntegral<std::int32_t>();
    state->books[i] = market.AddContract(state->items[i], upper, lower, lotLimit);
  }
}

// One operation on the book; true when it ends with a match (CheckOrders) run.
bool Operate(FuzzedDataProvider& in, TContractOrderList& book) {
  TMarket& market = *state->market;
  const std::uint8_t op = in.ConsumeIntegral<std::uint8_t>();
  switch (op % 16) {
    case 0:
      market.StepBook(book);
      return true;
    case 1:
      market.SeedBook(book);
      return true;
    case 2:
      market.AddAnOrder(book, in.ConsumeBool());
      return false;
    case 3:
      market.PullAnOrder(book);
      return false;
    case 4:
    case 5: {  // a Working limit order enters the book
      TUserOrder order{NewId(), in.ConsumeBool(), PickPrice(in, book), PickLots(in), 0, false};
      if (in.ConsumeBool()) order.Filled = in.ConsumeIntegralInRange<std::int32_t>(0, 10);
      state->orders[order.OrderID] = {order.TargetLots, order.Filled};
      return market.AddUserOrderToDOM(book, order);
    }
    case 6: {  // it leaves the book (a cancel, or its order filled elsewhere)
      if (book.UserOrders.empty()) return false;
      const TUserOrder order =
          book.UserOrders[in.ConsumeIntegral<std::uint8_t>() % book.UserOrders.size()];
      CHECK(market.AdjustAnOrder(book, order.OrderID, order.Remaining(), true, true) ==
                order.Remaining() ||
            !state->exact);
      return false;
    }
    case 7: {  // an amend, or the order entering again when it does not rest
      const std::string id = PickId(in, book.UserOrders);
      const double price = PickPrice(in, book);
      const std::int32_t target = PickLots(in);
      const bool used = state->orders.contains(id);
      // The new target first: the order may fill as it enters again.
      const std::int32_t oldTarget = used ? state->orders[id].Target : 0;
      if (used) state->orders[id].Target = target;
      const TUserAmend amend = market.AmendUserOrder(book, id, price, target);
      if (amend.Found) {
        // Back in the book, matched, unless it ends filled or its price has no level.
        return !amend.EndsFilled && TDOMList::MakeKey(price);
      }
      TUserOrder order{id, in.ConsumeBool(), price, target, 0, false};
      if (used) {
        state->orders[id].Target = oldTarget;
        state->exact = false;  // the id of an order that ended
      }
      state->orders[id] = {target, 0};
      return market.AddUserOrderToDOM(book, order);
    }
    case 8:
    case 9: {  // a market order, or a stop that triggered
      TUserOrder order{NewId(), in.ConsumeBool(), 0, PickLots(in), 0, false};
      state->orders[order.OrderID] = {order.TargetLots, 0};
      market.CheckMarket(book, order);
      return false;
    }
    case 10: {
      TUserOrder stop{NewId(), in.ConsumeBool(), PickPrice(in, book), PickLots(in), 0,
                      in.ConsumeBool()};
      state->orders[stop.OrderID] = {stop.TargetLots, 0};
      market.AddAStop(book, stop);
      return false;
    }
    case 11:
      market.RemoveAStop(book, PickId(in, book.Stops));
      return false;
    case 12: {  // a reference price from the feed
      const TPriceWrite write{VN_PK_GENERIC_28_2, 0, PickPrice(in, book)};
      book.Contract()->SetPrices(std::span<const TPriceWrite>(&write, 1));
      return false;
    }
    case 13:
      market.CheckOrders(book);
      market.CheckPrices(book);
      return true;
    case 14: {  // the raw calls, outside what the order-life code does
      state->exact = false;
      const std::uint8_t raw = in.ConsumeIntegral<std::uint8_t>();
      if (raw & 1) {
        market.AdjustAnOrder(book, PickId(in, book.UserOrders), PickLots(in), in.ConsumeBool(),
                             in.ConsumeBool());
      } else if (raw & 2) {
        market.AddToDOMLevel(book, in.ConsumeBool(), PickLots(in), in.ConsumeBool(),
                             PickPrice(in, book));
      } else {
        // An id that rests, entered again on the other side or as a market order.
        TUserOrder order{PickId(in, book.UserOrders), in.ConsumeBool(), PickPrice(in, book),
                         PickLots(in), 0, false};
        if (raw & 4)
          market.CheckMarket(book, order);
        else
          market.AddUserOrderToDOM(book, order);
      }
      return false;
    }
    default:
      if (in.ConsumeBool())
        state->subscriptions.SubscribePrice(book.Contract()->Key());
      else
        state->subscriptions.UnsubscribePrice(book.Contract()->Key());
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  state = new TState;
  auto services = std::make_shared<TContractServices>();
  services->Subscriptions = &state->subscriptions;
  state->contracts.SetServices(services);
  TMarketServices marketServices;
  marketServices.OrderFilled = OrderFilled;
  marketServices.RemainderEnded = RemainderEnded;
  marketServices.TrailStop = [](const TContractOrderList&, const TUserOrder& stop) {
    CHECK(stop.Trailing);
  };
  state->market = std::make_unique<TMarket>(state->random, std::move(marketServices));
  constexpr std::array<const char*, kContracts> kDates = {"MAR27", "JUN27", "SEP27"};
  for (std::size_t i = 0; i < kContracts; ++i) {
    auto exchange = std::make_shared<TExchange>("LIFFE");
    auto commodity = std::make_shared<TCommodity>();
    commodity->SetName(i == 2 ? "GILT" : "IDX100");
    commodity->SetExchange(exchange);
    auto contract = std::make_shared<TContractItem>();
    contract->SetNames("LIFFE", commodity->Name(), kDates[i]);
    TFieldsList fields;
    fields.SetFields("X1=F\x01");
    contract->SetFields(fields);
    contract->SetCommodity(commodity);
    if (!state->contracts.Add(contract).Added) __builtin_trap();
    state->commodities[i] = commodity;
    state->items[i] = contract;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  state->random.Seed(in.ConsumeIntegral<std::uint16_t>());
  state->exact = true;
  state->nextId = 0;
  MakeBooks(in);
  std::size_t current = 0;
  while (in.remaining_bytes() > 0) {
    const std::uint8_t pick = in.ConsumeIntegral<std::uint8_t>();
    if (pick >= 0xE0) current = pick % kContracts;  // the next operations go to another book
    const auto& book = state->books[current];
    if (!book) {
      // No book for the contract's figures: the step of the books there are, now and then.
      if (in.ConsumeIntegral<std::uint8_t>() == 0) state->market->Step();
      continue;
    }
    std::lock_guard guard(book->Lock());
    const bool matched = Operate(in, *book);
    CheckBook(*book, matched);
  }
  for (const auto& book : state->books)
    if (book) CheckBook(*book, false);
  DropBooks();
  return 0;
}
