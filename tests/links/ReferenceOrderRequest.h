#pragma once
// The order requests as they were written before the request text went straight into the frame:
// a field list of name/value strings, copied into the frame by TSendHostMessage::FillBuffer.
// Kept for the tests only, as the reference the written requests must equal byte for byte.

#include <memory>
#include <string>
#include <string_view>

#include "core/diag/Trace.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderItem.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/wire/VornMessage.h"
#include "links/OrderRequests.h"

namespace vorn {

class TReferenceOrderRequest : public TSendHostMessage {
 public:
  // As TMMHUBSendOrder::BuildFields wrote its fields before.
  void BuildFields(TClassAPI& api, std::int32_t code, const TOrderItem& order);
};

namespace reference_request {

// Fixed formats: prices of the add request, margin figures, the P/L.
inline std::string Price15(double value) {
  return FloatToStrFixed(value, 15, 8);
}
inline std::string Figure10(double value) {
  return FloatToStrFixed(value, 10, 8);
}
inline std::string Whole10(double value) {
  return FloatToStrFixed(value, 10, 0);
}

inline std::string Char(char c) {
  return std::string(1, c);
}

template <class T>
inline const T& Require(const std::shared_ptr<T>& item, const TOrderItem& order, const char* what) {
  if (!item) throw Exception("Order " + order.ID + " has no " + what);
  return *item;
}

// Signed lots of the prospective trade: buys (and two-sided and cross orders) add, sells take
// off, any other side none.
inline std::int32_t SignedLots(const TOrderItem& order) {
  switch (order.BuySell) {
    case Buy:
    case TwoSided:
    case Cross:
      return order.TargetLots;
    case Sell:
      // Negated with wrap-around: the lowest int32 (allowed for RFQ types) stays itself.
      return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(order.TargetLots));
    default:
      return 0;
  }
}

// The labels of the "Build Order: " trace and the fields they show.
struct TTraceField {
  const char* Label;
  const char* Field;
};
constexpr TTraceField kTraceFields[] = {
    {"Message ID", "Msg"},     {"VORN OrderID", "OID"},  {"Trader Accnt", "TA"},
    {"User Name", "Usr"},      {"Exchange Name", "Ex"},  {"Contract Name", "C"},
    {"Contract Date", "CD"},   {"Order Type", "OTy"},    {"Order Type ID", "TID"},
    {"Buy/Sell", "BS"},        {"Target Lots", "TLt"},   {"Price", "Pr"},
    {"Price 2", "Pr2"},        {"Total PL", "PnL"},      {"Margin Required", "Mar"},
    {"Linked Order", "LID"},   {"Client X Ref P", "XR"}, {"Date ClientSent", "CTX"},
    {"Good Till Date", "GTD"}, {"Reference", "Ref"},     {"Sender Location", "sLoc"},
    {"Raw Price", "rPr"},      {"Raw Price 2", "rPr2"},  {"Client ID", "CID"},
    {"ESA Reference", "ERf"},  {"MinClip", "MiCS"},      {"MaxClip", "MxCS"},
    {"Randomise", "RAN"},
};
constexpr std::size_t kTraceLabelWidth = 16;

class TOrderFieldsBuilder {
 public:
  TOrderFieldsBuilder(TReferenceOrderRequest& message, TClassAPI& api, const TOrderItem& order)
      : message_(message), api_(api), order_(order) {}

  void Add(std::string_view name, std::string_view value) {
    message_.BodyFields.AddFieldValue(name, value, -1, -1, false);
  }

