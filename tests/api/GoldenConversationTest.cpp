// The order road's conversations through the exports, compared with what an earlier build of the
// library wrote for them: the trace file's text with every trace switch on but socket-level
// detail (times, ports, paths and the other run-dependent parts masked), the events delivered to
// the application in their order, and the order requests the host received. The golden files
// are tests/conversations/golden/<case>.txt.
//
// With VORN_WRITE_GOLDEN=<folder> set, each case writes its file into that folder instead of
// comparing. This file builds on interfaces that older builds have too (the exports, the fake
// servers and their runner, the callback recorder), so that it can be compiled against one of
// them to write the files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/Dispatcher.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/Conversation.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn {
namespace {

const std::string kScripts = VORN_CONVERSATIONS;
const std::string kGolden = kScripts + "golden/";

class TGoldenNoWaitServices final : public IDownloadServices {
 public:
  void Sleep(std::chrono::milliseconds) override {}
  void MarkDownloadComplete(TLogonState& logon) override { logon.DownloadCompleted = true; }
  void StartContractWrite(TClassAPI&) override {}
};

// ---------------------------------------------------------------------------------------------
// Masking: what differs from run to run whatever the code.

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Replaces every occurrence of from by to.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// Thread ids, times ("hh:nn:ss.zzz", "hh:nn:ss"), dates ("dd/mm/yyyy") and digit runs of 8 or more
// not after a decimal point (dates and stamps such as 20261210235959) become <time>, <date> and
// <stamp>.
std::string MaskLine(std::string line) {
  // Thread ids, as the log-off's line shows them.
  static const std::string kThread = "Thread ID = ";
  for (std::size_t at = line.find(kThread); at != std::string::npos;
       at = line.find(kThread, at + 1)) {
    std::size_t end = at + kThread.size();
    while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end])))
      ++end;
    line.replace(at + kThread.size(), end - at - kThread.size(), "<thread>");
  }
  std::string out;
  out.reserve(line.size());
  std::size_t i = 0;
  while (i < line.size()) {
    if (!IsDigit(line[i])) {
      out += line[i++];
      continue;
    }
    std::size_t digits = 0;
    while (i + digits < line.size() && IsDigit(line[i + digits]))
      ++digits;
    const std::string_view rest(line.data() + i, line.size() - i);
    const auto at = [&](std::size_t k) { return k < rest.size() ? rest[k] : '\0'; };
    if (digits == 2 && at(2) == ':' && IsDigit(at(3)) && IsDigit(at(4)) && at(5) == ':' &&
        IsDigit(at(6)) && IsDigit(at(7))) {
      std::size_t end = 8;
      if (at(8) == '.')
        for (end = 9; IsDigit(at(end));)
          ++end;
      out += "<time>";
      i += end;
    } else if (digits == 2 && at(2) == '/' && IsDigit(at(3)) && IsDigit(at(4)) && at(5) == '/' &&
               IsDigit(at(6)) && IsDigit(at(7)) && IsDigit(at(8)) && IsDigit(at(9))) {
      out += "<date>";
      i += 10;
    } else if (digits >= 8 && (i == 0 || line[i - 1] != '.')) {
      out += "<stamp>";
      i += digits;
    } else {
      out.append(line, i, digits);
      i += digits;
    }
  }
  return out;
}

// The trace text as records (a stamped line and the unstamped lines that continue it), masked;
// the records of the callback thread apart, in their order; those of the other threads (the
// application's, the socket thread's), whose interleaving is the scheduler's, sorted. Records of
// how the socket's reads happened to cut the bytes are left out.
std::string MaskTrace(const std::string& trace) {
  std::vector<std::string> records;
  std::size_t start = 0;
  while (start < trace.size()) {
    std::size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    const bool stamped = line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.';
    line = MaskLine(line);
    if (stamped || records.empty())
      records.push_back(line);
    else
      records.back() += "\n" + line;
  }
  std::string callbacks, others;
  std::vector<std::string> sorted;
  for (const std::string& record : records) {
    if (record.rfind("<time> RcvInfo:", 0) == 0) continue;
    if (record.rfind("<time> Issuing callback ", 0) == 0)
      callbacks += record + "\n";
    else
      sorted.push_back(record);
  }
  std::stable_sort(sorted.begin(), sorted.end());
  for (const std::string& record : sorted)
    others += record + "\n";
  return "# trace: callback thread\n" + callbacks + "# trace: other threads, sorted\n" + others;
}

// ---------------------------------------------------------------------------------------------

class TGoldenSession;
struct TGoldenCase {
  const char* Name;
  const char* Script;
  std::function<void(TGoldenSession&)> Act;
};
void PrintTo(const TGoldenCase& c, std::ostream* os) {
  *os << c.Name;
}

