// The link layer against the fake host, playing the scripts of tests/conversations.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "core/session/ClassAPI.h"
#include "links/Connection.h"
#include "support/Conversation.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

const std::string kScripts = VORN_CONVERSATIONS;

// A logged-on API object with a host link to the fake host, ticked every few milliseconds on a
// thread of its own in place of the one-second heartbeat.
class LinkConversationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ExchangeAPI(api_);
    api_->Logon.LoggedOn = true;
    api_->Links.HostHandshakePeriod = 2;
    api_->Links.HostHandshakeTimeout = 4;
    api_->Links.HostReconnect = 1;
    api_->Links.HostAddresses.AddAddress("127.0.0.1", std::to_string(servers_.Host.Port()));
    link_ = std::make_unique<TConnection>(*api_, psHost, [](std::int32_t) { return 0; });
    link_->SetAddress(*api_->Links.HostAddresses.Get(0));
    link_->Start(true);
    ticker_ = std::thread([this] {
      while (!stop_) {
        link_->ProcessTimer();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  void TearDown() override {
    stop_ = true;
    ticker_.join();
    link_.reset();
    ExchangeAPI(nullptr);
  }

  TConversationResult Play(const std::string& script) {
    TConversationRunner runner(servers_);
    return runner.Run(TConversation::Load(kScripts + script));
  }

  TTempDir dir_;
  TFakeServers servers_;
  std::shared_ptr<TClassAPI> api_ = std::make_shared<TClassAPI>();
  std::unique_ptr<TConnection> link_;
  std::atomic<bool> stop_{false};
  std::thread ticker_;
};

TEST_F(LinkConversationTest, HandshakesAndReconnectsAfterTheHostDropsIt) {
  const TConversationResult result = Play("host-link-reconnect.conv");
  EXPECT_TRUE(result) << result.Message;
}

}  // namespace
}  // namespace vorn
