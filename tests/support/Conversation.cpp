#include "support/Conversation.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/wire/FieldsList.h"
#include "support/CompressEncoder.h"

namespace vorn {
namespace {

using Clock = std::chrono::steady_clock;

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
    text.remove_suffix(1);
  return text;
}

// Words split at blanks; double quotes keep blanks inside a word and are removed.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool inWord = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

// The text after the first n words of a line, as written.
std::string_view RestAfterWords(std::string_view line, int n) {
  line = TrimView(line);
  for (int i = 0; i < n; ++i) {
    const auto blank = line.find_first_of(" \t");
    line = blank == std::string_view::npos ? std::string_view() : TrimView(line.substr(blank));
  }
  return line;
}

// "{name}" as a whole value: the variable's name, else empty.
std::string_view VariableName(std::string_view value) {
  if (value.size() > 2 && value.front() == '{' && value.back() == '}' &&
      value.find_first_of("{}", 1) == value.size() - 1)
    return value.substr(1, value.size() - 2);
  return {};
}

std::string Substitute(std::string_view text, const std::map<std::string, std::string>& variables) {
  std::string out;
  std::size_t position = 0;
  while (position < text.size()) {
    const auto open = text.find('{', position);
    const auto close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) break;
    out.append(text.substr(position, open - position));
    const std::string name(text.substr(open + 1, close - open - 1));
    const auto found = variables.find(name);
    if (found == variables.end()) throw TConversationError("variable {" + name + "} is not bound");
    out += found->second;
    position = close + 1;
  }
  out.append(text.substr(std::min(position, text.size())));
  return out;
}

bool ReadScript(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream read;
  read << file.rdbuf();
  text = read.str();
  return true;
}

std::string Place(const std::string& file, int line, const std::string& includedFrom) {
  std::string place = file + ":" + std::to_string(line);
  if (!includedFrom.empty()) place += " (included from " + includedFrom + ")";
  return place;
}

// Where a script's lines come from.
struct TScriptSource {
  std::string Name;          // as reports show it
  std::string Folder;        // includes are relative to it; empty: the working directory
  std::string IncludedFrom;  // see TStep
  // The files being read, outermost first (a script given as text is not among them), by their
  // canonical paths and by their names: an include of one of them is a cycle.
  std::vector<std::string> OpenPaths;
  std::vector<std::string> OpenNames;
};

std::string CanonicalPath(const std::filesystem::path& path) {
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(path, error);
  return (error ? path.lexically_normal() : canonical).string();
}

class TParser {
 public:
  explicit TParser(TScriptSource source) : source_(std::move(source)) {}

  std::vector<TStep> Parse(std::string_view text) {
    std::vector<TStep> steps;
    std::istringstream lines{std::string(text)};
    std::string raw;
    TStep* rule = nullptr;
    while (std::getline(lines, raw)) {
      ++line_;
      const std::string_view source = TrimView(raw);
      if (source.empty() || source.front() == '#') continue;
      const auto words = Words(source);
      if (words[0] == "end") {
        if (!rule) Fail("end without on");
        rule = nullptr;
        continue;
      }
      if (words[0] == "include") {
        if (rule) Fail("include does not belong in an on block");
        if (words.size() != 2) Fail("wrong number of words for include");
        std::vector<TStep> included = Include(words[1]);
        steps.insert(steps.end(), std::make_move_iterator(included.begin()),
                     std::make_move_iterator(included.end()));
        continue;
      }
      TStep step = ParseStep(source, words);
      if (rule) {
        if (step.Kind != TStepKind::Send && step.Kind != TStepKind::Disconnect)
          Fail("only send, disconnect and reset belong in an on block");
        rule->Actions.push_back(std::move(step));
        continue;
      }
      const bool opensBlock = step.Kind == TStepKind::Rule && words[0] == "on";
      steps.push_back(std::move(step));
      if (opensBlock) rule = &steps.back();
    }
    if (rule) {
      line_ = rule->Line;
      Fail("on without end");
    }
    return steps;
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw TConversationError(Place(source_.Name, line_, source_.IncludedFrom) + ": " + message);
  }

