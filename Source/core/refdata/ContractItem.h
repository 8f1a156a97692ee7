#pragma once
// TContractItem: one contract date of a commodity (a future, an option or a strategy) with its
// dates, margin and legs, read lazily from the fields of its contract-date message, and its
// market prices: an 80-entry price table with a change mask, the generic prices and the depth
// lists (defined in ContractPrices.cpp, with the subscription queries).
//
// Locking. Two small locks per contract, both at the place of the per-contract price lock in the
// lock order and never held together:
// - the data lock guards the names, the field list, the values read from it, the leg table and
//   the cached commodity. The contract list reads the sort key under it, so nothing that takes
//   another lock runs while it is held (the commodity is looked up outside it).
// - the price lock guards the price table, the own last price, the generic prices, the depth
//   lists and the fill prices. The change mask is an atomic, set and taken under the price lock
//   so that a reader's copy and the mask it takes agree.
// A price table is only ever read by copying out under the price lock, so dropping it can never
// pull it from under a reader.
//
// Keys. The sort key and the by-name key are kept with the contract and rebuilt when a part of
// them changes. While the contract is in a contract list (TContractQ), a change that would alter
// either key is refused with EListError: it has to go through the list, which takes the contract
// out and puts it back.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/refdata/Subscriptions.h"
#include "core/store/Streamable.h"
#include "core/store/UUIDObjects.h"
#include "core/wire/FieldsList.h"
#include "vornintf.h"

namespace vorn {

class TCommodity;       // core/refdata/Commodity.h
class TTraderPosition;  // per-account positions, built with fills and positions

inline constexpr int kPriceKindCount = VN_PK_COUNT;
inline constexpr int kGenericPriceCount = 9;
inline constexpr int kOwnLastPriceKind = VN_PK_OWN_LAST;
inline constexpr int kMaxContractLegs = 16;
inline constexpr int kLegFieldCount = 5;
// The change-mask bits that ClearPrices sets: kinds 0-4 and both depth groups.
inline constexpr std::uint32_t kClearedPricesMask = 0x181F;

using TPriceTable = std::array<PriceEntry, kPriceKindCount>;
using TGenericPriceTable = std::array<PriceEntry, kGenericPriceCount>;

// One entry of a batched price write (TContractItem::SetPrices).
struct TPriceWrite {
  int Kind = 0;
  std::int32_t Volume = 0;
  double Value = 0;
};
inline constexpr std::size_t kMaxPriceWrites = 32;

// 17 zero bytes with the unset flag 1.
PriceEntry EmptyPriceEntry();
// The change-mask bit of a price kind; 0 for a kind outside 0-79.
std::uint32_t PriceKindMaskBit(int kind);

// Counts the last trades written to any contract. Cached position totals are valid only for the
// count they were computed at: a new last trade makes every account's totals stale without
// touching the accounts.
std::uint64_t LastTradeEpoch();

// The strategy-type codes that IsPermitted refuses, in the order they are tested.
inline constexpr std::array<const char*, 18> kStrategyTypeCodes = {
    "BC", "BP", "WC", "WP", "EC", "EP", "FC", "HC", "HP",
    "RC", "SC", "KP", "MC", "MP", "DC", "DP", "LC", "LP"};

// One at-best entry: a firm's code, its volume and a one-character type.
struct TAtBest {
  std::string Code;
  std::int32_t Volume = 0;
  char Type = ' ';
};

struct TAtBestPrices {
  double Bid = 0;
  double Offer = 0;
  std::string LastBuyer;
  std::string LastSeller;
  std::vector<TAtBest> Entries;
};

struct TSubscriberDepth {
  double Price = 0;
  std::int32_t Volume = 0;
  std::string Code;
  char Type = ' ';
};

// Prices of fills taken while no last-trade price was known.
struct TFillPrices {
  double FirstFillPrice = 0;
  bool FirstFillPriceEntered = false;
  double LastFillPrice = 0;
  bool LastFillPriceEntered = false;
};

// The figures of a commodity and its exchange that a contract uses.
struct TCommodityFacts {
  double TickSize = 0;
  std::int32_t TicksPerPoint = 0;
  double OnePoint = 0;
  std::string Currency;
  std::int32_t State = TUUIDStreamable::usActive;
  char TicketType = '\0';  // of its exchange; NUL without one
};

// Reads the facts straight from the items, for a commodity no other thread changes.
TCommodityFacts ReadCommodityFactsUnlocked(const TCommodity& commodity);

// What a contract asks of the lists around it. The contract list hands its services to every
// contract it takes; they must stay callable for as long as a contract can be reached. A
// contract calls them with none of its own locks held.
struct TContractServices {
  // The commodity of that exchange and name, or null.
  std::function<std::shared_ptr<TCommodity>(std::string_view exchange, std::string_view commodity)>
      FindCommodity;
  // The facts of a listed commodity, read under the locks of the lists that hold it and its
  // exchange. Null: ReadCommodityFactsUnlocked.
  std::function<TCommodityFacts(const TCommodity& commodity)> ReadCommodity;
  // The object to act on in place of a member when the contract's members are updated (an order
  // is replaced by its current state in the order list); null keeps the member.
  TUUIDMemberResolver ResolveMember;
  // The price-age counter a price write stamps on its entry; null: 0.
  std::function<std::uint8_t()> PriceAge;
  // The host permits strategy contracts whatever their kind; null: not permitted.
  std::function<bool()> StrategyPermission;
  // The subscription book that the contract's subscription queries read; null: none.
  const TSubscriptions* Subscriptions = nullptr;
};

class TContractItem : public TUUIDStreamable {
 public:
  TContractItem();
  TContractItem(const TContractItem&) = delete;
  TContractItem& operator=(const TContractItem&) = delete;
  ~TContractItem() override;

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  // The own last price value, the exchange, commodity and contract date names, then the 80 leg
  // texts (legs 1-16, fields 1-5).
  void WriteExtra(TStream& stream) const override;
  void ReadExtra(TStream& stream) override;

