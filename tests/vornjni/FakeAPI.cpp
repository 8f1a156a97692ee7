// A fake API library for the bridge's tests: the exports the bridge calls write a call
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
  return Interval == 99 ? VN_RC_INVALID_INDEX : 0;
}

int32_t VN_STDCALL vnSetPriceHandShake(int32_t Interval, int32_t TimeOut) {
  Log("vnSetPriceHandShake|" + std::to_string(Interval) + "|" + std::to_string(TimeOut));
  return Interval == 99 ? VN_RC_INVALID_INDEX : 0;
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

// ---- The exports behind the query, order and setting natives ----
// Each logs "name|arg|..." (texts as given, numbers in decimal, chars as themselves, input
// records as hex of their whole size, output buffers as "out", a null pointer as "(null)").
// Answers follow the key or index given: "UNKNOWN" or index 99 answers 8 (9 for an account),
// "ELEVEN" or index 11 answers 11 with the output written, "FAIL" answers 99; else 0. Output
// records are filled with RecordByte, counts are 7, figures are written as the text of their
// last text argument.

namespace {

std::uint8_t RecordByte(std::size_t index) {
  return static_cast<std::uint8_t>(index * 7 + 3);
}

std::string Arg(const char* text) {
  return Text(text);
}
std::string Arg(int32_t value) {
  return std::to_string(value);
}
std::string Arg(char value) {
  return std::string(1, value);
}
template <typename Record>
std::string Arg(const Record* record) {
  return record ? Hex(record, sizeof *record) : "(null)";
}
struct TOut {};
std::string Arg(TOut) {
  return "out";
}
constexpr TOut kOut;

template <typename... Args>
void LogCall(const char* name, const Args&... args) {
  std::string line = name;
  ((line += "|" + Arg(args)), ...);
  Log(line);
}

int32_t AnswerFor(const char* key, int32_t notFound = VN_RC_INVALID_INDEX) {
  if (!key) return VN_RC_UNEXPECTED_ERROR;
  if (std::strcmp(key, "UNKNOWN") == 0) return notFound;
  if (std::strcmp(key, "ELEVEN") == 0) return VN_RC_GENERIC_ERROR;
  if (std::strcmp(key, "FAIL") == 0) return VN_RC_UNEXPECTED_ERROR;
  return 0;
}

int32_t AnswerFor(int32_t index) {
  if (index == 99) return VN_RC_INVALID_INDEX;
  if (index == 11) return VN_RC_GENERIC_ERROR;
  return 0;
}

template <typename Record>
int32_t Fill(int32_t answer, Record* record) {
  if (answer != 0 && answer != VN_RC_GENERIC_ERROR) return answer;
  auto* bytes = reinterpret_cast<std::uint8_t*>(record);
  for (std::size_t i = 0; i < sizeof *record; ++i)
    bytes[i] = RecordByte(i);
  return answer;
}

int32_t Count(int32_t answer, int32_t* count) {
  if (answer == 0 || answer == VN_RC_GENERIC_ERROR) *count = 7;
  return answer;
}

int32_t Figure(const char* text, char* result) {
  const int32_t answer = AnswerFor(text);
  if (answer == 0 || answer == VN_RC_GENERIC_ERROR) std::snprintf(result, 21, "%s", text);
  return answer;
}

}  // namespace

extern "C" {

#define FAKE_COUNTER(name)                  \
  int32_t VN_STDCALL name(int32_t* Count) { \
    LogCall(#name, kOut);                   \
    return ::Count(0, Count);               \
  }
FAKE_COUNTER(vnCountTraders)
FAKE_COUNTER(vnCountExchanges)
FAKE_COUNTER(vnCountCommodities)
FAKE_COUNTER(vnCountOrderTypes)
FAKE_COUNTER(vnCountOrders)
FAKE_COUNTER(vnCountFills)
FAKE_COUNTER(vnCountContracts)
FAKE_COUNTER(vnCountReportTypes)
FAKE_COUNTER(vnCountUsrMsgs)
FAKE_COUNTER(vnNextOrderSequence)
#undef FAKE_COUNTER

int32_t VN_STDCALL vnCountOrderHistory(int32_t Index, int32_t* Count) {
  LogCall("vnCountOrderHistory", Index, kOut);
  return ::Count(AnswerFor(Index), Count);
}
int32_t VN_STDCALL vnGetOrderIndex(const char* OrderID, int32_t* Index) {
  LogCall("vnGetOrderIndex", OrderID, kOut);
  return ::Count(AnswerFor(OrderID), Index);
}
int32_t VN_STDCALL vnGetReportSize(const char* ReportType, int32_t* Size) {
  LogCall("vnGetReportSize", ReportType, kOut);
  return ::Count(AnswerFor(ReportType), Size);
}
int32_t VN_STDCALL vnCountContractAtBest(const char* Exchange, const char* Commodity,
                                         const char* ContractDate, int32_t* Count) {
  LogCall("vnCountContractAtBest", Exchange, Commodity, ContractDate, kOut);
  return ::Count(AnswerFor(Exchange), Count);
}
int32_t VN_STDCALL vnCountContractSubscriberDepth(const char* Exchange, const char* Commodity,
                                                  const char* ContractDate, int32_t* Count) {
  LogCall("vnCountContractSubscriberDepth", Exchange, Commodity, ContractDate, kOut);
  return ::Count(AnswerFor(Exchange), Count);
}

#define FAKE_BY_INDEX(name, Record)                     \
  int32_t VN_STDCALL name(int32_t Index, Record* Out) { \
    LogCall(#name, Index, kOut);                        \
    return Fill(AnswerFor(Index), Out);                 \
  }
FAKE_BY_INDEX(vnGetTrader, TraderAcctStruct)
FAKE_BY_INDEX(vnGetExchange, ExchangeStruct)
FAKE_BY_INDEX(vnGetCommodity, CommodityStruct)
FAKE_BY_INDEX(vnGetOrderType, OrderTypeStruct)
FAKE_BY_INDEX(vnGetOrder, OrderDetailStruct)
FAKE_BY_INDEX(vnGetFill, FillStruct)
FAKE_BY_INDEX(vnGetExtendedContract, ExtendedContractStruct)
FAKE_BY_INDEX(vnGetReportType, ReportTypeStruct)
FAKE_BY_INDEX(vnGetUsrMsg, MessageStruct)
#undef FAKE_BY_INDEX

int32_t VN_STDCALL vnGetOrderHistory(int32_t Index, int32_t HistoryIndex,
                                     OrderDetailStruct* Order) {
  LogCall("vnGetOrderHistory", Index, HistoryIndex, kOut);
  return Fill(AnswerFor(HistoryIndex), Order);
}

int32_t VN_STDCALL vnGetExtendedContractByName(const char* Exchange, const char* Commodity,
                                               const char* ContractDate,
                                               ExtendedContractStruct* Contract) {
  LogCall("vnGetExtendedContractByName", Exchange, Commodity, ContractDate, kOut);
  return Fill(AnswerFor(Exchange), Contract);
}
int32_t VN_STDCALL vnGetTraderByName(const char* Account, TraderAcctStruct* Trader) {
  LogCall("vnGetTraderByName", Account, kOut);
  return Fill(AnswerFor(Account, VN_RC_TRADER_ACCOUNT_NOT_FOUND), Trader);
}
int32_t VN_STDCALL vnGetExchangeByName(const char* Name, ExchangeStruct* Exchange) {
  LogCall("vnGetExchangeByName", Name, kOut);
  return Fill(AnswerFor(Name), Exchange);
}
int32_t VN_STDCALL vnGetCommodityByName(const char* Exchange, const char* Commodity,
                                        CommodityStruct* Out) {
  LogCall("vnGetCommodityByName", Exchange, Commodity, kOut);
  return Fill(AnswerFor(Exchange), Out);
}
int32_t VN_STDCALL vnGetPriceForContract(const char* Exchange, const char* Commodity,
                                         const char* ContractDate, PriceStruct* Prices) {
  LogCall("vnGetPriceForContract", Exchange, Commodity, ContractDate, kOut);
  return Fill(AnswerFor(Exchange), Prices);
}
int32_t VN_STDCALL vnGetGenericPrice(const char* Exchange, const char* Commodity,
                                     const char* ContractDate, int32_t PriceType,
                                     int32_t PriceLevel, GenericPriceStruct* Price) {
  LogCall("vnGetGenericPrice", Exchange, Commodity, ContractDate, PriceType, PriceLevel, kOut);
  return Fill(AnswerFor(Exchange), Price);
}
int32_t VN_STDCALL vnGetOrderByID(const char* OrderID, OrderDetailStruct* Order, int32_t Version) {
  LogCall("vnGetOrderByID", OrderID, kOut, Version);
  return Fill(AnswerFor(OrderID), Order);
}
int32_t VN_STDCALL vnGetFillByID(const char* FillID, FillStruct* Fill) {
  LogCall("vnGetFillByID", FillID, kOut);
  return ::Fill(AnswerFor(FillID), Fill);
}
int32_t VN_STDCALL vnGetExchangeRate(const char* Currency, ExchangeRateStruct* Rate) {
  LogCall("vnGetExchangeRate", Currency, kOut);
  return Fill(AnswerFor(Currency), Rate);
}
int32_t VN_STDCALL vnGetContractAtBest(const char* Exchange, const char* Commodity,
                                       const char* ContractDate, int32_t Index,
                                       AtBestStruct* AtBest) {
  LogCall("vnGetContractAtBest", Exchange, Commodity, ContractDate, Index, kOut);
  return Fill(AnswerFor(Exchange), AtBest);
}
int32_t VN_STDCALL vnGetContractAtBestPrices(const char* Exchange, const char* Commodity,
                                             const char* ContractDate, AtBestPriceStruct* Prices) {
  LogCall("vnGetContractAtBestPrices", Exchange, Commodity, ContractDate, kOut);
  return Fill(AnswerFor(Exchange), Prices);
}
int32_t VN_STDCALL vnGetOpenPosition(const char* Exchange, const char* Commodity,
                                     const char* ContractDate, const char* Account,
                                     PositionStruct* Position) {
  LogCall("vnGetOpenPosition", Exchange, Commodity, ContractDate, Account, kOut);
  return Fill(AnswerFor(Exchange), Position);
}
int32_t VN_STDCALL vnGetContractPosition(const char* Exchange, const char* Commodity,
                                         const char* ContractDate, const char* Account,
                                         PositionStruct* Position) {
  LogCall("vnGetContractPosition", Exchange, Commodity, ContractDate, Account, kOut);
  return Fill(AnswerFor(Exchange), Position);
}
int32_t VN_STDCALL vnGetContractSubscriberDepth(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, int32_t Index,
                                                SubscriberDepthStruct* Depth) {
  LogCall("vnGetContractSubscriberDepth", Exchange, Commodity, ContractDate, Index, kOut);
  return Fill(AnswerFor(Exchange), Depth);
}
int32_t VN_STDCALL vnGetAPIBuildVersion(BuildVersionStruct* Version) {
  LogCall("vnGetAPIBuildVersion", kOut);
  return Fill(0, Version);
}

// The report is 16 bytes; a smaller room answers 16.
int32_t VN_STDCALL vnGetReport(const char* ReportType, int32_t Room, char* Buffer) {
  LogCall("vnGetReport", ReportType, Room, kOut);
  static const char kReport[] = "0123456789ABCDEF";
  if (Room < 16) return VN_RC_REPORT_NO_ROOM;
  std::memcpy(Buffer, kReport, 16);
  return AnswerFor(ReportType);
}

#define FAKE_FIGURE(name)                                                                        \
  int32_t VN_STDCALL name(const char* Exchange, const char* Commodity, const char* ContractDate, \
                          const char* Account, char* Result) {                                   \
    LogCall(#name, Exchange, Commodity, ContractDate, Account, kOut);                            \
    return Figure(Account, Result);                                                              \
  }
FAKE_FIGURE(vnPLBurnRate)
FAKE_FIGURE(vnOpenPositionExposure)
FAKE_FIGURE(vnBuyingPowerUsed)
FAKE_FIGURE(vnBuyingPowerRemaining)
FAKE_FIGURE(vnGetAveragePrice)
#undef FAKE_FIGURE

int32_t VN_STDCALL vnMarginForTrade(const char* Exchange, const char* Commodity,
                                    const char* ContractDate, const char* Account,
                                    const int32_t* Lots, const char* OrderID, const char* Price,
                                    char* Result) {
  LogCall("vnMarginForTrade", Exchange, Commodity, ContractDate, Account, *Lots, OrderID, Price,
          kOut);
  return Figure(Price, Result);
}
int32_t VN_STDCALL vnGetOptionPremium(const char* Exchange, const char* Commodity,
                                      const char* ContractDate, char Side, const char* Price,
                                      int32_t Lots, char* Result) {
  LogCall("vnGetOptionPremium", Exchange, Commodity, ContractDate, Side, Price, Lots, kOut);
  return Figure(Price, Result);
}

int32_t VN_STDCALL vnEnabledFunctionality(int32_t* Features, int32_t* Roles) {
  LogCall("vnEnabledFunctionality", kOut, kOut);
  *Features = 0x1234;
  *Roles = 0x56;
  return 0;
}
int32_t VN_STDCALL vnMegaHubEnabled(void) {
  LogCall("vnMegaHubEnabled");
  return 0;
}
// Logs the record it was given, then adds one to each byte.
int32_t VN_STDCALL vngetConsolidatedPosition(const char* Exchange, const char* Commodity,
                                             const char* ContractDate, const char* Account,
                                             int32_t Mode, FillStruct* Position) {
  LogCall("vngetConsolidatedPosition", Exchange, Commodity, ContractDate, Account, Mode,
          static_cast<const FillStruct*>(Position));
  auto* bytes = reinterpret_cast<std::uint8_t*>(Position);
  for (std::size_t i = 0; i < sizeof *Position; ++i)
    ++bytes[i];
  return AnswerFor(Exchange);
}

// ---- Order entry: input records logged whole; id outputs "(null)" or "out" ----

std::string IdOut(const void* out) {
  return out ? "out" : "(null)";
}

int32_t VN_STDCALL vnAddOrder(const NewOrderStruct* Order, char* OrderID) {
  Log("vnAddOrder|" + Arg(Order) + "|" + IdOut(OrderID));
  return 0;
}
int32_t VN_STDCALL vnAddProtectionOrder(const NewOrderStruct* Order,
                                        const ProtectionStruct* Protection, char* OrderID) {
  Log("vnAddProtectionOrder|" + Arg(Order) + "|" + Arg(Protection) + "|" + IdOut(OrderID));
  return 0;
}
int32_t VN_STDCALL vnAddBatchOrder(int32_t Count, NewOrderStruct* Orders, char (*OrderIDs)[11]) {
  Log("vnAddBatchOrder|" + std::to_string(Count) + "|" + Hex(Orders, 10 * sizeof *Orders) + "|" +
      Hex(OrderIDs, 10 * sizeof *OrderIDs));
  for (int32_t i = 0; i < Count; ++i) {
    const std::string id = "B" + std::to_string(i);
    std::memcpy(OrderIDs[i], id.c_str(), id.size() + 1);
  }
  return 0;
}
int32_t VN_STDCALL vnAddAggregateOrder(const AggregateOrderStruct* Order, char* OrderID) {
  Log("vnAddAggregateOrder|" + Arg(Order) + "|" + IdOut(OrderID));
  return 0;
}
int32_t VN_STDCALL vnAddCustRequest(const CustReqStruct* Request, char* OrderID) {
  Log("vnAddCustRequest|" + Arg(Request) + "|" + IdOut(OrderID));
  return 0;
}
int32_t VN_STDCALL vnAddCrossingOrder(const NewOrderStruct* Primary,
                                      const NewOrderStruct* Secondary,
                                      const LegPriceStruct* LegPrices, OrderIDPair* IDs,
                                      char Flag) {
  LogCall("vnAddCrossingOrder", Primary, Secondary, LegPrices, kOut, Flag);
  return Fill(0, IDs);
}
int32_t VN_STDCALL vnAddBlockOrder(const NewOrderStruct* Primary, const NewOrderStruct* Secondary,
                                   const LegPriceStruct* LegPrices, OrderIDPair* IDs) {
  LogCall("vnAddBlockOrder", Primary, Secondary, LegPrices, kOut);
  return Fill(0, IDs);
}
int32_t VN_STDCALL vnAddBasisOrder(const NewOrderStruct* Primary, const NewOrderStruct* Secondary,
                                   const BasisStruct* Basis, OrderIDPair* IDs) {
  LogCall("vnAddBasisOrder", Primary, Secondary, Basis, kOut);
  return Fill(0, IDs);
}
int32_t VN_STDCALL vnAddAAOrder(const NewOrderStruct* Primary, const NewOrderStruct* Secondary,
                                const char* UserName, const char* UserName2, OrderIDPair* IDs) {
  LogCall("vnAddAAOrder", Primary, Secondary, UserName, UserName2, kOut);
  return Fill(AnswerFor(UserName), IDs);
}
int32_t VN_STDCALL vnAmendOrder(const char* OrderID, const AmendOrderStruct* Amend) {
  LogCall("vnAmendOrder", OrderID, Amend);
  return AnswerFor(OrderID);
}
int32_t VN_STDCALL vnReParent(const char* OrderID, const char* NewParentID) {
  LogCall("vnReParent", OrderID, NewParentID);
  return AnswerFor(OrderID);
}
int32_t VN_STDCALL vnCreateStrategy(char StrategyType, int32_t NumberOfLegs, const char* Exchange,
                                    const char* Commodity, const StrategyLegStruct* Legs) {
  Log("vnCreateStrategy|" + Arg(StrategyType) + "|" + Arg(NumberOfLegs) + "|" + Arg(Exchange) +
      "|" + Arg(Commodity) + "|" + Hex(Legs, VN_MAX_STRATEGY_LEGS * sizeof *Legs));
  return 0;
}

// ---- Plain calls ----

void VN_STDCALL vnPurge(const char* Date, const char* Time) {
  LogCall("vnPurge", Date, Time);
}

#define FAKE_TEXT(name)                       \
  int32_t VN_STDCALL name(const char* Text) { \
    LogCall(#name, Text);                     \
    return AnswerFor(Text);                   \
  }
FAKE_TEXT(vnQueryOrderStatus)
FAKE_TEXT(vnCancelOrder)
FAKE_TEXT(vnCancelAll)
FAKE_TEXT(vnSetSSLCertificateName)
FAKE_TEXT(vnSetPDDSSLCertificateName)
FAKE_TEXT(vnSetSSLClientAuthName)
FAKE_TEXT(vnSetPDDSSLClientAuthName)
FAKE_TEXT(vnSetMDSToken)
FAKE_TEXT(vnSubscribeBroadcast)
FAKE_TEXT(vnUnsubscribeBroadcast)
FAKE_TEXT(vnAcknowledgeUsrMsg)
#undef FAKE_TEXT

#define FAKE_CONTRACT(name)                                                                        \
  int32_t VN_STDCALL name(const char* Exchange, const char* Commodity, const char* ContractDate) { \
    LogCall(#name, Exchange, Commodity, ContractDate);                                             \
    return AnswerFor(Exchange);                                                                    \
  }
FAKE_CONTRACT(vnSubscribePrice)
FAKE_CONTRACT(vnUnsubscribePrice)
FAKE_CONTRACT(vnSubscribeToMarket)
FAKE_CONTRACT(vnUnsubscribeToMarket)
#undef FAKE_CONTRACT

#define FAKE_CANCEL(name)                                                                   \
  int32_t VN_STDCALL name(const char* Account, const char* Exchange, const char* Commodity, \
                          const char* ContractDate) {                                       \
    LogCall(#name, Account, Exchange, Commodity, ContractDate);                             \
    return AnswerFor(Account);                                                              \
  }
FAKE_CANCEL(vnCancelBuys)
FAKE_CANCEL(vnCancelSells)
FAKE_CANCEL(vnCancelOrders)
#undef FAKE_CANCEL

#define FAKE_FLAG(name)                \
  int32_t VN_STDCALL name(char Flag) { \
    LogCall(#name, Flag);              \
    return 0;                          \
  }
FAKE_FLAG(vnOMIEnabled)
FAKE_FLAG(vnSetInternetUser)
FAKE_FLAG(vnSetSSL)
FAKE_FLAG(vnSetPDDSSL)
FAKE_FLAG(vnSetMegaHub)
#undef FAKE_FLAG

int32_t VN_STDCALL vnOrderChecked(const char* OrderID, char Checked) {
  LogCall("vnOrderChecked", OrderID, Checked);
  return AnswerFor(OrderID);
}
int32_t VN_STDCALL vnDisconnect(void) {
  LogCall("vnDisconnect");
  return 0;
}
void VN_STDCALL vnSetEncryptionCode(char Code) {
  LogCall("vnSetEncryptionCode", Code);
}
void VN_STDCALL vnEnable(int32_t Flags) {
  LogCall("vnEnable", Flags);
}
void VN_STDCALL vnDisable(int32_t Flags) {
  LogCall("vnDisable", Flags);
}

// The numeric settings answer 8 for 99, so a test sees whether the result is checked.
#define FAKE_NUMBER(name)                   \
  int32_t VN_STDCALL name(int32_t Value) {  \
    LogCall(#name, Value);                  \
    return AnswerFor(Value == 99 ? 99 : 0); \
  }
FAKE_NUMBER(vnSetPriceAgeCounter)
FAKE_NUMBER(vnSetOrderCancelFailureDelay)
FAKE_NUMBER(vnSetOrderSentFailureDelay)
FAKE_NUMBER(vnSetOrderQueuedFailureDelay)
FAKE_NUMBER(vnSetMemoryWarning)
#undef FAKE_NUMBER

}  // extern "C"
