// Tagged host text: parsing a received body and writing a request frame.
#include <benchmark/benchmark.h>

#include <string>

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

void BM_SetFields40(benchmark::State& state) {
  const std::string body = OrderBody();
  vorn::TFieldsList list;
  for (auto _ : state) {
    list.SetFields(body);
    benchmark::DoNotOptimize(list.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_SetFields40);

// As the dispatcher does it: a new list for every body.
void BM_SetFields40NewList(benchmark::State& state) {
  const std::string body = OrderBody();
  for (auto _ : state) {
    vorn::TFieldsList list;
    list.SetFieldsFromBuffer(body, body.size());
    benchmark::DoNotOptimize(list.Count());
  }
}
BENCHMARK(BM_SetFields40NewList);

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
