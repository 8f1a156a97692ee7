// The simulator demo: loads the simulator library (libsimapi.so, with its data files and the
// stand-in library beside it), logs a trader on to the simulated host, lists the exchanges,
// commodities and contracts it loaded, subscribes to one contract and prints its prices as the
// simulated market moves, then logs off. No server is involved.
//
//   simdemo LIBRARY [UPDATES] [CLIENT_PATH]
//
// UPDATES price updates are printed (5 by default). The library keeps its logs in CLIENT_PATH (a
// folder, ending with '/'), by default the program's own folder.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "vornintf.h"

namespace {

constexpr const char* kExchange = "LIFFE";
constexpr const char* kCommodity = "IDX100";
constexpr const char* kContractDate = "MAR27";

std::mutex lock;
std::condition_variable changed;
bool downloadComplete = false;
bool priceLinkUp = false;
int priceUpdates = 0;

void Signal(bool& flag) {
  std::lock_guard guard(lock);
  flag = true;
  changed.notify_all();
}

void VN_STDCALL OnHostLink(const LinkStateStruct* state) {
  std::printf("host link: state %d -> %d\n", state->OldState, state->NewState);
}
void VN_STDCALL OnPriceLink(const LinkStateStruct* state) {
  std::printf("price link: state %d -> %d\n", state->OldState, state->NewState);
  Signal(priceLinkUp);
}
void VN_STDCALL OnLogonStatus() {
  std::printf("logon status received\n");
}
void VN_STDCALL OnForcedLogout() {
  std::printf("forced logout\n");
}
void VN_STDCALL OnDownloadComplete() {
  std::printf("download complete\n");
  Signal(downloadComplete);
}
void VN_STDCALL OnServerStatus(const ConnectivityStatusStruct* status) {
  std::printf("server status: %s, %s\n", status->Field1, status->Field6);
}
void VN_STDCALL OnPrice(const ContractKeyStruct*) {
  std::lock_guard guard(lock);
  ++priceUpdates;
  changed.notify_all();
}

// Waits for a condition on the state above; false after the time-out.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::seconds timeout) {
  std::unique_lock guard(lock);
  return changed.wait_for(guard, timeout, condition);
}

