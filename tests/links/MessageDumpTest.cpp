#include "links/MessageDump.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/diag/Trace.h"
#include "core/util/DateTime.h"
#include "support/CompressEncoder.h"
#include "support/FakeClock.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::string_literals;

class MessageDumpTest : public ::testing::Test {
 protected:
  MessageDumpTest() {
    ResetTraceState();
    DisableDebugFlags(0xFF);
    InitTraceRing(kTraceRingSize);
    OpenTraceFile();
  }
  ~MessageDumpTest() override {
    DisableDebugFlags(0xFF);
    ResetTraceState();
  }

  // The trace-file text written by the action.
  template <class F>
  std::string Written(F action) {
    const std::string before = ReadFileText(TraceFileName());
    action();
    return ReadFileText(TraceFileName()).substr(before.size());
  }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
};

TEST_F(MessageDumpTest, CredentialItemsAreMaskedToTheSeparator) {
  struct Case {
    std::string bytes;
    std::string dumped;
  };
  const Case cases[] = {
      {"Msg=3300\x01Usr=bob\x01Pwd=se|c{ret\x01NPw=n\x02\xE9w\x01Ver=8.1\x01"s,
       "Msg=3300????Ver=8.1?"},
      {"Usr=bob\x01Msg=1", "?Msg=1"},
      {"Msg=1\x01Pwd=last", "Msg=1?"},
      {"Msg=1\x01XPwd=2\x02Pwd=3\x01"s, "Msg=1?XPwd=2?Pwd=3?"},  // only at an item's start
      {"0084\0\x7F{}abc"s, "0084????abc"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendDumpText(out, c.bytes);
    EXPECT_EQ(out, c.dumped) << c.dumped;
  }
}

// The dump text as the byte-by-byte routine made it before it copied runs.
std::string PerByteDumpText(std::string_view bytes) {
  std::string out;
  bool itemStart = true;
  for (std::size_t i = 0; i < bytes.size();) {
    if (itemStart) {
      itemStart = false;
      i += MaskedItemLength(bytes.substr(i));
      continue;
    }
    const char c = bytes[i++];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte <= 122) {
      out += c;
    } else {
      out += '?';
      itemStart = c == '\x01';
    }
  }
  return out;
}

TEST_F(MessageDumpTest, DumpTextCopiesRunsWithThePerByteRoutinesOutput) {
  const std::vector<std::string> pieces = {
      "\x01", "\x01", "\x02", "\x7F", "\xE9", "{", "z",  "A=1",  "Msg=3601",          "Usr",
      "Pwd",  "NPw",  "Us",   "=",    " ",    "|", "\t", "0084", std::string(1, '\0')};
  std::mt19937 random(20261210);
  for (int n = 0; n < 20000; ++n) {
    std::string bytes;
    for (int k = static_cast<int>(random() % 24); k > 0; --k)
      bytes += pieces[random() % pieces.size()];
    std::string out = "Recv:";
    AppendDumpText(out, bytes);
    ASSERT_EQ(out, "Recv:" + PerByteDumpText(bytes)) << ::testing::PrintToString(bytes);
  }
}

TEST_F(MessageDumpTest, ReceivedBodiesAreDumpedUnderTheirLabel) {
  const std::string contractDate = "Msg=3658\x01Usr=x\x01";
  struct Case {
    const char* name;
    std::uint8_t flags;
    TLinkKind kind;
    std::string body;
    bool decompressed;
    bool download;
    std::string written;
  };
  const Case cases[] = {
      {"plain", kGenerateHostLog, psHost, "Msg=3601\x01", false, false,
       "14:07:09.123 Recv:Msg=3601?|\r\n"},
      {"decompressed", kGenerateHostLog, psHost, " Enc\x01Msg=3601", true, false,
       "14:07:09.123 Decompress: Enc?Msg=3601|\r\n"},
      {"contract date outside the download", kGenerateHostLog, psHost, contractDate, false, false,
       "14:07:09.123 Recv:Msg=3658??|\r\n"},
      {"contract date during the download", kGenerateHostLog, psHost, contractDate, false, true,
       ""},
      {"host log off", kGeneratePriceFeedLog, psHost, "Msg=3601", false, false, ""},
      {"price feed", kGeneratePriceFeedLog, psPriceFeed, "0084 1.5", false, true,
       "14:07:09.123 Recv:0084 1.5|\r\n"},
  };
  for (const auto& c : cases) {
    DisableDebugFlags(0xFF);
    EnableDebugFlags(c.flags);
    EXPECT_EQ(Written([&] { DumpReceivedBody(c.kind, c.body, c.decompressed, c.download); }),
              c.written)
        << c.name;
  }
  EXPECT_NE(FormatTraceback().find(": Recv: debugmsg\r\n"), std::string::npos);
}

TEST_F(MessageDumpTest, SentFramesShowTheLengthWordAndMaskTheLogin) {
  EnableDebugFlags(kGenerateHostLog | kGeneratePriceFeedLog);
  EXPECT_EQ(Written([] { DumpSentFrame(psHost, MakeFrame("Usr=bob\x01Pwd=a|b\x01Msg=3300\x01")); }),
            "14:07:09.123 Hst.send: ????Msg=3300?|\r\n");
  const std::string priceBody = "0201" + std::string(61, ' ');  // length 65 is 'A'
  EXPECT_EQ(Written([&] { DumpSentFrame(psPriceFeed, MakeFrame(priceBody)); }),
            "14:07:09.123 Prc.send: ?A" + priceBody + "|\r\n");
  DisableDebugFlags(kGenerateHostLog);
  EXPECT_EQ(Written([] { DumpSentFrame(psHost, MakeFrame("Msg=3300\x01")); }), "");
}

TEST_F(MessageDumpTest, ContractDateBodyIsRecognisedByItsCode) {
  EXPECT_TRUE(IsContractDateBody("Msg=3658\x01"));
  EXPECT_FALSE(IsContractDateBody("Msg=3659\x01"));
  EXPECT_FALSE(IsContractDateBody("Msg=365"));
}

}  // namespace
}  // namespace vorn
