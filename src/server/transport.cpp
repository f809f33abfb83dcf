#include "server/transport.h"

#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <new>

#include <fmt/format.h>

#include "log/log.h"
#include "util/os_error.h"
#include "util/utf8.h"
#include "util/white_space.h"

namespace korvane::server {

namespace {

constexpr std::string_view kLengthHeader = "Content-Length:";

Unexpected<FatalError> fatal(std::string message, std::optional<std::string> cause = {}) {
  return Unexpected(FatalError{std::move(message), std::move(cause)});
}

// Writes every byte of the pieces in order, resuming after partial writes and signals.
Result<void> write_all(int fd, const std::array<std::string_view, 4>& pieces) {
  std::size_t skip = 0;  // bytes of the pieces already written
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  while (skip < total) {
    iovec parts[4];
    int count = 0;
    std::size_t offset = skip;
    for (std::string_view piece : pieces) {
      if (offset >= piece.size()) {
        offset -= piece.size();
        continue;
      }
      parts[count++] = {const_cast<char*>(piece.data() + offset), piece.size() - offset};
      offset = 0;
    }
    const ssize_t n = ::writev(fd, parts, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(os_error_text(errno));
    skip += static_cast<std::size_t>(n);
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

Result<Transport::Headers, FatalError> Transport::read_headers() {
  Headers headers;
  while (true) {
    Result<bool> got = false;
    try {
      got = in_.read_line(line_);
    } catch (const std::bad_alloc&) {
      // A line too long to hold is no length header: it is read past like any other header.
      std::string().swap(line_);
      if (auto skipped = in_.skip_line(); !skipped) {
        return fatal("Failed to read header line", std::move(skipped).error());
      }
      continue;
    }
    if (!got) return fatal("Failed to read header line", std::move(got).error());
    if (!*got) {
      // Header lines of an unfinished message are dropped without a word.
      return Headers{.end_of_input = true, .content_length = std::nullopt};
    }
    if (validate_utf8(line_)) {
      return fatal("Failed to read header line", "stream did not contain valid UTF-8");
    }
    const std::string_view trimmed = trim_white_space(line_);
    if (trimmed.empty()) return headers;
    if (!trimmed.starts_with(kLengthHeader)) continue;
    auto value = parse_content_length(trim_white_space(trimmed.substr(kLengthHeader.size())));
    if (!value) return fatal("Invalid Content-Length value", std::move(value).error());
    headers.content_length = *value;  // the last length header counts
  }
}

Result<Flow, FatalError> MessageHandler::on_body_out_of_memory(Transport&) {
  return fatal("Failed to read message content", "out of memory");
}

Result<Transport::Message, FatalError> Transport::read_message() {
  auto headers = read_headers();
  if (!headers) return Unexpected(std::move(headers).error());
  if (headers->end_of_input) return Message{};
  if (!headers->content_length) return fatal("Missing Content-Length header");

  const uint64_t length = *headers->content_length;
  Result<void> read;
  try {
    read = in_.read_exact(length, body_);
  } catch (const std::bad_alloc&) {
    // A failed append leaves the body as it was, so its size is what was taken of the input.
    const uint64_t left = length - body_.size();
    std::string().swap(body_);
    read = in_.skip(left);
    if (read) return Message{Message::Kind::kOutOfMemory, {}};
  }
  if (!read) return fatal("Failed to read message content", std::move(read).error());
  if (auto bad = validate_utf8(body_)) {
    return fatal("Message content is not valid UTF-8", bad->message());
  }
  return Message{Message::Kind::kBody, body_};
}

Result<void, FatalError> Transport::loop(MessageHandler& handler) {
  while (true) {
    auto message = read_message();
    if (!message) return Unexpected(std::move(message).error());
    if (message->kind == Message::Kind::kEnd) {
      KLOG_INFO(kLogTarget, "End of input stream, shutting down");
      return {};
    }
    if (message->kind == Message::Kind::kBody) {
      KLOG_DEBUG(kLogTarget, "Received message: {}", message->body);
    }
    auto flow = message->kind == Message::Kind::kBody ? handler.on_message(message->body, *this)
                                                      : handler.on_body_out_of_memory(*this);
    if (!flow) return Unexpected(std::move(flow).error());
    if (*flow == Flow::kStop) return {};
  }
}

Result<void, FatalError> Transport::send(std::string_view body) { return send(body, {}, {}); }

Result<void, FatalError> Transport::send(std::string_view first, std::string_view middle,
                                         std::string_view last) {
  try {
    KLOG_DEBUG(kLogTarget, "Sending response: {}{}{}", first, middle, last);
  } catch (const std::bad_alloc&) {
    // The line is a copy of the reply; the reply itself matters more.
  }
  char header[48];
  const auto end = fmt::format_to_n(header, sizeof header, "Content-Length: {}\r\n\r\n",
                                    first.size() + middle.size() + last.size());
  const std::string_view frame(header, end.size);
  if (auto written = write_all(output_fd_, {frame, first, middle, last}); !written) {
    return fatal(std::move(written).error());
  }
  return {};
}

}  // namespace korvane::server