class Library {
 public:
  explicit Library(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  explicit operator bool() const { return handle_ != nullptr; }
  template <class Proc>
  Proc Bind(const char* name) const {
    auto proc = reinterpret_cast<Proc>(dlsym(handle_, name));
    if (!proc) {
      std::fprintf(stderr, "export %s not found\n", name);
      std::exit(1);
    }
    return proc;
  }

 private:
  void* handle_;
};

#define BIND(library, name) library.Bind<decltype(&name)>(#name)

void ListReferenceData(const Library& library) {
  int32_t count = 0;
  BIND(library, vnCountExchanges)(&count);
  std::printf("%d exchanges:", count);
  for (int32_t i = 0; i < count; ++i) {
    ExchangeStruct exchange{};
    BIND(library, vnGetExchange)(i, &exchange);
    std::printf(" %s", exchange.Name);
  }
  BIND(library, vnCountCommodities)(&count);
  std::printf("\n%d commodities:", count);
  for (int32_t i = 0; i < count; ++i) {
    CommodityStruct commodity{};
    BIND(library, vnGetCommodity)(i, &commodity);
    std::printf(" %s/%s (%s, tick %s)", commodity.ExchangeName, commodity.Name, commodity.Currency,
                commodity.TickSize);
  }
  BIND(library, vnCountContracts)(&count);
  std::printf("\n%d contracts:\n", count);
  for (int32_t i = 0; i < count; ++i) {
    ContractStruct contract{};
    BIND(library, vnGetContract)(i, &contract);
    std::printf("  %s %s %s (expires %s, %d leg%s)\n", contract.ExchangeName, contract.ContractName,
                contract.ContractDate, contract.ExpiryDate, contract.NumberOfLegs,
                contract.NumberOfLegs == 1 ? "" : "s");
  }
}

// The contract's prices as one line; empty when they cannot be read.
std::string PriceLine(const Library& library) {
  PriceStruct prices{};
  if (BIND(library, vnGetPriceForContract)(kExchange, kCommodity, kContractDate, &prices) != 0)
    return {};
  const PriceDetailStruct* e = prices.Entries;
  char text[512];
  int length = std::snprintf(text, sizeof text,
                             "%s %s %s  bid %s x %d  offer %s x %d  last %s x %d  depth:", kExchange,
                             kCommodity, kContractDate, e[VN_PK_BID].Price, e[VN_PK_BID].Volume,
                             e[VN_PK_OFFER].Price, e[VN_PK_OFFER].Volume, e[VN_PK_LAST_TRADE].Price,
                             e[VN_PK_LAST_TRADE].Volume);
  std::string line(text, static_cast<std::size_t>(std::max(length, 0)));
  for (int level = 0; level < 3; ++level) {
    length = std::snprintf(text, sizeof text, "  %s/%s", e[VN_PK_BID_DEPTH + level].Price,
                           e[VN_PK_OFFER_DEPTH + level].Price);
    line.append(text, static_cast<std::size_t>(std::max(length, 0)));
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LIBRARY [UPDATES] [CLIENT_PATH]\n", argv[0]);
    return 2;
  }
  const int updates = argc > 2 ? std::atoi(argv[2]) : 5;
  Library library(argv[1]);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  if (argc > 3) BIND(library, vnSetClientPath)(argv[3]);
  if (BIND(library, vnInitialise)('D', "v2.8.3", "simdemo", "1.0", "", 0) != 0) {
    std::fprintf(stderr, "vnInitialise('D') refused: not the simulator library?\n");
    return 1;
  }
  const auto notify = BIND(library, vnRegisterCallback);
  notify(VN_CB_LOGON_STATUS, OnLogonStatus);
  notify(VN_CB_FORCED_LOGOUT, OnForcedLogout);
  notify(VN_CB_DATA_DL_COMPLETE, OnDownloadComplete);
  BIND(library, vnRegisterLinkStateCallback)(VN_CB_HOST_LINK_STATE_CHANGE, OnHostLink);
  BIND(library, vnRegisterLinkStateCallback)(VN_CB_PRICE_STATE_CHANGE, OnPriceLink);
  BIND(library, vnRegisterConStatusCallback)(VN_CB_CONNECTIVITY_STATUS, OnServerStatus);
  BIND(library, vnRegisterPriceCallback)(VN_CB_PRICE_UPDATE, OnPrice);
  // The simulator ignores the addresses, but each link exists only once one is set.
  BIND(library, vnSetHostAddress)("simulator", "0");
  BIND(library, vnSetPriceAddress)("simulator", "0");
  if (BIND(library, vnReady)() != 0) return 1;

  LogonStruct logon{};
  std::strcpy(logon.UserName, "trader1");
  std::strcpy(logon.Password, "secret1");
  logon.FullDownload = 'Y';
  logon.ReportDownload = 'N';
  const int32_t result = BIND(library, vnLogOn)(&logon);
  LogonStatusStruct status{};
  BIND(library, vnGetLogonStatus)(&status);
  std::printf("vnLogOn: %d, status %d: %s (account %s)\n", result, status.Status, status.StatusText,
              status.TraderAccount);
  if (result != 0 || status.Status != 1 ||
      !WaitFor([] { return downloadComplete && priceLinkUp; }, std::chrono::seconds(10))) {
    std::fprintf(stderr, "the simulated host did not start\n");
    BIND(library, vnLogOff)();
    return 1;
  }

  ListReferenceData(library);
  BIND(library, vnSubscribePrice)(kExchange, kCommodity, kContractDate);
  // Each price event is one changed entry: a line is printed when the prices it shows changed.
  std::string last;
  for (int seen = 0, printed = 0; printed < updates;) {
    if (!WaitFor([&] { return priceUpdates > seen; }, std::chrono::seconds(10))) {
      std::fprintf(stderr, "no price update came\n");
      BIND(library, vnLogOff)();
      return 1;
    }
    {
      std::lock_guard guard(lock);
      seen = priceUpdates;
    }
    const std::string line = PriceLine(library);
    if (line.empty() || line == last) continue;
    std::printf("%s\n", line.c_str());
    last = line;
    ++printed;
  }
  std::printf("vnLogOff: %d\n", BIND(library, vnLogOff)());
  return 0;
}
