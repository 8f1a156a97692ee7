#pragma once
// The user's records of the exported interface: the logon status and the host's user messages,
// with the look-ups of the user-message exports.
//
// The link threads add and change user messages under the user-message list's lock; each
// look-up holds it across its check and its copy or change.

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/refdata/UserMessage.h"
#include "vornintf.h"

namespace vorn {

class TClassAPI;

// The logon status as the API object holds it.
void WriteLogonStatus(const TClassAPI& api, LogonStatusStruct& record);

// Zero-fills the record, then writes the message at the index into it: 8 outside the list.
std::int32_t CopyUserMessageAt(const TUserMessageQ& messages, std::int32_t index,
                               MessageStruct& record);
// The message with the ID: 10 for an empty list (the record untouched), 15 for an unknown ID
// (the record zeroed).
std::int32_t CopyUserMessageByID(const TUserMessageQ& messages, std::string_view id,
                                 MessageStruct& record);
// Marks the message with the ID cleared and gives its sequence (0 when it is not a number);
// none for an unknown ID.
std::optional<std::int32_t> ClearUserMessage(const TUserMessageQ& messages, std::string_view id);

}  // namespace vorn
