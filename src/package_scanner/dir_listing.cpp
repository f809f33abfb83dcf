#include "package_scanner/dir_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
      detached_(std::move(other.detached_)),
      next_block_(other.next_block_),
      detach_bytes_(other.detach_bytes_),
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
  if (next_block_ < detached_.size()) {
    buffer_ = std::move(detached_[next_block_++]);
    used_ = buffer_.size;
    offset_ = 0;
    return true;
  }
  if (at_end_) return false;
  make_room();
  const ssize_t n = ::getdents64(fd_, buffer_.data.get(), kBufferSize);
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
  detached_.clear();
  next_block_ = 0;
}

void DirListing::detach() {
  if (fd_ < 0) return;
  // The kernel's position in the listing dies with the descriptor: what it has not handed over
  // yet is read now, and what it has is never read again.
  if (!at_end_) {
    if (offset_ < used_) keep(buffer_.data.get() + offset_, used_ - offset_);
    make_room();
    for (;;) {
      const ssize_t n = ::getdents64(fd_, buffer_.data.get(), kBufferSize);
      if (n <= 0) break;
      keep(buffer_.data.get(), static_cast<std::size_t>(n));
      ++reads_;
    }
    at_end_ = true;
    buffer_ = {};
    used_ = 0;
    offset_ = 0;
  }
  last_ = nullptr;
  ::close(fd_);
  fd_ = -1;
}

// A buffer that one read of the kernel's listing fills.
void DirListing::make_room() {
  if (buffer_.size != kBufferSize) {
    buffer_ = {std::make_unique_for_overwrite<char[]>(kBufferSize), kBufferSize};
  }
}

void DirListing::keep(const char* bytes, std::size_t size) {
  auto data = std::make_unique_for_overwrite<char[]>(size);
  std::memcpy(data.get(), bytes, size);
  detached_.push_back({std::move(data), size});
  detach_bytes_ += size;
}

std::size_t DirListing::held_bytes() const {
  std::size_t total = buffer_.size;
  for (std::size_t i = next_block_; i < detached_.size(); ++i) total += detached_[i].size;
  return total;
}

DirListing::Reattach DirListing::reattach(int at_fd, const char* name, int* error) {
  if (fd_ >= 0) return Reattach::Done;
  const int fd = ::openat(at_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return Reattach::Failed;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *error = errno;
    ::close(fd);
    return Reattach::Failed;
  }
  if (DirIdentity{st.st_dev, st.st_ino} != identity_) {
    ::close(fd);
    return Reattach::Replaced;
  }
  fd_ = fd;
  return Reattach::Done;
}

const char* DirListing::next() {
  for (;;) {
    if (offset_ >= used_ && !fill()) {
      last_ = nullptr;
      return nullptr;
    }
    last_ = reinterpret_cast<const struct dirent64*>(buffer_.data.get() + offset_);
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