  // Stamp, members updated and actioned, state; contract event (33) when price-subscribed
  // (Expire: always). Activating also activates an inactive commodity.
  void Activate(bool flag) override;
  void Deactivate(bool flag) override;
  void Expire() override;
  void Purge(TDateTime time) override;
  // Replaces each member by what the services' ResolveMember gives for it, keeping its
  // belongs-to list; a failure is logged and leaves the members as they were.
  void UpdateChildList();

  // --- Names and keys ------------------------------------------------------------------------

  std::string ExchangeStr() const;
  std::string CommodityStr() const;
  std::string ContractDate() const;
  // EListError while listed, when the names differ from the ones held.
  void SetNames(std::string_view exchange, std::string_view commodity,
                std::string_view contractDate);
  // The names as held, for the subscription book.
  TContractKey Key() const;
  // ExchangeStr + " \ " + CommodityStr + " \ " + contract date name.
  std::string GetDescription() const;
  // Sort key: ExchangeStr chr(1) CommodityStr chr(1) rank letter + ExpiryDate + date name.
  std::string SortKey() const;
  // Trim(exchange) chr(1) Trim(commodity) chr(1) Trim(contract date name).
  std::string NameKey() const;
  static std::string MakeSortKey(std::string_view exchange, std::string_view commodity,
                                 std::string_view typeCode, std::string_view expiryDate,
                                 std::string_view contractDate);
  static std::string MakeNameKey(std::string_view exchange, std::string_view commodity,
                                 std::string_view contractDate);
  // 'E' for "F", 'K' for "C" and "P", 'P' for "EF", 'Q' for any other type code.
  static char RankLetter(std::string_view typeCode);
  bool Listed() const { return listed_.load(std::memory_order_acquire); }

  // --- Commodity -----------------------------------------------------------------------------

  // The commodity kept, or the one the services find by the names (then kept); null when none.
  std::shared_ptr<TCommodity> GetCommodity() const;
  // The commodity's facts, read together through the services (under the locks of the lists
  // holding the commodity and its exchange); nullopt without a commodity.
  std::optional<TCommodityFacts> CommodityFacts() const;
  // Keeps a different commodity and takes its exchange and commodity names; null or the same
  // commodity again changes nothing. EListError while listed when the names would change.
  void SetCommodity(const std::shared_ptr<TCommodity>& commodity);
  void SetServices(std::shared_ptr<const TContractServices> services);

  // --- Fields of the contract-date message ---------------------------------------------------

  // Replaces the field list: ExpiryDate := "XD" (8 characters), type code := trimmed "X1"; the
  // values read from the old list and the leg table are read again on next use. EListError
  // while listed when the sort key would change.
  void SetFields(TFieldsList fields);
  std::string GetFieldValue(std::string_view name, int index) const;

