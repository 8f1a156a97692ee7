#include "core/diag/ErrorLog.h"

#include <atomic>
#include <mutex>

#include "core/diag/ClientPath.h"
#include "core/diag/Trace.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "platform/Files.h"
#include "platform/Module.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

constexpr const char* kUnknownExceptionMessage = "Unknown exception";
constexpr const char* kUnknownExceptionClass = "unknown";

std::atomic<std::uint64_t> logSizeLimit{kErrorLogSizeLimit};

std::mutex& ErrorLogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::mutex& MsgErrorLogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::mutex& LastErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

// A thread may still fail while static objects are being torn down.
TProcessWide<TLastError> record;
TLastError& LastErrorRecord() {
  return record.Get();
}

// An address as 16 upper-case hexadecimal digits.
std::string Hex16(std::uintptr_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(16, '0');
  for (int i = 15; i >= 0 && value != 0; --i, value >>= 4)
    text[i] = kDigits[value & 0xF];
  return text;
}

// Appends text to a log in the client path. The text is composed by the caller and the path
// read here, before the log's own mutex is taken.
void AppendToLog(std::mutex& mutex, const char* fileName, std::string_view text) {
  // Whatever the trace file holds back reaches it before the log is written.
  FlushTraceFile();
  try {
    const std::string path = GetClientPath() + fileName;
    std::lock_guard lock(mutex);
    TTextFile file;
    if (!file.Open(path, TTextFile::TMode::Append)) return;
    if (file.Size() > logSizeLimit.load(std::memory_order_relaxed)) {
      file.Close();
      RenameFileReplace(path, path + ".Bak1");
      if (!file.Open(path, TTextFile::TMode::Append)) return;
    }
    file.Write(text);
  } catch (...) {
    // Output routines report nothing.
  }
}

void RecordLastError(std::string_view message, std::string_view className, std::uintptr_t address) {
  TLastError record;
  record.Present = true;
  record.Sender = "TClassAPI";
  record.Message = message;
  record.ClassName = className;
  record.Address = address;
  record.Time = Now();
  std::lock_guard lock(LastErrorMutex());
  LastErrorRecord() = std::move(record);
}

std::string MessageOf(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
  return e.what();
}

}  // namespace

void WriteExceptionReport(std::string_view sender, std::string_view methodName,
                          std::string_view message, std::uintptr_t address, TDateTime time,
                          std::string_view className) {
  try {
    std::string report = "\r\nWhen        : " + DateTimeToStr(time);
    report += "\r\nSender      : ";
    report += sender;
    report += "\r\nModule Base : " + Hex16(LibraryBaseAddress());
    report += "\r\nE.msg       : ";
    report += message;
    report += "\r\nE.Classname : ";
    report += className;
    report += "\r\nException Address: " + Hex16(address) + " ";
    report += "\r\nMethod Name      : ";
    report += methodName;
    report += "\r\n";
    report += FormatTraceback();
    AppendToLog(ErrorLogMutex(), kErrorLogFileName, report);
  } catch (...) {
  }
}

void WriteErrorLogLine(std::string_view text) {
  try {
    std::string out = "\r\n";
    out += text;
    out += "\r\n";
    AppendToLog(ErrorLogMutex(), kErrorLogFileName, out);
  } catch (...) {
  }
}

void FlushDebugFiles() {
  FlushTraceFile();
  if (!DebugFlagOn(kFlushBugBuster)) return;
  try {
    AppendToLog(ErrorLogMutex(), kErrorLogFileName, FormatTraceback());
  } catch (...) {
  }
}

void MsgErrorLog(std::string_view text) {
  try {
    std::string out = "\r\nWhen: " + DateTimeToStr(Now());
    out += "\r\n";
    out += text;
    out += "\r\n";
    AppendToLog(MsgErrorLogMutex(), kMsgErrorLogFileName, out);
  } catch (...) {
  }
}

int HandleUnexpectedError(const std::exception& e, std::string_view routine,
                          std::uintptr_t address) {
  try {
    RecordLastError(MessageOf(e), ClassNameOf(e), address);
    AddTraceEntry(tlExit, routine, "Unexpected Error - call aborted");
  } catch (...) {
  }
  return kResultUnexpectedError;
}

int HandleUnexpectedError(std::exception_ptr e, std::string_view routine, std::uintptr_t address) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& caught) {
    return HandleUnexpectedError(caught, routine, address);
  } catch (...) {
  }
  try {
    RecordLastError(kUnknownExceptionMessage, kUnknownExceptionClass, address);
    AddTraceEntry(tlExit, routine, "Unexpected Error - call aborted");
  } catch (...) {
  }
  return kResultUnexpectedError;
}

void ReportException(std::string_view sender, const std::exception& e, std::uintptr_t address) {
  try {
    WriteExceptionReport(sender, "", MessageOf(e), address, Now(), ClassNameOf(e));
  } catch (...) {
  }
}

void ReportException(std::string_view sender, std::exception_ptr e, std::uintptr_t address) {
  if (!e) return;
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& caught) {
    ReportException(sender, caught, address);
  } catch (...) {
    WriteExceptionReport(sender, "", kUnknownExceptionMessage, address, Now(),
                         kUnknownExceptionClass);
  }
}

int WriteLastErrorReport() {
  const TLastError record = LastError();
  if (!record.Present) return kResultNoErrorRecorded;
  WriteExceptionReport(record.Sender, record.MethodName, record.Message, record.Address,
                       record.Time, record.ClassName);
  return 0;
}

TLastError LastError() {
  std::lock_guard lock(LastErrorMutex());
  return LastErrorRecord();
}

void ClearLastError() {
  std::lock_guard lock(LastErrorMutex());
  LastErrorRecord() = TLastError{};
}

void SetErrorLogSizeLimit(std::uint64_t limit) {
  logSizeLimit.store(limit == 0 ? kErrorLogSizeLimit : limit, std::memory_order_relaxed);
}

}  // namespace vorn
