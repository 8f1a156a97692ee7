#pragma once
// The API library (vornapi or simapi) as the bridge sees it: loaded at run time by file name and
// bound by export name into a table typed by the interface header's own declarations, so a
// signature cannot drift from the library's. Nothing of the API is linked at build time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>

#include "platform/DynamicLibrary.h"
#include "vornintf.h"

namespace vorn::bridge {

// The bridge's own result codes, beside the API's.
inline constexpr std::int32_t kLibraryNotLoaded = 52;
inline constexpr std::int32_t kFunctionNotFound = 53;
inline constexpr std::int32_t kLibraryAlreadyLoaded = 54;
inline constexpr std::int32_t kCannotLoadLibrary = 55;
inline constexpr std::int32_t kCallbackNotRegistered = 56;

// File names of the two API libraries, looked for in the folder initialise is given.
inline constexpr const char* kLiveLibraryName = "libvornapi.so";
inline constexpr const char* kSimulatorLibraryName = "libsimapi.so";

// An API or bridge result code raised as an exception; what() is "Vorn API Error: <code>".
class EVORN : public std::runtime_error {
 public:
  explicit EVORN(std::int32_t code);
  std::int32_t Code() const { return code_; }

 private:
  std::int32_t code_;
};

// One entry per bound export (all but the six "...Ex"), null while no library is loaded.
struct TAPITable {
#define VN_EXPORT(name) decltype(&::name) name = nullptr;
#define VN_EXPORT_EX(name)
#include "vornexports.inc"
};

// The text of a bridge code (52 to 55); null for any other code.
const char* BridgeCodeText(std::int32_t code);

// The loaded library and its table. Thread-safe: calls through the table hold the shared lock
// (Share), load and unload take it exclusively, so no unload can pull the library away from
// under a call in flight.
class TAPILibrary {
 public:
  // Where a missing export is reported ("Can't find <name>"); stderr by default.
  using TReporter = std::function<void(const std::string& line)>;

  TAPILibrary();
  TAPILibrary(const TAPILibrary&) = delete;
  TAPILibrary& operator=(const TAPILibrary&) = delete;
  ~TAPILibrary();

  // Waits up to the load wait for an earlier library to be unloaded (54), loads the file (55),
  // binds every name (53 for the first missing one, reported once, the library then unloaded).
  // Must not be called by a thread holding Share().
  void Load(const std::string& path);
  // Clears the table and lets the library go; nothing when none is loaded. Must not be called
  // by a thread holding Share().
  void Unload();

  // A shared hold on the library for one call through the table.
  std::shared_lock<std::shared_mutex> Share() const { return std::shared_lock(mutex_); }
  // Like Share, but gives up at once (owns_lock() false) while a load or unload runs.
  std::shared_lock<std::shared_mutex> TryShare() const {
    return std::shared_lock(mutex_, std::try_to_lock);
  }
  // The table; raises EVORN 52 when no library is loaded. Caller holds Share().
  const TAPITable& Require() const;
  // Caller holds Share().
  bool Loaded() const { return library_.Loaded(); }
  // The table as it is (all null while unloaded). Caller holds Share().
  const TAPITable& Table() const { return table_; }

  // BridgeErrorText: 52 to 55 from the bridge's table, else the library's vnGetErrorMessage,
  // else "Dynamic API Error - vnGetErrorMessage not Assigned". Takes Share() itself.
  std::string ErrorText(std::int32_t code) const;

  // Test seams: how long Load waits for an earlier library (10 s), where reports go.
  void SetLoadWait(std::chrono::milliseconds wait) { loadWait_ = wait; }
  void SetReporter(TReporter reporter) { reporter_ = std::move(reporter); }

 private:
  // Binds every name; the first missing one, or null when all were found.
  const char* Bind();
  void UnloadLocked();

  mutable std::shared_mutex mutex_;
  std::condition_variable_any unloaded_;
  TDynamicLibrary library_;
  TAPITable table_;
  std::chrono::milliseconds loadWait_{10000};
  TReporter reporter_;
};

// The process's one API library, never destroyed (an API thread may still post at exit).
TAPILibrary& APILibrary();

}  // namespace vorn::bridge
