// A request whose params its method never reads costs the server no more than its text, even
// when built into a tree they would take many times the address-space ceiling's share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::StartsWith;

TEST(UnreadParams, PingWithHugeParamsIsAnsweredUnderTheCeiling) {
  // 128 MiB of zeros: as a tree, some 40 bytes of value for every 2 bytes of text.
  std::string body = R"({"jsonrpc":"2.0","id":2,"method":"ping","params":[)";
  const std::size_t size = std::size_t{128} << 20;
  body.reserve(size + 8);
  while (body.size() < size) body += "0,";
  body += "0]}";
  // Debug builds check the text many times slower than release builds do.
  Options options;
  options.timeout = std::chrono::minutes(4);
  const RunResult r = run_limited(
      frame(initialize_request(1)) + frame(body) + frame(request("3", "ping", "[[1e400]]")),
      options);
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 3u) << r.err.substr(0, 2000);
  EXPECT_THAT(bodies[1], StartsWith(R"({"jsonrpc":"2.0","id":2,"result":{"pong":true)"));
  // Unread params are still checked whole.
  EXPECT_EQ(bodies[2], R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse )"
                       R"(request: number out of range at line 1 column 56"}})");
}

}  // namespace
}  // namespace korvane::e2e
