#pragma once
// The link layer's requests recorded in place of sending them: install on an API object with
// Install() and read what the order road asked for.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/trading/OrderItem.h"

namespace vorn {

class TFakeLinkRequests final : public ILinkRequests {
 public:
  struct TOrderRequest {
    std::int32_t Code;
    std::shared_ptr<TOrderItem> Order;  // a copy of the item as it was sent
  };

  // Installs a recorder on the API object and returns it (the object owns it).
  static TFakeLinkRequests& Install(TClassAPI& api) {
    auto requests = std::make_unique<TFakeLinkRequests>();
    auto& result = *requests;
    api.LinkRequests = std::move(requests);
    return result;
  }

  bool Connected() override { return false; }
  bool SendPriceSubscription(int, const TContractKey&) override { return false; }
  bool SendMarketSubscription(int, const TContractKey&) override { return false; }
  bool SendBroadcastSubscription(int, std::string_view) override { return false; }
  void SendHandshake() override {}
  void SendOrderIDsRequest() override {
    std::lock_guard guard(lock_);
    ++orderIDRequests_;
  }
  void SendBandwidthReport(const TBandwidthReport&) override {}
  void LogOnAgain() override {}
  void SendOrderRequest(std::int32_t code, const TOrderItem& order) override {
    std::lock_guard guard(lock_);
    orderRequests_.push_back({code, order.Copy()});
  }

  std::vector<TOrderRequest> OrderRequests() const {
    std::lock_guard guard(lock_);
    return orderRequests_;
  }
  int OrderIDRequests() const {
    std::lock_guard guard(lock_);
    return orderIDRequests_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<TOrderRequest> orderRequests_;
  int orderIDRequests_ = 0;
};

}  // namespace vorn
