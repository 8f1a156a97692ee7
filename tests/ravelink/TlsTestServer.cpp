#include "ravelink/TlsTestServer.h"

#include <openssl/err.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <stdexcept>

namespace vorn {

TTlsTestServer::TTlsTestServer(TOptions options, TSession session)
    : options_(std::move(options)), session_(std::move(session)) {
  context_ = SSL_CTX_new(TLS_server_method());
  if (!context_) throw std::runtime_error("SSL_CTX_new");
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  if (options_.MaxVersion) SSL_CTX_set_max_proto_version(context_, options_.MaxVersion);
  if (SSL_CTX_use_certificate_chain_file(context_, options_.CertFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_, options_.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("server certificate");
  if (!options_.ClientCAFile.empty()) {
    if (SSL_CTX_load_verify_locations(context_, options_.ClientCAFile.c_str(), nullptr) != 1)
      throw std::runtime_error("client CA");
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  thread_ = std::thread([this] { Run(); });
}

TTlsTestServer::~TTlsTestServer() {
  stop_ = true;
  thread_.join();
  SSL_CTX_free(context_);
}

std::string TTlsTestServer::LastFailure() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return lastFailure_;
}

void TTlsTestServer::Run() {
  // Writes to a client that has gone must not kill the test with SIGPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  while (!stop_) {
    const auto peer = listener_.Accept(std::chrono::milliseconds(50));
    if (!peer) continue;
    // A client that stalls cannot hold the server past the test.
    const timeval limit{10, 0};
    ::setsockopt(peer->Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(peer->Fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, peer->Fd());
    ERR_clear_error();
    if (SSL_accept(ssl) == 1) {
      ++handshakes_;
      session_(ssl, peer->Fd());
      SSL_shutdown(ssl);
    } else {
      char reason[256] = "handshake failed";
      if (const unsigned long code = ERR_peek_error()) ERR_error_string_n(code, reason, sizeof reason);
      const std::lock_guard<std::mutex> guard(lock_);
      lastFailure_ = reason;
    }
    ERR_clear_error();
    SSL_free(ssl);
  }
}

bool ReadExactly(SSL* ssl, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const int count = SSL_read(ssl, bytes + done, static_cast<int>(size - done));
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace vorn
