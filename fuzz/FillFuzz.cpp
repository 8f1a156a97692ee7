// The fill message receivers over arbitrary bodies: the first byte picks the form (tagged 3602 or
// a fixed-width code 80) and the download switch, the rest is the body, applied to one API
// object that holds a contract, an account and an order, through the dispatcher as a link's
// socket thread does.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/Dispatcher.h"

using namespace vorn;

namespace {

// The order the fills name.
void AddOrder(TClassAPI& api) {
  ProcessMessage(api, psHost,
                 "Msg=3601\x01OID=101\x01Sts=3\x01Seq=1\x01"
                 "Flg=1\x01TA=TRADER1\x01"
                 "Ex=LIFFE\x01"
                 "C=FTSE\x01"
                 "CD=MAR27\x01OTy=LIMIT\x01"
                 "BS=1\x01TLt=5\x01");
}

TClassAPI& FuzzAPI() {
  static TClassAPI* api = [] {
    auto* made = MakeFuzzMarket();
    auto type = std::make_shared<TOrderTypeItem>();
    type->SetExchangeName("LIFFE");
    type->SetName("LIMIT");
    type->OrderTypeID = otLimit;
    made->OrderTypes.Add(type);
    AddOrder(*made);
    return made;
  }();
  return *api;
}

// Fills pile up from input to input; the lists are emptied now and then so that an input's cost
// does not grow with the run.
void KeepListsSmall(TClassAPI& api) {
  static unsigned inputs = 0;
  if (++inputs % 512 != 0) return;
  api.ClearOrdersAndFills();
  AddOrder(api);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TClassAPI& api = FuzzAPI();
  const std::uint8_t selector = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  api.Logon.DownloadInProgress = (selector & 0x10) != 0;
  if (selector & 0x80) {
    ProcessMessage(api, psPriceFeed, "0080" + std::string(rest));
  } else {
    // Fields that name the held account, contract and order, unless the input names others
    // first.
    const std::string body = "Msg=3602\x01" + std::string(rest) +
                             "\x01TA=TRADER1\x01OID=101\x01"
                             "Ex=LIFFE\x01"
                             "C=FTSE\x01"
                             "CD=MAR27\x01";
    ProcessMessage(api, psHost, body);
  }
  ClearCallbackQueue();  // events pile up otherwise
  TrimFuzzLogs();
  KeepListsSmall(api);
  return 0;
}
