// Hostile files in an indexFiles batch: nesting bombs, huge and empty files, tens of thousands
// of records, paths no file system can open and files that never yield bytes. Every file must
// get its own result, in request order, and the server must answer and go on.
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "hostile_support.h"

namespace korvane::e2e {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr std::string_view kAll = "__all__ = [\"x\"]\n";  // 16 bytes: offsets below count it

std::string initialize_with(bool parallel, bool cross_file) {
  return initialize_request(1, std::string(R"(,"featureFlags":{"parallel":)") +
                                   (parallel ? "true" : "false") + R"(,"crossFileResolution":)" +
                                   (cross_file ? "true" : "false") + "}");
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string index_request(const std::vector<std::string>& paths, std::string_view extra = "") {
  std::string files;
  for (const auto& p : paths) {
    if (!files.empty()) files += ',';
    files += R"({"path":)" + json_string(p) + std::string(extra) + "}";
  }
  return request("2", "indexFiles", R"({"files":[)" + files + "]}");
}

// The reply to the indexFiles request of a run: initialize, indexFiles, end of input.
std::string index_reply(const RunResult& r) {
  const auto bodies = r.bodies();
  if (bodies.size() != 2) {
    ADD_FAILURE() << "expected two replies, got " << bodies.size() << "\n" << r.err.substr(0, 2000);
    return {};
  }
  return bodies[1];
}

// One file's result as the reply writes it, members in name order.
std::string result_text(const std::string& path, std::string_view error,
                        std::string_view symbols = "") {
  std::string out = "{";
  if (!error.empty()) out += R"("error":)" + json_string(error) + ",";
  return out + R"("path":)" + json_string(path) + R"(,"privateOrProtected":false,"symbols":[)" +
         std::string(symbols) + "]}";
}

std::string parse_error(std::string_view kind, std::string_view detail, std::size_t start,
                        std::size_t end) {
  return "Parse error: [ParseError { error: " + std::string(kind) + " { " + std::string(detail) +
         " }, location: " + std::to_string(start) + ".." + std::to_string(end) + " }]";
}

struct NestedCase {
  const char* name;
  std::string source;
  std::string error;  // empty: indexed, exporting x
};

void PrintTo(const NestedCase& c, std::ostream* os) { *os << c.name; }

// Nesting a client's file can hold: each bound must give a syntax error, never exhaust a stack
// (worker threads included). Indentation needs one byte per level, so nested `if` blocks are
// written to 1,000 levels: everything past the 100-level bound is never read anyway.
std::vector<NestedCase> nested_cases() {
  const std::string a(kAll);
  const std::string x = a + "x = ";
  std::string ifs = a;
  for (int i = 0; i < 1000; ++i) ifs += std::string(static_cast<std::size_t>(i), ' ') + "if x:\n";
  ifs += std::string(1000, ' ') + "x = 1\n";
  const std::string expr = R"(message: "too many nested expressions")";
  return {
      {"parentheses_10000", x + repeat("(", 10000) + "1" + repeat(")", 10000) + "\n",
       parse_error("TooManyNestedParentheses", R"(message: "too many nested parentheses")", 220,
                   221)},
      {"mixed_brackets", x + repeat("[{(", 3400) + repeat(")}]", 3400) + "\n",
       parse_error("TooManyNestedParentheses", R"(message: "too many nested parentheses")", 220,
                   221)},
      {"if_blocks", ifs,
       parse_error("TooDeeplyNested", R"(message: "too many levels of indentation")", 5566, 5666)},
      {"not_100000", x + repeat("not ", 100000) + "1\n",
       parse_error("TooDeeplyNested", expr, 4016, 4019)},
      {"minus_100000", x + repeat("-", 100000) + "1\n",
       parse_error("TooDeeplyNested", expr, 1019, 1020)},
      {"power_100000", x + repeat("2**", 100000) + "2\n",
       parse_error("TooDeeplyNested", expr, 3020, 3021)},
      {"lambda_100000", x + repeat("lambda: ", 100000) + "1\n",
       parse_error("TooDeeplyNested", expr, 8020, 8026)},
      {"conditional_100000", x + repeat("a if b else ", 100000) + "c\n",
       parse_error("TooDeeplyNested", expr, 12020, 12021)},
      {"fstrings_1000", x + repeat("f\"{", 1000) + "1" + repeat("}\"", 1000) + "\n",
       parse_error("InvalidFString", R"(message: "too many nested f-strings")", 467, 469)},
      {"pattern_10000",
       a + "match x:\n case " + repeat("[", 10000) + repeat("]", 10000) + ": x = 1\n",
       parse_error("TooManyNestedParentheses", R"(message: "too many nested parentheses")", 231,
                   232)},
      // Long but flat: must be indexed, not refused.
      {"elif_100000", a + "if a: x = 1\n" + repeat("elif b: x = 2\n", 100000), ""},
      {"attributes_100000", x + "a" + repeat(".b", 100000) + "\n", ""},
      {"calls_100000", x + "a" + repeat("()", 100000) + "\n", ""},
      {"additions_100000", x + "a" + repeat(" + a", 100000) + "\n", ""},
      {"chained_assignment_100000", a + repeat("x = ", 100000) + "1\n", ""},
      {"decorators_100000", a + repeat("@d\n", 100000) + "def x(): pass\n", ""},
  };
}

class NestedSourceTest : public testing::TestWithParam<NestedCase> {};

TEST_P(NestedSourceTest, GivesASyntaxErrorOrIndexes) {
  const NestedCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.write("mod.py", c.source);
  const std::string kind = c.source.find("def x") == std::string::npos ? "13" : "12";
  const std::string symbol = R"({"kind":)" + kind + R"(,"name":"x","visibilityFlags":3})";
  // On the main thread and on workers of the pool, whose stacks may be smaller; cross-file
  // mode parses on the pool too, and names every failure alike.
  for (const auto& [parallel, cross_file] :
       {std::pair{false, false}, std::pair{true, false}, std::pair{true, true}}) {
    const std::string error = c.error.empty() || !cross_file ? c.error : "Failed to parse file";
    const std::string want =
        error.empty() ? result_text(path, "", symbol) : result_text(path, error);
    const RunResult r = run_limited(frame(initialize_with(parallel, cross_file)) +
                                    frame(index_request({path, path})));
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    EXPECT_THAT(index_reply(r), HasSubstr(R"("results":[)" + want + "," + want + "]"))
        << "parallel " << parallel << ", cross-file " << cross_file;
  }
}

INSTANTIATE_TEST_SUITE_P(Hostile, NestedSourceTest, testing::ValuesIn(nested_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HostileFiles, HugeAndEmptyFiles) {
  TempDir dir;
  const std::size_t size = 100u << 20;
  // 100 MB that must be read, lexed and parsed: one comment line carries the bulk.
  std::string big = std::string(kAll) + "x = 1\n# ";
  big.append(size - big.size() - 1, 'a');
  big += '\n';
  const std::string parsed = dir.write("big.py", big);
  // 100 MB that the text rule skips without parsing.
  const std::string skipped = dir.write("skipped.py", std::string(size, '\n'));
  // 100 MB whose last byte is not UTF-8.
  big.back() = '\xff';
  const std::string invalid = dir.write("invalid.py", big);
  const std::string empty = dir.write("empty.py", "");
  const std::string empty_stub = dir.write("empty.pyi", "");

  const RunResult r =
      run_limited(frame(initialize_with(false, false)) +
                  frame(index_request({parsed, skipped, invalid, empty, empty_stub})));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_THAT(index_reply(r),
              HasSubstr(R"("results":[)" +
                        result_text(parsed, "", R"({"kind":13,"name":"x","visibilityFlags":3})") +
                        "," + result_text(skipped, "") + "," +
                        result_text(invalid,
                                    "Failed to read file: invalid utf-8 sequence of 1 "
                                    "bytes from index " +
                                        std::to_string(size - 1)) +
                        "," + result_text(empty, "") + "," + result_text(empty_stub, "") + "]"));
}

TEST(HostileFiles, PathsThatCannotBeRead) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.pyi");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("dir.pyi"));
  const std::string loop = dir.file("loop.pyi");
  std::filesystem::create_symlink(loop, loop);
  const std::string long_name = dir.file(std::string(5000, 'n') + ".pyi");
  const std::string no_device = "No such device (os error 19)";

  // A named pipe with no writer must fail at once instead of waiting for one.
  const RunResult r = run_limited(
      frame(initialize_with(false, false)) +
      frame(index_request({fifo, dir.file("dir.pyi"), loop, long_name}, R"(,"isStub":true)")));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_THAT(
      index_reply(r),
      HasSubstr(R"("results":[)" + result_text(fifo, "Failed to read file: " + no_device) + "," +
                result_text(dir.file("dir.pyi"), "Failed to read file: " + no_device) + "," +
                result_text(loop,
                            "Failed to read file: Too many levels of symbolic links (os "
                            "error 40)") +
                "," +
                result_text(long_name, "Failed to read file: File name too long (os error 36)") +
                "]"));
}

// Import cycles and chains far longer than any bound, in cross-file mode: a module that
// star-imports itself, two that star-import each other, and 2,000-module chains of star
// imports and of re-exported names that close into a cycle. Each request must end with one
// result per file; a chain past the resolution depth drops its name.
TEST(HostileFiles, ImportCyclesEnd) {
  TempDir dir;
  const int chain = 2000;
  for (int i = 0; i < chain; ++i) {
    const std::string next = std::to_string((i + 1) % chain);
    dir.write("s" + std::to_string(i) + ".py",
              "from s" + next + " import *\nv" + std::to_string(i) + " = 1\n");
    dir.write("a" + std::to_string(i) + ".pyi", "from a" + next + " import x as x\n");
  }
  const std::string self = dir.write("selfstar.pyi", "from selfstar import *\n");
  const std::string p = dir.write("p.pyi", "from q import *\n");
  dir.write("q.pyi", "from p import *\n");
  const std::string s0 = dir.file("s0.py");
  const std::string a0 = dir.file("a0.pyi");
  const std::string search = R"(,"searchPaths":{"extraPaths":[],"workspaceRoots":[)" +
                             json_string(dir.path().string()) + R"(],"sitePackagesPaths":[]})";
  for (bool parallel : {false, true}) {
    const RunResult r =
        run_limited(frame(initialize_with(parallel, true)) +
                    frame(request("2", "indexFiles",
                                  R"({"files":[{"path":)" + json_string(s0) +
                                      R"(,"includeAllSymbols":true},{"path":)" + json_string(a0) +
                                      R"(},{"path":)" + json_string(self) + R"(},{"path":)" +
                                      json_string(p) + "}]" + search + "}")));
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    const std::string reply = index_reply(r);
    // s0 exports its own name and the one its star import brings in; the order is the
    // hash table's.
    EXPECT_THAT(reply, HasSubstr(R"({"kind":13,"name":"v0","visibilityFlags":1})"));
    EXPECT_THAT(reply,
                HasSubstr(R"({"alias":{"kind":13,"moduleUri":)" + json_string(dir.file("s1.py")) +
                          R"(,"originalName":"v1"},"kind":2,"name":"v1","visibilityFlags":1})"));
    EXPECT_THAT(reply, HasSubstr("]}," + result_text(a0, "") + "," + result_text(self, "") + "," +
                                 result_text(p, "") + "]"));
  }
}

struct BatchCase {
  const char* name;
  bool parallel;
  bool cross_file;
  std::string missing_error;
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

class LargeBatchTest : public testing::TestWithParam<BatchCase> {};

// 50,000 records, all but ten naming files that do not exist: one result each, in order.
TEST_P(LargeBatchTest, AnswersEveryRecordInOrder) {
  const BatchCase& c = GetParam();
  TempDir dir;
  const std::string real = dir.write("real.py", std::string(kAll) + "x = 1\n");
  std::vector<std::string> paths;
  const int count = 50000;
  for (int i = 0; i < count; ++i) {
    paths.push_back(i % 5000 == 0 ? real : dir.file("missing/m" + std::to_string(i) + ".py"));
  }
  const RunResult r =
      run_limited(frame(initialize_with(c.parallel, c.cross_file)) + frame(index_request(paths)));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  const std::string reply = index_reply(r);
  std::string want = R"("results":[)";
  for (int i = 0; i < count; ++i) {
    if (i > 0) want += ',';
    want += i % 5000 == 0 ? result_text(real, "", R"({"kind":13,"name":"x","visibilityFlags":3})")
                          : result_text(paths[static_cast<std::size_t>(i)], c.missing_error);
  }
  EXPECT_NE(reply.find(want + "]"), std::string::npos) << reply.substr(0, 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LargeBatchTest,
    testing::Values(BatchCase{"plain", false, false,
                              "Failed to read file: No such file or directory (os error 2)"},
                    BatchCase{"plain_parallel", true, false,
                              "Failed to read file: No such file or directory (os error 2)"},
                    BatchCase{"cross_file_parallel", true, true, "Failed to parse file"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace korvane::e2e
