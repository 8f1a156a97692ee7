// Host order messages (3601) from the fake host's writes to the application's order procedure,
// over a TLS host link (the SSL link and the stand-in library) against the plain host link in
// the same run: "msgs_per_s" for each, and for TLS "ratio_to_plain", its rate over the plain
// one's (measured first, by argument 0). Every message is a working state of a new order.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "core/session/ClassAPI.h"
#include "core/session/PasswordEncryption.h"
#include "support/FakeServer.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace {

using namespace vorn;

constexpr std::int64_t kBatch = 1000;
constexpr std::int64_t kBatches = 20;

std::atomic<std::int64_t> gArrived{0};
double gPlainRate = 0;

void VN_STDCALL OrderArrived(const OrderUpdateStruct*) {
  gArrived.fetch_add(1, std::memory_order_release);
}
void VN_STDCALL IgnoreLinkState(const LinkStateStruct*) {}
void VN_STDCALL IgnoreNotify() {}

std::string OrderBatch(std::int64_t first) {
  std::string bytes;
  for (std::int64_t id = first; id < first + kBatch; ++id) {
    const std::string oid = std::to_string(id);
    bytes += Frame(Wire("Msg=3601|OID=" + oid +
                        "|Sts=3|Seq=1|Flg=1|TA=TRADER1|Ex=LIFFE|C=FTSE|CD=MAR27|OTy=LIMIT|BS=1|"
                        "Pr=6500.5|TLt=3|Fil=0|Usr=trader1|XR=77|Ref=bench order|EID=X-" +
                        oid + "|"));
  }
  return bytes;
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A session whose host link, plain or TLS, is connected to a fake host that answers nothing.
struct TSession {
  explicit TSession(bool tls)
      : certificates(MakeTestCertificates(dir.Path())),
        trust(certificates.CAFile),
        host(TFakeServerKind::Host,
             tls ? TFakeServerTls{certificates.Server.CertFile, certificates.Server.KeyFile}
                 : TFakeServerTls{}) {
    SetRavelinkPathForTests(VORN_RAVELINK_LIBRARY);
    if (vnInitialise('T', "v2.8.3", "bench", "1.0", "", 0) != VN_RC_SUCCESS)
      throw std::runtime_error("vnInitialise failed");
    if (vnRegisterLinkStateCallback(VN_CB_HOST_LINK_STATE_CHANGE, IgnoreLinkState) != 0 ||
        vnRegisterCallback(VN_CB_LOGON_STATUS, IgnoreNotify) != 0 ||
        vnRegisterCallback(VN_CB_FORCED_LOGOUT, IgnoreNotify) != 0 ||
        vnRegisterOrderCallback(VN_CB_ORDER, OrderArrived) != 0)
      throw std::runtime_error("callback registration failed");
    API()->Links.HostHandshakePeriod = 0;
    API()->Heartbeat.SetInterval(25);
    if (tls && vnSetSSL('Y') != 0) throw std::runtime_error("vnSetSSL failed");
    if (vnSetHostAddress("127.0.0.1", std::to_string(host.Port()).c_str()) != 0 ||
        vnReady() != 0)
      throw std::runtime_error("vnReady failed");
    if (!host.WaitConnected(30000) || !WaitFor([] { return API()->LinkConnected(psHost); }))
      throw std::runtime_error("the host link did not connect");
    API()->Heartbeat.SetInterval(1000);
    API()->UserName.Set("trader1");
    API()->Logon.LoggedOn = true;
    AddTradingMarket(*API());
  }
  ~TSession() {
    vnLogOff();
    SetRavelinkPathForTests("");
  }

  TTempDir dir;
  TTestCertificates certificates;
  TScopedTrustedCA trust;
  TFakeServer host;
};

void BM_OrderReplyOverLink(benchmark::State& state) {
  const bool tls = state.range(0) == 1;
  std::unique_ptr<TSession> session;
  try {
    session = std::make_unique<TSession>(tls);
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  std::int64_t next = 1000001;
  std::int64_t messages = 0;
  double seconds = 0;
  for (auto _ : state) {
    gArrived.store(0);
    const auto start = std::chrono::steady_clock::now();
    for (std::int64_t b = 0; b < kBatches; ++b, next += kBatch)
      if (!session->host.SendRaw(OrderBatch(next))) {
        state.SkipWithError("the fake host could not write");
        return;
      }
    if (!WaitFor([] { return gArrived.load(std::memory_order_acquire) >= kBatch * kBatches; })) {
      state.SkipWithError("an order event is missing");
      return;
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    messages += kBatch * kBatches;
  }
  const double rate = seconds > 0 ? static_cast<double>(messages) / seconds : 0;
  state.counters["msgs_per_s"] = rate;
  if (!tls) gPlainRate = rate;
  if (tls && gPlainRate > 0) state.counters["ratio_to_plain"] = rate / gPlainRate;
}
BENCHMARK(BM_OrderReplyOverLink)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
