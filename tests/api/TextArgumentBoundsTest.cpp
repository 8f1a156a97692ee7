// Every text argument of every export, filled to its width with no NUL and ending right before
// an unreadable page: the export may read the text up to its width and not one byte further, so
// each call must return, in every state the library can be in when it is called. A null pointer
// in its place must be survived as well.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/diag/Trace.h"
#include "core/session/ClassAPI.h"
#include "core/util/Text.h"
#include "platform/Thread.h"
#include "support/FakeLink.h"
#include "support/FakeLinkRequests.h"
#include "support/TempDir.h"
#include "support/TradingMarket.h"
#include "vornintf.h"

namespace vorn {
namespace {

// Readable memory followed by a page that is not: a text placed at the end of the readable part
// makes any read past it fault.
class TGuardedMemory {
 public:
  explicit TGuardedMemory(std::size_t room) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    readable_ = (room + page - 1) / page * page;
    void* memory =
        mmap(nullptr, readable_ + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<char*>(memory);
    size_ = readable_ + page;
    if (mprotect(base_ + readable_, page, PROT_NONE) != 0)
      throw std::runtime_error("mprotect failed");
  }
  TGuardedMemory(const TGuardedMemory&) = delete;
  TGuardedMemory& operator=(const TGuardedMemory&) = delete;
  ~TGuardedMemory() { munmap(base_, size_); }

  // The text, without a NUL, ending where the unreadable page begins.
  const char* Place(std::string_view text) {
    char* start = base_ + readable_ - text.size();
    std::memcpy(start, text.data(), text.size());
    return start;
  }