  // The steps of an included script, parsed on their own: its on blocks end in it.
  std::vector<TStep> Include(const std::string& file) const {
    namespace fs = std::filesystem;
    const fs::path path = source_.Folder.empty() || fs::path(file).is_absolute()
                              ? fs::path(file)
                              : fs::path(source_.Folder) / file;
    const std::string canonical = CanonicalPath(path);
    for (std::size_t i = 0; i < source_.OpenPaths.size(); ++i) {
      if (source_.OpenPaths[i] != canonical) continue;
      std::string cycle;
      for (std::size_t j = i; j < source_.OpenNames.size(); ++j)
        cycle += source_.OpenNames[j] + " -> ";
      Fail("include " + file + " makes a cycle: " + cycle + file);
    }
    std::string text;
    if (!ReadScript(path.string(), text))
      Fail("include " + file + ": cannot be read (" + path.string() + ")");
    TScriptSource nested{file, path.parent_path().string(),
                         source_.Name + ":" + std::to_string(line_), source_.OpenPaths,
                         source_.OpenNames};
    if (!source_.IncludedFrom.empty()) nested.IncludedFrom += ", from " + source_.IncludedFrom;
    nested.OpenPaths.push_back(canonical);
    nested.OpenNames.push_back(file);
    return TParser(std::move(nested)).Parse(text);
  }

  int Number(std::string_view text) const {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
      Fail("not a number: " + std::string(text));
    return value;
  }

  TFakeServerKind Link(const std::vector<std::string>& words, std::size_t index) const {
    if (words.size() <= index) Fail(words[0] + " needs a link (host or price)");
    if (words[index] == "host") return TFakeServerKind::Host;
    if (words[index] == "price") return TFakeServerKind::PriceFeed;
    Fail("unknown link " + words[index] + " (host or price)");
  }

  TStep ParseStep(std::string_view source, const std::vector<std::string>& words) {
    TStep step;
    step.Line = line_;
    step.File = source_.Name;
    step.IncludedFrom = source_.IncludedFrom;
    step.Source = std::string(source);
    const std::string& verb = words[0];
    const auto count = [&](std::size_t least, std::size_t most) {
      if (words.size() < least || words.size() > most) Fail("wrong number of words for " + verb);
    };
    if (verb == "timeout" || verb == "pause") {
      count(2, 2);
      step.Kind = verb == "timeout" ? TStepKind::Timeout : TStepKind::Pause;
      step.Millis = Number(words[1]);
    } else if (verb == "serve") {
      count(1, 2);
      step.Kind = TStepKind::Serve;
      if (words.size() == 2) step.Millis = Number(words[1]);
    } else if (verb == "accept" || verb == "disconnect" || verb == "reset") {
      count(2, 2);
      step.Kind = verb == "accept" ? TStepKind::Accept : TStepKind::Disconnect;
      step.Reset = verb == "reset";
      step.Link = Link(words, 1);
    } else if (verb == "expect" || verb == "on" || verb == "ignore") {
      count(3, words.size());
      step.Link = Link(words, 1);
      if (verb == "expect" && words[2] == "closed") {
        count(3, 3);
        step.Kind = TStepKind::ExpectClosed;
        return step;
      }
      step.Kind = verb == "expect" ? TStepKind::Expect : TStepKind::Rule;
      step.Code = words[2];
      ParseChecks(step, words, 3, false);
    } else if (verb == "send") {
      count(3, words.size());
      step.Kind = TStepKind::Send;
      step.Link = Link(words, 1);
      std::size_t first = 2;
      if (words[first] == "partial") {
        count(first + 3, words.size());
        step.Partial = Number(words[first + 1]);
        first += 2;
      }
      if (words[first] == "compressed") {
        count(first + 3, words.size());
        const std::string& letter = words[first + 1];
        if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z')
          Fail("a code letter is one of A to Z: " + letter);
        step.Compression = letter[0];
        first += 2;
      }
      if (step.Link == TFakeServerKind::Host) {
        step.Text = std::string(RestAfterWords(source, static_cast<int>(first)));
      } else {
        step.Code = words[first];
        if (step.Code.size() > 4) Fail("a price code has at most 4 characters");
        ParseChecks(step, words, first + 1, true);
      }
    } else {
      Fail("unknown directive " + verb);
    }
    return step;
  }

