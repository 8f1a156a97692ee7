#include "sim/LocalStrategy.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "links/StrategyRequests.h"
#include "platform/ProcessWide.h"
#include "sim/AutoDemo.h"
#include "sim/ContractShape.h"
#include "sim/SimTestData.h"

namespace vorn::sim {
namespace {

constexpr double kUpperLimit = 3.0;
constexpr double kLowerLimit = -3.0;
constexpr std::int32_t kLotLimit = 100;
// What the next start reads for the strategy: its limits and lot limit.
constexpr const char* kFileLimits = ",3,-2,30";

std::mutex& CreationLock() {
  static std::mutex& lock = KeepProcessWide(new std::mutex);
  return lock;
}

// A leg's outright contract and what its date text says of it.
struct TLeg {
  std::shared_ptr<TContractItem> Contract;
  std::string Kind;  // F, C or P
  std::string Month;
  std::string Strike;
  std::int32_t Ratio = 0;
};

// The field's text up to its NUL, within its width.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return {field, n};
}

// The leg's contract by its name (its own commodity when it names one); no Contract when the
// list does not hold it.
TLeg FindLeg(const TClassAPI& api, std::string_view exchange, std::string_view commodity,
             const StrategyLegStruct& record) {
  const std::string own = Trim(FieldText(record.Commodity));
  const TStrategyLegName name = StrategyLegName(record, own.empty() ? commodity : own);
  TLeg leg;
  leg.Ratio = record.Ratio;
  leg.Contract = api.Contracts.FindByName(exchange, Trim(name.Commodity), Trim(name.ContractDate));
  if (!leg.Contract) return leg;
  const auto shape = ParseContractShape(leg.Contract->ContractDate(), exchange);
  // A strategy is made of outright futures and single options only.
  if (shape && shape->Legs.size() == 1) {
    const TLegShape& only = shape->Legs.front();
    leg.Kind = only.Kind;
    leg.Month = only.Text;
    leg.Strike = only.Strike;
  }
  return leg;
}

bool IsOption(const TLeg& leg) { return leg.Kind == "C" || leg.Kind == "P"; }
bool IsFuture(const TLeg& leg) { return leg.Kind == "F"; }
std::string Side(const TLeg& future) { return future.Ratio > 0 ? "BUY" : "SELL"; }

// The strategy's name from its legs by the type character; nullopt when they make none.
std::optional<std::string> StrategyName(char type, const std::vector<TLeg>& legs) {
  const auto count = legs.size();
  switch (type) {
    case 'D': {
      if (count < 2 || legs[0].Kind != legs[1].Kind) return std::nullopt;
      if (IsFuture(legs[0])) return legs[0].Month + " CAL " + legs[1].Month + "/S";
      if (!IsOption(legs[0]) || legs[0].Strike != legs[1].Strike) return std::nullopt;
      return legs[0].Month + " " + legs[0].Strike + " " + legs[0].Kind + " CAL " +
             legs[1].Month + "/S";
    }
    case 'E':
      if (count < 2 || !IsFuture(legs[0]) || !IsFuture(legs[1])) return std::nullopt;
      return legs[0].Month + legs[1].Month;
    case 'S':
      if (!IsOption(legs[0])) return std::nullopt;
      return legs[0].Month + " " + legs[0].Strike + " STRDL";
    case 'd':
      if (count < 3 || !IsOption(legs[0]) || legs[1].Kind != legs[0].Kind ||
          legs[1].Month != legs[0].Month || !IsFuture(legs[2]))
        return std::nullopt;
      return legs[0].Month + " " + legs[0].Strike + "/" + legs[1].Strike + " " + legs[0].Kind +
             "/S vs " + Side(legs[2]) + " U " + legs[2].Month;
    case 's':
      if (count < 2 || !IsOption(legs[0]) || !IsFuture(legs[1])) return std::nullopt;
      return legs[0].Month + " " + legs[0].Strike + " STRDL vs " + Side(legs[1]) + " " +
             legs[1].Month;
    default:
      return std::nullopt;
  }
}

// Appends the line to the file, a newline first when the file's last byte is not one. False
// when the file cannot be opened or written to.
bool AppendLine(const std::string& path, const std::string& line) {
  bool newlineFirst = false;
  if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
    if (std::fseek(in, -1, SEEK_END) == 0) newlineFirst = std::fgetc(in) != '\n';
    std::fclose(in);
  }
  std::FILE* out = std::fopen(path.c_str(), "ab");
  if (!out) return false;
  const std::string text = (newlineFirst ? "\n" : "") + line + "\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool flushed = std::fflush(out) == 0;
  return std::fclose(out) == 0 && written && flushed;
}