 private:
  char* base_ = nullptr;
  std::size_t readable_ = 0;
  std::size_t size_ = 0;
};

// A text argument: its width (the most the export may read) and a good value for the calls
// that test another argument. The guarded text is the good value padded with blanks to the
// width, so a look-up that trims still finds its item and goes on reading.
struct TTextArg {
  std::size_t width;
  const char* good;
};

constexpr TTextArg kExchange{10, "LIFFE"};
constexpr TTextArg kCommodity{10, "FTSE"};
constexpr TTextArg kContractDate{50, "MAR27"};
constexpr TTextArg kAccount{20, "TRADER1"};
constexpr TTextArg kOrderID{11, "1"};
constexpr TTextArg kUserName{11, "USER1"};
constexpr TTextArg kPrice{20, "100"};
constexpr TTextArg kReportType{20, "R"};
constexpr TTextArg kMsgID{10, "1"};
constexpr TTextArg kSSLName{50, "name"};
constexpr TTextArg kAddress{50, "127.0.0.1"};
constexpr TTextArg kUnused{0, ""};  // never read: the pointer is the unreadable page itself

using TArgs = const char* const*;

struct TExportRow {
  const char* name;
  std::vector<TTextArg> args;
  void (*call)(TArgs a);
  bool changesState = false;  // the fixture is made again after the call
};

constexpr std::size_t kRoom = 4096;  // the widest argument, the client path
char gOut[kRoom];                   // every text or record an export writes

template <class T>
T* Out() {
  static_assert(sizeof(T) <= kRoom);
  return reinterpret_cast<T*>(gOut);
}

StrategyLegStruct gLegs[2];
const std::int32_t kOneLot = 1;

// clang-format off
const std::vector<TExportRow>& Table() {
  static const std::vector<TExportRow> table = {
    {"vnInitialise", {{255, "v2.8.3"}, {20, "app"}, {20, "1.0"}, kUnused},
     [](TArgs a) { vnInitialise('T', a[0], a[1], a[2], a[3], 0); }, true},
    {"vnSetHostAddress", {kAddress, {50, "1"}}, [](TArgs a) { vnSetHostAddress(a[0], a[1]); }},
    {"vnSetPriceAddress", {kAddress, {50, "2"}}, [](TArgs a) { vnSetPriceAddress(a[0], a[1]); }},
    {"vnPurge", {{8, "19000101"}, {9, "000000000"}}, [](TArgs a) { vnPurge(a[0], a[1]); }},
    {"vnSetClientPath", {{4096, "/tmp/"}}, [](TArgs a) { vnSetClientPath(a[0]); }, true},
    {"vnLogString", {{251, "line"}}, [](TArgs a) { vnLogString(a[0]); }},
    {"vnSetMDSToken", {{255, "token"}}, [](TArgs a) { vnSetMDSToken(a[0]); }},
    {"vnSetSSLCertificateName", {kSSLName}, [](TArgs a) { vnSetSSLCertificateName(a[0]); }},
    {"vnSetPDDSSLCertificateName", {kSSLName}, [](TArgs a) { vnSetPDDSSLCertificateName(a[0]); }},
    {"vnSetSSLClientAuthName", {kSSLName}, [](TArgs a) { vnSetSSLClientAuthName(a[0]); }},
    {"vnSetPDDSSLClientAuthName", {kSSLName}, [](TArgs a) { vnSetPDDSSLClientAuthName(a[0]); }},
    {"vnGetUsrMsgByID", {kMsgID}, [](TArgs a) { vnGetUsrMsgByID(a[0], Out<MessageStruct>()); }},
    {"vnAcknowledgeUsrMsg", {kMsgID}, [](TArgs a) { vnAcknowledgeUsrMsg(a[0]); }},
    {"vnGetExchangeByName", {kExchange},
     [](TArgs a) { vnGetExchangeByName(a[0], Out<ExchangeStruct>()); }},
    {"vnExchangeExists", {kExchange}, [](TArgs a) { vnExchangeExists(a[0]); }},
    {"vnGetTraderByName", {kAccount},
     [](TArgs a) { vnGetTraderByName(a[0], Out<TraderAcctStruct>()); }},
    {"vnTraderExists", {kAccount}, [](TArgs a) { vnTraderExists(a[0]); }},
    {"vnReportTypeExists", {kReportType}, [](TArgs a) { vnReportTypeExists(a[0]); }},
    {"vnGetCommodityByName", {kExchange, kCommodity},
     [](TArgs a) { vnGetCommodityByName(a[0], a[1], Out<CommodityStruct>()); }},
    {"vnCommodityExists", {kExchange, kCommodity},
     [](TArgs a) { vnCommodityExists(a[0], a[1]); }},
    {"vnGetContractByName", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetContractByName(a[0], a[1], a[2], Out<ContractStruct>()); }},
    {"vnGetExtendedContractByName", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetExtendedContractByName(a[0], a[1], a[2], Out<ExtendedContractStruct>()); }},
    {"vnContractExists", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnContractExists(a[0], a[1], a[2]); }},
    {"vnGetExchangeRate", {{10, "GBP"}},
     [](TArgs a) { vnGetExchangeRate(a[0], Out<ExchangeRateStruct>()); }},
    {"vnGetReportSize", {kReportType},
     [](TArgs a) { vnGetReportSize(a[0], Out<std::int32_t>()); }},
    {"vnGetReport", {kReportType}, [](TArgs a) { vnGetReport(a[0], kRoom, gOut); }},
    {"vnCountContractAtBest", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnCountContractAtBest(a[0], a[1], a[2], Out<std::int32_t>()); }},
    {"vnGetContractAtBest", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetContractAtBest(a[0], a[1], a[2], 0, Out<AtBestStruct>()); }},
    {"vnGetContractAtBestPrices", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetContractAtBestPrices(a[0], a[1], a[2], Out<AtBestPriceStruct>()); }},
    {"vnCountContractSubscriberDepth", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnCountContractSubscriberDepth(a[0], a[1], a[2], Out<std::int32_t>()); }},
    {"vnGetContractSubscriberDepth", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetContractSubscriberDepth(a[0], a[1], a[2], 0, Out<SubscriberDepthStruct>()); }},
    {"vnGetFillByID", {{71, "1"}}, [](TArgs a) { vnGetFillByID(a[0], Out<FillStruct>()); }},
    {"vnGetContractPosition", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnGetContractPosition(a[0], a[1], a[2], a[3], Out<PositionStruct>()); }},
    {"vnGetOpenPosition", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnGetOpenPosition(a[0], a[1], a[2], a[3], Out<PositionStruct>()); }},
    {"vnGetTotalPosition", {kAccount},
     [](TArgs a) { vnGetTotalPosition(a[0], Out<PositionStruct>()); }},
    {"vnGetAveragePrice", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnGetAveragePrice(a[0], a[1], a[2], a[3], gOut); }},
    {"vnGetPriceForContract", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetPriceForContract(a[0], a[1], a[2], Out<PriceStruct>()); }},
    {"vnGetGenericPrice", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnGetGenericPrice(a[0], a[1], a[2], 0, 0, Out<GenericPriceStruct>()); }},
    {"vnMarginForTrade", {kExchange, kCommodity, kContractDate, kAccount, kOrderID, kPrice},
     [](TArgs a) { vnMarginForTrade(a[0], a[1], a[2], a[3], &kOneLot, a[4], a[5], gOut); }},
    {"vnPLBurnRate", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnPLBurnRate(a[0], a[1], a[2], a[3], gOut); }},
    {"vnOpenPositionExposure", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnOpenPositionExposure(a[0], a[1], a[2], a[3], gOut); }},
    {"vnBuyingPowerUsed", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnBuyingPowerUsed(a[0], a[1], a[2], a[3], gOut); }},
    {"vnBuyingPowerRemaining", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vnBuyingPowerRemaining(a[0], a[1], a[2], a[3], gOut); }},
    {"vnGetOptionPremium", {kExchange, kCommodity, {50, "JUN27 C6500"}, kPrice},
     [](TArgs a) { vnGetOptionPremium(a[0], a[1], a[2], 'B', a[3], 1, gOut); }},
    {"vnSubscribePrice", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnSubscribePrice(a[0], a[1], a[2]); }},
    {"vnUnsubscribePrice", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnUnsubscribePrice(a[0], a[1], a[2]); }},
    {"vnPriceSnapshot", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnPriceSnapshot(a[0], a[1], a[2], 0); }},
    {"vnSubscribeToMarket", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnSubscribeToMarket(a[0], a[1], a[2]); }},
    {"vnUnsubscribeToMarket", {kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnUnsubscribeToMarket(a[0], a[1], a[2]); }},
    {"vnSubscribeBroadcast", {kExchange}, [](TArgs a) { vnSubscribeBroadcast(a[0]); }},
    {"vnUnsubscribeBroadcast", {kExchange}, [](TArgs a) { vnUnsubscribeBroadcast(a[0]); }},
    {"vnCreateStrategy", {kExchange, kCommodity},
     [](TArgs a) { vnCreateStrategy('S', 2, a[0], a[1], gLegs); }},
    {"vnAddOrderEx", {kUserName}, [](TArgs a) {
       const NewOrderStruct order = TradingLimitOrder();
       vnAddOrderEx(&order, gOut, a[0]);
     }},
    {"vnAmendOrder", {kOrderID}, [](TArgs a) {
       const AmendOrderStruct amend{};
       vnAmendOrder(a[0], &amend);
     }},
    {"vnAmendOrderEx", {kOrderID, kUserName}, [](TArgs a) {
       const AmendOrderStruct amend{};
       vnAmendOrderEx(a[0], &amend, a[1]);
     }},
    {"vnReParent", {kOrderID, kOrderID}, [](TArgs a) { vnReParent(a[0], a[1]); }},
    {"vnDoneForDay", {kOrderID}, [](TArgs a) { vnDoneForDay(a[0]); }},
    {"vnCancelOrder", {kOrderID}, [](TArgs a) { vnCancelOrder(a[0]); }},
    {"vnCancelOrderEx", {kOrderID, kUserName}, [](TArgs a) { vnCancelOrderEx(a[0], a[1]); }},
    {"vnCancelBuys", {kAccount, kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnCancelBuys(a[0], a[1], a[2], a[3]); }},
    {"vnCancelSells", {kAccount, kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnCancelSells(a[0], a[1], a[2], a[3]); }},
    {"vnCancelOrders", {kAccount, kExchange, kCommodity, kContractDate},
     [](TArgs a) { vnCancelOrders(a[0], a[1], a[2], a[3]); }},
    {"vnCancelBuysEx", {kAccount, kExchange, kCommodity, kContractDate, kUserName},
     [](TArgs a) { vnCancelBuysEx(a[0], a[1], a[2], a[3], a[4]); }},
    {"vnCancelSellsEx", {kAccount, kExchange, kCommodity, kContractDate, kUserName},
     [](TArgs a) { vnCancelSellsEx(a[0], a[1], a[2], a[3], a[4]); }},
    {"vnCancelAll", {kAccount}, [](TArgs a) { vnCancelAll(a[0]); }},
    {"vnCancelAllEx", {kAccount, kUserName}, [](TArgs a) { vnCancelAllEx(a[0], a[1]); }},
    {"vnGetOrderByID", {kOrderID},
     [](TArgs a) { vnGetOrderByID(a[0], Out<OrderDetailStruct>(), VN_ORDER_VERSION_NEWEST); }},
    {"vnGetOrderIndex", {kOrderID}, [](TArgs a) { vnGetOrderIndex(a[0], Out<std::int32_t>()); }},
    {"vnQueryOrderStatus", {kOrderID}, [](TArgs a) { vnQueryOrderStatus(a[0]); }},
    {"vnOrderChecked", {kOrderID}, [](TArgs a) { vnOrderChecked(a[0], 'Y'); }},
    {"vnAddAAOrder", {kUserName, kUserName}, [](TArgs a) {
       const NewOrderStruct primary = TradingLimitOrder(), secondary = TradingLimitOrder();
       vnAddAAOrder(&primary, &secondary, a[0], a[1], Out<OrderIDPair>());
     }},
    {"vngetConsolidatedPosition", {kExchange, kCommodity, kContractDate, kAccount},
     [](TArgs a) { vngetConsolidatedPosition(a[0], a[1], a[2], a[3], 0, Out<FillStruct>()); }},
  };
  return table;
}
// clang-format on

