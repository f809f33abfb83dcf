// Drives the built korvane-indexer binary: spawn it with arguments and environment, write raw
// bytes to its standard input, collect standard output, standard error and the exit status.
//
//   using namespace korvane::e2e;
//   RunResult r = run(frame(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"));
//   EXPECT_EQ(r.status, 0);
//   EXPECT_THAT(r.bodies(), ElementsAre(HasSubstr(R"("pong":true)")));
//   EXPECT_TRUE(r.logged("Shutdown complete, exiting"));
//
//   Process p(Options().with_env("RUST_LOG", "debug"));  // interactive: one reply at a time
//   p.write(frame(initialize_request(1)));
//   std::optional<std::string> reply = p.read_reply();
//   RunResult end = p.finish();                          // closes stdin, waits
//
// The binary is found in KORVANE_BINARY_DIR. RUST_LOG and NO_COLOR are removed from the
// inherited environment unless a test sets them.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace korvane::e2e {

struct Options {
  std::vector<std::string> args;  // after the program path
  // Variables to set; a value of nullopt removes the variable.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  std::chrono::milliseconds timeout{30000};

  Options& with_args(std::vector<std::string> a) {
    args = std::move(a);
    return *this;
  }
  Options& with_env(std::string name, std::optional<std::string> value) {
    env.emplace_back(std::move(name), std::move(value));
    return *this;
  }
};

inline std::string binary_path() { return std::string(KORVANE_BINARY_DIR) + "/korvane-indexer"; }

// A message as a client frames it.
inline std::string frame(std::string_view body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

inline std::string initialize_request(int id, std::string_view extra_params = "") {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"initialize","params":{"protocolVersion":"1.0.0")" +
         std::string(extra_params) + "}}";
}

inline std::string request(std::string_view id, std::string_view method,
                           std::string_view params = "") {
  std::string out =
      R"({"jsonrpc":"2.0","id":)" + std::string(id) + R"(,"method":")" + std::string(method) + "\"";
  if (!params.empty()) out += R"(,"params":)" + std::string(params);
  return out + "}";
}

// Splits standard output into framed bodies; fails the test on anything else.
inline std::vector<std::string> split_frames(std::string_view out) {
  std::vector<std::string> bodies;
  constexpr std::string_view kHead = "Content-Length: ";
  while (!out.empty()) {
    if (!out.starts_with(kHead)) {
      ADD_FAILURE() << "unframed output: " << out;
      break;
    }
    const std::size_t end = out.find("\r\n\r\n");
    if (end == std::string_view::npos) {
      ADD_FAILURE() << "unterminated header: " << out;
      break;
    }
    const std::size_t length = std::stoul(std::string(out.substr(kHead.size(), end)));
    out.remove_prefix(end + 4);
    if (out.size() < length) {
      ADD_FAILURE() << "short body: " << out;
      break;
    }
    bodies.emplace_back(out.substr(0, length));
    out.remove_prefix(length);
  }
  return bodies;
}

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status; 128 + signal number when killed

  std::vector<std::string> bodies() const { return split_frames(out); }
  std::vector<std::string> log_lines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < err.size()) {
      std::size_t nl = err.find('\n', start);
      if (nl == std::string::npos) nl = err.size();
      lines.push_back(err.substr(start, nl - start));
      start = nl + 1;
    }
    return lines;
  }
  bool logged(std::string_view text) const { return err.find(text) != std::string::npos; }
};

class Process {
 public:
  explicit Process(const Options& options = {}) : timeout_(options.timeout) { spawn(options); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Writes every byte while draining the output pipes, so large inputs cannot deadlock.
  void write(std::string_view bytes) {
    pump(bytes, [] { return true; });
  }

  // The server's process id, for reading its /proc entries while it runs.
  pid_t pid() const { return pid_; }

  // Stops reading standard output, as a client that went away.
  void close_stdout() {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }

  void close_stdin() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }

  // The next framed reply on standard output, or nothing when output ends or time runs out.
  std::optional<std::string> read_reply() {
    std::optional<std::string> reply;
    pump({}, [&] { return (reply = take_frame()).has_value(); });
    if (!reply) reply = take_frame();
    return reply;
  }

  // Closes standard input, reads everything left and waits for the exit status.
  RunResult finish() {
    close_stdin();
    pump({}, [] { return false; });
    RunResult r;
    r.out = std::move(out_buffer_);
    r.err = std::move(err_buffer_);
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    }
    return r;
  }

  const std::string& stderr_so_far() const { return err_buffer_; }

 private:
  void spawn(const Options& options) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
        ::pipe2(err_pipe, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

    const std::string path = binary_path();
    std::vector<std::string> argv_text{path};
    argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      if (entry.starts_with("RUST_LOG=") || entry.starts_with("NO_COLOR=")) continue;
      bool overridden = false;
      for (const auto& [name, value] : options.env) {
        overridden = overridden || entry.starts_with(name + "=");
      }
      if (!overridden) env_text.emplace_back(entry);
    }
    for (const auto& [name, value] : options.env) {
      if (value) env_text.push_back(name + "=" + *value);
    }
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
      ADD_FAILURE() << "cannot start " << path;
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    in_ = in_pipe[1];
    out_ = out_pipe[0];
    err_ = err_pipe[0];
    // A server that exits early must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
  }

  std::optional<std::string> take_frame() {
    const std::size_t end = out_buffer_.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    constexpr std::string_view kHead = "Content-Length: ";
    if (!std::string_view(out_buffer_).starts_with(kHead)) return std::nullopt;
    const std::size_t length = std::stoul(out_buffer_.substr(kHead.size(), end - kHead.size()));
    if (out_buffer_.size() < end + 4 + length) return std::nullopt;
    std::string body = out_buffer_.substr(end + 4, length);
    out_buffer_.erase(0, end + 4 + length);
    return body;
  }

  // Moves bytes until `input` is written and `done()` holds (or, without a condition, until
  // both output pipes end), within the timeout.
  template <class Done>
  void pump(std::string_view input, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    while (true) {
      const bool writing = !input.empty() && in_ >= 0;
      if (!writing && done()) return;
      pollfd fds[3];
      int n = 0;
      if (writing) fds[n++] = {in_, POLLOUT, 0};
      if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
      if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
      if (n == 0 || (!writing && out_ < 0 && err_ < 0)) return;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ADD_FAILURE() << "timed out; stderr so far:\n" << err_buffer_;
        return;
      }
      if (::poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count())) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      for (int i = 0; i < n; ++i) {
        if (fds[i].revents == 0) continue;
        if (fds[i].fd == in_) {
          const ssize_t w = ::write(in_, input.data(), input.size());
          if (w > 0) {
            input.remove_prefix(static_cast<std::size_t>(w));
          } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
            input = {};  // the server stopped reading; what it did read decides the test
          }
        } else {
          int& fd = fds[i].fd == out_ ? out_ : err_;
          std::string& buffer = fds[i].fd == out_ ? out_buffer_ : err_buffer_;
          char chunk[65536];
          const ssize_t r = ::read(fd, chunk, sizeof chunk);
          if (r > 0) {
            buffer.append(chunk, static_cast<std::size_t>(r));
          } else if (r == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
          }
        }
      }
    }
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::chrono::milliseconds timeout_;
  std::string out_buffer_;
  std::string err_buffer_;
};

// Starts the binary, writes `input`, closes standard input and collects everything.
inline RunResult run(std::string_view input, const Options& options = {}) {
  Process p(options);
  p.write(input);
  return p.finish();
}

}  // namespace korvane::e2e
