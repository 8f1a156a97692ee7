// Icebergs and brackets in-process, through the exports as libsimapi.so runs them: the timer
// stopped after the start, the status pass and the fills driven by the test on a book laid out
// by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/refdata/ContractItem.h"
#include "core/refdata/OrderType.h"
#include "core/refdata/UserMessage.h"
#include "core/session/AmendCancel.h"
#include "core/session/ClassAPI.h"
#include "core/trading/OrderList.h"
#include "core/trading/OrderQ.h"
#include "core/util/Text.h"
#include "sim/AutoDemo.h"
#include "sim/Iceberg.h"
#include "sim/Marlo.h"
#include "sim/SimRecorder.h"
#include "sim/SimSession.h"
#include "sim/SimTestData.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "vornintf.h"

namespace vorn::sim {
namespace {

namespace fs = std::filesystem;
using namespace vorn::sim::testing;

TEST(MarloNames, FitTheOrderIdAndStayUnique) {
  struct TCase {
    bool Iceberg;
    std::int32_t Number;
    const char* Name;
  };
  for (const TCase& c : {TCase{true, 1, "Iceberg1"}, TCase{false, 2, "Bracket-2"},
                         TCase{false, 99, "Bracket-99"}, TCase{false, 100, "Brk100"},
                         TCase{true, 999, "Iceberg999"}, TCase{true, 1000, "Ice1000"},
                         TCase{false, 1000000, "Brk1000000"}}) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TMarlo::NameOf(c.Iceberg, c.Number), c.Name);
  }
  // Cut to 10 characters the long forms would collide; the short ones never meet them.
  EXPECT_NE(TMarlo::NameOf(false, 100), TMarlo::NameOf(false, 10));
  EXPECT_NE(TMarlo::NameOf(true, 1000), TMarlo::NameOf(true, 100));
}

TEST(IcebergClips, FollowTheClipRulesWithinOneAndTheUnfilledLots) {
  const auto none = [](std::int32_t) { return 0; };
  const auto top = [](std::int32_t n) { return n - 1; };
  struct TCase {
    std::int32_t Unfilled, Min, Max;
    char Randomise;
    bool Top;
    std::int32_t Lots;
  };
  for (const TCase& c : {TCase{10, 3, 0, 'N', false, 3}, TCase{1, 3, 0, 'N', false, 1},
                         TCase{10, 2, 5, 'Y', false, 3}, TCase{10, 2, 5, 'Y', true, 5},
                         TCase{4, 2, 5, 'Y', true, 4}, TCase{2, 2, 5, 'Y', false, 2},
                         // A clip of no lots would stall, one beyond the unfilled overfill.
                         TCase{10, 0, 0, 'N', false, 1}, TCase{2, 3, 3, 'Y', false, 2},
                         TCase{10, 4, 4, 'Y', true, 5}, TCase{10, 4, 2, 'Y', true, 5}}) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{c.Unfilled, c.Min, c.Max, c.Top}));
    const std::int32_t lots = TIceberg::ClipLots(
        c.Unfilled, c.Min, c.Max, c.Randomise,
        c.Top ? std::function<std::int32_t(std::int32_t)>(top) : none);
    EXPECT_EQ(lots, c.Lots);
    EXPECT_GE(lots, 1);
    EXPECT_LE(lots, c.Unfilled);
  }
  // 10 lots in clips of 3.
  std::vector<std::int32_t> clips;
  for (std::int32_t unfilled = 10; unfilled > 0;) {
    clips.push_back(TIceberg::ClipLots(unfilled, 3, 0, 'N', none));
    unfilled -= clips.back();
  }
  EXPECT_EQ(clips, (std::vector<std::int32_t>{3, 3, 3, 1}));
}

class SyntheticOrdersTest : public SimSessionTest {
 protected:
  void SetUp() override {
    SimSessionTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(
        Initialise([] { vnRegisterOrderCallback(VN_CB_ORDER, OrderUpdate); }));
    API()->Heartbeat.SetInterval(25);
    ASSERT_EQ(LogOn(), 0);
    ASSERT_NO_FATAL_FAILURE(DriveTicks());
    demo_->SetPendingDrawForTests([] { return true; });
    demo_->Random().Seed(20270319);
    EmptyBook();
  }

