#include "SocketBio.h"

#include <errno.h>
#include <sys/socket.h>

namespace vorn::ravelink {
namespace {

// A fixed type number: BIO_get_new_index would hand out a new one on every load of the library
// and run out after a hundred or so reconnects.
constexpr int kSocketBioType = 0xF0 | BIO_TYPE_SOURCE_SINK;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

TSocketBio::TSocketBio() {
  method_ = BIO_meth_new(kSocketBioType, "ravelink socket");
  if (!method_) return;
  BIO_meth_set_write(method_, &TSocketBio::Write);
  BIO_meth_set_read(method_, &TSocketBio::Read);
  BIO_meth_set_ctrl(method_, &TSocketBio::Control);
}

TSocketBio::~TSocketBio() { BIO_meth_free(method_); }

BIO* TSocketBio::Attach(int fd) {
  if (!method_) return nullptr;
  BIO* bio = BIO_new(method_);
  if (!bio) return nullptr;
  fd_ = fd;
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  return bio;
}

int TSocketBio::Write(BIO* bio, const char* data, int size) {
  auto* self = static_cast<TSocketBio*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t sent = ::send(self->fd_, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  if (sent >= 0) return static_cast<int>(sent);
  if (WouldBlock(errno)) {
    BIO_set_retry_write(bio);
  } else {
    self->lastErrno_ = errno;
  }
  return -1;
}

int TSocketBio::Read(BIO* bio, char* buffer, int size) {
  auto* self = static_cast<TSocketBio*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t received = ::recv(self->fd_, buffer, static_cast<std::size_t>(size), 0);
  if (received > 0) return static_cast<int>(received);
  if (received == 0) {
    self->peerClosed_ = true;
    return 0;
  }
  if (WouldBlock(errno)) {
    BIO_set_retry_read(bio);
  } else {
    self->lastErrno_ = errno;
  }
  return -1;
}

long TSocketBio::Control(BIO* bio, int command, long, void*) {
  const auto* self = static_cast<const TSocketBio*>(BIO_get_data(bio));
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      // As the socket BIO: OpenSSL then reports an end of stream without close_notify as such.
      return self && self->peerClosed_ ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace vorn::ravelink
