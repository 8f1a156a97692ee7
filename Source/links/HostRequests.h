#pragma once
// The small tagged requests to the host: report request (3342), order-id request (3341),
// logoff (3363), user-message acknowledgement (3306), host handshake (3361) and the bandwidth
// report (3364). Each constructor puts "Msg" into the header fields and its data into the body
// fields; the inherited FillBuffer writes the frame. No request depends on an API object: the
// values come in as arguments, and "now" from the one clock.

#include <cstdint>
#include <string_view>

#include "core/wire/VornMessage.h"

namespace vorn {

struct TBandwidthReport;

// Asks for the reports after the initial download.
class TMReportRequest : public TSendHostMessage {
 public:
  TMReportRequest();
};

// Asks for more pre-allocated order ids.
class TMOrderIDsRequest : public TSendHostMessage {
 public:
  TMOrderIDsRequest();
};

class TMMHUBLogOff : public TSendHostMessage {
 public:
  TMMHUBLogOff();
};

// "Seq" the message's sequence, "Usr" the user name.
class TMMHUBUserMessageAckn : public TSendHostMessage {
 public:
  TMMHUBUserMessageAckn(std::int32_t sequence, std::string_view userName);
};

// "Snt" the local time now, "yyyymmddhhnnss".
class TMHostHandshake : public TSendHostMessage {
 public:
  TMHostHandshake();
};

// "Usr", "TS" (local time now, "yyyymmddhhnnss"), the peaks "PkT"/"PkM" and the averages
// "AvT"/"AvM" of the bytes sent and received, as the bandwidth monitor computed them. A report
// over a period of no whole second carries averages of 0.
class TMMHUBBandWidthMonitor : public TSendHostMessage {
 public:
  TMMHUBBandWidthMonitor(std::string_view userName, const TBandwidthReport& report);
  // Traced on entry and exit.
  void FillBuffer(TDynamicBuffer& buffer) override;
};

}  // namespace vorn