// The application's side: the library through its exports against the fake host, which plays
// a script on a thread of its own; its trace file, its events and the host's received requests.
class TGoldenSession {
 public:
  TGoldenSession() {
    runner_.SetLog([this](const std::string& line) {
      // The host's received order requests; the handshakes come on the heartbeat's timing.
      static const std::string kReceived = "host <- Msg=";
      if (line.rfind(kReceived, 0) != 0) return;
      const std::string code = line.substr(kReceived.size(), 4);
      if (code != "3301" && code != "3302" && code != "3303") return;
      std::lock_guard guard(lock_);
      received_.push_back(line);
    });
  }

  TGoldenSession(const TGoldenSession&) = delete;
  TGoldenSession& operator=(const TGoldenSession&) = delete;
  // A case that stopped early: the library stops before its client path goes.
  ~TGoldenSession() {
    vnLogOff();
    if (result_.valid()) {
      runner_.RequestStop();
      result_.wait();
    }
  }

  void Play(const std::string& script) {
    result_ = std::async(std::launch::async, [this, script] {
      return runner_.Run(TConversation::Load(kScripts + script));
    });
  }
  // Initialises with every trace switch on but socket-level detail, logs trader1 on and waits
  // for the download.
  void LogOn() {
    ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
    vnEnable(VN_DEBUG_DEBUGGING | VN_DEBUG_HOST_LOG | VN_DEBUG_ORDER_LOG |
             VN_DEBUG_TRACE_APP_CALLS);
    ASSERT_TRUE(TCallbackRecorder::RegisterAll());
    API()->Heartbeat.SetInterval(25);
    API()->Links.HostReconnect = 2;
    // No handshake within a case: they come on the heartbeat's timing.
    API()->Links.HostHandshakePeriod = 1000000;
    ASSERT_EQ(vnSetHostAddress("127.0.0.1", std::to_string(servers_.Host.Port()).c_str()), 0);
    ASSERT_EQ(vnReady(), 0);
    LogonStruct logon;
    std::memset(&logon, 0, sizeof logon);
    std::strcpy(logon.UserName, "trader1");
    std::strcpy(logon.Password, "secret1");
    logon.FullDownload = 'N';
    logon.ReportDownload = 'N';
    ASSERT_EQ(vnLogOn(&logon), 0);
    ASSERT_TRUE(Delivered([](const TCallbackRecorder::TDelivery& delivery) {
      return delivery.Id == VN_CB_DATA_DL_COMPLETE;
    }));
    // From here on the heartbeat does not tick within a case: no handshake and no watch
    // time-out comes on the scheduler's timing.
    API()->Heartbeat.SetInterval(60000);
  }
  bool HostIDsArrived() {
    return Eventually([] { return !API()->OrderIDs.PreAllocatedIDs().empty(); });
  }
  // True once a delivery matches.
  bool Delivered(const std::function<bool(const TCallbackRecorder::TDelivery&)>& matches) {
    return Eventually([&] {
      for (const auto& delivery : recorder_.Deliveries())
        if (matches(delivery)) return true;
      return false;
    });
  }
  bool OrderEventArrived(const char* id, std::uint8_t status) {
    return Delivered([&](const TCallbackRecorder::TDelivery& delivery) {
      if (delivery.Id != VN_CB_ORDER) return false;
      OrderUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      return std::string_view(update.OrderID) == id && update.Status == status;
    });
  }
  // The deliveries of the id so far.
  std::size_t Count(std::int32_t id) {
    std::size_t count = 0;
    for (const auto& delivery : recorder_.Deliveries())
      count += delivery.Id == id;
    return count;
  }
  // True once the order events number count.
  bool OrderEventCount(std::size_t count) {
    return Eventually([&] {
      std::size_t orders = 0;
      for (const auto& delivery : recorder_.Deliveries())
        orders += delivery.Id == VN_CB_ORDER;
      return orders >= count;
    });
  }
  // Once every event posted has been delivered.
  void LogOff() {
    ASSERT_TRUE(Eventually([] { return CallbackQueueCount() == 0; }));
    ASSERT_EQ(vnLogOff(), 0);
    ASSERT_TRUE(result_.valid());
    const TConversationResult result = result_.get();
    EXPECT_TRUE(result) << result.Message;
  }

