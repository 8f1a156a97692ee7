#include "links/Connection.h"

#include <algorithm>
#include <optional>
#include <random>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/NumberText.h"
#include "core/wire/VornMessage.h"
#include "links/Dispatcher.h"
#include "links/HostRequests.h"
#include "links/MessageDump.h"
#include "links/PriceRequests.h"
#include "links/SSLConnection.h"
#include "vornintf.h"

namespace vorn {

namespace {

constexpr const char* kRoutine = "TConnection";

TConnection::TRandom DefaultRandom() {
  auto engine = std::make_shared<std::minstd_rand>(std::random_device{}());
  auto lock = std::make_shared<std::mutex>();
  return [engine, lock](std::int32_t max) {
    std::lock_guard guard(*lock);
    return std::uniform_int_distribution<std::int32_t>(0, max)(*engine);
  };
}

std::int32_t ClampDelay(std::int64_t ticks) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(ticks, 0, TConnection::kMaxDelay));
}

}  // namespace

std::uint8_t LinkStateOf(TSocketState state) {
  switch (state) {
    case TSocketState::Opened:
      return VN_LINK_OPENED;
    case TSocketState::Connecting:
      return VN_LINK_CONNECTING;
    case TSocketState::Connected:
      return VN_LINK_CONNECTED;
    case TSocketState::Closed:
      return VN_LINK_CLOSED;
    default:
      return VN_LINK_OTHER;
  }
}

TConnection::TConnection(TClassAPI& api, TLinkKind kind, TRandom random,
                         const TMessageTable* table)
    : api_(api),
      kind_(kind),
      random_(random ? std::move(random) : DefaultRandom()),
      table_(table ? table : &BuiltInMessageTable()),
      assembler_(kind),
      readBuffer_(kReadSize) {}

TConnection::~TConnection() {
  Shutdown();
}

const char* TConnection::KindName() const {
  return kind_ == psHost ? "psHost" : "psPriceFeed";
}

void TConnection::SetAddress(const TAddressItem& address) {
  std::lock_guard guard(addressLock_);
  if (address_ != address.IP) address_ = address.IP;
  if (port_ != address.Port) port_ = address.Port;
}

std::string TConnection::AddressText() const {
  std::lock_guard guard(addressLock_);
  return address_;
}

TSocketState TConnection::SocketState() const {
  std::lock_guard guard(sendLock_);
  return socket_ ? socket_->State() : TSocketState::Closed;
}

bool TConnection::ConnectionEstablished() const {
  std::lock_guard guard(sendLock_);
  return socket_ && socket_->ConnectionEstablished();
}

void TConnection::Start(bool timerActive) {
  // Started again (the end of a later download): a link that is up or on its way stays so.
  const TSocketState state = SocketState();
  if (connected_ || state == TSocketState::Opened || state == TSocketState::Connecting) return;
  reconnectState_ = prsCreateInit;
  tickCount_ = 1;
  delay_ = 1;
  timerActive_ = timerActive;
}

void TConnection::Shutdown() {
  destroying_ = true;
  handshakeEnabled_ = false;
  timerActive_ = false;
  tickCount_ = kMaxDelay;
  DestroySocket();
}

void TConnection::StopSocketThread() {
  std::lock_guard guard(sendLock_);
  if (socket_) socket_->StopSocketThread();
}

// ---------------------------------------------------------------------------------------------
// Sending

void TConnection::Send(TVornMessage& message) {
  TTraceScope scope("TConnection.Send");
  if (destroying_) return;
  if (message.HeldUntilConnected()) {
    SendLogonMessage(message);
    return;
  }
  std::optional<TDynamicBuffer> buffer;
  std::string_view bytes = message.WrittenFrame();
  if (bytes.empty()) {
    message.FillBuffer(buffer.emplace());
    std::int32_t length = 0;
    const char* frame = buffer->Peek(length);
    bytes = std::string_view(frame, static_cast<std::size_t>(length));
  }
  std::lock_guard guard(sendLock_);
  if (!socket_) return;
  AddTraceEntry(tlNote, "TConnection.Send",
                kind_ == psHost ? "Send Host Message " : "Send Price Message ", message.Code());
  DumpSentFrame(kind_, bytes);
  WriteFrame(bytes);
}

void TConnection::SendLogonMessage(TVornMessage& message) {
  TDynamicBuffer buffer;
  message.FillBuffer(buffer);
  std::int32_t length = 0;
  const char* frame = buffer.Peek(length);
  std::lock_guard guard(sendLock_);
  std::lock_guard pending(pendingLock_);
  pendingLogon_.append(frame, static_cast<std::size_t>(length));
  if (connected_ && !AddressText().empty()) FlushPendingLogon();
}

