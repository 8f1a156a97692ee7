#pragma once
// Wholesale orders: the bodies behind vnAddCrossingOrder, vnAddBlockOrder, vnAddBasisOrder and
// vnAddAAOrder, callable without the export shell.
//
// Each enters a primary and a secondary order as one pair. In order: ready (1, 4), two new
// order IDs, primary first (40 when either is missing; both are used up whatever follows), the
// links (35, 36), the trace line, for crossing and block orders the same exchange on both
// records (41), then both orders built (99 when either fails, recorded as the last error
// "Error Building Primary Order" or "... Secondary Order"); nothing is listed before both are
// built. Both orders take the pair's batch type; crossing and block secondaries the primary's
// batch ID. The primary is listed, then the secondary only when the list kept the primary; each
// kept order books its margin, and a kept held order its held-contract count and a price
// subscriber. The order events, primary first, are posted before the request leaves; the pair's
// one request (3310) is sent only when both orders were kept, neither is held and both IDs are
// host IDs. An exception (the send included) is recorded under the export's name and gives 99.
//
// The order list's guard is held while the pair is listed and copied; the request is sent and
// the events posted with no lock held. Call with no lock held.

#include <cstdint>
#include <string>
#include <string_view>

#include "vornintf.h"

namespace vorn {

class TClassAPI;

// The IDs of a pair that was entered (result 0), whether the list kept its orders or not.
struct TWholesaleIDs {
  std::string Primary;
  std::string Secondary;
};

// Writes the pair's IDs into the caller's record: each at most 10 characters and a NUL. A null
// record receives nothing.
void CopyOrderIDPair(const TWholesaleIDs& ids, OrderIDPair* out);

// A crossing pair, batch type 42, or 46 (fill and kill) for the flag 'K' or 'k'. legPrices may
// be null (no leg prices).
std::int32_t AddCrossingOrder(TClassAPI& api, const NewOrderStruct& primary,
                              const NewOrderStruct& secondary, const LegPriceStruct* legPrices,
                              char flag, TWholesaleIDs& ids);
// A block pair, batch type 44. legPrices may be null.
std::int32_t AddBlockOrder(TClassAPI& api, const NewOrderStruct& primary,
                           const NewOrderStruct& secondary, const LegPriceStruct* legPrices,
                           TWholesaleIDs& ids);
// A basis pair, batch type 43: both orders take the record's ISIN code, cash price,
// methodology and basis reference, and the request carries them.
std::int32_t AddBasisOrder(TClassAPI& api, const NewOrderStruct& primary,
                           const NewOrderStruct& secondary, const BasisStruct& basis,
                           TWholesaleIDs& ids);
// An against-actual pair, batch type 45: the request names the first user for the primary when
// it buys, else the second user first.
std::int32_t AddAAOrder(TClassAPI& api, const NewOrderStruct& primary,
                        const NewOrderStruct& secondary, std::string_view userName,
                        std::string_view userName2, TWholesaleIDs& ids);

}  // namespace vorn
