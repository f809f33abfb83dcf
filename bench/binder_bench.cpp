// binder_bench: what binding costs next to parsing, on real code.
//
//   binder_bench                 # python3's standard library (no tests) + installed stub packages
//   binder_bench --repeat 10     # more timed passes
//   binder_bench DIR_OR_FILE...  # any other corpus
//
// Every file is parsed once up front; then parsing and binding are timed separately over the
// whole corpus, on one thread. Binding is read as a stub with a configured version, so version
// tests are evaluated and hidden candidates tracked. MB are 10^6 bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "binder/binder.h"
#include "python/parser.h"
#include "source_files.h"
#include "util/utf8.h"

namespace fs = std::filesystem;

namespace {

// Binding must stay a small part of a file's indexing; parsing is the bulk of it.
constexpr double kTargetBindShareOfParse = 0.25;

struct SourceFile {
  std::string path;
  std::string text;
};

void add_sources(const fs::path& root, std::vector<SourceFile>& files) {
  for (auto& path : korvane::bench::list_sources(root)) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || korvane::validate_utf8(text.view())) continue;
    files.push_back({std::move(path), std::move(text).str()});
  }
}

std::vector<fs::path> default_roots() {
  std::vector<fs::path> roots;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib", ec)) {
    auto name = entry.path().filename().string();
    if (name.starts_with("python3.") && fs::exists(entry.path() / "os.py")) {
      roots.push_back(entry.path());
    }
  }
  for (const auto& entry : fs::directory_iterator("/usr/lib/python3/dist-packages", ec)) {
    if (entry.path().filename().string().ends_with("-stubs")) roots.push_back(entry.path());
  }
  std::sort(roots.begin(), roots.end());
  return roots;
}

template <class F>
double best_of(int repeat, F&& pass) {
  double best = 1e300;
  for (int i = 0; i < repeat; ++i) {
    auto start = std::chrono::steady_clock::now();
    pass();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  std::vector<fs::path> roots;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg.starts_with("--")) {
      fmt::print(stderr, "usage: binder_bench [--repeat N] [PATH...]\n");
      return 2;
    } else {
      roots.emplace_back(arg);
    }
  }
  if (roots.empty()) roots = default_roots();
  std::vector<SourceFile> files;
  for (const auto& root : roots) add_sources(root, files);

  std::vector<korvane::python::ParsedModule> modules;
  size_t bytes = 0;
  for (const auto& file : files) {
    auto parsed = korvane::python::parse_module(file.text);
    if (!parsed) continue;
    bytes += file.text.size();
    modules.push_back(std::move(parsed).value());
  }
  if (modules.empty()) {
    fmt::print("no files to bind\n");
    return 1;
  }

  size_t symbols = 0;
  const double parse_seconds = best_of(repeat, [&] {
    for (const auto& module : modules) {
      if (!korvane::python::parse_module(module.source())) std::abort();
    }
  });
  const double bind_seconds = best_of(repeat, [&] {
    symbols = 0;
    for (const auto& module : modules) {
      korvane::binder::FileInfo info{"bench", true, false, korvane::binder::PythonVersion{3, 12}};
      auto result = korvane::binder::Binder(std::move(info)).bind_module(module.body());
      symbols += result.module_scope.symbol_map.size();
    }
  });

  const double mb = bytes / 1e6;
  const double share = bind_seconds / parse_seconds;
  fmt::print("{} files, {:.2f} MB, {} module-level symbols\n", modules.size(), mb, symbols);
  fmt::print("parse: {:.1f} ms ({:.1f} MB/s)\n", parse_seconds * 1e3, mb / parse_seconds);
  fmt::print("bind:  {:.1f} ms ({:.1f} MB/s, {:.0f} symbols/ms)\n", bind_seconds * 1e3,
             mb / bind_seconds, symbols / (bind_seconds * 1e3));
  fmt::print("target bind <= {:.0f}% of parse: {} ({:.1f}%)\n", kTargetBindShareOfParse * 100,
             share <= kTargetBindShareOfParse ? "met" : "MISSED", share * 100);
  return 0;
}
