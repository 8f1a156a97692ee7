#pragma once
// An OpenSSL BIO over a non-blocking TCP socket that sends with MSG_NOSIGNAL, so a peer that
// resets the connection during a write gives an error, never a SIGPIPE. Its method table is made
// per connection and freed with it, so nothing in OpenSSL points into this library once the
// connection is gone.

#include <openssl/bio.h>

namespace vorn::ravelink {

class TSocketBio {
 public:
  TSocketBio();
  TSocketBio(const TSocketBio&) = delete;
  TSocketBio& operator=(const TSocketBio&) = delete;
  ~TSocketBio();

  // A BIO over fd (not owned), for SSL_set_bio; null when OpenSSL cannot make one. Call once.
  BIO* Attach(int fd);

  // What the socket said, for telling a closed or reset peer from a TLS failure. Read and written
  // only under the connection's TLS lock.
  bool PeerClosed() const { return peerClosed_; }
  int LastErrno() const { return lastErrno_; }

 private:
  static int Write(BIO* bio, const char* data, int size);
  static int Read(BIO* bio, char* buffer, int size);
  static long Control(BIO* bio, int command, long number, void* pointer);

  BIO_METHOD* method_ = nullptr;
  int fd_ = -1;
  bool peerClosed_ = false;
  int lastErrno_ = 0;
};

}  // namespace vorn::ravelink
