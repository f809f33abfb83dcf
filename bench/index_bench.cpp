// index_bench: what a user waits for when the editor asks for the symbols of a whole
// environment. Drives the real binary over stdin/stdout with one indexFiles request, next to
// bench/index_peer.py, the same plain-mode job written with python3's `ast` module.
//
//   index_bench                                  # python3's stdlib + Debian's typeshed stubs
//   index_bench --binary build/release/korvane-indexer --repeat 5 --no-python
//   index_bench DIR_OR_FILE...                   # any other corpus
//
// Two request shapes: every file with includeAllSymbols, and files as the extension sends
// them (stubs flagged, plain files asked only for their __all__). Each runs sequentially and
// with the parallel flag (RAYON_NUM_THREADS sizes the pool). Times are wall seconds from
// spawning the process to its exit, best of --repeat runs; peak RSS is the server's maximum
// resident set. MB are 10^6 bytes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "json/writer.h"
#include "process.h"

namespace fs = std::filesystem;

namespace {

using korvane::bench::command_output;
using korvane::bench::frame;

constexpr double kTargetPeerRatio = 30.0;
constexpr double kTargetParallelSpeedup = 5.0;
constexpr double kTargetRssRatio = 4.0;

struct Options {
  std::string binary = KORVANE_BINARY_PATH;
  std::string python = "python3";
  std::string peer = std::string(KORVANE_SOURCE_DIR) + "/bench/index_peer.py";
  int repeat = 3;
  bool run_python = true;
  std::vector<std::string> paths;
};

struct CorpusFile {
  std::string path;
  bool is_stub = false;
};

struct Corpus {
  std::vector<CorpusFile> files;
  uint64_t bytes = 0;
};

struct Run {
  double seconds = 0;
  uint64_t elapsed_ms = 0;  // the server's own count for the request
  long peak_rss_kb = 0;
  std::size_t symbols = 0;
  std::size_t errors = 0;
  std::string output;
};

void add_tree(Corpus& corpus, const fs::path& root) {
  std::error_code ec;
  auto add = [&](const fs::path& p) {
    const auto ext = p.extension();
    if (ext != ".py" && ext != ".pyi") return;
    corpus.files.push_back({p.string(), ext == ".pyi"});
    corpus.bytes += fs::file_size(p, ec);
  };
  if (fs::is_regular_file(root, ec)) return add(root);
  for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec)) add(it->path());
  }
}

Corpus default_corpus(const Options& options) {
  Corpus corpus;
  if (auto stdlib = command_output(
          options.python + " -c 'import sysconfig; print(sysconfig.get_paths()[\"stdlib\"])'")) {
    add_tree(corpus, *stdlib);
  }
  std::error_code ec;
  std::vector<fs::path> stub_dirs;
  for (const auto& entry : fs::directory_iterator("/usr/lib/python3/dist-packages", ec)) {
    if (entry.path().filename().string().ends_with("-stubs")) stub_dirs.push_back(entry.path());
  }
  std::sort(stub_dirs.begin(), stub_dirs.end());
  for (const auto& dir : stub_dirs) add_tree(corpus, dir);
  return corpus;
}

// The `files` array of the request: every file asked for all symbols, or as the extension
// sends them.
std::string files_json(const Corpus& corpus, bool all_symbols) {
  std::string out = "[";
  for (const auto& file : corpus.files) {
    if (out.size() > 1) out += ',';
    out += "{\"path\":";
    korvane::json::append_quoted(out, file.path);
    out += fmt::format(",\"includeAllSymbols\":{},\"isStub\":{}}}", all_symbols, file.is_stub);
  }
  return out + "]";
}

