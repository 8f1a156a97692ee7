#include "links/ExchangeMessages.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/OrderType.h"
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

constexpr const char* kExchangeFields = "TMExchange.ReceiveFields";
constexpr const char* kExchangeLegacy = "TMExchange.Receive";
constexpr const char* kOrderTypeFields = "TMOrderType.ReceiveFields";
constexpr const char* kOrderTypeLegacy = "TMOrderType.Receive";
constexpr const char* kExchangeRateFields = "TMExchangeRate.ReceiveFields";
constexpr const char* kExchangeRateLegacy = "TMExchangeRate.Receive";

constexpr std::int32_t kExchangeDelete = 3666;
constexpr std::int32_t kOrderTypeUpdate = 3668;
constexpr std::int32_t kOrderTypeDelete = 3669;
constexpr std::int32_t kExchangeRateAdd = 3661;
constexpr std::int32_t kExchangeRateUpdate = 3662;
constexpr std::int32_t kExchangeRateDelete = 3663;
constexpr std::int32_t kLegacyExchangeAdd = 46;
constexpr std::int32_t kLegacyExchangeDelete = 47;
constexpr std::int32_t kLegacyOrderTypeUpdate = 59;
constexpr std::int32_t kLegacyOrderTypeDelete = 60;

std::int32_t MessageCode(const TFieldsList& fields) {
  return fields.IntValue("Msg");
}

// "Act": '1' Active, '2' Inactive, another character leaves the state, none Active.
void ApplyState(TUUIDStreamable& item, std::string_view act) {
  if (act.empty()) {
    item.State = TUUIDStreamable::usActive;
  } else if (act[0] == '1') {
    item.State = TUUIDStreamable::usActive;
  } else if (act[0] == '2') {
    item.State = TUUIDStreamable::usInactive;
  }
}

// The first character of a value, when there is one.
std::optional<char> FirstChar(std::string_view value) {
  if (value.empty()) return std::nullopt;
  return value.front();
}

// A new exchange joins its own UUID's group, the API object's UUID objects and the UUID log.
void RegisterExchangeUUID(TClassAPI& api, const std::shared_ptr<TExchange>& exchange,
                          const std::string& uuid, std::int32_t state) {
  try {
    exchange->BelongsTo.Add(std::string(uuid));
    api.UUIDObjects->Add(exchange);
  } catch (...) {
    WriteErrorLogLine("Error adding UUIDstr to UUIDBelongsToList for an Exchange");
  }
  WriteUUIDLine(kUUIDObjectFileName,
                exchange->Name() + "\t\t" + uuid + "\t" + UUIDStatusToStr(state));
}

// "CustReq" and "AggOrder" for the exchange, each only when it has no order type of that name:
// the list keeps the one it holds.
void AddOMIOrderTypes(TClassAPI& api, const std::shared_ptr<TExchange>& exchange) {
  struct TAutoType {
    const char* Name;
    std::int32_t ID;
    std::uint8_t PricesRequired;
  };
  static constexpr TAutoType kAutoTypes[] = {{"CustReq", kCustomerRequestTypeID, 1},
                                             {"AggOrder", otAggregateOrder, 0}};
  TIndexListLock guard(api.OrderTypes);
  for (const TAutoType& type : kAutoTypes) {
    if (api.OrderTypes.FindOrderType(exchange->Name(), type.Name)) continue;
    auto item = std::make_shared<TOrderTypeItem>();
    item->SetExchange(exchange);
    item->SetName(type.Name);
    item->OrderTypeID = static_cast<TOrderTypes>(type.ID);
    item->AutoCreated = true;
    item->PricesRequired = type.PricesRequired;
    api.OrderTypes.Add(item);
  }
}

bool IsOMIOrderType(std::string_view name) {
  return name == "CustReq" || name == "AggOrder";
}

bool IsCapabilityID(std::int32_t typeID) {
  return typeID == 22 || typeID == 23 || (typeID >= 42 && typeID <= 45);
}

