#pragma once
// ISyntheticOrders: what the simulated host asks of the manager of its synthetic orders
// (icebergs, ghosts and protection brackets), which works them through child orders of its own.
// Until one is installed the simulated host leaves synthetic orders where they are and ignores
// the children's notifications (with a trace line).
//
// Threads: called on the simulation thread with the order list's lock held. Dispatch, Manages
// and ProtectionLevel come with no market lock; ChildUpdate and ChildCancelled also come from a
// fill or a remainder's end (OnOrderFilled, OnRemainderEnded) with that book's lock held, which
// comes before the order list's. An implementation may take the order list's (re-entrant) lock
// and history locks, and must not take a market lock: it works on orders only, and a child's
// entry into or exit from a book is left to the status pass.

#include <memory>
#include <string_view>

namespace vorn {
class TOrderItem;
class TOrderList;
}  // namespace vorn

namespace vorn::sim {

class ISyntheticOrders {
 public:
  virtual ~ISyntheticOrders() = default;

  // One status pass step of a synthetic order (its history's head is of a synthetic kind).
  virtual void Dispatch(const std::shared_ptr<TOrderList>& history) = 0;
  // Whether the parent id names a synthetic order this manager works: children of other
  // parents are ordinary orders and their notifications go nowhere.
  virtual bool Manages(std::string_view parentId) const = 0;
  // A child's new state was added (a step, a fill or the end of its remainder).
  virtual void ChildUpdate(std::string_view parentId, const TOrderItem& child) = 0;
  // A child's amendment completed with a changed price or lots.
  virtual void ChildAmended(std::string_view parentId, const TOrderItem& child) = 0;
  virtual void ChildCancelled(std::string_view parentId, const TOrderItem& child) = 0;
  // The bracket's protection level of a child ('1', '2' or '3'), or 0 when not one of its
  // protection children.
  virtual char ProtectionLevel(std::string_view parentId, const TOrderItem& child) const = 0;
};

}  // namespace vorn::sim
