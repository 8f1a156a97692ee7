#include "core/trading/OrderItem.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"
#include "core/util/DateTime.h"
#include "core/util/ErrorCodes.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// The unload handling shuts the API object down after static objects of the process are gone.
struct TServicesSlot {
  std::mutex lock;
  std::shared_ptr<IOrderServices> services;
};
TProcessWide<TServicesSlot> servicesSlot;

// The count digits at index as a number; false when one is not a digit or the text is short.
bool ReadDigits(std::string_view text, std::size_t index, std::size_t count, int& value) {
  if (index + count > text.size()) return false;
  value = 0;
  for (char c : text.substr(index, count)) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// Digits of a fixed-width date or time text; EConvertError when they are not all digits.
int DigitsAt(const std::string& text, std::size_t index, std::size_t count) {
  int value = 0;
  if (!ReadDigits(text, index, count, value))
    throw EConvertError("'" + text + "' is not a valid date or time");
  return value;
}

double StrToFloatChecked(std::string_view text) {
  double value = 0;
  const std::string trimmed = Trim(text);
  if (!TryStrToFloat(trimmed, value))
    throw EConvertError("'" + trimmed + "' is not a valid floating point value");
  return value;
}

// The head's OFSeqNumber for the order's event (0 when the order list has no such order).
std::int32_t EventSeqNumber(IOrderServices* services, std::string_view id) {
  if (!services) return 0;
  TIndexListLock orders(services->Orders());
  if (auto history = services->FindOrderList(id)) {
    if (auto head = history->GetCurrent()) return head->OFSeqNumber;
  }
  return 0;
}

}  // namespace

std::string OrderKey(std::string_view id) {
  return Copy(id, 1, kOrderIDLength);
}

// ---------------------------------------------------------------------------------------------
// Services

void SetOrderServices(std::shared_ptr<IOrderServices> services) {
  std::shared_ptr<IOrderServices> old;
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  old = std::exchange(slot.services, std::move(services));
}

void RemoveOrderServices(const IOrderServices* services) {
  std::shared_ptr<IOrderServices> old;
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  if (slot.services.get() == services) old = std::move(slot.services);
}

std::shared_ptr<IOrderServices> GetOrderServices() {
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  return slot.services;
}

// ---------------------------------------------------------------------------------------------
// TOrderItem

