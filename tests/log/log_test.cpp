#include "log/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../support/captured_io.h"
#include "../support/failing_allocator.h"

namespace korvane::log {
namespace {

using ::testing::MatchesRegex;

TEST(LogLine, PlainFormat) {
  EXPECT_THAT(format_line(Level::Info, "korvane_indexer", "Starting", false),
              MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6}Z"
                           "  INFO korvane_indexer: Starting\n"));
}

TEST(LogLine, LevelWordsAreRightAligned) {
  const struct {
    Level level;
    const char* word;
  } cases[] = {{Level::Error, " ERROR k: m\n"},
               {Level::Warn, "  WARN k: m\n"},
               {Level::Info, "  INFO k: m\n"},
               {Level::Debug, " DEBUG k: m\n"},
               {Level::Trace, " TRACE k: m\n"}};
  for (const auto& c : cases) {
    const std::string line = format_line(c.level, "k", "m", false);
    EXPECT_EQ(line.substr(27), c.word);
  }
}

TEST(LogLine, ColouredFormat) {
  const std::string line = format_line(Level::Warn, "korvane_indexer::server", "x\ny", true);
  EXPECT_THAT(line, MatchesRegex("\x1b\\[2m[-0-9T:.]+Z\x1b\\[0m \x1b\\[33m WARN\x1b\\[0m "
                                 "\x1b\\[2mkorvane_indexer::server\x1b\\[0m\x1b\\[2m:\x1b\\[0m "
                                 "x\ny\n"));
}

TEST(Log, NothingPassesBeforeInstall) { EXPECT_FALSE(enabled(Level::Error, "korvane_indexer")); }

// Installs a filter for the rest of the process, so it comes after the case above.
TEST(Log, ALineThatDoesNotFitIsDropped) {
  ::setenv("RUST_LOG", "korvane_indexer=debug", 1);
  install_from_environment();
  const std::string message(std::size_t{1} << 20, 'a');
  bool failed = false;
  const std::string written = korvane::testing::capture_stderr([&] {
    auto fail = korvane::testing::FailingAllocations::at_least(message.size());
    EXPECT_NO_THROW(KLOG_DEBUG("korvane_indexer::server", "Received message: {}", message));
    failed = fail.failed();
  });
  EXPECT_TRUE(failed);
  EXPECT_EQ(written, "");
}

}  // namespace
}  // namespace korvane::log
