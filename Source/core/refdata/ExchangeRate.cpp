#include "core/refdata/ExchangeRate.h"

namespace vorn {

const TStreamClass& TExchangeRate::Class() {
  static const TStreamClass& description =
      MakeStreamClass<TExchangeRate>("TExchangeRate", &TStreamable::Class(),
                                     TPropertyTable<TExchangeRate>()
                                         .String("Currency", &TExchangeRate::Currency)
                                         .Float("Rate", &TExchangeRate::Rate));
  return description;
}

TExchangeRateQ::TExchangeRateQ()
    : TIndexListOf<TExchangeRate>("Exchange Rate", &TExchangeRate::Class()) {
  SetSorted(true);
  SetOwnsObjects(true);
}

double TExchangeRateQ::GetRate(std::string_view currency) const {
  TIndexListLock guard(*this);
  const auto rate = Get(currency);
  return rate ? rate->Rate : 0.0;
}

}  // namespace vorn
