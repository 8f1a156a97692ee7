// The in-process tests run the exports as the live library does: its environment letters and
// its link layer (the simulator's tests attach the simulator's links themselves).
#include "api/LibraryProfile.h"
#include "links/LinkLayer.h"

namespace vorn {

bool LibraryAcceptsEnvironment(char environment) {
  return environment == 'C' || environment == 'G' || environment == 'T' || environment == 'g';
}

void AttachLibraryLinks(TClassAPI& api) {
  InstallLinkLayer();
  AttachLinkLayer(api);
}

}  // namespace vorn
