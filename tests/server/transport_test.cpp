#include "server/transport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "../support/captured_io.h"

namespace korvane::server {
namespace {

using korvane::testing::contents;
using korvane::testing::memory_file;

std::string frame(std::string_view body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// Echoes every body back and answers as told: "stop" ends the loop, "fail" fails it.
class EchoHandler : public MessageHandler {
 public:
  Result<Flow, FatalError> on_message(std::string_view body, Transport& transport) override {
    seen.emplace_back(body);
    if (body == "fail") return Unexpected(FatalError{"handler failed", std::nullopt});
    if (auto sent = transport.send(body); !sent) return Unexpected(std::move(sent).error());
    return body == "stop" ? Flow::kStop : Flow::kContinue;
  }
  std::vector<std::string> seen;
};

struct LoopCase {
  const char* name;
  std::string input;
  std::vector<std::string> want_seen;
  std::string want_output;
  std::optional<FatalError> want_error;
};

// Who decides the end of the run: the handler (stop, failure), the input, or the framing.
const LoopCase kLoopCases[] = {
    // Nothing after a stop may be read or answered.
    {"handler_stop_ends_the_loop",
     frame("a") + frame("stop") + frame("b"),
     {"a", "stop"},
     frame("a") + frame("stop"),
     std::nullopt},
    {"end_of_input_ends_the_loop",
     frame("a") + frame("b"),
     {"a", "b"},
     frame("a") + frame("b"),
     std::nullopt},
    {"handler_failure_is_returned",
     frame("fail") + frame("b"),
     {"fail"},
     "",
     FatalError{"handler failed", std::nullopt}},
    {"framing_failure_after_a_message",
     frame("a") + "\r\n",
     {"a"},
     frame("a"),
     FatalError{"Missing Content-Length header", std::nullopt}},
};

class TransportLoopTest : public ::testing::TestWithParam<LoopCase> {};

TEST_P(TransportLoopTest, StopsWhereItShould) {
  const LoopCase& c = GetParam();
  const int in = memory_file(c.input);
  const int out = memory_file("");
  EchoHandler handler;
  Transport transport(in, out);
  auto run = transport.loop(handler);
  if (c.want_error) {
    ASSERT_FALSE(run);
    EXPECT_EQ(run.error(), *c.want_error);
  } else {
    EXPECT_TRUE(run);
  }
  EXPECT_EQ(handler.seen, c.want_seen);
  EXPECT_EQ(contents(out), c.want_output);
  ::close(in);
  ::close(out);
}

INSTANTIATE_TEST_SUITE_P(Transport, TransportLoopTest, ::testing::ValuesIn(kLoopCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ContentLength, ParsesLikeAnUnsignedInteger) {
  const struct {
    const char* value;
    const char* error;  // nullptr: parses to `want`
    uint64_t want;
  } cases[] = {
      {"0", nullptr, 0},
      {"+17", nullptr, 17},
      {"007", nullptr, 7},
      {"18446744073709551615", nullptr, UINT64_MAX},
      {"", "cannot parse integer from empty string", 0},
      {"+", "invalid digit found in string", 0},
      {"-", "invalid digit found in string", 0},
      {"-1", "invalid digit found in string", 0},
      {"++1", "invalid digit found in string", 0},
      {"1 2", "invalid digit found in string", 0},
      {"0x10", "invalid digit found in string", 0},
      {"18446744073709551616", "number too large to fit in target type", 0},
      {"99999999999999999999x", "number too large to fit in target type", 0},
  };
  for (const auto& c : cases) {
    auto r = parse_content_length(c.value);
    if (c.error != nullptr) {
      ASSERT_FALSE(r) << c.value;
      EXPECT_EQ(r.error(), c.error) << c.value;
    } else {
      ASSERT_TRUE(r) << c.value;
      EXPECT_EQ(*r, c.want);
    }
  }
}

}  // namespace
}  // namespace korvane::server
