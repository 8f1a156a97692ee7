// The simulator library's profile: environment 'D' only, the simulator's links in place of the
// live ones, and the strategies 'D' creates without a host.
#include "api/LibraryProfile.h"
#include "api/StrategyCreation.h"
#include "core/session/ClassAPI.h"
#include "core/session/CurrentAPIMessageHost.h"
#include "sim/AutoDemo.h"
#include "sim/LocalStrategy.h"
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

// The strategy is made in the simulated world (sim/LocalStrategy.h).
std::int32_t CreateStrategyLocally(char strategyType, std::int32_t legCount,
                                   std::string_view exchange, std::string_view commodity,
                                   const StrategyLegStruct* legs) {
  const auto api = API();
  if (!api) return VN_RC_UNEXPECTED_ERROR;
  const auto demo = sim::CurrentAutoDemo();
  return sim::CreateLocalStrategy(*api, demo.get(), strategyType, legCount, exchange, commodity,
                                  legs);
}

}  // namespace vorn
