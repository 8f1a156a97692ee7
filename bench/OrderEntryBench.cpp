// An order entered by the application to its add request handed to the socket: vnAddOrder on a
// logged-on API object whose real host link is connected to a loopback host that drains what it
// receives, with 10^5 orders already listed, host ids to spare and the order throttle off.
//
// The call's return is the moment the request's bytes were handed to the socket: vnAddOrder
// builds the order and lists it, then, on the calling thread and with no lock held, builds the
// add request and passes it through the throttle (which does not sleep when off) to the host
// link's Send, which writes the whole frame through the socket's send before returning
// (TLinkRequests::SendOrderRequest -> TClassAPI::SendOnLink -> TConnection::Send -> WriteFrame ->
// TWSocket::Send). Only the order event's posting to the callback queue follows the write.
//
// The floor, measured in the same run: a plain ::send of a frame of a 3301's size over a
// loopback connection of its own, drained by a thread as the host's end is ("floor_p50_us",
// and "p50_over_floor").
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/Dispatcher.h"
#include "support/HostText.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace {

using namespace vorn;

// Host ids: the listed orders' below, the pool's above.
constexpr std::int64_t kFirstPoolID = 10000000;

// The market's limit order, as the benchmark enters it.
NewOrderStruct LimitOrder() {
  NewOrderStruct order = TradingLimitOrder();
  PutFixed(order.Price, "6500.5");
  order.Lots = 3;
  order.XRefP = 77;
  PutFixed(order.Reference, "bench order");
  return order;
}

// Orders the host has accepted: working states listed through the order-state rules.
void ListWorkingOrders(TClassAPI& api, std::int64_t count) {
  const auto account = api.Accounts.FindAccount("TRADER1");
  const auto contract = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
  const auto type = api.OrderTypes.FindOrderType("LIFFE", "LIMIT");
  for (std::int64_t i = 1; i <= count; ++i) {
    auto order = std::make_shared<TOrderItem>();
    order->ID = std::to_string(i);
    order->Status = osWorking;
    order->UserName = "trader1";
    order->TraderAccount = account;
    order->Contract = contract;
    order->OrderType = type;
    order->BuySell = i % 2 ? Buy : Sell;
    order->Price = 6400 + static_cast<double>(i % 200) / 2;
    order->TargetLots = 1;
    order->ActualLots = 1;
    api.Orders.Add(order);
  }
}

