#include "core/session/PasswordEncryption.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "Ravelink.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/Module.h"
#include "support/RavelinkDecode.h"

namespace vorn {
namespace {

constexpr char kKey[] = "KWEZ";

std::string StandInPath() {
  return ExtractFilePath(LibraryFileName()) + kRavelinkLibraryName;
}

// What the encrypted text must be to travel as a tagged field value.
void ExpectFieldSafe(const std::string& code) {
  EXPECT_LE(code.size(), 255u);
  for (const char c : code) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte > 0x20 && byte < 0x7F) << "byte " << int{byte} << " in " << code;
    EXPECT_NE(c, '=') << code;
  }
  EXPECT_EQ(code.find("<SG"), std::string::npos) << code;
  EXPECT_EQ(code.find("EG>"), std::string::npos) << code;
}

std::string AllBytes() {
  std::string text;
  for (int c = 255; c >= 1; --c)
    text.push_back(static_cast<char>(c));
  return text;
}

// The stand-in beside the test program, through the default lookup of the API object.
TEST(PasswordEncryptionTest, EncryptedPasswordIsFieldSafeAndDecodesBack) {
  TPasswordEncryption encryption;
  ASSERT_TRUE(encryption.Available());
  struct TCase {
    std::string password;
    std::size_t codeLength;  // printable passwords keep their length
  };
  const TCase cases[] = {
      {"secret1", 7},
      {"aaaaaaaa", 8},
      {"Aa1~", 6},
      {"a b=c<SG>d", 18},
      {std::string("\x01\x7F\xC0\xFF", 4), 12},
      {std::string(255, 'p'), 255},
      {"EG>=<SG", 13},
  };
  for (const TCase& c : cases) {
    std::string code;
    ASSERT_TRUE(encryption.Encrypt(kKey, c.password, code));
    ExpectFieldSafe(code);
    EXPECT_EQ(code.size(), c.codeLength) << c.password;
    EXPECT_NE(code, c.password);
    EXPECT_EQ(RavelinkDecodePassword(kKey, code), c.password);
    std::string again;
    ASSERT_TRUE(encryption.Encrypt(kKey, c.password, again));
    EXPECT_EQ(again, code) << "deterministic";
  }
}

TEST(PasswordEncryptionTest, EmptyPasswordGivesEmptyText) {
  TPasswordEncryption encryption;
  std::string code = "old";
  ASSERT_TRUE(encryption.Encrypt(kKey, "", code));
  EXPECT_EQ(code, "");
}

TEST(PasswordEncryptionTest, KeyChangesTheTextAndOnlyTheRightKeyDecodes) {
  TPasswordEncryption encryption;
  std::string withKey, otherKey, noKey;
  ASSERT_TRUE(encryption.Encrypt(kKey, "password1", withKey));
  ASSERT_TRUE(encryption.Encrypt("ABCD", "password1", otherKey));
  ASSERT_TRUE(encryption.Encrypt("", "password1", noKey));
  EXPECT_NE(withKey, otherKey);
  EXPECT_NE(withKey, noKey);
  EXPECT_NE(RavelinkDecodePassword("ABCD", withKey), "password1");
  EXPECT_EQ(RavelinkDecodePassword("", noKey), "password1");
}

// Passwords whose text would not fit 255 characters are cut at a whole character, so what is
// sent still decodes to the start of the password.
TEST(PasswordEncryptionTest, OverlongTextIsCutToAPrefixThatStillDecodes) {
  TPasswordEncryption encryption;
  const std::string cases[] = {std::string(400, 'q'), AllBytes(), std::string(200, ' ')};
  for (const std::string& password : cases) {
    std::string code;
    ASSERT_TRUE(encryption.Encrypt(kKey, password, code));
    ExpectFieldSafe(code);
    EXPECT_GE(code.size(), 253u);
    const auto plain = RavelinkDecodePassword(kKey, code);
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->empty());
    EXPECT_EQ(password.substr(0, plain->size()), *plain);
  }
}

TEST(PasswordEncryptionTest, MissingLibraryOrEntryPointIsNotAvailable) {
  const std::string paths[] = {VORN_RAVELINK_NOENC_LIBRARY,
                               ExtractFilePath(LibraryFileName()) + "no-such-library.so"};
  for (const std::string& path : paths) {
    TPasswordEncryption encryption(path);
    std::string out = "kept";
    EXPECT_FALSE(encryption.Encrypt(kKey, "secret1", out)) << path;
    EXPECT_EQ(out, "kept");
    EXPECT_FALSE(encryption.Available());
  }
}

