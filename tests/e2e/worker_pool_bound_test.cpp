// An absurd RAYON_NUM_THREADS once made the server build a pool of millions of threads' slots and
// die of it; the pool is bounded, and a parallel batch is answered as with any other count.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace korvane::e2e
