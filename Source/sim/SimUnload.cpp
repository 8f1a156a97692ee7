// Unload handling of the simulator library (linked into libsimapi.so only).
#include "api/APIobject.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"

namespace vorn {
namespace {

// Unloading does not log off (no logoff request, no logon history is saved), but no thread the
// library started may outlive its code: the API object, if any, is shut down, with the
// simulation timer, the heartbeat and the callback thread. Safe to run more than once.
__attribute__((destructor)) void SimLibraryUnload() {
  try {
    LogOffCurrentAPI(false);
    StopCallbackThread();
    ClearCallbackQueue();
    JoinStoppedThreads();
    CloseTraceFile();
    CloseUUIDLog();
    FreeProcessWideObjects();
  } catch (...) {
  }
}

}  // namespace
}  // namespace vorn
