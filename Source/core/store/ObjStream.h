#pragma once
// The store encoding: a byte stream with the compact integers, 10-byte extended floats, texts and
// Booleans that items and store files are made of, the store file header, and the property
// stream of an item.
//
// A store file is the header text (no length, no terminator), the version word once, then for
// each list a compact count and its items. Everything is little-endian.
//
// Reading trusts nothing: every length and count is checked against the bytes left, and the
// first failed read raises EReadError and marks the stream damaged, after which every read
// fails, so a reader never goes on from the middle of a damaged item.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/store/Streamable.h"

namespace vorn {

// The store's version word; a reader requires (value XOR kStoreVersionMask) = kStoreVersion.
inline constexpr std::int32_t kStoreVersionWord = 0x5A5A5A5D;
inline constexpr std::int32_t kStoreVersionMask = 0x5A5A5A5A;
inline constexpr std::int32_t kStoreVersion = 7;

// The 80-bit x87 extended form of a double, little-endian (8 bytes of significand with its
// explicit integer bit, then sign and 15-bit exponent); exact, whatever the platform.
using TExtended = std::array<std::uint8_t, 10>;
TExtended DoubleToExtended(double value);
// Rounds to the nearest double (ties to even). False for infinities, NaNs, values beyond a
// double's range and encodings the x87 itself refuses (a clear integer bit with a non-zero
// exponent).
bool ExtendedToDouble(const TExtended& bytes, double& value);

class TStream {
 public:
  // An empty stream to write to.
  TStream() = default;
  // A stream over the given bytes, positioned at the start.
  explicit TStream(std::string bytes) : bytes_(std::move(bytes)) {}

  // Replaces the content with the whole file and rewinds; false when it cannot be read.
  bool LoadFromFile(const std::string& path);
  // Writes the content under a temporary name, flushes it and renames it over the file; false
  // (and the old file left as it was) on any failure.
  bool SaveToFile(const std::string& path) const;

  const std::string& Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Position() const { return position_; }
  // Clamped to the size.
  void SetPosition(std::size_t position);
  std::size_t Left() const { return bytes_.size() - position_; }
  // Cuts the content at size (the position moves back with it).
  void Truncate(std::size_t size);

  // Raw bytes. Writing overwrites from the position and extends the content as needed.
  void ReadBuffer(void* data, std::size_t count);
  void WriteBuffer(const void* data, std::size_t count);

  // Compact signed 32-bit integer: 6 bits and a sign flag in the first byte, then groups of 7
  // bits, each byte flagging with 0x80 that another follows; at most 5 bytes.
  std::int32_t ReadCompact();
  void WriteCompact(std::int32_t value);
  // A compact count of items that each take at least minItemSize bytes (0 counts as 1):
  // negative, or more than the bytes left can hold, is damage.
  std::int32_t ReadCount(std::size_t minItemSize);
  // The 10-byte extended form; a NaN or infinity is written as 0 and refused when read.
  double ReadFloat();
  void WriteFloat(double value);
  // Compact length, then the bytes.
  std::string ReadString();
  void WriteString(std::string_view text);
  // Compact integer 0 or 1.
  bool ReadBoolean();
  void WriteBoolean(bool value);
  char ReadChar();
  void WriteChar(char value);
  std::int64_t ReadInt64();
  void WriteInt64(std::int64_t value);

  bool Damaged() const { return damaged_; }
  // Raises EReadError with the message after marking the stream damaged.
  [[noreturn]] void Fail(const std::string& message);
  void MarkDamaged() { damaged_ = true; }

  // A flag that, once set, asks the loaders reading this stream to stop after the current item.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
  bool StopRequested() const { return stop_ && stop_->load(std::memory_order_acquire); }

 private:
  const char* Take(std::size_t count);

  std::string bytes_;
  std::size_t position_ = 0;
  bool damaged_ = false;
  const std::atomic<bool>* stop_ = nullptr;
};

// "Global Trading Compatible Dat File VER:" + product version + " BUILD:" + private build.
const std::string& StoreHeaderText();
// The header text alone; the first list saved after it writes the version word.
void WriteStoreHeader(TStream& stream);
// Reads as many bytes as the header text has (no more than there are) and compares them.
bool ReadStoreHeader(TStream& stream);
// Loads a store file and reads its header: false when the file is missing, cannot be read
// (traced) or was written by another build (traced and deleted).
bool OpenStoreFile(const std::string& path, TStream& stream);
// Says in the trace and in the error log that the store file was damaged at the given point
// and that what was read before the damage is kept.
void ReportDamagedStore(const std::string& path, std::string_view reason);

// The property part of an item's encoding by the given class's property set (the item must be
// of that class or a descendant), or by the item's own class.
void WriteProperties(TStream& stream, const TStreamable& item, const TStreamClass& itemClass);
void ReadProperties(TStream& stream, TStreamable& item, const TStreamClass& itemClass);
void WriteProperties(TStream& stream, const TStreamable& item);
void ReadProperties(TStream& stream, TStreamable& item);

}  // namespace vorn
