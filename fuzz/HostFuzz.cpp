// Whole host bodies, their code among them, through the dispatcher to every receiver of the
// built-in table, applied to one API object that holds a contract, an account and an order type.
// The end of the download runs without its pause and without the contract-file thread.
//
// Input: byte 0 the switches: bit 0 download in progress, bit 1 notify all messages, bit 2
// depth of market granted, bit 3 the body goes to the price link instead (the fixed-width legacy
// codes). The rest is the body as the link hands it over ("Msg=3601\x01OID=..." on the host
// link, the four-digit code first on the price link).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzMarket.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/Dispatcher.h"

using namespace vorn;

namespace {

class TNoPauseServices final : public IDownloadServices {
 public:
  void Sleep(std::chrono::milliseconds) override {}
  void MarkDownloadComplete(TLogonState& logon) override { logon.DownloadCompleted = true; }
  void StartContractWrite(TClassAPI&) override {}
};

TNoPauseServices services;
TClassAPI* api = nullptr;

// The lists that only grow with the bodies (and the UUID groups, which keep what leaves the
// lists) are emptied now and then, so that an input's cost and the memory do not grow with the
// run.
void KeepListsSmall() {
  static unsigned inputs = 0;
  if (++inputs % 512 != 0) return;
  api->Orders.FreeAll();
  api->Fills.FreeAll();
  api->Positions.ClearPositions();
  api->UserMessages.Clear();
  api->Reports.Clear();
  api->UUIDObjects->Clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDownloadServices(&services);
  api = MakeFuzzMarket();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t switches = data[0];
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  api->Logon.DownloadInProgress = (switches & 0x01) != 0;
  api->NotifyAllMessages = (switches & 0x02) != 0;
  api->Features.DOMEnabled = (switches & 0x04) != 0;
  api->Logon.LoggedOn = true;  // a refused logon or a forced logout clears it
  ProcessMessage(*api, (switches & 0x08) ? psPriceFeed : psHost, body);
  ClearCallbackQueue();  // events pile up otherwise
  KeepListsSmall();
  TrimFuzzLogs();
  return 0;
}
