#include "core/trading/OrderQ.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <utility>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

constexpr double kMatchPriceTolerance = 1e-8;

bool OrderLogOn() {
  return DebugFlagOn(kGenerateOrderLog);
}

const char* StatusName(TOrderStatus status) {
  static constexpr std::array<const char*, 22> names = {
      "osIllegal",     "osQueued",           "osSent",         "osWorking",    "osRejected",
      "osCancelled",   "osBalCancelled",     "osPart",         "osUnabled",    "osBalUnabled",
      "osFilled",      "osCancelPending",    "osAmendPending", "osORPIFilled", "osORPIPart",
      "osHeldOrder",   "osCancHeldOrder",    "osPartRejected", "osParked",     "osCancelParked",
      "osTransferred", "osExternalCancelled"};
  return status < names.size() ? names[status] : "osIllegal";
}

void DumpOrder(const TOrderItem& item) {
  if (!OrderLogOn()) return;
  try {
    std::string text;
    text += "   id:         " + item.ID + "\r\n";
    text += std::string("   Status:     ") + StatusName(item.Status) + "\r\n";
    text += "   BuySell:    " + IntToStr(item.BuySell) + "\r\n";
    text += "   ActualLots: " + IntToStr(item.ActualLots) + "\r\n";
    text += "   TargetLots: " + IntToStr(item.TargetLots) + "\r\n";
    text += "   Filled:     " + IntToStr(item.Filled) + "\r\n";
    text += "   Price:      " + FloatToStr(item.Price) + "\r\n";
    text += "   Xref:       " + IntToStr(item.XRef) + "\r\n";
    text += "   Xrefp:      " + IntToStr(item.XRefP);
    WriteTraceLine(text);
  } catch (const std::exception&) {
    WriteTraceLine(std::string(" Unable to determine Order Information: Status = ") +
                   StatusName(item.Status));
  }
}

const std::string& DashLine() {
  static const std::string& line = KeepProcessWide(new std::string(96, '-'));
  return line;
}

// The states a pending cancel stays watched in, and in which a parked amend may go.
bool IsLiveForAmend(TOrderStatus s) {
  return StatusIn(s, {osQueued, osSent, osWorking, osPart, osCancelPending, osAmendPending,
                      osORPIFilled, osORPIPart});
}

// "N123" / "S123": the number after the letter, or 0.
std::int32_t LocalNumber(const std::string& id, char letter) {
  if (id.size() < 2 || id[0] != letter) return 0;
  std::int32_t value = 0;
  return TryStrToInt(std::string_view(id).substr(1), value) ? value : 0;
}

