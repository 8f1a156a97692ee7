// A host order message (3601) from its bytes written by the host to the application's order
// procedure: a loopback host writes frames to a real host link, whose socket thread frames,
// parses and applies them (the order-state rules) and posts the order event; the callback
// thread calls the procedure registered with vnRegisterOrderCallback, which stamps the arrival.
//
// Every message is a working state of a new order (its own OID, Seq 1), so none can be taken
// for a repeat of an earlier one; the procedure stamps each order's arrival in its own slot,
// and a run in which any order is missing or an unexpected event arrives is reported as an
// error. Before the timed messages, 10^5 orders are listed the same way, through the receiver.
// "ids" 0: every id has seven digits and the timed ones follow the listed ones in key order;
// 1: the listed ids are 1 to 10^5 and the timed ones 100001 on, which sort among them as text.
//
// The floor, measured in the same run: the same frames written over a loopback connection of
// their own, read by a plain reader thread (poll, then 64 KB reads until the socket is empty,
// frames cut from the bytes) and handed one by one to a second thread through the callback
// queue's kind of primitive (the packed event queue, a manual-reset event set by the post that
// finds it empty), which stamps them. Throughput reports "msgs_per_s" and "floor_msgs_per_s";
// the paced latency "p50_us"/"p99_us" beside "floor_p50_us"/"floor_p99_us", and their ratios.
// "faults_per_msg" is the process's minor page faults over the timed messages, per message; the
// pages earlier benchmarks of the process freed are taken again without a fault, so a case's own
// figure comes from running it alone (--benchmark_filter).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/events/EventQueue.h"
#include "core/session/ClassAPI.h"
#include "platform/Event.h"
#include "support/HostText.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace {

using namespace vorn;

constexpr std::int64_t kListed = 100000;
constexpr std::int64_t kBatch = 1000;
constexpr std::int64_t kBatches = 50;
constexpr std::int64_t kPacedMessages = 20000;
constexpr std::int64_t kPaceNs = 100'000;  // 10,000 messages a second
// A reply lost for this long ends the run with an error instead of waiting for ever.
constexpr std::int64_t kLostAfterNs = 30'000'000'000;

// The first listed id and the first timed one, by the "ids" argument.
std::int64_t FirstListedID(std::int64_t ids) {
  return ids == 0 ? 1000001 : 1;
}
std::int64_t FirstTimedID(std::int64_t ids) {
  return FirstListedID(ids) + kListed;
}

// About 200 bytes, as the host sends an order's working state.
std::string OrderFrame(std::int64_t id) {
  const std::string oid = std::to_string(id);
  return Frame(Wire("Msg=3601|OID=" + oid +
                    "|Sts=3|Seq=1|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|"
                    "Pr=6500.5|TLt=3|Fil=0|Usr=trader1|XR=77|Ref=bench order|EID=X-" +
                    oid + "|"));
}

// The frames of count orders from first on, in batches of batch frames.
std::vector<std::string> OrderBatches(std::int64_t first, std::int64_t count, std::int64_t batch) {
  std::vector<std::string> batches;
  for (std::int64_t id = first; id < first + count; id += batch) {
    std::string bytes;
    for (std::int64_t one = id; one < std::min(id + batch, first + count); ++one)
      bytes += OrderFrame(one);
    batches.push_back(std::move(bytes));
  }
  return batches;
}

std::int64_t MinorFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Waits until count reaches target; false when it did not within kLostAfterNs of since.
bool WaitForCount(const std::atomic<std::int64_t>& count, std::int64_t target, std::int64_t since) {
  while (count.load(std::memory_order_acquire) < target) {
    if (MonotonicNs() - since > kLostAfterNs) return false;
    std::this_thread::yield();
  }
  return true;
}

// Spins until the monotonic clock reaches ns.
void WaitUntilNs(std::int64_t ns) {
  while (MonotonicNs() < ns) {
  }
}

// Arrival stamps of the timed orders by their number (1 to count, from the first timed id);
// written on the callback thread.
struct TArrivals {
  TArrivals(std::int64_t firstListed, std::int64_t firstTimed, std::int64_t count)
      : FirstListed(firstListed),
        FirstTimed(firstTimed),
        Stamps(static_cast<std::size_t>(count) + 1) {}
  const std::int64_t FirstListed;
  const std::int64_t FirstTimed;
  std::vector<std::atomic<std::int64_t>> Stamps;
  std::atomic<std::int64_t> Listed{0};
  std::atomic<std::int64_t> Count{0};
  std::atomic<std::int64_t> Unexpected{0};
};
std::atomic<TArrivals*> gArrivals{nullptr};

