// Directory trees deeper than any path text, recursive walk or open-file limit allows: built and
// removed through directory descriptors, one level at a time, with two descriptors open at most.
//
//   DeepTree tree;
//   tree.chain("pkg", 20000);   // pkg/__init__.py, pkg/d/d/.../d/m.pyi
//   scan(tree.root());          // the destructor removes it all
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace korvane::package_scanner {

namespace deep_tree_detail {

inline int open_dir(int at_fd, const char* name) {
  const int fd = ::openat(at_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) std::abort();
  return fd;
}

inline void touch(int dir_fd, const char* name) {
  const int fd = ::openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) std::abort();
  ::close(fd);
}

inline std::vector<std::string> names_in(int dir_fd) {
  std::vector<std::string> names;
  DIR* dir = ::fdopendir(::dup(dir_fd));
  if (dir == nullptr) std::abort();
  ::rewinddir(dir);  // the duplicate shares the position that the last listing left at the end
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace deep_tree_detail

// Under the directory `parent`: `top`/__init__.py, then `levels` - 1 nested directories named
// "d" below `top` (so `top` is level 1 of `levels`), the deepest holding m.pyi.
inline void build_chain(const std::string& parent, const char* top, int levels) {
  using namespace deep_tree_detail;
  const int parent_fd = open_dir(AT_FDCWD, parent.c_str());
  if (::mkdirat(parent_fd, top, 0755) != 0) std::abort();
  int current = open_dir(parent_fd, top);
  ::close(parent_fd);
  touch(current, "__init__.py");
  for (int level = 1; level < levels; ++level) {
    if (::mkdirat(current, "d", 0755) != 0) std::abort();
    const int next = open_dir(current, "d");
    ::close(current);
    current = next;
  }
  touch(current, "m.pyi");
  ::close(current);
}

// Removes everything below the directory `path`, however deep. Each round moves the content of
// every subdirectory up into `path` and removes the emptied subdirectory, so the depth shrinks
// by one per round and nothing recurses.
inline void remove_below(const std::string& path) {
  using namespace deep_tree_detail;
  const int dir_fd = open_dir(AT_FDCWD, path.c_str());
  unsigned long fresh = 0;
  for (bool progress = true; progress;) {
    progress = false;
    for (const std::string& name : names_in(dir_fd)) {
      struct stat st;
      if (::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!S_ISDIR(st.st_mode)) {
        progress |= ::unlinkat(dir_fd, name.c_str(), 0) == 0;
        continue;
      }
      const int child = open_dir(dir_fd, name.c_str());
      for (const std::string& inner : names_in(child)) {
        // A name already taken in `path` is refused or replaced; either way a few tries do.
        for (int tries = 0; tries < 16; ++tries) {
          const std::string to = "~" + std::to_string(fresh++);
          if (::renameat(child, inner.c_str(), dir_fd, to.c_str()) == 0) break;
        }
      }
      ::close(child);
      progress |= ::unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR) == 0;
    }
  }
  ::close(dir_fd);
}

// A fresh directory for deep trees, removed with everything below it. It lies on a memory file
// system when the machine has one: removing a directory from a disk's file system can take
// milliseconds, and these trees hold thousands.
class DeepTree {
 public:
  DeepTree() {
    std::error_code ec;
    const bool shm =
        std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0;
    std::string pattern =
        ((shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()) /
         "deep-XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
  }
  ~DeepTree() {
    remove_below(root_);
    ::rmdir(root_.c_str());
  }
  DeepTree(const DeepTree&) = delete;
  DeepTree& operator=(const DeepTree&) = delete;

  const std::string& root() const { return root_; }
  void chain(const char* top, int levels) const { build_chain(root_, top, levels); }

 private:
  std::string root_;
};

}  // namespace korvane::package_scanner