  void ParseChecks(TStep& step, const std::vector<std::string>& words, std::size_t from,
                   bool writing) {
    for (std::size_t i = from; i < words.size(); ++i) {
      const std::string& word = words[i];
      TFieldCheck check;
      if (step.Link == TFakeServerKind::Host) {
        const auto equals = word.find('=');
        if (equals == std::string::npos || equals == 0) Fail("a host check is Name=value: " + word);
        check.Name = word.substr(0, equals);
        check.Value = word.substr(equals + 1);
        // Name#N: the N-th value of a repeated field.
        if (const auto hash = check.Name.find('#'); hash != std::string::npos) {
          const int occurrence = Number(std::string_view(check.Name).substr(hash + 1));
          if (hash == 0 || occurrence < 1) Fail("a repeated field is Name#N, N from 1: " + word);
          check.Occurrence = occurrence - 1;
          check.Name.resize(hash);
        }
      } else if (word.rfind("len=", 0) == 0) {
        step.Length = Number(std::string_view(word).substr(4));
        continue;
      } else {
        // The place holds only digits and '/', so the first ':' or '=' ends it.
        const auto mark = word.find_first_of(":=");
        if (word[0] != '@' || mark == std::string::npos)
          Fail("a price field is @offset:text, @offset/width:text or @offset/width=text: " + word);
        const std::string_view place = std::string_view(word).substr(1, mark - 1);
        const auto slash = place.find('/');
        check.Offset = Number(place.substr(0, slash));
        if (slash != std::string_view::npos) check.Width = Number(place.substr(slash + 1));
        check.Value = word.substr(mark + 1);
        check.Padded = word[mark] == '=';
        if (check.Padded && check.Width < 0) Fail("@offset/width=text needs a width: " + word);
        if (check.Padded && check.Value.size() > static_cast<std::size_t>(check.Width))
          Fail("the text is wider than its field: " + word);
        const bool pattern = check.Value == "*" || !VariableName(check.Value).empty();
        if (!writing && pattern && check.Width < 0) Fail("* and {name} need a width: " + word);
        if (check.Padded && pattern) Fail("* and {name} take the form @offset/width:text: " + word);
        if (writing && check.Value == "*") Fail("* cannot be sent: " + word);
      }
      step.Checks.push_back(std::move(check));
    }
  }

  TScriptSource source_;
  int line_ = 0;
};

// A host check's field: its name, and #N for a later value of a repeated one.
std::string FieldText(const TFieldCheck& check) {
  return check.Name + (check.Occurrence > 0 ? "#" + std::to_string(check.Occurrence + 1) : "");
}

std::string CheckText(const TFieldCheck& check) {
  if (!check.Name.empty()) return FieldText(check) + "=" + check.Value;
  std::string text = "@" + std::to_string(check.Offset);
  if (check.Width >= 0) text += "/" + std::to_string(check.Width);
  return text + (check.Padded ? "=" : ":") + check.Value;
}

// Compares a received value with a check's value: "*" any, "{x}" binds or compares x, else
// the text with bound variables put in.
bool MatchValue(std::string_view received, const std::string& expected,
                std::map<std::string, std::string>& variables) {
  if (expected == "*") return true;
  const std::string_view name = VariableName(expected);
  if (!name.empty()) {
    const auto [slot, added] = variables.try_emplace(std::string(name), received);
    return added || slot->second == received;
  }
  return received == Substitute(expected, variables);
}

std::string Mismatch(const TFieldCheck& check, std::string_view received) {
  return CheckText(check) + " does not match \"" + std::string(received) + "\"";
}

std::string MatchHost(const TStep& step, std::string_view body,
                      std::map<std::string, std::string>& variables) {
  TFieldsList fields;
  fields.SetFields(body);
  const std::string code = fields.GetFieldValue("Msg", 0);
  if (step.Code != "*" && code != step.Code) return "code " + code + " instead of " + step.Code;
  for (const TFieldCheck& check : step.Checks) {
    const bool present = fields.GetFieldCount(check.Name) > check.Occurrence;
    if (check.Value.empty()) {
      if (present) return FieldText(check) + " present, expected absent";
      continue;
    }
    if (!present) return FieldText(check) + " missing";
    const std::string value = fields.GetFieldValue(check.Name, check.Occurrence);
    if (!MatchValue(value, check.Value, variables)) return Mismatch(check, value);
  }
  return {};
}

