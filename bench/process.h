// What the benchmarks that drive other programs share: a command's output, framing a message,
// and a child process on pipes.
//
//   Child child = spawn_child({binary});         // its stderr goes to /dev/null
//   write_all(child.in, frame(body));
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

namespace korvane::bench {

// The standard output of `command` run by the shell, trailing line breaks dropped; none when it
// cannot run or exits with a failure.
inline std::optional<std::string> command_output(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

inline std::string frame(std::string_view body) {
  return fmt::format("Content-Length: {}\r\n\r\n{}", body.size(), body);
}

// A child with its standard input and output on pipes; `in` is written to, `out` read from.
struct Child {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
};

// Starts `argv` (looked up on PATH), its standard error on /dev/null so that a benchmark's
// table is not mixed with the server's log.
inline Child spawn_child(const std::vector<std::string>& argv) {
  int to_child[2], from_child[2];
  if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(to_child[0], 0);
    ::dup2(from_child[1], 1);
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 2);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1], devnull}) ::close(fd);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  return Child{pid, to_child[1], from_child[0]};
}

// Writes all of `data`; false when the pipe fails first.
inline bool write_all(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace korvane::bench
