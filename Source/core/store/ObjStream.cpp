#include "core/store/ObjStream.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/store/IndexList.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Version.h"
#include "platform/Files.h"
#include "platform/ProcessWide.h"

namespace vorn {

// ---------------------------------------------------------------------------------------------
// Extended floats

namespace {

constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;
constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;

}  // namespace

TExtended DoubleToExtended(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t significand = 0;
  int biased = 0;
  if (exponent == 0x7FF) {
    biased = 0x7FFF;
    significand = kIntegerBit | (fraction << 11);  // infinity, or a NaN keeping its payload
    if (fraction != 0) significand |= std::uint64_t{1} << 62;
  } else if (exponent != 0) {
    biased = exponent - kDoubleBias + kExtendedBias;
    significand = kIntegerBit | (fraction << 11);
  } else if (fraction != 0) {
    // A subnormal double is a normal extended.
    const int shift = std::countl_zero(fraction);
    significand = fraction << shift;
    biased = (1 - kDoubleBias - 52) + (63 - shift) + kExtendedBias;
  }
  TExtended out{};
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<std::uint8_t>(significand >> (8 * i));
  const unsigned top = static_cast<unsigned>(biased) | (negative ? 0x8000u : 0u);
  out[8] = static_cast<std::uint8_t>(top);
  out[9] = static_cast<std::uint8_t>(top >> 8);
  return out;
}

bool ExtendedToDouble(const TExtended& in, double& value) {
  std::uint64_t significand = 0;
  for (int i = 0; i < 8; ++i)
    significand |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  const unsigned top = in[8] | (static_cast<unsigned>(in[9]) << 8);
  const std::uint64_t sign = static_cast<std::uint64_t>(top >> 15) << 63;
  const int biased = static_cast<int>(top & 0x7FFF);
  if (biased == 0x7FFF) return false;                                 // infinity or NaN
  if (biased != 0 && (significand & kIntegerBit) == 0) return false;  // unnormal
  if (significand == 0) {
    value = std::bit_cast<double>(sign);
    return true;
  }
  // value = significand * 2^(exponent - 63); denormals (and pseudo-denormals) use exponent
  // 1 - bias. Normalise so that bit 63 is set.
  int exponent = (biased == 0 ? 1 : biased) - kExtendedBias;
  const int leading = std::countl_zero(significand);
  significand <<= leading;
  exponent -= leading;
  if (exponent > kDoubleBias) return false;
  // Bits to drop: 11 for a normal double; more for a subnormal one.
  const int drop = exponent >= 1 - kDoubleBias ? 11 : 11 + (1 - kDoubleBias - exponent);
  std::uint64_t kept = 0;
  bool half = false;
  bool sticky = false;
  if (drop < 64) {
    kept = significand >> drop;
    half = ((significand >> (drop - 1)) & 1) != 0;
    sticky = (significand & ((std::uint64_t{1} << (drop - 1)) - 1)) != 0;
  } else if (drop == 64) {
    half = (significand & kIntegerBit) != 0;
    sticky = (significand & ~kIntegerBit) != 0;
  } else {
    // Below half the smallest subnormal: rounds to zero.
    value = std::bit_cast<double>(sign);
    return true;
  }
  if (half && (sticky || (kept & 1) != 0)) ++kept;
  std::uint64_t bits = 0;
  if (exponent >= 1 - kDoubleBias) {
    if (kept == (std::uint64_t{1} << 53)) {
      kept >>= 1;
      ++exponent;
      if (exponent > kDoubleBias) return false;
    }
    bits = (static_cast<std::uint64_t>(exponent + kDoubleBias) << 52) |
           (kept & ((std::uint64_t{1} << 52) - 1));
  } else {
    bits = kept;  // a carry into bit 52 makes it the smallest normal, as it should
  }
  value = std::bit_cast<double>(sign | bits);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TStream

namespace {

// One store write at a time: writers of the same file share its temporary name.
TProcessWide<std::mutex> storeWriteLock;

}  // namespace

bool TStream::LoadFromFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::string content;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    content.append(buffer, got);
    if (got < sizeof buffer) {
      ok = std::ferror(file) == 0;
      break;
    }
  }
  std::fclose(file);
  if (!ok) return false;
  bytes_ = std::move(content);
  position_ = 0;
  damaged_ = false;
  return true;
}

bool TStream::SaveToFile(const std::string& path) const {
  std::lock_guard guard(storeWriteLock.Get());
  return WriteFileSafely(path, bytes_.data(), bytes_.size());
}

