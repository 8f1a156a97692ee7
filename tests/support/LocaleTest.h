#pragma once
// Runs a parameterised suite in the C locale and in one whose decimal separator is ',': the
// library runs inside the caller's process and its number text must not depend on the locale.

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace vorn {

class TLocaleParamTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    saved_ = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, GetParam())) {
      GTEST_SKIP() << GetParam() << " is not installed";
    }
    if (std::string(GetParam()) != "C") {
      ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
  }
  void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

}  // namespace vorn

#define VORN_INSTANTIATE_LOCALES(Suite)                      \
  INSTANTIATE_TEST_SUITE_P(                                  \
      Locales, Suite, ::testing::Values("C", "de_DE.UTF-8"), \
      [](const auto& info) { return std::string(info.param[0] == 'C' ? "C" : "CommaDecimal"); })
