// memory_bench: what the server costs in memory while it indexes a whole environment and what it
// keeps afterwards, for as long as the editor runs. Drives the real binary over stdin/stdout, one
// process per run: initialize, one indexFiles request, a ping (so whatever the server does after
// its reply is done), then the server's /proc status is read before shutdown.
//
//   memory_bench                          # both corpora below, every mode
//   memory_bench --quick                  # a short smoke run: 300 files, one repeat, no peer
//   memory_bench --binary OTHER --repeat 5 --corpus environment
//
// Corpora (found through the Pythons installed, never through fixed paths):
//   environment  Debian's typeshed third-party stubs (dist-packages/*-stubs), typeshed's stdlib
//                stubs as mypy ships them, and the system Python's standard library; every
//                file asked for all symbols, search paths with typeshed's stdlib and the
//                dist-packages that hold mypy.
//   stdlib313    CPython 3.13's standard library with its tests (pyenv's 3.13.0), same flags.
//   dense        one generated file of --dense-mib MiB (default 32) of `x=1` lines, plain and
//                cross-file mode, sequential: the peak RSS against the file's size, for a file of
//                millions of statements.
// Modes: plain and cross-file, each sequential and parallel (RAYON_NUM_THREADS sizes the pool).
// Files carry no mtime and size, so what stays after the reply is the server's own; with
// --cache-keys they do, as the extension sends them, and the result cache keeps every result.
//
// elapsedMs is the server's own count (best of --repeat); peak RSS (VmHWM) and RSS after the
// reply (VmRSS) are the largest seen over the repeats; "peak over idle" is the peak less the
// idle server's RSS (after initialize), the request's own memory, against the corpus bytes.
// MiB are 2^20 bytes, MB/s 10^6 bytes.
// The peer is bench/index_peer.py: the plain-mode job written with CPython's ast.parse.
//
// Then a ping's cost after a day's session against a fresh server's (medians of many): 12,000
// file entries indexed in batches of 1,000 with mtime and size, the corpus cycled with a later
// mtime on each pass, so the result cache (10,000 entries) fills and evicts as it does in an
// editor (a quick run indexes 2,000). What the server does after each message must not make later
// small requests dearer. Judged by the server's own CPU time per ping; the round trip is shown too.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "json/writer.h"
#include "process.h"

namespace fs = std::filesystem;

namespace {

using korvane::bench::command_output;

constexpr double kTargetPeakRatio = 4.0;
constexpr double kTargetAfterMiB = 32.0;
constexpr std::size_t kQuickFiles = 300;
constexpr double kTargetPingRatio = 1.5;
constexpr double kTargetDenseRatio = 16.0;
constexpr int kQuickDenseMiB = 2;

struct Options {
  std::string binary = KORVANE_BINARY_PATH;
  std::string peer_python = "python3";
  std::string peer = std::string(KORVANE_SOURCE_DIR) + "/bench/index_peer.py";
  int repeat = 3;
  bool quick = false;
  bool run_peer = true;
  bool cache_keys = false;           // mtime and size, so the result cache keeps every result
  std::vector<std::string> corpora;  // empty: all
  int dense_mib = 32;
};

struct CorpusFile {
  std::string path;
  bool is_stub = false;
  uint64_t size = 0;
  int64_t mtime = 0;
};

struct Corpus {
  std::string name;
  std::vector<CorpusFile> files;
  uint64_t bytes = 0;
  std::string search_paths;  // the request's searchPaths object
};

struct Measure {
  uint64_t elapsed_ms = UINT64_MAX;
  uint64_t idle_kb = 0;  // after initialize, before the request
  uint64_t peak_kb = 0;
  uint64_t after_kb = 0;
  std::size_t errors = 0;
  std::size_t reply_bytes = 0;
};

// A Python's stdlib directory; `env` pins a pyenv version (ignored where pyenv is absent).
std::optional<std::string> python_path(std::string_view env, std::string_view expression) {
  return command_output(fmt::format("{} python3 -c '{}' 2>/dev/null", env, expression));
}

void add_tree(Corpus& corpus, const fs::path& root) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
    if (ec) break;
    const auto ext = it->path().extension();
    if ((ext == ".py" || ext == ".pyi") && it->is_regular_file(ec)) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  for (const auto& p : found) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) continue;
    corpus.files.push_back({p.string(), p.extension() == ".pyi", static_cast<uint64_t>(st.st_size),
                            static_cast<int64_t>(st.st_mtime)});
    corpus.bytes += static_cast<uint64_t>(st.st_size);
  }
}