// The exchange (found or made) of a capability id takes the capability.
void SetExchangeCapability(TClassAPI& api, std::string_view exchangeName, std::int32_t typeID) {
  TIndexListLock guard(api.Exchanges);
  const auto exchange = api.Exchanges.FindOrAdd(exchangeName);
  if (!exchange) return;
  switch (typeID) {
    case 22:
      exchange->StrategyCreator = scVORN;
      break;
    case 23:
      exchange->StrategyCreator = scStrategyCreator;
      break;
    case otCrossing:
      exchange->EnableCross = true;
      break;
    case otBasis:
      exchange->EnableBasis = true;
      break;
    case otBlock:
      exchange->EnableBlock = true;
      break;
    case otAgainstActual:
      exchange->EnableAA = true;
      break;
    default:
      break;
  }
}

// Call with the order type list's lock held.
OrderTypeStruct OrderTypeRecord(const TOrderTypeItem& item) {
  OrderTypeStruct record{};
  WriteOrderTypeRecord(item, record);
  return record;
}

// The order type event for the listed order type of that name; nothing when there is none.
void PostOrderTypeEvent(TClassAPI& api, std::string_view exchangeName, std::string_view name) {
  if (api.Logon.DownloadInProgress) return;
  std::optional<OrderTypeStruct> record;
  {
    TIndexListLock guard(api.OrderTypes);
    if (const auto item = api.OrderTypes.FindOrderType(exchangeName, name))
      record = OrderTypeRecord(*item);
  }
  if (record) AddOrderTypeCallback(*record);
}

// One order type message of either form.
struct TOrderTypeMessage {
  std::string_view Exchange;
  std::string_view Name;
  std::int32_t TypeID = 0;
  std::uint8_t PricesRequired = 0;
  std::uint8_t VolumesRequired = 0;
  std::uint8_t DatesRequired = 0;
  std::optional<char> TimeTriggered;
  std::optional<char> RealSynthetic;
  std::optional<char> GTCFlag;
  std::string_view TicketType;  // "00" when empty
  bool Update = false;          // a listed order type takes the update fields
};

// Adds a new order type of a listed exchange or updates a listed one; then the event.
void ApplyOrderType(TClassAPI& api, const TOrderTypeMessage& message, std::string_view insText) {
  if (message.Name.empty()) {
    if (DebugFlagOn(kDebugging)) WriteTraceLine("OrderType without a name dropped");
    return;
  }
  {
    TIndexListLock guard(api.OrderTypes);
    if (const auto item = api.OrderTypes.FindOrderType(message.Exchange, message.Name)) {
      if (message.Update) {
        item->DatesRequired = message.DatesRequired;
        item->PricesRequired = message.PricesRequired;
        if (message.RealSynthetic) item->RealSynthetic = *message.RealSynthetic;
      }
    } else {
      auto exchange = api.Exchanges.FindExchange(message.Exchange);
      if (!exchange) {
        if (DebugFlagOn(kDebugging))
          WriteTraceLine("OrderType " + std::string(message.Name) + " dropped, unknown exchange " +
                         std::string(message.Exchange));
        return;
      }
      auto added = std::make_shared<TOrderTypeItem>();
      added->SetExchange(std::move(exchange));
      added->SetName(std::string(message.Name));
      added->PricesRequired = message.PricesRequired;
      added->VolumesRequired = message.VolumesRequired;
      added->DatesRequired = message.DatesRequired;
      added->OrderTypeID = static_cast<TOrderTypes>(message.TypeID);
      if (message.TimeTriggered) added->TimeTriggered = *message.TimeTriggered;
      if (message.RealSynthetic) added->RealSynthetic = *message.RealSynthetic;
      if (message.GTCFlag) added->GTCFlag = *message.GTCFlag;
      added->TicketType =
          message.TicketType.empty() ? std::string("00") : std::string(message.TicketType);
      if (!api.OrderTypes.Add(added).Added) return;
      if (DebugFlagOn(kDebugging)) WriteTraceLine(std::string(insText) + std::string(message.Name));
    }
  }
  PostOrderTypeEvent(api, message.Exchange, message.Name);
}

// Adds the currency or changes its rate.
void AddOrSetRate(TClassAPI& api, std::string_view currency, double rate) {
  TIndexListLock guard(api.ExchangeRates);
  if (const auto listed = api.ExchangeRates.Get(currency)) {
    listed->Rate = rate;
    return;
  }
  auto added = std::make_shared<TExchangeRate>();
  added->Currency = std::string(currency);
  added->Rate = rate;
  api.ExchangeRates.Add(added);
}

