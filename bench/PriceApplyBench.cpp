// The road of a price array (84): a last-trade update of a subscribed contract applied on the
// price link's thread (contract found by its names, its price table written, the ticker and
// price events posted), against the floor of the same bodies split by a plain view scanner;
// bytes written by the feed to the application's ticker procedure, against the floor of a plain
// reader that hands each body to a second thread; and the callback queue's memory while the
// application's procedure is slow.
//
// Each figure is printed beside its floor, measured in the same run, and their ratio. The body
// is applied by the price link's own receiver of 84.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/socket.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/Connection.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"
#include "links/PriceMessages.h"
#include "support/HostText.h"
#include "support/LoopbackListener.h"
#include "support/TradingMarket.h"

namespace {

using namespace vorn;

// --- The price array --------------------------------------------------------------------------

constexpr int kPriceArrayCode = 84;
constexpr std::size_t kPriceArrayLength = 314;

constexpr TFixedField kExchange{4, 10};
constexpr TFixedField kCommodity{14, 10};
constexpr TFixedField kContractDate{24, 50};
constexpr std::size_t kStatusFlag = 93;
constexpr TFixedField kBid{94, 11};
constexpr TFixedField kOffer{105, 11};
constexpr TFixedField kLast{116, 11};
constexpr TFixedField kHigh{127, 11};
constexpr TFixedField kLow{138, 11};
constexpr TFixedField k28Price{149, 11};
constexpr TFixedField k29Price{160, 11};
constexpr TFixedField k28Volume{171, 11};
constexpr TFixedField kBidVolume{204, 11};
constexpr TFixedField kOfferVolume{215, 11};
constexpr TFixedField kTotalVolume{226, 11};
constexpr TFixedField kLastVolume{237, 11};
constexpr TFixedField k2Price{248, 11};
constexpr TFixedField k2Volume{259, 11};
constexpr TFixedField k3Price{270, 11};
constexpr TFixedField k3Volume{281, 11};
constexpr TFixedField k4Volume{292, 11};
constexpr TFixedField kStatus{303, 11};

// Every field the receiver reads after the names, for the floor.
constexpr TFixedField kNumberFields[] = {kBid,       kOffer,        kLast,        kHigh,
                                         kLow,       k28Price,      k29Price,     k28Volume,
                                         kBidVolume, kOfferVolume,  kTotalVolume, kLastVolume,
                                         k2Price,    k2Volume,      k3Price,      k3Volume,
                                         k4Volume,   kStatus};

struct TArrayPrices {
  double Bid = 0;
  std::int64_t BidVolume = 0;
  double Offer = 0;
  std::int64_t OfferVolume = 0;
  double Last = 0;
  std::int64_t LastVolume = 0;
  std::int64_t TotalVolume = 0;
};

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// 314 bytes: all nineteen change flags set, the status flag off.
std::string PriceArrayBody(std::string_view exchange, std::string_view commodity,
                           std::string_view contractDate, const TArrayPrices& p) {
  std::string body(kPriceArrayLength, ' ');
  PutFixedField(body, 0, 4, FormatCode4(kPriceArrayCode));
  PutFixedField(body, kExchange.Offset, kExchange.Width, exchange);
  PutFixedField(body, kCommodity.Offset, kCommodity.Width, commodity);
  PutFixedField(body, kContractDate.Offset, kContractDate.Width, contractDate);
  PutFixedField(body, 74, 19, std::string(19, '1'));
  body[kStatusFlag] = '0';
  const auto put = [&](TFixedField field, const std::string& text) {
    PutFixedField(body, field.Offset, field.Width, text);
  };
  put(kBid, Number(p.Bid));
  put(kOffer, Number(p.Offer));
  put(kLast, Number(p.Last));
  put(kHigh, Number(p.Last + 20));
  put(kLow, Number(p.Last - 20));
  put(k28Price, Number(p.Last));
  put(k29Price, "0");
  put(k28Volume, "0");
  put(kBidVolume, std::to_string(p.BidVolume));
  put(kOfferVolume, std::to_string(p.OfferVolume));
  put(kTotalVolume, std::to_string(p.TotalVolume));
  put(kLastVolume, std::to_string(p.LastVolume));
  put(k2Price, Number(p.Bid - 0.5));
  put(k2Volume, "12");
  put(k3Price, Number(p.Offer + 0.5));
  put(k3Volume, "15");
  put(k4Volume, "40");
  put(kStatus, "0");
  return body;
}

// --- The floor: the same bodies split by a plain view scanner -----------------------------------

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
    text.remove_suffix(1);
  return text;
}

