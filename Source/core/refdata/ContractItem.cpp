#include "core/refdata/ContractItem.h"

#include <algorithm>
#include <utility>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/store/ObjStream.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {

TCommodityFacts ReadCommodityFactsUnlocked(const TCommodity& commodity) {
  TCommodityFacts facts;
  facts.TickSize = commodity.TickSize;
  facts.TicksPerPoint = commodity.TicksPerPoint;
  facts.OnePoint = commodity.OnePoint;
  facts.Currency = commodity.Currency;
  facts.State = commodity.State;
  if (const auto& exchange = commodity.Exchange()) facts.TicketType = exchange->TicketType;
  return facts;
}

// ---------------------------------------------------------------------------------------------
// Contract item

TContractItem::TContractItem() : ownLast_(EmptyPriceEntry()) {
  RebuildKeysLocked();
}

TContractItem::~TContractItem() = default;

const TStreamClass& TContractItem::Class() {
  using C = TContractItem;
  // Besides the names, the values read from the field list are stored: the field list itself is
  // not, so a contract read back from a store keeps its dates, margin and tick figures.
  auto setText = [](std::optional<std::string> TFieldValues::*slot) {
    return [slot](C& c, std::string value) {
      std::lock_guard guard(c.dataLock_);
      c.values_.*slot = std::move(value);
    };
  };
  auto setKeyPart = [](std::string C::*field) {
    return [field](C& c, std::string value) {
      std::lock_guard guard(c.dataLock_);
      if (c.*field == value) return;
      std::string old = std::exchange(c.*field, std::move(value));
      if (c.Listed()) {
        c.*field = std::move(old);
        throw EListError("The key of a listed contract cannot change in place");
      }
      c.RebuildKeysLocked();
    };
  };
  static const TStreamClass& description = MakeStreamClass<C>(
      "TContractItem", &TUUIDStreamable::Class(),
      TPropertyTable<C>()
          .String("ExchangeStr", &C::ExchangeStr, setKeyPart(&C::exchange_))
          .String("CommodityStr", &C::CommodityStr, setKeyPart(&C::commodity_))
          .String("ExpiryDate", &C::GetExpiryDate, setKeyPart(&C::expiryDate_))
          .String("TypeCode", &C::GetTypeCode, setKeyPart(&C::typeCode_))
          .String("LastTradeDate", &C::GetLastTradeDate, setText(&TFieldValues::LastTradeDate))
          .Integer("Legs", &C::GetLegs,
                   [](C& c, std::int32_t value) {
                     std::lock_guard guard(c.dataLock_);
                     c.values_.Legs = value;
                   })
          .Float("MarginRequired", &C::GetMarginRequired,
                 [](C& c, double value) {
                   std::lock_guard guard(c.dataLock_);
                   c.values_.MarginRequired = value;
                 })
          .Float("TickSize", &C::GetOwnTickSize,
                 [](C& c, double value) {
                   std::lock_guard guard(c.dataLock_);
                   c.values_.TickSize = value;
                 })
          .Integer("TicksPerPoint", &C::GetOwnTicksPerPoint,
                   [](C& c, std::int32_t value) {
                     std::lock_guard guard(c.dataLock_);
                     c.values_.TicksPerPoint = value;
                   })
          .String("Margin", &C::GetMargin, setText(&TFieldValues::Margin))
          .String("MarketReference", &C::GetMarketReference,
                  setText(&TFieldValues::MarketReference))
          .Char("ESATemplate", &C::GetESATemplate,
                [](C& c, char value) {
                  std::lock_guard guard(c.dataLock_);
                  c.values_.ESATemplate = value;
                })
          .String("lnExchange", &C::GetlnExchange, setText(&TFieldValues::lnExchange))
          .String("lnCommodity", &C::GetlnCommodity, setText(&TFieldValues::lnCommodity))
          .String("lnContractDate", &C::GetlnContractDate, setText(&TFieldValues::lnContractDate))
          .String("UUID", &C::GetUUID, &C::SetUUID)
          .Integer(
              "State", [](const C& c) { return c.State.load(); },
              [](C& c, std::int32_t value) { c.State = value; })
          .Boolean(
              "Deleted", [](const C& c) { return c.Deleted.load(); },
              [](C& c, bool value) { c.Deleted.store(value); }));
  return description;
}

