#include "core/wire/VornMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/util/Exceptions.h"

namespace vorn {
namespace {

std::string Pending(const TBuffer& buffer) {
  std::int32_t count = 0;
  const char* data = buffer.Peek(count);
  return data ? std::string(data, static_cast<std::size_t>(count)) : std::string();
}

TEST(BufferTest, FixedBufferTakesWhatFitsAndResetsWhenDrained) {
  TBuffer buffer;
  const std::string big(2000, 'x');
  EXPECT_EQ(buffer.Write(big.data(), 2000), 1514);
  EXPECT_EQ(buffer.Write("y", 1), 0);
  EXPECT_EQ(buffer.Remove(14), 14);
  EXPECT_EQ(Pending(buffer).size(), 1500u);
  EXPECT_EQ(buffer.Write("y", 1), 0);  // consumed room is not reused until drained
  EXPECT_EQ(buffer.Remove(5000), 1500);
  EXPECT_EQ(buffer.WriteCount(), 0);
  EXPECT_EQ(buffer.ReadCount(), 0);
  std::int32_t count = -1;
  EXPECT_EQ(buffer.Peek(count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer.Write("ab", 2), 2);
  EXPECT_EQ(Pending(buffer), "ab");
  EXPECT_EQ(buffer.Write("z", -1), 0);
  EXPECT_EQ(buffer.Remove(-1), 0);
}

TEST(BufferTest, DynamicBufferAlwaysAppendsEverything) {
  TDynamicBuffer buffer;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string chunk(static_cast<std::size_t>(i), static_cast<char>('a' + i % 26));
    EXPECT_EQ(buffer.Write(chunk.data(), static_cast<std::int32_t>(chunk.size())),
              static_cast<std::int32_t>(chunk.size()));
    expected += chunk;
  }
  EXPECT_EQ(buffer.DataLength(), static_cast<std::int32_t>(expected.size()));
  EXPECT_EQ(Pending(buffer), expected);
  buffer.Remove(10);
  EXPECT_EQ(buffer.DataLength(), static_cast<std::int32_t>(expected.size()) - 10);
}

TEST(VornMessageTest, PriceFeedCodesSelectThePriceLink) {
  for (const char* code :
       {"0201", "0202", "0203", "0204", "0206", "0207", "0210", "0211", " 204 "}) {
    EXPECT_TRUE(TVornMessage(code).IsPriceFeedMessage()) << code;
  }
  for (const char* code : {"0066", "0205", "0208", "3301", "3362", "abc", "", "-201"}) {
    EXPECT_FALSE(TVornMessage(code).IsPriceFeedMessage()) << code;
  }
  EXPECT_EQ(TVornMessage("123456").Code(), "12345");
}

class RecordingHost : public IMessageHost {
 public:
  void SendOnLink(TVornMessage& message, bool priceFeed) override {
    sent.push_back(message.Code() + (priceFeed ? "/price" : "/host"));
  }
  bool DownloadInProgress() const override { return false; }
  std::vector<std::string> sent;
};

TEST(VornMessageTest, SendGoesToTheLinkItsCodeSelects) {
  TVornMessage subscribe("0202");
  TSendHostMessage login("3362");
  subscribe.Send();  // no API object: nothing happens
  RecordingHost host;
  SetMessageHost(&host);
  subscribe.Send();
  login.Send();
  SetMessageHost(nullptr);
  login.Send();
  EXPECT_EQ(host.sent, (std::vector<std::string>{"0202/price", "3362/host"}));
}

TEST(VornMessageTest, UnimplementedReceiversFailWithTheAssertion) {
  TReceiveHostMessage message("3601");
  TFieldsList fields;
  for (int which = 0; which < 2; ++which) {
    try {
      if (which == 0)
        message.Receive("0084");
      else
        message.ReceiveFields(fields);
      ADD_FAILURE() << "no exception";
    } catch (const EAssertionFailed& e) {
      EXPECT_STREQ(e.what(), "This virtual function should be redefined in derived classes");
    }
  }
}

TEST(VornMessageTest, LengthWordIsBigEndian) {
  TVornMessage message("0201");
  message.SetLength(0x1234);
  TDynamicBuffer buffer;
  message.FillBuffer(buffer);
  EXPECT_EQ(Pending(buffer), "\x12\x34");
  message.SetLength(0x8000);  // would read back as an empty frame
  EXPECT_THROW(message.FillBuffer(buffer), ERangeError);
  EXPECT_EQ(buffer.DataLength(), 2);
}

TEST(SendHostMessageTest, FrameIsLengthWordThenHeaderThenBody) {
  TSendHostMessage message("3301");
  message.HeaderFields.AddFieldValue("Msg", "3301", -1, -1, false);
  message.BodyFields.AddFieldValue("Usr", "bob", -1, -1, false);
  message.BodyFields.AddFieldValue("Leg", "L1", 1, 1, false);
  message.BodyFields.AddFieldValue("Leg", "L2", 2, 1, false);
  TDynamicBuffer buffer;
  message.FillBuffer(buffer);
  const std::string body =
      "Msg=3301\x01Usr=bob\x01<SG=1\x01Leg=L1\x01"
      "EG>=1\x01<SG=1\x01Leg=L2\x01"
      "EG>=1\x01";
  const std::string frame = std::string(1, '\0') + static_cast<char>(body.size()) + body;
  EXPECT_EQ(Pending(buffer), frame);
  EXPECT_EQ(message.Length(), body.size());
}

TEST(SendHostMessageTest, BodyAtTheLimitIsWrittenAndOnePastIsRefused) {
  const std::string prefix = "Msg=3603\x01Txt=";
  for (const std::size_t size : {kMaxBodyLength, kMaxBodyLength + 1, std::size_t{70000}}) {
    TSendHostMessage message("3603");
    message.HeaderFields.AddFieldValue("Msg", "3603", -1, -1, false);
    message.BodyFields.AddFieldValue("Txt", std::string(size - prefix.size() - 1, 'x'), -1, -1,
                                     false);
    TDynamicBuffer buffer;
    if (size <= kMaxBodyLength) {
      message.FillBuffer(buffer);
      EXPECT_EQ(buffer.DataLength(), static_cast<std::int32_t>(size + 2));
      EXPECT_EQ(Pending(buffer).substr(0, 2), "\x7F\xFF");
    } else {
      EXPECT_THROW(message.FillBuffer(buffer), ERangeError) << size;
      EXPECT_EQ(buffer.DataLength(), 0);
    }
  }
}

TEST(SendHostMessageTest, RunawayGroupIsRefusedBeforeItGrowsUnbounded) {
  TSendHostMessage message("3363");
  message.BodyFields.AddFieldValue("A", "a", 1, 1, false);
  message.BodyFields.AddFieldValue("A", "z", 1000000000, 1, false);
  TDynamicBuffer buffer;
  EXPECT_THROW(message.FillBuffer(buffer), ERangeError);
  EXPECT_EQ(buffer.DataLength(), 0);
}

}  // namespace
}  // namespace vorn
