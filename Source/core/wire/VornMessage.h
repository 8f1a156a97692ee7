#pragma once
// Message bases, send buffers and the frame every body travels in: a 2-byte big-endian length
// word, then the body. Receivers ignore the length word's top bit, so a body is at most 32,767
// bytes; a longer one is refused when its frame is written.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/wire/FieldsList.h"

namespace vorn {

inline constexpr std::size_t kMaxBodyLength = 32767;

inline constexpr const char* kRedefineVirtualMessage =
    "This virtual function should be redefined in derived classes";

// A byte block with a write and a read counter.
class TBuffer {
 public:
  static constexpr std::int32_t kInitialSize = 1514;

  TBuffer();
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;
  virtual ~TBuffer() = default;

  // Appends min(count, Size - WriteCount) bytes; returns how many (0 when full).
  virtual std::int32_t Write(const void* bytes, std::int32_t count);
  // The unconsumed bytes and their count; null and 0 when nothing is pending.
  const char* Peek(std::int32_t& count) const;
  // Consumes min(count, pending) bytes and returns how many; both counters return to 0 once
  // everything written has been consumed.
  std::int32_t Remove(std::int32_t count);

  const char* Data() const { return data_.data(); }
  std::int32_t Size() const { return static_cast<std::int32_t>(data_.size()); }
  std::int32_t WriteCount() const { return writeCount_; }
  std::int32_t ReadCount() const { return readCount_; }

 protected:
  std::vector<char> data_;
  std::int32_t writeCount_ = 0;
  std::int32_t readCount_ = 0;
};

// A TBuffer that grows instead of refusing: Write always appends everything.
class TDynamicBuffer : public TBuffer {
 public:
  std::int32_t Write(const void* bytes, std::int32_t count) override;
  std::int32_t DataLength() const { return writeCount_ - readCount_; }
};

class TVornMessage;

// What the message layer needs from the API object. The API object registers itself once it
// is created and unregisters before it is destroyed, after its links have stopped.
class IMessageHost {
 public:
  virtual ~IMessageHost() = default;
  // Hands the message to the price-feed link (priceFeed) or the host link, whose Send writes
  // it; does nothing when that link does not exist.
  virtual void SendOnLink(TVornMessage& message, bool priceFeed) = 0;
  // True while the initial download is in progress.
  virtual bool DownloadInProgress() const = 0;
};

// null detaches. Without a host, Send does nothing.
void SetMessageHost(IMessageHost* host);
IMessageHost* GetMessageHost();

class TVornMessage {
 public:
  explicit TVornMessage(std::string_view code = {}) { SetCode(code); }
  TVornMessage(const TVornMessage&) = delete;
  TVornMessage& operator=(const TVornMessage&) = delete;
  virtual ~TVornMessage() = default;

  // Reads the message from a received fixed-width body; the base fails with EAssertionFailed.
  virtual void Receive(std::string_view body);
  // Sends the message on the link its code selects (IsPriceFeedMessage).
  virtual void Send();
  // Appends the frame's length word (high byte first); descendants append their body after
  // it. Throws ERangeError when Length exceeds kMaxBodyLength, writing nothing.
  virtual void FillBuffer(TDynamicBuffer& buffer);
  // The whole frame when the message has written it ahead, so the sender need not copy it
  // through FillBuffer; empty otherwise. Throws as FillBuffer does.
  virtual std::string_view WrittenFrame() { return {}; }
  // True for the price-feed requests: 201-204, 206, 207, 210 and 211.
  virtual bool IsPriceFeedMessage() const;
  // True for a logon request: the link holds it until it is connected.
  virtual bool HeldUntilConnected() const { return false; }

  std::uint16_t Length() const { return length_; }
  void SetLength(std::uint16_t length) { length_ = length; }
  const std::string& Code() const { return code_; }
  // Keeps at most 5 characters.
  void SetCode(std::string_view code) { code_.assign(code.substr(0, 5)); }

 private:
  std::uint16_t length_ = 0;
  std::string code_;
};

class TReceiveHostMessage : public TVornMessage {
 public:
  using TVornMessage::TVornMessage;
  // Reads the message from the fields of a received tagged body; the base fails with
  // EAssertionFailed. A receiver may move the list's contents out to keep them.
  virtual void ReceiveFields(TFieldsList& fields);
};

// A tagged host request: "Msg" and the header fields first, then the body fields.
class TSendHostMessage : public TVornMessage {
 public:
  using TVornMessage::TVornMessage;
  // Writes the whole frame. Throws ERangeError, writing nothing, when the body would exceed
  // kMaxBodyLength.
  void FillBuffer(TDynamicBuffer& buffer) override;

  TFieldsSendList HeaderFields;
  TFieldsSendList BodyFields;
};

}  // namespace vorn
