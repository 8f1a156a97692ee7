#pragma once
// The shape of a contract date text: which contract it names and its legs. The rules are tried
// in this order; the first whose marker the text holds decides, and a text its rule cannot read
// is refused. M is a month text (a month name and a two-digit year, "MAR27"), K a strike, k the
// option kind C or P; parts are separated by blanks.
//  1. exactly 5 characters, "M": an outright future, one leg of kind F;
//  2. exactly 10 characters not ending in C or P, "MM": a futures calendar spread, EF + F;
//  3. "DICALSTRDL/S", "M1 K1 M2 K2 DICALSTRDL/S": a diagonal calendar straddle of type PC, four
//     legs (call and put of M1 at K1, call and put of M2 at K2);
//  4. " CAL " with a letter as the 7th character, "M1 CAL M2[/S]": a futures calendar, type E
//     followed by the second leg's kind F;
//  5. " CAL " otherwise, "M1 K k CAL M2[/S]": an option calendar, type D followed by k;
//  6. "LDR", "M K1/K2/K3 k LDR": a ladder, type L followed by k;
//  7. "STRDL" without "vs", "M K STRDL": a straddle, type SC (call and put);
//     "STRDL" with "vs", "M K STRDL vs BUY|SELL MU": a straddle against a future, type sP;
//     " C/S vs SELL " or " P/S vs BUY ", "M K1/K2 C/S vs SELL U MU": an option spread against
//     its underlying future (a leg of kind F), type d followed by k;
//     "VERT", "M K1/K2 k VERT" with k the 17th character: a vertical spread, type B followed by k;
//  8. otherwise "M K k" (the last character C or P after a blank): a single option of kind k.
// Leg 1's kind is the strategy type (F for an outright, C or P for a single option); the other
// legs' kinds are F, C or P. Each leg carries its month text, its month code (MonthCode), its
// strike and a ratio text: "1 1" for a leg traded the strategy's way, "1 2" for one traded the
// other way, empty on a contract of one leg. Pure; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::sim {

struct TLegShape {
  std::string Kind;
  std::string Text;      // the leg's month text
  std::string DateCode;  // its month code
  std::string Strike;
  std::string Ratio;

  bool operator==(const TLegShape&) const = default;
};

struct TContractShape {
  std::vector<TLegShape> Legs;  // one to four

  const std::string& TypeCode() const { return Legs.front().Kind; }
};

// The shape of the text on that exchange (the month codes depend on it); nullopt when refused.
std::optional<TContractShape> ParseContractShape(std::string_view contractDate,
                                                 std::string_view exchange);

}  // namespace vorn::sim
