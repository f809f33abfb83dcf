// scanPackages through the binary: decoding errors, the result text and the handler's log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../package_scanner/scan_tree.h"
#include "harness.h"

namespace korvane::e2e {
namespace {

using package_scanner::ScanTree;
using testing::HasSubstr;

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(ScanPackages, AnswersThroughTheBinary) {
  ScanTree tree({"pkg/__init__.py", "pkg/sub/__init__.py", "pkg/sub/py.typed", "caf\xff.pyi"});
  const std::string r = tree.root();
  const std::string params = R"({"searchRoots":[")" + r + R"(",")" + r +
                             R"("],"bundledStubPath":")" + r + R"(","packageDepths":[)" +
                             R"({"name":"pkg","maxDepth":1,"includeAllSymbols":false},)" +
                             R"({"name":"pkg","maxDepth":2,"includeAllSymbols":true}]})";
  const RunResult run_result =
      run(frame(initialize_request(1)) + frame(request("2", "scanPackages", params)) +
              frame(request("3", "scanPackages")) +
              frame(request("4", "scanPackages", R"({"searchRoots":[]})")) +
              frame(request("5", "shutdown")),
          Options().with_env("NO_COLOR", "1"));
  EXPECT_EQ(run_result.status, 0);
  const auto bodies = run_result.bodies();
  ASSERT_EQ(bodies.size(), 5u);

  // The same root twice lists every file twice; the later packageDepths entry wins.
  const std::string& scan = bodies[1];
  EXPECT_THAT(scan, testing::StartsWith(R"({"jsonrpc":"2.0","id":2,"result":{"elapsedMs":)"));
  EXPECT_THAT(scan, HasSubstr(R"(,"packagesScanned":4}})"));
  const std::string init = R"({"includeAllSymbols":true,"isBundledStub":true,"isStdlib":false,)"
                           R"("isStub":false,"isTypeshedStub":false,"packageName":"pkg","path":")" +
                           r + R"(/pkg/__init__.py","pyTypedPackage":false})";
  const std::string sub = R"({"includeAllSymbols":true,"isBundledStub":true,"isStdlib":false,)"
                          R"("isStub":false,"isTypeshedStub":false,"packageName":"pkg.sub",)"
                          R"("path":")" +
                          r + R"(/pkg/sub/__init__.py","pyTypedPackage":true})";
  // A stem that is not UTF-8 gives no package name; the path shows U+FFFD.
  const std::string stub = R"({"includeAllSymbols":false,"isBundledStub":true,"isStdlib":false,)"
                           R"("isStub":true,"isTypeshedStub":false,"path":")" +
                           r + "/caf\xEF\xBF\xBD.pyi" + R"(","pyTypedPackage":false})";
  EXPECT_EQ(count(scan, init), 2u) << scan;
  EXPECT_EQ(count(scan, sub), 2u) << scan;
  EXPECT_EQ(count(scan, stub), 2u) << scan;
  EXPECT_EQ(count(scan, R"({"includeAllSymbols")"), 6u) << scan;

  EXPECT_EQ(bodies[2],
            R"({"jsonrpc":"2.0","id":3,"error":{"code":-32602,"message":"Invalid scanPackages )"
            R"(params: invalid type: null, expected struct ScanPackagesParams"}})");
  EXPECT_EQ(bodies[3],
            R"({"jsonrpc":"2.0","id":4,"result":{"elapsedMs":0,"files":[],"packagesScanned":0}})");

  EXPECT_TRUE(run_result.logged(" korvane_indexer::server: Scanning 2 search roots\n"));
  EXPECT_TRUE(run_result.logged(" korvane_indexer::server: Scanned 4 packages, found 6 files in "));
  EXPECT_TRUE(run_result.logged(" korvane_indexer::server: Scanning 0 search roots\n"));
  EXPECT_TRUE(
      run_result.logged(" korvane_indexer::server: Scanned 0 packages, found 0 files in 0ms\n"));
}

}  // namespace
}  // namespace korvane::e2e
