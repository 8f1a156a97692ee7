#include "core/trading/OrderItem.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/store/ObjStream.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/OrderList.h"
#include "core/trading/TraderAccount.h"
#include "core/util/ErrorCodes.h"
#include "core/util/SlabPool.h"
#include "core/util/Text.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

// The unload handling shuts the API object down after static objects of the process are gone.
struct TServicesSlot {
  std::mutex lock;
  std::shared_ptr<IOrderServices> services;
};
TProcessWide<TServicesSlot> servicesSlot;

// The head's OFSeqNumber for the order's event (0 when the order list has no such order).
std::int32_t EventSeqNumber(IOrderServices* services, std::string_view id) {
  if (!services) return 0;
  TIndexListLock orders(services->Orders());
  if (auto history = services->FindOrderList(id)) {
    if (auto head = history->GetCurrent()) return head->OFSeqNumber;
  }
  return 0;
}

// Room for the shared_ptr's control block (counts, vtable, the allocator) beside the state.
constexpr std::size_t kControlBlockRoom = 32;

// The pool lives until the library unloads and then until its last state is freed.
struct TStatePoolOwner {
  TSlabPool* pool = new TSlabPool(sizeof(TOrderItem) + kControlBlockRoom);
  TStatePoolOwner() = default;
  TStatePoolOwner(const TStatePoolOwner&) = delete;
  TStatePoolOwner& operator=(const TStatePoolOwner&) = delete;
  ~TStatePoolOwner() { pool->Release(); }
};
TProcessWide<TStatePoolOwner> statePool;

}  // namespace

TSlabPool& OrderStatePool() {
  return *statePool.Get().pool;
}

std::shared_ptr<TOrderItem> NewOrderItem() {
  return std::allocate_shared<TOrderItem>(TSlabAllocator<TOrderItem>(OrderStatePool()));
}

std::string OrderKey(std::string_view id) {
  return Copy(id, 1, kOrderIDLength);
}

// ---------------------------------------------------------------------------------------------
// Services

void SetOrderServices(std::shared_ptr<IOrderServices> services) {
  std::shared_ptr<IOrderServices> old;
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  old = std::exchange(slot.services, std::move(services));
}

void RemoveOrderServices(const IOrderServices* services) {
  std::shared_ptr<IOrderServices> old;
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  if (slot.services.get() == services) old = std::move(slot.services);
}

std::shared_ptr<IOrderServices> GetOrderServices() {
  auto& slot = servicesSlot.Get();
  std::lock_guard guard(slot.lock);
  return slot.services;
}

// ---------------------------------------------------------------------------------------------
// TOrderItem