  // The case's text: the events, the requests received, the trace file; masked.
  std::string Text() {
    std::string text = "# events\n";
    for (const auto& delivery : recorder_.Deliveries())
      text += EventLine(delivery) + "\n";
    text += "# host received\n";
    {
      std::lock_guard guard(lock_);
      for (const std::string& line : received_)
        text += MaskLine(line) + "\n";
    }
    for (const std::string& name : dir_.Files()) {
      if (name.rfind("VornDLLTrace_", 0) != 0) continue;
      std::string trace = ReadFileText(dir_.File(name));
      ReplaceAll(trace, dir_.Path(), "<path>/");
      ReplaceAll(trace, std::to_string(servers_.Host.Port()), "<port>");
      text += MaskTrace(trace);
    }
    return text;
  }

 private:
  static std::string EventLine(const TCallbackRecorder::TDelivery& delivery) {
    std::string line = std::to_string(delivery.Id);
    const unsigned char* payload = delivery.Payload.data();
    switch (delivery.Id) {
      case VN_CB_ORDER: {
        OrderUpdateStruct update;
        std::memcpy(&update, payload, sizeof update);
        line += " order " + std::string(update.OrderID) + " from " + update.OldOrderID +
                " status " + std::to_string(update.Status) + " seq " +
                std::to_string(update.OFSeqNumber);
        break;
      }
      case VN_CB_FILL: {
        FillUpdateStruct fill;
        std::memcpy(&fill, payload, sizeof fill);
        line += " fill " + std::string(fill.OrderID) + " " + fill.FillID;
        break;
      }
      case VN_CB_HOST_LINK_STATE_CHANGE:
      case VN_CB_PRICE_STATE_CHANGE: {
        LinkStateStruct state;
        std::memcpy(&state, payload, sizeof state);
        line += " link " + std::to_string(state.OldState) + " -> " + std::to_string(state.NewState);
        break;
      }
      default:
        break;
    }
    return line;
  }

  TTempDir dir_;
  TCallbackRecorder recorder_;
  TFakeServers servers_;
  TConversationRunner runner_{servers_};
  std::future<TConversationResult> result_;
  std::mutex lock_;
  std::vector<std::string> received_;
};

// ---------------------------------------------------------------------------------------------
// The application's acts in each conversation.

// A limit order of TRADER1 on LIFFE FTSE MAR27, opening.
NewOrderStruct Order(char side, const char* price, std::int32_t lots, const char* reference) {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  PutTextAndNul(order.ExchangeName, "LIFFE");
  PutTextAndNul(order.CommodityName, "FTSE");
  PutTextAndNul(order.ContractDate, "MAR27");
  PutTextAndNul(order.OrderType, "LIMIT");
  PutTextAndNul(order.Price, price);
  PutTextAndNul(order.TraderAccount, "TRADER1");
  PutTextAndNul(order.Reference, reference);
  order.BuySell = side;
  order.Lots = lots;
  order.OpenOrClose = 'O';
  return order;
}

AmendOrderStruct Amend(const char* price, std::int32_t lots, const char* reference) {
  AmendOrderStruct amend;
  std::memset(&amend, 0, sizeof amend);
  PutTextAndNul(amend.Price, price);
  amend.Lots = lots;
  amend.OpenOrClose = 'O';
  PutTextAndNul(amend.TraderAccount, "TRADER1");
  PutTextAndNul(amend.Reference, reference);
  return amend;
}

// The scripts' first order: a buy of 3 at 6500.5, host id 101.
void EnterFirstOrder(TGoldenSession& s) {
  ASSERT_TRUE(s.HostIDsArrived());
  NewOrderStruct order = Order('B', "6500.5", 3, "first order");
  order.XRefP = 77;
  char id[11] = {};
  ASSERT_EQ(vnAddOrder(&order, id), 0);
  ASSERT_STREQ(id, "101");
}

void ReadBack(const char* id) {
  OrderDetailStruct detail;
  ASSERT_EQ(vnGetOrderByID(id, &detail, 0), 0);
  std::int32_t index = -1, versions = 0;
  ASSERT_EQ(vnGetOrderIndex(id, &index), 0);
  ASSERT_EQ(vnCountOrderHistory(index, &versions), 0);
  for (std::int32_t i = 0; i < versions; ++i)
    ASSERT_EQ(vnGetOrderHistory(index, i, &detail), 0);
}

