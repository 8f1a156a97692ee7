#include "core/store/IndexList.h"

#include <algorithm>
#include <utility>

#include "core/diag/Trace.h"
#include "core/util/CompareKeys.h"
#include "core/util/NumberText.h"

namespace vorn {

void TItemArray::Insert(std::size_t index, const TItem& item) {
  const std::size_t count = size();
  const bool front = index < count / 2;
  if (front ? begin_ == 0 : end_ == slots_.size()) MakeRoom();
  auto base = slots_.begin() + static_cast<std::ptrdiff_t>(begin_);
  auto at = base + static_cast<std::ptrdiff_t>(index);
  if (front) {
    std::move(base, at, base - 1);
    --begin_;
    *(at - 1) = item;
  } else {
    std::move_backward(at, base + static_cast<std::ptrdiff_t>(count),
                       base + static_cast<std::ptrdiff_t>(count) + 1);
    ++end_;
    *at = item;
  }
}

TItemArray::TItem TItemArray::Take(std::size_t index) {
  const std::size_t count = size();
  auto base = slots_.begin() + static_cast<std::ptrdiff_t>(begin_);
  auto at = base + static_cast<std::ptrdiff_t>(index);
  TItem taken = std::move(*at);
  if (index < count / 2) {
    std::move_backward(base, at, at + 1);
    ++begin_;
  } else {
    std::move(at + 1, base + static_cast<std::ptrdiff_t>(count), at);
    --end_;
  }
  return taken;
}

std::vector<TItemArray::TItem> TItemArray::TakeAll() {
  std::vector<TItem> all;
  all.reserve(size());
  for (std::size_t i = begin_; i < end_; ++i)
    all.push_back(std::move(slots_[i]));
  slots_.clear();
  begin_ = end_ = 0;
  return all;
}

std::vector<TItemArray::TItem> TItemArray::TakeMarked(const std::vector<bool>& drop) {
  std::vector<TItem> taken;
  taken.reserve(static_cast<std::size_t>(std::count(drop.begin(), drop.end(), true)));
  std::size_t kept = begin_;
  for (std::size_t i = begin_; i < end_; ++i) {
    if (drop[i - begin_])
      taken.push_back(std::move(slots_[i]));
    else if (kept++ != i)
      slots_[kept - 1] = std::move(slots_[i]);
  }
  end_ = kept;
  return taken;
}

// Afterwards both ends have room. Growing doubles the storage, and an in-place re-centre leaves
// at least a quarter of the count free at each end, so each move of all items pays for many
// cheap inserts.
void TItemArray::MakeRoom() {
  const std::size_t count = size();
  const std::size_t capacity =
      slots_.size() - count >= count / 2 + 2 ? slots_.size() : std::max<std::size_t>(16, 2 * count);
  const std::size_t first = (capacity - count) / 2;
  if (capacity == slots_.size()) {
    auto from = slots_.begin() + static_cast<std::ptrdiff_t>(begin_);
    auto to = slots_.begin() + static_cast<std::ptrdiff_t>(first);
    if (first < begin_) {
      std::move(from, from + static_cast<std::ptrdiff_t>(count), to);
    } else if (first > begin_) {
      std::move_backward(from, from + static_cast<std::ptrdiff_t>(count),
                         to + static_cast<std::ptrdiff_t>(count));
    }
  } else {
    std::vector<TItem> slots(capacity);
    std::move(slots_.begin() + static_cast<std::ptrdiff_t>(begin_),
              slots_.begin() + static_cast<std::ptrdiff_t>(end_),
              slots.begin() + static_cast<std::ptrdiff_t>(first));
    slots_.swap(slots);
  }
  begin_ = first;
  end_ = first + count;
}

TIndexList::TIndexList(std::string name, const TStreamClass* itemClass)
    : name_(std::move(name)), itemClass_(itemClass) {}

TIndexList::~TIndexList() {
  auto dropped = items_.TakeAll();
  while (!dropped.empty())
    dropped.pop_back();
}

bool TIndexList::Sorted() const {
  TIndexListLock guard(*this);
  return sorted_;
}

void TIndexList::SetSorted(bool value) {
  TIndexListLock guard(*this);
  if (value == sorted_) return;
  sorted_ = value;
  if (sorted_) SortAll();
  ItemsChanged();
}

int TIndexList::Direction() const {
  TIndexListLock guard(*this);
  return direction_;
}

void TIndexList::SetAscending(bool value) {
  TIndexListLock guard(*this);
  const int direction = value ? 1 : -1;
  if (direction == direction_) return;
  direction_ = direction;
  if (sorted_) SortAll();
  ItemsChanged();
}

bool TIndexList::OwnsObjects() const {
  TIndexListLock guard(*this);
  return ownsObjects_;
}

void TIndexList::SetOwnsObjects(bool value) {
  TIndexListLock guard(*this);
  ownsObjects_ = value;
}

bool TIndexList::Loading() const {
  TIndexListLock guard(*this);
  return loading_;
}

void TIndexList::SetLoading(bool value) {
  TIndexListLock guard(*this);
  loading_ = value;
}

void TIndexList::SetOnGetKey(TGetKeyEvent handler) {
  TIndexListLock guard(*this);
  onGetKey_ = std::move(handler);
}

int TIndexList::Count() const {
  TIndexListLock guard(*this);
  return static_cast<int>(items_.size());
}

void TIndexList::CheckIndex(int index, int limit) const {
  if (index < 0 || index > limit)
    throw EListError("List index out of bounds (" + IntToStr(index) + ")");
}

TIndexList::TItem TIndexList::Items(int index) const {
  TIndexListLock guard(*this);
  CheckIndex(index, static_cast<int>(items_.size()) - 1);
  return items_[static_cast<std::size_t>(index)];
}

int TIndexList::IndexOf(const TStreamable* item) const {
  TIndexListLock guard(*this);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == item) return static_cast<int>(i);
  }
  return -1;
}