  // Each reads its field once and keeps it.
  std::string GetExpiryDate() const;
  std::string GetLastTradeDate() const;
  // Number of values of "X1".
  int GetLegs() const;
  // "Mar" as a number.
  double GetMarginRequired() const;
  // "TSz" / "TPP"; 0 or absent gives the commodity's (0 without a commodity).
  double GetTickSize() const;
  std::int32_t GetTicksPerPoint() const;
  std::string GetMarketReference() const;
  // First character of "ETe"; NUL when absent.
  char GetESATemplate() const;
  std::string GetMargin() const;
  std::string GetlnExchange() const;
  std::string GetlnCommodity() const;
  std::string GetlnContractDate() const;
  std::string GetTypeCode() const;
  // The contract's own "TSz" and "TPP" (0 when absent), without the commodity's.
  double GetOwnTickSize() const;
  std::int32_t GetOwnTicksPerPoint() const;

  // Leg table, legs 1-16 and fields 1-5, loaded from "X1".."X5" (trimmed) on first use. Outside
  // those bounds: the empty text, and writes are ignored.
  std::string GetLegField(int leg, int field) const;
  void SetLegField(int leg, int field, std::string_view text);
  // Legs := the larger of the number held and legs (a contract built leg by leg); at most 16.
  void RaiseLegs(int legs);

  // Leg 1's type starts with 'C' or 'P'.
  bool IsOption() const;
  // False only when the strategy feature flag is off, the commodity's exchange has TicketType
  // 'E', and leg 1's type is one of kStrategyTypeCodes.
  bool IsPermitted() const;
  // The test itself, for callers that know the flag and ticket type.
  static bool IsPermittedFor(bool strategyFlag, char ticketType, std::string_view leg1Type);

  // --- Prices --------------------------------------------------------------------------------

  // Writes one entry (kinds 0-79): the table is made on the first write of a kind other than 29
  // (kind 29 lives in the own entry until then); kind 5 moves the trade history down first; the
  // direction, age, time stamp (the coarse local time's hour, minute and second) and unset flag
  // are set and the kind's mask bit raised. Returns whether value, volume or unset flag changed;
  // false, writing nothing, for a kind outside 0-79 or a value that is not finite.
  bool SetPrice(int kind, std::int32_t volume, double value);
  // Writes the entries in their order, each as SetPrice writes it, with one hold of the price
  // lock and one time stamp, price age and leg count for them all (a whole price body). Bit i
  // of the result is what SetPrice would return for writes[i]. EListError, writing nothing, for
  // more than kMaxPriceWrites entries.
  std::uint32_t SetPrices(std::span<const TPriceWrite> writes);
  // A copy of the entry; without a table, kind 29 is the own entry and any other kind empty.
  PriceEntry GetPrice(int kind) const;
  // prices[i] := GetPrice(kinds[i]), with one hold of the price lock. EListError, copying
  // nothing, when the spans differ in size.
  void GetPrices(std::span<const int> kinds, std::span<PriceEntry> prices) const;
  // Copies every entry (as GetPrice gives them) and takes the change mask, clearing it.
  std::uint32_t ReadPrices(TPriceTable& prices);
  std::uint32_t ChangeMask() const { return changeMask_.load(std::memory_order_acquire); }
  // Returns the mask and clears it.
  std::uint32_t TakeChangeMask();
  bool HasPriceTable() const;
  // With a table: kinds 0-4 and 30-69 emptied, mask bits kClearedPricesMask set; with notify
  // and a price subscriber, the price (8) and depth (21) events follow.
  void ClearPrices(bool notify);
  // Counts every non-zero age byte down; one reaching 0 raises its kind's mask bit and loses
  // its direction. True when any reached 0.
  bool AgePrices();
  // Keeps entry 29 in the own entry and frees the table.
  void DropPriceTable();
  // The same under the price lock, only when the book holds neither a price nor a depth
  // subscriber for the contract; true when it dropped.
  bool DropPriceTableIfUnsubscribed(const TSubscriptions& book);
  // Generic prices, kinds 0-8, in a zeroed table made on first use. Value 0 with volume 0 is
  // marked unset. Returns whether the entry changed; false for a kind outside 0-8.
  bool SetGenericPrice(int kind, std::int32_t volume, double value);
  // Empty (unset) without a table or outside 0-8.
  PriceEntry GetGenericPrice(int kind) const;

  // Price-array flags (1 bid, 2 offer, 4 last trade written by a price array, 8 applied).
  std::uint8_t PriceArrayFlags() const { return priceArrayFlags_.load(); }
  void AddPriceArrayFlags(std::uint8_t flags) { priceArrayFlags_.fetch_or(flags); }

