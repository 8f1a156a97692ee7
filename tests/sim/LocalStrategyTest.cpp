// Strategies that vnCreateStrategy makes in the simulated world, in-process through the exports:
// the data from a test folder, no pauses.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/session/ClassAPI.h"
#include "sim/AutoDemo.h"
#include "sim/ContractShape.h"
#include "sim/LocalStrategy.h"
#include "sim/SimConnection.h"
#include "sim/SimRecorder.h"
#include "sim/SimTestData.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

void VN_STDCALL StrategyCreated(const StrategyResultStruct* result) {
  recorder.Add(VN_CB_STRATEGY_CREATE_SUCCESS, result, sizeof *result);
}
void VN_STDCALL StrategyRefused(const StrategyResultStruct* result) {
  recorder.Add(VN_CB_STRATEGY_CREATE_FAILURE, result, sizeof *result);
}
void VN_STDCALL ContractAdded(const ContractKeyStruct* key) {
  recorder.Add(VN_CB_CONTRACT_ADDED, key, sizeof *key);
}

struct TLegArgs {
  const char* Date;
  std::int32_t Ratio;
};

class LocalStrategyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
      fs::copy_file(entry.path(), folder_.File(entry.path().filename().string()));
    SetTestDataFolderForTests(folder_.Path());
    SetRavelinkPathForTests(
        (fs::path(VORN_SIM_LIBRARY).parent_path() / VORN_RAVELINK_FILE_NAME).string());
    TAutoDemo::SetNoPausesForTests(true);
    recorder.Clear();
    ASSERT_EQ(vnInitialise('D', "v2.8.3", "simtest", "1", "", 0), 0);
    vnRegisterCallback(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
    vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
    vnRegisterCallback(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
    vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE,
                                LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
    vnRegisterStrategyCreateSuccess(VN_CB_STRATEGY_CREATE_SUCCESS, StrategyCreated);
    vnRegisterStrategyCreateFailure(VN_CB_STRATEGY_CREATE_FAILURE, StrategyRefused);
    vnRegisterContractCallback(VN_CB_CONTRACT_ADDED, ContractAdded);
    vnSetHostAddress("sim", "1");
    vnSetPriceAddress("sim", "2");
    ASSERT_EQ(vnReady(), 0);
    ASSERT_EQ(LogOn(), 0);
    ASSERT_TRUE(CurrentAutoDemo() && CurrentAutoDemo()->Started());
  }
  void TearDown() override {
    vnLogOff();
    // The recorder is the program's: the tests after this one in the same process read it.
    recorder.Clear();
    TAutoDemo::SetNoPausesForTests(false);
    SetRavelinkPathForTests({});
    SetTestDataFolderForTests({});
  }

  static std::int32_t LogOn() {
    LogonStruct logon{};
    std::strcpy(logon.UserName, "trader1");
    std::strcpy(logon.Password, "secret1");
    logon.FullDownload = 'Y';
    logon.ReportDownload = 'N';
    return vnLogOn(&logon);
  }
  static std::int32_t Create(char type, std::initializer_list<TLegArgs> legArgs,
                             const char* commodity = "IDX100",
                             const char* legCommodity = "") {
    StrategyLegStruct legs[16]{};
    int n = 0;
    for (const TLegArgs& leg : legArgs) {
      std::strcpy(legs[n].ContractDate, leg.Date);
      legs[n].Ratio = leg.Ratio;
      std::strcpy(legs[n].Commodity, legCommodity);
      ++n;
    }
    return vnCreateStrategy(type, n, "LIFFE", commodity, legs);
  }
  std::string DataFile() const {
    std::ifstream in(folder_.File(kContractFile), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::shared_ptr<TContractOrderList> Book(const char* name) {
    const auto contract = API()->Contracts.FindByName("LIFFE", "IDX100", name);
    return contract ? CurrentAutoDemo()->Market().Find(*contract) : nullptr;
  }
  // The payload of the last event of the id.
  template <typename T>
  static T Last(int id) {
    T value{};
    for (const TDelivery& d : recorder.Deliveries())
      if (d.Id == id && d.Payload.size() == sizeof value)
        std::memcpy(&value, d.Payload.data(), sizeof value);
    return value;
  }

  TTempDir folder_;
};

TEST_F(LocalStrategyTest, ACreatedStrategyIsListedWithABookAndReadBackAfterANewLogon) {
  const std::string before = DataFile();
  ASSERT_EQ(Create('D', {{"MAR27", 1}, {"JUN27", -1}}), 0);
  const char* name = "MAR27 CAL JUN27/S";

  // Listed at once, with its legs, readable through the contract queries.
  ContractStruct read{};
  ASSERT_EQ(vnGetContractByName("LIFFE", "IDX100", name, &read), 0);
  EXPECT_EQ(Field(read.ExpiryDate, sizeof read.ExpiryDate), "20270319");
  EXPECT_EQ(Field(read.LastTradeDate, sizeof read.LastTradeDate), "20270319");
  EXPECT_EQ(std::int32_t{read.NumberOfLegs}, 2);
  EXPECT_EQ(Field(read.Legs[0].Field[0], 11), "EF");
  EXPECT_EQ(Field(read.Legs[0].Field[2], 11), "202703");
  EXPECT_EQ(Field(read.Legs[0].Field[4], 11), "1 1");
  EXPECT_EQ(Field(read.Legs[1].Field[0], 11), "F");
  EXPECT_EQ(Field(read.Legs[1].Field[2], 11), "202706");
  EXPECT_EQ(Field(read.Legs[1].Field[4], 11), "1 2");
  std::int32_t count = 0;
  ASSERT_EQ(vnCountContracts(&count), 0);
  EXPECT_EQ(count, 10);
  auto book = Book(name);
  ASSERT_TRUE(book);
  EXPECT_DOUBLE_EQ(book->UpperLimit(), 3.0);
  EXPECT_DOUBLE_EQ(book->LowerLimit(), -3.0);
  EXPECT_EQ(book->LotLimit(), 100);

  // Success with leg 1's date and the new name, then the contract added.
  ASSERT_TRUE(recorder.WaitFor(VN_CB_CONTRACT_ADDED, 1));
  const auto success = Last<StrategyResultStruct>(VN_CB_STRATEGY_CREATE_SUCCESS);
  EXPECT_EQ(Field(success.UserName, 11), "trader1");
  EXPECT_EQ(Field(success.ExchangeName, 11), "LIFFE");
  EXPECT_EQ(Field(success.CommodityName, 11), "IDX100");
  EXPECT_EQ(Field(success.ContractDate, 51), "MAR27");
  EXPECT_EQ(Field(success.Text, 51), name);
  const auto added = Last<ContractKeyStruct>(VN_CB_CONTRACT_ADDED);
  EXPECT_EQ(Field(added.ContractDate, sizeof added.ContractDate), name);
  std::vector<int> order;
  for (const TDelivery& d : recorder.Deliveries())
    if (d.Id == VN_CB_STRATEGY_CREATE_SUCCESS || d.Id == VN_CB_CONTRACT_ADDED)
      order.push_back(d.Id);
  EXPECT_EQ(order, (std::vector<int>{VN_CB_STRATEGY_CREATE_SUCCESS, VN_CB_CONTRACT_ADDED}));
  EXPECT_EQ(recorder.Count(VN_CB_STRATEGY_CREATE_FAILURE), 0u);
  EXPECT_EQ(DataFile(), before + "LIFFE,IDX100,MAR27 CAL JUN27/S,20270319,20270319,3,-2,30\n");

  // The same again: refused, nothing added.
  ASSERT_EQ(Create('D', {{"MAR27", 1}, {"JUN27", -1}}), VN_RC_UNKNOWN_CONTRACT);
  ASSERT_TRUE(recorder.WaitFor(VN_CB_STRATEGY_CREATE_FAILURE, 1));
  EXPECT_EQ(Field(Last<StrategyResultStruct>(VN_CB_STRATEGY_CREATE_FAILURE).Text, 51),
            kStrategyNotSupportedText);
  ASSERT_EQ(vnCountContracts(&count), 0);
  EXPECT_EQ(count, 10);

  // A new logon reads it back from the file, with the file's limits.
  vnLogOff();
  recorder.Clear();
  ASSERT_EQ(vnInitialise('D', "v2.8.3", "simtest", "1", "", 0), 0);
  vnRegisterCallback(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
  vnRegisterCallback(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
  vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE,
                              LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
  vnRegisterCallback(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
  vnSetHostAddress("sim", "1");
  vnSetPriceAddress("sim", "2");
  ASSERT_EQ(vnReady(), 0);
  ASSERT_EQ(LogOn(), 0);
  ContractStruct again{};
  ASSERT_EQ(vnGetContractByName("LIFFE", "IDX100", name, &again), 0);
  EXPECT_EQ(std::memcmp(&again.Legs, &read.Legs, sizeof read.Legs), 0);
  book = Book(name);
  ASSERT_TRUE(book);
  EXPECT_DOUBLE_EQ(book->UpperLimit(), 3.0);
  EXPECT_DOUBLE_EQ(book->LowerLimit(), -2.0);
  EXPECT_EQ(book->LotLimit(), 30);
}

TEST_F(LocalStrategyTest, EachTypeMakesANameTheContractFileReadsBack) {
  struct TCase {
    char Type;
    std::initializer_list<TLegArgs> Legs;
    const char* Name;
    const char* FirstKind;
  };
  const TCase cases[] = {
      {'D', {{"MAR27", 1}, {"JUN27", -1}}, "MAR27 CAL JUN27/S", "EF"},
      {'S', {{"MAR27 7900 C", 1}}, "MAR27 7900 STRDL", "SC"},
      {'s', {{"MAR27 7900 C", 1}, {"JUN27", 1}}, "MAR27 7900 STRDL vs BUY JUN27", "sP"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(Create(c.Type, c.Legs), 0);
    ContractStruct read{};
    ASSERT_EQ(vnGetContractByName("LIFFE", "IDX100", c.Name, &read), 0);
    EXPECT_EQ(Field(read.Legs[0].Field[0], 11), c.FirstKind);
    EXPECT_TRUE(Book(c.Name));
    EXPECT_TRUE(ParseContractShape(c.Name, "LIFFE"));
  }
  // The file's own futures spread is listed already.
  EXPECT_EQ(Create('E', {{"MAR27", 1}, {"JUN27", -1}}), VN_RC_UNKNOWN_CONTRACT);
}

TEST_F(LocalStrategyTest, RefusalsPostTheFailureAndLeaveListAndFileAlone) {
  const std::string before = DataFile();
  struct TCase {
    const char* What;
    char Type;
    std::initializer_list<TLegArgs> Legs;
    const char* Commodity;
    std::int32_t Result;
    const char* Text;  // null: no failure event
  };
  const TCase cases[] = {
      {"unknown commodity", 'D', {{"MAR27", 1}, {"JUN27", -1}}, "NOSUCH", 48, nullptr},
      {"unknown type", 'X', {{"MAR27", 1}, {"JUN27", -1}}, "IDX100", 22,
       kStrategyNotSupportedText},
      {"legs of two kinds", 'D', {{"MAR27", 1}, {"MAR27 7900 C", -1}}, "IDX100", 22,
       kStrategyNotSupportedText},
      {"a straddle of a future", 'S', {{"MAR27", 1}}, "IDX100", 22, kStrategyNotSupportedText},
      {"unknown second leg", 'D', {{"MAR27", 1}, {"SEP27", -1}}, "IDX100", 99,
       kStrategyFailedText},
  };
  std::size_t failures = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    // The leg names its own commodity: the strategy's need not hold the leg's contract.
    EXPECT_EQ(Create(c.Type, c.Legs, c.Commodity, "IDX100"), c.Result);
    if (c.Text) {
      ASSERT_TRUE(recorder.WaitFor(VN_CB_STRATEGY_CREATE_FAILURE, ++failures));
      EXPECT_EQ(Field(Last<StrategyResultStruct>(VN_CB_STRATEGY_CREATE_FAILURE).Text, 51),
                c.Text);
    }
  }
  EXPECT_EQ(recorder.Count(VN_CB_STRATEGY_CREATE_FAILURE), failures);
  EXPECT_EQ(recorder.Count(VN_CB_STRATEGY_CREATE_SUCCESS), 0u);
  std::int32_t count = 0;
  ASSERT_EQ(vnCountContracts(&count), 0);
  EXPECT_EQ(count, 9);
  EXPECT_EQ(DataFile(), before);
}

TEST_F(LocalStrategyTest, AFileThatCannotBeWrittenFailsTheCreationBeforeAnythingIsListed) {
  // A folder in the file's place cannot be appended to, even by root.
  fs::remove(folder_.File(kContractFile));
  fs::create_directory(folder_.File(kContractFile));
  EXPECT_EQ(Create('D', {{"MAR27", 1}, {"JUN27", -1}}), VN_RC_UNEXPECTED_ERROR);
  ASSERT_TRUE(recorder.WaitFor(VN_CB_STRATEGY_CREATE_FAILURE, 1));
  EXPECT_EQ(Field(Last<StrategyResultStruct>(VN_CB_STRATEGY_CREATE_FAILURE).Text, 51),
            kStrategyFailedText);
  EXPECT_EQ(recorder.Count(VN_CB_STRATEGY_CREATE_SUCCESS), 0u);
  EXPECT_EQ(recorder.Count(VN_CB_CONTRACT_ADDED), 0u);
  ContractStruct read{};
  EXPECT_NE(vnGetContractByName("LIFFE", "IDX100", "MAR27 CAL JUN27/S", &read), 0);
}

TEST_F(LocalStrategyTest, TheLineStartsOnALineOfItsOwn) {
  {
    std::ofstream out(folder_.File(kContractFile), std::ios::binary | std::ios::app);
    out << "LIFFE,IDX100,SEP27,20270917,20270917,8300,7700,30";
  }
  const std::string before = DataFile();
  ASSERT_EQ(Create('S', {{"MAR27 7900 C", 1}}), 0);
  EXPECT_EQ(DataFile(), before + "\nLIFFE,IDX100,MAR27 7900 STRDL,20270319,20270319,3,-2,30\n");
}

}  // namespace
}  // namespace vorn::sim
