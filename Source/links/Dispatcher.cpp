#include "links/Dispatcher.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/diag/ClientPath.h"
#include "core/diag/ErrorLog.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/UserLogon.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "links/AccountMessages.h"
#include "links/CommodityMessages.h"
#include "links/ExchangeMessages.h"
#include "links/FillMessages.h"
#include "links/FixedField.h"
#include "links/HostRequests.h"
#include "links/LoginStatus.h"
#include "links/OrderMessages.h"
#include "links/PositionMessages.h"
#include "links/PriceMessages.h"
#include "links/StrategyMessages.h"
#include "platform/Files.h"

namespace vorn {
namespace {

constexpr const char* kStoreFileName = "VornInfo.dat";
constexpr auto kDownloadDelay = std::chrono::milliseconds(1000);
constexpr auto kContractsReadTimeout = std::chrono::milliseconds(120000);
constexpr int kHostHandshakeReply = 3624;
constexpr int kPriceHandshake = 67;

// ---------------------------------------------------------------------------------------------
// Download services.

class TDefaultDownloadServices final : public IDownloadServices {
 public:
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
  void MarkDownloadComplete(TLogonState& logon) override {
    if (!logon.DownloadCompleted.exchange(true)) logon.FirstDownloadTime = Now();
  }
  void StartContractWrite(TClassAPI& api) override { StartContractsSave(api); }
};

constinit TDefaultDownloadServices defaultServices;
constinit std::atomic<IDownloadServices*> installedServices{nullptr};

IDownloadServices& Services() {
  IDownloadServices* services = installedServices.load(std::memory_order_acquire);
  return services ? *services : defaultServices;
}

// ---------------------------------------------------------------------------------------------
// Built-in receivers.

void IgnoreHost(TClassAPI&, TFieldsList&) {}
void IgnorePrice(TClassAPI&, std::string_view) {}

// A host message class that reads its fields and applies them itself.
template <class TMessage>
void RunHostMessage(TClassAPI&, TFieldsList& fields) {
  TMessage message;
  message.ReceiveFields(fields);
}

void ClearNewOrderIDs(TClassAPI& api, TFieldsList&) {
  api.OrderIDs.ClearNewOrderIDs();
}

void WaitForContractsRead(TClassAPI& api) {
  if (api.ContractsReading) api.ContractsRead.WaitFor(kContractsReadTimeout);
}

// The price link waits from its creation until the download has ended.
void StartPriceLink(TClassAPI& api) {
  if (const auto link = api.GetLink(psPriceFeed)) link->Start(true);
}

void PostDownloadComplete() {
  AddCallback(VN_CB_DATA_DL_COMPLETE, nullptr, 0);
}

std::int32_t TodayAsNumber() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Now(), year, month, day);
  return year * 10000 + month * 100 + day;
}

// Host 3620: the initial download has ended.
void EndOfDownload(TClassAPI& api, TFieldsList&) {
  IDownloadServices& services = Services();
  services.Sleep(kDownloadDelay);

  auto logon = std::make_shared<TUserLogon>();
  logon->UserName = api.UserName.Get();
  logon->Sequence = api.Logon.LogonSequence;
  logon->DBSequence = api.Logon.DBSequence.Get();
  logon->RefSequence = api.Logon.RefSequence.Get();
  logon->LastDate = api.Logon.LastDate;
  logon->DBIdentifier = api.Logon.DBIdentifier.Get();
  api.Contracts.SetSorted(true);
  api.UserLogons.SetLogon(std::move(logon));

  StartPriceLink(api);
  api.Logon.DownloadInProgress = false;

  const bool reportDownload = api.Logon.ReportDownload;
  if (!reportDownload) {
    WaitForContractsRead(api);
    WriteTraceLine("Download Complete callback fired.");
    PostDownloadComplete();
  }
  services.MarkDownloadComplete(api.Logon);
  if (reportDownload) SendDownloadReportMsg(api);
  api.OrderIDs.CheckPreAllocatedOrderIDs();
  if (api.Environment != 'D') services.StartContractWrite(api);
}

// Host 3621: the reports asked for after the download have all arrived.
void EndOfReportDownload(TClassAPI& api, TFieldsList&) {
  api.CompleteReports();
  if (api.Environment != 'D') WaitForContractsRead(api);
  PostDownloadComplete();
}

// Price-feed 40: the end of a download of the older protocol; field (4, 10) is the logon
// sequence number.
void LegacyEndOfDownload(TClassAPI& api, std::string_view body) {
  IDownloadServices& services = Services();
  const std::string storePath = GetClientPath() + kStoreFileName;
  if (FileExists(storePath)) DeleteFile(storePath);
  services.Sleep(kDownloadDelay);

  const std::int32_t sequence = SafeStrToInt(GetFixedField(body, 4, 10), 0);
  api.Logon.LogonSequence = sequence;
  auto logon = std::make_shared<TUserLogon>();
  logon->UserName = api.UserName.Get();
  logon->Sequence = sequence;
  logon->LastDate = TodayAsNumber();
  api.UserLogons.SetLogon(std::move(logon));

  StartPriceLink(api);
  api.Logon.DownloadInProgress = false;
  PostDownloadComplete();
  services.MarkDownloadComplete(api.Logon);
}

