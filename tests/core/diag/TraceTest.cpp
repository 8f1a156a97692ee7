#include "core/diag/Trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/util/DateTime.h"
#include "support/FakeClock.h"
#include "support/LogText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

constexpr const char* kHeader =
    "VORNAPI v2.8.3 started at 05/03/2024 14:07:09.\r\n"
    "InterfaceVersion: v2.8.3SP6\r\n"
    "ProductVersion:   8.1\r\n"
    "PrivateBuild:     070509\r\n"
    "\r\n";
constexpr const char* kFirstTraceFile = "VornDLLTrace_240305_140709_1.Log";

class TraceTest : public ::testing::Test {
 protected:
  TraceTest() { ResetTraceState(); }
  ~TraceTest() override { ResetTraceState(); }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
};

TEST_F(TraceTest, FullRingOverwritesOldestAndDumpsOldestFirst) {
  InitTraceRing(kTraceRingSize);
  for (int i = 1; i <= 501; ++i)
    AddTraceEntry(tlNote, "TRing.Add", std::to_string(i));
  const auto lines = SplitLogLines(FormatTraceback());
  ASSERT_EQ(lines.size(), 2u + 500u + 1u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "## Diagnostic Traceback ##");
  EXPECT_EQ(lines[2], "14:07:09.123 ..   : TRing.Add 2");
  EXPECT_EQ(lines[501], "14:07:09.123 ..   : TRing.Add 501");
  EXPECT_EQ(lines[502], "");
}

TEST_F(TraceTest, PartialRingListsFilledSlotsIndentedByNesting) {
  AddTraceEntry(tlNote, "TLost.Entry", "before the ring exists");
  InitTraceRing(kTraceRingSize);
  AddTraceEntry(tlExit, "TUnbalanced.Exit");  // an exit with nothing open does not underflow
  AddTraceEntry(tlStart, "TClassAPI.Outer", "Started");
  clock_.AdvanceMs(1000);
  AddTraceEntry(tlStart, "TClassAPI.Inner");
  AddTraceEntry(tlNote, "TClassAPI.Inner", "Value = 5");
  AddTraceEntry(tlNote, "TClassAPI.Inner", "Value = ", "6");  // composed in the slot
  AddTraceEntry(tlExit, "TClassAPI.Inner");
  AddTraceEntry(tlExit, "TClassAPI.Outer", "Finished");
  const std::vector<std::string> expected = {
      "",
      "## Diagnostic Traceback ##",
      "14:07:09.123 Exit:  TUnbalanced.Exit ",
      "14:07:09.123 Start: TClassAPI.Outer Started",
      "14:07:10.123 Start:  TClassAPI.Inner ",
      "14:07:10.123 ..   :   TClassAPI.Inner Value = 5",
      "14:07:10.123 ..   :   TClassAPI.Inner Value = 6",
      "14:07:10.123 Exit:   TClassAPI.Inner ",
      "14:07:10.123 Exit:  TClassAPI.Outer Finished",
      "",
  };
  EXPECT_EQ(SplitLogLines(FormatTraceback()), expected);
}

TEST_F(TraceTest, ScopeSkipsExitEntryWhenAnExceptionLeaves) {
  InitTraceRing(10);
  { TTraceScope scope("TClassAPI.Ok", "Started", "Finished"); }
  try {
    TTraceScope scope("TClassAPI.Fails");
    throw std::runtime_error("x");
  } catch (const std::exception&) {
  }
  const std::vector<std::string> expected = {
      "",
      "## Diagnostic Traceback ##",
      "14:07:09.123 Start: TClassAPI.Ok Started",
      "14:07:09.123 Exit:  TClassAPI.Ok Finished",
      "14:07:09.123 Start: TClassAPI.Fails ",
      "",
  };
  EXPECT_EQ(SplitLogLines(FormatTraceback()), expected);
}

