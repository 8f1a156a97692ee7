#include "core/diag/ClientPath.h"

#include <mutex>

#include "platform/Files.h"
#include "platform/Module.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// The unload handling writes logs after static objects of the process are gone.
struct TStoredPath {
  std::mutex mutex;
  std::string path;
};

TProcessWide<TStoredPath> stored;
TStoredPath& Stored() {
  return stored.Get();
}

std::mutex& PathMutex() {
  return Stored().mutex;
}
std::string& StoredPath() {
  return Stored().path;
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
