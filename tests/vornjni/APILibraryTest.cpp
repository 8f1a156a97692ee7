// Binding the API library at run time, against the fake API library.
#include "vornjni/core/APILibrary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vorn::bridge {
namespace {

using namespace std::chrono_literals;

const std::string kFake = std::string(VORNJNI_FAKE_DIR) + kLiveLibraryName;
const std::string kFakeMissing = std::string(VORNJNI_FAKE_MISSING_DIR) + kLiveLibraryName;

class APILibraryTest : public ::testing::Test {
 protected:
  APILibraryTest() {
    library_.SetReporter([this](const std::string& line) { reports_.push_back(line); });
  }

  std::int32_t LoadCode(const std::string& path) {
    try {
      library_.Load(path);
      return 0;
    } catch (const EVORN& error) {
      return error.Code();
    }
  }
  bool Loaded() {
    const auto lock = library_.Share();
    return library_.Loaded();
  }

  TAPILibrary library_;
  std::vector<std::string> reports_;
};

TEST_F(APILibraryTest, BindsEveryExportButTheExOnes) {
  ASSERT_EQ(LoadCode(kFake), 0);
  const auto lock = library_.Share();
  const TAPITable& api = library_.Require();
  std::size_t bound = 0;
#define VN_EXPORT(name) bound += api.name != nullptr ? 1 : 0;
#define VN_EXPORT_EX(name)
#include "vornexports.inc"
  EXPECT_EQ(bound, std::size_t{VN_BRIDGE_EXPORT_COUNT});
  EXPECT_STREQ(api.vnGetErrorMessage(7), "fake error 7");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(APILibraryTest, MissingFileGives55AndNoLibrary) {
  EXPECT_EQ(LoadCode(std::string(VORNJNI_FAKE_DIR) + "no-such-library.so"), kCannotLoadLibrary);
  EXPECT_FALSE(Loaded());
  EXPECT_EQ(reports_.size(), 1u);
}

TEST_F(APILibraryTest, LibraryLackingOneExportGives53ReportedOnceAndStaysUnloaded) {
  EXPECT_EQ(LoadCode(kFakeMissing), kFunctionNotFound);
  EXPECT_EQ(reports_, std::vector<std::string>{"Can't find vnGetContractAtBestPrices"});
  EXPECT_FALSE(Loaded());
  const auto lock = library_.Share();
  EXPECT_EQ(library_.Table().vnGetErrorMessage, nullptr);
}

TEST_F(APILibraryTest, MissingExportIsReportedOnStandardErrorByDefault) {
  TAPILibrary library;
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(library.Load(kFakeMissing), EVORN);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't find vnGetContractAtBestPrices\n");
}

TEST_F(APILibraryTest, SecondLoadWaitsForTheUnloadThenGives54) {
  library_.SetLoadWait(50ms);
  ASSERT_EQ(LoadCode(kFake), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadCode(kFake), kLibraryAlreadyLoaded);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(Loaded());

  // An unload during the wait lets the waiting load go ahead.
  library_.SetLoadWait(10s);
  std::thread unloader([this] {
    std::this_thread::sleep_for(20ms);
    library_.Unload();
  });
  EXPECT_EQ(LoadCode(kFake), 0);
  unloader.join();
  EXPECT_TRUE(Loaded());
}

TEST_F(APILibraryTest, RequireGives52WithoutALibraryAndUnloadClearsTheTable) {
  {
    const auto lock = library_.Share();
    try {
      library_.Require();
      FAIL() << "no EVORN";
    } catch (const EVORN& error) {
      EXPECT_EQ(error.Code(), kLibraryNotLoaded);
      EXPECT_STREQ(error.what(), "Vorn API Error: 52");
    }
  }
  library_.Unload();  // nothing loaded: nothing happens
  ASSERT_EQ(LoadCode(kFake), 0);
  library_.Unload();
  EXPECT_FALSE(Loaded());
  const auto lock = library_.Share();
  EXPECT_EQ(library_.Table().vnLogOff, nullptr);
}

TEST_F(APILibraryTest, ErrorTexts) {
  const struct {
    std::int32_t code;
    bool loaded;
    const char* text;
  } cases[] = {
      {52, false, "Library not loaded"},
      {53, false, "Cannot find function in API"},
      {54, false, "Library already loaded"},
      {55, false, "Cannot load library"},
      {3, false, "Dynamic API Error - vnGetErrorMessage not Assigned"},
      {56, false, "Dynamic API Error - vnGetErrorMessage not Assigned"},
      {53, true, "Cannot find function in API"},
      {3, true, "fake error 3"},
      {99, true, "fake error 99"},
  };
  for (const auto& c : cases) {
    if (c.loaded != Loaded()) {
      if (c.loaded) ASSERT_EQ(LoadCode(kFake), 0);
      else library_.Unload();
    }
    EXPECT_EQ(library_.ErrorText(c.code), c.text) << c.code << (c.loaded ? " loaded" : "");
  }
}

}  // namespace
}  // namespace vorn::bridge