const TStreamClass& TOrderItem::Class() {
  using T = TOrderItem;
  static const TStreamClass& description = MakeStreamClass<T>(
      "TOrderItem", &TUUIDStreamable::Class(),
      TPropertyTable<T>()
          .String("ID", &T::ID)
          .String("DisplayID", &T::DisplayID)
          .String("ExchangeID", &T::ExchangeID)
          .String("UserName", &T::UserName)
          .Enumeration("BuySell", Cross, &T::BuySell)
          .Float("Price", &T::Price)
          .Float("Price2", &T::Price2)
          .Enumeration("Status", osExternalCancelled, &T::Status)
          .Integer("Filled", &T::Filled)
          .Integer("NoOfFills", &T::NoOfFills)
          .Float("AveragePrice", &T::AveragePrice)
          .String("DateClientSent", &T::DateClientSent)
          .String("TimeClientSent", &T::TimeClientSent)
          .String("DateHostReceived", &T::DateHostReceived)
          .String("TimeHostReceived", &T::TimeHostReceived)
          .String("DateExchangeReceived", &T::DateExchangeReceived)
          .String("TimeExchangeReceived", &T::TimeExchangeReceived)
          .String("DateExchangeAcknowledged", &T::DateExchangeAcknowledged)
          .String("TimeExchangeAcknowledged", &T::TimeExchangeAcknowledged)
          .Integer("TargetLots", &T::TargetLots)
          .Integer("ActualLots", &T::ActualLots)
          .Char("OpenOrClose", &T::OpenOrClose)
          .String("LinkedOrder", &T::LinkedOrder)
          .Float("MarginRequired", &T::MarginRequired)
          .String("NonExecReason", &T::NonExecReason)
          .Integer("XRef", &T::XRef, &T::SetXRef)
          .Integer("XRefP", &T::XRefP)
          .Boolean("Checked", &T::Checked)
          .Integer("UpdateSequence", &T::UpdateSequence)
          .String("GoodTillDate", &T::GoodTillDate)
          .String("ExchangeName", &T::ExchangeName)
          .String("DateFilled", &T::DateFilled)
          .String("TimeFilled", &T::TimeFilled)
          .String("Reference", &T::GetReference, &T::SetReference)
          .Integer("CancelTimeOut", &T::CancelTimeOut)
          .Float("OPr", &T::OPr)
          .String("ESARef", &T::ESARef)
          .Integer("Priority", &T::Priority)
          .String("TriggerTime", &T::TriggerTime, &T::SetTriggerTime)
          .String("TriggerDate", &T::TriggerDate, &T::SetTriggerDate)
          .Integer("SubState", &T::SubState)
          .Integer("LastSequence", &T::LastSequence)
          .String("BatchID", &T::BatchID)
          .String("BatchType", &T::BatchType)
          .Integer("BatchCount", &T::BatchCount)
          .String("BatchStatus", &T::BatchStatus)
          .String("ParentID", &T::ParentID)
          .Char("DoneForDay", &T::DoneForDay)
          .String("BigRefField", &T::BigRefField)
          .Integer("TimeOut", &T::TimeOut)
          .String("QuoteID", &T::QuoteID)
          .String("SenderLocationID", &T::SenderLocationID)
          .String("Rawprice", &T::Rawprice)
          .String("Rawprice2", &T::Rawprice2)
          .String("ExecutionID", &T::ExecutionID)
          .String("ClientID", &T::ClientID)
          .Integer("LotsPosted", &T::LotsPosted)
          .Integer("ChildCount", &T::ChildCount)
          .String("ISINCode", &T::ISINCode)
          .String("CashPrice", &T::CashPrice)
          .Char("Methodology", &T::Methodology)
          .String("BasisRef", &T::BasisRef)
          .String("EntryDate", &T::EntryDate)
          .String("EntryTime", &T::EntryTime)
          .Char("APIM", &T::APIM)
          .String("APIMUser", &T::APIMUser)
          .String("ICSNearLegPrice", &T::ICSNearLegPrice)
          .String("ICSFarLegPrice", &T::ICSFarLegPrice)
          .String("YDSPAudit", &T::YDSPAudit)
          .Integer("SentTimeOut", &T::SentTimeOut)
          .Integer("QueuedTimeOut", &T::QueuedTimeOut)
          .String("CreationDate", &T::CreationDate)
          .Integer("OrderHistorySeq", &T::OrderHistorySeq)
          .Integer("MinClipSize", &T::MinClipSize)
          .Char("Randomise", &T::Randomise)
          .Integer("MaxClipSize", &T::MaxClipSize)
          .Char("MarloStage", &T::MarloStage)
          .String("MarloTimeSent", &T::MarloTimeSent)
          .String("MarloDateSent", &T::MarloDateSent)
          .String("TriggeredDate", &T::TriggeredDate)
          .String("TriggeredTime", &T::TriggeredTime)
          .String("TicketVersion", &T::TicketVersion)
          .String("TicketType", &T::TicketType)
          .Integer("OFSeqNumber", &T::OFSeqNumber)
          .Boolean("IsProtectionOrder", &T::IsProtectionOrder)
          .String("Pr1Price", &T::Pr1Price)
          .String("Pr2Price", &T::Pr2Price)
          .String("Pr3Price", &T::Pr3Price)
          .Integer("Pr1Volume", &T::Pr1Volume)
          .Integer("Pr2Volume", &T::Pr2Volume)
          .Integer("Pr3Volume", &T::Pr3Volume)
          .String("StType", &T::StType)
          .String("StPrice", &T::StPrice)
          .Float("StSteps1", &T::StSteps1)
          .Float("StSteps2", &T::StSteps2)
          .Char("ProfitLevel", &T::ProfitLevel)
          .Boolean("CancelSent", &T::CancelSent)
          .String("BOFID", &T::BOFID)
          .String("Badge", &T::Badge)
          .String("ExchangeField", &T::ExchangeField)
          .String("LocalEAC", &T::LocalEAC)
          .String("LocalTraderAccount", &T::LocalTraderAccount)
          .String("RoutingID2", &T::RoutingID2)
          .String("RoutingID1", &T::RoutingID1)
          .String("LocalBOF", &T::LocalBOF)
          .String("LocalOrderID", &T::LocalOrderID)
          .String("LocalUserName", &T::LocalUserName)
          .String("TraderAccountName", &T::GetTraderAccountName, &T::SetTraderAccountName));
  return description;
}

