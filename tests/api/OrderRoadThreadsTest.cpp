// The order road under threads against the fake host (run under ThreadSanitizer): application
// threads enter, amend and cancel orders through the exports while the host link's socket
// thread applies the host's states and fills and the heartbeat ticks. The host is played by a
// thread of the test that answers each request at once. Checked: every order's events are the
// entry's and then one per host state, in order, none lost or repeated; every order's newest
// version is what the host said last; the order list's open-lot index stays its heads' (while
// the states stream in and at the end) and the margin figures equal the pass over every order.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "support/OrderRoad.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr int kThreads = 3;
constexpr int kOrdersEach = 20;
constexpr auto kWait = std::chrono::seconds(60);

// The value of a host body's field; empty when absent.
std::string FieldOf(std::string_view body, std::string_view name) {
  std::size_t at = 0;
  while (at < body.size()) {
    std::size_t end = body.find('\x01', at);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view item = body.substr(at, end - at);
    if (item.size() > name.size() && item.substr(0, name.size()) == name &&
        item[name.size()] == '=')
      return std::string(item.substr(name.size() + 1));
    at = end + 1;
  }
  return {};
}

// The host's side of every order: its terms as last sent, and the states it sent.
struct THostOrder {
  std::string Side;
  std::string Price;
  std::string Reference;
  int Lots = 0;
  int WorkingLots = 0;  // the lots it worked at before a cancel
  int Filled = 0;
  int Sequence = 0;
  std::vector<int> States;
  int Adds = 0;
  int Amends = 0;
  int Cancels = 0;
};

