// Running out of memory while reading, decoding, handling or encoding one message answers that
// message with an internal error, and the server goes on with the next one.
#include <sys/mman.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/captured_io.h"
#include "../support/failing_allocator.h"
#include "../support/temp_tree.h"
#include "server/server.h"
#include "server/transport.h"

namespace korvane::server {
namespace {

using korvane::testing::FailingAllocations;
using korvane::testing::TempTree;
using ::testing::HasSubstr;
using ::testing::Not;

// Whatever is allocated in one piece of this size or more fails.
constexpr std::size_t kLimit = 256 << 10;

constexpr std::string_view kUndecoded =
    R"({"jsonrpc":"2.0","error":{"code":-32603,"message":"Internal error: out of memory"}})";

std::string with_id(std::string_view id) {
  return R"({"jsonrpc":"2.0","id":)" + std::string(id) +
         R"(,"error":{"code":-32603,"message":"Internal error: out of memory"}})";
}

std::string frame(std::string_view body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

using korvane::testing::contents;
using korvane::testing::memory_file;

// A server whose replies are written to a file in memory.
class Session {
 public:
  Session() : in_(memory_file("")), out_(memory_file("")), transport_(in_, out_) {
    server_.handle_message(
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"1.0.0"}})");
  }
  ~Session() {
    ::close(in_);
    ::close(out_);
  }
  // The frames written for `body`, or the test fails on a fatal error.
  std::string answer(std::string_view body) {
    const auto before = static_cast<std::size_t>(::lseek(out_, 0, SEEK_END));
    auto flow = server_.on_message(body, transport_);
    EXPECT_TRUE(flow.has_value());
    return contents(out_).substr(before);
  }
  Server& server() { return server_; }
  Transport& transport() { return transport_; }
  std::string output() const { return contents(out_); }

 private:
  int in_;
  int out_;
  Server server_;
  Transport transport_;
};

struct Case {
  const char* name;
  std::string body;
  std::string want;  // the exact reply, framed
};

std::string padding() { return std::string(2 * kLimit, 'a'); }

// Long paths of missing files: small requests and results, a reply too large to hold.
std::string many_missing_files() {
  std::string files;
  for (int i = 0; i < 300; ++i) {
    if (!files.empty()) files += ',';
    files += R"({"path":"/nonexistent/)" + std::string(1000, 'p') + std::to_string(i) + R"(.py"})";
  }
  return R"({"jsonrpc":"2.0","id":"big","method":"indexFiles","params":{"files":[)" + files + "]}}";
}

// Where memory runs out: before the id is known the error carries none.
const Case kCases[] = {
    {"decoding", R"({"jsonrpc":")" + padding() + R"(","id":7,"method":"ping"})", frame(kUndecoded)},
    {"encoding", many_missing_files(), frame(with_id(R"("big")"))},
};

class OutOfMemoryReply : public ::testing::TestWithParam<Case> {};

TEST_P(OutOfMemoryReply, AnswersAnInternalErrorAndGoesOn) {
  Session session;
  std::string got;
  {
    FailingAllocations fail = FailingAllocations::at_least(kLimit);
    got = session.answer(GetParam().body);
  }
  EXPECT_EQ(got, GetParam().want);
  EXPECT_THAT(session.answer(R"({"jsonrpc":"2.0","id":8,"method":"ping"})"),
              HasSubstr(R"("id":8,"result":{)"));
}

INSTANTIATE_TEST_SUITE_P(Server, OutOfMemoryReply, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// The body of a framed reply without its elapsed time, the one part that changes from run to run.
std::string timeless(std::string reply) {
  if (const auto body = reply.find("\r\n\r\n"); body != std::string::npos) reply.erase(0, body + 4);
  const std::string field = R"("elapsedMs":)";
  const auto at = reply.find(field);
  if (at == std::string::npos) return reply;
  const auto end = reply.find(',', at);
  return reply.erase(at + field.size(), end - at - field.size());
}

// Each allocation of a request fails in turn, once or from there on: the reply is whole, fails
// the file that ran out, or is the internal error; and the server answers the next request.
TEST(OutOfMemoryReply, EveryAllocationOfARequestMayFail) {
  TempTree tree;
  const std::string a = tree.file("a.pyi", "class C: ...\n").string();
  const std::string b = tree.file("b.pyi", "class C: ...\n").string();
  const std::string body = R"({"jsonrpc":"2.0","id":9,"method":"indexFiles","params":{"files":[)"
                           R"({"path":")" +
                           a + R"(","isStub":true},{"path":")" + b + R"(","isStub":true}]}})";
  const auto indexed = [](const std::string& path) {
    return R"({"path":")" + path +
           R"(","privateOrProtected":false,"symbols":[{"kind":5,"name":"C","visibilityFlags":1}]})";
  };
  const auto lost = [](const std::string& path) {
    return R"({"error":"Out of memory while indexing file","path":")" + path +
           R"(","privateOrProtected":false,"symbols":[]})";
  };
  const auto reply = [](const std::string& first, const std::string& second) {
    return R"({"jsonrpc":"2.0","id":9,"result":{"elapsedMs":,"results":[)" + first + "," + second +
           "]}}";
  };
  const std::string whole = reply(indexed(a), indexed(b));
  const std::vector<std::string> allowed = {
      whole,        reply(lost(a), indexed(b)), reply(indexed(a), lost(b)), reply(lost(a), lost(b)),
      with_id("9"), std::string(kUndecoded)};
  for (const bool sticky : {false, true}) {
    Session session;
    for (std::size_t n = 1;; ++n) {
      const auto before = session.output().size();
      bool failed = false;
      bool answered = false;
      {
        FailingAllocations fail = FailingAllocations::nth(n, sticky);
        answered = session.server().on_message(body, session.transport()).has_value();
        failed = fail.failed();
      }
      ASSERT_TRUE(answered) << n;
      const std::string got = timeless(session.output().substr(before));
      if (!failed) {
        EXPECT_EQ(got, whole);
        break;
      }
      ASSERT_THAT(allowed, ::testing::Contains(got)) << "allocation " << n;
      ASSERT_THAT(session.answer(R"({"jsonrpc":"2.0","id":8,"method":"ping"})"),
                  HasSubstr(R"("id":8,"result":{)"));
    }
  }
}

