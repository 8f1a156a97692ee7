#include "core/refdata/UserLogon.h"

#include <exception>

#include "core/diag/ClientPath.h"
#include "core/diag/Trace.h"
#include "core/store/ObjStream.h"
#include "platform/Files.h"

namespace vorn {

const TStreamClass& TUserLogon::Class() {
  static const TStreamClass& description =
      MakeStreamClass<TUserLogon>("TUserLogon", &TStreamable::Class(),
                                  TPropertyTable<TUserLogon>()
                                      .Integer("Sequence", &TUserLogon::Sequence)
                                      .String("UserName", &TUserLogon::UserName)
                                      .Integer("LastDate", &TUserLogon::LastDate)
                                      .String("DBSequence", &TUserLogon::DBSequence)
                                      .String("RefSequence", &TUserLogon::RefSequence)
                                      .String("DBIdentifier", &TUserLogon::DBIdentifier));
  return description;
}

TUserLogonQ::TUserLogonQ() : TIndexListOf<TUserLogon>("User Logon", &TUserLogon::Class()) {
  SetOwnsObjects(true);
}

bool TUserLogonQ::Load() {
  const std::string path = GetClientPath() + kLogonFileName;
  TStream stream;
  if (!OpenStoreFile(path, stream)) return false;
  try {
    if (LoadFromStream(stream, true)) return true;
    ReportDamagedStore(path, "");
  } catch (const std::exception& e) {
    WriteTraceLine(path + " not loaded: " + e.what());
    ReportDamagedStore(path, e.what());
  }
  return false;
}

bool TUserLogonQ::Save() {
  const std::string path = GetClientPath() + kLogonFileName;
  try {
    SaveToFile(path);
    return true;
  } catch (const std::exception& e) {
    WriteTraceLine(path + " not saved: " + e.what());
    return false;
  }
}

void TUserLogonQ::SetLogon(std::shared_ptr<TUserLogon> logon) {
  TIndexListLock guard(*this);
  Clear();
  Add(std::move(logon));
}

std::shared_ptr<TUserLogon> TUserLogonQ::GetLastLogon() const {
  TIndexListLock guard(*this);
  return Count() > 0 ? At(0) : nullptr;
}

}  // namespace vorn
