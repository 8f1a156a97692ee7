#pragma once
// The folder every file of the library is read from and written to. The name of a file is
// appended to it directly, so a path that is set ends with a separator.

#include <string>

namespace vorn {

// Stores the text unchanged; an empty text restores the default.
void SetClientPath(std::string path);
// The stored text when it is not empty, else the host program's folder with its final '/'.
std::string GetClientPath();
// The stored text itself (empty when never set).
std::string ClientPathSetting();

}  // namespace vorn
