// Raw bytes on standard input: the whole message loop, framing, dispatch and replies.
//
// The input reaches the transport's loop, driving a Server, through an in-memory file, the
// replies are collected from another. Invariants: the loop always ends (at end of input, by the
// end test or with a fatal error), and what it wrote is a sequence of well-framed JSON-RPC
// responses with exactly one of `result` and `error`.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "json/reader.h"
#include "server/server.h"
#include "server/transport.h"
#include "util/utf8.h"

using namespace korvane;

namespace {

int memory_file(const char* name) {
  const int fd = ::memfd_create(name, MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0, "memfd_create failed");
  return fd;
}

void write_fully(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    FUZZ_CHECK(n > 0, "write to memfd failed");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string read_fully(int fd) {
  std::string out;
  char chunk[65536];
  ::lseek(fd, 0, SEEK_SET);
  while (true) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    FUZZ_CHECK(n >= 0, "read from memfd failed");
    if (n == 0) return out;
    out.append(chunk, static_cast<size_t>(n));
  }
}

void check_response(std::string_view body) {
  FUZZ_CHECK(!validate_utf8(body), "response body is not UTF-8");
  auto value = json::parse(body);
  FUZZ_CHECK(value.has_value(), "response body is not JSON");
  const json::Value* version = value->find("jsonrpc");
  FUZZ_CHECK(version != nullptr && version->if_string() && *version->if_string() == "2.0",
             "response without jsonrpc 2.0");
  const bool has_result = value->find("result") != nullptr;
  const bool has_error = value->find("error") != nullptr;
  FUZZ_CHECK(has_result != has_error, "response must carry exactly one of result and error");
}

void check_output(std::string_view out) {
  constexpr std::string_view kHead = "Content-Length: ";
  while (!out.empty()) {
    FUZZ_CHECK(out.starts_with(kHead), "output frame without length header");
    out.remove_prefix(kHead.size());
    size_t length = 0;
    size_t digits = 0;
    while (digits < out.size() && out[digits] >= '0' && out[digits] <= '9') {
      length = length * 10 + static_cast<size_t>(out[digits] - '0');
      ++digits;
    }
    FUZZ_CHECK(digits > 0, "length header without digits");
    out.remove_prefix(digits);
    FUZZ_CHECK(out.starts_with("\r\n\r\n"), "length header not followed by an empty line");
    out.remove_prefix(4);
    FUZZ_CHECK(out.size() >= length, "frame shorter than its length");
    check_response(out.substr(0, length));
    out.remove_prefix(length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int in = memory_file("fuzz-in");
  const int out = memory_file("fuzz-out");
  write_fully(in, fuzz::as_text(data, size));
  ::lseek(in, 0, SEEK_SET);
  {
    server::Server server;
    server::Transport transport(in, out);
    auto run = transport.loop(server);
    if (!run) FUZZ_CHECK(!run.error().long_form().empty(), "fatal error without text");
  }
  check_output(read_fully(out));
  ::close(in);
  ::close(out);
  return 0;
}
