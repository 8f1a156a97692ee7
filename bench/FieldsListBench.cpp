// Tagged host text: parsing a received body and writing a request frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/wire/FieldsList.h"
#include "core/wire/VornMessage.h"

namespace {

// An order message of 40 fields, as the host sends them.
std::string OrderBody() {
  const char* items[] = {"Msg=3601",       "Seq=000123456789",
                         "OID=1234567890", "Flg=1",
                         "Exc=XEUR",       "Cmd=FGBL",
                         "CDt=202412",     "Trd=TRADER01",
                         "Acc=ACC-0001",   "BS=B",
                         "Lot=25",         "LF=10",
                         "Px=131.25",      "Px2=0",
                         "OTp=2",          "Sts=4",
                         "STx=Working",    "Ref=client ref 17",
                         "Dt=20240305",    "Tm=140709",
                         "AmD=20240305",   "AmT=140712",
                         "Usr=user01",     "EOID=A1B2C3D4E5",
                         "TOID=987654",    "Dur=0",
                         "GTD=",           "FPx=131.24",
                         "FLt=10",         "AvP=131.245",
                         "Ori=1",          "Whl=N",
                         "Hist=1",         "Cnt=3",
                         "MkR=REF123",     "Txt=order accepted",
                         "Grp=7",          "Ccy=EUR",
                         "Ex2=",           "Tag=  padded  "};
  std::string body;
  for (const char* item : items) {
    body += item;
    body += '\x01';
  }
  return body;
}

// The floor: items split into name and value views, nothing looked up, nothing kept.
class TNaiveSplitter {
 public:
  TNaiveSplitter() { items_.reserve(64); }
  std::size_t Split(std::string_view body) {
    items_.clear();
    while (true) {
      const std::size_t end = body.find('\x01');
      if (end == std::string_view::npos) break;
      const std::string_view item = body.substr(0, end);
      const std::size_t equals = item.find('=');
      if (equals != std::string_view::npos)
        items_.emplace_back(item.substr(0, equals), item.substr(equals + 1));
      body.remove_prefix(end + 1);
    }
    benchmark::DoNotOptimize(items_.data());
    return items_.size();
  }

 private:
  std::vector<std::pair<std::string_view, std::string_view>> items_;
};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Times the splitter over the same bytes as often as the benchmark ran and prints the
// benchmark's time over the splitter's as "x_naive".
void ReportAgainstNaive(benchmark::State& state, const std::string& body, std::int64_t ns) {
  TNaiveSplitter splitter;
  const std::int64_t start = NowNs();
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(state.iterations()); ++i)
    benchmark::DoNotOptimize(splitter.Split(body));
  const std::int64_t floor = NowNs() - start;
  state.counters["x_naive"] = floor > 0 ? static_cast<double>(ns) / static_cast<double>(floor) : 0;
}

void BM_SetFields40(benchmark::State& state) {
  const std::string body = OrderBody();
  vorn::TFieldsList list;
  const std::int64_t start = NowNs();
  for (auto _ : state) {
    list.SetFields(body);
    benchmark::DoNotOptimize(list.Count());
  }
  ReportAgainstNaive(state, body, NowNs() - start);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_SetFields40);

// A new list for every body, as the dispatcher once did.
void BM_SetFields40NewList(benchmark::State& state) {
  const std::string body = OrderBody();
  const std::int64_t start = NowNs();
  for (auto _ : state) {
    vorn::TFieldsList list;
    list.SetFieldsFromBuffer(body, body.size());
    benchmark::DoNotOptimize(list.Count());
  }
  ReportAgainstNaive(state, body, NowNs() - start);
}
BENCHMARK(BM_SetFields40NewList);

void BM_NaiveSplit40(benchmark::State& state) {
  const std::string body = OrderBody();
  TNaiveSplitter splitter;
  for (auto _ : state)
    benchmark::DoNotOptimize(splitter.Split(body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_NaiveSplit40);

void BM_SendHostMessageFillBuffer(benchmark::State& state) {
  vorn::TSendHostMessage message("3363");
  message.HeaderFields.AddFieldValue("Msg", "3363", -1, -1, false);
  for (const char* tag : {"Trd", "Acc", "Exc", "Cmd", "CDt", "BS", "Lot", "Px", "OTp", "Ref"}) {
    message.BodyFields.AddFieldValue(tag, "value", -1, -1, false);
  }
  for (int leg = 1; leg <= 4; ++leg) {
    message.BodyFields.AddFieldValue("LPx", "101.5", leg, 1, false);
    message.BodyFields.AddFieldValue("LLt", "3", leg, 1, false);
  }
  vorn::TDynamicBuffer buffer;
  for (auto _ : state) {
    message.FillBuffer(buffer);
    buffer.Remove(buffer.DataLength());
  }
}
BENCHMARK(BM_SendHostMessageFillBuffer);

}  // namespace