// Where Debian's typeshed packages live: mypy's own directory and the dist-packages above it.
struct Typeshed {
  fs::path dist_packages;
  fs::path stdlib_stubs;
};

std::optional<Typeshed> find_typeshed() {
  auto mypy =
      python_path("PYENV_VERSION=system", "import mypy, os; print(os.path.dirname(mypy.__file__))");
  if (!mypy) return std::nullopt;
  Typeshed t{fs::path(*mypy).parent_path(), fs::path(*mypy) / "typeshed" / "stdlib"};
  if (!fs::exists(t.stdlib_stubs / "builtins.pyi")) return std::nullopt;
  return t;
}

std::string search_paths_json(const Typeshed& t) {
  std::string out = R"({"typeshedStdlibPath":)";
  korvane::json::append_quoted(out, t.stdlib_stubs.string());
  out += R"(,"sitePackagesPaths":[)";
  korvane::json::append_quoted(out, t.dist_packages.string());
  return out + "]}";
}

std::optional<Corpus> environment_corpus(const Typeshed& t) {
  auto stdlib = python_path("PYENV_VERSION=system",
                            "import sysconfig; print(sysconfig.get_paths()[\"stdlib\"])");
  if (!stdlib) return std::nullopt;
  Corpus corpus{"environment", {}, 0, search_paths_json(t)};
  std::vector<fs::path> stub_dirs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(t.dist_packages, ec)) {
    if (entry.path().filename().string().ends_with("-stubs")) stub_dirs.push_back(entry.path());
  }
  std::sort(stub_dirs.begin(), stub_dirs.end());
  for (const auto& dir : stub_dirs) add_tree(corpus, dir);
  add_tree(corpus, t.stdlib_stubs);
  add_tree(corpus, *stdlib);
  return corpus;
}

std::optional<Corpus> stdlib313_corpus(const Typeshed& t) {
  auto stdlib = python_path("PYENV_VERSION=3.13.0",
                            "import sys, sysconfig; assert sys.version_info[:2] == (3, 13); "
                            "print(sysconfig.get_paths()[\"stdlib\"])");
  if (!stdlib) return std::nullopt;
  Corpus corpus{"stdlib313", {}, 0, search_paths_json(t)};
  add_tree(corpus, *stdlib);
  return corpus;
}

std::string files_json(const Corpus& corpus, bool cache_keys) {
  std::string out = "[";
  for (const auto& file : corpus.files) {
    if (out.size() > 1) out += ',';
    out += "{\"path\":";
    korvane::json::append_quoted(out, file.path);
    out += fmt::format(R"(,"includeAllSymbols":true,"isStub":{})", file.is_stub);
    if (cache_keys) out += fmt::format(R"(,"mtime":{},"size":{})", file.mtime, file.size);
    out += '}';
  }
  return out + "]";
}

// One server process with pipes to its standard input and output.
class Server {
 public:
  explicit Server(const std::string& binary) {
    const korvane::bench::Child child = korvane::bench::spawn_child({binary});
    pid_ = child.pid;
    in_ = child.in;
    out_ = child.out;
  }

  // Sends one message and returns the body of the next reply.
  std::string call(const std::string& body) {
    if (!korvane::bench::write_all(in_, korvane::bench::frame(body))) {
      fail("write to the server failed");
    }
    return read_reply();
  }

