#include "api/WholesaleEntry.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "api/OrderEntry.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/session/LinkRequests.h"
#include "core/trading/OrderItem.h"
#include "core/trading/OrderQ.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

// What a kind of pair adds to the common road.
struct TPairKind {
  std::string_view Routine;  // the export's name, for the last error
  std::string BatchType;
  // Crossing and block: both records name one exchange (41), and the secondary joins the
  // primary's batch.
  bool OneMarket = false;
  std::string_view SecondaryError;
  const LegPriceStruct* LegPrices = nullptr;
  const BasisStruct* Basis = nullptr;
  bool AgainstActual = false;
  std::string_view UserName, UserName2;
};

// Commodity, contract date, side and lots of a record, as the trace lines show them.
std::string TraceValues(const NewOrderStruct& record) {
  std::string values = GetFixed(record.CommodityName) + " " + GetFixed(record.ContractDate) + " ";
  if (record.BuySell != '\0') values += record.BuySell;
  return values + " " + IntToStr(record.Lots);
}

// ", Leg Prices " and each leg's price followed by ","; empty when every leg is blank.
std::string TraceLegPrices(const LegPriceStruct* legPrices) {
  if (!legPrices) return {};
  std::string prices;
  for (const auto& leg : legPrices->LegPrice) {
    const std::string price = Trim(GetFixed(leg));
    if (!price.empty()) prices += price + ",";
  }
  return prices.empty() ? std::string() : ", Leg Prices " + prices;
}

std::string FlagText(char flag) {
  return flag == '\0' ? std::string() : std::string(1, flag);
}

void ApplyBasis(const BasisStruct& basis, TOrderItem& order) {
  order.SetISINCode(GetFixed(basis.ISINCode));
  order.SetCashPrice(GetFixed(basis.CashPrice));
  order.Methodology = basis.Methodology;
  order.SetBasisRef(GetFixed(basis.BasisRef));
}

// One order of the pair as the road reports it after the list's guard.
struct TListedOrder {
  bool Kept = false;
  bool Held = false;
  std::string ID;
  TOrderStatus Status = osIllegal;
  std::int32_t Sequence = 0;
  std::shared_ptr<TContractItem> Contract;
};

TListedOrder Listed(const TOrderItem& order, bool kept, bool held) {
  return {kept, held, order.ID, order.Status, order.OFSeqNumber, order.Contract};
}

