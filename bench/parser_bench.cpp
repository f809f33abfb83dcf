// parser_bench: how fast the Python parser reads real code, and what its trees cost in memory,
// next to CPython's own ast.parse on the same files.
//
//   parser_bench                          # python3's standard library (no tests) + typeshed stubs
//   parser_bench --repeat 10 --no-python  # ours only
//   parser_bench DIR_OR_FILE...           # any other corpus
//
// Files are read into memory first: only parsing is timed, on one thread. MB are 10^6 bytes.
#include <sys/resource.h>
#include <unistd.h>

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

#include "process.h"
#include "python/parser.h"
#include "source_files.h"
#include "util/utf8.h"

namespace fs = std::filesystem;

namespace {

using korvane::bench::command_output;

constexpr double kTargetMbPerSecond = 150.0;
constexpr double kTargetArenaRatio = 6.0;
constexpr size_t kWorstRatioMinBytes = 4096;  // tiny files measure the first block, not the tree

struct Options {
  std::string python = "python3";
  int repeat = 5;
  bool run_python = true;
  std::vector<std::string> paths;
};

struct SourceFile {
  std::string path;
  std::string text;
};

struct Corpus {
  std::string name;
  std::vector<SourceFile> files;
  size_t bytes = 0;
  size_t skipped = 0;  // not UTF-8 or unreadable
};

struct Measurement {
  double best_seconds = 0;
  double median_seconds = 0;
  size_t rejected = 0;
  std::string first_rejection;
  size_t arena_bytes = 0;
  double worst_ratio = 0;
  std::string worst_file;
};

using korvane::bench::list_sources;

Corpus load_corpus(std::string name, const std::vector<fs::path>& roots) {
  Corpus corpus{std::move(name), {}, 0, 0};
  for (const auto& root : roots) {
    for (auto& path : list_sources(root)) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      if (!in || korvane::validate_utf8(text.view())) {
        ++corpus.skipped;
        continue;
      }
      corpus.bytes += text.view().size();
      corpus.files.push_back({std::move(path), std::move(text).str()});
    }
  }
  return corpus;
}

// python3's standard library and the third-party stubs Debian's python3-typeshed installs.
std::vector<Corpus> default_corpora(const Options& options) {
  std::vector<Corpus> corpora;
  auto stdlib = command_output(options.python +
                               " -c 'import sysconfig; print(sysconfig.get_paths()[\"stdlib\"])'");
  if (stdlib) corpora.push_back(load_corpus("stdlib", {fs::path(*stdlib)}));
  std::vector<fs::path> stub_dirs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/python3/dist-packages", ec)) {
    if (entry.path().filename().string().ends_with("-stubs")) stub_dirs.push_back(entry.path());
  }
  std::sort(stub_dirs.begin(), stub_dirs.end());
  if (!stub_dirs.empty()) corpora.push_back(load_corpus("typeshed stubs", stub_dirs));
  return corpora;
}

// One untimed pass for the verdicts and the arena, then `repeat` timed passes.
Measurement measure(const Corpus& corpus, int repeat) {
  Measurement m;
  for (const auto& file : corpus.files) {
    auto parsed = korvane::python::parse_module(file.text);
    if (!parsed) {
      if (m.rejected++ == 0) m.first_rejection = file.path + ": " + parsed.error().kind_text();
      continue;
    }
    m.arena_bytes += parsed->arena_bytes();
    double ratio = static_cast<double>(parsed->arena_bytes()) / file.text.size();
    if (file.text.size() >= kWorstRatioMinBytes && ratio > m.worst_ratio) {
      m.worst_ratio = ratio;
      m.worst_file = file.path;
    }
  }
  std::vector<double> seconds;
  for (int i = 0; i < repeat; ++i) {
    size_t accepted = 0;
    auto start = std::chrono::steady_clock::now();
    for (const auto& file : corpus.files)
      accepted += korvane::python::parse_module(file.text) ? 1 : 0;
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (accepted + m.rejected != corpus.files.size()) std::abort();  // verdicts must be stable
  }
  std::sort(seconds.begin(), seconds.end());
  m.best_seconds = seconds.front();
  m.median_seconds = seconds[seconds.size() / 2];
  return m;
}

struct PythonSpeed {
  double mb_per_second;
  std::string version;
};