void WriteContractReference(TStream& stream, const TContractItem* contract) {
  stream.WriteString(contract ? contract->ExchangeStr() : std::string());
  stream.WriteString(contract ? contract->CommodityStr() : std::string());
  stream.WriteString(contract ? contract->ContractDate() : std::string());
}

std::shared_ptr<TContractItem> ReadContractReference(TStream& stream, IOrderServices* services) {
  const std::string exchange = stream.ReadString();
  const std::string commodity = stream.ReadString();
  const std::string contractDate = stream.ReadString();
  if (!services || (exchange.empty() && commodity.empty() && contractDate.empty())) return nullptr;
  return services->FindContract(exchange, commodity, contractDate);
}

void TOrderItem::WriteExtra(TStream& stream) const {
  WriteContractReference(stream, Contract.get());
  stream.WriteString(OrderType ? std::string_view(OrderType->Name()) : std::string_view());
}

void TOrderItem::ReadExtra(TStream& stream) {
  const auto services = GetOrderServices();
  Contract = ReadContractReference(stream, services.get());
  const std::string orderType = stream.ReadString();
  OrderType.reset();
  if (services) {
    if (Contract) OrderType = services->FindOrderType(ContractExchange(*Contract), orderType);
    if (UpdateSequence < std::numeric_limits<std::int32_t>::max())
      services->RaiseOrderSequence(UpdateSequence + 1);
  }
}

std::shared_ptr<TOrderItem> TOrderItem::Copy() const {
  auto copy = std::make_shared<TOrderItem>();
  static_cast<TOrderFields&>(*copy) = *this;
  return copy;
}

void TOrderItem::SetReference(std::string_view text) {
  reference_ = vorn::Copy(text, 1, kOrderReferenceLength);
}

std::string TOrderItem::GetTraderAccountName() const {
  return TraderAccount ? TraderAccount->TraderAccount : std::string();
}

void TOrderItem::SetTraderAccountName(std::string_view name) {
  auto services = GetOrderServices();
  TraderAccount = services ? services->FindAccount(Trim(name)) : nullptr;
}