void TStream::SetPosition(std::size_t position) {
  position_ = std::min(position, bytes_.size());
}

void TStream::Truncate(std::size_t size) {
  if (size < bytes_.size()) bytes_.resize(size);
  position_ = std::min(position_, bytes_.size());
}

void TStream::Fail(const std::string& message) {
  damaged_ = true;
  throw EReadError(message);
}

const char* TStream::Take(std::size_t count) {
  if (damaged_) throw EReadError("Stream damaged");
  if (count > Left()) Fail("Unexpected end of stream");
  const char* at = bytes_.data() + position_;
  position_ += count;
  return at;
}

void TStream::ReadBuffer(void* data, std::size_t count) {
  const char* at = Take(count);
  if (count) std::memcpy(data, at, count);
}

void TStream::WriteBuffer(const void* data, std::size_t count) {
  if (count == 0) return;
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  std::memcpy(bytes_.data() + position_, data, count);
  position_ += count;
}

std::int32_t TStream::ReadCompact() {
  auto byte = static_cast<std::uint8_t>(*Take(1));
  const bool negative = (byte & 0x40) != 0;
  std::uint32_t value = byte & 0x3F;
  int shift = 6;
  while (byte & 0x80) {
    byte = static_cast<std::uint8_t>(*Take(1));
    // The fifth byte holds the top four bits and ends the number.
    if (shift == 27 && byte > 0x0F) Fail("Invalid compact integer");
    value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
    shift += 7;
  }
  if (negative) value = ~value;
  return static_cast<std::int32_t>(value);
}

void TStream::WriteCompact(std::int32_t value) {
  std::uint8_t out[5];
  std::size_t n = 0;
  auto rest = static_cast<std::uint32_t>(value);
  std::uint8_t first = 0;
  if (value < 0) {
    first = 0x40;
    rest = ~rest;
  }
  first |= static_cast<std::uint8_t>(rest & 0x3F);
  rest >>= 6;
  if (rest) first |= 0x80;
  out[n++] = first;
  while (rest) {
    auto byte = static_cast<std::uint8_t>(rest & 0x7F);
    rest >>= 7;
    if (rest) byte |= 0x80;
    out[n++] = byte;
  }
  WriteBuffer(out, n);
}

std::int32_t TStream::ReadCount(std::size_t minItemSize) {
  const std::int32_t count = ReadCompact();
  if (count < 0) Fail("Negative count " + IntToStr(count));
  const std::uint64_t needed =
      static_cast<std::uint64_t>(count) * std::max<std::size_t>(minItemSize, 1);
  if (needed > Left())
    Fail("Count " + IntToStr(count) + " exceeds the " + IntToStr(Left()) + " bytes left");
  return count;
}

double TStream::ReadFloat() {
  TExtended raw;
  ReadBuffer(raw.data(), raw.size());
  double value = 0;
  if (!ExtendedToDouble(raw, value)) Fail("Invalid float");
  return value;
}

void TStream::WriteFloat(double value) {
  const TExtended raw = DoubleToExtended(std::isfinite(value) ? value : 0.0);
  WriteBuffer(raw.data(), raw.size());
}

std::string TStream::ReadString() {
  const std::int32_t length = ReadCompact();
  if (length < 0) Fail("Negative string length " + IntToStr(length));
  if (static_cast<std::size_t>(length) > Left())
    Fail("String length " + IntToStr(length) + " exceeds the " + IntToStr(Left()) + " bytes left");
  const char* at = Take(static_cast<std::size_t>(length));
  return std::string(at, static_cast<std::size_t>(length));
}

void TStream::WriteString(std::string_view text) {
  // A store text never reaches 2 GB; a longer one is a fault of its maker.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw EWriteError("Text too long");
  WriteCompact(static_cast<std::int32_t>(text.size()));
  WriteBuffer(text.data(), text.size());
}

bool TStream::ReadBoolean() {
  const std::int32_t value = ReadCompact();
  if (value != 0 && value != 1) Fail("Invalid Boolean " + IntToStr(value));
  return value == 1;
}

void TStream::WriteBoolean(bool value) {
  WriteCompact(value ? 1 : 0);
}

char TStream::ReadChar() {
  return *Take(1);
}

void TStream::WriteChar(char value) {
  WriteBuffer(&value, 1);
}

std::int64_t TStream::ReadInt64() {
  const auto* at = reinterpret_cast<const std::uint8_t*>(Take(8));
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i)
    value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return static_cast<std::int64_t>(value);
}

