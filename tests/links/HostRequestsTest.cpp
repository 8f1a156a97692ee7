#include "links/HostRequests.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/session/Heartbeat.h"
#include "core/util/DateTime.h"
#include "support/FakeClock.h"
#include "support/HostText.h"

namespace vorn {
namespace {

std::string FrameOf(TVornMessage& message) {
  TDynamicBuffer buffer;
  message.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  return std::string(data, static_cast<std::size_t>(count));
}

// The frame of a body written with '|' for 0x01.
std::string Frame(std::string_view text) {
  const std::string body = Wire(text);
  return std::string{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)} +
         body;
}

class HostRequestsTest : public ::testing::Test {
 protected:
  TFakeClock clock_{EncodeDate(2007, 5, 9) + EncodeTime(12, 34, 5, 700)};
  TClockInstaller install_{clock_};
};

TEST_F(HostRequestsTest, GoldenFrames) {
  const TBandwidthReport report{900, 40, 100, 2, 300};
  struct TCase {
    std::function<std::unique_ptr<TSendHostMessage>()> make;
    const char* body;
  };
  const TCase cases[] = {
      {[] { return std::make_unique<TMReportRequest>(); }, "Msg=3342|"},
      {[] { return std::make_unique<TMOrderIDsRequest>(); }, "Msg=3341|"},
      {[] { return std::make_unique<TMMHUBLogOff>(); }, "Msg=3363|"},
      {[] { return std::make_unique<TMMHUBUserMessageAckn>(17, "trader1"); },
       "Msg=3306|Seq=17|Usr=trader1|"},
      {[] { return std::make_unique<TMHostHandshake>(); }, "Msg=3361|Snt=20070509123405|"},
      {[&] { return std::make_unique<TMMHUBBandWidthMonitor>("trader1", report); },
       "Msg=3364|Usr=trader1|TS=20070509123405|PkT=900|PkM=40|AvT=100|AvM=2|"},
  };
  for (const TCase& c : cases) {
    const std::unique_ptr<TSendHostMessage> message = c.make();
    EXPECT_EQ(FrameOf(*message), Frame(c.body));
    EXPECT_FALSE(message->IsPriceFeedMessage()) << c.body;
  }
}

// The figures come from the heartbeat's monitor: sent bytes are "T", received bytes "M".
TEST_F(HostRequestsTest, BandwidthReportCarriesTheMonitorsFigures) {
  struct TCase {
    std::int64_t sent;
    std::int64_t received;
    std::int64_t seconds;
    const char* figures;
  };
  const TCase cases[] = {
      {30000, 750, 300, "PkT=30000|PkM=750|AvT=100|AvM=2|"},  // 2.5 goes to the even 2
      {0, 45, 10, "PkT=0|PkM=45|AvT=0|AvM=4|"},               // 4.5 goes to the even 4
  };
  for (const TCase& c : cases) {
    clock_.SetMonotonicMs(0);
    TBandwidthMonitor monitor;
    monitor.AddSent(c.sent);
    monitor.AddReceived(c.received);
    monitor.CloseSecond();
    clock_.SetMonotonicMs(c.seconds * 1000);
    TMMHUBBandWidthMonitor message("bob", monitor.TakeReport());
    EXPECT_EQ(FrameOf(message),
              Frame(std::string("Msg=3364|Usr=bob|TS=20070509123405|") + c.figures));
  }
  // A period of no whole second sends no averages rather than dividing by it.
  TMMHUBBandWidthMonitor empty("bob", TBandwidthReport{5, 6, 7, 8, 0});
  EXPECT_EQ(FrameOf(empty), Frame("Msg=3364|Usr=bob|TS=20070509123405|PkT=5|PkM=6|AvT=0|AvM=0|"));
}

}  // namespace
}  // namespace vorn