void VN_STDCALL OrderArrived(const OrderUpdateStruct* update) {
  const std::int64_t now = MonotonicNs();
  TArrivals* arrivals = gArrivals.load(std::memory_order_acquire);
  if (!arrivals) return;
  const long long id = std::strtoll(update->OrderID, nullptr, 10);
  if (id >= arrivals->FirstListed && id < arrivals->FirstTimed) {
    arrivals->Listed.fetch_add(1, std::memory_order_release);
    return;
  }
  const long long n = id - arrivals->FirstTimed + 1;
  if (n <= 0 || n >= static_cast<long long>(arrivals->Stamps.size()) ||
      arrivals->Stamps[static_cast<std::size_t>(n)].exchange(now) != 0) {
    arrivals->Unexpected.fetch_add(1);
    return;
  }
  arrivals->Count.fetch_add(1, std::memory_order_release);
}

// A session whose order events reach OrderArrived, with kListed orders listed through the
// receiver, for count timed messages. Throws std::runtime_error when a step fails.
struct TReplySession {
  TReplySession(std::int64_t ids, std::int64_t count)
      : Arrivals(FirstListedID(ids), FirstTimedID(ids), count) {
    AddTradingMarket(Session.Api());
    if (vnRegisterOrderCallback(VN_CB_ORDER, OrderArrived) != 0)
      throw std::runtime_error("order callback registration failed");
    gArrivals.store(&Arrivals, std::memory_order_release);
    const std::int64_t start = MonotonicNs();
    for (const std::string& batch : OrderBatches(Arrivals.FirstListed, kListed, kBatch))
      if (!Session.Host().Write(batch)) throw std::runtime_error("the host link failed");
    if (!WaitForCount(Arrivals.Listed, kListed, start))
      throw std::runtime_error("the listed orders did not all arrive");
  }
  ~TReplySession() { gArrivals.store(nullptr, std::memory_order_release); }

  // Null when every message arrived once and nothing else did; else the error.
  const char* Check(std::int64_t count) {
    if (Arrivals.Unexpected != 0) return "an unexpected order event arrived";
    if (Arrivals.Listed != kListed) return "a listed order's event is missing or repeated";
    if (Arrivals.Count != count) return "an order event is missing";
    if (static_cast<std::int64_t>(Session.Api().Orders.Count()) != kListed + count)
      return "the order list does not hold every order";
    return nullptr;
  }

  TLoopbackExportSession Session;
  TArrivals Arrivals;
};

std::unique_ptr<TReplySession> OpenReplySession(benchmark::State& state, std::int64_t count) {
  try {
    return std::make_unique<TReplySession>(state.range(0), count);
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return nullptr;
  }
}

