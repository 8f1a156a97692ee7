#include "links/StrategyRequests.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/diag/Trace.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/ContractQ.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/FixedField.h"

namespace vorn {
namespace {

// A text field of a caller's record: up to its NUL, never past its width.
template <std::size_t N>
std::string_view RecordText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

// The ratio is read by value: the packed record leaves it unaligned.
std::int32_t RatioOf(const StrategyLegStruct& leg) {
  std::int32_t ratio = 0;
  std::memcpy(&ratio, reinterpret_cast<const char*>(&leg) + offsetof(StrategyLegStruct, Ratio),
              sizeof ratio);
  return ratio;
}

// X1 of the leg's contract, with the strategy type in front on the first leg.
std::string FirstField(const TContractItem& legContract, char strategyType, bool firstLeg) {
  std::string x1 = legContract.GetLegField(1, 1);
  if (firstLeg && strategyType != '\0') x1.insert(x1.begin(), strategyType);
  return x1;
}

}  // namespace

TStrategyLegName StrategyLegName(const StrategyLegStruct& leg, std::string_view commodity) {
  const std::string_view text = RecordText(leg.ContractDate);
  const std::size_t split = text.find('\\');
  if (split == std::string_view::npos) return {std::string(text), std::string(commodity)};
  TStrategyLegName name;
  if (split >= 1) name.ContractDate.assign(text.substr(0, split - 1));
  if (split + 2 < text.size()) name.Commodity.assign(text.substr(split + 2));
  return name;
}

std::shared_ptr<TContractItem> FindStrategyLegContract(const TContractQ& contracts,
                                                       std::string_view exchange,
                                                       const TStrategyLegName& name) {
  auto contract = contracts.FindContract(exchange, name.Commodity, name.ContractDate);
  if (!contract) {
    throw Exception("Strategy leg contract " + std::string(TrimView(exchange)) + "\\" +
                    std::string(TrimView(name.Commodity)) + "\\" +
                    std::string(TrimView(name.ContractDate)) + " not found");
  }
  return contract;
}

// ---------------------------------------------------------------------------------------------

TMMHUBContractDateCreate::TMMHUBContractDateCreate() : TSendHostMessage(kCode) {}

void TMMHUBContractDateCreate::BuildFields(const TContractQ& contracts, char strategyType,
                                           std::int32_t legCount,
                                           const std::shared_ptr<TContractItem>& underlying,
                                           const StrategyLegStruct* legs, std::string_view exchange,
                                           std::string_view commodity,
                                           std::string_view contractDate,
                                           std::string_view userName) {
  if (!underlying) throw Exception("Strategy " + std::string(contractDate) + " has no underlying");
  const int count = ClampStrategyLegs(legCount);
  if (count > 0 && !legs) throw Exception("Strategy " + std::string(contractDate) + " has no legs");

  // Every leg is looked up before anything is added: a missing one leaves the request empty.
  static constexpr std::array<const char*, 5> kTags = {"X1", "X2", "X3", "X4", "X5"};
  std::vector<std::array<std::string, 5>> values(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const StrategyLegStruct& leg = legs[i];
    const std::string_view own = TrimView(RecordText(leg.Commodity));
    const auto legContract = FindStrategyLegContract(
        contracts, exchange, StrategyLegName(leg, own.empty() ? commodity : own));
    auto& v = values[static_cast<std::size_t>(i)];
    v[0] = FirstField(*legContract, strategyType, i == 0);
    v[1] = legContract->GetLegField(1, 2);
    v[2] = legContract->GetLegField(1, 3);
    v[3] = RecordText(leg.LegText);
    const std::int64_t ratio = RatioOf(leg);
    v[4] = ratio > 0 ? IntToStr(ratio) + " 1" : IntToStr(-ratio) + " 2";
  }

  const auto header = [&](const char* name, std::string_view value) {
    HeaderFields.AddFieldValue(name, value, -1, -1, false);
  };
  header("Msg", kCode);
  header("Ex", exchange);
  header("C", commodity);
  header("CD", contractDate);
  header("XD", underlying->GetExpiryDate());
  header("LT", underlying->GetLastTradeDate());
  header("Mar", "0");
  header("Usr", userName);
  // Tag by tag, each leg at its own occurrence.
  for (std::size_t tag = 0; tag < kTags.size(); ++tag) {
    for (int i = 0; i < count; ++i)
      BodyFields.AddFieldValue(kTags[tag], values[static_cast<std::size_t>(i)][tag], i + 1,
                               kLegGroup, false);
  }
}

void TMMHUBContractDateCreate::FillBuffer(TDynamicBuffer& buffer) {
  TTraceScope scope("TMMHUBContractDateCreate.FillBuffer");
  TSendHostMessage::FillBuffer(buffer);
}

// ---------------------------------------------------------------------------------------------

TMContractDateCreate::TMContractDateCreate() : TVornMessage(kCode), body_(kBodyLength, ' ') {
  SetLength(static_cast<std::uint16_t>(kBodyLength));
}

void TMContractDateCreate::BuildFields(const TContractQ& contracts, char strategyType,
                                       std::string_view exchange, std::string_view commodity,
                                       std::string_view contractDate, const StrategyLegStruct& leg,
                                       int index) {
  const auto legContract =
      FindStrategyLegContract(contracts, exchange, StrategyLegName(leg, commodity));
  body_.assign(kBodyLength, ' ');
  PutFixedField(body_, 4, 10, exchange);
  PutFixedField(body_, 14, 10, commodity);
  PutFixedField(body_, 24, 50, contractDate);
  std::string number = IntToStr(index + 1);
  number.insert(0, number.size() < 4 ? 4 - number.size() : 0, ' ');
  PutFixedField(body_, 74, 4, number);
  PutFixedField(body_, 78, 8, legContract->GetExpiryDate());
  PutFixedField(body_, 86, 8, legContract->GetLastTradeDate());
  PutFixedField(body_, 94, 10, "         0");
  // The strategy type in front cuts X1 to its first nine characters: the peer reads ten.
  PutFixedField(body_, 104, 10, FirstField(*legContract, strategyType, index == 0));
  PutFixedField(body_, 114, 10, legContract->GetLegField(1, 2));
  PutFixedField(body_, 124, 10, legContract->GetLegField(1, 3));
  PutFixedField(body_, 134, 10, RecordText(leg.LegText));
  PutFixedField(body_, 144, 10, IntToStr(RatioOf(leg)));
}

void TMContractDateCreate::FillBuffer(TDynamicBuffer& buffer) {
  TTraceScope scope("TMContractDateCreate.FillBuffer");
  PutFixedField(body_, 0, 4, kCode);
  TVornMessage::FillBuffer(buffer);
  buffer.Write(body_.data(), static_cast<std::int32_t>(body_.size()));
}

}  // namespace vorn