const TStreamClass& TOrderItem::Class() {
  using T = TOrderItem;
  static const TStreamClass& description = MakeStreamClass<T>(
      "TOrderItem", &TUUIDStreamable::Class(),
      TPropertyTable<T>()
          .String("ID", &T::ID)
          .String("DisplayID", &T::DisplayID)
          .String("ExchangeID", &T::ExchangeID)
          .String("UserName", &T::UserName)
          .Enumeration("BuySell", Cross, &T::BuySell)
          .Float("Price", &T::Price)
          .Float("Price2", &T::Price2)
          .Enumeration("Status", osExternalCancelled, &T::Status)
          .Integer("Filled", &T::Filled)
          .Integer("NoOfFills", &T::NoOfFills)
          .Float("AveragePrice", &T::AveragePrice)
          .String("DateClientSent", &T::DateClientSent)
          .String("TimeClientSent", &T::TimeClientSent)
          .String("DateHostReceived", &T::DateHostReceived)
          .String("TimeHostReceived", &T::TimeHostReceived)
          .String("DateExchangeReceived", &T::DateExchangeReceived)
          .String("TimeExchangeReceived", &T::TimeExchangeReceived)
          .String("DateExchangeAcknowledged", &T::DateExchangeAcknowledged)
          .String("TimeExchangeAcknowledged", &T::TimeExchangeAcknowledged)
          .Integer("TargetLots", &T::TargetLots)
          .Integer("ActualLots", &T::ActualLots)
          .Char("OpenOrClose", &T::OpenOrClose)
          .String("LinkedOrder", &T::LinkedOrder, &T::SetLinkedOrder)
          .Float("MarginRequired", &T::MarginRequired)
          .String("NonExecReason", &T::NonExecReason, &T::SetNonExecReason)
          .Integer("XRef", &T::XRef, &T::SetXRef)
          .Integer("XRefP", &T::XRefP)
          .Boolean("Checked", &T::Checked)
          .Integer("UpdateSequence", &T::UpdateSequence)
          .String("GoodTillDate", &T::GoodTillDate, &T::SetGoodTillDate)
          .String("ExchangeName", &T::ExchangeName)
          .String("DateFilled", &T::DateFilled, &T::SetDateFilled)
          .String("TimeFilled", &T::TimeFilled, &T::SetTimeFilled)
          .String("Reference", &T::GetReference, &T::SetReference)
          .Integer("CancelTimeOut", &T::CancelTimeOut)
          .Float("OPr", &T::OPr)
          .String("ESARef", &T::ESARef, &T::SetESARef)
          .Integer("Priority", &T::Priority)
          .String("TriggerTime", &T::TriggerTime, &T::SetTriggerTime)
          .String("TriggerDate", &T::TriggerDate, &T::SetTriggerDate)
          .Integer("SubState", &T::SubState)
          .Integer("LastSequence", &T::LastSequence)
          .String("BatchID", &T::BatchID, &T::SetBatchID)
          .String("BatchType", &T::BatchType, &T::SetBatchType)
          .Integer("BatchCount", &T::BatchCount)
          .String("BatchStatus", &T::BatchStatus, &T::SetBatchStatus)
          .String("ParentID", &T::ParentID, &T::SetParentID)
          .Char("DoneForDay", &T::DoneForDay)
          .String("BigRefField", &T::BigRefField, &T::SetBigRefField)
          .Integer("TimeOut", &T::TimeOut)
          .String("QuoteID", &T::QuoteID, &T::SetQuoteID)
          .String("SenderLocationID", &T::SenderLocationID, &T::SetSenderLocationID)
          .String("Rawprice", &T::Rawprice, &T::SetRawprice)
          .String("Rawprice2", &T::Rawprice2, &T::SetRawprice2)
          .String("ExecutionID", &T::ExecutionID, &T::SetExecutionID)
          .String("ClientID", &T::ClientID, &T::SetClientID)
          .Integer("LotsPosted", &T::LotsPosted)
          .Integer("ChildCount", &T::ChildCount)
          .String("ISINCode", &T::ISINCode, &T::SetISINCode)
          .String("CashPrice", &T::CashPrice, &T::SetCashPrice)
          .Char("Methodology", &T::Methodology)
          .String("BasisRef", &T::BasisRef, &T::SetBasisRef)
          .String("EntryDate", &T::EntryDate)
          .String("EntryTime", &T::EntryTime)
          .Char("APIM", &T::APIM)
          .String("APIMUser", &T::APIMUser, &T::SetAPIMUser)
          .String("ICSNearLegPrice", &T::ICSNearLegPrice, &T::SetICSNearLegPrice)
          .String("ICSFarLegPrice", &T::ICSFarLegPrice, &T::SetICSFarLegPrice)
          .String("YDSPAudit", &T::YDSPAudit, &T::SetYDSPAudit)
          .Integer("SentTimeOut", &T::SentTimeOut)
          .Integer("QueuedTimeOut", &T::QueuedTimeOut)
          .String("CreationDate", &T::CreationDate, &T::SetCreationDate)
          .Integer("OrderHistorySeq", &T::OrderHistorySeq)
          .Integer("MinClipSize", &T::MinClipSize)
          .Char("Randomise", &T::Randomise)
          .Integer("MaxClipSize", &T::MaxClipSize)
          .Char("MarloStage", &T::MarloStage)
          .String("MarloTimeSent", &T::MarloTimeSent, &T::SetMarloTimeSent)
          .String("MarloDateSent", &T::MarloDateSent, &T::SetMarloDateSent)
          .String("TriggeredDate", &T::TriggeredDate, &T::SetTriggeredDate)
          .String("TriggeredTime", &T::TriggeredTime, &T::SetTriggeredTime)
          .String("TicketVersion", &T::TicketVersion, &T::SetTicketVersion)
          .String("TicketType", &T::TicketType, &T::SetTicketType)
          .Integer("OFSeqNumber", &T::OFSeqNumber)
          .Boolean("IsProtectionOrder", &T::IsProtectionOrder)
          .String("Pr1Price", &T::Pr1Price, &T::SetPr1Price)
          .String("Pr2Price", &T::Pr2Price, &T::SetPr2Price)
          .String("Pr3Price", &T::Pr3Price, &T::SetPr3Price)
          .Integer("Pr1Volume", &T::Pr1Volume)
          .Integer("Pr2Volume", &T::Pr2Volume)
          .Integer("Pr3Volume", &T::Pr3Volume)
          .String("StType", &T::StType, &T::SetStType)
          .String("StPrice", &T::StPrice, &T::SetStPrice)
          .Float("StSteps1", &T::StSteps1)
          .Float("StSteps2", &T::StSteps2)
          .Char("ProfitLevel", &T::ProfitLevel)
          .Boolean("CancelSent", &T::CancelSent)
          .String("BOFID", &T::BOFID, &T::SetBOFID)
          .String("Badge", &T::Badge, &T::SetBadge)
          .String("ExchangeField", &T::ExchangeField, &T::SetExchangeField)
          .String("LocalEAC", &T::LocalEAC, &T::SetLocalEAC)
          .String("LocalTraderAccount", &T::LocalTraderAccount, &T::SetLocalTraderAccount)
          .String("RoutingID2", &T::RoutingID2, &T::SetRoutingID2)
          .String("RoutingID1", &T::RoutingID1, &T::SetRoutingID1)
          .String("LocalBOF", &T::LocalBOF, &T::SetLocalBOF)
          .String("LocalOrderID", &T::LocalOrderID, &T::SetLocalOrderID)
          .String("LocalUserName", &T::LocalUserName, &T::SetLocalUserName)
          .String("TraderAccountName", &T::GetTraderAccountName, &T::SetTraderAccountName));
  return description;
}

