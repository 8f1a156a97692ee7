#pragma once
// TContractOrderList: the simulated book of one contract: its price limits, start price, lot
// range, band, the side added last and the two sides of its depth (TDOMList).
//
// Threads: the facts set at construction are read from any thread. The sides and the side added
// last are guarded by the book's lock (Lock()), which the market holds for any work on the book
// (Market.h gives its place in the lock order). The lot range start is laid out by the market
// under its list lock and read as an atomic.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "sim/DOMList.h"

namespace vorn {
class TContractItem;
}

namespace vorn::sim {

class TContractOrderList {
 public:
  // tickSize above 0, ticksPerPoint at least 1 and finite limits with lower <= upper: the
  // market checks them before it makes a book.
  TContractOrderList(std::shared_ptr<TContractItem> contract, std::string key, double upper,
                     double lower, std::int32_t lotLimit, double tickSize,
                     std::int32_t ticksPerPoint);
  TContractOrderList(const TContractOrderList&) = delete;
  TContractOrderList& operator=(const TContractOrderList&) = delete;

  const std::shared_ptr<TContractItem>& Contract() const { return contract_; }
  // The simulated contract list's key (exchange 0x01 commodity 0x01 contract date).
  const std::string& Key() const { return key_; }
  // The contract's description, for trace lines.
  const std::string& Description() const { return description_; }

  double UpperLimit() const { return upper_; }
  double LowerLimit() const { return lower_; }
  // The lower limit stepped up by half the band in ticks, rounded to 7 decimals.
  double StartPrice() const { return startPrice_; }
  // Whole ticks between the limits.
  std::int32_t BandTicks() const { return bandTicks_; }
  double TickSize() const { return tickSize_; }
  std::int32_t TicksPerPoint() const { return ticksPerPoint_; }

  // The lot range: its length is the contract's lot limit; its start is the running total of
  // the lot limits of the books before it in the list.
  std::int32_t LotLimit() const { return lotLimit_; }
  std::int32_t LotRangeStart() const { return lotRangeStart_.load(std::memory_order_relaxed); }
  std::int32_t LotRangeEnd() const { return LotRangeStart() + lotLimit_; }
  void SetLotRangeStart(std::int32_t start) {
    lotRangeStart_.store(start, std::memory_order_relaxed);
  }

  std::recursive_mutex& Lock() { return lock_; }

  // Under Lock().
  TDOMList Bids;
  TDOMList Offers;
  // The side that volume was added to last: true for the bid side.
  bool LastSideBid = false;

 private:
  const std::shared_ptr<TContractItem> contract_;
  const std::string key_;
  const std::string description_;
  const double upper_;
  const double lower_;
  const double tickSize_;
  const std::int32_t ticksPerPoint_;
  const std::int32_t bandTicks_;
  const double startPrice_;
  const std::int32_t lotLimit_;
  std::atomic<std::int32_t> lotRangeStart_{0};
  std::recursive_mutex lock_;
};

}  // namespace vorn::sim