void TContractItem::WriteExtra(TStream& stream) const {
  stream.WriteFloat(GetPrice(kOwnLastPriceKind).Value);
  std::lock_guard guard(dataLock_);
  stream.WriteString(exchange_);
  stream.WriteString(commodity_);
  stream.WriteString(contractDate_);
  LoadLegsLocked();
  for (const auto& leg : legs_) {
    for (const auto& field : leg)
      stream.WriteString(field);
  }
}

void TContractItem::ReadExtra(TStream& stream) {
  const double lastPrice = stream.ReadFloat();
  std::string exchange = stream.ReadString();
  std::string commodity = stream.ReadString();
  std::string contractDate = stream.ReadString();
  TLegTable legs;
  for (auto& leg : legs) {
    for (auto& field : leg)
      field = stream.ReadString();
  }
  SetNames(exchange, commodity, contractDate);
  {
    std::lock_guard guard(dataLock_);
    legs_ = std::move(legs);
    legsLoaded_ = true;
  }
  std::lock_guard guard(priceLock_);
  PriceEntry& own = prices_ ? (*prices_)[kOwnLastPriceKind] : ownLast_;
  own = EmptyPriceEntry();
  own.Value = lastPrice;
  own.Unset = lastPrice != 0 ? 0 : 1;
}

void TContractItem::Activate(bool) {
  SetTimeStamp(skActivation);
  UpdateChildList();
  NotifyMembers(maActivate, 0);
  State = usActive;
  if (auto commodity = GetCommodity()) {
    const auto facts = CommodityFacts();
    if (facts && facts->State != usActive) commodity->Activate(true);
  }
  if (IsPriceSubscribed()) PostContractEvent();
}

void TContractItem::Deactivate(bool flag) {
  SetTimeStamp(skDeactivation);
  UpdateChildList();
  if (flag) NotifyMembers(maDeactivate, 0);
  State = usInactive;
  if (IsPriceSubscribed()) PostContractEvent();
}

void TContractItem::Expire() {
  SetTimeStamp(skExpiry);
  UpdateChildList();
  NotifyMembers(maExpire, 0);
  State = usExpired;
  PostContractEvent();
}

void TContractItem::Purge(TDateTime time) {
  UpdateChildList();
  NotifyMembers(maPurge, time);
}

void TContractItem::UpdateChildList() {
  const auto services = Services();
  if (!services || !services->ResolveMember) return;
  try {
    std::vector<std::shared_ptr<TUUIDStreamable>> members;
    {
      auto locked = Members.LockList();
      for (const auto& entry : *locked) {
        if (auto member = entry.lock()) members.push_back(std::move(member));
      }
    }
    std::vector<std::pair<TUUIDStreamable*, std::shared_ptr<TUUIDStreamable>>> replaced;
    for (const auto& member : members) {
      auto current = services->ResolveMember(member);
      if (!current || current == member) continue;
      // The replacement gets copies of the group texts: two items never share one list.
      std::vector<std::string> groups;
      {
        auto locked = member->BelongsTo.LockList();
        groups = *locked;
      }
      {
        auto locked = current->BelongsTo.LockList();
        for (auto& group : groups) {
          if (std::find(locked->begin(), locked->end(), group) == locked->end())
            locked->push_back(std::move(group));
        }
      }
      replaced.emplace_back(member.get(), std::move(current));
    }
    if (replaced.empty()) return;
    auto locked = Members.LockList();
    for (auto& entry : *locked) {
      const auto member = entry.lock();
      for (const auto& [old, current] : replaced) {
        if (member.get() == old) entry = current;
      }
    }
  } catch (...) {
    WriteErrorLogLine("Error updating Contractitem childlist");
  }
}

