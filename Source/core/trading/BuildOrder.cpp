#include "core/trading/BuildOrder.h"

#include <exception>
#include <string>
#include <utility>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/store/IndexList.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

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

}  // namespace

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
  order.SetPr1Price(prices[0]);
  order.SetPr2Price(prices[1]);
  order.SetPr3Price(prices[2]);
  order.SetStPrice(prices[3]);
  order.Pr1Volume = record.Pr1Volume;
  order.Pr2Volume = record.Pr2Volume;
  order.Pr3Volume = record.Pr3Volume;
  order.SetStType(GetFixed(record.StType));
  order.StSteps1 = StrToFloatChecked(GetFixed(record.StSteps1));
  order.StSteps2 = StrToFloatChecked(GetFixed(record.StSteps2));
  return VN_RC_SUCCESS;
}

// The record fields after the terms, in record order.
void ReadOrderRecordTail(const NewOrderStruct& record, TOrderItem& order) {
  order.SetLinkedOrder(GetFixed(record.LinkedOrder));
  order.SetGoodTillDate(GetFixed(record.GoodTillDate));
  order.SetReference(GetFixed(record.Reference));
  order.SetESARef(GetFixed(record.ESARef));
  order.Priority = record.Priority;
  const std::string triggerDate = GetFixed(record.TriggerDate);
  if (!triggerDate.empty()) {
    std::string utcDate, utcTime;
    TriggerToUTC(triggerDate, GetFixed(record.TriggerTime), utcDate, utcTime);
    order.SetTriggerDate(utcDate);
    order.SetTriggerTime(utcTime);
  }
  order.SetBatchID(GetFixed(record.BatchID));
  order.BatchCount = SafeStrToInt(order.BatchID(), 0);
  order.SetBatchType(GetFixed(record.BatchType));
  order.SetBatchStatus(GetFixed(record.BatchStatus));
  order.SetParentID(GetFixed(record.ParentID));
  order.DoneForDay = record.DoneForDay;
  order.SetBigRefField(GetFixed(record.BigRefField));
  order.SetSenderLocationID(GetFixed(record.SenderLocationID));
  order.SetRawprice(GetFixed(record.Rawprice));
  order.SetRawprice2(GetFixed(record.Rawprice2));
  order.SetExecutionID(GetFixed(record.ExecutionID));
  order.SetClientID(GetFixed(record.ClientID));
  order.APIM = record.APIM;
  order.SetAPIMUser(GetFixed(record.APIMUser));
  order.SetYDSPAudit(GetFixed(record.YDSPAudit));
  order.SetICSNearLegPrice(GetFixed(record.ICSNearLegPrice));
  order.SetICSFarLegPrice(GetFixed(record.ICSFarLegPrice));
  order.MinClipSize = record.MinClipSize;
  order.MaxClipSize = record.MaxClipSize;
  order.Randomise = record.Randomise;
  order.SetTicketType(GetFixed(record.TicketType));
  order.SetTicketVersion(GetFixed(record.TicketVersion));
  order.SetExchangeField(GetFixed(record.ExchangeField));
  order.SetBOFID(GetFixed(record.BOFID));
  order.SetBadge(GetFixed(record.Badge));
  order.SetLocalUserName(GetFixed(record.LocalUserName));
  order.SetLocalTraderAccount(GetFixed(record.LocalTraderAccount));
  order.SetLocalBOF(GetFixed(record.LocalBOF));
  order.SetLocalOrderID(GetFixed(record.LocalOrderID));
  order.SetLocalEAC(GetFixed(record.LocalEAC));
  order.SetRoutingID1(GetFixed(record.RoutingID1));
  order.SetRoutingID2(GetFixed(record.RoutingID2));
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
    if (!options.VerifyOnly && !options.WholesalePair && TracingAppCalls()) {
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
    if (!options.WholesalePair && !contract->IsPermitted()) {
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

    auto order = NewOrderItem();
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
    order->BuySell = options.WholesalePair ? (record.BuySell == VN_SIDE_BUY ? Buy : Sell)
                                           : SideOf(record.BuySell);
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
    // Batch type "10000" without a batch ID makes the order its own batch; a wholesale order
    // always is.
    if (options.WholesalePair ||
        (order->BatchID().empty() && order->BatchType() == "10000"))
      order->SetBatchID(order->ID);
    result.Order = std::move(order);
    result.Code = VN_RC_SUCCESS;
  } catch (const EListError&) {
    result.Order.reset();
    result.Code = VN_RC_INVALID_INDEX;
  } catch (const std::exception& e) {
    result.Order.reset();
    result.Code = HandleUnexpectedError(e, options.Routine);
  }
  return result;
}

void BookOrderMargin(const std::shared_ptr<TOrderItem>& order, bool marginMode) {
  if (!marginMode || !order || !order->Contract || !order->TraderAccount) return;
  TTraderAccountItem& account = *order->TraderAccount;
  if (order->Contract->IsOption())
    account.AddMarginOrder(*order, StartOfDayCover(*order->Contract, account.TraderAccount));
}

}  // namespace vorn
