#include "core/diag/ErrorLog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/diag/ClientPath.h"
#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "platform/Files.h"
#include "support/FakeClock.h"
#include "support/LogText.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

class ErrorLogTest : public ::testing::Test {
 protected:
  ErrorLogTest() {
    ResetTraceState();
    InitTraceRing(kTraceRingSize);
    ClearLastError();
    DisableDebugFlags(0xFF);
  }
  ~ErrorLogTest() override {
    ResetTraceState();
    ClearLastError();
    DisableDebugFlags(0xFF);
    SetErrorLogSizeLimit(0);
  }

  std::string ErrorLog() const { return ReadFileText(dir_.File(kErrorLogFileName)); }

  TTempDir dir_;
  TFakeClock clock_{EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 123)};
  TClockInstaller installer_{clock_};
};

TEST_F(ErrorLogTest, ExceptionReportsAreAppendedWithTraceback) {
  AddTraceEntry(tlStart, "TConnection.Execute", "Started");
  WriteExceptionReport("TConnection", "Execute", "Socket closed", 0xABC, clock_.NowLocal(),
                       "EVORN");
  const auto lines = SplitLogLines(ErrorLog());
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "When        : 05/03/2024 14:07:09");
  EXPECT_EQ(lines[2], "Sender      : TConnection");
  EXPECT_TRUE(lines[3].size() == 30 && lines[3].rfind("Module Base : ", 0) == 0 &&
              lines[3].find_first_not_of("0123456789ABCDEF", 14) == std::string::npos)
      << lines[3];
  EXPECT_EQ(lines[4], "E.msg       : Socket closed");
  EXPECT_EQ(lines[5], "E.Classname : EVORN");
  EXPECT_EQ(lines[6], "Exception Address: 0000000000000ABC ");
  EXPECT_EQ(lines[7], "Method Name      : Execute");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[9], "## Diagnostic Traceback ##");
  EXPECT_EQ(lines[10], "14:07:09.123 Start: TConnection.Execute Started");
  EXPECT_EQ(lines[11], "");

  WriteExceptionReport("TCallbackThread", "", "Second", 0, clock_.NowLocal(), "Exception");
  const std::string log = ErrorLog();
  EXPECT_EQ(Count(log, "## Diagnostic Traceback ##"), 2u);
  EXPECT_LT(log.find("E.msg       : Socket closed"), log.find("E.msg       : Second"));
  EXPECT_EQ(SplitLogLines(log).size(), 24u);
}

TEST_F(ErrorLogTest, BoundaryHandlerRecordsAndDumpLastErrorWritesIt) {
  EXPECT_EQ(WriteLastErrorReport(), kResultNoErrorRecorded);
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));

  int result = 0;
  try {
    TTraceScope scope("vnGetOrder");
    throw EListError("List index out of bounds (3)");
  } catch (...) {
    result = HandleUnexpectedError(std::current_exception(), "vnGetOrder");
  }
  EXPECT_EQ(result, kResultUnexpectedError);
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));  // written only on request

  clock_.AdvanceMs(60000);
  EXPECT_EQ(WriteLastErrorReport(), 0);
  const auto lines = SplitLogLines(ErrorLog());
  ASSERT_GE(lines.size(), 13u);
  EXPECT_EQ(lines[1], "When        : 05/03/2024 14:07:09");  // the time of the failure
  EXPECT_EQ(lines[2], "Sender      : TClassAPI");
  EXPECT_EQ(lines[4], "E.msg       : List index out of bounds (3)");
  EXPECT_EQ(lines[5], "E.Classname : EListError");
  EXPECT_EQ(lines[6], "Exception Address: 0000000000000000 ");
  EXPECT_EQ(lines[7], "Method Name      : ");
  EXPECT_EQ(lines[10], "14:07:09.123 Start: vnGetOrder ");
  EXPECT_EQ(lines[11], "14:07:09.123 Exit:  vnGetOrder Unexpected Error - call aborted");
  EXPECT_EQ(lines[12], "");
}

