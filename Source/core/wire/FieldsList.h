#pragma once
// Tagged host text: items "name=value" each ended by 0x01, repeating groups written as
// "<SG=g" ... "EG>=g" once per occurrence. TFieldsList parses a received body into named fields;
// TFieldsSendList is the list a request is written from.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

inline constexpr char kFieldSeparator = '\x01';
// GetFieldValue reads occurrences 0 to this index; larger indexes give the empty text.
inline constexpr int kMaxFieldValueIndex = 255;

// The values of one field, one per occurrence. Only non-empty values are stored: the gaps that
// place a value at its occurrence cost nothing, so a hostile body cannot make memory grow with
// occurrences times fields. Values are views: the TFieldsList that holds the object owns (or
// borrows) the bytes.
class TFieldValueObject {
 public:
  int Group = -1;  // group number of a request's group field; -1 for plain and received fields

  TFieldValueObject() = default;
  // One value at position index.
  TFieldValueObject(int index, std::string_view value) : first_{index, value}, count_(index + 1) {}

  int Count() const { return count_; }
  // The value at a 0-based position; empty for a gap or a position out of range.
  std::string_view Value(int index) const;
  // Stores a value at position index (at or after Count()); the positions between stay empty.
  void Put(int index, std::string_view value);
  void ReplaceFirst(std::string_view value);
  // Calls f(text) for every stored value, so its view can be re-pointed.
  template <class F>
  void ForEachText(F&& f) {
    if (count_ == 0) return;
    f(first_.Text);
    for (TSlot& slot : more_)
      f(slot.Text);
  }

 private:
  friend class TFieldsList;
  struct TSlot {
    int Index = 0;
    std::string_view Text;
  };
  TSlot first_;              // the first stored value; held inline, no allocation per field
  std::vector<TSlot> more_;  // the rest, by ascending Index
  int count_ = 0;            // last position + 1
};

// Unsorted, case-insensitive look-up, insertion order kept. A hash index beside the entries
// keeps adding and finding a field constant time, so a parse is linear in the body length.
//
// Ownership: a parsed list holds views into the body it was given (SetFields with a view): the
// caller keeps those bytes alive and unchanged while the list is read, or calls KeepText first.
// A body passed as an rvalue std::string, and every value added through AddFieldValue, is
// copied into the list. Moving a list keeps its views valid; copying one copies the bytes.
// A list is reused from body to body: SetFields does not free what the last parse grew.
// Not thread-safe: one thread at a time, readers included.
class TFieldsList {
 public:
  TFieldsList() = default;
  TFieldsList(const TFieldsList& other);
  TFieldsList& operator=(const TFieldsList& other);
  TFieldsList(TFieldsList&&) noexcept = default;
  TFieldsList& operator=(TFieldsList&&) noexcept = default;
  ~TFieldsList() = default;

  // Parses a received body: clears the list and adds every item that ends with 0x01. Fields
  // inside a group get their occurrence number; fields outside any group are plain. The list
  // views text (see above).
  void SetFields(std::string_view text);
  // As SetFields, keeping the body in the list.
  void SetFields(std::string&& text);
  void SetFields(const char* text) { SetFields(std::string_view(text)); }
  // SetFields on the first len bytes of text, or on all of it when len is 0.
  void SetFieldsFromBuffer(std::string_view text, std::size_t len);
  // Copies the parsed body into the list, so the list outlives the bytes it was parsed from.
  // Once per body; a no-op when the list already owns every value.
  void KeepText();

  void Clear();
  int Count() const { return static_cast<int>(entries_.size()); }
  // Name and values at a list position; empty name and null for a position out of range.
  std::string_view NameAt(int position) const;
  const TFieldValueObject* ObjectAt(int position) const;

