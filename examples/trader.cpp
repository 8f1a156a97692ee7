// A small trading application: loads the client library the way an application does, logs a
// trader on to a host, enters a limit order, prints what the library reports through its
// callbacks as the host moves the order through its states, reads the order and its history
// back, and logs off.
//
//   trader LIBRARY HOST_IP HOST_PORT USER PASSWORD [CLIENT_PATH]
//
// The library keeps its store and logs in CLIENT_PATH (a folder, ending with '/'), by default
// the program's own folder.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "vornintf.h"

namespace {

std::atomic<bool> downloadComplete{false};
std::atomic<bool> loggedOut{false};
std::atomic<bool> orderClosed{false};
std::mutex orderLock;
std::string orderID;  // the order's id as its latest event gave it

const char* StateName(int status) {
  switch (status) {
    case VN_OS_QUEUED:
      return "queued";
    case VN_OS_SENT:
      return "sent";
    case VN_OS_WORKING:
      return "working";
    case VN_OS_REJECTED:
      return "rejected";
    case VN_OS_CANCELLED:
      return "cancelled";
    case VN_OS_PART:
      return "part filled";
    case VN_OS_FILLED:
      return "filled";
    default:
      return "other";
  }
}

void VN_STDCALL OnLinkState(const LinkStateStruct* state) {
  std::printf("host link: state %d -> %d\n", state->OldState, state->NewState);
}
void VN_STDCALL OnLogonStatus() {
  std::printf("logon status received\n");
}
void VN_STDCALL OnForcedLogout() {
  std::printf("forced logout\n");
  loggedOut = true;
}
void VN_STDCALL OnDownloadComplete() {
  std::printf("download complete\n");
  downloadComplete = true;
}
void VN_STDCALL OnOrder(const OrderUpdateStruct* update) {
  std::printf("order %s (was %s): %s\n", update->OrderID, update->OldOrderID,
              StateName(update->Status));
  {
    std::lock_guard guard(orderLock);
    orderID = update->OrderID;
  }
  if (update->Status == VN_OS_FILLED || update->Status == VN_OS_REJECTED ||
      update->Status == VN_OS_CANCELLED)
    orderClosed = true;
}

// The exports this application calls, looked up by name.
struct TExports {
  decltype(&vnSetClientPath) SetClientPath;
  decltype(&vnInitialise) Initialise;
  decltype(&vnRegisterLinkStateCallback) RegisterLinkState;
  decltype(&vnRegisterCallback) Register;
  decltype(&vnRegisterOrderCallback) RegisterOrder;
  decltype(&vnSetHostAddress) SetHostAddress;
  decltype(&vnReady) Ready;
  decltype(&vnLogOn) LogOn;
  decltype(&vnGetLogonStatus) GetLogonStatus;
  decltype(&vnAddOrder) AddOrder;
  decltype(&vnGetOrderIndex) GetOrderIndex;
  decltype(&vnCountOrderHistory) CountOrderHistory;
  decltype(&vnGetOrderHistory) GetOrderHistory;
  decltype(&vnLogOff) LogOff;
};

template <class F>
bool Find(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (!function) std::fprintf(stderr, "missing export %s\n", name);
  return function != nullptr;
}

bool WaitFor(const std::atomic<bool>& flag) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!flag && !loggedOut && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return flag;
}

