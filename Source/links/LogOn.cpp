#include "links/LogOn.h"

#include <cstring>
#include <string>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/LoginRequest.h"

namespace vorn {

namespace {

bool PasswordCharacter(unsigned char c) {
  return (c >= '!' && c <= '+') || (c >= '-' && c <= '9') || (c >= '<' && c <= '_') ||
         (c >= 'a' && c <= '~');
}

// Encrypts a password field in place; false when the encryption is not available.
bool EncryptField(TClassAPI& api, char (&field)[256]) {
  std::string encrypted;
  if (!api.Logon.PasswordEncryption.Encrypt(api.GetEncryption(), GetFixed(field), encrypted))
    return false;
  PutFixed(field, encrypted);
  return true;
}

}  // namespace

std::int32_t CheckNewPassword(const LogonStruct& logon) {
  const std::string password = GetFixed(logon.NewPassword);
  if (Trim(password).empty()) return VN_RC_SUCCESS;
  bool digit = false;
  bool letter = false;
  for (const char c : password) {
    const auto byte = static_cast<unsigned char>(c);
    if (!PasswordCharacter(byte)) return VN_RC_NEW_PASSWORD_NOT_TEXT;
    digit = digit || (byte >= '0' && byte <= '9');
    letter = letter || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
  }
  return digit && letter ? VN_RC_SUCCESS : VN_RC_NEW_PASSWORD_NOT_ALPHANUMERIC;
}

std::int32_t DoLogOn(TClassAPI& api, LogonStruct& logon, bool passwordsEncrypted) {
  if (const std::int32_t result = CheckNewPassword(logon); result != VN_RC_SUCCESS) return result;
  if (api.Links.MegaHub) {
    // A logon that can never leave is not reported as sent.
    if (!api.HasHostLink()) return VN_RC_HOST_NOT_CONNECTED;
    if (!passwordsEncrypted && !api.Logon.LogonCompleted) {
      if (!EncryptField(api, logon.Password)) return VN_RC_VERSION_MISMATCH;
      // A new password of only blanks counts as none and is not sent.
      if (!Trim(GetFixed(logon.NewPassword)).empty() && !EncryptField(api, logon.NewPassword))
        return VN_RC_VERSION_MISMATCH;
    }
    // Set before the request leaves: a quick download must find it.
    if (logon.ReportDownload == 'Y') api.Logon.ReportDownload = true;
    if (const auto link = api.GetLink(psHost)) link->PrepareLogon();
    TMMHUBLogin request;
    request.BuildFields(api, logon);
    api.SendOnLink(request, psHost);
  } else if (logon.ReportDownload == 'Y') {
    api.Logon.ReportDownload = true;
  }
  AddTraceEntry(tlExit, "vnLogon", "Message sent");
  return VN_RC_SUCCESS;
}

LogonStruct StoredLogon(const TClassAPI& api) {
  LogonStruct logon;
  std::memset(&logon, 0, sizeof logon);
  PutFixed(logon.UserName, api.UserName.Get());
  PutFixed(logon.Password, api.GetLogonPassword());
  const bool download = api.Logon.DownloadInProgress;
  logon.FullDownload = download ? 'Y' : 'N';
  logon.ReportDownload = download && api.Logon.ReportDownload ? 'Y' : 'N';
  return logon;
}

}  // namespace vorn
