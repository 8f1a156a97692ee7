#pragma once
// A logged-on API object made through the exports, over the small market of TradingMarket.h.
// Both links are connected fakes and the order requests are recorded, not sent. The heartbeat
// does not tick on its own.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/session/ClassAPI.h"
#include "support/FakeLink.h"
#include "support/FakeLinkRequests.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace vorn {

class TradingTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TClassAPI& Api() { return *api_; }
  std::shared_ptr<TContractItem> Future() const;
  std::shared_ptr<TContractItem> Option() const;

  // Adds an order type on LIFFE.
  void AddOrderType(const char* name, std::int32_t typeID, std::uint8_t pricesRequired);
  // A host order id is free for the next order (the pool starts empty).
  void AddHostOrderIDs(std::int32_t first, std::int32_t count);

  // A limit buy of 1 lot of the future at "100" for TRADER1.
  static NewOrderStruct LimitOrder();

  TTempDir dir_;  // the client path: no store is shared between tests
  std::shared_ptr<TClassAPI> api_;
  TFakeLinks links_;
  TFakeLinkRequests* requests_ = nullptr;
};

}  // namespace vorn
