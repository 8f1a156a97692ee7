// Bytes written by a server on a loopback socket to bodies dispatched by the link: framing,
// parsing (host) and dispatch on the link's socket thread, as messages per second, for a typical
// host reference-data body and a typical price-feed body.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "links/Connection.h"
#include "links/Dispatcher.h"
#include "support/HostText.h"
#include "support/LoopbackListener.h"

namespace {

using namespace vorn;

constexpr int kBatch = 1000;

// A reference-data update of about 250 bytes; the code has no receiver cost beyond its resume
// point, so the figure is the link's own.
const std::string kHostBody = Wire(
    "Msg=3670|Seq=1234567|Ex=EXCH|C=COMMODITY1|CD=MAR27|XD=20270315|X1=F|Act=1|"
    "GUID=6F9619FF-8B86-D011-B42D-00C04FC964FF|TkS=0.01|TPP=100|MR=1500|Ccy=USD|"
    "Dsc=Front month future on the commodity|MkR=REF1|ETe=A|");
// Host 3623 empties the pre-allocated ids: the end of a batch.
const std::string kHostEnd = Wire("Msg=3623|");
// A fixed-width price body of 124 characters with an ignored code.
const std::string kPriceBody = "0039" + std::string(120, ' ');

class TNoWaitServices final : public IDownloadServices {
 public:
  void Sleep(std::chrono::milliseconds) override {}
  void MarkDownloadComplete(TLogonState&) override {}
  void StartContractWrite(TClassAPI&) override {}
};

// A link of that kind connected to a loopback listener.
struct TLinkOnLoopback {
  explicit TLinkOnLoopback(TLinkKind kind) : link(api, kind, [](std::int32_t) { return 0; }) {
    api.Logon.LoggedOn = kind == psPriceFeed;  // the price link runs only while logged on
    link.SetAddress({"127.0.0.1", std::to_string(listener.Port())});
    link.Start(true);
    while (link.SocketState() == TSocketState::Closed)
      link.ProcessTimer();
    peer = listener.Accept();
    while (!link.Connected())
      std::this_thread::yield();
  }

  TClassAPI api;
  TLoopbackListener listener;
  TConnection link;
  std::unique_ptr<TLoopbackPeer> peer;
};

void BM_HostBodiesDispatched(benchmark::State& state) {
  TLinkOnLoopback loop(psHost);
  std::string batch;
  for (int i = 0; i < kBatch; ++i)
    batch += Frame(kHostBody);
  batch += Frame(kHostEnd);
  for (auto _ : state) {
    loop.api.OrderIDs.AddPreAllocatedOrderID("1");
    loop.peer->Write(batch);
    while (!loop.api.OrderIDs.PreAllocatedIDs().empty())
      std::this_thread::yield();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(batch.size()));
}
BENCHMARK(BM_HostBodiesDispatched)->UseRealTime();

void BM_PriceBodiesDispatched(benchmark::State& state) {
  TNoWaitServices services;
  SetDownloadServices(&services);
  TLinkOnLoopback loop(psPriceFeed);
  std::string batch;
  for (int i = 0; i < kBatch; ++i)
    batch += Frame(kPriceBody);
  std::int32_t sequence = 0;
  for (auto _ : state) {
    // Price 40 stores its sequence number: the end of a batch.
    ++sequence;
    std::string end = "0040" + std::string(120, ' ');
    const std::string digits = std::to_string(sequence);
    end.replace(4, digits.size(), digits);
    loop.peer->Write(batch + Frame(end));
    while (loop.api.Logon.LogonSequence != sequence)
      std::this_thread::yield();
    ClearCallbackQueue();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  SetDownloadServices(nullptr);
}
BENCHMARK(BM_PriceBodiesDispatched)->UseRealTime();

}  // namespace
