#include "log/log.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "log/filter.h"
#include "util/utf8.h"
#include "util/write_all.h"

namespace korvane::log {

namespace {

// Set once by install_from_environment and never freed, so readers on any thread need no lock.
std::atomic<const Filter*> g_filter{nullptr};
std::atomic<bool> g_color{true};

struct LevelStyle {
  std::string_view word;  // five columns, right-aligned
  std::string_view color;
};

LevelStyle style_of(Level level) {
  switch (level) {
    case Level::Error:
      return {"ERROR", "31"};
    case Level::Warn:
      return {" WARN", "33"};
    case Level::Info:
      return {" INFO", "32"};
    case Level::Debug:
      return {"DEBUG", "34"};
    case Level::Trace:
      break;
  }
  return {"TRACE", "35"};
}

void append_styled(std::string& out, std::string_view sgr, std::string_view text, bool color) {
  if (!color) {
    out.append(text);
    return;
  }
  out.append("\x1b[").append(sgr).append("m").append(text).append("\x1b[0m");
}

std::string utc_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm parts{};
  gmtime_r(&ts.tv_sec, &parts);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", parts.tm_year + 1900,
                     parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                     ts.tv_nsec / 1000);
}

}  // namespace

bool enabled(Level level, std::string_view target) {
  const Filter* filter = g_filter.load(std::memory_order_acquire);
  return filter != nullptr && filter->enabled(level, target);
}

namespace {

// Everything of a line before its message.
std::string line_head(Level level, std::string_view target, bool color) {
  const LevelStyle style = style_of(level);
  std::string head;
  head.reserve(64 + target.size());
  append_styled(head, "2", utc_now(), color);
  head.push_back(' ');
  append_styled(head, style.color, style.word, color);
  head.push_back(' ');
  append_styled(head, "2", target, color);
  append_styled(head, "2", ":", color);
  head.push_back(' ');
  return head;
}

}  // namespace

std::string format_line(Level level, std::string_view target, std::string_view message,
                        bool color) {
  std::string line = line_head(level, target, color);
  line.reserve(line.size() + message.size() + 1);
  line.append(message);
  line.push_back('\n');
  return line;
}

void write(Level level, std::string_view target, std::string_view message) {
  const std::string head = line_head(level, target, g_color.load());
  const std::string_view pieces[] = {head, message, "\n"};
  // A pipe keeps a write whole only up to PIPE_BUF bytes, and a write that is resumed is not
  // whole either: the lock keeps every piece of one line together, whatever its length.
  // It guards the standard error stream itself, which is process-wide.
  static std::mutex stream_lock;
  const std::lock_guard hold(stream_lock);
  (void)write_all(STDERR_FILENO, pieces);  // a log line is never worth failing for
}

void install_from_environment() {
  const char* no_color = std::getenv("NO_COLOR");
  const bool color_off = no_color != nullptr && no_color[0] != '\0' && !validate_utf8(no_color);
  g_color.store(!color_off);
  static const Filter filter = Filter::from_env_value(std::getenv("RUST_LOG"));
  g_filter.store(&filter, std::memory_order_release);
}

}  // namespace korvane::log
