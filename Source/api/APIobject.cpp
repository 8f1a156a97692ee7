#include "api/APIobject.h"

#include <mutex>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/HostRequests.h"
#include "platform/ProcessWide.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The unload handling takes it after static objects of the process are gone.
TProcessWide<std::recursive_mutex> logOffLock;
std::recursive_mutex& LogOffLock() {
  return logOffLock.Get();
}

// The logoff request and the logon history of a logged-on object.
void EndSession(TClassAPI& api) {
  if (!api.Logon.LoggedOn) return;
  if (const auto link = api.GetLink(psHost); link && link->Connected()) {
    if (DebugFlagOn(kDebugging)) WriteTraceLine("vnLogOff - sending log off message");
    TMMHUBLogOff request;
    link->Send(request);
  }
  if (DebugFlagOn(kDebugging)) WriteTraceLine("vnLogOff - saving data");
  if (const auto last = api.UserLogons.GetLastLogon()) {
    last->DBSequence = api.Logon.DBSequence.Get();
    last->RefSequence = api.Logon.RefSequence.Get();
    api.UserLogons.Save();
  }
}

}  // namespace

std::shared_ptr<TClassAPI> ReadyAPI(std::int32_t& result) {
  auto api = API();
  result = api ? api->CheckReadyState() : VN_RC_NOT_INITIALISED;
  return result == VN_RC_SUCCESS ? api : nullptr;
}

std::int32_t LogOffCurrentAPI(bool endSession) {
  std::unique_lock lock(LogOffLock(), std::defer_lock);
  if (OnCallbackThread()) {
    if (!lock.try_lock()) return VN_RC_NOT_INITIALISED;
  } else {
    lock.lock();
  }
  AddTraceEntry(tlStart, "vnLogoff", "Started");
  const std::shared_ptr<TClassAPI> api = ExchangeAPI(nullptr);
  if (!api) return VN_RC_NOT_INITIALISED;
  if (endSession) EndSession(*api);
  api->UUIDMessages.Stop();
  api->Shutdown();
  AddTraceEntry(tlExit, "vnLogoff", "Message sent");
  return VN_RC_SUCCESS;
}

}  // namespace vorn
