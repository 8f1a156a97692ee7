#include "support/FakeServer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "core/wire/FieldsList.h"

namespace vorn {
namespace {

constexpr std::size_t kReadChunk = 16384;

}  // namespace

const char* KindName(TFakeServerKind kind) {
  return kind == TFakeServerKind::Host ? "host" : "price";
}

void TServerWake::Notify() {
  {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  changed_.notify_all();
}

std::uint64_t TServerWake::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

bool TServerWake::WaitChange(std::uint64_t seen,
                             std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return count_ != seen; });
}

TFakeServer::TFakeServer(TFakeServerKind kind, std::uint16_t port,
                         std::shared_ptr<TServerWake> wake)
    : kind_(kind), listener_(port), wake_(std::move(wake)) {
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("fake server: pipe failed");
  thread_ = std::thread([this] { Run(); });
}

TFakeServer::~TFakeServer() {
  stopping_ = true;
  const char byte = 0;
  while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(stopPipe_[0]);
  close(stopPipe_[1]);
}

bool TFakeServer::WaitReadable(int fd) {
  pollfd entries[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
  for (;;) {
    if (stopping_) return false;
    const int result = poll(entries, 2, -1);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || stopping_) return false;
    return entries[0].revents != 0;
  }
}

void TFakeServer::Run() {
  while (WaitReadable(listener_.Fd())) {
    // Ready already: the wait only bounds a connect that vanished meanwhile.
    if (auto peer = listener_.Accept(std::chrono::seconds(1))) Serve(std::move(peer));
  }
}

void TFakeServer::Serve(std::unique_ptr<TLoopbackPeer> peer) {
  TLoopbackPeer* const current = peer.get();
  int connection = 0;
  {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
    connection = ++connections_;
  }
  Push({TFakeEvent::TType::Connected, connection, {}});
  std::string pending;
  char chunk[kReadChunk];
  while (WaitReadable(current->Fd())) {
    const long count = current->ReadSome(chunk, sizeof chunk, std::chrono::seconds(1));
    if (count <= 0) break;  // closed by the client, or by Disconnect
    pending.append(chunk, static_cast<std::size_t>(count));
    TakeFrames(pending, connection);
  }
  {
    std::lock_guard lock(mutex_);
    peer_.reset();
  }
  if (!stopping_) Push({TFakeEvent::TType::Closed, connection, {}});
}

void TFakeServer::TakeFrames(std::string& pending, int connection) {
  std::size_t used = 0;
  while (pending.size() - used >= 2) {
    const auto high = static_cast<unsigned char>(pending[used]) & 0x7F;  // top bit ignored
    const std::size_t length = high * 256u + static_cast<unsigned char>(pending[used + 1]);
    if (pending.size() - used - 2 < length) break;
    if (length > 0)
      Push({TFakeEvent::TType::Message, connection, pending.substr(used + 2, length)});
    used += 2 + length;
  }
  pending.erase(0, used);
}

void TFakeServer::Push(TFakeEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  arrived_.notify_all();
  if (wake_) wake_->Notify();
}

std::optional<TFakeEvent> TFakeServer::NextEvent(int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !events_.empty(); }))
    return std::nullopt;
  TFakeEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::optional<TFakeEvent> TFakeServer::TryNextEvent() {
  return NextEvent(0);
}

namespace {

// Takes events from the server until one of the given type, within one overall time limit.
std::optional<TFakeEvent> NextOfType(TFakeServer& server, TFakeEvent::TType type, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    auto event = server.NextEvent(static_cast<int>(std::max<long>(0, left.count())));
    if (!event || event->Type == type) return event;
  }
}

}  // namespace

bool TFakeServer::WaitConnected(int timeoutMs) {
  return NextOfType(*this, TFakeEvent::TType::Connected, timeoutMs).has_value();
}

std::optional<std::string> TFakeServer::NextMessage(int timeoutMs) {
  auto event = NextOfType(*this, TFakeEvent::TType::Message, timeoutMs);
  if (!event) return std::nullopt;
  return std::move(event->Body);
}

bool TFakeServer::WaitClosed(int timeoutMs) {
  return NextOfType(*this, TFakeEvent::TType::Closed, timeoutMs).has_value();
}

bool TFakeServer::Send(std::string_view body) {
  return SendRaw(Frame(body));
}

bool TFakeServer::SendRaw(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  return peer_ && peer_->Write(bytes);
}

int TFakeServer::Disconnect() {
  std::lock_guard lock(mutex_);
  if (peer_) peer_->Shutdown();
  return connections_;
}

bool TFakeServer::IsConnected() const {
  std::lock_guard lock(mutex_);
  return peer_ != nullptr;
}

int TFakeServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

std::string Frame(std::string_view body) {
  if (body.size() > 0x7FFF) throw std::length_error("fake server: body longer than a frame");
  std::string frame;
  frame.reserve(body.size() + 2);
  frame += static_cast<char>(body.size() >> 8);
  frame += static_cast<char>(body.size() & 0xFF);
  frame += body;
  return frame;
}

std::string HostBody(std::string_view text) {
  std::string body(text);
  for (char& c : body)
    if (c == '|') c = kFieldSeparator;
  if (!body.empty() && body.back() != kFieldSeparator) body += kFieldSeparator;
  return body;
}

std::string ShowBody(std::string_view body) {
  std::string shown(body);
  for (char& c : shown)
    if (c == kFieldSeparator) c = '|';
  return shown;
}

std::string MessageCode(TFakeServerKind kind, std::string_view body) {
  if (kind == TFakeServerKind::PriceFeed) return std::string(body.substr(0, 4));
  TFieldsList fields;
  fields.SetFields(body);
  return fields.GetFieldValue("Msg", 0);
}

}  // namespace vorn
