// An absurd RAYON_NUM_THREADS once made the server build a pool of millions of threads' slots and
// die of it; the pool is bounded, and a parallel batch is answered as with any other count. A
// worker the system refuses to start once ended the process too: the batch now runs on those
// that started.
#include <sys/resource.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;

TEST(WorkerPoolBound, AbsurdThreadCountsStillAnswer) {
  TempDir dir;
  const std::string a = dir.write("a.pyi", "A = 1\n");
  const std::string b = dir.write("b.pyi", "B = 1\n");
  const std::string input =
      frame(initialize_request(1, R"(,"featureFlags":{"crossFileResolution":false})")) +
      frame(request("2", "indexFiles",
                    R"({"files":[{"isStub":true,"path":")" + a + R"("},{"isStub":true,"path":")" +
                        b + R"("}]})"));
  for (const char* threads : {"10000000", "999999999"}) {
    const RunResult r = run_limited(input, Options().with_env("RAYON_NUM_THREADS", threads));
    EXPECT_EQ(r.status, 0) << threads << "\n" << r.err;
    const auto bodies = r.bodies();
    ASSERT_EQ(bodies.size(), 2u) << threads;
    EXPECT_THAT(bodies[1], HasSubstr(R"("name":"A")")) << threads;
    EXPECT_THAT(bodies[1], HasSubstr(R"("name":"B")")) << threads;
  }
}

uint64_t address_space_in_use(pid_t pid) {
  uint64_t pages = 0;
  std::ifstream("/proc/" + std::to_string(pid) + "/statm") >> pages;
  return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t count_of(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A parallel session of `threads` workers: initialized, then limited to the address space it
// maps plus `margin`, then sent `after_limit`.
RunResult run_under_limit(const char* threads, const char* cross_file, uint64_t margin,
                          const std::string& after_limit) {
  Process p(Options().with_env("RAYON_NUM_THREADS", threads));
  p.write(frame(initialize_request(
      1, std::string(R"(,"featureFlags":{"parallel":true,"crossFileResolution":)") + cross_file +
             "}")));
  if (!p.read_reply()) ADD_FAILURE() << "initialize: " << p.stderr_so_far();
  rlimit limit{};
  EXPECT_EQ(::prlimit(p.pid(), RLIMIT_AS, nullptr, &limit), 0);
  limit.rlim_cur = address_space_in_use(p.pid()) + margin;
  EXPECT_EQ(::prlimit(p.pid(), RLIMIT_AS, &limit, nullptr), 0);
  p.write(after_limit);
  return p.finish();
}

// Room for a batch of small stubs but not for a thousand workers' stacks, on top of what the
// idle server already maps: the same shortage on every machine, whatever its cores or load.
TEST(WorkerPoolBound, WorkersThatCannotStartLeaveTheBatchToTheOthers) {
  if (kSanitized) GTEST_SKIP() << "sanitizer runtimes reserve terabytes of address space";
  constexpr int kFiles = 200;
  TempDir dir;
  std::string files;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path =
        dir.write("m" + std::to_string(i) + ".pyi", "X" + std::to_string(i) + " = 1\n");
    files += std::string(i == 0 ? "" : ",") + R"({"isStub":true,"path":")" + path + R"("})";
  }
  for (const char* cross_file : {"false", "true"}) {
    const RunResult r =
        run_under_limit("1024", cross_file, uint64_t{64} << 20,
                        frame(request("2", "indexFiles", R"({"files":[)" + files + "]}")));
    EXPECT_EQ(r.status, 0) << cross_file << "\n" << r.err.substr(0, 2000);
    const auto bodies = r.bodies();
    ASSERT_EQ(bodies.size(), 1u) << cross_file;
    for (int i = 0; i < kFiles; ++i) {
      EXPECT_THAT(bodies[0], HasSubstr(R"("name":"X)" + std::to_string(i) + '"')) << cross_file;
    }
    // One line for the batch, not one per file.
    EXPECT_EQ(count_of(r.err, "worker threads; indexing with"), 1u) << cross_file << "\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr(" of 1024 worker threads")) << cross_file;
  }
}

// On a machine of many cores under an address-space limit, the workers' malloc arenas (64 MiB of
// address space each) once took all the room, and a worker that could then not register a
// thread-local's destructor ended the process. 64 workers need 4 GiB of arenas, whatever the
// machine's cores.
TEST(WorkerPoolBound, ManyWorkersUnderALimitIndexEveryFile) {
  if (kSanitized) GTEST_SKIP() << "sanitizer runtimes reserve terabytes of address space";
  constexpr int kFiles = 300;
  TempDir dir;
  std::string body;
  for (int i = 0; i < 200; ++i) {
    body += "class C" + std::to_string(i) + ":\n    def m(self, a, b=[1, 2], *c):\n" +
            "        return {a: (b, c)}\n";
  }
  std::string files;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path =
        dir.write("m" + std::to_string(i) + ".py", "X" + std::to_string(i) + " = 1\n" + body);
    files +=
        std::string(i == 0 ? "" : ",") + R"({"includeAllSymbols":true,"path":")" + path + R"("})";
  }
  for (const char* cross_file : {"false", "true"}) {
    const RunResult r =
        run_under_limit("64", cross_file, uint64_t{256} << 20,
                        frame(request("2", "indexFiles", R"({"files":[)" + files + "]}")) +
                            frame(request("3", "ping")));
    EXPECT_EQ(r.status, 0) << cross_file << "\n" << r.err.substr(0, 2000);
    const auto bodies = r.bodies();
    ASSERT_EQ(bodies.size(), 2u) << cross_file << "\n" << r.err.substr(0, 2000);
    EXPECT_EQ(count_of(bodies[0], R"("name":"C199")"), std::size_t{kFiles}) << cross_file;
    EXPECT_EQ(count_of(bodies[0], R"("error")"), 0u) << cross_file;
    EXPECT_THAT(bodies[1], HasSubstr(R"("result")")) << cross_file;
  }
}

// The deepest nesting the parser takes before it gives up, on every thread of the pool: a
// worker's stack is smaller than the main thread's, and the parser must fail before it runs out.
TEST(WorkerPoolBound, DeepestNestingFitsAWorkersStack) {
  std::string source = "x = ";
  for (int i = 0; i < 1000; ++i) source += "lambda a=";
  source += "1\n";
  TempDir dir;
  const std::string path = dir.write("deep.py", source);
  std::string files;
  for (int i = 0; i < 32; ++i) {
    files +=
        std::string(i == 0 ? "" : ",") + R"({"includeAllSymbols":true,"path":")" + path + R"("})";
  }
  const RunResult r =
      run_limited(frame(initialize_request(1, R"(,"featureFlags":{"crossFileResolution":false})")) +
                      frame(request("2", "indexFiles", R"({"files":[)" + files + "]}")),
                  Options().with_env("RAYON_NUM_THREADS", "4"));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(count_of(bodies[1], "error: TooDeeplyNested"), 32u) << bodies[1].substr(0, 2000);
}

}  // namespace
}  // namespace korvane::e2e
