#pragma once
// The client side of a conversation on a raw socket, for tests of the fake servers themselves:
// sends frames and reassembles the frames it receives.

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/FakeServer.h"
#include "support/LoopbackListener.h"

namespace vorn {

class TRawClient {
 public:
  explicit TRawClient(std::uint16_t port) : peer_(ConnectLoopback(port)) {}

  bool IsConnected() const { return peer_ != nullptr; }
  bool Send(std::string_view body) { return peer_ && peer_->Write(Frame(body)); }
  bool SendHost(std::string_view text) { return Send(HostBody(text)); }
  bool SendRaw(std::string_view bytes) { return peer_ && peer_->Write(bytes); }

  // The next body; none on a time-out or a close.
  std::optional<std::string> Receive(int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (pending_.size() >= 2) {
        const std::size_t length = (static_cast<unsigned char>(pending_[0]) & 0x7F) * 256u +
                                   static_cast<unsigned char>(pending_[1]);
        if (pending_.size() >= length + 2) {
          std::string body = pending_.substr(2, length);
          pending_.erase(0, length + 2);
          return body;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      char chunk[4096];
      const long count =
          peer_ && left.count() >= 0 ? peer_->ReadSome(chunk, sizeof chunk, left) : -1;
      if (count <= 0) return std::nullopt;
      pending_.append(chunk, static_cast<std::size_t>(count));
    }
  }
  // The next body shown with '|' for 0x01; empty on a time-out or a close.
  std::string ReceiveShown(int timeoutMs = 5000) {
    return ShowBody(Receive(timeoutMs).value_or(""));
  }

  bool WaitClosed(int timeoutMs = 5000) {
    return peer_ && peer_->WaitForEnd(std::chrono::milliseconds(timeoutMs));
  }
  void Close() { peer_.reset(); }

 private:
  std::unique_ptr<TLoopbackPeer> peer_;
  std::string pending_;
};

// A blank-filled fixed-width body of length bytes with the code at 0 and texts at offsets.
inline std::string FixedBody(
    std::string_view code, std::size_t length,
    std::initializer_list<std::pair<std::size_t, std::string_view>> fields) {
  std::string body(length, ' ');
  body.replace(0, code.size(), code);
  for (const auto& [offset, text] : fields)
    body.replace(offset, text.size(), text);
  return body;
}

}  // namespace vorn
