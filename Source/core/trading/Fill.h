#pragma once
// Fills: one TFill per fill the host reports (and per start- or end-of-day position pseudo-fill),
// kept in the fill list TFillQ of the API object.
//
// A fill's fields are set before it is listed. A listed fill is changed only under the fill
// list's lock (a repeated fill message, the account of a re-labelled order); a change of its
// FillType changes its key, so it goes through TFillQ::SetFillType, which re-inserts it.
//
// The fill's contract and account are resolved through the order services
// (core/trading/OrderItem.h): loading a fill never creates anything and never touches positions;
// positions are built from the loaded list afterwards (TPositionBook::RebuildAllPositions), the
// same way fills arriving live build them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/trading/OrderItem.h"

namespace vorn {

class TContractItem;
class TTraderAccountItem;
class TFillQ;

enum TFillStatus : std::uint8_t { flNORMAL = 0, flORPI = 1 };

// The host's fill types; 0 is not a type the host sends.
enum TFillType : std::uint8_t {
  fltpNone = 0,
  fltpFILL = 1,
  fltpEXTERNAL = 2,
  fltpNETTED = 3,
  fltpUNDEFINED = 4,
  fltpRETAINED = 5
};

// Key prefix of netted and retained fills: they sort apart from host fills of the same ID.
inline constexpr char kPositionFillKeyPrefix = '\xFF';

class TFill : public TUUIDStreamable {
 public:
  TFill() = default;

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  // The contract reference: exchange, commodity and contract date names.
  void WriteExtra(TStream& stream) const override;
  // Resolves the contract by its names (null when unknown). Positions are not touched here: a
  // clone reads its extra data too.
  void ReadExtra(TStream& stream) override;

  // Stamp, state, then the fill event (id 9) with OrderID and FillID.
  void Activate(bool flag) override;
  void Deactivate(bool flag) override;
  void Expire() override;
  // When purgeable: leaves its UUID groups (an emptied group is dropped) and its fill list.
  void Purge(TDateTime time) override;

  // FillID, or chr(255) + FillID for netted and retained fills.
  static std::string KeyFor(std::string_view fillID, TFillType type);
  std::string Key() const { return KeyFor(FillID, FillType); }

  // The account's name; empty without an account.
  std::string GetAccountName() const;
  // Trims the text and resolves it through the account list (null when unknown).
  void SetAccountName(std::string_view name);

  std::string FillID;
  TPurchase BuySell = Buy;
  std::int32_t Lots = 0;
  double Price = 0;
  std::string OrderID;
  TFillStatus Status = flNORMAL;
  std::string DateFilled;
  std::string TimeFilled;
  std::string DateHostReceived;
  std::string TimeHostReceived;
  std::string ExchangeOrderID;
  TFillType FillType = fltpFILL;
  std::string UserName;
  std::string ExchangeFillID;
  std::string ExchangeRawPrice;
  std::string ExecutionID;
  bool IsSODFill = false;
  bool IsEODFill = false;
  std::int32_t FillSubType = 0;

  std::shared_ptr<TContractItem> Contract;
  std::shared_ptr<TTraderAccountItem> Account;

 private:
  friend class TFillQ;
  void Notify() const;

  // The list that holds the fill, for Purge; set when a list takes it.
  std::atomic<TFillQ*> list_{nullptr};
};

// "Fill": sorted, descending, keyed by TFill::Key, with a hash index by key beside the list.
class TFillQ : public TIndexListOf<TFill> {
 public:
  TFillQ();
  ~TFillQ() override;

  // While the contract has no last-trade price, the fill's price becomes its LastFillPrice,
  // and its FirstFillPrice when none was entered yet; then the keyed insertion (a duplicate key
  // is traced and refused).
  TAddResult Add(const TItem& item) override;
  int RemoveItem(const TStreamable* item) override;
  int RemoveKey(std::string_view key) override;
  int DeleteKey(std::string_view key) override;
  void FreeAt(int index) override;
  void Clear() override;
  void FreeAll() override;
  // Positional changes would bypass the index.
  void Insert(int index, const TItem& item) = delete;
  void Delete(int index) = delete;

  // By key through the index, or null.
  std::shared_ptr<TFill> FindByKey(std::string_view key) const;
  // The host fill of that ID, else the netted or retained one.
  std::shared_ptr<TFill> FindByID(std::string_view fillID) const;
  // Gives a listed fill a new type, moving it when its key changes. False, changing nothing,
  // when another fill holds the new key.
  bool SetFillType(const std::shared_ptr<TFill>& fill, TFillType type);
  // Copies of the references, in list order.
  std::vector<std::shared_ptr<TFill>> Snapshot() const;
  // Rebuilds the index after the list was loaded from a store (loading adds without it).
  void Reindex();

 protected:
  void KeyOf(const TFill& item, std::string& key) const override { key = item.Key(); }

 private:
  // Under the list's lock.
  void Unindex(const TFill& fill);

  std::unordered_map<std::string, std::shared_ptr<TFill>> byKey_;
};

}  // namespace vorn