void TIndexList::CheckItem(const TItem& item) const {
  if (!item) throw EListError("Nil item in list " + name_);
  if (!Accepts(*item))
    throw EListError(std::string(item->ClassName()) + " not an item of list " + name_);
}

void TIndexList::Insert(int index, const TItem& item) {
  CheckItem(item);
  TIndexListLock guard(*this);
  CheckIndex(index, static_cast<int>(items_.size()));
  items_.Insert(static_cast<std::size_t>(index), item);
  ItemsChanged();
}

void TIndexList::Delete(int index) {
  TItem dropped;  // released after the lock is left
  TIndexListLock guard(*this);
  CheckIndex(index, static_cast<int>(items_.size()) - 1);
  dropped = items_.Take(static_cast<std::size_t>(index));
  ItemsChanged();
}

int TIndexList::DeleteIf(const std::function<bool(TStreamable&)>& drop) {
  std::vector<TItem> dropped;  // released after the lock is left
  TIndexListLock guard(*this);
  // The marks first: a throwing drop leaves the list as it was.
  std::vector<bool> marks(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i)
    marks[i] = drop(*items_[i]);
  dropped = items_.TakeMarked(marks);
  if (!dropped.empty()) ItemsChanged();
  return static_cast<int>(dropped.size());
}

void TIndexList::Clear() {
  std::vector<TItem> dropped;
  {
    TIndexListLock guard(*this);
    dropped = items_.TakeAll();
    ItemsChanged();
  }
  while (!dropped.empty())
    dropped.pop_back();
}

void TIndexList::GetKey(const TStreamable& item, std::string& key) const {
  TIndexListLock guard(*this);
  if (!onGetKey_) throw Exception("Key Provider not assigned in list " + name_);
  onGetKey_(item, key);
}

void TIndexList::KeyOfItem(const TStreamable& item, std::string& key) const {
  GetKey(item, key);
}

TIndexList::TItem TIndexList::ReadItem(TStream&) {
  throw EAbstractError("TIndexList.ReadItem should be overridden");
}

void TIndexList::WriteItem(TStream&, const TStreamable&) {
  throw EAbstractError("TIndexList.WriteItem should be overridden");
}

TAddResult TIndexList::Add(const TItem& item) {
  CheckItem(item);
  TIndexListLock guard(*this);
  if (loading_ || !sorted_) {
    items_.Insert(items_.size(), item);
    ItemsChanged();
    return {static_cast<int>(items_.size()) - 1, true};
  }
  std::string key;
  KeyOfItem(*item, key);
  int index = static_cast<int>(items_.size());
  // Keys that come in key order (host ids as they are handed out) go to the end without a
  // search; the search would put them there too.
  std::string last;
  if (index > 0 && CompareAt(index - 1, key, last) >= 0 && Find(key, index)) {
    std::string line;
    line.reserve(40 + key.size() + name_.size());
    line += "Duplicate String \"";
    line += key;
    line += "\" in List ";
    line += name_;
    WriteTraceLine(line);
    return {index, false};
  }
  items_.Insert(static_cast<std::size_t>(index), item);
  ItemsChanged();
  return {index, true};
}

int TIndexList::RemoveItem(const TStreamable* item) {
  TItem dropped;
  TIndexListLock guard(*this);
  const int index = IndexOf(item);
  if (index >= 0) {
    dropped = items_.Take(static_cast<std::size_t>(index));
    ItemsChanged();
  }
  return index;
}