std::int32_t Refuse(const TClassAPI& api, std::int32_t result, std::string_view exchange,
                    std::string_view commodity, std::string_view contractDate,
                    std::string_view why) {
  WriteTraceLine("CreateStrategyLocally: " + std::string(exchange) + "\\" +
                 std::string(commodity) + " refused: " + std::string(why));
  AddStrategyCreateFailureCallback(api.UserName.Get(), exchange, commodity, contractDate,
                                   result == VN_RC_UNEXPECTED_ERROR ? kStrategyFailedText
                                                                    : kStrategyNotSupportedText);
  return result;
}

}  // namespace

std::int32_t CreateLocalStrategy(TClassAPI& api, TAutoDemo* demo, char strategyType,
                                 std::int32_t legCount, std::string_view exchangeArg,
                                 std::string_view commodityArg, const StrategyLegStruct* legs) {
  TTraceScope scope("CreateStrategyLocally");
  const std::string exchange = Trim(exchangeArg);
  const std::string commodity = Trim(commodityArg);
  std::string firstDate;
  try {
    std::lock_guard guard(CreationLock());
    if (!api.Commodities.FindCommodity(exchange, commodity)) return VN_RC_CONTRACT_NOT_PERMITTED;
    const int count = legCount < 1 ? 1 : (legCount > kMaxContractLegs ? kMaxContractLegs
                                                                      : legCount);
    std::vector<TLeg> found;
    for (int i = 0; i < count; ++i) {
      found.push_back(FindLeg(api, exchange, commodity, legs[i]));
      if (i == 0 && found[0].Contract) firstDate = found[0].Contract->ContractDate();
      if (!found.back().Contract)
        return Refuse(api, VN_RC_UNEXPECTED_ERROR, exchange, commodity, firstDate,
                      "leg " + std::to_string(i + 1) + " names no contract");
    }
    const std::optional<std::string> name = StrategyName(strategyType, found);
    const auto shape = name ? ParseContractShape(*name, exchange) : std::nullopt;
    if (!shape)
      return Refuse(api, VN_RC_UNKNOWN_CONTRACT, exchange, commodity, firstDate,
                    "no strategy of type '" + std::string(1, strategyType) + "' of these legs");
    if (api.Contracts.FindByName(exchange, commodity, *name))
      return Refuse(api, VN_RC_UNKNOWN_CONTRACT, exchange, commodity, firstDate,
                    *name + " is listed already");
    if (!demo || !demo->Started())
      return Refuse(api, VN_RC_UNEXPECTED_ERROR, exchange, commodity, firstDate,
                    "the simulation is not on");

    const TContractItem& first = *found[0].Contract;
    const std::string expiry = first.GetExpiryDate();
    const std::string lastTrade = first.GetLastTradeDate();
    // Before anything is listed or announced: a strategy the file does not keep is not made.
    const std::string path = TestDataFolder() + kContractFile;
    if (!AppendLine(path, exchange + "," + commodity + "," + *name + "," + expiry + "," +
                              lastTrade + kFileLimits))
      return Refuse(api, VN_RC_UNEXPECTED_ERROR, exchange, commodity, firstDate,
                    path + " cannot be written");

    if (api.Contracts.AddFromFields(exchange, commodity, *name,
                                    ContractFields(*shape, expiry, lastTrade)) < 0)
      return Refuse(api, VN_RC_UNKNOWN_CONTRACT, exchange, commodity, firstDate,
                    *name + " is listed already");
    const auto contract = api.Contracts.FindByName(exchange, commodity, *name);
    if (!contract)
      return Refuse(api, VN_RC_UNEXPECTED_ERROR, exchange, commodity, firstDate,
                    *name + " is not listed");
    contract->State = TUUIDStreamable::usActive;
    demo->Market().AddContract(contract, kUpperLimit, kLowerLimit, kLotLimit);
    AddStrategyCreateSuccessCallback(api.UserName.Get(), exchange, commodity, firstDate, *name);
    AddContractCallback(VN_CB_CONTRACT_ADDED, exchange, commodity, *name);
    return VN_RC_SUCCESS;
  } catch (const std::exception& e) {
    ReportException("CreateStrategyLocally", e);
  } catch (...) {
    ReportException("CreateStrategyLocally", std::current_exception());
  }
  AddStrategyCreateFailureCallback(api.UserName.Get(), exchange, commodity, firstDate,
                                   kStrategyFailedText);
  return VN_RC_UNEXPECTED_ERROR;
}

}  // namespace vorn::sim
