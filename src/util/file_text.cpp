#include "util/file_text.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "util/os_error.h"
#include "util/utf8.h"

namespace korvane {
namespace {

Result<std::string_view> checked_text(std::string_view text) {
  if (auto bad = validate_utf8(text)) return Unexpected(bad->message());
  return text;
}

// Regular files are read straight into the caller's buffer. A memory map per file would
// serialise parallel batches on the process's address-space lock (every map and unmap takes it
// for writing), and a file truncated by an editor while mapped would kill the process with
// SIGBUS; a read just comes back short. The buffer only grows: a thread that reads file after
// file into it zero-fills and faults in fresh pages only for the largest one.
Result<std::string_view> read_regular_file(int fd, std::size_t size, std::string& buffer) {
  if (buffer.size() < size) buffer.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buffer.data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(os_error_text(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return checked_text(std::string_view(buffer.data(), done));
}

// Closes the descriptor and unmaps on every path out of read_file_text.
struct MappedFile {
  int fd = -1;
  void* data = MAP_FAILED;
  std::size_t length = 0;
  ~MappedFile() {
    if (data != MAP_FAILED) ::munmap(data, length);
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Result<std::string> read_file_content(const std::string& path) {
  std::string buffer;
  auto text = read_file_text(path, buffer);
  if (!text) return Unexpected(std::move(text.error()));
  buffer.resize(text->size());
  return buffer;
}

Result<std::string_view> read_file_text(const std::string& path, std::string& buffer) {
  if (path.find('\0') != std::string::npos) {
    // The OS cannot even be asked about such a name.
    return Unexpected(std::string("file name contained an unexpected NUL byte"));
  }
  MappedFile file;
  // Non-blocking, so a named pipe in a batch fails at the map instead of waiting for a writer
  // forever; regular files read the same either way.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return Unexpected(os_error_text(errno));
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) return Unexpected(os_error_text(errno));
  const auto size = static_cast<std::size_t>(status.st_size);
  if (S_ISREG(status.st_mode)) return read_regular_file(file.fd, size, buffer);
  // Directories and devices go through a read-only map, which refuses them with the OS's own
  // error (a directory: "No such device"). An empty map still covers one byte.
  file.length = size == 0 ? 1 : size;
  file.data = ::mmap(nullptr, file.length, PROT_READ, MAP_SHARED, file.fd, 0);
  if (file.data == MAP_FAILED) return Unexpected(os_error_text(errno));
  buffer.assign(static_cast<const char*>(file.data), size);
  return checked_text(buffer);
}

}  // namespace korvane
