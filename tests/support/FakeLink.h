#pragma once
// A link that records what the library asks of it, in place of a connection.

#include <mutex>
#include <string>
#include <vector>

#include "core/Link.h"
#include "core/VornMessage.h"

namespace vorn {

struct TFakeLink final : ILink {
  void SetAddress(const TAddressItem&) override {}
  void ProcessTimer() override {}
  void Start(bool timerActive) override {
    std::lock_guard guard(lock);
    starts.push_back(timerActive);
  }
  void Send(TVornMessage& message) override {
    std::lock_guard guard(lock);
    sent.push_back(message.Code());
  }
  bool Connected() const override { return false; }
  void HandshakeReplyReceived() override {
    std::lock_guard guard(lock);
    ++handshakeReplies;
  }
  void StopSocketThread() override {
    std::lock_guard guard(lock);
    ++socketStops;
  }
  void Shutdown() override {}

  std::mutex lock;
  std::vector<bool> starts;
  std::vector<std::string> sent;  // message codes
  int handshakeReplies = 0;
  int socketStops = 0;
};

}  // namespace vorn
