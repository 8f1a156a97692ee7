#include "core/refdata/MarginRating.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "core/store/ObjStream.h"
#include "support/TempDir.h"

namespace vorn {
namespace {

std::shared_ptr<TMarginRating> Rating(std::string rating, std::string account, std::string exchange,
                                      std::string commodity, std::string contract,
                                      std::string indicator, std::int32_t req, std::int32_t pc) {
  auto item = std::make_shared<TMarginRating>();
  item->Rating = std::move(rating);
  item->TraderAccount = std::move(account);
  item->Exchange = std::move(exchange);
  item->Commodity = std::move(commodity);
  item->Contract = std::move(contract);
  item->CommodityIndicator = std::move(indicator);
  item->MarginReq = req;
  item->MarginPC = pc;
  return item;
}

TEST(MarginRatingTest, KeysJoinTheSixPartsInKeyOrder) {
  TMarginRatingQ ratings;
  EXPECT_EQ(ratings.Name(), "MarginRating");
  EXPECT_EQ(TMarginRatingQ::MarginRatingKey("R", "ACC", "O", "FEB26", "ES", "XCME"),
            "R\x01"
            "ACC\x01XCME\x01"
            "ES\x01"
            "FEB26\x01O");

  ratings.Add(Rating("R", "", "XCME", "ES", "FEB26", " ", 1, 0));
  ratings.Add(Rating("R", "", "XCME", "", "", " ", 2, 0));
  ratings.Add(Rating("R", "", "", "", "", " ", 3, 0));
  ratings.Add(Rating("R", "ACC", "", "", "", " ", 4, 0));
  ratings.Add(Rating("R", "", "XCME", "ES", "", "O", 5, 0));
  // Parts that would read the same once joined stay apart: the separator is significant.
  ratings.Add(Rating("R", "", "XCMEES", "", "", " ", 6, 0));
  EXPECT_FALSE(ratings.Add(Rating("R", "", "XCME", "", "", " ", 7, 0)).Added);
  std::vector<std::int32_t> order;
  for (int i = 0; i < ratings.Count(); ++i)
    order.push_back(ratings.At(i)->MarginReq);
  // An empty part sorts before any name in its place.
  EXPECT_EQ(order, (std::vector<std::int32_t>{3, 2, 5, 1, 6, 4}));

  EXPECT_EQ(ratings.FindRating("R", "", " ", "", "", "")->MarginReq, 3);
  EXPECT_EQ(ratings.FindRating("R", "", "O", "", "ES", "XCME")->MarginReq, 5);
  EXPECT_EQ(ratings.FindRating("R", "", " ", "", "ES", "XCME"), nullptr);
  EXPECT_EQ(ratings.FindRating("R", "ACC", " ", "", "", "")->MarginReq, 4);
}

// One rating at each specificity and indicator, MarginReq telling which: 1-4 for "O", 5-8 for
// " ", most specific first.
enum Row : unsigned {
  ODate = 1,
  OCom = 2,
  OEx = 4,
  ONone = 8,
  BDate = 16,
  BCom = 32,
  BEx = 64,
  BNone = 128
};

void AddRows(TMarginRatingQ& ratings, unsigned rows, const std::string& account) {
  const std::string parts[4][3] = {
      {"XCME", "ES", "FEB26"}, {"XCME", "ES", ""}, {"XCME", "", ""}, {"", "", ""}};
  for (int i = 0; i < 8; ++i) {
    if (!(rows & (1u << i))) continue;
    const auto& p = parts[i % 4];
    ratings.Add(Rating("R", account, p[0], p[1], p[2], i < 4 ? "O" : " ", i + 1, 10 * (i + 1)));
  }
}

TEST(MarginRatingTest, GetMarginFallsBackFromTheMostSpecificRating) {
  struct Case {
    const char* name;
    unsigned rows;
    bool marginMode;
    bool option;
    std::int32_t found;  // MarginReq of the row found, 0 for none
  };
  const unsigned all = 255;
  const Case cases[] = {
      {"option, margin mode", all, true, true, 1},
      {"margin mode off", all, false, true, 5},
      {"not an option", all, true, false, 5},
      {"O commodity", OCom | OEx | ONone | BDate, true, true, 2},
      {"O exchange", OEx | ONone | BDate, true, true, 3},
      {"every O before any blank", ONone | BDate, true, true, 4},
      {"only a blank exchange row", BEx, true, true, 7},
      {"blank commodity", BCom | BEx | BNone, false, false, 6},
      {"blank none", BNone, true, false, 8},
      {"O rows unused outside margin mode", ODate | OCom | OEx | ONone, false, true, 0},
      {"O rows unused for a future", ODate | OCom | OEx | ONone, true, false, 0},
      {"nothing", 0, true, true, 0},
  };
  for (const Case& c : cases) {
    std::atomic<bool> marginMode{c.marginMode};
    TMarginRatingQ ratings(&marginMode);
    std::vector<std::string> asked;
    ratings.SetOptionTest([&](std::string_view ex, std::string_view com, std::string_view date) {
      asked.push_back(std::string(ex) + "/" + std::string(com) + "/" + std::string(date));
      return c.option;
    });
    AddRows(ratings, c.rows, "");
    // Rows of an account never answer for another, nor for no account.
    AddRows(ratings, all, "OTHER");

    double req = -1;
    double pc = -1;
    const bool found = ratings.GetMargin("R", "", req, pc, "FEB26", "ES", "XCME");
    EXPECT_EQ(found, c.found != 0) << c.name;
    EXPECT_EQ(req, c.found) << c.name;
    EXPECT_EQ(pc, c.found ? 10.0 * c.found : -1) << c.name;
    EXPECT_EQ(asked,
              c.marginMode ? std::vector<std::string>{"XCME/ES/FEB26"} : std::vector<std::string>{})
        << c.name;
  }
}

TEST(MarginRatingTest, ShortFormsPresetTheirPercentage) {
  TMarginRatingQ ratings;  // no margin mode: blank rows only
  ratings.Add(Rating("R", "", "XCME", "", "", " ", 10, 100));
  ratings.Add(Rating("R", "ACC", "XCME", "ES", "", " ", 3, 50));

  auto rate = ratings.GetMargin("R", "FEB26", "ES", "XCME");
  EXPECT_TRUE(rate.Found);
  EXPECT_EQ(rate.MarginReq, 10);
  EXPECT_EQ(rate.MarginPC, 100);
  auto account = ratings.GetMargin("R", "ACC", "FEB26", "ES", "XCME");
  EXPECT_TRUE(account.Found);
  EXPECT_EQ(account.MarginReq, 3);
  EXPECT_EQ(account.MarginPC, 50);

  rate = ratings.GetMargin("R", "FEB26", "ES", "EUREX");
  EXPECT_FALSE(rate.Found);
  EXPECT_EQ(rate.MarginReq, 0);
  EXPECT_EQ(rate.MarginPC, 100);
  account = ratings.GetMargin("R", "NOBODY", "FEB26", "ES", "XCME");
  EXPECT_FALSE(account.Found);
  EXPECT_EQ(account.MarginReq, 0);
  EXPECT_EQ(account.MarginPC, 0);
}

TEST(MarginRatingTest, RatingsRoundTripThroughTheStoreWithTheirNames) {
  // Absent names are written as one blank.
  {
    TStream stream;
    Rating("R", "", "", "", "", " ", 0, 0)->WriteExtra(stream);
    stream.SetPosition(0);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(stream.ReadString(), " ");
    EXPECT_EQ(stream.Left(), 0u);
  }

  std::vector<std::string> names;
  for (const TPropInfo& property : TMarginRating::Class().Properties())
    names.push_back(property.Name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"CommodityIndicator", "MarginPC", "MarginReq", "Rating"}));

