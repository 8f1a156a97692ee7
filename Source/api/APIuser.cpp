// Logon, logoff, the logon status and the host's user messages.

#include <cstring>
#include <mutex>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/UserMessage.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/HostRequests.h"
#include "links/LogOn.h"
#include "links/LoginStatus.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"
#include "vornintf.h"

namespace vorn {
namespace {

// The unload handling takes it after static objects of the process are gone.
TProcessWide<std::recursive_mutex> logOffLock;
std::recursive_mutex& LogOffLock() {
  return logOffLock.Get();
}

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

// The logoff request and the logon history of a logged-on object.
void EndSession(TClassAPI& api) {
  if (!api.LoggedOn) return;
  if (const auto link = api.GetLink(psHost); link && link->Connected()) {
    if (DebugFlagOn(kDebugging)) WriteTraceLine("vnLogOff - sending log off message");
    TMMHUBLogOff request;
    link->Send(request);
  }
  if (DebugFlagOn(kDebugging)) WriteTraceLine("vnLogOff - saving data");
  if (const auto last = api.UserLogons.GetLastLogon()) {
    last->DBSequence = api.DBSequence.Get();
    last->RefSequence = api.RefSequence.Get();
    api.UserLogons.Save();
  }
}

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

void TraceMessage(const char* name, const MessageStruct& record) {
  if (TracingAppCalls())
    WriteTraceLine(std::string(name) + GetFixed(record.MsgID) + " " + record.IsAlert + " " +
                   GetFixed(record.MsgText));
}

}  // namespace

std::shared_ptr<TClassAPI> ReadyAPI(std::int32_t& result) {
  auto api = API();
  result = api ? api->CheckReadyState() : VN_RC_NOT_INITIALISED;
  return result == VN_RC_SUCCESS ? api : nullptr;
}

std::int32_t LogOffCurrentAPI() {
  std::unique_lock lock(LogOffLock(), std::defer_lock);
  if (OnCallbackThread()) {
    if (!lock.try_lock()) return VN_RC_NOT_INITIALISED;
  } else {
    lock.lock();
  }
  AddTraceEntry(tlStart, "vnLogoff", "Started");
  const std::shared_ptr<TClassAPI> api = ExchangeAPI(nullptr);
  if (!api) return VN_RC_NOT_INITIALISED;
  EndSession(*api);
  api->UUIDMessages.Stop();
  api->Shutdown();
  AddTraceEntry(tlExit, "vnLogoff", "Message sent");
  return VN_RC_SUCCESS;
}

}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnLogOn(LogonStruct* Logon) {
  return GuardedExport("vnLogOn", [&]() -> std::int32_t {
    TraceAppCall("vnLogOn");
    AddTraceEntry(tlStart, "vnLogon", "Started");
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    RequireArgument(Logon, "Logon");
    return DoLogOn(*api, *Logon, false);
  });
}

