// Logon and logoff exports.

#include <mutex>

#include "api/APIobject.h"
#include "api/ExportBoundary.h"
#include "core/Callbacks.h"
#include "core/ClassAPI.h"
#include "core/Trace.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The unload handling takes it after static objects of the process are gone.
TProcessWide<std::recursive_mutex> logOffLock;
std::recursive_mutex& LogOffLock() {
  return logOffLock.Get();
}

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

}  // namespace

std::int32_t LogOffCurrentAPI() {
  std::unique_lock lock(LogOffLock(), std::defer_lock);
  if (OnCallbackThread()) {
    if (!lock.try_lock()) return VN_RC_NOT_INITIALISED;
  } else {
    lock.lock();
  }
  AddTraceEntry(tlStart, "vnLogoff", "Started");
  const std::shared_ptr<TClassAPI> api = ExchangeAPI(nullptr);
  if (!api) return VN_RC_NOT_INITIALISED;
  // The logoff request and the logon history come with the logon road.
  api->UUIDMessages.Stop();
  api->Shutdown();
  AddTraceEntry(tlExit, "vnLogoff", "Message sent");
  return VN_RC_SUCCESS;
}

}  // namespace vorn

using namespace vorn;

extern "C" VN_API int32_t VN_STDCALL vnLogOff(void) {
  return GuardedExport("vnLogOff", []() -> std::int32_t {
    TraceAppCall("vnLogOff - start: Thread ID = " + Hex8(CurrentThreadId()));
    const std::int32_t result = LogOffCurrentAPI();
    TraceAppCall("vnLogOff Complete");
    return result;
  });
}