void PostExchangeRateEvent(const TClassAPI& api, std::string_view currency) {
  if (!api.Logon.DownloadInProgress) AddExchangeRateCallback(currency);
}

}  // namespace

void ReceiveExchange(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kExchangeFields);
  if (MessageCode(fields) == kExchangeDelete) return;
  const std::string name = fields.BoundedValue("Ex", kExchangeNameWidth);
  if (name.empty()) return;

  const std::string ticketType = fields.GetFieldValue("TicT", 0);
  const std::string guid = fields.GetFieldValue("GUID", 0);
  std::shared_ptr<TExchange> exchange;
  bool added = false;
  std::string uuid;
  std::int32_t state = 0;
  {
    TIndexListLock guard(api.Exchanges);
    exchange = api.Exchanges.FindOrAdd(name);
    added = exchange->GetUUID().empty();
    exchange->QueryEnabled = fields.GetFieldValue("QE", 0) == "Y";
    exchange->AmendEnabled = true;
    exchange->CustomDecimal = fields.GetFieldValue("Cde", 0) == "Y";
    exchange->Decimals = fields.IntValue("Dcs");
    if (const auto first = FirstChar(ticketType)) exchange->TicketType = *first;
    exchange->RFQA = fields.GetFieldValue("RFQA", 0) == "Y";
    exchange->RFQT = fields.GetFieldValue("RFQT", 0) == "Y";
    ApplyState(*exchange, fields.GetFieldValue("Act", 0));
    // A listed exchange keeps its UUID, and with it its groups, when the message has none.
    if (added || !guid.empty()) exchange->SetUUID(guid);
    exchange->ISO = fields.GetFieldValue("ISO", 0);
    uuid = exchange->GetUUID();
    state = exchange->State;
  }
  if (DebugFlagOn(kDebugging))
    WriteTraceLine((added ? "Exchange (add): " : "Exchange (upd): ") + name);
  if (added) RegisterExchangeUUID(api, exchange, uuid, state);
  if (!api.Logon.DownloadInProgress) AddExchangeCallback(VN_CB_EXCHANGE_UPDATED, name);
  if (api.OMIEnabled) AddOMIOrderTypes(api, exchange);
}

void ReceiveLegacyExchange(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kExchangeLegacy);
  const std::int32_t code = FixedBodyCode(body);
  const std::string name(TrimView(GetFixedField(body, 4, kExchangeNameWidth)));
  if (name.empty()) return;
  if (code == kLegacyExchangeDelete) {
    if (DebugFlagOn(kDebugging)) WriteTraceLine("Exchange (del): " + name);
    // Only the list's reference goes: commodities and groups that hold the exchange keep it.
    api.Exchanges.RemoveKey(name);
    return;
  }
  if (code != kLegacyExchangeAdd) return;
  {
    TIndexListLock guard(api.Exchanges);
    const auto exchange = api.Exchanges.FindOrAdd(name);
    exchange->QueryEnabled = name == "Eurex" || name == "XEurex" || name == "Liffe";
    exchange->AmendEnabled = true;
  }
  if (DebugFlagOn(kDebugging)) WriteTraceLine("Exchange (add): " + name);
  if (!api.Logon.DownloadInProgress) AddExchangeCallback(VN_CB_EXCHANGE_UPDATED, name);
}

