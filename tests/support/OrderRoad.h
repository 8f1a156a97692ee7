#pragma once
// The order road through the exports against the fake host: the logon and download of the road
// scripts, the order events the application received, and a new order on the scripts' future.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/session/ClassAPI.h"
#include "support/ExportSession.h"
#include "support/TradingFixture.h"
#include "vornintf.h"

namespace vorn {

struct TOrderEvent {
  std::string ID;
  std::string OldID;
  int Status;
  bool operator==(const TOrderEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TOrderEvent& event) {
  return out << "{" << event.ID << ", " << event.OldID << ", " << event.Status << "}";
}

class OrderRoadSessionTest : public ExportSessionTest {
 protected:
  // The price link's connect blanks prices: the feed's prices come after it.
  void LogOnAndDownload() { LogOnWithPriceLink(); }
  bool HostIDsArrived() {
    return Eventually([] { return !API()->OrderIDs.PreAllocatedIDs().empty(); });
  }

  std::vector<TOrderEvent> OrderEvents() {
    std::vector<TOrderEvent> events;
    for (const auto& delivery : recorder_.Deliveries()) {
      if (delivery.Id != VN_CB_ORDER) continue;
      OrderUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      events.push_back({update.OrderID, update.OldOrderID, update.Status});
    }
    return events;
  }
  bool OrderEventArrived(const TOrderEvent& event) {
    return Eventually([&] {
      for (const auto& seen : OrderEvents())
        if (seen == event) return true;
      return false;
    });
  }

  // The statuses of the order's history through the exports, newest first (a failed call fails
  // the test and ends the list).
  std::vector<int> HistoryStates(const char* id) {
    std::int32_t index = -1, versions = 0;
    std::vector<int> states;
    EXPECT_EQ(vnGetOrderIndex(id, &index), 0);
    EXPECT_EQ(vnCountOrderHistory(index, &versions), 0);
    OrderDetailStruct detail;
    for (std::int32_t i = 0; i < versions; ++i) {
      const std::int32_t result = vnGetOrderHistory(index, i, &detail);
      EXPECT_EQ(result, 0) << "version " << i;
      if (result != 0) break;
      states.push_back(detail.Status);
    }
    return states;
  }

  // Waits for a ticker event that matches.
  template <class F>
  bool TickerArrived(F matches) {
    return recorder_.WaitUntil([&](const std::vector<TCallbackRecorder::TDelivery>& deliveries) {
      for (const auto& delivery : deliveries) {
        if (delivery.Id != VN_CB_TICKER_UPDATE) continue;
        TickerStruct ticker;
        std::memcpy(&ticker, delivery.Payload.data(), sizeof ticker);
        if (matches(std::as_const(ticker))) return true;
      }
      return false;
    });
  }
  bool LastTradeArrived(const std::string& price) {
    return TickerArrived([&](const TickerStruct& ticker) { return price == ticker.LastPrice; });
  }

  // A limit order of TRADER1 on LIFFE FTSE MAR27, opening.
  static NewOrderStruct Order(char side, const char* price, std::int32_t lots) {
    NewOrderStruct order = TradingLimitOrder();
    order.BuySell = side;
    PutTextAndNul(order.Price, price);
    order.Lots = lots;
    return order;
  }
};

}  // namespace vorn
