// scanPackages over a package nested thousands of levels deep, walked without a depth limit: the
// server once overflowed its stack there, and held one open directory per level so that the
// open-file limit cut the listing short.
#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "../package_scanner/deep_tree.h"
#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;

struct DeepCase {
  const char* name;
  int levels;
  rlim_t open_files;   // 0: as inherited
  const char* logged;  // a DEBUG line the server writes, or nullptr
};

void PrintTo(const DeepCase& c, std::ostream* os) { *os << c.name; }

const DeepCase kCases[] = {
    {"levels_20000", 20000, 0, nullptr},
    {"levels_3000_under_1024_open_files", 3000, 1024, nullptr},
    // The server takes what the hard limit allows before any walk needs it.
    {"levels_3000_under_16_open_files", 3000, 16,
     "Raised the soft limit of open files from 16 to "},
};

class DeepScanTest : public testing::TestWithParam<DeepCase> {};

TEST_P(DeepScanTest, ListsEveryLevel) {
  const DeepCase& c = GetParam();
  const package_scanner::DeepTree tree;
  tree.chain("pkg", c.levels);

  std::optional<Process> server;
  {
    SoftLimit limit(RLIMIT_NOFILE, c.open_files);
    server.emplace(Options().with_env("RUST_LOG", "korvane_indexer=debug"));
  }
  server->write(frame(initialize_request(1)) +
                frame(request("2", "scanPackages",
                              R"({"searchRoots":[")" + tree.root() +
                                  R"("],"defaultDepthLimit":{"maxDepth":4294967295,)"
                                  R"("includeAllSymbols":false}})")));
  const RunResult r = server->finish();
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_FALSE(r.logged("WARN")) << r.err.substr(0, 2000);
  if (c.logged != nullptr) {
    EXPECT_TRUE(r.logged(c.logged)) << r.err.substr(0, 2000);
  }
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 2u);
  std::string bottom = tree.root() + "/pkg";
  for (int level = 1; level < c.levels; ++level) bottom += "/d";
  bottom += "/m.pyi";
  EXPECT_THAT(bodies[1],
              HasSubstr(R"("packageName":"pkg","path":")" + tree.root() + R"(/pkg/__init__.py",)"));
  EXPECT_THAT(bodies[1], HasSubstr(R"("packageName":"pkg.m","path":")" + bottom + "\","));
  EXPECT_THAT(bodies[1], HasSubstr(R"("packagesScanned":1)"));
}

INSTANTIATE_TEST_SUITE_P(Hostile, DeepScanTest, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::e2e