void WriteContractReference(TStream& stream, const TContractItem* contract) {
  stream.WriteString(contract ? contract->ExchangeStr() : std::string());
  stream.WriteString(contract ? contract->CommodityStr() : std::string());
  stream.WriteString(contract ? contract->ContractDate() : std::string());
}

std::shared_ptr<TContractItem> ReadContractReference(TStream& stream, IOrderServices* services) {
  const std::string exchange = stream.ReadString();
  const std::string commodity = stream.ReadString();
  const std::string contractDate = stream.ReadString();
  if (!services || (exchange.empty() && commodity.empty() && contractDate.empty())) return nullptr;
  return services->FindContract(exchange, commodity, contractDate);
}

void TOrderItem::WriteExtra(TStream& stream) const {
  WriteContractReference(stream, Contract.get());
  stream.WriteString(OrderType ? std::string_view(OrderType->Name()) : std::string_view());
}

void TOrderItem::ReadExtra(TStream& stream) {
  const auto services = GetOrderServices();
  Contract = ReadContractReference(stream, services.get());
  const std::string orderType = stream.ReadString();
  OrderType.reset();
  if (services) {
    if (Contract) OrderType = services->FindOrderType(ContractExchange(*Contract), orderType);
    if (UpdateSequence < std::numeric_limits<std::int32_t>::max())
      services->RaiseOrderSequence(UpdateSequence + 1);
  }
}

