// indexFiles through the binary: the result text, the result cache, search-path state kept
// between requests, parameter errors and the handler's log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "../support/temp_tree.h"
#include "harness.h"

namespace korvane::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class IndexFilesE2E : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    return tree_.file(name, text).string();
  }

  korvane::testing::TempTree tree_;
  const std::string root_ = tree_.root().string();
};

// The server exits after `shutdown`; every run ends with it (its reply is the last body).
RunResult run_session(const std::string& messages, const Options& options = {}) {
  return run(messages + frame(request("99", "shutdown")), options);
}

// elapsedMs varies from run to run.
std::string without_elapsed(const std::string& body) {
  return std::regex_replace(body, std::regex(R"("elapsedMs":\d+)"), R"("elapsedMs":N)");
}

std::string file_json(const std::string& path, const std::string& extra = "") {
  return R"({"path":")" + path + "\"" + extra + "}";
}

TEST_F(IndexFilesE2E, AnswersEveryFileInRequestOrder) {
  const std::string a = write("a.py", "A = 1\nb = 2\n__all__ = ['A']\n");
  const std::string stub = write("s.pyi", "def f(): ...\n");
  const std::string bad = write("bad.py", "__all__ = [\n");
  const std::string missing = root_ + "/missing.py";
  const std::string hidden = root_ + "/_private.py";
  const std::string files = "[" + file_json(a) + "," + file_json(stub, R"(,"isStub":true)") + "," +
                            file_json(bad) + "," + file_json(missing) + "," + file_json(hidden) +
                            "]";
  const RunResult r = run_session(frame(initialize_request(1)) +
                                  frame(request("2", "indexFiles", R"({"files":)" + files + "}")));
  EXPECT_EQ(r.status, 0);
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 3u);
  const std::string symbols_a = R"(","privateOrProtected":false,"symbols":[)"
                                R"({"kind":14,"name":"A","visibilityFlags":3}]},)";
  const std::string symbols_f = R"(","privateOrProtected":false,"symbols":[)"
                                R"({"kind":12,"name":"f","visibilityFlags":1}]},)";
  EXPECT_THAT(without_elapsed(bodies[1]),
              ::testing::StartsWith(R"({"jsonrpc":"2.0","id":2,"result":{"elapsedMs":N,"results":[)"
                                    R"({"path":")" +
                                    a + symbols_a + R"({"path":")" + stub + symbols_f +
                                    R"({"error":"Parse error: [ParseError { error: )"));
  const std::string tail =
      R"x(","path":")x" + bad +
      R"x(","privateOrProtected":false,"symbols":[]},)x"
      R"x({"error":"Failed to read file: No such file or directory (os error 2)",)x"
      R"x("path":")x" +
      missing +
      R"x(","privateOrProtected":false,"symbols":[]},)x"
      R"x({"path":")x" +
      hidden + R"x(","privateOrProtected":true,"symbols":[]}]}})x";
  EXPECT_THAT(bodies[1], ::testing::EndsWith(tail));
  EXPECT_TRUE(r.logged("Indexing 5 files (parallel: false, cross_file_resolution: false)"));
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(R"(Indexed 5 files in \d+ms \(0 cache hits, 5 indexed\))")))
      << r.err;
  EXPECT_TRUE(
      r.logged("Failed to read file " + missing + ": No such file or directory (os error 2)"));
}

