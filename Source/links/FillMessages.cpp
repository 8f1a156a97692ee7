#include "links/FillMessages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/Fill.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderQ.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"
#include "links/OrderMessages.h"

namespace vorn {
namespace {

// The widths of the fill record's text fields (less the NUL); the order ID's is kOrderIDLength.
constexpr std::size_t kFillIDWidth = 70;
constexpr std::size_t kExchangeOrderIDWidth = 30;
constexpr std::size_t kUserNameWidth = 10;
constexpr std::size_t kExchangeFillIDWidth = 70;
constexpr std::size_t kExchangeRawPriceWidth = 20;
constexpr std::size_t kExecutionIDWidth = 70;

constexpr const char* kNettedExchangeOrderID = "NETTED";
constexpr const char* kIllegalOrderText = "ILLEGAL";

// One fill message, read from either form.
struct TFillMessage {
  bool Tagged = false;
  std::string FillID;
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;
  TPurchase BuySell = Illegal;
  std::int32_t Lots = 0;
  double Price = 0;
  std::string OrderID;
  std::string DateFilled;
  std::string TimeFilled;
  std::string DateHostReceived;
  std::string TimeHostReceived;
  std::string ExchangeOrderID;
  TFillType FillType = fltpNone;
  std::string AccountName;
  std::string UserName;
  // The tagged form only.
  std::string ExchangeFillID;
  std::string ExchangeRawPrice;
  std::string ExecutionID;
  std::string Active;
  std::string GUID;
  std::int32_t FillSubType = 0;
};

// What is done once the locks are left.
struct TFillOutcome {
  std::string UUIDLine;
};

// A type number outside the enumeration reads as 0.
TFillType FillTypeOf(std::int32_t value) {
  return value >= fltpNone && value <= fltpRETAINED ? static_cast<TFillType>(value) : fltpNone;
}

// The order-id text of the fill event.
std::string EventOrderText(const TFill& fill) {
  switch (fill.FillType) {
    case fltpFILL:
    case fltpRETAINED:
      return fill.OrderID;
    case fltpEXTERNAL:
      return "EXTERNAL";
    case fltpNETTED:
      return "NETTED";
    default:
      return kIllegalOrderText;
  }
}

std::string ContractPath(const TFillMessage& m, char separator) {
  std::string text = m.Exchange;
  text += separator;
  text += m.Commodity;
  text += separator;
  text += m.ContractDate;
  return text;
}

void WriteFields(const TFillMessage& m, const std::shared_ptr<TContractItem>& contract,
                 const std::shared_ptr<TTraderAccountItem>& account, TFill& fill) {
  fill.Contract = contract;
  fill.BuySell = m.BuySell;
  fill.Lots = m.Lots;
  fill.Price = m.Price;
  fill.OrderID = m.OrderID;
  fill.DateFilled = m.DateFilled;
  fill.TimeFilled = m.TimeFilled;
  fill.DateHostReceived = m.DateHostReceived;
  fill.TimeHostReceived = m.TimeHostReceived;
  fill.ExchangeOrderID = m.ExchangeOrderID;
  fill.Account = account;
  fill.UserName = m.UserName;
  fill.IsSODFill = false;
  if (!m.Tagged) return;
  fill.ExchangeFillID = m.ExchangeFillID;
  fill.ExchangeRawPrice = m.ExchangeRawPrice;
  fill.ExecutionID = m.ExecutionID;
  if (m.Active.empty() || m.Active[0] == '1')
    fill.State = TUUIDStreamable::usActive;
  else if (m.Active[0] == '2')
    fill.State = TUUIDStreamable::usInactive;
  fill.FillSubType = m.FillSubType;
}

void AddMemberOnce(TUUIDStreamable& owner, const std::shared_ptr<TUUIDStreamable>& member) {
  auto members = owner.Members.LockList();
  for (const auto& entry : *members)
    if (entry.lock() == member) return;
  members->push_back(member);
}

// The fill's UUID: a new fill takes the message's (a new GUID when it has none); a listed fill
// keeps its own unless the message names another, when it leaves its old group. True when the
// fill is to join the groups of its UUID.
bool SetFillUUID(TClassAPI& api, TFill& fill, bool isNew, const std::string& guid) {
  if (!isNew) {
    if (guid.empty() || guid == fill.GetUUID()) return false;
    api.UUIDObjects->LeaveGroups(fill);
    fill.BelongsTo.Clear();
  }
  fill.SetUUID(guid);
  return true;
}

// The group of the fill's UUID, its order's members and its belongs-to list, once the fill list
// holds it. Under the order list's and the fill list's locks.
void JoinUUIDGroups(TClassAPI& api, const std::shared_ptr<TFill>& fill) {
  if (auto order = api.Orders.FindOrder(fill->OrderID)) AddMemberOnce(*order, fill);
  api.UUIDObjects->Add(fill);
  try {
    fill->BelongsTo.Add(fill->GetUUID());
  } catch (...) {
    WriteTraceLine("Error adding UUIDstr to UUIDBelongsToList for a fill");
  }
}

void DumpFill(const TFillMessage& m, const std::string& fillType, std::string_view accountName) {
  std::string d = m.Tagged ? "Fill.ReceiveFields: " : "Fill: ";
  AppendDumpLine(d, "  Vorn OrderID  ", m.OrderID);
  AppendDumpLine(d, "  Fill ID       ", m.FillID);
  AppendDumpLine(d, "  Exchange Name ", m.Exchange);
  AppendDumpLine(d, "  Contract Name ", m.Commodity);
  AppendDumpLine(d, "  Contract Date ", m.ContractDate);
  AppendDumpLine(d, "  Buy/Sell      ", IntToStr(m.BuySell));
  AppendDumpLine(d, "  Lots          ", IntToStr(m.Lots));
  AppendDumpLine(d, "  Price         ", FloatToStr(m.Price));
  AppendDumpLine(d, "  Fill Type     ", fillType);
  if (m.Tagged) {
    AppendDumpLine(d, "  Exch Raw Price    ", m.ExchangeRawPrice);
    AppendDumpLine(d, "  Exch Fill ID    ", m.ExchangeFillID);
    AppendDumpLine(d, "  Execution ID    ", m.ExecutionID);
    AppendDumpLine(d, "  Fill Type     ", fillType);
    AppendDumpLine(d, "  Fill Type     ", fillType);
  }
  AppendDumpLine(d, "  Trader Accnt  ", accountName);
  WriteTraceLine(d);
}

// Finds or makes the fill and writes it, under the order list's and the fill list's locks; a new
// fill is listed and applied once. Returns the fill.
std::shared_ptr<TFill> StoreFill(TClassAPI& api, const TFillMessage& m,
                                 const std::shared_ptr<TContractItem>& contract,
                                 const std::shared_ptr<TTraderAccountItem>& account,
                                 TFillOutcome& outcome) {
  TIndexListLock orderGuard(api.Orders);
  TIndexListLock fillGuard(api.Fills);
  auto fill = api.Fills.FindByKey(TFill::KeyFor(m.FillID, m.FillType));
  const bool isNew = !fill;
  if (isNew) {
    fill = std::make_shared<TFill>();
    fill->FillID = m.FillID;
    fill->FillType = m.FillType;
  } else {
    // Set through the list, which keeps the fill's key in step with its type.
    api.Fills.SetFillType(fill, m.FillType);
  }
  // What the position was netted from: a repeated message that corrects it re-nets the
  // position, which would otherwise keep the fill as first received.
  const auto oldContract = fill->Contract;
  const std::string oldAccount = fill->GetAccountName();
  const bool corrects =
      !isNew && (fill->BuySell != m.BuySell || fill->Lots != m.Lots || fill->Price != m.Price ||
                 oldContract != contract || oldAccount != m.AccountName);
  WriteFields(m, contract, account, *fill);
  const bool joins = m.Tagged && SetFillUUID(api, *fill, isNew, m.GUID);
  if (m.Tagged)
    outcome.UUIDLine = ContractPath(m, '/') + "/" + m.OrderID + "/" + m.FillID + "\t\t" +
                       fill->GetUUID() + "\t" + UUIDStatusToStr(fill->State);
  if (m.ExchangeOrderID == kNettedExchangeOrderID && m.FillType == fltpNETTED) {
    api.Positions.RebuildPosition(*fill);
  } else if (corrects) {
    api.Positions.RebuildPosition(*fill);
  }
  if (corrects && (oldContract != fill->Contract || oldAccount != fill->GetAccountName()))
    api.Positions.RebuildAccount(oldContract, oldAccount);
  if (isNew) {
    // Listed and applied together: the traded contract and the position (not for a retained
    // fill), so no rebuild sees it listed but not applied.
    api.Positions.AddFill(fill);
    if (m.FillType == fltpFILL) api.Orders.IncNoOfFills(m.OrderID);
    if (m.Tagged && m.FillType == fltpEXTERNAL && account)
      account->AddMarginFill(m.FillID, contract->Key(), m.BuySell, m.Lots, m.Price,
                             StartOfDayCover(*contract, account->TraderAccount));
  }
  if (joins) JoinUUIDGroups(api, fill);
  return fill;
}

void ApplyFillMessage(TClassAPI& api, const TFillMessage& m) {
  if (m.FillID.empty()) return;
  auto contract = api.Contracts.FindContract(m.Exchange, m.Commodity, m.ContractDate);
  if (!contract) {
    WriteTraceLine("Cannot find Contract " + m.Exchange + " \\ " + m.Commodity + " \\ " +
                   m.ContractDate + " for Fill " + m.FillID);
    return;
  }
  // The contract is held for its positions: in the stored contracts, and for the tagged form with
  // a forced price subscription (a repeated one counts nothing more).
  api.Contracts.AddStoredContract(contract);
  if (m.Tagged)
    HoldPositionalContract(api, *contract, true, m.Exchange, m.Commodity, m.ContractDate);
  else
    contract->Positional = true;
  auto account = api.Accounts.FindAccount(m.AccountName);
  // The fill is kept, applied and reported without its account; only the account's own records
  // (traded contract, margin entry) are skipped.
  if (!account)
    WriteTraceLine("Cannot find Account " + m.AccountName + " for Fill " + m.FillID +
                   ": account steps skipped");

  TFillOutcome outcome;
  const auto fill = StoreFill(api, m, contract, account, outcome);
  if (!outcome.UUIDLine.empty()) WriteUUIDLine(kUUIDObjectFileName, outcome.UUIDLine);
  if (DebugFlagOn(kDebugging)) DumpFill(m, IntToStr(m.FillType), m.AccountName);

  std::string orderText;
  std::string fillID;
  {
    TIndexListLock guard(api.Fills);
    orderText = EventOrderText(*fill);
    fillID = fill->FillID;
  }
  if (orderText == kIllegalOrderText || api.Logon.DownloadInProgress) return;
  if (m.Tagged) SendConfirmMsg(api, orderText, osFilled);
  AddFillCallback(orderText, fillID);
}

// ---------------------------------------------------------------------------------------------
// The legacy form

constexpr TFixedField kFillID{4, 70};
constexpr TFixedField kExchange{74, 10};
constexpr TFixedField kCommodity{84, 10};
constexpr TFixedField kContractDate{94, 50};
constexpr TFixedField kBuySell{144, 1};
constexpr TFixedField kLots{145, 10};
constexpr TFixedField kPrice{155, 10};
constexpr TFixedField kOrderID{165, 10};
constexpr TFixedField kDateFilled{175, 8};
constexpr TFixedField kTimeFilled{183, 6};
constexpr TFixedField kDateHostReceived{189, 8};
constexpr TFixedField kTimeHostReceived{197, 6};
constexpr TFixedField kExchangeOrderID{203, 30};
constexpr TFixedField kFillType{233, 1};
constexpr TFixedField kTraderAccount{234, 20};
constexpr TFixedField kUserName{254, 10};

}  // namespace

void ReceiveFill(TClassAPI& api, TFieldsList& f) {
  TTraceScope scope("TMFill.ReceiveFields", "TMFill.ReceiveFields", "TMFill.ReceiveFields");
  TFillMessage m;
  m.Tagged = true;
  m.FillID = f.BoundedValue("FID", kFillIDWidth);
  if (m.FillID.empty()) return;
  m.Exchange = f.BoundedValue("Ex", kExchangeNameWidth);
  m.Commodity = f.BoundedValue("C", kCommodityNameWidth);
  m.ContractDate = f.BoundedValue("CD", kContractDateWidth);
  m.BuySell = SideFromNumber(f.IntValue("BS"));
  m.Lots = f.IntValue("Fil");
  m.Price = f.FloatValue("Pr");
  m.OrderID = f.BoundedValue("OID", kOrderIDLength);
  SplitDateTime(f.Value("DF"), m.DateFilled, m.TimeFilled);
  SplitDateTime(f.Value("HRx"), m.DateHostReceived, m.TimeHostReceived);
  m.ExchangeOrderID = f.BoundedValue("EID", kExchangeOrderIDWidth);
  m.FillType = FillTypeOf(f.IntValue("FTy"));
  m.AccountName = f.BoundedValue("TA", kTraderAccountWidth);
  m.UserName = f.BoundedValue("Usr", kUserNameWidth);
  m.ExchangeFillID = f.BoundedValue("EFID", kExchangeFillIDWidth);
  m.ExchangeRawPrice = Copy(f.Value("ErPr"), 1, kExchangeRawPriceWidth);
  m.ExecutionID = f.BoundedValue("XcnId", kExecutionIDWidth);
  m.Active = f.Value("Act");
  m.GUID = f.Value("GUID");
  m.FillSubType = f.IntValue("FSTy");
  ApplyFillMessage(api, m);
}

void ReceiveLegacyFill(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMFill.Receive", "TMFill.Receive", "TMFill.Receive");
  TFillMessage m;
  m.FillID = FixedText(body, kFillID);
  if (m.FillID.empty()) return;
  // Trimmed before the look-up and the stored-contract entry, like the tagged names.
  m.Exchange = FixedText(body, kExchange);
  m.Commodity = FixedText(body, kCommodity);
  m.ContractDate = FixedText(body, kContractDate);
  m.BuySell = SideFromNumber(FixedInt(body, kBuySell));
  m.Lots = FixedInt(body, kLots);
  m.Price = SafeStrToFloat(FixedText(body, kPrice), 0);
  m.OrderID = FixedText(body, kOrderID);
  m.DateFilled = FixedText(body, kDateFilled);
  m.TimeFilled = FixedText(body, kTimeFilled);
  m.DateHostReceived = FixedText(body, kDateHostReceived);
  m.TimeHostReceived = FixedText(body, kTimeHostReceived);
  m.ExchangeOrderID = FixedText(body, kExchangeOrderID);
  m.FillType = FillTypeOf(FixedInt(body, kFillType));
  m.AccountName = FixedText(body, kTraderAccount);
  m.UserName = FixedText(body, kUserName);
  ApplyFillMessage(api, m);
}

}  // namespace vorn
