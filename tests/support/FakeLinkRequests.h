#pragma once
// The link layer's requests recorded in place of sending them: install on an API object with
// Install() and read what the order road and the subscriptions asked for.
//
// The price link is down until SetConnected(true): before, price-feed sends fail as they do on a
// link that is not connected (the subscription book keeps them queued); after, each is recorded
// and the price-send hook, if any, runs on the sending thread with no lock of the recorder held.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
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
  // A wholesale pair as sent: copies of both orders and of what the pair's kind added.
  struct TWholesaleRequest {
    std::shared_ptr<TOrderItem> Primary;
    std::shared_ptr<TOrderItem> Secondary;
    bool HasLegPrices = false;
    LegPriceStruct LegPrices{};
    bool HasBasis = false;
    BasisStruct Basis{};
    bool AgainstActual = false;
    std::string FirstUser;
    std::string SecondUser;
  };

  // Installs a recorder on the API object and returns it (the object owns it).
  static TFakeLinkRequests& Install(TClassAPI& api) {
    auto requests = std::make_unique<TFakeLinkRequests>();
    auto& result = *requests;
    api.LinkRequests = std::move(requests);
    return result;
  }

  // A price-feed request as sent: a contract, a commodity (empty date) or, for 206/207, an
  // exchange (Exchange alone).
  struct TPriceRequest {
    int Code;
    TContractKey Item;
    bool operator==(const TPriceRequest&) const = default;
    friend void PrintTo(const TPriceRequest& request, std::ostream* out) {
      *out << request.Code << " " << request.Item.Text();
    }
  };
  using TPriceSendHook = std::function<void(const TPriceRequest&)>;

  void SetConnected(bool connected) { connected_ = connected; }
  // Runs after each recorded price-feed send (a test answering a snapshot at once).
  void SetOnPriceSend(TPriceSendHook hook) {
    std::lock_guard guard(lock_);
    onPriceSend_ = std::move(hook);
  }

  bool Connected() override { return connected_; }
  bool SendPriceSubscription(int code, const TContractKey& contract) override {
    return RecordPrice({code, contract});
  }
  bool SendMarketSubscription(int code, const TContractKey& commodity) override {
    return RecordPrice({code, commodity});
  }
  bool SendBroadcastSubscription(int code, std::string_view exchange) override {
    return RecordPrice({code, {std::string(exchange), {}, {}}});
  }
  void SendHandshake() override {
    std::lock_guard guard(lock_);
    ++handshakes_;
  }
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

  void SendWholesaleRequest(const TWholesalePair& pair) override {
    TWholesaleRequest request;
    request.Primary = pair.Primary.Copy();
    request.Secondary = pair.Secondary.Copy();
    if (pair.LegPrices) {
      request.HasLegPrices = true;
      request.LegPrices = *pair.LegPrices;
    }
    if (pair.Basis) {
      request.HasBasis = true;
      request.Basis = *pair.Basis;
    }
    request.AgainstActual = pair.AgainstActual;
    request.FirstUser = pair.FirstUser;
    request.SecondUser = pair.SecondUser;
    std::lock_guard guard(lock_);
    wholesaleRequests_.push_back(std::move(request));
  }

  std::vector<TOrderRequest> OrderRequests() const {
    std::lock_guard guard(lock_);
    return orderRequests_;
  }
  std::vector<TWholesaleRequest> WholesaleRequests() const {
    std::lock_guard guard(lock_);
    return wholesaleRequests_;
  }
  int OrderIDRequests() const {
    std::lock_guard guard(lock_);
    return orderIDRequests_;
  }
  std::vector<TPriceRequest> PriceRequests() const {
    std::lock_guard guard(lock_);
    return priceRequests_;
  }
  int Handshakes() const {
    std::lock_guard guard(lock_);
    return handshakes_;
  }

 private:
  bool RecordPrice(TPriceRequest request) {
    if (!connected_) return false;
    TPriceSendHook hook;
    {
      std::lock_guard guard(lock_);
      priceRequests_.push_back(request);
      hook = onPriceSend_;
    }
    if (hook) hook(request);
    return true;
  }

  std::atomic<bool> connected_{false};
  mutable std::mutex lock_;
  TPriceSendHook onPriceSend_;
  std::vector<TPriceRequest> priceRequests_;
  int handshakes_ = 0;
  std::vector<TOrderRequest> orderRequests_;
  std::vector<TWholesaleRequest> wholesaleRequests_;
  int orderIDRequests_ = 0;
};

}  // namespace vorn