// sendLock_ and pendingLock_ held.
void TConnection::FlushPendingLogon() {
  if (pendingLogon_.empty() || !socket_) return;
  DumpSentFrame(kind_, pendingLogon_);
  WriteFrame(pendingLogon_);
  pendingLogon_.clear();
}

bool TConnection::WriteFrame(std::string_view frame) {
  const int length = static_cast<int>(frame.size());
  const int sent = socket_->Send(frame.data(), length);
  if (sent > 0) api_.Bandwidth.AddSent(sent);
  if (sent == length) return true;
  if (sent <= 0) {
    AddTraceEntry(tlNote, "TConnection.Send", "Link not connected: message dropped");
  } else {
    // The rest of the frame cannot follow later without another frame's bytes coming first.
    AddTraceEntry(tlNote, "TConnection.Send", "Frame sent in part: closing the connection");
    socket_->Close();
  }
  return false;
}

void TConnection::SendHandshake() {
  if (DebugFlagOn(kDebugging)) WriteTraceLine(std::string("Sending Handshake to ") + KindName());
  if (kind_ == psHost) {
    TMHostHandshake handshake;
    Send(handshake);
  } else {
    TMHandshake handshake(HandshakeInterval(), api_.Links.HostHandshakeValue);
    Send(handshake);
  }
}

// ---------------------------------------------------------------------------------------------
// The reconnect cycle, on the heartbeat thread

void TConnection::ProcessTimer() {
  if (kind_ == psPriceFeed && !api_.Logon.LoggedOn) return;
  if (timerActive_) {
    if (++tickCount_ <= delay_) return;
    timerActive_ = false;
    tickCount_ = 0;
    switch (reconnectState_.load()) {
      case prsDestroy:
        // The attempt this step was to abandon has connected meanwhile: the server accepted it,
        // even if the socket's thread (slow on a busy machine) has yet to report it.
        if (ConnectionEstablished()) break;
        ProcessTriggerDestroy();
        break;
      case prsCreateInit:
        if (api_.ShuttingDown) break;
        CreateInitSocket();
        reconnectState_ = prsReconnect;
        delay_ = CreateInitDelay();
        timerActive_ = true;
        break;
      case prsReconnect:
        if (api_.ShuttingDown) break;
        timerActive_ = false;
        Connect();
        break;
    }
    return;
  }
  if (api_.ShuttingDown || !api_.Logon.LoggedOn || api_.Logon.DownloadInProgress ||
      !handshakeEnabled_)
    return;
  // A handshake left unanswered longer than the time-out means a half-open connection: close
  // it, and the close starts the reconnect cycle.
  const std::int32_t timeout = HandshakeTimeout();
  if (handshakeOutstanding_ && timeout > 0 && ++silentTicks_ > timeout) {
    AddTraceEntry(tlNote, "TConnection.ProcessTimer", "Handshake timed out: closing the link");
    std::lock_guard guard(sendLock_);
    if (socket_) socket_->Close();
    return;
  }
  if (++idleTicks_ >= HandshakeInterval() && idleTicks_ < timeout) {
    idleTicks_ = 0;
    if (!handshakeOutstanding_.exchange(true)) silentTicks_ = 0;
    SendHandshake();
  }
}

void TConnection::ProcessTriggerDestroy() {
  AddTraceEntry(tlNote, kRoutine, "ProcessTriggerDestroy");
  connected_ = false;
  reconnectState_ = prsCreateInit;
  delay_ = kind_ == psHost ? ClampDelay(std::int64_t{api_.Links.HostReconnect} + random_(4))
                           : ClampDelay(api_.Links.PriceReconnect);
  DestroySocket();
  TAddressQ& list = kind_ == psHost ? api_.Links.HostAddresses : api_.Links.PriceAddresses;
  std::atomic<std::int32_t>& index =
      kind_ == psHost ? api_.Links.HostAddressIndex : api_.Links.PriceAddressIndex;
  const auto count = static_cast<std::int32_t>(list.Count());
  const std::int32_t current = index;
  const std::int32_t next = current >= 0 && current < count - 1 ? current + 1 : 0;
  index = next;
  if (next > 0 && OneTickFallback()) delay_ = 1;
  if (const auto entry = list.Get(static_cast<std::size_t>(next))) SetAddress(*entry);
  timerActive_ = true;
}

