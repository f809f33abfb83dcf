// scanPackages over a tree whose symbolic links form cycles: with an unlimited depth the walk
// must still end, listing each file once per way in that does not go round a cycle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "../package_scanner/scan_tree.h"
#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using package_scanner::ScanTree;
using Listed = std::vector<std::pair<std::string, std::string>>;  // path below the root, name

// Pulls (path, packageName) out of a scanPackages reply, sorted: listing order is the file
// system's own.
Listed listed_files(const std::string& reply, const std::string& root) {
  Listed out;
  const std::string path_key = R"("path":")" + root + "/";
  for (auto at = reply.find(R"({"includeAllSymbols")"); at != std::string::npos;
       at = reply.find(R"({"includeAllSymbols")", at + 1)) {
    const std::size_t end = reply.find('}', at);
    const std::string file = reply.substr(at, end - at);
    std::string name;
    if (auto n = file.find(R"("packageName":")"); n != std::string::npos) {
      n += 15;
      name = file.substr(n, file.find('"', n) - n);
    }
    auto p = file.find(path_key);
    if (p == std::string::npos) continue;
    p += path_key.size();
    out.emplace_back(file.substr(p, file.find('"', p) - p), name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct CycleCase {
  const char* name;
  std::string params;  // {} is the root, ${root} replaced
  Listed want;
  const char* packages_scanned;
};

void PrintTo(const CycleCase& c, std::ostream* os) { *os << c.name; }

std::vector<CycleCase> cycle_cases() {
  const Listed deep = {{"mutual/b/x.pyi", "x"},
                       {"mutual2/x.pyi", "x"},
                       {"pkg/__init__.py", "pkg"},
                       {"pkg/mod.py", "pkg.mod"},
                       {"pkg/sub/__init__.py", "pkg.sub"},
                       {"pkg/sub/deeper/__init__.pyi", "pkg.sub.deeper"}};
  return {
      // Standard-library packages are walked without a depth limit.
      {"stdlib_root", R"({"searchRoots":["${root}"],"typeshedStdlibPath":"${root}"})", deep,
       R"("packagesScanned":4)"},
      {"unlimited_default_depth",
       R"({"searchRoots":["${root}"],"defaultDepthLimit":{"maxDepth":4294967295,)"
       R"("includeAllSymbols":false}})",
       deep, R"("packagesScanned":4)"},
      // Directories without __init__ are searched for nested packages through the cycles too.
      {"nested_package_search",
       R"({"searchRoots":["${root}"]})",
       {{"mutual2/x.pyi", "x"}, {"pkg/__init__.py", "pkg"}, {"pkg/mod.py", "pkg.mod"}},
       R"("packagesScanned":4)"},
  };
}

class LinkCycleTest : public testing::TestWithParam<CycleCase> {};

TEST_P(LinkCycleTest, WalkEnds) {
  const CycleCase& c = GetParam();
  // Links back to the package itself, to the root, to an enclosing package, to themselves and
  // between two top-level directories.
  ScanTree tree({"pkg/__init__.py", "pkg/mod.py", "pkg/loop -> .", "pkg/sub/__init__.py",
                 "pkg/sub/up -> ../..", "pkg/sub/deeper/__init__.pyi",
                 "pkg/sub/deeper/back -> ../../sub", "ns/a -> ../ns", "self -> self",
                 "mutual/b -> ../mutual2", "mutual2/x.pyi", "mutual2/c -> ../mutual"});
  std::string params = c.params;
  for (auto at = params.find("${root}"); at != std::string::npos; at = params.find("${root}")) {
    params.replace(at, 7, tree.root());
  }
  const RunResult r =
      run_limited(frame(initialize_request(1)) + frame(request("2", "scanPackages", params)));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_THAT(bodies[1], testing::StartsWith(R"({"jsonrpc":"2.0","id":2,"result":{)"));
  EXPECT_THAT(bodies[1], testing::HasSubstr(c.packages_scanned));
  EXPECT_EQ(listed_files(bodies[1], tree.root()), c.want) << bodies[1];
}

INSTANTIATE_TEST_SUITE_P(Hostile, LinkCycleTest, testing::ValuesIn(cycle_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::e2e
