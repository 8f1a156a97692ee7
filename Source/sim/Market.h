#pragma once
// TMarket: the simulated market, one book (TContractOrderList) per simulated contract, kept in
// the simulated contract list (TContractList) in its key order. The simulation object drives it:
// it makes a book for each contract it adds, seeds the market after a start, runs one market step
// a second from its timer, and resets it before a new start.
//
// Locking. The market's locks come first in the lock order, before the order list:
// - the list lock guards only which books exist; it is held to add, find, snapshot or drop
//   books, never while a book is worked on;
// - each book's lock (TContractOrderList::Lock) is held for the work on that one book: a step
//   of one contract, its seeding. Under it the market writes the contract's prices (its price
//   lock), posts price events and checks the held synthetic orders (the order list's lock).
// So no pass holds anything for the whole market, and a thread that needs one book waits at most
// for that book's current step. Nothing may take a market lock while holding the order list's
// lock or any lock after it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ContractList.h"
#include "sim/ContractOrderList.h"
#include "sim/RandomSource.h"

namespace vorn {
class TContractItem;
}

namespace vorn::sim {

// The trades of one match: how many, and the highest and lowest price traded.
struct TTradeRange {
  std::int32_t Trades = 0;
  double High = 0;
  double Low = 0;
};

// A fill the market made for a user's order.
struct TUserFill {
  std::string OrderID;
  bool Buy = true;
  std::int32_t Lots = 0;
  double Price = 0;
  // The order's lots filled in the book with this fill, and its target.
  std::int32_t Filled = 0;
  std::int32_t TargetLots = 0;
};

// What the market asks of the API object around it. Each service is called with the book's
// lock held and no other; it may take the order list's lock (which comes after), and must not
// change the book it is called for nor take another book's lock: work on a book that follows
// from it waits until the market returns. Null: nothing is done.
struct TMarketServices {
  // A new last trade was written on the contract: the held synthetic orders that it triggers
  // are released (TOrderQ::CheckSyntheticOrders).
  std::function<void(const TContractItem& contract)> CheckSyntheticOrders{};
  // A user's order was filled in the book (a fill made and the order's state moved on).
  std::function<void(const TContractOrderList& book, const TUserFill& fill)> OrderFilled{};
  // A user's market order, or a triggered stop, found no more volume: the unfilled lots end
  // (osBalCancelled, also when nothing was filled).
  std::function<void(const TContractOrderList& book, const TUserOrder& order)> RemainderEnded{};
  // A trailing stop is checked: it may be re-priced (an amend that reaches the book later).
  std::function<void(const TContractOrderList& book, const TUserOrder& stop)> TrailStop{};
};

// What an amend of a resting order did to the book.
struct TUserAmend {
  bool Found = false;
  // Lots filled before the amend; the order ends filled, out of the book, when its new target
  // is not above them.
  std::int32_t Filled = 0;
  bool EndsFilled = false;
};

class TMarket {
 public:
  // The random source must outlive the market.
  explicit TMarket(TRandomSource& random, TMarketServices services = {});
  TMarket(const TMarket&) = delete;
  TMarket& operator=(const TMarket&) = delete;
  ~TMarket();

  // Makes the book of a contract that the API's contract list has taken (a listed contract),
  // with its price limits and lot limit, and lays the lot ranges out again over all books.
  // Returns the book; null, making nothing (with a trace line), when the contract is not listed
  // or has a book already, when its commodity has no tick size above 0 or ticks per point of at
  // least 1, or when the limits are not finite, upper is below lower, or a limit is too large
  // to key. Any thread.
  std::shared_ptr<TContractOrderList> AddContract(const std::shared_ptr<TContractItem>& contract,
                                                  double upper, double lower,
                                                  std::int32_t lotLimit);
  // The book of the contract, or null. Any thread.
  std::shared_ptr<TContractOrderList> Find(const TContractItem& contract) const;
  std::size_t Count() const;
  // The books in the list's order, as they are now. Any thread.
  std::vector<std::shared_ptr<TContractOrderList>> Books() const;

  // Seeds every book in list order: a random bid, a run of offer levels above the best bid and
  // of bid levels below it, and one more random order, each followed by the match and the price
  // write. Any thread; takes each book's lock in turn.
  void SeedMarket();
  // One market step over every book in list order: four times in five a random order is added
  // (also when nothing can be pulled), otherwise part of a level is pulled; then crossed levels
  // trade and the prices are written. Takes each book's lock for its contract only.
  void Step();
  // Drops every book (a new start). A step running meanwhile finishes on the books it took.
  void Reset();

  // One contract's part of Step and of SeedMarket, for the simulation object and the tests.
  void StepBook(TContractOrderList& book);
  void SeedBook(TContractOrderList& book);

  // Runs work(book) on the contract's book under the book's lock; false, running nothing, when
  // the contract has no book. The entry of the order-life code for the users' side: call it
  // with no lock of the order list (or after it) held, so collect the book work of a pass under
  // the order list's lock and run it after releasing that.
  template <class Work>
  bool WithBook(const TContractItem& contract, Work&& work) {
    const auto book = Find(contract);
    if (!book) return false;
    std::lock_guard guard(book->Lock());
    work(*book);
    return true;
  }