const TGoldenCase kCases[] = {
    {"OrderFilled", "order-filled.conv",
     [](TGoldenSession& s) {
       EnterFirstOrder(s);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_FILLED));
       ReadBack("101");
     }},
    {"OrderRejected", "order-rejected.conv",
     [](TGoldenSession& s) {
       ASSERT_TRUE(s.HostIDsArrived());
       NewOrderStruct order = Order('S', "6400", 5, "");
       char id[11] = {};
       ASSERT_EQ(vnAddOrder(&order, id), 0);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_REJECTED));
       ReadBack("101");
     }},
    {"OrderNoIDs", "order-no-ids.conv",
     [](TGoldenSession& s) {
       NewOrderStruct order = Order('B', "6500", 1, "");
       char first[11] = {}, second[11] = {};
       ASSERT_EQ(vnAddOrder(&order, first), 0);
       ASSERT_EQ(vnAddOrder(&order, second), 0);
       ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
       ASSERT_TRUE(s.OrderEventArrived("201", VN_OS_SENT));
       ASSERT_TRUE(s.OrderEventCount(5));
     }},
    {"AmendAccepted", "amend-accepted.conv",
     [](TGoldenSession& s) {
       EnterFirstOrder(s);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_WORKING));
       AmendOrderStruct amend = Amend("6501", 5, "amended");
       amend.Priority = 2;
       PutTextAndNul(amend.SenderLocationID, "DESK4");
       PutTextAndNul(amend.ClientID, "C-9");
       amend.MaxClipSize = 2;
       PutTextAndNul(amend.LocalUserName, "local1");
       PutTextAndNul(amend.RoutingID1, "R1");
       ASSERT_EQ(vnAmendOrder("101", &amend), 0);
       ASSERT_TRUE(s.OrderEventCount(5));
       ReadBack("101");
     }},
    {"AmendRefused", "amend-refused.conv",
     [](TGoldenSession& s) {
       ASSERT_EQ(vnNotifyAllMessages('Y'), 0);
       EnterFirstOrder(s);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_WORKING));
       AmendOrderStruct amend = Amend("6450", 4, "first order");
       ASSERT_EQ(vnAmendOrder("101", &amend), 0);
       ASSERT_TRUE(s.OrderEventCount(4));
       // The refusal's alert follows the order's state; the entry's confirmation came first.
       ASSERT_TRUE(Eventually([&] { return s.Count(VN_CB_MESSAGE) >= 2; }));
       ReadBack("101");
     }},
    {"AmendPartFilled", "amend-part-filled.conv",
     [](TGoldenSession& s) {
       EnterFirstOrder(s);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_PART));
       AmendOrderStruct amend = Amend("6500.5", 5, "");
       ASSERT_EQ(vnAmendOrder("101", &amend), 0);
       ASSERT_TRUE(s.OrderEventCount(5));
       ReadBack("101");
     }},
    {"CancelAccepted", "cancel-accepted.conv",
     [](TGoldenSession& s) {
       EnterFirstOrder(s);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_WORKING));
       ASSERT_EQ(vnCancelOrder("101"), 0);
       ASSERT_EQ(vnCancelOrder("101"), 0);
       ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_CANCELLED));
       ReadBack("101");
     }},
    // The cancel made before the host's first answer is parked and goes once the order works.
    {"CancelWhileQueued", "cancel-while-queued.conv",
     [](TGoldenSession& s) {
       EnterFirstOrder(s);
       ASSERT_EQ(vnCancelOrder("101"), VN_RC_ORDER_HELD_IN_QUEUE);
       ASSERT_EQ(vnAcknowledgeUsrMsg("5"), 0);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_SENT));
       ASSERT_EQ(vnAcknowledgeUsrMsg("6"), 0);
       ASSERT_TRUE(s.OrderEventArrived("101", VN_OS_CANCELLED));
       ReadBack("101");
     }},
};

class GoldenConversationTest : public ::testing::TestWithParam<TGoldenCase> {
 protected:
  // Each case starts with the trace switches off, as in a process of its own.
  void SetUp() override {
    vnLogOff();
    vnDisable(0xFF);
    SetDownloadServices(&services_);
  }
  void TearDown() override {
    vnLogOff();
    vnDisable(0xFF);
    SetDownloadServices(nullptr);
    JoinStoppedThreads();
  }

  TGoldenNoWaitServices services_;
};

TEST_P(GoldenConversationTest, TraceEventsAndRequestsAsBefore) {
  const TGoldenCase& c = GetParam();
  std::string text;
  {
    TGoldenSession session;
    session.Play(c.Script);
    session.LogOn();
    ASSERT_FALSE(HasFatalFailure());
    c.Act(session);
    ASSERT_FALSE(HasFatalFailure());
    session.LogOff();
    text = session.Text();
  }
  const std::string name = std::string(c.Name) + ".txt";
  if (const char* folder = std::getenv("VORN_WRITE_GOLDEN")) {
    std::filesystem::create_directories(folder);
    WriteFileText(std::string(folder) + "/" + name, text);
    return;
  }
  const std::string golden = ReadFileText(kGolden + name);
  ASSERT_FALSE(golden.empty()) << "no golden file " << kGolden + name;
  EXPECT_EQ(text, golden);
}

INSTANTIATE_TEST_SUITE_P(Conversations, GoldenConversationTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vorn
