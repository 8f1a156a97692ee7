#include "links/SSLSocket.h"

#include <cerrno>
#include <thread>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "platform/Socket.h"

namespace vorn {
namespace {

constexpr int kTimedOut = 10060;

void DefaultPause(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

// A connect failure that says nothing about the certificate or the library's set-up: the server
// is away or went away. It does not count towards the fatal number of failures.
bool Uncounted(const std::string& text) {
  return text.empty() || text == kSSLServerDisconnected ||
         text.find(kSSLHostUnreachable) != std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Read thread

void TWSSLEventThread::Start() {
  thread_.Start([this](TThreadControl&) { Execute(); });
}

void TWSSLEventThread::Join() {
  Terminate();
  thread_.Stop();
}

void TWSSLEventThread::Execute() {
  char buffer[TSSLSocket::kReadSize];
  bool stopped = false;
  for (;;) {
    if (terminated_.load(std::memory_order_acquire)) break;
    if (socket_.stop_.load(std::memory_order_acquire)) {
      stopped = true;
      break;
    }
    int error = 0;
    const int count = socket_.Read(buffer, error);
    if (count == 0) {
      socket_.Disconnect();
      break;
    }
    if (count < 0) {
      if (WSAErrorFromErrno(error) == kTimedOut) continue;
      if (socket_.Handle() != 0) socket_.GetLastSocketError(true);
      socket_.Disconnect();
      break;
    }
    socket_.handler_.SSLSocketDataAvailable(
        std::string_view(buffer, static_cast<std::size_t>(count)));
  }
  if (stopped) socket_.handler_.SSLSocketThreadStopped();
  if (DebugFlagOn(kDebugDebugging)) WriteTraceLine("TWSSLEventThread Socket thread finished");
}

// ---------------------------------------------------------------------------------------------
// Socket

TSSLSocket::TSSLSocket(ISSLSocketHandler& handler, const std::string& libraryPath,
                       std::string clientAuthName, TPause pause)
    : handler_(handler),
      clientAuthName_(std::move(clientAuthName)),
      pause_(pause ? std::move(pause) : TPause(DefaultPause)) {
  if (libraryPath.empty() || !library_.Load(libraryPath)) {
    AddTraceEntry(tlNote, "TSSLSocket.Create",
                  "SSL Library not found: " + (libraryPath.empty() ? std::string("no path")
                                                                   : library_.Error()));
    throw Exception("SSL Library not found");
  }
  getHandle_ = library_.Function<TSSLGetHandle>("SSL_GetHandle");
  setKeepAlive_ = library_.Function<TSSLSetKeepAlive>("SSL_SetKeepAlive");
  connect_ = library_.Function<TSSLConnect>("SSL_Connect");
  setClientCertName_ = library_.Function<TSSLSetClientCertName>("SSL_SetClientCertName");
  close_ = library_.Function<TSSLClose>("SSL_Close");
  getLastError_ = library_.Function<TSSLGetLastError>("SSL_GetLastError");
  getLastErrorValue_ = library_.Function<TSSLGetLastErrorValue>("SSL_GetLastErrorValue");
  getLastErrorType_ = library_.Function<TSSLGetLastErrorType>("SSL_GetLastErrorType");
  isLastErrorBlocking_ = library_.Function<TSSLIsLastErrorBlocking>("SSL_IsLastErrorBlocking");
  read_ = library_.Function<TSSLRead>("SSL_Read");
  write_ = library_.Function<TSSLWrite>("SSL_Write");
  for (const char* name : kSSLEntryNames) {
    if (!library_.Symbol(name)) {
      AddTraceEntry(tlNote, "TSSLSocket.Create",
                    std::string("Invalid SSL Library: ") + name + " not found in " + libraryPath);
      library_.Unload();
      throw Exception("Invalid SSL Library");
    }
  }
}

TSSLSocket::~TSSLSocket() {
  // The close comes first: it ends a read in progress, so the join does not wait for the read's
  // time-out.
  if (readThread_) readThread_->Terminate();
  Disconnect();
  CloseHandle();
  readThread_.reset();
}

void TSSLSocket::SetRemoteHost(const std::string& text) {
  std::lock_guard guard(hostLock_);
  if (remoteHost_ == text) return;
  remoteHost_ = text;
  if (DebugFlagOn(kDebugDebugging)) WriteTraceLine("Socket SetRemoteHost " + text);
}

void TSSLSocket::SetRemotePort(const std::string& text) {
  std::int32_t port = 0;
  if (!TryStrToInt(text, port) || port < 0) port = 0;
  if (remotePort_.exchange(port, std::memory_order_relaxed) != port &&
      DebugFlagOn(kDebugDebugging))
    WriteTraceLine("Socket SetRemotePort " + text);
}

std::string TSSLSocket::RemoteHost() const {
  std::lock_guard guard(hostLock_);
  return remoteHost_;
}

bool TSSLSocket::ConnectionEstablished() const {
  return State() == TSocketState::Connected && !closing_.load(std::memory_order_acquire);
}

void TSSLSocket::ChangeState(TSocketState newState) {
  const TSocketState oldState = state_.exchange(newState, std::memory_order_acq_rel);
  handler_.SSLSocketChangeState(oldState, newState);
}

void TSSLSocket::CloseHandle() {
  const std::int32_t handle = handle_.exchange(0, std::memory_order_acq_rel);
  if (handle != 0) close_(handle);
}

bool TSSLSocket::Connect(const std::string& certificateName) {
  const std::string host = RemoteHost();
  const std::int32_t port = RemotePort();
  const char* refusal = nullptr;
  const char* routine = "TSSLSocket.Connect";
  if (Handle() != 0 || State() != TSocketState::Closed || closing_) {
    refusal = "Exception: Connect: Socket already in use";
  } else if (port == 0) {
    refusal = "Exception: Connect: No Port Specified";
    routine = "TWSocket.Connect";
  } else if (host.empty()) {
    refusal = "Exception: Connect: No IP Address Specified";
    routine = "TWSocket.Connect";
  }
  if (refusal) {
    AddTraceEntry(tlNote, routine, refusal);
    return true;
  }
  if (DebugFlagOn(kDebugDebugging)) WriteTraceLine(" Socket Connect - SSL.socket " + host);
  ChangeState(TSocketState::Connecting);
  if (!clientAuthName_.empty()) setClientCertName_(0, clientAuthName_.c_str());
  const std::int32_t handle = getHandle_();
  handle_.store(handle, std::memory_order_release);
  setKeepAlive_(handle, 1);
  const std::int32_t result =
      handle != 0 ? connect_(handle, host.c_str(), port, kConnectTimeoutSeconds,
                             certificateName.c_str())
                  : 0;
  if ((result & 0xFF) != 0) {
    ChangeState(TSocketState::Connected);
    handler_.SSLSocketSessionConnected();
    readThread_ = std::make_unique<TWSSLEventThread>(*this);
    readThread_->Start();
    return true;
  }
  // The text first, then the handle goes: a failed attempt keeps nothing of the library's.
  const std::string text = handle != 0 ? GetLastSocketError(false) : "SSL Error: no handle";
  CloseHandle();
  const std::string line = "Unable to log into SSL socket. Error message is " + text;
  WriteErrorLogLine(line);
  AddTraceEntry(tlNote, routine, line);
  ChangeState(TSocketState::Closed);
  pause_(kFailurePause);
  return Uncounted(text);
}

int TSSLSocket::SendBytes(const void* data, int len) {
  std::lock_guard guard(lock_);
  const std::int32_t handle = Handle();
  if (handle == 0 || State() != TSocketState::Connected) return -1;
  const int sent = write_(handle, data, len);
  if (sent < 1) GetLastSocketError(true);
  return sent;
}

int TSSLSocket::Read(char* buffer, int& error) {
  const std::int32_t handle = Handle();
  if (handle == 0) {
    error = ENOTCONN;
    return -1;
  }
  errno = 0;
  const int count = read_(handle, buffer, kReadSize);
  error = errno;  // before anything else can change it
  return count;
}

void TSSLSocket::Disconnect() {
  if (State() == TSocketState::Closed || closing_.exchange(true, std::memory_order_acq_rel))
    return;
  CloseHandle();
  AddTraceEntry(tlNote, "TSSLSocket.Disconnect");
  ChangeState(TSocketState::Closed);
  handler_.SSLSocketSessionClosed();
}

std::string TSSLSocket::GetLastSocketError(bool log) {
  const char* text = getLastError_(Handle());
  std::string result = text ? text : "";
  if (log) AddTraceEntry(tlNote, "TSSLSocket.GetLastSocketError", result);
  return result;
}

void TSSLSocket::StopSocketThread() {
  stop_.store(true, std::memory_order_release);
}

}  // namespace vorn
