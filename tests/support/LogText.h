#pragma once
// Reading the library's log files in tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {

// Splits CR LF lines; a bare LF or CR fails the test.
inline std::vector<std::string> SplitLogLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text does not end in CR LF: " << text.substr(start);
      break;
    }
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare line end in: " << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

}  // namespace vorn
