// A small trading application: loads the client library the way an application does, logs a
// trader on to a host, prints what the library reports through its callbacks, and logs off.
//
//   logon LIBRARY HOST_IP HOST_PORT USER PASSWORD

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "vornintf.h"

namespace {

std::atomic<bool> downloadComplete{false};
std::atomic<bool> loggedOut{false};

void VN_STDCALL OnLinkState(const LinkStateStruct* state) {
  std::printf("host link: state %d -> %d\n", state->OldState, state->NewState);
}
void VN_STDCALL OnLogonStatus() { std::printf("logon status received\n"); }
void VN_STDCALL OnForcedLogout() {
  std::printf("forced logout\n");
  loggedOut = true;
}
void VN_STDCALL OnDownloadComplete() {
  std::printf("download complete\n");
  downloadComplete = true;
}

// The exports this application calls, looked up by name.
struct TExports {
  decltype(&vnInitialise) Initialise;
  decltype(&vnRegisterLinkStateCallback) RegisterLinkState;
  decltype(&vnRegisterCallback) Register;
  decltype(&vnSetHostAddress) SetHostAddress;
  decltype(&vnReady) Ready;
  decltype(&vnLogOn) LogOn;
  decltype(&vnGetLogonStatus) GetLogonStatus;
  decltype(&vnLogOff) LogOff;
};

template <class F>
bool Find(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (!function) std::fprintf(stderr, "missing export %s\n", name);
  return function != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: logon LIBRARY HOST_IP HOST_PORT USER PASSWORD\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  TExports api{};
  if (!(Find(library, "vnInitialise", api.Initialise) &&
        Find(library, "vnRegisterLinkStateCallback", api.RegisterLinkState) &&
        Find(library, "vnRegisterCallback", api.Register) &&
        Find(library, "vnSetHostAddress", api.SetHostAddress) && Find(library, "vnReady", api.Ready) &&
        Find(library, "vnLogOn", api.LogOn) && Find(library, "vnGetLogonStatus", api.GetLogonStatus) &&
        Find(library, "vnLogOff", api.LogOff)))
    return 1;

  std::printf("vnInitialise: %d\n", api.Initialise('T', "v2.8.3", "demo", "1.0", "", 0));
  api.RegisterLinkState(VN_CB_HOST_LINK_STATE_CHANGE, OnLinkState);
  api.Register(VN_CB_LOGON_STATUS, OnLogonStatus);
  api.Register(VN_CB_FORCED_LOGOUT, OnForcedLogout);
  api.Register(VN_CB_DATA_DL_COMPLETE, OnDownloadComplete);
  api.SetHostAddress(argv[2], argv[3]);
  std::printf("vnReady: %d\n", api.Ready());

  LogonStruct logon;
  std::memset(&logon, 0, sizeof logon);
  std::strncpy(logon.UserName, argv[4], sizeof logon.UserName - 1);
  std::strncpy(logon.Password, argv[5], sizeof logon.Password - 1);
  logon.FullDownload = 'N';
  logon.ReportDownload = 'N';
  std::printf("vnLogOn: %d\n", api.LogOn(&logon));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!downloadComplete && !loggedOut && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

  LogonStatusStruct status;
  std::memset(&status, 0, sizeof status);
  api.GetLogonStatus(&status);
  std::printf("logon status %d \"%s\", trader account \"%s\"\n", status.Status, status.StatusText,
              status.TraderAccount);
  std::printf("vnLogOff: %d\n", api.LogOff());
  dlclose(library);
  return downloadComplete ? 0 : 1;
}
