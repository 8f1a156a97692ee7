#pragma once
// The error log ("VORNDLLerror.log"): exception reports with a dump of the trace ring, and
// single texts; the last-error record filled by the boundary handler of every export; and the
// message error log ("MsgError.log"). Both logs are appended to, in the client path; a log
// that has grown past its size limit is first moved to the same name + ".Bak1".

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vorn {

inline constexpr const char* kErrorLogFileName = "VORNDLLerror.log";
inline constexpr const char* kMsgErrorLogFileName = "MsgError.log";
inline constexpr std::uint64_t kErrorLogSizeLimit = 4 * 1024 * 1024;

// Result codes of the boundary handler and of WriteLastErrorReport.
inline constexpr int kResultUnexpectedError = 99;  // "Unexpected Error trapped - Routine aborted"
inline constexpr int kResultNoErrorRecorded = 11;  // "Generic value not set/known error"

// Appends an exception report: the labelled fields, then the trace ring dump.
void WriteExceptionReport(std::string_view sender, std::string_view methodName,
                          std::string_view message, std::uintptr_t address, TDateTime time,
                          std::string_view className);
// Appends an empty line and the text.
void WriteErrorLogLine(std::string_view text);
// Writes the trace-file texts held back by batches; with FlushBugBuster on, appends the trace
// ring dump to the error log. Every write to either log writes the held trace texts first.
void FlushDebugFiles();
// Appends to the message error log an empty line, "When: " + now, and the text.
void MsgErrorLog(std::string_view text);

struct TLastError {
  bool Present = false;
  std::string Sender;
  std::string MethodName;
  std::string Message;
  std::string ClassName;
  std::uintptr_t Address = 0;
  TDateTime Time = 0;
};

// The boundary handler: records the exception as the last error, adds the ring entry
// (exit, routine, "Unexpected Error - call aborted") and returns 99. Writes no file. The
// address is where the exception was raised, when the caller knows it.
int HandleUnexpectedError(const std::exception& e, std::string_view routine,
                          std::uintptr_t address = 0);
// The same for whatever was caught (catch (...) with std::current_exception()).
int HandleUnexpectedError(std::exception_ptr e, std::string_view routine,
                          std::uintptr_t address = 0);

// Runs a body that returns a result code; any exception goes through HandleUnexpectedError
// under the routine's name (99).
template <class Body>
std::int32_t GuardedBody(std::string_view routine, Body&& body) {
  try {
    return body();
  } catch (...) {
    return HandleUnexpectedError(std::current_exception(), routine);
  }
}

// The handler of thread loops: writes an exception report with the sender's class name.
// Swallows any failure of its own.
void ReportException(std::string_view sender, const std::exception& e, std::uintptr_t address = 0);
// Does nothing for a null exception.
void ReportException(std::string_view sender, std::exception_ptr e, std::uintptr_t address = 0);

// Writes the recorded error as an exception report (sender "TClassAPI") and returns 0; returns
// 11 and writes nothing when no error has been recorded.
int WriteLastErrorReport();
TLastError LastError();

// Test hooks.
void ClearLastError();
// Sets the size past which a log is moved aside before appending (0 restores the default).
void SetErrorLogSizeLimit(std::uint64_t limit);

}  // namespace vorn
