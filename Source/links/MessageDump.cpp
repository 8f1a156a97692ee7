#include "links/MessageDump.h"

#include "core/diag/Trace.h"

namespace vorn {
namespace {

constexpr char kItemSeparator = '\x01';

bool Printable(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 32 && byte <= 122;
}

}  // namespace

bool MessageLogOn(TLinkKind kind) {
  return DebugFlagOn(kind == psHost ? kGenerateHostLog : kGeneratePriceFeedLog);
}

void AppendDumpText(std::string& out, std::string_view bytes) {
  std::size_t i = 0;
  bool itemStart = true;
  while (i < bytes.size()) {
    if (itemStart) {
      itemStart = false;
      i += MaskedItemLength(bytes.substr(i));
      continue;
    }
    const std::size_t run = i;
    while (i < bytes.size() && Printable(bytes[i]))
      ++i;
    out.append(bytes.data() + run, i - run);
    if (i == bytes.size()) return;
    out += '?';
    itemStart = bytes[i++] == kItemSeparator;
  }
}

void DumpReceivedMessage(std::string_view label, std::string_view body) {
  AddTraceEntry(tlNote, label, "debugmsg");
  if (!TraceFileOpen()) return;
  std::string line(label);
  line.reserve(label.size() + body.size() + 1);
  AppendDumpText(line, body);
  line += '|';
  WriteTraceLine(line);
}

void DumpReceivedBody(TLinkKind kind, std::string_view body, bool decompressed,
                      bool downloadInProgress) {
  if (!MessageLogOn(kind)) return;
  if (decompressed) {
    DumpReceivedMessage("Decompress:", body);
  } else if (!DumpLeavesOut(body, [downloadInProgress] { return downloadInProgress; })) {
    DumpReceivedMessage("Recv:", body);
  }
}

void DumpSentFrame(TLinkKind kind, std::string_view frame) {
  if (!MessageLogOn(kind) || !TraceFileOpen()) return;
  std::string line(kind == psHost ? "Hst.send: " : "Prc.send: ");
  line.reserve(line.size() + frame.size() + 1);
  const std::string_view lengthWord = frame.substr(0, 2);
  for (const char c : lengthWord)
    line += Printable(c) ? c : '?';
  AppendDumpText(line, frame.substr(lengthWord.size()));
  line += '|';
  WriteTraceLine(line);
}

}  // namespace vorn
