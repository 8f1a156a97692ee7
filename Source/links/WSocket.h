#pragma once
// The plain TCP client socket under a server link: one outgoing IPv4 connection, driven by an
// event thread of its own that waits for network events and calls the link's handler.
//
// Threads: SetAddr/SetPort/SetProto, Connect and Close run on the caller's thread; the
// connection completes, data arrives and the session ends on the event thread. Send may be
// called from any thread. Close never waits for the event thread: it shuts the connection down
// and the event thread finishes the close. Only the destructor joins the event thread.
//
// Locks, outermost first: SendLock, the handle lock, the state lock. No lock is held while the
// handler runs.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "links/LinkTransport.h"
#include "platform/Locks.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace vorn {

class TWSocket;

// What the socket reports to its link; called on the socket's event thread, except state changes
// made by Connect/Close, which run on the caller's thread. Calls for one socket never overlap and
// state changes arrive in order. A handler may call Send, Receive and Close from inside.
// SocketDataAvailable reads with Receive; what it leaves in the socket is offered again. Once
// the peer has closed it is called until a Receive returns 0 (the end of the stream) or fails,
// so every byte sent before the close is offered. Its trace-file lines are held in a batch
// (core/diag/Trace.h) and written when it returns, before the thread waits again.
class ISocketHandler {
 public:
  virtual ~ISocketHandler() = default;
  virtual void SocketDataAvailable(TWSocket& socket, int error) = 0;
  virtual void SocketSessionConnected(TWSocket& socket, int error) = 0;
  virtual void SocketSessionClosed(TWSocket& socket, int error) = 0;
  virtual void SocketChangeState(TWSocket& socket, TSocketState oldState,
                                 TSocketState newState) = 0;
  // The event thread ended because StopSocketThread was called (the API object then resets links).
  virtual void SocketThreadStopped(TWSocket& socket) = 0;
};

// The thread that waits for the socket's network events and hands them to the handler. Its wait
// includes the socket's wake signal: Close, StopSocketThread and Terminate end it at once.
class TWSocketEventThread {
 public:
  explicit TWSocketEventThread(TWSocket& socket) : socket_(socket) {}
  TWSocketEventThread(const TWSocketEventThread&) = delete;
  TWSocketEventThread& operator=(const TWSocketEventThread&) = delete;
  ~TWSocketEventThread() { Terminate(); }

  void Start();
  // Ends the loop and joins the thread (never called on the thread itself).
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  bool IsCurrentThread() const { return thread_.IsCurrentThread(); }

 private:
  void Execute();

  TWSocket& socket_;
  std::atomic<bool> terminated_{false};
  TStoppableThread thread_;
};

class TWSocket : public ILinkTransport {
 public:
  // keepAlive is false when the application declared an internet user.
  TWSocket(ISocketHandler& handler, bool keepAlive);
  TWSocket(const TWSocket&) = delete;
  TWSocket& operator=(const TWSocket&) = delete;
  // Closes an open connection (the handler sees Closed and SessionClosed on the event thread)
  // and joins the event thread. Never call it from inside the socket's own handler.
  ~TWSocket() override;

  // A dotted address or a host name (its first IPv4 address).
  void SetAddr(const std::string& text);
  // A decimal port (at most 65535) or a service name for the current protocol.
  void SetPort(const std::string& text);
  // A protocol number or name; "tcp" needs no look-up.
  void SetProto(const std::string& text);
  // The address as dotted text; while connected the local address of the socket ("not found"
  // when it cannot be had); empty when no address was set.
  std::string GetAddr() const;
  // The name of the current protocol, or "not found".
  std::string GetProto() const;

