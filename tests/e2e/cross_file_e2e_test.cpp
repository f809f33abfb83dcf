// indexFiles with cross-file resolution through the binary: imported names followed to their
// definitions, the cross-file error text, and the driver's log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "../support/temp_tree.h"
#include "harness.h"

namespace korvane::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class CrossFileE2E : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    return tree_.file(name, text).string();
  }

  korvane::testing::TempTree tree_;
  const std::string root_ = tree_.root().string();
};

std::string index_request(const std::string& id, const std::string& files,
                          const std::string& root) {
  return request(id, "indexFiles",
                 R"({"files":[)" + files + R"(],"searchPaths":{"extraPaths":[")" + root +
                     R"("],"workspaceRoots":[],"sitePackagesPaths":[]}})");
}

TEST_F(CrossFileE2E, FollowsImportsToDefinitions) {
  const std::string init = write("pkg/__init__.py", "from .m import x\n__all__ = ['x']\n");
  const std::string m = write("pkg/m.py", "class x: pass\n");
  const std::string star = write("star.pyi", "from pkg.m import *\n");
  const std::string missing = root_ + "/missing.py";
  const std::string files = R"({"path":")" + init + R"("},{"path":")" + missing +
                            R"("},{"path":")" + star + R"(","isStub":true})";
  for (const char* flags : {R"("crossFileResolution":true,"parallel":true)",
                            R"("crossFileResolution":true,"parallel":false)"}) {
    SCOPED_TRACE(flags);
    const RunResult r =
        run(frame(initialize_request(1, std::string(R"(,"featureFlags":{)") + flags + "}")) +
                frame(index_request("2", files, root_)),
            Options().with_env("RUST_LOG", "korvane_indexer=debug").with_env("NO_COLOR", "1"));
    EXPECT_EQ(r.status, 0);
    const auto bodies = r.bodies();
    ASSERT_EQ(bodies.size(), 2u);
    const std::string body =
        std::regex_replace(bodies[1], std::regex(R"("elapsedMs":\d+)"), R"("elapsedMs":N)");
    const std::string alias =
        R"({"alias":{"kind":5,"moduleUri":")" + m + R"(","originalName":"x"},"kind":2,"name":"x",)";
    EXPECT_EQ(body, R"({"jsonrpc":"2.0","id":2,"result":{"elapsedMs":N,"results":[{"path":")" +
                        init + R"(","privateOrProtected":false,"symbols":[)" + alias +
                        R"("visibilityFlags":3}]},{"error":"Failed to parse file","path":")" +
                        missing + R"(","privateOrProtected":false,"symbols":[]},{"path":")" + star +
                        R"(","privateOrProtected":false,"symbols":[)" + alias +
                        R"("visibilityFlags":1}]}]}})");
    // The batch's two readable files get tables and module names; m is reached on demand.
    EXPECT_TRUE(
        r.logged("korvane_indexer::cross_file_resolver: Built symbol table with 2 "
                 "modules, 2 module name mappings"))
        << r.err;
    EXPECT_TRUE(r.logged("korvane_indexer::indexer: Cross-file indexing completed in ")) << r.err;
    EXPECT_TRUE(
        r.logged("korvane_indexer::cross_file_resolver: Resolved 1 wildcard import "
                 "symbols for " +
                 star))
        << r.err;
  }
}

}  // namespace
}  // namespace korvane::e2e
