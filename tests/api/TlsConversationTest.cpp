// The library through its exports against the fake host over TLS: the SSL link and the stand-in
// library carry the logon, orders, fills, amends and cancels of the plain-link conversations.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "core/diag/ErrorLog.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/SSLConnection.h"
#include "support/CallbackRecorder.h"
#include "support/Conversation.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "vornintf.h"

namespace vorn {
namespace {

const std::string kScripts = VORN_CONVERSATIONS;
constexpr const char* kPassword = "secret1";

NewOrderStruct FirstOrder() {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  PutTextAndNul(order.ExchangeName, "LIFFE");
  PutTextAndNul(order.CommodityName, "FTSE");
  PutTextAndNul(order.ContractDate, "MAR27");
  PutTextAndNul(order.OrderType, "LIMIT");
  PutTextAndNul(order.Price, "6500.5");
  PutTextAndNul(order.TraderAccount, "TRADER1");
  PutTextAndNul(order.Reference, "first order");
  order.BuySell = 'B';
  order.Lots = 3;
  order.OpenOrClose = 'O';
  order.XRefP = 77;
  return order;
}

struct TTlsCase {
  const char* Name;
  const char* Script;
  std::function<void()> Act;  // after the first order is in
  std::uint8_t LastStatus;
  // The script's last order event is this occurrence of LastStatus: an amended order is
  // Working before the amend and again after it.
  int LastStatusOccurrence = 1;
};
void PrintTo(const TTlsCase& c, std::ostream* os) {
  *os << c.Name;
}

// Each case runs in a test process of its own (gtest_discover_tests), so the trust store set
// here reaches no other test.
class TlsConversationTest : public ::testing::TestWithParam<TTlsCase> {
 protected:
  // Waits for the occurrences-th order event of that id and status.
  bool OrderEventArrived(const char* id, std::uint8_t status, int occurrences) {
    return recorder_.WaitUntil([&](const std::vector<TCallbackRecorder::TDelivery>& deliveries) {
      int seen = 0;
      for (const auto& delivery : deliveries) {
        if (delivery.Id != VN_CB_ORDER) continue;
        OrderUpdateStruct update;
        std::memcpy(&update, delivery.Payload.data(), sizeof update);
        if (std::string_view(update.OrderID) == id && update.Status == status) ++seen;
      }
      return seen >= occurrences;
    });
  }

