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
#include <vector>

#include "sim/ContractList.h"
#include "sim/RandomSource.h"

namespace vorn {
class TContractItem;
}

namespace vorn::sim {

class TContractOrderList;

// The trades of one match: how many, and the highest and lowest price traded.
struct TTradeRange {
  std::int32_t Trades = 0;
  double High = 0;
  double Low = 0;
};

// What the market asks of the API object around it.
struct TMarketServices {
  // A new last trade was written on the contract: the held synthetic orders that it triggers
  // are released (TOrderQ::CheckSyntheticOrders). Called with the contract's book lock held and
  // no other. Null: nothing is checked.
  std::function<void(const TContractItem& contract)> CheckSyntheticOrders;
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
  // frees emptied levels and writes each trade (UpdateLastTrade).
  TTradeRange CheckOrders(TContractOrderList& book);
  // Writes the best prices (kinds 0 and 1) and 20 levels of depth a side (30-49, 50-69) where
  // they changed, the depth past the last level as (0, 0); posts the price event when the
  // change mask moved and the contract has price subscribers.
  void CheckPrices(TContractOrderList& book);
  // Writes the last trade (kind 5), the traded volume (25), the high (26) and low (27); posts
  // the price event when the contract has price subscribers; then checks the held synthetic
  // orders.
  void UpdateLastTrade(TContractOrderList& book, std::int32_t lots, double price);

  TRandomSource& Random() { return random_; }
  const TMarketServices& Services() const { return services_; }

 private:
  // Consecutive lot ranges over the books in list order; with the list lock held.
  void LayOutLotRangesLocked();

  TRandomSource& random_;
  const TMarketServices services_;
  mutable std::mutex listLock_;
  TContractList books_;
};

}  // namespace vorn::sim
