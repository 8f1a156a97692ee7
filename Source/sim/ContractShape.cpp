#include "sim/ContractShape.h"

#include <utility>

#include "sim/MonthCode.h"

namespace vorn::sim {
namespace {

constexpr std::string_view kSameWay = "1 1";
constexpr std::string_view kOtherWay = "1 2";

using TParts = std::vector<std::string_view>;
using TShape = std::optional<TContractShape>;

TParts SplitBlanks(std::string_view text) {
  TParts parts;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// "C" or "P" as the kind; NUL for anything else.
char OptionKind(std::string_view part) {
  return part == "C" || part == "P" ? part[0] : '\0';
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Builds legs, failing as a whole when any month text has no code.
class TShapeBuilder {
 public:
  explicit TShapeBuilder(std::string_view exchange) : exchange_(exchange) {}

  TShapeBuilder& Leg(std::string kind, std::string_view month, std::string_view strike,
                     std::string_view ratio) {
    auto code = month.size() == 5 ? MonthCode(month, exchange_) : std::nullopt;
    if (!code) failed_ = true;
    shape_.Legs.push_back({std::move(kind), std::string(month), code.value_or(std::string()),
                           std::string(strike), std::string(ratio)});
    return *this;
  }
  TShape Done() {
    if (failed_ || shape_.Legs.empty()) return std::nullopt;
    return std::move(shape_);
  }

 private:
  std::string_view exchange_;
  TContractShape shape_;
  bool failed_ = false;
};

// "K1/K2" (or "K1/K2/K3"): the strikes; empty when the count differs or one is empty.
std::vector<std::string_view> Strikes(std::string_view part, std::size_t count) {
  std::vector<std::string_view> strikes;
  std::size_t at = 0;
  while (true) {
    const std::size_t slash = part.find('/', at);
    strikes.push_back(part.substr(at, slash == std::string_view::npos ? part.size() - at
                                                                       : slash - at));
    if (slash == std::string_view::npos) break;
    at = slash + 1;
  }
  for (const auto strike : strikes)
    if (strike.empty()) return {};
  if (strikes.size() != count) return {};
  return strikes;
}

// The month after " CAL ", without a "/S" suffix.
std::string_view CalendarSecondMonth(std::string_view part) {
  if (part.ends_with("/S")) part.remove_suffix(2);
  return part;
}

TShape Outright(std::string_view text, std::string_view exchange) {
  return TShapeBuilder(exchange).Leg("F", text, {}, {}).Done();
}

TShape FuturesCalendar(std::string_view first, std::string_view second,
                       std::string_view exchange) {
  return TShapeBuilder(exchange)
      .Leg("EF", first, {}, kSameWay)
      .Leg("F", second, {}, kOtherWay)
      .Done();
}

TShape DiagonalStraddle(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 5) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg("PC", parts[0], parts[1], kSameWay)
      .Leg("P", parts[0], parts[1], kSameWay)
      .Leg("C", parts[2], parts[3], kOtherWay)
      .Leg("P", parts[2], parts[3], kOtherWay)
      .Done();
}

TShape OptionCalendar(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 5 || parts[3] != "CAL") return std::nullopt;
  const char kind = OptionKind(parts[2]);
  if (!kind) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg(std::string("D") + kind, parts[0], parts[1], kSameWay)
      .Leg(std::string(1, kind), CalendarSecondMonth(parts[4]), parts[1], kOtherWay)
      .Done();
}

TShape Ladder(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 4 || parts[3] != "LDR") return std::nullopt;
  const char kind = OptionKind(parts[2]);
  const auto strikes = Strikes(parts[1], 3);
  if (!kind || strikes.empty()) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg(std::string("L") + kind, parts[0], strikes[0], kSameWay)
      .Leg(std::string(1, kind), parts[0], strikes[1], kOtherWay)
      .Leg(std::string(1, kind), parts[0], strikes[2], kOtherWay)
      .Done();
}

TShape Straddle(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 3 || parts[2] != "STRDL") return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg("SC", parts[0], parts[1], kSameWay)
      .Leg("P", parts[0], parts[1], kSameWay)
      .Done();
}

