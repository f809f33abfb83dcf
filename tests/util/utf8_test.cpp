#include "util/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "util/os_error.h"

namespace korvane {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  const char* want;  // nullptr: valid
};

// Each row: where the first error is reported and how long the bad sequence is said to be.
const Utf8Case kUtf8Cases[] = {
    {"ascii", "import os\n", nullptr},
    {"two_byte", "caf\xC3\xA9", nullptr},
    {"four_byte", "x = '\xF0\x9F\x98\x80'", nullptr},
    {"lone_continuation", "ab\x80", "invalid utf-8 sequence of 1 bytes from index 2"},
    {"overlong_c0", "\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"surrogate_is_one_byte", "\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"third_byte_bad", "\xE2\x82X", "invalid utf-8 sequence of 2 bytes from index 0"},
    {"fourth_byte_bad", "\xF0\x9F\x98X", "invalid utf-8 sequence of 3 bytes from index 0"},
    {"above_max", "\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
    {"truncated_at_end", "0123456789\xE2\x82", "incomplete utf-8 byte sequence from index 10"},
    {"lead_at_end", "\xC3", "incomplete utf-8 byte sequence from index 0"},
    {"after_long_ascii_run", std::string(37, 'a') + "\xFF",
     "invalid utf-8 sequence of 1 bytes from index 37"},
};

TEST(Utf8, FirstErrorAndItsText) {
  for (const auto& c : kUtf8Cases) {
    auto err = validate_utf8(c.bytes);
    if (c.want == nullptr) {
      EXPECT_FALSE(err.has_value()) << c.name;
    } else {
      ASSERT_TRUE(err.has_value()) << c.name;
      EXPECT_EQ(err->message(), c.want) << c.name;
    }
  }
}

TEST(OsError, DescriptionThenNumber) {
  EXPECT_EQ(os_error_text(2), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error_text(21), "Is a directory (os error 21)");
}

}  // namespace
}  // namespace korvane
