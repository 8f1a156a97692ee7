#pragma once
// The lists beside the order list that the heartbeat counts down once a tick: the watch lists of
// orders waiting for an answer (pending cancels, Sent, Queued) and the amending list of amend
// and cancel requests parked until their order allows them.
//
// Locking: each list has a lock of its own, a thread list in the lock order (inside the order
// list, a history and the order-id lock). The order road changes a list with the order list's
// lock held; the heartbeat thread ticks it without that lock. No method calls out while holding
// the list's lock, and an order dropped from a watch list is let go after the lock is left.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/trading/OrderItem.h"
#include "core/util/Text.h"
#include "vornintf.h"

namespace vorn {

// ---------------------------------------------------------------------------------------------
// Watch lists

// Orders waiting for an answer, each with its own countdown in heartbeat ticks (the item's
// CancelTimeOut, SentTimeOut or QueuedTimeOut). An entry is a shared reference to the state that
// was the head when it was added, so it stays valid after the order leaves the order list.
//
// The entries stay in a vector in the order they were added, beside an index of their positions
// by ID, so Remove and Contains do not scan. A removed entry leaves a gap (its order let go) that
// the next compaction closes once gaps make up half of the vector.
class TOrderWatchList {
 public:
  using TCountdown = TSharedCount TOrderFields::*;

  explicit TOrderWatchList(TCountdown countdown) : countdown_(countdown) {}

  // Watched under the order's ID as it is now.
  void Add(std::shared_ptr<TOrderItem> order);
  // Drops the first entry with that ID; false when none.
  bool Remove(std::string_view id);
  // The order was re-keyed (TOrderQ::ReKeyOrder).
  void Rename(std::string_view oldID, std::string_view newID);
  bool Contains(std::string_view id) const;
  std::size_t Count() const;
  std::vector<std::shared_ptr<TOrderItem>> Entries() const;
  // One heartbeat tick: from the last entry to the first, takes one off each countdown; an entry
  // whose countdown is then below 1 leaves the list. Returns the IDs that ran out, in walk
  // order, for the caller to post their failure events once the list is released.
  std::vector<std::string> Tick();
  void Clear();

 private:
  // The ID is kept with the entry: the order's own changes only under the order list's lock.
  // A gap has no order.
  struct TEntry {
    std::string ID;
    std::shared_ptr<TOrderItem> Order;
  };
  // Positions in entries_ of the live entries with one ID, ascending.
  using TPositions = std::vector<std::size_t>;

  // Turns the live entry at `at` into a gap and drops its position from the index; returns its
  // order, for the caller to let go after the lock is left.
  std::shared_ptr<TOrderItem> MakeGap(std::size_t at);
  // Closes the gaps once they are half of the vector; re-indexes what is left.
  void CompactIfSparse();

  const TCountdown countdown_;
  mutable std::mutex lock_;
  std::vector<TEntry> entries_;
  std::size_t live_ = 0;
  std::unordered_map<std::string, TPositions, TTextHash, std::equal_to<>> byID_;
};

// ---------------------------------------------------------------------------------------------
// Amending list

inline constexpr std::int32_t kAmendRequestTicks = 5;

// A parked amend or cancel request waits while the order's head is in one of these states
// (queued, sent, cancel pending, amend pending).
bool IsParkingState(TOrderStatus status);

enum class TAmendAction : std::uint8_t { Amend = 1, Cancel = 2 };

// An amend or cancel request parked until the order reaches a state that allows it.
struct TAmendRequest {
  std::string OrderID;  // at most 10 characters
  TAmendAction Action = TAmendAction::Amend;
  AmendOrderStruct Record{};  // set for an amend
  std::string UserName;       // the user the request was made for
  std::int32_t Countdown = kAmendRequestTicks;
};

// At most one parked request per order.
class TAmendingOrdersList {
 public:
  // Drops any request for the same order ID (compared as text), then appends this one.
  void AddRequest(TAmendRequest request);
  // Takes the request for the ID out of the list.
  std::optional<TAmendRequest> Take(std::string_view id);
  bool Contains(std::string_view id) const;
  bool Remove(std::string_view id);
  void Rename(std::string_view oldID, std::string_view newID);
  std::size_t Count() const;
  // One heartbeat tick: takes one off every countdown (last to first); a request whose countdown
  // is then below 1 is dropped and its order ID returned (amend-failure event, id 25).
  std::vector<std::string> Tick();
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<TAmendRequest> requests_;
};

}  // namespace vorn
