#pragma once
// What a link needs of the socket under it, plain or SSL: its state, sending a whole frame,
// closing, stopping its thread. Received bytes go the other way, pushed by the socket's thread
// into the link (TConnection::ReceiveBytes).

#include <cstdint>

namespace vorn {

enum class TSocketState : std::uint8_t {
  InvalidState,
  Opened,
  Bound,
  Connecting,
  Connected,
  Accepting,
  Listening,
  Closed
};

// "Opened", "Connected", ...
const char* SocketStateName(TSocketState state);

// Threads: every call may come from any thread; none waits for the socket's own thread, so each
// is safe under the link's locks and from inside the socket's handlers.
class ILinkTransport {
 public:
  virtual ~ILinkTransport() = default;
  virtual TSocketState State() const = 0;
  // Sends all len bytes; the count handed over: below 1 when nothing went out (not connected,
  // or a failure), between 1 and len - 1 when the frame went out only in part.
  virtual int Send(const void* data, int len) = 0;
  // Ends the connection; the socket reports Closed and the session's end to its link.
  virtual void Close() = 0;
  // Asks the socket's thread to end; the link then hears that it stopped on request.
  virtual void StopSocketThread() = 0;
  // Connected, reported or not yet; false once a close was asked for.
  virtual bool ConnectionEstablished() const = 0;
};

}  // namespace vorn
