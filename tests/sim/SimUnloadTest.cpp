// Unloading the simulator library while a trader is logged on: the library stops its threads
// without logging off, so nothing is saved in the client folder (no logon history, no store).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "sim/SimRecorder.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

TEST(SimUnloadTest, UnloadingWhileLoggedOnSavesNothing) {
  recorder.Clear();
  vorn::TTempDir library;
  vorn::TTempDir client;
  const fs::path built(VORN_SIM_LIBRARY);
  fs::copy_file(built, library.File("libsimapi.so"));
  fs::copy_file(built.parent_path() / VORN_RAVELINK_FILE_NAME,
                library.File(VORN_RAVELINK_FILE_NAME));
  for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
    fs::copy_file(entry.path(), library.File(entry.path().filename().string()));
  void* handle = dlopen(library.File("libsimapi.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  const auto bind = [&](const char* name) {
    void* proc = dlsym(handle, name);
    EXPECT_NE(proc, nullptr) << name;
    return proc;
  };
#define BIND(name) reinterpret_cast<decltype(&name)>(bind(#name))

  BIND(vnSetClientPath)((client.Path()).c_str());
  ASSERT_EQ(BIND(vnInitialise)('D', "v2.8.3", "simtest", "1", "", 0), 0);
  BIND(vnRegisterCallback)(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
  BIND(vnRegisterCallback)(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
  BIND(vnRegisterLinkStateCallback)(VN_CB_HOST_LINK_STATE_CHANGE,
                                    LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
  BIND(vnSetHostAddress)("sim", "1");
  BIND(vnSetPriceAddress)("sim", "2");
  ASSERT_EQ(BIND(vnReady)(), 0);
  LogonStruct logon{};
  std::strcpy(logon.UserName, "trader1");
  std::strcpy(logon.Password, "secret1");
  logon.FullDownload = 'Y';
  logon.ReportDownload = 'N';
  ASSERT_EQ(BIND(vnLogOn)(&logon), 0);
  LogonStatusStruct status{};
  BIND(vnGetLogonStatus)(&status);
  ASSERT_EQ(status.Status, 1);
#undef BIND

  dlclose(handle);
  for (const char* file : {"logon.dat", "VornInfo.dat", "VornCont.dat"})
    EXPECT_FALSE(fs::exists(client.File(file))) << file;
  recorder.Clear();
}

}  // namespace