  // Simulated volume at a price, matched against the book at once.
  void Cross(bool bid, double price, std::int32_t lots) {
    WithBook([&](TContractOrderList& book) {
      demo_->Market().AddToDOMLevel(book, bid, lots, true, price);
      demo_->Market().CheckOrders(book);
    });
  }
  std::size_t StopsInBook() {
    std::size_t stops = 0;
    WithBook([&](TContractOrderList& book) { stops = book.Stops.size(); });
    return stops;
  }
  void Passes(int count) {
    for (int i = 0; i < count; ++i)
      demo_->StatusPass();
  }

  static NewOrderStruct IcebergOrder(std::int32_t lots, std::int32_t minClip) {
    NewOrderStruct order = Order("Iceberg", 'B', "7800", lots);
    order.MinClipSize = minClip;
    order.Randomise = 'N';
    return order;
  }
  static ProtectionStruct Protection(std::int32_t v1, std::int32_t v2, std::int32_t v3) {
    ProtectionStruct protection;
    std::memset(&protection, 0, sizeof protection);
    PutFixed(protection.Pr1Price, "10");
    protection.Pr1Volume = v1;
    PutFixed(protection.Pr2Price, "20");
    protection.Pr2Volume = v2;
    PutFixed(protection.Pr3Price, "30");
    protection.Pr3Volume = v3;
    PutFixed(protection.StType, "27");
    PutFixed(protection.StPrice, "50");
    PutFixed(protection.StSteps1, "0");
    PutFixed(protection.StSteps2, "0");
    return protection;
  }
  // Enters the synthetic order and starts it (queued runs on its local id before the start);
  // returns its new name.
  std::string Start(const NewOrderStruct& order, const ProtectionStruct* protection = nullptr,
                    const std::function<void(const std::string&)>& queued = {}) {
    char id[11] = {};
    if (protection)
      EXPECT_EQ(vnAddProtectionOrder(&order, protection, id), 0);
    else
      EXPECT_EQ(vnAddOrder(&order, id), 0);
    const std::string local = Field(id, sizeof id);
    if (queued) queued(local);
    demo_->StatusPass();
    EXPECT_FALSE(Head(local)) << local << " kept its local id";
    // The order event of the start carries the name and the local id.
    std::string name;
    EXPECT_TRUE(Eventually([&] {
      for (const TDelivery& d : recorder.Deliveries()) {
        const auto* update = reinterpret_cast<const OrderUpdateStruct*>(d.Payload.data());
        if (d.Id == VN_CB_ORDER && Field(update->OldOrderID, 11) == local &&
            update->Status == osSent)
          name = Field(update->OrderID, 11);
      }
      return !name.empty();
    }));
    return name;
  }
  // The children's heads in the order they were entered.
  static std::vector<std::shared_ptr<TOrderItem>> Children(const std::string& parent) {
    std::vector<std::shared_ptr<TOrderItem>> children;
    TOrderQGuard guard(API()->Orders);
    for (int i = 0; i < API()->Orders.Count(); ++i) {
      const auto history = API()->Orders.At(i);
      const auto head = history->GetCurrent();
      if (head && Trim(head->ParentID()) == parent) children.push_back(head);
    }
    std::sort(children.begin(), children.end(), [](const auto& a, const auto& b) {
      return a->UpdateSequence < b->UpdateSequence;
    });
    return children;
  }
  static std::vector<std::shared_ptr<TOrderItem>> Live(const std::string& parent) {
    std::vector<std::shared_ptr<TOrderItem>> live;
    for (const auto& child : Children(parent))
      if (!IsClosedStatus(child->Status)) live.push_back(child);
    return live;
  }
  static bool HasMessage(const std::string& part, TAlert alert) {
    for (int i = 0; i < API()->UserMessages.Count(); ++i) {
      const auto message = API()->UserMessages.At(i);
      if (message->Content.find(part) != std::string::npos && message->IsAlert == alert)
        return true;
    }
    return false;
  }
  // The states the order events carried for the id, in delivery order, once at least count
  // of them arrived.
  static std::vector<int> EventStates(const std::string& id, std::size_t count) {
    std::vector<int> states;
    Eventually([&] {
      states.clear();
      for (const TDelivery& d : recorder.Deliveries()) {
        if (d.Id != VN_CB_ORDER) continue;
        const auto* update = reinterpret_cast<const OrderUpdateStruct*>(d.Payload.data());
        if (Field(update->OrderID, 11) == id) states.push_back(update->Status);
      }
      return states.size() >= count;
    });
    return states;
  }
  // How many order events for the id carried the state, once one did.
  static std::size_t EventsIn(const std::string& id, int state) {
    std::size_t count = 0;
    Eventually([&] {
      const std::vector<int> states = EventStates(id, 0);
      count = static_cast<std::size_t>(std::count(states.begin(), states.end(), state));
      return count > 0;
    });
    return count;
  }

};

