#include "core/session/CurrentAPIMessageHost.h"

#include "core/session/ClassAPI.h"
#include "core/wire/VornMessage.h"
#include "platform/ProcessWide.h"

namespace vorn {

namespace {

class TCurrentAPIMessageHost final : public IMessageHost {
 public:
  void SendOnLink(TVornMessage& message, bool priceFeed) override {
    if (const auto api = API()) api->SendOnLink(message, priceFeed ? psPriceFeed : psHost);
  }
  bool DownloadInProgress() const override {
    const auto api = API();
    return api && api->Logon.DownloadInProgress;
  }
};

}  // namespace

void InstallCurrentAPIMessageHost() {
  static TCurrentAPIMessageHost& host = KeepProcessWide(new TCurrentAPIMessageHost);
  SetMessageHost(&host);
}

}  // namespace vorn
