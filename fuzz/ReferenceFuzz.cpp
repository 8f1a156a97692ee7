// The reference-data receivers over arbitrary bodies: the first byte picks the code (a tagged
// host code or a fixed-width price-feed code), the rest is the body, applied to one API object
// through the dispatcher as a link's socket thread does.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"

using namespace vorn;

namespace {

constexpr std::array<int, 16> kHostCodes = {3655, 3656, 3657, 3658, 3659, 3660, 3661, 3662,
                                            3663, 3664, 3665, 3666, 3667, 3668, 3669, 3603};
constexpr std::array<int, 16> kPriceCodes = {23, 24, 25, 46, 47, 52, 53, 58,
                                             59, 60, 82, 83, 30, 31, 87, 2};

TClassAPI& FuzzAPI() {
  static TClassAPI* api = MakeFuzzAPI();
  return *api;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TClassAPI& api = FuzzAPI();
  const std::uint8_t selector = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  api.Logon.DownloadInProgress = (selector & 0x40) != 0;
  if (selector & 0x80) {
    const std::string body =
        FormatCode4(kPriceCodes[selector % kPriceCodes.size()]) + std::string(rest);
    ProcessMessage(api, psPriceFeed, body);
  } else {
    const std::string body = "Msg=" + std::to_string(kHostCodes[selector % kHostCodes.size()]) +
                             "\x01" + std::string(rest);
    ProcessMessage(api, psHost, body);
  }
  ClearCallbackQueue();  // events pile up otherwise
  TrimFuzzLogs();
  return 0;
}