constexpr TMessageTable BuildBuiltInTable() {
  TMessageTable table;
  for (int code : {3002, 3670, 3678})
    table.RegisterHostMessage(code, IgnoreHost);
  table.RegisterHostMessage(3620, EndOfDownload);
  table.RegisterHostMessage(3621, EndOfReportDownload);
  table.RegisterHostMessage(3622, ReceivePreAllocatedOrderIDs);
  table.RegisterHostMessage(3623, ClearNewOrderIDs);
  table.RegisterHostMessage(kHostHandshakeReply, ReceiveHostHandshakeReply);
  table.RegisterHostMessage(3625, ReceiveLoginStatus);
  table.RegisterHostMessage(3626, ReceiveLoginStatus);
  table.RegisterHostMessage(3627, ReceiveForcedLogout);
  table.RegisterHostMessage(3628, RunHostMessage<TStrategyCreateSuccess>);
  table.RegisterHostMessage(3629, RunHostMessage<TStrategyCreateFailure>);
  // Reference data: add, update and delete of each kind.
  for (int code : {3655, 3656, 3657})
    table.RegisterHostMessage(code, ReceiveCommodity);
  for (int code : {3658, 3659, 3660})
    table.RegisterHostMessage(code, ReceiveContractDate);
  for (int code : {3661, 3662, 3663})
    table.RegisterHostMessage(code, ReceiveExchangeRate);
  for (int code : {3664, 3665, 3666})
    table.RegisterHostMessage(code, ReceiveExchange);
  for (int code : {3667, 3668, 3669})
    table.RegisterHostMessage(code, ReceiveOrderType);
  for (int code : {3673, 3674, 3675})
    table.RegisterHostMessage(code, ReceiveMarginRating);
  for (int code : {3679, 3680, 3681})
    table.RegisterHostMessage(code, ReceiveTraderAccount);
  table.RegisterHostMessage(3601, ReceiveOrder);
  table.RegisterHostMessage(3602, ReceiveFill);
  table.RegisterHostMessage(3603, ReceiveUserMessage);
  for (int code : {3676, 3677})
    table.RegisterHostMessage(code, ReceiveSODPosition);
  for (int code : {3702, 3703, 3704})
    table.RegisterHostMessage(code, ReceiveEODPosition);
  table.RegisterHostMessage(3701, ReceiveUUIDMessage);
  table.RegisterHostMessage(3688, TMSettlementPrice::ReceiveFields);

  for (int code : {39, 41})
    table.RegisterPriceMessage(code, IgnorePrice);
  table.RegisterPriceMessage(2, ReceiveLegacyUserMessage);
  for (int code : {30, 31})
    table.RegisterPriceMessage(code, ReceiveLegacyTraderAccount);
  table.RegisterPriceMessage(48, ReceiveLegacyReport);
  for (int code : {54, 55})
    table.RegisterPriceMessage(code, ReceiveLegacyReportType);
  table.RegisterPriceMessage(87, ReceiveLegacyMarginRating);
  for (int code : {23, 24, 25})
    table.RegisterPriceMessage(code, ReceiveLegacyCommodity);
  for (int code : {46, 47})
    table.RegisterPriceMessage(code, ReceiveLegacyExchange);
  for (int code : {52, 53})
    table.RegisterPriceMessage(code, ReceiveLegacyExchangeRate);
  for (int code : {58, 59, 60})
    table.RegisterPriceMessage(code, ReceiveLegacyOrderType);
  for (int code : {82, 83})
    table.RegisterPriceMessage(code, ReceiveLegacyContractDate);
  for (int code = 70; code <= 79; ++code)
    table.RegisterPriceMessage(code, ReceiveLegacyOrder);
  table.RegisterPriceMessage(80, ReceiveLegacyFill);
  table.RegisterPriceMessage(40, LegacyEndOfDownload);
  table.RegisterPriceMessage(kPriceHandshake, ReceivePriceHandshakeReply);
  table.RegisterPriceMessage(69, ReceiveLegacyLoginStatus);
  // The price feed's own messages.
  table.RegisterPriceMessage(84, TMPriceArray::Receive);
  table.RegisterPriceMessage(56, TMDOM::Receive);
  table.RegisterPriceMessage(65, TMVarDOM::Receive);
  table.RegisterPriceMessage(57, TMAtBest::Receive);
  table.RegisterPriceMessage(807, TMSubscriberDepth::Receive);
  table.RegisterPriceMessage(810, TMGenericPrice::Receive);
  table.RegisterPriceMessage(806, TMBlankPrices::Receive);
  for (int code : {85, 86})
    table.RegisterPriceMessage(code, TMSettlementPrice::Receive);
  table.RegisterPriceMessage(340, TMConnectivityStatus::Receive);
  for (int code : {314, 345})
    table.RegisterPriceMessage(code, TMBroadcastMsg::Receive);
  return table;
}

