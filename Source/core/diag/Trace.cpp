#include "core/diag/Trace.h"

#include <charconv>
#include <mutex>
#include <vector>

#include "core/diag/ClientPath.h"
#include "core/util/DateTime.h"
#include "core/util/Text.h"
#include "core/util/Version.h"
#include "platform/Files.h"
#include "platform/Locks.h"
#include "platform/ProcessWide.h"

namespace vorn {
namespace {

std::atomic<std::uint8_t> debugFlags{0};
std::atomic<bool> extraTraceDetail{false};

constexpr const char* kTraceLevelPrefixes[] = {"", "..   : ", "Start: ", "Exit:  "};
constexpr std::size_t kTraceTimeLength = 12;  // "hh:nn:ss.zzz"
// Pending texts are written once they reach this many bytes, even inside a batch.
constexpr std::size_t kTraceBatchLimit = 64 * 1024;

// This thread's batch nesting. A plain int: a thread_local with a destructor would run after
// the library is unloaded.
thread_local int traceBatchDepth = 0;

struct TTraceState {
  TCriticalSection lock;
  TSpinLock ringLock;  // guards ring and index; taken under lock or alone, nothing under it
  std::vector<TTraceEntry> ring;
  std::size_t index = 0;

  TTextFile file;
  std::atomic<bool> fileOpen{false};  // read without the lock to skip work when there is no file
  std::string fileName;
  std::string folder;  // where the current generation lives; rollover files go there too
  std::int64_t byteCount = 2;
  std::int64_t rolloverLimit = kTraceRolloverLimit;
  std::string stamp;
  std::uint32_t generation = 0;
  std::string pending;  // counted texts not yet written to file, in call order
};

// Threads may still trace while static objects are being torn down.
TProcessWide<TTraceState> state;
TTraceState& State() {
  return state.Get();
}

void AppendTwoDigits(std::string& out, int value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

void AppendDecimal(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// The new name of a rotated file: the old one without its extension, plus the new extension.
std::string ChangeExtension(const std::string& name, std::string_view extension) {
  const auto dot = name.rfind('.');
  std::string result = dot == std::string::npos ? name : name.substr(0, dot);
  result += extension;
  return result;
}

// Deletes the oldest generation and moves every other one up by one. Renames never replace a
// file, so a pass stops at the first name that is taken (or any other failure).
void RotateTraceFiles(const std::string& folder) {
  for (const auto& name : FindFiles(folder, "VornDLLTrace*.Bak5"))
    DeleteFile(folder + name);
  static constexpr std::string_view kPasses[][2] = {
      {".Bak4", ".Bak5"}, {".Bak3", ".Bak4"}, {".Bak2", ".Bak3"},
      {".Bak1", ".Bak2"}, {".Log", ".Bak1"},
  };
  for (const auto& pass : kPasses) {
    const std::string pattern = "VORNDLLTRACE*" + std::string(pass[0]);
    for (const auto& name : FindFiles(folder, pattern)) {
      if (!RenameFileNoReplace(folder + name, folder + ChangeExtension(name, pass[1]))) break;
    }
  }
}

// Under the trace lock: writes the pending texts to the current file.
void WritePendingLocked(TTraceState& state) {
  if (state.pending.empty()) return;
  state.file.Write(state.pending);
  state.pending.clear();
  // One long text must not keep its capacity for good.
  if (state.pending.capacity() > 4 * kTraceBatchLimit) std::string().swap(state.pending);
}

// Under the trace lock: the pending texts go to the file they were counted in.
void CloseFileLocked(TTraceState& state) {
  WritePendingLocked(state);
  state.file.Close();
}

// Under the trace lock.
void OpenGenerationLocked(TTraceState& state) {
  CloseFileLocked(state);
  state.fileName = state.folder + "VornDLLTrace_" + MakeTraceFileStamp() + ".Log";
  state.file.Open(state.fileName, TTextFile::TMode::Replace);
  state.fileOpen.store(state.file.IsOpen(), std::memory_order_relaxed);
  if (!state.file.IsOpen()) state.fileName.clear();
  state.byteCount = 2;
}

// Under the trace lock, before a text of the given length is written. The "half the length"
// comparison keeps each file near the limit whatever the size of its last text.
void CheckTraceRollover(TTraceState& state, std::size_t length) {
  if (static_cast<std::int64_t>(length / 2) > state.rolloverLimit - state.byteCount)
    OpenGenerationLocked(state);
}

// Under the trace lock: counts and writes one composed text whose first `length` bytes are the
// counted part (the line end is not counted).
void WriteCountedLocked(TTraceState& state, std::string_view text, std::size_t length) {
  if (!state.file.IsOpen()) return;
  CheckTraceRollover(state, length);
  if (!state.file.IsOpen()) return;
  state.byteCount += static_cast<std::int64_t>(length);
  if (traceBatchDepth == 0 && state.pending.empty()) {
    state.file.Write(text);
    return;
  }
  state.pending.append(text);
  if (traceBatchDepth == 0 || state.pending.size() >= kTraceBatchLimit) WritePendingLocked(state);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void EnableDebugFlags(std::uint8_t bits) {
  debugFlags.fetch_or(bits, std::memory_order_relaxed);
  extraTraceDetail.store(true, std::memory_order_relaxed);
}

void DisableDebugFlags(std::uint8_t bits) {
  debugFlags.fetch_and(static_cast<std::uint8_t>(~bits), std::memory_order_relaxed);
}

std::uint8_t DebugFlags() {
  return debugFlags.load(std::memory_order_relaxed);
}

bool DebugFlagOn(std::uint8_t bits) {
  return (DebugFlags() & bits) != 0;
}

void TraceOrderLog(std::string_view line) {
  if (TracingOrderLog()) WriteTraceLine(line);
}

bool TracingOrderLog() {
  return DebugFlagOn(kGenerateOrderLog);
}

bool TracingAppCalls() {
  return DebugFlagOn(kTraceAppCalls);
}

void TraceAppCall(std::string_view line) {
  if (TracingAppCalls()) WriteTraceLine(line);
}

bool ExtraTraceDetail() {
  return extraTraceDetail.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------

bool TTextFile::Open(const std::string& path, TMode mode) {
  Close();
  file_ = std::fopen(path.c_str(), mode == TMode::Replace ? "wbe" : "abe");
  // Texts are written whole: a stream buffer would split a long one into two writes.
  if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
  return file_ != nullptr;
}

std::uint64_t TTextFile::Size() const {
  if (!file_) return 0;
  if (std::fseek(file_, 0, SEEK_END) != 0) return 0;
  const long size = std::ftell(file_);
  return size < 0 ? 0 : static_cast<std::uint64_t>(size);
}

bool TTextFile::Write(std::string_view text) {
  if (!file_) return false;
  return std::fwrite(text.data(), 1, text.size(), file_) == text.size();
}

void TTextFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

// ---------------------------------------------------------------------------------------------

void InitTraceRing(std::size_t count) {
  std::vector<TTraceEntry> ring(count);
  auto& state = State();
  std::lock_guard lock(state.ringLock);
  state.ring.swap(ring);
  state.index = 0;
}

void AddTraceEntry(std::uint8_t level, std::string_view routine, std::string_view text) {
  AddTraceEntry(level, routine, text, {});
}

void AddTraceEntry(std::uint8_t level, std::string_view routine, std::string_view text,
                   std::string_view more) {
  const TDateTime time = NowCoarse();
  auto& state = State();
  std::lock_guard lock(state.ringLock);
  if (state.ring.empty()) return;
  TTraceEntry& slot = state.ring[state.index];
  slot.Time = time;
  slot.Level = level;
  slot.Routine.assign(routine);  // assign keeps the slot's capacity
  slot.Text.assign(text);
  slot.Text.append(more);
  if (++state.index == state.ring.size()) state.index = 0;
}

void AppendTraceTime(std::string& out, TDateTime time) {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeTime(time, hour, minute, second, millisecond);
  AppendTwoDigits(out, hour);
  out += ':';
  AppendTwoDigits(out, minute);
  out += ':';
  AppendTwoDigits(out, second);
  out += '.';
  out += static_cast<char>('0' + millisecond / 100 % 10);
  AppendTwoDigits(out, millisecond % 100);
}

std::string FormatTraceback() {
  std::vector<TTraceEntry> ring;
  std::size_t index = 0;
  {
    auto& state = State();
    std::lock_guard lock(state.ringLock);
    ring = state.ring;
    index = state.index;
  }
  std::string out = "\r\n## Diagnostic Traceback ##\r\n";
  std::string indent;
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const TTraceEntry& entry = ring[(index + k) % ring.size()];
    if (entry.Level == tlEmpty) continue;
    if (entry.Level == tlExit && !indent.empty()) indent.pop_back();
    AppendTraceTime(out, entry.Time);
    out += ' ';
    out += entry.Level < std::size(kTraceLevelPrefixes) ? kTraceLevelPrefixes[entry.Level] : "";
    out += indent;
    out += entry.Routine;
    out += ' ';
    out += entry.Text;
    out += "\r\n";
    if (entry.Level == tlStart) indent += ' ';
  }
  out += "\r\n";
  return out;
}

void DumpTraceback(TTextFile& file) {
  file.Write(FormatTraceback());
}

// ---------------------------------------------------------------------------------------------

std::string MakeTraceFileStamp() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  if (state.stamp.empty()) state.stamp = FormatDateTime("yymmdd_hhnnss", Now());
  std::string result = state.stamp;
  result += '_';
  AppendDecimal(result, ++state.generation);
  return result;
}

void OpenTraceFile() {
  // Read outside the trace lock: the client path has a lock of its own.
  std::string folder;
  try {
    folder = GetClientPath();
  } catch (...) {
    return;
  }
  auto& state = State();
  std::lock_guard lock(state.lock);
  try {
    CloseFileLocked(state);
    state.fileOpen.store(false, std::memory_order_relaxed);
    state.fileName.clear();
    state.folder = folder;
    RotateTraceFiles(folder);
    OpenGenerationLocked(state);
    if (!state.file.IsOpen()) return;
    std::string header = "VORNAPI ";
    header += kInterfaceVersion;
    header += " started at " + DateTimeToStr(Now()) + ".\r\n";
    header += "InterfaceVersion: ";
    header += kInterfaceVersionFull;
    header += "\r\nProductVersion:   " + GetVersionInfoValue("ProductVersion");
    header += "\r\nPrivateBuild:     " + GetVersionInfoValue("PrivateBuild");
    header += "\r\n\r\n";
    state.file.Write(header);
  } catch (...) {
    state.file.Close();
    state.pending.clear();
    state.fileOpen.store(false, std::memory_order_relaxed);
    state.fileName.clear();
  }
}

void CloseTraceFile() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  CloseFileLocked(state);
  state.fileOpen.store(false, std::memory_order_relaxed);
  state.fileName.clear();
}

bool TraceFileOpen() {
  return State().fileOpen.load(std::memory_order_relaxed);
}

void WriteTraceLine(std::string_view text) {
  auto& state = State();
  if (!state.fileOpen.load(std::memory_order_relaxed)) return;
  // A local buffer: a thread_local with a destructor would run after the library is unloaded.
  std::string line;
  line.reserve(kTraceTimeLength + 3 + text.size());
  AppendTraceTime(line, Now());
  line += ' ';
  line += text;
  const std::size_t length = line.size();
  line += "\r\n";
  std::lock_guard lock(state.lock);
  WriteCountedLocked(state, line, length);
}

TTraceFileBatch::TTraceFileBatch() {
  ++traceBatchDepth;
}

TTraceFileBatch::~TTraceFileBatch() {
  if (--traceBatchDepth == 0) FlushTraceFile();
}

void FlushTraceFile() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  WritePendingLocked(state);
}

void WriteTraceText(std::string_view text, bool stamped) {
  auto& state = State();
  if (!state.fileOpen.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(state.lock);  // re-entrant: callers composing a dump already hold it
  if (!stamped) {
    WriteCountedLocked(state, text, text.size());
    return;
  }
  std::string out;
  out.reserve(kTraceTimeLength + 1 + text.size());
  AppendTraceTime(out, Now());
  out += ' ';
  out += text;
  WriteCountedLocked(state, out, out.size());
}

std::size_t MaskedItemLength(std::string_view item) {
  if (!(item.starts_with("Usr") || item.starts_with("Pwd") || item.starts_with("NPw"))) return 0;
  const std::size_t separator = item.find('\x01');
  return separator == std::string_view::npos ? item.size() : separator;
}

void DumpMessage(std::string_view message) {
  DumpMessage({}, message);
}

void AppendDumpLine(std::string& dump, std::string_view label, std::string_view value,
                    std::size_t width) {
  dump += "\r\n";
  dump += label;
  if (label.size() < width) dump.append(width - label.size(), ' ');
  dump += value;
}

void AppendMaskedMessage(std::string& out, std::string_view message) {
  const auto printable = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 32 && byte <= 122;
  };
  const std::size_t size = message.size();
  std::size_t i = 0;
  while (i < size) {
    i += MaskedItemLength(message.substr(i));  // a field starts here
    // The field's printable bytes so far were written last at out[fieldAt, fieldAt + fieldLength).
    std::size_t fieldAt = 0;
    std::size_t fieldLength = 0;
    std::size_t run = i;
    for (;;) {
      while (i < size && printable(message[i]))
        ++i;
      if (i == size) return;  // the bytes after the field's last control byte are not written
      const std::size_t runLength = i - run;
      const std::size_t at = out.size();
      if (fieldLength != 0) {
        out.reserve(at + fieldLength + runLength + 1);  // no reallocation while out copies itself
        out.append(out, fieldAt, fieldLength);
      }
      out.append(message.data() + run, runLength);
      out += '?';
      fieldAt = at;
      fieldLength += runLength;
      if (message[i++] == '\x01') break;
      run = i;
    }
  }
}

void DumpMessage(std::string_view label, std::string_view message) {
  AddTraceEntry(tlNote, "TConnection.Send", "debugmsg");
  if (!TraceFileOpen()) return;
  std::string out(label);
  out.reserve(label.size() + message.size() + 2);
  AppendMaskedMessage(out, message);
  out += "\r\n";
  WriteTraceText(out, true);
}

void EnterTraceLock() {
  State().lock.Enter();
}

void LeaveTraceLock() {
  State().lock.Leave();
}

std::string GetVersionInfoValue(std::string_view name) {
  if (SameText(name, "ProductVersion")) return kProductVersion;
  if (SameText(name, "PrivateBuild")) return kPrivateBuild;
  return {};
}

// ---------------------------------------------------------------------------------------------

void SetTraceRolloverLimit(std::uint32_t limit) {
  auto& state = State();
  std::lock_guard lock(state.lock);
  state.rolloverLimit = limit == 0 ? kTraceRolloverLimit : limit;
}

std::uint32_t TraceByteCount() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  return static_cast<std::uint32_t>(state.byteCount);
}

std::string TraceFileName() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  return state.fileName;
}

void ResetTraceState() {
  auto& state = State();
  std::lock_guard lock(state.lock);
  CloseFileLocked(state);
  state.fileOpen.store(false, std::memory_order_relaxed);
  state.fileName.clear();
  state.folder.clear();
  state.byteCount = 2;
  state.rolloverLimit = kTraceRolloverLimit;
  state.stamp.clear();
  state.generation = 0;
  std::vector<TTraceEntry> ring;
  std::lock_guard ringLock(state.ringLock);
  state.ring.swap(ring);
  state.index = 0;
}

}  // namespace vorn