TEST_F(TraceTest, OpenWritesHeaderAndLinesEndInCrLf) {
  OpenTraceFile();
  ASSERT_EQ(TraceFileName(), dir_.File(kFirstTraceFile));
  WriteTraceLine("External Log: hello");
  {
    TTraceLockGuard lock;
    WriteTraceText("Part", true);
    WriteTraceText(" two\r\n", false);
  }
  EXPECT_EQ(ReadFileText(dir_.File(kFirstTraceFile)),
            std::string(kHeader) + "14:07:09.123 External Log: hello\r\n14:07:09.123 Part two\r\n");
  EXPECT_EQ(TraceByteCount(), 2u + 32u + 17u + 6u);
}

TEST_F(TraceTest, WithoutTraceFileLinesAreDropped) {
  WriteTraceLine("nowhere");
  DumpMessage("Msg=1\x01");
  EXPECT_TRUE(dir_.Files().empty());
  EXPECT_EQ(TraceByteCount(), 2u);
}

TEST_F(TraceTest, OpenRotatesOlderGenerations) {
  WriteFileText(dir_.File("VORNDLLTRACE_a.log"), "log");
  for (int i = 1; i <= 5; ++i)
    WriteFileText(dir_.File("VornDLLTrace_a.Bak" + std::to_string(i)), "b" + std::to_string(i));
  WriteFileText(dir_.File("Other.Log"), "other");

  OpenTraceFile();

  const std::vector<std::string> expectedNames = {
      "Other.Log",           "VORNDLLTRACE_a.Bak1", "VornDLLTrace_240305_140709_1.Log",
      "VornDLLTrace_a.Bak2", "VornDLLTrace_a.Bak3", "VornDLLTrace_a.Bak4",
      "VornDLLTrace_a.Bak5",
  };
  EXPECT_EQ(dir_.Files(), expectedNames);
  EXPECT_EQ(ReadFileText(dir_.File("VORNDLLTRACE_a.Bak1")), "log");
  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_a.Bak2")), "b1");
  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_a.Bak5")), "b4");
  EXPECT_EQ(ReadFileText(dir_.File(kFirstTraceFile)), kHeader);
}

TEST_F(TraceTest, TakenRenameTargetStopsPassWithoutReplacingIt) {
  // Bak1 cannot move on (a folder holds its new name), so the log cannot take its name.
  std::filesystem::create_directory(dir_.File("VornDLLTrace_a.Bak2"));
  WriteFileText(dir_.File("VornDLLTrace_a.Bak1"), "b1");
  WriteFileText(dir_.File("VornDLLTrace_a.Log"), "log");
  WriteFileText(dir_.File("VornDLLTrace_a.Bak3"), "b3");

  OpenTraceFile();

  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_a.Bak1")), "b1");
  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_a.Log")), "log");
  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_a.Bak4")), "b3");  // other passes go on
  EXPECT_EQ(ReadFileText(dir_.File(kFirstTraceFile)), kHeader);
}

TEST_F(TraceTest, SecondOpenClosesCurrentFileAndRotatesIt) {
  OpenTraceFile();
  WriteTraceLine("first");
  OpenTraceFile();
  WriteTraceLine("second");
  EXPECT_EQ(TraceFileName(), dir_.File("VornDLLTrace_240305_140709_2.Log"));
  EXPECT_EQ(ReadFileText(dir_.File("VornDLLTrace_240305_140709_1.Bak1")),
            std::string(kHeader) + "14:07:09.123 first\r\n");
  EXPECT_EQ(ReadFileText(TraceFileName()), std::string(kHeader) + "14:07:09.123 second\r\n");
}

TEST_F(TraceTest, RolloverStartsNextGenerationWithoutHeader) {
  SetTraceRolloverLimit(100);
  OpenTraceFile();
  const std::string line = "14:07:09.123 " + std::string(37, 'x');  // 50 bytes
  WriteTraceLine(line.substr(13));
  WriteTraceLine(line.substr(13));  // half of 50 is not more than 100 - 52
  EXPECT_EQ(TraceByteCount(), 102u);
  WriteTraceLine(line.substr(13));  // half of 50 is more than 100 - 102
  EXPECT_EQ(TraceByteCount(), 52u);
  EXPECT_EQ(TraceFileName(), dir_.File("VornDLLTrace_240305_140709_2.Log"));
  EXPECT_EQ(ReadFileText(dir_.File(kFirstTraceFile)),
            std::string(kHeader) + line + "\r\n" + line + "\r\n");
  EXPECT_EQ(ReadFileText(TraceFileName()), line + "\r\n");
}

