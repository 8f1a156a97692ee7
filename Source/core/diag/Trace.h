#pragma once
// Diagnostics: the debug flags, the trace ring kept in memory at all times, and the trace file.
//
// One re-entrant lock, the trace lock, guards the trace file and its byte count, and every dump;
// it is the leaf of the lock order, so nothing that takes another lock runs under it. The ring
// has a spin lock of its own below it, held only to copy into or out of the slots: an entry
// costs a few copies, whichever thread writes it. Output routines never report failures: a log
// that cannot be written is skipped.
//
// Trace-file lines are stamped, counted and checked for rollover when they are written, in the
// order of the calls under the trace lock. A thread inside a TTraceFileBatch leaves its lines in
// one pending buffer (shared by all threads, under the trace lock) instead of writing each; the
// batch's end writes them in one write. A line written outside a batch writes the pending ones
// first and itself with them, so the file keeps the order of the calls.

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace vorn {

// ---------------------------------------------------------------------------------------------
// Debug flags: eight switches, all off at load.

inline constexpr std::uint8_t kDebugging = 1;             // general trace lines
inline constexpr std::uint8_t kGenerateHostLog = 2;       // host link message dumps
inline constexpr std::uint8_t kGeneratePriceFeedLog = 4;  // price-feed link message dumps
inline constexpr std::uint8_t kGenerateDOMLog = 8;        // set and cleared only
inline constexpr std::uint8_t kGenerateOrderLog = 16;     // order road trace lines
inline constexpr std::uint8_t kFlushBugBuster = 32;       // ring dump into the error log at close
inline constexpr std::uint8_t kTraceAppCalls = 64;        // one line per export call
inline constexpr std::uint8_t kDebugDebugging = 128;      // socket-level trace lines

// Sets the given bits and switches extra trace detail on; the detail switch stays on for the
// rest of the process whatever bits are given.
void EnableDebugFlags(std::uint8_t bits);
// Clears the given bits; extra trace detail is left as it is.
void DisableDebugFlags(std::uint8_t bits);
std::uint8_t DebugFlags();
// True when any of the given bits is set.
bool DebugFlagOn(std::uint8_t bits);
// A trace line written only with the GenerateOrderLog switch on.
void TraceOrderLog(std::string_view line);
bool TracingOrderLog();
// The same with the line made only when it is written.
template <class MakeLine>
requires std::invocable<MakeLine>
void TraceOrderLog(MakeLine&& makeLine) {
  if (TracingOrderLog()) TraceOrderLog(std::string_view(makeLine()));
}
// An export's own trace line, written only with the TraceAppCalls switch on.
bool TracingAppCalls();
void TraceAppCall(std::string_view line);
// The same with the line made only when it is written (for calls an application polls).
template <class MakeLine>
requires std::invocable<MakeLine>
void TraceAppCall(MakeLine&& makeLine) {
  if (TracingAppCalls()) TraceAppCall(std::string_view(makeLine()));
}
bool ExtraTraceDetail();

// ---------------------------------------------------------------------------------------------
// A log file written a whole text at a time: unbuffered, so each Write is one write.

class TTextFile {
 public:
  enum class TMode { Replace, Append };

  TTextFile() = default;
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;
  ~TTextFile() { Close(); }

  // Creates the file, replacing or appending to an existing one; false when it cannot.
  bool Open(const std::string& path, TMode mode);
  bool IsOpen() const { return file_ != nullptr; }
  // Size of the file in bytes (0 when closed).
  std::uint64_t Size() const;
  bool Write(std::string_view text);
  void Close();

 private:
  std::FILE* file_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Trace ring: a fixed number of slots written in place, the oldest overwritten first.

enum TTraceLevel : std::uint8_t { tlEmpty = 0, tlNote = 1, tlStart = 2, tlExit = 3 };

struct TTraceEntry {
  TDateTime Time = 0;
  std::uint8_t Level = tlEmpty;
  std::string Routine;
  std::string Text;
};

inline constexpr std::size_t kTraceRingSize = 500;

// Sizes the ring to count slots, all empty. Before the first call the ring has no slots and
// entries are dropped.
void InitTraceRing(std::size_t count);
// Writes the entry with the current time (coarse: to a few milliseconds) into the next slot.
void AddTraceEntry(std::uint8_t level, std::string_view routine, std::string_view text = {});
// The same with the text text + more, composed in the slot (no text is built for the call).
void AddTraceEntry(std::uint8_t level, std::string_view routine, std::string_view text,
                   std::string_view more);

// Appends the time of day as "hh:nn:ss.zzz".
void AppendTraceTime(std::string& out, TDateTime time);

// The ring dump: an empty line, "## Diagnostic Traceback ##", every filled slot oldest first
// (indented by start/exit nesting), an empty line. The ring is copied under the trace lock and
// formatted outside it.
std::string FormatTraceback();
void DumpTraceback(TTextFile& file);

// Adds a start entry now and an exit entry when the scope ends normally. When an exception
// leaves the scope no exit entry is written: the ring then shows where the failure happened,
// and the boundary handler adds its own exit entry. The texts must outlive the scope.
class TTraceScope {
 public:
  explicit TTraceScope(std::string_view routine, std::string_view startText = {},
                       std::string_view exitText = {})
      : routine_(routine), exitText_(exitText), exceptions_(std::uncaught_exceptions()) {
    AddTraceEntry(tlStart, routine_, startText);
  }
  TTraceScope(const TTraceScope&) = delete;
  TTraceScope& operator=(const TTraceScope&) = delete;
  ~TTraceScope() {
    if (std::uncaught_exceptions() == exceptions_) AddTraceEntry(tlExit, routine_, exitText_);
  }

 private:
  std::string_view routine_;
  std::string_view exitText_;
  int exceptions_;
};

// ---------------------------------------------------------------------------------------------
// Trace file: "VornDLLTrace_" + stamp + ".Log" in the client path, five older generations
// ".Bak1" to ".Bak5", and a new generation when the byte count reaches the limit.

// The process's stamp (yyMMdd_hhnnss, fixed at first use), "_" and the next generation number.
std::string MakeTraceFileStamp();
// Closes the current trace file, rotates the older ones and starts a new file with its header.
// Any failure leaves tracing without a file.
void OpenTraceFile();
void CloseTraceFile();
bool TraceFileOpen();

// Writes "hh:nn:ss.zzz " + text + CR LF to the trace file.
void WriteTraceLine(std::string_view text);
// Writes text without a line end, after the time and a blank when stamped. Callers that
// compose one output from several texts hold the trace lock around them.
void WriteTraceText(std::string_view text, bool stamped);

// While an object of this class lives, the calling thread's trace-file texts are held in the
// pending buffer (see the top of this file; at most about 64 KB, then written); its end writes
// them. Link socket threads hold one around applying the bytes they read and end it before
// they wait again. Nests; any thread; no lock held at the end (it takes the trace lock).
class TTraceFileBatch {
 public:
  TTraceFileBatch();
  TTraceFileBatch(const TTraceFileBatch&) = delete;
  TTraceFileBatch& operator=(const TTraceFileBatch&) = delete;
  ~TTraceFileBatch();
};
// Writes the pending trace-file texts now. Any thread; takes the trace lock. Error-log writes,
// FlushDebugFiles, closing and rollover do it.
void FlushTraceFile();

// The masking of every message dump: an item of tagged text (starting at the start of a message
// or just after a 0x01 separator) that begins with "Usr", "Pwd" or "NPw" is left out up to the
// next 0x01, whatever bytes it holds. Returns how many bytes of item to leave out: 0 when it is
// not masked, else the bytes before the next 0x01 (all of item when it has none).
std::size_t MaskedItemLength(std::string_view item);
// The text of a message dump: the message with the items keyed "Usr", "Pwd" and "NPw" masked
// (each such item shows only as the "?" of its separator). A byte outside 32..122 writes the
// field's printable bytes gathered so far and a '?'; only the 0x01 separator starts a new field,
// so a field's text before another control byte is written again at the next one, and the bytes
// after a field's last control byte are not written.
void AppendMaskedMessage(std::string& out, std::string_view message);
// Writes one tagged-text message as AppendMaskedMessage makes it.
void DumpMessage(std::string_view message);
// Appends one line of a labelled dump: a line end, the label padded with blanks to the width,
// then the value.
void AppendDumpLine(std::string& dump, std::string_view label, std::string_view value,
                    std::size_t width = 0);
// The same with a label written ahead of the message; the message's first item starts after it.
void DumpMessage(std::string_view label, std::string_view message);

void EnterTraceLock();
void LeaveTraceLock();

class TTraceLockGuard {
 public:
  TTraceLockGuard() { EnterTraceLock(); }
  TTraceLockGuard(const TTraceLockGuard&) = delete;
  TTraceLockGuard& operator=(const TTraceLockGuard&) = delete;
  ~TTraceLockGuard() { LeaveTraceLock(); }
};

// A string of the library's version block ("ProductVersion", "PrivateBuild"); empty for any
// other name.
std::string GetVersionInfoValue(std::string_view name);

// ---------------------------------------------------------------------------------------------
// Test hooks.

inline constexpr std::uint32_t kTraceRolloverLimit = 50000000;

// Lowers (or restores, with 0) the byte count at which the trace file rolls over.
void SetTraceRolloverLimit(std::uint32_t limit);
std::uint32_t TraceByteCount();
// Full name of the open trace file; empty when there is none.
std::string TraceFileName();
// Closes the trace file, forgets the stamp and generation, empties the ring, restores the limit.
void ResetTraceState();

}  // namespace vorn
