#include "core/refdata/OrderType.h"

#include "core/util/Text.h"

namespace vorn {

const TStreamClass& TOrderTypeItem::Class() {
  static const TStreamClass& description = MakeStreamClass<TOrderTypeItem>(
      "TOrderTypeItem", &TStreamable::Class(),
      TPropertyTable<TOrderTypeItem>()
          .String("Name", &TOrderTypeItem::Name, &TOrderTypeItem::SetName)
          .String("ExchangeName", &TOrderTypeItem::ExchangeName, &TOrderTypeItem::SetExchangeName)
          .Integer("PricesRequired", &TOrderTypeItem::PricesRequired)
          .Integer("VolumesRequired", &TOrderTypeItem::VolumesRequired)
          .Integer("DatesRequired", &TOrderTypeItem::DatesRequired)
          // Encoded as an enumeration would be, but read without its range check: a code the
          // host sent beyond the named range must not make the rest of a store unreadable.
          .Integer("OrderTypeID", &TOrderTypeItem::OrderTypeID)
          .Boolean("AutoCreated", &TOrderTypeItem::AutoCreated)
          .Char("TimeTriggered", &TOrderTypeItem::TimeTriggered)
          .Char("RealSynthetic", &TOrderTypeItem::RealSynthetic)
          .Char("GTCFlag", &TOrderTypeItem::GTCFlag)
          .String("TicketType", &TOrderTypeItem::TicketType));
  return description;
}

TOrderTypeQ::TOrderTypeQ(TExchangeQ& exchanges)
    : TIndexListOf<TOrderTypeItem>("Order Type", &TOrderTypeItem::Class()), exchanges_(exchanges) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::string TOrderTypeQ::MakeKey(std::string_view exchange, std::string_view name) {
  return ExchangeItemKey(exchange, name);
}

std::shared_ptr<TOrderTypeItem> TOrderTypeQ::FindOrderType(std::string_view exchange,
                                                           std::string_view name) const {
  return Get(MakeKey(exchange, name));
}

std::shared_ptr<TOrderTypeItem> TOrderTypeQ::FindOrderTypeByID(std::string_view exchange,
                                                               std::int32_t typeID) const {
  const std::string_view name = TrimView(exchange);
  TIndexListLock guard(*this);
  for (int i = 0, count = Count(); i < count; ++i) {
    auto item = At(i);
    if (item->OrderTypeID == typeID && item->ExchangeName() == name) return item;
  }
  return nullptr;
}

std::shared_ptr<TOrderTypeItem> TOrderTypeQ::FindOrMakeOrderType(std::string_view exchange,
                                                                 std::string_view name,
                                                                 const TMadeOrderType& made) {
  TIndexListLock guard(*this);
  if (auto type = FindOrderType(exchange, name)) return type;
  auto type = std::make_shared<TOrderTypeItem>();
  type->SetExchangeName(exchange);
  type->SetName(Trim(name));
  type->OrderTypeID = static_cast<TOrderTypes>(made.OrderTypeID);
  type->AutoCreated = made.AutoCreated;
  type->PricesRequired = made.PricesRequired;
  Add(type);
  return type;
}

TAddResult TOrderTypeQ::Add(const TItem& item) {
  if (auto* orderType = dynamic_cast<TOrderTypeItem*>(item.get())) {
    if (!orderType->Exchange() && !orderType->ExchangeName().empty()) {
      if (auto exchange = exchanges_.FindExchange(orderType->ExchangeName()))
        orderType->SetExchange(std::move(exchange));
    }
  }
  return TIndexListOf<TOrderTypeItem>::Add(item);
}

void WriteOrderTypeRecord(const TOrderTypeItem& type, OrderTypeStruct& record) {
  PutFixed(record.Name, type.Name());
  PutFixed(record.ExchangeName, type.ExchangeName());
  record.OrderTypeID = type.OrderTypeID;
  record.PricesRequired = type.PricesRequired;
  record.VolumesRequired = type.VolumesRequired;
  record.DatesRequired = type.DatesRequired;
  record.AutoCreated = type.AutoCreated ? 'Y' : 'N';
  record.TimeTriggered = type.TimeTriggered;
  record.RealSynthetic = type.RealSynthetic;
  record.GTCFlag = type.GTCFlag;
  PutFixed(record.TicketType, type.TicketType);
}

}  // namespace vorn
