#include "links/StrategyRequests.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Exceptions.h"
#include "support/HostText.h"
#include "support/TradingMarket.h"

namespace vorn {
namespace {

// A leg record as an application fills it: texts NUL-ended unless they fill their field.
StrategyLegStruct Leg(const char* date, std::int32_t ratio, const char* text = "",
                      const char* commodity = "") {
  StrategyLegStruct leg{};
  std::memcpy(leg.ContractDate, date, std::min(std::strlen(date), sizeof leg.ContractDate));
  std::memcpy(leg.LegText, text, std::min(std::strlen(text), sizeof leg.LegText));
  leg.Ratio = ratio;
  std::memcpy(leg.Commodity, commodity, std::min(std::strlen(commodity), sizeof leg.Commodity));
  return leg;
}

std::string FrameOf(TVornMessage& request) {
  TDynamicBuffer buffer;
  request.FillBuffer(buffer);
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  return std::string(data, static_cast<std::size_t>(count));
}

// The frame's body after checking its length word.
std::string BodyOf(TVornMessage& request) {
  const std::string frame = FrameOf(request);
  EXPECT_GE(frame.size(), 2u);
  if (frame.size() < 2) return {};
  EXPECT_EQ((static_cast<unsigned char>(frame[0]) << 8) | static_cast<unsigned char>(frame[1]),
            static_cast<int>(frame.size()) - 2);
  return frame.substr(2);
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// The "FillBuffer" lines of the trace ring from the routine name on.
int RingLines(const std::string& routine) {
  const std::string ring = FormatTraceback();
  int lines = 0;
  for (std::size_t at = ring.find(routine); at != std::string::npos;
       at = ring.find(routine, at + 1))
    ++lines;
  return lines;
}

// LIFFE FTSE outrights MAR27 and JUN27, LIFFE GILT outright SEP27 (X3 "SEP27G") and DEC27 (an
// X1 of ten characters), each with its expiry ("XD") and last trade ("LT") dates.
class StrategyRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisableDebugFlags(0xFF);
    api_ = std::make_shared<TClassAPI>();
    TClassAPI& api = *api_;
    api.Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    AddTradingCommodity(api, "FTSE", 10, 4);
    AddTradingCommodity(api, "GILT", 1000, 32);
    Add("FTSE", "MAR27", "X1=F|X2=LIFFE|X3=MAR27|XD=20270319|LT=20270318");
    Add("FTSE", "JUN27", "X1=F|X2=LIFFE|X3=JUN27|XD=20270618|LT=20270617");
    Add("GILT", "SEP27", "X1=F|X2=LIFFE|X3=SEP27G|XD=20270925|LT=20270924");
    Add("GILT", "DEC27", "X1=ABCDEFGHIJ|X2=LIFFE|X3=DEC27G");
    underlying_ = api.Contracts.FindContract("LIFFE", "FTSE", "MAR27");
    ASSERT_TRUE(underlying_);
  }
  void TearDown() override { ResetTraceState(); }

  void Add(const char* commodity, const char* date, const char* fields) {
    ASSERT_GE(api_->Contracts.AddFromFields("LIFFE", commodity, date, Fields(fields)), 0);
  }

