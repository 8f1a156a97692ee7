#pragma once
// The UUID object log: lines appended to one file in the client path, opened on first use and
// kept open until the library is unloaded.

#include <string>
#include <string_view>

namespace vorn {

inline constexpr const char* kUUIDObjectFileName = "UUIDObjectFile.LOG";

// Appends text and CR LF. The first call opens the named file; later calls use that file.
void WriteUUIDLine(std::string_view fileName, std::string_view text);
// "Status=" + "Undefined", "Active", "Inactive" or "Expired" for states 0 to 3; another state
// is written as its number.
std::string UUIDStatusToStr(int state);
// Closes the log; the next line opens it again.
void CloseUUIDLog();

}  // namespace vorn
