#include "links/HostRequests.h"

#include "core/diag/Trace.h"
#include "core/session/Heartbeat.h"
#include "core/util/DateTime.h"
#include "core/util/NumberText.h"

namespace vorn {
namespace {

void AddMsg(TSendHostMessage& message) {
  message.HeaderFields.AddFieldValue("Msg", message.Code(), -1, -1, false);
}

void AddBody(TSendHostMessage& message, std::string_view name, std::string_view value) {
  message.BodyFields.AddFieldValue(name, value, -1, -1, false);
}

std::string TimeStamp() {
  return FormatDateTime("yyyymmddhhnnss", Now());
}

}  // namespace

TMReportRequest::TMReportRequest() : TSendHostMessage("3342") {
  AddMsg(*this);
}

TMOrderIDsRequest::TMOrderIDsRequest() : TSendHostMessage("3341") {
  AddMsg(*this);
}

TMMHUBLogOff::TMMHUBLogOff() : TSendHostMessage("3363") {
  AddMsg(*this);
}

TMMHUBUserMessageAckn::TMMHUBUserMessageAckn(std::int32_t sequence, std::string_view userName)
    : TSendHostMessage("3306") {
  AddMsg(*this);
  AddBody(*this, "Seq", IntToStr(sequence));
  AddBody(*this, "Usr", userName);
}

TMHostHandshake::TMHostHandshake() : TSendHostMessage("3361") {
  AddMsg(*this);
  AddBody(*this, "Snt", TimeStamp());
}

TMMHUBBandWidthMonitor::TMMHUBBandWidthMonitor(std::string_view userName,
                                               const TBandwidthReport& report)
    : TSendHostMessage("3364") {
  const bool period = report.PeriodSeconds > 0;
  AddMsg(*this);
  AddBody(*this, "Usr", userName);
  AddBody(*this, "TS", TimeStamp());
  AddBody(*this, "PkT", IntToStr(report.PeakSent));
  AddBody(*this, "PkM", IntToStr(report.PeakReceived));
  AddBody(*this, "AvT", IntToStr(period ? report.AverageSent : 0));
  AddBody(*this, "AvM", IntToStr(period ? report.AverageReceived : 0));
}

void TMMHUBBandWidthMonitor::FillBuffer(TDynamicBuffer& buffer) {
  TTraceScope scope("TMMHUBBandWidthMonitor.FillBuffer");
  TSendHostMessage::FillBuffer(buffer);
}

}  // namespace vorn
