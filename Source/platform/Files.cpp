#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vorn {

namespace {

ssize_t SystemWrite(int fd, const void* bytes, std::size_t size) {
  return ::write(fd, bytes, size);
}

int SystemSync(int fd) {
  return ::fsync(fd);
}

constexpr TFileWriteCalls kSystemWriteCalls{SystemWrite, SystemSync};
std::atomic<const TFileWriteCalls*> fileWriteCalls{&kSystemWriteCalls};

}  // namespace

const TFileWriteCalls* SetFileWriteCalls(const TFileWriteCalls* calls) {
  const TFileWriteCalls* before =
      fileWriteCalls.exchange(calls ? calls : &kSystemWriteCalls, std::memory_order_acq_rel);
  return before == &kSystemWriteCalls ? nullptr : before;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (!FileExists(path)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      bytes.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok;
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RenameFileNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link fails when the target exists.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

bool RenameFileReplace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool WriteFileSafely(const std::string& path, const void* bytes, std::size_t size) {
  const TFileWriteCalls& calls = *fileWriteCalls.load(std::memory_order_acquire);
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  const auto* next = static_cast<const char*>(bytes);
  std::size_t left = size;
  while (ok && left > 0) {
    const ssize_t written = calls.Write(fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    ok = written > 0;
    if (ok) {
      next += written;
      left -= static_cast<std::size_t>(written);
    }
  }
  ok = calls.Sync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = RenameFileReplace(temporary, path);
  if (!ok) DeleteFile(temporary);
  return ok;
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (::fnmatch(pattern.c_str(), entry->d_name, FNM_CASEFOLD | FNM_PERIOD) != 0) continue;
    if (FileExists(folder + entry->d_name)) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vorn