  // A line of /proc/<pid>/status, in kB.
  uint64_t status_kb(std::string_view field) const {
    std::ifstream status(fmt::format("/proc/{}/status", pid_));
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
        return std::strtoull(line.c_str() + field.size() + 1, nullptr, 10);
      }
    }
    return 0;
  }

  pid_t pid() const { return pid_; }

  // The CPU time of the server's main thread, which handles every message, in nanoseconds.
  uint64_t cpu_ns() const {
    std::ifstream schedstat(fmt::format("/proc/{}/schedstat", pid_));
    uint64_t ns = 0;
    schedstat >> ns;
    return ns;
  }

  void finish() {
    call(R"({"jsonrpc":"2.0","id":99,"method":"shutdown"})");
    ::close(in_);
    ::close(out_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the server did not exit cleanly");
  }

 private:
  [[noreturn]] static void fail(const char* what) {
    fmt::print(stderr, "{}\n", what);
    std::exit(1);
  }

  std::string read_reply() {
    for (;;) {
      const auto end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        const auto at = buffer_.find("Content-Length:");
        if (at == std::string::npos || at > end) fail("reply without Content-Length");
        const std::size_t length = std::strtoull(buffer_.c_str() + at + 15, nullptr, 10);
        if (buffer_.size() >= end + 4 + length) {
          std::string body = buffer_.substr(end + 4, length);
          buffer_.erase(0, end + 4 + length);
          return body;
        }
      }
      char chunk[1 << 16];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) fail("the server closed its output");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
};

