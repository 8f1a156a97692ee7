#pragma once
// The event queue and the callback thread: every event of the library reaches the application
// through here. Any thread posts an event (its id and payload record, kept compactly by
// TEventQueue); one thread of the library takes the events out in posting order, each into a
// whole item (TCallbackQueueItem), and calls the procedure that the application registered for
// the item's id, one at a time, with no lock held while the procedure runs. A post costs the
// copy into the queue, two trace ring entries and, only when the queue was empty, the wake of
// the callback thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/events/EventQueue.h"
#include "vornintf.h"

namespace vorn {

inline constexpr std::int32_t kNoCallback = -1;  // an item that is not delivered
inline constexpr std::int32_t kMaxCallbackId = VN_CB_ORDER_TYPE_UPDATE;

// The event's name in trace lines ("vnOrder" for 5); "Invalid" for a number that has none.
std::string_view CallbackName(std::int32_t id);

// ---------------------------------------------------------------------------------------------
// Registrations: one procedure per id, written by the registering exports and read by the
// callback thread. Every procedure is kept as this type and called with the type of its id.

using TCallbackProc = VnNotifyProc;

// The common body of the vnRegister... exports (which answer 1 without an API object). Returns 3
// when the export does not accept the id (nothing stored); else stores the procedure (replacing
// an earlier one, null unregisters) and returns 0.
std::int32_t RegisterCallbackProc(std::string_view exportName, std::int32_t id, TCallbackProc proc);
// True when the named registering export accepts the id.
bool CallbackIdAccepted(std::string_view exportName, std::int32_t id);
bool CallbackRegistered(std::int32_t id);
// Drops every registration (vnInitialise).
void FreeCallbackRegistrations();

// ---------------------------------------------------------------------------------------------
// The callback thread.

// Creates the thread when there is none.
void StartCallbackThread();
// Stops the thread and frees the events still queued without delivering them. Called on the
// callback thread itself (from inside a procedure) it does not wait: the thread ends once the
// procedure returns and JoinStoppedThreads joins it.
void StopCallbackThread();
bool CallbackThreadRunning();
// The thread delivers what it takes out only while delivery is on; otherwise the events are
// dropped. On while a current API object runs: set by installing one, cleared by taking it away
// or by its shut-down, so nothing reaches the application once vnLogOff has begun.
void SetCallbackDelivery(bool on);
// True on the callback thread, i.e. inside an application procedure.
bool OnCallbackThread();

// ---------------------------------------------------------------------------------------------
// The queue.

// Queues an event: the payload (size bytes, at most the payload area; null for none) is copied
// into the queue, and is delivered in a zero-filled item. Never blocks on the application and
// never fails towards its caller.
void AddCallback(std::int32_t id, const void* payload, std::size_t size);
// Frees every queued event (unload).
void ClearCallbackQueue();
std::size_t CallbackQueueCount();
// The bytes the queue holds for its events now.
std::size_t CallbackQueueBytes();

// ---------------------------------------------------------------------------------------------
// Builders: each fills its payload record and posts it. "Trimmed" texts lose leading and
// trailing bytes <= 0x20; every text is cut to its field's width - 1.

// Id 5, ids trimmed. ofSeqNumber is the order list's OFSeqNumber for the order id (0 when the
// list has no such order). With GenerateOrderLog on, writes an "Adding Order Callback" line.
void AddOrderCallback(std::string_view orderId, std::string_view oldOrderId, std::uint8_t status,
                      std::int32_t ofSeqNumber);
// Id 9, trimmed.
void AddFillCallback(std::string_view orderId, std::string_view fillId);
// Id 4, not trimmed.
void AddMessageCallback(std::string_view messageId);
// Ids 11, 12, 33 (and 8, 16, 19 through the builders below), trimmed.
void AddContractCallback(std::int32_t id, std::string_view exchange, std::string_view commodity,
                         std::string_view contractDate);
void AddPriceCallback(std::string_view exchange, std::string_view commodity,
                      std::string_view contractDate);
void AddAtBestCallback(std::string_view exchange, std::string_view commodity,
                       std::string_view contractDate);
void AddSubscriberDepthCallback(std::string_view exchange, std::string_view commodity,
                                std::string_view contractDate);
// Id 21, not trimmed.
void AddDOMCallback(std::string_view exchange, std::string_view commodity,
                    std::string_view contractDate);
// Id 10.
void AddStatusChangeCallback(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate, std::int32_t status);
// Id 26, texts trimmed; flag is the one flag character.
void AddGenericPriceCallback(std::string_view exchange, std::string_view commodity,
                             std::string_view contractDate, std::int32_t priceType, char flag);
// Id 27, trimmed.
void AddBlankPricesCallback(std::string_view exchange, std::string_view commodity,
                            std::string_view contractDate);
// Id given (32), trimmed.
void AddCommodityCallback(std::int32_t id, std::string_view exchange, std::string_view commodity);
// Id given (31), trimmed.
void AddExchangeCallback(std::int32_t id, std::string_view exchange);
// Id given (36), trimmed.
void AddPurgeCompletedCallback(std::int32_t id, std::string_view exchange);
// Id 1 (host link) or 2 (price-feed link).
void AddLinkStateCallback(std::int32_t id, std::uint8_t oldState, std::uint8_t newState);
// Id 13, trimmed.
void AddExchangeRateCallback(std::string_view currency);
// Id 14, the ten texts in the order of the connectivity message, trimmed.
void AddConnectivityStatusCallback(const std::array<std::string_view, 10>& fields);
// Id 15, trimmed.
void AddOrderCancelFailureCallback(std::string_view orderId);
// Ids 28, 29, 25.
void AddOrderSentFailureCallback(std::string_view orderId);
void AddOrderQueuedFailureCallback(std::string_view orderId);
void AddAmendFailureCallback(std::string_view orderId);

// Price kinds 0 (bid), 1 (offer) and 5 (last trade) of a contract's price table.
struct TTickerPrices {
  double BidPrice = 0;
  std::int32_t BidVolume = 0;
  double OfferPrice = 0;
  std::int32_t OfferVolume = 0;
  double LastPrice = 0;
  std::int32_t LastVolume = 0;
};
// Id 17; posts nothing when none of the three changed.
void AddTickerCallback(std::string_view exchange, std::string_view commodity,
                       std::string_view contractDate, const TTickerPrices& prices, bool bidChanged,
                       bool offerChanged, bool lastChanged);
// Id 22, texts trimmed; the price in general format, cut to 10 characters. Posts only: the
// settlement receiver stores the price in the contract's price table itself.
void AddSettlementCallback(std::string_view exchange, std::string_view commodity,
                           std::string_view contractDate, std::int32_t settlementType,
                           std::string_view date, std::string_view time, double price);
// Ids 23 and 24, trimmed; text is the new strategy's contract date or the failure text.
void AddStrategyCreateSuccessCallback(std::string_view userName, std::string_view exchange,
                                      std::string_view commodity, std::string_view contractDate,
                                      std::string_view text);
void AddStrategyCreateFailureCallback(std::string_view userName, std::string_view exchange,
                                      std::string_view commodity, std::string_view contractDate,
                                      std::string_view text);
// Id 38, name and exchange trimmed.
void AddOrderTypeCallback(const OrderTypeStruct& orderType);
// Id given (37), texts trimmed.
void AddTraderCallback(std::int32_t id, const TraderAcctStruct& trader);

}  // namespace vorn