// Splits the names and every number field of the body and converts the numbers.
double ScanPriceArray(std::string_view body) {
  double sum = 0;
  sum += static_cast<double>(TrimBlanks(body.substr(kExchange.Offset, kExchange.Width)).size());
  sum += static_cast<double>(TrimBlanks(body.substr(kCommodity.Offset, kCommodity.Width)).size());
  sum += static_cast<double>(
      TrimBlanks(body.substr(kContractDate.Offset, kContractDate.Width)).size());
  for (const TFixedField field : kNumberFields) {
    const std::string_view text = TrimBlanks(body.substr(field.Offset, field.Width));
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    sum += value;
  }
  return sum;
}

// --- A market of subscribed contracts and its bodies ---------------------------------------------

constexpr int kContracts = 256;
constexpr int kVariants = 8;  // successive bodies of a contract differ in the last trade

std::string ContractDateOf(int n) {
  return n == 0 ? "MAR27" : "JUN27 C" + std::to_string(6000 + 25 * n);
}

struct TPriceMarket {
  TPriceMarket() : Api(std::make_shared<TClassAPI>()) {
    Api->Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    AddTradingCommodity(*Api, "FTSE", 10, 4);
    for (int n = 0; n < kContracts; ++n) {
      const std::string date = ContractDateOf(n);
      if (Api->Contracts.AddFromFields("LIFFE", "FTSE", date,
                                       Fields(n == 0 ? "X1=F|X2=LIFFE" : "X1=C|X2=LIFFE")) < 0)
        throw std::runtime_error("a contract was refused");
      Api->Subscriptions.SubscribePrice({"LIFFE", "FTSE", date});
    }
    // Round by round over the contracts, each round with new last trades.
    for (int variant = 0; variant < kVariants; ++variant) {
      for (int n = 0; n < kContracts; ++n) {
        const double base = 6000 + 25 * n;
        TArrayPrices prices;
        prices.Bid = base + 0.25 * variant;
        prices.BidVolume = 10 + variant;
        prices.Offer = prices.Bid + 0.5;
        prices.OfferVolume = 20 + variant;
        prices.Last = prices.Bid + 0.25;
        prices.LastVolume = 1 + variant;
        prices.TotalVolume = 1000 + 10 * variant;
        Bodies.push_back(PriceArrayBody("LIFFE", "FTSE", ContractDateOf(n), prices));
      }
    }
  }

  // One pass of every body through the 84 receiver.
  void ApplyAll() const {
    for (const auto& body : Bodies)
      TMPriceArray::Receive(*Api, body);
  }

  std::shared_ptr<TClassAPI> Api;
  std::vector<std::string> Bodies;
};

// Nanoseconds per body of the floor over the bodies, from repeated passes of at least 50 ms.
double FloorNsPerBody(const std::vector<std::string>& bodies) {
  double sink = 0;
  std::int64_t count = 0;
  const std::int64_t start = MonotonicNs();
  std::int64_t elapsed = 0;
  do {
    for (const auto& body : bodies)
      sink += ScanPriceArray(body);
    count += static_cast<std::int64_t>(bodies.size());
    elapsed = MonotonicNs() - start;
  } while (elapsed < 50'000'000);
  benchmark::DoNotOptimize(sink);
  return static_cast<double>(elapsed) / static_cast<double>(count);
}

void ReportAgainstFloor(benchmark::State& state, std::int64_t bodies, std::int64_t ns,
                        double floorNs) {
  if (bodies == 0 || ns == 0) return;
  const double nsPerBody = static_cast<double>(ns) / static_cast<double>(bodies);
  state.counters["bodies_per_s"] = 1e9 / nsPerBody;
  state.counters["ns_per_body"] = nsPerBody;
  state.counters["floor_ns"] = floorNs;
  state.counters["x_floor"] = nsPerBody / floorNs;
}

void BM_PriceArrayScanFloor(benchmark::State& state) {
  TPriceMarket market;
  double sink = 0;
  for (auto _ : state) {
    for (const auto& body : market.Bodies)
      sink += ScanPriceArray(body);
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(market.Bodies.size()));
}
BENCHMARK(BM_PriceArrayScanFloor);

