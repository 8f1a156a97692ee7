#include "links/SSLConnection.h"

#include <memory>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "vornintf.h"

namespace vorn {

TSSLConnection::TSSLConnection(TClassAPI& api, TLinkKind kind, std::string certificateName,
                               TRandom random, TSSLSocket::TPause pause,
                               const TMessageTable* table)
    : TConnection(api, kind, std::move(random), table),
      certificateName_(std::move(certificateName)),
      pause_(std::move(pause)) {}

TSSLConnection::~TSSLConnection() {
  Shutdown();
}

std::int32_t TSSLConnection::BackOffTicks(std::int32_t failedConnects) {
  switch (failedConnects) {
    case 2:
      return 10;
    case 3:
      return 20;
    case 4:
      return 40;
    default:
      return failedConnects >= 5 && failedConnects <= 10 ? 60 : 5;
  }
}

bool TSSLConnection::OneTickFallback() const {
  return LinkLost() && Api().Links.FastFailover;
}

void TSSLConnection::CreateInitSocket() {
  BeginNewSocket("TSSLConnection.CreateInitSocket");
  // Every SSL socket, the price link's too, presents the host link's client certificate.
  InstallSocket(std::make_unique<TSSLSocket>(static_cast<ISSLSocketHandler&>(*this),
                                             RavelinkFilePath(),
                                             Api().Links.HostClientAuthName.Get(), pause_));
}

void TSSLConnection::ConnectSocket(const std::string& address, const std::string& port) {
  // An SSL link's socket is the TSSLSocket its CreateInitSocket made.
  auto& socket = static_cast<TSSLSocket&>(*Socket());
  socket.SetRemoteHost(address);
  socket.SetRemotePort(port);
  if (socket.Connect(certificateName_)) {
    // Ten failures in a row are fatal, not ten over the life of the link.
    if (socket.State() == TSocketState::Connected) failedConnects_ = 0;
    return;
  }
  if (++failedConnects_ == kFatalFailures) FatalConnectFailure();
}

void TSSLConnection::FatalConnectFailure() {
  const std::string line = std::string("Fatal Error: ") + kFatalText;
  WriteErrorLogLine(line);
  AddTraceEntry(tlNote, "TSSLConnection.Connect", line);
  WriteTraceLine(line);
  AddCallback(VN_CB_FORCED_LOGOUT, nullptr, 0);
  // As after a forced logout.
  Api().Logon.LoggedOn = true;
}

void TSSLConnection::ProcessSessionConnected() {
  AddTraceEntry(tlNote, " TSSLConnection.ProcessSessionConnected");
  if (Kind() == psHost) SendHandshake();
  TConnection::ProcessSessionConnected();
}

void TSSLConnection::SSLSocketChangeState(TSocketState oldState, TSocketState newState) {
  StateChanged(oldState, newState);
}

void TSSLConnection::SSLSocketDataAvailable(std::string_view bytes) {
  // The trace-file lines of the bytes applied here reach the file together.
  TTraceFileBatch batch;
  try {
    ReceiveBytes(bytes);
  } catch (...) {
    AddTraceEntry(tlNote, "TSSLConnection.SSLSocketDataAvailable", " fatal message handling");
  }
}

void TSSLConnection::SSLSocketSessionConnected() {
  SessionConnected();
}

void TSSLConnection::SSLSocketSessionClosed() {
  SessionClosed();
}

void TSSLConnection::SSLSocketThreadStopped() {
  ThreadStopped();
}

}  // namespace vorn
