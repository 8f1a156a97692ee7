#include "core/util/CompareKeys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

int Sign(int value) {
  return (value > 0) - (value < 0);
}

TEST(CompareKeysTest, OrdersByClassThenCaseThenBytes) {
  // Strictly ascending; every pair is checked both ways.
  const std::vector<std::string> ascending = {
      "",      std::string(1, '\0'),
      "\x01",  "\x1f",
      "\x7f",  " ",
      "!",     "-",
      "/",     ":",
      "@",     "[",
      "_",     "`",
      "{",     "~",
      "0",     "9",
      "a",     "A",
      "a\x01",  // a longer key after its prefix, whatever the added byte
      "a ",    "a-b",
      "a0",
      "ab",  // lower case before upper case at the first case difference
      "aB",    "Ab",
      "AB",    "abc",
      "b",     "B",
      "z",     "Z",
      "\x80",  "\xe9",
      "\xff",
  };
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    for (std::size_t j = 0; j < ascending.size(); ++j) {
      const int expected = i < j ? -1 : (i > j ? 1 : 0);
      EXPECT_EQ(Sign(CompareKeys(ascending[i], ascending[j])), expected)
          << testing::PrintToString(ascending[i]) << " vs " << testing::PrintToString(ascending[j]);
    }
  }
}

TEST(CompareKeysTest, JoinedKeysNeverCollide) {
  const std::string sep = "\x01";
  const struct {
    std::string a, b;
    int expected;
  } cases[] = {
      {"AB" + sep + "C", "A" + sep + "BC", 1},
      {"A" + sep + "B",
       "A\x02"
       "B",
       -1},
      {"A" + sep + "B", "A B", -1},
      {"12" + sep + "X", "1" + sep + "2X", 1},
      {"x" + sep + "Y", "X" + sep + "y", -1},
      {std::string("A\0B", 3), "A", 1},
      {std::string("A\0B", 3), std::string("A\0b", 3), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sign(CompareKeys(c.a, c.b)), c.expected) << testing::PrintToString(c.a);
    EXPECT_EQ(Sign(CompareKeys(c.b, c.a)), -c.expected) << testing::PrintToString(c.a);
  }
}

// Every key of up to two bytes over an alphabet with a byte of each class and a case pair:
// equal only for equal bytes, antisymmetric and transitive, so a sorted list stays searchable.
TEST(CompareKeysTest, IsATotalOrderMatchingByteEquality) {
  const std::string alphabet = {'\x01', ' ', '-', '1', 'a', 'A', 'b', '\x80'};
  std::vector<std::string> keys = {""};
  for (char c : alphabet)
    keys.push_back(std::string(1, c));
  for (char c : alphabet)
    for (char d : alphabet)
      keys.push_back(std::string{c, d});

  const std::size_t n = keys.size();
  std::vector<int> order(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j)
      order[i * n + j] = Sign(CompareKeys(keys[i], keys[j]));
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const int ij = order[i * n + j];
      ASSERT_EQ(ij == 0, keys[i] == keys[j])
          << testing::PrintToString(keys[i]) << " " << testing::PrintToString(keys[j]);
      ASSERT_EQ(ij, -order[j * n + i]);
      if (ij >= 0) continue;
      for (std::size_t k = 0; k < n; ++k) {
        if (order[j * n + k] < 0) {
          ASSERT_LT(order[i * n + k], 0)
              << testing::PrintToString(keys[i]) << " < " << testing::PrintToString(keys[j])
              << " < " << testing::PrintToString(keys[k]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace vorn
