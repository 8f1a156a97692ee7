#pragma once
// Reports: the host's report texts and the client's own trade reports (per trading day, per
// trader account, one fixed-width line per order with totals), kept in one list that the store
// saves and the report queries read.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"
#include "core/trading/OrderItem.h"
#include "platform/Clock.h"

namespace vorn {

// What one line of a trade report shows of an order: its terms and the figures of its fills.
struct TTradeReportOrder {
  std::string ID;
  std::string ExchangeName;
  std::string AccountName;
  // With a contract, its names, tick size and the decimals of its commodity's exchange; without
  // one, the line shows the names the report builder is given.
  bool HasContract = false;
  std::string CommodityName;
  std::string ContractDate;
  double TickSize = 0;
  std::int32_t Decimals = 0;
  TPurchase BuySell = Illegal;
  std::int32_t Filled = 0;
  double AveragePrice = 0;
  std::string DateFilled;  // "yyyymmdd"
  std::string TimeFilled;  // "hhnnss"
  std::string Reference;
};

// The line values of an order. A missing account, commodity or exchange gives an empty name and
// 0 decimals.
TTradeReportOrder TradeReportOrderOf(const TOrderItem& order);

// The date of a "yyyymmdd" text (each part read with the default 0); EConvertError when the
// parts do not form a date.
TDateTime YMDToDate(std::string_view text);

// Decimals of the average price: from the tick size's general text, its length less 2 (or its
// last digit in exponent form) when the text is at least as long as the exchange's decimals,
// else one less than those decimals.
int AveragePriceDecimals(double tickSize, std::int32_t exchangeDecimals);

// One order line (128 characters). commodity and contractDate are shown for an order without a
// contract. A fill date or time that is not valid shows as blanks.
std::string TradeReportLine(const TTradeReportOrder& order, std::string_view commodity,
                            std::string_view contractDate);

// One trader account's part of a trade report.
class TTraderReportItem {
 public:
  explicit TTraderReportItem(std::string account) : Account(std::move(account)) {}

  // Adds the order's line and its filled lots when the order is this account's (names compared
  // in upper case). An order already in the section (same ID) has its line and lots replaced, so
  // a repeated download does not count it twice.
  void AddOrder(const TTradeReportOrder& order, std::string_view commodity,
                std::string_view contractDate);
  // The lines in the order they were added.
  std::vector<std::string> Lines() const;

  std::string Account;
  std::int32_t TotalBought = 0;
  std::int32_t TotalSold = 0;

 private:
  struct TLine {
    std::string OrderID;
    std::string Text;
    std::int32_t Lots = 0;
    bool Bought = false;
  };
  std::vector<TLine> lines_;
};

// A report. Host reports carry the host's text; a trade report builds its text from the
// account sections of the orders added to it in this run (the sections are not stored).
class TReportItem : public TStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  std::size_t GetTextLength() const { return Text.size(); }

  // Adds the order to its account's section, making the section on first use.
  void AddOrder(const TTradeReportOrder& order, std::string_view commodity,
                std::string_view contractDate);
  bool HasAccountSections() const { return !traderAccReportQ_.empty(); }
  const std::vector<std::unique_ptr<TTraderReportItem>>& TraderAccReportQ() const {
    return traderAccReportQ_;
  }
  // Writes Text from the account sections, stamped with the local time now.
  void BuildTradeReport();

  std::string ReportType;
  std::int32_t Sequence = 0;
  std::string Text;
  std::string ReportDate;

 private:
  std::vector<std::unique_ptr<TTraderReportItem>> traderAccReportQ_;
};

// The report list, sorted by the trimmed type and the sequence. Its operations take the list's
// lock; a listed report is changed only through them.
class TReportQ : public TIndexListOf<TReportItem> {
 public:
  TReportQ();

  // Trim(type) + chr(1) + the sequence as 10 digits with leading zeros.
  static std::string ReportKey(std::string_view type, std::int32_t sequence);

  std::shared_ptr<TReportItem> FindReport(std::string_view type, std::int32_t sequence) const;
  // The texts of every report whose type equals the trimmed type, joined in list order.
  std::string GetReportText(std::string_view type) const;
  // A host report: the report of that type and sequence, made when missing, takes the text.
  void SetReportText(std::string_view type, std::int32_t sequence, std::string text);
  // Adds an order of the report download to the trade report of its trading day (dateText,
  // "yyyymmdd"), making the report when there is none: its type is the weekday and the date
  // ("Mon 05-Mar-2024"; empty when the date is not valid). commodity and contractDate are the
  // message's, shown for an order without a contract.
  void AddTradeReportOrder(const TOrderItem& order, std::string_view dateText,
                           std::string_view contractDate, std::string_view commodity,
                           std::string_view exchange);
  void AddTradeReportOrder(const TTradeReportOrder& order, std::string_view dateText,
                           std::string_view contractDate, std::string_view commodity);
  // End of the report download: rebuilds the text of every report that received orders in this
  // run (host reports and stored trade reports keep theirs). Returns the type of every report,
  // in list order, for the report-type list.
  std::vector<std::string> CompleteReports();

 protected:
  void KeyOf(const TReportItem& item, std::string& key) const override {
    key = ReportKey(item.ReportType, item.Sequence);
  }
};

}  // namespace vorn
