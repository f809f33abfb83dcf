// Framing of standard input and output, the end rules and fatal errors, through the binary.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;

const std::string kPing = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
const std::string kInit = initialize_request(1);

struct FramingCase {
  const char* name;
  std::string input;
  std::size_t replies;
  int status;
  std::string log;  // must appear on standard error
};

std::string with_headers(std::string_view headers, std::string_view body) {
  return std::string(headers) + std::string(body);
}

std::string fatal(std::string_view message, std::string_view cause = "") {
  std::string text = "Server error: " + std::string(message);
  if (!cause.empty()) text += "\n\nCaused by:\n    " + std::string(cause);
  return text + "\n";
}

// Each row is a way a client may frame (or break) its messages.
const FramingCase kFramingCases[] = {
    {"crlf", with_headers("Content-Length: 40\r\n\r\n", kPing), 1, 0, "Shutdown complete, exiting"},
    {"lf_only", with_headers("Content-Length: 40\n\n", kPing), 1, 0, "Shutdown complete, exiting"},
    {"separator_of_spaces", with_headers("Content-Length: 40\r\n   \r\n", kPing), 1, 0, ""},
    {"separator_of_cr", with_headers("Content-Length: 40\n\r\n", kPing), 1, 0, ""},
    {"no_space_after_colon", with_headers("Content-Length:40\r\n\r\n", kPing), 1, 0, ""},
    {"leading_white_space", with_headers(" \tContent-Length: 40\r\n\r\n", kPing), 1, 0, ""},
    {"plus_sign", with_headers("Content-Length: +40\r\n\r\n", kPing), 1, 0, ""},
    {"unicode_white_space",
     with_headers("\xC2\xA0"
                  "Content-Length:\xE2\x80\xA8"
                  "40\xC2\x85\r\n\xE2\x80\x83\r\n",
                  kPing),
     1, 0, ""},
    {"last_length_counts", with_headers("Content-Length: 5\r\nContent-Length: 40\r\n\r\n", kPing),
     1, 0, ""},
    {"other_lines_ignored",
     with_headers("X: y\r\nnot a header\r\nContent-Type: application/json\r\nContent-Length: "
                  "40\r\nwhatever\r\n\r\n",
                  kPing),
     1, 0, ""},
    {"lower_case_header", with_headers("content-length: 40\r\n\r\n", kPing), 0, 1,
     fatal("Missing Content-Length header")},
    {"space_before_colon", with_headers("Content-Length : 40\r\n\r\n", kPing), 0, 1,
     fatal("Missing Content-Length header")},
    {"empty_line_first", "\r\n", 0, 1, fatal("Missing Content-Length header")},
    {"minus_sign", "Content-Length: -40\r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "invalid digit found in string")},
    {"unit_after_number", "Content-Length: 40 bytes\r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "invalid digit found in string")},
    {"hexadecimal", "Content-Length: 0x28\r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "invalid digit found in string")},
    {"plus_alone", "Content-Length: +\r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "invalid digit found in string")},
    {"empty_value", "Content-Length:   \r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "cannot parse integer from empty string")},
    {"too_large", "Content-Length: 18446744073709551616\r\n\r\n", 0, 1,
     fatal("Invalid Content-Length value", "number too large to fit in target type")},
    // A client that ends every body with a line break: the next headers end before any length.
    {"line_break_after_body", frame(kInit) + "\r\n", 1, 1, fatal("Missing Content-Length header")},
    {"end_after_message", frame(kInit), 1, 0, "End of input stream, shutting down\n"},
    {"end_inside_headers", frame(kInit) + "Content-Length: 40\r\nX: y\r\n", 1, 0,
     "End of input stream, shutting down\n"},
    {"end_inside_body", "Content-Length: 40\r\n\r\n{\"js", 0, 1,
     fatal("Failed to read message content", "failed to fill whole buffer")},
    // A lying length is not allocated up front: the read fails when the input ends.
    {"huge_length", "Content-Length: 18446744073709551615\r\n\r\n{}", 0, 1,
     fatal("Failed to read message content", "failed to fill whole buffer")},
    {"huge_length_then_some", "Content-Length: 4000000000\r\n\r\n" + std::string(100000, ' '), 0, 1,
     fatal("Failed to read message content", "failed to fill whole buffer")},
    {"zero_length", "Content-Length: 0\r\n\r\n" + frame(kPing), 2, 0, ""},
    {"invalid_utf8_body",
     "Content-Length: 3\r\n\r\na\xff"
     "b",
     0, 1,
     fatal("Message content is not valid UTF-8", "invalid utf-8 sequence of 1 bytes from index 1")},
    {"cut_utf8_body", "Content-Length: 2\r\n\r\na\xC3", 0, 1,
     fatal("Message content is not valid UTF-8", "incomplete utf-8 byte sequence from index 1")},
    {"invalid_utf8_header", "X-\xff\r\n", 0, 1,
     fatal("Failed to read header line", "stream did not contain valid UTF-8")},
    {"three_messages_in_one_write",
     frame(kInit) + frame(kPing) + frame(R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})") +
         frame(kPing),
     3, 0, "Shutdown complete, exiting"},
    {"parse_error_does_not_end_the_run", frame("x") + frame(kPing), 2, 0,
     "Shutdown complete, exiting"},
    {"notification_first_ends_the_run",
     frame(R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":1}})") + frame(kPing), 0,
     0, "Shutdown complete, exiting"},
};

class FramingTest : public testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, FramesAndEnds) {
  const auto& c = GetParam();
  RunResult r = run(c.input, Options().with_env("NO_COLOR", "1"));
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.bodies().size(), c.replies) << r.out;
  EXPECT_THAT(r.err, HasSubstr(c.log));
  if (c.status == 0) {
    EXPECT_THAT(r.err, HasSubstr("INFO korvane_indexer: Server shutdown complete\n"));
  } else {
    EXPECT_THAT(r.err, testing::Not(HasSubstr("Server shutdown complete")));
  }
}

INSTANTIATE_TEST_SUITE_P(Framing, FramingTest, testing::ValuesIn(kFramingCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Framing, LengthsCountBytes) {
  // One two-byte character: the body is one byte longer than its character count, and the
  // reply that echoes it is framed with its byte count too.
  const std::string body = "{\"jsonrpc\":\"2.0\",\"id\":\"\xC3\xA9\",\"method\":\"p\xC3\xA9\"}";
  RunResult r = run(frame(body));
  ASSERT_EQ(r.bodies().size(), 1u) << r.out;
  EXPECT_EQ(r.bodies()[0],
            "{\"jsonrpc\":\"2.0\",\"id\":\"\xC3\xA9\",\"error\":{\"code\":-32601,"
            "\"message\":\"Method not found: p\xC3\xA9\"}}");
  EXPECT_THAT(r.out, testing::StartsWith("Content-Length: " + std::to_string(r.bodies()[0].size()) +
                                         "\r\n\r\n"));
}

TEST(Framing, LargeBodyArrivesWhole) {
  const std::string big(3 << 20, 'a');
  const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"ping","pad":")" + big + "\"}";
  RunResult r = run(frame(body));
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.bodies().size(), 1u);
  EXPECT_THAT(r.bodies()[0], HasSubstr(R"("pong":true)"));
}

TEST(Framing, RepliesAreExact) {
  RunResult r = run(frame("") + frame(R"({"jsonrpc":"2.0","id":"q\"t","method":"shutdown"})"));
  EXPECT_EQ(r.status, 0);
  // Exactly the two framed bodies: no other header, nothing between or after them.
  EXPECT_EQ(r.out,
            frame(R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: )"
                  R"(EOF while parsing a value at line 1 column 0"}})") +
                frame(R"({"jsonrpc":"2.0","id":"q\"t","result":null})"));
  EXPECT_THAT(r.out, testing::StartsWith("Content-Length: 123\r\n\r\n"));
}

TEST(Framing, DebugLinesShowTheTraffic) {
  RunResult r = run(
      frame(kPing),
      Options().with_env("RUST_LOG", "korvane_indexer::server=debug").with_env("NO_COLOR", "1"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG korvane_indexer::server: Received message: " + kPing + "\n"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG korvane_indexer::server: Sending response: "
                               R"({"jsonrpc":"2.0","id":1,"result":{"pong":true,"uptimeMs":)"));
}

}  // namespace
}  // namespace korvane::e2e
