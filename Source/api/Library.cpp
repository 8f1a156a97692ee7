// The live client library's profile, its part of the work the simulator does locally, and its
// load and unload handling.

#include "api/APIobject.h"
#include "api/LibraryProfile.h"
#include "api/StrategyCreation.h"
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

std::int32_t CreateStrategyLocally(char, std::int32_t, std::string_view, std::string_view,
                                   const StrategyLegStruct*) {
  return VN_RC_SUCCESS;
}

}  // namespace vorn
