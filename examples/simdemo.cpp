// The simulator demo: loads the simulator library (libsimapi.so, with its data files and the
// stand-in library beside it), logs a trader on to the simulated host, lists the exchanges,
// commodities and contracts it loaded, subscribes to one contract and prints its prices as the
// simulated market moves. Then it trades: a 1-lot buy at the best offer, followed until it fills,
// with the fill and the position; a second buy away from the market, cancelled once it works.
// It also makes a calendar spread strategy of two futures, which the simulator keeps in its
// contract file (a later run finds it listed). Last it logs off. No server is involved.
//
//   simdemo LIBRARY [UPDATES] [CLIENT_PATH]
//
// UPDATES price updates are printed (5 by default). The library keeps its logs in CLIENT_PATH (a
// folder, ending with '/'), by default the program's own folder. Every wait has a deadline, so
// the demo always ends; it exits with 1 when the simulated host did not start, or when the buy
// did not fill or the cancel did not complete in time.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vornintf.h"

namespace {

constexpr const char* kExchange = "LIFFE";
constexpr const char* kCommodity = "IDX100";
constexpr const char* kContractDate = "MAR27";
constexpr auto kOrderDeadline = std::chrono::seconds(30);

std::mutex lock;
std::condition_variable changed;
bool downloadComplete = false;
bool priceLinkUp = false;
int priceUpdates = 0;

struct TOrderEvent {
  std::string ID;
  std::string OldID;
  int Status;
};
std::vector<TOrderEvent> orderEvents;
std::vector<std::pair<std::string, std::string>> fillEvents;  // order id, fill id
std::string strategyResult;  // "created NAME" or "refused: TEXT"

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

void VN_STDCALL OnOrder(const OrderUpdateStruct* update) {
  std::lock_guard guard(lock);
  orderEvents.push_back({update->OrderID, update->OldOrderID, update->Status});
  changed.notify_all();
}
void VN_STDCALL OnFill(const FillUpdateStruct* update) {
  std::lock_guard guard(lock);
  fillEvents.emplace_back(update->OrderID, update->FillID);
  changed.notify_all();
}

void VN_STDCALL OnStrategyCreated(const StrategyResultStruct* result) {
  std::lock_guard guard(lock);
  strategyResult = std::string("created ") + result->Text;
  changed.notify_all();
}
void VN_STDCALL OnStrategyRefused(const StrategyResultStruct* result) {
  std::lock_guard guard(lock);
  strategyResult = std::string("refused: ") + result->Text;
  changed.notify_all();
}

const char* StateName(int status) {
  static const char* const kNames[] = {
      "Illegal",   "Queued",          "Sent",          "Working",     "Rejected",
      "Cancelled", "BalCancelled",    "Part",          "Unabled",     "BalUnabled",
      "Filled",    "CancelPending",   "AmendPending",  "ORPIFilled",  "ORPIPart",
      "HeldOrder", "CancHeldOrder",   "PartRejected",  "Parked",      "CancelParked",
      "Transferred", "ExternalCancelled"};
  return status >= 0 && status < static_cast<int>(std::size(kNames)) ? kNames[status] : "?";
}

// Follows one order through its events: prints each state it reaches once and the number it is
// given when it is sent (its id changes then).
class TOrderWatch {
 public:
  explicit TOrderWatch(std::string id) : id_(std::move(id)) {}
  const std::string& ID() const { return id_; }

  // Waits until the order reaches one of the states; the state, or -1 after the time-out.
  int WaitFor(std::initializer_list<int> states, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock guard(lock);
    for (;;) {
      for (; next_ < orderEvents.size(); ++next_) {
        const TOrderEvent& event = orderEvents[next_];
        if (event.OldID == id_ && event.ID != id_) {
          std::printf("  order %s is now order %s\n", id_.c_str(), event.ID.c_str());
          id_ = event.ID;
        }
        if (event.ID != id_) continue;
        if (event.Status != last_) std::printf("  order %s: %s\n", id_.c_str(), StateName(event.Status));
        last_ = event.Status;
        for (const int state : states)
          if (event.Status == state) {
            ++next_;
            return state;
          }
      }
      if (changed.wait_until(guard, deadline) == std::cv_status::timeout &&
          next_ == orderEvents.size())
        return -1;
    }
  }

