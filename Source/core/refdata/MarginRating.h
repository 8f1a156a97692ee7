#pragma once
// Margin ratings: the margin rows that the host downloads, keyed by rating, account, exchange,
// commodity, contract date and commodity indicator, and the look-up that finds the most
// specific row for a contract.
//
// A rating keeps the names of the account, exchange, commodity and contract it was made for and
// is keyed on them. It resolves nothing itself: a caller that needs one of those items finds it
// by name in its own list, so loading a rating never depends on which list was read first and
// never creates anything.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

class TMarginRating : public TStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  // Exchange, commodity, contract date and account names, each " " when empty; read back
  // trimmed.
  void WriteExtra(TStream& stream) const override;
  void ReadExtra(TStream& stream) override;

  // The key parts: set before the rating is listed, never while it is. An empty name stands for
  // no such reference.
  std::string Rating;
  std::string TraderAccount;
  std::string Exchange;
  std::string Commodity;
  std::string Contract;
  // "O" for options, " " otherwise.
  std::string CommodityIndicator = " ";

  // Published; the host updates them while the rating is listed.
  std::atomic<std::int32_t> MarginReq{0};
  std::atomic<std::int32_t> MarginPC{0};
};

// A margin look-up's result.
struct TMarginFound {
  bool Found = false;
  double MarginReq = 0;
  double MarginPC = 0;
};

// "MarginRating": sorted by the key of MarginRatingKey.
class TMarginRatingQ : public TIndexListOf<TMarginRating> {
 public:
  // Whether the contract of the three names is an option (the contract list's IsOption of
  // FindContract); called with no list lock held.
  using TOptionTest = std::function<bool(std::string_view exchange, std::string_view commodity,
                                         std::string_view contractDate)>;

  // The flag is the API object's margin mode; without one, only the " " ratings are tried.
  explicit TMarginRatingQ(const std::atomic<bool>* marginMode = nullptr);

  void SetOptionTest(TOptionTest test);

  // Rating, account, exchange, commodity, contract date and indicator joined by chr(1).
  static std::string MarginRatingKey(std::string_view rating, std::string_view account,
                                     std::string_view indicator, std::string_view contractDate,
                                     std::string_view commodity, std::string_view exchange);

  // The rating of that key, or null. Parts may be empty.
  std::shared_ptr<TMarginRating> FindRating(std::string_view rating, std::string_view account,
                                            std::string_view indicator,
                                            std::string_view contractDate,
                                            std::string_view commodity,
                                            std::string_view exchange) const;

  // The most specific row of the rating and account for the contract: (contract date,
  // commodity, exchange), then (commodity, exchange), then (exchange), then none; with the
  // margin mode on and an option contract, those four with indicator "O" first, then with " ".
  // A hit sets both figures and gives true; a miss gives false, sets marginReq to 0 and leaves
  // marginPC as it was.
  bool GetMargin(std::string_view rating, std::string_view account, double& marginReq,
                 double& marginPC, std::string_view contractDate, std::string_view commodity,
                 std::string_view exchange) const;
  // The row for no particular account; MarginPC 100 when none.
  TMarginFound GetMargin(std::string_view rating, std::string_view contractDate,
                         std::string_view commodity, std::string_view exchange) const;
  // The row for the account; MarginPC 0 when none.
  TMarginFound GetMargin(std::string_view rating, std::string_view account,
                         std::string_view contractDate, std::string_view commodity,
                         std::string_view exchange) const;

 protected:
  void KeyOf(const TMarginRating& item, std::string& key) const override;

 private:
  bool UseOptionRatings(std::string_view exchange, std::string_view commodity,
                        std::string_view contractDate) const;

  const std::atomic<bool>* marginMode_;
  TOptionTest optionTest_;  // guarded by the list's lock
};

}  // namespace vorn
