#pragma once
// A simulated market on real contracts: a contract list whose contracts read their commodity's
// figures and a subscription book, a seeded random source, and the market over them.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/Subscriptions.h"
#include "platform/Event.h"
#include "sim/ContractOrderList.h"
#include "sim/Market.h"
#include "sim/RandomSource.h"

namespace vorn::sim {

class MarketTest : public ::testing::Test {
 protected:
  MarketTest() {
    auto services = std::make_shared<TContractServices>();
    services->Subscriptions = &subscriptions_;
    contracts_.SetServices(services);
    ClearCallbackQueue();
  }
  ~MarketTest() override { ClearCallbackQueue(); }

  // A contract of a new commodity with those figures, listed unless asked otherwise.
  std::shared_ptr<TContractItem> Contract(const std::string& exchange,
                                          const std::string& commodity, const std::string& date,
                                          double tickSize, std::int32_t ticksPerPoint,
                                          bool listed = true) {
    auto exchangeItem = std::make_shared<TExchange>(exchange);
    auto commodityItem = std::make_shared<TCommodity>();
    commodityItem->SetName(commodity);
    commodityItem->SetExchange(exchangeItem);
    commodityItem->TickSize = tickSize;
    commodityItem->TicksPerPoint = ticksPerPoint;
    auto contract = std::make_shared<TContractItem>();
    contract->SetNames(exchange, commodity, date);
    TFieldsList fields;
    fields.SetFields("X1=F\x01");
    contract->SetFields(fields);
    contract->SetCommodity(commodityItem);
    if (listed) {
      EXPECT_TRUE(contracts_.Add(contract).Added);
    }
    return contract;
  }

  // A listed contract with a book: tick 0.5 between 7600 and 8200 (start 7900), lot limit 40.
  std::shared_ptr<TContractOrderList> Book(const std::string& date = "MAR27",
                                           double upper = 8200, double lower = 7600,
                                           double tick = 0.5, std::int32_t lotLimit = 40) {
    auto contract = Contract("LIFFE", "IDX100", date, tick, 10);
    auto book = market_.AddContract(contract, upper, lower, lotLimit);
    EXPECT_TRUE(book);
    return book;
  }

  void Subscribe(const TContractItem& contract) { subscriptions_.SubscribePrice(contract.Key()); }

  static PriceEntry Entry(const TContractOrderList& book, int kind) {
    return book.Contract()->GetPrice(kind);
  }

  std::atomic<bool> contractsReading_{false};
  TLatch contractsRead_{true};
  TSubscriptions subscriptions_;
  TContractQ contracts_{contractsReading_, contractsRead_};
  TRandomSource random_{20270319};
  TMarket market_{random_};
};

}  // namespace vorn::sim
