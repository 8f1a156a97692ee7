#include "api/UserRecords.h"

#include <cstring>

#include "api/ExportArguments.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

char AlertLetter(TAlert alert) {
  switch (alert) {
    case alNormal:
      return VN_MSG_NORMAL;
    case alAlert:
      return VN_MSG_ALERT;
    case alSuppress:
      return VN_MSG_SUPPRESS;
    default:
      return ' ';
  }
}

char StatusLetter(TAlertStatus status) {
  switch (status) {
    case altPending:
      return VN_MSG_PENDING;
    case altCleared:
      return VN_MSG_CLEARED;
    default:
      return ' ';
  }
}

// Under the user-message list's lock.
void WriteMessage(const TUserMessage& message, MessageStruct& record) {
  PutFixed(record.MsgID, message.Sequence());
  PutFixed(record.MsgText, message.Content);
  record.IsAlert = AlertLetter(message.IsAlert);
  record.Status = StatusLetter(message.Status);
}

}  // namespace

void WriteLogonStatus(const TClassAPI& api, LogonStatusStruct& record) {
  record.Status = static_cast<std::uint8_t>(api.Logon.LogonStatus.load());
  PutFixed(record.StatusText, api.Logon.LogonText.Get());
  PutFixed(record.TraderAccount, api.Logon.LogonTraderAccount.Get());
  record.TextFlag = YesNo(api.Logon.LogonTextFlag);
  record.PostTradeAmend = YesNo(api.Features.PostTradeAmend);
  PutFixed(record.UserName, api.UserName.Get());
  record.GTOK = YesNo(api.Logon.GTOKFlag);
}

std::int32_t CopyUserMessageAt(const TUserMessageQ& messages, std::int32_t index,
                               MessageStruct& record) {
  std::memset(&record, 0, sizeof record);
  TIndexListLock guard(messages);
  if (index < 0 || index >= messages.Count()) return VN_RC_INVALID_INDEX;
  const auto message = messages.At(index);
  if (!message) return VN_RC_INVALID_INDEX;
  WriteMessage(*message, record);
  return VN_RC_SUCCESS;
}

std::int32_t CopyUserMessageByID(const TUserMessageQ& messages, std::string_view id,
                                 MessageStruct& record) {
  TIndexListLock guard(messages);
  if (messages.Count() == 0) return VN_RC_NO_DATA;
  const auto message = messages.FindMessage(id);
  std::memset(&record, 0, sizeof record);
  if (!message) return VN_RC_MSG_ID_NOT_FOUND;
  WriteMessage(*message, record);
  return VN_RC_SUCCESS;
}

std::optional<std::int32_t> ClearUserMessage(const TUserMessageQ& messages, std::string_view id) {
  TIndexListLock guard(messages);
  const auto message = messages.FindMessage(id);
  if (!message) return std::nullopt;
  message->Status = altCleared;
  std::int32_t sequence = 0;
  if (!TryStrToInt(Trim(message->Sequence()), sequence)) sequence = 0;
  return sequence;
}

}  // namespace vorn
