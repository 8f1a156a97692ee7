#include "core/refdata/Exchange.h"

#include <exception>
#include <vector>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/Subscriptions.h"
#include "core/util/DateTime.h"
#include "core/util/Text.h"

namespace vorn {

const TStreamClass& TExchange::Class() {
  static const TStreamClass& description = MakeStreamClass<TExchange>(
      "TExchange", &TUUIDStreamable::Class(),
      TPropertyTable<TExchange>()
          .String("Name", &TExchange::Name, &TExchange::SetName)
          .Boolean("QueryEnabled", &TExchange::QueryEnabled)
          .Boolean("AmendEnabled", &TExchange::AmendEnabled)
          .Enumeration("StrategyCreator", scStrategyCreator, &TExchange::StrategyCreator)
          .Boolean("EnableBlock", &TExchange::EnableBlock)
          .Boolean("EnableBasis", &TExchange::EnableBasis)
          .Boolean("EnableAA", &TExchange::EnableAA)
          .Boolean("EnableCross", &TExchange::EnableCross)
          .Boolean("CustomDecimal", &TExchange::CustomDecimal)
          .Integer("Decimals", &TExchange::Decimals)
          .Char("TicketType", &TExchange::TicketType)
          .Boolean("RFQA", &TExchange::RFQA)
          .Boolean("RFQT", &TExchange::RFQT)
          .String("ISO", &TExchange::ISO));
  return description;
}

void TExchange::Activate(bool) {
  SetTimeStamp(skActivation);
  NotifyMembers(maActivate, 0);
  State = usActive;
  AddExchangeCallback(VN_CB_EXCHANGE_UPDATED, name_);
}

void TExchange::Deactivate(bool flag) {
  SetTimeStamp(skDeactivation);
  if (flag) NotifyMembers(maDeactivate, 0);
  State = usInactive;
  AddExchangeCallback(VN_CB_EXCHANGE_UPDATED, name_);
}

void TExchange::Expire() {
  SetTimeStamp(skExpiry);
  NotifyMembers(maExpire, 0);
  State = usExpired;
  AddExchangeCallback(VN_CB_EXCHANGE_UPDATED, name_);
}

void TExchange::Purge(TDateTime time) {
  Purge(time, {});
}

void TExchange::Purge(TDateTime time, const TEndOfSessionHandler& endOfSession) {
  if (endOfSession && CanPurge(Now())) {
    try {
      endOfSession(*this);
    } catch (const std::exception& e) {
      WriteTraceLine("End of session for " + name_ + " failed: " + e.what());
    }
  }
  NotifyMembers(maPurge, time);
  AddPurgeCompletedCallback(VN_CB_PURGE_COMPLETED, name_);
}

std::string ExchangeItemKey(std::string_view exchange, std::string_view name) {
  const std::string_view e = TrimView(exchange);
  const std::string_view n = TrimView(name);
  std::string key;
  key.reserve(e.size() + 1 + n.size());
  key += e;
  key += '\1';
  key += n;
  return key;
}

void TBCastSub::Queue(TSubscriptions& subscriptions) const {
  if (Exchange) subscriptions.QueueBroadcastRequest(Exchange->Name(), Subscribe != 0);
}

TExchangeQ::TExchangeQ(TSubscriptions& subscriptions)
    : TIndexListOf<TExchange>("Exchanges", &TExchange::Class()), subscriptions_(subscriptions) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::shared_ptr<TExchange> TExchangeQ::FindExchange(std::string_view name) const {
  return Get(TrimView(name));
}

std::shared_ptr<TExchange> TExchangeQ::FindOrAdd(std::string_view name) {
  const std::string_view key = TrimView(name);
  if (key.empty()) return nullptr;
  TIndexListLock guard(*this);
  if (auto found = Get(key)) return found;
  auto exchange = std::make_shared<TExchange>(std::string(key));
  Add(exchange);  // the lock is held, so the name is still free
  return exchange;
}

bool TExchangeQ::SubscribeBroadcast(const std::shared_ptr<TExchange>& exchange) {
  if (!exchange) return false;
  TBCastSub{exchange, 1}.Queue(subscriptions_);
  return true;
}

bool TExchangeQ::UnsubscribeBroadcast(const std::shared_ptr<TExchange>& exchange) {
  if (!exchange) return false;
  TBCastSub{exchange, 0}.Queue(subscriptions_);
  return true;
}

void TExchangeQ::SetOnEndOfSession(TExchange::TEndOfSessionHandler handler) {
  std::lock_guard guard(handlerLock_);
  onEndOfSession_ = std::move(handler);
}

void TExchangeQ::Purge(TDateTime time) {
  TExchange::TEndOfSessionHandler endOfSession;
  {
    std::lock_guard guard(handlerLock_);
    endOfSession = onEndOfSession_;
  }
  std::vector<std::shared_ptr<TExchange>> exchanges;
  {
    TIndexListLock guard(*this);
    const int count = Count();
    exchanges.reserve(static_cast<std::size_t>(count));
    for (int i = count - 1; i >= 0; --i)
      exchanges.push_back(At(i));
  }
  for (const auto& exchange : exchanges)
    exchange->Purge(time, endOfSession);
}

}  // namespace vorn
