// Real directory trees in a fresh temporary directory, described one entry per text:
// "pkg/mod.py" a file (parents created), "pkg/sub/" a directory, "pkg/up -> .." a symbolic link,
// "fifo:pkg/f.py" a named pipe.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korvane::package_scanner {

class ScanTree {
 public:
  ScanTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "scan-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
  }
  explicit ScanTree(const std::vector<std::string>& entries) : ScanTree() { add(entries); }
  ~ScanTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ScanTree(const ScanTree&) = delete;
  ScanTree& operator=(const ScanTree&) = delete;

  void add(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) add_one(entry);
  }

  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

 private:
  void add_one(const std::string& entry) {
    namespace fs = std::filesystem;
    if (entry.rfind("fifo:", 0) == 0) {
      const fs::path fifo = path(entry.substr(5));
      fs::create_directories(fifo.parent_path());
      if (::mkfifo(fifo.c_str(), 0644) != 0) std::abort();
    } else if (auto arrow = entry.find(" -> "); arrow != std::string::npos) {
      const fs::path link = path(entry.substr(0, arrow));
      fs::create_directories(link.parent_path());
      fs::create_symlink(entry.substr(arrow + 4), link);
    } else if (entry.back() == '/') {
      fs::create_directories(path(entry));
    } else {
      const fs::path file = path(entry);
      fs::create_directories(file.parent_path());
      std::ofstream(file) << "";
    }
  }

  std::string root_;
};

}  // namespace korvane::package_scanner