TEST_F(TraceTest, DumpMessageMasksCredentialFields) {
  struct Case {
    std::string message;
    std::string dumped;
  };
  const Case cases[] = {
      {"Usr=bob\x01Pwd=secret\x01Msg=3301\x01", "??Msg=3301?"},
      {"Msg=3300\x01NPw=new\x01X=1\x01", "Msg=3300??X=1?"},
      {"XUsr=1\x01Pwd\x01", "XUsr=1??"},  // an item masks when it starts with a key
      {"A=1\x01"
       "B=2",
       "A=1?"},  // a last field without separator is not written
      {"A=1\x02"
       "B\x01",
       "A=1?A=1B?"},         // another control byte does not start a field
      {"A{B\x01", "A?AB?"},  // nor does a byte above 122
      {"Pwd=a\x02"
       "b{|\x01"
       "C\x01",
       "?C?"},          // masking lasts until the separator, whatever the item holds
      {"Usr=bob", ""},  // a masked last item leaves nothing behind
  };
  InitTraceRing(10);
  OpenTraceFile();
  for (const auto& c : cases) {
    const std::string before = ReadFileText(TraceFileName());
    DumpMessage(c.message);
    EXPECT_EQ(ReadFileText(TraceFileName()), before + "14:07:09.123 " + c.dumped + "\r\n")
        << c.dumped;
  }
  const std::string before = ReadFileText(TraceFileName());
  DumpMessage("Label: ", "Usr=bob\x01Msg=1\x01");  // the label does not shield the first item
  EXPECT_EQ(ReadFileText(TraceFileName()), before + "14:07:09.123 Label: ?Msg=1?\r\n");
  EXPECT_NE(FormatTraceback().find("..   : TConnection.Send debugmsg\r\n"), std::string::npos);
}

TEST_F(TraceTest, EnableSetsBitsAndKeepsExtraDetail) {
  DisableDebugFlags(0xFF);
  EnableDebugFlags(kDebugging | kGenerateHostLog);
  EXPECT_EQ(DebugFlags(), kDebugging | kGenerateHostLog);
  EXPECT_TRUE(DebugFlagOn(kGenerateHostLog | kTraceAppCalls));
  DisableDebugFlags(kGenerateHostLog | kTraceAppCalls);
  EXPECT_EQ(DebugFlags(), kDebugging);
  DisableDebugFlags(0xFF);
  EXPECT_FALSE(DebugFlagOn(0xFF));
  EXPECT_TRUE(ExtraTraceDetail());
}

TEST_F(TraceTest, ThreadsTraceWhileAnotherDumps) {
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  InitTraceRing(kTraceRingSize);
  OpenTraceFile();
  std::atomic<bool> done{false};
  std::vector<std::string> dumps;
  std::thread dumper([&] {
    while (!done.load()) {
      dumps.push_back(FormatTraceback());
      TTraceLockGuard lock;  // a composed text stays whole
      WriteTraceText("dump", true);
      WriteTraceText(" end\r\n", false);
    }
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        TTraceScope scope("TWorker.Run");
        AddTraceEntry(tlNote, "TWorker.Run", std::to_string(t));
        WriteTraceLine("worker " + std::to_string(t) + " " + std::to_string(i));
        if (i % 50 == 0) DumpMessage("Usr=u\x01Msg=1\x01");
      }
    });
  }
  for (auto& worker : workers)
    worker.join();
  done.store(true);
  dumper.join();

  // Every worker line once, every other line whole.
  std::multiset<std::string> workerLines;
  const auto lines = SplitLogLines(ReadFileText(TraceFileName()));
  ASSERT_GE(lines.size(), 5u);
  for (std::size_t i = 5; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].rfind("14:07:09.123 ", 0), 0u) << lines[i];
    const std::string text = lines[i].substr(13);
    if (text.rfind("worker ", 0) == 0)
      workerLines.insert(text);
    else
      EXPECT_TRUE(text == "dump end" || text == "?Msg=1?") << lines[i];
  }
  std::multiset<std::string> expected;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kLines; ++i)
      expected.insert("worker " + std::to_string(t) + " " + std::to_string(i));
  EXPECT_EQ(workerLines, expected);

  const std::set<std::string> entries = {
      "Start: TWorker.Run ",  "Exit:  TWorker.Run ",  "..   : TConnection.Send debugmsg",
      "..   : TWorker.Run 0", "..   : TWorker.Run 1", "..   : TWorker.Run 2",
      "..   : TWorker.Run 3", "..   : TWorker.Run 4", "..   : TWorker.Run 5",
      "..   : TWorker.Run 6", "..   : TWorker.Run 7",
  };
  for (const auto& dump : dumps) {
    const auto dumped = SplitLogLines(dump);
    ASSERT_GE(dumped.size(), 3u);
    for (std::size_t i = 2; i + 1 < dumped.size(); ++i) {
      // Time (13) and level text (7), then an indentation that depends on where the copy
      // began: take it out before comparing.
      ASSERT_EQ(dumped[i].rfind("14:07:09.123 ", 0), 0u) << dumped[i];
      std::string text = dumped[i].substr(13);
      const auto routine = text.find_first_not_of(' ', 7);
      if (routine != std::string::npos) text.erase(7, routine - 7);
      ASSERT_TRUE(entries.count(text)) << dumped[i];
    }
  }
}

