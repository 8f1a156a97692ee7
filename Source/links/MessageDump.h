#pragma once
// The message dumps of the links, written to the trace file while the link's message log flag
// (GenerateHostLog or GeneratePriceFeedLog) is on. Bytes 32 to 122 are written as they are,
// every other byte as "?"; credential items are left out (MaskedItemLength) so that user names
// and passwords never reach the file.

#include <string>
#include <string_view>

#include "core/session/Link.h"
#include "core/wire/FieldsList.h"

namespace vorn {

// True when the message log of the link's kind is switched on.
bool MessageLogOn(TLinkKind kind);

// Appends the dump text of bytes: printable bytes as they are, others as "?", masked items
// left out up to their separator (whose "?" is written).
void AppendDumpText(std::string& out, std::string_view bytes);

// The received-data dump: a ring note (the label, "debugmsg"), then one trace-file line of the
// time, the label, the dump text and "|".
void DumpReceivedMessage(std::string_view label, std::string_view body);

// The dump of one received body, when the link's message log is on: "Decompress:" for a
// decompressed body, "Recv:" for a plain one; a plain body is left out when DumpLeavesOut says
// so (a contract-date body while the initial download runs).
void DumpReceivedBody(TLinkKind kind, std::string_view body, bool decompressed,
                      bool downloadInProgress);

// The dump of one sent frame (length word and body), when the link's message log is on:
// "Hst.send: " or "Prc.send: ", the length bytes, the body's dump text and "|".
void DumpSentFrame(TLinkKind kind, std::string_view frame);

}  // namespace vorn
