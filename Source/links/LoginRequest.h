#pragma once
// The host logon request (3362). Building it also decides whether the host sends the whole
// initial download or only what changed since the last logon, and resets the client's resume
// points and lists when it asks for the whole download.

#include "core/wire/VornMessage.h"
#include "vornintf.h"

namespace vorn {

class TClassAPI;

class TMMHUBLogin : public TSendHostMessage {
 public:
  TMMHUBLogin();

  // Fills the fields from the caller's record (passwords already encrypted by vnLogOn) and the
  // API object's state, and updates that state: the download and logon-sent flags, the user
  // name and the password kept for the re-logon. A full download resets the resume points,
  // stops and joins the contract-data thread, then empties the lists. Call once, with no list
  // lock held. The record's texts are read bounded by their fields.
  void BuildFields(TClassAPI& api, const LogonStruct& logon);
  // The link holds a logon until it is connected.
  bool HeldUntilConnected() const override { return true; }
  void FillBuffer(TDynamicBuffer& buffer) override;
};

}  // namespace vorn