  TTempDir dir;
  std::vector<std::string> keys;
  {
    TMarginRatingQ ratings;
    // Contract-specific, for an account, an option row.
    ratings.Add(Rating("GOLD", "ACC1", "XCME", "ES", "FEB26", "O", 120, 80));
    // No exchange and no account: every name absent.
    ratings.Add(Rating("GOLD", "", "", "", "", " ", 10, 100));
    // A commodity without its contract.
    ratings.Add(Rating("SILVER", "", "XCME", "ES", "", " ", -5, 0));
    for (int i = 0; i < ratings.Count(); ++i) {
      std::string key;
      ratings.GetKey(*ratings.At(i), key);
      keys.push_back(key);
    }
    ratings.SaveToFile(dir.File("VornInfo.dat"));
  }

  TStream stream;
  ASSERT_TRUE(stream.LoadFromFile(dir.File("VornInfo.dat")));
  ASSERT_TRUE(ReadStoreHeader(stream));
  TMarginRatingQ ratings;
  ASSERT_TRUE(ratings.LoadFromStream(stream, true));
  EXPECT_EQ(stream.Left(), 0u);
  ASSERT_EQ(ratings.Count(), 3);
  for (int i = 0; i < ratings.Count(); ++i) {
    std::string key;
    ratings.GetKey(*ratings.At(i), key);
    EXPECT_EQ(key, keys[static_cast<std::size_t>(i)]);
  }

  const auto specific = ratings.FindRating("GOLD", "ACC1", "O", "FEB26", "ES", "XCME");
  ASSERT_NE(specific, nullptr);
  EXPECT_EQ(specific->MarginReq, 120);
  EXPECT_EQ(specific->MarginPC, 80);
  // Still only for its contract.
  EXPECT_EQ(ratings.FindRating("GOLD", "ACC1", "O", "", "ES", "XCME"), nullptr);

  const auto bare = ratings.FindRating("GOLD", "", " ", "", "", "");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->Exchange, "");
  EXPECT_EQ(bare->TraderAccount, "");
  EXPECT_EQ(bare->MarginPC, 100);
  const auto commodity = ratings.FindRating("SILVER", "", " ", "", "ES", "XCME");
  ASSERT_NE(commodity, nullptr);
  EXPECT_EQ(commodity->MarginReq, -5);
}

}  // namespace
}  // namespace vorn