void TContractItem::PostContractEvent() const {
  const TContractKey key = Key();
  AddContractCallback(VN_CB_CONTRACT_UPDATE, key.Exchange, key.Commodity, key.ContractDate);
}

// --- Names and keys --------------------------------------------------------------------------

std::string TContractItem::ExchangeStr() const {
  std::lock_guard guard(dataLock_);
  return exchange_;
}

std::string TContractItem::CommodityStr() const {
  std::lock_guard guard(dataLock_);
  return commodity_;
}

std::string TContractItem::ContractDate() const {
  std::lock_guard guard(dataLock_);
  return contractDate_;
}

void TContractItem::SetNames(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate) {
  std::lock_guard guard(dataLock_);
  CheckKeysLocked(MakeSortKey(exchange, commodity, typeCode_, expiryDate_, contractDate),
                  MakeNameKey(exchange, commodity, contractDate));
  exchange_ = exchange;
  commodity_ = commodity;
  contractDate_ = contractDate;
  RebuildKeysLocked();
}

TContractKey TContractItem::Key() const {
  std::lock_guard guard(dataLock_);
  return {exchange_, commodity_, contractDate_};
}

std::string TContractItem::GetDescription() const {
  std::lock_guard guard(dataLock_);
  return exchange_ + " \\ " + commodity_ + " \\ " + contractDate_;
}

std::string TContractItem::SortKey() const {
  std::lock_guard guard(dataLock_);
  return sortKey_;
}

std::string TContractItem::NameKey() const {
  std::lock_guard guard(dataLock_);
  return nameKey_;
}

std::string TContractItem::MakeSortKey(std::string_view exchange, std::string_view commodity,
                                       std::string_view typeCode, std::string_view expiryDate,
                                       std::string_view contractDate) {
  std::string key;
  key.reserve(exchange.size() + commodity.size() + expiryDate.size() + contractDate.size() + 3);
  key += exchange;
  key += '\1';
  key += commodity;
  key += '\1';
  key += RankLetter(typeCode);
  key += expiryDate;
  key += contractDate;
  return key;
}

std::string TContractItem::MakeNameKey(std::string_view exchange, std::string_view commodity,
                                       std::string_view contractDate) {
  const std::string_view e = TrimView(exchange);
  const std::string_view c = TrimView(commodity);
  const std::string_view d = TrimView(contractDate);
  std::string key;
  key.reserve(e.size() + c.size() + d.size() + 2);
  key += e;
  key += '\1';
  key += c;
  key += '\1';
  key += d;
  return key;
}

char TContractItem::RankLetter(std::string_view typeCode) {
  if (typeCode == "F") return 'E';
  if (typeCode == "C" || typeCode == "P") return 'K';
  if (typeCode == "EF") return 'P';
  return 'Q';
}

void TContractItem::RebuildKeysLocked() {
  sortKey_ = MakeSortKey(exchange_, commodity_, typeCode_, expiryDate_, contractDate_);
  nameKey_ = MakeNameKey(exchange_, commodity_, contractDate_);
}

void TContractItem::CheckKeysLocked(const std::string& sortKey, const std::string& nameKey) const {
  if (Listed() && (sortKey != sortKey_ || nameKey != nameKey_))
    throw EListError("The key of a listed contract cannot change in place");
}

// --- Commodity -------------------------------------------------------------------------------

std::shared_ptr<const TContractServices> TContractItem::Services() const {
  std::lock_guard guard(dataLock_);
  return services_;
}

void TContractItem::SetServices(std::shared_ptr<const TContractServices> services) {
  std::lock_guard guard(dataLock_);
  services_ = std::move(services);
}

std::shared_ptr<TCommodity> TContractItem::GetCommodity() const {
  std::shared_ptr<const TContractServices> services;
  std::string exchange;
  std::string commodity;
  {
    std::lock_guard guard(dataLock_);
    if (commodityItem_) return commodityItem_;
    services = services_;
    exchange = exchange_;
    commodity = commodity_;
  }
  // The commodity list's lock comes before this contract's: looked up with none held.
  if (!services || !services->FindCommodity) return nullptr;
  auto found = services->FindCommodity(exchange, commodity);
  if (!found) return nullptr;
  std::lock_guard guard(dataLock_);
  if (!commodityItem_) commodityItem_ = std::move(found);
  return commodityItem_;
}

