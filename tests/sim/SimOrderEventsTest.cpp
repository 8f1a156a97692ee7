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
#include "sim/SimSession.h"
#include "sim/SimTestData.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

class SimOrderEventsTest : public SimSessionTest {
 protected:
  void SetUp() override {
    SimSessionTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(
        Initialise([] { vnRegisterOrderCallback(VN_CB_ORDER, OrderUpdate); }));
    ASSERT_EQ(LogOn(), 0);
    ASSERT_NO_FATAL_FAILURE(DriveTicks());
    // A pending cancel stays pending until the test lets it complete.
    demo_->SetPendingDrawForTests([] { return false; });
  }

  // A buy of 2 lots.
  static NewOrderStruct Order(const char* type, const char* price) {
    return SimSessionTest::Order(type, 'B', price, 2);
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
