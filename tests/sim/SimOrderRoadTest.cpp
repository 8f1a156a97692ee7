// Orders through the simulator library as an application sees it: a copy of libsimapi.so loaded
// with dlopen, one logon for the suite, and two other application threads entering and
// cancelling orders on another contract all the while. The simulation moves in real time (a
// status pass every 600 ms, a cancel completing one pass in three), so every wait is on an event
// with a generous deadline and returns as soon as the event arrives.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimRecorder.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace vorn::sim::testing;

// Set while the simulated host does not yet move orders through their life; null once it does.
constexpr const char* kPending = nullptr;

constexpr auto kDeadline = 40s;
constexpr const char* kAccount = "TRADER1";

struct TOrderEvent {
  std::string ID;
  std::string OldID;
  int Status = 0;
};

// The order, fill and user-message events, in delivery order.
class TRoadRecorder {
 public:
  void AddOrder(const OrderUpdateStruct& update) {
    std::lock_guard guard(lock_);
    orders_.push_back({Field(update.OrderID, 11), Field(update.OldOrderID, 11), update.Status});
    changed_.notify_all();
  }
  void AddFill(const FillUpdateStruct& update) {
    std::lock_guard guard(lock_);
    fills_.push_back({Field(update.OrderID, 11), Field(update.FillID, 71)});
    changed_.notify_all();
  }
  void AddMessage(const char* id) {
    std::lock_guard guard(lock_);
    messages_.emplace_back(id ? id : "");
    changed_.notify_all();
  }

  // The number of order events so far, to wait for one that comes after it.
  std::size_t OrderEvents() {
    std::lock_guard guard(lock_);
    return orders_.size();
  }
  // The first order event from index from on that matches; false after the deadline.
  bool WaitOrder(const std::function<bool(const TOrderEvent&)>& match, TOrderEvent* found = nullptr,
                 std::size_t from = 0) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kDeadline, [&] {
      for (std::size_t i = from; i < orders_.size(); ++i)
        if (match(orders_[i])) {
          if (found) *found = orders_[i];
          return true;
        }
      return false;
    });
  }
  // The numeric id an order of a local id was given on reaching Sent; empty after the deadline.
  std::string WaitNumbered(const std::string& localID) {
    TOrderEvent event;
    if (!WaitOrder(
            [&](const TOrderEvent& e) { return e.OldID == localID && e.ID != localID; }, &event))
      return {};
    return event.ID;
  }
  // The first of the states reached by the order of that id; -1 after the deadline.
  int WaitState(const std::string& id, std::initializer_list<int> states) {
    TOrderEvent event;
    const bool reached = WaitOrder(
        [&](const TOrderEvent& e) {
          if (e.ID != id) return false;
          for (const int state : states)
            if (e.Status == state) return true;
          return false;
        },
        &event);
    return reached ? event.Status : -1;
  }
  std::vector<std::string> FillsOf(const std::string& orderID) {
    std::lock_guard guard(lock_);
    std::vector<std::string> ids;
    for (const auto& [order, fill] : fills_)
      if (order == orderID) ids.push_back(fill);
    return ids;
  }
  bool WaitFill(const std::string& orderID) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kDeadline, [&] {
      for (const auto& fill : fills_)
        if (fill.first == orderID) return true;
      return false;
    });
  }
  // Waits for a user message whose text the reader finds; the reader runs outside the lock.
  bool WaitMessage(const std::function<bool(const std::string& id)>& match) {
    std::size_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    for (;;) {
      std::vector<std::string> fresh;
      {
        std::unique_lock guard(lock_);
        if (!changed_.wait_until(guard, deadline, [&] { return messages_.size() > seen; }))
          return false;
        fresh.assign(messages_.begin() + static_cast<std::ptrdiff_t>(seen), messages_.end());
        seen = messages_.size();
      }
      for (const std::string& id : fresh)
        if (match(id)) return true;
    }
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TOrderEvent> orders_;
  std::vector<std::pair<std::string, std::string>> fills_;
  std::vector<std::string> messages_;
};

TRoadRecorder road;

