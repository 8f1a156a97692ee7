#include "core/events/Callbacks.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "platform/Event.h"
#include "platform/ProcessWide.h"
#include "platform/Thread.h"

namespace vorn {
namespace {

constexpr std::string_view kInvalidName = "Invalid";
constexpr const char* kThreadRoutine = "TCallbackThread.Execute";

// Indexed by id; ids 0, 34 and 35 have no event.
constexpr std::array<std::string_view, kMaxCallbackId + 1> kCallbackNames = {
    kInvalidName,
    "vnHostLinkStateChange",
    "vnPriceStateChange",
    "vnLogonStatus",
    "vnMessage",
    "vnOrder",
    "vnForcedLogout",
    "vnDataDLComplete",
    "vnPriceUpdate",
    "vnFill",
    "vnStatusChange",
    "vnContractAdded",
    "vnContractDeleted",
    "vnExchangeRate",
    "vnConnectivityStatus",
    "vnOrderCancelFailure",
    "vnAtBestUpdate",
    "vnTickerUpdate",
    "vnMemoryWarning",
    "vnSubscriberDepthUpdate",
    "vnVTSUpdate",
    "vnDOMUpdate",
    "vnSettlementCallback",
    "vnStrategyCreateSuccess",
    "vnStrategyCreateFailure",
    "vnAmendFailureCallback",
    "vnGenericPriceUpdate",
    "vnBlankPrices",
    "vnOrderSentFailure",
    "vnOrderQueuedFailure",
    "vnOrderBookReset",
    "vnExchangeUpdated",
    "vnCommodityUpdated",
    "vnContractUpdate",
    kInvalidName,
    kInvalidName,
    "vnPurgeCompleted",
    "vnTraderAdded",
    "vnOrderTypeUpdate",
};

// A prefix and an event's name, made at compile time for every id: the ring texts of a post
// and of a delivery cost no allocation.
struct TNamedText {
  char Text[40] = {};
  std::size_t Size = 0;
  constexpr std::string_view View() const { return {Text, Size}; }
};
using TNamedTexts = std::array<TNamedText, kMaxCallbackId + 1>;

constexpr TNamedTexts MakeNamedTexts(std::string_view prefix) {
  TNamedTexts texts{};
  for (std::size_t id = 0; id < texts.size(); ++id) {
    TNamedText& text = texts[id];
    for (const char c : prefix)
      text.Text[text.Size++] = c;
    for (const char c : kCallbackNames[id])
      text.Text[text.Size++] = c;
  }
  return texts;
}

constexpr TNamedTexts kPostTexts = MakeNamedTexts(" - ");
constexpr TNamedTexts kRoutineTexts = MakeNamedTexts("Routine ");

// The text of the id; that of "Invalid" for a number without a name.
std::string_view NamedText(const TNamedTexts& texts, std::int32_t id) {
  return texts[id < 0 || id > kMaxCallbackId ? 0 : static_cast<std::size_t>(id)].View();
}

// The ids each registering export accepts (0 pads: it is never a valid id).
struct TRegistrar {
  std::string_view ExportName;
  std::array<std::int32_t, 4> Ids;
};

constexpr TRegistrar kRegistrars[] = {
    {"vnRegisterCallback", {3, 6, 7, 18}},
    {"vnRegisterLinkStateCallback", {1, 2}},
    {"vnRegisterMsgCallback", {4}},
    {"vnRegisterPriceCallback", {8}},
    {"vnRegisterBlankPriceCallback", {27}},
    {"vnRegisterGenericPriceCallback", {26}},
    {"vnRegisterDOMCallback", {21}},
    {"vnRegisterSubscriberDepthCallback", {19}},
    {"vnRegisterAtBestCallback", {16}},
    {"vnRegisterFillCallback", {9}},
    {"vnRegisterOrderCallback", {5}},
    {"vnRegisterContractCallback", {11, 12, 33}},
    {"vnRegisterCommodityCallback", {32}},
    {"vnRegisterExchangeCallback", {31, 36}},
    {"vnRegisterStatusCallback", {10}},
    {"vnRegisterExchangeRateCallback", {13}},
    {"vnRegisterConStatusCallback", {14}},
    {"vnRegisterOrderCancelFailureCallback", {15}},
    {"vnRegisterOrderSentFailureCallback", {28}},
    {"vnRegisterOrderQueuedFailureCallback", {29}},
    {"vnRegisterTickerCallback", {17}},
    {"vnRegisterAmendFailureCallback", {25}},
    {"vnRegisterSettlementCallback", {22}},
    {"vnRegisterStrategyCreateSuccess", {23}},
    {"vnRegisterStrategyCreateFailure", {24}},
    {"vnRegisterOrderBookReset", {30}},
    {"vnRegisterTraderAddedCallback", {37}},
    {"vnRegisterOrderTypeUpdateCallback", {38}},
};

constexpr std::array<std::string_view, 22> kOrderStatusNames = {
    "osIllegal",     "osQueued",           "osSent",         "osWorking",    "osRejected",
    "osCancelled",   "osBalCancelled",     "osPart",         "osUnabled",    "osBalUnabled",
    "osFilled",      "osCancelPending",    "osAmendPending", "osORPIFilled", "osORPIPart",
    "osHeldOrder",   "osCancHeldOrder",    "osPartRejected", "osParked",     "osCancelParked",
    "osTransferred", "osExternalCancelled"};

bool HasNoPayload(std::int32_t id) {
  return id == VN_CB_LOGON_STATUS || id == VN_CB_FORCED_LOGOUT || id == VN_CB_DATA_DL_COMPLETE ||
         id == VN_CB_MEMORY_WARNING || id == VN_CB_ORDER_BOOK_RESET;
}

// One procedure reference per id. Registrations run on application threads while the callback
// thread reads, so each reference is an atomic.
class TCallbacks {
 public:
  TCallbackProc Get(std::int32_t id) const {
    if (id < 0 || id > kMaxCallbackId) return nullptr;
    return procs_[static_cast<std::size_t>(id)].load(std::memory_order_acquire);
  }
  void Set(std::int32_t id, TCallbackProc proc) {
    if (id < 0 || id > kMaxCallbackId) return;
    procs_[static_cast<std::size_t>(id)].store(proc, std::memory_order_release);
  }
  void Clear() {
    for (auto& proc : procs_)
      proc.store(nullptr, std::memory_order_release);
  }

