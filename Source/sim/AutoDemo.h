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
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/session/VORNTimer.h"
#include "platform/Event.h"
#include "sim/Market.h"
#include "sim/RandomSource.h"
#include "sim/SyntheticOrders.h"

namespace vorn {
class TClassAPI;
class TContractItem;
class TOrderItem;
class TOrderList;
}  // namespace vorn

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

  // An order status query (3304) for the order of that id (its first 10 characters, trimmed),
  // on the application's thread with no lock held. A Working order is offered osORPIPart, a
  // Part or ORPIPart one osORPIFilled; the order event carries the state the order list then
  // holds (the head's own when the rules refuse the copy). No fill is made.
  void AdvanceQueriedOrder(std::string_view orderId);

  // One tick of the timer: the status pass every 6th tick, the market step every 10th; an
  // exception ends the tick (reported). The tests call it, and the two parts, directly.
  void TimerPriceFeedTimer();
  // The status pass over the order list. Takes the order list's lock for its state changes,
  // then the books' locks for the book work it collected.
  void StatusPass();
  void MarketStep() { market_.Step(); }

  // The manager of the synthetic orders; null (the default): synthetic orders stay as they are.
  // Set before the timer runs.
  void SetSyntheticOrders(std::shared_ptr<ISyntheticOrders> manager);
  // The one-in-three draw that completes a pending cancel or amend; tests replace it (null:
  // Random(3) = 1). Set while no pass runs.
  void SetPendingDrawForTests(std::function<bool()> draw);

  // A user message (event 4 with its sequence), the sequence the next user-message number.
  // Any thread.
  void AddUserMessage(const std::string& text, bool alert);
  // Lots-weighted price of the fills of the order (its first 10 characters); 0 without fills.
  // Takes the fill list's lock.
  double AveragePrice(std::string_view orderId) const;
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

  // What a pass does to a book once the order list's lock is released.
  struct TBookWork {
    enum class TKind { EnterBook, LeaveBook, Amend, AddStop, RemoveStop, FillMarket };
    TKind Kind = TKind::EnterBook;
    std::shared_ptr<TContractItem> Contract;
    TUserOrder Order;
    // LeaveBook: the lots taken out of the order's level.
    std::int32_t Lots = 0;
  };
  using TBookWorkList = std::vector<TBookWork>;

  // One step of one order, on a copy of its head (read again here): lots 0 advances a
  // Queued, Sent, CancelPending or AmendPending order; lots above 0 is a fill (average: the
  // order's average price after it); -1 ends a remainder (osBalCancelled). With the order
  // list's lock held; the book work of the step is appended to work.
  void UpdateStatus(const std::shared_ptr<TOrderList>& history, std::int32_t lots,
                    TBookWorkList& work, std::optional<double> average = std::nullopt);
  void AdvanceQueued(const std::shared_ptr<TOrderList>& history, const TOrderItem& head);
  void AdvanceSent(const std::shared_ptr<TOrderList>& history, const TOrderItem& head,
                   TBookWorkList& work);
  void CompleteCancel(const std::shared_ptr<TOrderList>& history, const TOrderItem& head,
                      TBookWorkList& work);
  void CompleteAmend(const std::shared_ptr<TOrderList>& history, const TOrderItem& head,
                     TBookWorkList& work);
  // The lot and trader limits on an order reaching the exchange; false (the copy osRejected
  // with its NonExecReason) when one is exceeded.
  bool CheckLimit(TOrderItem& state);
  // Makes the fill of lots at price for the order's state: listed with its position, the
  // order's fill count and the logon sequence raised, the user message and the fill event.
  // Returns the order's average price. With the order list's lock held.
  double CreateFill(const TOrderItem& state, std::int32_t lots, double price);
  void SetBracketProfitLevel(TOrderItem& state) const;
  // Adds the copy and posts the order event: the copy's id, oldId and the state the order
  // took (the head's when the copy was refused). Returns whether it was accepted.
  bool AddAndPost(const std::shared_ptr<TOrderItem>& copy, std::string_view oldId);
  bool PendingDraw();
  // The synthetic manager when it works the parent, else null.
  ISyntheticOrders* ManagerOf(std::string_view parentId) const;
  void RunBookWork(const TBookWorkList& work);

  // The market's services, with the book's lock held.
  void OnOrderFilled(const TUserFill& fill);
  void OnRemainderEnded(const TUserOrder& order);
  void OnTrailStop(const TContractOrderList& book, const TUserOrder& stop);

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
  // Ticks of the simulation thread; unsigned, so they wrap.
  std::uint32_t statusCounter_ = 0;
  std::uint32_t marketCounter_ = 0;
  std::shared_ptr<ISyntheticOrders> synthetic_;
  std::function<bool()> pendingDraw_;
  TEvent pause_{true};
  TVORNTimer timer_;
};

// The simulation object of the host link that lives now, or null. Any thread.
std::shared_ptr<TAutoDemo> CurrentAutoDemo();
void SetCurrentAutoDemo(std::shared_ptr<TAutoDemo> demo);

}  // namespace vorn::sim
