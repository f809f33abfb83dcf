// The server's memory over a cross-file batch, bounded loosely so that only a regression trips
// it: trees kept whole for every file of a batch, or a request's memory held after its reply.
// Timing plays no part. Sanitizers change memory use beyond any bound, so their builds skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../support/temp_tree.h"
#include "harness.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KORVANE_SANITIZED 1
#endif
#endif

namespace korvane::e2e {
namespace {

// A field of /proc/<pid>/status in bytes.
uint64_t status_bytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::strtoull(line.c_str() + field.size() + 1, nullptr, 10) * 1024;
    }
  }
  return 0;
}

// A module whose text is mostly method bodies, as most real modules are: a whole tree of it is
// several times its text, the module level a small part of it.
std::string module_text(int n) {
  std::string text = "import os\nfrom typing import Any\n__all__ = ['Service" + std::to_string(n) +
                     "']\n\nclass Service" + std::to_string(n) + ":\n";
  for (int m = 0; m < 150; ++m) {
    text += "    def method_" + std::to_string(m) +
            "(self, value: int, *args: Any, **kwargs: Any) -> int:\n"
            "        total = value * 2 + len(args) - sum(k for k in kwargs.values())\n"
            "        if total > 10 and os.sep == '/':\n"
            "            return [x for x in range(total) if x % 3][0]\n"
            "        return {'a': total, 'b': (value, args)}['a']\n";
  }
  return text;
}

TEST(MemoryE2E, CrossFileBatchHoldsLittleAndGivesItBack) {
#ifdef KORVANE_SANITIZED
  GTEST_SKIP() << "sanitizer builds use memory beyond any bound";
#endif
  korvane::testing::TempTree tree;
  std::string files;
  uint64_t corpus = 0;
  for (int n = 0; n < 200; ++n) {
    const std::string text = module_text(n);
    corpus += text.size();
    const std::string path = tree.file("pkg/mod" + std::to_string(n) + ".py", text).string();
    if (!files.empty()) files += ',';
    files += R"({"path":")" + path + R"(","includeAllSymbols":true})";
  }
  Process p;
  p.write(frame(
      initialize_request(1, R"(,"featureFlags":{"crossFileResolution":true,"parallel":false})")));
  ASSERT_TRUE(p.read_reply());
  const uint64_t idle = status_bytes(p.pid(), "VmRSS");
  p.write(frame(request("2", "indexFiles",
                        R"({"files":[)" + files + R"(],"searchPaths":{"extraPaths":[")" +
                            tree.root().string() + R"("]}})")));
  auto reply = p.read_reply();
  ASSERT_TRUE(reply);
  ASSERT_NE(reply->find(R"("name":"Service199")"), std::string::npos);
  p.write(frame(request("3", "ping")));  // whatever follows the reply is done once this is
  ASSERT_TRUE(p.read_reply());
  const uint64_t peak = status_bytes(p.pid(), "VmHWM");
  const uint64_t after = status_bytes(p.pid(), "VmRSS");
  // Whole trees alone take about five times their text.
  EXPECT_LT(peak - idle, 3 * corpus) << "peak " << peak << ", idle " << idle;
  EXPECT_LT(after - std::min(after, idle), corpus / 2) << "after " << after << ", idle " << idle;
  p.finish();
}

}  // namespace
}  // namespace korvane::e2e
