// vnCreateStrategy through the export: its checks, the environment that creates strategies
// locally, and the frames it hands the host link with the MegaHub switch on and off.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/session/Link.h"
#include "core/wire/FieldsList.h"
#include "core/wire/VornMessage.h"
#include "platform/Thread.h"
#include "support/HostText.h"
#include "support/LocalStrategies.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace vorn {
namespace {

// A link that keeps the body of every frame it is given.
struct TFrameLink final : ILink {
  void SetAddress(const TAddressItem&) override {}
  void ProcessTimer() override {}
  void Start(bool) override {}
  void Send(TVornMessage& message) override {
    TDynamicBuffer buffer;
    message.FillBuffer(buffer);
    std::int32_t count = 0;
    const char* data = buffer.Peek(count);
    std::lock_guard guard(lock);
    bodies.emplace_back(data + 2, static_cast<std::size_t>(count - 2));
  }
  bool Connected() const override { return true; }
  void HandshakeReplyReceived() override {}
  void StopSocketThread() override {}
  void Shutdown() override {}

  std::vector<std::string> Bodies() {
    std::lock_guard guard(lock);
    return bodies;
  }

  std::mutex lock;
  std::vector<std::string> bodies;
};

StrategyLegStruct Leg(const char* date, std::int32_t ratio, const char* commodity = "") {
  StrategyLegStruct leg{};
  std::memcpy(leg.ContractDate, date, std::strlen(date));
  leg.Ratio = ratio;
  std::memcpy(leg.Commodity, commodity, std::strlen(commodity));
  return leg;
}

// A logged-on API object over the small trading market with the FTSE outrights MAR27 and
// JUN27 (leg fields X1-X3), its host link keeping what it is sent.
class StrategyExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vnLogOff();
    ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
    api_ = API();
    TClassAPI& api = *api_;
    SetLinkFactory([this](TClassAPI&, const TLinkSpec& spec) -> std::shared_ptr<ILink> {
      auto link = std::make_shared<TFrameLink>();
      if (spec.Kind == psHost) host_ = link;
      return link;
    });
    api.Links.HostAddresses.AddAddress("127.0.0.1", "1");
    ASSERT_TRUE(api.CreateLinks());
    api.Heartbeat.SetEnabled(false);
    ASSERT_TRUE(host_);
    AddTradingMarket(api);
    ASSERT_GE(api.Contracts.AddFromFields("LIFFE", "FTSE", "JUN27",
                                          Fields("X1=F|X2=LIFFE|X3=JUN27|XD=20270618")),
              0);
    // MAR27 of the market, with the leg fields the look-up compares.
    ASSERT_TRUE(api.Contracts.UpdateFields(api.Contracts.FindContract("LIFFE", "FTSE", "MAR27"),
                                           Fields("X1=F|X2=LIFFE|X3=MAR27|XD=20270319")));
    api.UserName.Set("USER1");
    api.Logon.LoggedOn = true;
    ResetLocalStrategies();
    legs_.fill(Leg("JUN27", 1));
    legs_[0] = Leg("MAR27", 1);
  }

  void TearDown() override {
    SetLinkFactory(nullptr);
    host_.reset();
    api_.reset();
    vnLogOff();
    JoinStoppedThreads();
    ResetLocalStrategies();
  }

  std::int32_t Create(std::int32_t legs) {
    return vnCreateStrategy('S', legs, "LIFFE", "FTSE", legs_.data());
  }

  TTempDir dir_;
  std::shared_ptr<TClassAPI> api_;
  std::shared_ptr<TFrameLink> host_;
  std::array<StrategyLegStruct, 16> legs_{};
};

TEST_F(StrategyExportsTest, TaggedRequestCarriesTheClampedLegs) {
  ASSERT_EQ(Create(20), VN_RC_SUCCESS);
  const auto bodies = host_->Bodies();
  ASSERT_EQ(bodies.size(), 1u);
  TFieldsList fields;
  fields.SetFields(bodies[0]);
  EXPECT_EQ(fields.Value("Msg"), "3365");
  EXPECT_EQ(fields.Value("Usr"), "USER1");
  EXPECT_EQ(fields.Value("XD"), "20270319");  // the underlying: leg 1's contract
  std::string name = "MAR27";
  for (int i = 1; i < 16; ++i)
    name += "JUN27";
  EXPECT_EQ(fields.Value("CD"), name);
  EXPECT_EQ(fields.GetFieldCount("X5"), 16);
  EXPECT_EQ(fields.GetFieldValue("X1", 0), "SF");
  EXPECT_EQ(fields.GetFieldValue("X3", 15), "JUN27");
}

// With the switch off, one fixed-width request per leg, the last leg first.
TEST_F(StrategyExportsTest, FixedWidthRequestsGoLastLegFirst) {
  api_->Links.MegaHub = false;
  ASSERT_EQ(Create(3), VN_RC_SUCCESS);
  const auto bodies = host_->Bodies();
  ASSERT_EQ(bodies.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bodies[i].substr(0, 4), "0094");
    EXPECT_EQ(bodies[i].substr(74, 4), "   " + std::to_string(3 - i));
  }
  EXPECT_EQ(bodies[2].substr(104, 10), "SF        ");

  host_->bodies.clear();
  ASSERT_EQ(Create(20), VN_RC_SUCCESS);
  EXPECT_EQ(host_->Bodies().size(), 16u);
}

// 38 for an underlying that is not held unless leg 1 names a commodity of its own; a leg whose
// contract is not held fails the call with nothing sent, in either form; in the environment
// 'D' the strategy is made locally and nothing is sent.
TEST_F(StrategyExportsTest, FailuresAndLocalCreationSendNothing) {
  legs_[0] = Leg("SEP27", 1);
  EXPECT_EQ(Create(2), VN_RC_NO_UNDERLYING_CONTRACT);
  legs_[0] = Leg("SEP27", 1, "GILT");  // no underlying for the tagged request's dates
  EXPECT_EQ(Create(2), VN_RC_UNEXPECTED_ERROR);
  legs_[0] = Leg("MAR27", 1);
  legs_[2] = Leg("SEP27", 1);  // not held: the first two legs are not sent either
  for (const bool megaHub : {true, false}) {
    api_->Links.MegaHub = megaHub;
    EXPECT_EQ(Create(3), VN_RC_UNEXPECTED_ERROR) << megaHub;
  }
  EXPECT_EQ(vnCreateStrategy('S', 1, "LIFFE", "FTSE", nullptr), VN_RC_UNEXPECTED_ERROR);
  EXPECT_TRUE(host_->Bodies().empty());

  api_->Environment = 'D';
  ResetLocalStrategies(7);
  EXPECT_EQ(vnCreateStrategy('S', 20, " LIFFE ", "FTSE ", legs_.data()), 7);
  const auto calls = LocalStrategyCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].StrategyType, 'S');
  EXPECT_EQ(calls[0].LegCount, 16);
  EXPECT_EQ(calls[0].Exchange, "LIFFE");
  EXPECT_EQ(calls[0].Commodity, "FTSE");
  EXPECT_EQ(calls[0].FirstLegDate, "MAR27");
  EXPECT_TRUE(host_->Bodies().empty());

  api_.reset();
  vnLogOff();
  EXPECT_EQ(Create(1), VN_RC_NOT_INITIALISED);
}

}  // namespace
}  // namespace vorn