  TAtBestPrices GetAtBest() const;
  void SetAtBest(TAtBestPrices atBest);
  std::vector<TSubscriberDepth> GetSubscriberDepth() const;
  void SetSubscriberDepth(std::vector<TSubscriberDepth> depth);
  TFillPrices GetFillPrices() const;
  void SetFillPrices(const TFillPrices& prices);

  // --- Subscriptions: the book of the contract's services holds them -------------------------

  bool IsPriceSubscribed() const;
  std::int32_t PriceSubscriberCount() const;
  // Own depth subscribers plus the commodity's.
  std::int32_t MarketSubscriptionCount() const;
  bool ForcedSubscription() const;

  // --- Further state -------------------------------------------------------------------------

  // Market status from the price feed.
  std::atomic<std::int32_t> Status{0};
  // Set by the host's contract delete; the contract stays listed.
  std::atomic<bool> Deleted{false};
  // Held for positions the host sent (start of day, fills).
  std::atomic<bool> Positional{false};

  // Per-account positions, made by the first fill (TraderPosition.h, whose book computes the
  // position figures).
  std::shared_ptr<TTraderPosition> Position;

 private:
  friend class TContractQ;

  // Lazily read values; empty = not read yet.
  struct TFieldValues {
    std::optional<std::string> LastTradeDate;
    std::optional<int> Legs;
    std::optional<double> MarginRequired;
    std::optional<double> TickSize;
    std::optional<std::int32_t> TicksPerPoint;
    std::optional<std::string> Margin;
    std::optional<std::string> MarketReference;
    std::optional<char> ESATemplate;
    std::optional<std::string> lnExchange;
    std::optional<std::string> lnCommodity;
    std::optional<std::string> lnContractDate;
  };
  using TLegTable = std::array<std::array<std::string, kLegFieldCount>, kMaxContractLegs>;

  // All *Locked members run with dataLock_ held.
  void RebuildKeysLocked();
  void CheckKeysLocked(const std::string& sortKey, const std::string& nameKey) const;
  std::string FieldLocked(std::string_view name) const;
  int LegsLocked() const;
  void LoadLegsLocked() const;
  template <class T, class Read>
  T Lazy(std::optional<T> TFieldValues::*slot, Read read) const;

  // Called by TContractQ with its lock held.
  void SetListed(bool value) { listed_.store(value, std::memory_order_release); }

  std::shared_ptr<const TContractServices> Services() const;
  // Read through the services, with none of the contract's locks held.
  std::uint8_t PriceAge() const;
  // What every price write of a batch shares: one leg (outright), the price age and the stamp.
  struct TPriceWriteFacts {
    bool Outright = false;
    std::uint8_t Age = 0;
    std::uint8_t Hour = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Second = 0;
  };
  // Read with none of the contract's locks held.
  TPriceWriteFacts PriceWriteFacts() const;
  // Writes one entry as SetPrice does, with priceLock_ held, all but the mask bit (the caller
  // raises it); the kind is valid and the value finite. Returns whether it changed.
  bool WritePriceLocked(const TPriceWrite& write, const TPriceWriteFacts& facts);
  const TSubscriptions* SubscriptionBook() const;
  void PostContractEvent() const;

  mutable std::mutex dataLock_;
  std::string exchange_;
  std::string commodity_;
  std::string contractDate_;
  std::string expiryDate_;
  std::string typeCode_;
  std::string sortKey_;
  std::string nameKey_;
  TFieldsList fields_;
  mutable TFieldValues values_;
  mutable TLegTable legs_;
  mutable bool legsLoaded_ = false;
  mutable std::shared_ptr<TCommodity> commodityItem_;
  std::shared_ptr<const TContractServices> services_;

  mutable std::mutex priceLock_;
  std::unique_ptr<TPriceTable> prices_;
  PriceEntry ownLast_;
  std::unique_ptr<TGenericPriceTable> genericPrices_;
  TAtBestPrices atBest_;
  std::vector<TSubscriberDepth> subscriberDepth_;
  TFillPrices fillPrices_;
  std::atomic<std::uint32_t> changeMask_{0};
  std::atomic<std::uint8_t> priceArrayFlags_{0};

  std::atomic<bool> listed_{false};
};

// The exchange name of the contract's commodity, or the contract's own exchange name without a
// commodity: order types and margin ratings are looked up by it. Finds the commodity as
// GetCommodity does.
std::string ContractExchange(const TContractItem& contract);

}  // namespace vorn
