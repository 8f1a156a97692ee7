#pragma once
// The margin a trader account needs with one more order: the figure the order requests carry.

#include "core/trading/OrderItem.h"

namespace vorn {

class TClassAPI;

// The margin of the order's trader account with this order (0.0 without an account). Without
// the market-data-required flag: the margin of the account's live orders plus that of its
// positions. With it: the rating-based margin over all the account's contracts, plus what the
// order's target lots (bought for a buy, sold for any other side) add on its contract at the
// price, an option contract margined as one. EZeroDivide, from the rating-based margin, when an
// option premium's currency has no exchange rate.
double CalcOrderMargin(TClassAPI& api, const TOrderItem& order, double price);

}  // namespace vorn
