#pragma once
// The order record of the exported interface: one version of an order copied into the caller's
// OrderDetailStruct, shared by the order queries and every later export that hands an order out,
// and the look-ups of the order queries.
//
// The link threads add versions, re-key histories and take them out of the order list while
// application threads query it, so each look-up holds the order list's lock, then the history's,
// across its whole check and copy: an index checked is the index used.

#include <cstdint>
#include <string>

#include "core/store/IndexList.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderQ.h"
#include "vornintf.h"

namespace vorn {

class TExchangeQ;

// The status byte of the record: the order states renumbered, the states the interface does not
// report as 0.
std::uint8_t OrderStatusCode(TOrderStatus status);

// Writes the version of the history into the record, every field but the index at offset 0.
// Text fields get the text (at most width - 1 bytes) and a NUL; the bytes after the NUL are left
// as they were. The side byte is not written for an Illegal side. Call with the order list's lock
// held, then the history's, under which the version was picked.
void WriteOrderDetail(const TOrderList& history, const TOrderItem& version,
                      OrderDetailStruct& record);

// The current version of the history at the index, its index in the record: 10 for an empty
// list; 8 outside it, with the record zeroed and its index -1.
std::int32_t CopyOrderAt(const TOrderQ& orders, std::int32_t index, OrderDetailStruct& record);
// Version `version` of the order with the ID, counted from the oldest (1 the first; 0, below 0
// or beyond the count: the newest), the history's index in the record: 10 for an empty list; 25
// for an unknown order, with the record zeroed and its index -1.
std::int32_t CopyOrderByID(const TOrderQ& orders, const std::string& id, std::int32_t version,
                           OrderDetailStruct& record);
// The version at historyIndex (0 the newest) of the history at the index; the record's index is
// not written. 10 for an empty list; 8 outside either, with the record zeroed and its index -1.
std::int32_t CopyOrderHistoryAt(const TOrderQ& orders, std::int32_t index,
                                std::int32_t historyIndex, OrderDetailStruct& record);
// The number of versions of the history at the index: 10 for an empty list, 8 outside it.
std::int32_t CountOrderHistory(const TOrderQ& orders, std::int32_t index, std::int32_t& count);
// The index of the order with the ID (-1 when not listed): 10 for an empty list.
std::int32_t FindOrderIndex(const TOrderQ& orders, const std::string& id, std::int32_t& index);

// Runs body on the current version of the order with the ID, under the order list's lock and
// then the history's: 10 for an empty list, 25 for an unknown order, else what body returns.
template <class Body>
std::int32_t WithCurrentOrder(TOrderQ& orders, const std::string& id, Body body) {
  TIndexListLock guard(orders);
  if (orders.Count() == 0) return VN_RC_NO_DATA;
  const auto history = orders.FindOrderList(id);
  if (!history) return VN_RC_INVALID_ORDER_ID;
  TIndexListLock historyGuard(*history);
  const auto current = history->GetCurrent();
  if (!current) return VN_RC_INVALID_ORDER_ID;
  return body(*current);
}

// The exchange of the order's contract's commodity allows status queries. Order list's lock
// held (the exchange list's comes after it).
bool StatusQueryEnabled(const TExchangeQ& exchanges, const TOrderItem& order);

}  // namespace vorn