void VN_STDCALL OnOrder(const OrderUpdateStruct* update) {
  road.AddOrder(*update);
}
void VN_STDCALL OnFill(const FillUpdateStruct* update) {
  road.AddFill(*update);
}
void VN_STDCALL OnMessage(const char* id) {
  road.AddMessage(id);
}

void Put(char* field, std::size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}
#define PUT(field, text) Put(field, sizeof field, text)

struct TContract {
  const char* Exchange;
  const char* Commodity;
  const char* Date;
};
constexpr TContract kMar27{"LIFFE", "IDX100", "MAR27"};      // limits 8200 and 7600
constexpr TContract kJun27{"LIFFE", "IDX100", "JUN27"};      // limits 8250 and 7650
constexpr TContract kSpread{"LIFFE", "IDX100", "MAR27JUN27"};  // lot limit 20
constexpr TContract kEmini{"CME", "EMINI", "MAR27"};         // an exchange without queries

NewOrderStruct Order(const TContract& contract, const char* type, char side, const char* price,
                     int32_t lots) {
  NewOrderStruct order{};
  PUT(order.TraderAccount, kAccount);
  PUT(order.OrderType, type);
  PUT(order.ExchangeName, contract.Exchange);
  PUT(order.CommodityName, contract.Commodity);
  PUT(order.ContractDate, contract.Date);
  order.BuySell = side;
  PUT(order.Price, price);
  order.Lots = lots;
  order.OpenOrClose = 'O';
  return order;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Digits (at least five), a blank, then "dd/MM/yyyy hh:mm:ss".
bool FillIDShaped(const std::string& id) {
  const std::size_t blank = id.find(' ');
  if (blank == std::string::npos || blank < 5 || !AllDigits(id.substr(0, blank))) return false;
  const std::string stamp = id.substr(blank + 1);
  const std::string shape = "00/00/0000 00:00:00";
  if (stamp.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == '0' ? stamp[i] < '0' || stamp[i] > '9' : stamp[i] != shape[i]) return false;
  return true;
}

// Binds an export of the loaded library by its name, with its declared type.
#define BIND(name) Bind<decltype(&name)>(#name)

class SimOrderRoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (kPending) return;
    folder_ = std::make_unique<vorn::TTempDir>();
    const fs::path library(VORN_SIM_LIBRARY);
    fs::copy_file(library, folder_->File("libsimapi.so"));
    fs::copy_file(library.parent_path() / VORN_RAVELINK_FILE_NAME,
                  folder_->File(VORN_RAVELINK_FILE_NAME));
    for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
      fs::copy_file(entry.path(), folder_->File(entry.path().filename().string()));
    handle_ = dlopen(folder_->File("libsimapi.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      ADD_FAILURE() << dlerror();
      return;
    }
    BIND(vnSetClientPath)(folder_->Path().c_str());
    if (BIND(vnInitialise)('D', "v2.8.3", "simroad", "1", "", 0) != 0) return;
    BIND(vnRegisterCallback)(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
    BIND(vnRegisterCallback)(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
    BIND(vnRegisterCallback)(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
    BIND(vnRegisterLinkStateCallback)(VN_CB_HOST_LINK_STATE_CHANGE,
                                      LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
    BIND(vnRegisterLinkStateCallback)(VN_CB_PRICE_STATE_CHANGE, LinkState<VN_CB_PRICE_STATE_CHANGE>);
    BIND(vnRegisterPriceCallback)(VN_CB_PRICE_UPDATE, PriceUpdate);
    BIND(vnRegisterOrderCallback)(VN_CB_ORDER, OnOrder);
    BIND(vnRegisterFillCallback)(VN_CB_FILL, OnFill);
    BIND(vnRegisterMsgCallback)(VN_CB_MESSAGE, OnMessage);
    BIND(vnSetHostAddress)("sim", "1");
    BIND(vnSetPriceAddress)("sim", "2");
    if (BIND(vnReady)() != 0 || !recorder.WaitFor(VN_CB_HOST_LINK_STATE_CHANGE, 1, kDeadline))
      return;
    LogonStruct logon{};
    PUT(logon.UserName, "trader1");
    PUT(logon.Password, "secret1");
    logon.FullDownload = 'Y';
    logon.ReportDownload = 'N';
    if (BIND(vnLogOn)(&logon) != 0 || !recorder.WaitFor(VN_CB_DATA_DL_COMPLETE, 1, kDeadline) ||
        !recorder.WaitFor(VN_CB_PRICE_STATE_CHANGE, 1, kDeadline))
      return;
    for (const TContract& contract : {kMar27, kSpread})
      BIND(vnSubscribePrice)(contract.Exchange, contract.Commodity, contract.Date);
    loggedOn_ = true;
    for (int i = 0; i < 2; ++i)
      traders_.emplace_back(OtherTrader);
  }

  static void TearDownTestSuite() {
    stop_ = true;
    for (std::thread& trader : traders_)
      trader.join();
    traders_.clear();
    // Each other thread saw an order through to its cancel at least once.
    if (loggedOn_) {
      EXPECT_GE(cycles_.load(), 2);
    }
    if (handle_) {
      BIND(vnLogOff)();
      dlclose(handle_);
      handle_ = nullptr;
    }
    folder_.reset();
  }

  void SetUp() override {
    if (kPending) GTEST_SKIP() << kPending;
    ASSERT_TRUE(loggedOn_) << "the simulated host did not start";
  }

  template <class Proc>
  static Proc Bind(const char* name) {
    auto proc = reinterpret_cast<Proc>(dlsym(handle_, name));
    if (!proc) {
      ADD_FAILURE() << name << " is not exported";
      std::abort();
    }
    return proc;
  }
  // Another application thread: enters a resting buy away from the market, cancels it once it
  // works and waits for the cancel to complete, at least once and then until the suite ends.
  static void OtherTrader() {
    do {
      NewOrderStruct order = Order(kJun27, "Limit", VN_SIDE_BUY, "7650", 1);
      char id[11] = {};
      ASSERT_EQ(BIND(vnAddOrder)(&order, id), 0);
      const std::string numbered = road.WaitNumbered(id);
      ASSERT_FALSE(numbered.empty()) << id << " was never sent";
      ASSERT_EQ(road.WaitState(numbered, {VN_OS_WORKING}), VN_OS_WORKING) << numbered;
      ASSERT_EQ(BIND(vnCancelOrder)(numbered.c_str()), 0) << numbered;
      ASSERT_EQ(road.WaitState(numbered, {VN_OS_CANCELLED}), VN_OS_CANCELLED) << numbered;
      ++cycles_;
    } while (!stop_);
  }

  // Enters the order and follows it to its exchange number; empty (with a failure) otherwise.
  static std::string EnterAndNumber(NewOrderStruct order) {
    char id[11] = {};
    const int32_t result = BIND(vnAddOrder)(&order, id);
    EXPECT_EQ(result, 0);
    if (result != 0) return {};
    const std::string numbered = road.WaitNumbered(id);
    EXPECT_FALSE(numbered.empty()) << id << " was never sent";
    return numbered;
  }
  static OrderDetailStruct Detail(const std::string& id) {
    OrderDetailStruct detail{};
    EXPECT_EQ(BIND(vnGetOrderByID)(id.c_str(), &detail, 0), 0) << id;
    return detail;
  }
  static bool MessageArrives(const std::string& text, char alert) {
    return road.WaitMessage([&](const std::string& id) {
      MessageStruct message{};
      return BIND(vnGetUsrMsgByID)(id.c_str(), &message) == 0 &&
             Field(message.MsgText, sizeof message.MsgText) == text && message.IsAlert == alert;
    });
  }
  static PositionStruct Position(const TContract& contract) {
    PositionStruct position{};
    EXPECT_EQ(BIND(vnGetContractPosition)(contract.Exchange, contract.Commodity, contract.Date,
                                          kAccount, &position),
              0);
    return position;
  }
  static FillStruct Fill(const std::string& fillID) {
    FillStruct fill{};
    EXPECT_EQ(BIND(vnGetFillByID)(fillID.c_str(), &fill), 0) << fillID;
    return fill;
  }
  static void Cancel(const std::string& id) {
    ASSERT_EQ(BIND(vnCancelOrder)(id.c_str()), 0) << id;
    ASSERT_EQ(road.WaitState(id, {VN_OS_CANCELLED}), VN_OS_CANCELLED) << id;
  }

  static inline std::unique_ptr<vorn::TTempDir> folder_;
  static inline void* handle_ = nullptr;
  static inline bool loggedOn_ = false;
  static inline std::atomic<bool> stop_{false};
  static inline std::atomic<int> cycles_{0};
  static inline std::vector<std::thread> traders_;
};

TEST_F(SimOrderRoadTest, ALimitOrderIsNumberedWorksAndCancels) {
  NewOrderStruct order = Order(kMar27, "Limit", VN_SIDE_BUY, "7600", 2);
  char local[11] = {};
  ASSERT_EQ(BIND(vnAddOrder)(&order, local), 0);
  ASSERT_EQ(local[0], 'N') << local;
  EXPECT_EQ(road.WaitState(local, {VN_OS_QUEUED}), VN_OS_QUEUED);

  // Sent: the event names the exchange's number and the old local id.
  TOrderEvent sent;
  ASSERT_TRUE(road.WaitOrder([&](const TOrderEvent& e) { return e.OldID == local && e.ID != local; },
                             &sent));
  EXPECT_TRUE(AllDigits(sent.ID)) << sent.ID;
  EXPECT_EQ(sent.Status, VN_OS_SENT);
  const std::string id = sent.ID;
  ASSERT_EQ(road.WaitState(id, {VN_OS_WORKING, VN_OS_REJECTED}), VN_OS_WORKING);
  OrderDetailStruct detail = Detail(id);
  EXPECT_EQ(detail.Status, VN_OSC_WORKING);
  EXPECT_EQ(Field(detail.DisplayID, sizeof detail.DisplayID), id);
  EXPECT_EQ(int32_t{detail.Lots}, 2);
  EXPECT_EQ(int32_t{detail.Filled}, 0);
  EXPECT_EQ(std::strlen(detail.DateExchangeAcknowledged), 8u);
  EXPECT_TRUE(MessageArrives("Order received for Order " + id, VN_MSG_NORMAL));
  // The local id is gone with the renaming.
  OrderDetailStruct gone{};
  EXPECT_EQ(BIND(vnGetOrderByID)(local, &gone, 0), VN_RC_INVALID_ORDER_ID);

  ASSERT_EQ(BIND(vnCancelOrder)(id.c_str()), 0);
  ASSERT_EQ(road.WaitState(id, {VN_OS_CANCELLED, VN_OS_BAL_CANCELLED}), VN_OS_CANCELLED);
  detail = Detail(id);
  EXPECT_EQ(detail.Status, VN_OSC_CANCELLED);
  EXPECT_EQ(int32_t{detail.Filled}, 0);
  EXPECT_EQ(int32_t{detail.ActualLots}, 0);
  // The cancel waited as pending in the history until the simulated exchange took it.
  int32_t index = -1;
  OrderDetailStruct pending{};
  ASSERT_EQ(BIND(vnGetOrderIndex)(id.c_str(), &index), 0);
  ASSERT_EQ(BIND(vnGetOrderHistory)(index, 1, &pending), 0);
  EXPECT_EQ(pending.Status, VN_OSC_CANCEL_PENDING);
  EXPECT_TRUE(MessageArrives("Cancellation Received for " + id, VN_MSG_NORMAL));
}

TEST_F(SimOrderRoadTest, AnOrderOverTheMaximumLotsIsRejected) {
  const std::string hundred = EnterAndNumber(Order(kMar27, "Limit", VN_SIDE_BUY, "7600", 100));
  const std::string over = EnterAndNumber(Order(kMar27, "Limit", VN_SIDE_BUY, "7600", 101));
  ASSERT_FALSE(hundred.empty());
  ASSERT_FALSE(over.empty());
  EXPECT_EQ(road.WaitState(hundred, {VN_OS_WORKING, VN_OS_REJECTED}), VN_OS_WORKING);
  ASSERT_EQ(road.WaitState(over, {VN_OS_WORKING, VN_OS_REJECTED}), VN_OS_REJECTED);
  const char* const reason = "Order Rejected.  MAX lots (100) exceeded";
  const OrderDetailStruct detail = Detail(over);
  EXPECT_EQ(detail.Status, VN_OSC_REJECTED);
  EXPECT_EQ(Field(detail.NonExecReason, sizeof detail.NonExecReason), reason);
  EXPECT_TRUE(MessageArrives(reason, VN_MSG_ALERT));
  Cancel(hundred);
}

TEST_F(SimOrderRoadTest, ABuyAtTheUpperLimitFillsAndMovesThePosition) {
  const PositionStruct before = Position(kMar27);
  const std::string id = EnterAndNumber(Order(kMar27, "Limit", VN_SIDE_BUY, "8200", 1));
  ASSERT_FALSE(id.empty());
  ASSERT_EQ(road.WaitState(id, {VN_OS_FILLED, VN_OS_REJECTED, VN_OS_CANCELLED}), VN_OS_FILLED);
  // The fill's event comes before the order's.
  const std::vector<std::string> fills = road.FillsOf(id);
  ASSERT_EQ(fills.size(), 1u);

  const FillStruct fill = Fill(fills[0]);
  EXPECT_EQ(Field(fill.FillID, sizeof fill.FillID), fills[0]);
  // The fill counter and a random number, a blank, then the local date and time.
  EXPECT_TRUE(FillIDShaped(fills[0])) << fills[0];
  EXPECT_EQ(Field(fill.OrderID, sizeof fill.OrderID), id);
  EXPECT_EQ(Field(fill.ExchangeName, sizeof fill.ExchangeName), "LIFFE");
  EXPECT_EQ(Field(fill.ContractName, sizeof fill.ContractName), "IDX100");
  EXPECT_EQ(Field(fill.ContractDate, sizeof fill.ContractDate), "MAR27");
  EXPECT_EQ(fill.BuySell, VN_SIDE_BUY);
  EXPECT_EQ(int32_t{fill.Lots}, 1);
  EXPECT_EQ(fill.FillType, VN_FT_FILL);
  EXPECT_EQ(Field(fill.TraderAccount, sizeof fill.TraderAccount), kAccount);
  EXPECT_TRUE(AllDigits(Field(fill.DateFilled, sizeof fill.DateFilled)) &&
              std::strlen(fill.DateFilled) == 8)
      << fill.DateFilled;
  EXPECT_TRUE(AllDigits(Field(fill.TimeFilled, sizeof fill.TimeFilled)) &&
              std::strlen(fill.TimeFilled) == 6)
      << fill.TimeFilled;
  // A buy through the market trades at a price of the book, at most its own limit.
  const double price = std::stod(Field(fill.Price, sizeof fill.Price));
  EXPECT_GE(price, 7600);
  EXPECT_LE(price, 8200);

  const OrderDetailStruct detail = Detail(id);
  EXPECT_EQ(detail.Status, VN_OSC_FILLED);
  EXPECT_EQ(int32_t{detail.Filled}, 1);
  EXPECT_EQ(int32_t{detail.NoOfFills}, 1);
  EXPECT_DOUBLE_EQ(std::stod(Field(detail.AveragePrice, sizeof detail.AveragePrice)), price);
  EXPECT_TRUE(MessageArrives("Fill received for Order " + id, VN_MSG_NORMAL));

  const PositionStruct after = Position(kMar27);
  EXPECT_EQ(int32_t{after.Buy}, int32_t{before.Buy} + 1);
  EXPECT_EQ(int32_t{after.Sell}, int32_t{before.Sell});
}

TEST_F(SimOrderRoadTest, AMarketBuyFillsAcrossTheOfferLevels) {
  // Waits for a book with two offer levels whose best one a 100-lot buy outweighs.
  const auto offers = [] {
    PriceStruct prices{};
    BIND(vnGetPriceForContract)(kSpread.Exchange, kSpread.Commodity, kSpread.Date, &prices);
    const int32_t best = prices.Entries[VN_PK_OFFER_DEPTH].Volume;
    const int32_t second = prices.Entries[VN_PK_OFFER_DEPTH + 1].Volume;
    return best > 0 && best < 60 && second > 0;
  };
  for (std::size_t seen = recorder.Count(VN_CB_PRICE_UPDATE); !offers(); ++seen)
    ASSERT_TRUE(recorder.WaitFor(VN_CB_PRICE_UPDATE, seen + 1, kDeadline)) << "no offer levels";

  const std::string id = EnterAndNumber(Order(kSpread, "Market", VN_SIDE_BUY, "", 100));
  ASSERT_FALSE(id.empty());
  const int end = road.WaitState(id, {VN_OS_FILLED, VN_OS_BAL_CANCELLED, VN_OS_REJECTED});
  ASSERT_TRUE(end == VN_OS_FILLED || end == VN_OS_BAL_CANCELLED) << end;

  const std::vector<std::string> fills = road.FillsOf(id);
  ASSERT_GE(fills.size(), 2u);
  int32_t lots = 0;
  double value = 0, previous = -1e9;
  std::vector<double> prices;
  for (const std::string& fillID : fills) {
    const FillStruct fill = Fill(fillID);
    const double price = std::stod(Field(fill.Price, sizeof fill.Price));
    // A buy walks up the offers.
    EXPECT_GE(price, previous) << fillID;
    if (price != previous) prices.push_back(price);
    previous = price;
    lots += fill.Lots;
    value += fill.Lots * price;
  }
  EXPECT_GE(prices.size(), 2u);
  const OrderDetailStruct detail = Detail(id);
  EXPECT_EQ(int32_t{detail.Filled}, lots);
  EXPECT_EQ(int32_t{detail.NoOfFills}, static_cast<int32_t>(fills.size()));
  EXPECT_EQ(end == VN_OS_FILLED, lots == 100) << lots;
  EXPECT_EQ(detail.Status, end == VN_OS_FILLED ? VN_OSC_FILLED : VN_OSC_BAL_CANCELLED);
  EXPECT_NEAR(std::stod(Field(detail.AveragePrice, sizeof detail.AveragePrice)), value / lots,
              1e-9);
}

TEST_F(SimOrderRoadTest, AStatusQueryIsAnsweredWhereTheExchangeTakesQueries) {
  const std::string liffe = EnterAndNumber(Order(kMar27, "Limit", VN_SIDE_BUY, "7600", 1));
  const std::string cme = EnterAndNumber(Order(kEmini, "Limit", VN_SIDE_BUY, "5800", 1));
  ASSERT_FALSE(liffe.empty());
  ASSERT_FALSE(cme.empty());
  ASSERT_EQ(road.WaitState(liffe, {VN_OS_WORKING}), VN_OS_WORKING);
  ASSERT_EQ(road.WaitState(cme, {VN_OS_WORKING}), VN_OS_WORKING);

  EXPECT_EQ(BIND(vnQueryOrderStatus)(cme.c_str()), VN_RC_QUERY_NOT_ENABLED);
  const std::size_t from = road.OrderEvents();
  ASSERT_EQ(BIND(vnQueryOrderStatus)(liffe.c_str()), 0);
  // The answer is an order event under the same id that reports the state the order holds.
  TOrderEvent answer;
  ASSERT_TRUE(road.WaitOrder(
      [&](const TOrderEvent& e) { return e.ID == liffe && e.OldID == liffe; }, &answer, from));
  const OrderDetailStruct detail = Detail(liffe);
  const int expected = answer.Status == VN_OS_ORPI_PART ? VN_OSC_ORPI_PART : VN_OSC_WORKING;
  EXPECT_TRUE(answer.Status == VN_OS_WORKING || answer.Status == VN_OS_ORPI_PART)
      << answer.Status;
  EXPECT_EQ(detail.Status, expected);
  EXPECT_EQ(int32_t{detail.Filled}, 0);
  EXPECT_TRUE(road.FillsOf(liffe).empty());
  Cancel(cme);
  Cancel(liffe);
}

}  // namespace
