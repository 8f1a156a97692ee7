#pragma once
// The inverse of the stand-in library's password encryption, for the tests and the fake host.

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// The password that ENC_EncryptPassword(key, ...) turned into code; nothing when the code is
// not one it can write (a character outside its alphabet, a cut or malformed escape).
std::optional<std::string> RavelinkDecodePassword(std::string_view key, std::string_view code);

}  // namespace vorn
