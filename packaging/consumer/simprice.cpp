// Linked with vorn::simapi: logs a trader on to the installed simulator, which builds its world
// from the data files beside the library, reads a price of one contract and logs off. Then it
// loads the live library at run time from the file the CMake package names.
//
//   simprice CLIENT_PATH      (a folder for the library's logs, ending with '/')

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "vornintf.h"

namespace {

constexpr const char* kExchange = "LIFFE";
constexpr const char* kCommodity = "IDX100";
constexpr const char* kContractDate = "MAR27";

std::mutex lock;
std::condition_variable changed;
bool downloadComplete = false;
int priceUpdates = 0;

void VN_STDCALL OnDownloadComplete() {
  std::lock_guard guard(lock);
  downloadComplete = true;
  changed.notify_all();
}
void VN_STDCALL OnPrice(const ContractKeyStruct*) {
  std::lock_guard guard(lock);
  ++priceUpdates;
  changed.notify_all();
}
void VN_STDCALL OnNothing() {}
void VN_STDCALL OnLinkState(const LinkStateStruct*) {}

template <class Condition>
bool WaitFor(Condition condition) {
  std::unique_lock guard(lock);
  return changed.wait_for(guard, std::chrono::seconds(10), condition);
}

// Waits for a price update that gives the contract a bid and an offer; prints them.
bool ReadPrice() {
  vnSubscribePrice(kExchange, kCommodity, kContractDate);
  for (int seen = 0;;) {
    if (!WaitFor([&] { return priceUpdates > seen; })) return false;
    {
      std::lock_guard guard(lock);
      seen = priceUpdates;
    }
    PriceStruct prices{};
    if (vnGetPriceForContract(kExchange, kCommodity, kContractDate, &prices) != 0) return false;
    const PriceDetailStruct& bid = prices.Entries[VN_PK_BID];
    const PriceDetailStruct& offer = prices.Entries[VN_PK_OFFER];
    if (bid.Price[0] && offer.Price[0]) {
      std::printf("%s %s %s: bid %s x %d, offer %s x %d\n", kExchange, kCommodity, kContractDate,
                  bid.Price, bid.Volume, offer.Price, offer.Volume);
      return true;
    }
  }
}

bool Session(const char* clientPath) {
  vnSetClientPath(clientPath);
  if (const int32_t result = vnInitialise('D', "v2.8.3", "simprice", "1.0", "", 0); result != 0) {
    std::fprintf(stderr, "vnInitialise: %d\n", result);
    return false;
  }
  // The library refuses to start without the host link's, the logon's and the logout's.
  vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, OnLinkState);
  vnRegisterCallback(VN_CB_LOGON_STATUS, OnNothing);
  vnRegisterCallback(VN_CB_FORCED_LOGOUT, OnNothing);
  vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, OnDownloadComplete);
  vnRegisterPriceCallback(VN_CB_PRICE_UPDATE, OnPrice);
  vnSetHostAddress("simulator", "0");
  vnSetPriceAddress("simulator", "0");
  if (const int32_t result = vnReady(); result != 0) {
    std::fprintf(stderr, "vnReady: %d\n", result);
    return false;
  }
  LogonStruct logon{};
  std::strcpy(logon.UserName, "trader1");
  std::strcpy(logon.Password, "secret1");
  logon.FullDownload = 'Y';
  logon.ReportDownload = 'N';
  LogonStatusStruct status{};
  const bool ok = vnLogOn(&logon) == 0 && vnGetLogonStatus(&status) == 0 && status.Status == 1 &&
                  WaitFor([] { return downloadComplete; }) && ReadPrice();
  if (!ok) std::fprintf(stderr, "logon status %d: %s\n", status.Status, status.StatusText);
  vnLogOff();
  return ok;
}

bool LoadLiveLibrary() {
  void* handle = dlopen(VORN_LIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "cannot load %s: %s\n", VORN_LIVE_LIBRARY, dlerror());
    return false;
  }
  using ErrorMessageProc = decltype(&vnGetErrorMessage);
  auto errorMessage = reinterpret_cast<ErrorMessageProc>(dlsym(handle, "vnGetErrorMessage"));
  if (errorMessage) std::printf("%s: vnGetErrorMessage(0) = %s\n", VORN_LIVE_LIBRARY, errorMessage(0));
  dlclose(handle);
  return errorMessage != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CLIENT_PATH\n", argv[0]);
    return 2;
  }
  if (!Session(argv[1])) {
    std::fprintf(stderr, "no price from the installed simulator\n");
    return 1;
  }
  return LoadLiveLibrary() ? 0 : 1;
}
