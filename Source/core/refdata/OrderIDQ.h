#pragma once
// The order-id lists of the order-id pool: the ids the host pre-allocated, and the local ids of
// the orders waiting for one.

#include <string>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

class TPreAllocatedOrderID : public TStreamable {
 public:
  TPreAllocatedOrderID() = default;
  explicit TPreAllocatedOrderID(std::string orderID) : OrderID(std::move(orderID)) {}

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  std::string OrderID;
};

// "OrderIDs": append order. The key (OrderID) serves look-ups and removal by id only.
class TOrderIDQ : public TIndexListOf<TPreAllocatedOrderID> {
 public:
  TOrderIDQ();

  void AddOrderID(std::string orderID);
  // Removes the first id and hands it out; false when the list is empty.
  bool TakeFirst(std::string& orderID);

 protected:
  void KeyOf(const TPreAllocatedOrderID& item, std::string& key) const override {
    key = item.OrderID;
  }
};

}  // namespace vorn
