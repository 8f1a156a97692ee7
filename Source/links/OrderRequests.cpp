#include "links/OrderRequests.h"

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

namespace vorn {
namespace {

// Fixed formats: prices of the add request, margin figures, the P/L.
std::string Price15(double value) {
  return FloatToStrFixed(value, 15, 8);
}
std::string Figure10(double value) {
  return FloatToStrFixed(value, 10, 8);
}
std::string Whole10(double value) {
  return FloatToStrFixed(value, 10, 0);
}

std::string Char(char c) {
  return std::string(1, c);
}

template <class T>
const T& Require(const std::shared_ptr<T>& item, const TOrderItem& order, const char* what) {
  if (!item) throw Exception("Order " + order.ID + " has no " + what);
  return *item;
}

// Signed lots of the prospective trade: buys (and two-sided and cross orders) add, sells take
// off, any other side none.
std::int32_t SignedLots(const TOrderItem& order) {
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

}  // namespace

// The request text is written with every field but the account figures first (WriteTexts,
// possibly under the order list's lock), then the figures are inserted where they belong
// (WriteFigures, with no lock held): the figures' trace lines keep their place after the
// order's event.
class TOrderTextWriter {
 public:
  TOrderTextWriter(TMMHUBSendOrder& message, const TOrderItem& order)
      : message_(message), order_(order) {}

  void Add(std::string_view name, std::string_view value) {
    message_.frame_.Add(name, value);
    if (message_.traced_) Note(message_, name, value);
  }

  // Keeps a traced field's value as the trace shows it: trimmed, its 0x01 bytes kept.
  static void Note(TMMHUBSendOrder& message, std::string_view name, std::string_view value) {
    for (std::size_t i = 0; i < std::size(kTraceFields); ++i) {
      if (name == kTraceFields[i].Field) {
        message.traceValues_[i].assign(TrimView(value));
        return;
      }
    }
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
    KeepFigureInputs(false);  // PnL, Mar and OPr
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
    // PnL, OC, Mar and OPr. The order's own margin is replaced by the amended one, not counted
    // twice.
    KeepFigureInputs(true);
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
  void KeepFigureInputs(bool amend) {
    TMMHUBSendOrder::TFigureInputs& inputs = message_.inputs_;
    inputs.Contract = order_.Contract;
    inputs.Account = order_.TraderAccount;
    inputs.OrderType = order_.OrderType;
    inputs.ID = order_.ID;
    inputs.Amend = amend;
    inputs.SignedLots = SignedLots(order_);
    inputs.Price = order_.Price;
    inputs.BuySell = static_cast<std::uint8_t>(order_.BuySell);
    inputs.OpenOrClose = order_.OpenOrClose;
    message_.figuresAt_ = message_.frame_.Size();
  }

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

  TMMHUBSendOrder& message_;
  const TOrderItem& order_;
};

// The account figures of an add or amend request, from what WriteTexts kept.
class TFigureWriter {
 public:
  TFigureWriter(TClassAPI& api, const TMMHUBSendOrder::TFigureInputs& inputs)
      : api_(api), in_(inputs) {}

  std::string TotalPL() const {
    return Whole10(api_.Positions.GetTotalPos(in_.Account->TraderAccount, false).PL);
  }

  std::string Margin() const {
    return Figure10(api_.MarginRequirement.CalcMarginReq(
        in_.Contract, *in_.Account, in_.Amend ? std::string_view(in_.ID) : std::string_view(),
        TMarginRequirement::kOrderRequest, in_.SignedLots, in_.Price, true));
  }

  bool PremiumSent() const { return api_.Features.MarginMode && in_.Contract->IsOption(); }