void ReceiveOrderType(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kOrderTypeFields);
  const std::string name = fields.BoundedValue("OTy", kOrderTypeNameWidth);
  if (!api.OMIEnabled && IsOMIOrderType(name)) {
    WriteTraceLine("OMI disabled for 6.1 Beta - TMOrderType");
    return;
  }
  const std::int32_t code = MessageCode(fields);
  if (code == kOrderTypeDelete) return;
  const std::string exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  const std::int32_t typeID = fields.IntValue("TID");
  if (IsCapabilityID(typeID)) {
    SetExchangeCapability(api, exchange, typeID);
    PostOrderTypeEvent(api, exchange, name);
    return;
  }
  const std::string timeTriggered = fields.GetFieldValue("TT", 0);
  const std::string synthetic = fields.GetFieldValue("Syn", 0);
  const std::string gtc = fields.GetFieldValue("GTC", 0);
  const std::string ticketType = fields.GetFieldValue("TicT", 0);
  TOrderTypeMessage message;
  message.Exchange = exchange;
  message.Name = name;
  message.TypeID = typeID;
  message.PricesRequired = static_cast<std::uint8_t>(fields.IntValue("PrR"));
  message.VolumesRequired = static_cast<std::uint8_t>(fields.IntValue("VlR"));
  message.DatesRequired = static_cast<std::uint8_t>(fields.IntValue("DRq"));
  message.TimeTriggered = FirstChar(timeTriggered);
  message.RealSynthetic = FirstChar(synthetic);
  message.GTCFlag = FirstChar(gtc);
  message.TicketType = std::string_view(ticketType).substr(0, kTicketTypeWidth);
  message.Update = code == kOrderTypeUpdate;
  ApplyOrderType(api, message, "OrderType (Ins): ");
}

void ReceiveLegacyOrderType(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kOrderTypeLegacy);
  const std::int32_t code = FixedBodyCode(body);
  if (code == kLegacyOrderTypeDelete) return;
  const std::int32_t typeID = SafeStrToInt(GetFixedField(body, 4, 3), 0);
  const std::string_view exchange = TrimView(GetFixedField(body, 7, kExchangeNameWidth));
  const std::string_view name = TrimView(GetFixedField(body, 17, kOrderTypeNameWidth));
  if (typeID == 22 || typeID == 23) {
    SetExchangeCapability(api, exchange, typeID);
    PostOrderTypeEvent(api, exchange, name);
    return;
  }
  const auto digit = [body](std::size_t offset) {
    return static_cast<std::uint8_t>(SafeStrToInt(GetFixedField(body, offset, 1), 0));
  };
  TOrderTypeMessage message;
  message.Exchange = exchange;
  message.Name = name;
  message.TypeID = typeID;
  message.PricesRequired = digit(27);
  message.VolumesRequired = digit(28);
  message.DatesRequired = digit(29);
  message.Update = code == kLegacyOrderTypeUpdate;
  ApplyOrderType(api, message, "OrderType: ");
}

void ReceiveExchangeRate(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kExchangeRateFields);
  const std::int32_t code = MessageCode(fields);
  const std::string currency = fields.BoundedValue("Cur", kCurrencyWidth);
  if (currency.empty()) return;
  const double rate = fields.FloatValue("ER");
  switch (code) {
    case kExchangeRateAdd: {
      {
        TIndexListLock guard(api.ExchangeRates);
        if (api.ExchangeRates.Get(currency)) return;
        auto added = std::make_shared<TExchangeRate>();
        added->Currency = currency;
        added->Rate = rate;
        api.ExchangeRates.Add(added);
      }
      if (DebugFlagOn(kDebugging))
        WriteTraceLine("ExchangeRate (Ins): " + currency + " = " + FloatToStr(rate));
      PostExchangeRateEvent(api, currency);
      break;
    }
    case kExchangeRateUpdate: {
      {
        TIndexListLock guard(api.ExchangeRates);
        const auto listed = api.ExchangeRates.Get(currency);
        if (!listed) return;
        listed->Rate = rate;
      }
      if (DebugFlagOn(kDebugging))
        WriteTraceLine("ExchangeRate (Upd): " + currency + " = " + FloatToStr(rate));
      PostExchangeRateEvent(api, currency);
      break;
    }
    case kExchangeRateDelete:
      if (DebugFlagOn(kDebugging)) WriteTraceLine("ExchangeRate (del): " + currency);
      api.ExchangeRates.RemoveKey(currency);
      break;
    default:
      break;
  }
}

void ReceiveLegacyExchangeRate(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kExchangeRateLegacy);
  const std::string currency(TrimView(GetFixedField(body, 4, kCurrencyWidth)));
  if (currency.empty()) return;
  const double rate = SafeStrToFloat(GetFixedField(body, 14, 10), 0);
  AddOrSetRate(api, currency, rate);
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("ExchangeRate: " + currency + " = " + FloatToStr(rate));
  PostExchangeRateEvent(api, currency);
}

}  // namespace vorn
