#include "server/input_reader.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "util/os_error.h"

namespace korvane::server {

Result<std::size_t> InputReader::read_some(char* into, std::size_t capacity) {
  while (true) {
    const ssize_t n = ::read(fd_, into, capacity);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (errno == EBADF) return std::size_t{0};
    return Unexpected(os_error_text(errno));
  }
}

Result<std::size_t> InputReader::fill() {
  begin_ = 0;
  end_ = 0;
  auto n = read_some(buffer_.data(), buffer_.size());
  if (n) end_ = *n;
  return n;
}

Result<bool> InputReader::read_line(std::string& line) {
  line.clear();
  while (true) {
    if (begin_ == end_) {
      auto n = fill();
      if (!n) return Unexpected(std::move(n).error());
      if (*n == 0) return !line.empty();
    }
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const void* newline = std::memchr(start, '\n', available);
    const std::size_t take =
        newline == nullptr ? available : static_cast<const char*>(newline) - start + 1;
    line.append(start, take);
    begin_ += take;
    if (newline != nullptr) return true;
  }
}

Result<void> InputReader::read_exact(uint64_t length, std::string& out) {
  out.clear();
  uint64_t remaining = length;
  while (remaining > 0) {
    if (begin_ < end_) {
      const std::size_t take =
          static_cast<std::size_t>(std::min<uint64_t>(remaining, end_ - begin_));
      out.append(buffer_.data() + begin_, take);
      begin_ += take;
      remaining -= take;
      continue;
    }
    if (remaining < kInputBufferSize) {
      auto n = fill();
      if (!n) return Unexpected(std::move(n).error());
      if (*n == 0) return Unexpected(std::string(kUnexpectedEof));
      continue;
    }
    // Large bodies bypass the buffer. Each read may take at most as many bytes as have
    // already arrived (and at least a buffer's worth), so memory follows the input, not
    // the declared length.
    const std::size_t chunk = static_cast<std::size_t>(
        std::min<uint64_t>(remaining, std::max(kInputBufferSize, out.size())));
    const std::size_t old_size = out.size();
    out.resize(old_size + chunk);
    auto n = read_some(out.data() + old_size, chunk);
    out.resize(old_size + (n ? *n : 0));
    if (!n) return Unexpected(std::move(n).error());
    if (*n == 0) return Unexpected(std::string(kUnexpectedEof));
    remaining -= *n;
  }
  return {};
}

Result<void> InputReader::skip(uint64_t length) {
  uint64_t remaining = length;
  while (remaining > 0) {
    if (begin_ == end_) {
      auto n = fill();
      if (!n) return Unexpected(std::move(n).error());
      if (*n == 0) return Unexpected(std::string(kUnexpectedEof));
    }
    const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(remaining, end_ - begin_));
    begin_ += take;
    remaining -= take;
  }
  return {};
}

Result<void> InputReader::skip_line() {
  while (true) {
    if (begin_ == end_) {
      auto n = fill();
      if (!n) return Unexpected(std::move(n).error());
      if (*n == 0) return {};
    }
    const char* start = buffer_.data() + begin_;
    const void* newline = std::memchr(start, '\n', end_ - begin_);
    if (newline != nullptr) {
      begin_ += static_cast<const char*>(newline) - start + 1;
      return {};
    }
    begin_ = end_;
  }
}

}  // namespace korvane::server
