#include "sim/SimTestData.h"

#include <mutex>
#include <optional>
#include <utility>

#include "core/diag/Trace.h"
#include "core/refdata/ContractItem.h"
#include "core/refdata/Exchange.h"
#include "core/refdata/ExchangeRate.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/ReportType.h"
#include "core/session/ClassAPI.h"
#include "core/trading/Report.h"
#include "core/trading/TraderAccount.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "platform/Files.h"
#include "platform/Module.h"
#include "platform/ProcessWide.h"
#include "sim/ContractShape.h"
#include "sim/VORNToken.h"

namespace vorn::sim {

namespace {

struct TFolderSeam {
  std::mutex lock;
  std::string folder;
};

TFolderSeam& FolderSeam() {
  static TFolderSeam& seam = KeepProcessWide(new TFolderSeam);
  return seam;
}

bool BlankLine(std::string_view line) {
  return TrimView(line).empty();
}

// The lines of a tokenized file, blank ones left out; false when it cannot be read.
bool ReadTokenLines(const std::string& path, std::vector<std::string>& lines) {
  if (!ReadDataLines(path, lines)) return false;
  std::erase_if(lines, [](const std::string& line) { return BlankLine(line); });
  return true;
}

void Note(const char* text) {
  if (DebugFlagOn(kDebugging)) WriteTraceLine(text);
}

// The simulator's settings of an exchange that a commodity line names.
void SetExchangeFlags(TExchange& exchange) {
  const std::string& name = exchange.Name();
  const std::string upper = UpperCase(name);
  exchange.AmendEnabled = true;
  exchange.QueryEnabled = upper == "EUREX" || upper == "LIFFE";
  const bool liffe = upper == "LIFFE";
  exchange.EnableAA = liffe;
  exchange.EnableBasis = liffe;
  exchange.EnableBlock = liffe;
  exchange.EnableCross = liffe;
  exchange.StrategyCreator = scVORN;
  if (name.find("CME") != std::string::npos) exchange.TicketType = 'E';
  if (upper == "LEHMANFX") {
    exchange.TicketType = 'F';
    exchange.RFQA = true;
    exchange.RFQT = true;
  }
}

// The rate of the currency, made at 1.0 first when the list has none.
void SetRate(TExchangeRateQ& rates, const std::string& currency, double rate) {
  std::shared_ptr<TExchangeRate> item = rates.Get(currency);
  if (!item) {
    item = std::make_shared<TExchangeRate>();
    item->Currency = currency;
    item->Rate = 1.0;
    if (!rates.Add(item).Added) item = rates.Get(currency);
  }
  if (item) item->Rate = rate;
}


}  // namespace

TFieldsList ContractFields(const TContractShape& shape, std::string_view expiry,
                           std::string_view lastTrade) {
  TFieldsList fields;
  fields.AddFieldValue("XD", expiry, 0, 0, false);
  fields.AddFieldValue("LT", lastTrade, 0, 0, false);
  for (std::size_t i = 0; i < shape.Legs.size(); ++i) {
    const TLegShape& leg = shape.Legs[i];
    const int index = static_cast<int>(i) + 1;
    fields.AddFieldValue("X1", leg.Kind, index, 0, false);
    fields.AddFieldValue("X2", leg.Text, index, 0, false);
    fields.AddFieldValue("X3", leg.DateCode, index, 0, false);
    fields.AddFieldValue("X4", leg.Strike, index, 0, false);
    fields.AddFieldValue("X5", leg.Ratio, index, 0, false);
  }
  return fields;
}

std::string TestDataFolder() {
  {
    TFolderSeam& seam = FolderSeam();
    std::lock_guard guard(seam.lock);
    if (!seam.folder.empty()) return seam.folder;
  }
  return ExtractFilePath(LibraryFileName());
}

void SetTestDataFolderForTests(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  TFolderSeam& seam = FolderSeam();
  std::lock_guard guard(seam.lock);
  seam.folder = std::move(folder);
}

bool ReadDataLines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return true;
}

bool LoadCommodities(TClassAPI& api, const std::string& folder) {
  TTraceScope scope("TAutoDemo.LoadCommodites");
  Note(" ..Loading commodities & exchanges");
  api.Commodities.FreeAll();
  api.Exchanges.FreeAll();
  api.ExchangeRates.FreeAll();
  std::vector<std::string> lines;
  if (ReadTokenLines(folder + kCommodityFile, lines)) {
    for (const std::string& line : lines) {
      TVORNToken token(line);
      auto commodity = std::make_shared<TDemoCommodity>();
      commodity->SetExchangeName(token.Next());
      commodity->SetName(Copy(token.Next(), 1, 10));
      commodity->Currency = token.Next();
      commodity->OnePoint = ColumnToFloat(token.Next());
      commodity->TicksPerPoint = StrictStrToInt(token.Next());
      commodity->TickSize = ColumnToFloat(token.Next());
      const double rate = ColumnToFloat(token.Next());
      commodity->Description = token.Next();
      // A tick of 0 would divide the band and the price steps by zero.
      if (!(commodity->TickSize > 0) || commodity->TicksPerPoint < 1) {
        WriteTraceLine("TAutoDemo.LoadCommodites: " + line + " refused: no tick size");
        continue;
      }
      if (!api.Commodities.Add(commodity).Added) {
        WriteTraceLine("TAutoDemo.LoadCommodites: " + line + " refused: listed already");
        continue;
      }
      // After the refusals: a refused line changes no rate.
      SetRate(api.ExchangeRates, commodity->Currency, rate);
      if (const auto& exchange = commodity->Exchange()) SetExchangeFlags(*exchange);
    }
  }
  return api.Commodities.Count() > 0 && api.Exchanges.Count() > 0;
}

