#include "server/message_loop.h"

#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

#include <fmt/format.h>

#include "log/log.h"
#include "server/input_reader.h"
#include "server/server.h"
#include "util/memory_release.h"
#include "util/os_error.h"
#include "util/utf8.h"
#include "util/white_space.h"

namespace korvane::server {

namespace {

constexpr std::string_view kLengthHeader = "Content-Length:";

Unexpected<FatalError> fatal(std::string message, std::optional<std::string> cause = {}) {
  return Unexpected(FatalError{std::move(message), std::move(cause)});
}

// Writes every byte of the pieces, resuming after partial writes and signals.
Result<void> write_all(int fd, std::string_view head, std::string_view body) {
  std::size_t done = 0;
  const std::size_t total = head.size() + body.size();
  while (done < total) {
    iovec parts[2];
    int count = 0;
    if (done < head.size()) {
      parts[count++] = {const_cast<char*>(head.data() + done), head.size() - done};
      parts[count++] = {const_cast<char*>(body.data()), body.size()};
    } else {
      const std::size_t offset = done - head.size();
      parts[count++] = {const_cast<char*>(body.data() + offset), body.size() - offset};
    }
    const ssize_t n = ::writev(fd, parts, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(os_error_text(errno));
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace

Result<uint64_t> parse_content_length(std::string_view value) {
  if (value.empty()) return Unexpected(std::string("cannot parse integer from empty string"));
  std::string_view digits = value;
  if (digits.front() == '+' && digits.size() > 1) digits.remove_prefix(1);
  uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return Unexpected(std::string("invalid digit found in string"));
    const auto d = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) {
      return Unexpected(std::string("number too large to fit in target type"));
    }
    n = n * 10 + d;
  }
  return n;
}

Result<std::optional<uint64_t>, FatalError> read_headers(InputReader& in, std::string& line,
                                                         bool& end_of_input) {
  std::optional<uint64_t> length;
  end_of_input = false;
  while (true) {
    auto got = in.read_line(line);
    if (!got) return fatal("Failed to read header line", std::move(got).error());
    if (!*got) {
      end_of_input = true;
      return length;
    }
    if (validate_utf8(line)) {
      return fatal("Failed to read header line", "stream did not contain valid UTF-8");
    }
    const std::string_view trimmed = trim_white_space(line);
    if (trimmed.empty()) return length;
    if (!trimmed.starts_with(kLengthHeader)) continue;
    auto value = parse_content_length(trim_white_space(trimmed.substr(kLengthHeader.size())));
    if (!value) return fatal("Invalid Content-Length value", std::move(value).error());
    length = *value;  // the last length header counts
  }
}

Result<void, FatalError> Server::process_messages(int input_fd, int output_fd) {
  InputReader in(input_fd);
  std::string line;
  std::string body;
  while (true) {
    bool end_of_input = false;
    auto length = read_headers(in, line, end_of_input);
    if (!length) return Unexpected(std::move(length).error());
    if (end_of_input) {
      KLOG_INFO(kLogTarget, "End of input stream, shutting down");
      return {};
    }
    if (!*length) return fatal("Missing Content-Length header");

    if (auto read = in.read_exact(**length, body); !read) {
      return fatal("Failed to read message content", std::move(read).error());
    }
    if (auto bad = validate_utf8(body)) {
      return fatal("Message content is not valid UTF-8", bad->message());
    }
    KLOG_DEBUG(kLogTarget, "Received message: {}", body);

    if (auto response = handle_message(body)) {
      const std::string text = protocol::write_response(*response);
      KLOG_DEBUG(kLogTarget, "Sending response: {}", text);
      const std::string head = fmt::format("Content-Length: {}\r\n\r\n", text.size());
      if (auto written = write_all(output_fd, head, text); !written) {
        return fatal(std::move(written).error());
      }
    }
    // The server idles most of its life: what the message needed goes back to the system now.
    release_free_memory();

    if (!initialized.load() && message_count.load() > 0) {
      KLOG_INFO(kLogTarget, "Shutdown complete, exiting");
      return {};
    }
  }
}

}  // namespace korvane::server
