#pragma once
// A shared library loaded at run time. Each object holds its own reference: the library stays
// mapped until the last holder in the process lets go, so no other holder's unload can pull an
// entry point away from under this one.

#include <string>

namespace vorn {

class TDynamicLibrary {
 public:
  TDynamicLibrary() = default;
  // Loads the file (see Load).
  explicit TDynamicLibrary(const std::string& path) { Load(path); }
  TDynamicLibrary(TDynamicLibrary&& other) noexcept;
  TDynamicLibrary& operator=(TDynamicLibrary&& other) noexcept;
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;
  ~TDynamicLibrary() { Unload(); }

  // Lets go of a library already held, then loads the file with every symbol resolved now and
  // none made global. False, with Error() set, when it cannot be loaded.
  bool Load(const std::string& path);
  void Unload();
  bool Loaded() const { return handle_ != nullptr; }

  // Address of an exported symbol; null when nothing is loaded or the library lacks it.
  void* Symbol(const char* name) const;
  // An exported function as the given pointer type; null as for Symbol.
  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

  // Why the last Load failed; empty after a successful one.
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace vorn
