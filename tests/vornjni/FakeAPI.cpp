// A fake API library for the bridge's tests: the exports the bridge session uses write a call
// log ("name|arg|..." lines in <client path>fakeapi.log), vnLogOn starts a thread that fires
// every registered procedure once, in the order they were registered, and vnLogOff joins it.
// Payloads are 501-byte zero-filled areas, as the real library hands out, whose bytes follow
// FakePayloadByte.

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vornintf.h"

namespace {

constexpr std::size_t kArea = 501;

std::uint8_t FakePayloadByte(int id, std::size_t index) {
  return static_cast<std::uint8_t>(id * 31 + static_cast<int>(index) + 1);
}

struct TFake {
  std::mutex mutex;
  std::string logPath;
  std::vector<std::pair<int, std::function<void(const void*)>>> procedures;
  std::thread firer;

  // The library may be unloaded without a log-off.
  ~TFake() {
    if (firer.joinable()) firer.join();
  }
};

TFake& Fake() {
  static TFake fake;
  return fake;
}

void Log(const std::string& line) {
  std::lock_guard lock(Fake().mutex);
  if (Fake().logPath.empty()) return;
  if (std::FILE* file = std::fopen(Fake().logPath.c_str(), "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

std::string Hex(const void* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<const std::uint8_t*>(data)[i];
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string Text(const char* text) { return text ? text : "(null)"; }

template <typename Record>
void CallProcedure(void(VN_STDCALL* procedure)(const Record*), const void* payload) {
  procedure(static_cast<const Record*>(payload));
}
void CallProcedure(void(VN_STDCALL* procedure)(), const void*) { procedure(); }

template <typename Procedure>
std::int32_t Register(const char* name, std::int32_t id, Procedure procedure) {
  Log(std::string(name) + "|" + std::to_string(id));
  std::lock_guard lock(Fake().mutex);
  Fake().procedures.emplace_back(id, [procedure](const void* payload) {
    if (procedure) CallProcedure(procedure, payload);
  });
  return 0;
}

void FireAll() {
  std::vector<std::pair<int, std::function<void(const void*)>>> procedures;
  {
    std::lock_guard lock(Fake().mutex);
    procedures = Fake().procedures;
  }
  for (const auto& [id, procedure] : procedures) {
    std::vector<std::uint8_t> area(kArea, 0);
    if (id == VN_CB_MESSAGE) {
      // One message the look-up finds, then one it does not (which queues nothing).
      std::memcpy(area.data(), "M1", 3);
      procedure(area.data());
      std::memcpy(area.data(), "NOPE", 5);
      procedure(area.data());
      continue;
    }
    for (std::size_t i = 0; i < kArea; ++i) area[i] = FakePayloadByte(id, i);
    procedure(area.data());
  }
}

}  // namespace

extern "C" {

void VN_STDCALL vnSetClientPath(const char* Path) {
  {
    std::lock_guard lock(Fake().mutex);
    Fake().logPath = Text(Path) + "fakeapi.log";
    if (std::FILE* file = std::fopen(Fake().logPath.c_str(), "wb")) std::fclose(file);
    Fake().procedures.clear();
  }
  Log("vnSetClientPath|" + Text(Path));
}

int32_t VN_STDCALL vnInitialise(char Env, const char* APIVersion, const char* ApplicID,
                                const char* ApplicVersion, const char* Reserved,
                                uint8_t InitReset) {
  Log(std::string("vnInitialise|") + Env + "|" + Text(APIVersion) + "|" + Text(ApplicID) + "|" +
      Text(ApplicVersion) + "|" + Text(Reserved) + "|" + std::to_string(InitReset));
  return 0;
}

int32_t VN_STDCALL vnSetHostHandShake(int32_t Interval, int32_t TimeOut) {
  Log("vnSetHostHandShake|" + std::to_string(Interval) + "|" + std::to_string(TimeOut));
  return 0;
}

int32_t VN_STDCALL vnSetPriceHandShake(int32_t Interval, int32_t TimeOut) {
  Log("vnSetPriceHandShake|" + std::to_string(Interval) + "|" + std::to_string(TimeOut));
  return 0;
}

int32_t VN_STDCALL vnSetHostAddress(const char* IP, const char* Port) {
  Log("vnSetHostAddress|" + Text(IP) + "|" + Text(Port));
  return 0;
}

int32_t VN_STDCALL vnSetPriceAddress(const char* IP, const char* Port) {
  Log("vnSetPriceAddress|" + Text(IP) + "|" + Text(Port));
  return 0;
}

int32_t VN_STDCALL vnReady(void) {
  Log("vnReady");
  return 0;
}

int32_t VN_STDCALL vnNotifyAllMessages(char Flag) {
  Log(std::string("vnNotifyAllMessages|") + Flag);
  return 0;
}

int32_t VN_STDCALL vnLogOn(LogonStruct* Logon) {
  Log("vnLogOn|" + Hex(Logon, sizeof *Logon));
  // A user name of "NOPE" is refused, with the result 4.
  if (std::strcmp(Logon->UserName, "NOPE") == 0) return 4;
  std::lock_guard lock(Fake().mutex);
  if (!Fake().firer.joinable()) Fake().firer = std::thread(FireAll);
  return 0;
}

int32_t VN_STDCALL vnLogOff(void) {
  std::thread firer;
  {
    std::lock_guard lock(Fake().mutex);
    firer = std::move(Fake().firer);
  }
  if (firer.joinable()) firer.join();
  Log("vnLogOff");
  return 0;
}

int32_t VN_STDCALL vnGetLogonStatus(LogonStatusStruct* Status) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(Status);
  for (std::size_t i = 0; i < sizeof *Status; ++i) bytes[i] = FakePayloadByte(3, i);
  return 0;
}

int32_t VN_STDCALL vnDOMEnabled(void) { return 0; }
int32_t VN_STDCALL vnPostTradeAmendEnabled(void) { return 5; }

int32_t VN_STDCALL vnGetUsrMsgByID(const char* MsgID, MessageStruct* Msg) {
  if (std::strcmp(MsgID, "M1") != 0) return 9;
  auto* bytes = reinterpret_cast<std::uint8_t*>(Msg);
  for (std::size_t i = 0; i < sizeof *Msg; ++i) bytes[i] = FakePayloadByte(4, i);
  return 0;
}

const char* VN_STDCALL vnGetErrorMessage(int32_t Code) {
  thread_local char text[32];
  std::snprintf(text, sizeof text, "fake error %d", Code);
  return text;
}

void VN_STDCALL vnLogString(const char* Text) { Log("vnLogString|" + ::Text(Text)); }

int32_t VN_STDCALL vnDumpLastError(void) {
  Log("vnDumpLastError");
  return 0;
}

#define FAKE_REGISTER(name, Procedure) \
  int32_t VN_STDCALL name(int32_t ID, Procedure Proc) { return Register(#name, ID, Proc); }
FAKE_REGISTER(vnRegisterCallback, VnNotifyProc)
FAKE_REGISTER(vnRegisterLinkStateCallback, VnLinkStateProc)
FAKE_REGISTER(vnRegisterMsgCallback, VnTextProc)
FAKE_REGISTER(vnRegisterPriceCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterBlankPriceCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterGenericPriceCallback, VnGenericPriceProc)
FAKE_REGISTER(vnRegisterDOMCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterSubscriberDepthCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterAtBestCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterFillCallback, VnFillProc)
FAKE_REGISTER(vnRegisterOrderCallback, VnOrderProc)
FAKE_REGISTER(vnRegisterContractCallback, VnContractKeyProc)
FAKE_REGISTER(vnRegisterCommodityCallback, VnExchangeCommodityProc)
FAKE_REGISTER(vnRegisterExchangeCallback, VnTextProc)
FAKE_REGISTER(vnRegisterStatusCallback, VnContractStatusProc)
FAKE_REGISTER(vnRegisterExchangeRateCallback, VnTextProc)
FAKE_REGISTER(vnRegisterConStatusCallback, VnConnectivityStatusProc)
FAKE_REGISTER(vnRegisterOrderCancelFailureCallback, VnOrderFailureProc)
FAKE_REGISTER(vnRegisterOrderSentFailureCallback, VnOrderFailureProc)
FAKE_REGISTER(vnRegisterOrderQueuedFailureCallback, VnOrderFailureProc)
FAKE_REGISTER(vnRegisterTickerCallback, VnTickerProc)
FAKE_REGISTER(vnRegisterAmendFailureCallback, VnOrderFailureProc)
FAKE_REGISTER(vnRegisterSettlementCallback, VnSettlementProc)
FAKE_REGISTER(vnRegisterStrategyCreateSuccess, VnStrategyResultProc)
FAKE_REGISTER(vnRegisterStrategyCreateFailure, VnStrategyResultProc)
FAKE_REGISTER(vnRegisterOrderBookReset, VnNotifyProc)
FAKE_REGISTER(vnRegisterTraderAddedCallback, VnTraderProc)
FAKE_REGISTER(vnRegisterOrderTypeUpdateCallback, VnOrderTypeProc)

}  // extern "C"
