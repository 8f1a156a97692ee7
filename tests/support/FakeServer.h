#pragma once
// A fake host or fake price feed on loopback: a listener on an ephemeral port with a thread of
// its own that accepts one client connection at a time (the next one after a disconnect, for
// reconnect tests), cuts the received bytes into frames and queues them as events. The test
// side takes the events and sends frames back.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "support/LoopbackListener.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace vorn {

enum class TFakeServerKind { Host, PriceFeed };

const char* KindName(TFakeServerKind kind);

// A counter that wakes its waiters on every change; one signal can serve several servers, so
// that a single thread waits for whichever of them has something.
class TServerWake {
 public:
  void Notify();
  std::uint64_t Count() const;
  // Waits until the count differs from seen or the deadline passes; true when it changed.
  bool WaitChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t count_ = 0;
};

// A server certificate and key (PEM files): the server speaks TLS on every connection.
struct TFakeServerTls {
  std::string CertFile;
  std::string KeyFile;
};

struct TFakeEvent {
  enum class TType { Connected, Message, Closed };
  TType Type = TType::Message;
  int Connection = 0;  // number of the accepted connection, from 1
  std::string Body;    // a message's body, without the length word
};

class TFakeServer {
 public:
  // Listens on 127.0.0.1 at port (0: ephemeral) and starts the thread. Events also notify wake.
  explicit TFakeServer(TFakeServerKind kind, std::uint16_t port = 0,
                       std::shared_ptr<TServerWake> wake = nullptr);
  // Over TLS unless tls.CertFile is empty (throws std::runtime_error when the certificate or key
  // cannot be used). A connection whose handshake fails is closed without a Connected event.
  TFakeServer(TFakeServerKind kind, const TFakeServerTls& tls, std::uint16_t port = 0,
              std::shared_ptr<TServerWake> wake = nullptr);
  TFakeServer(const TFakeServer&) = delete;
  TFakeServer& operator=(const TFakeServer&) = delete;
  // Closes any connection, stops and joins the thread.
  ~TFakeServer();

  TFakeServerKind Kind() const { return kind_; }
  std::uint16_t Port() const { return listener_.Port(); }

  // The next event, waiting at most timeoutMs; none on a time-out.
  std::optional<TFakeEvent> NextEvent(int timeoutMs);
  std::optional<TFakeEvent> TryNextEvent();
  // Skips to the next Connected event; false on a time-out.
  bool WaitConnected(int timeoutMs);
  // The next message body, skipping connect and close events; none on a time-out.
  std::optional<std::string> NextMessage(int timeoutMs);
  // Waits for the current connection to be closed by the client; false on a time-out.
  bool WaitClosed(int timeoutMs);

  // Frames the body and sends it on the current connection; false when there is none.
  bool Send(std::string_view body);
  // Sends bytes as they are (split or malformed frames).
  bool SendRaw(std::string_view bytes);
  // Closes the current connection from the server's side; its Closed event is still queued.
  // With reset the client gets a reset (SO_LINGER 0) instead of an orderly end, even with bytes
  // of its own still unread. Returns the number of the last connection accepted before it:
  // later ones are new.
  int Disconnect(bool reset = false);

  bool IsConnected() const;
  // Connections accepted so far.
  int Connections() const;

 private:
  void Run();
  void Serve(std::unique_ptr<TLoopbackPeer> peer);
  void TakeFrames(std::string& pending, int connection);
  void Push(TFakeEvent event);
  // Waits (poll) for the descriptor or the stop pipe; true when fd is ready.
  bool WaitReadable(int fd);
  bool WaitWritable(int fd);
  void UseTls(const TFakeServerTls& tls);
  // TLS: the handshake on a non-blocking descriptor; null when it failed or the server stops.
  SSL* AcceptTls(int fd);
  // Reads what there is: as ReadSome, plain or TLS (tlsLock_ held only around SSL_read).
  long ReadAvailable(TLoopbackPeer& peer, char* buffer, std::size_t size);
  bool WriteAll(std::string_view bytes);  // mutex_ held

  const TFakeServerKind kind_;
  TLoopbackListener listener_;
  std::shared_ptr<TServerWake> wake_;
  int stopPipe_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable arrived_;
  std::deque<TFakeEvent> events_;
  std::unique_ptr<TLoopbackPeer> peer_;  // the current connection; closed only by the thread
  int connections_ = 0;

  // TLS: the context, and the current connection's session (set and freed by the thread under
  // mutex_). tlsLock_ is held around each SSL_read and SSL_write (the test thread writes while
  // the server's thread reads), never while waiting.
  SSL_CTX* tlsContext_ = nullptr;
  SSL* ssl_ = nullptr;
  std::mutex tlsLock_;

  std::thread thread_;  // last: started once everything above exists
};

// The frame of a body: a 2-byte big-endian length word, then the body.
std::string Frame(std::string_view body);
// A host body from script text: '|' stands for the 0x01 item end, which is added after the last
// item when missing.
std::string HostBody(std::string_view text);
// Shows a host body with '|' for 0x01, for messages.
std::string ShowBody(std::string_view body);
// The code of a body: the "Msg" value of a host body, the first four characters of a price one.
std::string MessageCode(TFakeServerKind kind, std::string_view body);

}  // namespace vorn