  // The index-th (0-based) value of the named field; empty when absent or index is outside
  // 0 to kMaxFieldValueIndex.
  std::string GetFieldValue(std::string_view name, int index) const;
  // GetFieldValue without the copy; valid while the list is unchanged.
  std::string_view FieldView(std::string_view name, int index) const;
  // The first value of the named field as the receivers read it: the text (empty when absent),
  // an integer or a float (0 when absent or not a number).
  std::string Value(std::string_view name) const { return std::string(FieldView(name, 0)); }
  std::int32_t IntValue(std::string_view name) const;
  double FloatValue(std::string_view name) const;
  // The first value as a received name is kept (TrimmedName): never wider than width, whatever
  // the host sent.
  std::string BoundedValue(std::string_view name, std::size_t width) const;
  // Number of values of the named field; 0 when absent.
  int GetFieldCount(std::string_view name) const;
  // Number of values of the field at a list position; 0 when out of range.
  int GetValueCountAt(int position) const;

  // Adds a trimmed value; a value that trims to nothing is not added. A value for occurrence
  // index (1-based; 0 or -1 for plain fields) lands at that occurrence. With replace an existing
  // field's first value is replaced. The field's Group becomes group.
  void AddFieldValue(std::string_view name, std::string_view value, int index, int group,
                     bool replace);

 protected:
  struct TFieldEntry {
    TFieldEntry(std::string_view name, std::uint32_t hash, int index, std::string_view value)
        : Name(name), Hash(hash), Object(index, value) {}
    std::string_view Name;
    std::uint32_t Hash;
    TFieldValueObject Object;
  };
  // An index slot is in use only when it carries the current generation, so Clear empties the
  // index by counting up instead of writing every slot.
  struct TSlot {
    std::uint32_t Generation = 0;
    std::int32_t Position = 0;
  };

  // AddFieldValue on views that stay valid as long as the list needs them; hash is the name's.
  void AddView(std::string_view name, std::uint32_t hash, std::string_view value, int index,
               int group, bool replace);
  int Find(std::string_view name, std::uint32_t hash) const;
  // Adds a field holding one value at position index.
  TFieldEntry& Insert(std::string_view name, std::uint32_t hash, int index, std::string_view value);
  void Rehash(std::size_t slotCount);
  std::string_view Own(std::string_view text);
  void Parse(std::string_view text);

  std::vector<TFieldEntry> entries_;
  std::vector<TSlot> slots_;  // open addressing over entries_, power-of-two size
  std::uint32_t generation_ = 1;
  std::string_view text_;                   // the body last parsed, while it is only viewed
  std::unique_ptr<std::string> keptText_;   // the body, once the list keeps it
  std::deque<std::string> ownedTexts_;      // names and values added by AddFieldValue
};

class TFieldsSendList : public TFieldsList {
 public:
  // "name=value" and 0x01 for the entry at a list position (its first value); empty when out
  // of range.
  std::string GetFieldText(int position) const;
  // Every occurrence of the repeating group that starts at a list position; empty when out of
  // range.
  std::string GetGroupText(int position) const;
  // Appends the list as a request writes it: single-valued entries in order; at the first entry
  // with any other number of values, that entry's group, and nothing after it.
  void AppendRequestText(std::string& out) const;

 private:
  void AppendFieldText(std::string& out, int position) const;
  void AppendGroupText(std::string& out, int position) const;
};

// True when a body carries the contract-date code: bytes 4 to 7 are "3658", the code after
// "Msg=".
bool IsContractDateBody(std::string_view body);

// True for a received body that the message dumps leave out: a contract-date body while the
// initial download runs. downloadInProgress is called only for a contract-date body.
template <std::predicate DownloadInProgress>
bool DumpLeavesOut(std::string_view body, DownloadInProgress&& downloadInProgress) {
  return IsContractDateBody(body) && downloadInProgress();
}

// Date := bytes 1-8 and Time := bytes 9-14 of a "yyyymmddhhnnss" text.
void SplitDateTime(std::string_view text, std::string& date, std::string& time);

}  // namespace vorn