// A scan runs out at each of its allocations in turn, its directory tables' included: the reply is
// whole or the internal error, and the server goes on.
TEST(OutOfMemoryReply, EveryAllocationOfAScanMayFail) {
  TempTree tree;
  tree.file("site/pkg/__init__.py", "");
  tree.file("site/pkg/sub/mod.py", "");
  tree.file("site/top.py", "");
  const std::string body = R"({"jsonrpc":"2.0","id":9,"method":"scanPackages","params":)"
                           R"({"searchRoots":[")" +
                           (tree.root() / "site").string() + R"("]}})";
  Session session;
  const std::string whole = timeless(session.answer(body));
  ASSERT_THAT(whole, HasSubstr("pkg/__init__.py"));
  for (std::size_t n = 1;; ++n) {
    const auto before = session.output().size();
    bool failed = false;
    {
      FailingAllocations fail = FailingAllocations::nth(n);
      ASSERT_TRUE(session.server().on_message(body, session.transport()).has_value()) << n;
      failed = fail.failed();
    }
    const std::string got = timeless(session.output().substr(before));
    if (!failed) {
      EXPECT_EQ(got, whole);
      break;
    }
    ASSERT_THAT((std::vector<std::string>{whole, with_id("9"), std::string(kUndecoded)}),
                ::testing::Contains(got))
        << "allocation " << n;
    ASSERT_THAT(session.answer(R"({"jsonrpc":"2.0","id":8,"method":"ping"})"),
                HasSubstr(R"("id":8,"result":{)"));
  }
}

// When even the error cannot be made, the one prepared in advance is sent.
TEST(OutOfMemoryReply, SendsWithoutAllocating) {
  Session session;
  bool answered = false;
  {
    FailingAllocations fail = FailingAllocations::nth(1, /*sticky=*/true);
    answered = session.server()
                   .on_message(R"({"jsonrpc":"2.0","id":7,"method":"ping"})", session.transport())
                   .has_value();
  }
  EXPECT_TRUE(answered);
  EXPECT_EQ(session.output(), frame(kUndecoded));
}

