#pragma once
// The six data files from which the simulator builds its world, and their loaders.
//
// Each file is read whole and split into lines; a trailing '\r' is dropped from every line, and
// the tokenized files skip lines that hold only blanks (a report's body lines are kept as they
// are). Columns are split by TVORNToken. A strict integer column that is not a number throws
// EConvertError out of the loader, which reaches vnLogOn's boundary as result 99.
//
// Each loader first empties the API lists it fills and returns whether its list holds at least
// one item afterwards; a missing file leaves it empty. They run on the thread of vnLogOn, with the
// simulation timer stopped (TAutoDemo::Enable), and fill the lists without a lock of their own
// beyond each list's.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/refdata/Commodity.h"
#include "core/wire/FieldsList.h"
#include "sim/ContractShape.h"

namespace vorn {
class TClassAPI;
class TContractItem;
}  // namespace vorn

namespace vorn::sim {

inline constexpr const char* kCommodityFile = "testcont.csv";
// Read here and appended to by the local strategy creation: one name for both.
inline constexpr const char* kContractFile = "testdate.csv";
inline constexpr const char* kTraderFile = "testacct.txt";
inline constexpr const char* kReportTypeFile = "testrtype.txt";
inline constexpr const char* kReportFile = "testreps.txt";
inline constexpr const char* kOrderTypeFile = "testotype.txt";

// The folder the files are read from, ending in '/': the folder of the library's own file,
// unless a test named another one. Any thread.
std::string TestDataFolder();
// A test's folder ("" goes back to the library's folder).
void SetTestDataFolderForTests(std::string folder);

// The lines of a file, '\r' dropped at each line's end; false when it cannot be read.
bool ReadDataLines(const std::string& path, std::vector<std::string>& lines);

// The simulator's commodity: the commodity file's free text beside the usual fields.
class TDemoCommodity : public TCommodity {
 public:
  std::string Description;
};

// A contract the contract file added to the API's contract list, with what its book is made of.
struct TLoadedContract {
  std::shared_ptr<TContractItem> Contract;
  double UpperLimit = 0;
  double LowerLimit = 0;
  std::int32_t LotLimit = 0;
};

// A contract's field list: its expiry ("XD") and last trade ("LT") dates and each leg of its
// date text's shape as the leg fields X1 to X5. Pure.
TFieldsList ContractFields(const TContractShape& shape, std::string_view expiry,
                           std::string_view lastTrade);

// testcont.csv: commodities, their exchanges (with the simulator's flags) and exchange rates.
// Success: at least one commodity and one exchange.
bool LoadCommodities(TClassAPI& api, const std::string& folder);
// testdate.csv: contracts whose date text has a known shape, in file order. A line whose
// commodity is not listed, or whose contract the list refuses, is skipped with a trace line.
// Success: the contract list is not empty.
bool LoadContracts(TClassAPI& api, const std::string& folder, std::vector<TLoadedContract>& added);
// testacct.txt: trader accounts.
bool LoadTraders(TClassAPI& api, const std::string& folder);
// testrtype.txt: one trimmed report type a line.
bool LoadReportTypes(TClassAPI& api, const std::string& folder);
// testreps.txt: head lines "type,sequence,N", each followed by N lines of text.
bool LoadReports(TClassAPI& api, const std::string& folder);
// testotype.txt: order types; a line whose exchange is not listed is skipped.
bool LoadOrderTypes(TClassAPI& api, const std::string& folder);

}  // namespace vorn::sim
