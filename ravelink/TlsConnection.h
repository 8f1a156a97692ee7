#pragma once
// One TLS client connection of the stand-in library: a non-blocking TCP socket, a fresh SSL_CTX
// of its own, and an eventfd that Close signals so every wait on the socket ends at once.
//
// Threads: Connect runs on one thread, before any Read or Write; then one thread may read while
// others write (writes are serialised among themselves), and Close may come from any thread at
// any time. The TLS lock is held only around the non-blocking OpenSSL calls, never while waiting.
// The object is shared (shared_ptr): Close does not free it, the last holder does.

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "SocketBio.h"

namespace vorn::ravelink {

class TTlsConnection {
 public:
  // Error kinds, as SSL_GetLastErrorType reports them.
  enum TErrorType : std::int32_t { etNone = 0, etSocket = 1, etTls = 2 };

  struct TLastError {
    std::string Text;
    std::int32_t Value = 0;
    TErrorType Type = etNone;
    bool Blocking = false;
  };

  // How long Read waits for data, and the bound on the wait for a TLS 1.3 server's first flight.
  static constexpr std::chrono::milliseconds kReadTimeout{1000};
  static constexpr std::chrono::milliseconds kFirstFlightWait{1000};
  // A write that makes no progress for this long fails.
  static constexpr std::chrono::seconds kWriteStall{30};

  explicit TTlsConnection(std::string clientCertName);
  TTlsConnection(const TTlsConnection&) = delete;
  TTlsConnection& operator=(const TTlsConnection&) = delete;
  ~TTlsConnection();

  // False when the eventfd could not be made; the object is then unusable.
  bool Valid() const { return wakeFd_ >= 0; }

  void SetKeepAlive(bool on) { keepAlive_ = on; }
  void SetClientCertName(std::string name);

  // Connects and handshakes within timeoutSeconds; the contract is SSL_Connect's (Ravelink.h).
  bool Connect(const char* host, std::int32_t port, std::int32_t timeoutSeconds,
               const char* certName);

  // A client context set as Connect sets each connection's (TLS 1.2 at least, the peer verified,
  // partial writes, no automatic retry), with neither trust store nor client certificate; null
  // when OpenSSL fails. The caller owns it.
  static SSL_CTX* NewClientContext();
  // Connect's handshake, and then Read, Write and Close, over transport in place of a socket: for
  // the fuzz targets, which have no network. The connection owns transport from here on and takes
  // a reference to context (from NewClientContext, given its trust store); name is verified as
  // the server's. With no socket, every wait returns at once: a transport whose reads end the
  // stream when it has nothing more (a memory BIO with BIO_set_mem_eof_return 0) ends each call;
  // one that asks for a retry makes the calls spin until their time-outs.
  bool ConnectOver(BIO* transport, SSL_CTX* context, const char* name);
  // The count read, 0 at the server's end of stream, -1 with error set to the errno to report.
  std::int32_t Read(void* buffer, std::int32_t size, int& error);
  // size when all was written, else -1 with error set.
  std::int32_t Write(const void* data, std::int32_t size, int& error);
  // Ends the connection: sends close_notify when it can, shuts the socket down and wakes every
  // waiter. Idempotent.
  void Close();

  TLastError LastError() const;

 private:
  using TClock = std::chrono::steady_clock;
  enum class TWait { Ready, TimedOut, Closed, Failed };

  // Waits for events on the socket until deadline or Close. Sliced, it returns Ready after at most
  // a quarter second without events, so that a waiter whose data another thread's OpenSSL call
  // took looks again.
  TWait WaitFor(short events, TClock::time_point deadline, bool sliced = true) const;
  bool ConnectSocket(const char* host, std::int32_t port, TClock::time_point deadline);
  bool SetUpTls(const char* host, const char* certName);
  // The SSL over bio (owned from here on) in context_, verifying name.
  bool StartSession(BIO* bio, const char* name);
  bool Handshake(TClock::time_point deadline);
  bool AwaitFirstFlight(TClock::time_point deadline);
  // The end of a handshake that succeeded: the connection is up unless Close came meanwhile.
  bool Connected();
  // The error of a failed OpenSSL call (sslError from SSL_get_error), drained from the queue.
  void SetTlsFailure(int sslError, const char* during);
  // The error of a wait that ended Closed (SSL_Close) or Failed (errno) during the connect.
  void SetWaitFailure(TWait wait);

  void SetError(TErrorType type, std::int32_t value, std::string text, bool blocking = false);
  void ClearError();

  mutable std::mutex stateLock_;  // fd_, clientCertName_, lastError_
  std::mutex tlsLock_;            // every call on ssl_, and the BIO's fields
  std::mutex writeLock_;          // one writer at a time

  int fd_ = -1;  // -1 over an in-memory transport
  int wakeFd_ = -1;
  std::string clientCertName_;
  TLastError lastError_;
  std::atomic<bool> keepAlive_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> connected_{false};

  TSocketBio bio_;  // not attached over an in-memory transport
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
};

}  // namespace vorn::ravelink