TEST_F(SyntheticOrdersTest, AnIcebergReleasesItsClipsInTurnUntilItFills) {
  const std::string id = Start(IcebergOrder(10, 3));
  ASSERT_EQ(id, "Iceberg1");
  ASSERT_EQ(Head(id)->Status, osWorking);
  std::vector<std::int32_t> clips;
  for (int clip = 0; clip < 4; ++clip) {
    SCOPED_TRACE(clip);
    const auto live = Live(id);
    ASSERT_EQ(live.size(), 1u) << "one clip at a time";
    clips.push_back(live[0]->TargetLots);
    EXPECT_EQ(live[0]->OrderType->OrderTypeID, otLimit);
    Passes(2);
    const std::string clipId = Live(id)[0]->ID;
    ASSERT_EQ(Head(clipId)->Status, osWorking);
    EXPECT_EQ(UsersAt(true, 7800), clips.back());
    Cross(false, 7800, clips.back());
    EXPECT_EQ(Head(clipId)->Status, osFilled);
    EXPECT_EQ(Head(id)->Filled, [&] {
      std::int32_t sum = 0;
      for (std::int32_t lots : clips)
        sum += lots;
      return sum;
    }());
  }
  EXPECT_EQ(clips, (std::vector<std::int32_t>{3, 3, 3, 1}));
  const auto parent = Head(id);
  EXPECT_EQ(parent->Status, osFilled);
  EXPECT_EQ(parent->TargetLots, 10);
  EXPECT_TRUE(Live(id).empty());
  EXPECT_EQ(UsersAt(true, 7800), -1);
  EXPECT_EQ(EventStates(id, 6),
            (std::vector<int>{osSent, osWorking, osPart, osPart, osPart, osFilled}));
  // The next synthetic order takes the next number.
  EXPECT_EQ(Start(Order("Protect", 'B', "7700", 1), [] {
              static const ProtectionStruct p = Protection(1, 0, 0);
              return &p;
            }()),
            "Bracket-2");
}

TEST_F(SyntheticOrdersTest, AnIcebergAmendIsCheckedAndACancelTakesItsClipOutOfTheBook) {
  const std::string id = Start(IcebergOrder(10, 4));
  Passes(2);
  ASSERT_EQ(UsersAt(true, 7800), 4);
  Cross(false, 7800, 1);
  ASSERT_EQ(Head(id)->Status, osPart);
  ASSERT_EQ(Head(id)->Filled, 1);

  // Fewer lots than the live clip and the filled ones: refused.
  AmendOrderStruct amend = AmendRecordOf(*Head(id));
  amend.Lots = 4;
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  ASSERT_EQ(Head(id)->Status, osAmendPending);
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osPart);
  EXPECT_EQ(Head(id)->TargetLots, 10);
  // More lots: taken, the unfilled lots grow.
  amend.Lots = 12;
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osPart);
  EXPECT_EQ(Head(id)->TargetLots, 12);
  EXPECT_EQ(Head(id)->ActualLots, 12);
  EXPECT_EQ(Head(id)->Filled, 1);
  EXPECT_EQ(EventStates(id, 7),
            (std::vector<int>{osSent, osWorking, osPart, osAmendPending, osPart, osAmendPending,
                              osPart}));

  // The cancel takes the live clip with it, and its resting lots out of the book.
  recorder.Clear();
  const std::string clip = Live(id).at(0)->ID;
  ASSERT_EQ(vnCancelOrder(id.c_str()), 0);
  ASSERT_EQ(Head(id)->Status, osCancelPending);
  Passes(2);
  const auto parent = Head(id);
  EXPECT_EQ(parent->Status, osBalCancelled);
  EXPECT_EQ(parent->Filled, 1);
  EXPECT_EQ(parent->TargetLots, 1);
  EXPECT_EQ(parent->ActualLots, 1);
  EXPECT_EQ(Head(clip)->Status, osBalCancelled);
  EXPECT_EQ(UsersAt(true, 7800), -1);
  WithBook([](TContractOrderList& book) { EXPECT_TRUE(book.UserOrders.empty()); });
  // Final once: later passes leave it as it is.
  Passes(3);
  EXPECT_EQ(Head(id)->Status, osBalCancelled);
  EXPECT_EQ(EventsIn(id, osBalCancelled), 1u);
  EXPECT_TRUE(Live(id).empty());
}

