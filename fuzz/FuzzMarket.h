#pragma once
// The API object the receiver fuzz targets apply their inputs to, made once, its files (UUID
// log, error logs) in a temporary folder of its own: empty, or holding the future LIFFE FTSE
// "MAR27" and the account TRADER1, logged on. The folder is in memory where it can be (targets
// that write files for every input would otherwise run at the pace of the disk), its logs are
// emptied now and then, and it is removed at the end of the run.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/diag/ClientPath.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/UUIDLog.h"
#include "core/session/ClassAPI.h"
#include "platform/Files.h"

namespace vorn {

inline std::string& FuzzFolder() {
  static std::string folder;
  return folder;
}

// Call once an input: every 4096th removes the logs, whose lines only grow.
inline void TrimFuzzLogs() {
  static unsigned inputs = 0;
  if (++inputs % 4096 != 0) return;
  for (const char* name : {kUUIDObjectFileName, kErrorLogFileName, kMsgErrorLogFileName})
    unlink((FuzzFolder() + name).c_str());
}

// The whole file, or nothing when it cannot be read.
inline std::string ReadWhole(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

// Replaces the file with text in place (the readers under test see one file, never a rename).
inline void WriteWhole(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) std::abort();
}

// WriteWhole, skipped when the file holds that text already: most inputs change one file of
// several, and the others need not be written again. The readers under test never change a
// file, but may delete one (a store of another build), so a file gone is written again.
class TFuzzFile {
 public:
  explicit TFuzzFile(std::string path) : path_(std::move(path)) {}
  void Write(std::string_view text) {
    if (written_ && held_ == text && access(path_.c_str(), F_OK) == 0) return;
    WriteWhole(path_, text);
    held_.assign(text);
    written_ = true;
  }

 private:
  std::string path_;
  std::string held_;
  bool written_ = false;
};

inline TClassAPI* MakeFuzzAPI() {
  std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  folder += "/vorn_fuzz_XXXXXX";
  if (!mkdtemp(folder.data())) std::abort();
  FuzzFolder() = folder + "/";
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(FuzzFolder(), ignored);
  });
  SetClientPath(FuzzFolder());
  return new TClassAPI;
}

inline TClassAPI* MakeFuzzMarket() {
  auto* api = MakeFuzzAPI();
  api->Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
  auto commodity = std::make_shared<TCommodity>();
  commodity->SetExchangeName("LIFFE");
  commodity->SetName("FTSE");
  commodity->Currency = "GBP";
  api->Commodities.Add(commodity);
  TFieldsList contract;
  contract.SetFields(std::string("X1=F\x01Mar=100\x01"));
  api->Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", contract);
  api->Accounts.Add(std::make_shared<TTraderAccountItem>("TRADER1"));
  api->Logon.LoggedOn = true;
  return api;
}

}  // namespace vorn
