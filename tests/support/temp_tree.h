// A throw-away directory tree for tests that need the real file system.
//
//   TempTree tree;
//   tree.file("pkg/__init__.py");
//   tree.file("pkg/mod.pyi", "x: int\n");
//   tree.dir("ns");
//   resolve(tree.path("pkg/mod.pyi"));
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace korvane::testing {

class TempTree {
 public:
  TempTree() {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::path(::testing::TempDir()) /
            ("korvane-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    root_ = std::filesystem::canonical(root_);
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path path(std::string_view relative) const { return root_ / relative; }
  std::string text(std::string_view relative) const { return path(relative).string(); }

  // Creates the file (and its parent directories) holding `content`.
  std::filesystem::path file(std::string_view relative, std::string_view content = "") const {
    const std::filesystem::path target = path(relative);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << content;
    return target;
  }

  std::filesystem::path dir(std::string_view relative) const {
    const std::filesystem::path target = path(relative);
    std::filesystem::create_directories(target);
    return target;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace korvane::testing