  // The value of one lot at the order's price, or at the current offer for an order type
  // without prices. The add request's price is in tick notation.
  std::string Premium() const {
    if (!in_.OrderType) throw Exception("Order " + in_.ID + " has no order type");
    const TContractItem& contract = *in_.Contract;
    std::uint8_t pricesRequired = 0;
    {
      TIndexListLock guard(api_.OrderTypes);
      pricesRequired = in_.OrderType->PricesRequired;
    }
    double price = pricesRequired >= 1 ? in_.Price : contract.GetPrice(1).Value;
    if (!in_.Amend) price = TickNotationToDecimal(contract.GetTicksPerPoint(), price);
    return Figure10(api_.MarginRequirement.CalcContractValue(
        contract, 1, static_cast<TPurchase>(in_.BuySell), price));
  }

 private:
  TClassAPI& api_;
  const TMMHUBSendOrder::TFigureInputs& in_;
};

void TMMHUBSendOrder::BuildFields(TClassAPI& api, std::int32_t code, const TOrderItem& order) {
  WriteTexts(code, order);
  WriteFigures(api);
}

void TMMHUBSendOrder::WriteTexts(std::int32_t code, const TOrderItem& order) noexcept {
  try {
    SetCode(IntToStr(code));
    traced_ = DebugFlagOn(kDebugging);
    if (traced_) traceValues_.assign(std::size(kTraceFields), std::string());
    frame_.Clear();
    frame_.AppendRaw(std::string_view("\0\0", 2));  // the length word, set by WriteFigures
    TOrderTextWriter writer(*this, order);
    writer.Add("Msg", Code());
    switch (code) {
      case kAddOrder:
        writer.AddRequest();
        break;
      case kAmendOrder:
        writer.AmendRequest();
        break;
      case kCancelOrder:
      case kOrderStatusQuery:
        writer.OrderReference();
        break;
      default:
        break;
    }
  } catch (...) {
    failure_ = std::current_exception();
  }
}

void TMMHUBSendOrder::WriteFigures(TClassAPI& api) {
  if (failure_) std::rethrow_exception(failure_);
  if (figuresAt_ > 0) {
    const TFigureWriter figures(api, inputs_);
    // Written at the end, then moved to their place: no second buffer.
    const std::size_t written = frame_.Size();
    const auto add = [&](std::string_view name, const std::string& value) {
      frame_.Add(name, value);
      if (traced_) TOrderTextWriter::Note(*this, name, value);
    };
    add("PnL", figures.TotalPL());
    if (inputs_.Amend) add("OC", Char(inputs_.OpenOrClose));
    add("Mar", figures.Margin());
    if (figures.PremiumSent()) add("OPr", figures.Premium());
    frame_.MoveTo(figuresAt_, written);
  }
  const std::size_t body = frame_.Size() - 2;
  if (body <= kMaxBodyLength) {
    SetLength(static_cast<std::uint16_t>(body));
    frame_.Data()[0] = static_cast<char>(body >> 8);
    frame_.Data()[1] = static_cast<char>(body & 0xFF);
  }
  if (traced_) {
    std::string trace = "Build Order: ";
    for (std::size_t i = 0; i < std::size(kTraceFields); ++i)
      AppendDumpLine(trace, std::string("  ") + kTraceFields[i].Label, traceValues_[i],
                     2 + kTraceLabelWidth);
    WriteTraceLine(trace);
  }
}

std::string_view TMMHUBSendOrder::WrittenFrame() {
  if (frame_.Size() < 2) return {};
  const std::size_t body = frame_.Size() - 2;
  if (body > kMaxBodyLength) {
    throw ERangeError("Host request body of " + IntToStr(static_cast<std::int64_t>(body)) +
                      " bytes exceeds " + IntToStr(kMaxBodyLength));
  }
  return frame_.Text();
}

void TMMHUBSendOrder::FillBuffer(TDynamicBuffer& buffer) {
  const std::string_view frame = WrittenFrame();
  if (frame.empty()) {
    TVornMessage::FillBuffer(buffer);  // nothing written: the length word of an empty body
    return;
  }
  buffer.Write(frame.data(), static_cast<std::int32_t>(frame.size()));
}

}  // namespace vorn
