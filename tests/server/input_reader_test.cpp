#include "server/input_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "server/fatal_error.h"

namespace korvane::server {
namespace {

// A pipe whose write end is fed from another thread, then closed.
class Feed {
 public:
  explicit Feed(std::string bytes) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    read_fd_ = fds[0];
    writer_ = std::thread([fd = fds[1], bytes = std::move(bytes)] {
      std::size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  ~Feed() {
    writer_.join();
    ::close(read_fd_);
  }
  int fd() const { return read_fd_; }

 private:
  int read_fd_ = -1;
  std::thread writer_;
};

TEST(InputReader, LinesThenBodyShareOneBuffer) {
  Feed feed("a\r\nb\n\nxyzrest\nlast");
  InputReader in(feed.fd());
  std::string line, body;
  std::vector<std::string> lines;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(*in.read_line(line));
    lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"a\r\n", "b\n", "\n"}));
  ASSERT_TRUE(in.read_exact(3, body));
  EXPECT_EQ(body, "xyz");
  ASSERT_TRUE(*in.read_line(line));
  EXPECT_EQ(line, "rest\n");
  ASSERT_TRUE(*in.read_line(line));
  EXPECT_EQ(line, "last");  // the last line may end without a line feed
  EXPECT_FALSE(*in.read_line(line));
}

TEST(InputReader, LargeBodyAcrossManyReads) {
  std::string payload(1 << 20, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  Feed feed("h\n" + payload + "tail\n");
  InputReader in(feed.fd());
  std::string line, body;
  ASSERT_TRUE(*in.read_line(line));
  ASSERT_TRUE(in.read_exact(payload.size(), body));
  EXPECT_EQ(body, payload);
  ASSERT_TRUE(*in.read_line(line));
  EXPECT_EQ(line, "tail\n");
}

TEST(InputReader, LyingLengthFailsAtEndOfInputWithoutAllocatingIt) {
  Feed feed(std::string(50000, 'x'));
  InputReader in(feed.fd());
  std::string body;
  auto r = in.read_exact(UINT64_MAX, body);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "failed to fill whole buffer");
  EXPECT_EQ(body.size(), 50000u);
  EXPECT_LT(body.capacity(), 1u << 20);
}

TEST(InputReader, ClosedDescriptorIsEndOfInput) {
  InputReader in(1 << 20);  // no such descriptor
  std::string line;
  auto r = in.read_line(line);
  ASSERT_TRUE(r);
  EXPECT_FALSE(*r);
}

TEST(FatalError, LongFormIndentsEveryLineOfTheCause) {
  EXPECT_EQ((FatalError{"Missing Content-Length header", std::nullopt}.long_form()),
            "Missing Content-Length header");
  EXPECT_EQ((FatalError{"Outer", "first\nsecond"}.long_form()),
            "Outer\n\nCaused by:\n    first\n    second");
}

}  // namespace
}  // namespace korvane::server
