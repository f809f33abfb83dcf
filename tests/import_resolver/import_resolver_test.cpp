#include "import_resolver/import_resolver.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../support/temp_tree.h"
#include "log/log.h"

namespace korvane::import_resolver {
namespace {

namespace fs = std::filesystem;
using korvane::testing::TempTree;

ImportResolverConfig extra_root(const fs::path& root) {
  ImportResolverConfig config;
  config.extra_paths.push_back(root);
  return config;
}

struct Found {
  std::string relative;  // below the tree root; empty means "none expected"
  bool is_stub = false;
  bool is_namespace_package = false;
};

void expect_found(const TempTree& tree, const std::optional<ResolvedImport>& got,
                  const std::optional<Found>& want) {
  if (!want) {
    EXPECT_FALSE(got.has_value()) << "unexpected " << got->path;
    return;
  }
  ASSERT_TRUE(got.has_value()) << "expected " << want->relative;
  EXPECT_EQ(got->path, tree.path(want->relative));
  EXPECT_EQ(got->is_stub, want->is_stub);
  EXPECT_EQ(got->is_namespace_package, want->is_namespace_package);
}

struct DirectoryCase {
  const char* name;
  std::vector<const char*> files;  // trailing '/' makes a directory
  const char* module;
  std::optional<Found> want;
};

void PrintTo(const DirectoryCase& c, std::ostream* out) { *out << c.name; }

class ResolveFromDirectoryTest : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(ResolveFromDirectoryTest, Resolves) {
  const DirectoryCase& c = GetParam();
  TempTree tree;
  for (std::string entry : c.files) {
    if (entry.ends_with('/')) {
      tree.dir(entry);
    } else {
      tree.file(entry);
    }
  }
  expect_found(tree, ImportResolver::resolve_module_from_directory(c.module, tree.root()), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolveFromDirectoryTest,
    ::testing::Values(
        // A stub shadows the source file and the package of the same name.
        DirectoryCase{"StubBeatsSourceAndPackage",
                      {"a.pyi", "a.py", "a/__init__.py"},
                      "a",
                      Found{"a.pyi", true, false}},
        DirectoryCase{
            "SourceBeatsPackage", {"a.py", "a/__init__.pyi"}, "a", Found{"a.py", false, false}},
        DirectoryCase{"PackageStubInitFirst",
                      {"a/__init__.py", "a/__init__.pyi"},
                      "a",
                      Found{"a/__init__.pyi", true, false}},
        DirectoryCase{
            "PackageSourceInit", {"a/__init__.py"}, "a", Found{"a/__init__.py", false, false}},
        // The last component is a namespace package whenever it is a directory, even empty.
        DirectoryCase{"EmptyDirectoryIsNamespace", {"ns/"}, "ns", Found{"ns", false, true}},
        DirectoryCase{"Missing", {"b.py"}, "a", std::nullopt},
        DirectoryCase{"DottedThroughPackage",
                      {"a/__init__.py", "a/b.py"},
                      "a.b",
                      Found{"a/b.py", false, false}},
        // A module file cannot hold submodules.
        DirectoryCase{"SubmoduleOfModuleFile", {"a.py"}, "a.b", std::nullopt},
        DirectoryCase{
            "NamespacePortionWithSource", {"ns/m.py"}, "ns.m", Found{"ns/m.py", false, false}},
        DirectoryCase{"NamespacePortionWithStubElsewhere",
                      {"ns/other.pyi", "ns/m/__init__.py"},
                      "ns.m",
                      Found{"ns/m/__init__.py", false, false}},
        DirectoryCase{
            "NamespacePortionWithSubdirectory", {"ns/sub/", "ns/m.txt"}, "ns.m", std::nullopt},
        DirectoryCase{
            "NamespacePortionSubdirectoryOnly", {"ns/m/"}, "ns.m", Found{"ns/m", false, true}},
        // Only a real .py/.pyi extension makes an intermediate directory importable.
        DirectoryCase{"NamespacePortionOnlyText", {"ns/readme.txt"}, "ns.m", std::nullopt},
        DirectoryCase{"NamespacePortionDotFileHasNoExtension", {"ns/.py"}, "ns.m", std::nullopt},
        DirectoryCase{"NamespacePortionEmpty", {"ns/"}, "ns.m", std::nullopt},
        DirectoryCase{"EmptyNameStubInit",
                      {"__init__.pyi", "__init__.py"},
                      "",
                      Found{"__init__.pyi", true, false}},
        DirectoryCase{
            "EmptyNameSourceInit", {"__init__.py"}, "", Found{"__init__.py", false, false}},
        DirectoryCase{"EmptyNameNoInit", {"x.py"}, "", std::nullopt},
        // An empty piece joins as "" and names the directory itself, so "a..b" finds a/b.
        DirectoryCase{
            "EmptyPiece", {"a/__init__.py", "a/b.py"}, "a..b", Found{"a/b.py", false, false}},
        DirectoryCase{"DeepPackage",
                      {"a/__init__.py", "a/b/__init__.pyi", "a/b/c.pyi"},
                      "a.b.c",
                      Found{"a/b/c.pyi", true, false}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ResolveFromDirectory, FollowsSymbolicLinks) {
  TempTree tree;
  tree.file("real/target.py");
  tree.dir("real/pkgdir");
  tree.file("real/pkgdir/__init__.py");
  fs::create_symlink(tree.path("real/target.py"), tree.path("link.py"));
  fs::create_directory_symlink(tree.path("real/pkgdir"), tree.path("pkg"));
  expect_found(tree, ImportResolver::resolve_module_from_directory("link", tree.root()),
               Found{"link.py", false, false});
  expect_found(tree, ImportResolver::resolve_module_from_directory("pkg", tree.root()),
               Found{"pkg/__init__.py", false, false});
  // A dangling link is neither a file nor a directory.
  fs::create_symlink(tree.path("nowhere.py"), tree.path("dangling.py"));
  expect_found(tree, ImportResolver::resolve_module_from_directory("dangling", tree.root()),
               std::nullopt);
}

struct RelativeCase {
  const char* name;
  std::vector<const char*> files;
  const char* importing;  // relative to the tree root
  const char* module;
  std::optional<Found> want;
};

void PrintTo(const RelativeCase& c, std::ostream* out) { *out << c.name; }

class RelativeImportTest : public ::testing::TestWithParam<RelativeCase> {};

TEST_P(RelativeImportTest, Resolves) {
  const RelativeCase& c = GetParam();
  TempTree tree;
  for (const char* entry : c.files) tree.file(entry);
  // Roots must play no part in relative imports: give one that would match.
  ImportResolver resolver(extra_root(tree.root()));
  expect_found(tree, resolver.resolve_import(c.module, tree.path(c.importing)), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelativeImportTest,
    ::testing::Values(
        RelativeCase{"DotStubInit",
                     {"p/pkg/__init__.pyi", "p/pkg/__init__.py", "p/pkg/mod.py"},
                     "p/pkg/mod.py",
                     ".",
                     Found{"p/pkg/__init__.pyi", true, false}},
        RelativeCase{"DotSourceInit",
                     {"p/pkg/__init__.py", "p/pkg/mod.py"},
                     "p/pkg/mod.py",
                     ".",
                     Found{"p/pkg/__init__.py", false, false}},
        RelativeCase{"DotNoInit", {"p/pkg/mod.py"}, "p/pkg/mod.py", ".", std::nullopt},
        RelativeCase{"TwoDotsStub",
                     {"p/pkg/util.pyi", "p/pkg/util.py", "p/pkg/sub/mod.py"},
                     "p/pkg/sub/mod.py",
                     "..util",
                     Found{"p/pkg/util.pyi", true, false}},
        RelativeCase{"TwoDotsSource",
                     {"p/pkg/util.py", "p/pkg/sub/mod.py"},
                     "p/pkg/sub/mod.py",
                     "..util",
                     Found{"p/pkg/util.py", false, false}},
        RelativeCase{"TwoDotsPackage",
                     {"p/pkg/util/__init__.py", "p/pkg/sub/mod.py"},
                     "p/pkg/sub/mod.py",
                     "..util",
                     Found{"p/pkg/util/__init__.py", false, false}},
        RelativeCase{
            "SiblingModule", {"p/a.py", "p/b.py"}, "p/a.py", ".b", Found{"p/b.py", false, false}},
        // Roots are ignored: a relative name never falls back to the search path.
        RelativeCase{"NoRootFallback", {"b.py", "p/a.py"}, "p/a.py", ".b", std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ResolveImport, TooManyDotsGivesCachedNone) {
  ImportResolver resolver;
  // "/a/m.py": one dot is /a, two dots /, three dots climb above the root.
  EXPECT_EQ(resolver.resolve_import("...x", "/a/m.py"), std::nullopt);
  EXPECT_EQ(resolver.resolution_cache_size(), 1u);
  EXPECT_EQ(resolver.resolve_import("...x", "/a/m.py"), std::nullopt);
  EXPECT_EQ(resolver.resolution_cache_size(), 1u);
  // A bare relative file name has the directory "", whose parent does not exist.
  EXPECT_EQ(resolver.resolve_import("..x", "m.py"), std::nullopt);
}

TEST(ResolveImport, PathWithoutDirectoryIsNotCached) {
  ImportResolver resolver;
  EXPECT_EQ(resolver.resolve_import("x", "/"), std::nullopt);
  EXPECT_EQ(resolver.resolve_import("x", ""), std::nullopt);
  EXPECT_EQ(resolver.resolution_cache_size(), 0u);
}

TEST(ResolveImport, SearchRootsInOrder) {
  TempTree tree;
  const char* roots[] = {"extra", "ws", "stdlib", "site", "third"};
  for (const char* root : roots) tree.file(std::string(root) + "/m.py");
  ImportResolverConfig config{.extra_paths = {tree.path("extra")},
                              .workspace_roots = {tree.path("ws")},
                              .typeshed_stdlib_path = tree.path("stdlib"),
                              .typeshed_thirdparty_path = tree.path("third"),
                              .site_packages_paths = {tree.path("site")}};
  // Remove the winner each round: the next root in the fixed order must take over.
  for (const char* root : roots) {
    ImportResolver resolver(config);
    expect_found(tree, resolver.resolve_import("m", tree.path("elsewhere/x.py")),
                 Found{std::string(root) + "/m.py", false, false});
    fs::remove(tree.path(std::string(root) + "/m.py"));
  }
  ImportResolver resolver(config);
  EXPECT_EQ(resolver.resolve_import("m", tree.path("elsewhere/x.py")), std::nullopt);
}

TEST(ResolveImport, GetSearchPathsOrderKeepsDuplicates) {
  ImportResolver resolver(ImportResolverConfig{.extra_paths = {"/e1", "/e2"},
                                               .workspace_roots = {"/w", "/e1"},
                                               .typeshed_stdlib_path = "/std",
                                               .typeshed_thirdparty_path = "/third",
                                               .site_packages_paths = {"/s1", "/s2"}});
  std::vector<std::string> got;
  for (const fs::path& root : resolver.get_search_paths()) got.push_back(root.string());
  EXPECT_EQ(got,
            (std::vector<std::string>{"/e1", "/e2", "/w", "/e1", "/std", "/s1", "/s2", "/third"}));
  EXPECT_TRUE(ImportResolver().get_search_paths().empty());
}

TEST(ResolveImport, CacheKeyComparesDirectoriesByComponent) {
  TempTree tree;
  tree.file("root/m.py");
  tree.dir("pkg");
  ImportResolver resolver(extra_root(tree.path("root")));
  const std::string dir = tree.text("pkg");
  ASSERT_TRUE(resolver.resolve_import("m", dir + "/a.py"));
  // The same directory spelt differently must hit the entry made above, even after the file is
  // gone: proof that nothing was probed again.
  fs::remove(tree.path("root/m.py"));
  for (const std::string& importing : {dir + "//b.py", dir + "/./c.py", dir + "/sub/../d.py"}) {
    SCOPED_TRACE(importing);
    auto got = resolver.resolve_import("m", importing);
    if (importing.find("..") != std::string::npos) {
      // ".." is a real component: a different directory, hence a fresh probe.
      EXPECT_FALSE(got.has_value());
    } else {
      EXPECT_TRUE(got.has_value());
    }
  }
  EXPECT_EQ(resolver.resolution_cache_size(), 2u);
}

TEST(ResolveImport, MissesAreCachedUntilReconfigured) {
  TempTree tree;
  ImportResolver resolver(extra_root(tree.path("root")));
  const fs::path importing = tree.path("x.py");
  EXPECT_EQ(resolver.resolve_import("m", importing), std::nullopt);
  tree.file("root/m.pyi");
  EXPECT_EQ(resolver.resolve_import("m", importing), std::nullopt);  // cached miss
  // The module text is part of the key as written.
  expect_found(tree, resolver.resolve_import("m.", importing), std::nullopt);
  resolver.update_config(extra_root(tree.path("root")));
  EXPECT_EQ(resolver.resolution_cache_size(), 0u);
  expect_found(tree, resolver.resolve_import("m", importing), Found{"root/m.pyi", true, false});
}

TEST(ResolveImport, NoRootsResolveNothing) {
  TempTree tree;
  tree.file("m.py");
  ImportResolver resolver;
  EXPECT_EQ(resolver.resolve_import("m", tree.path("x.py")), std::nullopt);
}

struct ModuleNameCase {
  const char* name;
  std::vector<const char*> roots;
  const char* path;
  std::optional<std::string> want;
};

void PrintTo(const ModuleNameCase& c, std::ostream* out) { *out << c.name; }

class ModuleNameTest : public ::testing::TestWithParam<ModuleNameCase> {};

TEST_P(ModuleNameTest, Names) {
  const ModuleNameCase& c = GetParam();
  ImportResolverConfig config;
  for (const char* root : c.roots) config.workspace_roots.emplace_back(root);
  EXPECT_EQ(ImportResolver(config).module_name_from_path(c.path), c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModuleNameTest,
    ::testing::Values(
        ModuleNameCase{"Module", {"/ws"}, "/ws/pkg/mod.py", "pkg.mod"},
        ModuleNameCase{"CaseInsensitiveRootKeepsPathCase", {"/ws"}, "/WS/Pkg/__init__.pyi", "Pkg"},
        ModuleNameCase{"RootInit", {"/ws"}, "/ws/__init__.py", ""},
        ModuleNameCase{"RootItself", {"/ws"}, "/ws/", ""},
        ModuleNameCase{"OtherExtensionStays", {"/ws"}, "/ws/a/b.txt", "a.b.txt"},
        ModuleNameCase{"OutsideEveryRoot", {"/ws"}, "/other/x.py", std::nullopt},
        // A root must match whole components: /ws is not a prefix of /wsx/.
        ModuleNameCase{"PartialComponent", {"/ws"}, "/wsx/m.py", std::nullopt},
        ModuleNameCase{"EmptyRootMatchesAbsolute", {""}, "/x/y.py", "x.y"},
        ModuleNameCase{"BackslashRootOtherCase", {"D:\\Work"}, "d:/work/pkg/m.py", "pkg.m"},
        ModuleNameCase{"BackslashPath", {"/ws"}, "\\ws\\pkg\\m.pyi", "pkg.m"},
        ModuleNameCase{"TrailingSlashRoot", {"/ws/"}, "/ws/a.py", "a"},
        ModuleNameCase{"FirstMatchingRootWins", {"/ws", "/ws/pkg"}, "/ws/pkg/m.py", "pkg.m"},
        ModuleNameCase{"OnlyOneSuffixRemoved", {"/ws"}, "/ws/a.py.pyi", "a.py"},
        ModuleNameCase{"InitOnlyOnce", {"/ws"}, "/ws/a/__init__/__init__.py", "a.__init__"},
        ModuleNameCase{"NonAsciiRoot", {"/Ärger"}, "/ärger/m.py", "m"},
        // Lower-casing shrinks the Kelvin sign from three bytes to one: cutting must not overrun.
        ModuleNameCase{"RootShrinksWhenLowered", {"/\u212A"}, "/k/", ""}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::import_resolver

namespace korvane::import_resolver {
namespace {

TEST(ResolveImportLog, LinesQuotePaths) {
  TempTree tree;
  // A quote and a tab in the root show up escaped inside the quoted path.
  tree.file("we\"ird\troot/m.py");
  tree.file("pkg/sub/x.py");
  const std::string root = tree.text("we\"ird\troot");
  std::string quoted_root = root;
  quoted_root.replace(quoted_root.find('"'), 1, "\\\"");
  quoted_root.replace(quoted_root.find('\t'), 1, "\\t");
  setenv("RUST_LOG", "korvane_indexer::import_resolver=trace", 1);
  setenv("NO_COLOR", "1", 1);
  log::install_from_environment();
  ImportResolver resolver(extra_root(root));
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(resolver.resolve_import("m", tree.path("pkg/sub/x.py")));
  EXPECT_FALSE(resolver.resolve_import("absent", tree.path("pkg/sub/x.py")));
  EXPECT_FALSE(resolver.resolve_import("..gone", tree.path("pkg/sub/x.py")));
  const std::string err = ::testing::internal::GetCapturedStderr();
  const std::string target = "korvane_indexer::import_resolver: ";
  for (const std::string& line : {
           "DEBUG " + target + "Resolving absolute import 'm'",
           "DEBUG " + target + "Found 'm' in \"" + quoted_root + "\"",
           "TRACE " + target + "Could not resolve 'absent'",
           "DEBUG " + target + "Resolving relative import 'gone' with 2 dots from \"" +
               tree.text("pkg") + "\"",
       }) {
    EXPECT_NE(err.find(line + "\n"), std::string::npos) << line << "\nin:\n" << err;
  }
}

}  // namespace
}  // namespace korvane::import_resolver
