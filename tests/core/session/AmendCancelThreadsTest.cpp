// Amend and cancel under threads (run under ThreadSanitizer): application threads cancel, amend
// and read orders, one by one and in bulk, while a socket-like thread applies the host's answers
// (sent, working, cancel pending, cancelled, amended working) through the receivers and the
// heartbeat counts down the watch lists and the amending list.
//
// The work runs in rounds. Within a round the heartbeat ticks at most four times, so a parked
// request (five ticks) never runs out; at the end of a round the host has answered everything,
// and every request must have found its way: nothing parked is left, each cancelled order is
// cancelled with one cancel request, each amended order works at the price last sent.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/session/APIHosts.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderQ.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/Dispatcher.h"
#include "support/Eventually.h"
#include "support/HostText.h"
#include "support/TradingFixture.h"

namespace vorn {
namespace {

constexpr std::int32_t kAddRequest = 3301;
constexpr std::int32_t kAmendRequest = 3302;
constexpr std::int32_t kCancelRequest = 3303;

// Ends the test run when the threads do not finish in time: a deadlock fails loudly instead of
// hanging the suite.
class TWatchdog {
 public:
  explicit TWatchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock guard(lock_);
          if (!done_cv_.wait_for(guard, limit, [this] { return done_; })) {
            std::fprintf(stderr, "AmendCancelThreadsTest: no progress for %lld s, deadlock?\n",
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;
  ~TWatchdog() {
    {
      std::lock_guard guard(lock_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// The host's side of the link: answers each recorded request once, in the order recorded. An
// add is answered sent, then working; an amend, working at the amended price and lots; a
// cancel, cancel pending, then cancelled. Amends and cancels of an order being cancelled get no
// answer, as the host would refuse them.
class THostSide {
 public:
  THostSide(TClassAPI& api, TFakeLinkRequests& requests) : api_(api), requests_(requests) {}

  // Answers what was recorded since the last call; false when nothing was new.
  bool AnswerNew() {
    const auto requests = requests_.OrderRequests();
    if (answered_ == requests.size()) return false;
    for (; answered_ < requests.size(); ++answered_) {
      const auto& request = requests[answered_];
      const TOrderItem& order = *request.Order;
      const std::string id = Trim(order.ID);
      THostOrder& host = orders_[id];
      switch (request.Code) {
        case kAddRequest:
          Reply(id, order, osSent, order.TargetLots);
          std::this_thread::yield();
          Reply(id, order, osWorking, order.TargetLots);
          break;
        case kAmendRequest:
          if (!host.Cancelling) Reply(id, order, osWorking, order.TargetLots);
          break;
        case kCancelRequest:
          if (host.Cancelling) break;
          host.Cancelling = true;
          Reply(id, order, osCancelPending, order.TargetLots);
          std::this_thread::yield();
          Reply(id, order, osCancelled, 0);
          break;
        default:
          break;
      }
    }
    return true;
  }

  // Answers until nothing new is recorded (answers can raise requests: a parked one re-issued).
  void Drain() {
    while (AnswerNew()) {
    }
  }

 private:
  struct THostOrder {
    std::int32_t Sequence = 0;
    bool Cancelling = false;
  };

  void Reply(const std::string& id, const TOrderItem& order, TOrderStatus state,
             std::int32_t lots) {
    const std::string body =
        "Msg=3601|OID=" + id + "|Sts=" + IntToStr(state) +
        "|Seq=" + IntToStr(++orders_[id].Sequence) +
        "|Flg=1|Fil=0|TA=" + order.GetTraderAccountName() +
        "|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|Pr=" + FloatToStr(order.Price) +
        "|TLt=" + IntToStr(lots) + "|ALt=" + IntToStr(lots) + "|";
    ProcessMessage(api_, psHost, Wire(body));
  }

  TClassAPI& api_;
  TFakeLinkRequests& requests_;
  std::map<std::string, THostOrder> orders_;
  std::size_t answered_ = 0;
};

// What the application threads did to one order.
enum class TPlan { CancelOwn, CancelElsewhere, Amend, AmendThenCancel };

struct TTrack {
  TPlan Plan = TPlan::CancelOwn;
  int Round = 0;
  int CancelsTaken = 0;  // cancels answered 0 or 47
  int AmendsTaken = 0;   // amends answered 0 or 47
};

class AmendCancelThreadsTest : public TradingTest {
 protected:
  void SetUp() override {
    TradingTest::SetUp();
    auto second = std::make_shared<TTraderAccountItem>("TRADER2");
    second->Tradable = true;
    second->LossLimit = 100000;
    Api().Accounts.Add(second);
    Api().Exchanges.FindExchange("LIFFE")->AmendEnabled = true;
    // Entries stay on the watch lists for a few ticks, so the heartbeat counts them down while
    // the order road copies and replaces them.
    ASSERT_EQ(vnSetOrderSentFailureDelay(2), 0);
    ASSERT_EQ(vnSetOrderQueuedFailureDelay(2), 0);
    ASSERT_EQ(vnSetOrderCancelFailureDelay(2), 0);
  }

  // An unexpected result code, kept for the end of the test (threads do not assert).
  void Unexpected(const std::string& call, const std::string& id, std::int32_t code) {
    std::lock_guard guard(bookLock_);
    unexpected_.push_back(call + " " + id + " gave " + IntToStr(code));
  }
  void Expect(const std::string& call, const std::string& id, std::int32_t code,
              std::initializer_list<std::int32_t> allowed) {
    if (std::find(allowed.begin(), allowed.end(), code) == allowed.end())
      Unexpected(call, id, code);
  }

  void Track(const std::string& id, TPlan plan, int round) {
    std::lock_guard guard(bookLock_);
    book_[id] = {plan, round, 0, 0};
  }
  void CountCancel(const std::string& id, std::int32_t code) {
    std::lock_guard guard(bookLock_);
    if (code == 0 || code == VN_RC_ORDER_HELD_IN_QUEUE) ++book_[id].CancelsTaken;
  }
  void CountAmend(const std::string& id, std::int32_t code) {
    std::lock_guard guard(bookLock_);
    if (code == 0 || code == VN_RC_ORDER_HELD_IN_QUEUE) ++book_[id].AmendsTaken;
  }

  std::mutex bookLock_;
  std::map<std::string, TTrack> book_;
  std::vector<std::string> unexpected_;
};

// Waits (bounded) until the host's answer to the order's add has arrived.
bool AddAnswered(const std::string& id) {
  return Eventually(
      [&] {
        OrderDetailStruct detail;
        return vnGetOrderByID(id.c_str(), &detail, 0) == 0 && detail.Status != VN_OSC_QUEUED &&
               detail.Status != VN_OSC_SENT;
      },
      std::chrono::seconds(60));
}

// The requests recorded per order id and code, and the price of each order's last amend.
struct TRecorded {
  std::map<std::string, std::map<std::int32_t, int>> Count;
  std::map<std::string, double> LastAmendPrice;
};

TRecorded Recorded(const TFakeLinkRequests& requests) {
  TRecorded recorded;
  for (const auto& request : requests.OrderRequests()) {
    const std::string id = Trim(request.Order->ID);
    ++recorded.Count[id][request.Code];
    if (request.Code == kAmendRequest) recorded.LastAmendPrice[id] = request.Order->Price;
  }
  return recorded;
}

TEST_F(AmendCancelThreadsTest, CancelsAndAmendsWhileRepliesArriveAndTheHeartbeatTicks) {
  constexpr int kRounds = 4;
  constexpr int kThreads = 3;
  constexpr int kOrdersEach = 8;  // per thread and round
  constexpr int kTicksPerRound = kAmendRequestTicks - 1;
  constexpr int kSweepsPerRound = 6;
  // Roughly the operations of one round, to pace the ticks and sweeps over it.
  constexpr int kRoundOps = kThreads * kOrdersEach * 2;
  AddHostOrderIDs(1000, kRounds * kThreads * kOrdersEach + 10);
  TClassAPI& api = Api();
  THostSide host(api, *requests_);
  TWatchdog watchdog(std::chrono::seconds(300));

  std::mutex elsewhereLock;
  std::deque<std::string> elsewhere;  // orders another thread is to cancel
  std::atomic<int> amendPrice{0};

  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> ops{0};
    std::atomic<bool> trading{true};    // the application threads are at work
    std::atomic<bool> producing{true};  // anything but the host may still raise requests
    // Waits (yielding) until the round's operations reach the target or the traders finish.
    auto paceTo = [&](int target) {
      while (trading && ops < target)
        std::this_thread::yield();
    };

    std::thread hostThread([&] {
      for (;;) {
        const bool last = !producing;  // read first: what was raised before is answered below
        if (host.AnswerNew()) continue;
        if (last) break;
        std::this_thread::yield();
      }
    });
    std::thread heartbeat([&] {
      for (int tick = 1; tick <= kTicksPerRound && trading; ++tick) {
        paceTo(tick * kRoundOps / (kTicksPerRound + 1));
        api.HeartbeatTimer();
      }
    });
    std::thread sweeper([&] {
      for (int sweep = 1; sweep <= kSweepsPerRound && trading; ++sweep) {
        paceTo(sweep * kRoundOps / (kSweepsPerRound + 1));
        std::int32_t code = 0;
        switch (sweep % 3) {
          case 0:
            code = vnCancelAll("TRADER1");
            break;
          case 1:
            code = vnCancelOrders("TRADER1", "LIFFE", "FTSE", "MAR27");
            break;
          default:
            code = vnCancelAllEx("TRADER1", "USER1");
            break;
        }
        Expect("bulk cancel", IntToStr(sweep), code, {0});
      }
    });

    std::vector<std::thread> traders;
    for (int t = 0; t < kThreads; ++t)
      traders.emplace_back([&, t] {
        for (int i = 0; i < kOrdersEach; ++i) {
          const int kind = (t + i) % 4;
          const TPlan plan = static_cast<TPlan>(kind);
          const bool amends = plan == TPlan::Amend || plan == TPlan::AmendThenCancel;
          NewOrderStruct order = LimitOrder();
          if (amends) PutTextAndNul(order.TraderAccount, "TRADER2");
          char entered[11] = {};
          const std::int32_t added = vnAddOrder(&order, entered);
          ++ops;
          const std::string id = entered;
          if (added != 0 || id.empty()) {
            Unexpected("vnAddOrder", id, added);
            continue;
          }
          Track(id, plan, round);
          // Half the orders are acted on at once (in transit: the request is parked), half once
          // the host has answered the add (working, or being cancelled by a bulk cancel).
          if (((t + i) / 4) % 2 == 1 && !AddAnswered(id)) Unexpected("no answer to", id, -1);
          if (plan == TPlan::CancelOwn) {
            const std::int32_t code =
                i % 2 == 0 ? vnCancelOrder(id.c_str()) : vnCancelOrderEx(id.c_str(), "USER1");
            ++ops;
            Expect("cancel", id, code, {0, VN_RC_ORDER_HELD_IN_QUEUE});
            CountCancel(id, code);
          } else if (plan == TPlan::CancelElsewhere) {
            std::lock_guard guard(elsewhereLock);
            elsewhere.push_back(id);
          } else {
            // Two amends in a row may replace each other while parked; an amend followed by a
            // cancel is left with one amend, so no re-issued amend can replace the cancel.
            const int amendCount = plan == TPlan::Amend ? 2 : 1;
            for (int k = 0; k < amendCount; ++k) {
              AmendOrderStruct amend{};
              PutTextAndNul(amend.Price, IntToStr(101 + amendPrice++ % 8));
              amend.Lots = 1 + k;
              amend.OpenOrClose = 'O';
              PutTextAndNul(amend.TraderAccount, "TRADER2");
              const std::int32_t code = k == 0 ? vnAmendOrder(id.c_str(), &amend)
                                               : vnAmendOrderEx(id.c_str(), &amend, "USER1");
              ++ops;
              // Sent: not amendable (26); in transit: parked (47).
              Expect("amend", id, code, {0, VN_RC_ORDER_HELD_IN_QUEUE, VN_RC_INVALID_ORDER_STATE});
              CountAmend(id, code);
            }
            if (plan == TPlan::AmendThenCancel) {
              const std::int32_t code = vnCancelOrder(id.c_str());
              ++ops;
              Expect("cancel after amend", id, code, {0, VN_RC_ORDER_HELD_IN_QUEUE});
              CountCancel(id, code);
            }
          }
          OrderDetailStruct detail;
          vnGetOrderByID(id.c_str(), &detail, 0);
          // Someone else's order, entered (and its add request recorded) before it was listed.
          std::string other;
          {
            std::lock_guard guard(elsewhereLock);
            if (!elsewhere.empty()) {
              other = elsewhere.front();
              elsewhere.pop_front();
            }
          }
          if (!other.empty()) {
            const std::int32_t code = vnCancelOrderEx(other.c_str(), "USER1");
            ++ops;
            Expect("cancel elsewhere", other, code, {0, VN_RC_ORDER_HELD_IN_QUEUE});
            CountCancel(other, code);
            vnGetOrderByID(other.c_str(), &detail, 0);
          }
        }
      });
    for (auto& trader : traders)
      trader.join();
    trading = false;
    sweeper.join();
    heartbeat.join();
    producing = false;
    hostThread.join();

    // The round is quiet: every request has been answered.
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(api.Orders.AmendingOrders.Count(), 0u);
    const TRecorded recorded = Recorded(*requests_);
    for (const auto& [id, track] : book_) {
      if (track.Round != round) continue;
      SCOPED_TRACE(id);
      auto head = api.Orders.FindOrder(id);
      ASSERT_TRUE(head);
      EXPECT_FALSE(IsParkingState(head->Status)) << int{head->Status};
      const auto counts =
          recorded.Count.count(id) ? recorded.Count.at(id) : std::map<std::int32_t, int>{};
      auto count = [&](std::int32_t code) { return counts.count(code) ? counts.at(code) : 0; };
      EXPECT_EQ(count(kAddRequest), 1);
      const bool cancelled = track.CancelsTaken > 0;
      if (track.Plan == TPlan::Amend || track.Plan == TPlan::AmendThenCancel) {
        // Each amend request stands for one amend the application made (a re-issued one
        // included); one was sent if any was taken.
        EXPECT_LE(count(kAmendRequest), track.AmendsTaken);
        if (track.Plan == TPlan::Amend && track.AmendsTaken > 0) {
          EXPECT_GE(count(kAmendRequest), 1);
        }
        if (track.Plan == TPlan::Amend && count(kAmendRequest) > 0) {
          EXPECT_EQ(head->Price, recorded.LastAmendPrice.at(id));
        }
      }
      if (cancelled) {
        EXPECT_EQ(int{head->Status}, int{osCancelled});
        EXPECT_EQ(count(kCancelRequest), 1);
      } else if (track.Plan == TPlan::CancelElsewhere) {
        // Left to the bulk cancels: cancelled once by one of them, or still working.
        EXPECT_TRUE(head->Status == osWorking || head->Status == osCancelled) << int{head->Status};
        EXPECT_EQ(count(kCancelRequest), head->Status == osCancelled ? 1 : 0);
      } else {
        EXPECT_EQ(int{head->Status}, int{osWorking});
        EXPECT_EQ(count(kCancelRequest), 0);
      }
    }
  }

  // Last, everything still working is cancelled in bulk, with orders at equal prices: every
  // order ends cancelled by exactly one cancel request.
  EXPECT_EQ(vnCancelAll("TRADER1"), 0);
  EXPECT_EQ(vnCancelAllEx("TRADER2", "USER1"), 0);
  host.Drain();
  EXPECT_EQ(api.Orders.AmendingOrders.Count(), 0u);
  const TRecorded recorded = Recorded(*requests_);
  EXPECT_EQ(book_.size(), static_cast<std::size_t>(kRounds * kThreads * kOrdersEach));
  for (const auto& [id, track] : book_) {
    auto head = api.Orders.FindOrder(id);
    ASSERT_TRUE(head) << id;
    EXPECT_EQ(int{head->Status}, int{osCancelled}) << id;
    const auto it = recorded.Count.find(id);
    ASSERT_NE(it, recorded.Count.end()) << id;
    EXPECT_EQ(it->second.count(kCancelRequest) ? it->second.at(kCancelRequest) : 0, 1) << id;
  }
  EXPECT_TRUE(unexpected_.empty()) << [&] {
    std::string all;
    for (const auto& line : unexpected_)
      all += line + "\n";
    return all;
  }();
}

// The order list's road for parked requests, with a hook that runs once, just before a parked
// amend is re-issued: the moment the order's new state is in, while the state's Add is still
// running.
class THookedSender final : public TAPIOrderSender {
 public:
  THookedSender(TClassAPI& api, std::function<void()> beforeAmend)
      : TAPIOrderSender(api), beforeAmend_(std::move(beforeAmend)) {}

  void AmendOrder(std::string_view id, const AmendOrderStruct& record,
                  std::string_view userName) override {
    if (auto hook = std::exchange(beforeAmend_, nullptr)) hook();
    TAPIOrderSender::AmendOrder(id, record, userName);
  }

 private:
  std::function<void()> beforeAmend_;
};

// An amend parked while the order was queued is re-issued once the order works, inside the
// working state's Add: the re-issuing thread still holds the order list's guard, so no
// application thread can act on the working order before the parked amend has gone.
TEST_F(AmendCancelThreadsTest, ParkedAmendIsReissuedBeforeOtherThreadsActOnTheOrder) {
  AddHostOrderIDs(1000, 1);
  TClassAPI& api = Api();
  THostSide host(api, *requests_);
  auto amendTo = [](const char* price) {
    AmendOrderStruct amend{};
    PutTextAndNul(amend.Price, price);
    amend.Lots = 1;
    amend.OpenOrClose = 'O';
    PutTextAndNul(amend.TraderAccount, "TRADER1");
    return amend;
  };
  NewOrderStruct order = LimitOrder();
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  const AmendOrderStruct older = amendTo("101");
  ASSERT_EQ(vnAmendOrder(id, &older), VN_RC_ORDER_HELD_IN_QUEUE);

  bool guardHeld = false;
  int headStatus = -1;
  api.Orders.SetSender(std::make_shared<THookedSender>(api, [&] {
    guardHeld = api.Orders.GuardHeldByThisThread();
    headStatus = api.Orders.FindOrder(id)->Status;
  }));
  host.Drain();
  EXPECT_TRUE(guardHeld);
  EXPECT_EQ(headStatus, int{osWorking});

  // The application's requests come after the parked one.
  const AmendOrderStruct newer = amendTo("102");
  EXPECT_EQ(vnAmendOrder(id, &newer), 0);
  host.Drain();
  EXPECT_EQ(vnCancelOrder(id), 0);
  host.Drain();
  std::vector<double> amendPrices;
  int cancels = 0;
  for (const auto& request : requests_->OrderRequests()) {
    if (request.Code == kAmendRequest) amendPrices.push_back(request.Order->Price);
    if (request.Code == kCancelRequest) ++cancels;
  }
  EXPECT_EQ(amendPrices, (std::vector<double>{101, 102}));
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(int{api.Orders.FindOrder(id)->Status}, int{osCancelled});
  EXPECT_EQ(api.Orders.AmendingOrders.Count(), 0u);
}

}  // namespace
}  // namespace vorn
