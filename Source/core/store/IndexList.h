#pragma once
// TIndexList: the keyed list that every queue of the client core derives from. An ordered list
// of item references in which each item is found by a text key that the list class supplies.
//
// Items are held by std::shared_ptr: the list's references define membership, and removing an
// item only drops the list's reference, so an item that another holder still reaches stays
// alive. Items the list drops are released after its lock is left.
//
// Every list has its lock. Each public operation takes it for its own duration, and callers
// bracket multi-step work (find, then use or change) with Lock/Unlock or TIndexListLock. The
// lock is re-entrant. GetKey runs under it: a key provider must be cheap and take no lock.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/store/Streamable.h"
#include "core/util/Exceptions.h"
#include "platform/Locks.h"

namespace vorn {

class TStream;       // core/store/ObjStream.h
class TStreamClass;  // core/store/Streamable.h

// The reference array of a keyed list, with free room at both ends: an insert or a removal
// moves the shorter side, so items that arrive in key order, ascending or descending, move
// nothing. Free slots hold no reference.
class TItemArray {
 public:
  using TItem = std::shared_ptr<TStreamable>;

  std::size_t size() const { return end_ - begin_; }
  bool empty() const { return end_ == begin_; }
  TItem& operator[](std::size_t index) { return slots_[begin_ + index]; }
  const TItem& operator[](std::size_t index) const { return slots_[begin_ + index]; }
  // index 0 to size().
  void Insert(std::size_t index, const TItem& item);
  // Removes the entry and hands its reference to the caller.
  TItem Take(std::size_t index);
  // Empties the array and hands every reference to the caller, in order.
  std::vector<TItem> TakeAll();
  // Removes, in one pass, the entries that drop[i] marks, keeping the others' order, and hands
  // their references to the caller. drop has one mark per entry.
  std::vector<TItem> TakeMarked(const std::vector<bool>& drop);

 private:
  // Re-centres the items, growing the storage when little room is left.
  void MakeRoom();

  std::vector<TItem> slots_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

struct TAddResult {
  int Index = -1;      // where the item went, or the index of the item that refused it
  bool Added = false;  // false: a sorted list already held the key; the caller keeps its item
};

class TIndexList {
 public:
  using TItem = std::shared_ptr<TStreamable>;
  using TGetKeyEvent = std::function<void(const TStreamable& item, std::string& key)>;

  // An empty list: unsorted, ascending, not owning. With an item class, items are stored by that
  // class's published properties; without one, by ReadItem and WriteItem.
  explicit TIndexList(std::string name, const TStreamClass* itemClass = nullptr);
  TIndexList(const TIndexList&) = delete;
  TIndexList& operator=(const TIndexList&) = delete;
  virtual ~TIndexList();

  void Lock() const { lock_.Enter(); }
  void Unlock() const { lock_.Leave(); }
  bool TryLock() const { return lock_.try_lock(); }

  const std::string& Name() const { return name_; }
  const TStreamClass* ItemClass() const { return itemClass_; }
  bool Sorted() const;
  // Switching sorting on sorts the items there are.
  void SetSorted(bool value);
  // +1 ascending, -1 descending.
  int Direction() const;
  // A change of direction re-sorts a sorted list at once.
  void SetAscending(bool value);
  // Kept for the list classes that declare it; with shared ownership an item lives as long
  // as its last holder whatever this says.
  bool OwnsObjects() const;
  void SetOwnsObjects(bool value);
  // True while items are read from a store: Add then appends without ordering or duplicate test.
  bool Loading() const;
  // Key provider of the base GetKey.
  void SetOnGetKey(TGetKeyEvent handler);

  int Count() const;
  // The item at index; EListError outside 0 to Count - 1.
  TItem Items(int index) const;
  // Calls visit(item) for the items in list order, under the list's lock and without copying
  // their references; visit returns false to stop. For scans on hot paths.
  template <class Visit>
  void VisitItems(Visit&& visit) const {
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (!visit(static_cast<const TStreamable&>(*items_[i]))) return;
  }
  // Index of the first entry holding that item, or -1.
  int IndexOf(const TStreamable* item) const;
  // Inserts at index (0 to Count) without regard to the order.
  void Insert(int index, const TItem& item);
  // Drops the entry at index.
  void Delete(int index);
  // Drops every entry that drop picks, in one pass that keeps the others' order; the number
  // dropped. drop is called with the list's lock held and must not change the list.
  int DeleteIf(const std::function<bool(TStreamable&)>& drop);
  virtual void Clear();

