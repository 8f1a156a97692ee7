#pragma once
// Orders. One TOrderItem is one state of an order: a full copy of its terms and counters as one
// host message or one local action left them. The states of one order live in its history,
// TOrderList (OrderList.h), newest first; the order list keeps one history per order ID.
//
// Order items reach beyond themselves (reference look-ups, the order list, the API object's
// counters) only through IOrderServices, which the API object installs.

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/trading/BuildOrder.h"
#include "core/trading/OrderExtras.h"
#include "core/util/Conversions.h"
#include "vornintf.h"

namespace vorn {

class TContractItem;       // core/refdata/ContractItem.h
class TOrderItem;          // below
class TOrderList;          // core/trading/OrderList.h
class TOrderTypeItem;      // core/refdata/OrderType.h
class TTraderAccountItem;  // core/trading/TraderAccount.h
class TUUIDObjectList;     // core/store/UUIDObjects.h
class TSlabPool;           // core/util/SlabPool.h

enum TOrderStatus : std::uint8_t {
  osIllegal = 0,
  osQueued = 1,
  osSent = 2,
  osWorking = 3,
  osRejected = 4,
  osCancelled = 5,
  osBalCancelled = 6,
  osPart = 7,
  osUnabled = 8,
  osBalUnabled = 9,
  osFilled = 10,
  osCancelPending = 11,
  osAmendPending = 12,
  osORPIFilled = 13,
  osORPIPart = 14,
  osHeldOrder = 15,
  osCancHeldOrder = 16,
  osPartRejected = 17,
  osParked = 18,
  osCancelParked = 19,
  osTransferred = 20,
  osExternalCancelled = 21
};

enum TPurchase : std::uint8_t { Illegal = 0, Buy = 1, Sell = 2, TwoSided = 3, Cross = 4 };

// Length of an order ID as the histories and the order list compare it.
inline constexpr std::size_t kOrderIDLength = 10;
inline constexpr std::size_t kOrderReferenceLength = 25;

// The first kOrderIDLength characters of the ID: the key of its history in the order list.
std::string OrderKey(std::string_view id);

// A 32-bit counter that the heartbeat counts down on its own thread while the order road reads
// and copies the item: atomic, yet copied with the item like a plain value.
class TSharedCount {
 public:
  TSharedCount(std::int32_t value = 0) : value_(value) {}
  TSharedCount(const TSharedCount& other) : value_(other.load()) {}
  TSharedCount& operator=(const TSharedCount& other) {
    value_.store(other.load(), std::memory_order_relaxed);
    return *this;
  }
  TSharedCount& operator=(std::int32_t value) {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator std::int32_t() const { return load(); }
  std::int32_t load() const { return value_.load(std::memory_order_relaxed); }
  // Takes one off and returns the new value.
  std::int32_t Decrement() { return value_.fetch_sub(1, std::memory_order_relaxed) - 1; }

 private:
  std::atomic<std::int32_t> value_;
};

// The values of an order state, kept apart from the item's identity (UUID, stamps, groups) so
// that a new version is made by copying them whole. The texts most orders leave empty live in
// a packed block behind accessors of their names, the strategy legs in a side block.
struct TOrderFields {
  std::string ID;
  std::string DisplayID;
  std::string ExchangeID;
  std::string UserName;
  std::string DateClientSent;
  std::string TimeClientSent;
  std::string DateHostReceived;
  std::string TimeHostReceived;
  std::string DateExchangeReceived;
  std::string TimeExchangeReceived;
  std::string DateExchangeAcknowledged;
  std::string TimeExchangeAcknowledged;
  std::string ExchangeName;
  std::string EntryDate;
  std::string EntryTime;
  std::shared_ptr<TTraderAccountItem> TraderAccount;
  std::shared_ptr<TOrderTypeItem> OrderType;
  std::shared_ptr<TContractItem> Contract;
  double Price = 0;
  double Price2 = 0;
  double AveragePrice = 0;
  double MarginRequired = 0;
  double OPr = 0;
  double StSteps1 = 0;
  double StSteps2 = 0;
  std::int32_t Filled = 0;
  std::int32_t NoOfFills = 0;
  std::int32_t TargetLots = 0;
  std::int32_t ActualLots = 0;
  std::int32_t XRef = 0;
  std::int32_t XRefP = 0;
  std::int32_t UpdateSequence = 0;
  TSharedCount CancelTimeOut;
  TSharedCount SentTimeOut;
  TSharedCount QueuedTimeOut;
  std::int32_t Priority = 0;
  std::int32_t SubState = 0;
  std::int32_t LastSequence = 0;
  std::int32_t BatchCount = 0;
  std::int32_t TimeOut = 0;
  std::int32_t LotsPosted = 0;
  std::int32_t ChildCount = 0;
  std::int32_t OrderHistorySeq = 0;
  std::int32_t MinClipSize = 0;
  std::int32_t MaxClipSize = 0;
  std::int32_t OFSeqNumber = 0;
  std::int32_t Pr1Volume = 0;
  std::int32_t Pr2Volume = 0;
  std::int32_t Pr3Volume = 0;
  TPurchase BuySell = Illegal;
  TOrderStatus Status = osIllegal;
  char OpenOrClose = 0;
  bool Checked = false;
  char DoneForDay = 0;
  char Methodology = 0;
  char APIM = 0;
  char Randomise = 0;
  char MarloStage = 0;
  bool IsProtectionOrder = false;
  char ProfitLevel = 0;
  bool CancelSent = false;