std::size_t count(const std::string& text, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

Measure run_once(const Options& options, const Corpus& corpus, const std::string& files,
                 bool parallel, bool cross_file) {
  Server server(options.binary);
  server.call(fmt::format(R"({{"jsonrpc":"2.0","id":1,"method":"initialize","params":)"
                          R"({{"protocolVersion":"1.0.0","featureFlags":)"
                          R"({{"parallel":{},"crossFileResolution":{}}}}}}})",
                          parallel, cross_file));
  const uint64_t idle_kb = server.status_kb("VmRSS");
  const std::string reply =
      server.call(R"({"jsonrpc":"2.0","id":2,"method":"indexFiles","params":{"files":)" + files +
                  R"(,"searchPaths":)" + corpus.search_paths + "}}");
  server.call(R"({"jsonrpc":"2.0","id":3,"method":"ping"})");
  Measure m;
  m.idle_kb = idle_kb;
  m.peak_kb = server.status_kb("VmHWM");
  m.after_kb = server.status_kb("VmRSS");
  server.finish();
  const auto at = reply.find("\"elapsedMs\":");
  if (at == std::string::npos) {
    fmt::print(stderr, "no indexFiles result in the reply:\n{}\n", reply.substr(0, 2000));
    std::exit(1);
  }
  m.elapsed_ms = std::strtoull(reply.c_str() + at + 12, nullptr, 10);
  m.errors = count(reply, "\"error\":");
  m.reply_bytes = reply.size();
  return m;
}

Measure run_mode(const Options& options, const Corpus& corpus, const std::string& files,
                 bool parallel, bool cross_file) {
  Measure best;
  for (int i = 0; i < options.repeat; ++i) {
    const Measure m = run_once(options, corpus, files, parallel, cross_file);
    best.elapsed_ms = std::min(best.elapsed_ms, m.elapsed_ms);
    best.peak_kb = std::max(best.peak_kb, m.peak_kb);
    best.after_kb = std::max(best.after_kb, m.after_kb);
    best.idle_kb = std::max(best.idle_kb, m.idle_kb);
    best.errors = m.errors;
    best.reply_bytes = m.reply_bytes;
  }
  return best;
}

std::optional<double> run_peer(const Options& options, const std::string& files) {
  if (!options.run_peer) return std::nullopt;
  const std::string input =
      fs::temp_directory_path() / fmt::format("memory_bench_{}.json", ::getpid());
  std::ofstream(input) << files;
  const auto start = std::chrono::steady_clock::now();
  auto out =
      command_output(fmt::format("{} '{}' < '{}'", options.peer_python, options.peer, input));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove(input);
  if (!out) return std::nullopt;
  return seconds;
}

double mib(uint64_t kb) { return static_cast<double>(kb) / 1024.0; }

void report(const Options& options, const Corpus& corpus) {
  const std::string files = files_json(corpus, options.cache_keys);
  const double corpus_mib = static_cast<double>(corpus.bytes) / (1 << 20);
  fmt::print("{}: {} files, {:.1f} MiB\n", corpus.name, corpus.files.size(), corpus_mib);
  fmt::print(
      "| mode | elapsedMs | MB/s | peak RSS | RSS after the reply | peak over idle | reply | "
      "errors "
      "|\n");
  fmt::print("|---|---|---|---|---|---|---|---|\n");
  std::optional<uint64_t> plain_sequential_ms;
  bool met = true;
  for (const bool cross_file : {false, true}) {
    for (const bool parallel : {false, true}) {
      const Measure m = run_mode(options, corpus, files, parallel, cross_file);
      const double mbps = static_cast<double>(corpus.bytes) / 1e3 /
                          static_cast<double>(std::max<uint64_t>(m.elapsed_ms, 1));
      const double ratio = mib(m.peak_kb) / corpus_mib;
      const double over_idle = mib(m.peak_kb - std::min(m.peak_kb, m.idle_kb)) / corpus_mib;
      fmt::print(
          "| {}{} | {} | {:.1f} | {:.0f} MiB ({:.1f}x) | {:.0f} MiB ({:.1f}x) | {:.1f}x | {:.1f} "
          "MiB | "
          "{} |\n",
          cross_file ? "cross-file" : "plain", parallel ? ", parallel" : "", m.elapsed_ms, mbps,
          mib(m.peak_kb), ratio, mib(m.after_kb), mib(m.after_kb) / corpus_mib, over_idle,
          static_cast<double>(m.reply_bytes) / (1 << 20), m.errors);
      if (!cross_file && !parallel) plain_sequential_ms = m.elapsed_ms;
      if (cross_file && over_idle > kTargetPeakRatio) met = false;
      if (mib(m.after_kb) > kTargetAfterMiB) met = false;
    }
  }
  fmt::print("targets (cross-file peak over idle <= {}x the corpus, RSS after <= {} MiB): {}{}\n",
             kTargetPeakRatio, kTargetAfterMiB, met ? "met" : "NOT met",
             options.quick ? " (a quick run's corpus is too small for the ratios)" : "");
  if (auto peer = run_peer(options, files); peer && plain_sequential_ms) {
    fmt::print(
        "ast.parse peer (index_peer.py): {:.3f} s, {:.1f} MB/s; plain sequential is {:.1f}x "
        "faster\n",
        *peer, static_cast<double>(corpus.bytes) / 1e6 / *peer,
        *peer * 1e3 / static_cast<double>(std::max<uint64_t>(*plain_sequential_ms, 1)));
  }
  fmt::print("\n");
}

struct SessionShape {
  std::size_t files;
  std::size_t batch;
  int rounds;  // of kPingBlock pings on each server, taking turns
};
constexpr SessionShape kSession{12000, 1000, 40};
constexpr SessionShape kQuickSession{2000, 1000, 4};
constexpr int kPingBlock = 100;

// Entries [first, first + count) of the session: the corpus cycled, each pass one second later.
std::string session_batch_json(const Corpus& corpus, std::size_t first, std::size_t count) {
  std::string out = "[";
  for (std::size_t i = first; i < first + count; ++i) {
    const CorpusFile& file = corpus.files[i % corpus.files.size()];
    const auto pass = static_cast<int64_t>(i / corpus.files.size());
    if (out.size() > 1) out += ',';
    out += "{\"path\":";
    korvane::json::append_quoted(out, file.path);
    out += fmt::format(R"(,"includeAllSymbols":true,"isStub":{},"mtime":{},"size":{}}})",
                       file.is_stub, file.mtime + pass, file.size);
  }
  return out + "]";
}

std::string initialize_json(bool parallel, bool cross_file) {
  return fmt::format(R"({{"jsonrpc":"2.0","id":1,"method":"initialize","params":)"
                     R"({{"protocolVersion":"1.0.0","featureFlags":)"
                     R"({{"parallel":{},"crossFileResolution":{}}}}}}})",
                     parallel, cross_file);
}

// Microseconds per ping over blocks of pings: the round trip, and the server's own CPU time.
struct PingCost {
  std::vector<double> round_trip;
  std::vector<double> cpu;
};

void ping_block(Server& server, PingCost& cost) {
  const std::string ping = R"({"jsonrpc":"2.0","id":3,"method":"ping"})";
  const uint64_t cpu_start = server.cpu_ns();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kPingBlock; ++i) server.call(ping);
  const double took =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  cost.round_trip.push_back(took / kPingBlock);
  cost.cpu.push_back(static_cast<double>(server.cpu_ns() - cpu_start) / 1e3 / kPingBlock);
}

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// The two servers take turns, block by block, so that the machine's load weighs on both alike;
// the verdict is on the server's CPU time, which a busy machine's scheduling delays do not blur.
// Puts this process and every thread of `pids` on the processor this thread runs on, until it goes
// out of scope (the servers end within it). A ping is a few microseconds of work; where the
// scheduler left a server after a parallel session, a ping may wake it on another, idle
// processor, and that wake-up costs the server several times the ping itself. With both servers
// on the client's processor, their own work alone compares.
class OneProcessor {
 public:
  explicit OneProcessor(std::initializer_list<pid_t> pids) {
    const int cpu = ::sched_getcpu();
    if (cpu < 0 || ::sched_getaffinity(0, sizeof(saved_), &saved_) != 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pinned_ = ::sched_setaffinity(0, sizeof(one), &one) == 0;
    for (const pid_t pid : pids) {
      std::error_code ec;
      for (const auto& task : fs::directory_iterator(fmt::format("/proc/{}/task", pid), ec)) {
        ::sched_setaffinity(std::atoi(task.path().filename().c_str()), sizeof(one), &one);
      }
    }
  }
  ~OneProcessor() {
    if (pinned_) ::sched_setaffinity(0, sizeof(saved_), &saved_);
  }
  OneProcessor(const OneProcessor&) = delete;
  OneProcessor& operator=(const OneProcessor&) = delete;

 private:
  cpu_set_t saved_{};
  bool pinned_ = false;
};

void report_ping_after_session(const Options& options, const Corpus& corpus) {
  const SessionShape shape = options.quick ? kQuickSession : kSession;
  Server session(options.binary);
  session.call(initialize_json(true, false));
  for (std::size_t first = 0; first < shape.files; first += shape.batch) {
    const std::size_t count = std::min(shape.batch, shape.files - first);
    session.call(R"({"jsonrpc":"2.0","id":2,"method":"indexFiles","params":{"files":)" +
                 session_batch_json(corpus, first, count) + R"(,"searchPaths":)" +
                 corpus.search_paths + "}}");
  }
  Server fresh(options.binary);
  fresh.call(initialize_json(true, false));
  const OneProcessor pinned({session.pid(), fresh.pid()});
  PingCost after_session;
  PingCost on_fresh;
  for (int round = 0; round < shape.rounds; ++round) {
    ping_block(session, after_session);
    ping_block(fresh, on_fresh);
  }
  const uint64_t after_kb = session.status_kb("VmRSS");
  session.finish();
  fresh.finish();
  const double ratio = median(after_session.cpu) / std::max(median(on_fresh.cpu), 1e-3);
  fmt::print(
      "ping after a session of {} files ({} per batch, parallel; RSS {:.0f} MiB): {:.1f} us server "
      "CPU, {:.1f} us round trip; on a fresh server: {:.1f} us, {:.1f} us; "
      "CPU {:.2f}x (target <= {}x: {})\n\n",
      shape.files, shape.batch, mib(after_kb), median(after_session.cpu),
      median(after_session.round_trip), median(on_fresh.cpu), median(on_fresh.round_trip), ratio,
      kTargetPingRatio, ratio <= kTargetPingRatio ? "met" : "NOT met");
}

// A file of `mib` MiB of module-level `x=1` lines: one name bound millions of times, the most
// statements per byte a plain module has. Plain mode, sequential: one file gets one thread anyway.
void report_dense(const Options& options) {
  const fs::path path =
      fs::temp_directory_path() / fmt::format("memory_bench_dense_{}.py", ::getpid());
  const uint64_t bytes = static_cast<uint64_t>(options.dense_mib) << 20;
  {
    const std::string line = "x=1\n";
    std::string chunk;
    for (std::size_t i = 0; i < (std::size_t{1} << 20) / line.size(); ++i) chunk += line;
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < options.dense_mib; ++i) out << chunk;
  }
  Corpus corpus{"dense", {{path.string(), false, bytes, 0}}, bytes, "{}"};
  const std::string files = files_json(corpus, false);
  const Measure plain = run_mode(options, corpus, files, /*parallel=*/false, /*cross_file=*/false);
  const Measure cross = run_mode(options, corpus, files, /*parallel=*/false, /*cross_file=*/true);
  fs::remove(path);
  const double file_mib = static_cast<double>(options.dense_mib);
  fmt::print("dense: one file of {} MiB of `x=1` lines, sequential\n", options.dense_mib);
  fmt::print(
      "| mode | elapsedMs | MB/s | peak RSS | peak over idle | errors | target (<= {}x) |\n"
      "|---|---|---|---|---|---|---|\n",
      kTargetDenseRatio);
  for (const auto& [mode, m] : {std::pair{"plain", plain}, std::pair{"cross-file", cross}}) {
    const double ratio = mib(m.peak_kb) / file_mib;
    fmt::print(
        "| {} | {} | {:.1f} | {:.0f} MiB ({:.1f}x) | {:.1f}x | {} | {} |\n", mode, m.elapsed_ms,
        static_cast<double>(bytes) / 1e3 / static_cast<double>(std::max<uint64_t>(m.elapsed_ms, 1)),
        mib(m.peak_kb), ratio, mib(m.peak_kb - std::min(m.peak_kb, m.idle_kb)) / file_mib, m.errors,
        ratio <= kTargetDenseRatio ? "met" : "NOT met");
  }
  if (options.quick) fmt::print("(a quick run's file is too small for the ratio)\n");
  fmt::print("\n");
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--binary" && i + 1 < argc) {
      o.binary = argv[++i];
    } else if (arg == "--python" && i + 1 < argc) {
      o.peer_python = argv[++i];
    } else if (arg == "--repeat" && i + 1 < argc) {
      o.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--corpus" && i + 1 < argc) {
      o.corpora.emplace_back(argv[++i]);
    } else if (arg == "--cache-keys") {
      o.cache_keys = true;
    } else if (arg == "--no-peer") {
      o.run_peer = false;
    } else if (arg == "--quick") {
      o.quick = true;
    } else if (arg == "--dense-mib" && i + 1 < argc) {
      o.dense_mib = std::max(1, std::atoi(argv[++i]));
    } else {
      fmt::print(stderr,
                 "usage: memory_bench [--binary PATH] [--python PATH] [--repeat N] "
                 "[--corpus environment|stdlib313|dense]... [--dense-mib N] [--no-peer] "
                 "[--cache-keys] [--quick]\n");
      std::exit(2);
    }
  }
  if (o.quick) {
    o.repeat = 1;
    o.run_peer = false;
    o.dense_mib = std::min(o.dense_mib, kQuickDenseMiB);
    if (o.corpora.empty()) o.corpora = {"environment", "dense"};
  }
  return o;
}

