// The order road under threads (run under ThreadSanitizer): application threads entering orders
// and reading orders, fills, positions and prices while a socket thread applies the host's
// messages and the heartbeat ticks.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/util/NumberText.h"
#include "links/Dispatcher.h"
#include "support/HostText.h"
#include "support/TradingFixture.h"

namespace vorn {
namespace {

class OrderThreadsTest : public TradingTest {};

TEST_F(OrderThreadsTest, EntriesRepliesQueriesAndTicks) {
  constexpr int kThreads = 3;
  constexpr int kOrdersEach = 40;
  AddHostOrderIDs(1000, kThreads * kOrdersEach + 10);
  TClassAPI& api = Api();
  std::atomic<bool> entering{true};

  // The host's side: every request recorded gets a Sent, a Working and a Filled reply.
  std::thread host([&] {
    std::size_t answered = 0;
    while (entering || answered < requests_->OrderRequests().size()) {
      const auto requests = requests_->OrderRequests();
      for (; answered < requests.size(); ++answered) {
        const std::string id = requests[answered].Order->ID;
        const std::string common =
            "|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|Pr=100|TLt=1";
        int sequence = 0;
        for (const char* state : {"2", "3", "10"}) {
          const std::string body =
              "Msg=3601|OID=" + id + "|Sts=" + state + "|Seq=" + IntToStr(++sequence) +
              "|Flg=1|Fil=" + (std::string(state) == "10" ? "1" : "0") + common + "|";
          ProcessMessage(api, psHost, Wire(body));
        }
      }
      std::this_thread::yield();
    }
  });
  // The order list's open-lot index, which every entry's margin reads, is checked against the
  // heads between ticks.
  std::atomic<bool> indexConsistent{true};
  std::thread heartbeat([&] {
    while (entering) {
      api.HeartbeatTimer();
      if (!api.Orders.OpenLotsConsistent()) indexConsistent = false;
    }
  });

  std::vector<std::thread> traders;
  std::vector<std::vector<std::string>> ids(kThreads);
  for (int t = 0; t < kThreads; ++t)
    traders.emplace_back([&, t] {
      for (int i = 0; i < kOrdersEach; ++i) {
        NewOrderStruct order = LimitOrder();
        char id[11] = {};
        if (vnAddOrder(&order, id) == 0) ids[t].push_back(id);
        std::int32_t count = 0;
        vnCountOrders(&count);
        OrderDetailStruct detail;
        vnGetOrder(count - 1, &detail);
        vnGetOrderByID(id, &detail, 0);
      }
    });
  for (auto& trader : traders)
    trader.join();
  entering = false;
  host.join();
  heartbeat.join();
  EXPECT_TRUE(indexConsistent);
  EXPECT_TRUE(api.Orders.OpenLotsConsistent());

  // Every order was entered once under its own host id and ended filled.
  std::set<std::string> distinct;
  for (const auto& list : ids)
    distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kOrdersEach));
  for (const auto& id : distinct) {
    OrderDetailStruct detail;
    ASSERT_EQ(vnGetOrderByID(id.c_str(), &detail, 0), 0) << id;
    EXPECT_EQ(detail.Status, VN_OSC_FILLED) << id;
  }
}

// Application threads read fills, positions and prices while a socket thread streams fills in
// and a price changes.
TEST_F(OrderThreadsTest, QueriesWhileFillsStreamIn) {
  constexpr int kFills = 300;
  TClassAPI& api = Api();
  std::atomic<bool> streaming{true};
  std::thread host([&] {
    for (int i = 0; i < kFills; ++i) {
      const std::string side = i % 3 == 0 ? "2" : "1";
      ProcessMessage(api, psHost,
                     Wire("Msg=3602|FID=F" + IntToStr(i) + "|OID=" + IntToStr(1000 + i / 4) +
                          "|Ex=LIFFE|C=FTSE|CD=MAR27|BS=" + side +
                          "|Fil=1|Pr=" + IntToStr(100 + i % 7) + "|FTy=1|TA=TRADER1|Usr=USER1|"));
      Future()->SetPrice(5, 1, 100 + i % 5);
    }
    streaming = false;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      while (streaming) {
        std::int32_t count = 0;
        vnCountFills(&count);
        FillStruct fill;
        vnGetFill(count - 1, &fill);
        PositionStruct position;
        vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &position);
        vnGetTotalPosition("TRADER1", &position);
        char average[21];
        vnGetAveragePrice("LIFFE", "FTSE", "MAR27", "TRADER1", average);
        PriceStruct prices;
        vnGetPriceForContract("LIFFE", "FTSE", "MAR27", &prices);
      }
    });
  host.join();
  for (auto& reader : readers)
    reader.join();

  std::int32_t count = 0;
  ASSERT_EQ(vnCountFills(&count), 0);
  EXPECT_EQ(count, kFills);
  PositionStruct position;
  ASSERT_EQ(vnGetContractPosition("LIFFE", "FTSE", "MAR27", "TRADER1", &position), 0);
  EXPECT_EQ(std::int32_t{position.Buy}, kFills - kFills / 3);
  EXPECT_EQ(std::int32_t{position.Sell}, kFills / 3);
}

}  // namespace
}  // namespace vorn