void TContractItem::SetCommodity(const std::shared_ptr<TCommodity>& commodity) {
  if (!commodity) return;
  std::lock_guard guard(dataLock_);
  if (commodity == commodityItem_) return;
  const std::string& exchange = commodity->ExchangeName();
  const std::string& name = commodity->Name();
  CheckKeysLocked(MakeSortKey(exchange, name, typeCode_, expiryDate_, contractDate_),
                  MakeNameKey(exchange, name, contractDate_));
  commodityItem_ = commodity;
  exchange_ = exchange;
  commodity_ = name;
  RebuildKeysLocked();
}

std::optional<TCommodityFacts> TContractItem::CommodityFacts() const {
  const auto commodity = GetCommodity();
  if (!commodity) return std::nullopt;
  const auto services = Services();
  if (services && services->ReadCommodity) return services->ReadCommodity(*commodity);
  return ReadCommodityFactsUnlocked(*commodity);
}

std::string ContractExchange(const TContractItem& contract) {
  if (auto commodity = contract.GetCommodity()) return commodity->ExchangeName();
  return contract.ExchangeStr();
}

// --- Fields ----------------------------------------------------------------------------------

void TContractItem::SetFields(TFieldsList fields) {
  fields.KeepText();  // the list outlives the body it was parsed from
  std::string expiry = Copy(fields.GetFieldValue("XD", 0), 1, 8);
  std::string typeCode = Trim(fields.GetFieldValue("X1", 0));
  std::lock_guard guard(dataLock_);
  CheckKeysLocked(MakeSortKey(exchange_, commodity_, typeCode, expiry, contractDate_), nameKey_);
  fields_ = std::move(fields);
  expiryDate_ = std::move(expiry);
  typeCode_ = std::move(typeCode);
  values_ = {};
  legs_ = {};
  legsLoaded_ = false;
  RebuildKeysLocked();
}

std::string TContractItem::GetFieldValue(std::string_view name, int index) const {
  std::lock_guard guard(dataLock_);
  return fields_.GetFieldValue(name, index);
}

std::string TContractItem::FieldLocked(std::string_view name) const {
  return fields_.GetFieldValue(name, 0);
}

template <class T, class Read>
T TContractItem::Lazy(std::optional<T> TFieldValues::*slot, Read read) const {
  std::lock_guard guard(dataLock_);
  auto& value = values_.*slot;
  if (!value) value = read();
  return *value;
}

std::string TContractItem::GetExpiryDate() const {
  std::lock_guard guard(dataLock_);
  return expiryDate_;
}

std::string TContractItem::GetTypeCode() const {
  std::lock_guard guard(dataLock_);
  return typeCode_;
}

std::string TContractItem::GetLastTradeDate() const {
  return Lazy(&TFieldValues::LastTradeDate, [this] { return Copy(FieldLocked("LT"), 1, 8); });
}

int TContractItem::GetLegs() const {
  std::lock_guard guard(dataLock_);
  return LegsLocked();
}

int TContractItem::LegsLocked() const {
  if (!values_.Legs) values_.Legs = fields_.GetFieldCount("X1");
  return *values_.Legs;
}

double TContractItem::GetMarginRequired() const {
  return Lazy(&TFieldValues::MarginRequired,
              [this] { return SafeStrToFloat(FieldLocked("Mar"), 0.0); });
}

double TContractItem::GetOwnTickSize() const {
  return Lazy(&TFieldValues::TickSize, [this] { return SafeStrToFloat(FieldLocked("TSz"), 0.0); });
}

std::int32_t TContractItem::GetOwnTicksPerPoint() const {
  return Lazy(&TFieldValues::TicksPerPoint, [this] { return SafeStrToInt(FieldLocked("TPP"), 0); });
}