void TStream::WriteInt64(std::int64_t value) {
  std::uint8_t out[8];
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  WriteBuffer(out, sizeof out);
}

// ---------------------------------------------------------------------------------------------
// Store header and property stream

const std::string& StoreHeaderText() {
  static const std::string text = std::string("Global Trading Compatible Dat File VER:") +
                                  kProductVersion + " BUILD:" + kPrivateBuild;
  return text;
}

void WriteStoreHeader(TStream& stream) {
  const std::string& header = StoreHeaderText();
  stream.WriteBuffer(header.data(), header.size());
}

bool ReadStoreHeader(TStream& stream) {
  const std::string& header = StoreHeaderText();
  if (stream.Damaged() || stream.Left() < header.size()) return false;
  std::string read(header.size(), '\0');
  stream.ReadBuffer(read.data(), read.size());
  return read == header;
}

bool OpenStoreFile(const std::string& path, TStream& stream) {
  if (!FileExists(path)) return false;
  if (!stream.LoadFromFile(path)) {
    WriteTraceLine("Cannot read " + path);
    return false;
  }
  if (!ReadStoreHeader(stream)) {
    WriteTraceLine(path + " was written by another build: deleted");
    DeleteFile(path);
    return false;
  }
  return true;
}

void ReportDamagedStore(const std::string& path, std::string_view reason) {
  std::string line = path + " is damaged";
  if (!reason.empty()) {
    line += " (";
    line += reason;
    line += ')';
  }
  line += ": what precedes the damage is kept";
  WriteTraceLine(line);
  WriteErrorLogLine(line);
}

void WriteProperties(TStream& stream, const TStreamable& item, const TStreamClass& itemClass) {
  if (!itemClass.IsInstance(item))
    throw EWriteError(std::string(item.ClassName()) + " is not a " + itemClass.Name());
  for (const TPropInfo& property : itemClass.Properties()) {
    const TPropValue value = property.Get(item);
    switch (property.Kind) {
      case TPropKind::Integer:
      case TPropKind::Enumeration:
      case TPropKind::Set:
        stream.WriteCompact(std::get<std::int32_t>(value));
        break;
      case TPropKind::Char:
        stream.WriteChar(std::get<char>(value));
        break;
      case TPropKind::Float:
        stream.WriteFloat(std::get<double>(value));
        break;
      case TPropKind::String:
        stream.WriteString(std::get<std::string>(value));
        break;
      case TPropKind::Int64:
        stream.WriteInt64(std::get<std::int64_t>(value));
        break;
    }
  }
}

void ReadProperties(TStream& stream, TStreamable& item, const TStreamClass& itemClass) {
  if (!itemClass.IsInstance(item))
    throw EReadError(std::string(item.ClassName()) + " is not a " + itemClass.Name());
  for (const TPropInfo& property : itemClass.Properties()) {
    TPropValue value;
    switch (property.Kind) {
      case TPropKind::Integer:
      case TPropKind::Set:
        value = stream.ReadCompact();
        break;
      case TPropKind::Enumeration: {
        const std::int32_t ordinal = stream.ReadCompact();
        if (ordinal < 0 || ordinal > property.MaxOrdinal)
          stream.Fail(property.Name + " out of range: " + IntToStr(ordinal));
        value = ordinal;
        break;
      }
      case TPropKind::Char:
        value = stream.ReadChar();
        break;
      case TPropKind::Float:
        value = stream.ReadFloat();
        break;
      case TPropKind::String:
        value = stream.ReadString();
        break;
      case TPropKind::Int64:
        value = stream.ReadInt64();
        break;
    }
    property.Set(item, std::move(value));
  }
}

void WriteProperties(TStream& stream, const TStreamable& item) {
  WriteProperties(stream, item, item.StreamClass());
}

void ReadProperties(TStream& stream, TStreamable& item) {
  ReadProperties(stream, item, item.StreamClass());
}

// ---------------------------------------------------------------------------------------------
// Keyed list streaming

