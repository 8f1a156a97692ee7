#pragma once
// The pool of order ids that the host allocates in advance, the local ids ("N1", "N2", ...)
// that stand in while it is empty, the synthetic ids ("S1", ...) of held orders, and the
// reference-data resume sequence.
//
// Locking: the pool's lock is the order-id lock. CheckQueuedMHUBOrders takes the order list's
// lock first, then the order-id lock; nothing is sent or posted while either is held: requests
// and events are collected under the locks and go out, in order, after they are released.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/trading/OrderItem.h"

namespace vorn {

// The host link, the order list and the event queue as the pool uses them.
class IOrderIDPoolHost {
 public:
  virtual ~IOrderIDPoolHost() = default;
  // The order-id request (3341).
  virtual void SendOrderIDsRequest() = 0;
  // The add-order request (3301) built from an order that has just got its host id.
  virtual void SendOrder(const TOrderItem& order) = 0;
  // Gives a listed history its host id, under the order list's lock (held by the caller);
  // false when another history holds that id. The default re-keys the history alone; the order
  // list's own re-key also moves its watch-list entries.
  virtual bool ReKeyOrder(TIndexList& orders, const std::shared_ptr<TOrderList>& history,
                          std::string_view id);
  // The order event (id 5); the default queues it.
  virtual void PostOrder(std::string_view orderID, std::string_view oldOrderID, TOrderStatus status,
                         std::int32_t ofSeqNumber);
};

class TOrderIDPool {
 public:
  // Pre-allocation status.
  static constexpr std::int32_t kStatusNone = -1;       // set on each connect of the host link
  static constexpr std::int32_t kStatusNoLocalIDs = 1;  // no local ids may be used
  static constexpr std::int32_t kStatusRequested = 2;   // an order-id request is outstanding
  // Fewer ids than this left asks the host for more.
  static constexpr std::size_t kLowWater = 6;

  // The host outlives the pool.
  explicit TOrderIDPool(IOrderIDPoolHost& host) : host_(host) {}
  TOrderIDPool(const TOrderIDPool&) = delete;
  TOrderIDPool& operator=(const TOrderIDPool&) = delete;

  // The first pre-allocated id; else, unless the status is 1, the next local id, which waits
  // for a host id; else the empty text. Asks for more ids once fewer than kLowWater remain.
  // A local id is "being entered" until EntryFinished: a batch of host ids arriving meanwhile
  // keeps it, and the ids entered after it, waiting instead of dropping an id it cannot find
  // in the order list yet.
  std::string GetNewOrderID();
  // The same for a caller that lists the order (or gives up) under the order list's lock, held
  // from before the id is taken: the batch cannot come between, so the id is not marked as
  // being entered and there is no entry to finish.
  std::string GetNewOrderIDUnderListLock();
  // The entry that took the id has listed its order or given up. Call with no lock held: host
  // ids that arrived meanwhile are given to the waiting orders now.
  void EntryFinished(std::string_view id);
  // "S" and the next synthetic number.
  std::string GetNewSyntheticOrderID();
  // The counters are raised to at least the number of an id read back.
  void RaiseLocalOrderCounter(std::int32_t value);
  void RaiseSyntheticOrderCounter(std::int32_t value);

  void AddPreAllocatedOrderID(std::string_view id);
  void SetOrderIDStatus(std::int32_t status);
  std::int32_t OrderIDStatus() const;
  // Empties the pre-allocated list (host connect, host message 3623).
  void ClearNewOrderIDs();
  // Sends one order-id request when fewer than kLowWater ids are left and none is outstanding.
  void CheckPreAllocatedOrderIDs();
  // After the host sent ids: gives the waiting orders their host ids in the order they were
  // entered, re-keys their histories, sends them and posts their events. With status 1 the
  // orders still waiting are rejected. Uses the installed order services for the order list.
  void CheckQueuedMHUBOrders();

  // True for a host order id: digits only, not all zeros.
  static bool IsHostOrderID(std::string_view id);

  // Copies, for queries and tests.
  std::vector<std::string> PreAllocatedIDs() const;
  std::vector<std::string> WaitingIDs() const;
  // A local id whose order was numbered otherwise (the simulator's host) no longer waits for a
  // host id; false when it was not waiting.
  bool DropWaitingID(std::string_view id);

 private:
  // Under lock_: decides whether a request goes out and marks it outstanding.
  bool NeedOrderIDsLocked();
  std::string TakeOrderID(bool entering);
  // Under lock_: the local id is still being entered.
  bool IsEnteringLocked(std::string_view id) const;

  IOrderIDPoolHost& host_;
  mutable std::mutex lock_;  // the order-id lock: guards everything below
  std::deque<std::string> preAllocated_;
  std::deque<std::string> waiting_;
  std::vector<std::string> entering_;  // local ids handed out and not yet listed
  std::int32_t status_ = kStatusNone;
  std::int32_t localCounter_ = 0;
  std::int32_t syntheticCounter_ = 0;
};

// The reference-data resume point sent as "RSq" with the next login. A new point replaces the
// stored one when it is "0", or when it is greater: as numbers when both are all digits, so the
// point never moves backwards, else byte by byte (a longer text that begins with the shorter
// is the greater).
class TRefDataSequence {
 public:
  std::string Get() const;
  void Set(std::string_view value);
  static bool Replaces(std::string_view stored, std::string_view incoming);

 private:
  mutable std::mutex lock_;
  std::string value_ = "0";
};

}  // namespace vorn
