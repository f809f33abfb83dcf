// Durations as the cross-file log lines show them: the largest unit that keeps the whole part
// non-zero, then the remainder's digits without trailing zeros.
//
//   format_duration(std::chrono::microseconds(1500));  // "1.5ms"
//   format_duration(std::chrono::seconds(2));          // "2s"
//   format_duration({});                               // "0ns"
#pragma once

#include <chrono>
#include <string>

namespace korvane::cross_file {

std::string format_duration(std::chrono::nanoseconds duration);

}  // namespace korvane::cross_file
