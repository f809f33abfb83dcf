// cross_file_bench: one cross-file indexFiles batch over every third-party stub package
// installed as "<name>-stubs" under the system's dist-packages, with the standard-library stub
// tree as typeshedStdlibPath, so pre-indexing and alias chains into the standard library are real.
//
//   cross_file_bench                         # the defaults below
//   cross_file_bench --stdlib DIR --repeat 5 DIR...
//
// Each mode (sequential, parallel) runs in its own child process, so peak RSS is that mode's
// alone. Seconds are the best of --repeat calls of the batch driver; on-demand tables and alias
// resolutions come from one more run of the same steps with the resolver kept for inspection.
// RAYON_NUM_THREADS sizes the worker pool; RUST_LOG=korvane_indexer=debug adds the driver's
// build and pass times.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "cross_file/cross_file_indexer.h"
#include "cross_file/cross_file_resolver.h"
#include "cross_file/parse_cache.h"
#include "indexer/indexer.h"
#include "log/log.h"
#include "util/worker_pool.h"

namespace fs = std::filesystem;
using korvane::indexer::FileIndexResult;
using korvane::indexer::FileToIndex;

namespace {

constexpr const char* kDistPackages = "/usr/lib/python3/dist-packages";
constexpr double kTargetSeconds = 1.0;

struct Options {
  std::optional<std::string> stdlib;
  int repeat = 3;
  std::vector<std::string> roots;
};

struct Stats {
  double seconds = 1e300;
  std::size_t tables_built = 0;  // batch and pre-indexed
  std::size_t on_demand = 0;
  std::size_t alias_resolutions = 0;
  std::size_t symbols = 0;
  std::size_t resolved = 0;  // symbols of kind 2
  std::size_t errors = 0;
  uint64_t digest = 0;  // order-independent fingerprint of every result
};

std::optional<std::string> find_stdlib_stubs() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kDistPackages, ec)) {
    const fs::path candidate = entry.path() / "typeshed" / "stdlib";
    if (fs::exists(candidate / "builtins.pyi", ec)) return candidate.string();
  }
  return std::nullopt;
}

std::vector<std::string> default_roots() {
  std::vector<std::string> roots;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kDistPackages, ec)) {
    if (entry.is_directory(ec) && entry.path().filename().string().ends_with("-stubs")) {
      roots.push_back(entry.path().string());
    }
  }
  std::sort(roots.begin(), roots.end());
  return roots;
}

std::vector<FileToIndex> collect(const std::vector<std::string>& roots) {
  std::vector<FileToIndex> files;
  for (const std::string& root : roots) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
      if (ec) break;
      const fs::path& path = it->path();
      if (path.extension() != ".pyi" || !it->is_regular_file(ec)) continue;
      FileToIndex file;
      file.path = path.string();
      file.is_stub = true;
      files.push_back(std::move(file));
    }
  }
  return files;
}

uint64_t fingerprint(const std::vector<FileIndexResult>& results) {
  uint64_t digest = 0;
  for (const FileIndexResult& result : results) {
    for (const auto& symbol : result.symbols) {
      std::string line = result.path + '\0' + symbol.name + '\0' + std::to_string(symbol.kind) +
                         '\0' + std::to_string(symbol.visibility_flags);
      if (symbol.alias)
        line += '\0' + symbol.alias->module_uri + '\0' + symbol.alias->original_name;
      digest += std::hash<std::string>{}(line);  // a sum ignores the unspecified symbol order
    }
  }
  return digest;
}

Stats measure(const korvane::indexer::Indexer& indexer, const std::vector<FileToIndex>& files,
              bool parallel, int repeat) {
  Stats stats;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<FileIndexResult> results =
        korvane::cross_file::index_batch(indexer, files, parallel);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    stats.seconds = std::min(stats.seconds, elapsed.count());
    if (i == 0) {
      stats.digest = fingerprint(results);
      for (const auto& result : results) {
        stats.errors += result.error ? 1 : 0;
        stats.symbols += result.symbols.size();
        for (const auto& symbol : result.symbols) stats.resolved += symbol.kind == 2 ? 1 : 0;
      }
    }
  }
  // The same steps once more, keeping the resolver to count what the pass built and followed.
  auto parses = std::make_shared<korvane::cross_file::ParseCache>();
  korvane::cross_file::CrossFileResolver resolver(indexer.search_paths(), parses,
                                                  indexer.python_version());
  resolver.build_from_files(files, parallel);
  resolver.preindex_common_stdlib_modules();
  stats.tables_built = resolver.modules().size();
  for (const FileToIndex& file : files) {
    (void)korvane::cross_file::index_file(indexer, file, resolver, *parses);
  }
  stats.on_demand = resolver.modules().size() - stats.tables_built;
  stats.alias_resolutions = resolver.alias_memo_size();
  return stats;
}

