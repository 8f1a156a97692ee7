// Market data subscriptions: prices and a price snapshot per contract, market depth per
// contract or commodity, and exchange broadcasts. Subscriptions only change the subscription
// book, which the heartbeat sends once the price link is connected; a snapshot goes out at once.
// Beside them, the request to the host to create a strategy contract.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/ExportArguments.h"
#include "api/ExportShell.h"
#include "api/StrategyCreation.h"
#include "core/diag/Trace.h"
#include "core/refdata/SnapshotWaiters.h"
#include "core/refdata/Subscriptions.h"
#include "core/session/ClassAPI.h"
#include "core/util/NameWidths.h"
#include "core/util/Text.h"
#include "links/StrategyRequests.h"
#include "vornintf.h"

using namespace vorn;

namespace {

// The names an export was given, cut to their widths.
struct TNames {
  TNames(const char* exchange, const char* commodity, const char* contractDate)
      : Exchange(ArgText(exchange, kExchangeNameWidth)),
        Commodity(ArgText(commodity, kCommodityNameWidth)),
        ContractDate(ArgText(contractDate, kContractDateWidth)) {}

  // exchange\commodity\contract date, as the trace lines show them.
  std::string Text() const {
    std::string text(Exchange);
    text += '\\';
    text += Commodity;
    text += '\\';
    text += ContractDate;
    return text;
  }