// Bodies applied on one thread, as the price link's thread applies them; the events they post
// are thrown away between passes (no callback thread).
void BM_PriceArrayApplied(benchmark::State& state) {
  TPriceMarket market;
  const double floorNs = FloorNsPerBody(market.Bodies);
  // One pass first: every contract has its table and its first prices.
  market.ApplyAll();
  ClearCallbackQueue();
  std::int64_t applied = 0;
  std::int64_t ns = 0;
  for (auto _ : state) {
    const std::int64_t start = MonotonicNs();
    market.ApplyAll();
    ns += MonotonicNs() - start;
    applied += static_cast<std::int64_t>(market.Bodies.size());
    state.PauseTiming();
    if (CallbackQueueCount() != 2 * market.Bodies.size())
      state.SkipWithError("a body did not post its ticker and price events");
    ClearCallbackQueue();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(applied);
  ReportAgainstFloor(state, applied, ns, floorNs);
}
BENCHMARK(BM_PriceArrayApplied);

// --- The callback thread ------------------------------------------------------------------------

std::atomic<std::int64_t> gTickers{0};
std::atomic<std::int64_t> gPrices{0};
std::atomic<std::int64_t> gSlowNs{0};
// Arrival stamps by the last volume of the ticker (1 to the stamps' size).
std::atomic<std::vector<std::atomic<std::int64_t>>*> gArrivals{nullptr};

void VN_STDCALL OnTicker(const TickerStruct* ticker) {
  const std::int64_t now = MonotonicNs();
  if (auto* arrivals = gArrivals.load(std::memory_order_acquire)) {
    const std::int32_t volume = ticker->LastVolume;
    if (volume > 0 && static_cast<std::size_t>(volume) < arrivals->size())
      (*arrivals)[static_cast<std::size_t>(volume)].store(now, std::memory_order_relaxed);
  }
  if (const std::int64_t slow = gSlowNs.load(std::memory_order_relaxed); slow > 0) {
    while (MonotonicNs() - now < slow) {
    }
  }
  gTickers.fetch_add(1, std::memory_order_release);
}

void VN_STDCALL OnPrice(const ContractKeyStruct*) {
  gPrices.fetch_add(1, std::memory_order_release);
}

// The API object installed as the current one with the callback thread delivering; the ticker
// and price procedures registered on request.
struct TDelivering {
  explicit TDelivering(const std::shared_ptr<TClassAPI>& api, bool procedures) {
    ExchangeAPI(api);
    FreeCallbackRegistrations();
    if (procedures) {
      RegisterCallbackProc("vnRegisterTickerCallback", VN_CB_TICKER_UPDATE,
                           reinterpret_cast<TCallbackProc>(OnTicker));
      RegisterCallbackProc("vnRegisterPriceCallback", VN_CB_PRICE_UPDATE,
                           reinterpret_cast<TCallbackProc>(OnPrice));
    }
    gTickers = 0;
    gPrices = 0;
    StartCallbackThread();
  }
  ~TDelivering() {
    StopCallbackThread();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    gSlowNs = 0;
  }
  TDelivering(const TDelivering&) = delete;
  TDelivering& operator=(const TDelivering&) = delete;

  static bool WaitForEmptyQueue() {
    const std::int64_t start = MonotonicNs();
    while (CallbackQueueCount() != 0) {
      if (MonotonicNs() - start > 30'000'000'000) return false;
      std::this_thread::yield();
    }
    return true;
  }
};

// Bodies applied and their events delivered to the application's procedures by the callback
// thread: the sustained rate, each pass timed until its last event was taken out.
void BM_PriceArrayAppliedAndDelivered(benchmark::State& state) {
  TPriceMarket market;
  const double floorNs = FloorNsPerBody(market.Bodies);
  market.ApplyAll();
  ClearCallbackQueue();
  TDelivering delivering(market.Api, true);
  std::int64_t applied = 0;
  std::int64_t ns = 0;
  for (auto _ : state) {
    const std::int64_t start = MonotonicNs();
    market.ApplyAll();
    if (!TDelivering::WaitForEmptyQueue()) {
      state.SkipWithError("the callback queue did not empty");
      break;
    }
    ns += MonotonicNs() - start;
    applied += static_cast<std::int64_t>(market.Bodies.size());
  }
  state.SetItemsProcessed(applied);
  ReportAgainstFloor(state, applied, ns, floorNs);
}
BENCHMARK(BM_PriceArrayAppliedAndDelivered);

// A burst of bodies while the application's ticker procedure takes 50 us per event (range 1),
// or with no procedure registered (range 0): the bytes the process holds more right after the
// burst than before it, and the bytes of the queue's blocks, per event still queued.
void BM_PriceBurstQueueMemory(benchmark::State& state) {
  constexpr int kBurstRounds = 16;  // 4096 bodies, 8192 events
  const bool procedures = state.range(0) != 0;
  TPriceMarket market;
  state.SetLabel(procedures ? "slow ticker procedure" : "no procedures");
  market.ApplyAll();
  ClearCallbackQueue();
  TDelivering delivering(market.Api, procedures);
  gSlowNs = 50'000;
  double bytesPerEvent = 0;
  double queueBytesPerEvent = 0;
  double queued = 0;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    for (int round = 0; round < kBurstRounds; ++round) {
      for (int n = 0; n < kContracts; ++n)
        TMPriceArray::Receive(
            *market.Api, market.Bodies[static_cast<std::size_t>(round % kVariants * kContracts + n)]);
    }
    const std::size_t after = mallinfo2().uordblks;
    const std::size_t count = CallbackQueueCount();
    const std::size_t held = CallbackQueueBytes();
    state.PauseTiming();
    queued = static_cast<double>(count);
    queueBytesPerEvent =
        count == 0 ? 0 : static_cast<double>(held) / static_cast<double>(count);
    bytesPerEvent = count == 0 ? 0
                               : (static_cast<double>(after) - static_cast<double>(before)) /
                                     static_cast<double>(count);
    ClearCallbackQueue();
    if (!TDelivering::WaitForEmptyQueue()) state.SkipWithError("the callback queue did not empty");
    state.ResumeTiming();
  }
  state.counters["posted"] = 2.0 * kBurstRounds * kContracts;
  state.counters["queued_after_burst"] = queued;
  state.counters["bytes_per_queued_event"] = bytesPerEvent;
  state.counters["queue_bytes_per_event"] = queueBytesPerEvent;
}
BENCHMARK(BM_PriceBurstQueueMemory)->Arg(1)->Arg(0)->Iterations(5);

// --- Latency: bytes written by the feed to the ticker procedure ---------------------------------

constexpr std::int64_t kLatencyBodies = 20000;
constexpr std::int64_t kPeriodNs = 100'000;  // 10,000 bodies per second

// The last volume carries the body's number (1 to kLatencyBodies): each body a new last trade.
std::vector<std::string> LatencyFrames() {
  std::vector<std::string> frames;
  frames.reserve(kLatencyBodies);
  for (std::int64_t n = 1; n <= kLatencyBodies; ++n) {
    TArrayPrices prices;
    prices.Bid = 6000 + 0.25 * static_cast<double>(n % 8);
    prices.BidVolume = 10;
    prices.Offer = prices.Bid + 0.5;
    prices.OfferVolume = 20;
    prices.Last = prices.Bid + 0.25;
    prices.LastVolume = n;
    prices.TotalVolume = 1000 + n;
    frames.push_back(Frame(PriceArrayBody("LIFFE", "FTSE", "MAR27", prices)));
  }
  return frames;
}

// Writes the frames at the period, each stamped just before its write.
bool WritePaced(TLoopbackPeer& peer, const std::vector<std::string>& frames,
                std::vector<std::int64_t>& sent) {
  sent.assign(frames.size() + 1, 0);
  std::int64_t next = MonotonicNs();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    while (MonotonicNs() < next) {
    }
    sent[i + 1] = MonotonicNs();
    if (!peer.Write(frames[i])) return false;
    next += kPeriodNs;
  }
  return true;
}

