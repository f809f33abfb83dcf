// Dispatch, cancellation and the lifecycle methods as a client sees them, log lines included.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace korvane::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;

Options plain() { return Options().with_env("NO_COLOR", "1"); }

TEST(Dispatch, InitializePingShutdown) {
  RunResult r = run(frame(initialize_request(1)) + frame(request("2", "ping")) +
                        frame(request("3", "shutdown")) + frame(request("4", "ping")),
                    plain());
  EXPECT_EQ(r.status, 0);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 3u) << r.out;
  EXPECT_THAT(bodies[0], HasSubstr(R"("id":1,"result":{"capabilities":)"));
  EXPECT_THAT(bodies[1], HasSubstr(R"("id":2,"result":{"pong":true,"uptimeMs":)"));
  EXPECT_EQ(bodies[2], R"({"jsonrpc":"2.0","id":3,"result":null})");
  EXPECT_THAT(r.err, HasSubstr(" INFO korvane_indexer::server: Initializing server with protocol "
                               "version: 1.0.0\n"));
  EXPECT_THAT(r.err, HasSubstr(" INFO korvane_indexer::server: Shutdown requested\n"));
  EXPECT_THAT(r.err, HasSubstr(" INFO korvane_indexer::server: Shutdown complete, exiting\n"));
}

TEST(Dispatch, CancellationActsOnALaterRequest) {
  RunResult r = run(frame(initialize_request(1)) +
                        frame(R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":5}})") +
                        frame(request(R"("5")", "ping")) + frame(request("5", "ping")),
                    plain());
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 3u) << r.out;
  EXPECT_EQ(
      bodies[1],
      R"({"jsonrpc":"2.0","id":"5","error":{"code":-32800,"message":"Request was cancelled"}})");
  EXPECT_THAT(bodies[2], HasSubstr(R"("id":5,"result":{"pong":true)"));
  EXPECT_THAT(r.err, HasSubstr(" INFO korvane_indexer::server: Cancellation requested for: 5\n"));
}

TEST(Dispatch, MalformedCancellationLeavesNoTrace) {
  RunResult r =
      run(frame(initialize_request(1)) +
              frame(R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":1.5}})") +
              frame(R"({"jsonrpc":"2.0","method":"$/cancelRequest"})"),
          Options().with_env("NO_COLOR", "1").with_env("RUST_LOG", "trace"));
  EXPECT_EQ(r.bodies().size(), 1u);
  EXPECT_THAT(r.err, Not(HasSubstr("Cancellation requested")));
  EXPECT_THAT(r.err, Not(HasSubstr("WARN")));
}

TEST(Dispatch, NotificationsAreNeverAnswered) {
  RunResult r = run(frame(R"({"jsonrpc":"2.0","id":null,"method":"ping"})"), plain());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err,
              HasSubstr(" WARN korvane_indexer::server: Unknown notification method: ping\n"));
  EXPECT_THAT(r.err, HasSubstr("Shutdown complete, exiting"));
}

TEST(Dispatch, ParseErrorIsLoggedAndAnsweredWithoutId) {
  RunResult r =
      run(frame(R"({"jsonrpc":"2.0","id":3,"method":7})") + frame(request("1", "ping")), plain());
  ASSERT_EQ(r.bodies().size(), 2u);
  EXPECT_EQ(r.bodies()[0],
            R"({"jsonrpc":"2.0","error":{"code":-32700,"message":"Failed to parse request: )"
            R"(invalid type: integer `7`, expected a string at line 1 column 34"}})");
  EXPECT_THAT(r.err,
              HasSubstr("ERROR korvane_indexer::server: Failed to parse JSON-RPC request: "
                        "invalid type: integer `7`, expected a string at line 1 column 34\n"));
}

TEST(Dispatch, RefusalsBeforeInitializeEndTheRun) {
  for (const char* method : {"indexFiles", "scanPackages"}) {
    RunResult r = run(frame(request("1", method, "{}")) + frame(request("2", "ping")), plain());
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.bodies(),
                ElementsAre(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32600,"message":"Server )"
                            R"(not initialized"}})"));
  }
}

TEST(Dispatch, InvalidInitializeEndsTheRun) {
  RunResult r = run(frame(request("1", "initialize")) + frame(request("2", "ping")), plain());
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.bodies(),
              ElementsAre(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32602,"message":"Invalid )"
                          R"(initialize params: invalid type: null, expected struct )"
                          R"(InitializeParams"}})"));
  EXPECT_THAT(r.err, Not(HasSubstr("Initializing server")));
}

TEST(Dispatch, InteractiveRepliesComeOneAtATime) {
  Process p(plain());
  p.write(frame(initialize_request(1)));
  auto first = p.read_reply();
  ASSERT_TRUE(first);
  EXPECT_THAT(*first, HasSubstr(R"("protocolVersion":"1.0.0")"));
  p.write(frame(request("2", "ping")));
  auto second = p.read_reply();
  ASSERT_TRUE(second);
  EXPECT_THAT(*second, HasSubstr(R"("pong":true)"));
  RunResult r = p.finish();
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("End of input stream, shutting down"));
}

}  // namespace
}  // namespace korvane::e2e
