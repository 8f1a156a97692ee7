#include "links/FrameAssembler.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/util/Text.h"
#include "links/Decompress.h"
#include "links/MessageDump.h"

namespace vorn {
namespace {

constexpr std::size_t kLengthWord = 2;
constexpr std::size_t kInitialFrameBuffer = 8192;

std::size_t BodyLength(const char* word) {
  return (static_cast<std::size_t>(static_cast<unsigned char>(word[0]) & 0x7F) << 8) |
         static_cast<unsigned char>(word[1]);
}

}  // namespace

bool HasCompressionMarker(std::string_view frame) {
  const void* nul = std::memchr(frame.data(), '\0', frame.size());
  if (nul)
    frame = frame.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - frame.data()));
  return frame.find("Enc") != std::string_view::npos;
}

bool IsCompressedFrame(TLinkKind kind, std::string_view frame) {
  const std::string_view body = frame.substr(std::min(kLengthWord, frame.size()));
  if (kind == psPriceFeed) return !body.empty() && body[0] >= 'A' && body[0] <= 'Z';
  // A plain host message starts with its "Msg" item; one that merely contains "Enc" (a name,
  // a user message) must not be taken for compressed.
  return !body.starts_with("Msg=") && HasCompressionMarker(frame);
}

std::string_view MessageCodeText(TLinkKind kind, std::string_view body) {
  if (kind == psPriceFeed) return body.substr(0, 4);
  std::size_t at = body.starts_with("Msg=") ? 0 : body.find("\x01Msg=");
  if (at == std::string_view::npos) return {};
  if (at != 0) ++at;
  std::string_view value = body.substr(at + 4);
  value = value.substr(0, value.find('\x01'));
  return TrimView(value);
}

TFrameAssembler::TFrameAssembler(TLinkKind kind) : kind_(kind), frame_(kInitialFrameBuffer) {}

void TFrameAssembler::CopyToMainBuffer(std::string_view bytes, std::int32_t socketGeneration,
                                       IBodySink& sink) {
  if (MessageLogOn(kind_)) {
    WriteTraceLine("RcvInfo:, " + std::to_string(bytes.size()) + " bytes, " +
                   std::to_string(index_) + " indx, " + std::to_string(socketGeneration) +
                   " resets, " + std::to_string(static_cast<unsigned char>(frame_[0])) + " " +
                   std::to_string(static_cast<unsigned char>(frame_[1])) + " 1st two.");
  }
  if (socketGeneration != generation_) {
    if (index_ != 0 && DebugFlagOn(kDebugging)) WriteTraceLine("RcvIndx:  indx reset inside loop");
    index_ = 0;
    generation_ = socketGeneration;
  }
  std::size_t p = 0;
  while (p < bytes.size()) {
    if (index_ < kLengthWord) {
      frame_[index_++] = bytes[p++];
      if (index_ < kLengthWord) continue;
      const std::size_t length = BodyLength(frame_.data());
      if (length == 0) {
        index_ = 0;  // an empty frame
        continue;
      }
      if (frame_.size() < kLengthWord + length) frame_.resize(kLengthWord + kMaxFrameBody);
      continue;
    }
    const std::size_t length = BodyLength(frame_.data());
    const std::size_t take = std::min(kLengthWord + length - index_, bytes.size() - p);
    std::memcpy(frame_.data() + index_, bytes.data() + p, take);
    index_ += take;
    p += take;
    if (index_ == kLengthWord + length) {
      index_ = 0;
      HandleFrame(length, sink);
    }
  }
}

void TFrameAssembler::HandleFrame(std::size_t bodyLength, IBodySink& sink) {
  const std::string_view frame(frame_.data(), kLengthWord + bodyLength);
  const std::string_view received = frame.substr(kLengthWord);
  std::string_view body = received;
  const bool compressed = IsCompressedFrame(kind_, frame);
  try {
    if (compressed) {
      Decompress(received, decompressed_);
      body = decompressed_;
    }
    sink.ReceiveBody(body, compressed);
  } catch (const std::exception& e) {
    ReportFailure(body, e.what());
  } catch (...) {
    ReportFailure(body, "unknown exception");
  }
}

void TFrameAssembler::ReportFailure(std::string_view body, const char* message) {
  AddTraceEntry(tlNote, "CopyToMainBuffer", std::string("Exception: ") + message);
  std::string text = "Error: Cannot process message #";
  text.append(MessageCodeText(kind_, body));
  text += "\r\nBuffer: ";
  text.append(body);
  MsgErrorLog(text);
}

}  // namespace vorn
