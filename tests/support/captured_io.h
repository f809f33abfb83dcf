// Standard error and file descriptors as strings, for tests that check what was written.
//
//   const std::string log = capture_stderr([&] { scanner.scan(); });
//   const int in = memory_file("Content-Length: 2\r\n\r\n{}");
//   ... write to `out` ...; EXPECT_EQ(contents(out), want);
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace korvane::testing {

// Runs `fn` with standard error sent to a file and returns what was written there.
template <class Fn>
std::string capture_stderr(Fn fn) {
  char name[] = "/tmp/korvane-stderr-XXXXXX";
  const int fd = ::mkstemp(name);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  fn();
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(fd);
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  ::unlink(name);
  return text.str();
}

// A file in memory holding `bytes`, read from its start.
inline int memory_file(std::string_view bytes) {
  const int fd = ::memfd_create("korvane-test", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// Everything the file holds, wherever its offset stands.
inline std::string contents(int fd) {
  std::string out(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  EXPECT_EQ(::pread(fd, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
  return out;
}

}  // namespace korvane::testing