  void AddRequest() {
    const TContractItem& contract = Require(order_.Contract, order_, "contract");
    const TTraderAccountItem& account = Require(order_.TraderAccount, order_, "trader account");
    const TOrderTypeItem& orderType = Require(order_.OrderType, order_, "order type");
    const auto commodity = contract.GetCommodity();

    Add("OID", order_.ID);
    Add("Usr", order_.UserName);
    Add("TA", account.TraderAccount);
    Add("OTy", orderType.Name());
    Add("TID", IntToStr(orderType.OrderTypeID));
    Add("Ex", commodity ? commodity->ExchangeName() : contract.ExchangeStr());
    Add("C", commodity ? commodity->Name() : contract.CommodityStr());
    Add("CD", contract.ContractDate());
    Add("BS", IntToStr(order_.BuySell));
    Add("Pr", Price15(order_.Price));
    Add("Pr2", Price15(order_.Price2));
    Add("TLt", IntToStr(order_.TargetLots));
    Add("CTX", order_.DateClientSent + order_.TimeClientSent);
    Add("PnL", Whole10(TotalPL(account)));
    Add("Mar", Figure10(Margin(account, {})));
    if (PremiumSent(contract)) Add("OPr", Figure10(Premium(contract, true)));
    Add("OC", Char(order_.OpenOrClose));
    Add("LID", order_.LinkedOrder());
    Add("XR", IntToStr(order_.XRefP));
    Add("Bid", FloatToStr(contract.GetPrice(0).Value));
    Add("Ofr", FloatToStr(contract.GetPrice(1).Value));
    if (!order_.GoodTillDate().empty()) Add("GTD", order_.GoodTillDate() + "000000");
    Add("Ref", order_.GetReference());
    Add("Pri", IntToStr(order_.Priority));
    Add("TgD", order_.TriggerDate() + order_.TriggerTime());
    Add("BtID", order_.BatchID());
    Add("BtCt", IntToStr(order_.BatchCount));
    Add("BtSt", order_.BatchStatus());
    Add("BtTy", order_.BatchType());
    Add("BgRf", order_.BigRefField());
    Add("POD", order_.ParentID());
    Add("DFD", Char(order_.DoneForDay));
    Add("sLoc", order_.SenderLocationID());
    Add("rPr", order_.Rawprice());
    Add("rPr2", order_.Rawprice2());
    Add("CID", order_.ClientID());
    Add("ERf", order_.ESARef());
    AddExecutionFields();
    if (order_.IsProtectionOrder) {
      Add("L1Pr", order_.Pr1Price());
      Add("L1Vo", IntToStr(order_.Pr1Volume));
      Add("L2Pr", order_.Pr2Price());
      Add("L2Vo", IntToStr(order_.Pr2Volume));
      Add("L3Pr", order_.Pr3Price());
      Add("L3Vo", IntToStr(order_.Pr3Volume));
      Add("StOT", order_.StType());
      Add("StS1", FloatToStr(order_.StSteps1));
      Add("StS2", FloatToStr(order_.StSteps2));
      Add("StLPr", order_.StPrice());
    }
    AddLocalFields();
  }

  void AmendRequest() {
    const TContractItem& contract = Require(order_.Contract, order_, "contract");
    const TTraderAccountItem& account = Require(order_.TraderAccount, order_, "trader account");
    const auto commodity = contract.GetCommodity();

    Add("OID", order_.ID);
    Add("EID", order_.ExchangeID);
    Add("TA", account.TraderAccount);
    Add("Usr", order_.UserName);
    Add("Pr", FloatToStr(order_.Price));
    Add("Pr2", FloatToStr(order_.Price2));
    Add("TLt", IntToStr(order_.TargetLots));
    Add("Bid", FloatToStr(contract.GetPrice(0).Value));
    Add("Ofr", FloatToStr(contract.GetPrice(1).Value));
    Add("PnL", Whole10(TotalPL(account)));
    Add("OC", Char(order_.OpenOrClose));
    // The order's own margin is replaced by the amended one, not counted twice.
    Add("Mar", Figure10(Margin(account, order_.ID)));
    if (PremiumSent(contract)) Add("OPr", Figure10(Premium(contract, false)));
    Add("Ref", order_.GetReference());
    Add("Pri", IntToStr(order_.Priority));
    Add("TgD", order_.TriggerDate() + order_.TriggerTime());
    Add("sLoc", order_.SenderLocationID());
    Add("rPr", order_.Rawprice());
    Add("rPr2", order_.Rawprice2());
    Add("CID", order_.ClientID());
    Add("ERf", order_.ESARef());
    Add("POD", order_.ParentID());
    Add("DFD", Char(order_.DoneForDay));
    AddExecutionFields();
    AddLocalFields();
    Add("Ex", order_.ExchangeName);
    Add("C", commodity ? commodity->Name() : contract.CommodityStr());
  }