TEST_F(ErrorLogTest, HandlerNamesAnyCaughtException) {
  struct Case {
    std::exception_ptr error;
    std::string message;
    std::string className;
  };
  const Case cases[] = {
      {std::make_exception_ptr(EVORN("Not logged on", 4)), "Not logged on", "EVORN"},
      {std::make_exception_ptr(std::runtime_error("bad")), "bad", "std::runtime_error"},
      {std::make_exception_ptr(42), "Unknown exception", "unknown"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HandleUnexpectedError(c.error, "vnTest", 0x1234), kResultUnexpectedError);
    const TLastError record = LastError();
    EXPECT_TRUE(record.Present);
    EXPECT_EQ(record.Message, c.message);
    EXPECT_EQ(record.ClassName, c.className);
    EXPECT_EQ(record.Address, 0x1234u);
  }
}

TEST_F(ErrorLogTest, ReportExceptionWritesSenderReport) {
  ReportException("TCallbackThread", std::exception_ptr());
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));
  ReportException("TCallbackThread", std::make_exception_ptr(EConvertError("not a number")));
  const auto lines = SplitLogLines(ErrorLog());
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[2], "Sender      : TCallbackThread");
  EXPECT_EQ(lines[4], "E.msg       : not a number");
  EXPECT_EQ(lines[5], "E.Classname : EConvertError");
  EXPECT_FALSE(LastError().Present);  // the loop handler leaves the last error alone
}

TEST_F(ErrorLogTest, ErrorLogPastItsLimitIsMovedAside) {
  SetErrorLogSizeLimit(64);
  const std::string big(100, 'x');
  WriteErrorLogLine(big);
  WriteErrorLogLine("second");
  WriteErrorLogLine("third");
  EXPECT_EQ(ReadFileText(dir_.File("VORNDLLerror.log.Bak1")), "\r\n" + big + "\r\n");
  EXPECT_EQ(ErrorLog(), "\r\nsecond\r\n\r\nthird\r\n");
}

TEST_F(ErrorLogTest, FlushDumpsRingOnlyWithFlushBugBuster) {
  AddTraceEntry(tlNote, "TClassAPI.Destroy", "closing");
  FlushDebugFiles();
  EXPECT_FALSE(FileExists(dir_.File(kErrorLogFileName)));
  EnableDebugFlags(kFlushBugBuster);
  FlushDebugFiles();
  EXPECT_EQ(ErrorLog(),
            "\r\n## Diagnostic Traceback ##\r\n14:07:09.123 ..   : TClassAPI.Destroy closing\r\n"
            "\r\n");
}

TEST_F(ErrorLogTest, MsgErrorLogAppendsStampedTexts) {
  MsgErrorLog("Error: Cannot process message #3301\r\nBuffer: abc");
  MsgErrorLog("two");
  EXPECT_EQ(ReadFileText(dir_.File(kMsgErrorLogFileName)),
            "\r\nWhen: 05/03/2024 14:07:09\r\nError: Cannot process message #3301\r\n"
            "Buffer: abc\r\n"
            "\r\nWhen: 05/03/2024 14:07:09\r\ntwo\r\n");
}

TEST(UUIDLogTest, AppendsCrLfLinesInClientPath) {
  TTempDir dir;
  CloseUUIDLog();
  WriteFileText(dir.File(kUUIDObjectFileName), "earlier\r\n");
  WriteUUIDLine(kUUIDObjectFileName, "UUID=1 " + UUIDStatusToStr(1));
  WriteUUIDLine(kUUIDObjectFileName, "UUID=2 " + UUIDStatusToStr(3));
  CloseUUIDLog();
  EXPECT_EQ(ReadFileText(dir.File(kUUIDObjectFileName)),
            "earlier\r\nUUID=1 Status=Active\r\nUUID=2 Status=Expired\r\n");
}

TEST(UUIDLogTest, StatusTexts) {
  const std::pair<int, const char*> cases[] = {
      {0, "Status=Undefined"}, {1, "Status=Active"}, {2, "Status=Inactive"},
      {3, "Status=Expired"},   {4, "Status=4"},      {-1, "Status=-1"},
  };
  for (const auto& [state, text] : cases)
    EXPECT_EQ(UUIDStatusToStr(state), text);
}

TEST(ClientPathTest, DefaultsToHostProgramFolder) {
  const std::string saved = ClientPathSetting();
  SetClientPath("");
  const std::string path = GetClientPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '/');
  EXPECT_TRUE(FileExists(path + "vorn_tests"));
  SetClientPath("/data/client/");
  EXPECT_EQ(GetClientPath(), "/data/client/");
  SetClientPath(saved);
}

}  // namespace
}  // namespace vorn
