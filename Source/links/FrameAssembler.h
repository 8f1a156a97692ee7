#pragma once
// Cuts a link's received byte stream into frames and hands each complete body on.
//
// A frame is a 2-byte big-endian length (top bit ignored) and that many body bytes; a length
// of 0 is an empty frame and is dropped. A partial frame is kept from one chunk to the next and
// dropped when the chunk comes from a new socket. Compressed bodies are decompressed before
// they are handed on: on the host link a body whose frame holds "Enc" (read from the first
// length byte up to the first NUL) unless it starts with "Msg=", on the price-feed link a body
// whose first byte is 'A' to 'Z'. One assembler per link, used by that link's socket thread
// only.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/session/Link.h"

namespace vorn {

inline constexpr std::size_t kMaxFrameBody = 0x7FFF;

// Receives each complete body: a view valid during the call only.
class IBodySink {
 public:
  virtual void ReceiveBody(std::string_view body, bool decompressed) = 0;

 protected:
  ~IBodySink() = default;
};

// The compression test of a complete frame (length word as received, then the body).
bool IsCompressedFrame(TLinkKind kind, std::string_view frame);
// "Enc" in the frame read from its first length byte up to its first NUL.
bool HasCompressionMarker(std::string_view frame);

// The code text of a body for error reports: the first four characters of a price-feed body,
// the trimmed value of the first "Msg" item of a host body.
std::string_view MessageCodeText(TLinkKind kind, std::string_view body);

class TFrameAssembler {
 public:
  explicit TFrameAssembler(TLinkKind kind);
  TFrameAssembler(const TFrameAssembler&) = delete;
  TFrameAssembler& operator=(const TFrameAssembler&) = delete;

  // Takes one chunk read from the socket of the given generation (the link's count of sockets
  // made). A partial frame left by a chunk of another generation is dropped first. A body that
  // fails to decompress, or whose sink throws, is written to the message error log and
  // dropped; the walk goes on with the next frame.
  void CopyToMainBuffer(std::string_view bytes, std::int32_t socketGeneration, IBodySink& sink);

  template <class F>
  requires(!std::is_base_of_v<IBodySink, std::remove_cvref_t<F>>) void CopyToMainBuffer(
      std::string_view bytes, std::int32_t socketGeneration, F&& onBody) {
    TCallableSink<std::remove_reference_t<F>> sink(onBody);
    CopyToMainBuffer(bytes, socketGeneration, static_cast<IBodySink&>(sink));
  }

  // Drops a partial frame (the link's connect step).
  void Reset() { index_ = 0; }

  TLinkKind Kind() const { return kind_; }
  // Bytes of the current partial frame, length word included; 0 between frames.
  std::size_t FrameIndex() const { return index_; }

 private:
  template <class F>
  class TCallableSink final : public IBodySink {
   public:
    explicit TCallableSink(F& f) : f_(f) {}
    void ReceiveBody(std::string_view body, bool decompressed) override { f_(body, decompressed); }

   private:
    F& f_;
  };

  void HandleFrame(std::size_t bodyLength, IBodySink& sink);
  void ReportFailure(std::string_view body, const char* message);

  TLinkKind kind_;
  std::vector<char> frame_;  // length word as received, then the body
  std::size_t index_ = 0;
  std::int32_t generation_ = 0;
  std::string decompressed_;
};

}  // namespace vorn
