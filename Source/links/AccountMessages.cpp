#include "links/AccountMessages.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NameWidths.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"

namespace vorn {
namespace {

constexpr int kAccountAdd = 3679;
constexpr int kAccountDelete = 3681;
constexpr int kRatingAdd = 3673;
constexpr int kRatingUpdate = 3674;
constexpr int kLegacyAccountAdd = 30;
constexpr int kLegacyReportTypeAdd = 54;
constexpr int kLegacyReportTypeDelete = 55;

// A margin rating's name, a user message's sequence and text (their record fields less the NUL).
constexpr std::size_t kRatingWidth = 20;
constexpr std::size_t kSequenceWidth = 10;
constexpr std::size_t kMessageWidth = 500;

// ---------------------------------------------------------------------------------------------
// Trader accounts

struct TAccountValues {
  std::string BackOfficeID;
  bool Tradable = false;
  std::int32_t MaxOustandingOrders = 0;
  std::int32_t LossLimit = 0;
  std::string MarginRating;
  bool SetsEOSFlatten = false;
  bool EOSFlatten = false;
};

// Writes the values; true when a listed account's margin rating name changed.
bool WriteAccount(TTraderAccountItem& account, const TAccountValues& values) {
  account.SetBackOfficeID(values.BackOfficeID);
  account.Tradable = values.Tradable;
  account.MaxOustandingOrders = values.MaxOustandingOrders;
  account.LossLimit = values.LossLimit;
  const bool ratingChanged = account.GetMarginRating() != values.MarginRating;
  account.SetMarginRating(values.MarginRating);
  if (values.SetsEOSFlatten) account.EOSFlatten = values.EOSFlatten;
  return ratingChanged;
}

void PostTraderEvent(const TTraderAccountItem& account) {
  TraderAcctStruct record{};
  WriteTraderRecord(account, record);
  AddTraderCallback(VN_CB_TRADER_ADDED, record);
}

enum class TAccountChange { None, Added, Updated, Deleted };

// Finds the account, adds an unlisted one (unless deleting) and writes the values. A margin
// rating name that changes on a listed account leaves the cached rates of the old one behind,
// so they are dropped.
TAccountChange ApplyAccount(TClassAPI& api, const std::string& name, bool remove,
                            const TAccountValues& values) {
  if (name.empty()) return TAccountChange::None;
  TAccountChange change = TAccountChange::None;
  std::shared_ptr<TTraderAccountItem> account;
  bool ratingChanged = false;
  {
    TIndexListLock guard(api.Accounts);
    account = api.Accounts.Get(name);
    if (remove) {
      if (!account) return TAccountChange::None;
      api.Accounts.RemoveItem(account.get());
      change = TAccountChange::Deleted;
    } else if (account) {
      ratingChanged = WriteAccount(*account, values);
      change = TAccountChange::Updated;
    } else {
      account = std::make_shared<TTraderAccountItem>(name);
      WriteAccount(*account, values);
      api.Accounts.Add(account);
      change = TAccountChange::Added;
    }
  }
  if (ratingChanged) api.MarginRatingsChanged();
  if (change != TAccountChange::Deleted && !api.Logon.DownloadInProgress) PostTraderEvent(*account);
  return change;
}

// ---------------------------------------------------------------------------------------------
// Margin ratings

struct TRatingValues {
  std::string Rating;
  std::string TraderAccount;
  std::string Exchange;
  std::string Commodity;
  std::string Contract;
  std::string CommodityIndicator = " ";
  std::int32_t MarginReq = 0;
  std::int32_t MarginPC = 0;
};

// Whether every reference the rating names is listed. The contract search may wait for the
// contract file to be read, so no list lock is held here.
bool ReferencesFound(TClassAPI& api, const TRatingValues& r) {
  if (!r.TraderAccount.empty() && !api.Accounts.FindAccount(r.TraderAccount)) return false;
  if (!r.Exchange.empty() && !api.Exchanges.FindExchange(r.Exchange)) return false;
  if (!r.Exchange.empty() && !r.Commodity.empty() &&
      !api.Commodities.FindCommodity(r.Exchange, r.Commodity))
    return false;
  if (!r.Exchange.empty() && !r.Commodity.empty() && !r.Contract.empty() &&
      !api.Contracts.FindContract(r.Exchange, r.Commodity, r.Contract))
    return false;
  return true;
}

// Sets the figures of the listed rating; with mayAdd, an unlisted rating whose references are
// all found is added with them. Any change drops the cached margin rates.
void ApplyRating(TClassAPI& api, const TRatingValues& r, bool mayAdd) {
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Rating Margin: " + r.Rating + " " + r.TraderAccount + " " + r.Exchange + " " +
                   r.Commodity + " " + r.Contract + " MarginReq=" + IntToStr(r.MarginReq) +
                   " MarginPC=" + IntToStr(r.MarginPC) + " ComInd=" + r.CommodityIndicator);
  auto find = [&] {
    return api.MarginRatings.FindRating(r.Rating, r.TraderAccount, r.CommodityIndicator, r.Contract,
                                        r.Commodity, r.Exchange);
  };
  std::shared_ptr<TMarginRating> rating = find();
  if (!rating) {
    if (!mayAdd || !ReferencesFound(api, r)) return;
    auto made = std::make_shared<TMarginRating>();
    made->Rating = r.Rating;
    made->TraderAccount = r.TraderAccount;
    made->Exchange = r.Exchange;
    made->Commodity = r.Commodity;
    made->Contract = r.Contract;
    made->CommodityIndicator = r.CommodityIndicator;
    made->MarginReq = r.MarginReq;
    made->MarginPC = r.MarginPC;
    TIndexListLock guard(api.MarginRatings);
    // Listed meanwhile: the figures go to the listed one.
    if (!api.MarginRatings.Add(made).Added) rating = find();
  }
  if (rating) {
    rating->MarginReq = r.MarginReq;
    rating->MarginPC = r.MarginPC;
  }
  api.MarginRatingsChanged();
}

// ---------------------------------------------------------------------------------------------
// User messages

// Adds the message unless its sequence is listed; false when it was.
bool AddUserMessage(TClassAPI& api, const std::shared_ptr<TUserMessage>& message) {
  if (!api.UserMessages.Add(message).Added) return false;
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("User Message: " + message->Sequence() + ": " + message->Content);
  return true;
}

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// A "Z" content: the action is its third character, the UUIDs what follows the fifth. A content
// too short to carry an action is traced and dropped.
void QueueUUIDAction(TClassAPI& api, const std::string& content) {
  if (content.size() < 3) {
    WriteTraceLine("UUID message without an action: " + content);
    return;
  }
  TUUIDMessage message;
  message.Action = std::string(1, Upper(content[2]));
  message.UUID = Copy(content, 5, static_cast<std::ptrdiff_t>(content.size()));
  if (!api.UUIDMessages.Post(std::move(message)))
    WriteTraceLine("UUID message dropped, thread stopped: " + content);
}

// The digit of a legacy message flag: 0 when blank, 2 when not a digit.
std::int32_t FlagDigit(std::string_view text) {
  if (TrimView(text).empty()) return 0;
  return SafeStrToInt(text, 2);
}

}  // namespace

