#pragma once
// TAutoDemo: the simulated host. Made by the simulator's host link and published while it
// lives; its "logon" (Enable) builds the simulated world from the data files beside the library,
// reports the logon and the download, seeds the market and enables the price link; the price
// link's connection starts the 100 ms timer that moves the market.
//
// Threads: Enable and PrepareLogon run on the thread of vnLogOn; StartTimer on the heartbeat's
// thread (the price link's connection); the timer's handler on the simulation thread. The
// simulation takes the market's locks (Market.h) and the API lists' own; it holds none of its
// own while it pauses or posts. Stopping the timer joins the simulation thread: never stop it
// from that thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/session/VORNTimer.h"
#include "platform/Event.h"
#include "sim/Market.h"
#include "sim/RandomSource.h"

namespace vorn {
class TClassAPI;
}

namespace vorn::sim {

class TAutoDemo {
 public:
  static constexpr std::int32_t kTraderLimit = 10000;
  static constexpr std::int32_t kMaximumLots = 100;
  static constexpr std::uint32_t kTimerInterval = 100;
  static constexpr const char* kStartedText = "Demonstration interface started.";
  static constexpr const char* kNotStartedText =
      "Demonstration interface not started - files not found.";

  // Sets the API object's granted features as a full logon would; the timer is made disabled.
  // The API object outlives the simulation.
  explicit TAutoDemo(TClassAPI& api);
  TAutoDemo(const TAutoDemo&) = delete;
  TAutoDemo& operator=(const TAutoDemo&) = delete;
  // Stops the timer (joined) and ends any pause.
  ~TAutoDemo();

  // The login: runs the six loaders from TestDataFolder(); on success logs the user on locally,
  // posts the logon status (3) and the download complete (7), seeds the market, enables the
  // price link and posts the two server status events (14); on failure posts the logon status
  // only. clear: a login, which also empties the orders, fills and user messages. A strict
  // number of a data file that is not one passes its EConvertError to the caller.
  void Enable(bool clear);
  // Before a new login: stops and joins the timer and drops the books, so that nothing of the
  // simulation runs over the lists the login empties.
  void PrepareLogon();
  // The price link connected: the market moves. Also after a new start while it stays connected.
  void StartTimer();
  void StopTimer();
  bool TimerRunning() const { return timer_.Enabled(); }

  // An order status query (3304) for the order of that id.
  void AdvanceQueriedOrder(std::string_view orderId);

  // One run of the timer's work: a market step. The tests call it directly.
  void TimerPriceFeedTimer();
  // The two connectivity status events, a pause after each.
  void SendServerStatus();

  bool Started() const { return started_; }
  TMarket& Market() { return market_; }
  TRandomSource& Random() { return random_; }
  std::int32_t NextUserMessageNumber() const { return nextUserMessage_; }
  std::int32_t OrderNumber() const { return orderNumber_; }
  std::int32_t FillNumber() const { return fillNumber_; }

  // The pauses of the start (500 and 250 ms, about 2 s in all); tests leave them out. Any
  // thread.
  static void SetNoPausesForTests(bool none);

 private:
  // Waits on the pause event, which only the destructor sets.
  void Pause(std::int64_t ms);
  void SetFeatures();
  // The loaders in order, each only after the ones before it succeeded.
  bool LoadAll();
  void LogOnLocally();

  TClassAPI& api_;
  TRandomSource random_;
  TMarket market_;
  std::atomic<bool> started_{false};
  std::int32_t unused_ = 1;
  std::int32_t traderLimit_ = kTraderLimit;
  std::int32_t maximumLots_ = kMaximumLots;
  std::atomic<std::int32_t> nextUserMessage_{0};
  std::atomic<std::int32_t> orderNumber_{0};
  std::atomic<std::int32_t> fillNumber_{0};
  TEvent pause_{true};
  TVORNTimer timer_;
};

// The simulation object of the host link that lives now, or null. Any thread.
std::shared_ptr<TAutoDemo> CurrentAutoDemo();
void SetCurrentAutoDemo(std::shared_ptr<TAutoDemo> demo);

}  // namespace vorn::sim
