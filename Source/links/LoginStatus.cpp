#include "links/LoginStatus.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/diag/ClientPath.h"
#include "core/diag/Trace.h"
#include "core/events/Callbacks.h"
#include "core/refdata/UserLogon.h"
#include "core/session/ClassAPI.h"
#include "core/util/Conversions.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"
#include "core/util/Text.h"
#include "core/wire/FieldsList.h"
#include "links/FixedField.h"
#include "platform/Files.h"

namespace vorn {
namespace {

constexpr const char* kLoginStatusFields = "TMLoginStatus.ReceiveFields";
constexpr const char* kLoginStatusLegacy = "TMLoginStatus.Receive";
constexpr std::int32_t kDefaultBandwidthPeriod = 300;
constexpr std::int32_t kAcceptedCode = 3625;

// The feature bytes of a logon reply: A, B and C from two hexadecimal digits each, D, E and F
// (tagged form only) from one each.
struct TFeatureBytes {
  std::uint8_t A = 0, B = 0, C = 0, D = 0, E = 0, F = 0;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly two hexadecimal digits, either case; 0 for anything else.
std::uint8_t HexByte(std::string_view text) {
  if (text.size() != 2) return 0;
  const int high = HexDigit(text[0]);
  const int low = HexDigit(text[1]);
  return high < 0 || low < 0 ? 0 : static_cast<std::uint8_t>(high * 16 + low);
}

// The digit at a 0-based place; 0 when missing or not hexadecimal.
std::uint8_t HexNibble(std::string_view text, std::size_t place) {
  if (place >= text.size()) return 0;
  const int digit = HexDigit(text[place]);
  return digit < 0 ? 0 : static_cast<std::uint8_t>(digit);
}

bool Bit(std::uint8_t value, std::uint8_t mask) {
  return (value & mask) != 0;
}

// Byte A bits 1 and 4, and byte B, read alike by both forms. One flag of byte B is always
// cleared; nothing reads it, so it has no field.
void ApplyCommonFeatures(THostFeatures& features, const TFeatureBytes& f) {
  features.MarketDataRequired = Bit(f.A, 1);
  features.OrderThrottle = Bit(f.A, 4);
  features.Functionality4 = Bit(f.B, 4);
  features.Functionality32 = Bit(f.B, 8);
  features.Functionality64 = Bit(f.B, 16);
  features.Functionality256 = Bit(f.B, 32);
  features.DOMEnabled = Bit(f.B, 64);
  features.PostTradeAmend = Bit(f.B, 128);
}

// The margin mode, byte A bit 8, is set by the caller through TClassAPI::SetMarginMode.
void ApplyTaggedFeatures(THostFeatures& features, const TFeatureBytes& f) {
  ApplyCommonFeatures(features, f);
  features.StrategyPermission = Bit(f.C, 1);
  features.Kestrel = false;
  features.Functionality1024 = Bit(f.C, 4);
  features.Functionality2048 = Bit(f.C, 8);
  features.Functionality4096 = Bit(f.C, 16);
  features.Functionality8192 = Bit(f.C, 32);
  features.Functionality16384 = Bit(f.D, 1);
  features.Functionality32768 = Bit(f.D, 2);
  features.Functionality65536 = Bit(f.D, 4);
  features.Functionality131072 = Bit(f.D, 8);
  features.Functionality262144 = Bit(f.E, 1);
  features.Functionality1048576 = Bit(f.E, 2);
  features.Functionality2097152 = Bit(f.E, 4);
  features.Functionality4194304 = Bit(f.E, 8);
  WriteTraceLine("Ferravel stuff " + IntToStr(f.F));
  std::atomic<bool>* const roles[] = {&features.EnableClientRole1, &features.EnableClientRole2,
                                      &features.EnableClientRole3, &features.EnableClientRole4};
  for (std::uint8_t i = 0; i < 4; ++i) {
    const bool enabled = Bit(f.F, static_cast<std::uint8_t>(1u << i));
    *roles[i] = enabled;
    if (enabled) WriteTraceLine("API.EnableClientRole1 is enabled");
  }
}

void ApplyLegacyFeatures(THostFeatures& features, const TFeatureBytes& f) {
  ApplyCommonFeatures(features, f);
  features.Kestrel = Bit(f.C, 1);
}

// "Flg" of the tagged reply; a text shorter than six characters changes no flag.
void ApplyFlagsField(TClassAPI& api, std::string_view flags) {
  if (flags.size() < 6) {
    AddTraceEntry(tlNote, kLoginStatusFields, "Flags field is too short to decipher");
    return;
  }
  TFeatureBytes f;
  f.A = HexByte(flags.substr(0, 2));
  f.B = HexByte(flags.substr(2, 2));
  f.C = HexByte(flags.substr(4, 2));
  f.D = HexNibble(flags, 6);
  f.E = HexNibble(flags, 7);
  f.F = HexNibble(flags, 8);
  ApplyTaggedFeatures(api.Features, f);
  api.SetMarginMode(Bit(f.A, 8));
}

std::int32_t Today() {
  return SafeStrToInt(FormatDateTime("yyyymmdd", Now()), 0);
}

// Called on the host link's own socket thread: each link only marks its thread to end, and the
// next heartbeat frees both.
void StopLinks(TClassAPI& api) {
  for (const TLinkKind kind : {psHost, psPriceFeed})
    if (const auto link = api.GetLink(kind)) link->StopSocketThread();
}

// The end of a refused logon shared by both forms. Status 0 and 2 end the session as a forced
// logout does, and so set the logged-on flag; a refusal after an earlier logon stops the links
// too.
void EndRefusedLogon(TClassAPI& api, std::uint8_t status) {
  if (status == 0 || status == 2) {
    AddCallback(VN_CB_FORCED_LOGOUT, nullptr, 0);
    api.Logon.LoggedOn = true;
  }
  if (api.Logon.LoggedOn) StopLinks(api);
}

// "logon.dat" is written again at logoff.
void DeleteLogonFile() {
  const std::string path = GetClientPath() + kLogonFileName;
  if (FileExists(path)) DeleteFile(path);
}

void SetTraderAccounts(TLogonState& logon, const std::string& account) {
  logon.LogonTraderAccount.Set(account);
  logon.CurrentTraderAccount.Set(account);
}

// A full download replaces every list: the contract-data thread may still be reading the
// contract store into one of them, so it is stopped and joined before anything is cleared.
void ClearForFullDownload(TClassAPI& api) {
  api.StopContractData();
  api.ClearAllData();
  if (DebugFlagOn(kDebugging)) WriteTraceLine("Full Data Download flag Received");
}

void AcceptTaggedLogon(TClassAPI& api, const TFieldsList& fields, const std::string& text) {
  AddTraceEntry(tlNote, kLoginStatusFields, "Logon OK");
  api.Logon.LogonTextFlag = !text.empty();
  if (std::string user = fields.GetFieldValue("Usr", 0); !user.empty())
    api.UserName.Set(std::move(user));
  const std::int32_t tradingDate = SafeStrToInt(fields.GetFieldValue("TrD", 0), -1);
  std::string database = fields.GetFieldValue("DBID", 0);
  // Another database numbers its messages afresh: the orders' applied sequences no longer
  // compare with what it sends.
  if (database != api.Logon.DBIdentifier.Get()) api.Orders.ForgetAppliedSequences();
  api.Logon.DBIdentifier.Set(std::move(database));
  if (fields.GetFieldValue("FDDw", 0) == "Y") {
    ClearForFullDownload(api);
  } else if (fields.GetFieldValue("FODw", 0) == "Y") {
    api.ClearOrdersAndFills();
    WriteTraceLine("Order/Fills Data Download flag Received");
  }
  api.Logon.TradingDate = tradingDate == -1 ? Today() : tradingDate;
  ApplyFlagsField(api, fields.GetFieldValue("Flg", 0));
  api.Monitoring.BandwidthPeriod =
      SafeStrToInt(fields.GetFieldValue("Frq", 0), kDefaultBandwidthPeriod);
  api.Logon.LoggedOn = true;
  api.Logon.DataCleared = false;
  SetTraderAccounts(api.Logon, Trim(fields.GetFieldValue("TA", 0)));

  auto logon = std::make_shared<TUserLogon>();
  logon->UserName = api.UserName.Get();
  logon->RefSequence = api.Logon.RefSequence.Get();
  logon->LastDate = api.Logon.TradingDate;
  logon->DBSequence = api.Logon.DBSequence.Get();
  api.UserLogons.SetLogon(std::move(logon));
  DeleteLogonFile();
  api.Logon.LogonCompleted = true;
}

}  // namespace

void ReceiveLoginStatus(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope(kLoginStatusFields);
  api.Logon.LogonSent = false;
  // The status is kept as one byte, but only a whole 1 accepts: "Sts=257" is a refusal.
  const std::int32_t number = fields.IntValue("Msg") == kAcceptedCode ? 1 : fields.IntValue("Sts");
  const auto status = static_cast<std::uint8_t>(number);
  api.Logon.LogonStatus = status;
  const std::string text = Trim(fields.GetFieldValue("Txt", 0));
  api.Logon.LogonText.Set(text);
  api.Logon.GTOKFlag = fields.GetFieldValue("GTOK", 0) == "Y";
  if (DebugFlagOn(kDebugging)) WriteTraceLine(std::string(kLoginStatusFields) + ": " + text);

  if (number == 1) {
    AcceptTaggedLogon(api, fields, text);
  } else {
    AddTraceEntry(tlNote, kLoginStatusFields, "Logon not OK");
    api.Logon.LogonValue.Set({});
    api.Logon.LogonTextFlag = true;
    EndRefusedLogon(api, status);
  }
  AddCallback(VN_CB_LOGON_STATUS, nullptr, 0);
}

void ReceiveLegacyLoginStatus(TClassAPI& api, std::string_view body) {
  TTraceScope scope(kLoginStatusLegacy);
  api.Logon.LogonSent = false;
  const auto status = static_cast<std::uint8_t>(SafeStrToInt(GetFixedField(body, 4, 1), 0));
  api.Logon.LogonStatus = status;
  TFeatureBytes features;
  features.A = HexByte(GetFixedField(body, 25, 2));
  features.B = HexByte(GetFixedField(body, 27, 2));
  features.C = HexByte(GetFixedField(body, 29, 2));
  ApplyLegacyFeatures(api.Features, features);
  api.Logon.LogonTextFlag = Bit(features.A, 2);
  api.Logon.LogonText.Set(Trim(GetFixedField(body, 35, 60)));
  api.Logon.LogonValue.Set(Trim(GetFixedField(body, 95, 14)));
  api.Monitoring.BandwidthPeriod =
      SafeStrToInt(GetFixedField(body, 109, 10), kDefaultBandwidthPeriod);
  const std::string account = Trim(GetFixedField(body, 5, 20));
  if (DebugFlagOn(kDebugging)) WriteTraceLine(std::string(kLoginStatusLegacy) + ": " + account);

  if (status == 1) {
    AddTraceEntry(tlNote, kLoginStatusLegacy, "Logon OK");
    api.Logon.LoggedOn = true;
    api.Logon.DataCleared = false;
    SetTraderAccounts(api.Logon, account);
    auto logon = std::make_shared<TUserLogon>();
    logon->UserName = api.UserName.Get();
    logon->Sequence = api.Links.HostHandshakeValue;
    api.UserLogons.SetLogon(std::move(logon));
    DeleteLogonFile();
    api.Logon.LogonCompleted = true;
  } else {
    AddTraceEntry(tlNote, kLoginStatusLegacy, "Logon not OK");
    api.Logon.LogonValue.Set({});
    EndRefusedLogon(api, status);
  }
  AddCallback(VN_CB_LOGON_STATUS, nullptr, 0);
}

void ReceiveForcedLogout(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMForcedLogout.ReceiveFields");
  api.Logon.LogonValue.Set({});
  api.Logon.LogonText.Set(fields.GetFieldValue("Txt", 0));
  AddCallback(VN_CB_FORCED_LOGOUT, nullptr, 0);
  api.Logon.LoggedOn = true;
  StopLinks(api);
}

void ReceiveHostHandshakeReply(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMHandshake.ReceiveFields");
  const std::string key = fields.GetFieldValue("EnT", 0);
  if (api.GetEncryption().empty())
    api.SetEncryption(key.empty() ? TLogonState::kDefaultEncryption : key);
  if (const auto link = api.GetLink(psHost)) link->HandshakeReplyReceived();
}

void ReceivePriceHandshakeReply(TClassAPI& api, std::string_view body) {
  TTraceScope scope("TMHandshake.Receive");
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("Handshake: " + std::string(GetFixedField(body, 136, 10)));
  if (const auto link = api.GetLink(psPriceFeed)) link->HandshakeReplyReceived();
}

void ReceivePreAllocatedOrderIDs(TClassAPI& api, TFieldsList& fields) {
  TTraceScope scope("TMPreAllocatedOrderIDs.ReceiveFields");
  // Every occurrence, not only those GetFieldValue reaches: a large batch loses no id.
  for (int position = 0; position < fields.Count(); ++position) {
    if (!SameText(fields.NameAt(position), "OID")) continue;
    const TFieldValueObject& values = *fields.ObjectAt(position);
    for (int i = 0; i < values.Count(); ++i)
      if (const std::string_view id = values.Value(i); !id.empty())
        api.OrderIDs.AddPreAllocatedOrderID(id);
  }
  api.OrderIDs.SetOrderIDStatus(fields.IntValue("Sts"));
  api.OrderIDs.CheckQueuedMHUBOrders();
  api.OrderIDs.CheckPreAllocatedOrderIDs();
}

}  // namespace vorn