// Plays the host after the logon: answers handshakes, order-id requests, add, amend and cancel
// requests at once, and fills the orders whose reference is "fill"; answers the price feed's
// handshakes. Runs on a thread of its own until stopped; Orders is read after Stop.
class THostPlayer {
 public:
  explicit THostPlayer(TFakeServers& servers) : servers_(servers) {
    thread_ = std::thread([this] { Run(); });
  }
  THostPlayer(const THostPlayer&) = delete;
  THostPlayer& operator=(const THostPlayer&) = delete;
  ~THostPlayer() { Stop(); }

  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    servers_.Wake->Notify();
    thread_.join();
  }
  const std::map<std::string, THostOrder>& Orders() const { return orders_; }

 private:
  void Run() {
    while (!stop_) {
      const std::uint64_t seen = servers_.Wake->Count();
      while (auto event = servers_.Host.TryNextEvent())
        if (event->Type == TFakeEvent::TType::Message) Host(event->Body);
      while (auto event = servers_.Price.TryNextEvent())
        if (event->Type == TFakeEvent::TType::Message) Price(event->Body);
      servers_.Wake->WaitChange(seen, std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
  }

  void Price(const std::string& body) {
    if (body.size() < 146 || body.compare(0, 4, "0066") != 0) return;
    std::string answer(146, ' ');
    answer.replace(0, 4, "0067");
    answer.replace(136, 10, body.substr(136, 10));
    servers_.Price.Send(answer);
  }

  void Host(const std::string& body) {
    const std::string code = FieldOf(body, "Msg");
    if (code == "3361") {
      servers_.Host.Send(HostBody("Msg=3624"));
    } else if (code == "3341") {
      std::string ids = "Msg=3622";
      for (int i = 0; i < 100; ++i)
        ids += "|OID=" + std::to_string(nextID_++);
      servers_.Host.Send(HostBody(ids + "|Sts=0"));
    } else if (code == "3301") {
      const std::string id = FieldOf(body, "OID");
      THostOrder& order = orders_[id];
      ++order.Adds;
      order.Side = FieldOf(body, "BS");
      order.Price = FieldOf(body, "Pr");
      order.Reference = FieldOf(body, "Ref");
      order.Lots = std::stoi(FieldOf(body, "TLt"));
      State(id, order, VN_OS_SENT, "|GUID=G-O-" + id);
      State(id, order, VN_OS_WORKING, "|EID=X-" + id);
      if (order.Reference == "fill") {
        servers_.Host.Send(HostBody(
            "Msg=3602|FID=F-" + id + "|OID=" + id + "|Ex=LIFFE|C=FTSE|CD=MAR27|BS=" + order.Side +
            "|Fil=" + std::to_string(order.Lots) + "|Pr=" + order.Price +
            "|FTy=1|TA=TRADER1|Usr=trader1|EID=X-" + id + "|GUID=G-F-" + id));
        order.Filled = order.Lots;
        State(id, order, VN_OS_FILLED, "|AvP=" + order.Price + "|EID=X-" + id);
      }
    } else if (code == "3302") {
      const std::string id = FieldOf(body, "OID");
      THostOrder& order = orders_[id];
      ++order.Amends;
      const int oldLots = order.Lots;
      order.Price = FieldOf(body, "Pr");
      order.Lots = std::stoi(FieldOf(body, "TLt"));
      State(id, order, VN_OS_AMEND_PENDING, "|EID=X-" + id, oldLots);
      State(id, order, VN_OS_WORKING, "|EID=X-" + id);
    } else if (code == "3303") {
      const std::string id = FieldOf(body, "OID");
      THostOrder& order = orders_[id];
      ++order.Cancels;
      State(id, order, VN_OS_CANCEL_PENDING, "|EID=X-" + id);
      // A cancelled order's lots are what it filled.
      order.WorkingLots = order.Lots;
      order.Lots = order.Filled;
      State(id, order, VN_OS_CANCELLED, "|EID=X-" + id + "|OSt=11");
    }
  }

  // Sends the order's next state with its terms; actual lots as given (else its lots).
  void State(const std::string& id, THostOrder& order, int state, const std::string& extra,
             int actualLots = -1) {
    order.States.push_back(state);
    servers_.Host.Send(HostBody(
        "Msg=3601|OID=" + id + "|Sts=" + std::to_string(state) +
        "|Seq=" + std::to_string(++order.Sequence) +
        "|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|Usr=trader1|BS=" + order.Side +
        "|Pr=" + order.Price + "|TLt=" + std::to_string(order.Lots) +
        "|ALt=" + std::to_string(actualLots < 0 ? order.Lots : actualLots) +
        "|Fil=" + std::to_string(order.Filled) + "|Ref=" + order.Reference + extra));
  }

  TFakeServers& servers_;
  std::atomic<bool> stop_{false};
  int nextID_ = 101;
  std::map<std::string, THostOrder> orders_;
  std::thread thread_;
};

class OrderRoadThreadsTest : public OrderRoadSessionTest {
 protected:
  // The order events of the order so far, their states in order.
  static std::vector<int> StatesOf(const std::vector<TCallbackRecorder::TDelivery>& deliveries,
                                   const std::string& id) {
    std::vector<int> states;
    for (const auto& delivery : deliveries) {
      if (delivery.Id != VN_CB_ORDER) continue;
      OrderUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      if (id == update.OrderID) states.push_back(update.Status);
    }
    return states;
  }
  // Waits until the order has had count events of the state.
  bool StateArrived(const std::string& id, int state, int count = 1) {
    return recorder_.WaitUntil(
        [&](const std::vector<TCallbackRecorder::TDelivery>& deliveries) {
          const auto states = StatesOf(deliveries, id);
          return std::count(states.begin(), states.end(), state) >= count;
        },
        kWait);
  }
};

TEST_F(OrderRoadThreadsTest, EnterAmendAndCancelWhileTheHostAnswersAndTheHeartbeatTicks) {
  // The script logs on and ends the download; the player takes over from there (the price
  // link starts at the end of the download, the first order-id request follows it).
  PlayText("include prelude-logon-market.conv\nsend host Msg=3620\n");
  Start();
  LogonStruct logon = Logon("trader1", "secret1");
  ASSERT_EQ(vnLogOn(&logon), 0);
  ASSERT_TRUE(Delivered(VN_CB_DATA_DL_COMPLETE));
  ExpectPlayed();
  ASSERT_FALSE(HasFatalFailure());
  THostPlayer host(servers_);
  ASSERT_TRUE(PriceLinkUp());
  ASSERT_TRUE(HostIDsArrived());
  TClassAPI& api = *API();
  api.Features.OrderThrottle = false;

  // The open-lot index checked against the heads after every step of a trader, while the
  // others' states stream in.
  std::mutex stepLock;
  std::condition_variable stepped;
  int steps = 0;
  bool trading = true;
  const auto step = [&](bool last = false) {
    std::lock_guard guard(stepLock);
    ++steps;
    if (last) trading = false;
    stepped.notify_all();
  };
  std::atomic<bool> indexConsistent{true};
  std::thread checker([&] {
    int seen = 0;
    std::unique_lock guard(stepLock);
    while (trading) {
      stepped.wait(guard, [&] { return !trading || steps != seen; });
      seen = steps;
      guard.unlock();
      if (!api.Orders.OpenLotsConsistent()) indexConsistent = false;
      guard.lock();
    }
  });

  // Each order is amended (to 5 lots at 6501), cancelled, or filled by the host, by turns.
  const char* const kKinds[] = {"amend", "cancel", "fill"};
  std::vector<std::vector<std::string>> ids(kThreads);
  std::vector<std::thread> traders;
  for (int t = 0; t < kThreads; ++t)
    traders.emplace_back([&, t] {
      for (int i = 0; i < kOrdersEach; ++i) {
        const std::string kind = kKinds[(t + i) % 3];
        NewOrderStruct order = Order(i % 2 ? 'B' : 'S', i % 2 ? "6500" : "6550", 1 + i % 4);
        PutTextAndNul(order.Reference, kind.c_str());
        char entered[11] = {};
        if (vnAddOrder(&order, entered) != 0) continue;
        const std::string id = entered;
        ids[t].push_back(id);
        std::int32_t count = 0;
        vnCountOrders(&count);
        OrderDetailStruct detail;
        vnGetOrderByID(entered, &detail, 0);
        if (kind == "fill") {
          StateArrived(id, VN_OS_FILLED);
          step();
          continue;
        }
        if (!StateArrived(id, VN_OS_WORKING)) continue;
        step();
        if (kind == "amend") {
          AmendOrderStruct amend;
          std::memset(&amend, 0, sizeof amend);
          PutTextAndNul(amend.Price, "6501");
          amend.Lots = 5;
          amend.OpenOrClose = 'O';
          PutTextAndNul(amend.TraderAccount, "TRADER1");
          PutTextAndNul(amend.Reference, "amend");
          if (vnAmendOrder(entered, &amend) == 0) StateArrived(id, VN_OS_WORKING, 2);
        } else if (vnCancelOrder(entered) == 0) {
          StateArrived(id, VN_OS_CANCELLED);
        }
        vnGetOrderByID(entered, &detail, 0);
        step();
      }
    });
  for (auto& trader : traders)
    trader.join();
  step(true);
  checker.join();
  host.Stop();

  EXPECT_TRUE(indexConsistent);
  EXPECT_TRUE(api.Orders.OpenLotsConsistent());

  // No order lost: each entered once, under a host id of its own, and listed.
  std::set<std::string> distinct;
  for (const auto& list : ids)
    distinct.insert(list.begin(), list.end());
  ASSERT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kOrdersEach));
  std::int32_t listed = 0;
  ASSERT_EQ(vnCountOrders(&listed), 0);
  EXPECT_EQ(listed, kThreads * kOrdersEach);

  const auto deliveries = recorder_.Deliveries();
  std::map<std::string, int> fillEvents;
  for (const auto& delivery : deliveries)
    if (delivery.Id == VN_CB_FILL) {
      FillUpdateStruct fill;
      std::memcpy(&fill, delivery.Payload.data(), sizeof fill);
      ++fillEvents[fill.OrderID];
    }
  const std::map<int, int> kDetailStatus = {{VN_OS_WORKING, VN_OSC_WORKING},
                                            {VN_OS_CANCELLED, VN_OSC_CANCELLED},
                                            {VN_OS_FILLED, VN_OSC_FILLED}};
  for (const std::string& id : distinct) {
    SCOPED_TRACE(id);
    ASSERT_EQ(host.Orders().count(id), 1u);
    const THostOrder& sent = host.Orders().at(id);
    EXPECT_EQ(sent.Adds, 1);
    EXPECT_EQ(sent.Amends, sent.Reference == "amend" ? 1 : 0);
    EXPECT_EQ(sent.Cancels, sent.Reference == "cancel" ? 1 : 0);
    EXPECT_EQ(fillEvents[id], sent.Reference == "fill" ? 1 : 0);
    // The entry's event, then one per host state in the order sent.
    std::vector<int> expected{VN_OS_QUEUED};
    expected.insert(expected.end(), sent.States.begin(), sent.States.end());
    EXPECT_EQ(StatesOf(deliveries, id), expected);
    // The newest version is the host's last word; a cancelled one shows the lots it worked at.
    OrderDetailStruct detail;
    ASSERT_EQ(vnGetOrderByID(id.c_str(), &detail, 0), 0);
    ASSERT_FALSE(sent.States.empty());
    EXPECT_EQ(detail.Status, kDetailStatus.at(sent.States.back()));
    EXPECT_EQ(std::int32_t{detail.Lots},
              sent.States.back() == VN_OS_CANCELLED ? sent.WorkingLots : sent.Lots);
    EXPECT_EQ(std::int32_t{detail.Filled}, sent.Filled);
    EXPECT_EQ(detail.BuySell, sent.Side == "1" ? 'B' : 'S');
  }

  // The margin figures from the index are the pass over every order's head, bit for bit.
  const auto account = api.Accounts.FindAccount("TRADER1");
  const auto contract = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
  ASSERT_TRUE(account && contract);
  const std::string amended = *std::find_if(distinct.begin(), distinct.end(), [&](const auto& id) {
    return host.Orders().at(id).Reference == "amend";
  });
  for (std::uint8_t mode = 0; mode <= TMarginRequirement::kOrderRequest; ++mode)
    for (const bool covered : {false, true})
      for (const std::int32_t lots : {0, -2, 5})
        for (const std::string& id : {std::string(), amended}) {
          auto& req = api.MarginRequirement;
          const double kept = req.CalcMarginReq(contract, *account, id, mode, lots, 6500, covered);
          const double scanned =
              req.CalcMarginReqByScan(contract, *account, id, mode, lots, 6500, covered);
          EXPECT_EQ(std::bit_cast<std::uint64_t>(kept), std::bit_cast<std::uint64_t>(scanned))
              << "mode " << int{mode} << " covered " << covered << " lots " << lots << " id '" << id
              << "'";
        }

  ASSERT_EQ(vnLogOff(), 0);
}

}  // namespace
}  // namespace vorn
