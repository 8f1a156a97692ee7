#pragma once
// What the API object needs of a server link. The link layer installs the factory that makes
// real links; until it is installed no link is created.

#include <functional>
#include <memory>
#include <string>

#include "core/session/AddressQ.h"

namespace vorn {

class TClassAPI;
class TVornMessage;

enum TLinkKind { psHost, psPriceFeed };

struct TLinkSpec {
  TLinkKind Kind = psHost;
  bool SSL = false;
  std::string CertName;  // host or price-feed certificate name, for an SSL link
  TAddressItem Address;
};

// What the heartbeat tick needs of a link.
class IHeartbeatLink {
 public:
  virtual ~IHeartbeatLink() = default;
  // The address and port of the entry the reconnect cycle uses next.
  virtual void SetAddress(const TAddressItem& address) = 0;
  // One tick of the link's reconnect cycle and handshakes.
  virtual void ProcessTimer() = 0;
};

class ILink : public IHeartbeatLink {
 public:
  // Sets the reconnect step to its start; a link whose timer is active connects on the next
  // heartbeat ticks, one whose timer is stopped waits to be started. A link that is connected
  // or connecting is left as it is.
  virtual void Start(bool timerActive) = 0;
  // Writes the message's frame on the link; dropped when the link has no socket.
  virtual void Send(TVornMessage& message) = 0;
  virtual bool Connected() const = 0;
  // A handshake reply arrived: the first one after a connect made while logged on posts the
  // Connected link state that the link held back until then.
  virtual void HandshakeReplyReceived() = 0;
  // A login request is about to be built for this host link (its build may empty every list):
  // a link with state over those lists settles it first. Default: nothing. Called on the
  // caller's thread of the logon, with no lock held.
  virtual void PrepareLogon() {}
  // Asks the socket's thread to end; the next heartbeat then frees both links.
  virtual void StopSocketThread() = 0;
  // Closes the socket and joins its thread; later sends are dropped. Called with no lock held
  // and never on the link's own socket thread; the destructor calls it too.
  virtual void Shutdown() = 0;
};

using TLinkFactory = std::function<std::shared_ptr<ILink>(TClassAPI& api, const TLinkSpec& spec)>;

// The process-wide factory (empty: links are not available).
void SetLinkFactory(TLinkFactory factory);
TLinkFactory GetLinkFactory();

}  // namespace vorn
