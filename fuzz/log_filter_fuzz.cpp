// RUST_LOG values: the directive parser and the decision it drives.
//
// Invariants: parsing never crashes; a parsed filter never shows an event more verbose than
// its own most verbose level; any value, valid or not, yields a usable filter.
#include <string>

#include "fuzz_support.h"
#include "log/filter.h"
#include "log/log.h"

using namespace korvane;

namespace {

constexpr std::string_view kTargets[] = {
    "korvane_indexer", "korvane_indexer::server", "korvane_indexer::indexer", "other", "",
};

void check_filter(const log::Filter& filter, std::string_view extra_target) {
  for (int l = 1; l <= 5; ++l) {
    const auto level = static_cast<log::Level>(l);
    for (std::string_view target : kTargets) {
      const bool shown = filter.enabled(level, target);
      FUZZ_CHECK(!shown || l <= filter.max_level(), "shown beyond the filter's max level");
    }
    const bool shown = filter.enabled(level, extra_target);
    FUZZ_CHECK(!shown || l <= filter.max_level(), "shown beyond the filter's max level");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  // The piece after the first newline doubles as an event target to test against.
  const size_t nl = text.find('\n');
  const std::string_view spec = text.substr(0, nl);
  const std::string_view target = nl == std::string_view::npos ? "" : text.substr(nl + 1);
  if (auto filter = log::Filter::parse(spec)) check_filter(*filter, target);
  const std::string value(spec);  // RUST_LOG arrives as a C string
  check_filter(log::Filter::from_env_value(value.c_str()), target);
  for (bool color : {false, true}) {
    const std::string line = log::format_line(log::Level::Warn, target, spec, color);
    FUZZ_CHECK(!line.empty() && line.back() == '\n', "log line without line feed");
  }
  return 0;
}
