// Python source through the whole parser.
//
// Invariants: the parse ends with a tree or with one error; an error's range lies inside the
// source and renders as text; top-level statements lie inside the source, in order.
#include "fuzz_support.h"
#include "python/parser.h"
#include "util/utf8.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  if (validate_utf8(text)) return 0;  // the indexer rejects such files before parsing
  auto parsed = python::parse_module(text);
  if (!parsed) {
    const python::ParseError& e = parsed.error();
    FUZZ_CHECK(e.range.start <= e.range.end && e.range.end <= text.size(),
               "error range outside the source");
    FUZZ_CHECK(!e.kind_text().empty(), "error without text");
    return 0;
  }
  uint32_t previous_end = 0;
  for (const python::Stmt* s : parsed->body()) {
    FUZZ_CHECK(s != nullptr, "null statement");
    FUZZ_CHECK(s->is<python::Stmt>(), "a node of another kind among the statements");
    FUZZ_CHECK(s->range.start <= s->range.end && s->range.end <= text.size(),
               "statement outside the source");
    FUZZ_CHECK(s->range.start >= previous_end, "statements overlap");
    previous_end = s->range.end;
  }
  return 0;
}