std::string MatchPrice(const TStep& step, std::string_view body,
                       std::map<std::string, std::string>& variables) {
  const std::string_view code = body.substr(0, 4);
  if (step.Code != "*" && code != step.Code)
    return "code " + std::string(code) + " instead of " + step.Code;
  if (step.Length >= 0 && body.size() != static_cast<std::size_t>(step.Length))
    return "length " + std::to_string(body.size()) + " instead of " + std::to_string(step.Length);
  for (const TFieldCheck& check : step.Checks) {
    const std::string exact = check.Width < 0 ? Substitute(check.Value, variables) : "";
    const std::size_t width = check.Width < 0 ? exact.size() : check.Width;
    if (static_cast<std::size_t>(check.Offset) + width > body.size())
      return CheckText(check) + " lies past the body's end (" + std::to_string(body.size()) + ")";
    const std::string_view field = body.substr(check.Offset, width);
    if (check.Padded) {
      std::string padded = Substitute(check.Value, variables);
      if (padded.size() > width) return Mismatch(check, field);
      padded.resize(width, ' ');
      if (field != padded) return Mismatch(check, field);
    } else if (check.Width < 0) {
      if (field != exact) return Mismatch(check, field);
    } else if (!MatchValue(TrimView(field), check.Value, variables)) {
      return Mismatch(check, field);
    }
  }
  return {};
}

}  // namespace

TConversation TConversation::Parse(std::string_view text, std::string name, std::string folder) {
  TConversation conversation;
  conversation.steps_ = TParser({name, std::move(folder), {}, {}, {}}).Parse(text);
  conversation.name_ = std::move(name);
  return conversation;
}

TConversation TConversation::Load(const std::string& path) {
  std::string text;
  if (!ReadScript(path, text)) throw TConversationError(path + ": cannot be read");
  const std::filesystem::path file(path);
  const std::string name = file.filename().string();
  TConversation conversation;
  conversation.steps_ =
      TParser({name, file.parent_path().string(), {}, {CanonicalPath(file)}, {name}}).Parse(text);
  conversation.name_ = name;
  return conversation;
}

std::string StepPlace(const TStep& step) {
  return Place(step.File, step.Line, step.IncludedFrom);
}

std::string MatchBody(const TStep& step, std::string_view body,
                      std::map<std::string, std::string>& variables) {
  // Bindings take effect only when the whole body matches.
  std::map<std::string, std::string> scratch = variables;
  std::string difference;
  try {
    difference = step.Link == TFakeServerKind::Host ? MatchHost(step, body, scratch)
                                                    : MatchPrice(step, body, scratch);
  } catch (const TConversationError& error) {
    return error.what();
  }
  if (difference.empty()) variables = std::move(scratch);
  return difference;
}

namespace {

std::string BuildPlainBody(const TStep& step, const std::map<std::string, std::string>& variables) {
  if (step.Link == TFakeServerKind::Host) return HostBody(Substitute(step.Text, variables));
  std::string body(std::max(step.Length, 4), ' ');
  body.replace(0, step.Code.size(), step.Code);
  for (const TFieldCheck& field : step.Checks) {
    std::string text = Substitute(field.Value, variables);
    if (field.Width >= 0) text.resize(field.Width, ' ');
    const std::size_t end = field.Offset + text.size();
    if (body.size() < end) body.resize(end, ' ');
    body.replace(field.Offset, text.size(), text);
  }
  return body;
}

}  // namespace

std::string BuildBody(const TStep& step, const std::map<std::string, std::string>& variables) {
  std::string body = BuildPlainBody(step, variables);
  if (!step.Compression) return body;
  // A compressed body decodes to a blank and three header bytes, then the message: for the host
  // " Enc" and 0x01, which the field parser skips as an item without '='; for the price feed the
  // code's last three digits, its first digit being the blank.
  if (step.Link == TFakeServerKind::Host)
    return CompressBody(std::string(" Enc\x01") + body, step.Compression);
  body[0] = ' ';
  return CompressBody(body, step.Compression);
}

TFakeServers::TFakeServers(std::uint16_t hostPort, std::uint16_t pricePort,
                           const TFakeServerTls& tls)
    : Wake(std::make_shared<TServerWake>()),
      Host(TFakeServerKind::Host, tls, hostPort, Wake),
      Price(TFakeServerKind::PriceFeed, tls, pricePort, Wake) {}

