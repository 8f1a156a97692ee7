#pragma once
// TSubscriptions: the subscription book. It counts the price subscribers of each contract and the
// depth subscribers of each contract and commodity, queues one subscribe request for the first
// subscriber and one unsubscribe request for the last, and sends the queued requests from the
// heartbeat once the price link is connected. After the price link reconnects it queues a
// subscribe request for everything still subscribed.
//
// Items are named by their identity (TContractKey), never held: the book frees nothing that the
// contract and commodity lists own, and an item that leaves its list is simply named by a key
// that no longer resolves. The counters live here rather than on the items, under the book's
// lock; the contract asks the book for them.
//
// Locking: one lock guards the whole book. It sits with the thread lists in the lock order, so
// no call out (the sender, the price-table hook) is made while it is held: requests are taken out
// under it and sent after it is released, and price tables are dropped after it is released.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn {

// A contract by its names, or a commodity when ContractDate is empty (and for a broadcast request,
// an exchange by Exchange alone). Names compare as bytes, so callers pass the names as the
// contract or commodity item holds them, not as the application typed them.
struct TContractKey {
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;

  bool IsCommodity() const { return ContractDate.empty(); }
  TContractKey CommodityKey() const { return {Exchange, Commodity, {}}; }
  // exchange\commodity\contract date, or exchange\commodity for a commodity.
  std::string Text() const;
  bool operator==(const TContractKey&) const = default;
};

struct TContractKeyHash {
  std::size_t operator()(const TContractKey& key) const;
};

// Price-feed request codes.
inline constexpr int kPriceSubscribeCode = 202;
inline constexpr int kPriceUnsubscribeCode = 203;
inline constexpr int kPriceSnapshotCode = 204;
inline constexpr int kBroadcastSubscribeCode = 206;
inline constexpr int kBroadcastUnsubscribeCode = 207;
inline constexpr int kMarketSubscribeCode = 210;
inline constexpr int kMarketUnsubscribeCode = 211;

// The price link as the book sees it. The Send methods return false when the message could not
// go out; the book then keeps it, and what followed it, for the next heartbeat.
class ISubscriptionSender {
 public:
  virtual ~ISubscriptionSender() = default;
  // True when the price link exists and is connected.
  virtual bool Connected() = 0;
  // A price subscription message for a contract: 202/203 (prices), 204 (a snapshot) or 210/211
  // (its depth).
  virtual bool SendPriceSubscription(int code, const TContractKey& contract) = 0;
  // A market subscription message for a whole commodity: 210/211.
  virtual bool SendMarketSubscription(int code, const TContractKey& commodity) = 0;
  // A broadcast subscription message for an exchange: 206/207.
  virtual bool SendBroadcastSubscription(int code, std::string_view exchange) = 0;
  // The price link's handshake, sent after every batch.
  virtual void SendHandshake() = 0;
};

enum class TSubscriptionKind : std::uint8_t { Price, Broadcast, ContractDepth, CommodityDepth };

// One queued request.
struct TSubscriptionRequest {
  TSubscriptionKind Kind = TSubscriptionKind::Price;
  TContractKey Item;  // a contract, a commodity, or (Broadcast) an exchange
  bool Subscribe = true;
  bool operator==(const TSubscriptionRequest&) const = default;
};

class TSubscriptions {
 public:
  // Drops a contract's price table once its last price and depth subscriber has left. It runs
  // after the book's lock is released, so a new subscriber may have arrived in between: the
  // handler re-checks PriceSubscriberCount and MarketSubscriptionCount under the contract's own
  // price lock (which comes before the book's lock in the lock order) before dropping.
  using TDropPriceTableEvent = std::function<void(const TContractKey& contract)>;

  TSubscriptions();
  TSubscriptions(const TSubscriptions&) = delete;
  TSubscriptions& operator=(const TSubscriptions&) = delete;
  ~TSubscriptions();

  void SetOnDropPriceTable(TDropPriceTableEvent handler);

  // --- Prices --------------------------------------------------------------------------------