std::shared_ptr<TOrderItem> TOrderItem::Copy() const {
  auto copy = NewOrderItem();
  static_cast<TOrderFields&>(*copy) = *this;
  return copy;
}

void TOrderItem::SetReference(std::string_view text) {
  reference_ = vorn::Copy(text, 1, kOrderReferenceLength);
}

std::string TOrderItem::GetTraderAccountName() const {
  return TraderAccount ? TraderAccount->TraderAccount : std::string();
}

void TOrderItem::SetTraderAccountName(std::string_view name) {
  auto services = GetOrderServices();
  TraderAccount = services ? services->FindAccount(Trim(name)) : nullptr;
}

bool IsClosedStatus(TOrderStatus status) {
  return status == osRejected || status == osCancelled || status == osBalCancelled ||
         status == osFilled;
}

void TOrderItem::Activate(bool) {
  State = usActive;
  auto services = GetOrderServices();
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

namespace {

// Makes `closing` (a copy of the order in a closing state) the head of the order's history.
// False, with nothing changed, when the order list has no history for it.
bool InsertClosingState(IOrderServices& services, const std::shared_ptr<TOrderItem>& closing) {
  TIndexListLock orders(services.Orders());
  auto history = services.FindOrderList(closing->ID);
  if (!history) return false;
  TIndexListLock guard(*history);
  const int count = history->Count();
  // Host states carry the host's sequence, which can run ahead of the count: the closing
  // state goes in front of the head either way.
  std::int32_t sequence = count;
  if (auto head = history->GetCurrent()) sequence = std::max(sequence, head->OrderHistorySeq);
  closing->OrderHistorySeq = sequence;
  closing->OFSeqNumber = count + 1;
  history->InsertBySequence(closing);
  services.NoteHead(*history);
  return true;
}

}  // namespace

void TOrderItem::Expire() {
  SetTimeStamp(skExpiry);
  NotifyMembers(maExpire, 0);
  auto services = GetOrderServices();
  if (!IsClosedStatus(Status) && services) {
    auto closing = Copy();
    closing->Status = Filled != 0 ? osBalCancelled : osCancelled;
    closing->State = usExpired;
    if (InsertClosingState(*services, closing)) {
      services->ForgetOrder(ID);
      AddOrderCallback(closing->ID, ID, closing->Status, closing->OFSeqNumber);
      return;
    }
  }
  State = usExpired;
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

void TOrderItem::Deactivate(bool) {
  if (OrderType && OrderType->GTCFlag == 'Y') return;
  auto services = GetOrderServices();
  if (!IsClosedStatus(Status) && services) {
    auto closing = Copy();
    closing->Status = osExternalCancelled;
    closing->SetNonExecReason(ErrorMessage(VN_RC_CANCELLED_EXCHANGE_CLOSING));
    closing->State = usInactive;
    if (InsertClosingState(*services, closing)) {
      services->ForgetOrder(ID);
      AddOrderCallback(closing->ID, ID, closing->Status, closing->OFSeqNumber);
      return;
    }
  }
  State = usInactive;
  AddOrderCallback(ID, ID, Status, EventSeqNumber(services.get(), ID));
}

void TOrderItem::Purge(TDateTime time) {
  if (!CanPurge(time)) return;
  auto services = GetOrderServices();
  if (services) {
    // Out of its UUID groups; a group left empty goes too.
    if (TUUIDObjectList* groups = services->UUIDObjects()) groups->LeaveGroups(*this);
    // Out of the order list with its whole history.
    std::shared_ptr<TOrderList> history;
    {
      TIndexList& orders = services->Orders();
      TIndexListLock guard(orders);
      history = services->FindOrderList(ID);
      if (history) orders.RemoveItem(history.get());
    }
    if (history) history->FreeAll();
  }
  Members.Clear();
  BelongsTo.Clear();
}

}  // namespace vorn
