#pragma once
// A TLS server on 127.0.0.1 for the stand-in's tests, on OpenSSL with blocking sockets: a thread
// accepts one connection at a time, handshakes with the given certificate and runs the test's
// session on it, then closes it (close_notify, then the socket).

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "support/LoopbackListener.h"

namespace vorn {

class TTlsTestServer {
 public:
  struct TOptions {
    std::string CertFile;
    std::string KeyFile;
    // When set, a client certificate that chains to this CA is required.
    std::string ClientCAFile;
    // The highest protocol version offered (TLS1_2_VERSION, TLS1_3_VERSION); 0: OpenSSL's best.
    int MaxVersion = 0;
  };
  // Runs on the server's thread after a successful handshake; fd is the connection's socket.
  using TSession = std::function<void(SSL* ssl, int fd)>;

  TTlsTestServer(TOptions options, TSession session);
  TTlsTestServer(const TTlsTestServer&) = delete;
  TTlsTestServer& operator=(const TTlsTestServer&) = delete;
  // Stops accepting and joins the thread (a session still running must end by itself).
  ~TTlsTestServer();

  std::uint16_t Port() const { return listener_.Port(); }
  int Handshakes() const { return handshakes_; }
  // OpenSSL's reason for the last failed handshake; empty when none failed.
  std::string LastFailure() const;

 private:
  void Run();

  TOptions options_;
  TSession session_;
  TLoopbackListener listener_;
  SSL_CTX* context_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int> handshakes_{0};
  mutable std::mutex lock_;
  std::string lastFailure_;
  std::thread thread_;
};

// Reads exactly size bytes (a blocking SSL); false when the connection ended first.
bool ReadExactly(SSL* ssl, void* buffer, std::size_t size);

}  // namespace vorn
