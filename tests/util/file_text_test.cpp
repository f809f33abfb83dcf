#include "util/file_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "util/os_error.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "korvane-indexer-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, ec);
    fs::remove_all(root_, ec);
  }
  std::string write(const std::string& name, std::string_view bytes) const {
    const fs::path path = fs::path(root_) / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    return path.string();
  }
  std::string path(const std::string& name) const { return (fs::path(root_) / name).string(); }

 private:
  std::string root_;
};

TEST(ReadFileContent, ReadsWholeFilesAndReportsErrorsAsClientTexts) {
  TempDir dir;
  const std::string valid = std::string("\xEF\xBB\xBFx = 1\n# \xC3\xA9\n");
  const std::string bad_at_10 = std::string("0123456789\xFFrest");
  const std::string truncated = std::string("abc\xE2\x82");
  struct Case {
    const char* name;
    std::string path;
    Result<std::string> want;
  };
  const Case cases[] = {
      // The byte-order mark stays: the parser skips it, offsets count it.
      {"valid with BOM", dir.write("ok.py", valid), valid},
      {"empty file", dir.write("empty.py", ""), std::string()},
      {"missing", dir.path("nope.py"), Unexpected(os_error_text(ENOENT))},
      {"directory", dir.path(""), Unexpected(os_error_text(ENODEV))},
      {"invalid byte", dir.write("bad.py", bad_at_10),
       Unexpected(std::string("invalid utf-8 sequence of 1 bytes from index 10"))},
      {"truncated sequence", dir.write("cut.py", truncated),
       Unexpected(std::string("incomplete utf-8 byte sequence from index 3"))},
      {"empty path", "", Unexpected(os_error_text(ENOENT))},
  };
  for (const auto& c : cases) {
    auto got = read_file_content(c.path);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.name;
    if (got) {
      EXPECT_EQ(*got, *c.want) << c.name;
    } else {
      EXPECT_EQ(got.error(), c.want.error()) << c.name;
    }
  }
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
}

TEST(ReadFileContent, UnreadableFileFailsAtOpen) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  TempDir dir;
  const std::string path = dir.write("locked.py", "x = 1\n");
  ::chmod(path.c_str(), 0);
  auto got = read_file_content(path);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error(), os_error_text(EACCES));
}

}  // namespace
}  // namespace korvane
