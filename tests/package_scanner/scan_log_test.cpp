#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../support/captured_io.h"
#include "deep_tree.h"
#include "log/log.h"
#include "package_scanner/package_scanner.h"
#include "scan_tree.h"

namespace korvane::package_scanner {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using korvane::testing::capture_stderr;

// The lines a user reads when a scan misses files: which roots were skipped or scanned, with
// which flags, and which files and failures were met.
TEST(PackageScannerLog, WritesItsLinesUnderItsTarget) {
  ::setenv("RUST_LOG", "korvane_indexer::package_scanner=trace", 1);
  ::setenv("NO_COLOR", "1", 1);
  log::install_from_environment();
  ScanTree tree({"pkg/__init__.py", "m.pyi", "pkg/loop -> ."});
  const std::string text = capture_stderr([&] {
    ScanConfig config;
    config.roots = {tree.path("missing"), tree.path("m.pyi"), tree.root()};
    config.typeshed_stdlib_path = tree.root();
    config.package_depths["pkg"] = {3, false};
    PackageScanner(std::move(config)).scan();
    std::vector<ModuleFileInfo> out;
    PackageScanner::scan_package(tree.path("gone"), {}, std::nullopt, false, 1, false, 1, out);
  });
  const std::string q = "\"" + tree.root();
  const char* target = " korvane_indexer::package_scanner: ";
  EXPECT_THAT(text, HasSubstr(std::string("DEBUG") + target + "Skipping non-existent root: " + q +
                              "/missing\"\n"));
  EXPECT_THAT(text, HasSubstr(std::string("DEBUG") + target + "Skipping non-existent root: " + q +
                              "/m.pyi\"\n"));
  EXPECT_THAT(text, HasSubstr(std::string("DEBUG") + target + "Scanning root: " + q +
                              "\" (stdlib=true, typeshed=false, bundled=false)\n"));
  EXPECT_THAT(text, HasSubstr(std::string("TRACE") + target + "Found file: " + q +
                              "/pkg/__init__.py\" (stub=false, init=true, depth=1)\n"));
  EXPECT_THAT(text, HasSubstr(std::string(" WARN") + target + "Failed to read directory " + q +
                              "/gone\": No such file or directory (os error 2)\n"));
  // Files directly in a root are not announced one by one.
  EXPECT_THAT(text, Not(HasSubstr("m.pyi\" (stub")));
}

// A directory the walk closed to save descriptors is opened again by name; when the name leads
// to another directory by then, the rest of the first is out of reach, and the log must say so.
TEST(PackageScannerLog, WarnsOfADirectoryReplacedDuringTheWalk) {
  ::setenv("RUST_LOG", "korvane_indexer::package_scanner=warn", 1);
  ::setenv("NO_COLOR", "1", 1);
  log::install_from_environment();
  DeepTree tree;
  tree.chain("pkg", 1);
  build_chain(tree.root() + "/pkg", "a", 70);  // far below the directories kept open
  const std::string a = tree.root() + "/pkg/a";
  PackageScanner::set_reopen_hook_for_testing([&](const std::string& dir) {
    if (dir != a) return;
    ASSERT_EQ(::rename(a.c_str(), (tree.root() + "/pkg/moved").c_str()), 0);
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
  });
  const std::string text = capture_stderr([&] {
    ScanConfig config;
    config.roots = {tree.root()};
    config.default_depth = {kUnlimitedDepth, false};
    PackageScanner(std::move(config)).scan();
  });
  PackageScanner::set_reopen_hook_for_testing(nullptr);
  EXPECT_THAT(text, HasSubstr(" WARN korvane_indexer::package_scanner: Directory \"" + a +
                              "\" was replaced during the scan; the rest of it is skipped\n"));
}

}  // namespace
}  // namespace korvane::package_scanner
