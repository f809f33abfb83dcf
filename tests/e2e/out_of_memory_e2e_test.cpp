// The running server under an address-space limit that one file of a batch, or one request,
// exceeds: that file, or that request, is answered as out of memory, everything else as usual,
// and the server goes on. The limit is set on the server once it runs, sized from its own use
// then, so neither the machine nor the build changes what fits. Sanitizer builds reserve
// terabytes of shadow memory up front and skip.
#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;

// Room left above the server's use when the limit is set: ample for small files and replies,
// a fraction of what the big file's tree needs.
constexpr uint64_t kMargin = uint64_t{128} << 20;

uint64_t vm_size(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmSize:", 0) == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) << 10;
  }
  return 0;
}

void limit_address_space(pid_t pid, uint64_t bytes) {
  rlimit limit{};
  ASSERT_EQ(::prlimit(pid, RLIMIT_AS, nullptr, &limit), 0);
  limit.rlim_cur = bytes;
  ASSERT_EQ(::prlimit(pid, RLIMIT_AS, &limit, nullptr), 0);
}

std::string index_request(std::string_view id, const std::vector<std::string>& paths) {
  std::string files;
  for (const auto& path : paths) {
    if (!files.empty()) files += ',';
    files += R"({"path":")" + path + R"(","isStub":true})";
  }
  return request(id, "indexFiles", R"({"files":[)" + files + "]}");
}

struct Mode {
  const char* name;
  bool parallel;
  bool cross_file;
};

class OutOfMemoryE2E : public testing::TestWithParam<Mode> {};

TEST_P(OutOfMemoryE2E, FailsOnlyWhatDidNotFit) {
  if (kSanitized) GTEST_SKIP() << "sanitizer runtimes reserve address space beyond any limit";
  TempDir dir;
  const std::string small = dir.write("small.pyi", "class C: ...\n");
  // 16 MiB in one statement: a file is indexed statement by statement, and the tree of this one
  // needs several times the margin.
  const std::string big =
      dir.write("big.pyi", "x = [\n" + repeat("0,\n", (std::size_t{16} << 20) / 3) + "]\n");
  // Two threads whatever the machine: the pool's stacks are part of the use measured below.
  Process p(Options().with_env("RAYON_NUM_THREADS", "2"));
  p.write(frame(initialize_request(
      1, std::string(R"(,"featureFlags":{"parallel":)") + (GetParam().parallel ? "true" : "false") +
             R"(,"crossFileResolution":)" + (GetParam().cross_file ? "true" : "false") + "}")));
  ASSERT_TRUE(p.read_reply());
  // Every thread and table the server keeps is made before its use is measured.
  p.write(frame(index_request("2", {small, small, small, small})));
  ASSERT_TRUE(p.read_reply());
  limit_address_space(p.pid(), vm_size(p.pid()) + kMargin);

  p.write(frame(index_request("3", {small, big, small})));
  const auto reply = p.read_reply();
  ASSERT_TRUE(reply) << p.stderr_so_far();
  const std::string indexed = R"({"path":")" + small +
                              R"(","privateOrProtected":false,"symbols":[{"kind":5,"name":"C",)"
                              R"("visibilityFlags":1}]})";
  EXPECT_THAT(*reply, testing::StartsWith(R"({"jsonrpc":"2.0","id":3,"result":{)"));
  EXPECT_THAT(*reply, testing::EndsWith(
                          R"("results":[)" + indexed +
                          R"(,{"error":"Out of memory while indexing file","path":")" + big +
                          R"(","privateOrProtected":false,"symbols":[]},)" + indexed + "]}}"));

  // A request whose body alone is larger than what is left.
  p.write(frame(R"({"jsonrpc":")" + std::string(kMargin, 'a') + R"(","id":4,"method":"ping"})"));
  EXPECT_EQ(
      p.read_reply(),
      R"({"jsonrpc":"2.0","error":{"code":-32603,"message":"Internal error: out of memory"}})");
  p.write(frame(request("5", "ping")));
  const auto pong = p.read_reply();
  ASSERT_TRUE(pong);
  EXPECT_THAT(*pong, HasSubstr(R"("id":5,"result":{)"));
  const RunResult end = p.finish();
  EXPECT_EQ(end.status, 0) << end.err;
}

const Mode kModes[] = {
    {"plain_sequential", false, false},
    {"plain_parallel", true, false},
    {"cross_file_sequential", false, true},
    {"cross_file_parallel", true, true},
};

INSTANTIATE_TEST_SUITE_P(E2E, OutOfMemoryE2E, testing::ValuesIn(kModes),
                         [](const auto& p) { return std::string(p.param.name); });

// At DEBUG each message is logged whole. Under limits around what the body and its line take, the
// message is answered as at INFO: its result, or the internal error when the body itself did not
// fit; a line that does not fit is dropped.
TEST(OutOfMemoryE2E, ALargeMessageLoggedAtDebug) {
  if (kSanitized) GTEST_SKIP() << "sanitizer runtimes reserve address space beyond any limit";
  constexpr std::size_t kBody = std::size_t{32} << 20;
  const std::string ping = R"({"jsonrpc":"2.0","id":2,"method":"ping","params":{"s":")" +
                           std::string(kBody, 'a') + R"("}})";
  for (const uint64_t margin_mib : {80, 96, 112}) {
    SCOPED_TRACE(margin_mib);
    Process p(Options().with_env("RUST_LOG", "debug").with_env("NO_COLOR", "1"));
    p.write(frame(initialize_request(1)));
    ASSERT_TRUE(p.read_reply());
    limit_address_space(p.pid(), vm_size(p.pid()) + (margin_mib << 20));
    p.write(frame(ping));
    const auto reply = p.read_reply();
    ASSERT_TRUE(reply) << p.stderr_so_far().substr(0, 4096);
    EXPECT_THAT(*reply,
                testing::AnyOf(HasSubstr(R"("id":2,"result":{)"), HasSubstr(R"("code":-32603,)")));
    p.write(frame(request("3", "ping")));
    const auto pong = p.read_reply();
    ASSERT_TRUE(pong);
    EXPECT_THAT(*pong, HasSubstr(R"("id":3,"result":{)"));
    EXPECT_EQ(p.finish().status, 0);
  }
}

}  // namespace
}  // namespace korvane::e2e