TEST_F(SyntheticOrdersTest, AClipsAmendedLotsMoveItsIceberg) {
  const std::string id = Start(IcebergOrder(6, 3));
  Passes(2);
  const std::string clip = Live(id).at(0)->ID;
  AmendOrderStruct amend = AmendRecordOf(*Head(clip));
  amend.Lots = 5;
  ASSERT_EQ(vnAmendOrder(clip.c_str(), &amend), 0);
  demo_->StatusPass();
  EXPECT_EQ(Head(clip)->TargetLots, 5);
  EXPECT_EQ(Head(id)->Status, osWorking);
  EXPECT_EQ(Head(id)->TargetLots, 8);
  EXPECT_EQ(EventStates(id, 4), (std::vector<int>{osSent, osWorking, osAmendPending, osWorking}));
  // Filled, the clip leaves 3 of the 8 lots to the next one.
  Cross(false, 7800, 5);
  EXPECT_EQ(Head(id)->Filled, 5);
  ASSERT_EQ(Live(id).size(), 1u);
  EXPECT_EQ(Live(id)[0]->TargetLots, 3);
}

TEST_F(SyntheticOrdersTest, AClipAmendedBelowItsFilledLotsTakesOnlyItsUnfilledOnesOff) {
  const std::string id = Start(IcebergOrder(6, 3));
  Passes(2);
  const std::string clip = Live(id).at(0)->ID;
  Cross(false, 7800, 2);
  ASSERT_EQ(Head(id)->Filled, 2);
  // To 1 lot with 2 filled: the clip keeps its 2, one lot comes off the iceberg.
  AmendOrderStruct amend = AmendRecordOf(*Head(clip));
  amend.Lots = 1;
  ASSERT_EQ(vnAmendOrder(clip.c_str(), &amend), 0);
  Passes(3);
  EXPECT_EQ(Head(id)->TargetLots, 5);
  EXPECT_EQ(Head(id)->Filled, 2);
  ASSERT_EQ(Live(id).size(), 1u);
  EXPECT_EQ(Live(id)[0]->TargetLots, 3);
}

TEST_F(SyntheticOrdersTest, AnIcebergAmendedToTheLargestLotsSaturates) {
  const std::string id = Start(IcebergOrder(10, 3));
  Passes(2);
  Cross(false, 7800, 1);
  ASSERT_EQ(Head(id)->Filled, 1);
  // The parent to the largest lots: its filled lots stay.
  AmendOrderStruct amend = AmendRecordOf(*Head(id));
  amend.Lots = INT32_MAX;
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osPart);
  EXPECT_EQ(Head(id)->TargetLots, INT32_MAX);
  EXPECT_EQ(Head(id)->Filled, 1);
  // The clip to the largest lots: the parent's stay the largest, not beyond.
  const std::string clip = Live(id).at(0)->ID;
  amend = AmendRecordOf(*Head(clip));
  amend.Lots = INT32_MAX;
  ASSERT_EQ(vnAmendOrder(clip.c_str(), &amend), 0);
  Passes(2);
  EXPECT_EQ(Head(id)->TargetLots, INT32_MAX);
  EXPECT_EQ(Head(id)->Filled, 1);
  EXPECT_EQ(Head(id)->Status, osPart);
}

TEST_F(SyntheticOrdersTest, ACancelParkedWhileQueuedEntersNoChild) {
  const ProtectionStruct protection = Protection(2, 0, 0);
  for (const bool iceberg : {true, false}) {
    SCOPED_TRACE(iceberg);
    // Parked while queued, the cancel is re-issued as the order starts.
    const auto cancel = [](const std::string& local) { vnCancelOrder(local.c_str()); };
    const std::string id =
        iceberg ? Start(IcebergOrder(4, 2), nullptr, cancel)
                : Start(Order("Protect", 'B', "7800", 2), &protection, cancel);
    Passes(2);
    EXPECT_EQ(Head(id)->Status, osCancelled);
    EXPECT_TRUE(Children(id).empty());
    EXPECT_EQ(UsersAt(true, 7800), -1);
  }
}