namespace {

std::string MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

void TIndexList::SaveToStream(TStream& stream) {
  const std::string routine = "SaveToStream: " + name_;
  TTraceScope scope(routine);
  // Items go to a stream of their own first, so that one that fails can be left out and the
  // count still matches what follows it.
  TStream items;
  std::int32_t written = 0;
  {
    TIndexListLock guard(*this);
    for (std::size_t i = 0; i < items_.size(); ++i) {
      const TStreamable& item = *items_[i];
      const std::size_t mark = items.Position();
      try {
        if (itemClass_) {
          WriteProperties(items, item, *itemClass_);
          item.WriteExtra(items);
        } else {
          WriteItem(items, item);
        }
        ++written;
      } catch (const std::exception& e) {
        items.Truncate(mark);
        WriteTraceLine(std::string("unable to save ") + item.ClassName() + " in " + name_ + ": " +
                       e.what());
      }
    }
  }
  if (stream.Position() == StoreHeaderText().size()) stream.WriteCompact(kStoreVersionWord);
  stream.WriteCompact(written);
  stream.WriteBuffer(items.Bytes().data(), items.Size());
}

bool TIndexList::LoadFromStream(TStream& stream, bool clearFirst) {
  const std::string routine = "LoadFromStream: " + name_;
  TTraceScope scope(routine);
  std::string className = itemClass_ ? itemClass_->Name() : "item";

  if (!stream.Damaged() && stream.Position() == StoreHeaderText().size()) {
    std::int32_t version = 0;
    try {
      version = stream.ReadCompact();
    } catch (const EReadError&) {
    }
    if ((version ^ kStoreVersionMask) != kStoreVersion) {
      stream.MarkDamaged();
      throw EReadError("Invalid IndexList Stream Version");
    }
  }

  // Items are read without the lock (an item's ReadExtra may look up or wait on other lists)
  // and added under it afterwards, so no other thread sees a half-loaded list.
  bool complete = true;
  std::vector<TItem> read;
  std::int32_t count = 0;
  std::int32_t limit = 0;
  if (stream.Damaged()) {
    complete = false;
    WriteTraceLine("LoadFromStream: " + name_ + " not loaded: the stream is damaged");
  } else {
    try {
      count = stream.ReadCompact();
      if (count < 0) stream.Fail("negative count " + IntToStr(count));
      limit = count;
      // A count that the bytes left cannot hold is damage further on (a cut file, say): the
      // items that are there are still read, up to the first that is not, and no further.
      const std::size_t least =
          std::max<std::size_t>(itemClass_ ? itemClass_->MinStreamSize() : 1, 1);
      if (static_cast<std::uint64_t>(count) * least > stream.Left()) {
        WriteTraceLine("LoadFromStream: " + name_ + " count " + IntToStr(count) + " exceeds the " +
                       IntToStr(stream.Left()) + " bytes left");
        limit = static_cast<std::int32_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(count), stream.Left() / least + 1));
      }
    } catch (const std::exception& e) {
      complete = false;
      WriteTraceLine("LoadFromStream: " + name_ + " not loaded: " + e.what());
    }
  }
  for (std::int32_t i = 0; i < limit; ++i) {
    if (stream.StopRequested()) {
      complete = false;
      break;
    }
    const std::int32_t left = count - i;
    try {
      TItem item;
      if (itemClass_) {
        item = itemClass_->Create();
        className = item->ClassName();
        ReadProperties(stream, *item, *itemClass_);
        item->ReadExtra(stream);
      } else {
        item = ReadItem(stream);
      }
      read.push_back(std::move(item));
    } catch (...) {
      // The position inside the item is unknown: nothing after it can be trusted.
      stream.MarkDamaged();
      complete = false;
      WriteTraceLine("unable to add " + className + " " + IntToStr(left) + ": " +
                     MessageOf(std::current_exception()) + "; the rest of " + name_ +
                     " is not loaded");
      break;
    }
  }

  std::vector<TItem> dropped;
  {
    TIndexListLock guard(*this);
    if (clearFirst) FreeAll();
    {
      // Loading is switched off however the adding ends.
      struct TLoadingScope {
        TIndexList& list;
        explicit TLoadingScope(TIndexList& owner) : list(owner) { list.SetLoading(true); }
        ~TLoadingScope() { list.SetLoading(false); }
      } loading(*this);
      for (std::size_t i = 0; i < read.size(); ++i) {
        try {
          Add(read[i]);
        } catch (...) {
          if (itemClass_)
            WriteTraceLine(std::string("unable to add ") + read[i]->ClassName() + " " +
                           IntToStr(static_cast<std::size_t>(count) - i));
        }
      }
    }
    dropped = SortAfterLoading();
    ItemsChanged();
  }
  return complete;
}

void TIndexList::SaveToFile(const std::string& fileName) {
  TStream stream;
  WriteStoreHeader(stream);
  SaveToStream(stream);
  if (!stream.SaveToFile(fileName)) throw EWriteError("Cannot write " + fileName);
}

}  // namespace vorn
