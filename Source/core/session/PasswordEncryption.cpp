#include "core/session/PasswordEncryption.h"

#include <array>
#include <cstring>

#include "Ravelink.h"
#include "core/diag/Trace.h"
#include "platform/Files.h"
#include "platform/Module.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

struct TRavelinkPathOverride {
  std::mutex lock;
  std::string path;
};

TProcessWide<TRavelinkPathOverride> ravelinkPathOverride;

TRavelinkPathOverride& RavelinkPathOverride() {
  return ravelinkPathOverride.Get();
}

}  // namespace

std::string RavelinkFilePath() {
  {
    TRavelinkPathOverride& state = RavelinkPathOverride();
    std::lock_guard guard(state.lock);
    if (!state.path.empty()) return state.path;
  }
  const std::string folder = ExtractFilePath(LibraryFileName());
  // Without a folder dlopen would search the system's library path: not our library.
  return folder.empty() ? std::string() : folder + kRavelinkLibraryName;
}

void SetRavelinkPathForTests(std::string path) {
  TRavelinkPathOverride& state = RavelinkPathOverride();
  std::lock_guard guard(state.lock);
  state.path = std::move(path);
}

void TPasswordEncryption::LoadOnce() {
  std::call_once(loadOnce_, [this] {
    const std::string path = libraryPath_.empty() ? RavelinkFilePath() : libraryPath_;
    if (path.empty() || !library_.Load(path)) {
      AddTraceEntry(
          tlNote, "TPasswordEncryption",
          "Encryption library not loaded: " +
              (path.empty() ? std::string("no folder of our own module") : library_.Error()));
      return;
    }
    encryptPassword_ = library_.Function<TENCEncryptPassword>(kENCEncryptPasswordName);
    if (!encryptPassword_) {
      AddTraceEntry(tlNote, "TPasswordEncryption",
                    std::string(kENCEncryptPasswordName) + " not found in " + path);
    }
  });
}

bool TPasswordEncryption::Available() {
  LoadOnce();
  return encryptPassword_ != nullptr;
}

bool TPasswordEncryption::Encrypt(std::string_view key, std::string_view text, std::string& out) {
  if (!Available()) return false;
  // The library is given NUL-terminated copies: the key as the text it is, the password cut
  // to the width of the logon record's field.
  const std::string keyText(key);
  const std::string passwordText(text.substr(0, kMaxText));
  std::array<char, kResultBufferSize> result{};
  encryptPassword_(keyText.c_str(), passwordText.c_str(), static_cast<int>(passwordText.size()),
                   result.data(), kResultBufferSize);
  result.back() = '\0';
  out.assign(result.data(), ::strnlen(result.data(), kMaxResult));
  return true;
}

}  // namespace vorn
