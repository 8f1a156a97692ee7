#pragma once
// The load mode of vornfakehost: a host and a price feed on loopback that keep a logged-on
// client busy for a soak run. The host accepts any logon (each one asks the client to clear
// its orders and fills, so what the order book holds is one session's worth), hands out order
// ids, works the client's orders, amends and cancels them, and streams order updates of other
// traders' orders at a set rate; it drops the link at a set interval, always between two such
// orders. The price feed streams bodies of the one contract at a set rate once the client
// subscribes to it.
//
// Stamps the client can check: a streamed order "S<n>" (n from 1, one order after the other
// across every session) gets kStreamUpdates updates with Seq 1 to kStreamUpdates; every price
// body carries its number (from 1, across every connection) as the bid volume.
//
// Threads: one per link, started by Start and joined by Stop; the counters are atomics any
// thread may read.

#include <atomic>
#include <cstdint>
#include <thread>

#include "support/LoopbackListener.h"

namespace vorn {

struct TLoadOptions {
  std::uint16_t HostPort = 0;
  std::uint16_t PricePort = 0;
  double OrderUpdatesPerSecond = 20000;
  double PriceBodiesPerSecond = 50000;
  int ReconnectSeconds = 60;  // 0: never drop the link
};

struct TLoadCounts {
  std::uint64_t StreamUpdates = 0;  // order updates of streamed orders
  std::uint64_t StreamOrders = 0;   // streamed orders sent whole
  std::uint64_t ClientUpdates = 0;  // updates answering the client's own orders
  std::uint64_t ClientRequests = 0; // orders, amends and cancels received
  std::uint64_t PriceBodies = 0;
  std::uint64_t Logons = 0;
  std::uint64_t Drops = 0;  // links dropped by the host
};

class TLoadHost {
 public:
  static constexpr int kStreamUpdates = 10;

  explicit TLoadHost(const TLoadOptions& options);
  TLoadHost(const TLoadHost&) = delete;
  TLoadHost& operator=(const TLoadHost&) = delete;
  ~TLoadHost();  // Stop

  std::uint16_t HostPort() const { return hostListener_.Port(); }
  std::uint16_t PricePort() const { return priceListener_.Port(); }

  void Start();
  // Ends both streams at once: what was sent so far is what Counts reports.
  void Quiesce();
  // Quiesces, closes the connections and joins the threads. Idempotent.
  void Stop();
  TLoadCounts Counts() const;

 private:
  void ServeHost();
  void ServePrice();

  const TLoadOptions options_;
  TLoopbackListener hostListener_;
  TLoopbackListener priceListener_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quiet_{false};  // Quiesce: no more streamed updates or bodies
  // The host link is logged on (the price stream waits while it is not: the client posts no
  // price events while a download runs).
  std::atomic<bool> hostLive_{false};

  std::atomic<std::uint64_t> streamUpdates_{0}, streamOrders_{0}, clientUpdates_{0},
      clientRequests_{0}, priceBodies_{0}, logons_{0}, drops_{0};
  std::uint64_t nextStreamOrder_ = 1;  // host thread only
  std::uint64_t nextOrderID_ = 1000000;  // host thread only
  std::uint64_t nextPriceBody_ = 1;  // price thread only

  std::thread host_;
  std::thread price_;
};

// `vornfakehost --load [--host-port N] [--price-port M] [--order-rate N] [--price-rate N]
// [--reconnect SECONDS] [--minutes N]`: serves until interrupted, quiescing the streams N
// minutes after the first logon; prints a line each minute and the totals at the end.
int RunLoadMode(int argc, char** argv);

}  // namespace vorn
