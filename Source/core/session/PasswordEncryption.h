#pragma once
// Password encryption through the outside library. Each API object holds its own reference to
// the library, loaded from the folder of our own module on first use and kept for the object's
// life; the entry point is looked up once with it.

#include <mutex>
#include <string>
#include <string_view>

#include "platform/DynamicLibrary.h"

namespace vorn {

class TPasswordEncryption {
 public:
  // The library is the one beside our own module (or the file SetRavelinkPathForTests names at
  // the time of the first use).
  TPasswordEncryption() = default;
  // The library is the given file.
  explicit TPasswordEncryption(std::string libraryPath) : libraryPath_(std::move(libraryPath)) {}
  TPasswordEncryption(const TPasswordEncryption&) = delete;
  TPasswordEncryption& operator=(const TPasswordEncryption&) = delete;

  // Replaces out with the encrypted form of text (its first 256 characters) under key: at most
  // 255 characters. False, out untouched, when the library or its entry point is missing. Any
  // thread; the first call loads the library.
  bool Encrypt(std::string_view key, std::string_view text, std::string& out);
  // Whether the entry point is there (loads the library on the first call).
  bool Available();

  static constexpr std::size_t kMaxText = 256;
  static constexpr std::size_t kMaxResult = 255;
  static constexpr int kResultBufferSize = 1000;

 private:
  void LoadOnce();

  std::string libraryPath_;
  std::once_flag loadOnce_;
  TDynamicLibrary library_;
  int (*encryptPassword_)(const char*, const char*, int, char*, int) = nullptr;
};

// The stand-in library's file: the one SetRavelinkPathForTests names, else the one beside our
// own module; empty when our module's folder cannot be had. Any thread.
std::string RavelinkFilePath();

// The file that default-made TPasswordEncryption objects (and SSL sockets) load from now on, in place of the
// library beside our own module; empty restores that.
void SetRavelinkPathForTests(std::string path);

}  // namespace vorn
