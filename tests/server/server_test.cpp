#include "server/server.h"

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::server {
namespace {

using testing::HasSubstr;

// The written reply to one body, or "" when there is none.
std::string reply(Server& server, std::string_view body) {
  auto response = server.handle_message(body);
  return response ? protocol::write_response(*response) : std::string();
}

std::string req(std::string_view id, std::string_view method, std::string_view params = "") {
  std::string out =
      R"({"jsonrpc":"2.0","id":)" + std::string(id) + R"(,"method":")" + std::string(method) + "\"";
  if (!params.empty()) out += R"(,"params":)" + std::string(params);
  return out + "}";
}

std::string note(std::string_view method, std::string_view params = "") {
  std::string out = R"({"jsonrpc":"2.0","method":")" + std::string(method) + "\"";
  if (!params.empty()) out += R"(,"params":)" + std::string(params);
  return out + "}";
}

std::string error(std::string_view id, int code, std::string_view message) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(id) + R"(,"error":{"code":)" +
         std::to_string(code) + R"(,"message":")" + std::string(message) + "\"}}";
}

const std::string kInit = req("1", "initialize", R"({"protocolVersion":"1.0.0"})");
constexpr std::string_view kInitResult =
    R"({"capabilities":{"maxBatchSize":1000,"supportsBatchIndexing":true,)"
    R"("supportsCancellation":true},"protocolVersion":"1.0.0",)"
    R"("serverInfo":{"name":"korvane-indexer","version":"0.1.0"}})";

struct Step {
  std::string body;
  std::string want;  // the exact reply; "" for none
};

struct DispatchCase {
  const char* name;
  std::vector<Step> steps;
  bool initialized_after;
  uint64_t count_after;
};

// Message sequences a client may send, and the exact replies in order.
const DispatchCase kDispatchCases[] = {
    {"empty_body_is_not_counted",
     {{"",
       R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: EOF while )"
       R"(parsing a value at line 1 column 0"}})"}},
     false,
     0},
    {"parse_error_drops_the_id",
     {{R"({"jsonrpc":"2.0","id":9})",
       R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: missing )"
       R"(field `method` at line 1 column 24"}})"}},
     false,
     0},
    {"null_id_is_a_notification", {{req("null", "ping"), ""}}, false, 1},
    {"initialize_without_id_does_nothing",
     {{note("initialize", R"({"protocolVersion":"1.0.0"})"), ""}},
     false,
     1},
    {"cancel_then_text_id",
     {{kInit, R"({"jsonrpc":"2.0","id":1,"result":)" + std::string(kInitResult) + "}"},
      {note("$/cancelRequest", R"({"id":5})"), ""},
      {req(R"("5")", "ping"), error(R"("5")", -32800, "Request was cancelled")},
      {req("5", "shutdown"), R"({"jsonrpc":"2.0","id":5,"result":null})"}},
     false,
     4},
    {"cancel_text_then_number",
     {{kInit, R"({"jsonrpc":"2.0","id":1,"result":)" + std::string(kInitResult) + "}"},
      {note("$/cancelRequest", R"({"id":"-7"})"), ""},
      {req("-7", "nope"), error("-7", -32800, "Request was cancelled")}},
     true,
     3},
    {"cancel_wins_over_not_initialized",
     {{note("$/cancelRequest", R"(["a"])"), ""},
      {req(R"("a")", "indexFiles", "{}"), error(R"("a")", -32800, "Request was cancelled")}},
     false,
     2},
    {"malformed_cancels_change_nothing",
     {{kInit, R"({"jsonrpc":"2.0","id":1,"result":)" + std::string(kInitResult) + "}"},
      {note("$/cancelRequest", R"({"id":1.5})"), ""},
      {note("$/cancelRequest", R"({"id":null})"), ""},
      {note("$/cancelRequest"), ""},
      {req("2", "Ping"), error("2", -32601, "Method not found: Ping")},
      {req("null", "x"), ""}},
     true,
     6},
    {"cancel_with_id_is_a_request",
     {{req("3", "$/cancelRequest", R"({"id":4})"),
       error("3", -32601, "Method not found: $/cancelRequest")}},
     false,
     1},
    {"method_names_are_case_sensitive",
     {{req("1", "INITIALIZE", "{}"), error("1", -32601, "Method not found: INITIALIZE")}},
     false,
     1},
    {"initialize_without_params",
     {{req("1", "initialize"),
       error("1", -32602,
             "Invalid initialize params: invalid type: null, expected struct InitializeParams")}},
     false,
     1},
    {"index_files_before_initialize",
     {{req("1", "indexFiles", R"({"files":[]})"), error("1", -32600, "Server not initialized")}},
     false,
     1},
    {"scan_packages_before_initialize",
     {{req("1", "scanPackages", "5"), error("1", -32600, "Server not initialized")}},
     false,
     1},
    {"shutdown_without_initialize",
     {{req(R"("s")", "shutdown", "[1]"), R"({"jsonrpc":"2.0","id":"s","result":null})"}},
     false,
     1},
    {"failed_initialize_keeps_state",
     {{kInit, R"({"jsonrpc":"2.0","id":1,"result":)" + std::string(kInitResult) + "}"},
      {req("2", "initialize", R"({"featureFlags":{}})"),
       error("2", -32602, "Invalid initialize params: missing field `protocolVersion`")}},
     true,
     2},
};

