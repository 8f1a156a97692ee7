// Set-up, settings and diagnostics exports.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/LibraryProfile.h"
#include "core/diag/ClientPath.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/util/ErrorCodes.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/util/Version.h"
#include "vornintf.h"

using namespace vorn;

namespace {

std::string CharText(char c) {
  return std::string(1, c);
}

// Handshake interval 0..900; time-out at least twice the interval, at most 1800, 0 below 0.
void StoreHandshake(std::int32_t interval, std::int32_t timeout, std::atomic<std::int32_t>& period,
                    std::atomic<std::int32_t>& limit) {
  interval = std::clamp(interval, 0, 900);
  if (timeout < 0)
    timeout = 0;
  else if (timeout < 2 * interval)
    timeout = 2 * interval;
  else if (timeout > 1800)
    timeout = 1800;
  period = interval;
  limit = timeout;
}

// A host or price-feed address: traced before the object is looked for.
std::int32_t AddAddress(std::string_view routine, const char* note, bool host, const char* ip,
                        const char* port) {
  const std::string_view ipText = ArgText(ip, kAddressArgWidth),
                         portText = ArgText(port, kAddressArgWidth);
  return ObjectExport(
      routine,
      [&] {
        AddTraceEntry(tlNote, routine,
                      std::string(note) + std::string(ipText) + ", " + std::string(portText));
        TraceExportCall(routine,
                        [&] { return ": " + std::string(ipText) + "," + std::string(portText); });
      },
      [&](TClassAPI& api) {
        (host ? api.Links.HostAddresses : api.Links.PriceAddresses).AddAddress(ipText, portText);
        return VN_RC_SUCCESS;
      });
}

// Digits of a fixed-position field; anything else is a conversion error.
std::int32_t DigitsAt(std::string_view text, std::size_t start, std::size_t count) {
  std::int32_t value = 0;
  if (start >= text.size() || !TryStrToInt(text.substr(start, count), value))
    throw EConvertError("'" + std::string(text.substr(std::min(start, text.size()), count)) +
                        "' is not a valid integer value");
  return value;
}

}  // namespace

