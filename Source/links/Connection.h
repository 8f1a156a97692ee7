#pragma once
// One server link: the host link or the price-feed link. It owns its socket, runs the reconnect
// cycle through the API object's address list for its kind on the heartbeat's ticks, sends
// messages (a logon is held until the link is connected), assembles received bytes into bodies
// and hands them to the dispatcher, sends handshakes and reports link states.
//
// Threads: ProcessTimer, and with it the socket's creation, connection and destruction, run on
// the heartbeat thread; the socket handlers on the socket's event thread; Send on any thread.
// Locks, outermost first: sendLock_ (guards socket_ for every thread but the heartbeat's, which
// alone replaces it), pendingLock_, then the socket's own locks. A socket is destroyed (its
// thread joined) with no lock held, never on its own thread.
//
// Every frame goes out whole or not at all: a frame the socket does not take (not connected) is
// dropped with a trace line, and one it took only in part closes the connection, so no other
// frame's bytes can follow it and the reconnect cycle starts.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/session/Link.h"
#include "core/wire/FieldsList.h"
#include "links/FrameAssembler.h"
#include "links/LinkTransport.h"
#include "links/WSocket.h"

namespace vorn {

class TClassAPI;
class TMessageTable;  // links/Dispatcher.h

enum TProcessReconnectState : std::uint8_t { prsDestroy, prsCreateInit, prsReconnect };

// The link state that the application sees for a socket state (callbacks 1 and 2).
std::uint8_t LinkStateOf(TSocketState state);

class TConnection : public ILink, protected ISocketHandler, private IBodySink {
 public:
  // A random number from 0 to max (both included); the reconnect delays draw from it.
  using TRandom = std::function<std::int32_t(std::int32_t max)>;

  // Received bodies go through the built-in message table, or through table when one is given
  // (it must outlive the link).
  TConnection(TClassAPI& api, TLinkKind kind, TRandom random = {},
              const TMessageTable* table = nullptr);
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  ~TConnection() override;

  // ILink. SetAddress takes the texts only when they changed.
  void SetAddress(const TAddressItem& address) override;
  void ProcessTimer() override;
  void Start(bool timerActive) override;
  void Send(TVornMessage& message) override;
  bool Connected() const override { return connected_; }
  void StopSocketThread() override;
  void Shutdown() override;

  void HandshakeReplyReceived() override;

  TLinkKind Kind() const { return kind_; }
  TProcessReconnectState ReconnectState() const { return reconnectState_; }
  bool TimerActive() const { return timerActive_; }
  std::int32_t Delay() const { return delay_; }
  bool LinkLost() const { return linkLost_; }
  std::int32_t SocketCount() const { return socketCount_; }
  // The current socket's state; Closed without a socket.
  TSocketState SocketState() const;
  // The current socket is connected, reported or not (TWSocket::ConnectionEstablished).
  bool ConnectionEstablished() const;

  // The longest reconnect wait, in ticks.
  static constexpr std::int32_t kMaxDelay = 65535;
  // One read from the socket.
  static constexpr int kReadSize = 64 * 1024;

 protected:
  // The link's virtual operations, in the order an SSL link overrides them (with Send,
  // StopSocketThread and ProcessTimer above).
  virtual void ProcessSessionConnected();
  virtual void CreateInitSocket();
  virtual void DestroySocket();
  // True when a connection attempt was started or the link is connected.
  virtual bool Connect();

  // Hooks of the reconnect cycle, heartbeat thread. ConnectSocket starts the current socket's
  // connection to the address and port (both non-empty) for Connect.
  virtual void ConnectSocket(const std::string& address, const std::string& port);
  // Ticks between creating a socket and connecting it.
  virtual std::int32_t CreateInitDelay() const { return 1; }
  // Moving on to a later fall-back address after a loss waits one tick, not the full period.
  virtual bool OneTickFallback() const { return linkLost_; }

  TClassAPI& Api() const { return api_; }
  // Heartbeat thread: the current socket (only that thread replaces it), or null.
  ILinkTransport* Socket() const { return socket_.get(); }
  // The start of every CreateInitSocket: traced under routine, the old socket destroyed.
  void BeginNewSocket(const char* routine);
  // Makes socket the current one and counts it (heartbeat thread, after BeginNewSocket).
  void InstallSocket(std::unique_ptr<ILinkTransport> socket);
  void SendHandshake();

  // The socket events as both kinds of socket report them, on the socket's thread (state
  // changes and the session's start also on the heartbeat thread).
  // Bytes read from the socket, handed to the frame assembly.
  void ReceiveBytes(std::string_view bytes);
  void SessionConnected();
  void SessionClosed();
  void StateChanged(TSocketState oldState, TSocketState newState);
  void ThreadStopped();

  // ISocketHandler: the plain socket's events, forwarded to the above.
  void SocketDataAvailable(TWSocket& socket, int error) override;
  void SocketSessionConnected(TWSocket& socket, int error) override;
  void SocketSessionClosed(TWSocket& socket, int error) override;
  void SocketChangeState(TWSocket& socket, TSocketState oldState, TSocketState newState) override;
  void SocketThreadStopped(TWSocket& socket) override;

 private:
  void ReceiveBody(std::string_view body, bool decompressed) override;

  void ProcessTriggerDestroy();
  void SendLogonMessage(TVornMessage& message);
  // Writes one whole frame through the socket (sendLock_ held); false when it did not go out.
  bool WriteFrame(std::string_view frame);
  void FlushPendingLogon();
  void LogOnAgain();
  // Ticks of the kind's handshake interval and time-out, from the API object.
  std::int32_t HandshakeInterval() const;
  std::int32_t HandshakeTimeout() const;
  void PostLinkState(std::uint8_t oldState, std::uint8_t newState);
  std::string AddressText() const;
  const char* KindName() const;

  TClassAPI& api_;
  const TLinkKind kind_;
  TRandom random_;
  const TMessageTable* const table_;

  mutable std::recursive_mutex sendLock_;
  std::unique_ptr<ILinkTransport> socket_;  // replaced only on the heartbeat thread, under sendLock_
  std::mutex pendingLock_;
  std::string pendingLogon_;  // logon frames held until the link is connected

  mutable std::mutex addressLock_;
  std::string address_;
  std::string port_;

  std::atomic<bool> destroying_{false};
  std::atomic<bool> connected_{false};
  std::atomic<bool> linkLost_{false};
  std::atomic<bool> handshakeEnabled_{false};
  std::atomic<bool> handshakeOutstanding_{false};
  // A connect while logged on holds back the Connected state until the handshake reply.
  std::atomic<bool> awaitingFirstHandshakeReply_{false};
  std::atomic<bool> timerActive_{false};
  std::atomic<std::int32_t> idleTicks_{0};
  std::atomic<std::int32_t> silentTicks_{0};  // ticks since the last byte arrived
  std::atomic<std::int32_t> delay_{1};
  std::atomic<std::int32_t> tickCount_{1};
  std::atomic<TProcessReconnectState> reconnectState_{prsCreateInit};
  std::atomic<std::int32_t> socketCount_{0};

  // The socket thread's receive state.
  TFrameAssembler assembler_;
  std::vector<char> readBuffer_;
  TFieldsList hostFields_;  // reused for every host body of this link (socket thread)
};

// The factory vnReady uses: an SSL link (links/SSLConnection.h) where the link's settings ask
// for SSL, a plain link otherwise.
std::shared_ptr<ILink> MakeLink(TClassAPI& api, const TLinkSpec& spec);

}  // namespace vorn