  std::shared_ptr<TClassAPI> api_;
  std::shared_ptr<TContractItem> underlying_;
};

// The header carries "Usr" whatever the number of legs; each leg is an occurrence of group 1,
// its contract named by its date, by a date and commodity around "\", or by its own commodity.
TEST_F(StrategyRequestsTest, TaggedRequestCarriesTheHeaderAndOneOccurrencePerLeg) {
  const std::array<StrategyLegStruct, 16> legs = {
      Leg("MAR27", 1, "A"), Leg("SEP27 \\ GILT", -2, "BBBBBBBBBBBZ"), Leg("SEP27", 3, "", "GILT")};
  ResetTraceState();
  InitTraceRing(10);
  TMMHUBContractDateCreate request;
  request.BuildFields(api_->Contracts, 'S', 3, underlying_, legs.data(), "LIFFE", "FTSE",
                      "MAR27SEP27 \\ GILTSEP27", "USER1");
  EXPECT_EQ(BodyOf(request),
            Wire("Msg=3365|Ex=LIFFE|C=FTSE|CD=MAR27SEP27 \\ GILTSEP27|XD=20270319|LT=20270318|"
                 "Mar=0|Usr=USER1|"
                 "<SG=1|X1=SF|X2=LIFFE|X3=MAR27|X4=A|X5=1 1|EG>=1|"
                 "<SG=1|X1=F|X2=LIFFE|X3=SEP27G|X4=BBBBBBBBBBB|X5=2 2|EG>=1|"
                 "<SG=1|X1=F|X2=LIFFE|X3=SEP27G|X5=3 1|EG>=1|"));
  EXPECT_EQ(RingLines("TMMHUBContractDateCreate.FillBuffer"), 2);  // entry and exit
}

TEST_F(StrategyRequestsTest, RatioGivesTheLotsAndTheSide) {
  struct TCase {
    std::int32_t Ratio;
    const char* X5;
  };
  for (const TCase& c :
       {TCase{3, "3 1"}, TCase{-2, "2 2"}, TCase{0, "0 2"}, TCase{INT_MIN, "2147483648 2"}}) {
    const StrategyLegStruct leg = Leg("JUN27", c.Ratio);
    TMMHUBContractDateCreate request;
    request.BuildFields(api_->Contracts, 'S', 1, underlying_, &leg, "LIFFE", "FTSE", "JUN27",
                        "USER1");
    EXPECT_EQ(request.BodyFields.GetFieldValue("X5", 0), c.X5) << c.Ratio;
  }
}

// The caller's count is clamped to the 16 records it passes: more reads none past them.
TEST_F(StrategyRequestsTest, LegCountIsClampedToTheRecords) {
  std::array<StrategyLegStruct, 16> legs{};
  legs.fill(Leg("MAR27", 1));
  for (const auto& [count, expected] : {std::pair{20, 16}, std::pair{16, 16}, std::pair{-3, 0}}) {
    TMMHUBContractDateCreate request;
    request.BuildFields(api_->Contracts, 'S', count, underlying_, legs.data(), "LIFFE", "FTSE", "X",
                        "USER1");
    EXPECT_EQ(request.BodyFields.GetFieldCount("X5"), expected) << count;
    EXPECT_EQ(request.HeaderFields.GetFieldValue("Usr", 0), "USER1");
  }
  EXPECT_EQ(ClampStrategyLegs(INT_MAX), 16);
  EXPECT_EQ(ClampStrategyLegs(INT_MIN), 0);
}

TEST_F(StrategyRequestsTest, MissingContractsFailTheBuildWithNothingAdded) {
  const std::array<StrategyLegStruct, 2> legs = {Leg("MAR27", 1), Leg("SEP27", -1)};  // not FTSE
  TMMHUBContractDateCreate request;
  EXPECT_THROW(request.BuildFields(api_->Contracts, 'S', 2, underlying_, legs.data(), "LIFFE",
                                   "FTSE", "MAR27SEP27", "USER1"),
               Exception);
  EXPECT_EQ(request.HeaderFields.Count() + request.BodyFields.Count(), 0);
  TMMHUBContractDateCreate noUnderlying;
  EXPECT_THROW(noUnderlying.BuildFields(api_->Contracts, 'S', 1, nullptr, legs.data(), "LIFFE",
                                        "FTSE", "MAR27", "USER1"),
               Exception);
  TMContractDateCreate fixed;
  EXPECT_THROW(fixed.BuildFields(api_->Contracts, 'S', "LIFFE", "FTSE", "MAR27SEP27", legs[1], 1),
               Exception);
}

// "\" splits a date text into the date (less the blank before it) and the commodity (past the
// blank after it); bounds outside the text give empty names.
TEST_F(StrategyRequestsTest, LegNameSplitsAtTheBackslash) {
  struct TCase {
    const char* Text;
    const char* Date;
    const char* Commodity;
  };
  for (const TCase& c :
       {TCase{"SEP27 \\ GILT", "SEP27", "GILT"}, TCase{"MAR27", "MAR27", "OWN"},
        TCase{"\\ GILT", "", "GILT"}, TCase{"\\", "", ""}, TCase{"SEP27 \\", "SEP27", ""},
        TCase{"SEP27 \\ ", "SEP27", ""}, TCase{"AB\\CD", "A", "D"}}) {
    const TStrategyLegName name = StrategyLegName(Leg(c.Text, 1), "OWN");
    EXPECT_EQ(name.ContractDate, c.Date) << c.Text;
    EXPECT_EQ(name.Commodity, c.Commodity) << c.Text;
  }
  // A date text filling its whole field is read to its width only.
  StrategyLegStruct full = Leg("", 1);
  std::memset(full.ContractDate, 'D', sizeof full.ContractDate);
  full.LegText[0] = '\\';
  EXPECT_EQ(StrategyLegName(full, "OWN").ContractDate, std::string(51, 'D'));
}

TEST_F(StrategyRequestsTest, FixedWidthRequestLaysOutOneLeg) {
  ResetTraceState();
  InitTraceRing(10);
  TMContractDateCreate first;
  first.BuildFields(api_->Contracts, 'S', "LIFFE", "FTSE", "MAR27SEP27 \\ GILT",
                    Leg("MAR27", -2, "TXT"), 0);
  const std::string body = "0094" + Padded("LIFFE", 10) + Padded("FTSE", 10) +
                           Padded("MAR27SEP27 \\ GILT", 50) + "   1" + "20270319" + "20270318" +
                           "         0" + Padded("SF", 10) + Padded("LIFFE", 10) +
                           Padded("MAR27", 10) + Padded("TXT", 10) + Padded("-2", 10);
  ASSERT_EQ(body.size(), TMContractDateCreate::kBodyLength);
  EXPECT_EQ(FrameOf(first), std::string("\x00\x9a", 2) + body);
  EXPECT_EQ(RingLines("TMContractDateCreate.FillBuffer"), 2);

  // The fixed-width form looks legs up on the strategy's commodity; the type in front of the
  // first leg's X1 cuts it to ten characters. A later leg has no type in front.
  TMContractDateCreate cut;
  cut.BuildFields(api_->Contracts, 'S', "LIFFE", "GILT", "DEC27", Leg("DEC27", 1), 0);
  EXPECT_EQ(cut.Body().substr(104, 10), "SABCDEFGHI");
  TMContractDateCreate second;
  second.BuildFields(api_->Contracts, 'S', "LIFFE", "GILT", "DEC27", Leg("DEC27", 1), 11);
  EXPECT_EQ(second.Body().substr(74, 4), "  12");
  EXPECT_EQ(second.Body().substr(104, 10), "ABCDEFGHIJ");
}

}  // namespace
}  // namespace vorn
