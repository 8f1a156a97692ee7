#pragma once
// Order types: the order type item and the order type list.
//
// An order type's key is its trimmed exchange name and trimmed Name joined by chr(1). Both are
// set before the item is listed and never changed while it is listed (the setters leave an
// unchanged value untouched); the key text is kept with the item for the list's searches.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/refdata/Exchange.h"
#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "vornintf.h"

namespace vorn {

// The host's order type codes (0 to 500); the named ones are those the library acts on.
enum TOrderTypes : std::int16_t {
  otMarket = VN_OT_MARKET,
  otLimit = VN_OT_LIMIT,
  otStop = VN_OT_STOP,
  otSyntheticStop = VN_OT_SYNTHETIC_STOP,
  otSyntheticStopLimit = VN_OT_SYNTHETIC_STOP_LIMIT,
  otSyntheticMIT = VN_OT_SYNTHETIC_MIT,
  otSyntheticMLM = VN_OT_SYNTHETIC_MLM,
  otAggregateOrder = VN_OT_AGGREGATE_ORDER,
  otCrossing = VN_OT_CROSSING,
  otBasis = VN_OT_BASIS,
  otBlock = VN_OT_BLOCK,
  otAgainstActual = VN_OT_AGAINST_ACTUAL,
  otCrossingFAK = VN_OT_CROSSING_FAK,
  otRFQi = VN_OT_RFQI,
  otRFQt = VN_OT_RFQT,
  otGTCLimit = VN_OT_GTC_LIMIT,
  otGTDStopLimit = VN_OT_GTD_STOP_LIMIT,
  otGTDLimit = VN_OT_GTD_LIMIT,
  otIceberg = VN_OT_ICEBERG,
  otGhost = VN_OT_GHOST,
  otTrStop = VN_OT_TR_STOP,
  otProtect = VN_OT_PROTECT,
};

// OrderTypeID of a locally made "CustReq" order type (as the host's order messages make it).
inline constexpr std::int32_t kCustomerRequestTypeID = 26;

// Synthetic types are held locally and released on a trigger, never sent as they are.
constexpr bool IsSyntheticOrderType(std::int32_t id) {
  return id == otSyntheticStop || id == otSyntheticStopLimit || id == otSyntheticMIT ||
         id == otSyntheticMLM;
}

// Its exchange is resolved when it is added to its list and stays null when unknown.
class TOrderTypeItem : public TExchangeItem<TStreamable> {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  bool IsSynthetic() const { return IsSyntheticOrderType(OrderTypeID); }

  std::uint8_t PricesRequired = 0;
  std::uint8_t VolumesRequired = 0;
  std::uint8_t DatesRequired = 0;
  TOrderTypes OrderTypeID{};
  bool AutoCreated = false;
  char TimeTriggered = '\0';
  char RealSynthetic = '\0';
  char GTCFlag = '\0';
  std::string TicketType = "00";

 private:
};

// What an order type that FindOrMakeOrderType makes holds besides its names.
struct TMadeOrderType {
  std::int32_t OrderTypeID = 0;
  bool AutoCreated = true;
  std::uint8_t PricesRequired = 0;
};

// "Order Type": sorted by exchange name and Name.
class TOrderTypeQ : public TIndexListOf<TOrderTypeItem> {
 public:
  // Order types find their exchanges in the given list, which must outlive this one. While an
  // add or a load holds this list's lock it takes the exchange list's, never the other way.
  explicit TOrderTypeQ(TExchangeQ& exchanges);

  // Trim(exchange) + chr(1) + Trim(name).
  static std::string MakeKey(std::string_view exchange, std::string_view name);
  // By the key, or null.
  std::shared_ptr<TOrderTypeItem> FindOrderType(std::string_view exchange,
                                                std::string_view name) const;
  // The first order type of that (trimmed) exchange name with that id, or null.
  std::shared_ptr<TOrderTypeItem> FindOrderTypeByID(std::string_view exchange,
                                                    std::int32_t typeID) const;

  // The order type of that exchange and name; when there is none, a new one of the trimmed
  // names and made's values, added. Finding and adding hold the list's lock, so two callers
  // never both add one.
  std::shared_ptr<TOrderTypeItem> FindOrMakeOrderType(std::string_view exchange,
                                                      std::string_view name,
                                                      const TMadeOrderType& made);

  // An order type with an exchange name but no exchange first looks its exchange up.
  TAddResult Add(const TItem& item) override;

 protected:
  void KeyOf(const TOrderTypeItem& item, std::string& key) const override { key = item.Key(); }

 private:
  TExchangeQ& exchanges_;
};

// Writes the order type's fields into the record, each text cut to its field (the query export
// and the order type event share it). Call under the order type list's lock.
void WriteOrderTypeRecord(const TOrderTypeItem& type, OrderTypeStruct& record);

}  // namespace vorn
