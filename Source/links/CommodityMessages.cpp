#include "links/CommodityMessages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/refdata/Exchange.h"
#include "core/session/ClassAPI.h"
#include "core/store/UUIDObjects.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"

namespace vorn {
namespace {

constexpr const char* kCommodityFields = "TMCommodity.ReceiveFields";
constexpr const char* kCommodityLegacy = "TMCommodity.Receive";
constexpr const char* kContractDateFields = "TMContractDate.ReceiveFields";
constexpr const char* kContractDateLegacy = "TMContractDate.Receive";

constexpr int kCommodityDelete = 3657;
constexpr int kCommodityAdd = 3655;
constexpr int kContractDateDelete = 3660;
constexpr int kLegacyCommodityDelete = 25;
constexpr int kLegacyContractLeg = 82;
constexpr int kLegacyContractDelete = 83;

// A finite number or 0.
double Decimal(std::string_view text) {
  const double value = SafeStrToFloat(text, 0.0);
  return std::isfinite(value) ? value : 0.0;
}

// "Act": '1' Active, '2' Inactive, any other first character leaves the state; absent Active.
void ApplyActive(TUUIDStreamable& item, std::string_view active) {
  active = TrimView(active);
  if (active.empty() || active[0] == '1')
    item.State = TUUIDStreamable::usActive;
  else if (active[0] == '2')
    item.State = TUUIDStreamable::usInactive;
}

// The "GUID" of an update. A listed item keeps its UUID when the message has none: a new one
// would cut it off from its own group and from the groups that name it. A different UUID moves
// the item from its old groups into the new one's.
void ReplaceUUID(TClassAPI& api, const std::shared_ptr<TUUIDStreamable>& item,
                 std::string_view uuid) {
  if (uuid.empty() || uuid == item->GetUUID()) return;
  api.UUIDObjects->LeaveGroups(*item);
  item->SetUUID(uuid);
  try {
    item->BelongsTo.Add(std::string(uuid));
    api.UUIDObjects->Add(item);
  } catch (...) {
    WriteErrorLogLine("Error adding UUIDstr to UUIDBelongsToList");
  }
}

// ---------------------------------------------------------------------------------------------
// Commodities.

struct TCommodityFigures {
  std::string Currency;
  std::string Group;
  double OnePoint = 0;
  std::int32_t TicksPerPoint = 0;
  double TickSize = 0;
};

// Finds or makes the commodity and writes the figures (and, for the tagged form, the state and
// UUID). A new commodity is listed with its UUID group, exchange membership and UUID log line.
// Returns the commodity, null when the list refused a new one.
template <class Apply>
std::shared_ptr<TCommodity> ApplyCommodity(TClassAPI& api, const std::string& exchange,
                                           const std::string& name, std::string_view uuid,
                                           bool& added, Apply apply) {
  TIndexListLock guard(api.Commodities);
  auto commodity = api.Commodities.FindCommodity(exchange, name);
  added = !commodity;
  if (!added) {
    apply(*commodity);
    ReplaceUUID(api, commodity, uuid);
    return commodity;
  }
  commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName(exchange);
  commodity->SetName(name);
  commodity->SetUUID(uuid);
  apply(*commodity);
  if (!api.Commodities.Add(commodity).Added) return nullptr;
  try {
    commodity->BelongsTo.Add(commodity->GetUUID());
    api.UUIDObjects->Add(commodity);
  } catch (...) {
    WriteErrorLogLine("Error adding UUIDstr to UUIDBelongsToList for a Commodity");
  }
  if (const auto& owner = commodity->Exchange()) owner->AddMember(commodity);
  WriteUUIDLine(kUUIDObjectFileName,
                name + "\t\t" + commodity->GetUUID() + "\t" + UUIDStatusToStr(commodity->State));
  return commodity;
}

}  // namespace

void ReceiveCommodity(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kCommodityFields);
  const int code = fields.IntValue("Msg");
  if (code == kCommodityDelete) return;
  const std::string exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  const std::string name = fields.BoundedValue("C", kCommodityNameWidth);
  const std::string active = fields.GetFieldValue("Act", 0);
  TCommodityFigures figures;
  figures.Currency = fields.BoundedValue("Cur", kCurrencyWidth);
  figures.OnePoint = Decimal(fields.GetFieldValue("VOP", 0));
  figures.TicksPerPoint = fields.IntValue("TPP");
  figures.TickSize = Decimal(fields.GetFieldValue("TSz", 0));

  bool added = false;
  const auto commodity = ApplyCommodity(api, exchange, name, fields.GetFieldValue("GUID", 0), added,
                                        [&](TCommodity& item) {
                                          item.Currency = figures.Currency;
                                          item.OnePoint = figures.OnePoint;
                                          item.TicksPerPoint = figures.TicksPerPoint;
                                          item.TickSize = figures.TickSize;
                                          ApplyActive(item, active);
                                        });
  if (DebugFlagOn(kDebugging)) {
    WriteTraceLine(std::string("Commodity ") + (added ? "(add): " : "(upd): ") + exchange + "\\" +
                   name);
    if (!added && code == kCommodityAdd)
      WriteTraceLine("  Attempted Insert of pre existing Commodity");
  }
  if (commodity && !api.Logon.DownloadInProgress)
    AddCommodityCallback(VN_CB_COMMODITY_UPDATED, exchange, name);
}

