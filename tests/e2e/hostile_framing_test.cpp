// Hostile bytes on standard input: nesting bombs, huge bodies and lengths, garbage, endless
// header lines. Each must end with the reply or the fatal error a client can rely on, never
// with a crash, a stack overflow or memory that follows a declared size instead of the input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

constexpr std::string_view kPing1 = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
constexpr std::string_view kPing2 = R"({"jsonrpc":"2.0","id":2,"method":"ping"})";
constexpr std::string_view kPingPrefix = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":)";

std::string parse_error(std::string_view text) {
  return R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: )" +
         std::string(text) + "\"}}";
}

struct NestingCase {
  const char* name;
  std::string body;
  std::string first_reply;  // empty: the ping is answered
};

// The envelope counts as level 1, so 127 levels pass and the 128th is refused where its
// bracket stands; a value only skipped (an unknown member) is not limited, and nothing may
// recurse once per level.
std::vector<NestingCase> nesting_cases() {
  const std::string p(kPingPrefix);
  const std::size_t deep = 1000000;
  return {
      {"arrays_127_levels", p + repeat("[", 126) + repeat("]", 126) + "}", ""},
      {"arrays_128_levels", p + repeat("[", 127) + repeat("]", 127) + "}",
       parse_error("recursion limit exceeded at line 1 column " + std::to_string(p.size() + 127))},
      {"arrays_million", p + repeat("[", deep) + repeat("]", deep) + "}",
       parse_error("recursion limit exceeded at line 1 column " + std::to_string(p.size() + 127))},
      {"objects_million", p + repeat(R"({"a":)", deep) + "1" + repeat("}", deep) + "}",
       parse_error("recursion limit exceeded at line 1 column " +
                   std::to_string(p.size() + 126 * 5 + 1))},
      // The first element must be the `jsonrpc` text: an array there is refused unread.
      {"top_level_million", repeat("[", deep) + repeat("]", deep),
       parse_error("invalid type: sequence, expected a string at line 1 column 1")},
      {"array_form_params_million", R"(["2.0",1,"ping",)" + repeat("[", deep) + repeat("]", deep),
       parse_error("recursion limit exceeded at line 1 column 143")},
      {"unknown_member_million",
       R"({"jsonrpc":"2.0","id":1,"method":"ping","x":)" + repeat("[", deep) + repeat("]", deep) +
           "}",
       ""},
      {"unknown_member_unclosed",
       R"({"jsonrpc":"2.0","id":1,"method":"ping","x":)" + repeat("[{\"k\":", deep / 5),
       parse_error("EOF while parsing a value at line 1 column " +
                   std::to_string(44 + deep / 5 * 6))},
  };
}

void PrintTo(const NestingCase& c, std::ostream* os) { *os << c.name; }

class NestingTest : public testing::TestWithParam<NestingCase> {};

TEST_P(NestingTest, RefusesOrAnswersWithoutOverflow) {
  const NestingCase& c = GetParam();
  const RunResult r = run_limited(frame(c.body) + frame(kPing2));
  EXPECT_EQ(r.status, 0) << r.err;
  const auto bodies = r.bodies();
  if (c.first_reply.empty()) {
    // A decoded ping before initialize is answered and ends the run.
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_THAT(bodies[0], StartsWith(R"({"jsonrpc":"2.0","id":1,"result":{"pong":true)"));
  } else {
    // A body that does not decode is answered without an id and the loop goes on.
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], c.first_reply);
    EXPECT_THAT(bodies[1], StartsWith(R"({"jsonrpc":"2.0","id":2,"result":{"pong":true)"));
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, NestingTest, testing::ValuesIn(nesting_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HostileBody, HundredMegabyteBodiesAreReadWhole) {
  const std::size_t size = 100u << 20;
  // A valid request carrying 100 MB in a member nobody reads.
  std::string big = R"({"jsonrpc":"2.0","id":1,"method":"ping","x":")";
  big.append(size - big.size() - 2, 'a');
  big += "\"}";
  // 100 MB of text that is no JSON: refused at its first byte, and the loop goes on.
  const std::string junk(size, '#');
  const RunResult r = run_limited(frame(junk) + frame(big) + frame(kPing2));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0], parse_error("expected value at line 1 column 1"));
  EXPECT_THAT(bodies[1], StartsWith(R"({"jsonrpc":"2.0","id":1,"result":{"pong":true)"));
}

struct FatalCase {
  const char* name;
  std::string input;
  std::string logged;
};