TEST_F(IndexFilesE2E, ServesUnchangedFilesFromTheCache) {
  const std::string a = write("a.pyi", "x = 1\n");
  const std::string b = write("b.pyi", "y = 1\n");
  const std::string keyed_a = file_json(a, R"(,"isStub":true,"mtime":170.2,"size":10)");
  const std::string later_a =
      file_json(a, R"(,"isStub":true,"mtime":170.9,"size":10,"moduleName":"m")");
  const std::string plain_b = file_json(b, R"(,"isStub":true)");
  const std::string keyed_b = file_json(b, R"(,"isStub":true,"mtime":1,"size":1)");
  const RunResult r = run_session(
      frame(initialize_request(1)) +
      frame(request("2", "indexFiles", R"({"files":[)" + keyed_a + "]}")) +
      // Served, indexed, served: results keep request order; b has no key and is never cached.
      frame(request("3", "indexFiles",
                    R"({"files":[)" + later_a + "," + plain_b + "," + keyed_a + "]}")) +
      // A changed flag is another entry.
      frame(request("4", "indexFiles",
                    R"({"files":[)" + file_json(a, R"(,"mtime":170,"size":10)") + "]}")) +
      frame(request("5", "indexFiles", R"({"files":[]})")) +
      // The cache is read before this request stores anything: both copies are indexed.
      frame(request("6", "indexFiles", R"({"files":[)" + keyed_b + "," + keyed_b + "]}")) +
      frame(request("7", "indexFiles", R"({"files":[)" + keyed_b + "]}")));
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 8u);
  const std::string x =
      R"(","privateOrProtected":false,"symbols":[{"kind":13,"name":"x","visibilityFlags":1}]})";
  const std::string y =
      R"(","privateOrProtected":false,"symbols":[{"kind":13,"name":"y","visibilityFlags":1}]})";
  EXPECT_EQ(
      without_elapsed(bodies[1]),
      R"({"jsonrpc":"2.0","id":2,"result":{"elapsedMs":N,"results":[{"path":")" + a + x + "]}}");
  EXPECT_EQ(without_elapsed(bodies[2]),
            R"({"jsonrpc":"2.0","id":3,"result":{"cacheHits":2,"elapsedMs":N,"results":[)"
            R"({"cached":true,"path":")" +
                a + x + R"(,{"path":")" + b + y + R"(,{"cached":true,"path":")" + a + x + "]}}");
  // Not a stub this time: a plain file without __all__ is skipped, and not served.
  EXPECT_EQ(without_elapsed(bodies[3]),
            R"({"jsonrpc":"2.0","id":4,"result":{"elapsedMs":N,"results":[{"path":")" + a +
                R"(","privateOrProtected":false,"symbols":[]}]}})");
  EXPECT_EQ(without_elapsed(bodies[4]),
            R"({"jsonrpc":"2.0","id":5,"result":{"elapsedMs":N,"results":[]}})");
  EXPECT_EQ(without_elapsed(bodies[5]),
            R"({"jsonrpc":"2.0","id":6,"result":{"elapsedMs":N,"results":[{"path":")" + b + y +
                R"(,{"path":")" + b + y + "]}}");
  EXPECT_EQ(without_elapsed(bodies[6]),
            R"({"jsonrpc":"2.0","id":7,"result":{"cacheHits":1,"elapsedMs":N,"results":[)"
            R"({"cached":true,"path":")" +
                b + y + "]}}");
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(R"(Indexed 3 files in \d+ms \(2 cache hits, 1 indexed\))")));
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex(R"(Indexed 0 files in \d+ms \(0 cache hits, 0 indexed\))")));
}

TEST_F(IndexFilesE2E, SearchPathsStayInForceUntilReplaced) {
  const std::string v = write("v.pyi",
                              "import sys\nif sys.version_info >= (3, 10):\n    new = 1\nelse:\n"
                              "    old = 1\n");
  const std::string files = R"({"files":[)" + file_json(v, R"(,"isStub":true)") + "]";
  const RunResult r = run_session(
      frame(initialize_request(1, R"(,"featureFlags":{"crossFileResolution":false})")) +
      frame(request("2", "indexFiles", files + R"(,"searchPaths":{"pythonVersion":[3,8]}})")) +
      frame(request("3", "indexFiles", files + "}")) +
      frame(request("4", "indexFiles", files + R"(,"searchPaths":null})")) +
      // An empty record replaces the version with none: the test is undecided again.
      frame(request("5", "indexFiles", files + R"(,"searchPaths":{}})")));
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 6u);
  for (int i : {1, 2, 3}) {
    EXPECT_THAT(bodies[i],
                HasSubstr(R"("symbols":[{"kind":13,"name":"old","visibilityFlags":1}]})"))
        << i;
  }
  EXPECT_THAT(bodies[4], HasSubstr(R"("name":"old")"));
  EXPECT_THAT(bodies[4], HasSubstr(R"("name":"new")"));
  // featureFlags members default to true when the object is present.
  EXPECT_TRUE(r.logged("Indexing 1 files (parallel: true, cross_file_resolution: false)"));
}

TEST_F(IndexFilesE2E, RefusesMalformedParamsWithoutSideEffects) {
  const RunResult r =
      run_session(frame(initialize_request(1)) + frame(request("2", "indexFiles")) +
                  frame(request("3", "indexFiles", R"({"files":[{"path":"a","isStub":null}]})")) +
                  frame(request("4", "indexFiles",
                                R"({"files":[],"searchPaths":{"pythonVersion":{"major":3}}})")));
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 5u);
  const std::string prefix = R"(,"error":{"code":-32602,"message":"Invalid indexFiles params: )";
  EXPECT_EQ(bodies[1], R"({"jsonrpc":"2.0","id":2)" + prefix +
                           R"(invalid type: null, expected struct IndexFilesParams"}})");
  EXPECT_EQ(bodies[2],
            R"({"jsonrpc":"2.0","id":3)" + prefix + R"(invalid type: null, expected a boolean"}})");
  EXPECT_EQ(bodies[3], R"({"jsonrpc":"2.0","id":4)" + prefix + R"(missing field `minor`"}})");
  EXPECT_FALSE(r.logged("Indexing "));
}

