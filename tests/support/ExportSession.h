#pragma once
// An application driving the library through its exports against the fake host and the fake
// price feed: it initialises, registers every callback, points the host link at the fake host
// and the price link at the fake feed and calls vnReady; the heartbeat ticks every 25 ms instead
// of every second, a lost link is tried again after two ticks, and the end of the download waits
// for nothing. A conversation script plays the servers' side on a thread of its own, after
// price-handshake.conv: the feed answers every price handshake, so the price link the end of the
// download starts stays up whatever the script says of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "core/session/ClassAPI.h"
#include "links/Dispatcher.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/Conversation.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {

class TNoWaitServices final : public IDownloadServices {
 public:
  void Sleep(std::chrono::milliseconds) override {}
  void MarkDownloadComplete(TLogonState& logon) override { logon.DownloadCompleted = true; }
  void StartContractWrite(TClassAPI&) override {}
};

class ExportSessionTest : public ::testing::Test {
 protected:
  inline static const std::string kScripts = VORN_CONVERSATIONS;

  void SetUp() override {
    vnLogOff();
    SetDownloadServices(&services_);
  }
  void TearDown() override {
    vnLogOff();
    // A test that stopped early still reports where the script stood.
    if (result_.valid()) ExpectPlayed();
    SetDownloadServices(nullptr);
    JoinStoppedThreads();
  }

  void Start(char environment = 'T') {
    ASSERT_EQ(vnInitialise(environment, "v2.8.3", "app", "1.0", "", 0), 0);
    ASSERT_TRUE(TCallbackRecorder::RegisterAll());
    API()->Heartbeat.SetInterval(25);
    API()->Links.HostReconnect = 2;
    API()->Links.PriceReconnect = 2;
    ASSERT_EQ(vnSetHostAddress("127.0.0.1", std::to_string(servers_.Host.Port()).c_str()), 0);
    ASSERT_EQ(vnSetPriceAddress("127.0.0.1", std::to_string(servers_.Price.Port()).c_str()), 0);
    ASSERT_EQ(vnReady(), 0);
  }

  // Plays the script on a thread of its own while the test acts as the application.
  void Play(const std::string& script) { Play(TConversation::Load(kScripts + script)); }
  // A script the test wrote; its includes are read from tests/conversations.
  void PlayText(const std::string& text) {
    Play(TConversation::Parse(text, "generated", kScripts));
  }
  void Play(TConversation conversation) {
    result_ = std::async(std::launch::async, [this, conversation = std::move(conversation)] {
      const TConversationResult prelude =
          runner_.Run(TConversation::Load(kScripts + "price-handshake.conv"));
      if (!prelude) return prelude;
      return runner_.Run(conversation);
    });
  }
  void ExpectPlayed() {
    ASSERT_TRUE(result_.valid());
    const TConversationResult result = result_.get();
    EXPECT_TRUE(result) << result.Message;
  }

  // The logon of trader1 through the exports, its download and the price link it starts.
  void LogOnWithPriceLink() {
    Start();
    LogonStruct logon = Logon("trader1", "secret1");
    ASSERT_EQ(vnLogOn(&logon), 0);
    ASSERT_TRUE(Delivered(VN_CB_DATA_DL_COMPLETE));
    ASSERT_TRUE(PriceLinkUp());
  }

  static LogonStruct Logon(const char* user, const char* password) {
    LogonStruct logon;
    std::memset(&logon, 0, sizeof logon);
    std::strcpy(logon.UserName, user);
    std::strcpy(logon.Password, password);
    logon.FullDownload = 'N';
    logon.ReportDownload = 'N';
    return logon;
  }

  // The ids delivered so far.
  std::vector<std::int32_t> Ids() {
    std::vector<std::int32_t> ids;
    for (const auto& delivery : recorder_.Deliveries())
      ids.push_back(delivery.Id);
    return ids;
  }
  bool Delivered(std::int32_t id) {
    return Eventually([&] {
      const auto ids = Ids();
      return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
  }
  // The ids delivered so far, without the price link's state changes (which follow the end of
  // the download on a timing of their own).
  std::vector<std::int32_t> IdsWithoutPriceLink() {
    auto ids = Ids();
    std::erase(ids, VN_CB_PRICE_STATE_CHANGE);
    return ids;
  }
  // The count of the price link's changes to connected (its handshake answered) so far.
  int PriceLinkConnects() {
    int connects = 0;
    for (const auto& delivery : recorder_.Deliveries())
      if (delivery.Id == VN_CB_PRICE_STATE_CHANGE && delivery.Payload[1] == VN_LINK_CONNECTED)
        ++connects;
    return connects;
  }
  // Waits until the price link has connected that many times. Prices are blanked whenever it
  // is not connected, so a test writes prices and subscribes only after it is up.
  bool PriceLinkUp(int connects = 1) {
    return Eventually([&] { return PriceLinkConnects() >= connects; });
  }

  TTempDir dir_;
  TNoWaitServices services_;
  TCallbackRecorder recorder_;
  TFakeServers servers_;
  TConversationRunner runner_{servers_};
  std::future<TConversationResult> result_;
};

}  // namespace vorn
