#include "core/refdata/MarginRating.h"

#include <array>
#include <utility>

#include "core/store/ObjStream.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

void WriteName(TStream& stream, const std::string& name) {
  stream.WriteString(name.empty() ? std::string_view(" ") : std::string_view(name));
}

}  // namespace

const TStreamClass& TMarginRating::Class() {
  using T = TMarginRating;
  static const TStreamClass& description =
      MakeStreamClass<T>("TMarginRating", &TStreamable::Class(),
                         TPropertyTable<T>()
                             .String("Rating", &T::Rating)
                             .Integer(
                                 "MarginReq", [](const T& r) { return r.MarginReq.load(); },
                                 [](T& r, std::int32_t v) { r.MarginReq = v; })
                             .Integer(
                                 "MarginPC", [](const T& r) { return r.MarginPC.load(); },
                                 [](T& r, std::int32_t v) { r.MarginPC = v; })
                             .String("CommodityIndicator", &T::CommodityIndicator));
  return description;
}

void TMarginRating::WriteExtra(TStream& stream) const {
  WriteName(stream, Exchange);
  WriteName(stream, Commodity);
  WriteName(stream, Contract);
  WriteName(stream, TraderAccount);
}

void TMarginRating::ReadExtra(TStream& stream) {
  Exchange = Trim(stream.ReadString());
  Commodity = Trim(stream.ReadString());
  Contract = Trim(stream.ReadString());
  TraderAccount = Trim(stream.ReadString());
}

TMarginRatingQ::TMarginRatingQ(const std::atomic<bool>* marginMode)
    : TIndexListOf<TMarginRating>("MarginRating", &TMarginRating::Class()),
      marginMode_(marginMode) {
  SetSorted(true);
  SetOwnsObjects(true);
}

void TMarginRatingQ::SetOptionTest(TOptionTest test) {
  TIndexListLock guard(*this);
  optionTest_ = std::move(test);
}

std::string TMarginRatingQ::MarginRatingKey(std::string_view rating, std::string_view account,
                                            std::string_view indicator,
                                            std::string_view contractDate,
                                            std::string_view commodity, std::string_view exchange) {
  std::string key;
  key.reserve(rating.size() + account.size() + exchange.size() + commodity.size() +
              contractDate.size() + indicator.size() + 5);
  key += rating;
  key += '\x01';
  key += account;
  key += '\x01';
  key += exchange;
  key += '\x01';
  key += commodity;
  key += '\x01';
  key += contractDate;
  key += '\x01';
  key += indicator;
  return key;
}

void TMarginRatingQ::KeyOf(const TMarginRating& item, std::string& key) const {
  key = MarginRatingKey(item.Rating, item.TraderAccount, item.CommodityIndicator, item.Contract,
                        item.Commodity, item.Exchange);
}

std::shared_ptr<TMarginRating> TMarginRatingQ::FindRating(
    std::string_view rating, std::string_view account, std::string_view indicator,
    std::string_view contractDate, std::string_view commodity, std::string_view exchange) const {
  return Get(MarginRatingKey(rating, account, indicator, contractDate, commodity, exchange));
}

bool TMarginRatingQ::UseOptionRatings(std::string_view exchange, std::string_view commodity,
                                      std::string_view contractDate) const {
  if (!marginMode_ || !marginMode_->load()) return false;
  TOptionTest test;
  {
    TIndexListLock guard(*this);
    test = optionTest_;
  }
  // Outside the lock: the contract list comes before the reference lists.
  return test && test(exchange, commodity, contractDate);
}

bool TMarginRatingQ::GetMargin(std::string_view rating, std::string_view account, double& marginReq,
                               double& marginPC, std::string_view contractDate,
                               std::string_view commodity, std::string_view exchange) const {
  const bool options = UseOptionRatings(exchange, commodity, contractDate);
  const std::array<std::string_view, 2> indicators = {"O", " "};
  for (std::size_t i = options ? 0 : 1; i < indicators.size(); ++i) {
    const std::string_view indicator = indicators[i];
    for (int level = 0; level < 4; ++level) {
      const auto found = FindRating(
          rating, account, indicator, level < 1 ? contractDate : std::string_view(),
          level < 2 ? commodity : std::string_view(), level < 3 ? exchange : std::string_view());
      if (found) {
        marginReq = found->MarginReq.load();
        marginPC = found->MarginPC.load();
        return true;
      }
    }
  }
  marginReq = 0.0;
  return false;
}

TMarginFound TMarginRatingQ::GetMargin(std::string_view rating, std::string_view contractDate,
                                       std::string_view commodity,
                                       std::string_view exchange) const {
  TMarginFound result;
  result.MarginPC = 100.0;
  result.Found = GetMargin(rating, std::string_view(), result.MarginReq, result.MarginPC,
                           contractDate, commodity, exchange);
  return result;
}

TMarginFound TMarginRatingQ::GetMargin(std::string_view rating, std::string_view account,
                                       std::string_view contractDate, std::string_view commodity,
                                       std::string_view exchange) const {
  TMarginFound result;
  result.MarginPC = 0.0;
  result.Found = GetMargin(rating, account, result.MarginReq, result.MarginPC, contractDate,
                           commodity, exchange);
  return result;
}

}  // namespace vorn
