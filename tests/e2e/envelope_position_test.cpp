// Where the binary places an envelope error found after a value was read: where reading stopped,
// which is past the record's closing bracket (and the white space before it) when the error is
// only known at the end of the record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace korvane::e2e {
namespace {

struct PositionCase {
  const char* body;
  const char* message;  // after "Failed to parse request: "
};

// Each row was once reported one column short, before the closing bracket.
const PositionCase kCases[] = {
    {"{}", "missing field `jsonrpc` at line 1 column 2"},
    {R"({"id":1,"method":"ping"})", "missing field `jsonrpc` at line 1 column 24"},
    {R"({"jsonrpc":"2.0","id":1})", "missing field `method` at line 1 column 24"},
    {"[]", "invalid length 0, expected struct JsonRpcRequest with 4 elements at line 1 column 2"},
    {R"(["2.0"])",
     "invalid length 1, expected struct JsonRpcRequest with 4 elements at line 1 column 7"},
    {R"(["2.0",1])",
     "invalid length 2, expected struct JsonRpcRequest with 4 elements at line 1 column 9"},
    {"{ }", "missing field `jsonrpc` at line 1 column 3"},
    {R"({"jsonrpc":"2.0","method":"m","id":1,"id"})", "duplicate field `id` at line 1 column 42"},
    {R"({"jsonrpc":"2.0","method":"m","id":1.5 })",
     "data did not match any variant of untagged enum RequestId at line 1 column 40"},
};

TEST(EnvelopePosition, ErrorsAfterAValueArePlacedWhereReadingStopped) {
  std::string input;
  for (const PositionCase& c : kCases) input += frame(c.body);
  const RunResult r = run(input);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> bodies = r.bodies();
  ASSERT_EQ(bodies.size(), std::size(kCases));
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(bodies[i],
              R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: )" +
                  std::string(kCases[i].message) + "\"}}")
        << kCases[i].body;
  }
}

}  // namespace
}  // namespace korvane::e2e