enum class TState { NoObject, Initialised, LoggedOn };

class TextArgumentBoundsTest : public ::testing::TestWithParam<TState> {
 protected:
  void SetUp() override {
    PutTextAndNul(gLegs[0].ContractDate, "MAR27");
    PutTextAndNul(gLegs[0].Commodity, "FTSE");
    PutTextAndNul(gLegs[1].ContractDate, "JUN27 C6500");
    PutTextAndNul(gLegs[1].Commodity, "FTSE");
    vnEnable(kTraceAppCalls);  // the trace lines read the arguments too
    EnterState();
  }
  void TearDown() override {
    vnDisable(kTraceAppCalls);
    Leave();
  }

  // Back to no API object, with the test's own client path (a row may have set another).
  void Leave() {
    vnSetClientPath(dir_.Path().c_str());
    links_.reset();
    vnLogOff();
    JoinStoppedThreads();
  }

  void EnterState() {
    Leave();
    if (GetParam() == TState::NoObject) return;
    ASSERT_EQ(vnInitialise('T', "v2.8.3", "app", "1.0", "", 0), 0);
    if (GetParam() == TState::Initialised) return;
    TClassAPI& api = *API();
    TFakeLinkRequests::Install(api);
    links_ = std::make_unique<TFakeLinks>();
    ASSERT_TRUE(links_->Create(api));
    links_->Host->connected = true;
    links_->Price->connected = true;
    AddTradingMarket(api);
    api.UserName.Set("USER1");
    api.Logon.LoggedOn = true;
  }