TEST(PasswordEncryptionTest, TestPathIsTakenAtFirstUse) {
  TPasswordEncryption before;  // made before the override, used while it holds
  TPasswordEncryption loaded;
  ASSERT_TRUE(loaded.Available());
  TPasswordEncryption during;
  std::string out;
  {
    struct TOverride {
      TOverride() { SetRavelinkPathForTests(VORN_RAVELINK_NOENC_LIBRARY); }
      ~TOverride() { SetRavelinkPathForTests(""); }
    } override;
    EXPECT_FALSE(before.Encrypt(kKey, "secret1", out));
    EXPECT_FALSE(during.Encrypt(kKey, "secret1", out));
    EXPECT_TRUE(loaded.Encrypt(kKey, "secret1", out)) << "a loaded object keeps its library";
  }
  TPasswordEncryption after;
  EXPECT_TRUE(after.Encrypt(kKey, "secret1", out));
  EXPECT_FALSE(during.Available()) << "the first load is the only one";
}

// A faulty library that fills the whole buffer without a NUL gives 255 characters, no more.
TEST(PasswordEncryptionTest, ResultIsReadBoundedFromAnOverrunningLibrary) {
  TPasswordEncryption encryption(VORN_RAVELINK_OVERLONG_LIBRARY);
  std::string out;
  ASSERT_TRUE(encryption.Encrypt(kKey, "secret1", out));
  EXPECT_EQ(out, std::string(255, 'x'));
}

// Another holder unloading its reference leaves ours working.
TEST(PasswordEncryptionTest, OwnReferenceOutlivesAnotherHoldersUnload) {
  TPasswordEncryption encryption;
  auto other = std::make_unique<TDynamicLibrary>(StandInPath());
  ASSERT_TRUE(other->Loaded());
  std::string first;
  ASSERT_TRUE(encryption.Encrypt(kKey, "secret1", first));
  other.reset();
  std::string second;
  ASSERT_TRUE(encryption.Encrypt(kKey, "secret1", second));
  EXPECT_EQ(first, second);
}

// The application's logon and the socket thread's re-logon may make the first use at once.
TEST(PasswordEncryptionTest, ThreadsRacingTheFirstUseAllEncrypt) {
  TPasswordEncryption encryption;
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < 50; ++i) {
        std::string code;
        if (!encryption.Encrypt(kKey, "secret" + std::to_string(t), code)) return;
        results[static_cast<std::size_t>(t)] = code;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(RavelinkDecodePassword(kKey, results[static_cast<std::size_t>(t)]),
              "secret" + std::to_string(t));
  }
}

// The entry point itself, called as the outside library is called: it never writes past
// outSize and a cut output is always a whole number of characters.
TEST(RavelinkStandInTest, OutputNeverPassesTheBufferSize) {
  TDynamicLibrary library(StandInPath());
  const auto encrypt = library.Function<TENCEncryptPassword>(kENCEncryptPasswordName);
  ASSERT_NE(encrypt, nullptr);
  const std::string password = "a b~c";
  for (int size = 1; size <= 14; ++size) {
    std::array<char, 32> buffer;
    buffer.fill('#');
    const int written =
        encrypt(kKey, password.c_str(), static_cast<int>(password.size()), buffer.data(), size);
    EXPECT_TRUE(std::all_of(buffer.begin() + size, buffer.end(), [](char c) { return c == '#'; }))
        << "size " << size;
    ASSERT_GE(written, 0);
    ASSERT_LT(written, size);
    EXPECT_EQ(buffer[static_cast<std::size_t>(written)], '\0');
    const auto plain = RavelinkDecodePassword(kKey, std::string(buffer.data(), written));
    ASSERT_TRUE(plain.has_value()) << "size " << size;
    EXPECT_EQ(password.substr(0, plain->size()), *plain);
    if (size >= 10) {
      EXPECT_EQ(*plain, password);
    }
  }
}

TEST(RavelinkStandInTest, MissingArgumentsAreRefused) {
  TDynamicLibrary library(StandInPath());
  const auto encrypt = library.Function<TENCEncryptPassword>(kENCEncryptPasswordName);
  ASSERT_NE(encrypt, nullptr);
  char out[8] = "xxxxxxx";
  EXPECT_EQ(encrypt(kKey, "abc", 3, nullptr, 8), -1);
  EXPECT_EQ(encrypt(kKey, "abc", 3, out, 0), -1);
  EXPECT_EQ(out[0], 'x');
  EXPECT_EQ(encrypt(kKey, nullptr, 3, out, 8), -1);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(encrypt(kKey, "abc", -1, out, 8), -1);
  EXPECT_EQ(encrypt(nullptr, "abc", 3, out, 8), 3);
  EXPECT_EQ(RavelinkDecodePassword("", out), "abc");
}

TEST(RavelinkDecodeTest, TextTheStandInCannotWriteIsRefused) {
  for (const char* code : {"ab=c", "ab<", " ", "~4", "~G0", "~ab"}) {
    EXPECT_FALSE(RavelinkDecodePassword(kKey, code).has_value()) << code;
  }
}

}  // namespace
}  // namespace vorn
