// parse_check: tells for each file whether the parser accepts it, for the differential scripts.
//
//   parse_check a.py b.py            # files as arguments
//   find . -name '*.py' | parse_check --stdin
//
// One line per file, in input order:
//   <path>\tok                          (`--dump`: <path>\tok\t<the tree's compact dump>)
//   <path>\terror\t<kind_text>\t<start>..<end>
//   <path>\tnot-utf8\t<message>        (the parser takes UTF-8 text only; nothing is parsed)
//   <path>\tunreadable\t<message>
// Each line is flushed as soon as it is known, so when a file crashes the parser, the first
// file without a line is the culprit. Exit status: 0, or 1 when some file could not be read.
//
// Files are parsed on a thread with the stack of an indexing worker (kWorkerStackBytes of
// util/worker_pool.h), where the indexer parses: a parser that only survives hostile nesting on the
// 8 MiB main stack would still crash the indexer. `--stack-size BYTES` changes it. Options come
// before the files or `--stdin`.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "python/ast_dump.h"
#include "python/parser.h"
#include "util/os_error.h"
#include "util/result.h"
#include "util/utf8.h"
#include "util/worker_pool.h"

namespace {

korvane::Result<std::string> read_whole_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return korvane::Unexpected(korvane::os_error_text(errno));
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      return korvane::Unexpected(korvane::os_error_text(saved));
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

// The indexer parses definitions as outlines: on every input that parse must give the full
// one's verdict, the same first error and the same module-level statements. A difference stops
// the check like a crash, which every differential test reports.
void check_outline(
    const std::string& path, std::string_view text,
    const korvane::Result<korvane::python::ParsedModule, korvane::python::ParseError>& full) {
  auto outline = korvane::python::parse_module(text, korvane::python::ParseDepth::Outline);
  bool same = outline.has_value() == full.has_value();
  if (same && !full) {
    same = outline.error().kind_text() == full.error().kind_text() &&
           outline.error().range == full.error().range;
  } else if (same) {
    same = outline->body().size() == full->body().size();
    for (size_t i = 0; same && i < full->body().size(); ++i) {
      same = outline->body()[i]->kind == full->body()[i]->kind &&
             outline->body()[i]->range == full->body()[i]->range;
    }
  }
  if (!same) {
    std::fprintf(stderr, "parse_check: the outline parse disagrees with the full one on %s\n",
                 path.c_str());
    std::abort();
  }
}

// Returns false when the file could not be read.
bool check_file(const std::string& path, bool dump_tree) {
  auto text = read_whole_file(path);
  std::string line;
  if (!text) {
    line = fmt::format("{}\tunreadable\t{}\n", path, text.error());
  } else if (auto bad = korvane::validate_utf8(*text)) {
    line = fmt::format("{}\tnot-utf8\t{}\n", path, bad->message());
  } else {
    auto parsed = korvane::python::parse_module(*text);
    check_outline(path, *text, parsed);
    if (parsed && dump_tree) {
      line = fmt::format("{}\tok\t{}\n", path, korvane::python::dump(parsed->body()));
    } else if (parsed) {
      line = fmt::format("{}\tok\n", path);
    } else {
      const auto& e = parsed.error();
      line =
          fmt::format("{}\terror\t{}\t{}..{}\n", path, e.kind_text(), e.range.start, e.range.end);
    }
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  return text.has_value();
}

struct Job {
  std::vector<std::string> paths;  // empty: read them from stdin
  bool dump_tree = false;
  int status = 0;
};

void* run_job(void* arg) {
  auto* job = static_cast<Job*>(arg);
  bool all_read = true;
  if (job->paths.empty()) {
    std::string path;
    while (std::getline(std::cin, path)) {
      if (!path.empty()) all_read &= check_file(path, job->dump_tree);
    }
  }
  for (const auto& path : job->paths) all_read &= check_file(path, job->dump_tree);
  job->status = all_read ? 0 : 1;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  size_t stack_bytes = korvane::worker_pool::kWorkerStackBytes;
  Job job;
  bool from_stdin = false;
  int i = 1;
  for (; i < argc && std::string_view(argv[i]).starts_with("--"); ++i) {
    std::string_view option = argv[i];
    if (option == "--stack-size" && i + 1 < argc) {
      stack_bytes = std::strtoull(argv[++i], nullptr, 10);
    } else if (option == "--dump") {
      job.dump_tree = true;
    } else if (option == "--stdin") {
      from_stdin = true;
    } else {
      from_stdin = false;
      i = argc + 1;  // unknown option: show the usage
    }
  }
  job.paths.assign(argv + std::min(i, argc), argv + argc);
  if (i > argc || from_stdin == !job.paths.empty()) {
    std::fputs(
        "usage: parse_check [--dump] [--stack-size BYTES] FILE...\n"
        "       parse_check [--dump] [--stack-size BYTES] --stdin  (one path per line)\n",
        stderr);
    return 2;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_t thread;
  if (pthread_attr_setstacksize(&attr, stack_bytes) != 0 ||
      pthread_create(&thread, &attr, run_job, &job) != 0) {
    std::fputs("parse_check: cannot start the parsing thread\n", stderr);
    return 2;
  }
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return job.status;
}
