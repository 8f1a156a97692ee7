#pragma once
// A temporary folder used as the client path for the life of the scope.

#include <string>
#include <vector>

namespace vorn {

class TTempDir {
 public:
  // Creates a new folder under /tmp and makes it the client path.
  TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // Restores the previous client path and removes the folder with everything in it.
  ~TTempDir();

  // The folder, ending with '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Files() const;

 private:
  std::string path_;
  std::string previousClientPath_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// Creates or replaces a file with the given content.
void WriteFileText(const std::string& path, const std::string& content);

}  // namespace vorn