 private:
  std::array<std::atomic<TCallbackProc>, kMaxCallbackId + 1> procs_{};
};

struct TCallbackState;
TCallbackState& State();

// ---------------------------------------------------------------------------------------------
// The thread. Stopping sets the instance's flag and then wakes the thread through the queue's
// event, which is what it waits on; the flag is shared with the running body so that a thread
// stopped from inside a procedure can still read it after its owner is gone.

class TCallbackThread {
 public:
  TCallbackThread() {
    thread_.Start([stopping = stopping_](TThreadControl& control) { Execute(control, *stopping); });
  }
  TCallbackThread(const TCallbackThread&) = delete;
  TCallbackThread& operator=(const TCallbackThread&) = delete;
  ~TCallbackThread() { Stop(); }

  // Joins the thread, or on the thread itself hands it over to JoinStoppedThreads.
  void Stop();

 private:
  static void Execute(TThreadControl& control, const std::atomic<bool>& stopping);
  static void Drain(const TThreadControl& control, const std::atomic<bool>& stopping);

  std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
  TStoppableThread thread_;
};

struct TCallbackState {
  TCallbacks Registrations;
  TEventQueue Queue;
  // Manual reset: set by the post that finds the queue empty, and by a stop; reset by the
  // thread before each drain, which takes events out until the queue is empty. So every event
  // is taken by a drain that is running or by one its post's wake starts.
  TEvent Wake{true};
  std::mutex ThreadLock;  // guards Thread; never held while a thread is joined
  std::unique_ptr<TCallbackThread> Thread;
  std::atomic<bool> Delivering{false};  // SetCallbackDelivery
};

// The API object and the unload handler may stop the thread and post events while static
// objects are being destroyed.
TProcessWide<TCallbackState> state;
TCallbackState& State() {
  return state.Get();
}

// The key texts of a payload for the "Issuing callback" line.
template <class Record>
Record ReadRecord(const unsigned char* payload) {
  Record record;
  std::memcpy(&record, payload, sizeof record);
  return record;
}

std::string KeyText(const ContractKeyStruct& key) {
  return GetFixed(key.ExchangeName) + " \\ " + GetFixed(key.CommodityName) + " \\ " +
         GetFixed(key.ContractDate);
}

std::string HexText(std::int32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  auto bits = static_cast<std::uint32_t>(value);
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, bits >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[bits & 15];
  return text;
}

std::string PayloadText(std::int32_t id, const unsigned char* payload) {
  switch (id) {
    case VN_CB_ORDER:
      return GetFixed(ReadRecord<OrderUpdateStruct>(payload).OrderID);
    case VN_CB_FILL: {
      const auto fill = ReadRecord<FillUpdateStruct>(payload);
      return GetFixed(fill.OrderID) + ", " + GetFixed(fill.FillID);
    }
    case VN_CB_ORDER_CANCEL_FAILURE:
    case VN_CB_AMEND_FAILURE:
    case VN_CB_ORDER_SENT_FAILURE:
    case VN_CB_ORDER_QUEUED_FAILURE:
      return GetFixed(ReadRecord<OrderFailureStruct>(payload).OrderID);
    case VN_CB_STATUS_CHANGE: {
      const auto status = ReadRecord<ContractStatusStruct>(payload);
      return KeyText(status.Key) + ": " + HexText(status.Status);
    }
    case VN_CB_PRICE_UPDATE:
    case VN_CB_CONTRACT_ADDED:
    case VN_CB_CONTRACT_DELETED:
    case VN_CB_AT_BEST_UPDATE:
    case VN_CB_TICKER_UPDATE:
    case VN_CB_SUBSCRIBER_DEPTH_UPDATE:
    case VN_CB_DOM_UPDATE:
    case VN_CB_SETTLEMENT:
    case VN_CB_GENERIC_PRICE_UPDATE:
    case VN_CB_BLANK_PRICES:
    case VN_CB_CONTRACT_UPDATE:
      return KeyText(ReadRecord<ContractKeyStruct>(payload));
    default:
      return {};
  }
}

template <class Record>
void CallWith(TCallbackProc proc, const unsigned char* payload) {
  using TTypedProc = void(VN_STDCALL*)(const Record*);
  reinterpret_cast<TTypedProc>(proc)(reinterpret_cast<const Record*>(payload));
}

// Calls the procedure with the argument type of its id; false for an id that is never
// delivered.
bool CallProc(std::int32_t id, TCallbackProc proc, const unsigned char* payload) {
  switch (id) {
    case VN_CB_LOGON_STATUS:
    case VN_CB_FORCED_LOGOUT:
    case VN_CB_DATA_DL_COMPLETE:
    case VN_CB_MEMORY_WARNING:
    case VN_CB_ORDER_BOOK_RESET:
      proc();
      return true;
    case VN_CB_HOST_LINK_STATE_CHANGE:
    case VN_CB_PRICE_STATE_CHANGE:
      CallWith<LinkStateStruct>(proc, payload);
      return true;
    case VN_CB_MESSAGE:
    case VN_CB_EXCHANGE_RATE:
    case VN_CB_EXCHANGE_UPDATED:
    case VN_CB_PURGE_COMPLETED:
      CallWith<char>(proc, payload);
      return true;
    case VN_CB_ORDER:
      CallWith<OrderUpdateStruct>(proc, payload);
      return true;
    case VN_CB_FILL:
      CallWith<FillUpdateStruct>(proc, payload);
      return true;
    case VN_CB_PRICE_UPDATE:
    case VN_CB_CONTRACT_ADDED:
    case VN_CB_CONTRACT_DELETED:
    case VN_CB_AT_BEST_UPDATE:
    case VN_CB_SUBSCRIBER_DEPTH_UPDATE:
    case VN_CB_DOM_UPDATE:
    case VN_CB_BLANK_PRICES:
    case VN_CB_CONTRACT_UPDATE:
      CallWith<ContractKeyStruct>(proc, payload);
      return true;
    case VN_CB_STATUS_CHANGE:
      CallWith<ContractStatusStruct>(proc, payload);
      return true;
    case VN_CB_CONNECTIVITY_STATUS:
      CallWith<ConnectivityStatusStruct>(proc, payload);
      return true;
    case VN_CB_ORDER_CANCEL_FAILURE:
    case VN_CB_AMEND_FAILURE:
    case VN_CB_ORDER_SENT_FAILURE:
    case VN_CB_ORDER_QUEUED_FAILURE:
      CallWith<OrderFailureStruct>(proc, payload);
      return true;
    case VN_CB_TICKER_UPDATE:
      CallWith<TickerStruct>(proc, payload);
      return true;
    case VN_CB_SETTLEMENT:
      CallWith<SettlementStruct>(proc, payload);
      return true;
    case VN_CB_STRATEGY_CREATE_SUCCESS:
    case VN_CB_STRATEGY_CREATE_FAILURE:
      CallWith<StrategyResultStruct>(proc, payload);
      return true;
    case VN_CB_GENERIC_PRICE_UPDATE:
      CallWith<GenericPriceUpdateStruct>(proc, payload);
      return true;
    case VN_CB_COMMODITY_UPDATED:
      CallWith<ExchangeCommodityStruct>(proc, payload);
      return true;
    case VN_CB_TRADER_ADDED:
      CallWith<TraderAcctStruct>(proc, payload);
      return true;
    case VN_CB_ORDER_TYPE_UPDATE:
      CallWith<OrderTypeStruct>(proc, payload);
      return true;
    default:
      return false;
  }
}

// Hands one event to the application's procedure, if one is registered.
void Deliver(const TCallbackQueueItem& item) {
  const std::int32_t id = item.Id;
  if (id <= 0 || id > kMaxCallbackId || CallbackName(id) == kInvalidName) return;
  const TCallbackProc proc = State().Registrations.Get(id);
  if (!proc) {
    if (HasNoPayload(id) && DebugFlagOn(kTraceAppCalls))
      WriteTraceLine("Cant issued callback: " + std::string(CallbackName(id)) + " is not defined");
    return;
  }
  const bool traced =
      DebugFlagOn(kTraceAppCalls) || (id == VN_CB_ORDER && DebugFlagOn(kGenerateOrderLog));
  if (traced)
    WriteTraceLine("Issuing callback " + std::string(CallbackName(id)) + " " +
                   PayloadText(id, item.Payload));
  CallProc(id, proc, item.Payload);
}

template <class Record>
void Post(std::int32_t id, const Record& record) {
  static_assert(sizeof(Record) <= VN_CALLBACK_PAYLOAD_SIZE);
  AddCallback(id, &record, sizeof record);
}

ContractKeyStruct MakeKey(std::string_view exchange, std::string_view commodity,
                          std::string_view contractDate) {
  ContractKeyStruct key{};
  PutFixed(key.ExchangeName, exchange);
  PutFixed(key.CommodityName, commodity);
  PutFixed(key.ContractDate, contractDate);
  return key;
}

ContractKeyStruct MakeTrimmedKey(std::string_view exchange, std::string_view commodity,
                                 std::string_view contractDate) {
  return MakeKey(TrimView(exchange), TrimView(commodity), TrimView(contractDate));
}

void PostText(std::int32_t id, std::string_view text) {
  char payload[VN_TEXT_PAYLOAD_SIZE] = {};
  PutFixed(payload, text);
  Post(id, payload);
}

void PostOrderFailure(std::int32_t id, std::string_view orderId) {
  OrderFailureStruct failure{};
  PutFixed(failure.OrderID, orderId);
  Post(id, failure);
}

void PostStrategyResult(std::int32_t id, std::string_view userName, std::string_view exchange,
                        std::string_view commodity, std::string_view contractDate,
                        std::string_view text) {
  StrategyResultStruct result{};
  PutFixed(result.UserName, TrimView(userName));
  PutFixed(result.ExchangeName, TrimView(exchange));
  PutFixed(result.CommodityName, TrimView(commodity));
  PutFixed(result.ContractDate, TrimView(contractDate));
  PutFixed(result.Text, TrimView(text));
  Post(id, result);
}

void TCallbackThread::Stop() {
  stopping_->store(true, std::memory_order_release);
  State().Wake.SetEvent();
  thread_.Stop();
}

thread_local bool onCallbackThread = false;

void TCallbackThread::Execute(TThreadControl& control, const std::atomic<bool>& stopping) {
  onCallbackThread = true;
  AddTraceEntry(tlStart, kThreadRoutine);
  const auto stopped = [&] {
    return control.Terminated() || stopping.load(std::memory_order_acquire);
  };
  try {
    auto& wake = State().Wake;
    for (;;) {
      wake.Wait();
      if (stopped()) break;
      // Reset before the drain: an event posted from here on is either taken by this drain or
      // sets the event again for the next wait.
      wake.ResetEvent();
      Drain(control, stopping);
      if (stopped()) break;
    }
  } catch (...) {
    ReportException("TCallbackThread", std::current_exception());
  }
  AddTraceEntry(tlExit, kThreadRoutine, "Finished");
}

void TCallbackThread::Drain(const TThreadControl& control, const std::atomic<bool>& stopping) {
  auto& queue = State().Queue;
  TCallbackQueueItem item;
  // A stopped thread takes nothing more: what is left belongs to StopCallbackThread (which frees
  // it) or to a thread started after it.
  while (!control.Terminated() && !stopping.load(std::memory_order_acquire)) {
    if (!queue.Pop(item)) return;
    const std::int32_t id = item.Id;
    const std::string_view routineText = NamedText(kRoutineTexts, id);
    AddTraceEntry(tlStart, kThreadRoutine, routineText);
    try {
      if (!State().Delivering.load(std::memory_order_acquire)) item.Id = kNoCallback;
      Deliver(item);
    } catch (...) {
      // The application's procedure failed: delivery goes on with the next event.
      try {
        TraceAppCall("Error executing " + std::string(CallbackName(id)));
      } catch (...) {
      }
    }
    AddTraceEntry(tlExit, kThreadRoutine, routineText);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string_view CallbackName(std::int32_t id) {
  if (id < 0 || id > kMaxCallbackId) return kInvalidName;
  return kCallbackNames[static_cast<std::size_t>(id)];
}

bool CallbackIdAccepted(std::string_view exportName, std::int32_t id) {
  if (id <= 0) return false;
  for (const auto& registrar : kRegistrars) {
    if (registrar.ExportName != exportName) continue;
    for (const auto accepted : registrar.Ids)
      if (accepted == id) return true;
    return false;
  }
  return false;
}

std::int32_t RegisterCallbackProc(std::string_view exportName, std::int32_t id,
                                  TCallbackProc proc) {
  AddTraceEntry(tlStart, exportName, "Routine ", CallbackName(id));
  std::int32_t result = VN_RC_UNKNOWN_CALLBACK_ID;
  if (CallbackIdAccepted(exportName, id)) {
    State().Registrations.Set(id, proc);
    result = VN_RC_SUCCESS;
    if (DebugFlagOn(kTraceAppCalls))
      WriteTraceLine(std::string(exportName) + ": added routine " + std::string(CallbackName(id)));
  }
  AddTraceEntry(tlExit, exportName, "Routine ", CallbackName(id));
  return result;
}

bool CallbackRegistered(std::int32_t id) {
  return State().Registrations.Get(id) != nullptr;
}

void FreeCallbackRegistrations() {
  State().Registrations.Clear();
}

void StartCallbackThread() {
  auto& state = State();
  std::lock_guard guard(state.ThreadLock);
  if (!state.Thread) state.Thread = std::make_unique<TCallbackThread>();
}

void StopCallbackThread() {
  auto& state = State();
  std::unique_ptr<TCallbackThread> thread;
  {
    std::lock_guard guard(state.ThreadLock);
    thread = std::move(state.Thread);
  }
  // Joined outside the lock: a procedure running on the thread may start or stop it itself.
  if (thread) thread->Stop();
  thread.reset();
  ClearCallbackQueue();
}

bool OnCallbackThread() {
  return onCallbackThread;
}

void SetCallbackDelivery(bool on) {
  State().Delivering.store(on, std::memory_order_release);
}

bool CallbackThreadRunning() {
  auto& state = State();
  std::lock_guard guard(state.ThreadLock);
  return state.Thread != nullptr;
}

void AddCallback(std::int32_t id, const void* payload, std::size_t size) {
  TTraceScope scope("AddCallback", NamedText(kPostTexts, id));
  try {
    auto& state = State();
    if (state.Queue.Push(id, payload, size)) state.Wake.SetEvent();
  } catch (...) {
    ReportException("AddCallback", std::current_exception());
  }
}

void ClearCallbackQueue() {
  State().Queue.Clear();
}

std::size_t CallbackQueueCount() {
  return State().Queue.Count();
}

std::size_t CallbackQueueBytes() {
  return State().Queue.HeldBytes();
}

// ---------------------------------------------------------------------------------------------
// Builders.

void AddOrderCallback(std::string_view orderId, std::string_view oldOrderId, std::uint8_t status,
                      std::int32_t ofSeqNumber) {
  if (DebugFlagOn(kGenerateOrderLog)) {
    const std::string statusName = status < kOrderStatusNames.size()
                                       ? std::string(kOrderStatusNames[status])
                                       : IntToStr(status);
    WriteTraceLine("Adding Order Callback " + std::string(orderId) +
                   ", Old ID=" + std::string(oldOrderId) + " status= " + statusName);
  }
  OrderUpdateStruct update{};
  PutFixed(update.OrderID, TrimView(orderId));
  PutFixed(update.OldOrderID, TrimView(oldOrderId));
  update.Status = status;
  update.OFSeqNumber = ofSeqNumber;
  Post(VN_CB_ORDER, update);
}

void AddFillCallback(std::string_view orderId, std::string_view fillId) {
  FillUpdateStruct update{};
  PutFixed(update.OrderID, TrimView(orderId));
  PutFixed(update.FillID, TrimView(fillId));
  Post(VN_CB_FILL, update);
}

void AddMessageCallback(std::string_view messageId) {
  PostText(VN_CB_MESSAGE, messageId);
}

void AddContractCallback(std::int32_t id, std::string_view exchange, std::string_view commodity,
                         std::string_view contractDate) {
  Post(id, MakeTrimmedKey(exchange, commodity, contractDate));
}

void AddPriceCallback(std::string_view exchange, std::string_view commodity,
                      std::string_view contractDate) {
  AddContractCallback(VN_CB_PRICE_UPDATE, exchange, commodity, contractDate);
}

void AddAtBestCallback(std::string_view exchange, std::string_view commodity,
                       std::string_view contractDate) {
  AddContractCallback(VN_CB_AT_BEST_UPDATE, exchange, commodity, contractDate);
}

void AddSubscriberDepthCallback(std::string_view exchange, std::string_view commodity,
                                std::string_view contractDate) {
  AddContractCallback(VN_CB_SUBSCRIBER_DEPTH_UPDATE, exchange, commodity, contractDate);
}

void AddDOMCallback(std::string_view exchange, std::string_view commodity,
                    std::string_view contractDate) {
  Post(VN_CB_DOM_UPDATE, MakeKey(exchange, commodity, contractDate));
}

void AddStatusChangeCallback(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate, std::int32_t status) {
  ContractStatusStruct change{};
  change.Key = MakeKey(exchange, commodity, contractDate);
  change.Status = status;
  Post(VN_CB_STATUS_CHANGE, change);
}

void AddGenericPriceCallback(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate, std::int32_t priceType, char flag) {
  GenericPriceUpdateStruct update{};
  update.Key = MakeTrimmedKey(exchange, commodity, contractDate);
  update.PriceType = priceType;
  update.Level[0] = flag;
  Post(VN_CB_GENERIC_PRICE_UPDATE, update);
}

void AddBlankPricesCallback(std::string_view exchange, std::string_view commodity,
                            std::string_view contractDate) {
  Post(VN_CB_BLANK_PRICES, MakeTrimmedKey(exchange, commodity, contractDate));
}

void AddCommodityCallback(std::int32_t id, std::string_view exchange, std::string_view commodity) {
  ExchangeCommodityStruct names{};
  PutFixed(names.ExchangeName, TrimView(exchange));
  PutFixed(names.CommodityName, TrimView(commodity));
  Post(id, names);
}

void AddExchangeCallback(std::int32_t id, std::string_view exchange) {
  PostText(id, TrimView(exchange));
}

void AddPurgeCompletedCallback(std::int32_t id, std::string_view exchange) {
  PostText(id, TrimView(exchange));
}

void AddLinkStateCallback(std::int32_t id, std::uint8_t oldState, std::uint8_t newState) {
  LinkStateStruct state{};
  state.OldState = oldState;
  state.NewState = newState;
  Post(id, state);
}

void AddExchangeRateCallback(std::string_view currency) {
  PostText(VN_CB_EXCHANGE_RATE, TrimView(currency));
}

void AddConnectivityStatusCallback(const std::array<std::string_view, 10>& fields) {
  ConnectivityStatusStruct status{};
  PutFixed(status.Field1, TrimView(fields[0]));
  PutFixed(status.Field2, TrimView(fields[1]));
  PutFixed(status.Field3, TrimView(fields[2]));
  PutFixed(status.Field4, TrimView(fields[3]));
  PutFixed(status.Field5, TrimView(fields[4]));
  PutFixed(status.Field6, TrimView(fields[5]));
  PutFixed(status.Field7, TrimView(fields[6]));
  PutFixed(status.Field8, TrimView(fields[7]));
  PutFixed(status.Field9, TrimView(fields[8]));
  PutFixed(status.Field10, TrimView(fields[9]));
  Post(VN_CB_CONNECTIVITY_STATUS, status);
}

void AddOrderCancelFailureCallback(std::string_view orderId) {
  PostOrderFailure(VN_CB_ORDER_CANCEL_FAILURE, TrimView(orderId));
}

void AddOrderSentFailureCallback(std::string_view orderId) {
  PostOrderFailure(VN_CB_ORDER_SENT_FAILURE, orderId);
}

void AddOrderQueuedFailureCallback(std::string_view orderId) {
  PostOrderFailure(VN_CB_ORDER_QUEUED_FAILURE, orderId);
}

void AddAmendFailureCallback(std::string_view orderId) {
  PostOrderFailure(VN_CB_AMEND_FAILURE, orderId);
}

void AddTickerCallback(std::string_view exchange, std::string_view commodity,
                       std::string_view contractDate, const TTickerPrices& prices, bool bidChanged,
                       bool offerChanged, bool lastChanged) {
  if (!bidChanged && !offerChanged && !lastChanged) return;
  TickerStruct ticker{};
  ticker.Key = MakeKey(exchange, commodity, contractDate);
  PutFixed(ticker.BidPrice, FloatToStr(prices.BidPrice));
  ticker.BidVolume = prices.BidVolume;
  PutFixed(ticker.OfferPrice, FloatToStr(prices.OfferPrice));
  ticker.OfferVolume = prices.OfferVolume;
  PutFixed(ticker.LastPrice, FloatToStr(prices.LastPrice));
  ticker.LastVolume = prices.LastVolume;
  ticker.BidChanged = bidChanged ? VN_YES : VN_NO;
  ticker.OfferChanged = offerChanged ? VN_YES : VN_NO;
  ticker.LastChanged = lastChanged ? VN_YES : VN_NO;
  Post(VN_CB_TICKER_UPDATE, ticker);
}

void AddSettlementCallback(std::string_view exchange, std::string_view commodity,
                           std::string_view contractDate, std::int32_t settlementType,
                           std::string_view date, std::string_view time, double price) {
  SettlementStruct settlement{};
  settlement.Key = MakeTrimmedKey(exchange, commodity, contractDate);
  settlement.SettlementType = settlementType;
  PutFixed(settlement.Price, FloatToStr(price));
  // Each text stays within its own field: a longer date is cut there instead of running into
  // the time.
  PutFixed(settlement.SettlementDate, TrimView(date));
  PutFixed(settlement.SettlementTime, TrimView(time));
  Post(VN_CB_SETTLEMENT, settlement);
}

void AddStrategyCreateSuccessCallback(std::string_view userName, std::string_view exchange,
                                      std::string_view commodity, std::string_view contractDate,
                                      std::string_view text) {
  PostStrategyResult(VN_CB_STRATEGY_CREATE_SUCCESS, userName, exchange, commodity, contractDate,
                     text);
}

void AddStrategyCreateFailureCallback(std::string_view userName, std::string_view exchange,
                                      std::string_view commodity, std::string_view contractDate,
                                      std::string_view text) {
  PostStrategyResult(VN_CB_STRATEGY_CREATE_FAILURE, userName, exchange, commodity, contractDate,
                     text);
}

void AddOrderTypeCallback(const OrderTypeStruct& orderType) {
  OrderTypeStruct update = orderType;
  PutFixed(update.Name, TrimView(GetFixed(orderType.Name)));
  PutFixed(update.ExchangeName, TrimView(GetFixed(orderType.ExchangeName)));
  Post(VN_CB_ORDER_TYPE_UPDATE, update);
}

void AddTraderCallback(std::int32_t id, const TraderAcctStruct& trader) {
  TraderAcctStruct update = trader;
  PutFixed(update.TraderAccount, TrimView(GetFixed(trader.TraderAccount)));
  PutFixed(update.BackOfficeID, TrimView(GetFixed(trader.BackOfficeID)));
  Post(id, update);
}

}  // namespace vorn
