// The live client library's profile, and its load and unload handling.

#include "api/APIobject.h"
#include "api/LibraryProfile.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "links/LinkLayer.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"

namespace vorn {

bool LibraryAcceptsEnvironment(char environment) {
  return environment == 'C' || environment == 'G' || environment == 'T' || environment == 'g';
}

void AttachLibraryLinks(TClassAPI& api) {
  InstallLinkLayer();
  AttachLinkLayer(api);
}

namespace {

// Unloading logs off, stops every thread the library started, so that none runs once the
// library is unmapped, and frees the process-wide objects. Safe to run more than once.
__attribute__((destructor)) void LibraryUnload() {
  try {
    LogOffCurrentAPI();
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