std::vector<std::int64_t> Latencies(const std::vector<std::int64_t>& sent,
                                    const std::vector<std::atomic<std::int64_t>>& arrived) {
  std::vector<std::int64_t> ns;
  for (std::size_t i = 1; i < sent.size(); ++i) {
    const std::int64_t at = arrived[i].load(std::memory_order_relaxed);
    if (at > 0) ns.push_back(at - sent[i]);
  }
  return ns;
}

std::int64_t Percentile(std::vector<std::int64_t> ns, double fraction) {
  if (ns.empty()) return 0;
  std::sort(ns.begin(), ns.end());
  const auto index = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(ns.size())));
  return ns[std::clamp<std::size_t>(index, 1, ns.size()) - 1];
}

// The floor: a plain blocking reader splits the frames, reads the body's number and hands it to
// a second thread through a mutex, a condition variable and a queue; that thread stamps it.
std::vector<std::int64_t> PlainReaderLatencies(const std::vector<std::string>& frames) {
  TLoopbackListener listener;
  auto client = ConnectLoopback(listener.Port());
  auto server = listener.Accept();
  if (!client || !server) return {};
  std::vector<std::atomic<std::int64_t>> arrived(frames.size() + 1);
  std::mutex lock;
  std::condition_variable ready;
  std::deque<std::int64_t> handed;
  bool done = false;
  std::thread consumer([&] {
    std::unique_lock guard(lock);
    for (;;) {
      ready.wait(guard, [&] { return done || !handed.empty(); });
      while (!handed.empty()) {
        const std::int64_t n = handed.front();
        handed.pop_front();
        arrived[static_cast<std::size_t>(n)].store(MonotonicNs(), std::memory_order_relaxed);
      }
      if (done) return;
    }
  });
  std::thread reader([&] {
    std::vector<char> buffer(8192);
    std::string pending;
    std::size_t seen = 0;
    while (seen < frames.size()) {
      const long count = ::recv(client->Fd(), buffer.data(), buffer.size(), 0);
      if (count <= 0) break;
      pending.append(buffer.data(), static_cast<std::size_t>(count));
      std::size_t at = 0;
      while (pending.size() - at >= 2) {
        const std::size_t length = (static_cast<unsigned char>(pending[at]) & 0x7F) << 8 |
                                   static_cast<unsigned char>(pending[at + 1]);
        if (pending.size() - at - 2 < length) break;
        const std::string_view body(pending.data() + at + 2, length);
        const std::string_view text = TrimBlanks(body.substr(kLastVolume.Offset, kLastVolume.Width));
        std::int64_t n = 0;
        std::from_chars(text.data(), text.data() + text.size(), n);
        {
          std::lock_guard guard(lock);
          handed.push_back(n);
        }
        ready.notify_one();
        at += 2 + length;
        ++seen;
      }
      pending.erase(0, at);
    }
    std::lock_guard guard(lock);
    done = true;
    ready.notify_one();
  });
  std::vector<std::int64_t> sent;
  WritePaced(*server, frames, sent);
  reader.join();
  consumer.join();
  return Latencies(sent, arrived);
}

