#include "package_scanner/dir_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvane::package_scanner {

namespace {

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
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    *error = errno;
    ::close(fd);
    return std::nullopt;
  }
  DirListing listing(dir);
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
    : dir_(other.dir_),
      last_(other.last_),
      identity_(other.identity_),
      trust_entry_type_(other.trust_entry_type_) {
  other.dir_ = nullptr;
  other.last_ = nullptr;
}

DirListing::~DirListing() {
  if (dir_ != nullptr) ::closedir(dir_);
}

int DirListing::fd() const { return ::dirfd(dir_); }

const char* DirListing::next() {
  for (;;) {
    // A failed read ends the listing: the remaining entries cannot be reached either way.
    last_ = ::readdir(dir_);
    if (last_ == nullptr) return nullptr;
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
  if (::fstatat(fd(), last_->d_name, &st, 0) != 0) return EntryKind::Other;
  return kind_of_mode(st.st_mode);
}

bool DirListing::has(const char* relative) const {
  struct stat st;
  return ::fstatat(fd(), relative, &st, 0) == 0;
}

}  // namespace korvane::package_scanner