TConversationRunner::TConversationRunner(TFakeServers& servers)
    : TConversationRunner(&servers.Host, &servers.Price, servers.Wake) {}

TConversationRunner::TConversationRunner(TFakeServer* host, TFakeServer* price,
                                         std::shared_ptr<TServerWake> wake)
    : wake_(std::move(wake)) {
  host_.Server = host;
  price_.Server = price;
}

void TConversationRunner::RequestStop() {
  stop_ = true;
  if (wake_) wake_->Notify();
}

void TConversationRunner::Log(const std::string& line) const {
  if (log_) log_(line);
}

TConversationResult TConversationRunner::Run(const TConversation& conversation) {
  for (const TStep& step : conversation.Steps()) {
    std::string failure;
    const bool usesLink = step.Kind == TStepKind::Accept || step.Kind == TStepKind::Expect ||
                          step.Kind == TStepKind::ExpectClosed || step.Kind == TStepKind::Send ||
                          step.Kind == TStepKind::Disconnect || step.Kind == TStepKind::Rule;
    if (usesLink && !State(step.Link).Server)
      failure = std::string("no fake ") + KindName(step.Link) + " server";
    else
      failure = Play(step);
    if (!failure.empty())
      return {false, step.Line, step.File, StepPlace(step) + ": " + step.Source + ": " + failure};
  }
  return {};
}

std::string TConversationRunner::Play(const TStep& step) {
  switch (step.Kind) {
    case TStepKind::Timeout:
      timeoutMs_ = step.Millis;
      return {};
    case TStepKind::Accept:
      return Accept(step);
    case TStepKind::Expect:
      return Expect(step);
    case TStepKind::ExpectClosed:
      return ExpectClosed(step);
    case TStepKind::Send:
      return Send(step, variables_);
    case TStepKind::Disconnect:
      return Disconnect(step);
    case TStepKind::Rule:
      rules_.push_back(step);
      return {};
    case TStepKind::Pause:
      WaitFor(Clock::now() + std::chrono::milliseconds(step.Millis), [] { return false; });
      return stop_ ? "stopped" : "";
    case TStepKind::Serve:
      return Serve(step);
  }
  return {};
}

void TConversationRunner::Pump() {
  for (TLinkState* link : {&host_, &price_}) {
    if (!link->Server) continue;
    while (auto event = link->Server->TryNextEvent()) {
      if (event->Connection < link->DropBelow) continue;
      const char* name = KindName(link->Server->Kind());
      if (event->Type == TFakeEvent::TType::Message) {
        Log(std::string(name) + " <- " + ShowBody(event->Body));
        if (Answer(*link, *event)) continue;
      } else {
        const bool connected = event->Type == TFakeEvent::TType::Connected;
        Log(std::string(name) + (connected ? " connected (" : " closed (") +
            std::to_string(event->Connection) + ")");
      }
      link->Pending.push_back(std::move(*event));
    }
  }
}

bool TConversationRunner::Answer(TLinkState& link, const TFakeEvent& event) {
  for (const TStep& rule : rules_) {
    if (rule.Link != link.Server->Kind()) continue;
    std::map<std::string, std::string> scratch = variables_;  // an answer binds for itself only
    if (!MatchBody(rule, event.Body, scratch).empty()) continue;
    for (const TStep& action : rule.Actions) {
      const std::string failure =
          action.Kind == TStepKind::Send ? Send(action, scratch) : Disconnect(action);
      if (!failure.empty()) Log("answer of " + StepPlace(rule) + ": " + failure);
    }
    return true;
  }
  return false;
}

bool TConversationRunner::WaitFor(Clock::time_point deadline, const std::function<bool()>& ready) {
  for (;;) {
    const std::uint64_t seen = wake_->Count();
    Pump();
    if (ready()) return true;
    if (stop_ || !wake_->WaitChange(seen, deadline)) return false;
  }
}

std::string TConversationRunner::Accept(const TStep& step) {
  TLinkState& link = State(step.Link);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  const bool connected = WaitFor(deadline, [&] {
    // Whatever an earlier connection left behind goes with it.
    while (!link.Pending.empty() && link.Pending.front().Type != TFakeEvent::TType::Connected)
      link.Pending.pop_front();
    return !link.Pending.empty();
  });
  if (!connected)
    return stop_ ? "stopped" : "no connection within " + std::to_string(timeoutMs_) + " ms";
  link.Accepted = link.Pending.front().Connection;
  link.Pending.pop_front();
  return {};
}