// A price link connected to a loopback listener playing the feed, dispatching through the
// price table above.
struct TPriceLinkOnLoopback {
  explicit TPriceLinkOnLoopback(TClassAPI& api)
      : link(api, psPriceFeed, [](std::int32_t) { return 0; }, &BuiltInMessageTable()) {
    api.Logon.LoggedOn = true;  // the price link runs only while logged on
    link.SetAddress({"127.0.0.1", std::to_string(listener.Port())});
    link.Start(true);
    while (link.SocketState() == TSocketState::Closed)
      link.ProcessTimer();
    peer = listener.Accept();
    while (peer && !link.Connected())
      std::this_thread::yield();
  }

  TLoopbackListener listener;
  TConnection link;
  std::unique_ptr<TLoopbackPeer> peer;
};

// Bytes written by the feed at 10,000 bodies per second, one frame at a time, to the ticker
// procedure: the price link's socket thread frames and applies each body, the callback thread
// delivers its ticker event. The floor (a plain reader and one hand-off) runs first in the
// same run.
void BM_PriceToCallbackLatency(benchmark::State& state) {
  const auto frames = LatencyFrames();
  TPriceMarket market;
  std::vector<std::atomic<std::int64_t>> arrived(frames.size() + 1);
  std::vector<std::int64_t> floor;
  std::vector<std::int64_t> road;
  for (auto _ : state) {
    floor = PlainReaderLatencies(frames);
    for (auto& stamp : arrived)
      stamp.store(0);
    gArrivals.store(&arrived, std::memory_order_release);
    {
      TDelivering delivering(market.Api, true);
      TPriceLinkOnLoopback link(*market.Api);
      if (!link.peer) {
        state.SkipWithError("the price link did not connect");
        break;
      }
      std::vector<std::int64_t> sent;
      if (!WritePaced(*link.peer, frames, sent)) state.SkipWithError("a write failed");
      const std::int64_t start = MonotonicNs();
      while (gTickers.load(std::memory_order_acquire) < kLatencyBodies &&
             MonotonicNs() - start < 10'000'000'000)
        std::this_thread::yield();
      road = Latencies(sent, arrived);
    }
    gArrivals.store(nullptr, std::memory_order_release);
  }
  if (road.size() != frames.size() || floor.size() != frames.size())
    state.SkipWithError("a body did not reach its procedure");
  const auto us = [](std::int64_t ns) { return static_cast<double>(ns) / 1000.0; };
  const std::int64_t p50 = Percentile(road, 0.50);
  const std::int64_t floorP50 = Percentile(floor, 0.50);
  state.counters["p50_us"] = us(p50);
  state.counters["p99_us"] = us(Percentile(road, 0.99));
  state.counters["floor_p50_us"] = us(floorP50);
  state.counters["floor_p99_us"] = us(Percentile(floor, 0.99));
  state.counters["p50_x_floor"] =
      floorP50 > 0 ? static_cast<double>(p50) / static_cast<double>(floorP50) : 0;
}
BENCHMARK(BM_PriceToCallbackLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