  // Counts one subscriber; the first one (or Force) queues a subscribe request and moves the
  // contract to the end of the subscribed list. A contract with ForcedSubscription counts one
  // extra subscriber, so that no unsubscribe drops it.
  void SubscribePrice(const TContractKey& contract, bool force = false);
  // Counts one subscriber off; the last one queues an unsubscribe request. Does nothing for a
  // contract with ForcedSubscription.
  void UnsubscribePrice(const TContractKey& contract);
  // Lowers the count of every subscribed contract once, removing those that reach 0; queues
  // nothing.
  void Unsubscribetoall();
  // After the price link connects: one subscribe request for every subscribed contract, counts
  // unchanged.
  void ResubscribePrices();
  // Heartbeat: sends the queued price and broadcast requests, then a handshake when any went.
  void SendPriceRequests(ISubscriptionSender& sender);
  // True while the contract has a price subscriber (its subscribe request may still be queued).
  bool IsSubscribed(const TContractKey& contract) const;
  int PriceSubscriberCount(const TContractKey& contract) const;
  // A subscription made by the library itself (positional contracts).
  void SetForcedSubscription(const TContractKey& contract, bool value);
  bool ForcedSubscription(const TContractKey& contract) const;

  // --- Broadcasts ----------------------------------------------------------------------------

  // Queues a broadcast request for an exchange; sent with the price requests.
  void QueueBroadcastRequest(std::string_view exchange, bool subscribe);

  // --- Market depth --------------------------------------------------------------------------

  // A contract, or with an empty contract date a whole commodity: counts one depth subscriber;
  // the first one queues a subscribe request. A contract that its commodity's subscription
  // already covers is only counted.
  void SubscribeMarket(const TContractKey& item);
  void UnsubscribeMarket(const TContractKey& item);
  // Lowers the depth count of every item of the depth-subscribed list once; queues nothing.
  void MarketUnsubscribetoall();
  // After the price link connects: one subscribe request for every item of the depth-subscribed
  // list, counts unchanged.
  void ResubscribeMarkets();
  // Heartbeat: as SendPriceRequests, for the depth requests.
  void SendMarketRequests(ISubscriptionSender& sender);
  // A contract: its own depth subscribers plus its commodity's. A commodity: its own.
  int MarketSubscriptionCount(const TContractKey& item) const;

  // --- Copies for queries and tests ----------------------------------------------------------

  // Most recently subscribed last.
  std::vector<TContractKey> PriceSubscribed() const;
  std::vector<TContractKey> MarketSubscribed() const;
  std::vector<TSubscriptionRequest> PendingPriceRequests() const;
  std::vector<TSubscriptionRequest> PendingMarketRequests() const;

 private:
  struct TPriceEntry {
    int Count = 0;
    bool Forced = false;
    bool Listed = false;  // in priceSubscribed_
  };
  struct TDepthEntry {
    int Count = 0;
    bool Listed = false;  // in marketSubscribed_
  };
  using TKeyList = std::list<TContractKey>;
  using TRequestQueue = std::deque<TSubscriptionRequest>;
  using TDrops = std::vector<TContractKey>;
  template <class Entry>
  using TEntryMap = std::unordered_map<TContractKey, Entry, TContractKeyHash>;

  // All *Locked members run with lock_ held.
  void SubscribePriceLocked(const TContractKey& contract, bool force);
  int PriceCountLocked(const TContractKey& contract) const;
  int MarketCountLocked(const TContractKey& item) const;
  TDepthEntry& DepthEntryLocked(const TContractKey& item);
  void PruneLocked(const TContractKey& contract);
  // A contract whose last price or depth subscriber left: its table goes when neither remains.
  void NoteDropLocked(const TContractKey& contract, TDrops& drops) const;
  // After a commodity's depth count reached 0: its contracts with depth subscribers of their own
  // get a request of their own; listed contracts with none are taken off.
  void SettleCommodityLocked(const TContractKey& commodity, bool queueRequests, TDrops& drops);
  void DropPriceTables(const TDrops& drops);

  void SendQueue(ISubscriptionSender& sender, TRequestQueue& queue, std::atomic<bool>& busy);
  static bool SendOne(ISubscriptionSender& sender, const TSubscriptionRequest& request);

  mutable std::mutex lock_;
  TEntryMap<TPriceEntry> prices_;
  TKeyList priceSubscribed_;
  TRequestQueue priceRequests_;
  TEntryMap<TDepthEntry> depth_;  // contracts and commodities
  TKeyList marketSubscribed_;
  TRequestQueue marketRequests_;
  TDropPriceTableEvent onDropPriceTable_;
  // True while a batch is going out, so batches leave in order.
  std::atomic<bool> priceSending_{false};
  std::atomic<bool> marketSending_{false};
};

}  // namespace vorn
