#include "links/WSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>

#include "core/diag/Trace.h"

namespace vorn {
namespace {

constexpr int kCloseCountdownWaits = 3;
constexpr auto kAnnounceWait = std::chrono::milliseconds(10000);
constexpr auto kSendWouldBlockLimit = std::chrono::milliseconds(5000);
constexpr std::uint64_t kMaxPortNumber = 65535;

constexpr const char* kThreadRoutine = "*TWSocketEventThread.Execute";

bool SocketDebugOn() {
  return DebugFlagOn(kDebugDebugging);
}

// A step of the socket: traced only with the socket debug switch on.
void DebugTrace(std::string_view routine, const std::string& text) {
  if (!SocketDebugOn()) return;
  AddTraceEntry(tlNote, routine, text);
  WriteTraceLine(std::string(routine) + ": " + text);
}

// A failure: always in the trace ring, in the trace file with the socket debug switch on.
void ErrorTrace(std::string_view routine, const std::string& text) {
  AddTraceEntry(tlNote, routine, text);
  if (SocketDebugOn()) WriteTraceLine(std::string(routine) + ": " + text);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The decimal number at the start of the text, saturated above 2^32.
std::uint64_t LeadingNumber(const std::string& text) {
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return 0x100000000ull;
  }
  return value;
}

std::uint16_t HostToNet16(std::uint16_t value) {
  return static_cast<std::uint16_t>(((value & 0xFF) << 8) | (value >> 8));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Event thread

void TWSocketEventThread::Start() {
  terminated_.store(false, std::memory_order_release);
  thread_.Start([this](TThreadControl&) { Execute(); });
}

void TWSocketEventThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  socket_.terminating_.store(true, std::memory_order_release);
  socket_.wake_.Signal();
  thread_.Stop();
}

void TWSocketEventThread::Execute() {
  socket_.EventLoop(*this);
}

// ---------------------------------------------------------------------------------------------

TWSocket::TWSocket(ISocketHandler& handler, bool keepAlive)
    : handler_(handler), keepAlive_(keepAlive) {
  std::lock_guard lock(fieldsLock_);
  ResetFields();
}

TWSocket::~TWSocket() {
  if (State() != TSocketState::Closed) Close();
  // Joined before anything it uses is freed; no lock is held here.
  EventThread.reset();
  // A socket whose Connect stopped before the event thread took the handle.
  std::lock_guard send(SendLock);
  std::lock_guard handle(handleLock_);
  HSocket_.Close();
}

void TWSocket::ResetFields() {
  SockAddr_ = 0;
  SockPort_ = 0;
  PortAssigned_ = false;
  AddrAssigned_ = false;
  ProtoAssigned_ = true;
  Proto_ = 6;
}

void TWSocket::SocketError(const std::string& operation, int code) {
  ErrorTrace("TWSocket.SocketError", operation + ": " + WinSockErrorText(code));
}

bool TWSocket::PortAssigned() const {
  std::lock_guard lock(fieldsLock_);
  return PortAssigned_;
}

bool TWSocket::AddrAssigned() const {
  std::lock_guard lock(fieldsLock_);
  return AddrAssigned_;
}

bool TWSocket::ProtoAssigned() const {
  std::lock_guard lock(fieldsLock_);
  return ProtoAssigned_;
}

bool TWSocket::ConnectionEstablished() const {
  if (closeRequested_.load(std::memory_order_acquire)) return false;
  const TSocketState state = State();
  if (state == TSocketState::Connected) return true;
  if (state != TSocketState::Connecting) return false;
  std::lock_guard lock(handleLock_);
  return HSocket_.Valid() && PeerConnected(HSocket_.Fd());
}

int TWSocket::HSocket() const {
  std::lock_guard lock(handleLock_);
  return HSocket_.Fd();
}

void TWSocket::SetProto(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ')
    ++start;
  int number = 0;
  bool known = true;
  if (start < text.size() && IsDigit(text[start])) {
    const std::uint64_t value = LeadingNumber(text.substr(start));
    known = value <= 0x7FFFFFFF;
    number = static_cast<int>(value);
  } else {
    known = LookupProtocol(text, number) == 0;
  }
  std::lock_guard lock(fieldsLock_);
  ProtoAssigned_ = known;
  if (known) Proto_ = number;
}

void TWSocket::SetPort(const std::string& text) {
  std::uint16_t port = 0;
  int code = 0;
  if (!text.empty() && IsDigit(text[0])) {
    // A larger number would wrap to some other port.
    const std::uint64_t value = LeadingNumber(text);
    if (value > kMaxPortNumber)
      code = kWSAEINVAL;
    else
      port = static_cast<std::uint16_t>(value);
  } else {
    int protocol = 0;
    {
      std::lock_guard lock(fieldsLock_);
      protocol = Proto_;
    }
    code = LookupServicePort(text, ProtocolName(protocol), port);
  }
  {
    std::lock_guard lock(fieldsLock_);
    PortAssigned_ = code == 0;
    if (code == 0) SockPort_ = HostToNet16(port);
  }
  if (code != 0) SocketError("SetPort: Cannot convert port", code);
}

void TWSocket::SetAddr(const std::string& text) {
  std::uint32_t address = 0;
  const int code = ResolveIPv4(text, address);
  {
    std::lock_guard lock(fieldsLock_);
    Addr_ = text;
    AddrAssigned_ = code == 0;
    if (code == 0) SockAddr_ = address;
  }
  if (code != 0) ErrorTrace("TWSocket.SetAddr", "Exception: SetAddr: Cannot convert host address");
}

std::string TWSocket::GetAddr() const {
  const TSocketState state = State();
  if (state == TSocketState::Connected || state == TSocketState::Bound ||
      state == TSocketState::Listening) {
    std::lock_guard lock(handleLock_);
    std::uint32_t local = 0;
    if (!HSocket_.Valid() || LocalAddress(HSocket_.Fd(), local) != 0) return "not found";
    return IPv4Text(local);
  }
  std::lock_guard lock(fieldsLock_);
  if (!AddrAssigned_) return {};
  return IPv4Text(SockAddr_);
}

std::string TWSocket::GetProto() const {
  int protocol = 0;
  {
    std::lock_guard lock(fieldsLock_);
    protocol = Proto_;
  }
  std::string name = ProtocolName(protocol);
  return name.empty() ? "not found" : name;
}

// ---------------------------------------------------------------------------------------------
// State changes. The state is stored before the handler hears of it, so a handler that sends on
// Connected finds the socket connected. Opened and Connecting are announced by Connect on the
// caller's thread; the event thread announces nothing before Connect has finished announcing,
// so the handler sees the changes in order and never two at once.

void TWSocket::NotifyStateChange(TSocketState oldState, TSocketState newState) {
  try {
    handler_.SocketChangeState(*this, oldState, newState);
  } catch (const std::exception& e) {
    ErrorTrace("TWSocket.ChangeState",
               std::string("Error executing OnStateChange procedure: ") + e.what());
  } catch (...) {
    ErrorTrace("TWSocket.ChangeState", "Error executing OnStateChange procedure");
  }
}

void TWSocket::ChangeState(TSocketState newState, const char* waitResult) {
  TSocketState oldState;
  {
    std::lock_guard lock(stateLock_);
    oldState = State_.exchange(newState, std::memory_order_acq_rel);
  }
  if (waitResult != nullptr)
    DebugTrace("TWSocket.ChangeState", std::string("StateChanged result = ") + waitResult + " " +
                                           SocketStateName(newState) + "/" +
                                           SocketStateName(oldState));
  NotifyStateChange(oldState, newState);
}

void TWSocket::CloseHandleAndChangeState(TSocketState newState) {
  TSocketState oldState;
  {
    // SendLock first: no Send is using the descriptor while it is closed.
    std::lock_guard send(SendLock);
    std::lock_guard handle(handleLock_);
    HSocket_.Close();
    std::lock_guard state(stateLock_);
    oldState = State_.exchange(newState, std::memory_order_acq_rel);
  }
  NotifyStateChange(oldState, newState);
}

void TWSocket::FinishAnnouncing() {
  {
    std::lock_guard lock(stateLock_);
    announcing_ = false;
  }
  announced_.notify_all();
}

// ---------------------------------------------------------------------------------------------

void TWSocket::Connect() {
  constexpr const char* kRoutine = "TWSocket.Connect";
  // The event thread of an earlier connection cannot be replaced from inside itself.
  if (State() != TSocketState::Closed || (EventThread && EventThread->IsCurrentThread())) {
    ErrorTrace(kRoutine, "Exception: Connect: Socket already in use");
    return;
  }
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  int protocol = 0;
  std::string addrText;
  {
    std::lock_guard lock(fieldsLock_);
    const char* refusal = nullptr;
    if (!PortAssigned_)
      refusal = "Exception: Connect: No Port Specified";
    else if (!AddrAssigned_)
      refusal = "Exception: Connect: No IP Address Specified";
    else if (!ProtoAssigned_)
      refusal = "Exception: Connect: No Protocol Specified";
    if (refusal != nullptr) {
      ErrorTrace(kRoutine, refusal);
      return;
    }
    address = SockAddr_;
    port = SockPort_;
    protocol = Proto_;
    addrText = Addr_;
  }
  // The thread of an earlier connection has closed its handle; let it end.
  EventThread.reset();
  threadAddr_ = std::move(addrText);
  wake_.Drain();
  closeRequested_.store(false);
  CloseCountdown.store(0);
  Stop.store(false);
  terminating_.store(false);
  endOfStream_.store(false);
  receiveFailure_.store(0);

  TSocketHandle handle;
  if (const int error = OpenStreamSocket(protocol, handle); error != 0) {
    SocketError("Connect (socket)", WSAErrorFromErrno(error));
    return;
  }
  int fd = handle.Fd();
  {
    std::lock_guard send(SendLock);
    std::lock_guard lock(handleLock_);
    HSocket_ = std::move(handle);
  }
  {
    std::lock_guard lock(stateLock_);
    announcing_ = true;
  }
  struct TAnnouncing {
    TWSocket& socket;
    ~TAnnouncing() { socket.FinishAnnouncing(); }
  } announcing{*this};

  ChangeState(TSocketState::Opened);
  if (State() != TSocketState::Opened) return;  // closed by the handler

  const struct {
    TSocketOption Option;
    bool On;
  } options[] = {{TSocketOption::Linger, false},      {TSocketOption::ReceiveTimeout, false},
                 {TSocketOption::SendTimeout, false}, {TSocketOption::KeepAlive, keepAlive_},
                 {TSocketOption::ReuseAddr, true},    {TSocketOption::NoDelay, true}};
  for (const auto& option : options)
    if (const int error = SetSocketOption(fd, option.Option, option.On); error != 0)
      SocketError(SocketOptionName(option.Option), WSAErrorFromErrno(error));

  if (SetNonBlocking(fd) != 0) {
    ErrorTrace("TWSocket.Create", "Error registering events");
    CloseHandleAndChangeState(TSocketState::Closed);
    return;
  }
  if (const int error = StartConnect(fd, address, port); error != 0 && error != EINPROGRESS) {
    // Nothing will ever complete this connect: close it rather than leave it open.
    SocketError("Connect", WSAErrorFromErrno(error));
    CloseHandleAndChangeState(TSocketState::Closed);
    return;
  }
  threadActive_.store(true, std::memory_order_release);
  EventThread = std::make_unique<TWSocketEventThread>(*this);
  EventThread->Start();
  ChangeState(TSocketState::Connecting, "wrSignaled");
}

int TWSocket::Send(const void* data, int len) {
  std::lock_guard lock(SendLock);
  if (State() != TSocketState::Connected) return -1;
  int fd = kInvalidSocket;
  {
    std::lock_guard handle(handleLock_);
    fd = HSocket_.Fd();
  }
  if (fd == kInvalidSocket) return -1;
  if (len <= 0 || data == nullptr) return 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const auto deadline = std::chrono::steady_clock::now() + kSendWouldBlockLimit;
  int sent = 0;
  while (sent < len) {
    int error = 0;
    const ssize_t count =
        SendNoSignal(fd, bytes + sent, static_cast<std::size_t>(len - sent), error);
    if (count > 0) {
      sent += static_cast<int>(count);
      BytesSent_.fetch_add(count, std::memory_order_relaxed);
      continue;
    }
    if (count == 0) error = EAGAIN;
    const int code = WSAErrorFromErrno(error);
    ErrorTrace("TWSocket.Send", std::string("Socket Err: ") + WinSockErrorText(code));
    if (code == kWSAEWOULDBLOCK) {
      // The peer is not reading: wait for room, 5 s in all.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !WaitWritable(fd, static_cast<int>(left.count()))) break;
      continue;
    }
    sent = 0;
    Close();
    break;
  }
  return sent;
}

int TWSocket::Receive(void* buffer, int len) {
  if (len < 0) len = 0;
  std::lock_guard lock(handleLock_);
  if (!HSocket_.Valid()) {
    LastError_.store(WSAErrorFromErrno(EBADF), std::memory_order_relaxed);
    return -1;
  }
  int error = 0;
  const ssize_t count = ReceiveBytes(HSocket_.Fd(), buffer, static_cast<std::size_t>(len), error);
  if (count < 0) {
    const int code = WSAErrorFromErrno(error);
    LastError_.store(code, std::memory_order_relaxed);
    if (code != kWSAEWOULDBLOCK) receiveFailure_.store(error, std::memory_order_relaxed);
    return -1;
  }
  // A read of nothing from a non-empty buffer is the end of the stream.
  if (count == 0 && len > 0) endOfStream_.store(true, std::memory_order_relaxed);
  BytesReceived_.fetch_add(count, std::memory_order_relaxed);
  return static_cast<int>(count);
}

void TWSocket::Close() {
  if (State() == TSocketState::Closed) return;
  {
    std::lock_guard lock(handleLock_);
    if (threadActive_.load(std::memory_order_acquire)) {
      // Both directions: the event thread sees the hang-up at once and closes the handle.
      int result = 0;
      if (HSocket_.Valid()) result = ShutdownSocket(HSocket_.Fd(), TShutdown::Both);
      closeRequested_.store(true, std::memory_order_release);
      CloseCountdown.store(kCloseCountdownWaits, std::memory_order_release);
      DebugTrace("TWSocket.Close",
                 " waiting for thread: shutdown result = " + std::to_string(result == 0 ? 0 : -1));
      wake_.Signal();
      return;
    }
  }
  CloseHandleAndChangeState(TSocketState::Closed);
  std::lock_guard lock(fieldsLock_);
  ResetFields();
}

void TWSocket::StopSocketThread() {
  Stop.store(true, std::memory_order_release);
  wake_.Signal();
}

bool TWSocket::ReadInterrupted() const {
  return closeRequested_.load(std::memory_order_acquire) ||
         Stop.load(std::memory_order_acquire) || terminating_.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------------------------
// The event loop: poll in place of the network events. Connect completes when the socket turns
// writable (its error from SO_ERROR); data is input, read by the handler; the session ends on a
// hang-up of the peer or of our own Close, on a read of nothing (the end of the stream), or on a
// socket error. The wake signal in the poll set ends a wait at once for Close, StopSocketThread
// and Terminate.

bool TWSocket::EndRequested(const TWSocketEventThread& thread) const {
  return thread.Terminated() || Stop.load(std::memory_order_acquire);
}

bool TWSocket::AwaitAnnouncements(TWSocketEventThread& thread) {
  std::unique_lock lock(stateLock_);
  // Terminate wakes the poll, not this wait: look at it now and then.
  const auto deadline = std::chrono::steady_clock::now() + kAnnounceWait;
  while (announcing_ && !thread.Terminated()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    announced_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(100)));
  }
  return true;
}

bool TWSocket::DeliverData() {
  // The trace-file lines of the bytes applied here reach the file together, before the thread
  // waits again.
  TTraceFileBatch batch;
  try {
    handler_.SocketDataAvailable(*this, 0);
    return true;
  } catch (...) {
    ErrorTrace(kThreadRoutine, "Error executing OnDataAvailable procedure");
    return false;
  }
}

void TWSocket::NotifySessionClosed() {
  try {
    handler_.SocketSessionClosed(*this, 0);
  } catch (...) {
    ErrorTrace(kThreadRoutine, "OnSessionClosed procedure not defined");
  }
}

// True when the loop goes on.
bool TWSocket::HandleConnectEvent(int fd, bool writable, bool announced) {
  int error = PendingSocketError(fd);
  // A Close while connecting shuts the attempt down; it must not pass for a connection.
  if (error == 0 && closeRequested_.load(std::memory_order_acquire)) error = ECONNABORTED;
  if (error == 0 && !writable) error = ENOTCONN;
  if (error != 0) {
    const int code = WSAErrorFromErrno(error);
    SocketError("FD_CONNECT", code);
    DebugTrace(kThreadRoutine, " FD_CONNECT error " + std::to_string(code) +
                                   " - now executing winsock2.closesocket");
    CloseHandleAndChangeState(TSocketState::Closed);
    if (closeRequested_.load(std::memory_order_acquire)) NotifySessionClosed();
    return false;
  }
  ChangeState(TSocketState::Connected, announced ? "wrSignaled" : "wrTimeout");
  try {
    handler_.SocketSessionConnected(*this, 0);
  } catch (...) {
    ErrorTrace(kThreadRoutine, " Error executing OnSessionConnected procedure");
  }
  return true;
}

void TWSocket::HandleCloseEvent(int fd, bool pollError) {
  if (SocketDebugOn()) DebugTrace(kThreadRoutine, "FD_CLOSE on " + threadAddr_);
  int error = pollError ? PendingSocketError(fd) : 0;
  // A read that failed has consumed the socket's error.
  if (error == 0) error = receiveFailure_.load(std::memory_order_relaxed);
  if (error != 0) {
    SocketError("FD_CLOSE", WSAErrorFromErrno(error));
    CloseHandleAndChangeState(TSocketState::Closed);
    NotifySessionClosed();
    return;
  }
  // Everything the peer sent before it closed reaches the handler, however much it is: it is
  // called until it reads the end of the stream, fails, or stops reading.
  while (!endOfStream_.load(std::memory_order_relaxed) &&
         receiveFailure_.load(std::memory_order_relaxed) == 0) {
    const std::int64_t before = BytesReceived();
    if (!DeliverData()) break;
    if (BytesReceived() == before && !endOfStream_.load(std::memory_order_relaxed)) break;
  }
  CloseHandleAndChangeState(TSocketState::Closed);
  NotifySessionClosed();
}

void TWSocket::EventLoop(TWSocketEventThread& thread) {
  AddTraceEntry(tlStart, kThreadRoutine, "Started on " + threadAddr_);
  const bool announced = AwaitAnnouncements(thread);
  int fd = kInvalidSocket;
  {
    std::lock_guard lock(handleLock_);
    fd = HSocket_.Fd();
  }
  bool handleOpen = true;  // this thread closes the handle, exactly once
  while (!EndRequested(thread)) {
    const bool connecting = State() == TSocketState::Connecting;
    const TPollResult events = PollSocket(fd, connecting, eventWaitMs_, wake_.Fd());
    if (events.Woken) wake_.Drain();
    if (events.Failure != 0) {
      ErrorTrace("*TSocketEventThread.Execute",
                 WinSockErrorText(WSAErrorFromErrno(events.Failure)));
      CloseHandleAndChangeState(TSocketState::InvalidState);
      handleOpen = false;
      break;
    }
    if (events.TimedOut) {
      const int countdown = CloseCountdown.load(std::memory_order_acquire);
      if (countdown > 0 && CloseCountdown.fetch_sub(1) == 1) {
        DebugTrace(kThreadRoutine, "Forced Close");
        break;  // closed below
      }
      continue;
    }
    if (connecting) {
      if (!events.Writable && !events.Error && !events.Hangup) continue;
      if (!HandleConnectEvent(fd, events.Writable, announced)) {
        handleOpen = false;
        break;
      }
      continue;
    }
    if (events.Hangup || events.PeerClosed || events.Error) {
      HandleCloseEvent(fd, events.Error);
      handleOpen = false;
      break;
    }
    if (events.Readable) {
      if (SocketDebugOn()) DebugTrace(kThreadRoutine, "FD_READ on " + threadAddr_);
      if (!DeliverData()) break;  // closed below
      if (endOfStream_.load(std::memory_order_relaxed) ||
          receiveFailure_.load(std::memory_order_relaxed) != 0) {
        HandleCloseEvent(fd, false);
        handleOpen = false;
        break;
      }
    }
  }
  const bool endedOnStop = Stop.load(std::memory_order_acquire);
  if (handleOpen || State() != TSocketState::Closed) {
    if (handleOpen)
      CloseHandleAndChangeState(TSocketState::Closed);
    else
      ChangeState(TSocketState::Closed);
    NotifySessionClosed();
  }
  threadActive_.store(false, std::memory_order_release);
  if (endedOnStop) {
    try {
      handler_.SocketThreadStopped(*this);
    } catch (...) {
      ErrorTrace(kThreadRoutine, "Error executing OnThreadStopped procedure");
    }
  }
  AddTraceEntry(tlExit, kThreadRoutine, " Socket thread finished");
}

}  // namespace vorn
