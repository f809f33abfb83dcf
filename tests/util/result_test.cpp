#include "util/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace korvane {
namespace {

Result<int> parse_digit(char c) {
  if (c < '0' || c > '9') return Unexpected(std::string("not a digit: ") + c);
  return c - '0';
}

TEST(Result, ValueAndErrorSides) {
  auto ok = parse_digit('7');
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, 7);
  auto bad = parse_digit('x');
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error(), "not a digit: x");
  EXPECT_EQ(bad.value_or(-1), -1);
}

// A move-only payload must move through without copies (parsed modules are move-only).
TEST(Result, MoveOnlyValue) {
  Result<std::unique_ptr<int>> r = std::make_unique<int>(3);
  ASSERT_TRUE(r);
  std::unique_ptr<int> taken = std::move(r).value();
  EXPECT_EQ(*taken, 3);
}

TEST(Result, VoidResult) {
  Result<void> ok;
  EXPECT_TRUE(ok);
  Result<void> bad = Unexpected("broken pipe");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error(), "broken pipe");
}

// A Result<std::string> built from a string must hold the value, never the error.
TEST(Result, StringValueIsNotMistakenForError) {
  Result<std::string> r = std::string("text");
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, "text");
}

}  // namespace
}  // namespace korvane
