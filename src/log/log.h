// Leveled log events on standard error, filtered by RUST_LOG directives.
//
//   KLOG_INFO("korvane_indexer::indexer", "Indexed {} files in {}ms", n, ms);
//
// The arguments are formatted only when the event passes the installed filter, so a disabled
// TRACE line in a hot loop costs one check. A line that cannot be built for lack of memory is
// dropped: no caller fails for its log, and a DEBUG line may quote a whole message.
#pragma once

#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace korvane::log {

enum class Level : int { Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

// True when an event of `level` with `target` passes the installed filter.
bool enabled(Level level, std::string_view target);

// Writes one whole line; safe from any thread: lines of different threads never mix, whatever
// their length. The message is written where it stands, not copied.
void write(Level level, std::string_view target, std::string_view message);

// Installs the filter of RUST_LOG and the colours NO_COLOR allows, once, at start-up; before
// that nothing is logged.
void install_from_environment();

// The line of one event, line feed included: "{time}  INFO {target}: {message}\n", with
// ANSI colours when `color` is set.
std::string format_line(Level level, std::string_view target, std::string_view message, bool color);

template <class... Args>
void emit(Level level, std::string_view target, fmt::format_string<Args...> format,
          Args&&... args) {
  if (!enabled(level, target)) return;
  try {
    // Written from the buffer it is formatted in: a short line needs no allocation, and a long
    // one is held once.
    fmt::memory_buffer message;
    fmt::format_to(std::back_inserter(message), format, std::forward<Args>(args)...);
    write(level, target, std::string_view(message.data(), message.size()));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace korvane::log

#define KLOG_ERROR(target, ...) \
  ::korvane::log::emit(::korvane::log::Level::Error, target, __VA_ARGS__)
#define KLOG_WARN(target, ...) \
  ::korvane::log::emit(::korvane::log::Level::Warn, target, __VA_ARGS__)
#define KLOG_INFO(target, ...) \
  ::korvane::log::emit(::korvane::log::Level::Info, target, __VA_ARGS__)
#define KLOG_DEBUG(target, ...) \
  ::korvane::log::emit(::korvane::log::Level::Debug, target, __VA_ARGS__)
#define KLOG_TRACE(target, ...) \
  ::korvane::log::emit(::korvane::log::Level::Trace, target, __VA_ARGS__)
