#include "vornjni/core/Session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/Module.h"

namespace vorn::bridge {

namespace {

void Post(std::int32_t id, const void* payload) noexcept {
  try {
    EventQueue().Add(id, payload, static_cast<std::size_t>(PayloadSize(id)));
  } catch (const std::exception& error) {
    LogBridgeError(error.what());
  } catch (...) {
    LogBridgeError("event " + std::to_string(id) + " not queued");
  }
}

// The event procedures run on the API's callback thread: they only copy into the queue.
template <std::int32_t Id, typename Record>
void VN_STDCALL OnRecord(const Record* record) {
  Post(Id, record);
}

template <std::int32_t Id>
void VN_STDCALL OnNotify() {
  Post(Id, nullptr);
}

// The two procedures that ask the API for more hold the library only if they can get it at
// once: an unload in progress (which may be joining this very thread) drops the event instead.
void VN_STDCALL OnLogonStatus() {
  try {
    std::uint8_t payload[sizeof(LogonStatusStruct) + 2] = {};
    {
      const auto lock = APILibrary().TryShare();
      if (!lock.owns_lock() || !APILibrary().Loaded()) return;
      const TAPITable& api = APILibrary().Table();
      LogonStatusStruct status{};
      api.vnGetLogonStatus(&status);
      std::memcpy(payload, &status, sizeof status);
      payload[sizeof status] = api.vnDOMEnabled() == 0 ? 1 : 0;
      payload[sizeof status + 1] = api.vnPostTradeAmendEnabled() == 0 ? 1 : 0;
    }
    Post(VN_CB_LOGON_STATUS, payload);
  } catch (...) {
    LogBridgeError("logon status event not queued");
  }
}

void VN_STDCALL OnUserMessage(const char* messageId) {
  try {
    MessageStruct message{};
    {
      const auto lock = APILibrary().TryShare();
      if (!lock.owns_lock() || !APILibrary().Loaded() || !messageId) return;
      if (APILibrary().Table().vnGetUsrMsgByID(messageId, &message) != 0) return;
    }
    Post(VN_CB_MESSAGE, &message);
  } catch (...) {
    LogBridgeError("user message event not queued");
  }
}

struct TRegistration {
  std::int32_t Id;
  std::int32_t (*Register)(const TAPITable& api);
};

#define VN_RECORD(id, exportName, Record) \
  {id, [](const TAPITable& api) { return api.exportName(id, &OnRecord<id, Record>); }}
#define VN_NOTIFY(id) {id, [](const TAPITable& api) { return api.vnRegisterCallback(id, &OnNotify<id>); }}

// In the order initialise registers them; 14 only with conStatus.
const TRegistration kRegistrations[] = {
    VN_RECORD(1, vnRegisterLinkStateCallback, LinkStateStruct),
    VN_RECORD(2, vnRegisterLinkStateCallback, LinkStateStruct),
    VN_RECORD(8, vnRegisterPriceCallback, ContractKeyStruct),
    VN_RECORD(27, vnRegisterBlankPriceCallback, ContractKeyStruct),
    VN_RECORD(26, vnRegisterGenericPriceCallback, GenericPriceUpdateStruct),
    VN_RECORD(21, vnRegisterDOMCallback, ContractKeyStruct),
    VN_RECORD(22, vnRegisterSettlementCallback, SettlementStruct),
    VN_RECORD(16, vnRegisterAtBestCallback, ContractKeyStruct),
    VN_RECORD(19, vnRegisterSubscriberDepthCallback, ContractKeyStruct),
    VN_RECORD(10, vnRegisterStatusCallback, ContractStatusStruct),
    VN_RECORD(5, vnRegisterOrderCallback, OrderUpdateStruct),
    VN_RECORD(38, vnRegisterOrderTypeUpdateCallback, OrderTypeStruct),
    VN_RECORD(9, vnRegisterFillCallback, FillUpdateStruct),
    {4, [](const TAPITable& api) { return api.vnRegisterMsgCallback(4, &OnUserMessage); }},
    VN_RECORD(11, vnRegisterContractCallback, ContractKeyStruct),
    VN_RECORD(12, vnRegisterContractCallback, ContractKeyStruct),
    VN_RECORD(33, vnRegisterContractCallback, ContractKeyStruct),
    VN_RECORD(32, vnRegisterCommodityCallback, ExchangeCommodityStruct),
    VN_RECORD(31, vnRegisterExchangeCallback, char),
    VN_RECORD(36, vnRegisterExchangeCallback, char),
    VN_NOTIFY(7),
    {3, [](const TAPITable& api) { return api.vnRegisterCallback(3, &OnLogonStatus); }},
    VN_NOTIFY(6),
    VN_RECORD(13, vnRegisterExchangeRateCallback, char),
    VN_RECORD(25, vnRegisterAmendFailureCallback, OrderFailureStruct),
    VN_NOTIFY(18),
    VN_RECORD(14, vnRegisterConStatusCallback, ConnectivityStatusStruct),
    VN_RECORD(15, vnRegisterOrderCancelFailureCallback, OrderFailureStruct),
    VN_RECORD(28, vnRegisterOrderSentFailureCallback, OrderFailureStruct),
    VN_RECORD(29, vnRegisterOrderQueuedFailureCallback, OrderFailureStruct),
    VN_RECORD(23, vnRegisterStrategyCreateSuccess, StrategyResultStruct),
    VN_RECORD(24, vnRegisterStrategyCreateFailure, StrategyResultStruct),
    {30, [](const TAPITable& api) { return api.vnRegisterOrderBookReset(30, &OnNotify<30>); }},
    VN_RECORD(37, vnRegisterTraderAddedCallback, TraderAcctStruct),
};
#undef VN_RECORD
#undef VN_NOTIFY

template <typename F>
std::int32_t Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const EVORN& error) {
    return error.Code();
  } catch (const std::exception& error) {
    return LogBridgeError(error.what());
  } catch (...) {
    return LogBridgeError("unknown exception");
  }
}

