#include "platform/MemoryStatus.h"

#include <sys/mman.h>
#include <sys/sysinfo.h>

#include <cstring>

#include "platform/AddressSanitizer.h"

#if defined(VORN_ADDRESS_SANITIZER)
#include <sanitizer/lsan_interface.h>
#endif

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

// A mapping of its own, trimmed to the alignment, so that huge pages can back it whole. Leak
// checkers are told to look inside it for the pointers it keeps.
void* AllocateLargeBlock(std::size_t size) {
  const std::size_t span = size + kLargeBlockSize;
  void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kLargeBlockSize - 1) & ~(kLargeBlockSize - 1);
  if (aligned > start) ::munmap(mapped, aligned - start);
  if (const std::uintptr_t end = start + span; end > aligned + size)
    ::munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);  // advice only: small pages serve as well
#endif
  std::memset(block, 0, size);
#if defined(VORN_ADDRESS_SANITIZER)
  __lsan_register_root_region(block, size);
#endif
  return block;
}

void FreeLargeBlock(void* block, std::size_t size) {
  if (!block) return;
#if defined(VORN_ADDRESS_SANITIZER)
  __lsan_unregister_root_region(block, size);
#endif
  ::munmap(block, size);
}

}  // namespace vorn
