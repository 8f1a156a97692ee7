#pragma once
// The price records of the exported interface and the look-ups of the price queries: a
// contract's price table, found by its place in the contract list or by its names, and one
// generic price.
//
// A contract's table is copied out and its change mask taken in one step under the contract's
// price lock (TContractItem::ReadPrices), so a bit the price feed raises is either in this copy's
// mask or left for the next reader, never lost between the read and the clear.

#include <cstdint>

#include "core/refdata/ContractQ.h"
#include "vornintf.h"

namespace vorn {

// The prices of the contract at the index: 10 for an empty list, 8 with the record zeroed
// outside it. The contract's change mask is cleared.
std::int32_t CopyPricesAt(const TContractQ& contracts, std::int32_t index, PriceStruct& record);
// The prices of the contract of the names: 10 without contracts, 22 with the record zeroed for
// a contract not held. The contract's change mask is cleared.
std::int32_t CopyPricesNamed(const TContractQ& contracts, const char* exchange,
                             const char* commodity, const char* contractDate, PriceStruct& record);
// Generic price type 26 with level 1-4 (generic prices 1-4) or type 27 with level 1-4 (5-8) of
// the contract of the names; any other pair gives a zeroed record with the price text "0.000".
// 10 without contracts, 22 with the record zeroed for a contract not held.
std::int32_t CopyGenericPrice(const TContractQ& contracts, const char* exchange,
                              const char* commodity, const char* contractDate, std::int32_t type,
                              std::int32_t level, GenericPriceStruct& record);

}  // namespace vorn
