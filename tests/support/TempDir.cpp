#include "support/TempDir.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/diag/ClientPath.h"

namespace vorn {

TTempDir::TTempDir() : previousClientPath_(ClientPathSetting()) {
  char name[] = "/tmp/vorn_test_XXXXXX";
  if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(name) + "/";
  SetClientPath(path_);
}

TTempDir::~TTempDir() {
  SetClientPath(previousClientPath_);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TTempDir::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFileText(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace vorn
