#include "core/refdata/Commodity.h"

#include "core/events/Callbacks.h"
#include "core/util/Text.h"

namespace vorn {

const TStreamClass& TCommodity::Class() {
  static const TStreamClass& description = MakeStreamClass<TCommodity>(
      "TCommodity", &TUUIDStreamable::Class(),
      TPropertyTable<TCommodity>()
          .String("ExchangeName", &TCommodity::ExchangeName, &TCommodity::SetExchangeName)
          .String("Name", &TCommodity::Name, &TCommodity::SetName)
          .String("Currency", &TCommodity::Currency)
          .String("Group", &TCommodity::Group)
          .Float("OnePoint", &TCommodity::OnePoint)
          .Float("TickSize", &TCommodity::TickSize)
          .Integer("TicksPerPoint", &TCommodity::TicksPerPoint)
          // The live depth count is the subscription book's; a stored one would be stale after
          // a restart, so the store keeps only the property's place.
          .Integer(
              "MarketSubscriptionCount", [](const TCommodity&) { return 0; },
              [](TCommodity&, std::int32_t) {}));
  return description;
}

// Active before the members are told: a contract that activates its inactive commodity would
// otherwise start this again, without end.
void TCommodity::Activate(bool) {
  SetTimeStamp(skActivation);
  State = usActive;
  NotifyMembers(maActivate, 0);
  AddCommodityCallback(VN_CB_COMMODITY_UPDATED, ExchangeName(), Name());
}

void TCommodity::Deactivate(bool flag) {
  SetTimeStamp(skDeactivation);
  if (flag) NotifyMembers(maDeactivate, 0);
  State = usInactive;
  AddCommodityCallback(VN_CB_COMMODITY_UPDATED, ExchangeName(), Name());
}

void TCommodity::Expire() {
  SetTimeStamp(skExpiry);
  NotifyMembers(maExpire, 0);
  State = usExpired;
  AddCommodityCallback(VN_CB_COMMODITY_UPDATED, ExchangeName(), Name());
}

void TCommodity::Purge(TDateTime time) {
  NotifyMembers(maPurge, time);
}

TCommodityQ::TCommodityQ(TExchangeQ& exchanges)
    : TIndexListOf<TCommodity>("Commodities", &TCommodity::Class()), exchanges_(exchanges) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::string TCommodityQ::MakeKey(std::string_view exchange, std::string_view name) {
  return ExchangeItemKey(exchange, name);
}

std::shared_ptr<TCommodity> TCommodityQ::FindCommodity(std::string_view exchange,
                                                       std::string_view name) const {
  return Get(MakeKey(exchange, name));
}

TAddResult TCommodityQ::Add(const TItem& item) {
  if (auto* commodity = dynamic_cast<TCommodity*>(item.get())) {
    if (!commodity->Exchange() && !commodity->ExchangeName().empty())
      commodity->SetExchange(exchanges_.FindOrAdd(commodity->ExchangeName()));
  }
  return TIndexListOf<TCommodity>::Add(item);
}

}  // namespace vorn
