#include "package_scanner/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "scan_tree.h"

namespace korvane::package_scanner {
namespace {

// The bytes the kernel hands over for a listing of `names` (with "." and ".."): one record
// each, the name's bytes and a NUL after the fixed fields, padded to 8 bytes.
std::size_t listing_bytes(const std::vector<std::string>& names) {
  auto record = [](std::size_t length) {
    return (offsetof(struct dirent64, d_name) + length + 1 + 7) / 8 * 8;
  };
  std::size_t total = record(1) + record(2);
  for (const std::string& name : names) total += record(name.size());
  return total;
}

// A walk detaches a directory each time it goes far enough below it and opens it again on the
// way back: a wide directory above thousands of deep subtrees was once copied whole each time.
// And a walk thousands of levels deep holds thousands of detached listings, each of which once
// kept a whole read buffer for a name or two.
TEST(DirListing, DetachReadsTheRestOnceHoweverOften) {
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("module_with_a_long_name_" + std::to_string(i));
  ScanTree tree(names);
  int error = 0;
  auto dir = DirListing::open(AT_FDCWD, tree.root().c_str(), &error);
  ASSERT_TRUE(dir);
  std::multiset<std::string> seen;
  for (int i = 0; i < 10; ++i) seen.insert(dir->next());
  for (int round = 0; round < 8; ++round) {
    dir->detach();
    ASSERT_EQ(dir->reattach(AT_FDCWD, tree.root().c_str(), &error), DirListing::Reattach::Done);
    seen.insert(dir->next());
  }
  dir->detach();
  EXPECT_LE(dir->held_bytes(), listing_bytes(names));
  while (const char* name = dir->next()) seen.insert(name);
  EXPECT_EQ(seen, std::multiset<std::string>(names.begin(), names.end()));
  EXPECT_LE(dir->detach_bytes(), listing_bytes(names));

  ScanTree narrow_tree({"a.py", "b.py"});
  auto narrow = DirListing::open(AT_FDCWD, narrow_tree.root().c_str(), &error);
  ASSERT_TRUE(narrow);
  narrow->next();
  narrow->detach();
  EXPECT_LE(narrow->held_bytes(), listing_bytes({"a.py", "b.py"}));
}

}  // namespace
}  // namespace korvane::package_scanner