namespace {

std::string Describe(TFakeServerKind kind, const TFakeEvent& event) {
  switch (event.Type) {
    case TFakeEvent::TType::Connected:
      return "the client connected again (connection " + std::to_string(event.Connection) + ")";
    case TFakeEvent::TType::Closed:
      return "the client closed the connection";
    case TFakeEvent::TType::Message:
      break;
  }
  return "received " + (kind == TFakeServerKind::Host ? ShowBody(event.Body) : event.Body);
}

}  // namespace

std::string TConversationRunner::Expect(const TStep& step) {
  TLinkState& link = State(step.Link);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  if (!WaitFor(deadline, [&] { return !link.Pending.empty(); }))
    return stop_ ? "stopped" : "nothing received within " + std::to_string(timeoutMs_) + " ms";
  const TFakeEvent event = std::move(link.Pending.front());
  link.Pending.pop_front();
  if (event.Type != TFakeEvent::TType::Message) return Describe(step.Link, event);
  const std::string difference = MatchBody(step, event.Body, variables_);
  if (difference.empty()) return {};
  return difference + "; " + Describe(step.Link, event);
}

std::string TConversationRunner::ExpectClosed(const TStep& step) {
  TLinkState& link = State(step.Link);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  if (!WaitFor(deadline, [&] { return !link.Pending.empty(); }))
    return stop_ ? "stopped" : "still open after " + std::to_string(timeoutMs_) + " ms";
  const TFakeEvent event = std::move(link.Pending.front());
  link.Pending.pop_front();
  if (event.Type == TFakeEvent::TType::Closed) return {};
  return Describe(step.Link, event) + " before the close";
}

std::string TConversationRunner::Send(const TStep& step,
                                      const std::map<std::string, std::string>& variables) {
  TLinkState& link = State(step.Link);
  if (!link.Server) return std::string("no fake ") + KindName(step.Link) + " server";
  std::string body;
  try {
    body = BuildBody(step, variables);
  } catch (const TConversationError& error) {
    return error.what();
  }
  std::string shown = step.Link == TFakeServerKind::Host ? ShowBody(body) : body;
  if (step.Partial >= 0) {
    // The frame cut short: the test closes or resets the link next.
    const std::string frame = Frame(body);
    if (static_cast<std::size_t>(step.Partial) >= frame.size())
      return "partial " + std::to_string(step.Partial) + " is not short of the frame's " +
             std::to_string(frame.size()) + " bytes";
    if (!link.Server->SendRaw(std::string_view(frame).substr(0, step.Partial)))
      return "no client connected";
    shown = std::to_string(step.Partial) + " of " + std::to_string(frame.size()) +
            " bytes of " + shown;
  } else if (!link.Server->Send(body)) {
    return "no client connected";
  }
  Log(std::string(KindName(step.Link)) + " -> " + shown);
  return {};
}

std::string TConversationRunner::Disconnect(const TStep& step) {
  TLinkState& link = State(step.Link);
  if (!link.Server) return std::string("no fake ") + KindName(step.Link) + " server";
  link.DropBelow = link.Server->Disconnect(step.Reset) + 1;
  std::erase_if(link.Pending,
                [&](const TFakeEvent& event) { return event.Connection < link.DropBelow; });
  Log(std::string(KindName(step.Link)) + (step.Reset ? " reset" : " disconnected") +
      " by the server");
  return {};
}

std::string TConversationRunner::Serve(const TStep& step) {
  // Without a limit: until RequestStop (a year is as good as for ever here).
  const auto deadline = Clock::now() + (step.Millis < 0 ? std::chrono::hours(24 * 365)
                                                        : std::chrono::milliseconds(step.Millis));
  WaitFor(deadline, [this] {
    for (TLinkState* link : {&host_, &price_}) {
      for (const TFakeEvent& event : link->Pending)
        if (event.Type == TFakeEvent::TType::Message)
          Log(std::string(KindName(link->Server->Kind())) + " unanswered: " + ShowBody(event.Body));
      link->Pending.clear();
    }
    return false;
  });
  return {};
}

}  // namespace vorn
