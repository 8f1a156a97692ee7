#include "links/WholesaleRequests.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/session/ClassAPI.h"
#include "core/session/OrderMargin.h"
#include "core/trading/OrderItem.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"

namespace vorn {
namespace {

// The run of fields each order carries, in the order they are written within its occurrence.
// clang-format off
enum TOrderTag : std::size_t {
  tOID, tUsr, tTA, tOTy, tTID, tEx, tC, tCD, tBS, tPr, tPr2, tTLt, tCTX, tPnL, tMar, tOPr, tOC,
  tLID, tXR, tBid, tOfr, tGTD, tRef, tPri, tTgD, tBtID, tBtTy, tBtCt, tBtSt, tERf,
  // What the pair's kind adds: the basis record, the against-actual user.
  tISI, tCP, tMe, tReN, tAUs,
  kOrderTagCount
};
constexpr std::array<const char*, kOrderTagCount> kOrderTags = {
    "OID", "Usr", "TA", "OTy", "TID", "Ex", "C", "CD", "BS", "Pr", "Pr2", "TLt", "CTX", "PnL",
    "Mar", "OPr", "OC", "LID", "XR", "Bid", "Ofr", "GTD", "Ref", "Pri", "TgD", "BtID", "BtTy",
    "BtCt", "BtSt", "ERf", "ISI", "CP", "Me", "ReN", "AUs"};
using TOrderValues = std::array<std::string, kOrderTagCount>;

// The run of fields of one leg fill.
enum TFillTag : std::size_t {
  fEx, fTdID, fFNo, fC, fCD, fBS, fFil, fPr, fOID, fFTy, fLeg,
  kFillTagCount
};
constexpr std::array<const char*, kFillTagCount> kFillTags = {
    "Ex", "TdID", "FNo", "C", "CD", "BS", "Fil", "Pr", "OID", "FTy", "Leg"};
// clang-format on
using TFillValues = std::array<std::string, kFillTagCount>;

template <class T>
const T& Require(const std::shared_ptr<T>& item, const TOrderItem& order, const char* what) {
  if (!item) throw Exception("Order " + order.ID + " has no " + what);
  return *item;
}

// A text field of a caller's record: up to its NUL, never past its width.
template <std::size_t N>
std::string_view RecordText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

std::string SideNumber(TPurchase side) {
  switch (side) {
    case Buy:
      return "1";
    case Sell:
      return "2";
    default:
      return "3";
  }
}

std::string ExchangeOf(const TContractItem& contract) {
  const auto commodity = contract.GetCommodity();
  return commodity ? commodity->ExchangeName() : contract.ExchangeStr();
}
std::string CommodityOf(const TContractItem& contract) {
  const auto commodity = contract.GetCommodity();
  return commodity ? commodity->Name() : contract.CommodityStr();
}

// The order's own fields, and its margin figures: in margin mode an option's margin at the
// order's price (the current offer for an order type without prices) with the value of one lot
// there, otherwise the margin without a price.
TOrderValues OrderValues(TClassAPI& api, const TOrderItem& order) {
  const TContractItem& contract = Require(order.Contract, order, "contract");
  const TTraderAccountItem& account = Require(order.TraderAccount, order, "trader account");
  const TOrderTypeItem& orderType = Require(order.OrderType, order, "order type");
  std::uint8_t pricesRequired = 0;
  {
    TIndexListLock guard(api.OrderTypes);
    pricesRequired = orderType.PricesRequired;
  }

  TOrderValues v;
  v[tOID] = order.ID;
  v[tUsr] = order.UserName;
  v[tTA] = account.TraderAccount;
  v[tOTy] = orderType.Name();
  v[tTID] = IntToStr(orderType.OrderTypeID);
  v[tEx] = ExchangeOf(contract);
  v[tC] = CommodityOf(contract);
  v[tCD] = contract.ContractDate();
  v[tBS] = SideNumber(order.BuySell);
  v[tPr] = FloatToStrFixed(order.Price, 15, 8);
  v[tPr2] = FloatToStrFixed(order.Price2, 15, 8);
  v[tTLt] = IntToStr(order.TargetLots);
  v[tCTX] = order.DateClientSent + order.TimeClientSent;
  v[tPnL] = FloatToStrFixed(api.Positions.GetTotalPos(account.TraderAccount, false).PL, 10, 0);
  if (api.Features.MarginMode && contract.IsOption()) {
    const double price = pricesRequired >= 1 ? order.Price : contract.GetPrice(1).Value;
    v[tMar] = FloatToStrFixed(CalcOrderMargin(api, order, price), 10, 8);
    v[tOPr] = FloatToStrFixed(
        api.MarginRequirement.CalcContractValue(contract, 1, order.BuySell, price), 10, 8);
  } else {
    v[tMar] = FloatToStrFixed(CalcOrderMargin(api, order, 0.0), 10, 0);
  }
  v[tOC] = std::string(1, order.OpenOrClose);
  v[tLID] = order.LinkedOrder();
  v[tXR] = IntToStr(order.XRefP);
  v[tBid] = FloatToStr(contract.GetPrice(0).Value);
  v[tOfr] = FloatToStr(contract.GetPrice(1).Value);
  if (!order.GoodTillDate().empty()) v[tGTD] = order.GoodTillDate() + "000000";
  v[tRef] = order.GetReference();
  v[tPri] = IntToStr(order.Priority);
  v[tTgD] = order.TriggerDate() + order.TriggerTime();
  v[tBtID] = order.BatchID();
  v[tBtTy] = order.BatchType();
  v[tBtCt] = IntToStr(order.BatchCount);
  v[tBtSt] = order.BatchStatus();
  v[tERf] = order.ESARef();
  return v;
}

void AddBasis(TOrderValues& values, const BasisStruct& basis) {
  values[tISI] = RecordText(basis.ISINCode);
  values[tCP] = RecordText(basis.CashPrice);
  values[tMe] = basis.Methodology ? std::string(1, basis.Methodology) : std::string();
  values[tReN] = RecordText(basis.BasisRef);
}

}  // namespace

TMMHUBSendWholesaleOrder::TMMHUBSendWholesaleOrder() : TSendHostMessage(kCode) {}

void TMMHUBSendWholesaleOrder::BuildFields(TClassAPI& api, const TWholesalePair& pair) {
  frame_.clear();
  TOrderValues primary = OrderValues(api, pair.Primary);
  TOrderValues secondary = OrderValues(api, pair.Secondary);
  if (pair.Basis) {
    AddBasis(primary, *pair.Basis);
    AddBasis(secondary, *pair.Basis);
  }
  if (pair.AgainstActual) {
    primary[tAUs] = pair.FirstUser;
    secondary[tAUs] = pair.SecondUser;
  }
  HeaderFields.AddFieldValue("Msg", kCode, -1, -1, false);
  // Tag by tag, so that every occurrence lists its fields in the same order, also when only
  // the secondary carries one of them.
  for (std::size_t tag = 0; tag < kOrderTagCount; ++tag) {
    BodyFields.AddFieldValue(kOrderTags[tag], primary[tag], 1, kOrderGroup, false);
    BodyFields.AddFieldValue(kOrderTags[tag], secondary[tag], 2, kOrderGroup, false);
  }
}

void TMMHUBSendWholesaleOrder::AppendAfterOrders(std::string&) const {}

std::string_view TMMHUBSendWholesaleOrder::WrittenFrame() {
  if (frame_.empty()) {
    std::string body;
    HeaderFields.AppendRequestText(body);
    // Every body field is one of the orders' group: written whole from its first entry.
    body += BodyFields.GetGroupText(0);
    AppendAfterOrders(body);
    if (body.size() > kMaxBodyLength) {
      throw ERangeError("Host request body of " + IntToStr(static_cast<std::int64_t>(body.size())) +
                        " bytes exceeds " + IntToStr(kMaxBodyLength));
    }
    SetLength(static_cast<std::uint16_t>(body.size()));
    frame_.reserve(body.size() + 2);
    frame_ += static_cast<char>(body.size() >> 8);
    frame_ += static_cast<char>(body.size() & 0xFF);
    frame_ += body;
  }
  return frame_;
}

void TMMHUBSendWholesaleOrder::FillBuffer(TDynamicBuffer& buffer) {
  const std::string_view frame = WrittenFrame();
  buffer.Write(frame.data(), static_cast<std::int32_t>(frame.size()));
}

// ---------------------------------------------------------------------------------------------

void TMMHUBSendWholesaleOrderWithLegs::BuildFields(TClassAPI& api, const TWholesalePair& pair) {
  if (!pair.LegPrices) throw Exception("Wholesale pair " + pair.Primary.ID + " has no leg prices");
  TMMHUBSendWholesaleOrder::BuildFields(api, pair);
  const TOrderItem& primary = pair.Primary;
  const std::shared_ptr<TContractItem>& contract = primary.Contract;
  const int legs = std::min(contract->GetLegs(), kMaxContractLegs);
  if (legs <= 1) return;
  const std::string exchange = ExchangeOf(*contract);
  std::vector<TFillValues> fills;
  fills.reserve(static_cast<std::size_t>(legs) * 2);
  for (int leg = 1; leg <= legs; ++leg) {
    const std::shared_ptr<TContractItem> legContract = api.Contracts.GetLegContract(contract, leg);
    if (!legContract) {
      throw Exception("Leg " + IntToStr(leg) + " of " + contract->GetDescription() +
                      " has no contract");
    }
    const std::int32_t ratio = SafeStrToInt(contract->GetLegField(leg, 5), 1);
    const std::int64_t lots =
        static_cast<std::int64_t>(ratio) * static_cast<std::int64_t>(primary.TargetLots);
    for (const bool buyer : {true, false}) {
      TFillValues& v = fills.emplace_back();
      v[fEx] = exchange;
      v[fTdID] = "OFFMARKET";
      v[fFNo] = IntToStr(static_cast<std::int64_t>(fills.size()));
      v[fC] = CommodityOf(*legContract);
      v[fCD] = legContract->ContractDate();
      v[fBS] = buyer ? "1" : "2";
      v[fFil] = IntToStr(SaturatedLots(lots));
      v[fPr] = RecordText(pair.LegPrices->LegPrice[leg - 1]);
      v[fOID] = buyer ? primary.ID : pair.Secondary.ID;
      v[fFTy] = kFillType;
      v[fLeg] = IntToStr(leg);
    }
  }
  // Tag by tag, each value at its fill's number as occurrence: a value left out (a blank leg
  // price) leaves its own gap and never moves the values of later fills.
  for (std::size_t tag = 0; tag < kFillTagCount; ++tag) {
    for (std::size_t fill = 0; fill < fills.size(); ++fill)
      LegFills.AddFieldValue(kFillTags[tag], fills[fill][tag], static_cast<int>(fill) + 1,
                             kFillGroup, false);
  }
}

void TMMHUBSendWholesaleOrderWithLegs::AppendAfterOrders(std::string& body) const {
  if (LegFills.Count() > 0) body += LegFills.GetGroupText(0);
}

}  // namespace vorn
