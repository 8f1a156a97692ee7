#pragma once
// Order services for tests: small reference lists, an order list keyed by order ID, UUID
// groups and counters, installed as the services of order items for the life of the scope.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/OrderType.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"

namespace vorn {

// Histories keyed by their order ID, as the order list keeps them.
class TTestOrderQ : public TIndexListOf<TOrderList> {
 public:
  TTestOrderQ() : TIndexListOf<TOrderList>("Order List") { SetSorted(true); }

 protected:
  void KeyOf(const TOrderList& history, std::string& key) const override {
    key = history.OrderID();
  }
};

class TFakeOrderServices : public IOrderServices {
 public:
  std::shared_ptr<TTraderAccountItem> FindAccount(std::string_view name) override;
  std::shared_ptr<TContractItem> FindContract(std::string_view exchange, std::string_view commodity,
                                              std::string_view contractDate) override;
  std::shared_ptr<TOrderTypeItem> FindOrderType(std::string_view exchange,
                                                std::string_view name) override;
  void RaiseOrderSequence(std::int32_t next) override;
  std::string NewSyntheticOrderID() override;
  TIndexList& Orders() override { return OrderQ; }
  std::shared_ptr<TOrderList> FindOrderList(std::string_view id) override;
  std::string MatchOrder(TOrderItem& item) override;
  void ForgetOrder(std::string_view id) override { Forgotten.emplace_back(id); }
  TUUIDObjectList* UUIDObjects() override { return &Groups; }

  // A tradable account.
  std::shared_ptr<TTraderAccountItem> AddAccount(const std::string& name, bool tradable = true);
  // A contract of a commodity of an exchange with those decimals; typeCode "C" or "P" makes an
  // option.
  std::shared_ptr<TContractItem> AddContract(const std::string& exchange,
                                             const std::string& commodity,
                                             const std::string& contractDate,
                                             const std::string& typeCode = "F",
                                             std::int32_t ticksPerPoint = 100,
                                             double tickSize = 0.01, std::int32_t decimals = 2);
  std::shared_ptr<TOrderTypeItem> AddOrderType(const std::string& exchange, const std::string& name,
                                               TOrderTypes id, std::uint8_t pricesRequired = 1);
  // A history with the given states, newest first, listed in the order list.
  std::shared_ptr<TOrderList> AddHistory(const std::string& id,
                                         const std::vector<std::shared_ptr<TOrderItem>>& states);

  std::vector<std::shared_ptr<TTraderAccountItem>> Accounts;
  std::vector<std::shared_ptr<TContractItem>> Contracts;
  std::vector<std::shared_ptr<TOrderTypeItem>> OrderTypes;
  TTestOrderQ OrderQ;
  TUUIDObjectList Groups;
  std::int32_t OrderSequence = 0;
  std::int32_t SyntheticCount = 0;
  std::vector<std::string> Matched;  // IDs of the items offered to MatchOrder
  std::string MatchAnswer;           // what MatchOrder hands back; empty: the item's own ID
  std::vector<std::string> Forgotten;
};

// Installs fake services for the life of the scope.
class TOrderServicesScope {
 public:
  TOrderServicesScope() : services_(std::make_shared<TFakeOrderServices>()) {
    SetOrderServices(services_);
  }
  TOrderServicesScope(const TOrderServicesScope&) = delete;
  TOrderServicesScope& operator=(const TOrderServicesScope&) = delete;
  // The order events the test posted are dropped with the services.
  ~TOrderServicesScope() {
    SetOrderServices(nullptr);
    ClearCallbackQueue();
  }

  TFakeOrderServices& operator*() { return *services_; }
  TFakeOrderServices* operator->() { return services_.get(); }

 private:
  std::shared_ptr<TFakeOrderServices> services_;
};

// An order state with the given ID, state, sequence and lots.
std::shared_ptr<TOrderItem> MakeOrderState(const std::string& id, TOrderStatus status,
                                           std::int32_t sequence = 0, std::int32_t filled = 0,
                                           std::int32_t targetLots = 10);

}  // namespace vorn
