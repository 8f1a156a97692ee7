#include "core/wire/VornMessage.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

std::atomic<IMessageHost*> messageHost{nullptr};

}  // namespace

void SetMessageHost(IMessageHost* host) {
  messageHost.store(host, std::memory_order_release);
}

IMessageHost* GetMessageHost() {
  return messageHost.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------------------------
// Buffers

TBuffer::TBuffer() : data_(static_cast<std::size_t>(kInitialSize)) {}

std::int32_t TBuffer::Write(const void* bytes, std::int32_t count) {
  if (!bytes || count <= 0) return 0;
  const std::int32_t taken = std::min(count, Size() - writeCount_);
  if (taken <= 0) return 0;
  std::memcpy(data_.data() + writeCount_, bytes, static_cast<std::size_t>(taken));
  writeCount_ += taken;
  return taken;
}

const char* TBuffer::Peek(std::int32_t& count) const {
  count = writeCount_ - readCount_;
  if (count <= 0) {
    count = 0;
    return nullptr;
  }
  return data_.data() + readCount_;
}

std::int32_t TBuffer::Remove(std::int32_t count) {
  if (count <= 0) return 0;
  const std::int32_t taken = std::min(count, writeCount_ - readCount_);
  readCount_ += taken;
  if (readCount_ == writeCount_) {
    readCount_ = 0;
    writeCount_ = 0;
  }
  return taken;
}

std::int32_t TDynamicBuffer::Write(const void* bytes, std::int32_t count) {
  if (!bytes || count <= 0) return 0;
  const std::int32_t free = Size() - writeCount_;
  if (free < count) {
    // Grow at least geometrically: many small writes stay linear.
    const std::size_t needed =
        static_cast<std::size_t>(writeCount_) + static_cast<std::size_t>(count);
    data_.resize(std::max(needed, data_.size() * 2));
  }
  return TBuffer::Write(bytes, count);
}

// ---------------------------------------------------------------------------------------------
// Messages

void TVornMessage::Receive(std::string_view /*body*/) {
  throw EAssertionFailed(kRedefineVirtualMessage);
}

void TVornMessage::Send() {
  if (IMessageHost* host = GetMessageHost()) host->SendOnLink(*this, IsPriceFeedMessage());
}

void TVornMessage::FillBuffer(TDynamicBuffer& buffer) {
  if (length_ > kMaxBodyLength) {
    throw ERangeError("Message body of " + IntToStr(length_) + " bytes exceeds " +
                      IntToStr(kMaxBodyLength));
  }
  const char word[2] = {static_cast<char>(length_ >> 8), static_cast<char>(length_ & 0xFF)};
  buffer.Write(word, 2);
}

bool TVornMessage::IsPriceFeedMessage() const {
  std::int32_t code = 0;
  if (!TryStrToInt(TrimView(code_), code)) code = 0;
  switch (code) {
    case 201:
    case 202:
    case 203:
    case 204:
    case 206:
    case 207:
    case 210:
    case 211:
      return true;
    default:
      return false;
  }
}

void TReceiveHostMessage::ReceiveFields(TFieldsList& /*fields*/) {
  throw EAssertionFailed(kRedefineVirtualMessage);
}

void TSendHostMessage::FillBuffer(TDynamicBuffer& buffer) {
  std::string text;
  HeaderFields.AppendRequestText(text);
  BodyFields.AppendRequestText(text);
  if (text.size() > kMaxBodyLength) {
    throw ERangeError("Host request body of " + IntToStr(static_cast<std::int64_t>(text.size())) +
                      " bytes exceeds " + IntToStr(kMaxBodyLength));
  }
  SetLength(static_cast<std::uint16_t>(text.size()));
  TVornMessage::FillBuffer(buffer);
  buffer.Write(text.data(), static_cast<std::int32_t>(text.size()));
}

}  // namespace vorn
