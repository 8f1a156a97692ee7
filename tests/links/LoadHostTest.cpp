// The soak run's load host: the stamps its client checks (each streamed order's updates in Seq
// order, orders one after the other across drops, price bodies numbered) and drops that fall
// between two streamed orders.

#include "fakehost/LoadHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/RawClient.h"

namespace vorn {
namespace {

std::string FieldOf(const std::string& body, const std::string& name) {
  const std::string shown = "|" + ShowBody(body);
  const auto at = shown.find("|" + name + "=");
  if (at == std::string::npos) return {};
  const auto start = at + name.size() + 2;
  return shown.substr(start, shown.find('|', start) - start);
}

// Logs on and reads the download to its end; false when it did not come.
bool LogOn(TRawClient& client) {
  if (!client.SendHost("Msg=3362|Usr=soak|Pwd=x")) return false;
  for (auto body = client.Receive(); body; body = client.Receive())
    if (FieldOf(*body, "Msg") == "3620") return client.SendHost("Msg=3341");
  return false;
}

struct TStreamCheck {
  std::uint64_t Order = 0;
  int Seq = 0;
  int Updates = 0;
  // Takes a streamed update; false when it breaks the stamps.
  bool Take(const std::string& body) {
    const std::string id = FieldOf(body, "OID");
    const std::uint64_t order = std::stoull(id.substr(1));
    const int seq = std::stoi(FieldOf(body, "Seq"));
    ++Updates;
    const bool next = order == Order ? seq == Seq + 1
                                     : order == Order + 1 && seq == 1 &&
                                           (Order == 0 || Seq == TLoadHost::kStreamUpdates);
    Order = order;
    Seq = seq;
    return next;
  }
};

TEST(LoadHostTest, StreamsStampedOrdersAndDropsBetweenThem) {
  TLoadHost host({.OrderUpdatesPerSecond = 5000, .PriceBodiesPerSecond = 5000,
                  .ReconnectSeconds = 1});
  host.Start();
  TStreamCheck stream;
  for (int session = 0; session < 2; ++session) {
    TRawClient client(host.HostPort());
    ASSERT_TRUE(LogOn(client));
    // A client order is worked, and its cancel confirmed with nothing left.
    ASSERT_TRUE(client.SendHost("Msg=3301|OID=7|TA=TRADER1|OTy=LIMIT|Ex=LIFFE|C=FTSE|CD=MAR27|"
                                "BS=1|Pr=6400|TLt=3"));
    ASSERT_TRUE(client.SendHost("Msg=3303|OID=7"));
    std::string clientStates;
    // Until the host drops the link.
    for (auto body = client.Receive(); body; body = client.Receive()) {
      if (FieldOf(*body, "Msg") != "3601") continue;
      if (FieldOf(*body, "OID") == "7") {
        clientStates += FieldOf(*body, "Sts") + "/" + FieldOf(*body, "TLt") + " ";
        continue;
      }
      ASSERT_TRUE(stream.Take(*body)) << ShowBody(*body);
    }
    EXPECT_EQ(clientStates, "2/3 3/3 11/3 5/0 ");
    // The drop came after a whole order.
    EXPECT_EQ(stream.Seq, TLoadHost::kStreamUpdates);
  }
  EXPECT_GT(stream.Order, 2u);

  // Price bodies once subscribed, numbered in the bid volume (offset 204).
  TRawClient hostLink(host.HostPort());
  ASSERT_TRUE(LogOn(hostLink));
  TRawClient price(host.PricePort());
  std::string subscribe(74, ' ');
  subscribe.replace(0, 4, "0202");
  subscribe.replace(4, 5, "LIFFE");
  subscribe.replace(14, 4, "FTSE");
  subscribe.replace(24, 5, "MAR27");
  ASSERT_TRUE(price.Send(subscribe));
  for (std::uint64_t expected = 1; expected <= 100; ++expected) {
    const auto body = price.Receive();
    ASSERT_TRUE(body);
    ASSERT_EQ(body->substr(0, 4), "0084");
    EXPECT_EQ(std::stoull(body->substr(204, 11)), expected);
  }
  host.Stop();
  EXPECT_GE(host.Counts().Drops, 2u);
}

}  // namespace
}  // namespace vorn
