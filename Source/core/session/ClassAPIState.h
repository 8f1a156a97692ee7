#pragma once
// The API object's state in named groups. Every field is an atomic or a locked text, so any
// thread may read or write one without a further lock; a writer that must change several
// fields together says so where it does. TClassAPI owns one of each group.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "core/session/AddressQ.h"
#include "core/session/PasswordEncryption.h"
#include "core/trading/OrderIDPool.h"
#include "core/util/DateTime.h"

namespace vorn {

// A text field shared between threads.
class TSharedText {
 public:
  TSharedText() = default;
  explicit TSharedText(std::string value) : value_(std::move(value)) {}
  std::string Get() const {
    std::lock_guard guard(lock_);
    return value_;
  }
  void Set(std::string value) {
    std::lock_guard guard(lock_);
    value_ = std::move(value);
  }

 private:
  mutable std::mutex lock_;
  std::string value_;
};

// Where the links go and how they behave: written by the setting exports (the guarded ones
// through TClassAPI, which refuses them once the link exists) and read by the links.
struct TLinkSettings {
  TAddressQ HostAddresses;
  TAddressQ PriceAddresses;
  std::atomic<std::int32_t> HostAddressIndex{0};
  std::atomic<std::int32_t> PriceAddressIndex{0};
  std::atomic<std::int32_t> PriceReconnect{10};
  std::atomic<std::int32_t> HostReconnect{10};
  std::atomic<std::int32_t> PriceHandshakePeriod{10};
  std::atomic<std::int32_t> HostHandshakePeriod{10};
  std::atomic<std::int32_t> PriceHandshakeTimeout{20};
  std::atomic<std::int32_t> HostHandshakeTimeout{20};
  std::atomic<std::int32_t> HostHandshakeValue{0};
  std::atomic<bool> HostSSL{false};
  std::atomic<bool> PriceSSL{false};
  TSharedText HostCertName;
  TSharedText PriceCertName;
  TSharedText HostClientAuthName;
  TSharedText PriceClientAuthName;
  TSharedText MDSToken;
  std::atomic<bool> MegaHub{true};
  std::atomic<bool> FastFailover{false};
};

// The logon and its download: written by the logon exports, the logon reply and the download
// receivers; read by every export's ready check.
struct TLogonState {
  static constexpr const char* kDefaultEncryption = "KWEZ";

  std::atomic<bool> LoggedOn{false};
  std::atomic<bool> LogonCompleted{false};
  std::atomic<bool> LogonSent{false};
  std::atomic<bool> DownloadInProgress{false};
  std::atomic<bool> DataCleared{false};
  // Set by the end of the first download, when FirstDownloadTime is stamped.
  std::atomic<bool> DownloadCompleted{false};
  std::atomic<TDateTime> FirstDownloadTime{0};
  std::atomic<bool> StoreLoaded{true};
  std::atomic<std::int32_t> LogonStatus{0};
  TSharedText LogonText{"Logon not yet sent"};
  TSharedText LogonValue;
  std::atomic<bool> LogonTextFlag{false};
  std::atomic<bool> GTOKFlag{false};
  TSharedText LogonTraderAccount;
  TSharedText CurrentTraderAccount;
  std::atomic<std::int32_t> TradingDate{0};
  TSharedText DBIdentifier;
  TSharedText Encryption{kDefaultEncryption};
  // Our own reference to the outside library, never a handle another object may free.
  TPasswordEncryption PasswordEncryption;
  std::atomic<char> EncryptionCode{0};
  std::atomic<bool> ReportDownload{false};
  TSharedText DBSequence{"0"};
  TRefDataSequence RefSequence;
  std::atomic<std::int32_t> LogonSequence{-1};
  std::atomic<std::int32_t> LastDate{0};
  std::atomic<bool> ContractDateMessageFlag{false};
};

// What the host grants: written only by the logon reply, read wherever a feature is checked.
struct THostFeatures {
  std::atomic<bool> MarketDataRequired{false};
  std::atomic<bool> OrderThrottle{true};
  // Written through TClassAPI::SetMarginMode, which drops the cached margin rates on a change.
  std::atomic<bool> MarginMode{false};
  std::atomic<bool> DOMEnabled{false};
  std::atomic<bool> PostTradeAmend{false};
  std::atomic<bool> Kestrel{false};
  std::atomic<bool> StrategyPermission{false};
  // Granted features that are only reported by vnEnabledFunctionality, each named after its bit
  // in the first mask; the four client roles make the second mask.
  std::atomic<bool> Functionality4{false};
  std::atomic<bool> Functionality32{false};
  std::atomic<bool> Functionality64{false};
  std::atomic<bool> Functionality256{false};
  std::atomic<bool> Functionality1024{false};
  std::atomic<bool> Functionality2048{false};
  std::atomic<bool> Functionality4096{false};
  std::atomic<bool> Functionality8192{false};
  std::atomic<bool> Functionality16384{false};
  std::atomic<bool> Functionality32768{false};
  std::atomic<bool> Functionality65536{false};
  std::atomic<bool> Functionality131072{false};
  std::atomic<bool> Functionality262144{false};
  std::atomic<bool> Functionality1048576{false};
  std::atomic<bool> Functionality2097152{false};
  std::atomic<bool> Functionality4194304{false};
  std::atomic<bool> EnableClientRole1{false};
  std::atomic<bool> EnableClientRole2{false};
  std::atomic<bool> EnableClientRole3{false};
  std::atomic<bool> EnableClientRole4{false};
  std::atomic<std::int32_t> ThrottleBurst{2};
  std::atomic<std::int32_t> ThrottleWindowSeconds{1};
  std::atomic<std::int32_t> ThrottleGapTenths{5};
};

// The two masks of vnEnabledFunctionality from the host-granted feature flags: functionality
// in the first (bits 8, 16 and those above 4194304 never set), client roles 1 to 4 as bits 1,
// 2, 4 and 8 of the second.
void EnabledFunctionality(const THostFeatures& features, std::int32_t& mask1, std::int32_t& mask2);

// The heartbeat's delays and thresholds: written by the setting exports and the logon reply's
// bandwidth period, read on the heartbeat timer's thread.
struct TMonitoring {
  std::atomic<std::uint8_t> PriceAgeCounter{0};
  std::atomic<std::int32_t> CancelFailureDelay{0};
  std::atomic<std::int32_t> SentFailureDelay{0};
  std::atomic<std::int32_t> QueuedFailureDelay{0};
  std::atomic<std::int32_t> MemoryWarningThreshold{95};
  std::atomic<std::int32_t> BandwidthPeriod{300};
};

}  // namespace vorn