void ReceiveTraderAccount(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMTraderAccount.ReceiveFields");
  const int code = fields.IntValue("Msg");
  const std::string name = fields.BoundedValue("TA", kTraderAccountWidth);
  TAccountValues values;
  values.BackOfficeID = fields.BoundedValue("BOF", kTraderAccountWidth);
  values.Tradable = fields.IntValue("Acs") == 1;
  values.MaxOustandingOrders = fields.IntValue("MOO");
  values.LossLimit = fields.IntValue("LL");
  values.MarginRating = fields.BoundedValue("Mar", kRatingWidth);
  values.SetsEOSFlatten = true;
  values.EOSFlatten = fields.GetFieldCount("Fla") == 0 || fields.Value("Fla") != "1";

  const TAccountChange change = ApplyAccount(api, name, code == kAccountDelete, values);
  if (change == TAccountChange::None || !DebugFlagOn(kDebugging)) return;
  // A listed account takes a 3679 as an update.
  const char* what = change == TAccountChange::Deleted ? "Trader Account (Del): "
                     : code == kAccountAdd || change == TAccountChange::Added
                         ? "Trader Account (Ins): "
                         : "Trader Account (Upd): ";
  WriteTraceLine(what + name + " " + fields.Value("Flg"));
}

void ReceiveLegacyTraderAccount(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMTraderAccount.Receive");
  const std::string name = Trim(GetFixedField(body, 4, kTraderAccountWidth));
  TAccountValues values;
  values.BackOfficeID = Trim(GetFixedField(body, 24, kTraderAccountWidth));
  values.Tradable = GetFixedField(body, 44, 1) == "Y";
  values.MaxOustandingOrders = FixedInt(body, {45, 10});
  values.LossLimit = FixedInt(body, {55, 10});
  values.MarginRating = Trim(GetFixedField(body, 65, kRatingWidth));
  if (ApplyAccount(api, name, false, values) == TAccountChange::None) return;
  if (DebugFlagOn(kDebugging))
    WriteTraceLine((FixedBodyCode(body) == kLegacyAccountAdd ? "Trader Account (add): "
                                                             : "Trader Account (upd): ") +
                   name);
}