// The dump text as the byte-by-byte routine made it before it copied runs.
std::string PerByteMaskedMessage(std::string_view label, std::string_view message) {
  std::string out(label);
  std::string field;
  bool fieldStart = true;
  for (std::size_t i = 0; i < message.size();) {
    if (fieldStart) {
      fieldStart = false;
      i += MaskedItemLength(message.substr(i));
      continue;
    }
    const char c = message[i++];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte <= 122) {
      field += c;
      continue;
    }
    out += field;
    out += '?';
    if (byte == 0x01) {
      field.clear();
      fieldStart = true;
    }
  }
  return out;
}

// Seeded bodies of separators, other control and high bytes, credential keys and plain text.
std::vector<std::string> RandomBodies(std::uint32_t seed, int count) {
  static const std::vector<std::string> kPieces = {
      "\x01", "\x01",      "\x01", "\x02", "\x7F",     "\x80", "\xFF",
      "{",    "}",         "z",    "A=1",  "Msg=3601", "Usr",  "Pwd",
      "NPw",  "Us",        "Pw",   "=",    " ",        "|",    std::string(1, '\0'),
      "\t",   "OID=123456"};
  std::mt19937 random(seed);
  std::vector<std::string> bodies;
  for (int n = 0; n < count; ++n) {
    std::string body;
    const int pieces = static_cast<int>(random() % 24);
    for (int k = 0; k < pieces; ++k)
      body += kPieces[random() % kPieces.size()];
    bodies.push_back(std::move(body));
  }
  return bodies;
}

TEST_F(TraceTest, MaskedDumpCopiesRunsWithThePerByteRoutinesOutput) {
  for (const std::string& body : RandomBodies(20261210, 20000)) {
    for (const std::string_view label : {"", "TFieldsList.SetFields: "}) {
      std::string out(label);
      AppendMaskedMessage(out, body);
      ASSERT_EQ(out, PerByteMaskedMessage(label, body)) << ::testing::PrintToString(body);
    }
  }
}

// Under the trace lock: the calls are numbered in the order they take it.
std::string NumberedLine(std::atomic<int>& next) {
  TTraceLockGuard lock;
  const std::string text = "call " + std::to_string(next.fetch_add(1));
  WriteTraceLine(text);
  return text;
}

