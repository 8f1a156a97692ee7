#include "support/FakeServer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <string>

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

// A reset comes after the bytes sent before it (here half a frame) and reaches the client as a
// reset, not an orderly end.
TEST(FakeServerTest, ResetReachesTheClientAsAResetAfterAFrameCutShort) {
  TFakeServer server(TFakeServerKind::Host);
  const auto client = ConnectLoopback(server.Port());
  ASSERT_TRUE(client);
  ASSERT_TRUE(server.WaitConnected(kWaitMs));
  const std::string half = Frame(HostBody("Msg=3601|OID=101")).substr(0, 9);
  ASSERT_TRUE(server.SendRaw(half));
  char buffer[64];
  std::string received;
  while (received.size() < half.size()) {
    const long count = client->ReadSome(buffer, sizeof buffer, std::chrono::milliseconds(kWaitMs));
    ASSERT_GT(count, 0);
    received.append(buffer, static_cast<std::size_t>(count));
  }
  EXPECT_EQ(received, half);
  server.Disconnect(true);
  EXPECT_TRUE(server.WaitClosed(kWaitMs));
  pollfd entry{client->Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, kWaitMs), 1);
  errno = 0;
  EXPECT_EQ(::recv(client->Fd(), buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(errno, ECONNRESET);
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