TEST_F(SyntheticOrdersTest, AClipKeepsItsParentsTrigger) {
  NewOrderStruct order = IcebergOrder(4, 2);
  PutFixed(order.TriggerDate, "15022027");
  PutFixed(order.TriggerTime, "093000");
  const std::string id = Start(order);
  const auto clips = Live(id);
  ASSERT_EQ(clips.size(), 1u);
  // Both hold the trigger in the stored form: the clip's record took it back in the local one.
  EXPECT_FALSE(Head(id)->TriggerDate().empty());
  EXPECT_EQ(clips[0]->TriggerDate(), Head(id)->TriggerDate());
  EXPECT_EQ(clips[0]->TriggerTime(), Head(id)->TriggerTime());
}

TEST_F(SyntheticOrdersTest, AChildTheSimulatorRejectsCancelsItsParentWithAnAlert) {
  struct TCase {
    bool Iceberg;
  };
  for (const TCase& c : {TCase{true}, TCase{false}}) {
    SCOPED_TRACE(c.Iceberg);
    const ProtectionStruct protection = Protection(50, 0, 0);
    const std::string id = c.Iceberg ? Start(IcebergOrder(150, 120))
                                     : Start(Order("Protect", 'B', "7800", 120), &protection);
    Passes(2);
    ASSERT_EQ(Children(id).size(), 1u);
    EXPECT_EQ(Children(id)[0]->Status, osRejected);
    demo_->StatusPass();
    EXPECT_EQ(Head(id)->Status, osCancelled);
    EXPECT_TRUE(HasMessage("of synthetic order " + id + " was rejected", alAlert));
    EXPECT_TRUE(Live(id).empty());
  }
}

TEST_F(SyntheticOrdersTest, ABracketPlacesItsProtectionsAndStopAsTheMainOrderFills) {
  const ProtectionStruct protection = Protection(4, 3, 3);
  const std::string id = Start(Order("Protect", 'B', "7900", 10), &protection);
  ASSERT_EQ(id, "Bracket-1");
  ASSERT_EQ(Head(id)->Status, osWorking);
  ASSERT_EQ(Children(id).size(), 1u);
  // Resting offers: the main order fills 5 of its 10 lots as it enters the book.
  Cross(false, 7900, 5);
  Passes(2);
  const std::string main = Children(id).at(0)->ID;
  ASSERT_EQ(Head(main)->Status, osPart);
  ASSERT_EQ(Live(id).size(), 4u);
  Passes(2);

  // Protections of 4 and 1, the stop covering 5.
  struct TLeg {
    std::int32_t Type;
    TPurchase Side;
    double Price;
    std::int32_t Lots;
    char Level;
  };
  // The legs beside the main order, by price.
  const auto legsOf = [&] {
    std::vector<std::shared_ptr<TOrderItem>> legs;
    for (const auto& child : Children(id))
      if (child->ID != main) legs.push_back(child);
    std::sort(legs.begin(), legs.end(),
              [](const auto& a, const auto& b) { return a->Price < b->Price; });
    return legs;
  };
  const auto expectLegs = [&](const std::vector<TLeg>& legs) {
    const auto children = legsOf();
    ASSERT_EQ(children.size(), legs.size());
    for (std::size_t i = 0; i < legs.size(); ++i) {
      SCOPED_TRACE(i);
      const TOrderItem& leg = *children[i];
      EXPECT_EQ(leg.OrderType->OrderTypeID, legs[i].Type);
      EXPECT_EQ(leg.BuySell, legs[i].Side);
      EXPECT_DOUBLE_EQ(leg.Price, legs[i].Price);
      EXPECT_EQ(leg.TargetLots, legs[i].Lots);
      EXPECT_EQ(leg.ProfitLevel, legs[i].Level);
    }
  };
  for (const auto& child : Children(id))
    EXPECT_EQ(child->Status, child->ID == main ? osPart : osWorking) << child->ID;
  EXPECT_EQ(UsersAt(false, 7910), 4);
  EXPECT_EQ(StopsInBook(), 1u);

  // Level 1 fills: the stop covers one lot.
  Cross(true, 7910, 4);
  Passes(1);
  expectLegs({{otStop, Sell, 7850, 1, 'S'}, {otLimit, Sell, 7910, 4, '1'}, {otLimit, Sell, 7920, 1, '2'}});
  // The main order fills: level 2 grows to 3, level 3 takes 3, the stop covers 6.
  Cross(false, 7900, 5);
  Passes(3);
  expectLegs({{otStop, Sell, 7850, 6, 'S'},
              {otLimit, Sell, 7910, 4, '1'},
              {otLimit, Sell, 7920, 3, '2'},
              {otLimit, Sell, 7930, 3, '3'}});
  // The amends of the bracket's own legs keep the legs' other fields.
  const auto stop = legsOf().at(0);
  EXPECT_EQ(stop->GetTraderAccountName(), "TRADER1");
  EXPECT_EQ(stop->OpenOrClose, 'O');
  EXPECT_EQ(stop->BigRefField(), kMarloAmendMarker);

  // The last protections fill: complete, the stop is cancelled and the bracket ends.
  Cross(true, 7930, 6);
  Passes(2);
  EXPECT_TRUE(Live(id).empty());
  EXPECT_EQ(Head(stop->ID)->Status, osCancelled);
  EXPECT_EQ(StopsInBook(), 0u);
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_EQ(EventStates(id, 4),
            (std::vector<int>{osSent, osWorking, osCancelPending, osCancelled}));
}

