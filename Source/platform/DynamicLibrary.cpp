#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace vorn {

TDynamicLibrary::TDynamicLibrary(TDynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

TDynamicLibrary& TDynamicLibrary::operator=(TDynamicLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool TDynamicLibrary::Load(const std::string& path) {
  Unload();
  error_.clear();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* reason = ::dlerror();
    error_ = reason ? reason : "cannot load " + path;
    return false;
  }
  return true;
}

void TDynamicLibrary::Unload() {
  if (handle_) ::dlclose(std::exchange(handle_, nullptr));
}

void* TDynamicLibrary::Symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return ::dlsym(handle_, name);
}

}  // namespace vorn
