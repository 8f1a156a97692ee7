// The simulator library as an application sees it: a copy loaded with dlopen from a folder that
// holds the sample data and the stand-in library, bound by export name, with no server at all.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimRecorder.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace vorn::sim::testing;

std::set<std::string> DefinedExports(const std::string& library) {
  std::set<std::string> names;
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return names;
  static const char* const kDeclared[] = {
#define VN_EXPORT(name) #name,
#include "vornexports.inc"
#undef VN_EXPORT
  };
  for (const char* name : kDeclared)
    if (dlsym(handle, name)) names.insert(name);
  dlclose(handle);
  return names;
}

int ThreadCount() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

// A copy of libsimapi.so with the sample data and the stand-in library in a folder of its own.
class SimLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The recorder is the program's: the tests run before this one in the same process leave
    // their deliveries in it.
    recorder.Clear();
    const fs::path library(VORN_SIM_LIBRARY);
    fs::copy_file(library, folder_.File("libsimapi.so"));
    fs::copy_file(library.parent_path() / VORN_RAVELINK_FILE_NAME,
                  folder_.File(VORN_RAVELINK_FILE_NAME));
    for (const auto& entry : fs::directory_iterator(VORN_SIM_DATA))
      fs::copy_file(entry.path(), folder_.File(entry.path().filename().string()));
    // A sanitizer's runtime starts a thread of its own at the process's first thread start: one
    // started and joined here puts it in the count before the library is loaded.
    std::thread([] {}).join();
    threadsBefore_ = ThreadCount();
    handle_ = dlopen(folder_.File("libsimapi.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    Bind<void(VN_STDCALL*)(const char*)>("vnSetClientPath")(folder_.Path().c_str());
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }

  template <class Proc>
  Proc Bind(const char* name) {
    auto proc = reinterpret_cast<Proc>(dlsym(handle_, name));
    if (!proc) ADD_FAILURE() << name << " is not exported";
    return proc;
  }
  std::int32_t Initialise(char environment) {
    return Bind<int32_t(VN_STDCALL*)(char, const char*, const char*, const char*, const char*,
                                     uint8_t)>("vnInitialise")(environment, "v2.8.3", "simtest",
                                                               "1", "", 0);
  }
  std::int32_t Count(const char* exportName) {
    int32_t count = -1;
    EXPECT_EQ(Bind<int32_t(VN_STDCALL*)(int32_t*)>(exportName)(&count), 0) << exportName;
    return count;
  }
  void Register() {
    const auto notify = Bind<int32_t(VN_STDCALL*)(int32_t, VnNotifyProc)>("vnRegisterCallback");
    notify(VN_CB_LOGON_STATUS, Notify<VN_CB_LOGON_STATUS>);
    notify(VN_CB_FORCED_LOGOUT, Notify<VN_CB_FORCED_LOGOUT>);
    notify(VN_CB_DATA_DL_COMPLETE, Notify<VN_CB_DATA_DL_COMPLETE>);
    const auto link =
        Bind<int32_t(VN_STDCALL*)(int32_t, VnLinkStateProc)>("vnRegisterLinkStateCallback");
    link(VN_CB_HOST_LINK_STATE_CHANGE, LinkState<VN_CB_HOST_LINK_STATE_CHANGE>);
    link(VN_CB_PRICE_STATE_CHANGE, LinkState<VN_CB_PRICE_STATE_CHANGE>);
    Bind<int32_t(VN_STDCALL*)(int32_t, VnConnectivityStatusProc)>("vnRegisterConStatusCallback")(
        VN_CB_CONNECTIVITY_STATUS, ConStatus);
    Bind<int32_t(VN_STDCALL*)(int32_t, VnContractKeyProc)>("vnRegisterPriceCallback")(
        VN_CB_PRICE_UPDATE, PriceUpdate);
  }
  PriceStruct Prices(const char* exchange, const char* commodity, const char* date) {
    PriceStruct prices{};
    EXPECT_EQ(Bind<int32_t(VN_STDCALL*)(const char*, const char*, const char*, PriceStruct*)>(
                  "vnGetPriceForContract")(exchange, commodity, date, &prices),
              0);
    return prices;
  }

  vorn::TTempDir folder_;
  void* handle_ = nullptr;
  int threadsBefore_ = 0;
};