TEST_F(SyntheticOrdersTest, ABracketEndsWhenOneSideOfItsProtectionFills) {
  struct TCase {
    const char* Name;
    bool StopFills;
    std::int32_t V1, V2, V3;
  };
  // Levels beyond the main order's lots never get a protection: the bracket is complete
  // without them.
  for (const TCase& c : {TCase{"protection", false, 2, 0, 0}, TCase{"stop", true, 2, 0, 0},
                         TCase{"protection, levels beyond the lots", false, 4, 3, 3}}) {
    SCOPED_TRACE(c.Name);
    WithBook([](TContractOrderList& book) {
      book.Bids.Clear();
      book.Offers.Clear();
    });
    const ProtectionStruct protection = Protection(c.V1, c.V2, c.V3);
    const std::string id = Start(Order("Protect", 'B', "7900", 2), &protection);
    Cross(false, 7900, 2);
    Passes(4);
    auto children = Children(id);
    ASSERT_EQ(children.size(), 3u);
    ASSERT_EQ(children[0]->Status, osFilled);
    ASSERT_EQ(children[1]->Status, osWorking);
    ASSERT_EQ(children[2]->Status, osWorking);
    const std::string target = children[1]->ID, stop = children[2]->ID;
    if (c.StopFills) {
      Cross(true, 7840, 5);
      TradeAt(7850);
    } else {
      Cross(true, 7910, 2);
    }
    EXPECT_EQ(Head(c.StopFills ? stop : target)->Status, osFilled);
    Passes(2);
    EXPECT_EQ(Head(c.StopFills ? target : stop)->Status, osCancelled);
    EXPECT_EQ(Head(id)->Status, osCancelled);
    EXPECT_TRUE(Live(id).empty());
    EXPECT_EQ(UsersAt(false, 7910), -1);
    EXPECT_EQ(StopsInBook(), 0u);
  }
}

TEST_F(SyntheticOrdersTest, AStopTheBracketCancelledItselfIsEnteredAgainWhenTheMainOrderFills) {
  const ProtectionStruct protection = Protection(3, 0, 0);
  const std::string id = Start(Order("Protect", 'B', "7900", 10), &protection);
  Cross(false, 7900, 3);
  Passes(4);
  ASSERT_EQ(Live(id).size(), 3u);
  ASSERT_EQ(StopsInBook(), 1u);
  // The protection closes out the 3 filled lots: the stop, covering none, is cancelled...
  Cross(true, 7910, 3);
  // ...and before that cancel completes the main order fills 2 more.
  Cross(false, 7900, 2);
  Passes(3);
  EXPECT_EQ(Head(id)->Status, osWorking);
  std::int32_t stopLots = 0;
  for (const auto& child : Live(id))
    if (child->OrderType->OrderTypeID == otStop) stopLots += child->TargetLots;
  EXPECT_EQ(stopLots, 2);
  EXPECT_EQ(StopsInBook(), 1u);
}