void TConnection::BeginNewSocket(const char* routine) {
  connected_ = false;
  AddTraceEntry(tlNote, routine);
  DestroySocket();
}

void TConnection::InstallSocket(std::unique_ptr<ILinkTransport> socket) {
  {
    std::lock_guard guard(sendLock_);
    socket_ = std::move(socket);
  }
  ++socketCount_;
}

void TConnection::CreateInitSocket() {
  BeginNewSocket("TConnection.CreateInitSocket");
  auto socket = std::make_unique<TWSocket>(static_cast<ISocketHandler&>(*this), !api_.InternetUser);
  socket->SetProto("tcp");
  InstallSocket(std::move(socket));
}

void TConnection::DestroySocket() {
  std::unique_ptr<ILinkTransport> socket;
  {
    std::lock_guard guard(sendLock_);
    socket = std::move(socket_);
  }
  socket.reset();  // closes the connection and joins the socket's thread, no lock held
}

bool TConnection::Connect() {
  if (connected_) return true;
  const std::string address = AddressText();
  std::string port;
  {
    std::lock_guard guard(addressLock_);
    port = port_;
  }
  // Only this (the heartbeat) thread replaces the socket, so it is read here without the lock.
  ILinkTransport* socket = socket_.get();
  if (socket && !address.empty() && !port.empty()) {
    reconnectState_ = prsDestroy;
    assembler_.Reset();
    if (DebugFlagOn(kDebugDebugging))
      WriteTraceLine(std::string(KindName()) + " Connect " + IntToStr(socketCount_));
    ConnectSocket(address, port);
    // A connect refused before it started (an unknown host or port) changes no state: retry
    // after the delay, or the link would stay down for good.
    if (socket->State() == TSocketState::Closed && !api_.ShuttingDown) timerActive_ = true;
    return true;
  }
  reconnectState_ = socket ? prsDestroy : prsCreateInit;
  delay_ = 4 + random_(2);
  timerActive_ = !api_.ShuttingDown;
  return false;
}

void TConnection::ConnectSocket(const std::string& address, const std::string& port) {
  // A plain link's socket is the TWSocket its CreateInitSocket made.
  auto& socket = static_cast<TWSocket&>(*socket_);
  socket.SetAddr(address);
  socket.SetPort(port);
  socket.SetProto("tcp");
  socket.Connect();
}

std::int32_t TConnection::HandshakeInterval() const {
  return kind_ == psHost ? api_.Links.HostHandshakePeriod : api_.Links.PriceHandshakePeriod;
}

std::int32_t TConnection::HandshakeTimeout() const {
  return kind_ == psHost ? api_.Links.HostHandshakeTimeout : api_.Links.PriceHandshakeTimeout;
}

// ---------------------------------------------------------------------------------------------
// Socket events

void TConnection::PostLinkState(std::uint8_t oldState, std::uint8_t newState) {
  AddLinkStateCallback(kind_ == psHost ? VN_CB_HOST_LINK_STATE_CHANGE : VN_CB_PRICE_STATE_CHANGE,
                       oldState, newState);
}

void TConnection::SocketChangeState(TWSocket& /*socket*/, TSocketState oldState,
                                    TSocketState newState) {
  StateChanged(oldState, newState);
}

void TConnection::StateChanged(TSocketState oldState, TSocketState newState) {
  if (DebugFlagOn(kDebugDebugging))
    WriteTraceLine(std::string("TConnection.SocketChangeState ") + KindName() + " from " +
                   SocketStateName(oldState) + " to " + SocketStateName(newState));
  if (api_.ShuttingDown) {
    timerActive_ = false;
    return;
  }
  const std::uint8_t mappedNew = LinkStateOf(newState);
  if (mappedNew == VN_LINK_CONNECTED && api_.Logon.LoggedOn) {
    // Logged on: the application hears of the link again once the handshake is answered.
    idleTicks_ = 0;
    awaitingFirstHandshakeReply_ = true;
    handshakeOutstanding_ = true;
    silentTicks_ = 0;
    SendHandshake();
  } else {
    PostLinkState(LinkStateOf(oldState), mappedNew);
    if (kind_ == psPriceFeed && mappedNew != VN_LINK_CONNECTED) api_.BlankPrices();
  }
  timerActive_ = mappedNew != VN_LINK_CONNECTED;
}

void TConnection::HandshakeReplyReceived() {
  if (awaitingFirstHandshakeReply_.exchange(false))
    PostLinkState(VN_LINK_CONNECTING, VN_LINK_CONNECTED);
}

