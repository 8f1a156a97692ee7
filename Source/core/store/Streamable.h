#pragma once
// Root of every item that a keyed list holds, and the published-property machinery by which an
// item is written to a store and copied.
//
// Each item class describes itself by one TStreamClass: its name, its parent's description, a
// virtual constructor and the table of its published properties (name, kind, getter, setter).
// An item is stored as the values of every published property of a class, inherited ones
// included, in the order of their names, followed by what its WriteExtra writes (the encoding
// is in ObjStream.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/ProcessWide.h"

namespace vorn {

class TStream;
class TStreamable;

enum class TPropKind : std::uint8_t { Integer, Enumeration, Set, Char, Float, String, Int64 };

// A property value. The alternative follows the kind: Integer, Enumeration and Set hold the
// 32-bit ordinal, Char a char, Float a double, String the 8-bit text, Int64 an int64.
using TPropValue = std::variant<std::int32_t, char, double, std::string, std::int64_t>;

struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::Integer;
  // Enumeration: the highest ordinal a store may hold (the lowest is 0).
  std::int32_t MaxOrdinal = 0;
  std::function<TPropValue(const TStreamable&)> Get;
  std::function<void(TStreamable&, TPropValue&&)> Set;
};

// Order of published property names: bytes compared as unsigned with bit 0x20 cleared (letters
// without regard to case) over the shorter length; when that much is equal, the shorter first.
int ComparePropNames(std::string_view a, std::string_view b);

// The description of one item class.
class TStreamClass {
 public:
  using TFactory = std::shared_ptr<TStreamable> (*)();
  using TInstanceTest = bool (*)(const TStreamable&);

  // The parent's description must exist already (descriptions are built on first use, the
  // parent's first). A null factory marks an abstract class.
  TStreamClass(const char* name, const TStreamClass* parent, TFactory create,
               TInstanceTest isInstance, std::vector<TPropInfo> ownProperties);
  TStreamClass(const TStreamClass&) = delete;
  TStreamClass& operator=(const TStreamClass&) = delete;

  const char* Name() const { return name_; }
  const TStreamClass* Parent() const { return parent_; }
  // The virtual constructor; EAbstractError for an abstract class.
  std::shared_ptr<TStreamable> Create() const;
  // Whether the item is of this class or a descendant.
  bool IsInstance(const TStreamable& item) const { return isInstance_(item); }
  // Own and inherited published properties in name order; a property hides an inherited one
  // of the same name.
  const std::vector<TPropInfo>& Properties() const { return properties_; }
  // Fewest bytes the properties of one item take in a store.
  std::size_t MinStreamSize() const { return minStreamSize_; }

 private:
  const char* name_;
  const TStreamClass* parent_;
  TFactory create_;
  TInstanceTest isInstance_;
  std::vector<TPropInfo> properties_;
  std::size_t minStreamSize_ = 0;
};