  void OrderReference() {
    Add("OID", order_.ID);
    Add("EID", order_.ExchangeID);
  }

 private:
  // From "APIM" to "TicV": the same run in the add and the amend request.
  void AddExecutionFields() {
    Add("APIM", Char(order_.APIM));
    Add("APUr", order_.APIMUser());
    Add("YDSP", order_.YDSPAudit());
    Add("INLg", order_.ICSNearLegPrice());
    Add("IFLg", order_.ICSFarLegPrice());
    Add("MiCS", IntToStr(order_.MinClipSize));
    Add("MxCS", IntToStr(order_.MaxClipSize));
    Add("RAN", Char(order_.Randomise));
    Add("TicT", order_.TicketType());
    Add("TicV", order_.TicketVersion());
  }

  void AddLocalFields() {
    Add("EAc", order_.ExchangeField());
    Add("BOF", order_.BOFID());
    Add("Bdg", order_.Badge());
    Add("lUsr", order_.LocalUserName());
    Add("lTA", order_.LocalTraderAccount());
    Add("lBOF", order_.LocalBOF());
    Add("lOID", order_.LocalOrderID());
    Add("lEAc", order_.LocalEAC());
    Add("rRID1", order_.RoutingID1());
    Add("rRID2", order_.RoutingID2());
  }

  double TotalPL(const TTraderAccountItem& account) const {
    return api_.Positions.GetTotalPos(account.TraderAccount, false).PL;
  }

  double Margin(const TTraderAccountItem& account, std::string_view orderID) const {
    return api_.MarginRequirement.CalcMarginReq(order_.Contract, account, orderID,
                                                TMarginRequirement::kOrderRequest,
                                                SignedLots(order_), order_.Price, true);
  }

  bool PremiumSent(const TContractItem& contract) const {
    return api_.Features.MarginMode && contract.IsOption();
  }

  // The value of one lot at the order's price, or at the current offer for an order type
  // without prices. The add request's price is in tick notation.
  double Premium(const TContractItem& contract, bool fromTickNotation) const {
    const TOrderTypeItem& orderType = Require(order_.OrderType, order_, "order type");
    std::uint8_t pricesRequired = 0;
    {
      TIndexListLock guard(api_.OrderTypes);
      pricesRequired = orderType.PricesRequired;
    }
    double price = pricesRequired >= 1 ? order_.Price : contract.GetPrice(1).Value;
    if (fromTickNotation) price = TickNotationToDecimal(contract.GetTicksPerPoint(), price);
    return api_.MarginRequirement.CalcContractValue(contract, 1, order_.BuySell, price);
  }

  TReferenceOrderRequest& message_;
  TClassAPI& api_;
  const TOrderItem& order_;
};

inline std::string FieldValue(const TReferenceOrderRequest& message, std::string_view name) {
  std::string value = message.HeaderFields.GetFieldValue(name, 0);
  return value.empty() ? message.BodyFields.GetFieldValue(name, 0) : value;
}

inline void TraceBuildOrder(const TReferenceOrderRequest& message) {
  std::string text = "Build Order: ";
  for (const TTraceField& field : kTraceFields)
    AppendDumpLine(text, std::string("  ") + field.Label, FieldValue(message, field.Field),
                   2 + kTraceLabelWidth);
  WriteTraceLine(text);
}

}  // namespace reference_request

inline void TReferenceOrderRequest::BuildFields(TClassAPI& api, std::int32_t code,
                                                const TOrderItem& order) {
  using namespace reference_request;
  SetCode(IntToStr(code));
  HeaderFields.AddFieldValue("Msg", Code(), -1, -1, false);
  TOrderFieldsBuilder builder(*this, api, order);
  switch (code) {
    case TMMHUBSendOrder::kAddOrder:
      builder.AddRequest();
      break;
    case TMMHUBSendOrder::kAmendOrder:
      builder.AmendRequest();
      break;
    case TMMHUBSendOrder::kCancelOrder:
    case TMMHUBSendOrder::kOrderStatusQuery:
      builder.OrderReference();
      break;
    default:
      break;
  }
  if (DebugFlagOn(kDebugging)) TraceBuildOrder(*this);
}

}  // namespace vorn
