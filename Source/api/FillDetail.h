#pragma once
// The fill record of the exported interface: one fill copied into the caller's FillStruct,
// shared by the fill queries and every later export that hands a fill out, and the look-ups of
// the fill queries.
//
// The fill receivers add fills and update listed ones under the fill list's lock, so each
// look-up holds it across its check and copy: an index checked is the index used, and no field
// is read while it is being written.

#include <cstdint>
#include <string_view>

#include "core/trading/Fill.h"
#include "vornintf.h"

namespace vorn {

// The type byte of the record: fill, external, netted and retained keep their numbers, any
// other type gives 0.
std::uint8_t FillTypeCode(TFillType type);

// Zero-fills the record, then writes the fill into it with the index at offset 0. Every text is
// cut to its field's width less one and ends in a NUL; the contract's names come from the fill's
// contract (empty without one). Call with the fill list's lock held: a listed fill changes only
// under it.
void WriteFillDetail(const TFill& fill, std::int32_t index, FillStruct& record);

// The fill at the index: 8 outside the list, with the record zeroed and its index -1.
std::int32_t CopyFillAt(const TFillQ& fills, std::int32_t index, FillStruct& record);
// The fill with the ID: 8 for an ID not listed, with the record zeroed and its index 0.
std::int32_t CopyFillByID(const TFillQ& fills, std::string_view id, FillStruct& record);

}  // namespace vorn
