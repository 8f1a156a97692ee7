#include "links/PositionMessages.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/ContractItem.h"
#include "core/session/ClassAPI.h"
#include "core/store/ContractDataThread.h"
#include "core/store/UUIDObjects.h"
#include "core/trading/Fill.h"
#include "core/trading/TraderAccount.h"
#include "core/trading/TraderPosition.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/OrderMessages.h"

namespace vorn {
namespace {

constexpr const char* kNettedText = "NETTED";
constexpr const char* kMidnight = "000000";

// A host decimal that must be a number: EConvertError otherwise.
double StrictFloat(const std::string& text) {
  const double value = SafeStrToFloat(text, std::numeric_limits<double>::quiet_NaN());
  if (std::isnan(value))
    throw EConvertError("'" + Trim(text) + "' is not a valid floating point value");
  return value;
}

// Everything a position message says, read before anything is written.
struct TPositionValues {
  std::string Exchange;
  std::string Commodity;
  std::string ContractDate;
  std::string Account;
  std::int32_t LongLots = 0;
  std::int32_t ShortLots = 0;
  double Price = 0;
  double OptionPremium = 0;
};

TPositionValues ReadPosition(const TFieldsList& fields) {
  TPositionValues v;
  v.Exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  v.Commodity = fields.BoundedValue("C", kCommodityNameWidth);
  v.ContractDate = fields.BoundedValue("CD", kContractDateWidth);
  v.Account = fields.BoundedValue("TA", kTraderAccountWidth);
  v.LongLots = fields.IntValue("Psl");
  v.ShortLots = fields.IntValue("Pss");
  v.Price = StrictFloat(fields.Value("Pr"));
  v.OptionPremium = fields.FloatValue("OPr");
  return v;
}

// Both kinds write the same dump title.
void DumpPosition(const TPositionValues& v) {
  std::string d = "TMSODPosition.ReceiveFields: ";
  AppendDumpLine(d, "  Exchange Name  ", v.Exchange);
  AppendDumpLine(d, "  Contract Name  ", v.Commodity);
  AppendDumpLine(d, "  Contract Date  ", v.ContractDate);
  AppendDumpLine(d, "  Trader Accnt   ", v.Account);
  AppendDumpLine(d, "  Long Position  ", IntToStr(v.LongLots));
  AppendDumpLine(d, "  ShortPosition  ", IntToStr(v.ShortLots));
  AppendDumpLine(d, "  Option Premium ", FloatToStr(v.OptionPremium));
  AppendDumpLine(d, "  Price          ", FloatToStr(v.Price));
  WriteTraceLine(d);
}

void ApplyPosition(TClassAPI& api, TFieldsList& fields, bool startOfDay) {
  const char* kind = startOfDay ? "SOD" : "EOD";
  const std::string exchange = fields.Value("Ex");
  const std::string commodity = fields.Value("C");
  const std::string contractDate = fields.Value("CD");
  const auto contract = api.Contracts.FindContract(exchange, commodity, contractDate);
  if (!contract) {
    WriteTraceLine("Cannot find Contract " + Trim(exchange) + " \\ " + Trim(commodity) + " \\ " +
                   Trim(contractDate) + " for " + kind + " Position");
    return;
  }
  const TPositionValues v = ReadPosition(fields);
  // The library holds the contract's prices for as long as it holds positions in it.
  if (startOfDay)
    HoldPositionalContract(api, *contract, true, v.Exchange, v.Commodity, v.ContractDate);
  if (DebugFlagOn(kDebugging)) DumpPosition(v);

  const std::string id = startOfDay
                             ? MakeSODFillID(v.Account, v.Exchange, v.Commodity, v.ContractDate)
                             : MakeEODFillID(v.Account, v.Commodity, v.ContractDate);
  const std::string yesterday = FormatDateTime("yyyymmdd", Now() - 1);
  const auto account = api.Accounts.FindAccount(v.Account);
  if (!account) WriteTraceLine("No Such Account " + v.Account + " for " + kind + " Position");
  {
    // Found, written and listed under the order list's and the fill list's locks (the book's
    // order), so no reader or rebuild sees a pseudo-fill half written.
    TIndexListLock orders(api.Orders);
    TIndexListLock fills(api.Fills);
    auto fill = api.Fills.FindByKey(TFill::KeyFor(id, fltpNETTED));
    const bool added = !fill;
    if (added) {
      fill = std::make_shared<TFill>();
      fill->FillID = id;
      fill->FillType = fltpNETTED;
    }
    fill->Contract = contract;
    fill->BuySell = v.LongLots >= 1 ? Buy : Sell;
    fill->Lots = v.LongLots >= 1 ? v.LongLots : v.ShortLots;
    fill->Price = v.Price;
    fill->OrderID = "0";
    fill->DateFilled = yesterday;
    fill->TimeFilled = kMidnight;
    fill->DateHostReceived = yesterday;
    fill->TimeHostReceived = kMidnight;
    fill->ExchangeOrderID = kNettedText;
    fill->Account = account;
    fill->UserName = api.UserName.Get();
    fill->IsSODFill = startOfDay;
    fill->IsEODFill = !startOfDay;

    // A listed pseudo-fill is re-netted with its new figures; a new one is netted as it is
    // listed.
    api.Positions.RebuildPosition(*fill);
    if (added) api.Positions.AddFill(fill);
    // Keyed by the pseudo-fill's id: a repeated message replaces the entry. Booked before a
    // start-of-day record restarts the cover, which then covers it too.
    if (account)
      account->AddMarginFill(id, contract->Key(), fill->BuySell, fill->Lots, fill->Price,
                             StartOfDayCover(*contract, account->TraderAccount));
    if (startOfDay) {
      // Replaced on every message, so a corrected position never leaves stale figures; all its
      // long lots are free to cover sells again.
      const TPositionFigures figures{v.Account,   v.LongLots, v.LongLots,
                                     v.ShortLots, v.Price,    v.OptionPremium};
      const auto store = [&] { PositionOf(*contract)->SetStartOfDay(v.Account, figures); };
      if (account) {
        // During the download the record and the orders arrive in any order, so the sells
        // already listed are covered from it as if it had come first. After the download a
        // new record starts the day again: the sells covered before it are settled in it.
        const bool downloading = api.Logon.DownloadInProgress;
        account->RestartCover(
            contract->Key(), store,
            downloading ? StartOfDayCover(*contract, account->TraderAccount) : TCoverLots{});
        account->AddTradedContract(contract->Key());
      } else {
        store();
      }
    }
  }
  if (!api.Logon.DownloadInProgress) AddFillCallback(kNettedText, id);
}

}  // namespace

void ReceiveSODPosition(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMSODPosition.ReceiveFields");
  ApplyPosition(api, fields, true);
}

void ReceiveEODPosition(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMEODPosition.ReceiveFields");
  ApplyPosition(api, fields, false);
}

void ReceiveUUIDMessage(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TUUIDMsg.ReceiveFields");
  try {
    TUUIDMessage message{fields.Value("Act"), fields.Value("GUIDL")};
    const std::string uuids = message.UUID;
    if (!api.UUIDMessages.Post(std::move(message)))
      WriteTraceLine("UUID message dropped, thread stopped: " + uuids);
  } catch (...) {
    WriteTraceLine("Error during adding and receiving fields for UUID message");
  }
}

void StartContractsLoad(TClassAPI& api) {
  api.StartContractData(TContractDataThread::cdaRead);
}

void StartContractsSave(TClassAPI& api) {
  api.StartContractData(TContractDataThread::cdaWrite);
}

}  // namespace vorn
