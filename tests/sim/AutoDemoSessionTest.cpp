// The simulated host in-process, through the exports as libsimapi.so runs them (the simulator's
// profile is linked in): the data from a test folder, no pauses, a fast heartbeat.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "sim/AutoDemo.h"
#include "sim/SimConnection.h"
#include "sim/SimRecorder.h"
#include "sim/SimSession.h"
#include "sim/SimTestData.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

class AutoDemoSessionTest : public SimSessionTest {
 protected:
  void SetUp() override {
    SimSessionTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(
        Initialise([] { vnRegisterPriceCallback(VN_CB_PRICE_UPDATE, PriceUpdate); }));
    API()->Heartbeat.SetInterval(25);
  }

  static LogonStatusStruct Status() {
    LogonStatusStruct status{};
    vnGetLogonStatus(&status);
    return status;
  }
  static std::int32_t Contracts() {
    std::int32_t count = -1;
    return vnCountContracts(&count) == 0 ? count : -1;
  }
  // Two price events of the subscribed contract. An event follows a change of the contract's
  // change mask, which a read clears: each read is followed by an event once the market moved.
  static bool MarketMoves() {
    for (int move = 0; move < 2; ++move) {
      PriceStruct read{};
      if (vnGetPriceForContract("LIFFE", "IDX100", "MAR27", &read) != 0) return false;
      if (!recorder.WaitFor(VN_CB_PRICE_UPDATE, recorder.Count(VN_CB_PRICE_UPDATE) + 1))
        return false;
    }
    return true;
  }
  static std::shared_ptr<TConnection> PriceLink() {
    return std::dynamic_pointer_cast<TConnection>(API()->GetLink(psPriceFeed));
  }

};

TEST_F(AutoDemoSessionTest, LoggingOnAgainWhileTheMarketRunsRebuildsTheWorld) {
  ASSERT_EQ(LogOn(), 0);
  ASSERT_TRUE(recorder.WaitFor(VN_CB_PRICE_STATE_CHANGE, 1));
  ASSERT_EQ(vnSubscribePrice("LIFFE", "IDX100", "MAR27"), 0);
  ASSERT_TRUE(MarketMoves());
  for (std::size_t round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    // The simulation thread is stepping the market while the login empties the lists.
    ASSERT_EQ(LogOn(), 0);
    EXPECT_EQ(Status().Status, 1);
    EXPECT_EQ(Contracts(), 9);
    // Events reach the application on the callback thread, after vnLogOn has returned.
    EXPECT_TRUE(recorder.WaitFor(VN_CB_DATA_DL_COMPLETE, round + 1));
    // The price link stayed connected: the market moves again without a new connection.
    EXPECT_TRUE(CurrentAutoDemo()->TimerRunning());
    EXPECT_EQ(recorder.Count(VN_CB_PRICE_STATE_CHANGE), 1u);
    ASSERT_EQ(vnSubscribePrice("LIFFE", "IDX100", "MAR27"), 0);
    ASSERT_TRUE(MarketMoves());
  }

  // A failed start leaves empty lists, not logged on, and the market still.
  fs::remove(folder_.File(kTraderFile));
  ASSERT_EQ(LogOn(), 0);
  const LogonStatusStruct failed = Status();
  EXPECT_EQ(failed.Status, 0);
  EXPECT_EQ(Field(failed.StatusText, sizeof failed.StatusText),
            "Demonstration interface not started - files not found.");
  EXPECT_EQ(Contracts(), -1);
  EXPECT_EQ(API()->Accounts.Count(), 0);
  EXPECT_FALSE(CurrentAutoDemo()->TimerRunning());
  EXPECT_FALSE(CurrentAutoDemo()->Started());
}

TEST_F(AutoDemoSessionTest, AStartWithoutOrderTypesFailsAndThePriceLinkStaysDown) {
  WriteFileText(folder_.File(kOrderTypeFile), "");
  ASSERT_EQ(LogOn(), 0);
  ASSERT_TRUE(recorder.WaitFor(VN_CB_LOGON_STATUS, 1));
  EXPECT_EQ(Status().Status, 0);
  EXPECT_EQ(recorder.Count(VN_CB_DATA_DL_COMPLETE), 0u);
  ASSERT_NE(PriceLink(), nullptr);
  EXPECT_FALSE(PriceLink()->Enabled());
  EXPECT_FALSE(PriceLink()->Connected());
}

TEST_F(AutoDemoSessionTest, AStrictColumnThatIsNotANumberFailsTheLogOn) {
  WriteFileText(folder_.File(kTraderFile), "TRADER1,BO-1,Y,0\n");
  WriteFileText(folder_.File(kCommodityFile), "LIFFE,IDX100,GBP,10,ten,0.5,1.0,x\n");
  EXPECT_EQ(LogOn(), VN_RC_UNEXPECTED_ERROR);
}

}  // namespace
}  // namespace vorn::sim
