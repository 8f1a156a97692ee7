#include "links/OrderMessages.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/UserMessage.h"
#include "core/session/ClassAPI.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/OrderQ.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"

namespace vorn {
namespace {

// "Flg" of a tagged order message.
constexpr std::int32_t kKindAmendHistory = 3;
constexpr std::int32_t kKindOrderDetail = 4;
// Legacy codes with a road of their own.
constexpr std::int32_t kLegacyOrderAcknowledged = 74;
constexpr std::int32_t kLegacyAmendHistory = 79;

constexpr std::int32_t kSuppressFlag = 16;
// A user message's text, as wide as its record field less the NUL.
constexpr std::ptrdiff_t kMessageWidth = 500;
constexpr const char* kNoGoodTillDate = "00010101";

char FirstChar(std::string_view text, char empty = '\0') {
  return text.empty() ? empty : text.front();
}

// A status number the order-state rules do not know is taken as osIllegal.
TOrderStatus StatusOf(std::int32_t value) {
  return value >= osIllegal && value <= osExternalCancelled ? static_cast<TOrderStatus>(value)
                                                            : osIllegal;
}

// The states whose order keeps its margin entry.
bool HoldsMargin(TOrderStatus status) {
  return StatusIn(status, {osSent, osWorking, osBalCancelled, osPart, osFilled, osCancelPending,
                           osAmendPending, osORPIFilled, osORPIPart});
}

std::string ContractText(std::string_view exchange, std::string_view commodity,
                         std::string_view contractDate) {
  std::string text(exchange);
  text += '\\';
  text += commodity;
  text += '\\';
  text += contractDate;
  return text;
}

// A start past the end gives the empty text, never an exception that would drop the order
// message.
std::string TextAfterKeyword(std::string_view text, std::string_view keyword) {
  const std::size_t at = text.find(keyword);
  if (at == std::string_view::npos) return {};
  // Past the keyword and one separator.
  const std::size_t start = at + keyword.size() + 1;
  if (start >= text.size()) return {};
  const std::string_view rest = text.substr(start);
  return std::string(rest.substr(0, rest.find('|')));
}

// ---------------------------------------------------------------------------------------------
// Steps shared by both forms

// `known`: the order's history as the message found it, used again while still valid.
void PostOrderEvent(TClassAPI& api, const std::string& id, const std::string& oldID,
                    TOrderStatus status, const TOrderListRef& known = {}) {
  std::int32_t sequence = 0;
  if (auto head = api.Orders.FindOrder(id, known)) sequence = head->OFSeqNumber;
  AddOrderCallback(id, oldID, status, sequence);
}

// What a message needs of the order's current state, read under the order list's lock: the
// order-state rules of another link's socket thread may change the state meanwhile.
struct TCurrentState {
  TOrderListRef History;  // the order's history, for the steps after
  bool Listed = false;
  TOrderStatus Status = osIllegal;
  std::int32_t LastSequence = 0;
  std::int32_t AppliedSequence = 0;  // the history's (TOrderList::AppliedSequence)
  std::shared_ptr<TTraderAccountItem> TraderAccount;
  std::string ExchangeField;
  std::string BOFID;
  std::string Badge;
};

TCurrentState CurrentState(TClassAPI& api, const std::string& id) {
  TCurrentState state;
  TIndexListLock guard(api.Orders);
  state.History = api.Orders.FindOrderListRef(id);
  const TOrderList* history = state.History.History.get();
  if (history) state.AppliedSequence = history->AppliedSequence();
  if (const TOrderItem* current = history ? history->PeekHead() : nullptr) {
    state.Listed = true;
    state.Status = current->Status;
    state.LastSequence = current->LastSequence;
    state.TraderAccount = current->TraderAccount;
    state.ExchangeField = current->ExchangeField();
    state.BOFID = current->BOFID();
    state.Badge = current->Badge();
  }
  return state;
}

// In environment 'G' or 'g' an ORPI state is applied only to an order still in osSent, as
// working with nothing filled. False: drop the message.
bool AcceptORPIState(TClassAPI& api, const std::string& id, TOrderStatus& status,
                     std::int32_t& filled) {
  const char environment = api.Environment;
  if ((environment != 'G' && environment != 'g') || !StatusIn(status, {osORPIFilled, osORPIPart}))
    return true;
  if (CurrentState(api, id).Status == osSent) {
    status = osWorking;
    filled = 0;
    return true;
  }
  if (DebugFlagOn(kDebugging)) WriteTraceLine("Ignoring ORPI state for order " + id);
  return false;
}

// The order went to another user: its history leaves the order list and its entries leave the
// watch lists and the account's margin orders. Whoever still holds one of its states keeps it
// alive; nothing refers to it afterwards.
void TransferOrder(TClassAPI& api, const std::string& id, TOrderStatus status) {
  std::shared_ptr<TTraderAccountItem> account;
  {
    TOrderQGuard guard(api.Orders);
    if (auto history = api.Orders.FindOrderList(id)) {
      if (auto head = history->GetCurrent()) account = head->TraderAccount;
      api.Orders.RemoveItem(history.get());
    }
  }
  api.Orders.ForgetOrder(id);
  if (account) account->RemoveMarginOrder(id);
  if (!api.Logon.DownloadInProgress) AddOrderCallback(id, "", status, 0);
}

// The pending cancel is watched for its confirmation, once however often it is repeated.
// False: the order is not listed, and the message is dropped.
bool WatchCancel(TClassAPI& api, const std::string& id) {
  if (api.Logon.DownloadInProgress) return true;
  TIndexListLock guard(api.Orders);
  const auto current = api.Orders.FindOrder(id);
  if (!current) {
    WriteTraceLine("Cancel pending for an order not listed: " + id);
    return false;
  }
  if (!api.Orders.CancelWatch.Contains(id)) {
    current->CancelTimeOut = api.Monitoring.CancelFailureDelay.load();
    api.Orders.CancelWatch.Add(current);
  }
  return true;
}

// The order type an order message names, made when the exchange has none of that name:
// "AggOrder" is 25 and "CustReq" 26 (both the host's own kinds), any other 0 and marked
// auto-created.
std::shared_ptr<TOrderTypeItem> HostOrderType(TClassAPI& api, const std::string& exchange,
                                              const std::string& name) {
  const std::int32_t id = name == "AggOrder"  ? otAggregateOrder
                          : name == "CustReq" ? kCustomerRequestTypeID
                                              : 0;
  return api.OrderTypes.FindOrMakeOrderType(
      exchange, name, {.OrderTypeID = id, .AutoCreated = id == 0, .PricesRequired = 0});
}

// The UUID bookkeeping of a Sent state, once the order list has taken the item.
void RegisterOrderUUID(TClassAPI& api, const std::shared_ptr<TOrderItem>& item,
                       const std::string& id, const std::string& contractPath) {
  if (item->Contract) item->Contract->AddMember(item);
  try {
    item->BelongsTo.Add(item->GetUUID());
  } catch (...) {
    WriteTraceLine("Error adding UUIDstr to UUIDBelongsToList for an order");
  }
  api.UUIDObjects->Add(item);
  WriteUUIDLine(kUUIDObjectFileName, contractPath + "/" + id + "\t\t" + item->GetUUID() + "\t" +
                                         UUIDStatusToStr(item->State));
}

// The order-state rules, inside the order list's lock; what they queue to send goes when the
// lock is left.
bool AddUnderLock(TClassAPI& api, const std::shared_ptr<TOrderItem>& item,
                  const TOrderListRef& known = {}, TOrderListRef* used = nullptr) {
  TOrderQGuard guard(api.Orders);
  return api.Orders.Add(item, known, used);
}

void DumpLine(std::string& dump, const char* label, std::string_view value) {
  AppendDumpLine(dump, std::string("  ") + label + ": ", value);
}

void DumpOrder(std::string title, const TOrderItem& item, bool tagged) {
  std::string& d = title;
  DumpLine(d, "ID", item.ID);
  DumpLine(d, "ExchId", item.ExchangeID);
  DumpLine(d, "Xrefp", IntToStr(item.XRefP));
  DumpLine(d, "UserName", item.UserName);
  DumpLine(d, "TrdAccnt", item.GetTraderAccountName());
  DumpLine(d, "OrderType", item.OrderType ? item.OrderType->Name() : std::string());
  DumpLine(d, "Market", item.Contract ? item.Contract->ExchangeStr() : std::string());
  DumpLine(d, "Contract", item.Contract ? item.Contract->CommodityStr() : std::string());
  DumpLine(d, "Date", item.Contract ? item.Contract->ContractDate() : std::string());
  DumpLine(d, "BuySell", IntToStr(item.BuySell));
  DumpLine(d, "Price", FloatToStr(item.Price));
  DumpLine(d, "Status", IntToStr(item.Status));
  DumpLine(d, "Targ.Lots", IntToStr(item.TargetLots));
  DumpLine(d, "Act.Lots", IntToStr(item.ActualLots));
  DumpLine(d, "Filled", IntToStr(item.Filled));
  DumpLine(d, "AvgPrice", FloatToStr(item.AveragePrice));
  DumpLine(d, "DateClientSent", item.DateClientSent);
  DumpLine(d, "TimeClientSent", item.TimeClientSent);
  DumpLine(d, "DateHostRec", item.DateHostReceived);
  DumpLine(d, "TimeHostRec", item.TimeHostReceived);
  DumpLine(d, "DateExchangeRec", item.DateExchangeReceived);
  DumpLine(d, "TimeExchangeRec", item.TimeExchangeReceived);
  DumpLine(d, "DateExchangeAkn", item.DateExchangeAcknowledged);
  DumpLine(d, "TimeExchangeAkn", item.TimeExchangeAcknowledged);
  DumpLine(d, "Reason", item.NonExecReason());
  DumpLine(d, "Good Till Date", item.GoodTillDate());
  DumpLine(d, "Reference", item.GetReference());
  if (tagged) {
    DumpLine(d, "Priority", IntToStr(item.Priority));
    DumpLine(d, "Trigger Date", item.TriggerDate());
    DumpLine(d, "Trigger Time", item.TriggerTime());
    DumpLine(d, "SubState", IntToStr(item.SubState));
    DumpLine(d, "BigRefField", item.BigRefField());
    DumpLine(d, "Sender Location", item.SenderLocationID());
    DumpLine(d, "Raw Price", item.Rawprice());
    DumpLine(d, "Raw Price 2", item.Rawprice2());
    DumpLine(d, "ClientID", item.ClientID());
    DumpLine(d, "Esa Reference", item.ESARef());
    DumpLine(d, "MinClipSzie", IntToStr(item.MinClipSize));
    DumpLine(d, "MaxClipSzie", IntToStr(item.MaxClipSize));
    DumpLine(d, "Randomise", std::string_view(&item.Randomise, item.Randomise ? 1 : 0));
  }
  WriteTraceLine(d);
}

// ---------------------------------------------------------------------------------------------
// The tagged form

// Fills the new item from the message's fields (the references are linked by the caller).
void ReadOrderFields(const TFieldsList& f, std::int32_t kind, const TCurrentState& current,
                     TOrderItem& item) {
  std::string date, time;  // the parts of a date and time field
  item.ID = f.Value("OID");
  item.DisplayID = item.ID;
  item.ExchangeName = f.Value("Ex");
  item.ExchangeID = f.Value("EID");
  item.UserName = f.Value("Usr");
  item.BuySell = SideFromNumber(f.IntValue("BS"));
  item.Price = f.FloatValue("Pr");
  item.Price2 = f.FloatValue("Pr2");
  item.TargetLots = f.IntValue("TLt");
  item.ActualLots = f.IntValue("ALt");
  item.OpenOrClose = FirstChar(f.Value("OC"), 'O');
  item.AveragePrice = f.FloatValue("AvP");
  SplitDateTime(f.Value("CTX"), item.DateClientSent, item.TimeClientSent);
  SplitDateTime(f.Value("HRx"), item.DateHostReceived, item.TimeHostReceived);
  SplitDateTime(f.Value("ERx"), item.DateExchangeReceived, item.TimeExchangeReceived);
  if (const std::string text = f.Value("EAk"); !text.empty())
    SplitDateTime(text, item.DateExchangeAcknowledged, item.TimeExchangeAcknowledged);
  item.SetLinkedOrder(f.Value("Lnk"));
  item.XRefP = f.IntValue("XR");
  SplitDateTime(f.Value("GTD"), date, time);
  item.SetGoodTillDate(date);
  item.SetReference(f.Value("Ref"));
  item.OPr = f.FloatValue("OPr");
  item.Priority = f.IntValue("Pri");
  if (const std::string text = f.Value("TgD"); !text.empty()) {
    SplitDateTime(text, date, time);
    item.SetTriggerDate(date);
    item.SetTriggerTime(time);
  }
  item.SubState = f.IntValue("SbS");
  item.SetBatchID(f.Value("BtID"));
  item.SetBatchType(f.Value("BtTy"));
  item.SetBatchStatus(f.Value("BtSt"));
  item.BatchCount = f.IntValue("BtCt");
  item.SetBigRefField(f.Value("BgRf"));
  item.SetQuoteID(QuoteIDOf(item.BigRefField()));
  item.TimeOut = TimeOutOf(item.BigRefField());
  item.SetISINCode(f.Value("ISI"));
  item.SetCashPrice(f.Value("CP"));
  item.Methodology = FirstChar(f.Value("Me"));
  item.SetBasisRef(f.Value("ReN"));
  item.SetParentID(f.Value("POD"));
  item.DoneForDay = FirstChar(f.Value("DFD"));
  item.LotsPosted = f.IntValue("LtsP");
  item.ChildCount = f.IntValue("CCnt");
  item.SetSenderLocationID(f.Value("sLoc"));
  item.SetRawprice(f.Value("rPr"));
  item.SetRawprice2(f.Value("rPr2"));
  item.SetExecutionID(f.Value("XcnId"));
  item.SetClientID(f.Value("CID"));
  item.SetESARef(f.Value("ERf"));
  item.APIM = FirstChar(f.Value("APIM"));
  item.SetAPIMUser(f.Value("APUr"));
  SplitDateTime(f.Value("CrDt"), date, time);
  item.SetCreationDate(date);
  item.OrderHistorySeq = f.IntValue("OHSq");
  item.MaxClipSize = f.IntValue("MxCS");
  item.MinClipSize = f.IntValue("MiCS");
  item.Randomise = FirstChar(f.Value("RAN"));
  item.SetMarloDateSent(f.Value("MaDS"));
  item.SetMarloTimeSent(f.Value("MaTS"));
  item.MarloStage = FirstChar(f.Value("MaST"));
  item.SetTriggeredDate(f.Value("TriD"));
  item.SetTriggeredTime(f.Value("TriT"));
  item.SetTicketType(f.Value("TicT"));
  item.ProfitLevel = FirstChar(f.Value("PfLv"), 'N');
  item.SetExchangeField(f.Value("EAc"));
  item.SetBOFID(f.Value("BOF"));
  item.SetBadge(f.Value("Bdg"));
  if (item.ExchangeField().empty()) item.SetExchangeField(current.ExchangeField);
  if (item.BOFID().empty()) item.SetBOFID(current.BOFID);
  if (item.Badge().empty()) item.SetBadge(current.Badge);
  item.SetLocalUserName(f.Value("lUsr"));
  item.SetLocalTraderAccount(f.Value("lTA"));
  item.SetLocalBOF(f.Value("lBOF"));
  item.SetLocalOrderID(f.Value("lOID"));
  item.SetLocalEAC(f.Value("lEAc"));
  item.SetRoutingID1(f.Value("rRID1"));
  item.SetRoutingID2(f.Value("rRID2"));
  if (kind == kKindOrderDetail) {
    SplitDateTime(f.Value("DF"), date, time);
    item.SetDateFilled(date);
    item.SetTimeFilled(time);
  }
}

// A rejection, the answer to a cancel or amend, or a cancel of a working order is told to the
// user when every host message is to be notified.
bool AlertsUser(TOrderStatus status, TOrderStatus previous) {
  return status == osRejected || previous == osCancelPending || previous == osAmendPending ||
         (status == osCancelled && previous == osWorking);
}

// ---------------------------------------------------------------------------------------------
// The legacy form

constexpr TFixedField kOrderID{4, 10};
constexpr TFixedField kExchangeID{14, 30};
constexpr TFixedField kUserName{44, 10};
constexpr TFixedField kTraderAccount{54, 20};
constexpr TFixedField kOrderType{74, 10};
constexpr TFixedField kExchange{87, 10};
constexpr TFixedField kCommodity{97, 10};
constexpr TFixedField kContractDate{107, 50};
constexpr TFixedField kBuySell{157, 1};
constexpr TFixedField kPrice{158, 10};
constexpr TFixedField kPrice2{168, 10};
constexpr TFixedField kTargetLots{178, 10};
constexpr TFixedField kActualLots{188, 10};
constexpr TFixedField kStatus{198, 2};
constexpr TFixedField kFilled{200, 10};
constexpr TFixedField kAveragePrice{210, 10};
constexpr TFixedField kDateClientSent{220, 8};
constexpr TFixedField kTimeClientSent{228, 6};
constexpr TFixedField kDateHostReceived{234, 8};
constexpr TFixedField kTimeHostReceived{242, 6};
constexpr TFixedField kDateExchangeReceived{248, 8};
constexpr TFixedField kTimeExchangeReceived{256, 6};
constexpr TFixedField kDateExchangeAcknowledged{262, 8};
constexpr TFixedField kTimeExchangeAcknowledged{270, 6};
constexpr TFixedField kOpenOrClose{277, 1};
constexpr TFixedField kLinkedOrder{281, 10};
constexpr TFixedField kNonExecReason{291, 60};
constexpr TFixedField kXRefP{351, 10};
constexpr TFixedField kGoodTillDate{361, 8};
constexpr TFixedField kReference{375, 25};

void ReadLegacyFields(std::string_view body, TOrderItem& item) {
  item.ID = FixedText(body, kOrderID);
  item.DisplayID = item.ID;
  item.ExchangeID = FixedText(body, kExchangeID);
  item.UserName = FixedText(body, kUserName);
  item.ExchangeName = FixedText(body, kExchange);
  item.BuySell = SideFromNumber(FixedInt(body, kBuySell));
  item.Price = FixedFloat(body, kPrice);
  item.Price2 = FixedFloat(body, kPrice2);
  item.TargetLots = FixedInt(body, kTargetLots);
  item.ActualLots = FixedInt(body, kActualLots);
  item.AveragePrice = FixedFloat(body, kAveragePrice);
  item.DateClientSent = FixedText(body, kDateClientSent);
  item.TimeClientSent = FixedText(body, kTimeClientSent);
  item.DateHostReceived = FixedText(body, kDateHostReceived);
  item.TimeHostReceived = FixedText(body, kTimeHostReceived);
  item.DateExchangeReceived = FixedText(body, kDateExchangeReceived);
  item.TimeExchangeReceived = FixedText(body, kTimeExchangeReceived);
  item.DateExchangeAcknowledged = FixedText(body, kDateExchangeAcknowledged);
  item.TimeExchangeAcknowledged = FixedText(body, kTimeExchangeAcknowledged);
  item.OpenOrClose = FirstChar(FixedText(body, kOpenOrClose));
  item.SetLinkedOrder(FixedText(body, kLinkedOrder));
  item.SetNonExecReason(FixedText(body, kNonExecReason));
  item.XRefP = FixedInt(body, kXRefP);
  const std::string goodTill = FixedText(body, kGoodTillDate);
  if (goodTill != kNoGoodTillDate) item.SetGoodTillDate(goodTill);
  item.SetReference(FixedText(body, kReference));
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string QuoteIDOf(std::string_view bigRefField) {
  return TextAfterKeyword(bigRefField, "QUOTEID");
}

std::int32_t TimeOutOf(std::string_view bigRefField) {
  return SafeStrToInt(TextAfterKeyword(bigRefField, "TIMEOUT"), 0);
}

std::int32_t SubscribePositionalPrice(TClassAPI& api, const TContractItem& contract) {
  if (api.CheckReadyState() != 0) return VN_RC_NOT_LOGGED_ON;
  if (!contract.IsPermitted()) return VN_RC_CONTRACT_NOT_PERMITTED;
  api.Subscriptions.SubscribePrice(contract.Key());
  return VN_RC_SUCCESS;
}

void HoldPositionalContract(TClassAPI& api, TContractItem& contract, bool forced,
                            std::string_view exchange, std::string_view commodity,
                            std::string_view contractDate) {
  contract.Positional = true;
  if (forced) api.Subscriptions.SetForcedSubscription(contract.Key(), true);
  const std::int32_t result = SubscribePositionalPrice(api, contract);
  if (DebugFlagOn(kTraceAppCalls))
    WriteTraceLine("Subscribe to positional contract " +
                   ContractText(exchange, commodity, contractDate) + " = " + IntToStr(result));
}

void SendConfirmMsg(TClassAPI& api, std::string_view orderID, TOrderStatus status) {
  TTraceScope scope("TMOrder.ReceiveFields - SendConfirmMsg");
  std::string content;
  switch (status) {
    case osSent:
      content = "Order received by host for ";
      break;
    case osCancelPending:
      content = "Cancellation received by host for order ";
      break;
    case osAmendPending:
      content = "Amendment received by host for order ";
      break;
    default:
      content = "Fill received for order ";
      break;
  }
  content += orderID;
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(IntToStr(api.NextLocalMessageSequence()));
  message->IsAlert = alNormal;
  message->Status = altPending;
  message->Content = Copy(content, 1, kMessageWidth);
  // A sequence that is listed already (a host message took it) keeps its message.
  if (!api.UserMessages.Add(message).Added) {
    WriteTraceLine("TMOrder.ReceiveFields - SendConfirmMsg unable to send user message: MsgID " +
                   message->Sequence() + " has already been used");
    return;
  }
  if (!api.Logon.DownloadInProgress && api.NotifyAllMessages)
    AddMessageCallback(message->Sequence());
}

void SendAlertToUser(TClassAPI& api, std::string_view orderID, std::string_view text,
                     TOrderStatus status, std::int32_t flags, const TOrderTypeItem* orderType) {
  TTraceScope scope("TMOrder.ReceiveFields - SendAlertToUser");
  if (status == osIllegal) {
    WriteTraceLine(
        "TMOrder.ReceiveFields - SendAlertToUser\r\nInvalid Order PreviousStatus - osIllegal, No "
        "User Message Sent for Order " +
        std::string(orderID));
    return;
  }
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(IntToStr(api.NextLocalMessageSequence()));
  message->IsAlert =
      text.starts_with("*:*:") || (flags & kSuppressFlag) != 0 ? alSuppress : alAlert;
  message->Status = altPending;

  const char* word = "";
  switch (status) {
    case osSent:
      word = " Sent ";
      break;
    case osWorking:
      word = " Working ";
      break;
    case osRejected:
      word = " Rejection ";
      break;
    case osCancelled:
    case osCancelPending:
      word = " Cancellation ";
      break;
    case osBalCancelled:
      word = " Balance Cancellation ";
      break;
    case osPart:
      word = " Part Filled";
      break;
    case osFilled:
      word = " Filled ";
      break;
    case osAmendPending:
      word = " Amending ";
      break;
    case osORPIFilled:
      word = " ORPI Filled ";
      break;
    case osORPIPart:
      word = " ORPI Part Filled ";
      break;
    case osHeldOrder:
      word = " Held Order ";
      break;
    case osCancHeldOrder:
      word = " Cancelled Held Order ";
      break;
    default:
      break;
  }
  std::string content;
  if (!orderType) {
    content = text;
  } else {
    const std::int32_t typeID = orderType->OrderTypeID;
    if (typeID == 15 || typeID == otRFQi || typeID == otRFQt)
      content = "RFQ submitted to Market " + std::string(orderID);
    else if (typeID == 24 && text.find("submitted") != std::string_view::npos)
      content = text;
    else
      content =
          "Order ID: " + std::string(orderID) + word + " rejected due to " + std::string(text);
  }
  message->Content = Copy(content, 1, kMessageWidth);

  if (!api.UserMessages.Add(message).Added) {
    WriteTraceLine("TMOrder.ReceiveFields - SendAlertToUser unable to send user message: MsgID " +
                   message->Sequence() + " has already been used");
    return;
  }
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Order Rejected Message: " + message->Sequence() + ": " + std::string(text));
  // The application hears of it once the download is over, like every other message.
  if (!api.Logon.DownloadInProgress) AddMessageCallback(message->Sequence());
}

void ReceiveOrder(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMOrder.ReceiveFields", "TMOrder.ReceiveFields", "TMOrder.ReceiveFields");
  const std::string typeName = fields.Value("OTy");
  // The host's own order kinds stay out while OMI is off.
  if (!api.OMIEnabled && (typeName == "CustReq" || typeName == "AggOrder")) {
    WriteTraceLine("OMI disabled for 6.1 Beta - tmOrder.ReceiveFields");
    return;
  }
  const std::string id = fields.Value("OID");
  TOrderStatus status = StatusOf(fields.IntValue("Sts"));
  std::int32_t filled = fields.IntValue("Fil");
  if (!AcceptORPIState(api, id, status, filled)) return;
  if (status == osTransferred) {
    TransferOrder(api, id, status);
    SendAlertToUser(api, "", fields.Value("Txt"), status, 0, nullptr);
    return;
  }
  // A repeated message is dropped before anything else, so a repeated cancel pending is not
  // watched twice.
  const std::int32_t sequence = fields.IntValue("Seq");
  const std::int32_t kind = fields.IntValue("Flg");
  const TCurrentState current = CurrentState(api, id);
  if (current.Listed && sequence > 0 && sequence == current.LastSequence) {
    WriteTraceLine("Order message previously received.  Order ID : " + id +
                   ", Sequence : " + fields.Value("Seq"));
    return;
  }
  // The host numbers its messages in the order it sends them, so a state for the order-state
  // rules whose sequence is not above one they took for the order is an older state sent again
  // (a download after a re-logon): applied, it would turn the order back. Amend history and
  // order details describe past states and are not held to it.
  if (current.Listed && sequence > 0 && kind != kKindAmendHistory && kind != kKindOrderDetail &&
      sequence <= current.AppliedSequence) {
    WriteTraceLine("Order message older than the state applied.  Order ID : " + id +
                   ", Sequence : " + fields.Value("Seq") +
                   ", Applied : " + IntToStr(current.AppliedSequence));
    return;
  }
  if (status == osCancelPending && !WatchCancel(api, id)) return;
  if (StatusIn(status, {osSent, osCancelPending, osAmendPending})) SendConfirmMsg(api, id, status);
  const std::string accountName = fields.Value("TA");
  const auto account = api.Accounts.FindAccount(accountName);
  if (!account) {
    WriteTraceLine("No Such Account " + accountName);
    return;
  }
  const auto previousAccount = current.TraderAccount;
  const std::string exchange = fields.Value("Ex");
  const std::string commodity = fields.Value("C");
  const std::string contractDate = fields.Value("CD");
  const auto contract = api.Contracts.FindContract(exchange, commodity, contractDate);
  if (!contract) {
    if (kind != kKindOrderDetail)
      WriteTraceLine("No Such Contract " + ContractText(exchange, commodity, contractDate));
    return;
  }
  HoldPositionalContract(api, *contract, false, exchange, commodity, contractDate);
  const auto orderType = HostOrderType(api, exchange, typeName);
  auto item = NewOrderItem();
  item->CancelSent = false;
  item->Checked = false;
  ReadOrderFields(fields, kind, current, *item);
  item->Status = status;
  item->Filled = filled;
  if (sequence > 0) item->LastSequence = sequence;
  const std::string text = fields.Value("Txt");
  item->SetNonExecReason(text);
  item->TraderAccount = account;
  item->Contract = contract;
  item->OrderType = orderType;
  // The UUID is the item's own; it joins the groups only once the order list kept it.
  if (status == osSent) {
    const std::string active = fields.Value("Act");
    item->State = !active.empty() && active[0] == '2' ? TUUIDStreamable::usInactive
                                                      : TUUIDStreamable::usActive;
    item->SetUUID(fields.Value("GUID"));
  }
  if (DebugFlagOn(kDebugging)) DumpOrder("Order.ReceiveFields:", *item, true);
  // By the kind of message. Once listed, the item's state is read under the order list's lock.
  const std::string oldID = item->ID;
  bool taken = false;
  TOrderListRef history;  // the one the order-state rules used
  switch (kind) {
    case kKindAmendHistory:
      WriteTraceLine("DownloadOrderAmendHistory");
      api.Orders.AddToHistory(item);
      taken = true;
      break;
    case kKindOrderDetail:
      WriteTraceLine("DownloadOrderDetail");
      api.Reports.AddTradeReportOrder(*item, fields.Value("TrD"), contractDate, commodity,
                                      exchange);
      break;
    default:
      WriteTraceLine(kind == 1 ? std::string("OrderUpdate")
                               : "other order action: " + fields.Value("Flg"));
      taken = AddUnderLock(api, item, current.History, &history);
      break;
  }
  std::string newID;
  TOrderStatus newStatus = osIllegal;
  {
    TIndexListLock guard(api.Orders);
    newID = item->ID;
    newStatus = item->Status;
    // Margin bookkeeping: a closed order holds none; a kept one is entered on its (new) account.
    if (!HoldsMargin(newStatus)) account->RemoveMarginOrder(newID);
    if (taken) {
      if (previousAccount && previousAccount != account) previousAccount->RemoveMarginOrder(newID);
      account->AddMarginOrder(*item, StartOfDayCover(*contract, account->TraderAccount));
    }
  }
  // The UUID groups take the order only once the order list has it.
  if (taken && status == osSent)
    RegisterOrderUUID(api, item, newID, exchange + "/" + commodity + "/" + contractDate);
  if (!api.Logon.DownloadInProgress && kind != kKindOrderDetail)
    PostOrderEvent(api, newID, oldID, newStatus, history);
  // The flags word of an order message is its "Flg".
  if (kind != kKindAmendHistory && kind != kKindOrderDetail && taken && api.NotifyAllMessages &&
      !text.empty()) {
    const TOrderStatus previous = StatusOf(fields.IntValue("OSt"));
    if (AlertsUser(newStatus, previous))
      SendAlertToUser(api, newID, text, previous, kind & kSuppressFlag, orderType.get());
  }
  if (DebugFlagOn(kDebugging)) WriteTraceLine(" ");
  contract->UpdateChildList();
}

void ReceiveLegacyOrder(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMOrder.Receive", "TMOrder.Receive", "TMOrder.Receive");
  const std::int32_t code = FixedBodyCode(body);
  const std::string id = FixedText(body, kOrderID);
  TOrderStatus status = StatusOf(FixedInt(body, kStatus));
  std::int32_t filled = FixedInt(body, kFilled);
  if (status == osCancelPending && !WatchCancel(api, id)) return;
  if (!AcceptORPIState(api, id, status, filled)) return;
  if (status == osTransferred) {
    TransferOrder(api, id, status);
    return;
  }
  const auto account = api.Accounts.FindAccount(FixedText(body, kTraderAccount));
  if (!account) return;
  const std::string exchange = FixedText(body, kExchange);
  const std::string commodity = FixedText(body, kCommodity);
  const std::string contractDate = FixedText(body, kContractDate);
  const auto contract = api.Contracts.FindContract(exchange, commodity, contractDate);
  if (!contract) return;
  HoldPositionalContract(api, *contract, false, exchange, commodity, contractDate);
  const auto orderType = HostOrderType(api, exchange, FixedText(body, kOrderType));

  auto item = NewOrderItem();
  ReadLegacyFields(body, *item);
  item->Status = status;
  item->Filled = filled;
  item->TraderAccount = account;
  item->Contract = contract;
  item->OrderType = orderType;
  if (DebugFlagOn(kDebugging)) DumpOrder("Order.Receive:", *item, false);

  std::string oldID = item->ID;
  switch (code) {
    case kLegacyOrderAcknowledged: {
      WriteTraceLine("l_midOrderAckn");
      TOrderQGuard guard(api.Orders);
      const std::string matched = api.Orders.MatchOrder(*item);
      if (!matched.empty()) oldID = matched;
      api.Orders.Add(item);
      break;
    }
    case kLegacyAmendHistory:
      WriteTraceLine("l_midOrderAmendHistoryDL");
      api.Orders.AddToHistory(item);
      break;
    default:
      WriteTraceLine("other order action: " + IntToStr(code));
      AddUnderLock(api, item);
      break;
  }
  std::string newID;
  TOrderStatus newStatus = osIllegal;
  {
    TIndexListLock guard(api.Orders);
    newID = item->ID;
    newStatus = item->Status;
  }
  if (!api.Logon.DownloadInProgress) PostOrderEvent(api, newID, oldID, newStatus);
}

}  // namespace vorn
