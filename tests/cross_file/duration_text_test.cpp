#include "cross_file/duration_text.h"

#include <chrono>

#include <gtest/gtest.h>

namespace korvane::cross_file {
namespace {

using std::chrono::nanoseconds;

TEST(FormatDuration, PicksUnitAndTrimsZeros) {
  struct Case {
    long long nanos;
    const char* want;
  };
  const Case cases[] = {
      {0, "0ns"},
      {999, "999ns"},
      {1'000, "1\u00b5s"},
      {1'500, "1.5\u00b5s"},
      {1'500'000, "1.5ms"},
      {1'234'567, "1.234567ms"},
      {1'000'001, "1.000001ms"},  // inner zeros stay, only trailing ones go
      {999'999'999, "999.999999ms"},
      {2'000'000'000, "2s"},
      {1'000'000'001, "1.000000001s"},
      {61'250'000'000, "61.25s"},
      {-5, "0ns"},  // a clock that went backwards
  };
  for (const Case& c : cases) EXPECT_EQ(format_duration(nanoseconds(c.nanos)), c.want) << c.nanos;
}

}  // namespace
}  // namespace korvane::cross_file