bool IsStoredID(const std::string& id) {
  return !id.empty() && id[0] != 'N' && id[0] != 'S';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TOrderQGuard

TOrderQGuard::TOrderQGuard(TOrderQ& orders) : orders_(orders) {
  orders_.Lock();
  if (orders_.guardDepth_++ == 0) orders_.guardOwner_.store(std::this_thread::get_id());
}

TOrderQGuard::~TOrderQGuard() {
  const bool outermost = --orders_.guardDepth_ == 0;
  if (outermost) orders_.guardOwner_.store(std::thread::id());
  orders_.Unlock();
  if (outermost) orders_.RunDeferred();
}

// ---------------------------------------------------------------------------------------------
// TOrderQ: set-up, services, index

TOrderQ::TOrderQ() : TIndexListOf<TOrderList>("Order List") {
  SetSorted(true);
  SetOwnsObjects(true);
}

TOrderQ::~TOrderQ() = default;

void TOrderQ::SetHost(std::shared_ptr<IOrderQHost> host) {
  std::lock_guard guard(servicesLock_);
  host_ = std::move(host);
}

void TOrderQ::SetSender(std::shared_ptr<IOrderSender> sender) {
  std::lock_guard guard(servicesLock_);
  sender_ = std::move(sender);
}

std::shared_ptr<IOrderQHost> TOrderQ::Host() const {
  // Without a host: the defaults, kept until the library unloads.
  static IOrderQHost& none = KeepProcessWide(new IOrderQHost);
  std::lock_guard guard(servicesLock_);
  if (host_) return host_;
  return std::shared_ptr<IOrderQHost>(std::shared_ptr<IOrderQHost>(), &none);
}

std::shared_ptr<IOrderSender> TOrderQ::Sender() const {
  std::lock_guard guard(servicesLock_);
  return sender_;
}

bool TOrderQ::GuardHeldByThisThread() const {
  return guardOwner_.load() == std::this_thread::get_id();
}

void TOrderQ::Defer(std::function<void()> work) {
  if (!GuardHeldByThisThread()) {
    work();
    return;
  }
  std::lock_guard guard(deferredLock_);
  deferred_.push_back({std::this_thread::get_id(), std::move(work)});
}

void TOrderQ::RunDeferred() {
  const std::thread::id self = std::this_thread::get_id();
  for (;;) {
    std::vector<std::function<void()>> work;
    {
      std::lock_guard guard(deferredLock_);
      for (auto& entry : deferred_)
        if (entry.Thread == self) work.push_back(std::move(entry.Work));
      std::erase_if(deferred_, [&](const TDeferred& entry) { return entry.Thread == self; });
    }
    if (work.empty()) return;
    for (auto& step : work) {
      try {
        step();
      } catch (const std::exception& e) {
        WriteTraceLine(std::string("TOrderQ: ") + ClassNameOf(e) + ": " + e.what());
      }
    }
  }
}

void TOrderQ::Reindex() const {
  byID_.Clear();
  for (int i = 0; i < Count(); ++i) {
    auto* history = static_cast<TOrderList*>(ItemAt(i));
    byID_.Set(history->OrderID(), history);
  }
  indexStale_ = false;
}

TOrderList* TOrderQ::LookUp(std::string_view key) const {
  if (indexStale_) Reindex();
  TOrderList* history = byID_.Find(key);
  if (history && history->OrderID() != key) {
    // Re-keyed behind the list's back: the sorted list still says where it is.
    Reindex();
    history = byID_.Find(key);
  }
  return history;
}

void TOrderQ::ItemsChanged() {
  if (keepingIndex_ != 0) return;
  indexStale_ = true;
  ++removals_;
}

namespace {

// The overrides below keep the index in step themselves.
struct TKeepingIndex {
  int& depth;
  explicit TKeepingIndex(int& d) : depth(d) { ++depth; }
  TKeepingIndex(const TKeepingIndex&) = delete;
  TKeepingIndex& operator=(const TKeepingIndex&) = delete;
  ~TKeepingIndex() { --depth; }
};

// The order list's key of an ID: its first 10 characters.
std::string_view KeyOfID(std::string_view id) {
  return id.substr(0, std::min(id.size(), kOrderIDLength));
}

}  // namespace

TAddResult TOrderQ::Add(const TItem& item) {
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  const TAddResult result = TIndexListOf<TOrderList>::Add(item);
  if (Loading()) {
    // A load may still drop duplicates: both indexes are rebuilt once it is over.
    indexStale_ = true;
    openLotsStale_ = true;
    ++removals_;
  } else if (result.Added) {
    auto* history = static_cast<TOrderList*>(item.get());
    byID_.Set(history->OrderID(), history);
    // A history that was listed before (re-keyed, say) recorded its share against this list
    // when it was taken out; it starts afresh.
    history->openLotShare_ = {};
    history->openLotListed_ = true;
    NoteHead(*history);
  }
  return result;
}

// Found through the index and a search by its key; a history not where its key says is looked
// for entry by entry.
int TOrderQ::RemoveItem(const TStreamable* item) {
  TItem dropped;  // released after the lock is left
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  int index = -1;
  const auto* wanted = dynamic_cast<const TOrderList*>(item);
  if (!wanted || LookUp(wanted->OrderID()) != wanted || !Find(wanted->OrderID(), index) ||
      ItemAt(index) != item)
    index = IndexOf(item);
  if (index < 0) return -1;
  dropped = Items(index);
  Unlist(*static_cast<TOrderList*>(dropped.get()));
  Delete(index);
  return index;
}

// A history leaving the list leaves the id index and the open lots. An id index that does not
// hold it under its id (an id changed while listed) is rebuilt rather than left pointing at it.
void TOrderQ::Unlist(TOrderList& history) {
  if (!byID_.Erase(history.OrderID(), &history)) indexStale_ = true;
  DropOpenLotShare(history);
  ++removals_;
}

int TOrderQ::RemoveKey(std::string_view key) {
  TItem dropped;
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  const int index = IndexOfKey(key);
  if (index < 0) return -1;
  dropped = Items(index);
  Unlist(*static_cast<TOrderList*>(dropped.get()));
  Delete(index);
  return index;
}

int TOrderQ::DeleteKey(std::string_view key) {
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  // Through FreeAt, which takes the history out of both indexes.
  return TIndexListOf<TOrderList>::DeleteKey(key);
}

void TOrderQ::FreeAt(int index) {
  TItem dropped;
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  if (index >= 0 && index < Count()) {
    dropped = Items(index);
    Unlist(*static_cast<TOrderList*>(dropped.get()));
  }
  TIndexListOf<TOrderList>::FreeAt(index);
}

void TOrderQ::FreeAll() {
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  DropOpenLots();
  byID_.Clear();
  ++removals_;
  TIndexListOf<TOrderList>::FreeAll();
  indexStale_ = false;
  CancelWatch.Clear();
  SentWatch.Clear();
  QueuedWatch.Clear();
  AmendingOrders.Clear();
  std::lock_guard held(syntheticLock_);
  syntheticContracts_.clear();
  syntheticContractsHeld_.store(0, std::memory_order_release);
}

void TOrderQ::Clear() {
  TIndexListLock guard(*this);
  TKeepingIndex keeping(keepingIndex_);
  DropOpenLots();
  byID_.Clear();
  ++removals_;
  TIndexListOf<TOrderList>::Clear();
  indexStale_ = false;
}

// ---------------------------------------------------------------------------------------------
// The open-lot index

void TOrderQ::DropOpenLotShare(TOrderList& history) const {
  history.openLotListed_ = false;
  if (openLotsStale_) return;
  openLots_.Replace(history.openLotShare_, {});
}

void TOrderQ::DropOpenLots() const {
  for (int i = 0; i < Count(); ++i) {
    At(i)->openLotShare_ = {};
    At(i)->openLotListed_ = false;
  }
  openLots_.Clear();
  openLotsStale_ = false;
}

void TOrderQ::FreshenOpenLots() const {
  if (!openLotsStale_) return;
  DropOpenLots();
  // Marked stale again should an update fail half-way.
  openLotsStale_ = true;
  for (int i = 0; i < Count(); ++i) {
    TOrderList& history = *At(i);
    TIndexListLock historyGuard(history);
    history.openLotListed_ = true;
    openLots_.Replace(history.openLotShare_, TOpenLotShare::Of(history.PeekHead()));
  }
  openLotsStale_ = false;
}

void TOrderQ::NoteHead(TOrderList& history) {
  TIndexListLock guard(*this);
  if (openLotsStale_) {
    FreshenOpenLots();
    return;
  }
  // A history outside the list (taken out, or never put in) adds nothing.
  if (!history.openLotListed_) return;
  TIndexListLock historyGuard(history);
  try {
    openLots_.Replace(history.openLotShare_, TOpenLotShare::Of(history.PeekHead()));
  } catch (...) {
    openLotsStale_ = true;
    throw;
  }
}

void TOrderQ::GatherOpenLots(const TTraderAccountItem& account, TOpenLotsByKey& margin,
                             TOpenLotsByKey* queued) const {
  TIndexListLock guard(*this);
  FreshenOpenLots();
  openLots_.Gather(account, margin, queued);
}

bool TOrderQ::OpenLotsConsistent() const {
  TIndexListLock guard(*this);
  FreshenOpenLots();
  TOpenLotIndex sum;
  for (int i = 0; i < Count(); ++i) {
    const TOrderList& history = *At(i);
    TIndexListLock historyGuard(history);
    // Entry 0 itself, not the cached head, so that this check covers the cache as well.
    const auto head = history.Count() > 0 ? history.At(0) : nullptr;
    const TOpenLotShare now = TOpenLotShare::Of(head.get());
    if (!history.openLotListed_ || !(history.openLotShare_ == now)) return false;
    TOpenLotShare added;
    sum.Replace(added, now);
  }
  return sum == openLots_;
}

// ---------------------------------------------------------------------------------------------
// Look-ups

// A listed history's entries change only with this list's lock held too: the cached head is
// read without the history's lock.
std::shared_ptr<TOrderItem> TOrderQ::FindOrder(std::string_view id) const {
  TIndexListLock guard(*this);
  const TOrderList* history = LookUp(KeyOfID(id));
  return history ? history->head_ : nullptr;
}

TOrderListRef TOrderQ::FindOrderListRef(std::string_view id) const {
  TIndexListLock guard(*this);
  TOrderList* history = LookUp(KeyOfID(id));
  return {history ? history->shared_from_this() : nullptr, removals_};
}

bool TOrderQ::StillListed(const TOrderListRef& known, std::string_view id) const {
  return known.History && known.Removals == removals_ && known.History->OrderID() == KeyOfID(id);
}

std::shared_ptr<TOrderItem> TOrderQ::FindOrder(std::string_view id,
                                               const TOrderListRef& known) const {
  TIndexListLock guard(*this);
  if (StillListed(known, id)) return known.History->head_;
  const TOrderList* history = LookUp(KeyOfID(id));
  return history ? history->head_ : nullptr;
}

std::shared_ptr<TOrderList> TOrderQ::FindOrderList(std::string_view id, bool create) {
  TIndexListLock guard(*this);
  if (TOrderList* history = LookUp(KeyOfID(id))) return history->shared_from_this();
  return create ? NewOrderList(id) : nullptr;
}

std::shared_ptr<TOrderList> TOrderQ::NewOrderList(std::string_view id) {
  auto history = std::make_shared<TOrderList>(id);
  TIndexListLock guard(*this);
  return Add(TItem(history)).Added ? history : nullptr;
}

int TOrderQ::IndexOfOrder(std::string_view id) const {
  int index = 0;
  return Find(OrderKey(id), index) ? index : -1;
}

// The head is changed under the list's lock alone, which every reader of a listed head holds: a
// fill's receiver calls this holding the fill list's lock, after which a history's lock would
// invert the lock order.
void TOrderQ::IncNoOfFills(std::string_view id) {
  TIndexListLock guard(*this);
  TOrderList* history = LookUp(KeyOfID(id));
  if (!history) return;
  if (TOrderItem* head = history->PeekHead()) ++head->NoOfFills;
}

double TOrderQ::GetAccountMargin(std::string_view accountName) const {
  const std::string name = Trim(accountName);
  double total = 0;
  TIndexListLock guard(*this);
  for (int i = 0; i < Count(); ++i) {
    auto head = At(i)->GetCurrent();
    if (!head || head->GetTraderAccountName() != name) continue;
    if (StatusIn(head->Status, {osQueued, osSent, osWorking, osPart, osCancelPending,
                                osAmendPending, osORPIPart, osHeldOrder}))
      total += head->MarginRequired;
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// Add: the order-state rules

struct TOrderQ::TRuleContext {
  std::shared_ptr<TOrderItem> item;
  std::shared_ptr<TOrderList> history;
  std::shared_ptr<TOrderItem> current;
  std::shared_ptr<TOrderItem> previous;
  bool result = false;  // when a rule ends Add
};

double TOrderQ::MarginOf(const TOrderItem& item) const {
  if (StatusIn(item.Status,
               {osRejected, osCancelled, osBalCancelled, osFilled, osORPIFilled, osCancHeldOrder}))
    return 0.0;
  if (!item.Contract) return 0.0;
  // Read under the commodity list's lock: a commodity message may change it meanwhile.
  const auto commodity = item.Contract->CommodityFacts();
  if (!commodity) return 0.0;
  const std::string currency = Copy(commodity->Currency, 1, 10);
  if (currency.empty()) return 0.0;
  const double rate = Host()->GetExchangeRate(currency);
  if (rate == 0.0 || !std::isfinite(rate)) return 0.0;
  const double margin = (item.TargetLots - item.Filled) * item.Contract->GetMarginRequired() / rate;
  return std::isfinite(margin) ? margin : 0.0;
}

// Rules 1-4: a cancelled or balance-cancelled state. False when the state is ignored.
bool TOrderQ::CancelRules(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  if (!StatusIn(item.Status, {osCancelled, osBalCancelled})) return true;
  // Rule 1
  if (rc.current && rc.current->Status == osFilled) {
    TraceOrderLog("... 1 - C or BC, already filled, ignore");
    return false;
  }
  // Rule 2
  if (item.TargetLots == item.ActualLots && item.TargetLots <= item.Filled) {
    TraceOrderLog("... 2 - cancel confirmation");
    return true;
  }
  // Rule 3
  if (rc.current && !StatusIn(rc.current->Status, {osCancelled, osBalCancelled})) {
    TraceOrderLog("... 3 - mid-cancel, -> cancel pending");
    item.Status = osCancelPending;
    item.ActualLots = rc.current->ActualLots;
    item.TargetLots = rc.current->TargetLots;
    item.Filled = rc.current->Filled;
    return true;
  }
  // Rule 4
  TraceOrderLog("... 4 - odd *** accept as is");
  return true;
}

// Rules 5-15: a working or part-filled state.
void TOrderQ::WorkingRules(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  const TOrderStatus entered = item.Status;
  if (!StatusIn(entered, {osWorking, osPart})) return;
  // Rules 5-7
  if (rc.current) {
    TraceOrderLog("... 5 - rcv working/part");
    TraceOrderLog(rc.current->Status == osSent && item.Status == osPart
                      ? "... 6 - rcvd part, skip working"
                      : "... 7 - rcvd working");
  }
  // Rule 9
  if (StatusIn(item.Status, {osWorking, osPart}) && rc.current && rc.current->Status == osPart &&
      rc.current->Filled == item.Filled && rc.current->TargetLots == item.TargetLots) {
    rc.current->Status = osWorking;
    rc.current->Filled = 0;
    rc.current->ExchangeID = item.ExchangeID;
    rc.current->DateExchangeAcknowledged = item.DateExchangeAcknowledged;
    rc.current->TimeExchangeAcknowledged = item.TimeExchangeAcknowledged;
    TraceOrderLog("... 9 LastOrder -> W");
  }
  // Rules 10-11
  if (StatusIn(item.Status, {osWorking, osPart}) && rc.current && rc.previous) {
    TraceOrderLog("... 10 - got 2 prev states");
    if (rc.previous->Status == osWorking && rc.current->Status == osAmendPending) {
      TraceOrderLog("... 11 -> ap ");
      item.Status = osAmendPending;
    }
  }
  // Rules 12-15
  if (rc.current) {
    TraceOrderLog("... 12 - at least 1 prev");
    if (rc.current->Status == osAmendPending) {
      TraceOrderLog(".. 13 - prev was working");
      if (item.TargetLots == item.ActualLots) {
        if (item.Filled > 0) {
          TraceOrderLog("... 14 - part filled");
          item.Status = osPart;
        } else {
          TraceOrderLog("... 15 - no fills, working");
          item.Status = osWorking;
        }
      }
    }
  }
}

// Rules 16-18: a sent state.
void TOrderQ::SentRules(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  if (item.Status != osSent) return;
  TraceOrderLog("... 16 - order conf");
  if (!rc.current) return;
  TraceOrderLog("... 17 - got prev");
  if (rc.current->Status == osAmendPending) {
    TraceOrderLog("... 18 - must be amending");
    item.Status = osAmendPending;
  }
}

// Rules 19-28: fills reported out of order (ORPI). False when Add ends here.
bool TOrderQ::ORPIRules(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  TOrderList& history = *rc.history;
  if (item.Status == osFilled) {
    auto orpi = history.FindStatus(osORPIFilled);
    if (!orpi) return true;
    TraceOrderLog("... 19 found orpi-filled item");
    // Rule 20
    if (orpi->Filled <= item.Filled) {
      history.ResolveORPI(osORPIFilled, osFilled);
      TraceOrderLog("... 20 reset any orpi-filled to filled");
      return true;
    }
    // Rule 21
    TraceOrderLog("... 21 hide new as an orpi-fill");
    item.Status = osORPIFilled;
    history.InsertSecond(rc.item);
    rc.result = true;
    return false;
  }
  if (item.Status == osPart) {
    auto orpi = history.FindStatus(osORPIPart);
    if (!orpi) return true;
    TraceOrderLog("... 23 got a prev orpi-part-filled");
    // Rule 24
    if (orpi->Filled <= item.Filled) {
      history.ResolveORPI(osORPIPart, osPart);
      TraceOrderLog("... 24 reset to part-filled");
      return true;
    }
    // Rule 25
    TraceOrderLog("... 25 hide new as a orpi-part-fill");
    item.Status = osORPIPart;
    history.InsertSecond(rc.item);
    rc.result = true;
    return false;
  }
  if (StatusIn(item.Status, {osORPIFilled, osORPIPart})) {
    item.TargetLots = item.ActualLots;
    // Rule 27
    if (rc.current && StatusIn(rc.current->Status, {osFilled, osORPIFilled})) {
      TraceOrderLog("... 27 already got later status, ignore");
      return false;
    }
    // Rule 28
    if (rc.current && StatusIn(rc.current->Status, {osWorking, osPart, osORPIPart}) &&
        rc.current->Filled >= item.Filled) {
      TraceOrderLog("... 28 already got prev higher vol, ignore");
      return false;
    }
  }
  return true;
}

// False when a rule ended Add (rules 1, 21, 25, 27, 28); rc.result is then the result.
bool TOrderQ::ApplyStateRules(TRuleContext& rc) {
  if (!CancelRules(rc)) return false;
  WorkingRules(rc);
  SentRules(rc);
  return ORPIRules(rc);
  // Rule 30: every other case goes on to InsertNewState.
}

// ---------------------------------------------------------------------------------------------
// Add: the steps around the rules

void TOrderQ::StampIncoming(TOrderItem& item, IOrderQHost& host) {
  item.MarginRequired = MarginOf(item);
  item.UpdateSequence = host.NextOrderSequence();
}

// A history refused as a duplicate key leaves the item with the caller.
std::shared_ptr<TOrderList> TOrderQ::HistoryFor(const TOrderItem& item,
                                                const TOrderListRef& known) {
  if (item.Status == osQueued && TrimView(item.ID).empty()) return NewOrderList(item.ID);
  return StillListed(known, item.ID) ? known.History : FindOrderList(item.ID, true);
}

void TOrderQ::ReadPriorStates(TRuleContext& rc) {
  const int count = rc.history->Count();
  rc.current = count > 0 ? rc.history->At(0) : nullptr;
  rc.previous = count > 1 ? rc.history->At(1) : nullptr;
}

void TOrderQ::InheritEntryFields(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  if (rc.current) {
    item.EntryDate = rc.current->EntryDate;
    item.EntryTime = rc.current->EntryTime;
    item.XRef = rc.current->XRef;
    item.NoOfFills = rc.current->NoOfFills;
  } else {
    item.NoOfFills = 0;
  }
  if (item.EntryDate.empty() && item.EntryTime.empty()) {
    item.EntryDate = Trim(item.DateHostReceived);
    item.EntryTime = Trim(item.TimeHostReceived);
  }
}

void TOrderQ::NoteAccountChange(const TRuleContext& rc, IOrderQHost& host) {
  const TOrderItem& item = *rc.item;
  if (rc.current && rc.current->TraderAccount != item.TraderAccount && item.TraderAccount &&
      !host.DownloadInProgress())
    host.OrderAccountChanged(Trim(item.ID), *rc.current, item);
}

void TOrderQ::LogPriorStates(const TRuleContext& rc) {
  if (!OrderLogOn()) return;
  WriteTraceLine("Current state is");
  if (rc.current)
    DumpOrder(*rc.current);
  else
    WriteTraceLine("    *** unknown");
  WriteTraceLine("Previous to that was");
  if (rc.previous)
    DumpOrder(*rc.previous);
  else
    WriteTraceLine("    *** unknown");
}

void TOrderQ::EndCancelWatchUnlessLive(const TOrderItem& item, std::string_view id) {
  if (!IsLiveForAmend(item.Status)) CancelWatch.Remove(id);
}

std::shared_ptr<TOrderItem> TOrderQ::InsertNewState(TRuleContext& rc) {
  TOrderItem& item = *rc.item;
  TraceOrderLog("... 30 add new entry to list");
  if (SafeStrToInt(item.LinkedOrder(), 0) > 0) rc.history->SetLinkedOrder(Trim(item.LinkedOrder()));
  item.OFSeqNumber = rc.history->Count() + 1;
  rc.history->InsertBySequence(rc.item);
  return rc.history->GetCurrent();
}

void TOrderQ::RebookAmendedMargin(const TRuleContext& rc) {
  const TOrderItem& item = *rc.item;
  if (rc.current && rc.current->Status == osAmendPending && item.TraderAccount) {
    TTraderAccountItem& account = *item.TraderAccount;
    // The same ID's entry is replaced in place, which keeps what its sells have covered.
    if (rc.current->ID != item.ID) account.RemoveMarginOrder(*rc.current);
    if (item.Contract)
      account.AddMarginOrder(item, StartOfDayCover(*item.Contract, account.TraderAccount));
  }
}

// Widened from the amend confirmation alone: a parked request goes as soon as the head leaves
// the parking states.
bool TOrderQ::ParkedRequestDue(const TRuleContext& rc, const TOrderItem* head,
                               std::string_view id) const {
  const bool amendConfirmed =
      rc.current && rc.item->Status == osWorking && rc.current->Status == osAmendPending;
  return amendConfirmed || (head && !IsParkingState(head->Status) && AmendingOrders.Contains(id));
}

// A held order cancelled or expired: its contract is no longer watched for it.
void TOrderQ::ReleaseEndedHeldOrder(const TRuleContext& rc, const TOrderItem* head,
                                    std::string_view id) {
  if (rc.current && rc.current->Status == osHeldOrder && head && head->Status != osHeldOrder)
    ReleaseHeldOrder(id);
}

void TOrderQ::UpdateWatchLists(TOrderItem& item, const std::shared_ptr<TOrderItem>& head,
                               std::string_view id, IOrderQHost& host) {
  SentWatch.Remove(id);
  QueuedWatch.Remove(id);
  if (item.Status == osQueued) {
    item.QueuedTimeOut = host.QueuedFailureDelay();
    QueuedWatch.Add(head);
  } else if (item.Status == osSent) {
    item.SentTimeOut = host.SentFailureDelay();
    SentWatch.Add(head);
  }
}

bool TOrderQ::Add(const std::shared_ptr<TOrderItem>& item, const TOrderListRef& known,
                  TOrderListRef* used) {
  if (!item) throw EListError("TOrderQ.Add: no order");
  auto host = Host();
  TOrderQGuard guard(*this);
  TTraceScope scope("TOrderQ.Add");
  if (OrderLogOn()) {
    WriteTraceLine(DashLine());
    WriteTraceLine("Start Orderq.Add incoming order is");
    DumpOrder(*item);
  }
  StampIncoming(*item, *host);
  TRuleContext rc;
  rc.item = item;
  rc.history = HistoryFor(*item, known);
  if (!rc.history) {
    WriteTraceLine("TOrderQ.Add: no history for order '" + item->ID + "'");
    return false;
  }
  if (used) *used = {rc.history, removals_};
  const std::string id = item->ID;
  std::shared_ptr<TOrderItem> head;
  {
    TIndexListLock historyGuard(*rc.history);
    // The rules may change the head in place (rule 9) or resolve ORPI states, and end Add early:
    // the head's share is noted however the block is left, before anything below sends.
    struct TNoteHead {
      TOrderQ& Orders;
      TOrderList& History;
      ~TNoteHead() {
        try {
          Orders.NoteHead(History);
        } catch (...) {
          Orders.openLotsStale_ = true;
        }
      }
    } noteHead{*this, *rc.history};
    ReadPriorStates(rc);
    InheritEntryFields(rc);
    NoteAccountChange(rc, *host);
    LogPriorStates(rc);
    EndCancelWatchUnlessLive(*item, id);
    if (!ApplyStateRules(rc)) {
      // Rules 21 and 25 keep the state behind the head; the others leave it with the caller.
      if (rc.result) rc.history->NoteAppliedSequence(item->LastSequence);
      if (OrderLogOn()) WriteTraceLine(DashLine());
      return rc.result;
    }
    head = InsertNewState(rc);
    rc.history->NoteAppliedSequence(item->LastSequence);
    if (OrderLogOn()) WriteTraceLine(DashLine());
  }
  RebookAmendedMargin(rc);
  // Whether a parked request is due is decided here; it is re-issued last, still under the
  // lock, so that no other thread acts on the new head first.
  const bool reissue = ParkedRequestDue(rc, head.get(), id);
  ReleaseEndedHeldOrder(rc, head.get(), id);
  UpdateWatchLists(*item, head, id, *host);
  if (reissue) CheckAmendingOrder(id);
  return true;
}

void TOrderQ::AddToHistory(const std::shared_ptr<TOrderItem>& item) {
  if (!item) return;
  TOrderQGuard guard(*this);
  if (auto history = FindOrderList(item->ID, true)) {
    history->InsertSecond(item);
    NoteHead(*history);
  }
}

// ---------------------------------------------------------------------------------------------
// Matching a host order to a local one

std::string TOrderQ::MatchOrder(const TOrderItem& item) {
  const std::string id = item.ID;
  if (SafeStrToInt(id, -1) < 0) {
    TraceOrderLog([&] { return "Not matching " + id; });
    return {};
  }
  TOrderQGuard guard(*this);
  // The log of the heads tried is made only with the order log on.
  const bool logOn = OrderLogOn();
  std::string log;
  if (logOn) log = "Trying to Match " + id + " :";
  int start = 0;
  Find("N", start);
  for (int i = start; i < Count(); ++i) {
    auto history = At(i);
    auto head = history->GetCurrent();
    if (!head) continue;
    if (logOn) log += " " + head->ID;
    if (head->Status != osQueued || head->TargetLots != item.TargetLots ||
        std::fabs(head->Price - item.Price) >= kMatchPriceTolerance ||
        std::fabs(head->Price2 - item.Price2) >= kMatchPriceTolerance ||
        head->BuySell != item.BuySell || Trim(head->DateClientSent) != Trim(item.DateClientSent) ||
        Trim(head->TimeClientSent) != Trim(item.TimeClientSent) ||
        head->Contract != item.Contract || head->OrderType != item.OrderType ||
        Trim(head->LinkedOrder()) != Trim(item.LinkedOrder()) || head->XRefP != item.XRefP ||
        head->TraderAccount != item.TraderAccount)
      continue;
    const std::string local = head->ID;
    // A history already holding the host ID keeps it; the local one stays as it is.
    if (LookUp(KeyOfID(id))) {
      WriteTraceLine("TOrderQ.MatchOrder: " + id + " is listed already; " + local + " not matched");
      return {};
    }
    if (!ReKeyOrder(history, id)) return {};
    if (logOn) TraceOrderLog(log + ": Matched to " + local + " at Index " + IntToStr(i));
    return local;
  }
  if (logOn) TraceOrderLog(log + ": Not matched");
  return {};
}

// ---------------------------------------------------------------------------------------------
// Held synthetic orders

std::string TOrderQ::SyntheticContractKey(const TContractKey& contract) {
  return contract.Exchange + contract.Commodity + contract.ContractDate;
}

bool TOrderQ::AddSyntheticContract(const TOrderItem& held) {
  TIndexListLock guard(*this);
  auto head = FindOrder(held.ID);
  if (!head || head->Status != osHeldOrder || !head->Contract) return false;
  const TContractKey contract = head->Contract->Key();
  std::lock_guard syntheticGuard(syntheticLock_);
  if (heldOrderContract_.emplace(head->ID, contract).second) {
    ++syntheticContracts_[SyntheticContractKey(contract)];
    syntheticContractsHeld_.store(syntheticContracts_.size(), std::memory_order_release);
  }
  return true;
}

bool TOrderQ::IsSyntheticContract(std::string_view key) const {
  return SyntheticContractCount(key) > 0;
}

std::int32_t TOrderQ::SyntheticContractCount(std::string_view key) const {
  if (syntheticContractsHeld_.load(std::memory_order_acquire) == 0) return 0;
  std::lock_guard guard(syntheticLock_);
  auto it = syntheticContracts_.find(key);
  return it == syntheticContracts_.end() ? 0 : it->second;
}

// Drops the held order's count on its contract and, after the lock, one price subscriber.
void TOrderQ::ReleaseHeldOrder(std::string_view id) {
  TContractKey contract;
  {
    std::lock_guard guard(syntheticLock_);
    auto it = heldOrderContract_.find(std::string(id));
    if (it == heldOrderContract_.end()) return;
    contract = std::move(it->second);
    heldOrderContract_.erase(it);
    auto count = syntheticContracts_.find(SyntheticContractKey(contract));
    if (count != syntheticContracts_.end() && --count->second <= 0)
      syntheticContracts_.erase(count);
    syntheticContractsHeld_.store(syntheticContracts_.size(), std::memory_order_release);
  }
  Defer([host = Host(), contract] { host->UnsubscribePrice(contract); });
}

void TOrderQ::CheckSyntheticOrders(const TContractItem& contract, std::string_view id) {
  TOrderQGuard guard(*this);
  const PriceEntry last = contract.GetPrice(5);
  if (last.Volume == 0 || last.Value == 0.0) return;
  // Collected first: each release re-keys its history.
  std::vector<std::shared_ptr<TOrderList>> triggered;
  int start = 0;
  Find("S", start);
  for (int i = start; i < Count(); ++i) {
    auto history = At(i);
    auto head = history->GetCurrent();
    if (!head || head->Status != osHeldOrder || head->Contract.get() != &contract) continue;
    if (!id.empty() && head->ID != id) continue;
    if (!head->OrderType) continue;
    bool release = false;
    switch (head->OrderType->OrderTypeID) {
      case otSyntheticStop:
      case otSyntheticStopLimit:
      case otSyntheticMLM:
        release = head->BuySell == Buy ? last.Value >= head->Price : last.Value <= head->Price;
        break;
      case otSyntheticMIT:
        release = head->BuySell == Buy ? last.Value <= head->Price : last.Value >= head->Price;
        break;
      default:
        break;
    }
    if (release) triggered.push_back(history);
  }
  for (const auto& history : triggered)
    SendSyntheticOrder(history);
}

bool TOrderQ::SendSyntheticOrder(const std::shared_ptr<TOrderList>& history) {
  if (!history) return false;
  TOrderQGuard guard(*this);
  auto head = history->GetCurrent();
  if (!head || head->Status != osHeldOrder || !head->OrderType || !head->Contract) return false;
  auto sender = Sender();
  if (!sender) return false;
  const std::string oldID = head->ID;
  // The order type it is sent as; an exchange without it keeps the order held.
  std::int32_t typeID = 0;
  switch (head->OrderType->OrderTypeID) {
    case otSyntheticStop:
    case otSyntheticMIT:
      typeID = otMarket;
      break;
    case otSyntheticStopLimit:
      typeID = otLimit;
      break;
    case otSyntheticMLM:
      typeID = MLMOrderTypeID.load();
      break;
    default:
      return false;
  }
  auto orderType =
      typeID > 0 ? Host()->FindOrderTypeByID(ContractExchange(*head->Contract), typeID) : nullptr;
  if (!orderType) {
    WriteTraceLine("TOrderQ.SendSyntheticOrder: no order type " + IntToStr(typeID) + " for " +
                   oldID + "; kept held");
    return false;
  }
  // Only a host id is sent here; a local one waits for its host id like any other order.
  const std::string newID = sender->GetNewOrderID();
  if (newID.empty()) {
    WriteTraceLine("TOrderQ.SendSyntheticOrder: no order id for " + oldID + "; kept held");
    return false;
  }
  const double enteredPrice = head->Price;
  const double enteredPrice2 = head->Price2;
  {
    TIndexListLock historyGuard(*history);
    head->Status = osQueued;
    const TDateTime now = Now();
    head->DateClientSent = FormatDateTime("yyyymmdd", now);
    head->TimeClientSent = FormatDateTime("hhnnss", now);
    if (typeID == otMarket) {
      head->Price = 0.0;
    } else {
      head->Price = head->Price2;
      head->Price2 = 0.0;
    }
    head->OrderType = orderType;
  }
  NoteHead(*history);
  ReleaseHeldOrder(oldID);
  if (!ReKeyOrder(history, newID)) {
    WriteTraceLine("TOrderQ.SendSyntheticOrder: " + newID + " is listed already");
    return false;
  }
  if (DebugFlags() != 0) {
    std::string dump = "TOrderQ.SendSyntheticOrder ";
    dump += "\r\n  VORN OrderID     " + newID;
    dump += "\r\n  Trader Accnt     " + head->GetTraderAccountName();
    dump += "\r\n  Order Type ID    " + IntToStr(typeID);
    dump += "\r\n  Buy/Sell         " + IntToStr(head->BuySell);
    dump += "\r\n  Target Lots      " + IntToStr(head->TargetLots);
    dump += "\r\n  Price            " + FloatToStr(head->Price);
    dump += "\r\n  Price 2          " + FloatToStr(head->Price2);
    dump += "\r\n  Last Trade Price " + FloatToStr(head->Contract->GetPrice(5).Value);
    dump += "\r\n  Entered Price    " + FloatToStr(enteredPrice);
    dump += "\r\n  Entered Price2   " + FloatToStr(enteredPrice2);
    WriteTraceLine(dump);
  }
  auto request = head->Copy();
  const bool hostID = SafeStrToInt(newID, 0) > 0;
  const std::int32_t sequence = head->OFSeqNumber;
  // The event first: the host's reply to the request must not reach the application before it.
  Defer([sender, request, hostID, newID, oldID, sequence] {
    AddOrderCallback(newID, oldID, osQueued, sequence);
    if (hostID) sender->SendOrder(*request);
  });
  return true;
}

bool TOrderQ::ReKeyOrder(const std::shared_ptr<TOrderList>& history, std::string_view id) {
  if (!history) return false;
  TOrderQGuard guard(*this);
  const std::string oldID = history->OrderID();
  if (!ReKeyOrderList(*this, history, id)) return false;
  CancelWatch.Rename(oldID, id);
  SentWatch.Rename(oldID, id);
  QueuedWatch.Rename(oldID, id);
  AmendingOrders.Rename(oldID, id);
  std::lock_guard syntheticGuard(syntheticLock_);
  auto held = heldOrderContract_.extract(oldID);
  if (!held.empty()) {
    held.key() = std::string(id);
    heldOrderContract_.insert(std::move(held));
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Parked amend and cancel requests

void TOrderQ::CheckAmendingOrder(std::string_view id) {
  auto request = AmendingOrders.Take(id);
  if (!request) return;
  auto sender = Sender();
  if (!sender) return;
  auto head = FindOrder(id);
  const std::string user = request->UserName.empty() ? Host()->LogonUserName() : request->UserName;
  const std::string orderID = request->OrderID;
  if (request->Action == TAmendAction::Amend) {
    if (head && IsLiveForAmend(head->Status)) {
      sender->AmendOrder(orderID, request->Record, user);
      TraceOrderLog("Amending of Order dynamically sent due to order update.  Order ID = " +
                    orderID);
    } else {
      TraceOrderLog("Amending of Order cancelled due to invaid order state.  Order ID = " +
                    orderID);
    }
    return;
  }
  TraceOrderLog("Cancel of Order dynamically sent due to order update.  Order ID = " + orderID);
  if (head && !StatusIn(head->Status, {osCancelled, osBalCancelled, osFilled}))
    sender->CancelOrder(orderID, user);
}

void TOrderQ::ForgetOrder(std::string_view id) {
  TOrderQGuard guard(*this);
  CancelWatch.Remove(id);
  SentWatch.Remove(id);
  QueuedWatch.Remove(id);
  AmendingOrders.Remove(id);
  ReleaseHeldOrder(id);
}

// ---------------------------------------------------------------------------------------------
// Store

void TOrderQ::WriteItem(TStream& stream, const TStreamable& item) {
  const auto& history = dynamic_cast<const TOrderList&>(item);
  TIndexListLock guard(history);
  stream.WriteString(history.OrderID());
  stream.WriteBoolean(history.IsNew());
  stream.WriteCompact(history.Count());
  for (int i = 0; i < history.Count(); ++i) {
    auto entry = history.At(i);
    WriteProperties(stream, *entry, TOrderItem::Class());
    entry->WriteExtra(stream);
  }
}

void TOrderQ::ForgetAppliedSequences() {
  TIndexListLock guard(*this);
  for (int i = 0; i < Count(); ++i) At(i)->ForgetAppliedSequence();
}

TIndexList::TItem TOrderQ::ReadItem(TStream& stream) {
  const std::string id = stream.ReadString();
  const bool isNew = stream.ReadBoolean();
  auto history = std::make_shared<TOrderList>(id);
  const std::int32_t count = stream.ReadCount(TOrderItem::Class().MinStreamSize());
  for (std::int32_t i = 0; i < count; ++i) {
    auto entry = NewOrderItem();
    ReadProperties(stream, *entry, TOrderItem::Class());
    entry->ReadExtra(stream);
    history->Insert(history->Count(), entry);
    history->NoteAppliedSequence(entry->LastSequence);
  }
  history->SetIsNew(isNew);
  if (const std::int32_t n = LocalNumber(id, 'N'); n > 0) Host()->RaiseLocalOrderCounter(n);
  if (const std::int32_t s = LocalNumber(id, 'S'); s > 0) Host()->RaiseSyntheticOrderCounter(s);
  return history;
}

void TOrderQ::SaveToStream(TStream& stream) {
  TTraceScope scope("SaveToStream: Order List");
  TStream items;
  std::int32_t written = 0;
  {
    TIndexListLock guard(*this);
    for (int i = 0; i < Count(); ++i) {
      auto history = At(i);
      if (!IsStoredID(history->OrderID())) continue;
      const std::size_t mark = items.Position();
      try {
        WriteItem(items, *history);
        ++written;
      } catch (const std::exception& e) {
        items.Truncate(mark);
        WriteTraceLine("unable to save order " + history->OrderID() + " in " + Name() + ": " +
                       e.what());
      }
    }
  }
  if (stream.Position() == StoreHeaderText().size()) stream.WriteCompact(kStoreVersionWord);
  stream.WriteCompact(written);
  stream.WriteBuffer(items.Bytes().data(), items.Size());
}

// ---------------------------------------------------------------------------------------------
// TOrderQServices

std::shared_ptr<TTraderAccountItem> TOrderQServices::FindAccount(std::string_view name) {
  return lookups_.FindAccount ? lookups_.FindAccount(name) : nullptr;
}

std::shared_ptr<TContractItem> TOrderQServices::FindContract(std::string_view exchange,
                                                             std::string_view commodity,
                                                             std::string_view contractDate) {
  return lookups_.FindContract ? lookups_.FindContract(exchange, commodity, contractDate) : nullptr;
}

std::shared_ptr<TOrderTypeItem> TOrderQServices::FindOrderType(std::string_view exchange,
                                                               std::string_view name) {
  return lookups_.FindOrderType ? lookups_.FindOrderType(exchange, name) : nullptr;
}

void TOrderQServices::RaiseOrderSequence(std::int32_t next) {
  if (lookups_.RaiseOrderSequence) lookups_.RaiseOrderSequence(next);
}

std::string TOrderQServices::NewSyntheticOrderID() {
  return lookups_.NewSyntheticOrderID ? lookups_.NewSyntheticOrderID() : std::string();
}

std::shared_ptr<TOrderList> TOrderQServices::FindOrderList(std::string_view id) {
  return orders_.FindOrderList(id, false);
}

std::string TOrderQServices::MatchOrder(TOrderItem& item) {
  std::string local = orders_.MatchOrder(item);
  return local.empty() ? item.ID : local;
}

void TOrderQServices::NoteHead(TOrderList& history) {
  orders_.NoteHead(history);
}

TUUIDObjectList* TOrderQServices::UUIDObjects() {
  return lookups_.UUIDObjects ? lookups_.UUIDObjects() : nullptr;
}

}  // namespace vorn
