#pragma once
// Building a new order from the caller's order-entry record (TOrderItem::BuildOrder, defined in
// BuildOrder.cpp): the builder's options and result, the value checks that order entry and
// amends share, the trigger's conversion to and from the stored UTC, and the margin booking
// that follows a build. OrderItem.h includes this header for the builder's declaration.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "vornintf.h"

namespace vorn {

class TOrderItem;  // core/trading/OrderItem.h

// What BuildOrder hands back.
struct TBuildOrderResult {
  std::int32_t Code = VN_RC_SUCCESS;
  // The new order; set only when Code is 0 and the build was not a verification.
  std::shared_ptr<TOrderItem> Order;
};

// What order entry asks of BuildOrder beyond the record.
struct TBuildOrderOptions {
  // After the contract: a non-blank ParentID must name an order of the order list (25).
  bool CheckParent = false;
  // The protection legs; null, or a record whose first byte is NUL, makes no protection order.
  const ProtectionStruct* Protection = nullptr;
  // Runs the checks only (batch verification): no trace line, no order made, no ID taken.
  bool VerifyOnly = false;
  // One order of a wholesale pair: the side is Buy for 'B' and Sell for any other character,
  // the contract's permission is not checked (no 48), no "vnAddOrder" trace line is written and
  // the order is its own batch (BatchID := ID). The caller passes the logged-on user.
  bool WholesalePair = false;
  // The routine an exception inside the build is recorded under.
  std::string_view Routine = "vnAddOrder";
};

// The caller's local trigger ("ddmmyyyy", "hhnnss") as the stored UTC "yyyymmdd" and
// "hhnnss", with the offset in force at the trigger's own date; EConvertError when the texts
// are not a date and time.
void TriggerToUTC(const std::string& date, const std::string& time, std::string& utcDate,
                  std::string& utcTime);
// The stored UTC trigger (no time reads as midnight) as local time. False when there is no
// readable trigger date.
bool TriggerToLocal(std::string_view date, std::string_view time, TDateTime& local);

// The value checks of order entry: a price the order type requires must not be blank (24) and
// must be a number (EConvertError otherwise); fewer than one lot gives 29 except for the
// request-for-quote types, which may have none. pricesRequired is the order type's number of
// prices.
std::int32_t CheckPricesAndLots(std::string_view price, std::string_view price2, std::int32_t lots,
                                std::int32_t orderTypeID, std::int32_t pricesRequired);

// The price-text check of order entry (protection prices): the first character '+', '-', '.'
// or a digit, every further one '.' or a digit, at most one '.'; and the text must convert. A
// valid text gives its value and true; any other text (the empty one, a lone sign or point
// included) gives def and false.
bool CheckPriceText(std::string_view text, double def, double& value);

// After the order list accepted an order built by BuildOrder: in margin mode, for an option
// contract, books the order's margin on its trader account.
void BookOrderMargin(const std::shared_ptr<TOrderItem>& order, bool marginMode);

}  // namespace vorn