  // Asks the key provider; Exception "Key Provider not assigned in list " + Name without one.
  virtual void GetKey(const TStreamable& item, std::string& key) const;
  // Lists streamed without an item class override these; the base raises EAbstractError.
  virtual TItem ReadItem(TStream& stream);
  virtual void WriteItem(TStream& stream, const TStreamable& item);
  // Appends while Loading or unsorted; otherwise inserts in key order, refusing a key the list
  // holds already (with a trace line). A null item, or one the list class does not accept,
  // raises EListError.
  virtual TAddResult Add(const TItem& item);
  // Drops the first entry holding that item; its former index, or -1.
  virtual int RemoveItem(const TStreamable* item);
  // Binary search; stops at the first equal key it meets. Index is that item's position, or
  // where the key would be inserted.
  virtual bool Find(std::string_view key, int& index) const;
  // Sorted: Find. Unsorted: the first item with that key. -1 when none.
  virtual int IndexOfKey(std::string_view key) const;
  virtual int RemoveKey(std::string_view key);
  virtual bool KeyExists(std::string_view key) const;
  // The item with that key, or null.
  virtual TItem FindItem(std::string_view key) const;
  virtual int DeleteKey(std::string_view key);
  virtual void FreeAt(int index);
  // Drops every item, the last first.
  virtual void FreeAll();

  // Store streaming (core/store/ObjStream.cpp). SaveToStream writes the version word when the
  // stream stands just after the store header, then the count and every item, under the list's
  // lock; an item that cannot be written is traced and left out.
  virtual void SaveToStream(TStream& stream);
  // Reads the version word when the stream stands just after the header (EReadError "Invalid
  // IndexList Stream Version" when it is wrong), then the count and the items, and adds them
  // under the list's lock, clearing it first when asked. Reading stops at the first damage or
  // stop request, keeping the items read before it (a count the bytes left cannot hold is
  // traced, and the items there are read up to the first incomplete one); an item the list
  // refuses is traced and skipped. A sorted list is put back in key order, later duplicates of
  // a key dropped. Returns true when every item was read.
  bool LoadFromStream(TStream& stream, bool clearFirst);
  // A one-list store file: the header, then SaveToStream, written safely; EWriteError when the
  // file cannot be written.
  void SaveToFile(const std::string& fileName);

 protected:
  void SetLoading(bool value);
  // Whether the list class takes an item of this class.
  virtual bool Accepts(const TStreamable&) const { return true; }
  // The key of an item that the list holds or has accepted; by default GetKey.
  virtual void KeyOfItem(const TStreamable& item, std::string& key) const;
  // Called under the list's lock after every change of its entries (an insert, a removal, a
  // sort, a clear, the end of a load), possibly more than once per change.
  virtual void ItemsChanged() {}
  // Entry 0 without a reference of its own, or null; under the list's lock.
  TStreamable* FrontItem() const { return items_.empty() ? nullptr : items_[0].get(); }
  const TItem& FrontRef() const { return items_[0]; }
  // The entry at index (0 to Count - 1) without a reference of its own; under the list's lock.
  TStreamable* ItemAt(int index) const { return items_[static_cast<std::size_t>(index)].get(); }

 private:
  void CheckIndex(int index, int limit) const;
  void CheckItem(const TItem& item) const;
  int CompareAt(int index, std::string_view key, std::string& scratch) const;
  void QuickSort(int lo, int hi);
  void SortAll();
  // After loading: restores key order and drops later duplicates; returns what it dropped, to
  // be released after the lock is left.
  std::vector<TItem> SortAfterLoading();

  const std::string name_;
  const TStreamClass* const itemClass_;
  TItemArray items_;
  TGetKeyEvent onGetKey_;
  int direction_ = 1;
  bool sorted_ = false;
  bool loading_ = false;
  bool ownsObjects_ = false;
  // Last, so that it shares a cache line with the first members of a derived list.
  mutable TCriticalSection lock_;
};

// Holds a list's lock for the life of the scope.
class TIndexListLock {
 public:
  explicit TIndexListLock(const TIndexList& list) : list_(list) { list_.Lock(); }
  TIndexListLock(const TIndexListLock&) = delete;
  TIndexListLock& operator=(const TIndexListLock&) = delete;
  ~TIndexListLock() { list_.Unlock(); }

 private:
  const TIndexList& list_;
};

// A keyed list of items of class T: refuses other classes, hands items out as T, and takes its
// key from KeyOf.
template <class T>
class TIndexListOf : public TIndexList {
  static_assert(std::is_base_of_v<TStreamable, T>);

 public:
  using TIndexList::TIndexList;

  std::shared_ptr<T> At(int index) const { return std::static_pointer_cast<T>(Items(index)); }
  // Calls visit(item) for each item in list order, as VisitItems does.
  template <class Visit>
  void ForEach(Visit&& visit) const {
    VisitItems([&](const TStreamable& item) {
      visit(static_cast<const T&>(item));
      return true;
    });
  }
  std::shared_ptr<T> Get(std::string_view key) const {
    return std::static_pointer_cast<T>(FindItem(key));
  }

  // EListError for an item that is not a T.
  void GetKey(const TStreamable& item, std::string& key) const final {
    const T* typed = dynamic_cast<const T*>(&item);
    if (!typed) throw EListError(std::string(item.ClassName()) + " not an item of list " + Name());
    KeyOf(*typed, key);
  }

 protected:
  virtual void KeyOf(const T& item, std::string& key) const = 0;

  bool Accepts(const TStreamable& item) const override {
    return dynamic_cast<const T*>(&item) != nullptr;
  }
  // Held and accepted items are known to be T.
  void KeyOfItem(const TStreamable& item, std::string& key) const final {
    KeyOf(static_cast<const T&>(item), key);
  }
};

}  // namespace vorn