 private:
  std::string id_;
  std::size_t next_ = 0;
  int last_ = -1;
};

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

// A calendar spread of the two futures: made by the simulator, which appends it to its contract
// file, so that a later run finds it listed from the start.
bool CreateStrategy(const Library& library) {
  constexpr const char* kStrategy = "MAR27 CAL JUN27/S";
  ContractStruct contract{};
  if (BIND(library, vnGetContractByName)(kExchange, kCommodity, kStrategy, &contract) == 0) {
    std::printf("strategy %s listed from the contract file (%d legs)\n", kStrategy,
                contract.NumberOfLegs);
    return true;
  }
  StrategyLegStruct legs[16]{};
  std::strcpy(legs[0].ContractDate, kContractDate);
  legs[0].Ratio = 1;
  std::strcpy(legs[1].ContractDate, "JUN27");
  legs[1].Ratio = -1;
  const int32_t result = BIND(library, vnCreateStrategy)('D', 2, kExchange, kCommodity, legs);
  if (!WaitFor([] { return !strategyResult.empty(); }, std::chrono::seconds(10))) {
    std::fprintf(stderr, "vnCreateStrategy: %d, no strategy event came\n", result);
    return false;
  }
  std::lock_guard guard(lock);
  std::printf("vnCreateStrategy: %d, %s\n", result, strategyResult.c_str());
  return result == 0;
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

NewOrderStruct LimitBuy(const char* account, const std::string& price) {
  NewOrderStruct order{};
  std::snprintf(order.TraderAccount, sizeof order.TraderAccount, "%s", account);
  std::snprintf(order.OrderType, sizeof order.OrderType, "Limit");
  std::snprintf(order.ExchangeName, sizeof order.ExchangeName, "%s", kExchange);
  std::snprintf(order.CommodityName, sizeof order.CommodityName, "%s", kCommodity);
  std::snprintf(order.ContractDate, sizeof order.ContractDate, "%s", kContractDate);
  std::snprintf(order.Price, sizeof order.Price, "%s", price.c_str());
  order.BuySell = VN_SIDE_BUY;
  order.Lots = 1;
  order.OpenOrClose = 'O';
  return order;
}

// Enters the order and prints the result; the local id, or empty when it was refused.
std::string Enter(const Library& library, const NewOrderStruct& order) {
  char id[11] = {};
  const int32_t result = BIND(library, vnAddOrder)(&order, id);
  std::printf("vnAddOrder: buy %d %s %s %s @ %s: %d, order %s\n", order.Lots, kExchange,
              kCommodity, kContractDate, order.Price, result, id);
  return result == 0 ? std::string(id) : std::string();
}

void PrintFillsAndPosition(const Library& library, const std::string& orderID,
                           const char* account) {
  std::vector<std::string> fills;
  {
    std::lock_guard guard(lock);
    for (const auto& [order, fill] : fillEvents)
      if (order == orderID) fills.push_back(fill);
  }
  for (const std::string& id : fills) {
    FillStruct fill{};
    if (BIND(library, vnGetFillByID)(id.c_str(), &fill) != 0) continue;
    std::printf("fill %s: %s %d @ %s at %s %s, order %s\n", fill.FillID,
                fill.BuySell == VN_SIDE_BUY ? "bought" : "sold", fill.Lots, fill.Price,
                fill.DateFilled, fill.TimeFilled, fill.OrderID);
  }
  PositionStruct position{};
  char average[21] = {};
  BIND(library, vnGetContractPosition)(kExchange, kCommodity, kContractDate, account, &position);
  BIND(library, vnGetAveragePrice)(kExchange, kCommodity, kContractDate, account, average);
  std::printf("position of %s in %s %s %s: bought %d, sold %d, average price %s\n", account,
              kExchange, kCommodity, kContractDate, position.Buy, position.Sell, average);
}

// A buy at the best offer, followed until it fills; then a buy away from the market, cancelled
// once it works. False when either did not end in time.
bool Trade(const Library& library, const char* account) {
  PriceStruct prices{};
  BIND(library, vnGetPriceForContract)(kExchange, kCommodity, kContractDate, &prices);
  const std::string offer = prices.Entries[VN_PK_OFFER].Price;
  const double bid = std::atof(prices.Entries[VN_PK_BID].Price);
  if (offer == "0" || bid <= 0) {
    std::fprintf(stderr, "no market to trade against\n");
    return false;
  }

  std::printf("== a buy at the best offer\n");
  const std::string first = Enter(library, LimitBuy(account, offer));
  if (first.empty()) return false;
  TOrderWatch touch(first);
  const int end = touch.WaitFor({VN_OS_FILLED, VN_OS_REJECTED, VN_OS_CANCELLED}, kOrderDeadline);
  if (end != VN_OS_FILLED) {
    std::printf("the buy did not fill in time: cancelling it (%d)\n",
                BIND(library, vnCancelOrder)(touch.ID().c_str()));
    return false;
  }
  PrintFillsAndPosition(library, touch.ID(), account);

  // Fifty points under the best bid (a whole number of ticks of 0.5): it rests in the book.
  char away[21];
  std::snprintf(away, sizeof away, "%.1f", bid - 50);
  std::printf("== a buy away from the market, then its cancel\n");
  const std::string second = Enter(library, LimitBuy(account, away));
  if (second.empty()) return false;
  TOrderWatch resting(second);
  if (resting.WaitFor({VN_OS_WORKING}, kOrderDeadline) != VN_OS_WORKING) {
    std::printf("the second buy did not work in time\n");
    return false;
  }
  std::printf("vnCancelOrder %s: %d\n", resting.ID().c_str(),
              BIND(library, vnCancelOrder)(resting.ID().c_str()));
  if (resting.WaitFor({VN_OS_CANCELLED, VN_OS_BAL_CANCELLED}, kOrderDeadline) < 0) {
    std::printf("the cancel did not complete in time\n");
    return false;
  }
  std::printf("order %s cancelled\n", resting.ID().c_str());
  return true;
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
  BIND(library, vnRegisterOrderCallback)(VN_CB_ORDER, OnOrder);
  BIND(library, vnRegisterFillCallback)(VN_CB_FILL, OnFill);
  BIND(library, vnRegisterStrategyCreateSuccess)(VN_CB_STRATEGY_CREATE_SUCCESS, OnStrategyCreated);
  BIND(library, vnRegisterStrategyCreateFailure)(VN_CB_STRATEGY_CREATE_FAILURE, OnStrategyRefused);
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
  const bool traded = Trade(library, status.TraderAccount);
  const bool created = CreateStrategy(library);
  std::printf("vnLogOff: %d\n", BIND(library, vnLogOff)());
  return traded && created ? 0 : 1;
}
