#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>

namespace vorn {
namespace {

// Waits for input on fd until the deadline; false on a time-out.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

std::string TLoopbackPeer::Read(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string data;
  char buffer[8192];
  while (fd_ >= 0 && data.size() < count && WaitReadable(fd_, deadline)) {
    const std::size_t want = std::min(sizeof buffer, count - data.size());
    const ssize_t got = ::recv(fd_, buffer, want, 0);
    if (got <= 0) break;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  return data;
}

bool TLoopbackPeer::WaitForEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[8192];
  while (fd_ >= 0 && WaitReadable(fd_, deadline)) {
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got == 0) return true;
    if (got < 0) return errno == ECONNRESET;
  }
  return false;
}

long TLoopbackPeer::ReadSome(void* buffer, std::size_t size, std::chrono::milliseconds timeout) {
  if (fd_ < 0 || !WaitReadable(fd_, std::chrono::steady_clock::now() + timeout)) return -1;
  for (;;) {
    const ssize_t got = ::recv(fd_, buffer, size, 0);
    if (got >= 0) return got;
    if (errno != EINTR) return errno == ECONNRESET ? 0 : -1;
  }
}

void TLoopbackPeer::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

bool TLoopbackPeer::Write(std::string_view data) {
  while (fd_ >= 0 && !data.empty()) {
    const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return fd_ >= 0;
}

void TLoopbackPeer::Close(bool reset) {
  if (fd_ < 0) return;
  if (reset) {
    linger abort{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  ::close(fd_);
  fd_ = -1;
}

TLoopbackListener::TLoopbackListener(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("listener: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t size = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, 64) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    Close();
    throw std::runtime_error("listener: cannot listen on loopback port " + std::to_string(port));
  }
  port_ = ntohs(address.sin_port);
}

TLoopbackListener::~TLoopbackListener() {
  Close();
}

std::unique_ptr<TLoopbackPeer> TLoopbackListener::Accept(std::chrono::milliseconds timeout) {
  if (fd_ < 0 || !WaitReadable(fd_, std::chrono::steady_clock::now() + timeout)) return nullptr;
  const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) return nullptr;
  return std::make_unique<TLoopbackPeer>(peer);
}

std::unique_ptr<TLoopbackPeer> ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TLoopbackPeer>(fd);
}

void TLoopbackListener::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vorn