// "BUY" trades the future the strategy's way, "SELL" the other way.
std::optional<std::string_view> FutureRatio(std::string_view side) {
  if (side == "BUY") return kSameWay;
  if (side == "SELL") return kOtherWay;
  return std::nullopt;
}

TShape StraddleVersusFuture(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 6 || parts[2] != "STRDL" || parts[3] != "vs") return std::nullopt;
  const auto ratio = FutureRatio(parts[4]);
  if (!ratio) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg("sP", parts[0], parts[1], kSameWay)
      .Leg("P", parts[0], parts[1], kSameWay)
      .Leg("F", parts[5], {}, *ratio)
      .Done();
}

TShape SpreadVersusUnderlying(const TParts& parts, std::string_view exchange) {
  if (parts.size() != 7 || parts[3] != "vs" || parts[5] != "U") return std::nullopt;
  const std::string_view spread = parts[2];
  const char kind = spread.size() == 3 && spread.ends_with("/S") ? OptionKind(spread.substr(0, 1))
                                                                  : '\0';
  const auto strikes = Strikes(parts[1], 2);
  const auto ratio = FutureRatio(parts[4]);
  if (!kind || strikes.empty() || !ratio) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg(std::string("d") + kind, parts[0], strikes[0], kSameWay)
      .Leg(std::string(1, kind), parts[0], strikes[1], kOtherWay)
      .Leg("F", parts[6], {}, *ratio)
      .Done();
}

TShape Vertical(std::string_view text, const TParts& parts, std::string_view exchange) {
  if (text.size() < 17 || parts.size() != 4 || parts[3] != "VERT") return std::nullopt;
  const char kind = OptionKind(text.substr(16, 1));
  const auto strikes = Strikes(parts[1], 2);
  if (!kind || strikes.empty()) return std::nullopt;
  return TShapeBuilder(exchange)
      .Leg(std::string("B") + kind, parts[0], strikes[0], kSameWay)
      .Leg(std::string(1, kind), parts[0], strikes[1], kOtherWay)
      .Done();
}

TShape SingleOption(std::string_view text, std::string_view exchange) {
  const auto parts = SplitBlanks(text);
  if (parts.size() != 3) return std::nullopt;
  const char kind = OptionKind(parts[2]);
  if (!kind) return std::nullopt;
  return TShapeBuilder(exchange).Leg(std::string(1, kind), parts[0], parts[1], {}).Done();
}

bool Holds(std::string_view text, std::string_view marker) {
  return text.find(marker) != std::string_view::npos;
}

}  // namespace

std::optional<TContractShape> ParseContractShape(std::string_view text,
                                                 std::string_view exchange) {
  const bool endsInOption = !text.empty() && (text.back() == 'C' || text.back() == 'P');
  if (text.size() == 5) return Outright(text, exchange);
  if (text.size() == 10 && !endsInOption)
    return FuturesCalendar(text.substr(0, 5), text.substr(5), exchange);

  const TParts parts = SplitBlanks(text);
  if (Holds(text, "DICALSTRDL/S")) return DiagonalStraddle(parts, exchange);
  if (Holds(text, " CAL ")) {
    if (text.size() >= 7 && IsLetter(text[6])) {
      if (parts.size() != 3 || parts[1] != "CAL") return std::nullopt;
      return FuturesCalendar(parts[0], CalendarSecondMonth(parts[2]), exchange);
    }
    return OptionCalendar(parts, exchange);
  }
  if (Holds(text, "LDR")) return Ladder(parts, exchange);
  if (Holds(text, "STRDL"))
    return Holds(text, "vs") ? StraddleVersusFuture(parts, exchange) : Straddle(parts, exchange);
  if (Holds(text, " C/S vs SELL ") || Holds(text, " P/S vs BUY "))
    return SpreadVersusUnderlying(parts, exchange);
  if (Holds(text, "VERT")) return Vertical(text, parts, exchange);
  if (text.size() >= 2 && endsInOption && text[text.size() - 2] == ' ')
    return SingleOption(text, exchange);
  return std::nullopt;
}

}  // namespace vorn::sim