  TTempDir dir_;
  std::unique_ptr<TFakeLinks> links_;
};

TEST_P(TextArgumentBoundsTest, EveryTextArgumentIsReadWithinItsWidth) {
  TGuardedMemory memory(kRoom);
  for (const TExportRow& row : Table()) {
    for (std::size_t guarded = 0; guarded < row.args.size(); ++guarded) {
      SCOPED_TRACE(std::string(row.name) + " argument " + std::to_string(guarded + 1));
      const TTextArg& arg = row.args[guarded];
      std::string text(arg.good);
      text.resize(arg.width, ' ');
      // The text at its width, then a null pointer (read as empty text).
      for (const char* given : {memory.Place(text), static_cast<const char*>(nullptr)}) {
        std::vector<const char*> args;
        for (const TTextArg& other : row.args) args.push_back(other.good);
        args[guarded] = given;
        row.call(args.data());  // a read past the width faults here
        if (row.changesState) EnterState();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(States, TextArgumentBoundsTest,
                         ::testing::Values(TState::NoObject, TState::Initialised,
                                           TState::LoggedOn),
                         [](const auto& info) {
                           switch (info.param) {
                             case TState::NoObject: return "NoAPIObject";
                             case TState::Initialised: return "Initialised";
                             default: return "LoggedOn";
                           }
                         });

}  // namespace
}  // namespace vorn
