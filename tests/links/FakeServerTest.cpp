#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include "support/RawClient.h"

namespace vorn {
namespace {

constexpr int kWaitMs = 5000;

TEST(FakeServerTest, FramesSplitAtEveryByteOrCoalescedArriveWhole) {
  // Three frames: a host body, an empty frame (dropped), and one whose length word has its
  // top bit set (ignored).
  const std::string first = HostBody("Msg=3361|Snt=20070509123456");
  const std::string third(300, 'x');
  std::string stream = Frame(first) + std::string("\0\0", 2) + Frame(third);
  stream[stream.size() - third.size() - 2] |= static_cast<char>(0x80);

  for (const bool split : {true, false}) {
    SCOPED_TRACE(split ? "byte by byte" : "one write");
    TFakeServer server(TFakeServerKind::Host);
    TRawClient client(server.Port());
    ASSERT_TRUE(server.WaitConnected(kWaitMs));
    if (split) {
      for (const char byte : stream)
        ASSERT_TRUE(client.SendRaw(std::string_view(&byte, 1)));
    } else {
      ASSERT_TRUE(client.SendRaw(stream));
    }
    EXPECT_EQ(server.NextMessage(kWaitMs), first);
    EXPECT_EQ(server.NextMessage(kWaitMs), third);
    client.Close();
    EXPECT_TRUE(server.WaitClosed(kWaitMs));
    EXPECT_FALSE(server.TryNextEvent().has_value());  // nothing from the empty frame
  }
}

TEST(FakeServerTest, AcceptsTheNextConnectionAfterEitherSideCloses) {
  TFakeServer server(TFakeServerKind::PriceFeed);
  EXPECT_FALSE(server.Send("0067"));  // no connection yet

  TRawClient first(server.Port());
  ASSERT_TRUE(server.WaitConnected(kWaitMs));
  ASSERT_TRUE(server.Send("0067 reply"));
  EXPECT_EQ(first.Receive(), "0067 reply");
  server.Disconnect();
  EXPECT_TRUE(first.WaitClosed(kWaitMs));
  EXPECT_TRUE(server.WaitClosed(kWaitMs));

  TRawClient second(server.Port());
  ASSERT_TRUE(server.WaitConnected(kWaitMs));
  EXPECT_EQ(server.Connections(), 2);
  ASSERT_TRUE(second.Send("0066"));
  EXPECT_EQ(server.NextMessage(kWaitMs), "0066");
  second.Close();
  EXPECT_TRUE(server.WaitClosed(kWaitMs));
  EXPECT_FALSE(server.IsConnected());
}

TEST(FakeServerTest, StopsWithAClientStillConnected) {
  auto server = std::make_unique<TFakeServer>(TFakeServerKind::Host);
  TRawClient client(server->Port());
  ASSERT_TRUE(server->WaitConnected(kWaitMs));
  server.reset();  // joins its thread
  EXPECT_TRUE(client.WaitClosed(kWaitMs));
}

TEST(FakeServerTest, MessageCodes) {
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, HostBody("Msg=3624|EnT=KWEZ")), "3624");
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, HostBody("EnT=KWEZ")), "");
  EXPECT_EQ(MessageCode(TFakeServerKind::PriceFeed, "0067   "), "0067");
  EXPECT_EQ(MessageCode(TFakeServerKind::PriceFeed, "06"), "06");
}

}  // namespace
}  // namespace vorn
