#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace vorn {
namespace {

Dl_info OwnModuleInfo() {
  Dl_info info{};
  ::dladdr(reinterpret_cast<const void*>(&OwnModuleInfo), &info);
  return info;
}

}  // namespace

std::string LibraryFileName() {
  const Dl_info info = OwnModuleInfo();
  if (!info.dli_fname) return {};
  std::string name = info.dli_fname;
  // A program's own image may be named relative to its start folder; make it absolute.
  char resolved[PATH_MAX];
  if (::realpath(name.c_str(), resolved)) name = resolved;
  return name;
}

std::uintptr_t LibraryBaseAddress() {
  return reinterpret_cast<std::uintptr_t>(OwnModuleInfo().dli_fbase);
}

std::string HostProgramFileName() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace vorn
