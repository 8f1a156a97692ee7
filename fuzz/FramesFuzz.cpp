// Frame reassembly and decompression over arbitrary received bytes.
//
// Input: byte 0 picks the link kind (bit 0) and whether the socket changes half-way (bit 1);
// byte 1 the chunk size (1 to 64, or the whole rest for 0); the rest is the stream. The rest is
// also decoded on its own as one body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/diag/ClientPath.h"
#include "links/Decompress.h"
#include "links/FrameAssembler.h"
#include "links/MessageDump.h"

using namespace vorn;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetClientPath("/dev/null/");  // failure reports of corrupt bodies cannot be written anywhere
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const TLinkKind kind = (data[0] & 1) ? psPriceFeed : psHost;
  const bool newSocket = (data[0] & 2) != 0;
  const std::size_t chunk = data[1] % 65 == 0 ? size : data[1] % 65;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

  TFrameAssembler assembler(kind);
  std::string dump;
  std::size_t seen = 0;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    const std::int32_t generation = newSocket && at >= stream.size() / 2 ? 2 : 1;
    assembler.CopyToMainBuffer(
        stream.substr(at, chunk), generation, [&](std::string_view body, bool decompressed) {
          if (body.size() > (decompressed ? kMaxDecompressedLength : kMaxFrameBody))
            __builtin_trap();
          dump.clear();
          AppendDumpText(dump, body);
          seen += body.size();
        });
  }

  std::string out;
  try {
    Decompress(stream, out);
    if (out.size() > kMaxDecompressedLength) __builtin_trap();
  } catch (const std::exception&) {
  }
  volatile std::size_t keep = seen;  // the values are read, not optimised away
  (void)keep;
  return 0;
}
