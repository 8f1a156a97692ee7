// Wholesale pairs through the exports against the fake host: the pair's one request on the host
// link, the host's replies for each order, and the order events.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "support/OrderRoad.h"
#include "vornintf.h"

namespace vorn {
namespace {

class WholesaleRoadTest : public OrderRoadSessionTest {
 protected:
  // Logs on, waits for the host's ids and enters the pair; the IDs are the first two host ids.
  template <class Enter>
  void EnterPair(const char* script, Enter enter) {
    Play(script);
    LogOnAndDownload();
    ASSERT_TRUE(HostIDsArrived());
    OrderIDPair ids;
    std::memset(&ids, 'x', sizeof ids);
    ASSERT_EQ(enter(&ids), 0);
    EXPECT_STREQ(ids.PrimaryOrderID, "101");
    EXPECT_STREQ(ids.SecondaryOrderID, "102");
  }

  // Both orders announced queued at entry, then the host's state for each, then the log-off.
  void ExpectBothReach(int status) {
    ASSERT_TRUE(OrderEventArrived({"102", "102", status}));
    EXPECT_EQ(OrderEvents(), (std::vector<TOrderEvent>{{"101", "101", VN_OS_QUEUED},
                                                       {"102", "102", VN_OS_QUEUED},
                                                       {"101", "101", status},
                                                       {"102", "102", status}}));
    ASSERT_EQ(vnLogOff(), 0);
    ExpectPlayed();
  }
};

TEST_F(WholesaleRoadTest, CrossAccepted) {
  const NewOrderStruct primary = Order('B', "6500", 3), secondary = Order('S', "6500", 3);
  EnterPair("wholesale-cross.conv", [&](OrderIDPair* ids) {
    return vnAddCrossingOrder(&primary, &secondary, nullptr, ids, 'N');
  });
  ExpectBothReach(VN_OS_WORKING);
}

TEST_F(WholesaleRoadTest, BlockWithLegPrices) {
  NewOrderStruct primary = Order('B', "5", 3), secondary = Order('S', "5", 3);
  PutTextAndNul(primary.ContractDate, "MAR27-JUN27");
  PutTextAndNul(secondary.ContractDate, "MAR27-JUN27");
  LegPriceStruct legs{};
  PutTextAndNul(legs.LegPrice[0], "6500");
  PutTextAndNul(legs.LegPrice[1], "6495");
  EnterPair("wholesale-block.conv", [&](OrderIDPair* ids) {
    return vnAddBlockOrder(&primary, &secondary, &legs, ids);
  });
  ExpectBothReach(VN_OS_WORKING);
}

TEST_F(WholesaleRoadTest, BasisPair) {
  const NewOrderStruct primary = Order('B', "6500", 2), secondary = Order('S', "6500", 2);
  BasisStruct basis{};
  PutTextAndNul(basis.ISINCode, "GB0001");
  PutTextAndNul(basis.CashPrice, "99.5");
  basis.Methodology = 'M';
  PutTextAndNul(basis.BasisRef, "REF7");
  EnterPair("wholesale-basis.conv", [&](OrderIDPair* ids) {
    return vnAddBasisOrder(&primary, &secondary, &basis, ids);
  });
  ExpectBothReach(VN_OS_WORKING);
}

TEST_F(WholesaleRoadTest, AgainstActualPair) {
  const NewOrderStruct primary = Order('S', "6500", 1), secondary = Order('B', "6500", 1);
  EnterPair("wholesale-aa.conv", [&](OrderIDPair* ids) {
    return vnAddAAOrder(&primary, &secondary, "ALICE", "BOB", ids);
  });
  ExpectBothReach(VN_OS_WORKING);
}

TEST_F(WholesaleRoadTest, RefusedPair) {
  const NewOrderStruct primary = Order('B', "6500", 3), secondary = Order('S', "6500", 3);
  EnterPair("wholesale-refused.conv", [&](OrderIDPair* ids) {
    return vnAddCrossingOrder(&primary, &secondary, nullptr, ids, 'K');
  });
  ASSERT_TRUE(OrderEventArrived({"102", "102", VN_OS_REJECTED}));
  for (const char* id : {"101", "102"}) {
    OrderDetailStruct detail;
    ASSERT_EQ(vnGetOrderByID(id, &detail, 0), 0);
    EXPECT_EQ(detail.Status, VN_OSC_REJECTED) << id;
    EXPECT_STREQ(detail.NonExecReason, "Cross not permitted") << id;
  }
  ExpectBothReach(VN_OS_REJECTED);
}

}  // namespace
}  // namespace vorn