TEST_F(IndexFilesE2E, ParallelPoolHonoursRayonNumThreads) {
  std::string files = "[";
  for (int i = 0; i < 40; ++i) {
    const std::string path =
        write("m" + std::to_string(i) + ".pyi", "V" + std::to_string(i) + " = 1\n");
    files += (i ? "," : "") + file_json(path, R"(,"isStub":true)");
  }
  files += "]";
  for (const char* threads : {"1", "3", "not-a-number"}) {
    const RunResult r =
        run_session(frame(initialize_request(1, R"(,"featureFlags":{})")) +
                        frame(request("2", "indexFiles", R"({"files":)" + files + "}")),
                    Options().with_env("RAYON_NUM_THREADS", threads));
    const auto bodies = r.bodies();
    ASSERT_EQ(bodies.size(), 3u) << threads;
    // Every file answered once, in request order, whatever the split.
    std::size_t at = 0;
    for (int i = 0; i < 40; ++i) {
      at = bodies[1].find(R"("name":"V)" + std::to_string(i) + "\"", at);
      ASSERT_NE(at, std::string::npos) << threads << " file " << i;
    }
  }
}

TEST_F(IndexFilesE2E, ParallelMatchesSequential) {
  // One symbol per file keeps each result's text deterministic; every outcome is present.
  std::string files = "[";
  for (int i = 0; i < 120; ++i) {
    const std::string n = std::to_string(i);
    std::string path;
    switch (i % 5) {
      case 0:
        path = write("s" + n + ".pyi", "C" + n + " = 1\n");
        break;
      case 1:
        path = write("p" + n + ".py", "v" + n + " = 1\n__all__ = ['v" + n + "']\n");
        break;
      case 2:
        path = write("e" + n + ".pyi", "def f(:\n");
        break;
      case 3:
        path = root_ + "/_private" + n + ".py";
        break;
      default:
        path = root_ + "/missing" + n + ".py";
        break;
    }
    files += (i ? "," : "") + file_json(path, i % 5 == 0 || i % 5 == 2 ? R"(,"isStub":true)" : "");
  }
  files += "]";
  const std::string index = R"({"files":)" + files + "}";
  const RunResult r =
      run_session(frame(initialize_request(1, R"(,"featureFlags":{"parallel":false})")) +
                  frame(request("2", "indexFiles", index)) +
                  frame(initialize_request(3, R"(,"featureFlags":{"parallel":true})")) +
                  frame(request("2", "indexFiles", index)));
  const auto bodies = r.bodies();
  ASSERT_EQ(bodies.size(), 5u);
  EXPECT_THAT(bodies[1], HasSubstr(R"("name":"C115")"));
  EXPECT_EQ(without_elapsed(bodies[3]), without_elapsed(bodies[1]));
  EXPECT_TRUE(r.logged("Indexing 120 files (parallel: true, cross_file_resolution: true)"));
}

TEST_F(IndexFilesE2E, LogsEachFileUnderTheIndexerTarget) {
  const std::string stub = write("s.pyi", "x = 1\n");
  const std::string plain = write("p.py", "x = 1\n");
  const std::string broken = write("b.pyi", "def f(:\n");
  const std::string hidden = root_ + "/_h.py";
  const std::string site = root_ + "/Site-Packages/Pkg/m.py";
  const std::string files = "[" + file_json(stub, R"(,"isStub":true)") + "," + file_json(plain) +
                            "," + file_json(broken, R"(,"isStub":true)") + "," + file_json(hidden) +
                            "," + file_json(site) + "]";
  const RunResult r = run_session(
      frame(initialize_request(1)) +
          frame(request("2", "indexFiles", R"({"files":)" + files + "}")),
      Options().with_env("RUST_LOG", "korvane_indexer::indexer=trace").with_env("NO_COLOR", "1"));
  const std::string lines[] = {
      "set_indexed_files: 5 files, 1 package roots",
      "Indexing file: " + stub + " (is_stub=true, is_py_typed=false, include_all_symbols=false)",
      "Found 1 symbols in " + stub + " (after dedup)",
      "Skipping file without __all__ or wildcard imports: " + plain,
      "Failed to parse file " + broken + ": [ParseError { error: ",
      "Skipping private/protected file: " + hidden,
      "Failed to read file " + site + ": No such file or directory (os error 2)",
  };
  for (const auto& line : lines) EXPECT_TRUE(r.logged(line)) << line << "\n" << r.err;
  // The server's own lines are filtered out by the directive.
  EXPECT_FALSE(r.logged("Indexing 5 files"));
}

}  // namespace
}  // namespace korvane::e2e
