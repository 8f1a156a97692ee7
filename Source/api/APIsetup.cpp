// Set-up, settings and diagnostics exports.

#include <algorithm>
#include <cstring>

#include "api/APIobject.h"
#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "core/diag/ClientPath.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/DateTime.h"
#include "core/util/ErrorCodes.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/util/Version.h"
#include "links/LinkLayer.h"
#include "vornintf.h"

using namespace vorn;

namespace {

constexpr std::size_t kMaxApplicationText = 20;
constexpr std::size_t kMaxLogStringText = 251;

bool ValidEnvironment(char env) {
  return env == 'C' || env == 'G' || env == 'T' || env == 'g';
}

std::string CharText(char c) {
  return std::string(1, c);
}

// A setting export: 1 without an API object, else stores through apply and returns 0; with
// TraceAppCalls on, writes the line apply returns (none when it is empty).
template <class Apply>
std::int32_t Setting(const char* exportName, Apply apply) {
  return GuardedExport(exportName, [&]() -> std::int32_t {
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    const std::string line = apply(*api);
    if (!line.empty()) TraceAppCall(line);
    return VN_RC_SUCCESS;
  });
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

std::int32_t AddAddress(const char* exportName, const char* note, bool host, const char* ip,
                        const char* port) {
  return GuardedExport(exportName, [&]() -> std::int32_t {
    const std::string_view ipText = ArgText(ip), portText = ArgText(port);
    AddTraceEntry(tlNote, exportName,
                  std::string(note) + std::string(ipText) + ", " + std::string(portText));
    TraceAppCall(std::string(exportName) + " : " + std::string(ipText) + "," +
                 std::string(portText));
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    (host ? api->HostAddresses : api->PriceAddresses).AddAddress(ipText, portText);
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
  return GuardedExport("vnInitialise", [&]() -> std::int32_t {
    InitTraceRing(kTraceRingSize);
    AddTraceEntry(tlStart, "vnInitialise");
    LogOffCurrentAPI();
    FreeCallbackRegistrations();
    if (!ValidEnvironment(Env)) return VN_RC_NOT_INITIALISED;
    std::shared_ptr<TClassAPI> api;
    try {
      api = std::make_shared<TClassAPI>();
    } catch (...) {
      return VN_RC_NOT_INITIALISED;
    }
    InstallLinkLayer();
    AttachLinkLayer(*api);
    api->TestFlag = Env == 'T' || Env == 'g';
    api->Environment = Env;
    api->VersionMatches = ArgText(APIVersion) == kInterfaceVersion;
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
    api->ApplicationID.Set(std::string(ArgText(ApplicID).substr(0, kMaxApplicationText)));
    api->ApplicationVersion.Set(std::string(ArgText(ApplicVersion).substr(0, kMaxApplicationText)));
    AddTraceEntry(tlExit, "vnInitialise", "Done");
    return api->VersionMatches ? VN_RC_SUCCESS : VN_RC_VERSION_MISMATCH;
  });
}

VN_API int32_t VN_STDCALL vnReady(void) {
  return GuardedExport("vnReady", []() -> std::int32_t {
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    if (!api->VersionMatches) return VN_RC_VERSION_MISMATCH;
    AddTraceEntry(tlNote, "vnReady", "Setting connect state and enabling timer");
    if (DebugFlagOn(kDebugging | kTraceAppCalls))
      WriteTraceLine("vnReady: Starting API processing on " +
                     FormatDateTime(kShortDateFormat, Now()));
    std::int32_t result = VN_RC_SUCCESS;
    if (!CallbackRegistered(VN_CB_HOST_LINK_STATE_CHANGE) ||
        !CallbackRegistered(VN_CB_LOGON_STATUS) || !CallbackRegistered(VN_CB_FORCED_LOGOUT)) {
      result = VN_RC_CALLBACKS_NOT_SET;
    } else if (!api->CreateLinks()) {
      WriteTraceLine("vnReady: no server links in this build, none created");
    }
    TraceAppCall("vnReady " + IntToStr(result));
    return result;
  });
}

VN_API int32_t VN_STDCALL vnSetHostAddress(const char* IP, const char* Port) {
  return AddAddress("vnSetHostAddress", "Host address = ", true, IP, Port);
}

VN_API int32_t VN_STDCALL vnSetPriceAddress(const char* IP, const char* Port) {
  return AddAddress("vnSetPriceAddress", "Price Feed address = ", false, IP, Port);
}

VN_API int32_t VN_STDCALL vnDisconnect(void) {
  return GuardedExport("vnDisconnect", []() -> std::int32_t {
    AddTraceEntry(tlStart, "vnDisconnect", "Closing Connections");
    const auto api = API();
    if (!api) return VN_RC_NOT_INITIALISED;
    api->Subscriptions.Unsubscribetoall();
    api->Subscriptions.MarketUnsubscribetoall();
    api->FreeLinks();
    api->LoggedOn = false;
    AddTraceEntry(tlExit, "vnDisconnect", "Connections Closed");
    return VN_RC_SUCCESS;
  });
}

// The moment comes from fixed digit positions: yyyymmdd and hhnnsszzz.
VN_API void VN_STDCALL vnPurge(const char* Date, const char* Time) {
  GuardedVoidExport("vnPurge", [&] {
    const auto api = API();
    if (!api) return;
    const std::string_view date = ArgText(Date), time = ArgText(Time);
    const TDateTime day =
        EncodeDate(DigitsAt(date, 0, 4), DigitsAt(date, 4, 2), DigitsAt(date, 6, 2));
    const TDateTime moment = day + DigitsAt(time, 0, 2) / 24.0 + DigitsAt(time, 2, 2) / 1440.0 +
                             DigitsAt(time, 4, 2) / 86400.0 + DigitsAt(time, 6, 3) / 86400000.0;
    api->Purge(moment);
  });
}

VN_API void VN_STDCALL vnSetEncryptionCode(char Code) {
  GuardedVoidExport("vnSetEncryptionCode", [&] {
    AddTraceEntry(tlNote, "vnSetEncryptionCode", "vnSetEncryptionCode " + CharText(Code));
    const auto api = API();
    if (!api) return;
    api->EncryptionCode = Code;
    TraceAppCall("vnSetEncryptionCode " + CharText(Code));
  });
}

VN_API void VN_STDCALL vnSetClientPath(const char* Path) {
  GuardedVoidExport("vnSetClientPath", [&] { SetClientPath(std::string(ArgText(Path))); });
}

VN_API int32_t VN_STDCALL vnOMIEnabled(char Flag) {
  return Setting("vnOMIEnabled", [&](TClassAPI& api) {
    api.OMIEnabled = Flag == 'Y';
    return "vnOMIEnabled " + CharText(Flag);
  });
}

VN_API int32_t VN_STDCALL vnMegaHubEnabled(void) {
  return API() ? VN_RC_SUCCESS : VN_RC_NOT_INITIALISED;
}

VN_API char VN_STDCALL vnKestrelEnabled(void) {
  return GuardedExportOr("vnKestrelEnabled", 'N', [] {
    const auto api = API();
    return api && api->Kestrel ? 'Y' : 'N';
  });
}

VN_API int32_t VN_STDCALL vnGetAPIBuildVersion(BuildVersionStruct* Version) {
  return GuardedExport("vnGetAPIBuildVersion", [&]() -> std::int32_t {
    if (API() && Version)
      PutFixed(Version->Version,
               GetVersionInfoValue("ProductVersion") + " " + GetVersionInfoValue("PrivateBuild"));
    return VN_RC_SUCCESS;
  });
}

VN_API void VN_STDCALL vnEnable(int32_t Flags) {
  GuardedVoidExport("vnEnable", [&] {
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
  GuardedVoidExport("vnDisable", [&] { DisableDebugFlags(static_cast<std::uint8_t>(Flags)); });
}

VN_API void VN_STDCALL vnLogString(const char* Text) {
  GuardedVoidExport("vnLogString", [&] {
    WriteTraceLine("External Log: " + std::string(ArgText(Text).substr(0, kMaxLogStringText)));
  });
}

VN_API const char* VN_STDCALL vnGetErrorMessage(int32_t Code) {
  return ErrorMessage(Code);
}

VN_API int32_t VN_STDCALL vnDumpLastError(void) {
  return GuardedExport("vnDumpLastError", [] { return WriteLastErrorReport(); });
}

VN_API int32_t VN_STDCALL vnSetHostReconnect(int32_t Seconds) {
  return Setting("vnSetHostReconnect", [&](TClassAPI& api) {
    api.HostReconnect = std::max(Seconds, 5);
    return "vnSetHostReconnect " + IntToStr(api.HostReconnect);
  });
}

VN_API int32_t VN_STDCALL vnSetPriceReconnect(int32_t Seconds) {
  return Setting("vnSetPriceReconnect", [&](TClassAPI& api) {
    api.PriceReconnect = std::max(Seconds, 5);
    return "vnSetPriceReconnect " + IntToStr(api.PriceReconnect);
  });
}

VN_API int32_t VN_STDCALL vnSetPriceAgeCounter(int32_t Count) {
  return Setting("vnSetPriceAgeCounter", [&](TClassAPI& api) {
    api.PriceAgeCounter = static_cast<std::uint8_t>(std::clamp(Count, 0, 255));
    return "vnSetPriceAgeCounter " + IntToStr(api.PriceAgeCounter);
  });
}

VN_API int32_t VN_STDCALL vnSetHandShakePeriod(int32_t Seconds) {
  return Setting("vnSetHandShakePeriod", [&](TClassAPI& api) {
    const std::int32_t interval = std::clamp(Seconds, 0, 900);
    api.HostHandshakePeriod = api.PriceHandshakePeriod = interval;
    api.HostHandshakeTimeout = api.PriceHandshakeTimeout = 2 * interval;
    return "vnSetHandShake " + IntToStr(interval);
  });
}

VN_API int32_t VN_STDCALL vnSetHostHandShake(int32_t Interval, int32_t TimeOut) {
  return Setting("vnSetHostHandShake", [&](TClassAPI& api) {
    StoreHandshake(Interval, TimeOut, api.HostHandshakePeriod, api.HostHandshakeTimeout);
    return "vnSetHostHandShake - Interval=" + IntToStr(api.HostHandshakePeriod) +
           " Time Out=" + IntToStr(api.HostHandshakeTimeout);
  });
}

VN_API int32_t VN_STDCALL vnSetPriceHandShake(int32_t Interval, int32_t TimeOut) {
  return Setting("vnSetPriceHandShake", [&](TClassAPI& api) {
    StoreHandshake(Interval, TimeOut, api.PriceHandshakePeriod, api.PriceHandshakeTimeout);
    return "vnSetPriceHandShake - Interval=" + IntToStr(api.PriceHandshakePeriod) +
           " Time Out=" + IntToStr(api.PriceHandshakeTimeout);
  });
}

VN_API int32_t VN_STDCALL vnSetInternetUser(char Flag) {
  return Setting("vnSetInternetUser", [&](TClassAPI& api) {
    api.InternetUser = Flag == 'Y';
    return "vnSetInternetUser " + CharText(Flag);
  });
}

VN_API int32_t VN_STDCALL vnNotifyAllMessages(char Flag) {
  return Setting("vnNotifyAllMessages", [&](TClassAPI& api) {
    api.NotifyAllMessages = Flag == 'Y';
    return "vnNotifyAllMessages: " + CharText(Flag);
  });
}

// The three failure delays write no trace line.
VN_API int32_t VN_STDCALL vnSetOrderCancelFailureDelay(int32_t Seconds) {
  return Setting("vnSetOrderCancelFailureDelay", [&](TClassAPI& api) {
    api.CancelFailureDelay = std::clamp(Seconds, 0, 3600);
    return std::string();
  });
}

VN_API int32_t VN_STDCALL vnSetOrderSentFailureDelay(int32_t Seconds) {
  return Setting("vnSetOrderSentFailureDelay", [&](TClassAPI& api) {
    api.SentFailureDelay = std::clamp(Seconds, 0, 3600);
    return std::string();
  });
}

VN_API int32_t VN_STDCALL vnSetOrderQueuedFailureDelay(int32_t Seconds) {
  return Setting("vnSetOrderQueuedFailureDelay", [&](TClassAPI& api) {
    api.QueuedFailureDelay = std::clamp(Seconds, 0, 3600);
    return std::string();
  });
}

VN_API int32_t VN_STDCALL vnSetMemoryWarning(int32_t Percent) {
  return Setting("vnSetMemoryWarning", [&](TClassAPI& api) {
    api.MemoryWarningThreshold = Percent;
    return "vnSetMemoryWarning " + IntToStr(Percent);
  });
}

VN_API int32_t VN_STDCALL vnSetSSL(char Flag) {
  return Setting("vnSetSSL", [&](TClassAPI& api) {
    api.SetSSL(Flag == 'Y');
    return "vnSetSSL " + CharText(Flag);
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSL(char Flag) {
  return Setting("vnSetPDDSSL", [&](TClassAPI& api) {
    api.SetPDDSSL(Flag == 'Y');
    return "vnSetPDDSSL " + CharText(Flag);
  });
}

VN_API int32_t VN_STDCALL vnSetMegaHub(char Flag) {
  return Setting("vnSetMegaHub", [&](TClassAPI& api) {
    api.SetMegaHub(Flag == 'Y');
    return "vnSetMegaHub " + CharText(Flag);
  });
}

VN_API int32_t VN_STDCALL vnSetMDSToken(const char* Token) {
  return Setting("vnSetMDSToken", [&](TClassAPI& api) {
    api.SetMDSToken(ArgText(Token));
    return std::string("vnSetMDSToken ");
  });
}

VN_API int32_t VN_STDCALL vnSetSSLCertificateName(const char* Name) {
  return Setting("vnSetSSLCertificateName", [&](TClassAPI& api) {
    api.SetCertName(ArgText(Name).substr(0, 50));
    return "vnSetSSLCertificateName " + std::string(ArgText(Name));
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSLCertificateName(const char* Name) {
  return Setting("vnSetPDDSSLCertificateName", [&](TClassAPI& api) {
    api.SetPDDCertName(ArgText(Name).substr(0, 50));
    return "vnSetPDDSSLCertificateName " + std::string(ArgText(Name));
  });
}

VN_API int32_t VN_STDCALL vnSetSSLClientAuthName(const char* Name) {
  return Setting("vnSetSSLClientAuthName", [&](TClassAPI& api) {
    api.SetClientAuthName(ArgText(Name).substr(0, 50));
    return "vnSetSSLClientAuthName " + std::string(ArgText(Name));
  });
}

VN_API int32_t VN_STDCALL vnSetPDDSSLClientAuthName(const char* Name) {
  return Setting("vnSetPDDSSLClientAuthName", [&](TClassAPI& api) {
    api.SetPDDClientAuthName(ArgText(Name).substr(0, 50));
    return "vnSetPDDSSLClientAuthName " + std::string(ArgText(Name));
  });
}

}  // extern "C"
