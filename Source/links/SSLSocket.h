#pragma once
// The socket of an SSL link: the connection, its encryption, reading and writing are done by the
// outside library (ravelink/Ravelink.h), loaded at run time by each socket. TWSSLEventThread
// reads from it and pushes what it reads to the link.
//
// Threads: Connect, SetRemoteHost/SetRemotePort and the destructor run on the link's heartbeat
// thread; the read thread delivers data and ends the session; Send and Close may come from any
// thread. Connect reports Connecting, Connected (then SessionConnected) or Closed on its own
// thread; the read thread starts after SessionConnected, so its calls follow those.
// Locks: lock_ serialises writes (innermost, below the link's locks). No lock is held while a
// handler runs, and none while the read thread is joined.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Ravelink.h"
#include "links/LinkTransport.h"
#include "platform/DynamicLibrary.h"
#include "platform/Thread.h"

namespace vorn {

class TSSLSocket;

// What the SSL socket reports to its link. A handler may call Send and Close from inside.
class ISSLSocketHandler {
 public:
  virtual ~ISSLSocketHandler() = default;
  virtual void SSLSocketChangeState(TSocketState oldState, TSocketState newState) = 0;
  // Bytes read, on the read thread.
  virtual void SSLSocketDataAvailable(std::string_view bytes) = 0;
  virtual void SSLSocketSessionConnected() = 0;
  // Once per socket, after the state went to Closed from a connection.
  virtual void SSLSocketSessionClosed() = 0;
  // The read thread ended because StopSocketThread was called.
  virtual void SSLSocketThreadStopped() = 0;
};

// Reads kReadSize bytes at a time until the server closes, a read fails, or it is told to end
// (Terminate, or the socket's StopSocketThread, which it reports).
class TWSSLEventThread {
 public:
  explicit TWSSLEventThread(TSSLSocket& socket) : socket_(socket) {}
  TWSSLEventThread(const TWSSLEventThread&) = delete;
  TWSSLEventThread& operator=(const TWSSLEventThread&) = delete;
  ~TWSSLEventThread() { Join(); }

  void Start();
  // The loop ends at its next turn (a read returns within the library's read time-out).
  void Terminate() { terminated_.store(true, std::memory_order_release); }
  // Waits for the end of the thread (never on the thread itself).
  void Join();
  bool IsCurrentThread() const { return thread_.IsCurrentThread(); }

 private:
  void Execute();

  TSSLSocket& socket_;
  std::atomic<bool> terminated_{false};
  TStoppableThread thread_;
};

class TSSLSocket : public ILinkTransport {
 public:
  // The pause after a failed connect.
  using TPause = std::function<void(std::chrono::milliseconds)>;

  // Loads the library at libraryPath and resolves its eleven entry points: Exception "SSL
  // Library not found" when it cannot be loaded, "Invalid SSL Library" when one is missing.
  // clientAuthName goes to SSL_SetClientCertName before each connect when not empty.
  TSSLSocket(ISSLSocketHandler& handler, const std::string& libraryPath,
             std::string clientAuthName, TPause pause = {});
  TSSLSocket(const TSSLSocket&) = delete;
  TSSLSocket& operator=(const TSSLSocket&) = delete;
  // Closes the connection first (which ends a read in progress), then joins the read thread,
  // then lets go of the library. Never from inside the socket's own handler.
  ~TSSLSocket() override;

  void SetRemoteHost(const std::string& text);
  // Read as a decimal number; anything else is port 0.
  void SetRemotePort(const std::string& text);

  // Blocks while the library connects. False only for a failure that counts against the link:
  // an error text other than none, "Server has disconnected" or one with "Host Unreachable".
  // A refusal before the attempt (a handle already there, no port, no host) is traced and
  // changes no state; it returns true.
  bool Connect(const std::string& certificateName);
  // SSL_Write under the write lock; below 1 (traced with the library's text) on failure, -1
  // when not connected.
  int SendBytes(const void* data, int len);
  // Up to kReadSize bytes into buffer; error is errno as the library left it.
  int Read(char* buffer, int& error);
  // Closes the handle and, the first time for a connected socket, reports Closed and the end
  // of the session. Safe from any thread, and while the read thread reads.
  void Disconnect();
  // The library's text for the last error of the handle; traced when log is set.
  std::string GetLastSocketError(bool log);

  // ILinkTransport. Close only closes the handle: the read thread then fails its read and
  // disconnects, so the handler never runs under the caller's locks.
  TSocketState State() const override { return state_.load(std::memory_order_acquire); }
  int Send(const void* data, int len) override { return SendBytes(data, len); }
  void Close() override { CloseHandle(); }
  void StopSocketThread() override;
  bool ConnectionEstablished() const override;

  std::int32_t Handle() const { return handle_.load(std::memory_order_acquire); }
  std::string RemoteHost() const;
  std::int32_t RemotePort() const { return remotePort_.load(std::memory_order_relaxed); }

  static constexpr int kReadSize = 1000;
  static constexpr std::int32_t kConnectTimeoutSeconds = 10;
  static constexpr std::chrono::milliseconds kFailurePause{1000};

 private:
  friend class TWSSLEventThread;

  void ChangeState(TSocketState newState);
  // Closes the library's handle, if any, exactly once.
  void CloseHandle();

  ISSLSocketHandler& handler_;
  const std::string clientAuthName_;
  TPause pause_;
  TDynamicLibrary library_;
  TSSLGetHandle getHandle_ = nullptr;
  TSSLSetKeepAlive setKeepAlive_ = nullptr;
  TSSLConnect connect_ = nullptr;
  TSSLSetClientCertName setClientCertName_ = nullptr;
  TSSLClose close_ = nullptr;
  TSSLGetLastError getLastError_ = nullptr;
  TSSLGetLastErrorValue getLastErrorValue_ = nullptr;
  TSSLGetLastErrorType getLastErrorType_ = nullptr;
  TSSLIsLastErrorBlocking isLastErrorBlocking_ = nullptr;
  TSSLRead read_ = nullptr;
  TSSLWrite write_ = nullptr;

  std::mutex lock_;  // serialises SSL_Write
  std::atomic<TSocketState> state_{TSocketState::Closed};
  std::atomic<std::int32_t> handle_{0};
  std::atomic<bool> closing_{false};  // a Disconnect has run (or runs): once per socket
  std::atomic<bool> stop_{false};     // StopSocketThread: the read thread ends at its next turn
  mutable std::mutex hostLock_;
  std::string remoteHost_;
  std::atomic<std::int32_t> remotePort_{0};
  std::unique_ptr<TWSSLEventThread> readThread_;  // heartbeat thread only
};

}  // namespace vorn
