// Writing a text given in pieces to a descriptor, every byte, without joining the pieces first:
// a reply or a log line may be as large as a whole message, and memory may be short.
//
//   std::string_view pieces[] = {frame, body};
//   if (auto written = write_all(STDOUT_FILENO, pieces); !written) report(written.error());
#pragma once

#include <span>
#include <string_view>

#include "util/result.h"

namespace korvane {

// The most pieces one call takes.
inline constexpr std::size_t kMaxWritePieces = 8;

// Writes the pieces in order, resuming after partial writes and signals. Allocates nothing
// unless it fails. Errors: the system's, as os_error_text gives it, and "failed to write whole
// buffer" when the descriptor takes no more bytes.
Result<void> write_all(int fd, std::span<const std::string_view> pieces);

}  // namespace korvane