void TConnection::SocketSessionConnected(TWSocket& /*socket*/, int /*error*/) {
  SessionConnected();
}

void TConnection::SessionConnected() {
  if (api_.ShuttingDown) {
    timerActive_ = false;
    return;
  }
  ProcessSessionConnected();
  linkLost_ = false;
}

void TConnection::ProcessSessionConnected() {
  connected_ = true;
  handshakeOutstanding_ = false;
  idleTicks_ = 0;
  silentTicks_ = 0;
  handshakeEnabled_ = HandshakeInterval() > 0;
  if (kind_ == psPriceFeed) {
    TPriceLogonSettings settings;
    settings.TickerRegistered = CallbackRegistered(VN_CB_TICKER_UPDATE);
    settings.TestEnvironment = api_.TestFlag;
    settings.HandshakePeriod = api_.Links.PriceHandshakePeriod;
    settings.DOMEnabled = api_.Features.DOMEnabled;
    settings.UserName = api_.UserName.Get();
    settings.MDSToken = api_.Links.MDSToken.Get();
    TMPriceSynchronise logon(std::move(settings));
    Send(logon);
    api_.Subscriptions.ResubscribePrices();
    api_.Subscriptions.ResubscribeMarkets();
    return;
  }
  // Ids handed out on an earlier connection may not be valid on this one.
  api_.OrderIDs.ClearNewOrderIDs();
  api_.OrderIDs.SetOrderIDStatus(-1);
  {
    std::lock_guard guard(sendLock_);
    std::lock_guard pending(pendingLock_);
    FlushPendingLogon();
  }
  // After the locks: the logon takes them again, from the top.
  if (linkLost_ && (api_.Logon.LogonCompleted || api_.Logon.LogonSent)) LogOnAgain();
}

void TConnection::LogOnAgain() {
  if (DebugFlagOn(kDebugging)) WriteTraceLine("Link lost, reconnecting ...");
  TraceAppCall("Reconnection: vnLogOn being called internally...");
  api_.LogOnAgain();
}

void TConnection::SocketSessionClosed(TWSocket& /*socket*/, int /*error*/) {
  SessionClosed();
}

void TConnection::SessionClosed() {
  linkLost_ = true;
  timerActive_ = !AddressText().empty() && connected_ && !api_.ShuttingDown;
  handshakeEnabled_ = false;
  connected_ = false;
  AddTraceEntry(tlNote, "TConnection.SocketSessionClosed");
}

void TConnection::SocketThreadStopped(TWSocket& /*socket*/) {
  ThreadStopped();
}

void TConnection::ThreadStopped() {
  api_.RequestConnectionReset();
}

// Reads until the socket is empty: a read that does not fill the buffer took all there was
// (more that arrives meanwhile wakes the socket's wait again), and one of nothing is the end of
// the stream. A stop or close asked for ends the burst early; the socket offers the rest.
void TConnection::SocketDataAvailable(TWSocket& socket, int /*error*/) {
  const int size = static_cast<int>(readBuffer_.size());
  for (;;) {
    const int count = socket.Receive(readBuffer_.data(), size);
    if (count <= 0) return;
    ReceiveBytes(std::string_view(readBuffer_.data(), static_cast<std::size_t>(count)));
    if (count < size || socket.ReadInterrupted()) return;
  }
}

void TConnection::ReceiveBytes(std::string_view bytes) {
  if (bytes.empty()) return;
  api_.Bandwidth.AddReceived(static_cast<std::int64_t>(bytes.size()));
  handshakeOutstanding_ = false;
  silentTicks_ = 0;
  if (kind_ == psPriceFeed) idleTicks_ = 0;
  // While the reconnect timer runs the link is between connections: what arrives is dropped.
  if (!timerActive_)
    assembler_.CopyToMainBuffer(bytes, socketCount_, static_cast<IBodySink&>(*this));
}

void TConnection::ReceiveBody(std::string_view body, bool decompressed) {
  DumpReceivedBody(kind_, body, decompressed, api_.Logon.DownloadInProgress);
  ProcessMessage(api_, *table_, kind_, body, hostFields_);
}

std::shared_ptr<ILink> MakeLink(TClassAPI& api, const TLinkSpec& spec) {
  std::shared_ptr<TConnection> link =
      spec.SSL ? std::make_shared<TSSLConnection>(api, spec.Kind, spec.CertName)
               : std::make_shared<TConnection>(api, spec.Kind);
  link->SetAddress(spec.Address);
  return link;
}

}  // namespace vorn
