#pragma once
// Plays the application's side of the callbacks: one procedure per callback id, of the type its
// export takes, registered through that export. Each delivery is recorded with its
// id, the thread it ran on and the whole payload area. One recorder at a time: the procedures
// are plain C functions without user data, so they find the recorder through a global.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/events/Callbacks.h"
#include "vornintf.h"

namespace vorn {

class TCallbackRecorder {
 public:
  using TPayload = std::array<unsigned char, VN_CALLBACK_PAYLOAD_SIZE>;
  struct TDelivery {
    std::int32_t Id = 0;
    std::thread::id Thread;
    TPayload Payload{};  // all zero for the ids without a payload
  };
  // Runs inside the procedure after the delivery is recorded; it may throw, post or stop.
  using THook = std::function<void(const TDelivery&)>;

  TCallbackRecorder() { Current().store(this); }
  TCallbackRecorder(const TCallbackRecorder&) = delete;
  TCallbackRecorder& operator=(const TCallbackRecorder&) = delete;
  ~TCallbackRecorder() { Current().store(nullptr); }

  // Registers the recording procedure of the id through the export that takes it; the
  // export's result.
  static std::int32_t Register(std::int32_t id) {
    for (const auto& entry : Entries())
      if (entry.Id == id) return entry.Register();
    return VN_RC_UNKNOWN_CALLBACK_ID;
  }
  // True when every export accepted its procedures.
  static bool RegisterAll() {
    bool accepted = true;
    for (const auto& entry : Entries())
      accepted = entry.Register() == VN_RC_SUCCESS && accepted;
    return accepted;
  }

  void SetHook(THook hook) {
    std::lock_guard guard(lock_);
    hook_ = std::move(hook);
  }