void ReceiveMarginRating(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMMarginRating.ReceiveFields");
  const int code = fields.IntValue("Msg");
  if (code != kRatingAdd && code != kRatingUpdate) return;
  TRatingValues r;
  r.Rating = fields.BoundedValue("Rat", kRatingWidth);
  r.TraderAccount = fields.BoundedValue("TA", kTraderAccountWidth);
  r.Exchange = fields.BoundedValue("Ex", kExchangeNameWidth);
  r.Commodity = fields.BoundedValue("C", kCommodityNameWidth);
  r.Contract = fields.BoundedValue("CD", kContractDateWidth);
  r.CommodityIndicator = Trim(fields.Value("CIR"));
  if (r.CommodityIndicator.empty()) r.CommodityIndicator = " ";
  r.MarginReq = fields.IntValue("Mar");
  r.MarginPC = fields.IntValue("Adj");
  ApplyRating(api, r, code == kRatingAdd);
}

void ReceiveLegacyMarginRating(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMMarginRating.Receive");
  TRatingValues r;
  r.Rating = Trim(GetFixedField(body, 4, kRatingWidth));
  r.TraderAccount = Trim(GetFixedField(body, 24, kTraderAccountWidth));
  r.Exchange = Trim(GetFixedField(body, 44, kExchangeNameWidth));
  r.Commodity = Trim(GetFixedField(body, 54, kCommodityNameWidth));
  r.Contract = Trim(GetFixedField(body, 64, kContractDateWidth));
  r.MarginReq = FixedInt(body, {114, 10});
  r.MarginPC = FixedInt(body, {124, 10});
  ApplyRating(api, r, true);
}

void ReceiveUserMessage(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMUserMessage.ReceiveFields");
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(fields.BoundedValue("Seq", kSequenceWidth));
  message->Content = fields.BoundedValue("Txt", kMessageWidth);
  message->IsAlert = alAlert;
  message->Status = altPending;
  if (!AddUserMessage(api, message)) return;
  if (!api.Logon.DownloadInProgress) AddMessageCallback(message->Sequence());

  const std::string& content = message->Content;
  if (content.empty()) return;
  switch (Upper(content[0])) {
    case 'Z':
      QueueUUIDAction(api, content);
      break;
    case 'P':
      // The host ends the session this way: orders, fills and prices of the day are purged.
      WriteTraceLine("Purge requested by user message " + message->Sequence());
      api.Purge(Now());
      break;
    default:
      break;
  }
}

void ReceiveLegacyUserMessage(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMUserMessage.Receive");
  auto message = std::make_shared<TUserMessage>();
  message->SetSequence(Trim(GetFixedField(body, 4, kSequenceWidth)));
  // Values the enumerations do not hold read as the "not a digit" value of each.
  const std::int32_t alert = FlagDigit(GetFixedField(body, 14, 1));
  message->IsAlert =
      alert >= alNormal && alert <= alSuppress ? static_cast<TAlert>(alert) : alIllegal;
  message->Status = FlagDigit(GetFixedField(body, 515, 1)) == altCleared ? altCleared : altPending;
  message->Content = Trim(GetFixedField(body, 15, kMessageWidth));
  if (!AddUserMessage(api, message)) return;
  if (!api.Logon.DownloadInProgress && (api.NotifyAllMessages || message->IsAlert == alAlert))
    AddMessageCallback(message->Sequence());
}

void ReceiveLegacyReportType(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMReportType.Receive");
  const std::string name = Trim(GetFixedField(body, 4, kReportTypeWidth));
  if (name.empty()) return;
  switch (FixedBodyCode(body)) {
    case kLegacyReportTypeAdd: {
      auto type = std::make_shared<TReportType>();
      type->ReportType = name;
      api.ReportTypes.Add(type);
      if (DebugFlagOn(kDebugging)) WriteTraceLine("ReportType (add): " + name);
      break;
    }
    case kLegacyReportTypeDelete:
      api.ReportTypes.RemoveKey(name);
      if (DebugFlagOn(kDebugging)) WriteTraceLine("ReportType (del): " + name);
      break;
    default:
      break;
  }
}

void ReceiveLegacyReport(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMReport.Receive");
  const std::string type = Trim(GetFixedField(body, 4, kReportTypeWidth));
  const std::int32_t sequence = FixedInt(body, {24, 10});
  if (type.empty() || !api.ReportTypes.KeyExists(type)) return;
  std::string text(body.size() > 34 ? body.substr(34) : std::string_view());
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Report: " + type + "(" + IntToStr(sequence) + ") " +
                   IntToStr(static_cast<std::int64_t>(text.size())));
  api.Reports.SetReportText(type, sequence, std::move(text));
}

}  // namespace vorn
