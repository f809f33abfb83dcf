// Content-Length framed messages over a pair of file descriptors: reading, framing, writing.
//
//   class Echo : public MessageHandler {
//     Result<Flow, FatalError> on_message(std::string_view body, Transport& t) override {
//       if (auto sent = t.send(body); !sent) return Unexpected(std::move(sent).error());
//       return Flow::kContinue;
//     }
//   };
//   Transport transport(STDIN_FILENO, STDOUT_FILENO);
//   Echo echo;
//   auto run = transport.loop(echo);   // a FatalError for any framing or I/O failure
//
// The transport knows nothing of JSON-RPC: bodies are UTF-8 texts, and when to stop is for the
// handler to say.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/fatal_error.h"
#include "server/input_reader.h"
#include "util/result.h"

namespace korvane::server {

// The loop, the dispatcher and the handlers all log under this one target.
inline constexpr std::string_view kLogTarget = "korvane_indexer::server";

// The value of a length header, already trimmed: an optional '+' and decimal digits up to
// 18446744073709551615. Errors: "cannot parse integer from empty string", "invalid digit
// found in string", "number too large to fit in target type".
Result<uint64_t> parse_content_length(std::string_view value);

class Transport;

// Whether the loop reads another message.
enum class Flow { kContinue, kStop };

class MessageHandler {
 public:
  virtual ~MessageHandler() = default;

  // Handles one message body, sending its reply, if any, through `transport`; a failed send
  // is returned as it is. Called on the thread that runs the loop, one message at a time.
  virtual Result<Flow, FatalError> on_message(std::string_view body, Transport& transport) = 0;

  // A message whose body could not be held in memory; the loop has read past it. Ends the
  // loop unless the handler answers it some other way.
  virtual Result<Flow, FatalError> on_body_out_of_memory(Transport& transport);
};

// Thread-safety: none. One thread runs loop(), and the handler sends from that same thread
// while it handles a message; no message is read while one is being handled, so replies go
// out in the order of the messages. Nothing here is shared with other threads.
class Transport {
 public:
  Transport(int input_fd, int output_fd) : in_(input_fd), output_fd_(output_fd) {}
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Reads framed messages and hands each body to `handler` until the end of input where a
  // header line should begin, or until the handler says stop; both are a success. A failure
  // of framing, of reading or of the handler ends the loop at once and is returned.
  Result<void, FatalError> loop(MessageHandler& handler);

  // Writes one body in its frame, the whole of it, before returning. Allocates nothing, so a
  // reply made in advance still goes out when memory has run out.
  Result<void, FatalError> send(std::string_view body);
  // The same for a body given as three consecutive pieces, so that a large one need not be
  // joined into one string first.
  Result<void, FatalError> send(std::string_view first, std::string_view middle,
                                std::string_view last);

 private:
  struct Headers {
    bool end_of_input = false;               // the input ended where a header line should be
    std::optional<uint64_t> content_length;  // the last length header of the message
  };

  // Header lines up to the empty line that ends them.
  Result<Headers, FatalError> read_headers();
  struct Message {
    enum class Kind { kEnd, kBody, kOutOfMemory } kind = Kind::kEnd;
    std::string_view body;  // for kBody
  };

  // The next body; kEnd at the end of input between messages, kOutOfMemory for a body that
  // could not be held (its bytes are read past, unchecked).
  Result<Message, FatalError> read_message();

  InputReader in_;
  const int output_fd_;
  std::string line_;  // one header line, reused for every line
  std::string body_;  // the body of the message being handled
};

}  // namespace korvane::server