TEST_F(SyntheticOrdersTest, ABracketWithNoStopEndsWhenItsLastProtectionIsCancelled) {
  ProtectionStruct protection = Protection(2, 0, 0);
  PutFixed(protection.StType, "0");
  const std::string id = Start(Order("Protect", 'B', "7900", 2), &protection);
  Cross(false, 7900, 2);
  Passes(4);
  const auto live = Live(id);
  ASSERT_EQ(live.size(), 1u);
  ASSERT_EQ(live[0]->Status, osWorking);
  ASSERT_EQ(vnCancelOrder(live[0]->ID.c_str()), 0);
  Passes(3);
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_TRUE(Live(id).empty());
}

TEST_F(SyntheticOrdersTest, AProtectionRefusedAfterTheMainOrderFilledEndsTheBracketWithNoStop) {
  const ProtectionStruct protection = Protection(2, 0, 0);
  const std::string id = Start(Order("Protect", 'B', "7900", 2), &protection);
  Passes(2);
  ASSERT_EQ(Live(id).size(), 1u);
  // No limit orders on the exchange any more: the protection's entry is refused.
  ASSERT_GE(API()->OrderTypes.RemoveKey(TOrderTypeQ::MakeKey("LIFFE", "Limit")), 0);
  Cross(false, 7900, 2);
  Passes(2);
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_TRUE(HasMessage("of synthetic order " + id + " refused", alAlert));
  EXPECT_TRUE(Live(id).empty());
  EXPECT_EQ(StopsInBook(), 0u);
}

TEST_F(SyntheticOrdersTest, ASellBracketWithATrailingStopMirrorsItsLegs) {
  ProtectionStruct protection = Protection(2, 0, 0);
  PutFixed(protection.StType, "133");
  PutFixed(protection.StSteps1, "1");
  PutFixed(protection.StSteps2, "2");
  const std::string id = Start(Order("Protect", 'S', "7900", 2), &protection);
  Cross(true, 7900, 2);
  Passes(2);
  const auto children = Children(id);
  ASSERT_EQ(children.size(), 3u);
  std::shared_ptr<TOrderItem> target, stop;
  for (const auto& child : children) {
    if (child->Status == osFilled) continue;
    (child->OrderType->OrderTypeID == otTrStop ? stop : target) = child;
  }
  ASSERT_TRUE(target && stop);
  EXPECT_EQ(target->BuySell, Buy);
  EXPECT_DOUBLE_EQ(target->Price, 7890);
  EXPECT_EQ(target->TargetLots, 2);
  EXPECT_EQ(stop->BuySell, Buy);
  EXPECT_DOUBLE_EQ(stop->Price, 7950);
  EXPECT_EQ(stop->TargetLots, 2);
  // The trail steps from the main order's price.
  EXPECT_EQ(stop->StPrice(), "7900");
  EXPECT_DOUBLE_EQ(stop->StSteps1, 1);
  EXPECT_DOUBLE_EQ(stop->StSteps2, 2);
}

TEST_F(SyntheticOrdersTest, ABracketRefusesAnAmendAndStaysCancellable) {
  const ProtectionStruct protection = Protection(3, 0, 0);
  const std::string id = Start(Order("Protect", 'B', "7800", 3), &protection);
  Passes(2);
  const std::string main = Children(id).at(0)->ID;
  ASSERT_EQ(UsersAt(true, 7800), 3);

  AmendOrderStruct amend = AmendRecordOf(*Head(id));
  amend.Lots = 5;
  PutFixed(amend.Price, "7790");
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  ASSERT_EQ(Head(id)->Status, osAmendPending);
  demo_->StatusPass();
  EXPECT_EQ(Head(id)->Status, osWorking);
  EXPECT_EQ(Head(id)->TargetLots, 3);
  EXPECT_DOUBLE_EQ(Head(id)->Price, 7800);
  EXPECT_EQ(EventStates(id, 4),
            (std::vector<int>{osSent, osWorking, osAmendPending, osWorking}));

  recorder.Clear();
  ASSERT_EQ(vnCancelOrder(id.c_str()), 0);
  Passes(2);
  EXPECT_EQ(Head(main)->Status, osCancelled);
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_EQ(UsersAt(true, 7800), -1);
  EXPECT_EQ(EventsIn(id, osCancelled), 1u);
  Passes(2);
  EXPECT_EQ(Head(id)->Status, osCancelled);
}

