#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <utility>

#include "Ravelink.h"
#include "platform/Files.h"
#include "platform/Module.h"

namespace vorn {
namespace {

TEST(DynamicLibraryTest, MissingFileFailsWithAReason) {
  TDynamicLibrary library;
  EXPECT_FALSE(library.Load(ExtractFilePath(LibraryFileName()) + "no-such-library.so"));
  EXPECT_FALSE(library.Loaded());
  EXPECT_FALSE(library.Error().empty());
  EXPECT_EQ(library.Symbol(kENCEncryptPasswordName), nullptr);
}

TEST(DynamicLibraryTest, SymbolsAndOwnershipFollowTheObject) {
  TDynamicLibrary library(ExtractFilePath(LibraryFileName()) + kRavelinkLibraryName);
  ASSERT_TRUE(library.Loaded()) << library.Error();
  EXPECT_TRUE(library.Error().empty());
  EXPECT_NE(library.Symbol(kENCEncryptPasswordName), nullptr);
  EXPECT_EQ(library.Symbol("NoSuchEntryPoint"), nullptr);

  TDynamicLibrary moved(std::move(library));
  EXPECT_FALSE(library.Loaded());
  EXPECT_EQ(library.Symbol(kENCEncryptPasswordName), nullptr);
  EXPECT_NE(moved.Symbol(kENCEncryptPasswordName), nullptr);
  moved.Unload();
  EXPECT_FALSE(moved.Loaded());
}

}  // namespace
}  // namespace vorn
