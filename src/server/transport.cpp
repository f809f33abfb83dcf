#include "server/transport.h"

#include <new>

#include <fmt/format.h>

#include "log/log.h"
#include "util/decimal.h"
#include "util/utf8.h"
#include "util/white_space.h"
#include "util/write_all.h"

namespace korvane::server {

namespace {

constexpr std::string_view kLengthHeader = "Content-Length:";
// The most a header line or body buffer keeps between messages.
constexpr std::size_t kKeptBufferBytes = std::size_t{1} << 20;

Unexpected<FatalError> fatal(std::string message, std::optional<std::string> cause = {}) {
  return Unexpected(FatalError{std::move(message), std::move(cause)});
}

}  // namespace

Result<uint64_t> parse_content_length(std::string_view value) {
  return parse_unsigned_decimal(value);
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
      // A copy of the whole body: dropped, not fatal, when it does not fit.
      KLOG_DEBUG(kLogTarget, "Received message: {}", message->body);
    }
    auto flow = message->kind == Message::Kind::kBody ? handler.on_message(message->body, *this)
                                                      : handler.on_body_out_of_memory(*this);
    // The server idles between messages: one large message must not keep its buffers for the
    // rest of the session, nor leave the next one less room.
    if (body_.capacity() > kKeptBufferBytes) std::string().swap(body_);
    if (line_.capacity() > kKeptBufferBytes) std::string().swap(line_);
    if (!flow) return Unexpected(std::move(flow).error());
    if (*flow == Flow::kStop) return {};
  }
}

Result<void, FatalError> Transport::send(std::string_view body) { return send(body, {}, {}); }

Result<void, FatalError> Transport::send(std::string_view first, std::string_view middle,
                                         std::string_view last) {
  KLOG_DEBUG(kLogTarget, "Sending response: {}{}{}", first, middle, last);
  char header[48];
  const auto end = fmt::format_to_n(header, sizeof header, "Content-Length: {}\r\n\r\n",
                                    first.size() + middle.size() + last.size());
  const std::string_view frame(header, end.size);
  const std::string_view pieces[] = {frame, first, middle, last};
  if (auto written = write_all(output_fd_, pieces); !written) {
    return fatal(std::move(written).error());
  }
  return {};
}

}  // namespace korvane::server
