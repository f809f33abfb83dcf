#include "package_scanner/package_scanner.h"

#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../e2e/hostile_support.h"
#include "deep_tree.h"
#include "scan_tree.h"

namespace korvane::package_scanner {
namespace {

using ::testing::UnorderedElementsAreArray;

// "rel/path package flags": flags s stub, t py.typed, a all symbols, L stdlib, T typeshed,
// B bundled; "-" for no package name.
std::string describe(const ModuleFileInfo& f, const std::string& tree_root) {
  std::string rel = f.path;
  if (rel.rfind(tree_root, 0) == 0) rel.erase(0, tree_root.size());
  if (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
  std::string flags;
  if (f.is_stub) flags += 's';
  if (f.py_typed_package) flags += 't';
  if (f.include_all_symbols) flags += 'a';
  if (f.is_stdlib) flags += 'L';
  if (f.is_typeshed_stub) flags += 'T';
  if (f.is_bundled_stub) flags += 'B';
  std::string out = rel + " " + f.package_name.value_or("-");
  if (!flags.empty()) out += " " + flags;
  return out;
}

std::vector<std::string> describe_all(const ScanResult& r, const std::string& tree_root) {
  std::vector<std::string> out;
  for (const auto& f : r.files) out.push_back(describe(f, tree_root));
  return out;
}

using Configure = std::function<void(ScanConfig&, const ScanTree&)>;

struct ScanCase {
  const char* name;
  std::vector<std::string> tree;
  Configure configure;  // roots default to the tree's root
  std::vector<std::string> want;
  uint32_t packages;
};

void depth(ScanConfig& c, uint32_t max, bool all = false) { c.default_depth = {max, all}; }

const ScanCase kScanCases[] = {
    {"package_at_limit_1_skips_private_file_and_subpackage",
     {"pkg/__init__.py", "pkg/mod.py", "pkg/mod.pyi", "pkg/_private.py", "pkg/sub/__init__.py",
      "pkg/sub/x.py"},
     nullptr,
     {"pkg/__init__.py pkg", "pkg/mod.py pkg.mod", "pkg/mod.pyi pkg.mod s"},
     1},
    {"package_at_limit_2_adds_subpackage",
     {"pkg/__init__.py", "pkg/mod.py", "pkg/_private.py", "pkg/sub/__init__.py", "pkg/sub/x.py"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 2); },
     {"pkg/__init__.py pkg", "pkg/mod.py pkg.mod", "pkg/sub/__init__.py pkg.sub",
      "pkg/sub/x.py pkg.sub.x"},
     1},
    {"namespace_directory_raises_limit_to_nested_package",
     {"ns/top.py", "ns/stub.pyi", "ns/sub/__init__.py", "ns/sub/x.py"},
     nullptr,
     {"ns/stub.pyi stub s", "ns/sub/__init__.py sub", "ns/sub/x.py sub.x"},
     1},
    {"package_depths_entry_prevents_nested_search",
     {"ns/stub.pyi", "ns/sub/__init__.py", "ns/sub/x.py"},
     [](ScanConfig& c, const ScanTree&) {
       c.package_depths["ns"] = {1, false};
     },
     {"ns/stub.pyi stub s"},
     1},
    {"nested_package_below_level_4_not_found_keeps_limit",
     {"ns/s.pyi", "ns/a/t.pyi", "ns/a/b/c/d/__init__.py", "ns/a/b/c/d/m.pyi"},
     nullptr,
     {"ns/s.pyi s s"},
     1},
    {"nested_package_at_level_4",
     {"ns/a/q.pyi", "ns/a/b/pkg/__init__.py", "ns/a/b/pkg/m.py", "ns/a/b/pkg/deep/__init__.py"},
     nullptr,
     {"ns/a/q.pyi q s", "ns/a/b/pkg/__init__.py pkg", "ns/a/b/pkg/m.py pkg.m"},
     1},
    {"private_and_dunder_names_at_top_and_inside",
     {"__x/__init__.py", "__x/m.py", "_p/__init__.py", ".hidden/__init__.py", "pkg/__init__.py",
      "pkg/__x/__init__.py", "pkg/__d__/__init__.py", "pkg/__main__.py", "pkg/__y.py", "pkg/_z.pyi",
      "pkg/.h.pyi", "pkg/__pycache__/m.pyi", "__pycache__/__init__.py"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 2); },
     {"__x/__init__.py __x", "__x/m.py __x.m", "pkg/__init__.py pkg",
      "pkg/__d__/__init__.py pkg.__d__", "pkg/__main__.py pkg.__main__"},
     2},
    {"only_stub_files_directly_in_root",
     {"mod.pyi", "mod.py", "__init__.py", "__init__.pyi", "_priv.pyi", "__x.pyi", ".h.pyi",
      "notes.txt", "Up.PYI", "a.tar.pyi", "fifo:f.pyi"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 1, true); },
     {"mod.pyi mod sa", "__init__.pyi __init__ sa", "__x.pyi __x sa", "a.tar.pyi a.tar sa"},
     4},
    {"stdlib_root_excludes_modules_and_lists_every_depth",
     {"__future__.pyi", "this.pyi", "os.pyi", "antigravity/__init__.pyi", "json/__init__.pyi",
      "json/a/b/c/d.pyi", "json/a/b/c/e.py"},
     [](ScanConfig& c, const ScanTree& t) {
       depth(c, 1, true);
       c.typeshed_stdlib_path = t.root();
     },
     {"os.pyi os saL", "json/__init__.pyi json sL", "json/a/b/c/d.pyi json.d sL"},
     2},
    {"excluded_names_listed_outside_stdlib",
     {"__future__.pyi", "this.pyi", "antigravity/__init__.pyi", "json/__init__.pyi",
      "json/a/d.pyi"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 1, true); },
     {"__future__.pyi __future__ sa", "this.pyi this sa", "antigravity/__init__.pyi antigravity sa",
      "json/__init__.pyi json sa"},
     4},
    {"package_depth_zero_lists_nothing_but_counts",
     {"pkg/__init__.py", "pkg/m.py"},
     [](ScanConfig& c, const ScanTree&) {
       c.package_depths["pkg"] = {0, true};
     },
     {},
     1},
    {"package_depth_unlimited_names_through_plain_directories",
     {"pkg/__init__.py", "pkg/a/__init__.py", "pkg/a/b/m.py", "pkg/a/b/s.pyi"},
     [](ScanConfig& c, const ScanTree&) {
       c.package_depths["pkg"] = {kUnlimitedDepth, true};
     },
     {"pkg/__init__.py pkg a", "pkg/a/__init__.py pkg.a a", "pkg/a/b/s.pyi pkg.a.s sa"},
     1},
    {"init_stub_makes_sources_listable",
     {"pkg/__init__.pyi", "pkg/m.py"},
     nullptr,
     {"pkg/__init__.pyi pkg s", "pkg/m.py pkg.m"},
     1},
    {"py_typed_marker_found_and_inherited",
     {"pkg/__init__.py", "pkg/py.typed", "pkg/sub/__init__.py", "pkg/sub/m.py", "other/__init__.py",
      "other/sub/__init__.py", "other/sub/py.typed", "other/sub/m.py", "ns/py.typed", "ns/s.pyi"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 2); },
     {"pkg/__init__.py pkg t", "pkg/sub/__init__.py pkg.sub t", "pkg/sub/m.py pkg.sub.m t",
      "other/__init__.py other", "other/sub/__init__.py other.sub t",
      "other/sub/m.py other.sub.m t", "ns/s.pyi s s"},
     3},
    {"links_followed_and_special_entries_skipped",
     {"pkg/__init__.py", "pkg/real.txt", "pkg/alias.py -> real.txt", "pkg/broken.py -> nowhere",
      "fifo:pkg/pipe.py", "pkg/M.PY", "pkg/x.pyc", "pkg/init_dir/__init__.py/",
      "pkg/init_dir/m.py"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 2); },
     {"pkg/__init__.py pkg", "pkg/alias.py pkg.alias", "pkg/init_dir/m.py pkg.init_dir.m"},
     1},
    {"link_cycles_end_and_other_links_are_followed",
     {"pkg/__init__.py", "pkg/loop -> .", "pkg/up -> ..", "pkg/side -> ../other",
      "other/__init__.py", "other/o.py", "other/back -> ../pkg"},
     [](ScanConfig& c, const ScanTree&) {
       c.package_depths["pkg"] = {kUnlimitedDepth, false};
     },
     {"pkg/__init__.py pkg", "pkg/side/__init__.py pkg.side", "pkg/side/o.py pkg.side.o",
      "other/__init__.py other", "other/o.py other.o"},
     2},
    {"overlapping_and_missing_roots",
     {"pkg/__init__.py", "mod.pyi"},
     [](ScanConfig& c, const ScanTree& t) {
       c.roots = {t.root(), t.root() + "/", t.path("missing"), t.path("mod.pyi"),
                  t.root() + std::string("\0x", 2)};
     },
     {"pkg/__init__.py pkg", "mod.pyi mod s", "pkg/__init__.py pkg", "mod.pyi mod s"},
     4},
    {"third_party_off_scans_only_stdlib_roots",
     {"std/os.pyi", "other/x.pyi"},
     [](ScanConfig& c, const ScanTree& t) {
       c.typeshed_stdlib_path = t.path("std");
       c.include_third_party = false;
       c.roots = {t.path("std"), t.path("other"), t.path("missing")};
     },
     {"std/os.pyi os sL"},
     1},
    {"third_party_off_without_stdlib_path_scans_nothing",
     {"x.pyi"},
     [](ScanConfig& c, const ScanTree&) { c.include_third_party = false; },
     {},
     0},
    {"stub_locations_mark_roots_by_whole_components",
     {"stdlib/a.pyi", "stdlib2/b.pyi"},
     [](ScanConfig& c, const ScanTree& t) {
       c.typeshed_stdlib_path = t.path("stdlib/");
       c.typeshed_thirdparty_path = "";
       c.bundled_stub_path = "stdlib";  // relative: never matches an absolute root
       c.roots = {t.path("stdlib"), t.path("stdlib2")};
     },
     {"stdlib/a.pyi a sLT", "stdlib2/b.pyi b sT"},
     2},
    {"invalid_utf8_names",
     {"caf\xff.pyi", "pkg/__init__.py", "pkg/m\xff.py", "pkg/d\xff/__init__.py"},
     [](ScanConfig& c, const ScanTree&) { depth(c, 2); },
     {"caf\xff.pyi - s", "pkg/__init__.py pkg", "pkg/m\xff.py pkg.",
      "pkg/d\xff/__init__.py pkg.d\xEF\xBF\xBD"},
     2},
};

