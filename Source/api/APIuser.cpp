// Logon, logoff, the logon status and the host's user messages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/UserRecords.h"
#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/HostRequests.h"
#include "links/LogOn.h"
#include "platform/Thread.h"
#include "vornintf.h"

namespace vorn {
namespace {

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

// The trace line of a message read: its ID, alert letter and text.
void TraceMessage(std::string_view routine, const MessageStruct& record) {
  TraceExportCall(routine, [&] {
    return GetFixed(record.MsgID) + " " + record.IsAlert + " " + GetFixed(record.MsgText);
  });
}

}  // namespace
}  // namespace vorn

using namespace vorn;

extern "C" {

VN_API int32_t VN_STDCALL vnLogOn(LogonStruct* Logon) {
  return ObjectExport(
      __func__,
      [routine = __func__] {
        TraceAppCall(routine);
        AddTraceEntry(tlStart, "vnLogon", "Started");  // the ring spells it so
      },
      [&](TClassAPI& api) {
        RequireArgument(Logon, "Logon");
        return DoLogOn(api, *Logon, false);
      });
}

VN_API int32_t VN_STDCALL vnLogOff(void) {
  return GuardedExport(__func__, [routine = __func__] {
    TraceExportCall(routine, [] { return "- start: Thread ID = " + Hex8(CurrentThreadId()); });
    const std::int32_t result = LogOffCurrentAPI();
    TraceExportCall(routine, [] { return "Complete"; });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetLogonStatus(LogonStatusStruct* Status) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Status, "Status");
    WriteLogonStatus(api, *Status);
    TraceExportCall(routine, [&] {
      return IntToStr(Status->Status) + " " + GetFixed(Status->StatusText) + " " +
             GetFixed(Status->TraderAccount);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnDOMEnabled(void) {
  return ReadyExport(__func__, [routine = __func__](TClassAPI& api) {
    const std::int32_t result = api.Features.DOMEnabled ? VN_RC_SUCCESS : VN_RC_NOT_ENABLED;
    TraceExportCall(routine, [&] { return "result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnPostTradeAmendEnabled(void) {
  return ReadyExport(__func__, [routine = __func__](TClassAPI& api) {
    const std::int32_t result = api.Features.PostTradeAmend ? VN_RC_SUCCESS : VN_RC_NOT_ENABLED;
    TraceExportCall(routine, [&] { return "Result=" + IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnEnabledFunctionality(int32_t* Features, int32_t* Roles) {
  return ReadyExport(
      __func__, [] { WriteTraceLine("vnEnabledFunctionality"); },
      [&](TClassAPI& api) {
        RequireArgument(Features, "Features");
        RequireArgument(Roles, "Roles");
        EnabledFunctionality(api.Features, *Features, *Roles);
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
  return ReadyExport(
      __func__, [&] { ClearCount(Count); },
      [&, routine = __func__](TClassAPI& api) {
        *Count = api.UserMessages.Count();
        TraceExportCall(routine, [&] { return IntToStr(*Count); });
        return VN_RC_SUCCESS;
      });
}

VN_API int32_t VN_STDCALL vnGetUsrMsg(int32_t Index, MessageStruct* Msg) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Msg, "Msg");
    const std::int32_t result = CopyUserMessageAt(api.UserMessages, Index, *Msg);
    if (result == VN_RC_SUCCESS) TraceMessage(routine, *Msg);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnGetUsrMsgByID(const char* MsgID, MessageStruct* Msg) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) {
    RequireArgument(Msg, "Msg");
    const std::int32_t result = CopyUserMessageByID(api.UserMessages, ArgText(MsgID, 10), *Msg);
    if (result == VN_RC_SUCCESS) TraceMessage(routine, *Msg);
    return result;
  });
}

VN_API int32_t VN_STDCALL vnAcknowledgeUsrMsg(const char* MsgID) {
  return ReadyExport(__func__, [&, routine = __func__](TClassAPI& api) -> std::int32_t {
    const std::string id(ArgText(MsgID, 10));
    TraceExportCall(routine, [&] { return id; });
    const std::optional<std::int32_t> sequence = ClearUserMessage(api.UserMessages, id);
    if (!sequence) return VN_RC_MSG_ID_NOT_FOUND;
    // Locally made messages (ids of 0 and below) are only cleared.
    if (*sequence > 0) {
      TMMHUBUserMessageAckn request(*sequence, api.UserName.Get());
      api.SendOnLink(request, psHost);
    }
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
