// The user-message exports and the logon-state reads over a logged-on API object whose host
// link is a recording fake.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/refdata/UserMessage.h"
#include "core/session/ClassAPI.h"
#include "platform/Thread.h"
#include "support/FakeLink.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

void VN_STDCALL Ignore() {}
void VN_STDCALL IgnoreLinkState(const LinkStateStruct*) {}

class UserMessageExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vnLogOff();
    SetLinkFactory([this](TClassAPI&, const TLinkSpec&) {
      host_ = std::make_shared<TFakeLink>();
      return host_;
    });
    ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
    ASSERT_EQ(vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState), 0);
    ASSERT_EQ(vnRegisterCallback(VN_CB_LOGON_STATUS, Ignore), 0);
    ASSERT_EQ(vnRegisterCallback(VN_CB_FORCED_LOGOUT, Ignore), 0);
    ASSERT_EQ(vnSetHostAddress("127.0.0.1", "1"), 0);
    ASSERT_EQ(vnReady(), 0);
    API()->Heartbeat.SetEnabled(false);
    for (const char* id : {"12", "-3"}) {
      auto message = std::make_shared<TUserMessage>();
      message->SetSequence(id);
      message->Content = std::string("text ") + id;
      message->IsAlert = alAlert;
      API()->UserMessages.Add(message);
    }
  }
  void TearDown() override {
    vnLogOff();
    SetLinkFactory(nullptr);
    JoinStoppedThreads();
  }

  static MessageStruct Filled() {
    MessageStruct record;
    std::memset(&record, 0x5A, sizeof record);
    return record;
  }
  static bool Zero(const MessageStruct& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i)
      if (bytes[i] != 0) return false;
    return true;
  }

  TTempDir dir_;
  std::shared_ptr<TFakeLink> host_;
};

TEST_F(UserMessageExportsTest, ReadsWaitForTheLogonThenCopyOrZeroFill) {
  MessageStruct record = Filled();
  std::int32_t count = 7;
  EXPECT_EQ(vnCountUsrMsgs(&count), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(vnGetUsrMsg(0, &record), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(record.MsgID[0], 0x5A);  // untouched
  std::int32_t features = -1, roles = -1;
  EXPECT_EQ(vnEnabledFunctionality(&features, &roles), VN_RC_NOT_LOGGED_ON);
  EXPECT_EQ(features, -1);

  API()->Logon.LoggedOn = true;
  EXPECT_EQ(vnCountUsrMsgs(&count), 0);
  EXPECT_EQ(count, 2);
  for (const std::int32_t index : {-1, 2}) {
    record = Filled();
    EXPECT_EQ(vnGetUsrMsg(index, &record), VN_RC_INVALID_INDEX);
    EXPECT_TRUE(Zero(record));
  }
  ASSERT_EQ(vnGetUsrMsgByID("12", &record), 0);
  EXPECT_STREQ(record.MsgText, "text 12");
  EXPECT_EQ(record.IsAlert, VN_MSG_ALERT);
  EXPECT_EQ(record.Status, VN_MSG_PENDING);
  record = Filled();
  EXPECT_EQ(vnGetUsrMsgByID("99", &record), VN_RC_MSG_ID_NOT_FOUND);
  EXPECT_TRUE(Zero(record));
  EXPECT_EQ(vnGetUsrMsg(0, nullptr), VN_RC_UNEXPECTED_ERROR);

  API()->UserMessages.FreeAll();
  EXPECT_EQ(vnGetUsrMsgByID("99", &record), VN_RC_NO_DATA);  // an empty list first
  EXPECT_EQ(vnEnabledFunctionality(&features, &roles), 0);
  EXPECT_EQ(features & (8 | 16), 0);
}

// A host message is acknowledged to the host; a local one (id 0 or below) is only cleared.
TEST_F(UserMessageExportsTest, AcknowledgeClearsAndTellsTheHostOfItsOwnMessages) {
  API()->Logon.LoggedOn = true;
  ASSERT_EQ(vnAcknowledgeUsrMsg("-3"), 0);
  ASSERT_EQ(vnAcknowledgeUsrMsg("12"), 0);
  EXPECT_EQ(vnAcknowledgeUsrMsg("13"), VN_RC_MSG_ID_NOT_FOUND);
  EXPECT_EQ(host_->sent, (std::vector<std::string>{"3306"}));
  MessageStruct record;
  ASSERT_EQ(vnGetUsrMsgByID("-3", &record), 0);
  EXPECT_EQ(record.Status, VN_MSG_CLEARED);
}

}  // namespace
}  // namespace vorn