  std::string_view Exchange;
  std::string_view Commodity;
  std::string_view ContractDate;
};

// The 0204 for the contract, sent now. Not sent while the price link is down: a waiting caller
// then runs into its time-out.
void SendSnapshotRequest(TClassAPI& api, const TContractKey& contract) {
  const bool sent =
      api.LinkRequests && api.LinkRequests->SendPriceSubscription(kPriceSnapshotCode, contract);
  if (!sent)
    AddTraceEntry(tlNote, "vnPriceSnapshot",
                  "Not sent, price link not connected: " + contract.Text());
}

// The waiter is listed before the request goes out, so a reply that overtakes the wait still
// counts. After the wait only the waiter is read: a log-off meanwhile has woken it unanswered.
// The shell holds the API object for the call, so the list the waiter is withdrawn from is
// still there.
std::int32_t PriceSnapshot(TClassAPI& api, const TContractKey& contract, std::int32_t waitMs) {
  if (waitMs <= 0) {
    SendSnapshotRequest(api, contract);
    return VN_RC_SUCCESS;
  }
  const std::shared_ptr<TSnapshotWaiter> waiter = api.Snapshots.Register(contract);
  try {
    SendSnapshotRequest(api, contract);
  } catch (...) {
    api.Snapshots.Withdraw(waiter);
    throw;
  }
  const bool answered = waiter->Wait(std::chrono::milliseconds(waitMs));
  if (answered) return VN_RC_SUCCESS;
  api.Snapshots.Withdraw(waiter);
  return VN_RC_GENERIC_ERROR;
}

enum class TContractAction { Subscribe, Unsubscribe, Snapshot };

// The routine shared by the price subscription and snapshot exports: the trace line, the
// ready check, 10 without contracts, 22 for a contract not held, 48 for one the user may not
// see; then the action, with the contract named as its item holds it.
std::int32_t ContractSubscription(std::string_view routine, TContractAction action,
                                  const char* exchange, const char* commodity,
                                  const char* contractDate, std::int32_t waitMs = 0) {
  const TNames names(exchange, commodity, contractDate);
  return ReadyExport(
      routine, [&] { TraceExportCall(routine, [&] { return names.Text(); }); },
      [&](TClassAPI& api) -> std::int32_t {
        if (api.Contracts.Count() == 0) return VN_RC_NO_DATA;
        const auto contract =
            api.Contracts.FindContract(names.Exchange, names.Commodity, names.ContractDate);
        if (!contract) return VN_RC_UNKNOWN_CONTRACT;
        if (!contract->IsPermitted()) return VN_RC_CONTRACT_NOT_PERMITTED;
        const TContractKey key = contract->Key();
        switch (action) {
          case TContractAction::Subscribe:
            api.Subscriptions.SubscribePrice(key);
            break;
          case TContractAction::Unsubscribe:
            api.Subscriptions.UnsubscribePrice(key);
            break;
          case TContractAction::Snapshot:
            return PriceSnapshot(api, key, waitMs);
        }
        return VN_RC_SUCCESS;
      });
}

// The depth subscription exports: 1, 4, 36 (no price link, or not connected), 32, 23, 22 (a
// contract date given and not held), else the contract's or, with an empty date, the whole
// commodity's depth. The subscribe export writes its failure lines with TraceAppCalls, the
// unsubscribe export whenever the trace file is open.
std::int32_t MarketSubscription(std::string_view routine, bool subscribe, const char* exchange,
                                const char* commodity, const char* contractDate) {
  const TNames names(exchange, commodity, contractDate);
  const std::string_view label = subscribe ? "Subscribe to market " : "Unsubscribe to market ";
  const auto failure = [subscribe](std::int32_t result, std::string_view line) {
    if (subscribe)
      TraceAppCall(line);
    else
      WriteTraceLine(line);
    return result;
  };
  return ObjectExport(
      routine, [&] { TraceAppCall([&] { return std::string(label) + names.Text(); }); },
      [&](TClassAPI* api) -> std::int32_t {
        if (!api) {
          if (!subscribe) WriteTraceLine("not initialised");
          return VN_RC_NOT_INITIALISED;
        }
        if (api->CheckReadyState() != VN_RC_SUCCESS)
          return failure(VN_RC_NOT_LOGGED_ON, "not logged in");
        if (!api->LinkConnected(psPriceFeed))
          return failure(VN_RC_PRICE_FEED_NOT_CONNECTED, "no MDS");
        if (!api->Exchanges.FindExchange(names.Exchange))
          return failure(VN_RC_UNKNOWN_EXCHANGE, "bad exchange");
        const auto item = api->Commodities.FindCommodity(names.Exchange, names.Commodity);
        if (!item) return failure(VN_RC_UNKNOWN_COMMODITY, "bad commodity");

        TContractKey key;
        std::string_view success;
        if (!names.ContractDate.empty()) {
          const auto contract =
              api->Contracts.FindContract(names.Exchange, names.Commodity, names.ContractDate);
          if (!contract) return failure(VN_RC_UNKNOWN_CONTRACT, "bad contract");
          key = contract->Key();
          success = subscribe ? "Subscribe to market contract successful"
                              : "Unsubscribe to market contract successful";
        } else {
          key = {item->ExchangeName(), item->Name(), {}};
          success = subscribe ? "Subscribe to market commodity successful"
                              : "Unsubscribe to market commodity successful";
        }
        if (subscribe)
          api->Subscriptions.SubscribeMarket(key);
        else
          api->Subscriptions.UnsubscribeMarket(key);
        TraceAppCall(success);
        return VN_RC_SUCCESS;
      });
}

// The trimmed name's exchange, made when not held, then the request queued for the heartbeat.
// An empty name makes and queues nothing, and still answers 0.
std::int32_t BroadcastSubscription(std::string_view routine, bool subscribe, const char* exchange) {
  return ObjectExport(routine, [&](TClassAPI& api) {
    const std::string name(TrimView(ArgText(exchange, kExchangeNameWidth)));
    const auto item = api.Exchanges.FindOrAdd(name);
    if (subscribe)
      api.Exchanges.SubscribeBroadcast(item);
    else
      api.Exchanges.UnsubscribeBroadcast(item);
    TraceExportCall(routine, [&] { return name; });
    return VN_RC_SUCCESS;
  });
}

// A text field of a leg record, within its width.
template <std::size_t N>
std::string_view LegText(const char (&field)[N]) {
  return ArgText(field, N);
}

// The underlying is found by leg 1's date; without it only a leg 1 naming its own commodity
// goes on (38 otherwise). In the environment 'D' the strategy is made locally. Else the
// requests are all built before any is sent, so a leg whose contract is not held (or a
// missing underlying for the tagged request) fails the call with nothing sent: one tagged
// request with the MegaHub switch on, one fixed-width request per leg, last leg first, off.
std::int32_t CreateStrategy(TClassAPI& api, char strategyType, std::int32_t legCount,
                            const char* exchangeArg, const char* commodityArg,
                            const StrategyLegStruct* legs) {
  RequireArgument(legs, "Legs");
  const int count = ClampStrategyLegs(legCount);
  const std::string exchange(TrimView(ArgText(exchangeArg, kExchangeNameWidth)));
  const std::string commodity(TrimView(ArgText(commodityArg, kCommodityNameWidth)));
  const auto underlying =
      api.Contracts.FindContract(exchange, commodity, TrimView(LegText(legs[0].ContractDate)));
  if (!underlying && TrimView(LegText(legs[0].Commodity)).empty())
    return VN_RC_NO_UNDERLYING_CONTRACT;
  std::string name;
  for (int i = 0; i < count; ++i)
    name += LegText(legs[i].ContractDate);
  if (api.Environment == 'D')
    return CreateStrategyLocally(strategyType, count, exchange, commodity, legs);

  if (api.Links.MegaHub) {
    TMMHUBContractDateCreate request;
    request.BuildFields(api.Contracts, strategyType, count, underlying, legs, exchange, commodity,
                        name, api.UserName.Get());
    api.SendOnLink(request, psHost);
    return VN_RC_SUCCESS;
  }
  std::vector<std::unique_ptr<TMContractDateCreate>> requests;
  for (int i = count - 1; i >= 0; --i) {
    auto& request = requests.emplace_back(std::make_unique<TMContractDateCreate>());
    request->BuildFields(api.Contracts, strategyType, exchange, commodity, name, legs[i], i);
  }
  for (const auto& request : requests)
    api.SendOnLink(*request, psHost);
  return VN_RC_SUCCESS;
}

}  // namespace

