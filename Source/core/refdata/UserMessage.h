#pragma once
// User messages: host messages, broadcasts and the library's own confirmations.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

enum TAlert : std::uint8_t { alNormal = 0, alAlert = 1, alIllegal = 2, alSuppress = 3 };
enum TAlertStatus : std::uint8_t { altPending = 0, altCleared = 1 };

// The key is the Sequence padded to ten characters; the sequence is set before the message is
// listed and never changed while it is listed. The key text is kept with the item.
class TUserMessage : public TStreamable {
 public:
  TUserMessage();

  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  const std::string& Sequence() const { return sequence_; }
  void SetSequence(std::string sequence);
  const std::string& Key() const { return key_; }

  std::string Content;
  TAlert IsAlert = alNormal;
  TAlertStatus Status = altPending;

 private:
  std::string sequence_;
  std::string key_;
};

// "User Messages": sorted by the padded sequence.
class TUserMessageQ : public TIndexListOf<TUserMessage> {
 public:
  TUserMessageQ();

  // The last ten characters of "0000000000" + Trim(sequence): "7" and "0000000007" are one key,
  // a local sequence "-1" is "00000000-1".
  static std::string MakeKey(std::string_view sequence);
  // By the padded key, or null.
  std::shared_ptr<TUserMessage> FindMessage(std::string_view sequence) const;

 protected:
  void KeyOf(const TUserMessage& item, std::string& key) const override { key = item.Key(); }
};

}  // namespace vorn