VN_API int32_t VN_STDCALL vnLogOff(void) {
  return GuardedExport("vnLogOff", []() -> std::int32_t {
    TraceAppCall("vnLogOff - start: Thread ID = " + Hex8(CurrentThreadId()));
    const std::int32_t result = LogOffCurrentAPI();
    TraceAppCall("vnLogOff Complete");
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetLogonStatus(LogonStatusStruct* Status) {
  return GuardedExport("vnGetLogonStatus", [&]() -> std::int32_t {
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    RequireArgument(Status, "Status");
    LogonStatusStruct& record = *Status;
    record.Status = static_cast<std::uint8_t>(api->LogonStatus.load());
    PutFixed(record.StatusText, api->LogonText.Get());
    PutFixed(record.TraderAccount, api->LogonTraderAccount.Get());
    record.TextFlag = YesNo(api->LogonTextFlag);
    record.PostTradeAmend = YesNo(api->PostTradeAmend);
    PutFixed(record.UserName, api->UserName.Get());
    record.GTOK = YesNo(api->GTOKFlag);
    TraceAppCall("vnGetLogonStatus " + IntToStr(record.Status) + " " + GetFixed(record.StatusText) +
                 " " + GetFixed(record.TraderAccount));
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnDOMEnabled(void) {
  return GuardedExport("vnDOMEnabled", []() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    result = api->DOMEnabled ? VN_RC_SUCCESS : VN_RC_NOT_ENABLED;
    TraceAppCall("vnDOMEnabled result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnPostTradeAmendEnabled(void) {
  return GuardedExport("vnPostTradeAmendEnabled", []() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    result = api->PostTradeAmend ? VN_RC_SUCCESS : VN_RC_NOT_ENABLED;
    TraceAppCall("vnPostTradeAmendEnabled Result=" + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnEnabledFunctionality(int32_t* Features, int32_t* Roles) {
  return GuardedExport("vnEnabledFunctionality", [&]() -> std::int32_t {
    WriteTraceLine("vnEnabledFunctionality");
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Features, "Features");
    RequireArgument(Roles, "Roles");
    EnabledFunctionality(*api, *Features, *Roles);
    for (int role = 1; role <= 4; ++role)
      WriteTraceLine("EnableClientRole" + IntToStr(role) +
                     " := " + YesNo((*Roles & (1 << (role - 1))) != 0));
    WriteTraceLine("SoftwareEnabled^ := " + IntToStr(*Roles));
    WriteTraceLine("vnEnabledFunctionality2");
    WriteTraceLine("vnEnabledFunctionality3");
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnCountUsrMsgs(int32_t* Count) {
  return GuardedExport("vnCountUsrMsgs", [&]() -> std::int32_t {
    RequireArgument(Count, "Count");
    *Count = 0;
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    *Count = api->UserMessages.Count();
    TraceAppCall("vnCountUsrMsgs " + IntToStr(*Count));
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetUsrMsg(int32_t Index, MessageStruct* Msg) {
  return GuardedExport("vnGetUsrMsg", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Msg, "Msg");
    std::memset(Msg, 0, sizeof *Msg);
    {
      TIndexListLock guard(api->UserMessages);
      if (Index < 0 || Index >= api->UserMessages.Count()) return VN_RC_INVALID_INDEX;
      const auto message = api->UserMessages.At(Index);
      if (!message) return VN_RC_INVALID_INDEX;
      WriteMessage(*message, *Msg);
    }
    TraceMessage("vnGetUsrMsg ", *Msg);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnGetUsrMsgByID(const char* MsgID, MessageStruct* Msg) {
  return GuardedExport("vnGetUsrMsgByID", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    RequireArgument(Msg, "Msg");
    {
      TIndexListLock guard(api->UserMessages);
      if (api->UserMessages.Count() == 0) return VN_RC_NO_DATA;
      const auto message = api->UserMessages.FindMessage(ArgText(MsgID, 10));
      std::memset(Msg, 0, sizeof *Msg);
      if (!message) return VN_RC_MSG_ID_NOT_FOUND;
      WriteMessage(*message, *Msg);
    }
    TraceMessage("vnGetUsrMsgByID ", *Msg);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnAcknowledgeUsrMsg(const char* MsgID) {
  return GuardedExport("vnAcknowledgeUsrMsg", [&]() -> std::int32_t {
    std::int32_t result = VN_RC_SUCCESS;
    const auto api = ReadyAPI(result);
    if (!api) return result;
    const std::string id(ArgText(MsgID, 10));
    TraceAppCall("vnAcknowledgeUsrMsg " + id);
    std::int32_t sequence = 0;
    {
      TIndexListLock guard(api->UserMessages);
      const auto message = api->UserMessages.FindMessage(id);
      if (!message) return VN_RC_MSG_ID_NOT_FOUND;
      message->Status = altCleared;
      if (!TryStrToInt(Trim(message->Sequence()), sequence)) sequence = 0;
    }
    // Locally made messages (ids of 0 and below) are only cleared.
    if (sequence > 0) {
      TMMHUBUserMessageAckn request(sequence, api->UserName.Get());
      api->SendOnLink(request, psHost);
    }
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
