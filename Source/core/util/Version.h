#pragma once
// The library's version block, fixed at build time.

namespace vorn {

inline constexpr const char* kProductVersion = "8.1";
inline constexpr const char* kPrivateBuild = "070509";
inline constexpr const char* kInterfaceVersion = "v2.8.3";
inline constexpr const char* kInterfaceVersionFull = "v2.8.3SP6";

}  // namespace vorn
