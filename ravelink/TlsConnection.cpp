#include "TlsConnection.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace vorn::ravelink {
namespace {

constexpr std::chrono::milliseconds kWaitSlice{250};

std::string ErrnoText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

// The folder of this library's own file, ending with '/'; empty when it cannot be told.
std::string LibraryFolder() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) || !info.dli_fname) return {};
  std::unique_ptr<char, decltype(&::free)> real(::realpath(info.dli_fname, nullptr), &::free);
  const std::string path = real ? real.get() : info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsAddress(const char* name) {
  in6_addr address{};
  return ::inet_pton(AF_INET, name, &address) == 1 || ::inet_pton(AF_INET6, name, &address) == 1;
}

// The first error of OpenSSL's queue as text, the queue emptied.
std::string DrainTlsErrors(unsigned long* first = nullptr) {
  const unsigned long code = ERR_get_error();
  if (first) *first = code;
  std::string text;
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    if (reason) {
      text = reason;
    } else {
      char buffer[256];
      ERR_error_string_n(code, buffer, sizeof buffer);
      text = buffer;
    }
  }
  ERR_clear_error();
  return text;
}

}  // namespace

TTlsConnection::TTlsConnection(std::string clientCertName)
    : clientCertName_(std::move(clientCertName)) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TTlsConnection::~TTlsConnection() {
  if (ssl_) SSL_free(ssl_);  // frees the BIO too
  if (context_) SSL_CTX_free(context_);
  if (fd_ >= 0) ::close(fd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TTlsConnection::SetClientCertName(std::string name) {
  const std::lock_guard<std::mutex> guard(stateLock_);
  clientCertName_ = std::move(name);
}

TTlsConnection::TLastError TTlsConnection::LastError() const {
  const std::lock_guard<std::mutex> guard(stateLock_);
  return lastError_;
}

void TTlsConnection::SetError(TErrorType type, std::int32_t value, std::string text,
                              bool blocking) {
  const std::lock_guard<std::mutex> guard(stateLock_);
  lastError_ = TLastError{std::move(text), value, type, blocking};
}

void TTlsConnection::ClearError() { SetError(etNone, 0, std::string()); }

TTlsConnection::TWait TTlsConnection::WaitFor(short events, TClock::time_point deadline,
                                              bool sliced) const {
  for (;;) {
    if (closing_) return TWait::Closed;
    const auto now = TClock::now();
    if (now >= deadline) return TWait::TimedOut;
    if (fd_ < 0) return TWait::Ready;  // an in-memory transport: nothing to wait for
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (sliced) left = std::min(left, kWaitSlice);
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return TWait::Failed;
    }
    if (closing_ || (fds[1].revents & POLLIN)) return TWait::Closed;
    // An error or hang-up counts as ready: the next call on the socket tells which.
    if (ready > 0) return TWait::Ready;
    if (sliced) return TClock::now() >= deadline ? TWait::TimedOut : TWait::Ready;
  }
}

bool TTlsConnection::Connect(const char* host, std::int32_t port, std::int32_t timeoutSeconds,
                             const char* certName) {
  if (started_.exchange(true)) {
    SetError(etTls, 0, "SSL Error: handle already used for a connection");
    return false;
  }
  const auto deadline =
      TClock::now() + std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 10);
  if (!ConnectSocket(host, port, deadline) || !SetUpTls(host, certName) || !Handshake(deadline))
    return false;
  return Connected();
}

bool TTlsConnection::ConnectOver(BIO* transport, SSL_CTX* context, const char* name) {
  if (started_.exchange(true)) {
    BIO_free(transport);
    SetError(etTls, 0, "SSL Error: handle already used for a connection");
    return false;
  }
  ERR_clear_error();
  if (!context || !name || SSL_CTX_up_ref(context) != 1) {
    BIO_free(transport);
    SetError(etTls, 0, "SSL Error: no context or name");
    return false;
  }
  context_ = context;
  const auto deadline = TClock::now() + std::chrono::seconds(10);
  if (!StartSession(transport, name) || !Handshake(deadline)) return false;
  return Connected();
}

