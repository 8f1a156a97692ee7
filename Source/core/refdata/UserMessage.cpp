#include "core/refdata/UserMessage.h"

#include "core/util/Text.h"

namespace vorn {

namespace {

constexpr std::size_t kKeyWidth = 10;

}  // namespace

TUserMessage::TUserMessage() : key_(TUserMessageQ::MakeKey({})) {}

const TStreamClass& TUserMessage::Class() {
  static const TStreamClass& description = MakeStreamClass<TUserMessage>(
      "TUserMessage", &TStreamable::Class(),
      TPropertyTable<TUserMessage>()
          .String("Sequence", &TUserMessage::Sequence, &TUserMessage::SetSequence)
          .String("Content", &TUserMessage::Content)
          .Enumeration("IsAlert", alSuppress, &TUserMessage::IsAlert)
          .Enumeration("Status", altCleared, &TUserMessage::Status));
  return description;
}

void TUserMessage::SetSequence(std::string sequence) {
  if (sequence == sequence_) return;
  sequence_ = std::move(sequence);
  key_ = TUserMessageQ::MakeKey(sequence_);
}

TUserMessageQ::TUserMessageQ()
    : TIndexListOf<TUserMessage>("User Messages", &TUserMessage::Class()) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::string TUserMessageQ::MakeKey(std::string_view sequence) {
  const std::string_view text = TrimView(sequence);
  if (text.size() >= kKeyWidth) return std::string(text.substr(text.size() - kKeyWidth));
  std::string key(kKeyWidth - text.size(), '0');
  key += text;
  return key;
}

std::shared_ptr<TUserMessage> TUserMessageQ::FindMessage(std::string_view sequence) const {
  return Get(MakeKey(sequence));
}

}  // namespace vorn
