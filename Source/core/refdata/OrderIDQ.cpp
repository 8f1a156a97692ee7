#include "core/refdata/OrderIDQ.h"

#include <memory>

namespace vorn {

const TStreamClass& TPreAllocatedOrderID::Class() {
  static const TStreamClass& description = MakeStreamClass<TPreAllocatedOrderID>(
      "TPreAllocatedOrderID", &TStreamable::Class(),
      TPropertyTable<TPreAllocatedOrderID>().String("OrderID", &TPreAllocatedOrderID::OrderID));
  return description;
}

TOrderIDQ::TOrderIDQ()
    : TIndexListOf<TPreAllocatedOrderID>("OrderIDs", &TPreAllocatedOrderID::Class()) {
  SetOwnsObjects(true);
}

void TOrderIDQ::AddOrderID(std::string orderID) {
  Add(std::make_shared<TPreAllocatedOrderID>(std::move(orderID)));
}

bool TOrderIDQ::TakeFirst(std::string& orderID) {
  TIndexListLock guard(*this);
  if (Count() == 0) return false;
  orderID = At(0)->OrderID;
  Delete(0);
  return true;
}

}  // namespace vorn
