#pragma once
// Scripted conversations between a client and the fake host and fake price feed: a small text
// format (tests/conversations/README.md) and the runner that plays it. The script speaks for
// the servers: what they send, what the client must send, pauses, disconnects and standing
// answers. The runner stops at the first mismatch and tells the line and what was received.

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/FakeServer.h"

namespace vorn {

// A script that cannot be read; the text starts with "<name>:<line>: ", the line's place in an
// included script also telling the includes that led there.
class TConversationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One check of a received body. Host: the field Name. Price: the bytes at Offset, Width of them
// trimmed, or exactly Value's length of them when Width is -1; when Padded, Width of them are
// exactly Value followed by blanks (the layout of the feed's fixed-width requests). Value "*" is
// any value, "{x}" binds variable x (or must equal it once bound); a host Value "" means the
// field is absent. A host check reads the field's value at Occurrence (0-based).
struct TFieldCheck {
  std::string Name;
  int Occurrence = 0;
  int Offset = -1;
  int Width = -1;
  std::string Value;
  bool Padded = false;
};

enum class TStepKind {
  Timeout,
  Accept,
  Expect,
  ExpectClosed,
  Send,
  Pause,
  Disconnect,
  Rule,
  Serve
};

struct TStep {
  TStepKind Kind = TStepKind::Pause;
  int Line = 0;              // in File
  std::string File;          // the script holding the line: its name, or as an include names it
  std::string IncludedFrom;  // "<file>:<line>" of each include that led here, innermost first
  std::string Source;        // the line as written
  TFakeServerKind Link = TFakeServerKind::Host;
  std::string Code;                 // Expect, Rule, price Send; "*" matches any code
  std::vector<TFieldCheck> Checks;  // Expect, Rule; the fields a price Send writes
  int Length = -1;                  // price body length: checked by Expect, set by Send
  std::string Text;                 // host Send: the body as written in the script
  char Compression = 0;             // Send: the code letter of a compressed body; 0 for plain
  int Partial = -1;                 // Send: only this many bytes of the frame (-1: all of it)
  bool Reset = false;               // Disconnect: a reset instead of an orderly close
  int Millis = -1;                  // Timeout, Pause, Serve (-1: until stopped)
  std::vector<TStep> Actions;       // Rule: the sends and disconnects of its answer
};

class TConversation {
 public:
  // Throws TConversationError. Includes are read from folder (the working directory when empty).
  static TConversation Parse(std::string_view text, std::string name = "script",
                             std::string folder = {});
  // Includes are read from the script's own folder.
  static TConversation Load(const std::string& path);

  const std::string& Name() const { return name_; }
  const std::vector<TStep>& Steps() const { return steps_; }

 private:
  std::string name_;
  std::vector<TStep> steps_;
};

struct TConversationResult {
  bool Passed = true;
  int Line = 0;         // the failing step's line
  std::string File;     // and the script holding it
  std::string Message;  // "<file>:<line>[ (included from ...)]: <step>: <what happened>"
  explicit operator bool() const { return Passed; }
};

// A fake host and a fake price feed that wake one runner; both over TLS when tls names a
// certificate.
struct TFakeServers {
  explicit TFakeServers(std::uint16_t hostPort = 0, std::uint16_t pricePort = 0,
                        const TFakeServerTls& tls = {});
  std::shared_ptr<TServerWake> Wake;
  TFakeServer Host;
  TFakeServer Price;
};

class TConversationRunner {
 public:
  explicit TConversationRunner(TFakeServers& servers);
  // Either server may be null when no script step names its link; both must notify wake.
  TConversationRunner(TFakeServer* host, TFakeServer* price, std::shared_ptr<TServerWake> wake);

  // Receives one line per event, received and sent body (for a by-hand session).
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
  // Plays the steps in order on the calling thread. Variables and standing answers carry over
  // from earlier runs of this runner.
  TConversationResult Run(const TConversation& conversation);
  // Any thread: ends a serve step; any other waiting step fails.
  void RequestStop();

  const std::map<std::string, std::string>& Variables() const { return variables_; }

 private:
  struct TLinkState {
    TFakeServer* Server = nullptr;
    std::deque<TFakeEvent> Pending;
    int Accepted = 0;   // the connection taken by the last accept
    int DropBelow = 0;  // events of older connections are dropped (after a disconnect)
  };

  std::string Play(const TStep& step);
  std::string Accept(const TStep& step);
  std::string Expect(const TStep& step);
  std::string ExpectClosed(const TStep& step);
  std::string Send(const TStep& step, const std::map<std::string, std::string>& variables);
  std::string Disconnect(const TStep& step);
  std::string Serve(const TStep& step);
  // Takes every queued event: answered messages are consumed, the rest wait in Pending.
  void Pump();
  bool Answer(TLinkState& link, const TFakeEvent& event);
  // Pumps until ready() or the deadline; false on a time-out or a stop.
  bool WaitFor(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& ready);
  TLinkState& State(TFakeServerKind link) { return link == TFakeServerKind::Host ? host_ : price_; }
  void Log(const std::string& line) const;

  TLinkState host_;
  TLinkState price_;
  std::shared_ptr<TServerWake> wake_;
  std::vector<TStep> rules_;
  std::map<std::string, std::string> variables_;
  int timeoutMs_ = 5000;
  std::atomic<bool> stop_{false};
  std::function<void(const std::string&)> log_;
};

// "<file>:<line>" of a step, with the includes that led to it.
std::string StepPlace(const TStep& step);

// Checks a body against a step's code and checks, binding variables; empty when it matches,
// else what differs.
std::string MatchBody(const TStep& step, std::string_view body,
                      std::map<std::string, std::string>& variables);
// The body a send step writes, with variables put in; throws TConversationError for an unbound one.
std::string BuildBody(const TStep& step, const std::map<std::string, std::string>& variables);

}  // namespace vorn
