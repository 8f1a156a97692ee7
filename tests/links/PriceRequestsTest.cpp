#include "links/PriceRequests.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/diag/Trace.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/util/DateTime.h"
#include "support/FakeClock.h"

namespace vorn {
namespace {

using namespace std::string_literals;

std::string Blanks(std::size_t count) {
  return std::string(count, ' ');
}

std::string FrameOf(TVornMessage& message) {
  TDynamicBuffer buffer;
  message.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  return std::string(data, static_cast<std::size_t>(count));
}

std::string Frame(const std::string& body) {
  return std::string{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)} +
         body;
}

class PriceRequestsTest : public ::testing::Test {
 protected:
  PriceRequestsTest() {
    commodity_->SetExchangeName("EXCHANGE-123");  // 12 characters
    commodity_->SetName("FTSE-100-INDEX");
    contract_->SetNames("EXCHANGE-123", "FTSE-100-INDEX", "MAR07");
    contract_->SetCommodity(commodity_);
    orphan_->SetNames("LIFFE", "Z", "JUN07");
  }

  // 12:34:05.7: the seconds, not the tenths, follow the point.
  TFakeClock clock_{EncodeDate(2007, 5, 9) + EncodeTime(12, 34, 5, 700)};
  TClockInstaller install_{clock_};
  std::shared_ptr<TCommodity> commodity_ = std::make_shared<TCommodity>();
  std::shared_ptr<TContractItem> contract_ = std::make_shared<TContractItem>();
  std::shared_ptr<TContractItem> orphan_ = std::make_shared<TContractItem>();  // no commodity
};

TEST_F(PriceRequestsTest, GoldenFrames) {
  const std::string version = "8.1:070509" + Blanks(15);
  struct TCase {
    const char* name;
    std::function<std::unique_ptr<TVornMessage>()> make;
    std::string body;
  };
  const TCase cases[] = {
      {"handshake", [] { return std::make_unique<TMHandshake>(30, 1234567890); },
       "0066"s + "30    " + "2007-05-09 12:34:05.5  " + Blanks(103) + "1234567890"},
      {"logon, ticker, test, DOM, token",
       [] {
         return std::make_unique<TMPriceSynchronise>(
             TPriceLogonSettings{true, true, 45, true, "trader1", "TOKEN-abc"});
       },
       "0201"s + "2   " + "10  " + "PRICE   " + "TEST  " + "45    " + "YYN2" + Blanks(6) +
           "trader1   " + version + "TOKEN-abc" + Blanks(41)},
      {"logon, throttled, live, no token",
       [] {
         return std::make_unique<TMPriceSynchronise>(
             TPriceLogonSettings{false, false, 10, false, "a-very-long-user", ""});
       },
       "0201"s + "2   " + "10  " + "VORNAPI " + "LIVE  " + "10    " + "NYN2" + Blanks(6) +
           "a-very-lon" + version + Blanks(50)},
      {"logon, token cut at the body's end",
       [] {
         return std::make_unique<TMPriceSynchronise>(
             TPriceLogonSettings{false, false, 10, false, "u", std::string(60, 'k')});
       },
       "0201"s + "2   " + "10  " + "VORNAPI " + "LIVE  " + "10    " + "NYN2" + Blanks(6) + "u" +
           Blanks(9) + version + std::string(50, 'k')},
      {"contract subscription",
       [&] { return TMPriceSubscription::CreateForContract(202, *contract_); },
       "0202"s + "EXCHANGE-1" + "FTSE-100-I" + "MAR07" + Blanks(45)},
      {"snapshot of a contract without a commodity",
       [&] { return TMPriceSubscription::CreateForContract(204, *orphan_); },
       "0204"s + "LIFFE     " + "Z         " + "JUN07" + Blanks(45)},
      {"market depth", [&] { return TMPriceSubscription::CreateForMarket(211, *commodity_); },
       "0211"s + "EXCHANGE-1" + "FTSE-100-I" + Blanks(50)},
      {"broadcast", [] { return std::make_unique<TMBroadcastSubscription>(206, "EXCHANGE-123"); },
       "0206"s + "EXCHANGE-1"},
      {"broadcast, short name",
       [] { return std::make_unique<TMBroadcastSubscription>(207, "CME"); },
       "0207"s + "CME       "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<TVornMessage> message = c.make();
    EXPECT_EQ(FrameOf(*message), Frame(c.body));
    EXPECT_EQ(message->Length(), c.body.size());
  }
}

class RecordingHost : public IMessageHost {
 public:
  void SendOnLink(TVornMessage& message, bool priceFeed) override {
    sent.push_back(message.Code() + (priceFeed ? "/price" : "/host"));
  }
  bool DownloadInProgress() const override { return false; }
  std::vector<std::string> sent;
};

TEST_F(PriceRequestsTest, EveryRequestIsSentOnThePriceLink) {
  RecordingHost host;
  SetMessageHost(&host);
  TMHandshake(10, 0).Send();
  TMPriceSynchronise(TPriceLogonSettings{}).Send();
  TMPriceSubscription::CreateForMarket(210, *commodity_)->Send();
  TMBroadcastSubscription(207, "CME").Send();
  SetMessageHost(nullptr);
  EXPECT_EQ(host.sent,
            (std::vector<std::string>{"0066/price", "0201/price", "0210/price", "0207/price"}));
}

TEST_F(PriceRequestsTest, LogonTracesItsPriceModeInsideFillBuffer) {
  ResetTraceState();
  InitTraceRing(10);
  TDynamicBuffer buffer;
  TMPriceSynchronise(TPriceLogonSettings{true, false, 10, false, "u", ""}).FillBuffer(buffer);
  TMPriceSynchronise(TPriceLogonSettings{}).FillBuffer(buffer);
  const std::string ring = FormatTraceback();
  ResetTraceState();
  std::vector<std::string> lines;  // from the routine name on
  for (std::size_t at = ring.find("TMPriceSynchronise"); at != std::string::npos;
       at = ring.find("TMPriceSynchronise", at + 1))
    lines.push_back(ring.substr(at, ring.find("\r\n", at) - at));
  const std::string routine = "TMPriceSynchronise.FillBuffer ";
  EXPECT_EQ(lines,
            (std::vector<std::string>{routine, routine + "Real Time Prices enabled", routine,
                                      routine, routine + "Throttled Prices Enabled", routine}))
      << ring;
}

}  // namespace
}  // namespace vorn
