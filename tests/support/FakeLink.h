#pragma once
// A link that records what the library asks of it, in place of a connection.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/session/ClassAPI.h"
#include "core/session/Link.h"
#include "core/wire/VornMessage.h"

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
  bool Connected() const override { return connected; }
  void HandshakeReplyReceived() override {
    std::lock_guard guard(lock);
    ++handshakeReplies;
  }
  void StopSocketThread() override {
    std::lock_guard guard(lock);
    ++socketStops;
  }
  void Shutdown() override {}

  std::atomic<bool> connected{false};
  std::mutex lock;
  std::vector<bool> starts;
  std::vector<std::string> sent;  // message codes
  int handshakeReplies = 0;
  int socketStops = 0;
};

// Both links of an API object as recording fakes: installs the factory, gives each kind an
// address and creates the links, with the heartbeat stopped so that nothing ticks them. The
// factory is dropped again at the end of the scope, so the next object gets real links.
struct TFakeLinks {
  TFakeLinks() = default;
  TFakeLinks(const TFakeLinks&) = delete;
  TFakeLinks& operator=(const TFakeLinks&) = delete;
  ~TFakeLinks() { SetLinkFactory(nullptr); }

  bool Create(TClassAPI& api) {
    SetLinkFactory([this](TClassAPI&, const TLinkSpec& spec) {
      auto link = std::make_shared<TFakeLink>();
      (spec.Kind == psHost ? Host : Price) = link;
      return link;
    });
    api.Links.HostAddresses.AddAddress("127.0.0.1", "1");
    api.Links.PriceAddresses.AddAddress("127.0.0.1", "2");
    const bool created = api.CreateLinks();
    api.Heartbeat.SetEnabled(false);
    return created;
  }

  std::shared_ptr<TFakeLink> Host;
  std::shared_ptr<TFakeLink> Price;
};

}  // namespace vorn