  // --- One book's operations; the caller holds the book's lock. -----------------------------

  // A random simulated order: on the bid side a number of ticks from -29 to 14 away from the
  // best bid (the best offer when there is no bid), on the offer side from -14 to 29 away from
  // the best offer (or bid); without either, from the reference price (kind 79), else the start
  // price. A price outside the limits is moved inside by up to 29 ticks from the limit it
  // passed. 1 to the lot limit simulated lots.
  void AddAnOrder(TContractOrderList& book, bool bidSide);
  // Adds the lots to the level of the price (made when missing), as simulated or users'
  // volume; that side becomes the side added last. A price without a key adds nothing.
  void AddToDOMLevel(TContractOrderList& book, bool bidSide, std::int32_t lots, bool simulated,
                     double price);
  // Takes a random part of the simulated volume of a random level that has some (each keeps at
  // least one lot); false when no level has simulated volume.
  bool PullAnOrder(TContractOrderList& book);
  // While the best bid is at or above the best offer, trades the smaller total of the two at
  // the resting side's price (the offer's when the bid side was added last, else the bid's),
  // frees emptied levels and writes each trade (UpdateLastTrade); users' orders in the traded
  // levels fill (RemoveFromDOM). Each round takes its lots from both levels, so the loop ends.
  // Then, when anything traded, checks the stops with the high and low of the match.
  TTradeRange CheckOrders(TContractOrderList& book);
  // Writes the best prices (kinds 0 and 1) and 20 levels of depth a side (30-49, 50-69) where
  // they changed, the depth past the last level as (0, 0); posts the price event when the
  // change mask moved and the contract has price subscribers.
  void CheckPrices(TContractOrderList& book);
  // Writes the last trade (kind 5), the traded volume (25), the high (26) and low (27); posts
  // the price event when the contract has price subscribers; then checks the held synthetic
  // orders.
  void UpdateLastTrade(TContractOrderList& book, std::int32_t lots, double price);

  // --- Users' orders; the caller holds the book's lock. ---------------------------------------

  // A Working user's limit order enters the book: its remaining lots become users' volume at
  // its price on its side, then the book trades and the prices are written. False, changing
  // nothing, when an order of that id rests already, when nothing remains of it, or when its
  // price has no level key.
  bool AddUserOrderToDOM(TContractOrderList& book, const TUserOrder& order);
  // Takes lots of the resting order's users' volume out of its level (never below 0), the
  // order's record out of the book with removeOrder; with updateBook drops the level when it
  // holds nothing more and writes the prices. The level is the one the order rests at (the
  // price before any amend). Returns the lots taken out; 0 when the order does not rest here.
  std::int32_t AdjustAnOrder(TContractOrderList& book, std::string_view orderId,
                             std::int32_t lots, bool updateBook, bool removeOrder);
  // An amend of a resting order: out of the book at its old price, back in with its new price
  // and target less what is filled, unless nothing remains, when it ends filled.
  TUserAmend AmendUserOrder(TContractOrderList& book, std::string_view orderId, double price,
                            std::int32_t targetLots);
  // Takes lots from a level of the side (buySide: the bid list) in a trade at price: its
  // simulated volume first, then the users' orders resting there in the order they entered,
  // each filled (OrderFilled) and dropped once it has nothing left; lots left over then come
  // from users' volume no order accounts for (dropped with a trace line). Never takes more than
  // the level holds; returns the lots taken. The level stays, even when emptied.
  std::int32_t RemoveFromDOM(TContractOrderList& book, TDOMPrice& level, std::int32_t lots,
                             double price, bool buySide);
  // A user's Working market order (or a triggered stop) fills its remaining lots against the
  // opposite side, best level first at each level's price; lots that find no volume end
  // (RemainderEnded). Then the prices are written and, when anything traded, the stops checked.
  // Returns the trades.
  TTradeRange CheckMarket(TContractOrderList& book, const TUserOrder& order);

  // --- Stops; the caller holds the book's lock. -----------------------------------------------

  // Puts the stop at the head of the stop list; false when a stop of that id is there already.
  bool AddAStop(TContractOrderList& book, const TUserOrder& stop);
  // Takes the stop of that id out of the list; false when it is not there.
  bool RemoveAStop(TContractOrderList& book, std::string_view orderId);
  // After a match that traded between low and high: trailing stops are re-priced (TrailStop),
  // then every buy stop priced at or below the high and every sell stop at or above the low
  // leaves the list and fills like a market order. The stops that those fills trigger are taken
  // in further rounds, each over a copy of the list; a round takes at least one stop out, so it
  // ends.
  void CheckStops(TContractOrderList& book, double high, double low);

  TRandomSource& Random() { return random_; }
  const TMarketServices& Services() const { return services_; }

 private:
  // Consecutive lot ranges over the books in list order; with the list lock held.
  void LayOutLotRangesLocked();
  // CheckMarket's fills, without the price write or the stop check.
  TTradeRange FillMarketOrder(TContractOrderList& book, const TUserOrder& order);

  TRandomSource& random_;
  const TMarketServices services_;
  mutable std::mutex listLock_;
  TContractList books_;
};

}  // namespace vorn::sim
