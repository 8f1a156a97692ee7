// TMarket: the users' side of a book: their resting limit orders, market orders and stops.
#include <algorithm>
#include <iterator>

#include "core/diag/Trace.h"
#include "core/util/NumberText.h"
#include "sim/Market.h"

namespace vorn::sim {
namespace {

constexpr char kAdjustAnOrder[] = "TAutoDemo.AdjustAnOrder";
constexpr char kCheckMarket[] = "TAutoDemo.CheckMarket";

std::vector<TUserOrder>::iterator FindOrder(std::vector<TUserOrder>& orders,
                                            std::string_view orderId) {
  return std::ranges::find_if(orders,
                              [&](const TUserOrder& order) { return order.OrderID == orderId; });
}

// Prices compare as the levels key them, so an order always matches the level it rests at.
bool SamePrice(double a, double b) {
  const auto keyA = TDOMList::MakeKey(a);
  return keyA && keyA == TDOMList::MakeKey(b);
}

bool AtOrBelow(double price, double limit) {
  const auto key = TDOMList::MakeKey(price);
  const auto limitKey = TDOMList::MakeKey(limit);
  return key && limitKey && *key <= *limitKey;
}

void Widen(TTradeRange& range, const TTradeRange& more) {
  if (more.Trades == 0) return;
  if (range.Trades == 0 || more.High > range.High) range.High = more.High;
  if (range.Trades == 0 || more.Low < range.Low) range.Low = more.Low;
  range.Trades += more.Trades;
}

const char* YN(bool value) { return value ? "Y" : "N"; }

}  // namespace

bool TMarket::AddUserOrderToDOM(TContractOrderList& book, const TUserOrder& order) {
  if (FindOrder(book.UserOrders, order.OrderID) != book.UserOrders.end()) return false;
  const std::int32_t lots = order.Remaining();
  if (lots <= 0 || !TDOMList::MakeKey(order.Price)) {
    WriteTraceLine("Order " + order.OrderID + " of " + book.Description() +
                   " not put in the book: " + IntToStr(lots) + " lots at " +
                   FloatToStr(order.Price));
    return false;
  }
  book.UserOrders.push_back(order);
  AddToDOMLevel(book, order.Buy, lots, false, order.Price);
  CheckOrders(book);
  CheckPrices(book);
  return true;
}

std::int32_t TMarket::AdjustAnOrder(TContractOrderList& book, std::string_view orderIdView,
                                    std::int32_t lots, bool updateBook, bool removeOrder) {
  // A copy: the caller's id may be the record this takes out of the book.
  const std::string orderId(orderIdView);
  const std::string text = orderId + " of " + book.Description() + ", Lots " +
                           IntToStr(lots) + ", Remove Order " + YN(removeOrder) +
                           ", Update DOM " + YN(updateBook);
  AddTraceEntry(tlStart, kAdjustAnOrder, text);
  if (DebugFlagOn(kDebugging)) WriteTraceLine(std::string(kAdjustAnOrder) + " " + text);
  std::int32_t taken = 0;
  const auto order = FindOrder(book.UserOrders, orderId);
  if (order != book.UserOrders.end()) {
    const TUserOrder held = *order;
    if (removeOrder) book.UserOrders.erase(order);
    TDOMList& side = held.Buy ? book.Bids : book.Offers;
    TDOMPrice* level = side.Find(held.Price);
    if (!level) {
      AddTraceEntry(tlNote, kAdjustAnOrder, "No DOM for Price ", FloatToStr(held.Price));
      if (DebugFlagOn(kDebugging))
        WriteTraceLine("Trying to remove DOM record for Order " + held.OrderID + ", Price=" +
                       FloatToStr(held.Price) + ", Lots=" + IntToStr(lots));
    } else {
      taken = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(lots, 0, std::max<std::int64_t>(level->Users, 0)));
      level->Users -= taken;
      if (updateBook) {
        if (level->LevelTotal() <= 0) side.Remove(held.Price);
        CheckPrices(book);
      }
    }
  }
  AddTraceEntry(tlExit, kAdjustAnOrder, orderId);
  return taken;
}

TUserAmend TMarket::AmendUserOrder(TContractOrderList& book, std::string_view orderId,
                                   double price, std::int32_t targetLots) {
  TUserAmend result;
  const auto order = FindOrder(book.UserOrders, orderId);
  if (order == book.UserOrders.end()) return result;
  TUserOrder amended = *order;
  result.Found = true;
  result.Filled = amended.Filled;
  AdjustAnOrder(book, amended.OrderID, amended.Remaining(), true, true);
  amended.Price = price;
  amended.TargetLots = targetLots;
  result.EndsFilled = amended.Remaining() <= 0;
  if (!result.EndsFilled) AddUserOrderToDOM(book, amended);
  return result;
}