// A notification is never answered: one that runs out once decoded is dropped, and one that
// runs out before it is known to be one gets the error without an id.
TEST(OutOfMemoryReply, DropsANotificationThatRanOut) {
  const std::string body = R"({"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":5}})";
  Session session;
  for (std::size_t n = 1;; ++n) {
    const auto before = session.output().size();
    bool failed = false;
    bool answered = false;
    {
      FailingAllocations fail = FailingAllocations::nth(n);
      answered = session.server().on_message(body, session.transport()).has_value();
      failed = fail.failed();
    }
    ASSERT_TRUE(answered) << n;
    const std::string written = session.output().substr(before);
    if (!failed) {
      EXPECT_EQ(written, "");
      EXPECT_EQ(session.server().pending_cancellations(), 1u);
      break;
    }
    EXPECT_THAT(written, ::testing::AnyOf(std::string(), frame(kUndecoded))) << n;
  }
}

// A body that cannot be held is read past and answered; a header line that cannot be held is
// read past as any header other than the length; the next message is read as usual.
TEST(OutOfMemoryReply, SkipsABodyOrHeaderTooLargeToHold) {
  const int in =
      memory_file(frame(std::string(2 * kLimit, ' ')) + "X-Pad: " + std::string(2 * kLimit, 'x') +
                  "\r\n" + frame(R"({"jsonrpc":"2.0","id":2,"method":"ping"})"));
  const int out = memory_file("");
  Server server;
  Transport transport(in, out);
  {
    FailingAllocations fail = FailingAllocations::at_least(kLimit);
    EXPECT_TRUE(transport.loop(server).has_value());
  }
  const std::string written = contents(out);
  EXPECT_THAT(written, ::testing::StartsWith(frame(kUndecoded)));
  EXPECT_THAT(written.substr(frame(kUndecoded).size()),
              HasSubstr(R"({"jsonrpc":"2.0","id":2,"result":{)"));
  ::close(in);
  ::close(out);
}

// Every table build of a parallel cross-file batch runs out on a pool thread and drops its parse
// there, telling the server's trim policy from that thread: each file is answered as out of
// memory, and the next request as usual.
TEST(OutOfMemoryReply, ParallelTableBuildsThatRunOut) {
  TempTree tree;
  std::string text;
  for (int k = 0; k < 5000; ++k)
    text += "name_" + std::to_string(k) + " = " + std::to_string(k) + "\n";
  std::string files;
  std::string results;
  for (int i = 0; i < 16; ++i) {
    const std::string path = tree.file("m" + std::to_string(i) + ".pyi", text).string();
    files += std::string(i ? "," : "") + R"({"path":")" + path + R"(","isStub":true})";
    results += std::string(i ? "," : "") +
               R"({"error":"Out of memory while indexing file","path":")" + path +
               R"(","privateOrProtected":false,"symbols":[]})";
  }
  Session session;
  session.answer(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":)"
                 R"("1.0.0","featureFlags":{"parallel":true,"crossFileResolution":true}}})");
  std::string got;
  {
    FailingAllocations fail = FailingAllocations::at_least(kLimit);
    got = session.answer(R"({"jsonrpc":"2.0","id":3,"method":"indexFiles","params":{"files":[)" +
                         files + "]}}");
  }
  EXPECT_THAT(timeless(got), HasSubstr(R"("results":[)" + results + "]}}"));
  EXPECT_THAT(session.answer(R"({"jsonrpc":"2.0","id":8,"method":"ping"})"),
              HasSubstr(R"("id":8,"result":{)"));
}

// A file that did not fit says nothing about the file: the next request indexes it again.
TEST(OutOfMemoryReply, DoesNotCacheAFileThatDidNotFit) {
  TempTree tree;
  std::string text;
  while (text.size() < 2 * kLimit) text += "x=1\n";
  const std::string path = tree.file("big.pyi", text).string();
  const std::string body =
      R"({"jsonrpc":"2.0","id":3,"method":"indexFiles","params":{"files":[{"path":")" + path +
      R"(","isStub":true,"mtime":1,"size":)" + std::to_string(text.size()) + "}]}}";
  Session session;
  std::string first;
  {
    FailingAllocations fail = FailingAllocations::at_least(kLimit);
    first = session.answer(body);
  }
  EXPECT_THAT(first, HasSubstr(R"("error":"Out of memory while indexing file")"));
  const std::string second = session.answer(body);
  EXPECT_THAT(second, Not(HasSubstr("cacheHits")));  // written only when not 0
  EXPECT_THAT(second, HasSubstr(R"("symbols":[{"kind":13,"name":"x","visibilityFlags":1}])"));
}

}  // namespace
}  // namespace korvane::server
