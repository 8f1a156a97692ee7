#pragma once
// The message host of both libraries: a message that sends itself (TVornMessage::Send) goes out
// on the links of the current API object, whichever link layer made them.

namespace vorn {

// Installs the host for the process; idempotent. Any thread.
void InstallCurrentAPIMessageHost();

}  // namespace vorn
