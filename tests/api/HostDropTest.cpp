// The host drops the link at points that matter, through the exports against the fake host: between
// frames, inside a frame (even inside its length word), by a reset in the middle of a send, before
// the order's first state and in the middle of the download after a re-logon. Each time the client
// logs on again by itself and the host downloads the order's states and fills again, as a host
// resends an order's history: the order entered before the drop is there once, each of its states
// and fills is applied once (its history holds each state once), and the position holds each lot
// once.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/OrderRoad.h"
#include "vornintf.h"

namespace vorn {
namespace {

constexpr const char* kLogon = R"(include prelude-logon-market.conv
include prelude-order-ids.conv
ignore host 3341
ignore host 3364
timeout 20000
expect host 3301 OID=101
)";

constexpr const char* kSent =
    "send host Msg=3601|OID=101|Sts=2|Seq=1|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|"
    "BS=1|Pr=6500|TLt=3|Fil=0|Usr=trader1|GUID=G-O-101\n";
constexpr const char* kWorking =
    "send host Msg=3601|OID=101|Sts=3|Seq=2|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|"
    "BS=1|Pr=6500|TLt=3|Fil=0|Usr=trader1|EID=X-1\n";
constexpr const char* kFill1 =
    "send host Msg=3602|FID=F1|OID=101|Ex=LIFFE|C=FTSE|CD=MAR27|BS=1|Fil=1|Pr=6500|FTy=1|"
    "TA=TRADER1|Usr=trader1|DF=20261209093000|HRx=20261209093001|EID=X-1|GUID=G-F-1\n";
constexpr const char* kPart =
    "send host Msg=3601|OID=101|Sts=7|Seq=3|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|"
    "BS=1|Pr=6500|TLt=3|Fil=1|AvP=6500|Usr=trader1|EID=X-1\n";
constexpr const char* kFill2 =
    "send host Msg=3602|FID=F2|OID=101|Ex=LIFFE|C=FTSE|CD=MAR27|BS=1|Fil=2|Pr=6502|FTy=1|"
    "TA=TRADER1|Usr=trader1|DF=20261209093500|HRx=20261209093501|EID=X-1|GUID=G-F-2\n";
constexpr const char* kFilled =
    "send host Msg=3601|OID=101|Sts=10|Seq=4|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|"
    "BS=1|Pr=6500|TLt=3|Fil=3|AvP=6501.3333|Usr=trader1|EID=X-1\n";

// "send host TEXT" cut to its first `bytes` bytes of the frame.
std::string Partial(const char* send, int bytes) {
  const std::string line = send;
  return "send host partial " + std::to_string(bytes) + line.substr(std::strlen("send host"));
}

constexpr const char* kRelogon = R"(accept host
expect host 3362 Usr=trader1
send host Msg=3625|Txt=Welcome|TA=TRADER1|Usr=trader1|Flg=000000
include prelude-market.conv
)";

// The whole download of a re-logon, the order's states and fills from the first, and its end.
std::string FinalDownload() {
  return std::string(kRelogon) + kSent + kWorking + kFill1 + kPart + kFill2 + kFilled +
         "send host Msg=3620\nexpect host 3363\n";
}

std::string PartFilledThenDropped(const std::string& drop) {
  return std::string(kSent) + kWorking + kFill1 + kPart + drop;
}

struct TDropCase {
  const char* Name;
  std::string Script;  // between the order's add request and the last re-logon
};

// The case's name in test names, not its bytes.
void PrintTo(const TDropCase& drop, std::ostream* out) { *out << drop.Name; }

std::vector<TDropCase> DropCases() {
  return {
      {"ClosedBetweenFrames", PartFilledThenDropped("disconnect host\n")},
      {"ClosedInsideAFrame", PartFilledThenDropped(Partial(kFill2, 40) + "disconnect host\n")},
      {"ClosedInsideTheLengthWord",
       PartFilledThenDropped(Partial(kFilled, 1) + "disconnect host\n")},
      {"ResetDuringASend", PartFilledThenDropped(Partial(kFilled, 60) + "reset host\n")},
      {"ResetBetweenFrames", PartFilledThenDropped("reset host\n")},
      {"ClosedBeforeTheOrdersFirstState", "disconnect host\n"},
      {"ClosedMidDownload", PartFilledThenDropped("disconnect host\n") + kRelogon + kSent +
                                kWorking + kFill1 + Partial(kPart, 50) + "disconnect host\n"},
      {"ResetMidDownload", PartFilledThenDropped("reset host\n") + kRelogon + kSent + kWorking +
                               Partial(kFill1, 30) + "reset host\n"},
  };
}

class HostDropTest : public OrderRoadSessionTest,
                     public ::testing::WithParamInterface<TDropCase> {};

TEST_P(HostDropTest, TheOrderEnteredBeforeTheDropIsWholeAndNotDoubledAfterTheRelogon) {
  PlayText(kLogon + GetParam().Script + FinalDownload());
  LogOnAndDownload();
  ASSERT_TRUE(HostIDsArrived());
  NewOrderStruct order = Order('B', "6500", 3);
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  EXPECT_STREQ(id, "101");
  ASSERT_TRUE(OrderEventArrived({"101", "101", VN_OS_FILLED}));

  // The download after a re-logon tells the application of the order's versions again; it still
  // ends on the newest state.
  const std::vector<TOrderEvent> events = OrderEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), (TOrderEvent{"101", "101", VN_OS_QUEUED}));
  EXPECT_EQ(events.back(), (TOrderEvent{"101", "101", VN_OS_FILLED}));

  std::int32_t count = 0;
  ASSERT_EQ(vnCountOrders(&count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(HistoryStates("101"),
            (std::vector<int>{VN_OSC_FILLED, VN_OSC_PART, VN_OSC_WORKING, VN_OSC_SENT}));

  ASSERT_EQ(vnCountFills(&count), 0);
  EXPECT_EQ(count, 2);
  std::int32_t lots = 0;
  FillStruct fill;
  for (std::int32_t i = 0; i < count; ++i) {
    ASSERT_EQ(vnGetFill(i, &fill), 0);
    lots += fill.Lots;
  }
  EXPECT_EQ(lots, 3);
  PositionStruct position;
  ASSERT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &position), 0);
  // The record is packed: its fields are read by value.
  const std::int32_t bought = position.Buy, sold = position.Sell;
  EXPECT_EQ(bought, 3);
  EXPECT_EQ(sold, 0);

  ASSERT_EQ(vnLogOff(), 0);
  ExpectPlayed();
}

INSTANTIATE_TEST_SUITE_P(DropPoints, HostDropTest, ::testing::ValuesIn(DropCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vorn
