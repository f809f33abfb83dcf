#include "util/write_all.h"

#include <errno.h>
#include <sys/uio.h>

#include <array>
#include <cassert>
#include <string>

#include "util/os_error.h"

namespace korvane {

Result<void> write_all(int fd, std::span<const std::string_view> pieces) {
  assert(pieces.size() <= kMaxWritePieces);
  std::size_t skip = 0;  // bytes of the pieces already written
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  while (skip < total) {
    std::array<iovec, kMaxWritePieces> parts;
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
    const ssize_t n = ::writev(fd, parts.data(), count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(os_error_text(errno));
    if (n == 0) return Unexpected(std::string("failed to write whole buffer"));
    skip += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace korvane
