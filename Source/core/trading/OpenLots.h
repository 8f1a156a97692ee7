#pragma once
// The open lots of the orders' current states, kept per trader account and contract so that a
// margin calculation reads them instead of walking the order list.
//
// Each history in the order list records the share its head last added (TOpenLotShare); the
// order list (TOrderQ) replaces it whenever the head may have changed, so the index always holds
// the sum of the recorded shares. The sums are integers: a figure read from the index is the
// figure a pass over the heads gives, to the bit.
//
// Locking: the index and the shares belong to the order list and are read and changed only under
// its lock.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/trading/OrderItem.h"

namespace vorn {

class TContractItem;
class TTraderAccountItem;

// The states whose open lots hold margin. A queued order has not reached the host yet.
bool IsMarginOpenState(TOrderStatus status);

// Open lots (target less filled) by side; a side other than Buy counts as a sell.
struct TOpenLots {
  std::int64_t Buy = 0;
  std::int64_t Sell = 0;

  void Add(const TOrderItem& order) {
    const std::int64_t open = static_cast<std::int64_t>(order.TargetLots) - order.Filled;
    (order.BuySell == vorn::Buy ? Buy : Sell) += open;
  }
  TOpenLots& operator+=(const TOpenLots& other) {
    Buy += other.Buy;
    Sell += other.Sell;
    return *this;
  }
  TOpenLots& operator-=(const TOpenLots& other) {
    Buy -= other.Buy;
    Sell -= other.Sell;
    return *this;
  }
  bool operator==(const TOpenLots&) const = default;
};

// Open lots by contract name key.
using TOpenLotsByKey = std::unordered_map<std::string, TOpenLots>;

// What one head adds to the index: nothing without an account and a contract, else its open lots
// in the margin states or, apart, queued.
struct TOpenLotShare {
  std::shared_ptr<TTraderAccountItem> Account;  // null: the head adds nothing
  std::shared_ptr<TContractItem> Contract;
  TOpenLots Lots;
  bool Queued = false;

  static TOpenLotShare Of(const TOrderItem* head);
  bool Counts() const { return Account != nullptr; }
  bool operator==(const TOpenLotShare&) const = default;
};

class TOpenLotIndex {
 public:
  // Takes the recorded share out, puts `now` in, and records it.
  void Replace(TOpenLotShare& recorded, TOpenLotShare now);
  void Clear() { accounts_.clear(); }
  bool Empty() const { return accounts_.empty(); }
  // The same buckets with the same lots and share counts.
  bool operator==(const TOpenLotIndex& other) const;

  // The lots of the account and of every account of the same name, folded by contract name key
  // (the key read now): in the margin states into `margin`, queued into `queued` (when given).
  void Gather(const TTraderAccountItem& account, TOpenLotsByKey& margin,
              TOpenLotsByKey* queued) const;

 private:
  struct TBucket {
    std::shared_ptr<TContractItem> Contract;
    TOpenLots Margin;
    TOpenLots Queued;
    std::int64_t Shares = 0;
  };
  struct TAccountBuckets {
    std::shared_ptr<TTraderAccountItem> Account;
    std::unordered_map<const TContractItem*, TBucket> ByContract;
  };
  void Apply(const TOpenLotShare& share, int sign);

  // By account and contract instance, as the shares name them; a bucket goes with its last share.
  std::unordered_map<const TTraderAccountItem*, TAccountBuckets> accounts_;
};

}  // namespace vorn