// The floor's pipeline on a loopback connection of its own: a reader thread cuts the frames
// and hands each, numbered in arrival order, to a delivery thread that stamps it.
class TReaderHandOff {
 public:
  explicit TReaderHandOff(std::int64_t count) : stamps_(static_cast<std::size_t>(count) + 1) {
    writer_ = ConnectLoopback(listener_.Port());
    reader_ = listener_.Accept(std::chrono::seconds(10));
    if (!writer_ || !reader_) throw std::runtime_error("the floor's connection failed");
    const int on = 1;
    ::setsockopt(writer_->Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(reader_->Fd(), F_SETFL, ::fcntl(reader_->Fd(), F_GETFL) | O_NONBLOCK);
    readThread_ = std::thread([this] { Read(); });
    deliverThread_ = std::thread([this] { Deliver(); });
  }
  TReaderHandOff(const TReaderHandOff&) = delete;
  TReaderHandOff& operator=(const TReaderHandOff&) = delete;
  ~TReaderHandOff() {
    writer_->Close();
    readThread_.join();
    stop_.store(true, std::memory_order_release);
    wake_.SetEvent();
    deliverThread_.join();
  }

  bool Write(std::string_view bytes) { return writer_->Write(bytes); }
  const std::atomic<std::int64_t>& Count() const { return count_; }
  std::int64_t Stamp(std::int64_t n) const {
    return stamps_[static_cast<std::size_t>(n)].load(std::memory_order_relaxed);
  }

 private:
  void Read() {
    std::vector<char> buffer(128 * 1024);
    std::size_t held = 0;  // bytes of an incomplete frame at the buffer's start
    pollfd poll{reader_->Fd(), POLLIN, 0};
    for (;;) {
      if (::poll(&poll, 1, 1000) < 0 && errno != EINTR) return;
      for (;;) {
        const ssize_t got = ::recv(reader_->Fd(), buffer.data() + held, 64 * 1024, 0);
        if (got == 0) return;
        if (got < 0) {
          if (errno == EINTR) continue;
          if (errno == EAGAIN || errno == EWOULDBLOCK) break;
          return;
        }
        const std::size_t end = held + static_cast<std::size_t>(got);
        std::size_t at = 0;
        while (end - at >= 2) {
          const auto* p = reinterpret_cast<const unsigned char*>(buffer.data() + at);
          const std::size_t length = (static_cast<std::size_t>(p[0] & 0x7F) << 8) | p[1];
          if (end - at - 2 < length) break;
          HandOff(buffer.data() + at + 2, length);
          at += 2 + length;
        }
        held = end - at;
        std::memmove(buffer.data(), buffer.data() + at, held);
      }
    }
  }
  // An order event's payload, carrying the frame's number.
  void HandOff(const char*, std::size_t) {
    OrderUpdateStruct update{};
    update.OFSeqNumber = ++framed_;
    if (queue_.Push(VN_CB_ORDER, &update, sizeof update)) wake_.SetEvent();
  }
  void Deliver() {
    TCallbackQueueItem item;
    for (;;) {
      wake_.Wait();
      if (stop_.load(std::memory_order_acquire)) return;
      wake_.ResetEvent();
      while (queue_.Pop(item)) {
        const std::int64_t now = MonotonicNs();
        OrderUpdateStruct update;
        std::memcpy(&update, item.Payload, sizeof update);
        const auto n = static_cast<std::size_t>(update.OFSeqNumber);
        if (n < stamps_.size()) stamps_[n].store(now, std::memory_order_relaxed);
        count_.fetch_add(1, std::memory_order_release);
      }
    }
  }

  TLoopbackListener listener_;
  std::unique_ptr<TLoopbackPeer> writer_;
  std::unique_ptr<TLoopbackPeer> reader_;
  std::vector<std::atomic<std::int64_t>> stamps_;
  std::int32_t framed_ = 0;  // reader thread
  TEventQueue queue_;
  TEvent wake_{true};
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> count_{0};
  std::thread readThread_;
  std::thread deliverThread_;
};

// The floor's messages per second for the same batches, each written and awaited as the
// library's are; 0 when the pipeline failed.
double FloorMessagesPerSecond(const std::vector<std::string>& batches, std::int64_t count) {
  TReaderHandOff floor(count);
  std::int64_t done = 0;
  std::int64_t totalNs = 0;
  for (const std::string& batch : batches) {
    const std::int64_t start = MonotonicNs();
    if (!floor.Write(batch) || !WaitForCount(floor.Count(), done + kBatch, start)) return 0;
    totalNs += MonotonicNs() - start;
    done += kBatch;
  }
  return totalNs > 0 ? static_cast<double>(done) * 1e9 / static_cast<double>(totalNs) : 0;
}

// Writes each frame at its time on the pace from now on; the write times (nanoseconds).
template <class Write>
std::vector<std::int64_t> WritePaced(const std::vector<std::string>& frames, Write write) {
  std::vector<std::int64_t> written;
  written.reserve(frames.size());
  const std::int64_t start = MonotonicNs() + kPaceNs;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    WaitUntilNs(start + static_cast<std::int64_t>(i) * kPaceNs);
    written.push_back(MonotonicNs());
    if (!write(frames[i])) break;
  }
  return written;
}

// Sorted nanoseconds' nearest-rank percentile, in microseconds.
double PercentileUs(std::vector<std::int64_t> nanoseconds, double fraction) {
  if (nanoseconds.empty()) return 0;
  std::sort(nanoseconds.begin(), nanoseconds.end());
  const auto index =
      static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(nanoseconds.size())));
  return static_cast<double>(
             nanoseconds[std::clamp<std::size_t>(index, 1, nanoseconds.size()) - 1]) /
         1000.0;
}