bool LoadContracts(TClassAPI& api, const std::string& folder, std::vector<TLoadedContract>& added) {
  TTraceScope scope("TAutoDemo.LoadContracts");
  Note(" ..Loading contracts");
  added.clear();
  api.Contracts.FreeAll();
  std::vector<std::string> lines;
  if (ReadTokenLines(folder + kContractFile, lines)) {
    for (const std::string& line : lines) {
      TVORNToken token(line);
      const std::string exchange = Trim(token.Next());
      const std::string commodityName = Trim(Copy(token.Next(), 1, 10));
      const std::string dateText = token.Next();
      const std::string expiry = Copy(token.Next(), 1, 8);
      const std::string lastTrade = Copy(token.Next(), 1, 8);
      TLoadedContract loaded;
      loaded.UpperLimit = ColumnToFloat(token.Next());
      loaded.LowerLimit = ColumnToFloat(token.Next());
      loaded.LotLimit = StrictStrToInt(token.Next());
      const auto commodity = api.Commodities.FindCommodity(exchange, commodityName);
      if (!commodity) {
        WriteTraceLine("TAutoDemo.LoadContracts: " + line + " refused: no such commodity");
        continue;
      }
      const std::optional<TContractShape> shape = ParseContractShape(dateText, exchange);
      if (!shape) {
        WriteTraceLine("TAutoDemo.LoadContracts: " + line + " refused: unknown date text");
        continue;
      }
      if (api.Contracts.AddFromFields(exchange, commodityName, dateText,
                                      ContractFields(*shape, expiry, lastTrade)) < 0) {
        WriteTraceLine("TAutoDemo.LoadContracts: " + line + " refused: listed already");
        continue;
      }
      loaded.Contract = api.Contracts.FindByName(exchange, commodityName, dateText);
      if (!loaded.Contract) continue;
      loaded.Contract->State = TUUIDStreamable::usActive;
      added.push_back(std::move(loaded));
    }
  }
  return api.Contracts.Count() > 0;
}

bool LoadTraders(TClassAPI& api, const std::string& folder) {
  TTraceScope scope("TAutoDemo.LoadTraders");
  Note(" ..Loading traders");
  api.Accounts.FreeAll();
  std::vector<std::string> lines;
  if (ReadTokenLines(folder + kTraderFile, lines)) {
    for (const std::string& line : lines) {
      TVORNToken token(line);
      auto account = std::make_shared<TTraderAccountItem>(token.Next());
      account->SetBackOfficeID(token.Next());
      account->Tradable = token.Next() == "Y";
      account->LossLimit = LenientStrToInt(token.Next());
      if (!api.Accounts.Add(account).Added)
        WriteTraceLine("TAutoDemo.LoadTraders: " + line + " refused: listed already");
    }
  }
  return api.Accounts.Count() > 0;
}

bool LoadReportTypes(TClassAPI& api, const std::string& folder) {
  TTraceScope scope("TAutoDemo.LoadReportTypes");
  Note(" ..Loading report types");
  api.ReportTypes.FreeAll();
  std::vector<std::string> lines;
  if (ReadDataLines(folder + kReportTypeFile, lines)) {
    for (const std::string& line : lines) {
      if (BlankLine(line)) continue;
      auto type = std::make_shared<TReportType>();
      type->ReportType = Trim(line);
      api.ReportTypes.Add(type);
    }
  }
  return api.ReportTypes.Count() > 0;
}

bool LoadReports(TClassAPI& api, const std::string& folder) {
  TTraceScope scope("TAutoDemo.LoadReports");
  Note(" ..Loading reports");
  api.Reports.FreeAll();
  std::vector<std::string> lines;
  if (ReadDataLines(folder + kReportFile, lines)) {
    std::size_t next = 0;
    while (next < lines.size()) {
      const std::string& head = lines[next++];
      // Between reports only: a body keeps its blank lines.
      if (BlankLine(head)) continue;
      TVORNToken token(head);
      auto report = std::make_shared<TReportItem>();
      report->ReportType = token.Next();
      report->Sequence = StrictStrToInt(token.Next());
      const std::int32_t count = LenientStrToInt(token.Next());
      for (std::int32_t i = 0; i < count && next < lines.size(); ++i)
        report->Text += lines[next++] + "\r\n";
      if (!api.Reports.Add(report).Added)
        WriteTraceLine("TAutoDemo.LoadReports: " + head + " refused: listed already");
    }
  }
  return api.Reports.Count() > 0;
}

bool LoadOrderTypes(TClassAPI& api, const std::string& folder) {
  TTraceScope scope("TAutoDemo.LoadOrderTypes");
  Note(" ..Loading order types");
  api.OrderTypes.FreeAll();
  std::vector<std::string> lines;
  if (ReadTokenLines(folder + kOrderTypeFile, lines)) {
    for (const std::string& line : lines) {
      TVORNToken token(line);
      auto type = std::make_shared<TOrderTypeItem>();
      type->SetName(token.Next());
      const std::string exchange = token.Next();
      if (!api.Exchanges.FindExchange(exchange)) continue;
      type->SetExchangeName(exchange);
      type->PricesRequired = static_cast<std::uint8_t>(LenientStrToInt(token.Next()));
      type->OrderTypeID = static_cast<TOrderTypes>(StrictStrToInt(token.Next()));
      type->DatesRequired = static_cast<std::uint8_t>(LenientStrToInt(token.Next()));
      type->VolumesRequired = 1;
      if (!api.OrderTypes.Add(type).Added)
        WriteTraceLine("TAutoDemo.LoadOrderTypes: " + line + " refused: listed already");
    }
  }
  return api.OrderTypes.Count() > 0;
}

}  // namespace vorn::sim
