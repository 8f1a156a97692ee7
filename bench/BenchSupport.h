#pragma once
// Scaffolding the benchmarks share: frames as a server writes them, per-call latency figures,
// and an application's API object made through the exports whose real host link is connected to
// a loopback listener playing the host.

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "platform/Thread.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {

// A body behind its two-byte length word, as the servers frame it.
inline std::string Frame(std::string_view body) {
  std::string frame;
  frame += static_cast<char>((body.size() >> 8) & 0x7F);
  frame += static_cast<char>(body.size() & 0xFF);
  frame += body;
  return frame;
}

inline std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The median and 99th percentile of per-call nanoseconds, as the counters "p50_us" and
// "p99_us" (microseconds; nearest-rank percentiles).
inline void ReportPercentiles(benchmark::State& state, std::vector<std::int64_t> nanoseconds) {
  if (nanoseconds.empty()) return;
  std::sort(nanoseconds.begin(), nanoseconds.end());
  const auto rank = [&](double fraction) {
    const auto index =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(nanoseconds.size())));
    return static_cast<double>(
               nanoseconds[std::clamp<std::size_t>(index, 1, nanoseconds.size()) - 1]) /
           1000.0;
  };
  state.counters["p50_us"] = rank(0.50);
  state.counters["p99_us"] = rank(0.99);
}

// vnInitialise with a temporary client path, the three procedures vnReady requires, the host
// address of a loopback listener, vnReady; then the accepted connection and, once the host link
// is connected, the object marked logged on (no logon conversation: the listener is no host).
// The listener reads and drops whatever the client sends, on a thread of its own, until the
// client closes. Throws std::runtime_error when any step fails.
class TLoopbackExportSession {
 public:
  TLoopbackExportSession() {
    try {
      Open();
    } catch (...) {
      vnLogOff();
      throw;
    }
  }
  TLoopbackExportSession(const TLoopbackExportSession&) = delete;
  TLoopbackExportSession& operator=(const TLoopbackExportSession&) = delete;
  ~TLoopbackExportSession() {
    api_.reset();
    vnLogOff();
    stop_ = true;
    if (drain_.joinable()) drain_.join();
    JoinStoppedThreads();
  }

  TClassAPI& Api() { return *api_; }
  // The host's end of the connection, for writing to the client.
  TLoopbackPeer& Host() { return *peer_; }
  // The bytes the host's end has read from the client so far.
  std::int64_t DrainedBytes() const { return drained_.load(); }

 private:
  static void VN_STDCALL IgnoreLinkState(const LinkStateStruct*) {}
  static void VN_STDCALL IgnoreNotify() {}

  void Open() {
    if (vnInitialise('T', "v2.8.3", "bench", "1.0", "", 0) != VN_RC_SUCCESS)
      throw std::runtime_error("vnInitialise failed");
    api_ = API();
    if (vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState) != 0 ||
        vnRegisterCallback(VN_CB_LOGON_STATUS, IgnoreNotify) != 0 ||
        vnRegisterCallback(VN_CB_FORCED_LOGOUT, IgnoreNotify) != 0)
      throw std::runtime_error("callback registration failed");
    // The listener answers no handshake: without this the link would close itself as half
    // open after the time-out.
    api_->Links.HostHandshakePeriod = 0;
    // Quick ticks until connected; the heartbeat then runs at its normal rate.
    api_->Heartbeat.SetInterval(25);
    const std::string port = std::to_string(listener_.Port());
    if (vnSetHostAddress("127.0.0.1", port.c_str()) != 0 || vnReady() != 0)
      throw std::runtime_error("vnReady failed");
    peer_ = listener_.Accept(std::chrono::seconds(30));
    if (!peer_) throw std::runtime_error("the host link did not connect");
    // The host side writes small frames one at a time: no coalescing delay.
    const int on = 1;
    ::setsockopt(peer_->Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (api_->LinkConnected(psHost)) break;
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("the host link did not report connected");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    api_->Heartbeat.SetInterval(1000);
    api_->UserName.Set("trader1");
    api_->Logon.LoggedOn = true;
    drain_ = std::thread([this] {
      std::vector<char> buffer(64 * 1024);
      while (!stop_) {
        const long got =
            peer_->ReadSome(buffer.data(), buffer.size(), std::chrono::milliseconds(100));
        if (got == 0) break;
        if (got > 0) drained_ += got;
      }
    });
  }

  TTempDir dir_;  // the client path, emptied and removed at the end
  TLoopbackListener listener_;
  std::shared_ptr<TClassAPI> api_;
  std::unique_ptr<TLoopbackPeer> peer_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> drained_{0};
  std::thread drain_;
};

}  // namespace vorn
