#pragma once
// The order record of the exported interface: one version of an order copied into the caller's
// OrderDetailStruct, shared by the order queries and every later export that hands an order out.

#include <cstdint>

#include "core/trading/OrderItem.h"
#include "vornintf.h"

namespace vorn {

// The status byte of the record: the order states renumbered, the states the interface does not
// report as 0.
std::uint8_t OrderStatusCode(TOrderStatus status);

// Writes the version of the history into the record, every field but the index at offset 0.
// Text fields get the text (at most width - 1 bytes) and a NUL; the bytes after the NUL are left
// as they were. The side byte is not written for an Illegal side. Call with the order list's lock
// held, then the history's, under which the version was picked.
void WriteOrderDetail(const TOrderList& history, const TOrderItem& version,
                      OrderDetailStruct& record);

}  // namespace vorn
