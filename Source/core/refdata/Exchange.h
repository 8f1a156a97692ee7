#pragma once
// Exchanges: the exchange item, the exchange list and the broadcast subscription request.
//
// An exchange's Name is its key. It is set before the exchange is listed and never changed while
// it is listed, so it can be read without the list's lock. Other fields of a listed exchange are
// changed and read under the list's lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/util/Text.h"

namespace vorn {

class TSubscriptions;

enum TStrategyCreator : std::uint8_t { scNone = 0, scVORN = 1, scStrategyCreator = 2 };

class TExchange : public TUUIDStreamable {
 public:
  // The end-of-session work of a purge (positions of the exchange's fills).
  using TEndOfSessionHandler = std::function<void(TExchange&)>;

  TExchange() = default;
  explicit TExchange(std::string name) : name_(std::move(name)) {}

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  const std::string& Name() const { return name_; }
  // Only while the exchange is not listed.
  void SetName(std::string name) { name_ = std::move(name); }

  // Stamp of the kind, members told (Deactivate: when asked), state, then the exchange event
  // (id 31) with the name.
  void Activate(bool flag) override;
  void Deactivate(bool flag) override;
  void Expire() override;
  // Without end-of-session work.
  void Purge(TDateTime time) override;
  // When the exchange can be purged now, the end-of-session work (an exception from it is
  // traced); then the members are purged with the time and the purge event (id 36) is posted
  // with the name.
  void Purge(TDateTime time, const TEndOfSessionHandler& endOfSession);

  bool QueryEnabled = false;
  bool AmendEnabled = false;
  TStrategyCreator StrategyCreator = scNone;
  bool EnableBlock = false;
  bool EnableBasis = false;
  bool EnableAA = false;
  bool EnableCross = false;
  bool CustomDecimal = false;
  std::int32_t Decimals = 0;
  char TicketType = '\0';
  bool RFQA = false;
  bool RFQT = false;
  std::string ISO;

 private:
  std::string name_;
};

// The key shape of the items of an exchange (commodities, order types):
// Trim(exchange) + chr(1) + Trim(name).
std::string ExchangeItemKey(std::string_view exchange, std::string_view name);

// An item named within an exchange (a commodity, an order type): its name, the exchange's name
// as it was given (trimmed), the exchange once resolved, and the cached list key.
template <class Base>
class TExchangeItem : public Base {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string name) {
    if (name == name_) return;
    name_ = std::move(name);
    key_ = ExchangeItemKey(exchangeName_, name_);
  }
  const std::string& ExchangeName() const { return exchangeName_; }
  // Keeps the trimmed name; the exchange itself is resolved when the item is added to its list.
  // An exchange of another name is let go.
  void SetExchangeName(std::string_view name) {
    const std::string_view trimmed = TrimView(name);
    if (trimmed == exchangeName_) return;
    exchangeName_ = std::string(trimmed);
    if (exchange_ && exchange_->Name() != exchangeName_) exchange_.reset();
    key_ = ExchangeItemKey(exchangeName_, name_);
  }
  // Null while the exchange name is empty or the item has not been listed.
  const std::shared_ptr<TExchange>& Exchange() const { return exchange_; }
  // Sets the exchange and its name together.
  void SetExchange(std::shared_ptr<TExchange> exchange) {
    SetExchangeName(exchange ? std::string_view(exchange->Name()) : std::string_view());
    exchange_ = std::move(exchange);
  }
  const std::string& Key() const { return key_; }

 private:
  std::string name_;
  std::string exchangeName_;
  std::shared_ptr<TExchange> exchange_;
  std::string key_ = std::string(1, '\1');
};

// A queued broadcast subscription request: the exchange and 1 (subscribe) or 0 (unsubscribe).
struct TBCastSub {
  std::shared_ptr<TExchange> Exchange;
  std::uint8_t Subscribe = 1;

  // Hands the request to the subscription book, which sends it with the price requests.
  void Queue(TSubscriptions& subscriptions) const;
};

// "Exchanges": sorted by Name.
class TExchangeQ : public TIndexListOf<TExchange> {
 public:
  // Broadcast requests are queued on the given book, which must outlive the list.
  explicit TExchangeQ(TSubscriptions& subscriptions);

  // By the trimmed name, or null.
  std::shared_ptr<TExchange> FindExchange(std::string_view name) const;
  // By the trimmed name; an exchange of that name is made and added when there is none. An empty
  // name gives null and makes nothing.
  std::shared_ptr<TExchange> FindOrAdd(std::string_view name);

  // Queue a broadcast request for the exchange; false (nothing queued) for null.
  bool SubscribeBroadcast(const std::shared_ptr<TExchange>& exchange);
  bool UnsubscribeBroadcast(const std::shared_ptr<TExchange>& exchange);

  // The end-of-session work that Purge hands to each exchange.
  void SetOnEndOfSession(TExchange::TEndOfSessionHandler handler);
  // Purges every exchange, the last first, with no list lock held while each runs.
  void Purge(TDateTime time);

 protected:
  void KeyOf(const TExchange& item, std::string& key) const override { key = item.Name(); }

 private:
  TSubscriptions& subscriptions_;
  mutable std::mutex handlerLock_;
  TExchange::TEndOfSessionHandler onEndOfSession_;
};

}  // namespace vorn