TEST(PackageScanner, ScansTrees) {
  for (const ScanCase& c : kScanCases) {
    ScanTree tree(c.tree);
    ScanConfig config;
    config.roots = {tree.root()};
    if (c.configure) c.configure(config, tree);
    PackageScanner scanner(std::move(config));
    const ScanResult result = scanner.scan();
    EXPECT_THAT(describe_all(result, tree.root()), UnorderedElementsAreArray(c.want)) << c.name;
    EXPECT_EQ(result.packages_scanned, c.packages) << c.name;
  }
}

// The root text is kept as given; a join adds "/" only when the left part lacks one.
TEST(PackageScanner, PathsKeepRootText) {
  ScanTree tree({"pkg/__init__.py", "m.pyi"});
  for (const std::string suffix : {"", "/", "/./", "//"}) {
    ScanConfig config;
    config.roots = {tree.root() + suffix};
    const ScanResult result = PackageScanner(std::move(config)).scan();
    std::vector<std::string> paths;
    for (const auto& f : result.files) paths.push_back(f.path);
    const std::string base = suffix.empty() ? tree.root() + "/" : tree.root() + suffix;
    EXPECT_THAT(paths, UnorderedElementsAreArray({base + "pkg/__init__.py", base + "m.pyi"}))
        << suffix;
  }
}

