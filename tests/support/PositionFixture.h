#pragma once
// Lists for fills, positions and margins: real keyed lists of contracts, accounts, commodities,
// exchange rates, margin ratings and fills, with the fake order services (tests/support) for
// order look-ups and the name look-ups of loaded fills.

#include <atomic>
#include <memory>
#include <string>

#include "core/refdata/Commodity.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/MarginRating.h"
#include "core/trading/Fill.h"
#include "core/trading/Margin.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "platform/Event.h"
#include "support/OrderFixture.h"

namespace vorn {

struct TPositionFixture {
  TPositionFixture() {
    Ratings.SetOptionTest([this](std::string_view e, std::string_view c, std::string_view d) {
      auto contract = Contracts.FindByName(e, c, d);
      return contract && contract->IsOption();
    });
  }

  std::shared_ptr<TTraderAccountItem> Account(const std::string& name) {
    auto account = Services->AddAccount(name);
    Accounts.Add(account);
    return account;
  }

  // A contract of a commodity with that point value and currency; typeCode "C" or "P" makes an
  // option.
  std::shared_ptr<TContractItem> Contract(const std::string& exchange, const std::string& date,
                                          const std::string& typeCode = "F",
                                          std::int32_t ticksPerPoint = 1, double onePoint = 1,
                                          const std::string& currency = "GBP",
                                          const std::string& commodity = "COM") {
    auto contract =
        Services->AddContract(exchange, commodity, date, typeCode, ticksPerPoint, 0.01, 2);
    auto item = contract->GetCommodity();
    item->OnePoint = onePoint;
    item->Currency = currency;
    Contracts.Add(contract);
    return contract;
  }

  void Rate(const std::string& currency, double rate) {
    auto item = std::make_shared<TExchangeRate>();
    item->Currency = currency;
    item->Rate = rate;
    Rates.Add(item);
  }

  // A working order of that id whose order type belongs to the contract's exchange.
  std::shared_ptr<TOrderItem> Order(const std::string& id,
                                    const std::shared_ptr<TContractItem>& contract,
                                    const std::shared_ptr<TTraderAccountItem>& account,
                                    TPurchase side = Buy, TOrderStatus status = osWorking,
                                    std::int32_t target = 10, std::int32_t filled = 0) {
    auto order = MakeOrderState(id, status, 1, filled, target);
    order->Contract = contract;
    order->TraderAccount = account;
    order->BuySell = side;
    order->OrderType = Services->AddOrderType(contract->ExchangeStr(), "LIMIT", otLimit);
    Services->AddHistory(id, {order});
    return order;
  }

  std::shared_ptr<TFill> MakeFill(const std::string& id,
                                  const std::shared_ptr<TContractItem>& contract,
                                  const std::shared_ptr<TTraderAccountItem>& account,
                                  TPurchase side, std::int32_t lots, double price,
                                  const std::string& orderID = "", TFillType type = fltpFILL) {
    auto fill = std::make_shared<TFill>();
    fill->FillID = id;
    fill->Contract = contract;
    fill->Account = account;
    fill->BuySell = side;
    fill->Lots = lots;
    fill->Price = price;
    fill->OrderID = orderID;
    fill->FillType = type;
    return fill;
  }

  // Lists the fill and applies it, as the fill receiver does.
  std::shared_ptr<TFill> AddFill(const std::string& id,
                                 const std::shared_ptr<TContractItem>& contract,
                                 const std::shared_ptr<TTraderAccountItem>& account, TPurchase side,
                                 std::int32_t lots, double price, const std::string& orderID = "",
                                 TFillType type = fltpFILL) {
    auto fill = MakeFill(id, contract, account, side, lots, price, orderID, type);
    Book.AddFill(fill);
    return fill;
  }

  TPositionRecord Record(const std::shared_ptr<TContractItem>& contract,
                         const std::string& account) {
    auto position = ExistingPositionOf(*contract);
    if (!position) return {};
    return position->GetAccountPosition(account).value_or(TPositionRecord{});
  }

  TOrderServicesScope Services;
  std::atomic<bool> MarginMode{false};
  std::atomic<bool> Reading{false};
  TLatch Read{true};
  TSubscriptions Subscriptions;
  TExchangeQ Exchanges{Subscriptions};
  TCommodityQ Commodities{Exchanges};
  TContractQ Contracts{Reading, Read};
  TTraderAccountQ Accounts;
  TExchangeRateQ Rates;
  TMarginRatingQ Ratings{&MarginMode};
  TFillQ Fills;
  TPositionBook Book{{Fills, Contracts, Accounts, Commodities, Rates, MarginMode}};
  TMarginCalculator Margins{{Accounts, Ratings, Contracts, Commodities, Rates, Book, MarginMode}};
};

}  // namespace vorn
