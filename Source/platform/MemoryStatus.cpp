#include "platform/MemoryStatus.h"

#include <sys/sysinfo.h>

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

}  // namespace vorn
