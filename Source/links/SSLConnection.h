#pragma once
// A server link over the SSL socket: the plain link's reconnect cycle, sends, handshakes and
// receive path, with what differs for SSL: the socket, its connect (which blocks the heartbeat
// thread while the library connects), the count of failed connects with its back-off, the forced
// logout after ten of them, the one-tick fall-back only with fast failover, and the host
// handshake sent at once on connect.
//
// Threads and locks as TConnection (links/Connection.h). The SSL socket reports its connect on
// the heartbeat thread and the rest on its read thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "links/Connection.h"
#include "links/SSLSocket.h"

namespace vorn {

class TSSLConnection : public TConnection, private ISSLSocketHandler {
 public:
  // certificateName: the name the server's certificate must carry (empty: the host).
  TSSLConnection(TClassAPI& api, TLinkKind kind, std::string certificateName,
                 TRandom random = {}, TSSLSocket::TPause pause = {},
                 const TMessageTable* table = nullptr);
  // Shuts the link down first: its socket reports the close to this object.
  ~TSSLConnection() override;

  const std::string& CertificateName() const { return certificateName_; }
  // Counted connect failures since the last successful connect.
  std::int32_t FailedConnects() const { return failedConnects_; }

  // The counted failure that tells the application to shut down.
  static constexpr std::int32_t kFatalFailures = 10;
  static constexpr const char* kFatalText = "Unable to connect to SSL socket.  Shutting Down!";
  // Ticks between creating a socket and connecting it, after failedConnects counted failures.
  static std::int32_t BackOffTicks(std::int32_t failedConnects);

 protected:
  void ProcessSessionConnected() override;
  // Throws "SSL Library not found" / "Invalid SSL Library" from the socket's creation.
  void CreateInitSocket() override;
  void ConnectSocket(const std::string& address, const std::string& port) override;
  std::int32_t CreateInitDelay() const override { return BackOffTicks(failedConnects_); }
  bool OneTickFallback() const override;

 private:
  // ISSLSocketHandler
  void SSLSocketChangeState(TSocketState oldState, TSocketState newState) override;
  void SSLSocketDataAvailable(std::string_view bytes) override;
  void SSLSocketSessionConnected() override;
  void SSLSocketSessionClosed() override;
  void SSLSocketThreadStopped() override;

  // The tenth counted failure: the error log and the trace say so, and the application gets
  // the forced logout (no message box: the library runs headless).
  void FatalConnectFailure();

  const std::string certificateName_;
  const TSSLSocket::TPause pause_;
  std::atomic<std::int32_t> failedConnects_{0};
};

}  // namespace vorn