double TContractItem::GetTickSize() const {
  const double own = GetOwnTickSize();
  if (own != 0) return own;
  const auto facts = CommodityFacts();
  return facts ? facts->TickSize : 0.0;
}

std::int32_t TContractItem::GetTicksPerPoint() const {
  const std::int32_t own = GetOwnTicksPerPoint();
  if (own != 0) return own;
  const auto facts = CommodityFacts();
  return facts ? facts->TicksPerPoint : 0;
}

std::string TContractItem::GetMarketReference() const {
  return Lazy(&TFieldValues::MarketReference, [this] { return FieldLocked("MkR"); });
}

char TContractItem::GetESATemplate() const {
  return Lazy(&TFieldValues::ESATemplate, [this] {
    const std::string text = FieldLocked("ETe");
    return text.empty() ? '\0' : text[0];
  });
}

std::string TContractItem::GetMargin() const {
  return Lazy(&TFieldValues::Margin, [this] { return FieldLocked("Mar"); });
}

std::string TContractItem::GetlnExchange() const {
  return Lazy(&TFieldValues::lnExchange, [this] { return FieldLocked("lnEx"); });
}

std::string TContractItem::GetlnCommodity() const {
  return Lazy(&TFieldValues::lnCommodity, [this] { return FieldLocked("lnC"); });
}

std::string TContractItem::GetlnContractDate() const {
  return Lazy(&TFieldValues::lnContractDate, [this] { return FieldLocked("lnCD"); });
}

void TContractItem::LoadLegsLocked() const {
  if (legsLoaded_) return;
  legsLoaded_ = true;
  const int legs = LegsLocked();
  if (legs > kMaxContractLegs)
    WriteTraceLine("Contract " + exchange_ + "\\" + commodity_ + "\\" + contractDate_ + " has " +
                   IntToStr(legs) + " legs; the leg table keeps the first " +
                   IntToStr(kMaxContractLegs));
  const int count = std::min(legs, kMaxContractLegs);
  std::string name = "X1";
  for (int leg = 0; leg < count; ++leg) {
    for (int field = 0; field < kLegFieldCount; ++field) {
      name[1] = static_cast<char>('1' + field);
      legs_[leg][field] = Trim(fields_.GetFieldValue(name, leg));
    }
  }
}

std::string TContractItem::GetLegField(int leg, int field) const {
  if (leg < 1 || leg > kMaxContractLegs || field < 1 || field > kLegFieldCount) return {};
  std::lock_guard guard(dataLock_);
  LoadLegsLocked();
  return legs_[leg - 1][field - 1];
}

void TContractItem::SetLegField(int leg, int field, std::string_view text) {
  if (leg < 1 || leg > kMaxContractLegs || field < 1 || field > kLegFieldCount) return;
  std::lock_guard guard(dataLock_);
  LoadLegsLocked();
  legs_[leg - 1][field - 1] = text;
}

void TContractItem::RaiseLegs(int legs) {
  if (legs < 1 || legs > kMaxContractLegs) return;
  std::lock_guard guard(dataLock_);
  if (legs > LegsLocked()) values_.Legs = legs;
}

bool TContractItem::IsOption() const {
  const std::string type = GetLegField(1, 1);
  return !type.empty() && (type[0] == 'C' || type[0] == 'P');
}

bool TContractItem::IsPermittedFor(bool strategyFlag, char ticketType, std::string_view leg1Type) {
  if (strategyFlag || ticketType != 'E') return true;
  if (leg1Type == "C" || leg1Type == "P") return true;
  for (const char* code : kStrategyTypeCodes) {
    if (leg1Type == code) return false;
  }
  return true;
}

bool TContractItem::IsPermitted() const {
  const auto services = Services();
  const bool flag = services && services->StrategyPermission && services->StrategyPermission();
  if (flag) return true;
  const auto facts = CommodityFacts();
  if (!facts) return true;
  return IsPermittedFor(flag, facts->TicketType, GetLegField(1, 1));
}

}  // namespace vorn
