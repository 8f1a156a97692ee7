#include "core/trading/Report.h"

#include <algorithm>
#include <cctype>

#include "core/refdata/Commodity.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/Exchange.h"
#include "core/trading/TraderAccount.h"
#include "core/util/CompareKeys.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"

namespace vorn {
namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kColumnHeader =
    "Order ID  Exchange  Contract Maturity            Side      Fills  Average Price    Date "
    "Fill Time Fill Reference                ";
constexpr std::size_t kNoFillsWidth = 39;  // average price, gap, date and time of the fills
constexpr int kMaxDecimals = 18;

void PadRight(std::string& out, std::string_view text, std::size_t width) {
  out.append(text.substr(0, std::min(text.size(), width)));
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void PadLeft(std::string& out, std::string_view text, std::size_t width) {
  if (text.size() < width) out.append(width - text.size(), ' ');
  out.append(text.substr(0, std::min(text.size(), width)));
}

// "dd-mmm-yyyy" of a "yyyymmdd" text; empty when it is not a date.
std::string ShowDate(std::string_view ymd) {
  try {
    return FormatDateTime("dd-mmm-yyyy", YMDToDate(ymd));
  } catch (const EConvertError&) {
    return {};
  }
}

// "hh:nn.ss" of a "hhnnss" text; empty when it is not a time.
std::string ShowTime(std::string_view hns) {
  TDateTime time = 0;
  if (!TryEncodeTime(SafeStrToInt(Copy(hns, 1, 2), 0), SafeStrToInt(Copy(hns, 3, 2), 0),
                     SafeStrToInt(Copy(hns, 5, 2), 0), 0, time))
    return {};
  return FormatDateTime("hh:nn.ss", time);
}

bool Bought(TPurchase side) {
  return side == Buy || side == TwoSided || side == Cross;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lines

TTradeReportOrder TradeReportOrderOf(const TOrderItem& order) {
  TTradeReportOrder line;
  line.ID = order.ID;
  line.ExchangeName = order.ExchangeName;
  line.AccountName = order.GetTraderAccountName();
  if (const auto& contract = order.Contract) {
    line.HasContract = true;
    line.CommodityName = contract->CommodityStr();
    line.ContractDate = contract->ContractDate();
    line.TickSize = contract->GetTickSize();
    if (auto commodity = contract->GetCommodity()) {
      if (const auto& exchange = commodity->Exchange()) line.Decimals = exchange->Decimals;
    }
  }
  line.BuySell = order.BuySell;
  line.Filled = order.Filled;
  line.AveragePrice = order.AveragePrice;
  line.DateFilled = order.DateFilled();
  line.TimeFilled = order.TimeFilled();
  line.Reference = order.GetReference();
  return line;
}

TDateTime YMDToDate(std::string_view text) {
  return EncodeDate(SafeStrToInt(Copy(text, 1, 4), 0), SafeStrToInt(Copy(text, 5, 2), 0),
                    SafeStrToInt(Copy(text, 7, 2), 0));
}

int AveragePriceDecimals(double tickSize, std::int32_t exchangeDecimals) {
  const std::string text = FloatToStr(tickSize);
  int decimals = 0;
  if (static_cast<std::int64_t>(text.size()) >= exchangeDecimals) {
    if (text.find('E') != std::string::npos) {
      const unsigned char last = static_cast<unsigned char>(text.back());
      decimals = std::isdigit(last) ? last - '0' : 0;
    } else {
      decimals = static_cast<int>(text.size()) - 2;
    }
  } else {
    decimals = exchangeDecimals - 1;
  }
  return std::clamp(decimals, 0, kMaxDecimals);
}

std::string TradeReportLine(const TTradeReportOrder& order, std::string_view commodity,
                            std::string_view contractDate) {
  std::string line;
  line.reserve(128);
  PadRight(line, order.ID, 9);
  line += ' ';
  PadRight(line, order.ExchangeName, 10);
  if (order.HasContract) {
    PadRight(line, order.CommodityName, 9);
    PadRight(line, order.ContractDate, 20);
  } else {
    PadRight(line, commodity, 9);
    PadRight(line, contractDate, 20);
  }
  PadRight(line, order.BuySell == Buy ? "Buy" : "Sell", 6);
  PadLeft(line, IntToStr(order.Filled), 9);
  if (order.Filled > 0) {
    const int decimals =
        order.HasContract ? AveragePriceDecimals(order.TickSize, order.Decimals) : 0;
    PadLeft(line, FloatToStrFixed(order.AveragePrice, decimals), 15);
    line += "  ";
    PadRight(line, ShowDate(order.DateFilled), 12);
    PadRight(line, ShowTime(order.TimeFilled), 10);
  } else {
    line.append(kNoFillsWidth, ' ');
  }
  PadRight(line, order.Reference, 25);
  return line;
}

// ---------------------------------------------------------------------------------------------
// TTraderReportItem

void TTraderReportItem::AddOrder(const TTradeReportOrder& order, std::string_view commodity,
                                 std::string_view contractDate) {
  if (UpperCase(order.AccountName) != UpperCase(Account)) return;
  TLine line;
  line.OrderID = order.ID;
  line.Text = TradeReportLine(order, commodity, contractDate);
  line.Lots = order.Filled;
  line.Bought = Bought(order.BuySell);
  auto same = lines_.end();
  if (!line.OrderID.empty())
    same = std::find_if(lines_.begin(), lines_.end(),
                        [&](const TLine& l) { return l.OrderID == line.OrderID; });
  if (same != lines_.end()) {
    (same->Bought ? TotalBought : TotalSold) -= same->Lots;
    *same = line;
  } else {
    lines_.push_back(line);
  }
  (line.Bought ? TotalBought : TotalSold) += line.Lots;
}

std::vector<std::string> TTraderReportItem::Lines() const {
  std::vector<std::string> texts;
  texts.reserve(lines_.size());
  for (const auto& line : lines_)
    texts.push_back(line.Text);
  return texts;
}

// ---------------------------------------------------------------------------------------------
// TReportItem

const TStreamClass& TReportItem::Class() {
  using T = TReportItem;
  static const TStreamClass& description =
      MakeStreamClass<T>("TReportItem", &TStreamable::Class(),
                         TPropertyTable<T>()
                             .String("ReportType", &T::ReportType)
                             .Integer("Sequence", &T::Sequence)
                             .String("Text", &T::Text)
                             .String("ReportDate", &T::ReportDate));
  return description;
}

void TReportItem::AddOrder(const TTradeReportOrder& order, std::string_view commodity,
                           std::string_view contractDate) {
  auto section = std::find_if(traderAccReportQ_.begin(), traderAccReportQ_.end(),
                              [&](const std::unique_ptr<TTraderReportItem>& s) {
                                return SameText(s->Account, order.AccountName);
                              });
  if (section == traderAccReportQ_.end()) {
    traderAccReportQ_.push_back(std::make_unique<TTraderReportItem>(order.AccountName));
    section = traderAccReportQ_.end() - 1;
  }
  (*section)->AddOrder(order, commodity, contractDate);
}

void TReportItem::BuildTradeReport() {
  const std::string rule(100, '=');
  std::string text;
  auto line = [&text](std::string_view part = {}) {
    text += part;
    text += kLineEnd;
  };
  line(rule);
  try {
    line("Trade Report for " + ReportType + " " +
         FormatDateTime("dd-mmm-yyyy", YMDToDate(ReportDate)));
  } catch (const EConvertError&) {
    line();
  }
  line(rule);
  line();
  for (const auto& section : traderAccReportQ_) {
    line("TRADER ACCOUNT: " + UpperCase(section->Account));
    line();
    line(kColumnHeader);
    line();
    std::vector<std::string> lines = section->Lines();
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
      return CompareKeys(a, b) < 0;
    });
    for (const auto& l : lines)
      line(l);
    line();
    line("Total Bought = " + IntToStr(section->TotalBought) +
         "  Total Sold = " + IntToStr(section->TotalSold) + "  Todays Position = " +
         IntToStr(static_cast<std::int64_t>(section->TotalBought) - section->TotalSold));
    line();
    line(rule);
    line();
  }
  line("==== End of Report ====");
  line();
  line("==== Produced: " + FormatDateTime("dd-mmm-yyyy hh:nn.ss ", Now()) + "====");
  Text = std::move(text);
}

// ---------------------------------------------------------------------------------------------
// TReportQ

TReportQ::TReportQ() : TIndexListOf<TReportItem>("Report", &TReportItem::Class()) {
  SetSorted(true);
  SetOwnsObjects(true);
}

std::string TReportQ::ReportKey(std::string_view type, std::int32_t sequence) {
  std::string digits = IntToStr(sequence < 0 ? -static_cast<std::int64_t>(sequence) : sequence);
  if (digits.size() < 10) digits.insert(0, 10 - digits.size(), '0');
  std::string key = Trim(type);
  key += '\x01';
  if (sequence < 0) key += '-';
  key += digits;
  return key;
}

std::shared_ptr<TReportItem> TReportQ::FindReport(std::string_view type,
                                                  std::int32_t sequence) const {
  return Get(ReportKey(type, sequence));
}

std::string TReportQ::GetReportText(std::string_view type) const {
  const std::string_view wanted = TrimView(type);
  std::string text;
  TIndexListLock guard(*this);
  for (int i = 0; i < Count(); ++i) {
    const auto report = At(i);
    if (report->ReportType == wanted) text += report->Text;
  }
  return text;
}

void TReportQ::SetReportText(std::string_view type, std::int32_t sequence, std::string text) {
  TIndexListLock guard(*this);
  auto report = FindReport(type, sequence);
  if (!report) {
    report = std::make_shared<TReportItem>();
    report->ReportType = type;
    report->Sequence = sequence;
    Add(report);
  }
  report->Text = std::move(text);
}

void TReportQ::AddTradeReportOrder(const TOrderItem& order, std::string_view dateText,
                                   std::string_view contractDate, std::string_view commodity,
                                   std::string_view /*exchange*/) {
  AddTradeReportOrder(TradeReportOrderOf(order), dateText, contractDate, commodity);
}

void TReportQ::AddTradeReportOrder(const TTradeReportOrder& order, std::string_view dateText,
                                   std::string_view contractDate, std::string_view commodity) {
  TIndexListLock guard(*this);
  std::shared_ptr<TReportItem> report;
  for (int i = 0; i < Count() && !report; ++i) {
    auto candidate = At(i);
    if (candidate->ReportDate == dateText) report = std::move(candidate);
  }
  if (!report) {
    report = std::make_shared<TReportItem>();
    try {
      const TDateTime date = YMDToDate(dateText);
      report->ReportType = FormatDateTime("ddd ", date) + FormatDateTime("dd-mmm-yyyy", date);
    } catch (const EConvertError&) {
      // Not a date: the report has no type, and still collects its orders.
    }
    report->ReportDate = dateText;
    const TAddResult added = Add(report);
    // A report of the same key (another day without a valid date) takes the order instead.
    if (!added.Added) report = At(added.Index);
  }
  report->AddOrder(order, commodity, contractDate);
}

std::vector<std::string> TReportQ::CompleteReports() {
  std::vector<std::string> types;
  TIndexListLock guard(*this);
  types.reserve(static_cast<std::size_t>(Count()));
  for (int i = 0; i < Count(); ++i) {
    auto report = At(i);
    if (report->HasAccountSections()) report->BuildTradeReport();
    types.push_back(report->ReportType);
  }
  return types;
}

}  // namespace vorn
