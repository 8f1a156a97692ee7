#pragma once
// The fixed-width requests sent to the price feed: the handshake (0066), the price logon
// (0201), price, snapshot and depth subscriptions (0202-0204, 0210, 0211) and broadcast
// subscriptions (0206, 0207).
//
// Each body has a length fixed by its class, is blank-filled, and carries its code as four
// digits in characters 0-3. A request depends on no API object: its constructor takes the
// values it needs, and "now" comes from the one clock.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/wire/VornMessage.h"

namespace vorn {

class TCommodity;
class TContractItem;

// A blank-filled fixed-width body with its code in characters 0-3.
class TPriceFeedRequest : public TVornMessage {
 public:
  // Length word, then the body; traced on entry and exit as "<class>.FillBuffer".
  void FillBuffer(TDynamicBuffer& buffer) final;

 protected:
  // routine: the FillBuffer trace name; a literal, it must outlive the message.
  TPriceFeedRequest(int code, std::size_t bodyLength, const char* routine);
  // Left-aligned, cut to the width; a shorter text leaves the blanks behind it.
  void PutField(std::size_t offset, std::size_t width, std::string_view text);
  // Fields written while the frame is built, inside the FillBuffer trace scope.
  virtual void WriteFields() {}

 private:
  std::string body_;
  const char* routine_;
};

// The price link's handshake, code 0066, 146 characters: the interval, the local time and the
// host handshake value (echoed back by the feed at 136-145 of its reply).
class TMHandshake : public TPriceFeedRequest {
 public:
  static constexpr int kCode = 66;
  static constexpr std::size_t kBodyLength = 146;

  // interval: the price link's handshake interval in seconds; hostHandshakeValue: the value the
  // host gave in its handshake reply. The time is read now.
  TMHandshake(std::int32_t interval, std::int32_t hostHandshakeValue);

  // Its code is not one of the price-feed codes, so it names its link itself: the price link.
  void Send() override;
};

// What the price logon declares.
struct TPriceLogonSettings {
  bool TickerRegistered = false;      // a ticker procedure (callback 17) is registered
  bool TestEnvironment = false;       // initialised for a test environment
  std::int32_t HandshakePeriod = 10;  // the price link's handshake interval, seconds
  bool DOMEnabled = false;            // the host granted depth of market
  std::string UserName;
  std::string MDSToken;  // empty: none
};

// The price logon, code 0201, 127 characters.
class TMPriceSynchronise : public TPriceFeedRequest {
 public:
  static constexpr int kCode = 201;
  static constexpr std::size_t kBodyLength = 127;

  explicit TMPriceSynchronise(TPriceLogonSettings settings);

 protected:
  void WriteFields() override;

 private:
  TPriceLogonSettings settings_;
};

// A price (0202/0203), snapshot (0204) or depth (0210/0211) request for a contract, or a depth
// request (0210/0211) for a whole commodity; 74 characters: exchange (4, 10), commodity
// (14, 10), contract date (24, 50; blank for a commodity).
class TMPriceSubscription : public TPriceFeedRequest {
 public:
  static constexpr std::size_t kBodyLength = 74;

  // By names; an empty contract date is the market form.
  TMPriceSubscription(int code, std::string_view exchange, std::string_view commodity,
                      std::string_view contractDate);

  // The names of the contract's commodity and the contract date. A contract without a commodity
  // names its own exchange and commodity texts.
  static std::unique_ptr<TMPriceSubscription> CreateForContract(int code,
                                                                const TContractItem& contract);
  static std::unique_ptr<TMPriceSubscription> CreateForMarket(int code,
                                                              const TCommodity& commodity);
};

// A broadcast subscription (0206) or unsubscription (0207) for an exchange; 14 characters.
class TMBroadcastSubscription : public TPriceFeedRequest {
 public:
  static constexpr std::size_t kBodyLength = 14;

  TMBroadcastSubscription(int code, std::string_view exchange);
};

}  // namespace vorn
