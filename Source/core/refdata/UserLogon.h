#pragma once
// The logon history: the last logon's sequences and database identity, kept in "logon.dat".

#include <cstdint>
#include <memory>
#include <string>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

inline constexpr const char* kLogonFileName = "logon.dat";

class TUserLogon : public TStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  std::int32_t Sequence = 0;
  std::string UserName;
  std::int32_t LastDate = 0;
  std::string DBSequence;
  std::string RefSequence;
  std::string DBIdentifier;
};

// "User Logon": no key, append order; holds one record.
class TUserLogonQ : public TIndexListOf<TUserLogon> {
 public:
  TUserLogonQ();

  // When "logon.dat" exists in the client path: a file with this build's store header replaces
  // the list's content (true when it was read whole); a file with another header is deleted.
  // Failures are traced, never thrown.
  bool Load();
  // Writes the list to "logon.dat" in the client path; false (traced) when it cannot.
  bool Save();
  // Replaces every record by the given one.
  void SetLogon(std::shared_ptr<TUserLogon> logon);
  // The first record, or null.
  std::shared_ptr<TUserLogon> GetLastLogon() const;

 protected:
  void KeyOf(const TUserLogon&, std::string& key) const override { key.clear(); }
};

}  // namespace vorn