  TTempDir dir_;
  TTestCertificates certificates_ = MakeTestCertificates(dir_.Path());
  TScopedTrustedCA trust_{certificates_.CAFile};
  TFakeServers servers_{0, 0, {certificates_.Server.CertFile, certificates_.Server.KeyFile}};
  TCallbackRecorder recorder_;
};

TEST_P(TlsConversationTest, PlaysOverTls) {
  const TTlsCase& c = GetParam();
  TConversationRunner runner(servers_);
  auto result = std::async(std::launch::async, [&] {
    return runner.Run(TConversation::Load(kScripts + c.Script));
  });
  ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
  // Every trace and dump switch on: none may show the password.
  vnEnable(VN_DEBUG_DEBUGGING | VN_DEBUG_HOST_LOG | VN_DEBUG_ORDER_LOG | VN_DEBUG_TRACE_APP_CALLS |
           VN_DEBUG_DEBUG_DEBUGGING);
  ASSERT_TRUE(TCallbackRecorder::RegisterAll());
  API()->Heartbeat.SetInterval(25);
  API()->Links.HostReconnect = 2;
  API()->Links.HostHandshakePeriod = 1000000;
  ASSERT_EQ(vnSetSSL('Y'), 0);
  ASSERT_EQ(vnSetHostAddress("127.0.0.1", std::to_string(servers_.Host.Port()).c_str()), 0);
  ASSERT_EQ(vnReady(), 0);
  LogonStruct logon;
  std::memset(&logon, 0, sizeof logon);
  std::strcpy(logon.UserName, "trader1");
  std::strcpy(logon.Password, kPassword);
  logon.FullDownload = 'N';
  logon.ReportDownload = 'N';
  ASSERT_EQ(vnLogOn(&logon), 0);
  ASSERT_TRUE(recorder_.WaitUntil([](const auto& deliveries) {
    for (const auto& delivery : deliveries)
      if (delivery.Id == VN_CB_DATA_DL_COMPLETE) return true;
    return false;
  }));
  ASSERT_TRUE(Eventually([] { return !API()->OrderIDs.PreAllocatedIDs().empty(); }));
  NewOrderStruct order = FirstOrder();
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  ASSERT_STREQ(id, "101");
  if (c.Act) c.Act();
  ASSERT_TRUE(OrderEventArrived("101", c.LastStatus, c.LastStatusOccurrence));
  ASSERT_TRUE(Eventually([] { return CallbackQueueCount() == 0; }));
  ASSERT_EQ(vnLogOff(), 0);
  const TConversationResult played = result.get();
  EXPECT_TRUE(played) << played.Message;

  for (const std::string& name : dir_.Files()) {
    const std::string text = ReadFileText(dir_.File(name));
    EXPECT_EQ(text.find(kPassword), std::string::npos) << name;
  }
}

const TTlsCase kCases[] = {
    {"OrderFilled", "order-filled.conv", nullptr, VN_OS_FILLED},
    {"AmendAccepted", "amend-accepted.conv",
     [] {
       ASSERT_TRUE(Eventually([] {
         OrderDetailStruct detail;
         return vnGetOrderByID("101", &detail, 0) == 0 && detail.Status == VN_OS_WORKING;
       }));
       AmendOrderStruct amend;
       std::memset(&amend, 0, sizeof amend);
       PutTextAndNul(amend.Price, "6501");
       amend.Lots = 5;
       amend.OpenOrClose = 'O';
       PutTextAndNul(amend.TraderAccount, "TRADER1");
       PutTextAndNul(amend.Reference, "amended");
       amend.Priority = 2;
       PutTextAndNul(amend.SenderLocationID, "DESK4");
       PutTextAndNul(amend.ClientID, "C-9");
       amend.MaxClipSize = 2;
       PutTextAndNul(amend.LocalUserName, "local1");
       PutTextAndNul(amend.RoutingID1, "R1");
       ASSERT_EQ(vnAmendOrder("101", &amend), 0);
     },
     VN_OS_WORKING, 2},
    {"CancelAccepted", "cancel-accepted.conv",
     [] {
       ASSERT_TRUE(Eventually([] {
         OrderDetailStruct detail;
         return vnGetOrderByID("101", &detail, 0) == 0 && detail.Status == VN_OS_WORKING;
       }));
       ASSERT_EQ(vnCancelOrder("101"), 0);
       ASSERT_EQ(vnCancelOrder("101"), 0);
       ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
     },
     VN_OS_CANCELLED},
};

INSTANTIATE_TEST_SUITE_P(Conversations, TlsConversationTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A host link over TLS that loses its first address moves on to the fall-back one, after the
// full reconnect period (fast failover is off), and handshakes there at once.
TEST(TlsReconnectTest, MovesToTheFallBackAddressAfterALoss) {
  TTempDir dir;
  const TTestCertificates certificates = MakeTestCertificates(dir.Path());
  TScopedTrustedCA trust(certificates.CAFile);
  const TFakeServerTls tls{certificates.Server.CertFile, certificates.Server.KeyFile};
  TFakeServer first(TFakeServerKind::Host, tls);
  TFakeServer fallBack(TFakeServerKind::Host, tls);
  auto api = std::make_shared<TClassAPI>();
  ExchangeAPI(api);
  api->Links.HostReconnect = 3;
  // Entry 0 is the address set last.
  api->Links.HostAddresses.AddAddress("127.0.0.1", std::to_string(fallBack.Port()));
  api->Links.HostAddresses.AddAddress("127.0.0.1", std::to_string(first.Port()));
  TSSLConnection link(*api, psHost, "", [](std::int32_t) { return 0; });
  link.Start(true);
  std::atomic<bool> stop{false};
  std::atomic<int> ticks{0};
  std::thread ticker([&] {
    while (!stop) {
      const auto entry = api->Links.HostAddresses.Get(
          static_cast<std::size_t>(api->Links.HostAddressIndex.load()));
      if (entry) link.SetAddress(*entry);
      link.ProcessTimer();
      ++ticks;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  ASSERT_TRUE(first.WaitConnected(10000));
  const auto handshake = first.NextMessage(10000);
  ASSERT_TRUE(handshake);
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, *handshake), "3361");
  ASSERT_TRUE(Eventually([&] { return link.Connected(); }));
  const int lostAt = ticks;
  first.Disconnect();
  ASSERT_TRUE(fallBack.WaitConnected(10000));
  const int tookTicks = ticks - lostAt;
  const auto again = fallBack.NextMessage(10000);
  ASSERT_TRUE(again);
  EXPECT_EQ(MessageCode(TFakeServerKind::Host, *again), "3361");
  EXPECT_GE(tookTicks, 3);  // the reconnect period, not one tick
  EXPECT_EQ(api->Links.HostAddressIndex.load(), 1);
  stop = true;
  ticker.join();
  link.Shutdown();
  ExchangeAPI(nullptr);
}

// A server whose certificate does not verify is refused: the failure is counted, written to the
// error log with the library's reason, and nothing falls back to a plain or unverified link.
TEST(TlsRefusalTest, AnUntrustedServerIsRefusedAndCounted) {
  TTempDir dir;
  const TTestCertificates certificates = MakeTestCertificates(dir.Path());
  TScopedTrustedCA trust(certificates.CAFile);
  TFakeServer host(TFakeServerKind::Host, TFakeServerTls{certificates.UntrustedServer.CertFile,
                                                         certificates.UntrustedServer.KeyFile});
  auto api = std::make_shared<TClassAPI>();
  ExchangeAPI(api);
  api->Links.HostAddresses.AddAddress("127.0.0.1", std::to_string(host.Port()));
  TSSLConnection link(*api, psHost, "", [](std::int32_t) { return 0; },
                      [](std::chrono::milliseconds) {});
  link.Start(true);
  for (int i = 0; i < 50 && link.FailedConnects() == 0; ++i) {
    link.SetAddress(*api->Links.HostAddresses.Get(0));
    link.ProcessTimer();
  }
  EXPECT_EQ(link.FailedConnects(), 1);
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.SocketState(), TSocketState::Closed);
  EXPECT_EQ(host.Connections(), 0);  // no handshake completed
  const std::string log = ReadFileText(dir.File(kErrorLogFileName));
  EXPECT_NE(log.find("Unable to log into SSL socket. Error message is SSL Error: "),
            std::string::npos)
      << log;
  link.Shutdown();
  ExchangeAPI(nullptr);
}

}  // namespace
}  // namespace vorn