class DispatchTest : public testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, RepliesInOrder) {
  Server server;
  for (const Step& step : GetParam().steps) {
    EXPECT_EQ(reply(server, step.body), step.want) << step.body;
  }
  EXPECT_EQ(server.initialized(), GetParam().initialized_after);
  EXPECT_EQ(server.message_count(), GetParam().count_after);
}

INSTANTIATE_TEST_SUITE_P(Server, DispatchTest, testing::ValuesIn(kDispatchCases),
                         [](const auto& p) { return std::string(p.param.name); });

protocol::FeatureFlags flags_of(Server& server) { return server.feature_flags(); }

TEST(Initialize, LatestSuccessfulFlagsAreInForce) {
  Server server;
  EXPECT_EQ(flags_of(server), (protocol::FeatureFlags{false, false, false}));
  reply(server, req("1", "initialize", R"({"protocolVersion":"1","featureFlags":{}})"));
  EXPECT_EQ(flags_of(server), (protocol::FeatureFlags{false, true, true}));
  reply(server, req("2", "initialize",
                    R"({"protocolVersion":"1","featureFlags":{"crossFileResolution":false}})"));
  EXPECT_EQ(flags_of(server), (protocol::FeatureFlags{false, true, false}));
  // A failed initialize changes nothing.
  reply(server, req("3", "initialize", R"({"protocolVersion":"1","featureFlags":null})"));
  EXPECT_EQ(flags_of(server), (protocol::FeatureFlags{false, true, false}));
  reply(server, req("4", "initialize", R"({"protocolVersion":"1"})"));
  EXPECT_EQ(flags_of(server), (protocol::FeatureFlags{false, false, false}));
  EXPECT_TRUE(server.initialized());
}

TEST(Ping, UptimeNeverDecreases) {
  Server server;
  uint64_t last = 0;
  for (int i = 0; i < 5; ++i) {
    const std::string text = reply(server, req(std::to_string(i), "ping", "[1,2]"));
    const std::string prefix = R"(,"result":{"pong":true,"uptimeMs":)";
    const std::size_t at = text.find(prefix);
    ASSERT_NE(at, std::string::npos) << text;
    const uint64_t uptime = std::stoull(text.substr(at + prefix.size()));
    EXPECT_GE(uptime, last);
    last = uptime;
  }
}

TEST(Cancel, IdStaysUntilItArrives) {
  Server server;
  reply(server, note("$/cancelRequest", R"({"id":10})"));
  reply(server, note("$/cancelRequest", R"({"id":10})"));
  EXPECT_EQ(server.pending_cancellations(), 1u);
  EXPECT_EQ(reply(server, req("10", "ping")), error("10", -32800, "Request was cancelled"));
  EXPECT_THAT(reply(server, req("10", "ping")), HasSubstr(R"("pong":true)"));
}

// Trimming after every message made a long session's pings several times dearer.
TEST(Memory, PingsAndNotificationsNeverTrim) {
  const int null_out = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(null_out, 0);
  Transport transport(-1, null_out);
  Server server;
  ASSERT_TRUE(server.on_message(kInit, transport));
  const std::size_t after_init = server.memory_trims();
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(server.on_message(req(std::to_string(i + 2), "ping"), transport));
    ASSERT_TRUE(server.on_message(note("$/cancelRequest", R"({"id":"x"})"), transport));
  }
  EXPECT_EQ(server.memory_trims(), after_init);
  ::close(null_out);
}

// A body skipped for lack of memory is a request to the trim policy, whatever came before it.
TEST(Memory, ASkippedBodyIsARequestEvenAfterAPing) {
  const int null_out = ::open("/dev/null", O_WRONLY);
  ASSERT_GE(null_out, 0);
  Transport transport(-1, null_out);
  Server server(TrimPolicy::Limits{.traffic = 0});  // every request trims
  ASSERT_TRUE(server.on_message(kInit, transport));
  const std::size_t after_init = server.memory_trims();
  ASSERT_TRUE(server.on_message(req("2", "ping"), transport));
  ASSERT_TRUE(server.on_body_out_of_memory(transport));
  EXPECT_EQ(server.memory_trims(), after_init + 1);
  ::close(null_out);
}

TEST(Milliseconds, RoundDown) {
  using std::chrono::nanoseconds;
  EXPECT_EQ(whole_milliseconds(nanoseconds(1'999'999)), 1u);
  EXPECT_EQ(whole_milliseconds(nanoseconds(2'000'000'000)), 2000u);
}

}  // namespace
}  // namespace korvane::server
