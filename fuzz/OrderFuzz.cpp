// The order message receivers over arbitrary bodies: the first byte picks the form (tagged 3601
// or a fixed-width code 70 to 79) and the switches that change the road (download, environment
// 'G', notify-all, OMI), the rest is the body, applied to one API object that holds a contract,
// an account and an order type, through the dispatcher as a link's socket thread does.

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
#include "links/FixedField.h"

using namespace vorn;

namespace {

TClassAPI& FuzzAPI() {
  static TClassAPI* api = MakeFuzzMarket();
  return *api;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TClassAPI& api = FuzzAPI();
  const std::uint8_t selector = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  api.Logon.DownloadInProgress = (selector & 0x10) != 0;
  api.Environment = (selector & 0x20) != 0 ? 'G' : ' ';
  api.NotifyAllMessages = (selector & 0x40) != 0;
  api.OMIEnabled = (selector & 0x08) == 0;
  if (selector & 0x80) {
    const std::string body = FormatCode4(70 + selector % 10) + std::string(rest);
    ProcessMessage(api, psPriceFeed, body);
  } else {
    // Fields that name the held account and contract, unless the input names others first.
    const std::string body = "Msg=3601\x01" + std::string(rest) +
                             "\x01TA=TRADER1\x01Ex=LIFFE\x01"
                             "C=FTSE\x01"
                             "CD=MAR27\x01";
    ProcessMessage(api, psHost, body);
  }
  ClearCallbackQueue();  // events pile up otherwise
  TrimFuzzLogs();
  return 0;
}