void TOrderItem::Activate(bool) {
  State = usActive;
  auto services = GetOrderServices();
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

namespace {

// Makes `closing` (a copy of the order in a closing state) the head of the order's history.
// False, with nothing changed, when the order list has no history for it.
bool InsertClosingState(IOrderServices& services, const std::shared_ptr<TOrderItem>& closing) {
  TIndexListLock orders(services.Orders());
  auto history = services.FindOrderList(closing->ID);
  if (!history) return false;
  TIndexListLock guard(*history);
  const int count = history->Count();
  // Host states carry the host's sequence, which can run ahead of the count: the closing
  // state goes in front of the head either way.
  std::int32_t sequence = count;
  if (auto head = history->GetCurrent()) sequence = std::max(sequence, head->OrderHistorySeq);
  closing->OrderHistorySeq = sequence;
  closing->OFSeqNumber = count + 1;
  history->InsertBySequence(closing);
  return true;
}

}  // namespace

void TOrderItem::Expire() {
  SetTimeStamp(skExpiry);
  NotifyMembers(maExpire, 0);
  auto services = GetOrderServices();
  if (!IsClosedStatus(Status) && services) {
    auto closing = Copy();
    closing->Status = Filled != 0 ? osBalCancelled : osCancelled;
    closing->State = usExpired;
    if (InsertClosingState(*services, closing)) {
      services->ForgetOrder(ID);
      AddOrderCallback(closing->ID, ID, closing->Status, closing->OFSeqNumber);
      return;
    }
  }
  State = usExpired;
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

void TOrderItem::Deactivate(bool) {
  if (OrderType && OrderType->GTCFlag == 'Y') return;
  auto services = GetOrderServices();
  if (!IsClosedStatus(Status) && services) {
    auto closing = Copy();
    closing->Status = osExternalCancelled;
    closing->NonExecReason = ErrorMessage(VN_RC_CANCELLED_EXCHANGE_CLOSING);
    closing->State = usInactive;
    if (InsertClosingState(*services, closing)) {
      services->ForgetOrder(ID);
      AddOrderCallback(closing->ID, ID, closing->Status, closing->OFSeqNumber);
      return;
    }
  }
  State = usInactive;
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

void TOrderItem::Purge(TDateTime time) {
  if (!CanPurge(time)) return;
  auto services = GetOrderServices();
  if (services) {
    // Out of its UUID groups; a group left empty goes too.
    if (TUUIDObjectList* groups = services->UUIDObjects()) groups->LeaveGroups(*this);
    // Out of the order list with its whole history.
    std::shared_ptr<TOrderList> history;
    {
      TIndexList& orders = services->Orders();
      TIndexListLock guard(orders);
      history = services->FindOrderList(ID);
      if (history) orders.RemoveItem(history.get());
    }
    if (history) history->FreeAll();
  }
  Members.Clear();
  BelongsTo.Clear();
}

// ---------------------------------------------------------------------------------------------
// Order building

void TriggerToUTC(const std::string& date, const std::string& time, std::string& utcDate,
                  std::string& utcTime) {
  const TDateTime local =
      EncodeDate(DigitsAt(date, 4, 4), DigitsAt(date, 2, 2), DigitsAt(date, 0, 2)) +
      EncodeTime(DigitsAt(time, 0, 2), DigitsAt(time, 2, 2), DigitsAt(time, 4, 2), 0);
  const TDateTime utc = ConvertTimeZone(true, local);
  utcDate = FormatDateTime("yyyymmdd", utc);
  utcTime = FormatDateTime("hhnnss", utc);
}

bool TriggerToLocal(std::string_view date, std::string_view time, TDateTime& local) {
  date = TrimView(date);
  time = TrimView(time);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (date.size() != 8 || !ReadDigits(date, 0, 4, year) || !ReadDigits(date, 4, 2, month) ||
      !ReadDigits(date, 6, 2, day))
    return false;
  if (!time.empty() && (time.size() != 6 || !ReadDigits(time, 0, 2, hour) ||
                        !ReadDigits(time, 2, 2, minute) || !ReadDigits(time, 4, 2, second)))
    return false;
  TDateTime datePart = 0, timePart = 0;
  if (!TryEncodeDate(year, month, day, datePart) ||
      !TryEncodeTime(hour, minute, second, 0, timePart))
    return false;
  local = ConvertTimeZone(false, datePart + timePart);
  return true;
}

bool IsClosedStatus(TOrderStatus status) {
  return status == osRejected || status == osCancelled || status == osBalCancelled ||
         status == osFilled;
}

std::int32_t CheckPricesAndLots(std::string_view price, std::string_view price2, std::int32_t lots,
                                std::int32_t orderTypeID, std::int32_t pricesRequired) {
  if (pricesRequired > 0) {
    if (TrimView(price).empty()) return VN_RC_PRICE_REQUIRED;
    StrToFloatChecked(price);
  }
  if (pricesRequired == 2) {
    if (TrimView(price2).empty()) return VN_RC_PRICE_REQUIRED;
    StrToFloatChecked(price2);
  }
  if (lots < 1 && orderTypeID != VN_OT_RFQI && orderTypeID != VN_OT_RFQT) return VN_RC_INVALID_LOTS;
  return VN_RC_SUCCESS;
}

bool CheckPriceText(std::string_view text, double def, double& value) {
  value = def;
  int points = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      ++points;
    } else if (!(c >= '0' && c <= '9') && !(i == 0 && (c == '+' || c == '-'))) {
      return false;
    }
  }
  // The characters pass; a text that still does not convert ("", a lone sign or point) is not
  // a price either.
  double converted = 0;
  if (points > 1 || !TryStrToFloat(text, converted)) return false;
  value = converted;
  return true;
}

namespace {

TPurchase SideOf(char side) {
  switch (side) {
    case VN_SIDE_BUY:
      return Buy;
    case VN_SIDE_SELL:
      return Sell;
    case VN_SIDE_TWO_SIDED:
      return TwoSided;
    case VN_SIDE_CROSS:
      return Cross;
    default:
      return Illegal;
  }
}

// The protection legs into the order; 27 for a price that is not a number text.
std::int32_t ReadProtection(const ProtectionStruct& record, TOrderFields& order) {
  const std::string prices[] = {GetFixed(record.Pr1Price), GetFixed(record.Pr2Price),
                                GetFixed(record.Pr3Price), GetFixed(record.StPrice)};
  for (const std::string& price : prices)
    if (double value = 0; !CheckPriceText(price, 0, value)) return VN_RC_INVALID_PRICE;
  order.IsProtectionOrder = true;
  order.Pr1Price = prices[0];
  order.Pr2Price = prices[1];
  order.Pr3Price = prices[2];
  order.StPrice = prices[3];
  order.Pr1Volume = record.Pr1Volume;
  order.Pr2Volume = record.Pr2Volume;
  order.Pr3Volume = record.Pr3Volume;
  order.StType = GetFixed(record.StType);
  order.StSteps1 = StrToFloatChecked(GetFixed(record.StSteps1));
  order.StSteps2 = StrToFloatChecked(GetFixed(record.StSteps2));
  return VN_RC_SUCCESS;
}

// The record fields after the terms, in record order.
void ReadOrderRecordTail(const NewOrderStruct& record, TOrderItem& order) {
  order.LinkedOrder = GetFixed(record.LinkedOrder);
  order.GoodTillDate = GetFixed(record.GoodTillDate);
  order.SetReference(GetFixed(record.Reference));
  order.ESARef = GetFixed(record.ESARef);
  order.Priority = record.Priority;
  const std::string triggerDate = GetFixed(record.TriggerDate);
  if (!triggerDate.empty()) {
    std::string utcDate, utcTime;
    TriggerToUTC(triggerDate, GetFixed(record.TriggerTime), utcDate, utcTime);
    order.SetTriggerDate(utcDate);
    order.SetTriggerTime(utcTime);
  }
  order.BatchID = GetFixed(record.BatchID);
  order.BatchCount = SafeStrToInt(order.BatchID, 0);
  order.BatchType = GetFixed(record.BatchType);
  order.BatchStatus = GetFixed(record.BatchStatus);
  order.ParentID = GetFixed(record.ParentID);
  order.DoneForDay = record.DoneForDay;
  order.BigRefField = GetFixed(record.BigRefField);
  order.SenderLocationID = GetFixed(record.SenderLocationID);
  order.Rawprice = GetFixed(record.Rawprice);
  order.Rawprice2 = GetFixed(record.Rawprice2);
  order.ExecutionID = GetFixed(record.ExecutionID);
  order.ClientID = GetFixed(record.ClientID);
  order.APIM = record.APIM;
  order.APIMUser = GetFixed(record.APIMUser);
  order.YDSPAudit = GetFixed(record.YDSPAudit);
  order.ICSNearLegPrice = GetFixed(record.ICSNearLegPrice);
  order.ICSFarLegPrice = GetFixed(record.ICSFarLegPrice);
  order.MinClipSize = record.MinClipSize;
  order.MaxClipSize = record.MaxClipSize;
  order.Randomise = record.Randomise;
  order.TicketType = GetFixed(record.TicketType);
  order.TicketVersion = GetFixed(record.TicketVersion);
  order.ExchangeField = GetFixed(record.ExchangeField);
  order.BOFID = GetFixed(record.BOFID);
  order.Badge = GetFixed(record.Badge);
  order.LocalUserName = GetFixed(record.LocalUserName);
  order.LocalTraderAccount = GetFixed(record.LocalTraderAccount);
  order.LocalBOF = GetFixed(record.LocalBOF);
  order.LocalOrderID = GetFixed(record.LocalOrderID);
  order.LocalEAC = GetFixed(record.LocalEAC);
  order.RoutingID1 = GetFixed(record.RoutingID1);
  order.RoutingID2 = GetFixed(record.RoutingID2);
}

}  // namespace

TBuildOrderResult TOrderItem::BuildOrder(const NewOrderStruct& record, std::string_view id,
                                         std::string_view userName,
                                         const TBuildOrderOptions& options) {
  TBuildOrderResult result;
  result.Code = VN_RC_UNEXPECTED_ERROR;
  try {
    auto services = GetOrderServices();
    if (!services) return result;

    auto account = services->FindAccount(Trim(GetFixed(record.TraderAccount)));
    if (!account) {
      result.Code = VN_RC_TRADER_ACCOUNT_NOT_FOUND;
      return result;
    }
    if (!account->Tradable) {
      result.Code = VN_RC_ACCOUNT_VIEW_ONLY;
      return result;
    }
    if (!options.VerifyOnly && TracingAppCalls()) {
      std::string line = "vnAddOrder " + GetFixed(record.CommodityName) + " " +
                         GetFixed(record.ContractDate) + " ";
      if (record.BuySell != '\0') line += record.BuySell;
      WriteTraceLine(line + " " + IntToStr(record.Lots));
    }
    auto contract =
        services->FindContract(GetFixed(record.ExchangeName), GetFixed(record.CommodityName),
                               GetFixed(record.ContractDate));
    if (!contract) {
      result.Code = VN_RC_UNKNOWN_CONTRACT;
      return result;
    }
    if (!contract->IsPermitted()) {
      result.Code = VN_RC_CONTRACT_NOT_PERMITTED;
      return result;
    }
    if (options.CheckParent && !options.VerifyOnly) {
      const std::string parent = Trim(GetFixed(record.ParentID));
      if (!parent.empty()) {
        TIndexListLock orders(services->Orders());
        if (!services->FindOrderList(parent)) {
          result.Code = VN_RC_INVALID_ORDER_ID;
          return result;
        }
      }
    }
    auto orderType =
        services->FindOrderType(ContractExchange(*contract), GetFixed(record.OrderType));
    if (!orderType) {
      result.Code = VN_RC_UNKNOWN_ORDER_TYPE;
      return result;
    }
    if (orderType->AutoCreated) {
      result.Code = VN_RC_ORDER_TYPE_NOT_ALLOWED;
      return result;
    }
    const std::string price = GetFixed(record.Price);
    const std::string price2 = GetFixed(record.Price2);
    const std::int32_t check = CheckPricesAndLots(
        price, price2, record.Lots, orderType->OrderTypeID, orderType->PricesRequired);
    if (check != VN_RC_SUCCESS || options.VerifyOnly) {
      result.Code = check;
      return result;
    }

    auto order = std::make_shared<TOrderItem>();
    if (options.Protection && options.Protection->Pr1Price[0] != '\0') {
      const std::int32_t protection = ReadProtection(*options.Protection, *order);
      if (protection != VN_RC_SUCCESS) {
        result.Code = protection;
        return result;
      }
    }
    order->Checked = false;
    order->UserName = userName;
    order->TraderAccount = account;
    order->OrderType = orderType;
    order->Contract = contract;
    order->BuySell = SideOf(record.BuySell);
    const std::int32_t ticksPerPoint = contract->GetTicksPerPoint();
    if (orderType->PricesRequired != 0) order->Price = PriceStrToFloat(price, ticksPerPoint);
    order->Price2 = PriceStrToFloat(price2, ticksPerPoint);
    order->TargetLots = record.Lots;
    order->OpenOrClose = record.OpenOrClose;
    const TDateTime now = Now();
    order->DateClientSent = FormatDateTime("yyyymmdd", now);
    order->TimeClientSent = FormatDateTime("hhnnss", now);
    order->XRef = record.XRef;
    order->XRefP = record.XRefP;
    ReadOrderRecordTail(record, *order);

    // Every check has passed: only now is a synthetic ID taken.
    if (orderType->IsSynthetic()) {
      order->Status = osHeldOrder;
      order->ID = services->NewSyntheticOrderID();
    } else {
      order->Status = osQueued;
      order->ID = id;
    }
    order->DisplayID.clear();
    // Batch type "10000" without a batch ID makes the order its own batch.
    if (order->BatchID.empty() && order->BatchType == "10000") order->BatchID = order->ID;
    result.Order = std::move(order);
    result.Code = VN_RC_SUCCESS;
  } catch (const EListError&) {
    result.Order.reset();
    result.Code = VN_RC_INVALID_INDEX;
  } catch (const std::exception& e) {
    result.Order.reset();
    result.Code = HandleUnexpectedError(e, "vnAddOrder");
  }
  return result;
}

void BookOrderMargin(const std::shared_ptr<TOrderItem>& order, bool marginMode) {
  if (!marginMode || !order || !order->Contract || !order->TraderAccount) return;
  if (order->Contract->IsOption()) order->TraderAccount->AddMarginOrder(*order);
}

}  // namespace vorn
