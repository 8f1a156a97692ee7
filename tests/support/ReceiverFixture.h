#pragma once
// An API object made directly and installed as the current one, as the dispatcher's receivers
// see it on a socket thread: no callback thread (tests deliver queued events themselves), trace
// and logs in a temporary client path, the future LIFFE FTSE "MAR27" (one point 10, one tick a
// point, margin 100, GBP at 1.0) and the tradable account TRADER1, logged on.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/diag/Trace.h"
#include "core/diag/UUIDLog.h"
#include "core/events/Callbacks.h"
#include "core/refdata/MarginRating.h"
#include "core/session/ClassAPI.h"
#include "core/trading/TraderAccount.h"
#include "core/util/Text.h"
#include "links/Dispatcher.h"
#include "platform/Thread.h"
#include "support/CallbackRecorder.h"
#include "support/HostText.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"

namespace vorn {

// A fill event (9) as the application reads it.
struct TFillEvent {
  std::string OrderID;
  std::string FillID;
  bool operator==(const TFillEvent&) const = default;
  friend void PrintTo(const TFillEvent& e, std::ostream* os) {
    *os << "{\"" << e.OrderID << "\", \"" << e.FillID << "\"}";
  }
};
using TFillEvents = std::vector<TFillEvent>;

class HostReceiverTest : public ::testing::Test {
 protected:
  HostReceiverTest() {
    StopCallbackThread();
    JoinStoppedThreads();
    ClearCallbackQueue();
    CloseUUIDLog();
    ResetTraceState();
    OpenTraceFile();
    api_ = std::make_shared<TClassAPI>();
    ExchangeAPI(api_);
    TClassAPI& api = *api_;
    api.Exchanges.Add(std::make_shared<TExchange>("LIFFE"));
    AddTradingCommodity(api, "FTSE", 10, 1);
    AddTradingRate(api, 1.0);
    api.Contracts.AddFromFields("LIFFE", "FTSE", "MAR27", Fields("X1=F|X2=LIFFE|Mar=100"));
    auto account = std::make_shared<TTraderAccountItem>("TRADER1");
    account->Tradable = true;
    api.Accounts.Add(account);
    api.Logon.LoggedOn = true;
  }
  ~HostReceiverTest() override {
    DisableDebugFlags(0xFF);
    StopCallbackThread();
    JoinStoppedThreads();
    FreeCallbackRegistrations();
    ExchangeAPI(nullptr);
    api_.reset();
    ClearCallbackQueue();
    CloseUUIDLog();
    ResetTraceState();
  }

  TClassAPI& Api() { return *api_; }
  // A host message, as the host link's socket thread applies it.
  void Host(std::string_view text) { ProcessMessage(*api_, psHost, Wire(text)); }
  bool Traced(std::string_view text) {
    return ReadFileText(TraceFileName()).find(text) != std::string::npos;
  }
  // Delivers what is queued: the fill events, in posting order (no other event is expected).
  TFillEvents DeliverFillEvents() {
    TFillEvents events;
    for (const auto& delivery : TCallbackRecorder::DeliverQueued()) {
      EXPECT_EQ(delivery.Id, VN_CB_FILL);
      FillUpdateStruct update;
      std::memcpy(&update, delivery.Payload.data(), sizeof update);
      events.push_back({GetFixed(update.OrderID), GetFixed(update.FillID)});
    }
    return events;
  }
  std::shared_ptr<TContractItem> Future() {
    return api_->Contracts.FindContract("LIFFE", "FTSE", "MAR27");
  }
  std::shared_ptr<TTraderAccountItem> Trader() { return api_->Accounts.FindAccount("TRADER1"); }
  // Margin rating "R1" (LIFFE, 10 a lot, 100 %) on TRADER1 and on a second tradable account,
  // TRADER2: the accounts a margin test sets figures against.
  void AddRatedAccounts() {
    Trader()->SetMarginRating("R1");
    auto row = std::make_shared<TMarginRating>();
    row->Rating = "R1";
    row->Exchange = "LIFFE";
    row->CommodityIndicator = " ";
    row->MarginReq = 10;
    row->MarginPC = 100;
    api_->MarginRatings.Add(row);
    auto other = std::make_shared<TTraderAccountItem>("TRADER2");
    other->Tradable = true;
    other->SetMarginRating("R1");
    api_->Accounts.Add(other);
  }

  TTempDir dir_;
  std::shared_ptr<TClassAPI> api_;
};

}  // namespace vorn