void ReceiveLegacyCommodity(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kCommodityLegacy);
  const int code = FixedBodyCode(body);
  const std::string exchange = Trim(GetFixedField(body, 4, 10));
  const std::string name = Trim(GetFixedField(body, 24, 10));
  if (code == kLegacyCommodityDelete) {
    if (DebugFlagOn(kDebugging)) WriteTraceLine("  Delete contract");
    // Whoever still holds the commodity or one of its contracts keeps it alive; the lists
    // only let go of them.
    if (const auto commodity = api.Commodities.FindCommodity(exchange, name))
      api.Commodities.RemoveItem(commodity.get());
    api.Contracts.RemoveCommodityContracts(exchange, name);
    return;
  }
  TCommodityFigures figures;
  figures.Currency = Trim(GetFixedField(body, 34, 10));
  figures.Group = Trim(GetFixedField(body, 44, 10));
  figures.OnePoint = Decimal(GetFixedField(body, 54, 10));
  figures.TicksPerPoint = SafeStrToInt(GetFixedField(body, 64, 10), 0);
  figures.TickSize = Decimal(GetFixedField(body, 74, 10));

  bool added = false;
  const auto commodity = ApplyCommodity(api, exchange, name, {}, added, [&](TCommodity& item) {
    item.Currency = figures.Currency;
    item.Group = figures.Group;
    item.OnePoint = figures.OnePoint;
    item.TicksPerPoint = figures.TicksPerPoint;
    item.TickSize = figures.TickSize;
  });
  if (DebugFlagOn(kDebugging))
    WriteTraceLine(std::string("Commodity ") + (added ? "(add): " : "(upd): ") + exchange + "\\" +
                   name);
  if (commodity && !api.Logon.DownloadInProgress)
    AddCommodityCallback(VN_CB_COMMODITY_UPDATED, exchange, name);
}

// ---------------------------------------------------------------------------------------------
// Contract dates.

std::string ContractDateDeltaLine(std::map<std::string, std::string>& previous,
                                  const TFieldsList& fields) {
  std::map<std::string, std::string> current;
  std::string line = "RMsg:";
  bool commodityChanged = false;
  const auto compare = [&](std::string key, std::string_view value) {
    const auto old = previous.find(key);
    if (old == previous.end() || old->second != value) {
      line += key;
      line += '=';
      line += value;
      line += ',';
      if (key == "C") commodityChanged = true;
    }
    if (old != previous.end()) previous.erase(old);
    current.insert_or_assign(std::move(key), std::string(value));
  };

  int legStart = fields.Count();
  for (int position = 0; position < fields.Count(); ++position) {
    if (SameText(fields.NameAt(position), "X1")) {
      legStart = position;
      break;
    }
    compare(std::string(fields.NameAt(position)), fields.ObjectAt(position)->Value(0));
  }
  // Leg values past the last one a reader can reach are not traced either.
  const int legs = legStart < fields.Count()
                       ? std::min(fields.GetValueCountAt(legStart), kMaxFieldValueIndex + 1)
                       : 0;
  for (int leg = 1; leg <= legs; ++leg) {
    const std::string prefix = "g" + IntToStr(leg) + ":";
    for (int position = legStart; position < fields.Count(); ++position)
      compare(prefix + std::string(fields.NameAt(position)),
              fields.ObjectAt(position)->Value(leg - 1));
  }

  for (const auto& [name, value] : previous)
    line += "**" + name + "**,";
  previous = std::move(current);
  if (commodityChanged) {
    line = "RMsg:";
    for (const auto& [name, value] : previous)
      line += name + "=" + value + ",";
  }
  return line;
}

