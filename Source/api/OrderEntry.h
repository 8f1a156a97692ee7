#pragma once
// Order entry: the bodies behind vnAddOrder and its variants, callable without the export
// shell (the simulator and the synthetic-order manager enter orders through DoAddOrder).
//
// Each body checks in a fixed order and returns the first failing check's result code; an
// EListError gives 8, any other exception 99 (recorded as the last error). A failed check after
// the order ID was taken leaves the ID used. The order list's lock is held for every look-up
// and change of the list and its items; the add-order request is sent and the order event
// posted after it is released.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vornintf.h"

namespace vorn {

class TClassAPI;
class TOrderItem;

// The link checks every entry makes: the host link (35) and, when the logon asked for it, the
// price link (36).
std::int32_t CheckLinks(const TClassAPI& api);

// An order ID an entry took: the pool hears when the entry is over, listed or not, so that a
// local ID waiting for a host ID is never dropped while its order is still being entered. Keep
// it for the whole entry; call with no lock held (its end is the pool's EntryFinished).
class TEntryID {
 public:
  explicit TEntryID(TClassAPI& api) : api_(api) {}
  TEntryID(const TEntryID&) = delete;
  TEntryID& operator=(const TEntryID&) = delete;
  ~TEntryID();

  // A new order ID; empty when the pool has none.
  const std::string& Take();
  // Ready (1, 4), a new order ID (40 without one), then the links.
  std::int32_t Open();
  const std::string& ID() const { return id_; }

 private:
  TClassAPI& api_;
  std::string id_;
};

// Adds a built order to the order list, taking the list's guard (callers that list more than
// one order hold it around them all). When the list keeps the order: its option margin is
// booked (bookMargin), and a held order takes its order sequence, its held-contract count and
// one price subscriber for its contract, before any trigger test can release it. Returns
// whether the list kept the order; a refused order changes nothing else.
bool ListNewOrder(TClassAPI& api, const std::shared_ptr<TOrderItem>& order, bool held,
                  bool bookMargin);

// Copies an order ID into the caller's 11-byte buffer: at most 10 characters and a NUL. A null
// buffer receives nothing.
void CopyOrderID(std::string_view id, char* out);

// Enters one order for the user; on success id is the new order's ID (a host ID, a local "N"
// ID waiting for one, or an "S" ID for a held synthetic order).
std::int32_t DoAddOrder(TClassAPI& api, const NewOrderStruct& order,
                        const ProtectionStruct& protection, std::string& id,
                        std::string_view userName);
// DoAddOrder with an all-zero protection record.
std::int32_t AddOrderWithoutProtection(TClassAPI& api, const NewOrderStruct& order, std::string& id,
                                       std::string_view userName);

// The checks of a batch order, without taking an ID, the parent or the protection check.
std::int32_t VerifyOrder(TClassAPI& api, const NewOrderStruct& order);
// Verifies every order, then enters them one by one for the logged-on user. Every order after
// the first gets the first order's ID as its batch ID, written into its record. ids, when not
// null, holds count 11-byte slots for the new IDs.
std::int32_t AddBatchOrder(TClassAPI& api, std::int32_t count, NewOrderStruct* orders,
                           char (*ids)[11]);

// An aggregate order (order type "AggOrder", made when the exchange has none).
std::int32_t AddAggregateOrder(TClassAPI& api, const AggregateOrderStruct& record, std::string& id);
// A customer request (order type "CustReq", made when the exchange has none) under an
// optional aggregate parent order of the same exchange, contract and trader account (45).
std::int32_t AddCustRequest(TClassAPI& api, const CustReqStruct& record, std::string& id);

}  // namespace vorn