std::int32_t EnterPair(TClassAPI& api, const NewOrderStruct& primaryRecord,
                       const NewOrderStruct& secondaryRecord, const TPairKind& kind,
                       const std::string& traceLine, TWholesaleIDs& ids) {
  if (const std::int32_t ready = api.CheckReadyState(); ready != VN_RC_SUCCESS) return ready;
  TEntryID primaryID(api), secondaryID(api);
  const bool primaryTaken = !primaryID.Take().empty();
  const bool secondaryTaken = !secondaryID.Take().empty();
  if (!primaryTaken || !secondaryTaken) return VN_RC_HOST_DATABASE_NOT_CONNECTED;
  if (const std::int32_t links = CheckLinks(api); links != VN_RC_SUCCESS) return links;
  if (!traceLine.empty()) TraceAppCall(std::string_view(traceLine));
  if (kind.OneMarket && Trim(GetFixed(primaryRecord.ExchangeName)) !=
                            Trim(GetFixed(secondaryRecord.ExchangeName)))
    return VN_RC_CROSSING_MARKETS_DIFFER;

  TBuildOrderOptions options;
  options.WholesalePair = true;
  options.Routine = kind.Routine;
  const std::string user = api.UserName.Get();
  const TBuildOrderResult primaryBuilt =
      TOrderItem::BuildOrder(primaryRecord, primaryID.ID(), user, options);
  if (primaryBuilt.Code != VN_RC_SUCCESS) throw Exception("Error Building Primary Order");
  const TBuildOrderResult secondaryBuilt =
      TOrderItem::BuildOrder(secondaryRecord, secondaryID.ID(), user, options);
  if (secondaryBuilt.Code != VN_RC_SUCCESS) throw Exception(std::string(kind.SecondaryError));
  const std::shared_ptr<TOrderItem>& primary = primaryBuilt.Order;
  const std::shared_ptr<TOrderItem>& secondary = secondaryBuilt.Order;
  if (kind.OneMarket) secondary->SetBatchID(primary->BatchID());
  for (TOrderItem* order : {primary.get(), secondary.get()}) {
    order->SetBatchType(kind.BatchType);
    if (kind.Basis) ApplyBasis(*kind.Basis, *order);
  }

  const bool primaryHeld = primary->Status == osHeldOrder;
  const bool secondaryHeld = secondary->Status == osHeldOrder;
  const bool anyHeld = primaryHeld || secondaryHeld;
  TListedOrder listed[2];
  std::shared_ptr<TOrderItem> primarySent, secondarySent;
  {
    TOrderQGuard guard(api.Orders);
    const bool primaryKept = ListNewOrder(api, primary, primaryHeld, true);
    const bool secondaryKept = primaryKept && ListNewOrder(api, secondary, secondaryHeld, true);
    // With a held order in the pair, the other one takes its order sequence too.
    if (anyHeld) {
      if (primaryKept && !primaryHeld) primary->UpdateSequence = api.NextOrderSequence();
      if (secondaryKept && !secondaryHeld) secondary->UpdateSequence = api.NextOrderSequence();
    }
    listed[0] = Listed(*primary, primaryKept, primaryHeld);
    listed[1] = Listed(*secondary, secondaryKept, secondaryHeld);
    if (primaryKept && secondaryKept && !anyHeld && SafeStrToInt(primary->ID, 0) > 0 &&
        SafeStrToInt(secondary->ID, 0) > 0) {
      primarySent = primary->Copy();
      secondarySent = secondary->Copy();
    }
  }

  // The events first, so that the host's reply never overtakes them.
  for (const TListedOrder& order : listed)
    AddOrderCallback(order.ID, order.ID, order.Status, order.Sequence);
  if (primarySent) {
    if (api.LinkRequests) {
      const bool primaryBuys = primarySent->BuySell == Buy;
      const TWholesalePair pair{.Primary = *primarySent,
                                .Secondary = *secondarySent,
                                .LegPrices = kind.LegPrices,
                                .Basis = kind.Basis,
                                .AgainstActual = kind.AgainstActual,
                                .FirstUser = primaryBuys ? kind.UserName : kind.UserName2,
                                .SecondUser = primaryBuys ? kind.UserName2 : kind.UserName};
      api.LinkRequests->SendWholesaleRequest(pair);
    } else {
      WriteTraceLine("Wholesale orders " + primarySent->ID + ", " + secondarySent->ID +
                     " not sent: no host link layer");
    }
  }
  // The trigger test of a held order runs once it is listed, subscribed and announced.
  const NewOrderStruct* records[2] = {&primaryRecord, &secondaryRecord};
  for (int i = 0; i < 2; ++i)
    if (listed[i].Kept && listed[i].Held && records[i]->CheckNow == 'Y')
      api.Orders.CheckSyntheticOrders(*listed[i].Contract, listed[i].ID);
  ids.Primary = listed[0].ID;
  ids.Secondary = listed[1].ID;
  return VN_RC_SUCCESS;
}

std::int32_t GuardedPair(const NewOrderStruct& primary, const NewOrderStruct& secondary,
                         TClassAPI& api, const TPairKind& kind, const std::string& traceLine,
                         TWholesaleIDs& ids) {
  return GuardedBody(kind.Routine, [&] {
    return EnterPair(api, primary, secondary, kind, traceLine, ids);
  });
}

// The trace line is made only with TraceAppCalls on.
template <class MakeLine>
std::string TraceLine(MakeLine makeLine) {
  return TracingAppCalls() ? makeLine() : std::string();
}