std::vector<std::string> listing_order(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

// Files come in the file system's listing order, a subdirectory's whole content where its entry
// is met: never sorted, never breadth first.
TEST(PackageScanner, KeepsListingOrderDepthFirst) {
  std::vector<std::string> entries = {"pkg/__init__.py"};
  for (int i = 0; i < 40; ++i) {
    entries.push_back("pkg/m" + std::to_string(i) + ".py");
    if (i % 10 == 0) {
      entries.push_back("pkg/s" + std::to_string(i) + "/a.pyi");
      entries.push_back("pkg/s" + std::to_string(i) + "/b.pyi");
    }
  }
  ScanTree tree(entries);
  ScanConfig config;
  config.roots = {tree.root()};
  config.default_depth = {2, false};
  const ScanResult result = PackageScanner(std::move(config)).scan();
  // Collapse each file to its entry in pkg; a subdirectory's files must be adjacent.
  std::vector<std::string> seen;
  const std::string prefix = tree.path("pkg/");
  for (const auto& f : result.files) {
    std::string entry = f.path.substr(prefix.size());
    entry = entry.substr(0, entry.find('/'));
    if (seen.empty() || seen.back() != entry) seen.push_back(entry);
  }
  EXPECT_EQ(seen, listing_order(tree.path("pkg")));
}

// Every stub file below `dir` in listing order, depth first: a plain recursive walk.
void listed_stubs(const std::string& dir, std::vector<std::string>& out) {
  for (const std::string& name : listing_order(dir)) {
    const std::string path = dir + "/" + name;
    if (std::filesystem::is_directory(path)) {
      listed_stubs(path, out);
    } else if (name.ends_with(".pyi")) {
      out.push_back(path);
    }
  }
}

// Far deeper than the walk keeps directories open: those it closes on the way down, one of them
// in the middle of a listing longer than one read, must go on where they stopped.
TEST(PackageScanner, DeepWalkKeepsListingOrder) {
  DeepTree tree;
  std::string dir = tree.root() + "/pkg";
  for (int level = 0; level < 300; ++level, dir += "/d") {
    std::filesystem::create_directories(dir + "/s");
    std::ofstream(dir + "/f.pyi") << "";
    std::ofstream(dir + "/s/x.pyi") << "";
    if (level == 3) {
      for (int i = 0; i < 1500; ++i) {
        std::ofstream(dir + "/wide_listing_entry_with_a_long_name_" + std::to_string(i) + ".pyi")
            << "";
      }
    }
  }
  ScanConfig config;
  config.roots = {tree.root()};
  config.default_depth = {kUnlimitedDepth, false};
  const ScanResult result = PackageScanner(std::move(config)).scan();
  std::vector<std::string> want;
  listed_stubs(tree.root() + "/pkg", want);
  ASSERT_EQ(want.size(), 300u * 2 + 1500);
  ASSERT_EQ(result.files.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(result.files[i].path, want[i]) << "file " << i;
  }
}

// The open-file limit that leaves exactly `free` descriptors to open: the numbers the kernel
// would hand out next are the lowest free ones.
rlim_t limit_leaving(int free) {
  std::vector<int> fds;
  for (int i = 0; i < free; ++i) fds.push_back(::dup(STDIN_FILENO));
  const int highest = *std::max_element(fds.begin(), fds.end());
  for (const int fd : fds) ::close(fd);
  return static_cast<rlim_t>(highest) + 1;
}

// Out of descriptors, the walk closes directories it holds open and goes on: a low open-file
// limit once cut a 300-level listing short with nothing but a warning. The tightest limit
// leaves room for the root, the package, the directory listed and the one opened below it.
TEST(PackageScanner, LowOpenFileLimitListsEveryFile) {
  DeepTree tree;
  std::string dir = tree.root() + "/pkg";
  for (int level = 0; level < 300; ++level, dir += "/d") {
    std::filesystem::create_directories(dir);
    for (const char* name : {"__init__.py", "a.py", "b.pyi", "c.py"}) {
      std::ofstream(dir + "/" + name);
    }
  }
  ScanConfig config;
  config.roots = {tree.root()};
  config.default_depth = {kUnlimitedDepth, false};
  const auto all = describe_all(PackageScanner(config).scan(), tree.root());
  ASSERT_EQ(all.size(), 1200u);
  for (const rlim_t limit : {rlim_t{64}, rlim_t{16}, limit_leaving(4)}) {
    e2e::SoftLimit lowered(RLIMIT_NOFILE, limit);
    const auto listed = describe_all(PackageScanner(config).scan(), tree.root());
    EXPECT_EQ(listed.size(), all.size()) << "open-file limit " << limit;
    EXPECT_TRUE(listed == all) << "open-file limit " << limit;
  }
}

// A directory without __init__ is listed by the nested-package search and then walked; a
// listing larger than one read must be walked whole, not from where the search stopped.
TEST(PackageScanner, WalksWholeListingAfterNestedSearch) {
  for (const bool with_package : {false, true}) {
    std::vector<std::string> entries = {"ns/plain/x.txt"};
    if (with_package) entries.push_back("ns/sub/__init__.py");
    for (int i = 0; i < 700; ++i) {
      entries.push_back("ns/stub_module_with_a_rather_long_name_" + std::to_string(i) + ".pyi");
    }
    ScanTree tree(entries);
    ScanConfig config;
    config.roots = {tree.root()};
    const ScanResult result = PackageScanner(std::move(config)).scan();
    EXPECT_EQ(result.files.size(), with_package ? 701u : 700u) << with_package;
  }
}

struct NestedCase {
  const char* name;
  std::vector<std::string> tree;  // below the searched directory "ns"
  std::optional<uint32_t> want;
};

const NestedCase kNestedCases[] = {
    {"empty", {"ns/"}, std::nullopt},
    {"child_package", {"ns/a/__init__.pyi"}, 2},
    {"grandchild_package", {"ns/a/b/__init__.py"}, 3},
    {"level_4", {"ns/a/b/c/__init__.py"}, 4},
    {"level_5_too_deep", {"ns/a/b/c/d/__init__.py"}, std::nullopt},
    {"smallest_wins", {"ns/a/b/c/__init__.py", "ns/z/__init__.py", "ns/y/x/__init__.py"}, 2},
    {"no_descent_into_packages", {"ns/p/__init__.py/", "ns/q/r/__init__.py"}, 2},
    {"hidden_private_and_cache_ignored",
     {"ns/.h/__init__.py", "ns/_p/__init__.py", "ns/__pycache__/__init__.py", "ns/f/__init__"},
     std::nullopt},
    {"dunder_directory_searched", {"ns/__d__/x/__init__.py"}, 3},
    {"linked_directory_followed", {"ns/l -> ../pkg", "pkg/__init__.py"}, 2},
    {"link_cycle_bounded", {"ns/a/l -> ..", "ns/a/m -> ."}, std::nullopt},
};

TEST(PackageScanner, FindsNestedPackageDepth) {
  for (const NestedCase& c : kNestedCases) {
    ScanTree tree(c.tree);
    PackageScanner scanner{ScanConfig{}};
    EXPECT_EQ(scanner.find_nested_package_depth(tree.path("ns")), c.want) << c.name;
  }
}

// One search per directory and request, by component-wise path: a later change to the tree, or
// another spelling of the same path, reads the remembered answer, "nothing found" included.
TEST(PackageScanner, NestedSearchIsRememberedPerDirectory) {
  ScanTree tree({"ns/", "other/a/b/__init__.py"});
  PackageScanner scanner{ScanConfig{}};
  EXPECT_EQ(scanner.find_nested_package_depth(tree.path("ns")), std::nullopt);
  EXPECT_EQ(scanner.find_nested_package_depth(tree.path("other")), 3u);
  tree.add({"ns/p/__init__.py", "other/c/__init__.py"});
  EXPECT_EQ(scanner.find_nested_package_depth(tree.path("ns") + "//"), std::nullopt);
  EXPECT_EQ(scanner.find_nested_package_depth(tree.path("./other/.")), 3u);
  EXPECT_EQ(PackageScanner{ScanConfig{}}.find_nested_package_depth(tree.path("ns")), 2u);
}

TEST(PackageScanner, MarkerProbesFollowLinksAndAcceptAnyEntry) {
  ScanTree tree({"a/__init__.py", "b/__init__.pyi", "c/__init__.py/", "d/__init__.py -> ../x", "x",
                 "e/py.typed", "f/init.py", "g/__init__.py -> nowhere"});
  const std::pair<const char*, bool> init_cases[] = {{"a", true},  {"b", true},       {"c", true},
                                                     {"d", true},  {"e", false},      {"f", false},
                                                     {"g", false}, {"missing", false}};
  for (const auto& [dir, want] : init_cases) {
    EXPECT_EQ(PackageScanner::contains_init(tree.path(dir)), want) << dir;
  }
  EXPECT_TRUE(PackageScanner::contains_py_typed(tree.path("e")));
  EXPECT_FALSE(PackageScanner::contains_py_typed(tree.path("a")));
  // The empty path is the working directory, never the file-system root.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(tree.path("a"));
  EXPECT_TRUE(PackageScanner::contains_init(""));
  std::filesystem::current_path(tree.path("e"));
  EXPECT_TRUE(PackageScanner::contains_py_typed(""));
  std::filesystem::current_path(cwd);
}

TEST(PackageScanner, ScanPackageRespectsStartingDepthAndFailures) {
  ScanTree tree({"pkg/__init__.py", "pkg/m.py"});
  std::vector<ModuleFileInfo> out;
  const RootKind bundled{false, false, true};
  PackageScanner::scan_package(tree.path("pkg"), bundled, "outer", true, 3, false, 4, out);
  EXPECT_TRUE(out.empty());
  PackageScanner::scan_package(tree.path("missing"), bundled, std::nullopt, false, 3, false, 1,
                               out);
  EXPECT_TRUE(out.empty());
  PackageScanner::scan_package(tree.path("pkg"), bundled, "outer", true, 3, false, 3, out);
  std::vector<std::string> got;
  for (const auto& f : out) got.push_back(describe(f, tree.root()));
  EXPECT_THAT(got, UnorderedElementsAreArray({"pkg/__init__.py outer tB", "pkg/m.py outer.m tB"}));
}

}  // namespace
}  // namespace korvane::package_scanner
