// parse_check: tells for each file whether the parser accepts it, for the differential scripts.
//
//   parse_check a.py b.py            # files as arguments
//   find . -name '*.py' | parse_check --stdin
//
// One line per file, in input order:
//   <path>\tok
//   <path>\terror\t<kind_text>\t<start>..<end>
//   <path>\tnot-utf8\t<message>        (the parser takes UTF-8 text only; nothing is parsed)
//   <path>\tunreadable\t<message>
// Each line is flushed as soon as it is known, so when a file crashes the parser, the first
// file without a line is the culprit. Exit status: 0, or 1 when some file could not be read.
//
// Files are parsed on a thread with the stack of a oneTBB worker (4 MiB), where the indexer
// parses: a parser that only survives hostile nesting on the 8 MiB main stack would still crash
// the indexer. `--stack-size BYTES` (first argument) changes it.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "python/parser.h"
#include "util/os_error.h"
#include "util/result.h"
#include "util/utf8.h"

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

// Returns false when the file could not be read.
bool check_file(const std::string& path) {
  auto text = read_whole_file(path);
  std::string line;
  if (!text) {
    line = fmt::format("{}\tunreadable\t{}\n", path, text.error());
  } else if (auto bad = korvane::validate_utf8(*text)) {
    line = fmt::format("{}\tnot-utf8\t{}\n", path, bad->message());
  } else {
    auto parsed = korvane::python::parse_module(*text);
    if (parsed) {
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

constexpr size_t kWorkerStackBytes = size_t{4} << 20;

struct Job {
  int argc;
  char** argv;
  int status = 0;
};

int check_all(int argc, char** argv) {
  bool all_read = true;
  if (argc == 2 && std::string_view(argv[1]) == "--stdin") {
    std::string path;
    while (std::getline(std::cin, path)) {
      if (!path.empty()) all_read &= check_file(path);
    }
  } else if (argc < 2 || std::string_view(argv[1]).starts_with("--")) {
    std::fputs("usage: parse_check FILE...\n       parse_check --stdin  (one path per line)\n",
               stderr);
    return 2;
  } else {
    for (int i = 1; i < argc; ++i) all_read &= check_file(argv[i]);
  }
  return all_read ? 0 : 1;
}

void* run_job(void* arg) {
  auto* job = static_cast<Job*>(arg);
  job->status = check_all(job->argc, job->argv);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  size_t stack_bytes = kWorkerStackBytes;
  if (argc >= 3 && std::string_view(argv[1]) == "--stack-size") {
    stack_bytes = std::strtoull(argv[2], nullptr, 10);
    argv[2] = argv[0];
    argc -= 2;
    argv += 2;
  }
  Job job{argc, argv};
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