// Spawns `argv` with `input` on its standard input; returns its standard output, wall time and
// peak resident set.
Run run_process(const std::vector<std::string>& argv, const std::string& input) {
  const auto start = std::chrono::steady_clock::now();
  const korvane::bench::Child child = korvane::bench::spawn_child(argv);
  std::thread writer([&] {
    korvane::bench::write_all(child.in, input);
    ::close(child.in);
  });
  Run run;
  char buffer[1 << 16];
  ssize_t n;
  while ((n = ::read(child.out, buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(child.out);
  writer.join();
  int status = 0;
  struct rusage usage {};
  ::wait4(child.pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peak_rss_kb = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fmt::print(stderr, "{} exited with status {}\n", argv[0], status);
    std::exit(1);
  }
  return run;
}

std::size_t count(const std::string& text, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

Run run_server(const Options& options, const std::string& files, bool parallel) {
  const std::string input =
      frame(fmt::format(R"({{"jsonrpc":"2.0","id":1,"method":"initialize","params":)"
                        R"({{"protocolVersion":"1.0.0","featureFlags":)"
                        R"({{"parallel":{},"crossFileResolution":false}}}}}})",
                        parallel)) +
      frame(R"({"jsonrpc":"2.0","id":2,"method":"indexFiles","params":{"files":)" + files + "}}") +
      frame(R"({"jsonrpc":"2.0","id":3,"method":"shutdown"})");
  Run best;
  for (int i = 0; i < options.repeat; ++i) {
    Run run = run_process({options.binary}, input);
    if (i == 0 || run.seconds < best.seconds) best = std::move(run);
  }
  const auto at = best.output.find("\"elapsedMs\":");
  if (at == std::string::npos) {
    fmt::print(stderr, "no indexFiles result in the reply:\n{}\n", best.output.substr(0, 2000));
    std::exit(1);
  }
  best.elapsed_ms = std::strtoull(best.output.c_str() + at + 12, nullptr, 10);
  best.symbols = count(best.output, "\"visibilityFlags\":");
  best.errors = count(best.output, "\"error\":");
  best.output.clear();
  return best;
}

std::optional<Run> run_peer(const Options& options, const std::string& files) {
  if (!options.run_python) return std::nullopt;
  Run run = run_process({options.python, options.peer}, files);
  while (!run.output.empty() && run.output.back() == '\n') run.output.pop_back();
  return run;
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--binary" && i + 1 < argc) {
      o.binary = argv[++i];
    } else if (arg == "--python" && i + 1 < argc) {
      o.python = argv[++i];
    } else if (arg == "--repeat" && i + 1 < argc) {
      o.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--no-python") {
      o.run_python = false;
    } else {
      o.paths.emplace_back(arg);
    }
  }
  return o;
}

void report(const char* shape, const Corpus& corpus, const Run& sequential, const Run& parallel,
            const std::optional<Run>& peer) {
  const double mb = static_cast<double>(corpus.bytes) / 1e6;
  const auto row = [&](const char* who, const Run& r) {
    fmt::print(
        "  {:<12} {:>8.3f} s {:>8.0f} files/s {:>7.1f} MB/s {:>8} symbols {:>5} errors "
        "{:>7.1f} MB peak RSS (server {} ms)\n",
        who, r.seconds, static_cast<double>(corpus.files.size()) / r.seconds, mb / r.seconds,
        r.symbols, r.errors, static_cast<double>(r.peak_rss_kb) / 1e3, r.elapsed_ms);
  };
  fmt::print("{}: {} files, {:.1f} MB\n", shape, corpus.files.size(), mb);
  row("sequential", sequential);
  row("parallel", parallel);
  const double speedup = sequential.seconds / parallel.seconds;
  fmt::print("  parallel speed-up {:.2f}x (target >= {}x on 8 cores; {} cores here)\n", speedup,
             kTargetParallelSpeedup, std::thread::hardware_concurrency());
  const double rss = static_cast<double>(std::max(sequential.peak_rss_kb, parallel.peak_rss_kb)) *
                     1e3 / static_cast<double>(corpus.bytes);
  fmt::print("  peak RSS / corpus bytes {:.2f} (target <= {})\n", rss, kTargetRssRatio);
  if (peer) {
    fmt::print("  ast peer     {:>8.3f} s  {}\n", peer->seconds, peer->output);
    fmt::print("  peer / ours: sequential {:.1f}x (target >= {}x), parallel {:.1f}x\n",
               peer->seconds / sequential.seconds, kTargetPeerRatio,
               peer->seconds / parallel.seconds);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const Options options = parse_options(argc, argv);
  Corpus corpus;
  if (options.paths.empty()) {
    corpus = default_corpus(options);
  } else {
    for (const auto& p : options.paths) add_tree(corpus, p);
  }
  if (corpus.files.empty()) {
    fmt::print(stderr, "no .py or .pyi files found\n");
    return 1;
  }
  for (const bool all_symbols : {true, false}) {
    const std::string files = files_json(corpus, all_symbols);
    const Run sequential = run_server(options, files, false);
    const Run parallel = run_server(options, files, true);
    const auto peer = run_peer(options, files);
    report(all_symbols ? "all symbols" : "as the extension sends them", corpus, sequential,
           parallel, peer);
  }
  return 0;
}
