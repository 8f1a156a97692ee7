#pragma once
// vnReParent and vnDoneForDay: amends built from an order's current version (AmendRecordOf), with
// a new parent order or the done-for-day flag switched, made for the logged-on user through
// DoAmendOrder. Callable without the export shell.
//
// Both return the amend's result, except that a parked amend (47), which the order list sends
// once the order's next state arrives, counts as done (0).

#include <cstdint>
#include <string_view>

namespace vorn {

class TClassAPI;

// Moves the order under another parent: not ready (4), unknown order (25); an order without a
// parent is left as it is (0). The new parent "-1" is made first: an aggregate order for a
// customer request (type 26), a customer request for any other type but an aggregate (25). A
// customer request may move under an aggregate order; any other move needs an order that is
// neither, under a customer request of the same contract and trader account. An unknown new
// parent, one that could not be made, or a move not allowed gives 45.
std::int32_t ReParent(TClassAPI& api, std::string_view id, std::string_view newParentID);

// Switches an aggregate order's done-for-day flag ('Y' to 'N', anything else to 'Y'): not ready
// (4), unknown order (25), not an aggregate order (46).
std::int32_t DoneForDay(TClassAPI& api, std::string_view id);

}  // namespace vorn