int TIndexList::CompareAt(int index, std::string_view key, std::string& scratch) const {
  KeyOfItem(*items_[static_cast<std::size_t>(index)], scratch);
  return CompareKeys(scratch, key) * direction_;
}

bool TIndexList::Find(std::string_view key, int& index) const {
  TIndexListLock guard(*this);
  std::string scratch;
  int low = 0;
  int high = static_cast<int>(items_.size()) - 1;
  bool found = false;
  while (low <= high) {
    const int mid =
        static_cast<int>((static_cast<unsigned>(low) + static_cast<unsigned>(high)) >> 1);
    const int c = CompareAt(mid, key, scratch);
    if (c < 0) {
      low = mid + 1;
    } else {
      high = mid - 1;
      if (c == 0) {
        found = true;
        low = mid;
      }
    }
  }
  index = low;
  return found;
}

int TIndexList::IndexOfKey(std::string_view key) const {
  TIndexListLock guard(*this);
  if (sorted_) {
    int index = 0;
    return Find(key, index) ? index : -1;
  }
  // Keys compare equal only when their bytes are equal.
  std::string scratch;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    KeyOfItem(*items_[i], scratch);
    if (scratch == key) return static_cast<int>(i);
  }
  return -1;
}

int TIndexList::RemoveKey(std::string_view key) {
  TItem dropped;
  TIndexListLock guard(*this);
  const int index = IndexOfKey(key);
  if (index >= 0) {
    dropped = items_.Take(static_cast<std::size_t>(index));
    ItemsChanged();
  }
  return index;
}

bool TIndexList::KeyExists(std::string_view key) const {
  return IndexOfKey(key) != -1;
}

TIndexList::TItem TIndexList::FindItem(std::string_view key) const {
  TIndexListLock guard(*this);
  const int index = IndexOfKey(key);
  return index >= 0 ? items_[static_cast<std::size_t>(index)] : nullptr;
}

int TIndexList::DeleteKey(std::string_view key) {
  TItem dropped;  // so the item is released after the lock is left
  TIndexListLock guard(*this);
  const int index = IndexOfKey(key);
  if (index >= 0) {
    dropped = items_[static_cast<std::size_t>(index)];
    FreeAt(index);
  }
  return index;
}

void TIndexList::FreeAt(int index) {
  Delete(index);
}

void TIndexList::FreeAll() {
  Clear();
}

std::vector<TIndexList::TItem> TIndexList::SortAfterLoading() {
  std::vector<TItem> dropped;
  const std::size_t count = items_.size();
  if (!sorted_ || count < 2) return dropped;
  std::vector<std::string> keys(count);
  for (std::size_t i = 0; i < count; ++i)
    KeyOfItem(*items_[i], keys[i]);
  auto before = [&](std::size_t a, std::size_t b) {
    return CompareKeys(keys[a], keys[b]) * direction_ < 0;
  };
  bool ordered = true;
  for (std::size_t i = 1; ordered && i < count; ++i)
    ordered = before(i - 1, i);
  if (ordered) return dropped;
  // Stable, so of equal keys the one read first stays.
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(), before);
  std::vector<TItem> all = items_.TakeAll();
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = order[i];
    if (i > 0 && keys[at] == keys[order[i - 1]]) {
      WriteTraceLine("Duplicate String \"" + keys[at] + "\" in List " + name_);
      dropped.push_back(std::move(all[at]));
    } else {
      items_.Insert(items_.size(), all[at]);
    }
  }
  return dropped;
}

void TIndexList::SortAll() {
  if (items_.size() > 1) QuickSort(0, static_cast<int>(items_.size()) - 1);
}

// Partition sort: the pivot key is taken once per round from the middle item. The smaller side
// is sorted by recursion and the larger by the loop, so the depth stays logarithmic; the sides
// are disjoint, so the order in which they are done does not change the result. The scans are
// bounded as well, so a key provider that contradicts itself cannot lead them off the array.
void TIndexList::QuickSort(int lo, int hi) {
  std::string pivot;
  std::string scratch;
  while (lo < hi) {
    int i = lo;
    int j = hi;
    KeyOfItem(*items_[static_cast<std::size_t>(
                  (static_cast<unsigned>(lo) + static_cast<unsigned>(hi)) >> 1)],
              pivot);
    do {
      while (i < hi && CompareAt(i, pivot, scratch) < 0)
        ++i;
      while (j > lo && CompareAt(j, pivot, scratch) > 0)
        --j;
      if (i <= j) {
        std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - lo < hi - i) {
      if (lo < j) QuickSort(lo, j);
      lo = i;
    } else {
      if (i < hi) QuickSort(i, hi);
      hi = j;
    }
  }
}

}  // namespace vorn