  // Opens the socket and starts a non-blocking connect; the connection completes on the event
  // thread. A refusal is traced and leaves the socket as it was.
  void Connect();
  // Sends all len bytes and returns the count sent: -1 when not connected; less than len when
  // the peer did not take them all within 5 s; 0 after a hard error, which closes the socket.
  int Send(const void* data, int len) override;
  // Reads up to len bytes without waiting; the count read (0 at the end of the stream, which
  // ends the session once the handler returns), or -1 with LastError set (10035 when nothing is
  // there; any other failure ends the session). Meant for the data handler.
  int Receive(void* buffer, int len);
  // True once a Close, StopSocketThread or the end of the event thread was asked for: a handler
  // reading a long burst returns, so that the request is not held up behind it (what is left
  // is still offered before the close).
  bool ReadInterrupted() const;
  // The longest single wait of the event thread (1000 ms; -1 for none): a close asked for
  // without a hang-up counts these waits down. Set before Connect.
  void SetEventWaitMs(int ms) { eventWaitMs_ = ms; }
  // Shuts the connection down; the event thread closes the handle and reports Closed and
  // SessionClosed. Never waits, so it is safe from a handler and under the link's locks.
  void Close() override;
  // Asks the event thread to end; the handler then gets SocketThreadStopped.
  void StopSocketThread() override;

  TSocketState State() const override { return State_.load(std::memory_order_acquire); }
  // True when connected, or when the connect has completed on the network and the event thread
  // has yet to report it (it will). False once a Close was asked for.
  bool ConnectionEstablished() const override;
  bool PortAssigned() const;
  bool AddrAssigned() const;
  bool ProtoAssigned() const;
  std::int64_t BytesReceived() const { return BytesReceived_.load(std::memory_order_relaxed); }
  std::int64_t BytesSent() const { return BytesSent_.load(std::memory_order_relaxed); }
  // WinSock code of the last failed receive.
  int LastError() const { return LastError_.load(std::memory_order_relaxed); }
  // The descriptor, kInvalidSocket when there is none (for diagnostics and tests).
  int HSocket() const;

 private:
  friend class TWSocketEventThread;

  void ResetFields();  // fieldsLock_ held
  void SocketError(const std::string& operation, int code);
  // waitResult: the outcome of the ordering wait, traced for Connecting and Connected.
  void ChangeState(TSocketState newState, const char* waitResult = nullptr);
  // Closes the handle (exactly once) and stores the new state, then tells the handler.
  void CloseHandleAndChangeState(TSocketState newState);
  void NotifyStateChange(TSocketState oldState, TSocketState newState);
  void FinishAnnouncing();

  // Event thread.
  void EventLoop(TWSocketEventThread& thread);
  bool AwaitAnnouncements(TWSocketEventThread& thread);
  bool HandleConnectEvent(int fd, bool writable, bool announced);
  void HandleCloseEvent(int fd, bool pollError);
  // Calls the handler's SocketDataAvailable inside a trace-file batch: the lines it writes
  // reach the file when it returns. False when it failed.
  bool DeliverData();
  void NotifySessionClosed();
  bool EndRequested(const TWSocketEventThread& thread) const;

  ISocketHandler& handler_;
  const bool keepAlive_;

  mutable std::mutex fieldsLock_;  // the address, port and protocol fields
  std::uint32_t SockAddr_ = 0;     // network order
  std::uint16_t SockPort_ = 0;     // network order
  bool PortAssigned_ = false;
  bool AddrAssigned_ = false;
  bool ProtoAssigned_ = true;
  std::string Addr_;
  int Proto_ = 6;

  TCriticalSection SendLock;
  mutable std::mutex handleLock_;  // HSocket_; closing also holds SendLock
  TSocketHandle HSocket_;

  std::mutex stateLock_;
  std::condition_variable announced_;
  bool announcing_ = false;  // Connect is still announcing Opened/Connecting
  std::atomic<TSocketState> State_{TSocketState::Closed};

  std::atomic<int> LastError_{0};
  std::atomic<std::int64_t> BytesReceived_{0};
  std::atomic<std::int64_t> BytesSent_{0};
  std::atomic<int> CloseCountdown{0};
  std::atomic<bool> closeRequested_{false};
  std::atomic<bool> Stop{false};           // StopSocketThread
  std::atomic<bool> terminating_{false};   // the event thread is being ended
  std::atomic<bool> endOfStream_{false};   // a Receive read the end of the stream
  std::atomic<int> receiveFailure_{0};     // errno of a Receive that failed hard
  std::atomic<bool> threadActive_{false};  // the event thread owns the handle until it ends
  std::string threadAddr_;                 // the address text the event thread traces
  int eventWaitMs_ = 1000;

  TWakeSignal wake_;
  std::unique_ptr<TWSocketEventThread> EventThread;
};

}  // namespace vorn