extern "C" {

VN_API int32_t VN_STDCALL vnInitialise(char Env, const char* APIVersion, const char* ApplicID,
                                       const char* ApplicVersion, const char* /*Reserved*/,
                                       uint8_t InitReset) {
  return GuardedExport(__func__, [&, routine = __func__]() -> std::int32_t {
    InitTraceRing(kTraceRingSize);
    AddTraceEntry(tlStart, routine);
    LogOffCurrentAPI();
    FreeCallbackRegistrations();
    if (!LibraryAcceptsEnvironment(Env)) return VN_RC_NOT_INITIALISED;
    std::shared_ptr<TClassAPI> api;
    try {
      api = std::make_shared<TClassAPI>();
    } catch (...) {
      return VN_RC_NOT_INITIALISED;
    }
    AttachLibraryLinks(*api);
    api->TestFlag = Env == 'T' || Env == 'g';
    api->Environment = Env;
    api->VersionMatches = ArgText(APIVersion, kLongTextArgWidth) == kInterfaceVersion;
    ExchangeAPI(api);
    OpenTraceFile();
    api->ResetRequested = InitReset != 0;
    try {
      api->StartupRepository();
    } catch (...) {
      // A half-built object is not left behind: later exports answer 1.
      LogOffCurrentAPI();
      throw;
    }
    StartCallbackThread();
    api->ApplicationID.Set(ArgString(ApplicID, kApplicationArgWidth));
    api->ApplicationVersion.Set(ArgString(ApplicVersion, kApplicationArgWidth));
    AddTraceEntry(tlExit, routine, "Done");
    return api->VersionMatches ? VN_RC_SUCCESS : VN_RC_VERSION_MISMATCH;
  });
}

VN_API int32_t VN_STDCALL vnReady(void) {
  return ObjectExport(__func__, [routine = __func__](TClassAPI& api) -> std::int32_t {
    if (!api.VersionMatches) return VN_RC_VERSION_MISMATCH;
    AddTraceEntry(tlNote, routine, "Setting connect state and enabling timer");
    if (DebugFlagOn(kDebugging | kTraceAppCalls))
      WriteTraceLine("vnReady: Starting API processing on " +
                     FormatDateTime(kShortDateFormat, Now()));
    std::int32_t result = VN_RC_SUCCESS;
    if (!CallbackRegistered(VN_CB_HOST_LINK_STATE_CHANGE) ||
        !CallbackRegistered(VN_CB_LOGON_STATUS) || !CallbackRegistered(VN_CB_FORCED_LOGOUT)) {
      result = VN_RC_CALLBACKS_NOT_SET;
    } else if (!api.CreateLinks()) {
      WriteTraceLine("vnReady: no server links in this build, none created");
    }
    TraceExportCall(routine, [&] { return IntToStr(result); });
    return result;
  });
}

VN_API int32_t VN_STDCALL vnSetHostAddress(const char* IP, const char* Port) {
  return AddAddress(__func__, "Host address = ", true, IP, Port);
}

VN_API int32_t VN_STDCALL vnSetPriceAddress(const char* IP, const char* Port) {
  return AddAddress(__func__, "Price Feed address = ", false, IP, Port);
}

VN_API int32_t VN_STDCALL vnDisconnect(void) {
  return ObjectExport(
      __func__, [routine = __func__] { AddTraceEntry(tlStart, routine, "Closing Connections"); },
      [routine = __func__](TClassAPI& api) {
        api.Subscriptions.Unsubscribetoall();
        api.Subscriptions.MarketUnsubscribetoall();
        api.FreeLinks();
        api.Logon.LoggedOn = false;
        AddTraceEntry(tlExit, routine, "Connections Closed");
        return VN_RC_SUCCESS;
      });
}

// The moment comes from fixed digit positions: yyyymmdd and hhnnsszzz.
VN_API void VN_STDCALL vnPurge(const char* Date, const char* Time) {
  ObjectVoidExport(__func__, [&](TClassAPI& api) {
    const std::string_view date = ArgText(Date, kPurgeDateArgWidth),
                           time = ArgText(Time, kPurgeTimeArgWidth);
    const TDateTime day =
        EncodeDate(DigitsAt(date, 0, 4), DigitsAt(date, 4, 2), DigitsAt(date, 6, 2));
    const TDateTime moment = day + DigitsAt(time, 0, 2) / 24.0 + DigitsAt(time, 2, 2) / 1440.0 +
                             DigitsAt(time, 4, 2) / 86400.0 + DigitsAt(time, 6, 3) / 86400000.0;
    api.Purge(moment);
  });
}

VN_API void VN_STDCALL vnSetEncryptionCode(char Code) {
  ObjectVoidExport(
      __func__,
      [&, routine = __func__] {
        AddTraceEntry(tlNote, routine, std::string(routine) + " " + CharText(Code));
      },
      [&, routine = __func__](TClassAPI& api) {
        api.Logon.EncryptionCode = Code;
        TraceExportCall(routine, [&] { return CharText(Code); });
      });
}

VN_API void VN_STDCALL vnSetClientPath(const char* Path) {
  GuardedVoidExport(__func__, [&] { SetClientPath(ArgString(Path, kClientPathArgWidth)); });
}

VN_API int32_t VN_STDCALL vnOMIEnabled(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.OMIEnabled = Flag == 'Y';
    TraceExportCall(routine, [&] { return CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnMegaHubEnabled(void) {
  return ObjectExport(__func__, [](TClassAPI&) { return VN_RC_SUCCESS; });
}

VN_API char VN_STDCALL vnKestrelEnabled(void) {
  return ObjectExportOr(__func__, 'N',
                        [](TClassAPI* api) { return api && api->Features.Kestrel ? 'Y' : 'N'; });
}

// Without an object: 0, nothing written. With one, a null record fails (99) as every other
// out argument does.
VN_API int32_t VN_STDCALL vnGetAPIBuildVersion(BuildVersionStruct* Version) {
  return ObjectExport(__func__, [&](TClassAPI* api) {
    if (!api) return VN_RC_SUCCESS;  // the record is left untouched
    RequireArgument(Version, "Version");
    PutFixed(Version->Version,
             GetVersionInfoValue("ProductVersion") + " " + GetVersionInfoValue("PrivateBuild"));
    return VN_RC_SUCCESS;
  });
}

VN_API void VN_STDCALL vnEnable(int32_t Flags) {
  GuardedVoidExport(__func__, [&] {
    static constexpr const char* kLines[8] = {
        "Debugging enabled",      "GenerateHostLog enabled",  "GeneratePriceFeedLog enabled",
        "GenerateDOMLog enabled", "GenerateOrderLog enabled", "FlushBugBuster enabled",
        "TraceAppCalls enabled",  "Debug Debugging enabled"};
    if (DebugFlagOn(kDebugging)) WriteTraceLine("Debug Level : " + IntToStr(Flags));
    for (int bit = 0; bit < 8; ++bit) {
      if (!(Flags & (1 << bit))) continue;
      EnableDebugFlags(static_cast<std::uint8_t>(1 << bit));
      WriteTraceLine(kLines[bit]);
    }
    EnableDebugFlags(0);  // extra trace detail, for good
  });
}

VN_API void VN_STDCALL vnDisable(int32_t Flags) {
  GuardedVoidExport(__func__, [&] { DisableDebugFlags(static_cast<std::uint8_t>(Flags)); });
}

VN_API void VN_STDCALL vnLogString(const char* Text) {
  GuardedVoidExport(__func__, [&] {
    WriteTraceLine("External Log: " + ArgString(Text, kLogStringArgWidth));
  });
}

VN_API const char* VN_STDCALL vnGetErrorMessage(int32_t Code) {
  return GuardedExportOr(__func__, ErrorMessage(VN_RC_UNEXPECTED_ERROR),
                         [&] { return ErrorMessage(Code); });
}

VN_API int32_t VN_STDCALL vnDumpLastError(void) {
  return GuardedExport(__func__, [] { return WriteLastErrorReport(); });
}

VN_API int32_t VN_STDCALL vnSetHostReconnect(int32_t Seconds) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.Links.HostReconnect = std::max(Seconds, 5);
    TraceExportCall(routine, [&] { return IntToStr(api.Links.HostReconnect); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPriceReconnect(int32_t Seconds) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.Links.PriceReconnect = std::max(Seconds, 5);
    TraceExportCall(routine, [&] { return IntToStr(api.Links.PriceReconnect); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPriceAgeCounter(int32_t Count) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.Monitoring.PriceAgeCounter = static_cast<std::uint8_t>(std::clamp(Count, 0, 255));
    TraceExportCall(routine, [&] { return IntToStr(api.Monitoring.PriceAgeCounter); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetHandShakePeriod(int32_t Seconds) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    const std::int32_t interval = std::clamp(Seconds, 0, 900);
    api.Links.HostHandshakePeriod = api.Links.PriceHandshakePeriod = interval;
    api.Links.HostHandshakeTimeout = api.Links.PriceHandshakeTimeout = 2 * interval;
    // The trace line names it vnSetHandShake.
    TraceAppCall([&] { return "vnSetHandShake " + IntToStr(interval); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetHostHandShake(int32_t Interval, int32_t TimeOut) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    StoreHandshake(Interval, TimeOut, api.Links.HostHandshakePeriod,
                   api.Links.HostHandshakeTimeout);
    TraceExportCall(routine, [&] {
      return "- Interval=" + IntToStr(api.Links.HostHandshakePeriod) +
             " Time Out=" + IntToStr(api.Links.HostHandshakeTimeout);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPriceHandShake(int32_t Interval, int32_t TimeOut) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    StoreHandshake(Interval, TimeOut, api.Links.PriceHandshakePeriod,
                   api.Links.PriceHandshakeTimeout);
    TraceExportCall(routine, [&] {
      return "- Interval=" + IntToStr(api.Links.PriceHandshakePeriod) +
             " Time Out=" + IntToStr(api.Links.PriceHandshakeTimeout);
    });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetInternetUser(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.InternetUser = Flag == 'Y';
    TraceExportCall(routine, [&] { return CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnNotifyAllMessages(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.NotifyAllMessages = Flag == 'Y';
    TraceAppCall([&] { return std::string(routine) + ": " + CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

// The three failure delays write no trace line.
VN_API int32_t VN_STDCALL vnSetOrderCancelFailureDelay(int32_t Seconds) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    api.Monitoring.CancelFailureDelay = std::clamp(Seconds, 0, 3600);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetOrderSentFailureDelay(int32_t Seconds) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    api.Monitoring.SentFailureDelay = std::clamp(Seconds, 0, 3600);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetOrderQueuedFailureDelay(int32_t Seconds) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    api.Monitoring.QueuedFailureDelay = std::clamp(Seconds, 0, 3600);
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetMemoryWarning(int32_t Percent) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.Monitoring.MemoryWarningThreshold = Percent;
    TraceExportCall(routine, [&] { return IntToStr(Percent); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetSSL(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.SetSSL(Flag == 'Y');
    TraceExportCall(routine, [&] { return CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSL(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.SetPDDSSL(Flag == 'Y');
    TraceExportCall(routine, [&] { return CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetMegaHub(char Flag) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.SetMegaHub(Flag == 'Y');
    TraceExportCall(routine, [&] { return CharText(Flag); });
    return VN_RC_SUCCESS;
  });
}

// The token itself is not traced: the line is the routine and a blank.
VN_API int32_t VN_STDCALL vnSetMDSToken(const char* Token) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    api.SetMDSToken(ArgText(Token, kLongTextArgWidth));
    TraceExportCall(routine, [] { return ""; });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetSSLCertificateName(const char* Name) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string_view name = ArgText(Name, kSSLNameArgWidth);
    api.SetCertName(name);
    TraceExportCall(routine, [&] { return name; });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSLCertificateName(const char* Name) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string_view name = ArgText(Name, kSSLNameArgWidth);
    api.SetPDDCertName(name);
    TraceExportCall(routine, [&] { return name; });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetSSLClientAuthName(const char* Name) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string_view name = ArgText(Name, kSSLNameArgWidth);
    api.SetClientAuthName(name);
    TraceExportCall(routine, [&] { return name; });
    return VN_RC_SUCCESS;
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSLClientAuthName(const char* Name) {
  return ObjectExport(__func__, [&, routine = __func__](TClassAPI& api) {
    const std::string_view name = ArgText(Name, kSSLNameArgWidth);
    api.SetPDDClientAuthName(name);
    TraceExportCall(routine, [&] { return name; });
    return VN_RC_SUCCESS;
  });
}

}  // extern "C"
