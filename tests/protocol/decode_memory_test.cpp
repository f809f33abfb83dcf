// The memory that decoding a request takes, counted by replacing the global allocation functions
// of this test program: a count of bytes, not a clock, so the verdict never depends on the
// machine. Kept in its own program so the hook touches no other test.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>

#include "protocol/jsonrpc.h"

namespace {

// Each block carries its size in front of it, so a delete knows what it gives back.
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::size_t g_live = 0;
std::size_t g_peak = 0;

void* counted_alloc(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = size;
  g_live += size;
  if (g_live > g_peak) g_peak = g_live;
  return static_cast<char*>(block) + kHeader;
}

void counted_free(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - kHeader;
  g_live -= *static_cast<std::size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

namespace korvane::protocol {
namespace {

// The most that was held at once while decoding `body`, beyond what was held before.
std::size_t decode_peak(const std::string& body) {
  const std::size_t before = g_live;
  g_peak = g_live;
  auto request = decode_request(body);
  EXPECT_TRUE(request) << request.error();
  return g_peak - before;
}

std::string repeated(std::string_view piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

struct ShapeCase {
  const char* name;
  std::string body;
  friend void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }
};

constexpr std::size_t kBig = std::size_t{1} << 20;

// Each row is a request whose bulk sits in another place of the envelope; building any of it
// into a tree of values (or copying it more than once) overshoots.
const ShapeCase kShapes[] = {
    {"ping_zeros",
     R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[)" + repeated("0,", kBig) + "0]}"},
    {"ping_objects", R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[)" +
                         repeated(R"({"a":1},)", kBig) + "{}]}"},
    {"ping_string",
     R"({"jsonrpc":"2.0","id":1,"method":"ping","params":")" + repeated("abc\\n", kBig) + "\"}"},
    {"unknown_method", R"({"jsonrpc":"2.0","id":1,"method":"nothing","params":{"x":[)" +
                           repeated("[1.5],", kBig) + "[]]}}"},
    {"index_files", R"({"jsonrpc":"2.0","id":1,"method":"indexFiles","params":{"files":[)" +
                        repeated(R"({"path":"/p/m.py","isStub":false},)", kBig) + "{}]}}"},
    {"array_form", R"(["2.0",1,"ping",[)" + repeated("null,", kBig) + "null]]"},
    {"unknown_member",
     R"({"jsonrpc":"2.0","id":1,"method":"ping","x":[")" + repeated("abc", kBig) + "\"]}"},
    {"long_method", R"({"jsonrpc":"2.0","id":1,"method":")" + repeated("m\\t", kBig) + "\"}"},
    {"long_id", R"({"jsonrpc":"2.0","method":"ping","id":")" + repeated("i", kBig) + "\"}"},
};

class DecodeMemoryTest : public testing::TestWithParam<ShapeCase> {};

TEST_P(DecodeMemoryTest, PeakStaysWithinFourTimesTheBody) {
  const std::string& body = GetParam().body;
  const std::size_t peak = decode_peak(body);
  EXPECT_LE(peak, 4 * body.size()) << "peak " << peak << " for a body of " << body.size();
}

INSTANTIATE_TEST_SUITE_P(Protocol, DecodeMemoryTest, testing::ValuesIn(kShapes),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DecodeMemory, UnreadParamsTakeNoMemoryOfTheirOwn) {
  const std::string body =
      R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[)" + repeated("0,", kBig) + "0]}";
  EXPECT_LT(decode_peak(body), std::size_t{4096});
}

}  // namespace
}  // namespace korvane::protocol