TEST_F(SyntheticOrdersTest, ACancelParkedBehindAnAmendStillCancelsTheBracket) {
  const ProtectionStruct protection = Protection(2, 0, 0);
  const std::string id = Start(Order("Protect", 'B', "7800", 2), &protection);
  Passes(2);
  AmendOrderStruct amend = AmendRecordOf(*Head(id));
  amend.Lots = 4;
  ASSERT_EQ(vnAmendOrder(id.c_str(), &amend), 0);
  // Parked until the amend is answered.
  ASSERT_EQ(vnCancelOrder(id.c_str()), VN_RC_ORDER_HELD_IN_QUEUE);
  Passes(4);
  EXPECT_EQ(Head(id)->Status, osCancelled);
  EXPECT_TRUE(Live(id).empty());
  EXPECT_EQ(UsersAt(true, 7800), -1);
}

// The application enters, amends and cancels synthetic orders on its own thread while the
// simulation ticks and the market moves; once every order has settled no parent is left
// pending, an ended parent has no live child, a live one has one, and the book holds exactly the
// resting lots.
TEST_F(SyntheticOrdersTest, SyntheticOrdersSettleWhileTheApplicationTrades) {
  Cross(false, 7950, 30);
  Cross(true, 7850, 30);
  std::atomic<bool> done{false};
  std::thread application([&] {
    const ProtectionStruct protection = Protection(2, 1, 0);
    for (int i = 0; i < 40; ++i) {
      const char* price = i % 3 == 0 ? "7950" : "7840";
      char id[11] = {};
      if (i % 2 == 0) {
        NewOrderStruct order = IcebergOrder(3 + i % 4, 2);
        PutFixed(order.Price, price);
        vnAddOrder(&order, id);
      } else {
        const NewOrderStruct order = Order("Protect", 'B', price, 2 + i % 3);
        vnAddProtectionOrder(&order, &protection, id);
      }
      std::this_thread::yield();
      if (i % 4 == 1) vnCancelOrder(id);
      if (i % 5 == 0) {
        AmendOrderStruct amend{};
        bool found = false;
        {
          TOrderQGuard guard(API()->Orders);
          if (const auto head = Head(id)) {
            amend = AmendRecordOf(*head);
            amend.Lots += 1;
            found = true;
          }
        }
        if (found) vnAmendOrder(id, &amend);
      }
    }
    done = true;
  });
  while (!done)
    demo_->TimerPriceFeedTimer();
  application.join();
  Passes(40);

  std::vector<std::string> parents;
  {
    TOrderQGuard guard(API()->Orders);
    for (int i = 0; i < API()->Orders.Count(); ++i) {
      const auto head = API()->Orders.At(i)->GetCurrent();
      const auto type = head->OrderType ? head->OrderType->OrderTypeID : 0;
      EXPECT_FALSE(StatusIn(head->Status, {osQueued, osSent, osCancelPending, osAmendPending}))
          << head->ID << " " << int(head->Status);
      if (type == otIceberg || type == otProtect) parents.push_back(head->ID);
    }
  }
  EXPECT_EQ(parents.size(), 40u);
  for (const std::string& parent : parents) {
    SCOPED_TRACE(parent);
    const bool ended = IsClosedStatus(Head(parent)->Status);
    EXPECT_EQ(Live(parent).empty(), ended) << int(Head(parent)->Status);
  }
  std::int32_t resting = 0;
  {
    TOrderQGuard guard(API()->Orders);
    for (int i = 0; i < API()->Orders.Count(); ++i) {
      const auto head = API()->Orders.At(i)->GetCurrent();
      if (head->OrderType && head->OrderType->OrderTypeID == otLimit &&
          StatusIn(head->Status, {osWorking, osPart}))
        resting += head->TargetLots - head->Filled;
    }
  }
  // The market's locks come before the order list's: the book is read after that scope.
  std::int32_t users = 0;
  WithBook([&](TContractOrderList& book) {
    for (const auto& [key, level] : book.Bids.Levels())
      users += level.Users;
    for (const auto& [key, level] : book.Offers.Levels())
      users += level.Users;
  });
  EXPECT_EQ(users, resting);
}

}  // namespace
}  // namespace vorn::sim