// Declared lengths far beyond the input must fail when the input ends, with memory that
// follows the bytes that arrived, never the number a client wrote.
std::vector<FatalCase> fatal_cases() {
  return {
      {"max_length_short_body",
       "Content-Length: 18446744073709551615\r\n\r\n" + std::string(kPing1),
       fatal_text("Failed to read message content", "failed to fill whole buffer")},
      {"ten_gigabytes_short_body", "Content-Length: 10000000000\r\n\r\n" + std::string(kPing1),
       fatal_text("Failed to read message content", "failed to fill whole buffer")},
      {"length_after_a_megabyte_body",
       "Content-Length: 9000000000000000000\r\n\r\n" + std::string(1u << 20, ' '),
       fatal_text("Failed to read message content", "failed to fill whole buffer")},
      {"length_overflows", "Content-Length: 18446744073709551616\r\n\r\n",
       fatal_text("Invalid Content-Length value", "number too large to fit in target type")},
      {"length_of_ten_megabytes_of_digits",
       "Content-Length: " + std::string(10u << 20, '9') + "\r\n",
       fatal_text("Invalid Content-Length value", "number too large to fit in target type")},
      {"garbage_first_line", "\xff" + random_bytes(1u << 20, 7),
       fatal_text("Failed to read header line", "stream did not contain valid UTF-8")},
      {"garbage_body",
       "Content-Length: 2002\r\n\r\n" + random_bytes(1000, 11, 0x20, 0x7e) + "\xC3\x28" +
           random_bytes(1000, 12, 0x20, 0x7e),
       fatal_text("Message content is not valid UTF-8",
                  "invalid utf-8 sequence of 1 bytes from index 1000")},
      {"body_cut_in_a_character",
       "Content-Length: 1002\r\n\r\n" + random_bytes(1000, 13, 0x20, 0x7e) + "\xE2\x82",
       fatal_text("Message content is not valid UTF-8",
                  "incomplete utf-8 byte sequence from index 1000")},
      {"ten_megabytes_of_blanks", std::string(10u << 20, ' ') + "\r\n" + frame(kPing1),
       "Server error: Missing Content-Length header"},
  };
}

void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.name; }

class FatalInputTest : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalInputTest, EndsWithTheFatalError) {
  const FatalCase& c = GetParam();
  const RunResult r = run_limited(c.input, Options().with_env("NO_COLOR", "1"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.logged(c.logged)) << r.err.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Hostile, FatalInputTest, testing::ValuesIn(fatal_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

struct HeaderCase {
  const char* name;
  std::string headers;  // sent before a framed ping
};

// Header lines have no length limit and unknown ones are ignored, however many or long.
std::vector<HeaderCase> header_cases() {
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "X-Header-" + std::to_string(i) + ": value\r\n";
  std::string lengths;
  for (int i = 0; i < 10000; ++i) lengths += "Content-Length: " + std::to_string(i) + "\r\n";
  return {
      {"ten_megabyte_line", std::string(10u << 20, 'X') + "\r\n"},
      {"ten_megabyte_line_without_carriage_return", std::string(10u << 20, ':') + "\n"},
      {"hundred_thousand_unknown_headers", many},
      {"ten_thousand_length_headers", lengths},
      {"length_with_ten_megabytes_of_zeros",
       "Content-Length: " + std::string(10u << 20, '0') + std::to_string(kPing1.size()) + "\r\n"},
  };
}

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class HeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, PingIsStillAnswered) {
  const RunResult r = run_limited(GetParam().headers + frame(kPing1));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_THAT(r.bodies(),
              ElementsAre(StartsWith(R"({"jsonrpc":"2.0","id":1,"result":{"pong":true)")));
}

INSTANTIATE_TEST_SUITE_P(Hostile, HeaderTest, testing::ValuesIn(header_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HostileBody, GarbageBodiesEachGetAParseError) {
  // Valid UTF-8 that is no JSON (control characters and NUL included), in frames of random
  // size: every one is refused without an id and none ends the run.
  std::string input;
  const int count = 300;
  for (int i = 0; i < count; ++i) {
    std::string body = random_bytes(static_cast<std::size_t>(1 + i * 37 % 4000),
                                    static_cast<uint32_t>(100 + i), 0, 0x7f);
    body[0] = '\x01';  // never a value's first byte
    input += frame(body);
  }
  input += frame(kPing1);
  const RunResult r = run_limited(input);
  EXPECT_EQ(r.status, 0);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), static_cast<std::size_t>(count) + 1);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(bodies[i], parse_error("expected value at line 1 column 1")) << i;
  }
  EXPECT_THAT(bodies.back(), HasSubstr(R"("pong":true)"));
}

}  // namespace
}  // namespace korvane::e2e