void ReceiveContractDate(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kContractDateFields);
  const bool downloading = api.Logon.DownloadInProgress;
  if (downloading && TraceFileOpen()) {
    TIndexListLock guard(api.Contracts);
    WriteTraceLine(ContractDateDeltaLine(api.Contracts.PreviousDateFields(), fields));
  }
  const int code = fields.IntValue("Msg");
  const std::string exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  const std::string commodity = fields.BoundedValue("C", kCommodityNameWidth);
  if (!downloading && !api.Commodities.FindCommodity(exchange, commodity)) {
    if (DebugFlagOn(kDebugging))
      WriteTraceLine("ContractDate: unknown commodity " + exchange + "\\" + commodity);
    return;
  }
  const std::string date = fields.BoundedValue("CD", kContractDateWidth);
  // Waits, with no lock held, while the contract file is being read.
  api.Contracts.FindContract(exchange, commodity, date);

  TIndexListLock guard(api.Contracts);
  const auto contract = api.Contracts.FindByName(exchange, commodity, date);
  if (code == kContractDateDelete) {
    if (contract) {
      contract->Deleted = true;
      if (!downloading) AddContractCallback(VN_CB_CONTRACT_DELETED, exchange, commodity, date);
      if (DebugFlagOn(kDebugging))
        WriteTraceLine("  Market Name   " + exchange + "\r\n  Contract name  " + commodity +
                       "\r\n  Contract date  " + date + "\r\n  Flagged Deleted");
    }
  } else if (contract) {
    const std::string active = fields.GetFieldValue("Act", 0);
    const std::string uuid = Trim(fields.GetFieldValue("GUID", 0));
    if (!api.Contracts.UpdateFields(contract, std::move(fields)))
      WriteTraceLine("ContractDate: " + contract->GetDescription() + " not updated");
    ApplyActive(*contract, active);
    ReplaceUUID(api, contract, uuid);
    WriteUUIDLine(kUUIDObjectFileName, exchange + "/" + commodity + "/" + date + "\t\t" +
                                           contract->GetUUID() + "\t" +
                                           UUIDStatusToStr(contract->State));
  } else {
    const int index = api.Contracts.AddFromFields(exchange, commodity, date, std::move(fields));
    if (index >= 0 && !downloading) {
      api.Contracts.AddStoredContract(api.Contracts.FindByName(exchange, commodity, date));
      AddContractCallback(VN_CB_CONTRACT_ADDED, exchange, commodity, date);
    }
  }
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("ContractDate: " + exchange + "\\" + commodity + "\\" + date);
}

void ReceiveLegacyContractDate(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kContractDateLegacy);
  const int code = FixedBodyCode(body);
  const std::string exchange = Trim(GetFixedField(body, 4, 10));
  const std::string commodity = Trim(GetFixedField(body, 14, 10));
  const std::string date = Trim(GetFixedField(body, 24, 50));
  const bool downloading = api.Logon.DownloadInProgress;

  if (code == kLegacyContractDelete) {
    if (api.Contracts.FindContract(exchange, commodity, date) && !downloading)
      AddContractCallback(VN_CB_CONTRACT_DELETED, exchange, commodity, date);
    return;
  }
  if (code != kLegacyContractLeg) return;

  const std::string legText = Trim(GetFixedField(body, 74, 4));
  const int leg = SafeStrToInt(legText, 0);
  if (leg < 1 || leg > kMaxContractLegs) {
    WriteTraceLine("Invalid Leg Number: " + legText + " for " + exchange + " \\ " + commodity +
                   " \\ " + date);
    return;
  }
  if (!api.Commodities.FindCommodity(exchange, commodity)) return;
  const std::string expiry = Trim(GetFixedField(body, 78, 8));
  const std::string lastTrade = Trim(GetFixedField(body, 86, 8));
  const std::string margin = Trim(GetFixedField(body, 94, 10));
  std::string legFields[kLegFieldCount];
  for (int field = 0; field < kLegFieldCount; ++field)
    legFields[field] = Trim(GetFixedField(body, 104 + 10 * static_cast<std::size_t>(field), 10));

  api.Contracts.FindContract(exchange, commodity, date);
  TIndexListLock guard(api.Contracts);
  auto contract = api.Contracts.FindByName(exchange, commodity, date);
  if (!contract) {
    TFieldsList fields;
    fields.AddFieldValue("XD", expiry, 0, -1, false);
    fields.AddFieldValue("LT", lastTrade, 0, -1, false);
    fields.AddFieldValue("Mar", margin, 0, -1, false);
    std::string name = "X1";
    for (int field = 0; field < kLegFieldCount; ++field) {
      name[1] = static_cast<char>('1' + field);
      fields.AddFieldValue(name, legFields[field], leg, -1, false);
    }
    if (api.Contracts.AddFromFields(exchange, commodity, date, std::move(fields)) < 0) return;
    contract = api.Contracts.FindByName(exchange, commodity, date);
    if (!contract) return;
    if (!downloading) api.Contracts.AddStoredContract(contract);
  }
  for (int field = 0; field < kLegFieldCount; ++field)
    contract->SetLegField(leg, field + 1, legFields[field]);
  contract->RaiseLegs(leg);
  if (leg == 1 && !downloading)
    AddContractCallback(VN_CB_CONTRACT_ADDED, exchange, commodity, date);
  if (DebugFlagOn(kDebugging)) {
    WriteTraceLine("ContractDate: " + exchange + "\\" + commodity + "\\" + date);
    WriteTraceLine("  Leg Number: " + legText);
    WriteTraceLine("  Expiry Date: " + expiry);
    WriteTraceLine("  Last Trade Date: " + lastTrade);
    WriteTraceLine("  Margin Required: " + margin);
    std::string legs;
    for (const std::string& text : legFields)
      legs += (legs.empty() ? "" : " ") + text;
    WriteTraceLine("  Ext ID: " + legs);
  }
}

}  // namespace vorn