// Leg prices are read only where they are given; a null record is no leg prices.
const LegPriceStruct* NoLegPrices() {
  static const LegPriceStruct none{};
  return &none;
}

}  // namespace

void CopyOrderIDPair(const TWholesaleIDs& ids, OrderIDPair* out) {
  if (!out) return;
  CopyOrderID(ids.Primary, out->PrimaryOrderID);
  CopyOrderID(ids.Secondary, out->SecondaryOrderID);
}

std::int32_t AddCrossingOrder(TClassAPI& api, const NewOrderStruct& primary,
                              const NewOrderStruct& secondary, const LegPriceStruct* legPrices,
                              char flag, TWholesaleIDs& ids) {
  TPairKind kind;
  kind.Routine = "vnAddCrossingOrder";
  kind.BatchType = IntToStr(flag == VN_CROSSING_FAK || flag == VN_CROSSING_FAK_LOWER
                                ? VN_OT_CROSSING_FAK
                                : VN_OT_CROSSING);
  kind.OneMarket = true;
  kind.SecondaryError = "Error Building SecondaryOrder";
  kind.LegPrices = legPrices ? legPrices : NoLegPrices();
  const std::string line = TraceLine([&] {
    return " vnAddCrossingOrder: Primary Order " + TraceValues(primary) + " " + FlagText(flag) +
           ", Secondary Order" + TraceValues(secondary) + " " + FlagText(flag) +
           TraceLegPrices(legPrices);
  });
  return GuardedPair(primary, secondary, api, kind, line, ids);
}

std::int32_t AddBlockOrder(TClassAPI& api, const NewOrderStruct& primary,
                           const NewOrderStruct& secondary, const LegPriceStruct* legPrices,
                           TWholesaleIDs& ids) {
  TPairKind kind;
  kind.Routine = "vnAddBlockOrder";
  kind.BatchType = IntToStr(VN_OT_BLOCK);
  kind.OneMarket = true;
  kind.SecondaryError = "Error Building SecondaryOrder";
  kind.LegPrices = legPrices ? legPrices : NoLegPrices();
  const std::string line = TraceLine([&] {
    return "vnAddBlockOrder: Primary Order " + TraceValues(primary) + ", Secondary Order " +
           TraceValues(secondary) + TraceLegPrices(legPrices);
  });
  return GuardedPair(primary, secondary, api, kind, line, ids);
}

std::int32_t AddBasisOrder(TClassAPI& api, const NewOrderStruct& primary,
                           const NewOrderStruct& secondary, const BasisStruct& basis,
                           TWholesaleIDs& ids) {
  TPairKind kind;
  kind.Routine = "vnAddBasisOrder";
  kind.BatchType = IntToStr(VN_OT_BASIS);
  kind.SecondaryError = "Error Building Secondary Order";
  kind.Basis = &basis;
  const std::string line = TraceLine([&] {
    return "vnAddBasisOrder: Order " + TraceValues(primary) + ", Secondary Order " +
           TraceValues(secondary);
  });
  return GuardedPair(primary, secondary, api, kind, line, ids);
}

std::int32_t AddAAOrder(TClassAPI& api, const NewOrderStruct& primary,
                        const NewOrderStruct& secondary, std::string_view userName,
                        std::string_view userName2, TWholesaleIDs& ids) {
  TPairKind kind;
  kind.Routine = "vnAddAAOrder";
  kind.BatchType = IntToStr(VN_OT_AGAINST_ACTUAL);
  kind.SecondaryError = "Error Building Secondary Order";
  kind.AgainstActual = true;
  kind.UserName = userName;
  kind.UserName2 = userName2;
  const std::string line = TraceLine([&] {
    return "vnAddAAOrder: Order " + TraceValues(primary) + ", Secondary Order " +
           TraceValues(secondary);
  });
  return GuardedPair(primary, secondary, api, kind, line, ids);
}

}  // namespace vorn
