#pragma once
// Exchange rates by currency.

#include <memory>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

// Currency is the key: set before the rate is listed, never changed while it is listed. Rate
// is changed and read under the list's lock.
class TExchangeRate : public TStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  std::string Currency;
  double Rate = 0;
};

// "Exchange Rate": sorted by Currency.
class TExchangeRateQ : public TIndexListOf<TExchangeRate> {
 public:
  TExchangeRateQ();

  // The rate of the currency, or 0.0 when the currency is not held.
  double GetRate(std::string_view currency) const;

 protected:
  void KeyOf(const TExchangeRate& item, std::string& key) const override { key = item.Currency; }
};

}  // namespace vorn