// The median of a plain ::send of `size` bytes over a loopback connection whose far end a
// thread drains; 0 when no connection could be made.
double RawSendFloorUs(std::size_t size, int sends) {
  TLoopbackListener listener;
  auto client = ConnectLoopback(listener.Port());
  auto server = listener.Accept(std::chrono::seconds(10));
  if (!client || !server) return 0;
  const int on = 1;
  ::setsockopt(client->Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::atomic<bool> stop{false};
  std::thread drain([&] {
    std::vector<char> buffer(64 * 1024);
    while (!stop)
      if (server->ReadSome(buffer.data(), buffer.size(), std::chrono::milliseconds(100)) == 0)
        break;
  });
  const std::string frame(size, 'x');
  std::vector<std::int64_t> nanoseconds;
  nanoseconds.reserve(static_cast<std::size_t>(sends));
  for (int i = 0; i < sends; ++i) {
    const std::int64_t start = MonotonicNs();
    const auto sent = ::send(client->Fd(), frame.data(), frame.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(frame.size())) break;
    nanoseconds.push_back(MonotonicNs() - start);
  }
  stop = true;
  client->Close();
  drain.join();
  // A send that failed leaves no floor.
  if (nanoseconds.size() < static_cast<std::size_t>(sends)) return 0;
  std::sort(nanoseconds.begin(), nanoseconds.end());
  return static_cast<double>(nanoseconds[nanoseconds.size() / 2]) / 1000.0;
}

void BM_OrderEntryToSocket(benchmark::State& state) {
  std::unique_ptr<TLoopbackExportSession> session;
  try {
    session = std::make_unique<TLoopbackExportSession>();
    AddTradingMarket(session->Api());
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  TClassAPI& api = session->Api();
  api.Features.OrderThrottle = false;
  ListWorkingOrders(api, state.range(0));
  // The pool never runs low during the run: no order-id request goes out.
  const std::int64_t poolSize =
      state.max_iterations + 2 * static_cast<std::int64_t>(TOrderIDPool::kLowWater);
  for (std::int64_t i = 0; i < poolSize; ++i)
    api.OrderIDs.AddPreAllocatedOrderID(std::to_string(kFirstPoolID + i));

  const NewOrderStruct order = LimitOrder();
  std::vector<std::int64_t> nanoseconds;
  nanoseconds.reserve(static_cast<std::size_t>(state.max_iterations));
  char id[11] = {};
  const std::int64_t drainedBefore = session->DrainedBytes();
  for (auto _ : state) {
    const std::int64_t start = MonotonicNs();
    const std::int32_t result = vnAddOrder(&order, id);
    const std::int64_t elapsed = MonotonicNs() - start;
    if (result != VN_RC_SUCCESS) {
      state.SkipWithError(("vnAddOrder returned " + std::to_string(result)).c_str());
      break;
    }
    nanoseconds.push_back(elapsed);
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["listed"] = static_cast<double>(api.Orders.Count());
  ReportPercentiles(state, std::move(nanoseconds));
  // The add request's size: what the host's end read during the run, per call.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto frameSize = static_cast<std::size_t>(std::max<std::int64_t>(
      (session->DrainedBytes() - drainedBefore) / std::max<std::int64_t>(state.iterations(), 1),
      1));
  state.counters["frame_bytes"] = static_cast<double>(frameSize);
  const double floor = RawSendFloorUs(frameSize, 2000);
  state.counters["floor_p50_us"] = floor;
  if (floor > 0) state.counters["p50_over_floor"] = state.counters["p50_us"] / floor;
}
// The add request carries the account's margin requirement, which is worked out from every
// listed order: the call grows with the list, so the large list is timed over fewer calls. The
// timed orders stay listed (queued) too.
BENCHMARK(BM_OrderEntryToSocket)
    ->ArgName("listed")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OrderEntryToSocket)
    ->ArgName("listed")
    ->Arg(0)
    ->Iterations(2000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// --- Order entry with positions and option entries, the orders listed through the receivers ---
//
// The same call as BM_OrderEntryToSocket, in margin mode, with what a trading day leaves behind,
// all applied as the host link applies it (the dispatcher's receivers): `listed` host order
// states of fixed-width ids, nine in ten working orders on the future, one in ten on the
// option, of which all but the last 20 went on to be filled (their margin-order entries
// stay); a fill for every tenth order on the future and on the option, bought and sold in turn;
// a start-of-day long position on the option. A last trade on the future before every call
// voids the account's kept position totals, as a live market does.

// Host ids of the orders listed through the receivers (fixed width).
constexpr std::int64_t kFirstListedID = 1000000;

void ListThroughReceivers(TClassAPI& api, std::int64_t count) {
  const auto host = [&](const std::string& text) { ProcessMessage(api, psHost, Wire(text)); };
  host("Msg=3676|Ex=LIFFE|C=FTSE|CD=JUN27 C6500|TA=TRADER1|Psl=5|Pss=0|Pr=4|");
  std::int64_t sequence = 0;
  const std::int64_t optionOrders = count / 10;
  for (std::int64_t i = 0; i < count; ++i) {
    const bool option = i % 10 == 9;
    const std::string id = std::to_string(kFirstListedID + i);
    const std::string date = option ? "JUN27 C6500" : "MAR27";
    const std::string side = i % 2 ? "1" : "2";
    const std::string order = "|OID=" + id + "|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=" + date +
                              "|OTy=LIMIT|BS=" + side + "|Pr=" + (option ? "4" : "6500") +
                              "|TLt=1|ALt=1|";
    host("Msg=3601|Sts=" + std::to_string(osWorking) + "|Seq=" + std::to_string(++sequence) +
         order + "Fil=0|");
    if (option && i / 10 < optionOrders - 20)
      host("Msg=3601|Sts=" + std::to_string(osFilled) + "|Seq=" + std::to_string(++sequence) +
           order + "Fil=1|");
    if (i % 10 == 0 || option)
      host("Msg=3602|FID=F" + id + "|OID=" + id + "|Ex=LIFFE|C=FTSE|CD=" + date +
           "|BS=" + ((i / 10) % 2 ? "1" : "2") + "|Fil=1|Pr=" + (option ? "4" : "6500") +
           "|FTy=1|TA=TRADER1|Usr=trader1|DF=20261209093000|HRx=20261209093001|");
  }
}

void BM_OrderEntryWithPositions(benchmark::State& state) {
  std::unique_ptr<TLoopbackExportSession> session;
  try {
    session = std::make_unique<TLoopbackExportSession>();
    AddTradingMarket(session->Api());
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  TClassAPI& api = session->Api();
  api.Features.OrderThrottle = false;
  api.Features.MarginMode = true;
  const auto future = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
  const auto option = api.Contracts.FindContract("LIFFE", "FTSE", "JUN27 C6500");
  option->SetPrice(5, 1, 4.5);
  ListThroughReceivers(api, state.range(0));
  const std::int64_t poolSize =
      state.max_iterations + 2 * static_cast<std::int64_t>(TOrderIDPool::kLowWater);
  for (std::int64_t i = 0; i < poolSize; ++i)
    api.OrderIDs.AddPreAllocatedOrderID(std::to_string(kFirstPoolID + i));

  const NewOrderStruct order = LimitOrder();
  std::vector<std::int64_t> nanoseconds;
  nanoseconds.reserve(static_cast<std::size_t>(state.max_iterations));
  char id[11] = {};
  std::int64_t trade = 0;
  const std::int64_t drainedBefore = session->DrainedBytes();
  for (auto _ : state) {
    future->SetPrice(5, 1, 6500 + static_cast<double>(++trade % 8));
    const std::int64_t start = MonotonicNs();
    const std::int32_t result = vnAddOrder(&order, id);
    const std::int64_t elapsed = MonotonicNs() - start;
    if (result != VN_RC_SUCCESS) {
      state.SkipWithError(("vnAddOrder returned " + std::to_string(result)).c_str());
      break;
    }
    nanoseconds.push_back(elapsed);
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["listed"] = static_cast<double>(api.Orders.Count());
  state.counters["fills"] = static_cast<double>(api.Fills.Count());
  state.counters["option_entries"] =
      static_cast<double>(api.Accounts.FindAccount("TRADER1")->GetMarginOrders(option->Key()).size());
  ReportPercentiles(state, std::move(nanoseconds));
  // Flatness: this run's median over the median of the 10^3 run of the same process.
  static double p50At1000 = 0;
  if (state.range(0) == 1000) p50At1000 = state.counters["p50_us"];
  if (p50At1000 > 0) state.counters["p50_over_1k"] = state.counters["p50_us"] / p50At1000;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto frameSize = static_cast<std::size_t>(std::max<std::int64_t>(
      (session->DrainedBytes() - drainedBefore) / std::max<std::int64_t>(state.iterations(), 1),
      1));
  const double floor = RawSendFloorUs(frameSize, 2000);
  state.counters["floor_p50_us"] = floor;
  if (floor > 0) state.counters["p50_over_floor"] = state.counters["p50_us"] / floor;
}
// Flat is p50_over_1k <= 1.2 at 10^5 (the runs go in this order in one process).
BENCHMARK(BM_OrderEntryWithPositions)
    ->ArgName("listed")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