bool TTlsConnection::Connected() {
  if (closing_) {
    SetError(etSocket, ECONNABORTED, "Socket Error: Connection closed");
    return false;
  }
  ClearError();
  connected_ = true;
  return true;
}

bool TTlsConnection::ConnectSocket(const char* host, std::int32_t port,
                                   TClock::time_point deadline) {
  if (!host || !*host) {
    SetError(etSocket, EINVAL, "Socket Error: Host Unreachable (no host)");
    return false;
  }
  if (port <= 0 || port > 65535) {
    SetError(etSocket, EINVAL,
             "Socket Error: Host Unreachable (invalid port " + std::to_string(port) + ")");
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(host, std::to_string(port).c_str(), &hints, &found);
  if (lookup != 0) {
    SetError(etSocket, lookup,
             std::string("Socket Error: Host Unreachable (") + ::gai_strerror(lookup) + ")");
    return false;
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);

  int lastError = ECONNREFUSED;
  bool timedOut = false;
  for (const addrinfo* address = found; address; address = address->ai_next) {
    const int fd = ::socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    const int on = 1;
    if (keepAlive_) ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    {
      const std::lock_guard<std::mutex> guard(stateLock_);
      if (fd_ >= 0) ::close(fd_);
      fd_ = fd;
    }
    int error = 0;
    if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        switch (WaitFor(POLLOUT, deadline, false)) {
          case TWait::Ready: {
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            break;
          }
          case TWait::TimedOut:
            error = ETIMEDOUT;
            timedOut = true;
            break;
          case TWait::Closed:
            SetError(etSocket, ECONNABORTED, "Socket Error: Connection closed");
            return false;
          case TWait::Failed:
            error = errno;
            break;
        }
      }
    }
    if (error == 0) return true;
    lastError = error;
    if (timedOut) break;
  }
  SetError(etSocket, lastError, "Socket Error: Host Unreachable (" + ErrnoText(lastError) + ")",
           timedOut);
  return false;
}

SSL_CTX* TTlsConnection::NewClientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
  return context;
}

bool TTlsConnection::SetUpTls(const char* host, const char* certName) {
  ERR_clear_error();
  context_ = NewClientContext();
  if (!context_) {
    SetError(etTls, 0, "SSL Error: " + DrainTlsErrors());
    return false;
  }
  // SSL_CERT_FILE and SSL_CERT_DIR, read now, name another trust store than the system's.
  if (SSL_CTX_set_default_verify_paths(context_) != 1) {
    SetError(etTls, 0, "SSL Error: trust store: " + DrainTlsErrors());
    return false;
  }

  std::string certificate;
  {
    const std::lock_guard<std::mutex> guard(stateLock_);
    certificate = clientCertName_;
  }
  if (!certificate.empty()) {
    const std::string path = certificate.front() == '/' ? certificate : LibraryFolder() + certificate;
    if (SSL_CTX_use_certificate_chain_file(context_, path.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, path.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context_) != 1) {
      SetError(etTls, 0, "SSL Error: client certificate " + path + ": " + DrainTlsErrors());
      return false;
    }
  }

  return StartSession(bio_.Attach(fd_), certName && *certName ? certName : host);
}

bool TTlsConnection::StartSession(BIO* bio, const char* name) {
  ssl_ = bio ? SSL_new(context_) : nullptr;
  if (!ssl_) {
    BIO_free(bio);
    SetError(etTls, 0, "SSL Error: " + DrainTlsErrors());
    return false;
  }
  SSL_set_bio(ssl_, bio, bio);

  bool named;
  if (IsAddress(name)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), name) == 1;
  } else {
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set1_host(ssl_, name) == 1 && SSL_set_tlsext_host_name(ssl_, name) == 1;
  }
  if (!named) {
    SetError(etTls, 0, std::string("SSL Error: invalid certificate name ") + name);
    return false;
  }
  return true;
}

