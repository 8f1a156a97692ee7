#include "core/util/ErrorCodes.h"

#include <cstdint>
#include <iterator>

namespace vorn {
namespace {

constexpr const char* kErrorCodes[] = {
    "Success",
    "vnInitialise not called yet",
    "Required callback addresses not set",
    "Unknown callback ID",
    "User has not successfully logged on",
    "Old password incorrect",
    "Password may not be blank",
    "User/Account not enabled for this action",
    "Index provided to vnGet<xxx> is invalid",
    "Trader account not found",
    "Could not find any data to return",
    "Generic value not set/known error",
    "Unused Error Code 12",
    "Mismatch between application and API",
    "Message Type not vnAlert or vnNormal",
    "Msg ID sequence no. not found",
    "Not enough room to write report",
    "New password was not recognisable text",
    "Not connected to host or price feed",
    "Currency not recognised",
    "No matching report for report type",
    "Order type not known by API",
    "Contract Exchange/Name/Date unknown",
    "Commodity Exchange/Name unknown",
    "Required price not entered for new order",
    "Specified order ID not valid",
    "Order is not in valid state for action",
    "Supplied price string is not valid",
    "Price not required - Obsolete",
    "Volume (Lots) is not valid",
    "Amend not enabled for exchange (Use Cancel/Add)",
    "ORPI query not enabled for exchange",
    "Unknown exchange name",
    "No valid fill for fill ID",
    "Trader Account is View Only",
    "Transaction Server is not connected",
    "Market Data Server is not connected",
    "New password was not alphanumeric",
    "Underlying contract does not exist for strategy",
    "User not allowed to trade selected order type",
    "Transaction Server Database is not connected",
    "Different Markets between crossing orders",
    "The crossing orders are of different types",
    "Order message previously received",
    "Invalid Variable Tick Size",
    "Invalid Parent Order ID",
    "Order Type cannot have Done For Day set",
    // clang-format off
    "The order has already been passed to the Core Components.  It will be held in a queue until a valid state is returned",
    // clang-format on
    "The user does not have permission to access this contract information",
    "The contract data cannot be decompressed",
    "The order cannot be amended when the market is frozen",
    "The order has been cancelled due to the exchange closing",
};
static_assert(std::size(kErrorCodes) == 52);

constexpr const char* kUnexpectedError = "Unexpected Error trapped - Routine aborted";
constexpr const char* kUndefinedError = "Undefined Error Number";

}  // namespace

const char* ErrorMessage(std::int32_t code) {
  const auto index = static_cast<std::uint32_t>(code);
  if (index < std::size(kErrorCodes)) return kErrorCodes[index];
  return index == 99 ? kUnexpectedError : kUndefinedError;
}

}  // namespace vorn
