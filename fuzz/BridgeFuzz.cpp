// The Java bridge's marshalling without a JVM: the event queue's copies of the API's callback
// payloads, and the session's reading of its text arguments (host and port, the logon record).
//
// Input: byte 0 picks the road. 0: events, each two bytes of callback id (low byte first) and
// then as many payload bytes as the bridge copies for that id (short input is padded with zeros,
// as the record the API hands over is whole); they are queued as the event procedures queue
// them, taken in one round and compared. 1: the rest is a "host:port" text. 2: the rest holds
// user, password and new password split at NUL bytes, the flags in byte 1.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "vornjni/core/EventQueue.h"
#include "vornjni/core/Session.h"

using namespace vorn::bridge;

namespace {

void Events(std::string_view rest) {
  struct TSent {
    std::int32_t Id;
    std::vector<std::uint8_t> Data;
  };
  std::vector<TSent> sent;
  TEventQueue& queue = EventQueue();
  while (rest.size() >= 2) {
    const auto id = static_cast<std::int32_t>(static_cast<std::uint8_t>(rest[0]) |
                                              static_cast<std::uint8_t>(rest[1]) << 8);
    rest.remove_prefix(2);
    const int size = PayloadSize(id);
    if (size < 0) continue;  // never registered, so never posted
    if (static_cast<std::size_t>(size) > kLargestPayload) __builtin_trap();
    std::array<std::uint8_t, kLargestPayload> record{};
    const std::size_t taken = std::min(rest.size(), static_cast<std::size_t>(size));
    std::memcpy(record.data(), rest.data(), taken);
    rest.remove_prefix(taken);
    queue.Add(id, size > 0 ? record.data() : nullptr, static_cast<std::size_t>(size));
    sent.push_back({id, std::vector<std::uint8_t>(record.begin(), record.begin() + size)});
  }
  if (sent.empty()) return;
  std::deque<TCallback> round;
  if (!queue.Take(round) || round.size() != sent.size()) __builtin_trap();
  for (std::size_t i = 0; i < sent.size(); ++i)
    if (round[i].Type != sent[i].Id || round[i].Data != sent[i].Data) __builtin_trap();
}

void HostAndPort(std::string_view rest) {
  const std::string text(rest);
  const THostAndPort split = GetHostAndPort(text);
  const bool colon = text.find(':') != std::string::npos;
  if ((colon ? split.Host + ":" + split.Port : split.Port) != text) __builtin_trap();
  if (!colon && !split.Host.empty()) __builtin_trap();
}

void LogonRecord(std::string_view rest) {
  if (rest.empty()) return;
  const std::uint8_t flags = static_cast<std::uint8_t>(rest[0]);
  rest.remove_prefix(1);
  std::array<std::string, 3> texts;
  for (std::string& text : texts) {
    const std::size_t end = rest.find('\0');
    text = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  const LogonStruct record =
      MakeLogonRecord(texts[0], texts[1], texts[2], (flags & 1) != 0, (flags & 2) != 0);
  const std::array<std::string_view, 3> fields = {
      std::string_view(record.UserName, strnlen(record.UserName, sizeof record.UserName)),
      std::string_view(record.Password, strnlen(record.Password, sizeof record.Password)),
      std::string_view(record.NewPassword, strnlen(record.NewPassword, sizeof record.NewPassword))};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    // Each text is cut to 255 characters and ends within its field.
    if (fields[i].size() >= sizeof record.UserName) __builtin_trap();
    if (fields[i] != std::string_view(texts[i]).substr(0, 255)) __builtin_trap();
  }
  if (record.FullDownload != ((flags & 1) ? 'Y' : 'N')) __builtin_trap();
  if (record.ReportDownload != ((flags & 2) ? 'Y' : 'N')) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: Events(rest); break;
    case 1: HostAndPort(rest); break;
    default: LogonRecord(rest); break;
  }
  return 0;
}
