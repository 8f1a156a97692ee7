#pragma once
// TContractQ, "Contract Dates": every contract date, sorted for the queries by index, with an
// index by name for the message receivers and the set of contracts that go to the shared store.
//
// Key order: exchange, commodity, then a rank letter from the type code (futures, then options,
// then everything else), then the expiry date and the contract date name. The by-name index is a
// hash map on Trim(exchange) chr(1) Trim(commodity) chr(1) Trim(contract date): keys compare
// equal only when their bytes are equal, so an exact-match map finds what a sorted search would.
//
// The list refuses a contract whose sort key or name key it holds already, also while loading,
// so a store read over a filled list keeps the instances already held and drops the copies.
// Every removal goes through RemoveItem, which takes the contract out of both indexes, the
// stored set and its UUID groups; a contract that others still hold stays alive (shared
// ownership) but is no longer found.
//
// Locking: the list's lock guards the list, both indexes and the stored set. Under it the list
// reads each contract's keys under that contract's data lock (which comes after it). FindContract
// may wait for the contract file to be read: call it with no list lock held.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "core/refdata/ContractItem.h"
#include "core/store/IndexList.h"
#include "core/util/Text.h"
#include "platform/Event.h"

namespace vorn {

class TCommodityQ;
class TExchangeQ;
class TUUIDObjectList;

// Services that find a contract's commodity in the commodity list and read its figures under the
// commodity and exchange lists' locks. Both lists must outlive every contract that uses them.
// The owner of the lists adds the rest of the services.
std::shared_ptr<TContractServices> MakeContractServices(TCommodityQ& commodities,
                                                        TExchangeQ& exchanges);

class TContractQ : public TIndexListOf<TContractItem> {
 public:
  static constexpr std::chrono::milliseconds kContractsReadWait{120000};

  // The flag and latch of the contract-data thread (set while "VornCont.dat" is being read,
  // set once it has been read); both must outlive the list.
  TContractQ(const std::atomic<bool>& contractsReading, TLatch& contractsRead);
  ~TContractQ() override;

  // Handed to every contract the list takes, and to those it holds now.
  void SetServices(std::shared_ptr<const TContractServices> services);
  std::shared_ptr<const TContractServices> Services() const;
  // The UUID groups that AddFromFields registers new contracts in; none without it.
  void SetUUIDObjects(std::shared_ptr<TUUIDObjectList> objects);
  void SetContractsReadWait(std::chrono::milliseconds wait);

  // By the trimmed names (the key is built on the stack: a look-up allocates nothing). When the
  // contract is not there and the contract file is being read, waits (without any lock) until
  // it has been read, at most the read wait, and looks again.
  std::shared_ptr<TContractItem> FindContract(std::string_view exchange, std::string_view commodity,
                                              std::string_view contractDate) const;
  // The same without waiting.
  std::shared_ptr<TContractItem> FindByName(std::string_view exchange, std::string_view commodity,
                                            std::string_view contractDate) const;
  std::shared_ptr<TContractItem> FindByNameKey(std::string_view nameKey) const;

  // A new contract from a contract-date message: the names, the field list ("XD", "X1"), state
  // Inactive when "Act" is '2' (else Active), UUID from "GUID" (a new one when empty). Once the
  // list took it: its UUID group, the line in the UUID object log, and membership of its
  // commodity. Returns its index, or -1 (nothing else done) when the list holds that key or name.
  int AddFromFields(std::string_view exchange, std::string_view commodity,
                    std::string_view contractDate, TFieldsList fields);
  // A listed contract's new field list. When its sort key changes the contract is taken out and
  // put back at its new place. False, changing nothing, when the contract is not listed here or
  // another contract holds the new key.
  bool UpdateFields(const std::shared_ptr<TContractItem>& contract, TFieldsList fields);
  // SetCommodity for a listed contract, moving it when its names change; false as UpdateFields.
  bool ChangeCommodity(const std::shared_ptr<TContractItem>& contract,
                       const std::shared_ptr<TCommodity>& commodity);
  // Removes every contract whose trimmed exchange and commodity names are those; their number.
  int RemoveCommodityContracts(std::string_view exchange, std::string_view commodity);

  // The stored-contract list: the contracts that SaveToStream writes (contracts of orders, fills
  // and positions, and those made outside the initial download). One entry per contract.
  void AddStoredContract(const std::shared_ptr<TContractItem>& contract);
  bool IsStoredContract(const TContractItem& contract) const;
  // Enters every contract held now (before the contract file is read over the list, and after
  // the shared store's contracts were loaded).
  void RecordHeldContracts();

  // The outright contract (one leg) whose leg 1 equals leg n of the strategy in the trimmed leg
  // fields 1 to 3; the strategy itself when there is none or n is not one of its legs.
  std::shared_ptr<TContractItem> GetLegContract(const std::shared_ptr<TContractItem>& strategy,
                                                int leg) const;

  // The subscription book's drop handler: drops the contract's price table when the book holds
  // no price or depth subscriber for it any more. True when a table was dropped.
  bool DropPriceTableIfUnsubscribed(const TContractKey& key, const TSubscriptions& book) const;

  // Refuses a contract whose sort key or name key the list holds; resets its fill-price flags,
  // hands it the services and enters it in the by-name index.
  TAddResult Add(const TItem& item) override;
  int RemoveItem(const TStreamable* item) override;
  int RemoveKey(std::string_view key) override;
  void FreeAt(int index) override;
  // Empties the list, both indexes and the stored set.
  void Clear() override;
  void FreeAll() override;
  // The contracts' part of the shared store: the version word after the header, the count of
  // stored contracts, then each of them once, in list order.
  void SaveToStream(TStream& stream) override;

  // The fields of the last contract-date message, by name with one value each, for the trace
  // line that shows what the next one changes. Used with the list's lock held.
  std::map<std::string, std::string>& PreviousDateFields() { return previousDateFields_; }

  // Positional inserts and deletes would bypass the indexes.
  void Insert(int index, const TItem& item) = delete;
  void Delete(int index) = delete;

 protected:
  void KeyOf(const TContractItem& item, std::string& key) const override { key = item.SortKey(); }

 private:
  // List lock held for the *Locked members.
  void DropIndexesLocked(TContractItem& contract);
  // Takes the contract out of its UUID groups (a group left empty goes too), so that a removed
  // contract is neither actioned by a group message nor kept allocated by a group's entry.
  void LeaveGroupsLocked(TContractItem& contract);
  // Takes the item out of the list and both indexes, keeping its groups (a move); its index or
  // -1. kept holds it until the caller releases it after the lock.
  int TakeOutLocked(const TStreamable* item, TItem& kept);
  // Moves a listed contract to the keys that change() gives it.
  bool RekeyLocked(const std::shared_ptr<TContractItem>& contract, const std::string& sortKey,
                   const std::string& nameKey, const std::function<void()>& change);

  const std::atomic<bool>& contractsReading_;
  TLatch& contractsRead_;
  std::atomic<std::int64_t> readWaitMs_{kContractsReadWait.count()};
  std::shared_ptr<const TContractServices> services_;
  std::shared_ptr<TUUIDObjectList> uuidObjects_;
  std::unordered_map<std::string, std::shared_ptr<TContractItem>, TTextHash, std::equal_to<>>
      byName_;
  std::unordered_map<std::string, const TContractItem*> bySortKey_;
  std::unordered_set<const TContractItem*> stored_;
  std::map<std::string, std::string> previousDateFields_;
};

}  // namespace vorn
