#pragma once
// What the API object needs of a server link. The link layer installs the factory that makes
// real links; until it is installed no link is created.

#include <functional>
#include <memory>
#include <string>

#include "core/AddressQ.h"

namespace vorn {

class TClassAPI;

enum TLinkKind { psHost, psPriceFeed };

struct TLinkSpec {
  TLinkKind Kind = psHost;
  bool SSL = false;
  std::string CertName;  // host or price-feed certificate name, for an SSL link
  TAddressItem Address;
};

class ILink {
 public:
  virtual ~ILink() = default;  // stops the link's socket thread
  // Sets the reconnect step to its start; a link whose timer is active connects on the next
  // heartbeat ticks, one whose timer is stopped waits to be started.
  virtual void Start(bool timerActive) = 0;
};

using TLinkFactory = std::function<std::unique_ptr<ILink>(TClassAPI& api, const TLinkSpec& spec)>;

// The process-wide factory (empty: links are not available).
void SetLinkFactory(TLinkFactory factory);
TLinkFactory GetLinkFactory();

}  // namespace vorn
