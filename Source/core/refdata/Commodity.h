#pragma once
// Commodities: the commodity item and the commodity list.
//
// A commodity's key is its trimmed exchange name and trimmed Name joined by chr(1). Both are set
// before the commodity is listed and never changed while it is listed (the setters leave an
// unchanged value untouched, so writing the same names again is harmless); the key text is
// kept with the item for the list's searches. Other fields of a listed commodity are changed
// and read under the list's lock.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/refdata/Exchange.h"
#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

// Its exchange is resolved when it is added to its list; an unknown one is made then.
class TCommodity : public TExchangeItem<TUUIDStreamable> {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  // Stamp of the kind, members told (Deactivate: when asked), state, then the commodity event
  // (id 32) with the exchange and commodity names.
  void Activate(bool flag) override;
  void Deactivate(bool flag) override;
  void Expire() override;
  // Purges the members with the time.
  void Purge(TDateTime time) override;

  std::string Currency;
  std::string Group;
  double OnePoint = 0;
  double TickSize = 0;
  std::int32_t TicksPerPoint = 0;

 private:
};

// "Commodities": sorted by exchange name and Name.
class TCommodityQ : public TIndexListOf<TCommodity> {
 public:
  // Commodities find their exchanges in the given list, which must outlive this one. While an
  // add or a load holds this list's lock it takes the exchange list's, never the other way.
  explicit TCommodityQ(TExchangeQ& exchanges);

  // Trim(exchange) + chr(1) + Trim(name).
  static std::string MakeKey(std::string_view exchange, std::string_view name);
  // By the key, or null.
  std::shared_ptr<TCommodity> FindCommodity(std::string_view exchange, std::string_view name) const;

  // A commodity with an exchange name but no exchange first gets its exchange from the exchange
  // list, made there when unknown (also for a commodity that is then refused).
  TAddResult Add(const TItem& item) override;

 protected:
  void KeyOf(const TCommodity& item, std::string& key) const override { key = item.Key(); }

 private:
  TExchangeQ& exchanges_;
};

}  // namespace vorn
