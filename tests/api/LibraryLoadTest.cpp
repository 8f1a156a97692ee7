// The client library as an application sees it: loaded with dlopen, bound by export name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "vornintf.h"

namespace {

const char* const kAllExports[] = {
#define VN_EXPORT(name) #name,
#include "vornexports.inc"
#undef VN_EXPORT
};

class Library {
 public:
  Library() : handle_(dlopen(VORN_API_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  void* Handle() const { return handle_; }
  template <class Proc>
  Proc Bind(const char* name) const {
    return reinterpret_cast<Proc>(dlsym(handle_, name));
  }
  void Close() {
    dlclose(handle_);
    handle_ = nullptr;
  }

 private:
  void* handle_;
};

TEST(LibraryLoadTest, EveryDeclaredExportResolvesByItsExactName) {
  Library library;
  ASSERT_NE(library.Handle(), nullptr) << dlerror();
  EXPECT_EQ(std::size(kAllExports), static_cast<std::size_t>(VN_EXPORT_COUNT));
  std::vector<std::string> missing;
  for (const char* name : kAllExports)
    if (!dlsym(library.Handle(), name)) missing.push_back(name);
  EXPECT_TRUE(missing.empty()) << missing.front();
  // Nothing is exported under a name the interface does not declare.
  EXPECT_EQ(dlsym(library.Handle(), "vnGetConsolidatedPosition"), nullptr);
}

TEST(LibraryLoadTest, PriceStepRunsWithoutInitialising) {
  Library library;
  ASSERT_NE(library.Handle(), nullptr) << dlerror();
  const auto priceStep =
      library.Bind<double(VN_STDCALL*)(double, double, int32_t, int32_t)>("vnPriceStep");
  ASSERT_NE(priceStep, nullptr);
  EXPECT_DOUBLE_EQ(priceStep(99.31, 0.01, 1, 32), 100);
  EXPECT_EQ(priceStep(99.16, 0.01, 1, 0), 99.16);
}

void VN_STDCALL Ignore() {}

TEST(LibraryLoadTest, UnloadingWithoutLogOffStopsTheLibrarysThreads) {
  vorn::TTempDir clientPath;
  Library library;
  ASSERT_NE(library.Handle(), nullptr) << dlerror();
  library.Bind<void(VN_STDCALL*)(const char*)>("vnSetClientPath")(clientPath.Path().c_str());
  const auto initialise = library.Bind<int32_t(VN_STDCALL*)(
      char, const char*, const char*, const char*, const char*, uint8_t)>("vnInitialise");
  ASSERT_EQ(initialise('C', "v2.8.3", "app", "1", "", 0), 0);
  ASSERT_EQ(library.Bind<int32_t(VN_STDCALL*)(int32_t, VnNotifyProc)>("vnRegisterCallback")(
                VN_CB_LOGON_STATUS, Ignore),
            0);
  library.Close();  // the callback thread must be gone before the code is unmapped
  // Loading it again works from a clean state.
  Library again;
  ASSERT_NE(again.Handle(), nullptr);
  EXPECT_EQ(again.Bind<int32_t(VN_STDCALL*)(void)>("vnReady")(), 1);
}

}  // namespace
