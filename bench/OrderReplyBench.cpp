// A host order message (3601) from its bytes written by the host to the application's order
// procedure: a loopback host writes frames to a real host link, whose socket thread frames,
// parses and applies them (the order-state rules) and posts the order event; the callback
// thread calls the procedure registered with vnRegisterOrderCallback, which stamps the arrival.
//
// Every message is a working state of a new order (its own OID, Seq 1), so none can be taken
// for a repeat of an earlier one; the procedure stamps each order's arrival in its own slot,
// and a run in which any order is missing or an unexpected event arrives is reported as an
// error.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/session/ClassAPI.h"
#include "support/HostText.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace {

using namespace vorn;

constexpr std::int64_t kLatencyMessages = 5000;
constexpr std::int64_t kBatch = 1000;
constexpr std::int64_t kBatches = 50;
// A reply lost for this long ends the run with an error instead of waiting for ever.
constexpr std::int64_t kLostAfterNs = 10'000'000'000;

// About 200 bytes, as the host sends an order's working state.
std::string OrderFrame(std::int64_t id) {
  const std::string oid = std::to_string(id);
  return Frame(Wire("Msg=3601|OID=" + oid +
                    "|Sts=3|Seq=1|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|"
                    "Pr=6500.5|TLt=3|Fil=0|Usr=trader1|XR=77|Ref=bench order|EID=X-" +
                    oid + "|"));
}

// Arrival stamps by order number (1 to count); written on the callback thread.
struct TArrivals {
  explicit TArrivals(std::int64_t count) : Stamps(static_cast<std::size_t>(count) + 1) {}
  std::vector<std::atomic<std::int64_t>> Stamps;
  std::atomic<std::int64_t> Count{0};
  std::atomic<std::int64_t> Unexpected{0};
};
std::atomic<TArrivals*> gArrivals{nullptr};

void VN_STDCALL OrderArrived(const OrderUpdateStruct* update) {
  const std::int64_t now = MonotonicNs();
  TArrivals* arrivals = gArrivals.load(std::memory_order_acquire);
  if (!arrivals) return;
  const long long n = std::strtoll(update->OrderID, nullptr, 10);
  if (n <= 0 || n >= static_cast<long long>(arrivals->Stamps.size()) ||
      arrivals->Stamps[static_cast<std::size_t>(n)].exchange(now) != 0) {
    arrivals->Unexpected.fetch_add(1);
    return;
  }
  arrivals->Count.fetch_add(1, std::memory_order_release);
}

// A session whose order events reach OrderArrived, for messages numbered 1 to count.
struct TReplySession {
  explicit TReplySession(std::int64_t count) : Arrivals(count) {
    AddTradingMarket(Session.Api());
    if (vnRegisterOrderCallback(VN_CB_ORDER, OrderArrived) != 0)
      throw std::runtime_error("order callback registration failed");
    gArrivals.store(&Arrivals, std::memory_order_release);
  }
  ~TReplySession() { gArrivals.store(nullptr, std::memory_order_release); }

  // False when the arrivals did not reach count in time.
  bool WaitForCount(std::int64_t count, std::int64_t since) {
    while (Arrivals.Count.load(std::memory_order_acquire) < count) {
      if (MonotonicNs() - since > kLostAfterNs) return false;
      std::this_thread::yield();
    }
    return true;
  }
  // Null when every message arrived once and nothing else did; else the error.
  const char* Check(std::int64_t count) const {
    if (Arrivals.Unexpected != 0) return "an unexpected order event arrived";
    if (Arrivals.Count != count) return "an order event is missing";
    return nullptr;
  }

  TLoopbackExportSession Session;
  TArrivals Arrivals;
};

std::unique_ptr<TReplySession> OpenReplySession(benchmark::State& state, std::int64_t count) {
  try {
    return std::make_unique<TReplySession>(count);
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return nullptr;
  }
}

// One frame written, then its order procedure awaited: per-message latency.
void BM_OrderReplyLatency(benchmark::State& state) {
  const std::int64_t count = state.max_iterations;
  auto reply = OpenReplySession(state, count);
  if (!reply) return;
  std::vector<std::string> frames;
  for (std::int64_t id = 1; id <= count; ++id)
    frames.push_back(OrderFrame(id));
  std::vector<std::int64_t> nanoseconds;
  nanoseconds.reserve(static_cast<std::size_t>(count));
  std::int64_t id = 0;
  for (auto _ : state) {
    ++id;
    const std::int64_t start = MonotonicNs();
    if (!reply->Session.Host().Write(frames[static_cast<std::size_t>(id - 1)]) ||
        !reply->WaitForCount(id, start)) {
      state.SkipWithError("a reply did not reach the order procedure");
      break;
    }
    const std::int64_t elapsed =
        reply->Arrivals.Stamps[static_cast<std::size_t>(id)].load(std::memory_order_relaxed) -
        start;
    nanoseconds.push_back(elapsed);
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  if (const char* error = reply->Check(id)) state.SkipWithError(error);
  state.SetItemsProcessed(state.iterations());
  ReportPercentiles(state, std::move(nanoseconds));
}
BENCHMARK(BM_OrderReplyLatency)
    ->Iterations(kLatencyMessages)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// A batch of frames written at once, then all its order procedures awaited: sustained
// messages per second.
void BM_OrderReplyThroughput(benchmark::State& state) {
  const std::int64_t batch = state.range(0);
  const std::int64_t count = state.max_iterations * batch;
  auto reply = OpenReplySession(state, count);
  if (!reply) return;
  std::vector<std::string> batches;
  for (std::int64_t first = 1; first <= count; first += batch) {
    std::string bytes;
    for (std::int64_t id = first; id < first + batch; ++id)
      bytes += OrderFrame(id);
    batches.push_back(std::move(bytes));
  }
  std::int64_t written = 0;
  std::int64_t totalNs = 0;
  for (auto _ : state) {
    const std::int64_t start = MonotonicNs();
    if (!reply->Session.Host().Write(batches[static_cast<std::size_t>(written / batch)]) ||
        !reply->WaitForCount(written + batch, start)) {
      state.SkipWithError("a reply did not reach the order procedure");
      break;
    }
    const std::int64_t elapsed = MonotonicNs() - start;
    written += batch;
    totalNs += elapsed;
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  if (const char* error = reply->Check(written)) state.SkipWithError(error);
  state.SetItemsProcessed(written);
  if (totalNs > 0)
    state.counters["msgs_per_s"] =
        static_cast<double>(written) * 1e9 / static_cast<double>(totalNs);
}
BENCHMARK(BM_OrderReplyThroughput)
    ->Arg(kBatch)
    ->Iterations(kBatches)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
