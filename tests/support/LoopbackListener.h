#pragma once
// A TCP listener on 127.0.0.1 at an ephemeral port, for tests that need a server to connect to.
// Connections that are never accepted still complete: the kernel holds them in the backlog, so
// a listener nobody calls Accept on plays a host that answers the connect and then stays silent.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vorn {

// The server's end of one accepted connection.
class TLoopbackPeer {
 public:
  explicit TLoopbackPeer(int fd) : fd_(fd) {}
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;
  ~TLoopbackPeer() { Close(); }

  // Reads until count bytes arrived, the client closed, or the time-out ran out; what arrived.
  std::string Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when the client closed its sending side within the time-out (bytes before it are
  // dropped).
  bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits at most timeout for bytes and reads up to size of them: the count read, 0 when the
  // other end has closed, -1 on a time-out or an error.
  long ReadSome(void* buffer, std::size_t size, std::chrono::milliseconds timeout);
  // Writes all of data; false when the connection failed.
  bool Write(std::string_view data);
  // Ends both directions but keeps the descriptor: safe while another thread waits to read on
  // this peer, which then sees the end.
  void Shutdown();
  // Closes the connection; with reset, the client gets a reset instead of an orderly end.
  void Close(bool reset = false);
  int Fd() const { return fd_; }

 private:
  int fd_;
};

class TLoopbackListener {
 public:
  TLoopbackListener() : TLoopbackListener(0) {}
  // Listens at a given port; 0 takes an ephemeral one.
  explicit TLoopbackListener(std::uint16_t port);
  TLoopbackListener(const TLoopbackListener&) = delete;
  TLoopbackListener& operator=(const TLoopbackListener&) = delete;
  ~TLoopbackListener();

  std::uint16_t Port() const { return port_; }
  int Fd() const { return fd_; }
  // The next connection, or nullptr when none came within the time-out.
  std::unique_ptr<TLoopbackPeer> Accept(
      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Stops listening: later connects to the port are refused.
  void Close();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A client connection to 127.0.0.1:port; nullptr when refused.
std::unique_ptr<TLoopbackPeer> ConnectLoopback(std::uint16_t port);

}  // namespace vorn
