#pragma once
// Memory figures in place of the platform's memory status, and large pre-touched blocks.

#include <cstddef>
#include <cstdint>

namespace vorn {

struct TMemoryStatus {
  std::uint32_t memoryLoad = 0;  // percent of physical memory in use
  std::uint64_t totalPhysical = 0;
  std::uint64_t availablePhysical = 0;
};

TMemoryStatus GetMemoryStatus();

// A block of size bytes (a multiple of kLargeBlockSize), aligned to kLargeBlockSize, mapped
// apart from the heap, backed by huge pages where the system grants them and written through
// once, so that using it later takes no page faults. Null when the memory is not there. Free
// with FreeLargeBlock and the same size.
inline constexpr std::size_t kLargeBlockSize = std::size_t{2} << 20;
void* AllocateLargeBlock(std::size_t size);
void FreeLargeBlock(void* block, std::size_t size);

}  // namespace vorn