// Batches of frames written at once, each batch's order procedures awaited: sustained messages
// per second, against the floor's for the same bytes.
void BM_OrderReplyThroughput(benchmark::State& state) {
  const std::int64_t count = state.max_iterations * kBatch;
  auto reply = OpenReplySession(state, count);
  if (!reply) return;
  const std::vector<std::string> batches = OrderBatches(reply->Arrivals.FirstTimed, count, kBatch);
  std::int64_t written = 0;
  std::int64_t totalNs = 0;
  const std::int64_t faultsBefore = MinorFaults();
  for (auto _ : state) {
    const std::int64_t start = MonotonicNs();
    if (!reply->Session.Host().Write(batches[static_cast<std::size_t>(written / kBatch)]) ||
        !WaitForCount(reply->Arrivals.Count, written + kBatch, start)) {
      state.SkipWithError("a reply did not reach the order procedure");
      break;
    }
    const std::int64_t elapsed = MonotonicNs() - start;
    written += kBatch;
    totalNs += elapsed;
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  const std::int64_t faults = MinorFaults() - faultsBefore;
  if (const char* error = reply->Check(written)) state.SkipWithError(error);
  state.SetItemsProcessed(written);
  if (totalNs <= 0 || written == 0) return;
  const double rate = static_cast<double>(written) * 1e9 / static_cast<double>(totalNs);
  state.counters["msgs_per_s"] = rate;
  state.counters["faults_per_msg"] = static_cast<double>(faults) / static_cast<double>(written);
  const double floor = FloorMessagesPerSecond(batches, count);
  state.counters["floor_msgs_per_s"] = floor;
  if (floor > 0) state.counters["msgs_over_floor"] = rate / floor;
}
BENCHMARK(BM_OrderReplyThroughput)
    ->ArgName("ids")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(kBatches)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Frames written one at a time at 10,000 a second (not one after the other's reply): each
// message's time from its write to its order procedure, against the floor's from its write to
// its stamp on the delivery thread.
void BM_OrderReplyPacedLatency(benchmark::State& state) {
  auto reply = OpenReplySession(state, kPacedMessages);
  if (!reply) return;
  std::vector<std::string> frames;
  for (std::int64_t n = 0; n < kPacedMessages; ++n)
    frames.push_back(OrderFrame(reply->Arrivals.FirstTimed + n));
  std::vector<std::int64_t> latencies;
  std::int64_t faults = 0;
  for (auto _ : state) {
    const std::int64_t faultsBefore = MinorFaults();
    const std::int64_t start = MonotonicNs();
    const std::vector<std::int64_t> written = WritePaced(
        frames, [&](const std::string& frame) { return reply->Session.Host().Write(frame); });
    if (static_cast<std::int64_t>(written.size()) != kPacedMessages ||
        !WaitForCount(reply->Arrivals.Count, kPacedMessages, start)) {
      state.SkipWithError("a reply did not reach the order procedure");
      break;
    }
    faults = MinorFaults() - faultsBefore;
    state.SetIterationTime(static_cast<double>(MonotonicNs() - start) * 1e-9);
    for (std::int64_t n = 1; n <= kPacedMessages; ++n)
      latencies.push_back(
          reply->Arrivals.Stamps[static_cast<std::size_t>(n)].load(std::memory_order_relaxed) -
          written[static_cast<std::size_t>(n - 1)]);
  }
  if (const char* error = reply->Check(kPacedMessages)) state.SkipWithError(error);
  state.SetItemsProcessed(kPacedMessages);
  if (latencies.empty()) return;
  state.counters["p50_us"] = PercentileUs(latencies, 0.50);
  state.counters["p99_us"] = PercentileUs(latencies, 0.99);
  state.counters["faults_per_msg"] =
      static_cast<double>(faults) / static_cast<double>(kPacedMessages);

  std::vector<std::int64_t> floorLatencies;
  try {
    TReaderHandOff floor(kPacedMessages);
    const std::vector<std::int64_t> written =
        WritePaced(frames, [&](const std::string& frame) { return floor.Write(frame); });
    if (static_cast<std::int64_t>(written.size()) == kPacedMessages &&
        WaitForCount(floor.Count(), kPacedMessages, MonotonicNs()))
      for (std::int64_t n = 1; n <= kPacedMessages; ++n)
        floorLatencies.push_back(floor.Stamp(n) - written[static_cast<std::size_t>(n - 1)]);
  } catch (const std::exception&) {
  }
  if (floorLatencies.empty()) return;
  const double floorP50 = PercentileUs(floorLatencies, 0.50);
  const double floorP99 = PercentileUs(floorLatencies, 0.99);
  state.counters["floor_p50_us"] = floorP50;
  state.counters["floor_p99_us"] = floorP99;
  if (floorP50 > 0) state.counters["p50_over_floor"] = state.counters["p50_us"] / floorP50;
  if (floorP99 > 0) state.counters["p99_over_floor"] = state.counters["p99_us"] / floorP99;
}
BENCHMARK(BM_OrderReplyPacedLatency)
    ->ArgName("ids")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