// Copies at most N-1 characters and the NUL.
template <std::size_t N>
void Put(char (&field)[N], const char* text) {
  const std::size_t length = std::min(std::strlen(text), N - 1);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

// A limit order to buy 3 lots of the fake host's one contract.
NewOrderStruct LimitOrder(const char* account) {
  NewOrderStruct order;
  std::memset(&order, 0, sizeof order);
  Put(order.TraderAccount, account);
  Put(order.OrderType, "LIMIT");
  Put(order.ExchangeName, "LIFFE");
  Put(order.CommodityName, "FTSE");
  Put(order.ContractDate, "MAR27");
  order.BuySell = 'B';
  Put(order.Price, "6500.5");
  order.Lots = 3;
  order.OpenOrClose = 'O';
  return order;
}

void PrintHistory(const TExports& api) {
  std::string id;
  {
    std::lock_guard guard(orderLock);
    id = orderID;
  }
  std::int32_t index = -1, versions = 0;
  if (api.GetOrderIndex(id.c_str(), &index) != 0 || api.CountOrderHistory(index, &versions) != 0)
    return;
  std::printf("history of order %s, newest first:\n", id.c_str());
  for (std::int32_t i = 0; i < versions; ++i) {
    OrderDetailStruct detail;
    std::memset(&detail, 0, sizeof detail);
    if (api.GetOrderHistory(index, i, &detail) != 0) break;
    std::printf("  status code %2d  filled %d of %d at %s  exchange id \"%s\"\n", detail.Status,
                detail.Filled, detail.Lots, detail.AveragePrice, detail.ExchangeID);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: trader LIBRARY HOST_IP HOST_PORT USER PASSWORD [CLIENT_PATH]\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  TExports api{};
  if (!(Find(library, "vnSetClientPath", api.SetClientPath) &&
        Find(library, "vnInitialise", api.Initialise) &&
        Find(library, "vnRegisterLinkStateCallback", api.RegisterLinkState) &&
        Find(library, "vnRegisterCallback", api.Register) &&
        Find(library, "vnRegisterOrderCallback", api.RegisterOrder) &&
        Find(library, "vnSetHostAddress", api.SetHostAddress) &&
        Find(library, "vnReady", api.Ready) && Find(library, "vnLogOn", api.LogOn) &&
        Find(library, "vnGetLogonStatus", api.GetLogonStatus) &&
        Find(library, "vnAddOrder", api.AddOrder) &&
        Find(library, "vnGetOrderIndex", api.GetOrderIndex) &&
        Find(library, "vnCountOrderHistory", api.CountOrderHistory) &&
        Find(library, "vnGetOrderHistory", api.GetOrderHistory) &&
        Find(library, "vnLogOff", api.LogOff)))
    return 1;

  if (argc == 7) api.SetClientPath(argv[6]);
  std::printf("vnInitialise: %d\n", api.Initialise('T', "v2.8.3", "demo", "1.0", "", 0));
  api.RegisterLinkState(VN_CB_HOST_LINK_STATE_CHANGE, OnLinkState);
  api.Register(VN_CB_LOGON_STATUS, OnLogonStatus);
  api.Register(VN_CB_FORCED_LOGOUT, OnForcedLogout);
  api.Register(VN_CB_DATA_DL_COMPLETE, OnDownloadComplete);
  api.RegisterOrder(VN_CB_ORDER, OnOrder);
  api.SetHostAddress(argv[2], argv[3]);
  std::printf("vnReady: %d\n", api.Ready());

  LogonStruct logon;
  std::memset(&logon, 0, sizeof logon);
  Put(logon.UserName, argv[4]);
  Put(logon.Password, argv[5]);
  logon.FullDownload = 'N';
  logon.ReportDownload = 'N';
  std::printf("vnLogOn: %d\n", api.LogOn(&logon));
  WaitFor(downloadComplete);

  LogonStatusStruct status;
  std::memset(&status, 0, sizeof status);
  api.GetLogonStatus(&status);
  std::printf("logon status %d \"%s\", trader account \"%s\"\n", status.Status, status.StatusText,
              status.TraderAccount);

  bool filled = false;
  if (downloadComplete) {
    // The host's order ids follow the download; an order entered before them waits under a
    // local id and goes out when they arrive.
    NewOrderStruct order = LimitOrder(status.TraderAccount);
    char id[11] = {};
    std::printf("vnAddOrder: %d, order id %s\n", api.AddOrder(&order, id), id);
    filled = WaitFor(orderClosed);
    PrintHistory(api);
  }
  std::printf("vnLogOff: %d\n", api.LogOff());
  dlclose(library);
  return downloadComplete && filled ? 0 : 1;
}