constinit const TMessageTable builtInTable = BuildBuiltInTable();

// ---------------------------------------------------------------------------------------------
// Dispatch.

// The integer of a code text; EConvertError when it is not one.
int CodeOf(std::string_view text) {
  std::int32_t code = 0;
  if (!TryStrToInt(text, code))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return code;
}

void ProcessPriceMessage(TClassAPI& api, const TMessageTable& table, std::string_view body,
                         std::string_view& codeText) {
  codeText = body.substr(0, 4);
  const int code = CodeOf(TrimView(codeText));
  if (api.ShuttingDown && code != kPriceHandshake) return;
  const TPriceReceiver receiver = table.PriceReceiver(code);
  if (!receiver) throw Exception("Unhandled Message Code " + std::to_string(code));
  receiver(api, body);
}

void ProcessHostMessage(TClassAPI& api, const TMessageTable& table, std::string_view body,
                        TFieldsList& fields, std::string& codeText) {
  fields.SetFields(body);
  codeText = Trim(fields.GetFieldValue("Msg", 0));
  if (codeText.empty()) return;
  const int code = CodeOf(codeText);
  if (api.ShuttingDown && code != kHostHandshakeReply) return;

  if (IsRefDataSequenceMessage(code))
    api.Logon.RefSequence.Set(fields.GetFieldValue("Seq", 0));
  else if (IsOrderSequenceMessage(code, fields))
    api.Logon.DBSequence.Set(fields.GetFieldValue("Seq", 0));

  const THostReceiver receiver = table.HostReceiver(code);
  if (!receiver) throw Exception("Unhandled Host Message Code " + std::to_string(code));
  receiver(api, fields);
}

void ReportFailure(TLinkKind kind, std::string_view codeText, std::string_view message,
                   std::string_view className) noexcept {
  try {
    std::string text = "EXCEPTION error in ProcessMessage\r\n";
    text += "When: " + DateTimeToStr(Now());
    text += "Message no: ";
    text += codeText;
    text += "E.msg: ";
    text += message;
    text += "Source: ";
    text += kind == psHost ? "psHost" : "psPriceFeed";
    text += "E.Classname: ";
    text += className;
    WriteErrorLogLine(text);
    AddTraceEntry(tlNote, "ProcessMessage", "Exception: " + std::string(message));
  } catch (...) {
    // Nothing more can be reported.
  }
}

}  // namespace

const TMessageTable& BuiltInMessageTable() {
  return builtInTable;
}

void ProcessMessage(TClassAPI& api, TLinkKind kind, std::string_view body) noexcept {
  TFieldsList fields;
  ProcessMessage(api, builtInTable, kind, body, fields);
}

void ProcessMessage(TClassAPI& api, TLinkKind kind, std::string_view body,
                    TFieldsList& fields) noexcept {
  ProcessMessage(api, builtInTable, kind, body, fields);
}

void ProcessMessage(TClassAPI& api, const TMessageTable& table, TLinkKind kind,
                    std::string_view body) noexcept {
  TFieldsList fields;
  ProcessMessage(api, table, kind, body, fields);
}

void ProcessMessage(TClassAPI& api, const TMessageTable& table, TLinkKind kind,
                    std::string_view body, TFieldsList& fields) noexcept {
  std::string hostCode;
  std::string_view codeText;
  try {
    switch (kind) {
      case psPriceFeed:
        ProcessPriceMessage(api, table, body, codeText);
        break;
      case psHost:
        ProcessHostMessage(api, table, body, fields, hostCode);
        codeText = hostCode;
        break;
    }
  } catch (const std::exception& e) {
    if (kind == psHost) codeText = hostCode;
    const auto* own = dynamic_cast<const Exception*>(&e);
    std::string className;
    try {
      className = ClassNameOf(e);
    } catch (...) {
    }
    ReportFailure(kind, codeText, own ? std::string_view(own->Message()) : e.what(), className);
  } catch (...) {
    if (kind == psHost) codeText = hostCode;
    ReportFailure(kind, codeText, "Unknown exception", "unknown");
  }
}

bool IsRefDataSequenceMessage(int code) {
  return (code >= 3655 && code <= 3667) || code == 3670 || code == 3673 || code == 3676 ||
         code == 3677 || code == 3679 || code == 3688;
}

bool IsOrderSequenceMessage(int code, const TFieldsList& fields) {
  if (code == 3602) return true;
  return code == 3601 && fields.IntValue("Flg") != 4;
}

void SendDownloadReportMsg(TClassAPI& api) {
  TTraceScope scope("SendDownloadReportMsg", "Started", "Exit");
  TMReportRequest request;
  api.SendOnLink(request, psHost);
}

void SetDownloadServices(IDownloadServices* services) {
  installedServices.store(services, std::memory_order_release);
}

}  // namespace vorn
