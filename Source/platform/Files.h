#pragma once
// File services in place of the platform's: names are used with their exact case.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vorn {

bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames, failing when the target exists (an older file is never silently replaced).
bool RenameFileNoReplace(const std::string& from, const std::string& to);
// Renames over an existing target (the last step of a safe store write).
bool RenameFileReplace(const std::string& from, const std::string& to);
// Writes the bytes to path + ".tmp", flushes them to the disk, then renames the file over
// path: a crash, a power loss or a full disk never leaves a half-written file in its place.
bool WriteFileSafely(const std::string& path, const void* bytes, std::size_t size);
// The calls through which WriteFileSafely writes and flushes its temporary file, each with the
// contract of write(2) and fsync(2). Tests put their own in place to make a write fail part-way
// (a full disk) or stop it (a crash).
struct TFileWriteCalls {
  ssize_t (*Write)(int fd, const void* bytes, std::size_t size);
  int (*Sync)(int fd);
};
// Puts the calls in place (null: write(2) and fsync(2)) and returns the ones before. The calls
// must stay valid while any write may use them.
const TFileWriteCalls* SetFileWriteCalls(const TFileWriteCalls* calls);
// Names (without folder) of the files in a folder that match a wildcard pattern ('*', '?'),
// compared without regard to case, in the folder's own order. An empty folder means ".".
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern);
// The whole content of a regular file; false (bytes emptied) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
// The folder part of a path, up to and including its last '/'; empty when there is none.
std::string ExtractFilePath(const std::string& path);

}  // namespace vorn
