#include "core/diag/UUIDLog.h"

#include <charconv>
#include <mutex>

#include "core/diag/ClientPath.h"
#include "core/diag/Trace.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

struct TUUIDLog {
  std::mutex mutex;
  TTextFile file;
};

// A thread may still write while static objects are being torn down.
TProcessWide<TUUIDLog> log;
TUUIDLog& Log() {
  return log.Get();
}

}  // namespace

void WriteUUIDLine(std::string_view fileName, std::string_view text) {
  try {
    std::string line;
    line.reserve(text.size() + 2);
    line += text;
    line += "\r\n";
    auto& log = Log();
    std::unique_lock lock(log.mutex);
    if (!log.file.IsOpen()) {
      lock.unlock();  // the client path has a lock of its own
      const std::string path = GetClientPath() + std::string(fileName);
      lock.lock();
      if (!log.file.IsOpen() && !log.file.Open(path, TTextFile::TMode::Append)) return;
    }
    log.file.Write(line);
  } catch (...) {
    // Output routines report nothing.
  }
}

std::string UUIDStatusToStr(int state) {
  static constexpr const char* kNames[] = {"Undefined", "Active", "Inactive", "Expired"};
  std::string result = "Status=";
  if (state >= 0 && state < 4) {
    result += kNames[state];
  } else {
    char buffer[16];
    result.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, state).ptr);
  }
  return result;
}

void CloseUUIDLog() {
  auto& log = Log();
  std::lock_guard lock(log.mutex);
  log.file.Close();
}

}  // namespace vorn
