#include "links/FrameAssembler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "support/CompressEncoder.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

using namespace std::string_literals;

struct TBody {
  std::string Text;
  bool Decompressed;
  bool operator==(const TBody&) const = default;
};

void PrintTo(const TBody& b, std::ostream* os) {
  *os << (b.Decompressed ? "decompressed " : "plain ") << ::testing::PrintToString(b.Text);
}

struct TChunk {
  std::string Bytes;
  std::int32_t Generation = 1;
};

std::vector<TBody> Assemble(TLinkKind kind, const std::vector<TChunk>& chunks) {
  TFrameAssembler assembler(kind);
  std::vector<TBody> bodies;
  for (const auto& chunk : chunks)
    assembler.CopyToMainBuffer(chunk.Bytes, chunk.Generation, [&](std::string_view body, bool d) {
      bodies.push_back({std::string(body), d});
    });
  return bodies;
}

TEST(FrameAssemblerTest, ChunkingsGiveTheFramesBodies) {
  const std::string big = "0084" + std::string(20000, 'x');
  const std::string bigFrame = MakeFrame(big);
  struct Case {
    const char* name;
    std::vector<TChunk> chunks;
    std::vector<TBody> bodies;
  };
  const Case cases[] = {
      {"split inside the length word", {{"\x00"s}, {"\x05he"}, {"llo"}}, {{"hello", false}}},
      {"one frame over three chunks", {{"\x00\x05h"s}, {"el"}, {"lo"}}, {{"hello", false}}},
      {"three frames in one chunk",
       {{MakeFrame("a") + MakeFrame("bc") + MakeFrame("def")}},
       {{"a", false}, {"bc", false}, {"def", false}}},
      {"top bit of the length ignored",
       {{"\x80\x03"
         "abc"s +
         MakeFrame("d")}},
       {{"abc", false}, {"d", false}}},
      {"empty frames consume the length word only",
       {{"\x00\x00"s + MakeFrame("x") + "\x80"s}, {"\x00"s + MakeFrame("y")}},
       {{"x", false}, {"y", false}}},
      {"a new socket drops the partial frame",
       {{"\x00\x05hel"s, 1}, {MakeFrame("new"), 2}, {"\x00"s, 2}, {"\x01z", 3}},
       {{"new", false}}},
      {"a 20 KB body in socket-sized reads",
       {{bigFrame.substr(0, 8192)}, {bigFrame.substr(8192, 8192)}, {bigFrame.substr(16384)}},
       {{big, false}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Assemble(psPriceFeed, c.chunks), c.bodies) << c.name;
}

TEST(FrameAssemblerTest, EverySplitOfTwoFramesGivesBothBodies) {
  const std::string stream = MakeFrame("0084first") + MakeFrame("0002second body");
  const std::vector<TBody> expected = {{"0084first", false}, {"0002second body", false}};
  for (std::size_t i = 0; i <= stream.size(); ++i)
    for (std::size_t j = i; j <= stream.size(); ++j)
      ASSERT_EQ(Assemble(psPriceFeed,
                         {{stream.substr(0, i)}, {stream.substr(i, j - i)}, {stream.substr(j)}}),
                expected)
          << "split at " << i << " and " << j;
}

std::string Padded(std::string text, std::size_t size) {
  text.resize(size, 'x');
  return text;
}

TEST(FrameAssemblerTest, CompressionIsRecognisedByLinkKind) {
  struct Case {
    TLinkKind kind;
    std::string body;
    bool compressed;
  };
  const Case cases[] = {
      // The marker is searched from the first length byte, which is 0 below 256 bytes.
      {psHost, Padded("BEnc", 255), false},
      {psHost, Padded("BEnc", 300), true},
      {psHost, Padded("Bxyz", 300), false},
      {psHost, Padded("B\0Enc"s, 300), false},  // the search ends at the first NUL
      {psHost, Padded("Msg=3603\x01Txt=Encrypted", 300), false},
      {psPriceFeed, "0084 1", false},
      {psPriceFeed, "B084 1", true},
      {psPriceFeed, "Z084 1", true},
      {psPriceFeed, "b084 1", false},
      {psPriceFeed, "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsCompressedFrame(c.kind, MakeFrame(c.body)), c.compressed)
        << c.kind << " " << c.body.substr(0, 24);
}

TEST(FrameAssemblerTest, CompressedBodiesArriveDecompressed) {
  std::string hostText = " Enc\x01Msg=3603\x01Txt=";
  for (int i = 0; i < 40; ++i)
    hostText += "item " + std::to_string(i * 7919) + "; ";
  const std::string hostBody = CompressBody(hostText, 'C');
  ASSERT_GE(hostBody.size(), 256u);
  EXPECT_EQ(Assemble(psHost, {{MakeFrame(hostBody)}}), (std::vector<TBody>{{hostText, true}}));

  const std::string priceText = " 084" + std::string(40, ' ') + "12.5==";
  EXPECT_EQ(
      Assemble(psPriceFeed, {{MakeFrame(CompressBody(priceText, 'B'))}, {MakeFrame(" 084 plain")}}),
      (std::vector<TBody>{{priceText, true}, {" 084 plain", false}}));
}

TEST(FrameAssemblerTest, FailedBodyIsLoggedAndTheStreamGoesOn) {
  TTempDir dir;
  TFrameAssembler assembler(psPriceFeed);
  std::vector<std::string> bodies;
  const std::string stream = MakeFrame("B08") + MakeFrame("0099 throws") + MakeFrame("0084 ok");
  assembler.CopyToMainBuffer(stream, 1, [&](std::string_view body, bool) {
    if (body.starts_with("0099")) throw std::runtime_error("handler failed");
    bodies.emplace_back(body);
  });
  EXPECT_EQ(bodies, std::vector<std::string>{"0084 ok"});
  const std::string log = ReadFileText(dir.File(kMsgErrorLogFileName));
  EXPECT_NE(log.find("Error: Cannot process message #B08\r\nBuffer: B08\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Error: Cannot process message #0099\r\nBuffer: 0099 throws\r\n"),
            std::string::npos)
      << log;
}

TEST(FrameAssemblerTest, HostCodeTextIsTheMsgValue) {
  EXPECT_EQ(MessageCodeText(psHost, "Msg= 3601 \x01Seq=1"), "3601");
  EXPECT_EQ(MessageCodeText(psHost, " Enc\x01Msg=3603\x01"), "3603");
  EXPECT_EQ(MessageCodeText(psHost, "Seq=1"), "");
  EXPECT_EQ(MessageCodeText(psPriceFeed, "0084abc"), "0084");
}

}  // namespace
}  // namespace vorn
