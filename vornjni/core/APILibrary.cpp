#include "vornjni/core/APILibrary.h"

#include <cstdio>

namespace vorn::bridge {

namespace {

// The count the interface header promises for the bridge.
constexpr int kBoundExports = 0
#define VN_EXPORT(name) +1
#define VN_EXPORT_EX(name)
#include "vornexports.inc"
    ;
static_assert(kBoundExports == VN_BRIDGE_EXPORT_COUNT);

void ReportToStderr(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

EVORN::EVORN(std::int32_t code)
    : std::runtime_error("Vorn API Error: " + std::to_string(code)), code_(code) {}

const char* BridgeCodeText(std::int32_t code) {
  switch (code) {
    case kLibraryNotLoaded: return "Library not loaded";
    case kFunctionNotFound: return "Cannot find function in API";
    case kLibraryAlreadyLoaded: return "Library already loaded";
    case kCannotLoadLibrary: return "Cannot load library";
    default: return nullptr;
  }
}

TAPILibrary::TAPILibrary() : reporter_(ReportToStderr) {}

TAPILibrary::~TAPILibrary() { Unload(); }

void TAPILibrary::Load(const std::string& path) {
  std::unique_lock lock(mutex_);
  if (!unloaded_.wait_for(lock, loadWait_, [this] { return !library_.Loaded(); }))
    throw EVORN(kLibraryAlreadyLoaded);
  if (!library_.Load(path)) {
    reporter_("Cannot load " + path + ": " + library_.Error());
    throw EVORN(kCannotLoadLibrary);
  }
  table_ = TAPITable{};
  if (const char* missing = Bind()) {
    const std::string line = std::string("Can't find ") + missing;
    reporter_(line);
    if (table_.vnLogString) table_.vnLogString(line.c_str());
    UnloadLocked();
    throw EVORN(kFunctionNotFound);
  }
}

const char* TAPILibrary::Bind() {
#define VN_EXPORT(name)                                              \
  table_.name = library_.Function<decltype(&::name)>(#name);         \
  if (!table_.name) return #name;
#define VN_EXPORT_EX(name)
#include "vornexports.inc"
  return nullptr;
}

void TAPILibrary::Unload() {
  std::unique_lock lock(mutex_);
  UnloadLocked();
}

void TAPILibrary::UnloadLocked() {
  if (!library_.Loaded()) return;
  table_ = TAPITable{};
  library_.Unload();
  unloaded_.notify_all();
}

const TAPITable& TAPILibrary::Require() const {
  if (!library_.Loaded()) throw EVORN(kLibraryNotLoaded);
  return table_;
}

std::string TAPILibrary::ErrorText(std::int32_t code) const {
  if (const char* text = BridgeCodeText(code)) return text;
  const auto lock = Share();
  if (!table_.vnGetErrorMessage) return "Dynamic API Error - vnGetErrorMessage not Assigned";
  const char* text = table_.vnGetErrorMessage(code);
  return text ? text : "";
}

TAPILibrary& APILibrary() {
  static TAPILibrary* const library = new TAPILibrary;
  return *library;
}

}  // namespace vorn::bridge
