// Log lines longer than a pipe keeps whole in one write, from several worker threads at once,
// must still reach standard error one whole line after another.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

constexpr int kFiles = 64;
// Above the 64 KiB a pipe holds, so a single write of one line cannot finish at once.
constexpr std::size_t kPathBytes = 70000;

// A file that cannot exist (its name is far too long), unique by its index at both ends.
std::string missing_path(int i) {
  const std::string tag = std::to_string(i);
  return "/missing-" + tag + "-" + std::string(kPathBytes, static_cast<char>('a' + i % 26)) + "-" +
         tag + ".py";
}

TEST(LongLogLines, ParallelWarningsArriveWhole) {
  std::string files = "[";
  for (int i = 0; i < kFiles; ++i) {
    files += (i ? "," : "") + std::string(R"({"path":")") + missing_path(i) + "\"}";
  }
  files += "]";
  const RunResult r =
      run(frame(initialize_request(
              1, R"(,"featureFlags":{"parallel":true,"crossFileResolution":false})")) +
              frame(request("2", "indexFiles", R"({"files":)" + files + "}")),
          Options().with_env("RAYON_NUM_THREADS", "4").with_env("NO_COLOR", "1"));
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.bodies().size(), 2u);

  constexpr std::string_view kWarn = " WARN korvane_indexer::indexer: Failed to read file ";
  std::set<int> whole;
  int warnings = 0;
  for (const std::string& line : r.log_lines()) {
    if (line.find("Failed to read file") == std::string::npos) continue;
    ++warnings;
    // "{time} WARN ...: Failed to read file {path}: {reason}", nothing of another line inside.
    const std::size_t at = line.find(kWarn);
    ASSERT_NE(at, std::string::npos) << line.substr(0, 200);
    const std::string rest = line.substr(at + kWarn.size());
    const int i = std::atoi(rest.c_str() + std::string_view("/missing-").size());
    const std::string path = missing_path(i);
    EXPECT_TRUE(rest.starts_with(path + ": ")) << "line of file " << i << " is broken";
    EXPECT_EQ(rest.find("Failed to read file"), std::string::npos);
    EXPECT_LT(rest.size(), path.size() + 100) << "line of file " << i << " holds more";
    whole.insert(i);
  }
  EXPECT_EQ(warnings, kFiles);
  EXPECT_EQ(whole.size(), static_cast<std::size_t>(kFiles));
}

}  // namespace
}  // namespace korvane::e2e