extern "C" {

VN_API int32_t VN_STDCALL vnSubscribePrice(const char* Exchange, const char* Commodity,
                                           const char* ContractDate) {
  return ContractSubscription(__func__, TContractAction::Subscribe, Exchange, Commodity,
                              ContractDate);
}

VN_API int32_t VN_STDCALL vnUnsubscribePrice(const char* Exchange, const char* Commodity,
                                             const char* ContractDate) {
  return ContractSubscription(__func__, TContractAction::Unsubscribe, Exchange, Commodity,
                              ContractDate);
}

VN_API int32_t VN_STDCALL vnPriceSnapshot(const char* Exchange, const char* Commodity,
                                          const char* ContractDate, int32_t WaitMs) {
  return ContractSubscription(__func__, TContractAction::Snapshot, Exchange, Commodity,
                              ContractDate, WaitMs);
}

VN_API int32_t VN_STDCALL vnSubscribeToMarket(const char* Exchange, const char* Commodity,
                                              const char* ContractDate) {
  return MarketSubscription(__func__, true, Exchange, Commodity, ContractDate);
}

VN_API int32_t VN_STDCALL vnUnsubscribeToMarket(const char* Exchange, const char* Commodity,
                                                const char* ContractDate) {
  return MarketSubscription(__func__, false, Exchange, Commodity, ContractDate);
}

VN_API int32_t VN_STDCALL vnSubscribeBroadcast(const char* Exchange) {
  return BroadcastSubscription(__func__, true, Exchange);
}

VN_API int32_t VN_STDCALL vnUnsubscribeBroadcast(const char* Exchange) {
  return BroadcastSubscription(__func__, false, Exchange);
}

VN_API int32_t VN_STDCALL vnCreateStrategy(char StrategyType, int32_t NumberOfLegs,
                                           const char* Exchange, const char* Commodity,
                                           const StrategyLegStruct* Legs) {
  return ObjectExport(__func__, [&](TClassAPI& api) {
    return CreateStrategy(api, StrategyType, NumberOfLegs, Exchange, Commodity, Legs);
  });
}

}  // extern "C"
