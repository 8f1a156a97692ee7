#pragma once
// The order of keyed-list keys.
//
// Three levels. First, case-insensitively, byte by byte over the classes
// control < space < punctuation < digits < letters < bytes >= 0x80 (within a class by byte
// value), a shorter key first when it is a prefix of the other. Then, at the first position
// where the keys differ only in case, lower case first. Last, bytewise. Two keys compare equal
// only when their bytes are equal, so keys joined by control-byte separators never collide.

#include <string_view>

namespace vorn {

// Negative, zero or positive as a orders before, with or after b.
int CompareKeys(std::string_view a, std::string_view b);

}  // namespace vorn
