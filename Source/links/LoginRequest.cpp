#include "links/LoginRequest.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// Login flags ("Flg").
constexpr std::int32_t kFlagLiveEnvironment = 1;
constexpr std::int32_t kFlagFullDownload = 2;
constexpr std::int32_t kFlagsAlways = 4 + 8 + 16 + 32 + 64;
constexpr std::int32_t kFlagLoggedOn = 128;

// The last logon's user name when there is no logon record.
constexpr const char* kUnknownUser = "UNKNOWN";

// A text field of the logon record: up to its first NUL, at most width - 1 bytes, so a field
// without a NUL never runs into the next one.
template <std::size_t N>
std::string RecordText(const char (&field)[N]) {
  return GetFixed(field, N - 1);
}

void AddBody(TSendHostMessage& message, std::string_view name, std::string_view value) {
  message.BodyFields.AddFieldValue(name, value, -1, -1, false);
}

}  // namespace

TMMHUBLogin::TMMHUBLogin() : TSendHostMessage("3362") {}

void TMMHUBLogin::BuildFields(TClassAPI& api, const LogonStruct& logon) {
  const std::string userName = RecordText(logon.UserName);
  const std::string password = RecordText(logon.Password);
  const std::string newPassword = RecordText(logon.NewPassword);
  const bool loggedOn = api.Logon.LoggedOn;

  // A first logon, or one after orders and fills were cleared, is followed by a download.
  if (!loggedOn || api.Logon.DataCleared) api.Logon.DownloadInProgress = true;
  HeaderFields.AddFieldValue("Msg", Code(), -1, -1, false);

  std::string lastUserName = kUnknownUser;
  std::int32_t lastDate = 0;
  if (const auto last = api.UserLogons.GetLastLogon()) {
    lastUserName = last->UserName;
    lastDate = last->LastDate;
  }
  // The re-logon after a reconnect depends on it.
  api.Logon.LogonSent = true;

  AddBody(*this, "Usr", userName);
  AddBody(*this, "Pwd", password);
  AddBody(*this, "NPw", newPassword);
  if (lastDate != 0) AddBody(*this, "TrD", IntToStr(lastDate));
  AddBody(*this, "Frq", IntToStr(api.Links.HostHandshakeTimeout));
  AddBody(*this, "AID", api.ApplicationID.Get());
  AddBody(*this, "ApV", api.ApplicationVersion.Get());

  std::int32_t flags = 0;
  const char environment = api.Environment;
  if (environment == 'C' || environment == 'G') flags += kFlagLiveEnvironment;
  AddBody(*this, "CoG", "C");

  const bool fullDownload = logon.FullDownload == 'Y' || api.Logon.LogonSequence == -1 ||
                            userName != lastUserName || !api.Logon.StoreLoaded;
  if (fullDownload) {
    flags += kFlagFullDownload;
    api.Logon.LogonSequence = 0;
    api.Logon.RefSequence.Set("0");
    api.Logon.DBSequence.Set("0");
    api.Logon.DBIdentifier.Set({});
    // The contract reader must be gone before the lists it fills are emptied.
    api.StopContractData();
    api.ClearAllData();
  }

  flags += kFlagsAlways;
  if (loggedOn) flags += kFlagLoggedOn;
  AddBody(*this, "Flg", IntToStr(flags));

  AddBody(*this, "RSq", api.Logon.RefSequence.Get());
  AddBody(*this, "API", GetVersionInfoValue("ProductVersion"));
  AddBody(*this, "Seq", api.Logon.DBSequence.Get());
  AddBody(*this, "DBID", api.Logon.DBIdentifier.Get());

  api.UserName.Set(userName);
  // Kept for the re-logon: the password the host will hold once this logon is accepted. A new
  // password of blanks only is not sent (fields are trimmed), so the old one stays in force.
  api.SetLogonPassword(TrimView(newPassword).empty() ? password : newPassword);
}

void TMMHUBLogin::FillBuffer(TDynamicBuffer& buffer) {
  TTraceScope scope("TMLogin.FillBuffer");
  TSendHostMessage::FillBuffer(buffer);
}

}  // namespace vorn
