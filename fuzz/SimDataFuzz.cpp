// The simulator's six data files, loaded as its logon loads them into one API object.
//
// Input: up to six parts split at NUL bytes, in the order commodities, contracts, traders,
// report types, reports, order types; each part is that file's content. A file the input has no
// part for is the shipped one (from the folder VORN_SIM_DATA names, else data/sim).

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "sim/SimTestData.h"

using namespace vorn;
using namespace vorn::sim;

namespace {

constexpr std::array<const char*, 6> kFiles = {kCommodityFile,  kContractFile, kTraderFile,
                                               kReportTypeFile, kReportFile,   kOrderTypeFile};

std::string folder;
std::array<std::string, 6> shipped;
std::vector<TFuzzFile> files;
TClassAPI* api = nullptr;

// As the simulator's logon: each loader in turn, the next only when the one before succeeded.
void LoadAll() {
  std::vector<TLoadedContract> contracts;
  if (!LoadCommodities(*api, folder) || !LoadContracts(*api, folder, contracts)) return;
  for (const TLoadedContract& loaded : contracts)
    if (!loaded.Contract) __builtin_trap();
  if (LoadTraders(*api, folder) && LoadReportTypes(*api, folder) && LoadReports(*api, folder))
    LoadOrderTypes(*api, folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  api = MakeFuzzAPI();
  folder = GetClientPath();
  const char* data = std::getenv("VORN_SIM_DATA");
  const std::string from = std::string(data ? data : "data/sim") + "/";
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    shipped[i] = ReadWhole(from + kFiles[i]);
    if (shipped[i].empty()) std::abort();  // run from the source folder, or name the data
    files.emplace_back(folder + kFiles[i]);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i < kFiles.size(); ++i) {
    std::string_view part = shipped[i];
    if (!rest.empty() || (i == 0 && size == 0)) {
      const std::size_t end = rest.find('\0');
      part = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    files[i].Write(part);
  }
  try {
    LoadAll();
  } catch (const std::exception&) {
    // A strict number column that is not a number: the logon answers 99.
  }
  // Emptied again, so that the next input starts as this one did.
  const std::array<TIndexList*, 8> filled = {&api->Commodities, &api->Exchanges,
                                            &api->ExchangeRates, &api->Contracts,
                                            &api->Accounts,    &api->ReportTypes,
                                            &api->Reports,     &api->OrderTypes};
  for (TIndexList* list : filled) list->Clear();
  // Emptying the contract list leaves its contracts in their UUID groups (each load adds
  // them again): the groups go too, or they would grow with every input.
  api->UUIDObjects->Clear();
  ClearCallbackQueue();
  TrimFuzzLogs();
  return 0;
}
