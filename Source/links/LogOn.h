#pragma once
// The logon body shared by vnLogOn and the automatic re-logon after a lost host link: checks
// the new password, encrypts the passwords until a logon has succeeded, and sends the login
// request on the host link (which holds it until it is connected).

#include <cstdint>

#include "vornintf.h"

namespace vorn {

class TClassAPI;

// The result code of vnLogOn (0, 17, 37, 35 or 13). With passwordsEncrypted the record already
// holds the encrypted passwords (the re-logon sends what the last logon stored) and nothing is
// encrypted again.
std::int32_t DoLogOn(TClassAPI& api, LogonStruct& logon, bool passwordsEncrypted);

// A new password is acceptable text (17 when not) holding a digit and a letter (37 when not);
// one of only blanks counts as none. 0 when acceptable.
std::int32_t CheckNewPassword(const LogonStruct& logon);

// The re-logon record: the stored user and (encrypted) password, no new password, a full
// download when the last one did not end.
LogonStruct StoredLogon(const TClassAPI& api);

}  // namespace vorn
