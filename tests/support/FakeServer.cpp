#include "support/FakeServer.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "core/wire/FieldsList.h"

namespace vorn {
namespace {

constexpr std::size_t kReadChunk = 16384;

// OpenSSL's socket BIO writes with write(): a client that has gone would end the test process
// with SIGPIPE. This one is the socket BIO with its writes made through send(MSG_NOSIGNAL).
int NoSignalWrite(BIO* bio, const char* data, int length) {
  int fd = -1;
  BIO_get_fd(bio, &fd);
  for (;;) {
    const ssize_t sent = send(fd, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    BIO_clear_retry_flags(bio);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
    return -1;
  }
}

BIO_METHOD* NoSignalSocketMethod() {
  static BIO_METHOD* const method = [] {
    const BIO_METHOD* socket = BIO_s_socket();
    BIO_METHOD* result = BIO_meth_new(BIO_TYPE_SOCKET, "fake server socket");
    BIO_meth_set_write(result, NoSignalWrite);
    BIO_meth_set_read(result, BIO_meth_get_read(socket));
    BIO_meth_set_puts(result, BIO_meth_get_puts(socket));
    BIO_meth_set_ctrl(result, BIO_meth_get_ctrl(socket));
    BIO_meth_set_create(result, BIO_meth_get_create(socket));
    BIO_meth_set_destroy(result, BIO_meth_get_destroy(socket));
    return result;
  }();
  return method;
}

}  // namespace

const char* KindName(TFakeServerKind kind) {
  return kind == TFakeServerKind::Host ? "host" : "price";
}

void TServerWake::Notify() {
  {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  changed_.notify_all();
}

std::uint64_t TServerWake::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

bool TServerWake::WaitChange(std::uint64_t seen,
                             std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return count_ != seen; });
}

TFakeServer::TFakeServer(TFakeServerKind kind, std::uint16_t port,
                         std::shared_ptr<TServerWake> wake)
    : TFakeServer(kind, TFakeServerTls{}, port, std::move(wake)) {}

TFakeServer::TFakeServer(TFakeServerKind kind, const TFakeServerTls& tls, std::uint16_t port,
                         std::shared_ptr<TServerWake> wake)
    : kind_(kind), listener_(port), wake_(std::move(wake)) {
  if (!tls.CertFile.empty()) UseTls(tls);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("fake server: pipe failed");
  thread_ = std::thread([this] { Run(); });
}

void TFakeServer::UseTls(const TFakeServerTls& tls) {
  tlsContext_ = SSL_CTX_new(TLS_server_method());
  if (!tlsContext_ ||
      SSL_CTX_use_certificate_chain_file(tlsContext_, tls.CertFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(tlsContext_, tls.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(tlsContext_);
    tlsContext_ = nullptr;
    throw std::runtime_error("fake server: the TLS certificate or key cannot be used");
  }
  SSL_CTX_set_min_proto_version(tlsContext_, TLS1_2_VERSION);
  SSL_CTX_set_mode(tlsContext_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TFakeServer::~TFakeServer() {
  stopping_ = true;
  const char byte = 0;
  while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(stopPipe_[0]);
  close(stopPipe_[1]);
  SSL_CTX_free(tlsContext_);
}

bool TFakeServer::WaitWritable(int fd) {
  pollfd entries[2] = {{fd, POLLOUT, 0}, {stopPipe_[0], POLLIN, 0}};
  for (;;) {
    const int result = poll(entries, 2, 1000);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0 || stopping_) return false;
    return (entries[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
  }
}

SSL* TFakeServer::AcceptTls(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  SSL* ssl = SSL_new(tlsContext_);
  BIO* bio = ssl ? BIO_new(NoSignalSocketMethod()) : nullptr;
  if (!bio) {
    SSL_free(ssl);
    return nullptr;
  }
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(ssl, bio, bio);
  for (;;) {
    const int result = SSL_accept(ssl);
    if (result == 1) return ssl;
    const int error = SSL_get_error(ssl, result);
    const bool ready = error == SSL_ERROR_WANT_READ    ? WaitReadable(fd)
                       : error == SSL_ERROR_WANT_WRITE ? WaitWritable(fd)
                                                       : false;
    if (!ready) {
      ERR_clear_error();
      SSL_free(ssl);
      return nullptr;
    }
  }
}

long TFakeServer::ReadAvailable(TLoopbackPeer& peer, char* buffer, std::size_t size) {
  if (!ssl_) return peer.ReadSome(buffer, size, std::chrono::seconds(1));
  for (;;) {
    int result = 0;
    int error = 0;
    {
      std::lock_guard tls(tlsLock_);
      result = SSL_read(ssl_, buffer, static_cast<int>(size));
      if (result <= 0) error = SSL_get_error(ssl_, result);
    }
    if (result > 0) return result;
    if (error == SSL_ERROR_WANT_READ) {
      if (!WaitReadable(peer.Fd())) return 0;
      continue;
    }
    if (error == SSL_ERROR_WANT_WRITE) {
      if (!WaitWritable(peer.Fd())) return 0;
      continue;
    }
    ERR_clear_error();
    return 0;  // closed, or failed
  }
}

bool TFakeServer::WriteAll(std::string_view bytes) {
  if (!peer_) return false;
  if (!ssl_) return peer_->Write(bytes);
  while (!bytes.empty()) {
    int result = 0;
    int error = 0;
    {
      std::lock_guard tls(tlsLock_);
      result = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
      if (result <= 0) error = SSL_get_error(ssl_, result);
    }
    if (result > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(result));
      continue;
    }
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
      if (!WaitWritable(peer_->Fd())) return false;
      continue;
    }
    ERR_clear_error();
    return false;
  }
  return true;
}

bool TFakeServer::WaitReadable(int fd) {
  pollfd entries[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
  for (;;) {
    if (stopping_) return false;
    const int result = poll(entries, 2, -1);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || stopping_) return false;
    return entries[0].revents != 0;
  }
}

void TFakeServer::Run() {
  while (WaitReadable(listener_.Fd())) {
    // Ready already: the wait only bounds a connect that vanished meanwhile.
    if (auto peer = listener_.Accept(std::chrono::seconds(1))) Serve(std::move(peer));
  }
}

void TFakeServer::Serve(std::unique_ptr<TLoopbackPeer> peer) {
  TLoopbackPeer* const current = peer.get();
  SSL* ssl = nullptr;
  if (tlsContext_ && !(ssl = AcceptTls(current->Fd()))) return;
  int connection = 0;
  {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
    ssl_ = ssl;
    connection = ++connections_;
  }
  Push({TFakeEvent::TType::Connected, connection, {}});
  std::string pending;
  char chunk[kReadChunk];
  // Bytes OpenSSL has already decrypted do not show on the descriptor: read them before waiting.
  const auto pendingTls = [&] {
    if (!ssl) return false;
    std::lock_guard tls(tlsLock_);
    return SSL_pending(ssl) > 0;
  };
  while (pendingTls() || WaitReadable(current->Fd())) {
    const long count = ReadAvailable(*current, chunk, sizeof chunk);
    if (count <= 0) break;  // closed by the client, or by Disconnect
    pending.append(chunk, static_cast<std::size_t>(count));
    TakeFrames(pending, connection);
  }
  {
    std::lock_guard lock(mutex_);
    peer_.reset();
    ssl_ = nullptr;
  }
  SSL_free(ssl);
  if (!stopping_) Push({TFakeEvent::TType::Closed, connection, {}});
}

void TFakeServer::TakeFrames(std::string& pending, int connection) {
  std::size_t used = 0;
  while (pending.size() - used >= 2) {
    const auto high = static_cast<unsigned char>(pending[used]) & 0x7F;  // top bit ignored
    const std::size_t length = high * 256u + static_cast<unsigned char>(pending[used + 1]);
    if (pending.size() - used - 2 < length) break;
    if (length > 0)
      Push({TFakeEvent::TType::Message, connection, pending.substr(used + 2, length)});
    used += 2 + length;
  }
  pending.erase(0, used);
}

void TFakeServer::Push(TFakeEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  arrived_.notify_all();
  if (wake_) wake_->Notify();
}

std::optional<TFakeEvent> TFakeServer::NextEvent(int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !events_.empty(); }))
    return std::nullopt;
  TFakeEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::optional<TFakeEvent> TFakeServer::TryNextEvent() {
  return NextEvent(0);
}

namespace {

// Takes events from the server until one of the given type, within one overall time limit.
std::optional<TFakeEvent> NextOfType(TFakeServer& server, TFakeEvent::TType type, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    auto event = server.NextEvent(static_cast<int>(std::max<long>(0, left.count())));
    if (!event || event->Type == type) return event;
  }
}

}  // namespace

bool TFakeServer::WaitConnected(int timeoutMs) {
  return NextOfType(*this, TFakeEvent::TType::Connected, timeoutMs).has_value();
}

std::optional<std::string> TFakeServer::NextMessage(int timeoutMs) {
  auto event = NextOfType(*this, TFakeEvent::TType::Message, timeoutMs);
  if (!event) return std::nullopt;
  return std::move(event->Body);
}

bool TFakeServer::WaitClosed(int timeoutMs) {
  return NextOfType(*this, TFakeEvent::TType::Closed, timeoutMs).has_value();
}

bool TFakeServer::Send(std::string_view body) {
  return SendRaw(Frame(body));
}

bool TFakeServer::SendRaw(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  return WriteAll(bytes);
}

int TFakeServer::Disconnect(bool reset) {
  std::lock_guard lock(mutex_);
  if (!peer_) return connections_;
  if (reset) {
    // Only the reading side is shut, which sends nothing: the thread then sees the end and
    // closes the descriptor, and the zero linger turns that close into a reset.
    linger abort{1, 0};
    ::setsockopt(peer_->Fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::shutdown(peer_->Fd(), SHUT_RD);
  } else {
    peer_->Shutdown();
  }
  return connections_;
}

bool TFakeServer::IsConnected() const {
  std::lock_guard lock(mutex_);
  return peer_ != nullptr;
}

int TFakeServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

std::string Frame(std::string_view body) {
  if (body.size() > 0x7FFF) throw std::length_error("fake server: body longer than a frame");
  std::string frame;
  frame.reserve(body.size() + 2);
  frame += static_cast<char>(body.size() >> 8);
  frame += static_cast<char>(body.size() & 0xFF);
  frame += body;
  return frame;
}

std::string HostBody(std::string_view text) {
  std::string body(text);
  for (char& c : body)
    if (c == '|') c = kFieldSeparator;
  if (!body.empty() && body.back() != kFieldSeparator) body += kFieldSeparator;
  return body;
}

std::string ShowBody(std::string_view body) {
  std::string shown(body);
  for (char& c : shown)
    if (c == kFieldSeparator) c = '|';
  return shown;
}

std::string MessageCode(TFakeServerKind kind, std::string_view body) {
  if (kind == TFakeServerKind::PriceFeed) return std::string(body.substr(0, 4));
  TFieldsList fields;
  fields.SetFields(body);
  return fields.GetFieldValue("Msg", 0);
}

}  // namespace vorn