// Runs one mode in a child; returns its stats and peak RSS in kB.
std::optional<std::pair<Stats, long>> run_child(const korvane::indexer::Indexer& indexer,
                                                const std::vector<FileToIndex>& files,
                                                bool parallel, int repeat) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::close(fds[0]);
    Stats stats = measure(indexer, files, parallel, repeat);
    const ssize_t written = ::write(fds[1], &stats, sizeof stats);
    ::_exit(written == static_cast<ssize_t>(sizeof stats) ? 0 : 1);
  }
  ::close(fds[1]);
  Stats stats;
  const ssize_t got = ::read(fds[0], &stats, sizeof stats);
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof stats) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return std::pair(stats, usage.ru_maxrss);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stdlib" && i + 1 < argc) {
      options.stdlib = argv[++i];
    } else if (arg == "--repeat" && i + 1 < argc) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      options.roots.push_back(arg);
    }
  }
  if (!options.stdlib) options.stdlib = find_stdlib_stubs();
  if (options.roots.empty()) options.roots = default_roots();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  // RUST_LOG=korvane_indexer=debug shows the driver's own phase times on standard error.
  korvane::log::install_from_environment();
  const Options options = parse_options(argc, argv);
  const std::vector<FileToIndex> files = collect(options.roots);
  if (files.empty()) {
    std::fprintf(stderr, "no .pyi files found\n");
    return 1;
  }
  korvane::import_resolver::ImportResolverConfig paths;
  paths.site_packages_paths.push_back(kDistPackages);
  if (options.stdlib) paths.typeshed_stdlib_path = *options.stdlib;
  korvane::indexer::Indexer indexer;
  indexer.configure_search_paths(paths, korvane::binder::PythonVersion{3, 11});

  // The pool must not start before fork(): the children would inherit it without its threads.
  const std::size_t threads =
      korvane::worker_pool::requested_threads(std::getenv("RAYON_NUM_THREADS"))
          .value_or(std::thread::hardware_concurrency());
  fmt::print("corpus: {} stub files in {} packages; stdlib stubs: {}; pool: {} threads\n",
             files.size(), options.roots.size(), options.stdlib.value_or("(none)"), threads);
  fmt::print("{:<11} {:>9} {:>8} {:>10} {:>8} {:>9} {:>9} {:>7} {:>9}\n", "mode", "seconds",
             "tables", "on-demand", "aliases", "symbols", "resolved", "errors", "peak MB");
  std::optional<uint64_t> digest;
  bool fast_enough = false;
  for (bool parallel : {false, true}) {
    auto run = run_child(indexer, files, parallel, options.repeat);
    if (!run) {
      std::fprintf(stderr, "child run failed\n");
      return 1;
    }
    const auto& [stats, rss_kb] = *run;
    fmt::print("{:<11} {:>9.3f} {:>8} {:>10} {:>8} {:>9} {:>9} {:>7} {:>9.1f}\n",
               parallel ? "parallel" : "sequential", stats.seconds, stats.tables_built,
               stats.on_demand, stats.alias_resolutions, stats.symbols, stats.resolved,
               stats.errors, static_cast<double>(rss_kb) * 1024 / 1e6);
    // Order aside, both modes must give the same results: a difference is a fault, not noise.
    if (digest && *digest != stats.digest) {
      fmt::print("MISMATCH: parallel results differ\n");
      return 1;
    }
    digest = stats.digest;
    if (parallel) fast_enough = stats.seconds < kTargetSeconds;
  }
  fmt::print("target: parallel under {:.1f} s: {}\n", kTargetSeconds,
             fast_enough ? "met" : "missed");
  return 0;
}
