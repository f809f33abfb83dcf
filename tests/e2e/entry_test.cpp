// The command line, the exit statuses and the log output of the executable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;

constexpr const char* kPing = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";

struct ArgsCase {
  const char* name;
  std::vector<std::string> args;
};

// Whatever else is on the command line, a version option wins and nothing is logged.
const ArgsCase kVersionCases[] = {
    {"short", {"-v"}},
    {"long", {"--version"}},
    {"after_help", {"-h", "-v"}},
    {"before_help", {"--version", "--help"}},
    {"among_others", {"x", "--help", "y", "-v"}},
};

class VersionTest : public testing::TestWithParam<ArgsCase> {};

TEST_P(VersionTest, PrintsOnlyTheVersionLine) {
  RunResult r = run("", Options().with_args(GetParam().args));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "korvane-indexer 0.1.0\n");
  EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Entry, VersionTest, testing::ValuesIn(kVersionCases),
                         [](const auto& p) { return std::string(p.param.name); });

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start) + "<no newline>");
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

TEST(Entry, HelpIsTheThirtyTwoLineText) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"-h"}, {"--help"}, {"--help", "not-an-option"}}) {
    RunResult r = run("", Options().with_args(args));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 32u) << r.out;
    EXPECT_THAT(lines[0], MatchesRegex("korvane-indexer - .+"));
    EXPECT_EQ(lines[3], "    korvane-indexer [OPTIONS]");
    EXPECT_EQ(lines[6], "    -h, --help       Print this help message");
    EXPECT_EQ(lines[7], "    -v, --version    Print version information");
    EXPECT_EQ(
        lines[17],
        "    RUST_LOG    Set log level (e.g., RUST_LOG=debug, RUST_LOG=korvane_indexer=trace)");
    EXPECT_EQ(lines[26], "    Cancellation is supported via the $/cancelRequest notification.");
    EXPECT_EQ(lines[30], "    ");
    const std::string body =
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"1.0.0"}})";
    EXPECT_EQ(lines[31], "    $ echo -e 'Content-Length: " + std::to_string(body.size()) +
                             "\\r\\n\\r\\n" + body + "' | korvane-indexer");
    EXPECT_THAT(r.out, Not(HasSubstr("scanPackages")));
  }
}

// Near misses of the options are ignored: the server starts and serves.
const ArgsCase kIgnoredCases[] = {
    {"capital_v", {"-V"}}, {"capital_h", {"-H"}},        {"long_capital", {"--Version"}},
    {"combined", {"-vh"}}, {"with_value", {"--help=1"}}, {"plain_word", {"version"}},
};

class IgnoredArgsTest : public testing::TestWithParam<ArgsCase> {};

TEST_P(IgnoredArgsTest, ServerStarts) {
  RunResult r = run(frame(kPing), Options().with_args(GetParam().args));
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.bodies().size(), 1u) << r.out;
  EXPECT_THAT(r.bodies()[0], HasSubstr(R"("pong":true)"));
}

INSTANTIATE_TEST_SUITE_P(Entry, IgnoredArgsTest, testing::ValuesIn(kIgnoredCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Entry, EndOfInputBeforeAnyMessage) {
  RunResult r = run("", Options().with_env("NO_COLOR", "1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  const auto lines = r.log_lines();
  ASSERT_EQ(lines.size(), 3u) << r.err;
  EXPECT_THAT(lines[0],
              MatchesRegex("[-0-9]{10}T[0-9:]{8}\\.[0-9]{6}Z  INFO korvane_indexer: "
                           "Starting korvane-indexer v0\\.1\\.0 \\(protocol v1\\.0\\.0\\)"));
  EXPECT_THAT(lines[1],
              HasSubstr("  INFO korvane_indexer::server: End of input stream, shutting down"));
  EXPECT_THAT(lines[2], HasSubstr("  INFO korvane_indexer: Server shutdown complete"));
}

struct LogCase {
  const char* name;
  std::optional<std::string> rust_log;
  bool startup_shown;
  bool debug_shown;
};

// RUST_LOG values a user could set, and which of the lines of one ping run they show.
const LogCase kLogCases[] = {
    {"unset", std::nullopt, true, false},
    {"server_debug_only", "korvane_indexer::server=debug", false, true},
    {"invalid_piece_discards_all", "debug,korvane_indexer=loud", true, false},
    {"capital_level", "INFO", true, false},
    {"everything", "trace", true, true},
    {"numeric", "4", true, true},
};

class LogFilterTest : public testing::TestWithParam<LogCase> {};

TEST_P(LogFilterTest, ShowsTheRightLines) {
  const auto& c = GetParam();
  Options options = Options().with_env("NO_COLOR", "1");
  if (c.rust_log) options.with_env("RUST_LOG", *c.rust_log);
  RunResult r = run(frame(kPing), options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.logged("Starting korvane-indexer v0.1.0 (protocol v1.0.0)"), c.startup_shown)
      << r.err;
  EXPECT_EQ(r.logged("DEBUG korvane_indexer::server: Received message: " + std::string(kPing)),
            c.debug_shown)
      << r.err;
}

INSTANTIATE_TEST_SUITE_P(Entry, LogFilterTest, testing::ValuesIn(kLogCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Entry, EmptyRustLogShowsNothingEvenForAFatalError) {
  RunResult r = run("\r\n", Options().with_env("RUST_LOG", ""));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
}

struct ColorCase {
  const char* name;
  std::optional<std::string> no_color;
  bool coloured;
};

const ColorCase kColorCases[] = {
    {"unset", std::nullopt, true},       {"empty", "", true},
    {"zero_turns_it_off", "0", false},   {"any_text", "1", false},
    {"not_utf8_keeps_it", "\xff", true},
};

class ColorTest : public testing::TestWithParam<ColorCase> {};

TEST_P(ColorTest, FollowsNoColor) {
  Options options;
  if (GetParam().no_color) options.with_env("NO_COLOR", *GetParam().no_color);
  RunResult r = run("", options);
  ASSERT_FALSE(r.err.empty());
  const bool coloured = r.err.find("\x1b[") != std::string::npos;
  EXPECT_EQ(coloured, GetParam().coloured) << r.err;
  if (coloured) {
    EXPECT_THAT(r.log_lines()[0],
                MatchesRegex("\x1b\\[2m[-0-9T:.]+Z\x1b\\[0m \x1b\\[32m INFO\x1b\\[0m "
                             "\x1b\\[2mkorvane_indexer\x1b\\[0m\x1b\\[2m:\x1b\\[0m Starting .*"));
  }
}

INSTANTIATE_TEST_SUITE_P(Entry, ColorTest, testing::ValuesIn(kColorCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Entry, FatalErrorIsLoggedInLongFormWithStatusOne) {
  RunResult r = run("Content-Length: 12x\r\n\r\n", Options().with_env("NO_COLOR", "1"));
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("ERROR korvane_indexer: Server error: Invalid Content-Length value"
                               "\n\nCaused by:\n    invalid digit found in string\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("Server shutdown complete")));
}

TEST(Entry, WriteToAClosedOutputIsFatal) {
  Process p(Options().with_env("NO_COLOR", "1"));
  p.close_stdout();
  p.write(frame(kPing));
  RunResult r = p.finish();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("ERROR korvane_indexer: Server error: Broken pipe (os error 32)\n"));
}

}  // namespace
}  // namespace korvane::e2e
