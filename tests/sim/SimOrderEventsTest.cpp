// The order events of the shared order code in the demonstration environment, in-process through
// the exports: a cancel is recorded at once and announced with the state it was issued from; a bracket and its children enter
// without an event. The test drives the status passes itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/session/ClassAPI.h"
#include "core/trading/OrderQ.h"
#include "core/util/Text.h"
#include "sim/AutoDemo.h"
#include "sim/SimConnection.h"
#include "sim/SimRecorder.h"
#include "sim/SimTestData.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

void VN_STDCALL OrderUpdate(const OrderUpdateStruct* update) {
  recorder.Add(VN_CB_ORDER, update, sizeof *update);
}

class SimOrderEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
      fs::copy_file(entry.path(), folder_.File(entry.path().filename().string()));
    SetTestDataFolderForTests(folder_.Path());
    SetRavelinkPathForTests(
        (fs::path(VORN_SIM_LIBRARY).parent_path() / VORN_RAVELINK_FILE_NAME).string());
    TAutoDemo::SetNoPausesForTests(true);
    recorder.Clear();
    ASSERT_EQ(vnInitialise('D', "v2.8.3", "simtest", "1", "", 0), 0);
    vnRegisterOrderCallback(VN_CB_ORDER, OrderUpdate);
    vnRegisterCallback(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
    vnRegisterCallback(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
    vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE,
                                LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
    vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
    vnSetHostAddress("sim", "1");
    vnSetPriceAddress("sim", "2");
    ASSERT_EQ(vnReady(), 0);
    LogonStruct logon{};
    std::strcpy(logon.UserName, "trader1");
    std::strcpy(logon.Password, "secret1");
    logon.FullDownload = 'Y';
    logon.ReportDownload = 'N';
    ASSERT_EQ(vnLogOn(&logon), 0);
    demo_ = CurrentAutoDemo();
    ASSERT_TRUE(demo_);
    ASSERT_TRUE(Eventually([&] { return demo_->TimerRunning(); }));
    demo_->StopTimer();
    // A pending cancel stays pending until the test lets it complete.
    demo_->SetPendingDrawForTests([] { return false; });
  }
  void TearDown() override {
    vnLogOff();
    // The recorder is the program's: the tests after this one in the same process read it.
    recorder.Clear();
    demo_.reset();
    TAutoDemo::SetNoPausesForTests(false);
    SetRavelinkPathForTests({});
    SetTestDataFolderForTests({});
  }

  static NewOrderStruct Order(const char* type, const char* price) {
    NewOrderStruct order;
    std::memset(&order, 0, sizeof order);
    PutFixed(order.TraderAccount, "TRADER1");
    PutFixed(order.OrderType, type);
    PutFixed(order.ExchangeName, "LIFFE");
    PutFixed(order.CommodityName, "IDX100");
    PutFixed(order.ContractDate, "MAR27");
    order.BuySell = 'B';
    PutFixed(order.Price, price);
    order.Lots = 2;
    order.OpenOrClose = 'O';
    return order;
  }
  static std::string Enter(const NewOrderStruct& order) {
    char id[11] = {};
    EXPECT_EQ(vnAddOrder(&order, id), 0);
    return Field(id, sizeof id);
  }
  // The order events delivered for the id with the status (any status: -1).
  static std::size_t Events(const std::string& id, int status = -1) {
    std::size_t n = 0;
    for (const TDelivery& d : recorder.Deliveries()) {
      if (d.Id != VN_CB_ORDER) continue;
      OrderUpdateStruct update;
      std::memcpy(&update, d.Payload.data(), sizeof update);
      if (Field(update.OrderID, 11) == id && (status < 0 || update.Status == status)) ++n;
    }
    return n;
  }
  // The id the order took when it was sent.
  static std::string SentId(const std::string& local) {
    std::string id;
    EXPECT_TRUE(Eventually([&] {
      for (const TDelivery& d : recorder.Deliveries()) {
        if (d.Id != VN_CB_ORDER) continue;
        OrderUpdateStruct update;
        std::memcpy(&update, d.Payload.data(), sizeof update);
        if (Field(update.OldOrderID, 11) == local && update.Status == osSent)
          id = Field(update.OrderID, 11);
      }
      return !id.empty();
    }));
    return id;
  }

  TTempDir folder_;
  std::shared_ptr<TAutoDemo> demo_;
};

TEST_F(SimOrderEventsTest, ACancelOfAWorkingOrderIsRecordedAndAnnouncedAtOnce) {
  const std::string local = Enter(Order("Limit", "7800"));
  demo_->StatusPass();
  const std::string id = SentId(local);
  demo_->StatusPass();
  ASSERT_EQ(API()->Orders.FindOrder(id)->Status, osWorking);

  ASSERT_TRUE(Eventually([&] { return Events(id, osWorking) == 1; }));
  const std::size_t before = Events(id);

  // The event carries the state the cancel was issued from; the history holds the pending cancel.
  ASSERT_EQ(vnCancelOrder(id.c_str()), 0);
  EXPECT_EQ(API()->Orders.FindOrder(id)->Status, osCancelPending);
  EXPECT_TRUE(Eventually([&] { return Events(id, osWorking) == 2; }));
  EXPECT_EQ(Events(id), before + 1);
}

TEST_F(SimOrderEventsTest, ABracketAndItsChildEnterWithoutAnOrderEvent) {
  ProtectionStruct protection;
  std::memset(&protection, 0, sizeof protection);
  PutFixed(protection.Pr1Price, "-.5");
  PutFixed(protection.Pr2Price, "+2");
  PutFixed(protection.Pr3Price, "3.");
  PutFixed(protection.StPrice, "4");
  protection.Pr1Volume = 2;
  PutFixed(protection.StType, "TR");
  PutFixed(protection.StSteps1, "1.5");
  PutFixed(protection.StSteps2, "0");
  const NewOrderStruct bracketRecord = Order("Protect", "7800");
  char bracket[11] = {};
  ASSERT_EQ(vnAddProtectionOrder(&bracketRecord, &protection, bracket), 0);
  const std::string bracketId = Field(bracket, sizeof bracket);
  NewOrderStruct childRecord = Order("Limit", "7800");
  PutFixed(childRecord.ParentID, bracketId);
  const std::string child = Enter(childRecord);
  ASSERT_TRUE(API()->Orders.FindOrder(child));

  // Events are delivered in order: once the plain order's is in, the others would be too.
  const std::string plain = Enter(Order("Limit", "7700"));
  ASSERT_TRUE(Eventually([&] { return Events(plain) > 0; }));
  EXPECT_EQ(Events(bracketId), 0u);
  EXPECT_EQ(Events(child), 0u);
}

}  // namespace
}  // namespace vorn::sim
