#include "sim/ContractList.h"

#include <utility>

#include "core/refdata/ContractItem.h"
#include "core/util/CompareKeys.h"
#include "sim/ContractOrderList.h"

namespace vorn::sim {

bool TContractKeyLess::operator()(const std::string& a, const std::string& b) const {
  return CompareKeys(a, b) < 0;
}

std::string TContractList::MakeKey(std::string_view exchange, std::string_view commodity,
                                   std::string_view contractDate) {
  std::string key;
  key.reserve(exchange.size() + commodity.size() + contractDate.size() + 2);
  key.append(exchange).push_back('\x01');
  key.append(commodity).push_back('\x01');
  key.append(contractDate);
  return key;
}

std::string TContractList::KeyOf(const TContractItem& contract) {
  return MakeKey(ContractExchange(contract), contract.CommodityStr(), contract.ContractDate());
}

bool TContractList::Add(std::shared_ptr<TContractOrderList> book) {
  if (!book) return false;
  std::string key = book->Key();
  return books_.emplace(std::move(key), std::move(book)).second;
}

std::shared_ptr<TContractOrderList> TContractList::Find(const std::string& key) const {
  const auto book = books_.find(key);
  return book == books_.end() ? nullptr : book->second;
}

}  // namespace vorn::sim