TEST_F(SimLibraryTest, ExportsTheSameNamesAsTheLiveLibrary) {
  const std::set<std::string> sim = DefinedExports(VORN_SIM_LIBRARY);
  EXPECT_FALSE(sim.empty());
  EXPECT_EQ(sim, DefinedExports(VORN_API_LIBRARY));
}

TEST_F(SimLibraryTest, AcceptsOnlyTheDemonstrationEnvironment) {
  for (const char environment : {'C', 'G', 'T', 'g', 'd', ' '})
    EXPECT_EQ(Initialise(environment), VN_RC_NOT_INITIALISED) << environment;
  EXPECT_EQ(Initialise('D'), 0);
  EXPECT_EQ(Bind<int32_t(VN_STDCALL*)(void)>("vnLogOff")(), 0);
}

TEST_F(SimLibraryTest, LogsOnToTheSimulatedHostAndTheMarketMoves) {
  ASSERT_EQ(Initialise('D'), 0);
  Register();
  Bind<int32_t(VN_STDCALL*)(const char*, const char*)>("vnSetHostAddress")("sim", "1");
  Bind<int32_t(VN_STDCALL*)(const char*, const char*)>("vnSetPriceAddress")("sim", "2");
  ASSERT_EQ(Bind<int32_t(VN_STDCALL*)(void)>("vnReady")(), 0);
  ASSERT_TRUE(recorder.WaitFor(VN_CB_HOST_LINK_STATE_CHANGE, 1));

  LogonStruct logon{};
  std::strcpy(logon.UserName, "trader1");
  std::strcpy(logon.Password, "secret1");
  logon.FullDownload = 'Y';
  logon.ReportDownload = 'N';
  ASSERT_EQ(Bind<int32_t(VN_STDCALL*)(LogonStruct*)>("vnLogOn")(&logon), 0);

  ASSERT_TRUE(recorder.WaitFor(VN_CB_CONNECTIVITY_STATUS, 2));
  ASSERT_TRUE(recorder.WaitFor(VN_CB_PRICE_STATE_CHANGE, 1));
  std::vector<int> order;
  std::vector<std::string> servers;
  for (const TDelivery& d : recorder.Deliveries()) {
    if (d.Id == VN_CB_LOGON_STATUS || d.Id == VN_CB_DATA_DL_COMPLETE ||
        d.Id == VN_CB_CONNECTIVITY_STATUS)
      order.push_back(d.Id);
    if (d.Id == VN_CB_CONNECTIVITY_STATUS) {
      const auto* status = reinterpret_cast<const ConnectivityStatusStruct*>(d.Payload.data());
      servers.push_back(Field(status->Field1, 37) + "|" + Field(status->Field2, 4) + "|" +
                        Field(status->Field6, 256) + "|" + Field(status->Field10, 11));
    }
    if (d.Id == VN_CB_HOST_LINK_STATE_CHANGE || d.Id == VN_CB_PRICE_STATE_CHANGE) {
      EXPECT_EQ(d.Payload[0], 2);
      EXPECT_EQ(d.Payload[1], 3);
    }
  }
  EXPECT_EQ(order, (std::vector<int>{VN_CB_LOGON_STATUS, VN_CB_DATA_DL_COMPLETE,
                                     VN_CB_CONNECTIVITY_STATUS, VN_CB_CONNECTIVITY_STATUS}));
  EXPECT_EQ(servers, (std::vector<std::string>{"DEMO HUB|3|Demo HUB is running|SYSID",
                                               "DEMO MDS|5|Demo MDS is running|SYSID"}));

  LogonStatusStruct status{};
  ASSERT_EQ(Bind<int32_t(VN_STDCALL*)(LogonStatusStruct*)>("vnGetLogonStatus")(&status), 0);
  EXPECT_EQ(status.Status, 1);
  EXPECT_EQ(Field(status.StatusText, 61), "Demonstration interface started.");
  EXPECT_EQ(Field(status.TraderAccount, 21), "TRADER1");
  int32_t features = 0, roles = -1;
  Bind<int32_t(VN_STDCALL*)(int32_t*, int32_t*)>("vnEnabledFunctionality")(&features, &roles);
  EXPECT_EQ(features, 736487);
  EXPECT_EQ(roles, 0);

  // The reference queries answer what the files hold.
  EXPECT_EQ(Count("vnCountExchanges"), 3);
  EXPECT_EQ(Count("vnCountCommodities"), 6);
  EXPECT_EQ(Count("vnCountContracts"), 9);
  EXPECT_EQ(Count("vnCountTraders"), 3);
  EXPECT_EQ(Count("vnCountOrderTypes"), 33);
  EXPECT_EQ(Count("vnCountReportTypes"), 2);
  const auto exists =
      Bind<int32_t(VN_STDCALL*)(const char*, const char*, const char*)>("vnContractExists");
  EXPECT_EQ(exists("LIFFE", "IDX100", "MAR27JUN27"), 0);
  EXPECT_EQ(exists("LIFFE", "IDX100", "MAR27 7900 C"), 0);
  EXPECT_NE(exists("LIFFE", "IDX100", "SEP27"), 0);
  ExchangeRateStruct rate{};
  ASSERT_EQ(Bind<int32_t(VN_STDCALL*)(const char*, ExchangeRateStruct*)>("vnGetExchangeRate")(
                "EUR", &rate),
            0);
  EXPECT_EQ(Field(rate.Rate, 21), "1.17");
  int32_t size = 0;
  ASSERT_EQ(
      Bind<int32_t(VN_STDCALL*)(const char*, int32_t*)>("vnGetReportSize")("Daily Trades", &size),
      0);
  // The text with its terminating NUL; the report's blank last line is kept.
  EXPECT_EQ(size, static_cast<int32_t>(std::strlen("Daily trade report for TRADER1\r\n"
                                                   "IDX100 MAR27 BOUGHT 5 @ 7900\r\n\r\n") +
                                       1));

  // Prices arrive for a subscribed contract and the market moves.
  ASSERT_EQ(Bind<int32_t(VN_STDCALL*)(const char*, const char*, const char*)>("vnSubscribePrice")(
                "LIFFE", "IDX100", "MAR27"),
            0);
  // A price event follows a change of the contract's change mask, which a read clears: each read
  // is followed by an event once the market (stepping once a second) has moved.
  for (int move = 0; move < 3; ++move) {
    Prices("LIFFE", "IDX100", "MAR27");
    ASSERT_TRUE(recorder.WaitFor(VN_CB_PRICE_UPDATE, recorder.Count(VN_CB_PRICE_UPDATE) + 1));
  }
  const PriceStruct prices = Prices("LIFFE", "IDX100", "MAR27");
  const double bid = std::stod(Field(prices.Entries[VN_PK_BID].Price, 21));
  const double offer = std::stod(Field(prices.Entries[VN_PK_OFFER].Price, 21));
  EXPECT_GE(bid, 7600);
  EXPECT_LT(bid, offer);
  EXPECT_LE(offer, 8200);
  // Copied out of the packed record before the comparison takes a reference.
  const int32_t bidDepth = prices.Entries[VN_PK_BID_DEPTH].Volume;
  const int32_t offerDepth = prices.Entries[VN_PK_OFFER_DEPTH].Volume;
  EXPECT_GT(bidDepth, 0);
  EXPECT_GT(offerDepth, 0);
  // Crossing orders trade: a last trade inside the limits shows up as the market runs.
  double last = 0;
  for (int wait = 0; wait < 300 && last == 0; ++wait) {
    std::this_thread::sleep_for(100ms);
    last = std::stod(Field(Prices("LIFFE", "IDX100", "MAR27").Entries[VN_PK_LAST_TRADE].Price, 21));
  }
  EXPECT_GE(last, 7600);
  EXPECT_LE(last, 8200);

  EXPECT_EQ(Bind<int32_t(VN_STDCALL*)(void)>("vnLogOff")(), 0);
  dlclose(handle_);
  handle_ = nullptr;
  // A joined thread can stay listed in /proc for a moment: the kernel lets its joiner go before
  // it has finished tearing the thread down. A thread left running would stay listed.
  for (int wait = 0; wait < 40 && ThreadCount() != threadsBefore_; ++wait)
    std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ThreadCount(), threadsBefore_);
}

}  // namespace