bool TTlsConnection::Handshake(TClock::time_point deadline) {
  for (;;) {
    int result;
    int sslError;
    {
      const std::lock_guard<std::mutex> guard(tlsLock_);
      ERR_clear_error();
      result = SSL_connect(ssl_);
      sslError = SSL_get_error(ssl_, result);
      if (result == 1) break;
      if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
        SetTlsFailure(sslError, "handshake");
        return false;
      }
    }
    const TWait wait = WaitFor(sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
    switch (wait) {
      case TWait::Ready:
        break;
      case TWait::TimedOut:
        SetError(etTls, ETIMEDOUT, "SSL Error: handshake timed out", true);
        return false;
      case TWait::Closed:
      case TWait::Failed:
        SetWaitFailure(wait);
        return false;
    }
  }
  return SSL_version(ssl_) != TLS1_3_VERSION || AwaitFirstFlight(deadline);
}

// In TLS 1.3 the server judges the client's certificate after the client has finished its
// handshake, so a refusal arrives as an alert after SSL_connect has returned. The server's first
// flight (its session tickets, an alert, or data) shows which; a server that sends nothing within
// the bound is taken as accepting.
bool TTlsConnection::AwaitFirstFlight(TClock::time_point deadline) {
  const auto bound = std::min(deadline, TClock::now() + kFirstFlightWait);
  std::uint64_t before;
  {
    const std::lock_guard<std::mutex> guard(tlsLock_);
    before = BIO_number_read(SSL_get_rbio(ssl_));
  }
  for (;;) {
    int sslError;
    {
      const std::lock_guard<std::mutex> guard(tlsLock_);
      ERR_clear_error();
      char byte;
      const int result = SSL_peek(ssl_, &byte, 1);
      if (result > 0) return true;
      sslError = SSL_get_error(ssl_, result);
      if (sslError == SSL_ERROR_WANT_READ && BIO_number_read(SSL_get_rbio(ssl_)) > before &&
          !SSL_has_pending(ssl_))
        return true;  // whole records arrived and were not an alert
      if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
        SetTlsFailure(sslError, "handshake");
        return false;
      }
    }
    const TWait wait = WaitFor(sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, bound);
    switch (wait) {
      case TWait::Ready:
        break;
      case TWait::TimedOut:
        return true;
      case TWait::Closed:
      case TWait::Failed:
        SetWaitFailure(wait);
        return false;
    }
  }
}

void TTlsConnection::SetWaitFailure(TWait wait) {
  const int error = errno;  // before anything else can change it
  if (wait == TWait::Closed)
    SetError(etSocket, ECONNABORTED, "Socket Error: Connection closed");
  else
    SetError(etSocket, error, "Socket Error: " + ErrnoText(error));
}

// Called with tlsLock_ held.
void TTlsConnection::SetTlsFailure(int sslError, const char* during) {
  const long verify = ssl_ ? SSL_get_verify_result(ssl_) : X509_V_OK;
  unsigned long code = 0;
  const std::string reason = DrainTlsErrors(&code);
  if (verify != X509_V_OK) {
    SetError(etTls, static_cast<std::int32_t>(verify),
             std::string("SSL Error: certificate verify failed (") +
                 X509_verify_cert_error_string(verify) + ")");
    return;
  }
  const bool endOfStream = ERR_GET_LIB(code) == ERR_LIB_SSL &&
                           ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
  const int socketError = bio_.LastErrno();
  if (endOfStream || sslError == SSL_ERROR_ZERO_RETURN ||
      (sslError == SSL_ERROR_SYSCALL && code == 0 &&
       (bio_.PeerClosed() || socketError == ECONNRESET || socketError == EPIPE))) {
    SetError(etSocket, socketError ? socketError : ECONNRESET,
             "Socket Error: Server has disconnected");
    return;
  }
  if (sslError == SSL_ERROR_SYSCALL && code == 0) {
    SetError(etSocket, socketError,
             "Socket Error: " + ErrnoText(socketError ? socketError : EIO));
    return;
  }
  SetError(etTls, static_cast<std::int32_t>(ERR_GET_REASON(code)),
           "SSL Error: " + (reason.empty() ? std::string(during) + " failed" : reason));
}