// Builds the published property table of class T. Each entry takes either one accessor, a data
// member read and written directly, or a getter and a setter (member functions or callables
// taking a T). A property is streamed only with both; a read-only value is simply not listed.
template <class T>
class TPropertyTable {
 public:
  template <class A>
  TPropertyTable& Integer(const char* name, A field) {
    return Integer(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& Integer(const char* name, G get, S set) {
    return Add<std::int32_t, std::int32_t>(name, TPropKind::Integer, 0, get, set);
  }
  // An enumeration whose ordinals run from 0 to last.
  template <class E, class A>
  TPropertyTable& Enumeration(const char* name, E last, A field) {
    return Enumeration(name, last, field, field);
  }
  template <class E, class G, class S>
  TPropertyTable& Enumeration(const char* name, E last, G get, S set) {
    return Add<std::int32_t, E>(name, TPropKind::Enumeration, static_cast<std::int32_t>(last), get,
                                set);
  }
  // A Boolean is the enumeration False, True.
  template <class A>
  TPropertyTable& Boolean(const char* name, A field) {
    return Boolean(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& Boolean(const char* name, G get, S set) {
    return Add<std::int32_t, bool>(name, TPropKind::Enumeration, 1, get, set);
  }
  // A set of up to 32 members, as its bit mask.
  template <class A>
  TPropertyTable& SetOf(const char* name, A field) {
    return SetOf(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& SetOf(const char* name, G get, S set) {
    return Add<std::int32_t, std::uint32_t>(name, TPropKind::Set, 0, get, set);
  }
  template <class A>
  TPropertyTable& Char(const char* name, A field) {
    return Char(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& Char(const char* name, G get, S set) {
    return Add<char, char>(name, TPropKind::Char, 0, get, set);
  }
  // Single, double and date-time values alike.
  template <class A>
  TPropertyTable& Float(const char* name, A field) {
    return Float(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& Float(const char* name, G get, S set) {
    return Add<double, double>(name, TPropKind::Float, 0, get, set);
  }
  template <class A>
  TPropertyTable& String(const char* name, A field) {
    return String(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& String(const char* name, G get, S set) {
    return Add<std::string, std::string>(name, TPropKind::String, 0, get, set);
  }
  template <class A>
  TPropertyTable& Int64(const char* name, A field) {
    return Int64(name, field, field);
  }
  template <class G, class S>
  TPropertyTable& Int64(const char* name, G get, S set) {
    return Add<std::int64_t, std::int64_t>(name, TPropKind::Int64, 0, get, set);
  }

  std::vector<TPropInfo> Take() { return std::move(properties_); }

 private:
  // V: the stored alternative; N: the value handed to a setter function.
  template <class V, class N, class G, class S>
  TPropertyTable& Add(const char* name, TPropKind kind, std::int32_t maxOrdinal, G get, S set) {
    TPropInfo info;
    info.Name = name;
    info.Kind = kind;
    info.MaxOrdinal = maxOrdinal;
    info.Get = [get](const TStreamable& item) -> TPropValue {
      return TPropValue(std::in_place_type<V>,
                        static_cast<V>(std::invoke(get, static_cast<const T&>(item))));
    };
    info.Set = [set](TStreamable& item, TPropValue&& value) {
      T& target = static_cast<T&>(item);
      V& stored = std::get<V>(value);
      if constexpr (std::is_member_object_pointer_v<S>) {
        using F = std::remove_cvref_t<decltype(target.*set)>;
        target.*set = static_cast<F>(std::move(stored));
      } else {
        std::invoke(set, target, static_cast<N>(std::move(stored)));
      }
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  std::vector<TPropInfo> properties_;
};

// The description of class T (a TStreamable descendant), made once and kept in a function-local
// static reference of the class:
//   static const TStreamClass& c = MakeStreamClass<T>("T", &TParent::Class(), ...).
// It lives until the library is unloaded: the store is saved after static objects are gone.
template <class T>
const TStreamClass& MakeStreamClass(const char* name, const TStreamClass* parent,
                                    TPropertyTable<T> table = {}) {
  TStreamClass::TFactory create = nullptr;
  if constexpr (!std::is_abstract_v<T> && std::is_default_constructible_v<T>)
    create = []() -> std::shared_ptr<TStreamable> { return std::make_shared<T>(); };
  TStreamClass::TInstanceTest isInstance = [](const TStreamable& item) {
    if constexpr (std::is_same_v<T, TStreamable>) {
      return true;
    } else {
      return dynamic_cast<const T*>(&item) != nullptr;
    }
  };
  return KeepProcessWide(new TStreamClass(name, parent, create, isInstance, table.Take()));
}

class TStreamable {
 public:
  virtual ~TStreamable() = default;

  // The description of this class; every item class that publishes properties or is created
  // by loading overrides StreamClass with its own.
  static const TStreamClass& Class();
  virtual const TStreamClass& StreamClass() const { return Class(); }
  virtual const char* ClassName() const { return StreamClass().Name(); }

  // Written after the published properties; items that own further data write it here.
  virtual void WriteExtra(TStream&) const {}
  // The counterpart, called after the published properties were read.
  virtual void ReadExtra(TStream&) {}

  // A new item of this item's own class with the same published properties and extra data.
  std::shared_ptr<TStreamable> Clone() const;
};

// Clone, typed.
template <class T>
std::shared_ptr<T> CloneItem(const T& item) {
  return std::static_pointer_cast<T>(item.Clone());
}

// A new GUID in its standard text form: braces, 32 upper-case hexadecimal digits and hyphens.
std::string NewGUIDText();

// Base of items that the host can address by a UUID and group.
class TUUIDStreamable : public TStreamable {
 public:
  enum TState : std::int32_t { usUndefined = 0, usActive = 1, usInactive = 2, usExpired = 3 };
  enum TStampKind : int { skActivation = 0, skDeactivation = 1, skExpiry = 2 };
  enum TMemberAction : int { maActivate = 0, maDeactivate = 1, maExpire = 2, maPurge = 3 };

  // Members are not owned: they belong to their own lists and are held weakly here, so a group
  // never keeps an item alive and an item and its members never hold each other.
  using TMemberList = TThreadList<std::vector<std::weak_ptr<TUUIDStreamable>>>;
  using TGroupList = TThreadList<std::vector<std::string>>;

  TUUIDStreamable() = default;

  // Publishes nothing itself: the item classes publish what they store.
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  const std::string& GetUUID() const { return uuid_; }
  // An empty text is replaced by a new GUID.
  void SetUUID(std::string_view text);

  // Clears the three stamps, then stamps the one of the kind with the local time now; any other
  // kind leaves all three at 0.
  virtual void SetTimeStamp(int kind);
  // Expired, with an expiry time at or before the given time.
  virtual bool CanPurge(TDateTime time) const;
  virtual void Activate(bool flag) = 0;
  virtual void Deactivate(bool flag) = 0;
  virtual void Expire() = 0;
  virtual void Purge(TDateTime time) = 0;

  // Entries whose member is gone are dropped whenever the list has doubled since the last such
  // pass: an item whose members come and go (a contract's orders) keeps at most twice its live
  // ones, and no gone member's memory stays held by its entry.
  void AddMember(const std::shared_ptr<TUUIDStreamable>& member);
  // Applies the action to every live member, the last first: activate, deactivate, expire, or
  // purge and drop from the members; any other action does nothing. The members are collected
  // under the member lock and acted on after it is left, since an action may take list locks
  // that come before it.
  void NotifyMembers(int action, TDateTime time);

  TDateTime ExpiryTime = 0;
  TDateTime ActivationTime = 0;
  TDateTime DeactivationTime = 0;
  std::atomic<std::int32_t> State{usActive};
  TMemberList Members;
  // The UUIDs of the groups this item belongs to.
  TGroupList BelongsTo;

 private:
  std::string uuid_;
  std::size_t memberPruneAt_ = 16;  // guarded by the Members lock
};

}  // namespace vorn
