// Tests of the error kinds, display text and result type.
#include "core/base/error.hpp"

#include <gtest/gtest.h>

namespace quarlo {
namespace {

TEST(ErrorKinds, TableIsInDeclarationOrder) {
  for (std::size_t i = 0; i < kErrorKindCount; ++i) {
    EXPECT_EQ(static_cast<std::size_t>(kErrorKinds[i].kind), i);
  }
}

struct DisplayCase {
  QuarloError error;
  const char* display;
};

class ErrorDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(ErrorDisplay, IsPrefixThenMessage) {
  const auto& c = GetParam();
  EXPECT_EQ(c.error.display(), c.display);
  EXPECT_EQ(c.error.message(), "m");
  EXPECT_EQ(std::string(c.error.prefix()) + "m", c.display);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ErrorDisplay,
    ::testing::Values(DisplayCase{QuarloError::invalid_url("m"), "invalid URL: m"},
                      DisplayCase{QuarloError::invalid_config("m"), "invalid configuration: m"},
                      DisplayCase{QuarloError::invalid_entity("m"), "invalid entity: m"},
                      DisplayCase{QuarloError::invalid_schema("m"), "invalid schema: m"},
                      DisplayCase{QuarloError::serialization("m"), "serialization error: m"},
                      DisplayCase{QuarloError::contract("m"), "contract error: m"},
                      DisplayCase{QuarloError::url_policy("m"), "URL policy error: m"}));

Result<int> half(int x) {
  if (x % 2) return QuarloError::invalid_config("odd");
  return x / 2;
}

Result<int> quarter(int x) {
  QUARLO_TRY(int h, half(x));
  QUARLO_TRY(int q, half(h));
  return q;
}

TEST(ResultPropagation, ReturnsFirstErrorUnchanged) {
  ASSERT_TRUE(quarter(8));
  EXPECT_EQ(*quarter(8), 2);
  auto r = quarter(6);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), QuarloError::invalid_config("odd"));
}

}  // namespace
}  // namespace quarlo
