#pragma once
// Memory figures in place of the platform's memory status.

#include <cstdint>

namespace vorn {

struct TMemoryStatus {
  std::uint32_t memoryLoad = 0;  // percent of physical memory in use
  std::uint64_t totalPhysical = 0;
  std::uint64_t availablePhysical = 0;
};

TMemoryStatus GetMemoryStatus();

}  // namespace vorn
