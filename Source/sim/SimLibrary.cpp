// The simulator library's profile: environment 'D' only, and the simulator's links in place of
// the live ones.
#include "api/LibraryProfile.h"
#include "core/session/ClassAPI.h"
#include "core/session/CurrentAPIMessageHost.h"
#include "sim/SimConnection.h"
#include "sim/SimLinkRequests.h"

namespace vorn {

bool LibraryAcceptsEnvironment(char environment) {
  return environment == 'D';
}

void AttachLibraryLinks(TClassAPI& api) {
  if (!GetLinkFactory()) SetLinkFactory(sim::MakeSimLink);
  InstallCurrentAPIMessageHost();
  api.LinkRequests = std::make_unique<sim::TSimLinkRequests>(api);
}

}  // namespace vorn