// CPython's ast.parse over the same files, timing only the parse loop.
std::optional<PythonSpeed> python_speed(const std::string& python,
                                        const std::vector<const Corpus*>& corpora) {
  char list_path[] = "/tmp/parser_bench_files_XXXXXX";
  int fd = ::mkstemp(list_path);
  if (fd < 0) return std::nullopt;
  std::string list;
  for (const auto* corpus : corpora) {
    for (const auto& file : corpus->files) list += file.path + "\n";
  }
  bool written = ::write(fd, list.data(), list.size()) == static_cast<ssize_t>(list.size());
  ::close(fd);
  static constexpr std::string_view kScript =
      "import ast, sys, time, warnings\n"
      "warnings.simplefilter(\"ignore\")\n"
      "paths = open(sys.argv[1], encoding=\"utf-8\").read().splitlines()\n"
      "sources = [open(p, \"rb\").read() for p in paths]\n"
      "start = time.perf_counter()\n"
      "for s in sources:\n"
      "    try: ast.parse(s)\n"
      "    except (SyntaxError, ValueError): pass\n"
      "print(sum(map(len, sources)) / (time.perf_counter() - start) / 1e6, "
      "sys.version.split()[0])\n";
  auto out = written ? command_output(fmt::format("{} -c '{}' {}", python, kScript, list_path))
                     : std::nullopt;
  ::unlink(list_path);
  if (!out) return std::nullopt;
  char* rest = nullptr;
  double speed = std::strtod(out->c_str(), &rest);
  std::string_view version(rest);
  while (!version.empty() && version.front() == ' ') version.remove_prefix(1);
  return PythonSpeed{speed, std::string(version)};
}

void print_row(std::string_view name, size_t files, size_t bytes, const Measurement& m) {
  double mb = bytes / 1e6;
  fmt::print("{:<16} {:>6} {:>8.2f} {:>10.1f} {:>10.1f} {:>10.0f} {:>8.2f}x {:>8.2f}x\n", name,
             files, mb, mb / m.best_seconds, mb / m.median_seconds, files / m.best_seconds,
             static_cast<double>(m.arena_bytes) / bytes, m.worst_ratio);
}

Measurement add(Measurement total, const Measurement& m) {
  total.best_seconds += m.best_seconds;
  total.median_seconds += m.median_seconds;
  total.rejected += m.rejected;
  total.arena_bytes += m.arena_bytes;
  if (m.worst_ratio > total.worst_ratio) {
    total.worst_ratio = m.worst_ratio;
    total.worst_file = m.worst_file;
  }
  return total;
}

double peak_rss_mb() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--no-python") {
      options.run_python = false;
    } else if (arg == "--python" && i + 1 < argc) {
      options.python = argv[++i];
    } else if (arg == "--repeat" && i + 1 < argc) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg.starts_with("--")) {
      fmt::print(stderr,
                 "usage: parser_bench [--repeat N] [--python EXE] [--no-python] [PATH...]\n");
      std::exit(2);
    } else {
      options.paths.emplace_back(arg);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse_options(argc, argv);
  std::vector<Corpus> corpora;
  if (options.paths.empty()) {
    corpora = default_corpora(options);
  } else {
    corpora.push_back(load_corpus("given", {options.paths.begin(), options.paths.end()}));
  }
  fmt::print("{:<16} {:>6} {:>8} {:>10} {:>10} {:>10} {:>9} {:>9}\n", "corpus", "files", "MB",
             "MB/s best", "MB/s med", "files/s", "arena", "worst");
  Measurement total;
  size_t files = 0, bytes = 0;
  std::vector<const Corpus*> measured;
  for (const auto& corpus : corpora) {
    if (corpus.files.empty()) continue;
    Measurement m = measure(corpus, options.repeat);
    print_row(corpus.name, corpus.files.size(), corpus.bytes, m);
    if (m.rejected > 0) fmt::print("  {} rejected, first: {}\n", m.rejected, m.first_rejection);
    if (corpus.skipped > 0)
      fmt::print("  {} files skipped (unreadable or not UTF-8)\n", corpus.skipped);
    total = add(total, m);
    files += corpus.files.size();
    bytes += corpus.bytes;
    measured.push_back(&corpus);
  }
  if (files == 0) {
    fmt::print("no files to parse\n");
    return 1;
  }
  print_row("all", files, bytes, total);
  fmt::print(
      "(arena: tree bytes / source bytes; worst: the largest ratio of a file >= {} bytes: {})\n",
      kWorstRatioMinBytes, total.worst_file);
  double ours = bytes / 1e6 / total.best_seconds;
  if (options.run_python) {
    if (auto theirs = python_speed(options.python, measured)) {
      fmt::print("{} ({}) ast.parse on the same files: {:.1f} MB/s; ours is {:.1f}x faster\n",
                 options.python, theirs->version, theirs->mb_per_second,
                 ours / theirs->mb_per_second);
    } else {
      fmt::print("{} ast.parse could not be measured\n", options.python);
    }
  }
  double ratio = static_cast<double>(total.arena_bytes) / bytes;
  fmt::print("peak RSS {:.0f} MB\n", peak_rss_mb());
  fmt::print("target >= {:.0f} MB/s on one thread: {} ({:.1f} MB/s)\n", kTargetMbPerSecond,
             ours >= kTargetMbPerSecond ? "met" : "MISSED", ours);
  fmt::print("target arena <= {:.0f}x source: {} ({:.2f}x)\n", kTargetArenaRatio,
             ratio <= kTargetArenaRatio ? "met" : "MISSED", ratio);
  return 0;
}