TEST_F(TraceTest, BatchHoldsLinesUntilItEndsAndAnyOtherWriteTakesThemFirst) {
  OpenTraceFile();
  const std::string file = TraceFileName();
  const std::string held1 = "14:07:09.123 held 1\r\n";
  const std::string dump = "14:07:09.123 ?A=1?\r\n";
  const std::string other = "14:07:09.123 other thread\r\n";
  const std::string held2 = "14:07:09.123 held 2\r\n";
  const std::string held3 = "14:07:09.123 held 3\r\n";
  {
    TTraceFileBatch batch;
    WriteTraceLine("held 1");
    DumpMessage(
        "Usr=u\x01"
        "A=1\x01");
    EXPECT_EQ(ReadFileText(file), kHeader);
    EXPECT_EQ(TraceByteCount(), 2u + held1.size() - 2 + dump.size());  // counted at the call
    std::thread([] { WriteTraceLine("other thread"); }).join();
    EXPECT_EQ(ReadFileText(file), kHeader + held1 + dump + other);
    WriteTraceLine("held 2");
    {
      TTraceFileBatch inner;
      WriteTraceLine("held 3");
    }
    EXPECT_EQ(ReadFileText(file), kHeader + held1 + dump + other);  // only the outer end writes
  }
  EXPECT_EQ(ReadFileText(file), kHeader + held1 + dump + other + held2 + held3);
}

TEST_F(TraceTest, HeldLinesAreWrittenByLogWritesClosingAndTheirOwnSize) {
  const std::string line = "14:07:09.123 held\r\n";
  const std::pair<const char*, std::function<void()>> writers[] = {
      {"error log line", [] { WriteErrorLogLine("x"); }},
      {"exception report", [] { WriteExceptionReport("S", "M", "E", 0, Now(), "C"); }},
      {"message error log", [] { MsgErrorLog("x"); }},
      {"FlushDebugFiles", [] { FlushDebugFiles(); }},
      {"FlushTraceFile", [] { FlushTraceFile(); }},
      {"close", [] { CloseTraceFile(); }},
  };
  for (const auto& [name, write] : writers) {
    SCOPED_TRACE(name);
    ResetTraceState();
    OpenTraceFile();
    const std::string file = TraceFileName();
    TTraceFileBatch batch;
    WriteTraceLine("held");
    ASSERT_EQ(ReadFileText(file), kHeader);
    write();
    EXPECT_EQ(ReadFileText(file), kHeader + line);
  }
  ResetTraceState();
  OpenTraceFile();
  TTraceFileBatch batch;
  const std::string text(1000, 'x');
  for (int i = 0; i < 70; ++i)
    WriteTraceLine(text);
  // Held lines are bounded: past 64 KB they are written inside the batch.
  EXPECT_GE(ReadFileText(TraceFileName()).size(), 64u * 1024);
}

TEST_F(TraceTest, BatchedLinesRollOverAtTheSamePointsAsUnbatchedOnes) {
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 200; ++i)
    texts.push_back(std::string(random() % 90, static_cast<char>('a' + i % 26)));
  const auto write = [&](bool batched) {
    TTempDir dir;
    ResetTraceState();
    SetTraceRolloverLimit(500);
    OpenTraceFile();
    {
      std::optional<TTraceFileBatch> batch;
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (batched && i % 37 == 0) batch.emplace();  // ends the last batch, starts another
        if (i % 5 == 0)
          DumpMessage("Usr=u\x01" + texts[i] + "\x01");
        else
          WriteTraceLine(texts[i]);
      }
    }
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& name : dir.Files())
      files.emplace_back(name, ReadFileText(dir.File(name)));
    ResetTraceState();
    return files;
  };
  const auto unbatched = write(false);
  ASSERT_GT(unbatched.size(), 10u);
  EXPECT_EQ(write(true), unbatched);
}

// The file holds the lines of every thread in the order they took the trace lock, whether
// written at once or held in a batch.
TEST_F(TraceTest, LinesOfBatchingAndOtherThreadsKeepTheirCallOrder) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  OpenTraceFile();
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &next] {
      for (int round = 0; round < kRounds; ++round) {
        if (t % 2 == 0) {
          TTraceFileBatch batch;  // a link thread applying a read
          for (int k = 0; k < 4; ++k)
            NumberedLine(next);
        } else {
          NumberedLine(next);
        }
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  const auto lines = SplitLogLines(ReadFileText(TraceFileName()));
  std::vector<std::string> expected(lines.begin(), lines.begin() + 5);
  for (int n = 0; n < next.load(); ++n)
    expected.push_back("14:07:09.123 call " + std::to_string(n));
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace vorn
