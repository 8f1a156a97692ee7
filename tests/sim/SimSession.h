#pragma once
// The session fixture of the simulator's in-process tests, which run the exports as
// libsimapi.so does. SetUp gives the simulator its data files in a test folder of its own and
// the stand-in library's path, turns its pauses off and clears the program's recorder;
// Initialise makes the API object with the logon's callbacks (and the test's own), LogOn logs
// the trader on, DriveTicks stops the simulation timer so that the test drives the passes
// itself. TearDown logs off and puts the test seams back.
//
// Threads: the test's thread; the callbacks record on the library's callback thread.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/util/Text.h"
#include "sim/AutoDemo.h"
#include "sim/ContractOrderList.h"
#include "sim/DOMList.h"
#include "sim/Market.h"
#include "sim/SimRecorder.h"
#include "sim/SimTestData.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim::testing {

class SimSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
      fs::copy_file(entry.path(), folder_.File(entry.path().filename().string()));
    SetTestDataFolderForTests(folder_.Path());
    SetRavelinkPathForTests(
        (fs::path(VORN_SIM_LIBRARY).parent_path() / VORN_RAVELINK_FILE_NAME).string());
    TAutoDemo::SetNoPausesForTests(true);
    recorder.Clear();
  }
  void TearDown() override {
    vnLogOff();
    demo_.reset();
    // The recorder is the program's: the tests after this one in the same process read it.
    recorder.Clear();
    TAutoDemo::SetNoPausesForTests(false);
    SetRavelinkPathForTests({});
    SetTestDataFolderForTests({});
  }

  // vnInitialise('D'), the logon's and the links' callbacks, those that registerMore adds, the
  // addresses and vnReady. Call through ASSERT_NO_FATAL_FAILURE.
  static void Initialise(const std::function<void()>& registerMore = {}) {
    ASSERT_EQ(vnInitialise('D', "v2.8.3", "simtest", "1", "", 0), 0);
    vnRegisterCallback(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
    vnRegisterCallback(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
    vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
    vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE,
                                LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
    vnRegisterLinkStateCallback(VN_CB_PRICE_STATE_CHANGE, LinkState<VN_CB_PRICE_STATE_CHANGE>);
    if (registerMore) registerMore();
    vnSetHostAddress("sim", "1");
    vnSetPriceAddress("sim", "2");
    ASSERT_EQ(vnReady(), 0);
  }
  static std::int32_t LogOn() {
    LogonStruct logon{};
    std::strcpy(logon.UserName, "trader1");
    std::strcpy(logon.Password, "secret1");
    logon.FullDownload = 'Y';
    logon.ReportDownload = 'N';
    return vnLogOn(&logon);
  }
  // After the logon: the simulated host in demo_, its timer stopped once the price link's
  // connection has started it. Call through ASSERT_NO_FATAL_FAILURE.
  void DriveTicks() {
    demo_ = CurrentAutoDemo();
    ASSERT_TRUE(demo_);
    ASSERT_TRUE(Eventually([&] { return demo_->TimerRunning(); }));
    demo_->StopTimer();
  }

  // The work on the book of LIFFE IDX100 MAR27, under the book's lock (so under no order list
  // lock of the caller's).
  template <class Work>
  void WithBook(Work&& work) {
    const auto contract = API()->Contracts.FindContract("LIFFE", "IDX100", "MAR27");
    ASSERT_TRUE(contract);
    ASSERT_TRUE(demo_->Market().WithBook(*contract, work));
  }
  // The book with no levels, users' orders or stops: the test lays it out by hand.
  void EmptyBook() {
    WithBook([](TContractOrderList& book) {
      book.Bids.Clear();
      book.Offers.Clear();
      book.UserOrders.clear();
      book.Stops.clear();
    });
  }
  // A trade of one lot at the price, as a crossing of two simulated orders.
  void TradeAt(double price) {
    WithBook([&](TContractOrderList& book) {
      demo_->Market().AddToDOMLevel(book, true, 1, true, price);
      demo_->Market().AddToDOMLevel(book, false, 1, true, price);
      demo_->Market().CheckOrders(book);
    });
  }
  // The users' lots at the price on one side of the book, -1 without a level there.
  std::int32_t UsersAt(bool bid, double price) {
    std::int32_t users = -1;
    WithBook([&](TContractOrderList& book) {
      const TDOMPrice* level = (bid ? book.Bids : book.Offers).Find(price);
      users = level ? level->Users : -1;
    });
    return users;
  }

  // An order of the trader's account for LIFFE IDX100 MAR27.
  static NewOrderStruct Order(const char* type, char side, const char* price, std::int32_t lots) {
    NewOrderStruct order;
    std::memset(&order, 0, sizeof order);
    PutFixed(order.TraderAccount, "TRADER1");
    PutFixed(order.OrderType, type);
    PutFixed(order.ExchangeName, "LIFFE");
    PutFixed(order.CommodityName, "IDX100");
    PutFixed(order.ContractDate, "MAR27");
    order.BuySell = side;
    PutFixed(order.Price, price);
    order.Lots = lots;
    order.OpenOrClose = 'O';
    return order;
  }
  // The order's current state, or null.
  static std::shared_ptr<TOrderItem> Head(const std::string& id) {
    return API()->Orders.FindOrder(id);
  }

  TTempDir folder_;
  std::shared_ptr<TAutoDemo> demo_;
};

}  // namespace vorn::sim::testing
