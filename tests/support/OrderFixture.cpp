#include "support/OrderFixture.h"

#include <algorithm>

#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"

namespace vorn {

std::shared_ptr<TTraderAccountItem> TFakeOrderServices::FindAccount(std::string_view name) {
  for (const auto& account : Accounts)
    if (account->TraderAccount == name) return account;
  return nullptr;
}

std::shared_ptr<TContractItem> TFakeOrderServices::FindContract(std::string_view exchange,
                                                                std::string_view commodity,
                                                                std::string_view contractDate) {
  const std::string key = TContractItem::MakeNameKey(exchange, commodity, contractDate);
  for (const auto& contract : Contracts)
    if (contract->NameKey() == key) return contract;
  return nullptr;
}

std::shared_ptr<TOrderTypeItem> TFakeOrderServices::FindOrderType(std::string_view exchange,
                                                                  std::string_view name) {
  const std::string key = TOrderTypeQ::MakeKey(exchange, name);
  for (const auto& type : OrderTypes)
    if (type->Key() == key) return type;
  return nullptr;
}

void TFakeOrderServices::RaiseOrderSequence(std::int32_t next) {
  OrderSequence = std::max(OrderSequence, next);
}

std::string TFakeOrderServices::NewSyntheticOrderID() {
  return "S" + IntToStr(++SyntheticCount);
}

std::shared_ptr<TOrderList> TFakeOrderServices::FindOrderList(std::string_view id) {
  const std::string key(id.substr(0, std::min(id.size(), kOrderIDLength)));
  TIndexListLock guard(OrderQ);
  for (int i = 0; i < OrderQ.Count(); ++i) {
    auto history = OrderQ.At(i);
    if (history->OrderID() == key) return history;
  }
  return nullptr;
}

std::string TFakeOrderServices::MatchOrder(TOrderItem& item) {
  Matched.push_back(item.ID);
  return MatchAnswer.empty() ? item.ID : MatchAnswer;
}

std::shared_ptr<TTraderAccountItem> TFakeOrderServices::AddAccount(const std::string& name,
                                                                   bool tradable) {
  auto account = std::make_shared<TTraderAccountItem>(name);
  account->Tradable = tradable;
  Accounts.push_back(account);
  return account;
}

std::shared_ptr<TContractItem> TFakeOrderServices::AddContract(
    const std::string& exchange, const std::string& commodity, const std::string& contractDate,
    const std::string& typeCode, std::int32_t ticksPerPoint, double tickSize,
    std::int32_t decimals) {
  auto exchangeItem = std::make_shared<TExchange>(exchange);
  exchangeItem->Decimals = decimals;
  auto commodityItem = std::make_shared<TCommodity>();
  commodityItem->SetName(commodity);
  commodityItem->SetExchange(exchangeItem);
  auto contract = std::make_shared<TContractItem>();
  contract->SetNames(exchange, commodity, contractDate);
  TFieldsList fields;
  fields.SetFields("X1=" + typeCode + "\x01TPP=" + IntToStr(ticksPerPoint) +
                   "\x01TSz=" + FloatToStr(tickSize) + "\x01");
  contract->SetFields(fields);
  contract->SetCommodity(commodityItem);
  Contracts.push_back(contract);
  return contract;
}

std::shared_ptr<TOrderTypeItem> TFakeOrderServices::AddOrderType(const std::string& exchange,
                                                                 const std::string& name,
                                                                 TOrderTypes id,
                                                                 std::uint8_t pricesRequired) {
  auto type = std::make_shared<TOrderTypeItem>();
  type->SetName(name);
  type->SetExchangeName(exchange);
  type->OrderTypeID = id;
  type->PricesRequired = pricesRequired;
  OrderTypes.push_back(type);
  return type;
}

std::shared_ptr<TOrderList> TFakeOrderServices::AddHistory(
    const std::string& id, const std::vector<std::shared_ptr<TOrderItem>>& states) {
  auto history = std::make_shared<TOrderList>(id);
  for (auto it = states.rbegin(); it != states.rend(); ++it)
    history->Add(*it);
  OrderQ.Add(history);
  return history;
}

std::shared_ptr<TOrderItem> MakeOrderState(const std::string& id, TOrderStatus status,
                                           std::int32_t sequence, std::int32_t filled,
                                           std::int32_t targetLots) {
  auto order = std::make_shared<TOrderItem>();
  order->ID = id;
  order->DisplayID = id;
  order->Status = status;
  order->OrderHistorySeq = sequence;
  order->Filled = filled;
  order->TargetLots = targetLots;
  return order;
}

}  // namespace vorn