  // False when the time-out passes before count deliveries were recorded.
  bool WaitForCount(std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return deliveries_.size() >= count; });
  }
  // False when the time-out passes before the deliveries so far satisfy done, which is called
  // with them under the recorder's lock after each delivery.
  template <class F>
  bool WaitUntil(F done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return done(std::as_const(deliveries_)); });
  }
  // Delivers what is queued: the callback thread runs until a recorder registered for every id
  // has received it all. The deliveries in posting order.
  static std::vector<TDelivery> DeliverQueued() {
    const std::size_t count = CallbackQueueCount();
    if (count == 0) return {};
    TCallbackRecorder recorder;
    EXPECT_TRUE(RegisterAll());
    StartCallbackThread();
    EXPECT_TRUE(recorder.WaitForCount(count));
    StopCallbackThread();
    return recorder.Deliveries();
  }

  std::vector<TDelivery> Deliveries() const {
    std::lock_guard guard(lock_);
    return deliveries_;
  }
  std::size_t Count() const {
    std::lock_guard guard(lock_);
    return deliveries_.size();
  }
  // True when two procedures ever ran at the same time.
  bool Overlapped() const { return overlapped_.load(); }

 private:
  struct TEntry {
    std::int32_t Id;
    std::int32_t (*Register)();
  };

  static std::atomic<TCallbackRecorder*>& Current() {
    static std::atomic<TCallbackRecorder*> current{nullptr};
    return current;
  }

  static void Record(std::int32_t id, const void* payload) {
    auto* recorder = Current().load();
    if (recorder) recorder->Add(id, payload);
  }

  template <std::int32_t Id>
  static void VN_STDCALL RecordNone() {
    Record(Id, nullptr);
  }
  template <std::int32_t Id, class Arg>
  static void VN_STDCALL RecordArg(const Arg* arg) {
    Record(Id, arg);
  }

  // The procedure's type comes from the export's declaration.
  template <std::int32_t Id, class Arg>
  static std::int32_t RegisterWith(
      std::int32_t(VN_STDCALL* registerExport)(std::int32_t, void(VN_STDCALL*)(const Arg*))) {
    return registerExport(Id, &RecordArg<Id, Arg>);
  }
  template <std::int32_t Id>
  static std::int32_t RegisterWith(std::int32_t(VN_STDCALL* registerExport)(std::int32_t,
                                                                            VnNotifyProc)) {
    return registerExport(Id, &RecordNone<Id>);
  }

  // The application's view of the interface: the export that registers every id.
  static const std::vector<TEntry>& Entries() {
    static const std::vector<TEntry> entries = {
        {1, [] { return RegisterWith<1>(vnRegisterLinkStateCallback); }},
        {2, [] { return RegisterWith<2>(vnRegisterLinkStateCallback); }},
        {3, [] { return RegisterWith<3>(vnRegisterCallback); }},
        {4, [] { return RegisterWith<4>(vnRegisterMsgCallback); }},
        {5, [] { return RegisterWith<5>(vnRegisterOrderCallback); }},
        {6, [] { return RegisterWith<6>(vnRegisterCallback); }},
        {7, [] { return RegisterWith<7>(vnRegisterCallback); }},
        {8, [] { return RegisterWith<8>(vnRegisterPriceCallback); }},
        {9, [] { return RegisterWith<9>(vnRegisterFillCallback); }},
        {10, [] { return RegisterWith<10>(vnRegisterStatusCallback); }},
        {11, [] { return RegisterWith<11>(vnRegisterContractCallback); }},
        {12, [] { return RegisterWith<12>(vnRegisterContractCallback); }},
        {13, [] { return RegisterWith<13>(vnRegisterExchangeRateCallback); }},
        {14, [] { return RegisterWith<14>(vnRegisterConStatusCallback); }},
        {15, [] { return RegisterWith<15>(vnRegisterOrderCancelFailureCallback); }},
        {16, [] { return RegisterWith<16>(vnRegisterAtBestCallback); }},
        {17, [] { return RegisterWith<17>(vnRegisterTickerCallback); }},
        {18, [] { return RegisterWith<18>(vnRegisterCallback); }},
        {19, [] { return RegisterWith<19>(vnRegisterSubscriberDepthCallback); }},
        {21, [] { return RegisterWith<21>(vnRegisterDOMCallback); }},
        {22, [] { return RegisterWith<22>(vnRegisterSettlementCallback); }},
        {23, [] { return RegisterWith<23>(vnRegisterStrategyCreateSuccess); }},
        {24, [] { return RegisterWith<24>(vnRegisterStrategyCreateFailure); }},
        {25, [] { return RegisterWith<25>(vnRegisterAmendFailureCallback); }},
        {26, [] { return RegisterWith<26>(vnRegisterGenericPriceCallback); }},
        {27, [] { return RegisterWith<27>(vnRegisterBlankPriceCallback); }},
        {28, [] { return RegisterWith<28>(vnRegisterOrderSentFailureCallback); }},
        {29, [] { return RegisterWith<29>(vnRegisterOrderQueuedFailureCallback); }},
        {30, [] { return RegisterWith<30>(vnRegisterOrderBookReset); }},
        {31, [] { return RegisterWith<31>(vnRegisterExchangeCallback); }},
        {32, [] { return RegisterWith<32>(vnRegisterCommodityCallback); }},
        {33, [] { return RegisterWith<33>(vnRegisterContractCallback); }},
        {36, [] { return RegisterWith<36>(vnRegisterExchangeCallback); }},
        {37, [] { return RegisterWith<37>(vnRegisterTraderAddedCallback); }},
        {38, [] { return RegisterWith<38>(vnRegisterOrderTypeUpdateCallback); }},
    };
    return entries;
  }

  void Add(std::int32_t id, const void* payload) {
    if (inFlight_.fetch_add(1) != 0) overlapped_.store(true);
    TDelivery delivery;
    delivery.Id = id;
    delivery.Thread = std::this_thread::get_id();
    // The library hands over a pointer into its whole payload area.
    if (payload) std::memcpy(delivery.Payload.data(), payload, delivery.Payload.size());
    THook hook;
    {
      std::lock_guard guard(lock_);
      deliveries_.push_back(delivery);
      hook = hook_;
    }
    changed_.notify_all();
    struct TLeave {
      std::atomic<int>& inFlight;
      ~TLeave() { inFlight.fetch_sub(1); }
    } leave{inFlight_};
    if (hook) hook(delivery);
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TDelivery> deliveries_;
  THook hook_;
  std::atomic<int> inFlight_{0};
  std::atomic<bool> overlapped_{false};
};

}  // namespace vorn
