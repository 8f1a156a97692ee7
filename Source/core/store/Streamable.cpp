#include "core/store/Streamable.h"

#include <algorithm>
#include <random>
#include <typeinfo>

#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"

namespace vorn {

int ComparePropNames(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = static_cast<unsigned char>(a[i]) & ~0x20;
    const int y = static_cast<unsigned char>(b[i]) & ~0x20;
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

std::size_t MinEncodedSize(TPropKind kind) {
  switch (kind) {
    case TPropKind::Float:
      return 10;
    case TPropKind::Int64:
      return 8;
    default:
      return 1;  // a compact integer, a char, or a string's length
  }
}

}  // namespace

TStreamClass::TStreamClass(const char* name, const TStreamClass* parent, TFactory create,
                           TInstanceTest isInstance, std::vector<TPropInfo> ownProperties)
    : name_(name), parent_(parent), create_(create), isInstance_(isInstance) {
  if (parent_) properties_ = parent_->properties_;
  for (auto& own : ownProperties) {
    auto hidden = std::find_if(properties_.begin(), properties_.end(), [&](const TPropInfo& p) {
      return ComparePropNames(p.Name, own.Name) == 0;
    });
    if (hidden != properties_.end()) {
      *hidden = std::move(own);
    } else {
      properties_.push_back(std::move(own));
    }
  }
  std::stable_sort(
      properties_.begin(), properties_.end(),
      [](const TPropInfo& a, const TPropInfo& b) { return ComparePropNames(a.Name, b.Name) < 0; });
  for (const auto& p : properties_)
    minStreamSize_ += MinEncodedSize(p.Kind);
}

std::shared_ptr<TStreamable> TStreamClass::Create() const {
  if (!create_) throw EAbstractError(std::string("Cannot create an instance of ") + name_);
  return create_();
}

const TStreamClass& TStreamable::Class() {
  static const TStreamClass& description = MakeStreamClass<TStreamable>("TStreamable", nullptr);
  return description;
}

std::shared_ptr<TStreamable> TStreamable::Clone() const {
  const TStreamClass& description = StreamClass();
  TStream stream;
  WriteProperties(stream, *this, description);
  WriteExtra(stream);
  stream.SetPosition(0);
  auto copy = description.Create();
  // A class that does not override StreamClass would be copied as its parent.
  const TStreamable& made = *copy;
  if (typeid(made) != typeid(*this))
    throw EAssertionFailed(std::string(ClassName()) + " is not described by its stream class");
  ReadProperties(stream, *copy, description);
  copy->ReadExtra(stream);
  return copy;
}

std::string NewGUIDText() {
  thread_local std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const std::uint64_t r = generator();
    for (int j = 0; j < 8; ++j)
      bytes[i + j] = static_cast<std::uint8_t>(r >> (8 * j));
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(38);
  text += '{';
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  text += '}';
  return text;
}

const TStreamClass& TUUIDStreamable::Class() {
  static const TStreamClass& description =
      MakeStreamClass<TUUIDStreamable>("TUUIDStreamable", &TStreamable::Class());
  return description;
}

void TUUIDStreamable::SetUUID(std::string_view text) {
  uuid_ = text.empty() ? NewGUIDText() : std::string(text);
}

void TUUIDStreamable::SetTimeStamp(int kind) {
  ExpiryTime = 0;
  ActivationTime = 0;
  DeactivationTime = 0;
  switch (kind) {
    case skActivation:
      ActivationTime = Now();
      break;
    case skDeactivation:
      DeactivationTime = Now();
      break;
    case skExpiry:
      ExpiryTime = Now();
      break;
    default:
      break;
  }
}

bool TUUIDStreamable::CanPurge(TDateTime time) const {
  return ExpiryTime != 0 && ExpiryTime <= time && State == usExpired;
}

void TUUIDStreamable::AddMember(const std::shared_ptr<TUUIDStreamable>& member) {
  auto members = Members.LockList();
  if (members->size() >= memberPruneAt_) {
    std::erase_if(*members, [](const std::weak_ptr<TUUIDStreamable>& entry) {
      return entry.expired();
    });
    memberPruneAt_ = std::max<std::size_t>(16, 2 * members->size());
  }
  members->push_back(std::weak_ptr<TUUIDStreamable>(member));
}

void TUUIDStreamable::NotifyMembers(int action, TDateTime time) {
  if (action < maActivate || action > maPurge) return;
  std::vector<std::shared_ptr<TUUIDStreamable>> live;
  {
    auto members = Members.LockList();
    live.reserve(members->size());
    for (auto it = members->rbegin(); it != members->rend(); ++it) {
      if (auto member = it->lock()) live.push_back(std::move(member));
    }
  }
  for (const auto& member : live) {
    switch (action) {
      case maActivate:
        member->Activate(true);
        break;
      case maDeactivate:
        member->Deactivate(true);
        break;
      case maExpire:
        member->Expire();
        break;
      case maPurge:
        member->Purge(time);
        break;
    }
  }
  if (action != maPurge) return;
  auto members = Members.LockList();
  std::erase_if(*members, [&](const std::weak_ptr<TUUIDStreamable>& entry) {
    const auto member = entry.lock();
    return !member || std::find(live.begin(), live.end(), member) != live.end();
  });
}

}  // namespace vorn
