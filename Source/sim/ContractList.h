#pragma once
// TContractList: the simulated contracts' books by key, the exchange name of the contract's
// commodity, 0x01, the commodity name, 0x01 and the contract date name, in the keyed lists'
// order (CompareKeys). It owns the books it holds; a book taken out lives on while a step still
// works on it.
//
// Threads: no lock of its own; the market's list lock guards it.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vorn {
class TContractItem;
}

namespace vorn::sim {

class TContractOrderList;

struct TContractKeyLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

class TContractList {
 public:
  using TBooks = std::map<std::string, std::shared_ptr<TContractOrderList>, TContractKeyLess>;

  static std::string MakeKey(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate);
  // The key of a contract: its commodity's exchange name (ContractExchange), its commodity and
  // date names.
  static std::string KeyOf(const TContractItem& contract);

  // False, keeping the one held, when the key is held already.
  bool Add(std::shared_ptr<TContractOrderList> book);
  std::shared_ptr<TContractOrderList> Find(const std::string& key) const;
  void Clear() { books_.clear(); }
  std::size_t Count() const { return books_.size(); }
  const TBooks& Books() const { return books_; }

 private:
  TBooks books_;
};

}  // namespace vorn::sim
