#include "package_scanner/dir_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace korvane::package_scanner {

namespace {

constexpr std::size_t kBufferSize = 32 * 1024;

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  return EntryKind::Other;
}

}  // namespace

std::optional<DirListing> DirListing::open(int at_fd, const char* name, int* error) {
  const int fd = ::openat(at_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return std::nullopt;
  }
  DirListing listing(fd);
  struct stat st;
  // Probing "." needs search permission exactly as probing an entry does.
  if (::fstatat(fd, ".", &st, 0) == 0) {
    listing.trust_entry_type_ = true;
  } else if (::fstat(fd, &st) != 0) {
    st = {};
  }
  listing.identity_ = {st.st_dev, st.st_ino};
  return listing;
}

DirListing::DirListing(DirListing&& other) noexcept
    : fd_(other.fd_),
      buffer_(std::move(other.buffer_)),
      used_(other.used_),
      offset_(other.offset_),
      at_end_(other.at_end_),
      reads_(other.reads_),
      last_(other.last_),
      identity_(other.identity_),
      trust_entry_type_(other.trust_entry_type_) {
  other.fd_ = -1;
  other.last_ = nullptr;
}

DirListing::~DirListing() {
  if (fd_ >= 0) ::close(fd_);
}

bool DirListing::fill() {
  if (at_end_) return false;
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  const ssize_t n = ::getdents64(fd_, buffer_.get(), kBufferSize);
  // A failed read ends the listing: the remaining entries cannot be reached either way.
  if (n <= 0) {
    at_end_ = true;
    return false;
  }
  used_ = static_cast<std::size_t>(n);
  offset_ = 0;
  ++reads_;
  return true;
}

void DirListing::rewind() {
  last_ = nullptr;
  offset_ = 0;
  if (at_end_ && reads_ <= 1) return;
  ::lseek(fd_, 0, SEEK_SET);
  used_ = 0;
  at_end_ = false;
  reads_ = 0;
}

void DirListing::detach() {
  if (fd_ < 0) return;
  // The kernel's position in the listing dies with the descriptor: what it has not handed over
  // yet is read now.
  std::vector<char> rest;
  if (offset_ < used_) rest.assign(buffer_.get() + offset_, buffer_.get() + used_);
  if (!at_end_) {
    auto chunk = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (ssize_t n; (n = ::getdents64(fd_, chunk.get(), kBufferSize)) > 0;) {
      rest.insert(rest.end(), chunk.get(), chunk.get() + n);
    }
  }
  buffer_.reset();
  if (!rest.empty()) {
    buffer_ = std::make_unique_for_overwrite<char[]>(rest.size());
    std::memcpy(buffer_.get(), rest.data(), rest.size());
  }
  used_ = rest.size();
  offset_ = 0;
  at_end_ = true;
  last_ = nullptr;
  ::close(fd_);
  fd_ = -1;
}

bool DirListing::reattach(int at_fd, const char* name) {
  if (fd_ >= 0) return true;
  const int fd = ::openat(at_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || DirIdentity{st.st_dev, st.st_ino} != identity_) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

const char* DirListing::next() {
  for (;;) {
    if (offset_ >= used_ && !fill()) {
      last_ = nullptr;
      return nullptr;
    }
    last_ = reinterpret_cast<const struct dirent64*>(buffer_.get() + offset_);
    offset_ += last_->d_reclen;
    const char* name = last_->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    return name;
  }
}

EntryKind DirListing::kind_of_last() const {
  if (trust_entry_type_) {
    switch (last_->d_type) {
      case DT_REG:
        return EntryKind::File;
      case DT_DIR:
        return EntryKind::Directory;
      case DT_FIFO:
      case DT_CHR:
      case DT_BLK:
      case DT_SOCK:
        return EntryKind::Other;
      default:  // links and file systems that do not report types need the probe
        break;
    }
  }
  struct stat st;
  if (::fstatat(fd_, last_->d_name, &st, 0) != 0) return EntryKind::Other;
  return kind_of_mode(st.st_mode);
}

bool DirListing::has(const char* relative) const {
  struct stat st;
  return ::fstatat(fd_, relative, &st, 0) == 0;
}

}  // namespace korvane::package_scanner
