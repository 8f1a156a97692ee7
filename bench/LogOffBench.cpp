// vnLogOff of a logged-on application whose host and price links are both connected to
// loopback listeners: the log-off request, the logon history saved, every thread stopped and
// both sockets closed. The floor, measured in the same run, is the least such a shut-down can
// cost: two threads each polling a connected loopback socket and a wake signal, woken, joined
// and their sockets closed.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/session/ClassAPI.h"
#include "platform/Thread.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace {

using namespace vorn;

constexpr int kRuns = 20;

void VN_STDCALL IgnoreLinkState(const LinkStateStruct*) {}
void VN_STDCALL IgnoreNotify() {}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A server end that reads and drops what the client sends until the client closes.
struct TDrainedPeer {
  explicit TDrainedPeer(std::unique_ptr<TLoopbackPeer> accepted) : Peer(std::move(accepted)) {
    Drain = std::thread([this] {
      std::vector<char> buffer(64 * 1024);
      while (!Stop && Peer->ReadSome(buffer.data(), buffer.size(), std::chrono::milliseconds(100)) != 0) {
      }
    });
  }
  ~TDrainedPeer() {
    Stop = true;
    Drain.join();
  }
  std::unique_ptr<TLoopbackPeer> Peer;
  std::atomic<bool> Stop{false};
  std::thread Drain;
};

// An initialised, ready and logged-on object with both links connected; the clock of the
// heartbeat back at its normal rate.
struct TBothLinksUp {
  TBothLinksUp() {
    if (vnInitialise('T', "v2.8.3", "bench", "1.0", "", 0) != VN_RC_SUCCESS)
      throw std::runtime_error("vnInitialise failed");
    auto api = API();
    if (vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState) != 0 ||
        vnRegisterLinkStateCallback(VN_CB_PRICE_STATE_CHANGE, IgnoreLinkState) != 0 ||
        vnRegisterCallback(VN_CB_LOGON_STATUS, IgnoreNotify) != 0 ||
        vnRegisterCallback(VN_CB_FORCED_LOGOUT, IgnoreNotify) != 0)
      throw std::runtime_error("callback registration failed");
    // The listeners answer no handshake.
    api->Links.HostHandshakePeriod = 0;
    api->Links.PriceHandshakePeriod = 0;
    api->Heartbeat.SetInterval(25);
    if (vnSetHostAddress("127.0.0.1", std::to_string(host.Port()).c_str()) != 0 ||
        vnSetPriceAddress("127.0.0.1", std::to_string(price.Port()).c_str()) != 0 ||
        vnReady() != 0)
      throw std::runtime_error("vnReady failed");
    auto hostPeer = host.Accept(std::chrono::seconds(30));
    if (!hostPeer) throw std::runtime_error("the host link did not connect");
    hostEnd = std::make_unique<TDrainedPeer>(std::move(hostPeer));
    if (!WaitFor([&] { return api->LinkConnected(psHost); }))
      throw std::runtime_error("the host link did not report connected");
    api->UserName.Set("trader1");
    api->Logon.LoggedOn = true;  // the price link connects only while logged on
    // As at the end of a download.
    if (const auto link = api->GetLink(psPriceFeed)) link->Start(true);
    auto pricePeer = price.Accept(std::chrono::seconds(30));
    if (!pricePeer) throw std::runtime_error("the price link did not connect");
    priceEnd = std::make_unique<TDrainedPeer>(std::move(pricePeer));
    if (!WaitFor([&] { return api->LinkConnected(psPriceFeed); }))
      throw std::runtime_error("the price link did not report connected");
    api->Heartbeat.SetInterval(1000);
    // Both socket threads back in their wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ~TBothLinksUp() {
    hostEnd.reset();
    priceEnd.reset();
    JoinStoppedThreads();
  }

  TTempDir dir;
  TLoopbackListener host;
  TLoopbackListener price;
  std::unique_ptr<TDrainedPeer> hostEnd;
  std::unique_ptr<TDrainedPeer> priceEnd;
};

// The floor: two connected sockets, each polled by its own thread with a wake signal, woken,
// joined and closed; the nanoseconds that took.
std::int64_t FloorOnce() {
  TLoopbackListener listener;
  struct TPolled {
    std::unique_ptr<TLoopbackPeer> Client;
    std::unique_ptr<TLoopbackPeer> Server;
    int Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread Thread;
  } links[2];
  for (auto& link : links) {
    link.Client = ConnectLoopback(listener.Port());
    link.Server = listener.Accept();
    const int fd = link.Client->Fd();
    const int wake = link.Wake;
    link.Thread = std::thread([fd, wake] {
      pollfd fds[2] = {{fd, POLLIN | POLLRDHUP, 0}, {wake, POLLIN, 0}};
      while (::poll(fds, 2, 1000) == 0 || (fds[1].revents & POLLIN) == 0) {
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::int64_t start = MonotonicNs();
  for (auto& link : links) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(link.Wake, &one, sizeof one);
    link.Thread.join();
    link.Client->Close();
  }
  const std::int64_t elapsed = MonotonicNs() - start;
  for (auto& link : links)
    ::close(link.Wake);
  return elapsed;
}

std::int64_t Median(std::vector<std::int64_t> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Each run also measures the floor once; "ratio" is the median against the floor's median.
void BM_LogOffBothLinksUp(benchmark::State& state) {
  std::vector<std::int64_t> nanoseconds;
  std::vector<std::int64_t> floor;
  for (auto _ : state) {
    std::unique_ptr<TBothLinksUp> session;
    try {
      session = std::make_unique<TBothLinksUp>();
    } catch (const std::exception& error) {
      vnLogOff();
      state.SkipWithError(error.what());
      break;
    }
    const std::int64_t start = MonotonicNs();
    const std::int32_t result = vnLogOff();
    const std::int64_t elapsed = MonotonicNs() - start;
    if (result != VN_RC_SUCCESS) {
      state.SkipWithError("vnLogOff failed");
      break;
    }
    session.reset();
    nanoseconds.push_back(elapsed);
    floor.push_back(FloorOnce());
    state.SetIterationTime(static_cast<double>(elapsed) * 1e-9);
  }
  if (nanoseconds.empty()) return;
  state.counters["floor_p50_us"] = static_cast<double>(Median(floor)) / 1000.0;
  state.counters["ratio"] =
      static_cast<double>(Median(nanoseconds)) / static_cast<double>(Median(floor));
  ReportPercentiles(state, std::move(nanoseconds));
}
BENCHMARK(BM_LogOffBothLinksUp)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