bool BlankAfterTrim(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

void CopyText(char* field, std::size_t width, const std::string& text) {
  const std::size_t length = std::min(text.size(), width - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

}  // namespace

THostAndPort GetHostAndPort(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return {"", text};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

LogonStruct MakeLogonRecord(const std::string& user, const std::string& password,
                            const std::string& newPassword, bool download, bool reportDownload) {
  LogonStruct record{};
  CopyText(record.UserName, sizeof record.UserName, user);
  CopyText(record.Password, sizeof record.Password, password);
  CopyText(record.NewPassword, sizeof record.NewPassword, newPassword);
  record.FullDownload = download ? 'Y' : 'N';
  record.ReportDownload = reportDownload ? 'Y' : 'N';
  return record;
}

int PayloadSize(std::int32_t id) {
  switch (id) {
    case 1: case 2: return 2;
    case 3: return static_cast<int>(sizeof(LogonStatusStruct)) + 2;
    case 4: return static_cast<int>(sizeof(MessageStruct));
    case 5: case 15: case 25: case 28: case 29: return 27;
    case 6: case 7: case 18: case 30: return 0;
    case 8: case 11: case 12: case 16: case 19: case 21: case 27: case 33: return 73;
    case 9: return 82;
    case 10: return 77;
    case 13: case 31: case 36: return 11;
    case 14: return 394;
    case 22: return 114;
    case 23: return 135;
    case 24: return 145;
    case 26: return 78;
    case 32: return 22;
    case 37: return 47;
    case 38: return 36;
    default: return -1;
  }
}

std::int32_t CheckResult(const TAPITable& api, std::int32_t code) {
  if (code == VN_RC_UNEXPECTED_ERROR && api.vnDumpLastError) api.vnDumpLastError();
  if (code != 0 && code != 11) throw EVORN(code);
  return code;
}

std::int32_t LogBridgeError(const std::string& message) {
  const std::string line = ("Wrapper API Error" + message).substr(0, 255);
  try {
    const auto lock = APILibrary().TryShare();
    if (lock.owns_lock() && APILibrary().Table().vnLogString) {
      APILibrary().Table().vnLogString(line.c_str());
      return VN_RC_UNEXPECTED_ERROR;
    }
  } catch (...) {
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  return VN_RC_UNEXPECTED_ERROR;
}

std::int32_t Initialise(const TInitialiseArgs& args) {
  return Guarded([&] {
    EventQueue().Reset();
    const std::string clientPath = BlankAfterTrim(args.ClientPath) ? BridgeFolder() : args.ClientPath;
    const std::string apiDir = BlankAfterTrim(args.ApiDir) ? BridgeFolder() : args.ApiDir;
    const char letter = args.Demo ? 'D' : args.Test ? 'T' : 'C';
    APILibrary().Load(apiDir + (args.Demo ? kSimulatorLibraryName : kLiveLibraryName));

    const auto lock = APILibrary().Share();
    const TAPITable& api = APILibrary().Require();
    api.vnSetClientPath(clientPath.c_str());
    const std::string applicVersion = args.ApplicVersion.value_or(kDefaultApplicVersion);
    CheckResult(api, api.vnInitialise(letter, kBridgeAPIVersion, args.ApplicId.c_str(),
                                      applicVersion.c_str(), args.Reserved.c_str(),
                                      args.InitReset ? 1 : 0));
    api.vnSetHostHandShake(0, 0);
    api.vnSetPriceHandShake(0, 0);
    for (const TRegistration& registration : kRegistrations) {
      if (registration.Id == VN_CB_CONNECTIVITY_STATUS && !args.ConStatus) continue;
      CheckResult(api, registration.Register(api));
    }
    return 0;
  });
}

std::int32_t OpenConnections(const std::vector<std::string>& hosts,
                             const std::vector<std::string>& prices) {
  return Guarded([&] {
    const auto lock = APILibrary().Share();
    const TAPITable& api = APILibrary().Require();
    // Each setter inserts at the head of its list, so the first element ends up first.
    for (auto it = hosts.rbegin(); it != hosts.rend(); ++it) {
      const THostAndPort address = GetHostAndPort(*it);
      CheckResult(api, api.vnSetHostAddress(address.Host.c_str(), address.Port.c_str()));
    }
    for (auto it = prices.rbegin(); it != prices.rend(); ++it) {
      const THostAndPort address = GetHostAndPort(*it);
      CheckResult(api, api.vnSetPriceAddress(address.Host.c_str(), address.Port.c_str()));
    }
    CheckResult(api, api.vnReady());
    return 0;
  });
}

std::int32_t Logon(const std::string& user, const std::string& password,
                   const std::string& newPassword, bool download, bool reportDownload) {
  return Guarded([&] {
    const auto lock = APILibrary().Share();
    const TAPITable& api = APILibrary().Require();
    api.vnNotifyAllMessages('Y');
    LogonStruct record = MakeLogonRecord(user, password, newPassword, download, reportDownload);
    CheckResult(api, api.vnLogOn(&record));
    return 0;
  });
}

std::int32_t Logoff() {
  std::int32_t result = 0;
  const std::int32_t failure = Guarded([&] {
    // vnLogOff joins the API's callback thread, whose procedures may need a shared hold:
    // keep this one shared and take the library exclusively only after.
    const auto lock = APILibrary().Share();
    const TAPITable& api = APILibrary().Table();
    if (api.vnLogOff) {
      result = api.vnLogOff();
      if (result == VN_RC_UNEXPECTED_ERROR && api.vnDumpLastError) api.vnDumpLastError();
    }
    return 0;
  });
  // Even with no library (an initialise that failed to load), a waiting processCallbacks ends.
  EventQueue().Stop();
  APILibrary().Unload();
  return failure != 0 ? failure : result;
}

std::string GetErrorMessage(std::int32_t code) {
  if (code == kCallbackNotRegistered) return "Callback not registered";
  return APILibrary().ErrorText(code);
}

std::string BridgeFolder() {
  const std::string file = LibraryFileName();
  const auto slash = file.rfind('/');
  return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}

TEventQueue& EventQueue() {
  static TEventQueue* const queue = new TEventQueue;
  return *queue;
}

}  // namespace vorn::bridge
