#include "sim/SimConnection.h"

#include <utility>

#include "core/events/Callbacks.h"
#include "core/wire/VornMessage.h"
#include "sim/AutoDemo.h"
#include "vornintf.h"

namespace vorn::sim {

namespace {

// The link states posted on connecting: internal 3 -> 4, reported as 2 -> 3.
constexpr std::uint8_t kReportedConnecting = 2;
constexpr std::uint8_t kReportedConnected = 3;

constexpr const char* kLoginCode = "3362";

}  // namespace

TConnection::TConnection(TClassAPI& api, TLinkKind kind) : api_(api), kind_(kind) {
  if (kind_ == psHost) {
    demo_ = std::make_shared<TAutoDemo>(api_);
    SetCurrentAutoDemo(demo_);
  }
}

TConnection::~TConnection() {
  Shutdown();
}

void TConnection::SetAddress(const TAddressItem& address) {
  std::lock_guard guard(addressLock_);
  address_ = address.IP;
  port_ = address.Port;
}

std::string TConnection::Address() const {
  std::lock_guard guard(addressLock_);
  return address_ + ":" + port_;
}

void TConnection::Send(TVornMessage& message) {
  const std::shared_ptr<TAutoDemo> demo = CurrentAutoDemo();
  if (!demo) return;
  if (message.Code() == kLoginCode) demo->Enable(true);
}

void TConnection::Connect() {
  if (!enabled_ || connected_.exchange(true)) return;
  if (kind_ == psHost) {
    AddLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, kReportedConnecting, kReportedConnected);
    return;
  }
  AddLinkStateCallback(VN_CB_PRICE_STATE_CHANGE, kReportedConnecting, kReportedConnected);
  if (const auto demo = CurrentAutoDemo()) demo->StartTimer();
}

void TConnection::Shutdown() {
  enabled_ = false;
  std::shared_ptr<TAutoDemo> demo = std::move(demo_);
  if (!demo) return;
  if (CurrentAutoDemo() == demo) SetCurrentAutoDemo(nullptr);
  demo->StopTimer();
}

void TConnection::PrepareLogon() {
  if (demo_) demo_->PrepareLogon();
}

std::shared_ptr<ILink> MakeSimLink(TClassAPI& api, const TLinkSpec& spec) {
  if (spec.SSL) return std::make_shared<TSSLConnection>(api, spec.Kind);
  return std::make_shared<TConnection>(api, spec.Kind);
}

}  // namespace vorn::sim
