#pragma once
// Where our own library and the host program live.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vorn {

// Bytes of the longest path name the system accepts, its NUL included.
inline constexpr std::size_t kPathLimit = PATH_MAX;

// Full file name of the shared library (or program) this code is linked into.
std::string LibraryFileName();
// Load address of that module.
std::uintptr_t LibraryBaseAddress();
// Full file name of the process's main program.
std::string HostProgramFileName();

}  // namespace vorn
