#include "support/CompressEncoder.h"

#include <cstdint>
#include <stdexcept>
#include <unordered_map>

#include "links/Decompress.h"

namespace vorn {
namespace {

constexpr std::size_t kMaxReference = 16;
constexpr std::size_t kMaxOffset = 4095;
constexpr std::size_t kMinCopy = 3;

class TItemWriter {
 public:
  explicit TItemWriter(std::string& out) : out_(out) {}

  void Literal(std::uint8_t byte) {
    NextFlag(false);
    out_.push_back(static_cast<char>(byte));
  }
  void Reference(std::size_t offset, std::size_t length) {
    NextFlag(true);
    out_.push_back(static_cast<char>(((offset >> 4) & 0xF0) | (length - 1)));
    out_.push_back(static_cast<char>(offset & 0xFF));
  }

 private:
  void NextFlag(bool reference) {
    if (used_ == 16) {
      flagAt_ = out_.size();
      out_.append(2, '\0');
      used_ = 0;
    }
    if (reference) {
      const auto bit = static_cast<unsigned>(1u << used_);
      out_[flagAt_] = static_cast<char>(static_cast<std::uint8_t>(out_[flagAt_]) | (bit & 0xFF));
      out_[flagAt_ + 1] =
          static_cast<char>(static_cast<std::uint8_t>(out_[flagAt_ + 1]) | (bit >> 8));
    }
    ++used_;
  }

  std::string& out_;
  std::size_t flagAt_ = 0;
  unsigned used_ = 16;
};

std::size_t RunLength(std::string_view text, std::size_t at, char c) {
  std::size_t n = 0;
  while (at + n < text.size() && n < kMaxReference && text[at + n] == c)
    ++n;
  return n;
}

std::uint32_t Key(std::string_view text, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[at])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[at + 1])) << 8 |
         static_cast<std::uint8_t>(text[at + 2]);
}

}  // namespace

std::string CompressBody(std::string_view plain, char letter, TCompressOptions options) {
  if (plain.size() < 4 || plain[0] != ' ' || letter == ' ')
    throw std::invalid_argument("CompressBody: needs ' ' + a 3-byte header and a letter");
  const TSubstTable& table = LetterTable(letter);
  std::string out;
  out.push_back(letter);
  out.append(plain.substr(1, 3));
  TItemWriter items(out);
  std::unordered_map<std::uint32_t, std::size_t> lastSeen;
  const auto Remember = [&](std::size_t position) {
    if (position <= kMaxOffset && position != 1 && position != 2 &&
        position + kMinCopy <= plain.size())
      lastSeen[Key(plain, position)] = position;
  };
  for (std::size_t i = 0; i < 4; ++i)
    Remember(i);
  std::size_t at = 4;
  while (at < plain.size()) {
    if (options.Runs && (plain[at] == ' ' || plain[at] == '=')) {
      const std::size_t run = RunLength(plain, at, plain[at]);
      if (run >= 2) {
        items.Reference(plain[at] == ' ' ? 1 : 2, run);
        for (std::size_t i = 0; i < run; ++i)
          Remember(at + i);
        at += run;
        continue;
      }
    }
    if (options.Copies && at + kMinCopy <= plain.size()) {
      // The last earlier position (within reach of a 12-bit offset) that starts with the same
      // three bytes, extended as far as the bytes already produced allow.
      const auto found = lastSeen.find(Key(plain, at));
      if (found != lastSeen.end()) {
        const std::size_t offset = found->second;
        std::size_t length = 0;
        while (length < kMaxReference && offset + length < at && at + length < plain.size() &&
               plain[offset + length] == plain[at + length])
          ++length;
        if (length >= kMinCopy) {
          items.Reference(offset, length);
          for (std::size_t i = 0; i < length; ++i)
            Remember(at + i);
          at += length;
          continue;
        }
      }
    }
    Remember(at);
    items.Literal(table[static_cast<std::uint8_t>(plain[at])]);
    ++at;
  }
  return out;
}

std::string MakeFrame(std::string_view body) {
  std::string frame;
  frame.push_back(static_cast<char>((body.size() >> 8) & 0xFF));
  frame.push_back(static_cast<char>(body.size() & 0xFF));
  frame.append(body);
  return frame;
}

}  // namespace vorn
