#pragma once
// Host message texts in tests: '|' stands for the 0x01 field separator.

#include <string>
#include <string_view>

#include "core/refdata/ContractItem.h"
#include "core/wire/FieldsList.h"

namespace vorn {

inline std::string Wire(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '|') c = kFieldSeparator;
  return out;
}

// A field list from "name=value|name=value"; '|' ends each item.
inline TFieldsList Fields(std::string_view text) {
  TFieldsList fields;
  fields.SetFields(Wire(text) + kFieldSeparator);
  return fields;
}

// A packed field is read by value: a reference to it would be misaligned.
inline double ValueOf(const PriceEntry& entry) {
  return entry.Value;
}
inline std::int32_t VolumeOf(const PriceEntry& entry) {
  return entry.Volume;
}

}  // namespace vorn
