#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "indexer/indexer.h"

namespace korvane::indexer {
namespace {

namespace fs = std::filesystem;

// Python's standard library and the typeshed stubs as the system installs them.
std::vector<FileToIndex> system_corpus(std::size_t limit) {
  std::vector<fs::path> roots;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib", ec)) {
    if (entry.path().filename().string().starts_with("python3.")) roots.push_back(entry.path());
  }
  for (const auto& entry : fs::directory_iterator("/usr/lib/python3/dist-packages", ec)) {
    if (entry.path().filename().string().ends_with("-stubs")) roots.push_back(entry.path());
  }
  std::sort(roots.begin(), roots.end());
  std::vector<FileToIndex> files;
  for (const auto& root : roots) {
    for (fs::recursive_directory_iterator it(root, ec), end; it != end && files.size() < limit;
         it.increment(ec)) {
      if (ec) break;
      const auto ext = it->path().extension();
      if (ext != ".py" && ext != ".pyi") continue;
      FileToIndex file;
      file.path = it->path().string();
      file.is_stub = ext == ".pyi";
      // Every other file asks for all symbols, so both admission roads are exercised.
      file.include_all_symbols = files.size() % 2 == 0;
      files.push_back(std::move(file));
    }
  }
  return files;
}

// Symbol order is unspecified, even between two runs over one file.
FileIndexResult normalised(FileIndexResult r) {
  std::sort(r.symbols.begin(), r.symbols.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return r;
}

TEST(IndexBatch, ParallelGivesTheSequentialResultsInRequestOrder) {
  const std::vector<FileToIndex> files = system_corpus(3000);
  if (files.size() < 100) GTEST_SKIP() << "no Python library on this machine";
  Indexer indexer;
  const auto sequential = indexer.index_batch(files, false);
  const auto parallel = indexer.index_batch(files, true);
  ASSERT_EQ(sequential.size(), files.size());
  ASSERT_EQ(parallel.size(), files.size());
  std::size_t symbols = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(sequential[i].path, files[i].path);
    EXPECT_EQ(normalised(parallel[i]), normalised(sequential[i])) << files[i].path;
    symbols += sequential[i].symbols.size();
  }
  EXPECT_GT(symbols, files.size());  // a real corpus exports plenty
}

TEST(IndexBatch, EmptyBatchIndexesNothing) {
  Indexer indexer;
  EXPECT_TRUE(indexer.index_batch({}, true).empty());
  EXPECT_TRUE(indexer.index_batch({}, false).empty());
}

}  // namespace
}  // namespace korvane::indexer
