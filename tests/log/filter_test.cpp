#include "log/filter.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::log {
namespace {

constexpr std::string_view kRoot = "korvane_indexer";
constexpr std::string_view kServer = "korvane_indexer::server";
constexpr std::string_view kOther = "other_library";

struct FilterCase {
  const char* name;
  const char* spec;  // nullptr: RUST_LOG unset
  // Expected visibility of: INFO root, DEBUG server, WARN other, TRACE server.
  bool info_root, debug_server, warn_other, trace_server;
};

// Each row is a RUST_LOG value a user could set, and which events it must let through.
const FilterCase kFilterCases[] = {
    {"unset_is_default", nullptr, true, false, false, false},
    {"empty_shows_nothing", "", false, false, false, false},
    {"bare_level", "debug", true, true, true, false},
    {"level_in_capitals", "INFO", true, false, true, false},
    {"numeric_level", "4", true, true, true, false},
    {"numeric_with_plus_and_zeros", "+004", true, true, true, false},
    {"numeric_zero_is_off", "0", false, false, false, false},
    // A bare word that is no level names a target.
    {"bare_number_out_of_range_is_a_target", "6", false, false, false, false},
    {"level_number_out_of_range_falls_back", "korvane_indexer=6", true, false, false, false},
    {"server_only", "korvane_indexer::server=debug", false, true, false, false},
    {"bare_target_enables_all_levels", "korvane_indexer", true, true, false, true},
    {"longest_target_decides", "korvane_indexer=off,korvane_indexer::server=trace", false, true,
     false, true},
    {"longest_target_decides_either_order", "korvane_indexer::server=warn,korvane_indexer=trace",
     true, false, false, false},
    {"target_beats_bare_level", "trace,korvane_indexer=warn", false, false, true, false},
    {"later_duplicate_wins", "korvane_indexer=debug,korvane_indexer=error", false, false, false,
     false},
    {"plain_prefix_matches", "korvane=info", true, false, false, false},
    {"prefix_is_case_sensitive", "Korvane_indexer=trace", false, false, false, false},
    {"empty_pieces_are_harmless", ",,debug,", true, true, true, false},
    {"spaces_around_equals_fall_back", "korvane_indexer::server = debug", true, false, false,
     false},
    {"trimmed_piece", " korvane_indexer::server=debug ", false, true, false, false},
    {"invalid_level_discards_everything", "trace,korvane_indexer=loud", true, false, false, false},
    {"empty_level_discards_everything", "korvane_indexer=", true, false, false, false},
    {"off_word", "OFF", false, false, false, false},
};

class FilterTest : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, DecidesEvents) {
  const auto& c = GetParam();
  const Filter f = Filter::from_env_value(c.spec);
  EXPECT_EQ(f.enabled(Level::Info, kRoot), c.info_root);
  EXPECT_EQ(f.enabled(Level::Debug, kServer), c.debug_server);
  EXPECT_EQ(f.enabled(Level::Warn, kOther), c.warn_other);
  EXPECT_EQ(f.enabled(Level::Trace, kServer), c.trace_server);
}

INSTANTIATE_TEST_SUITE_P(Log, FilterTest, testing::ValuesIn(kFilterCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FilterParse, RejectsInvalidPiecesOnly) {
  EXPECT_TRUE(Filter::parse("a=trace,b=5,c"));
  EXPECT_FALSE(Filter::parse("a=verbose"));
  EXPECT_FALSE(Filter::parse("a=+"));
  EXPECT_FALSE(Filter::parse("a=-1"));
  EXPECT_FALSE(Filter::parse("=info"));
}

TEST(FilterParse, InvalidUtf8FallsBackToDefault) {
  const Filter f = Filter::from_env_value("\xff");
  EXPECT_TRUE(f.enabled(Level::Info, kRoot));
  EXPECT_FALSE(f.enabled(Level::Debug, kRoot));
}

}  // namespace
}  // namespace korvane::log
