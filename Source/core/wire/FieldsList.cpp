#include "core/wire/FieldsList.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/diag/Trace.h"
#include "core/util/Conversions.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/VornMessage.h"

namespace vorn {
namespace {

constexpr std::string_view kGroupStart = "<SG";
constexpr std::string_view kGroupEnd = "EG>";
constexpr std::string_view kDumpLabel = "TFieldsList.SetFields: ";
constexpr std::size_t kReserveLimit = 256;
constexpr std::size_t kTypicalItemLength = 8;

// FNV-1a over ASCII lower case.
constexpr std::uint32_t kHashBasis = 2166136261u;

inline std::uint32_t HashStep(std::uint32_t hash, char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (hash ^ ((byte >= 'A' && byte <= 'Z') ? byte + 32u : byte)) * 16777619u;
}

std::uint32_t HashName(std::string_view name) {
  std::uint32_t hash = kHashBasis;
  for (const char c : name)
    hash = HashStep(hash, c);
  return hash;
}

bool HostDownloadInProgress() {
  const IMessageHost* host = GetMessageHost();
  return host && host->DownloadInProgress();
}

// Without a trace file DumpMessage makes only its ring note.
void DumpReceivedBody(std::string_view text) {
  if (DumpLeavesOut(text, HostDownloadInProgress)) return;
  DumpMessage(kDumpLabel, text);
}

// Appends text without any 0x01 byte: application text never starts a new item.
void AppendClean(std::string& out, std::string_view text) {
  while (!text.empty()) {
    const void* found = std::memchr(text.data(), kFieldSeparator, text.size());
    if (!found) {
      out.append(text);
      return;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    out.append(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
}

void AppendItem(std::string& out, std::string_view name, std::string_view value) {
  AppendClean(out, name);
  out += '=';
  AppendClean(out, value);
  out += kFieldSeparator;
}

void AppendGroupMarker(std::string& out, std::string_view marker, int group) {
  out.append(marker);
  out += '=';
  out.append(IntToStr(group));
  out += kFieldSeparator;
}

void CheckRequestLength(std::size_t length) {
  if (length > kMaxBodyLength) {
    throw ERangeError("Host request body exceeds " + IntToStr(kMaxBodyLength) + " bytes");
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TFieldValueObject

std::string_view TFieldValueObject::Value(int index) const {
  if (index < 0 || index >= count_ || index < first_.Index) return {};
  if (index == first_.Index) return first_.Text;
  // Dense values (no gaps) sit at index - 1 in more_.
  const auto dense = static_cast<std::size_t>(index - 1);
  if (dense < more_.size() && more_[dense].Index == index) return more_[dense].Text;
  const auto it = std::lower_bound(more_.begin(), more_.end(), index,
                                   [](const TSlot& slot, int i) { return slot.Index < i; });
  return it != more_.end() && it->Index == index ? it->Text : std::string_view();
}

void TFieldValueObject::Put(int index, std::string_view value) {
  index = std::max(index, count_);
  if (count_ == 0) {
    first_ = TSlot{index, value};
  } else {
    more_.push_back(TSlot{index, value});
  }
  count_ = index + 1;
}

void TFieldValueObject::ReplaceFirst(std::string_view value) {
  if (count_ == 0) {
    Put(0, value);
  } else if (first_.Index == 0) {
    first_.Text = value;
  } else {
    more_.insert(more_.begin(), first_);
    first_ = TSlot{0, value};
  }
}

// ---------------------------------------------------------------------------------------------
// TFieldsList

TFieldsList::TFieldsList(const TFieldsList& other) {
  *this = other;
}

TFieldsList& TFieldsList::operator=(const TFieldsList& other) {
  if (this == &other) return *this;
  Clear();
  // Replays every stored value at its position, so the copy owns its bytes.
  for (const TFieldEntry& entry : other.entries_) {
    const std::string_view name = Own(entry.Name);
    const TFieldValueObject& from = entry.Object;
    if (from.count_ == 0) continue;
    TFieldValueObject& to =
        Insert(name, entry.Hash, from.first_.Index, Own(from.first_.Text)).Object;
    for (const TFieldValueObject::TSlot& slot : from.more_)
      to.Put(slot.Index, Own(slot.Text));
    to.Group = from.Group;
  }
  return *this;
}

void TFieldsList::SetFields(std::string_view text) {
  DumpReceivedBody(text);
  Clear();
  Parse(text);
  text_ = text;
}

void TFieldsList::SetFields(std::string&& text) {
  DumpReceivedBody(text);
  Clear();
  keptText_ = std::make_unique<std::string>(std::move(text));
  Parse(*keptText_);
}

void TFieldsList::Parse(std::string_view text) {
  // Size the entries and the index once for a body's likely item count (bounded, so a hostile
  // body cannot reserve much); past that they grow as usual. A reused list has them already.
  const std::size_t items = std::min(text.size() / kTypicalItemLength + 1, kReserveLimit);
  entries_.reserve(items);
  if (items * 2 > slots_.size()) Rehash(std::bit_ceil(items * 2));

  int occurrence = 0;
  int currentGroup = 0;
  bool inGroup = false;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const void* found = std::memchr(p, kFieldSeparator, left);
    if (!found) break;  // bytes after the last 0x01 are no item
    const auto length = static_cast<std::size_t>(static_cast<const char*>(found) - p);
    const std::string_view item(p, length);
    p += length + 1;
    left -= length + 1;
    // Names are a few bytes: one pass finds the first '=' and hashes the name before it.
    std::uint32_t hash = kHashBasis;
    std::size_t at = 0;
    while (at < length && item[at] != '=')
      hash = HashStep(hash, item[at++]);
    if (at == length) continue;  // an item without '=' is skipped
    const std::string_view name = item.substr(0, at);
    const std::string_view value = item.substr(at + 1);
    if (name == kGroupStart) {
      const int group = SafeStrToInt(value, 0);
      if (group != currentGroup) {
        currentGroup = group;
        occurrence = 1;
      } else {
        ++occurrence;
      }
      inGroup = true;
    } else if (name == kGroupEnd) {
      inGroup = false;
    } else {
      AddView(name, hash, value, inGroup ? occurrence : 0, -1, false);
    }
  }
}

void TFieldsList::SetFieldsFromBuffer(std::string_view text, std::size_t len) {
  SetFields(len == 0 ? text : text.substr(0, len));
}

void TFieldsList::KeepText() {
  if (text_.empty()) return;
  keptText_ = std::make_unique<std::string>(text_);
  const auto from = reinterpret_cast<std::uintptr_t>(text_.data());
  const char* const to = keptText_->data();
  const std::size_t size = text_.size();
  // Views into the body move to the same offset in the copy; owned texts stay where they are.
  const auto repoint = [&](std::string_view& view) {
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(view.data()) - from;
    if (view.empty()) {
      view = {};
    } else if (offset < size) {
      view = {to + offset, view.size()};
    }
  };
  for (TFieldEntry& entry : entries_) {
    repoint(entry.Name);
    entry.Object.ForEachText(repoint);
  }
  text_ = {};
}

void TFieldsList::Clear() {
  entries_.clear();
  text_ = {};
  keptText_.reset();
  ownedTexts_.clear();
  if (++generation_ == 0) {
    // After 2^32 clears the tags come round again: free every slot once.
    for (TSlot& slot : slots_)
      slot.Generation = 0;
    generation_ = 1;
  }
}

std::string_view TFieldsList::NameAt(int position) const {
  if (position < 0 || position >= Count()) return {};
  return entries_[static_cast<std::size_t>(position)].Name;
}

const TFieldValueObject* TFieldsList::ObjectAt(int position) const {
  if (position < 0 || position >= Count()) return nullptr;
  return &entries_[static_cast<std::size_t>(position)].Object;
}

std::string TFieldsList::GetFieldValue(std::string_view name, int index) const {
  return std::string(FieldView(name, index));
}

std::string_view TFieldsList::FieldView(std::string_view name, int index) const {
  if (index < 0 || index > kMaxFieldValueIndex) return {};
  const int position = Find(name, HashName(name));
  if (position < 0) return {};
  return entries_[static_cast<std::size_t>(position)].Object.Value(index);
}

std::int32_t TFieldsList::IntValue(std::string_view name) const {
  return SafeStrToInt(FieldView(name, 0), 0);
}

double TFieldsList::FloatValue(std::string_view name) const {
  return SafeStrToFloat(FieldView(name, 0), 0);
}

std::string TFieldsList::BoundedValue(std::string_view name, std::size_t width) const {
  return std::string(TrimmedName(FieldView(name, 0), width));
}

int TFieldsList::GetFieldCount(std::string_view name) const {
  const int position = Find(name, HashName(name));
  return position < 0 ? 0 : entries_[static_cast<std::size_t>(position)].Object.Count();
}

int TFieldsList::GetValueCountAt(int position) const {
  const TFieldValueObject* object = ObjectAt(position);
  return object ? object->Count() : 0;
}

void TFieldsList::AddFieldValue(std::string_view name, std::string_view value, int index, int group,
                                bool replace) {
  value = TrimView(value);
  if (value.empty()) return;
  // A name already listed is viewed where the list holds it.
  const int position = Find(name, HashName(name));
  const std::string_view ownName =
      position >= 0 ? entries_[static_cast<std::size_t>(position)].Name : Own(name);
  AddView(ownName, HashName(ownName), Own(value), index, group, replace);
}

void TFieldsList::AddView(std::string_view name, std::uint32_t hash, std::string_view value,
                          int index, int group, bool replace) {
  // Most values need no trimming: look at both ends before calling the trimmer.
  if (value.empty()) return;
  if (static_cast<unsigned char>(value.front()) <= ' ' ||
      static_cast<unsigned char>(value.back()) <= ' ') {
    value = TrimView(value);
    if (value.empty()) return;
  }
  // At most half the slots in use, so a probe always ends at a free slot.
  if ((entries_.size() + 1) * 2 > slots_.size()) {
    Rehash(std::max<std::size_t>(16, slots_.size() * 2));
  }
  // One probe: it ends at the field's slot or at the free slot a new field takes.
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  for (; slots_[i].Generation == generation_; i = (i + 1) & mask) {
    const std::int32_t position = slots_[i].Position;
    TFieldEntry& entry = entries_[static_cast<std::size_t>(position)];
    if (entry.Hash != hash || !SameText(entry.Name, name)) continue;
    if (replace) {
      entry.Object.ReplaceFirst(value);
    } else {
      entry.Object.Put(std::max(entry.Object.Count(), index - 1), value);
    }
    entry.Object.Group = group;
    return;
  }
  slots_[i] = TSlot{generation_, static_cast<std::int32_t>(entries_.size())};
  entries_.emplace_back(name, hash, std::max(0, index - 1), value).Object.Group = group;
}

std::string_view TFieldsList::Own(std::string_view text) {
  return ownedTexts_.emplace_back(text);
}

int TFieldsList::Find(std::string_view name, std::uint32_t hash) const {
  if (slots_.empty()) return -1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const TSlot& slot = slots_[i];
    if (slot.Generation != generation_) return -1;
    const TFieldEntry& entry = entries_[static_cast<std::size_t>(slot.Position)];
    if (entry.Hash == hash && SameText(entry.Name, name)) return slot.Position;
  }
}

TFieldsList::TFieldEntry& TFieldsList::Insert(std::string_view name, std::uint32_t hash, int index,
                                              std::string_view value) {
  // At most half the slots in use, so a probe always ends at a free slot.
  if ((entries_.size() + 1) * 2 > slots_.size()) {
    Rehash(std::max<std::size_t>(16, slots_.size() * 2));
  }
  const auto position = static_cast<std::int32_t>(entries_.size());
  TFieldEntry& entry = entries_.emplace_back(name, hash, index, value);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].Generation == generation_)
    i = (i + 1) & mask;
  slots_[i] = TSlot{generation_, position};
  return entry;
}

void TFieldsList::Rehash(std::size_t slotCount) {
  slots_.assign(slotCount, TSlot{});
  generation_ = 1;
  const std::size_t mask = slotCount - 1;
  for (std::size_t position = 0; position < entries_.size(); ++position) {
    std::size_t i = entries_[position].Hash & mask;
    while (slots_[i].Generation == generation_)
      i = (i + 1) & mask;
    slots_[i] = TSlot{generation_, static_cast<std::int32_t>(position)};
  }
}

// ---------------------------------------------------------------------------------------------
// TFieldsSendList

std::string TFieldsSendList::GetFieldText(int position) const {
  std::string text;
  AppendFieldText(text, position);
  return text;
}

std::string TFieldsSendList::GetGroupText(int position) const {
  std::string text;
  AppendGroupText(text, position);
  return text;
}

void TFieldsSendList::AppendRequestText(std::string& out) const {
  for (int position = 0; position < Count(); ++position) {
    if (GetValueCountAt(position) != 1) {
      AppendGroupText(out, position);
      return;
    }
    AppendFieldText(out, position);
  }
}

void TFieldsSendList::AppendFieldText(std::string& out, int position) const {
  const TFieldValueObject* object = ObjectAt(position);
  if (object) AppendItem(out, NameAt(position), object->Value(0));
}

void TFieldsSendList::AppendGroupText(std::string& out, int position) const {
  if (position < 0 || position >= Count()) return;
  const auto first = static_cast<std::size_t>(position);
  const int group = entries_[first].Object.Group;
  std::size_t last = first;  // one past the group's entries
  int occurrences = 0;       // the longest field sets the count: no occurrence is dropped
  while (last < entries_.size() && entries_[last].Object.Group == group) {
    occurrences = std::max(occurrences, entries_[last].Object.Count());
    ++last;
  }
  for (int j = 0; j < occurrences; ++j) {
    AppendGroupMarker(out, kGroupStart, group);
    for (std::size_t e = first; e < last; ++e) {
      // Gaps are empty values, and an empty value is never sent.
      const std::string_view value = entries_[e].Object.Value(j);
      if (!value.empty()) AppendItem(out, entries_[e].Name, value);
    }
    AppendGroupMarker(out, kGroupEnd, group);
    CheckRequestLength(out.size());
  }
}

bool IsContractDateBody(std::string_view body) {
  return body.size() >= 8 && body.substr(4, 4) == "3658";
}

void SplitDateTime(std::string_view text, std::string& date, std::string& time) {
  date = Copy(text, 1, 8);
  time = Copy(text, 9, 6);
}

}  // namespace vorn