std::int32_t TTlsConnection::Read(void* buffer, std::int32_t size, int& error) {
  if (!buffer || size <= 0) {
    error = EINVAL;
    return -1;
  }
  if (!connected_) {
    error = ENOTCONN;
    return -1;
  }
  const auto deadline = TClock::now() + kReadTimeout;
  for (;;) {
    if (closing_) {
      error = ENOTCONN;
      return -1;
    }
    int sslError;
    {
      const std::lock_guard<std::mutex> guard(tlsLock_);
      ERR_clear_error();
      const int result = SSL_read(ssl_, buffer, size);
      if (result > 0) return result;
      sslError = SSL_get_error(ssl_, result);
      if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
        if (closing_) {
          ERR_clear_error();
          error = ENOTCONN;
          return -1;
        }
        SetTlsFailure(sslError, "read");
        const TLastError last = LastError();
        if (last.Text == "Socket Error: Server has disconnected" && bio_.LastErrno() == 0)
          return 0;  // the server ended the stream, with or without close_notify
        error = last.Type == etSocket && last.Value ? last.Value : EPROTO;
        return -1;
      }
    }
    switch (WaitFor(sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
      case TWait::Ready:
        break;
      case TWait::TimedOut:
        error = ETIMEDOUT;
        return -1;
      case TWait::Closed:
        error = ENOTCONN;
        return -1;
      case TWait::Failed:
        error = errno;
        SetError(etSocket, error, "Socket Error: " + ErrnoText(error));
        return -1;
    }
  }
}

std::int32_t TTlsConnection::Write(const void* data, std::int32_t size, int& error) {
  if (!data || size <= 0) {
    error = EINVAL;
    return -1;
  }
  if (!connected_) {
    error = ENOTCONN;
    return -1;
  }
  const std::lock_guard<std::mutex> writer(writeLock_);
  const auto* bytes = static_cast<const char*>(data);
  std::int32_t written = 0;
  auto deadline = TClock::now() + kWriteStall;
  while (written < size) {
    if (closing_) {
      error = ENOTCONN;
      return -1;
    }
    int sslError;
    {
      const std::lock_guard<std::mutex> guard(tlsLock_);
      ERR_clear_error();
      const int result = SSL_write(ssl_, bytes + written, size - written);
      if (result > 0) {
        written += result;
        deadline = TClock::now() + kWriteStall;
        continue;
      }
      sslError = SSL_get_error(ssl_, result);
      if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
        if (closing_) {
          ERR_clear_error();
          error = ENOTCONN;
          return -1;
        }
        SetTlsFailure(sslError, "write");
        const TLastError last = LastError();
        error = last.Type == etSocket && last.Value ? last.Value : EPROTO;
        return -1;
      }
    }
    switch (WaitFor(sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
      case TWait::Ready:
        break;
      case TWait::TimedOut:
        SetError(etSocket, ETIMEDOUT, "Socket Error: write timed out", true);
        error = ETIMEDOUT;
        return -1;
      case TWait::Closed:
        error = ENOTCONN;
        return -1;
      case TWait::Failed:
        error = errno;
        SetError(etSocket, error, "Socket Error: " + ErrnoText(error));
        return -1;
    }
  }
  return written;
}

void TTlsConnection::Close() {
  if (closing_.exchange(true)) return;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  }
  if (connected_) {
    const std::lock_guard<std::mutex> guard(tlsLock_);
    ERR_clear_error();
    SSL_shutdown(ssl_);  // one try at close_notify; the socket does not wait for it
    ERR_clear_error();
  }
  const std::lock_guard<std::mutex> guard(stateLock_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace vorn::ravelink