bool wanted(const Options& o, std::string_view name) {
  return o.corpora.empty() ||
         std::find(o.corpora.begin(), o.corpora.end(), name) != o.corpora.end();
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const Options options = parse_options(argc, argv);
  const auto typeshed = find_typeshed();
  if (!typeshed) {
    fmt::print(stderr, "no typeshed stubs found (install python3-typeshed and python3-mypy)\n");
    return 1;
  }
  fmt::print("{} threads\n", std::thread::hardware_concurrency());
  bool ran = false;
  for (const auto& [name, make] :
       {std::pair{"environment", &environment_corpus}, std::pair{"stdlib313", &stdlib313_corpus}}) {
    if (!wanted(options, name)) continue;
    std::optional<Corpus> corpus = make(*typeshed);
    if (!corpus || corpus->files.empty()) {
      fmt::print(stderr, "{}: corpus not found, skipped\n", name);
      continue;
    }
    if (options.quick && corpus->files.size() > kQuickFiles) {
      corpus->files.resize(kQuickFiles);
      corpus->bytes = 0;
      for (const auto& file : corpus->files) corpus->bytes += file.size;
    }
    report(options, *corpus);
    if (!ran) report_ping_after_session(options, *corpus);
    ran = true;
  }
  if (wanted(options, "dense")) {
    report_dense(options);
    ran = true;
  }
  return ran ? 0 : 1;
}
