#pragma once
// The texts of the result codes.

#include <cstdint>

namespace vorn {

// Codes 0 to 51 and 99 have their own text; any other, "Undefined Error Number".
const char* ErrorMessage(std::int32_t code);

}  // namespace vorn
