// The simulator library's profile: environment 'D' only, the simulator's links in place of the
// live ones, and the strategies 'D' creates without a host.
#include "api/LibraryProfile.h"
#include "api/StrategyCreation.h"
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

// The simulated strategy contracts and their books come with the local strategy creation; until
// then a strategy asked for is accepted and nothing is made.
std::int32_t CreateStrategyLocally(char, std::int32_t, std::string_view, std::string_view,
                                   const StrategyLegStruct*) {
  return VN_RC_SUCCESS;
}

}  // namespace vorn
