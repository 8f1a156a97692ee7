#include "platform/MemoryStatus.h"

#include <sys/mman.h>
#include <sys/sysinfo.h>

#include <cstdlib>
#include <cstring>

namespace vorn {

TMemoryStatus GetMemoryStatus() {
  TMemoryStatus status;
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return status;
  const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
  status.totalPhysical = static_cast<std::uint64_t>(info.totalram) * unit;
  status.availablePhysical = (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * unit;
  if (status.totalPhysical > 0 && status.availablePhysical <= status.totalPhysical)
    status.memoryLoad =
        static_cast<std::uint32_t>(100 - status.availablePhysical * 100 / status.totalPhysical);
  return status;
}

// From the heap rather than a mapping of its own, so that leak checkers see the pointers kept
// inside the block.
void* AllocateLargeBlock(std::size_t size) {
  void* block = std::aligned_alloc(kLargeBlockSize, size);
  if (!block) return nullptr;
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);  // advice only: small pages serve as well
#endif
  std::memset(block, 0, size);
  return block;
}

void FreeLargeBlock(void* block) {
  std::free(block);
}

}  // namespace vorn
