// An open directory listed in file-system order, with status probes relative to it so that long
// paths are resolved once, when the directory is opened.
//
//   int error = 0;
//   auto dir = DirListing::open(AT_FDCWD, "/usr/lib/python3", &error);
//   while (const char* name = dir->next()) {
//     if (dir->kind_of_last() == EntryKind::File) ...
//   }
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::package_scanner {

enum class EntryKind { File, Directory, Other };

// Identifies a directory across the different paths (symbolic links) that reach it.
struct DirIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  friend bool operator==(const DirIdentity&, const DirIdentity&) = default;
  template <class H>
  friend H AbslHashValue(H h, const DirIdentity& id) {
    return H::combine(std::move(h), id.dev, id.ino);
  }
};

class DirListing {
 public:
  // Opens `name` relative to `at_fd` (AT_FDCWD for a plain path), following symbolic links.
  // On failure returns nothing and stores the operating system's error number in `*error`.
  static std::optional<DirListing> open(int at_fd, const char* name, int* error);

  DirListing(DirListing&& other) noexcept;
  DirListing& operator=(DirListing&&) = delete;
  DirListing(const DirListing&) = delete;
  ~DirListing();

  int fd() const { return fd_; }
  DirIdentity identity() const { return identity_; }

  // The next entry's name, "." and ".." left out; nullptr at the end or when the listing fails.
  const char* next();

  // Starts the listing again from its first entry. A listing that fit one read is replayed
  // from memory rather than read from the file system again. Only while never detached.
  void rewind();

  // Reads the rest of the listing into memory and closes the directory, so that a walk can keep
  // its open directories few however deep it goes. `next` goes on from memory; `kind_of_last`,
  // `has` and `fd` need `reattach` first. It costs what was left to read, once: a listing
  // detached before is only closed again.
  void detach();
  bool attached() const { return fd_ >= 0; }

  enum class Reattach {
    Done,
    Failed,    // not opened; the operating system's error number is in `*error`
    Replaced,  // the name now leads to another directory
  };
  // Opens `name` relative to `at_fd` again for the probes of a detached listing; it stays
  // detached unless this is `Done`.
  Reattach reattach(int at_fd, const char* name, int* error);

  // For the tests that bound them: the bytes that detaching has moved into memory, and the
  // bytes the listing holds now.
  std::size_t detach_bytes() const { return detach_bytes_; }
  std::size_t held_bytes() const;

  // Whether the entry last returned by `next` is a regular file or a directory once symbolic
  // links are followed; a status that cannot be read counts as neither.
  EntryKind kind_of_last() const;

  // True when `relative` (below this directory) exists, following symbolic links.
  bool has(const char* relative) const;

 private:
  explicit DirListing(int fd) : fd_(fd) {}
  bool fill();
  void make_room();
  void keep(const char* bytes, std::size_t size);

  int fd_ = -1;
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
  };
  // Raw records of the kernel's listing: one buffer per open directory, since the walk
  // descends while its parent is still being listed.
  Block buffer_;
  // What `detach` read and `next` has not reached, each piece at its own size since a walk may
  // hold thousands of detached listings; each becomes `buffer_` in turn.
  std::vector<Block> detached_;
  std::size_t next_block_ = 0;
  std::size_t detach_bytes_ = 0;
  std::size_t used_ = 0;
  std::size_t offset_ = 0;
  bool at_end_ = false;
  int reads_ = 0;  // reads that returned entries
  const struct dirent64* last_ = nullptr;
  DirIdentity identity_;
  // The entry type reported by the listing equals the status probe's answer only when the
  // directory can be searched; without search permission every probe fails.
  bool trust_entry_type_ = false;
};

}  // namespace korvane::package_scanner
