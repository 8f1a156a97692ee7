#include "core/ClientPath.h"

#include <mutex>

#include "platform/Files.h"
#include "platform/Module.h"

namespace vorn {
namespace {

std::mutex& PathMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& StoredPath() {
  static std::string path;
  return path;
}

}  // namespace

void SetClientPath(std::string path) {
  std::lock_guard lock(PathMutex());
  StoredPath() = std::move(path);
}

std::string GetClientPath() {
  {
    std::lock_guard lock(PathMutex());
    if (!StoredPath().empty()) return StoredPath();
  }
  return ExtractFilePath(HostProgramFileName());
}

std::string ClientPathSetting() {
  std::lock_guard lock(PathMutex());
  return StoredPath();
}

}  // namespace vorn