std::int32_t TMarket::RemoveFromDOM(TContractOrderList& book, TDOMPrice& level,
                                    std::int32_t lots, double price, bool buySide) {
  if (lots <= 0) return 0;
  const std::int32_t simulated = std::min(std::max(level.Simulated, 0), lots);
  level.Simulated -= simulated;
  std::int32_t left = lots - simulated;
  // By index: the walk stays where an order filled out of the list was, the next one moves in.
  for (std::size_t i = 0; left > 0 && level.Users > 0 && i < book.UserOrders.size();) {
    TUserOrder& order = book.UserOrders[i];
    const std::int32_t remaining = order.Remaining();
    if (remaining <= 0 || order.Buy != buySide || !SamePrice(order.Price, level.Price)) {
      ++i;
      continue;
    }
    const auto lotsFilled =
        static_cast<std::int32_t>(std::min<std::int64_t>({remaining, left, level.Users}));
    TUserFill fill{order.OrderID, order.Buy, lotsFilled, price, order.Filled + lotsFilled,
                   order.TargetLots};
    const bool done = lotsFilled == remaining;
    if (done) {
      AdjustAnOrder(book, fill.OrderID, lotsFilled, false, true);
    } else {
      order.Filled = fill.Filled;
      AdjustAnOrder(book, fill.OrderID, lotsFilled, false, false);
      ++i;
    }
    left -= lotsFilled;
    if (services_.OrderFilled) services_.OrderFilled(book, fill);
  }
  if (left > 0 && level.Users > 0) {
    const auto stale = static_cast<std::int32_t>(std::min<std::int64_t>(level.Users, left));
    level.Users -= stale;
    left -= stale;
    WriteTraceLine("Dropped " + IntToStr(stale) + " users' lots at " + FloatToStr(level.Price) +
                   " of " + book.Description() + " that no order accounts for");
  }
  return lots - left;
}

TTradeRange TMarket::FillMarketOrder(TContractOrderList& book, const TUserOrder& order) {
  TTradeRange range;
  // The resting side: the offers for a buy (best first), the bids for a sell (best last).
  auto& levels = (order.Buy ? book.Offers : book.Bids).Levels();
  TUserOrder filling = order;
  while (filling.Remaining() > 0 && !levels.empty()) {
    const auto level = order.Buy ? levels.begin() : std::prev(levels.end());
    const std::int32_t lots = std::min(level->second.LevelTotal(), filling.Remaining());
    if (lots <= 0) {
      levels.erase(level);
      continue;
    }
    const double price = level->second.Price;
    const std::int32_t taken = RemoveFromDOM(book, level->second, lots, price, !order.Buy);
    if (taken > 0) {
      filling.Filled += taken;
      if (services_.OrderFilled)
        services_.OrderFilled(
            book, {filling.OrderID, filling.Buy, taken, price, filling.Filled, filling.TargetLots});
      UpdateLastTrade(book, taken, price);
      Widen(range, {1, price, price});
    }
    // A level that gave less than it showed is done for this order as well.
    if (taken < lots || level->second.LevelTotal() <= 0) levels.erase(level);
  }
  if (filling.Remaining() > 0 && services_.RemainderEnded) services_.RemainderEnded(book, filling);
  return range;
}

TTradeRange TMarket::CheckMarket(TContractOrderList& book, const TUserOrder& order) {
  AddTraceEntry(tlStart, kCheckMarket, order.OrderID);
  if (DebugFlagOn(kDebugging)) WriteTraceLine("\rCheckMarket: " + order.OrderID);
  const TTradeRange range = FillMarketOrder(book, order);
  CheckPrices(book);
  if (range.Trades > 0) CheckStops(book, range.High, range.Low);
  AddTraceEntry(tlExit, kCheckMarket, order.OrderID);
  return range;
}

bool TMarket::AddAStop(TContractOrderList& book, const TUserOrder& stop) {
  if (FindOrder(book.Stops, stop.OrderID) != book.Stops.end()) return false;
  book.Stops.insert(book.Stops.begin(), stop);
  return true;
}

bool TMarket::RemoveAStop(TContractOrderList& book, std::string_view orderId) {
  const auto stop = FindOrder(book.Stops, orderId);
  if (stop == book.Stops.end()) return false;
  book.Stops.erase(stop);
  return true;
}

void TMarket::CheckStops(TContractOrderList& book, double high, double low) {
  TTradeRange range{1, high, low};
  while (range.Trades > 0 && !book.Stops.empty()) {
    // Over a copy, oldest first: the services and the fills below may change the list.
    const std::vector<TUserOrder> stops(book.Stops.rbegin(), book.Stops.rend());
    if (services_.TrailStop)
      for (const TUserOrder& stop : stops)
        if (stop.Trailing) services_.TrailStop(book, stop);
    std::vector<TUserOrder> triggered;
    for (const TUserOrder& stop : stops) {
      const auto held = FindOrder(book.Stops, stop.OrderID);
      if (held == book.Stops.end()) continue;
      const bool hit =
          held->Buy ? AtOrBelow(held->Price, range.High) : AtOrBelow(range.Low, held->Price);
      if (!hit) continue;
      triggered.push_back(*held);
      book.Stops.erase(held);
    }
    TTradeRange next;
    for (const TUserOrder& stop : triggered) Widen(next, FillMarketOrder(book, stop));
    if (!triggered.empty()) CheckPrices(book);
    range = next;
  }
}

}  // namespace vorn::sim
