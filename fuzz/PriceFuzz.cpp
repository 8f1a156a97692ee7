// The price feed's receivers over arbitrary bodies, applied through the dispatcher as the price
// link's socket thread does, to one API object holding a subscribed future.
//
// Input: byte 0 picks the message (one of the codes below, the last the tagged settlement of the
// host link); byte 1 the switches: bit 0 compressed, bit 1 download in progress, bit 2 depth of
// market granted, bit 3 notify all messages, bit 4 the future's names written over the body,
// bits 5-7 the code letter of a compressed body ('A' to 'E', else one without parameters). The
// rest is the body after its code, or for a compressed body the items after its header.

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/Decompress.h"
#include "links/Dispatcher.h"
#include "links/FixedField.h"

using namespace vorn;

namespace {

constexpr std::array<int, 13> kCodes = {84, 56, 65, 57, 807, 810, 806, 85, 86, 340, 314, 345, 3688};

TClassAPI& FuzzAPI() {
  static TClassAPI* api = [] {
    auto* made = MakeFuzzMarket();
    made->Subscriptions.SubscribePrice(
        made->Contracts.FindContract("LIFFE", "FTSE", "MAR27")->Key());
    return made;
  }();
  return *api;
}

// The future's names at their offsets, the body blank-filled up to them.
void WriteNames(std::string& body) {
  if (body.size() < 74) body.resize(74, ' ');
  PutFixedField(body, 4, 10, "LIFFE     ");
  PutFixedField(body, 14, 10, "FTSE      ");
  PutFixedField(body, 24, 50, "MAR27" + std::string(45, ' '));
}

// Broadcasts add a user message each; the list is emptied now and then so that an input's cost
// does not grow with the run.
void KeepListsSmall(TClassAPI& api) {
  static unsigned inputs = 0;
  if (++inputs % 512 == 0) api.UserMessages.Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  TClassAPI& api = FuzzAPI();
  const int code = kCodes[data[0] % kCodes.size()];
  const std::uint8_t switches = data[1];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  api.Logon.DownloadInProgress = (switches & 0x02) != 0;
  api.Features.DOMEnabled = (switches & 0x04) != 0;
  api.NotifyAllMessages = (switches & 0x08) != 0;
  const bool names = (switches & 0x10) != 0;

  if (code == 3688) {
    std::string body = "Msg=3688\x01" + std::string(rest) + "\x01";
    if (names) body += "Ex=LIFFE\x01" "C=FTSE\x01" "CD=MAR27\x01";
    ProcessMessage(api, psHost, body);
  } else {
    const std::string code4 = FormatCode4(code);
    std::string body;
    if (switches & 0x01) {
      // The link decompresses first: the code letter stands in place of the code's first digit.
      const char letter = static_cast<char>('A' + (switches >> 5));
      try {
        Decompress(std::string(1, letter) + code4.substr(1) + std::string(rest), body);
      } catch (const std::exception&) {
        return 0;
      }
    } else {
      body = code4 + std::string(rest);
    }
    if (names) WriteNames(body);
    ProcessMessage(api, psPriceFeed, body);
  }
  ClearCallbackQueue();  // events pile up otherwise
  TrimFuzzLogs();
  KeepListsSmall(api);
  return 0;
}