  // The rarely set texts: an absent one reads empty; setting an empty one frees its room.
  // clang-format off
#define VORN_ORDER_EXTRA_ACCESSORS(name)                                                 \
  const std::string& name() const { return extras_.Get(TOrderExtras::k##name); }        \
  void Set##name(std::string_view text) { extras_.Set(TOrderExtras::k##name, text); }
  VORN_ORDER_EXTRA_TEXTS(VORN_ORDER_EXTRA_ACCESSORS)
#undef VORN_ORDER_EXTRA_ACCESSORS
  // clang-format on

  // Strategy legs and their price texts (not stored: the store keeps published properties
  // only). Reading an order without legs gives zeros; the mutable forms create the block.
  const std::array<StrategyLegRecord, kStrategyLegCount>& StrategyLegs() const {
    return legs_.Get().StrategyLegs;
  }
  const std::array<LegPriceText, kStrategyLegCount>& LegPrices() const {
    return legs_.Get().LegPrices;
  }
  std::array<StrategyLegRecord, kStrategyLegCount>& MutableStrategyLegs() {
    return legs_.Mutable().StrategyLegs;
  }
  std::array<LegPriceText, kStrategyLegCount>& MutableLegPrices() {
    return legs_.Mutable().LegPrices;
  }
  bool HasLegs() const { return legs_.Present(); }

 protected:
  std::string reference_;  // at most kOrderReferenceLength characters
  TOrderExtras extras_;
  TOrderLegsBlock legs_;
};

class TOrderItem : public TUUIDStreamable, public TOrderFields {
 public:
  TOrderItem() = default;

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  // The contract reference (exchange, commodity and contract date names), then the order
  // type's name.
  void WriteExtra(TStream& stream) const override;
  // Resolves the saved names; a name no longer known leaves its reference null. Raises the
  // order sequence counter above UpdateSequence.
  void ReadExtra(TStream& stream) override;

  // A new version of the order: every value of this state, references and strategy legs
  // included, in a separate item that is in no history, no group and has no UUID.
  std::shared_ptr<TOrderItem> Copy() const;

  // State Active and the order event.
  void Activate(bool flag) override;
  // Unless the order type is good-till-cancelled, a working order is closed by a new head
  // osExternalCancelled; a closed one only turns Inactive.
  void Deactivate(bool flag) override;
  // A working order is closed by a new head osBalCancelled (some lots filled) or osCancelled;
  // a closed one only turns Expired.
  void Expire() override;
  // An expired order whose expiry is at or before the time leaves its UUID groups and the
  // order list with its whole history.
  void Purge(TDateTime time) override;

  const std::string& GetReference() const { return reference_; }
  // Keeps the first 25 characters.
  void SetReference(std::string_view text);
  // The account's name; empty without an account.
  std::string GetTraderAccountName() const;
  // Trims the text and resolves it through the account list (null when unknown).
  void SetTraderAccountName(std::string_view name);
  void SetXRef(std::int32_t value) { XRef = value; }

  // Builds a new order from the caller's order-entry record for the given order ID, checking in
  // order: trader account (9 unknown, 34 not tradable), contract (22 unknown, 48 not
  // permitted), parent order (25, when asked), order type (21 unknown, 39 auto-created),
  // prices and lots (24, 29), protection prices (27). A price, protection or trigger text that
  // does not convert gives 99 (recorded as an unexpected error of "vnAddOrder"), an EListError
  // 8. Nothing is taken or changed before every check has passed: a failed build returns no
  // order and takes no synthetic ID. Every record field is copied; the trigger is stored in
  // UTC. The order list is not touched: adding the order, booking its margin (BookOrderMargin)
  // and its events are the caller's. options.WholesalePair builds one order of a wholesale pair
  // (see TBuildOrderOptions).
  static TBuildOrderResult BuildOrder(const NewOrderStruct& record, std::string_view id,
                                      std::string_view userName,
                                      const TBuildOrderOptions& options = {});
};

// A new, empty order state, allocated with its shared_ptr's control block from the order
// states' slab pool (core/util/SlabPool.h). Any thread.
std::shared_ptr<TOrderItem> NewOrderItem();
// That pool, for its figures.
TSlabPool& OrderStatePool();

// A side number as the host sends it: Illegal outside 0-4.
inline TPurchase SideFromNumber(std::int32_t value) {
  return value >= Illegal && value <= Cross ? static_cast<TPurchase>(value) : Illegal;
}

// Whether the status is one of the states.
inline bool StatusIn(TOrderStatus status, std::initializer_list<TOrderStatus> states) {
  for (TOrderStatus state : states)
    if (state == status) return true;
  return false;
}

// True for the states that end an order: rejected, cancelled, balance cancelled, filled.
bool IsClosedStatus(TOrderStatus status);

// What order items need from outside the item: the reference lists, the order list and the API
// object's counters. Every method may be called on any thread, with no lock held or with the
// order list's lock held.
class IOrderServices {
 public:
  virtual ~IOrderServices() = default;

  // TTraderAccountQ.FindAccount (creates the account only during the initial download).
  virtual std::shared_ptr<TTraderAccountItem> FindAccount(std::string_view name) = 0;
  // TContractQ.FindContract (waits for the contract file while it is being read).
  virtual std::shared_ptr<TContractItem> FindContract(std::string_view exchange,
                                                      std::string_view commodity,
                                                      std::string_view contractDate) = 0;
  // TOrderTypeQ.FindOrderType.
  virtual std::shared_ptr<TOrderTypeItem> FindOrderType(std::string_view exchange,
                                                        std::string_view name) = 0;
  // Sets the order sequence counter to next when it is below.
  virtual void RaiseOrderSequence(std::int32_t next) = 0;
  // "S" and the next synthetic-order number.
  virtual std::string NewSyntheticOrderID() = 0;

  // The order list (TOrderQ), for its lock and for taking a history out of it.
  virtual TIndexList& Orders() = 0;
  // The history of that order ID (first 10 characters), or null.
  virtual std::shared_ptr<TOrderList> FindOrderList(std::string_view id) = 0;
  // TOrderQ.MatchOrder: the ID to hand back (a matched local ID, else the item's own).
  virtual std::string MatchOrder(TOrderItem& item) = 0;
  // Drops the order from the pending-cancel, Sent and Queued watch lists and the amending list.
  virtual void ForgetOrder(std::string_view id) = 0;
  // The UUID groups; null when there are none.
  virtual TUUIDObjectList* UUIDObjects() = 0;
  // The head of the listed history may have changed in place or behind the order list's Add
  // (TOrderQ.NoteHead). Called with the order list's lock held.
  virtual void NoteHead(TOrderList& /*history*/) {}
};

// The services order items use; null removes them. Without services, look-ups find nothing and
// order items act on themselves only.
void SetOrderServices(std::shared_ptr<IOrderServices> services);
std::shared_ptr<IOrderServices> GetOrderServices();
// Removes the services when they are still the given ones (a newer API object's stay).
void RemoveOrderServices(const IOrderServices* services);

// The contract reference an order or a fill keeps in the store: its exchange, commodity and
// contract date names, resolved again through the services when read (null when unknown).
void WriteContractReference(TStream& stream, const TContractItem* contract);
std::shared_ptr<TContractItem> ReadContractReference(TStream& stream, IOrderServices* services);

}  // namespace vorn
