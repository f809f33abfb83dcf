// Python source through the whole parser.
//
// Invariants: the parse ends with a tree or with one error; an error's range lies inside the
// source and renders as text; top-level statements lie inside the source, in order. Parsing
// statement by statement agrees with the whole-module parse: the same statements (kind and
// range) on success, the same error otherwise, at either depth.
#include <vector>

#include "fuzz_support.h"
#include "python/parser.h"
#include "util/utf8.h"

using namespace korvane;

namespace {

struct Seen {
  python::NodeKind kind;
  python::TextRange range;
  friend bool operator==(const Seen&, const Seen&) = default;
};

void check_statements_agree(std::string_view text, python::ParseDepth depth) {
  auto whole = python::parse_module(text, depth);
  std::vector<Seen> streamed;
  auto result = python::parse_module_statements(text, depth, [&](const python::Stmt& s) {
    streamed.push_back({s.kind, s.range});
  });
  FUZZ_CHECK(whole.has_value() == result.has_value(),
             "statement-by-statement parse and whole parse disagree on success");
  if (!whole) {
    const python::ParseError& a = whole.error();
    const python::ParseError& b = result.error();
    FUZZ_CHECK(a.kind == b.kind && a.range == b.range && a.expected == b.expected &&
                   a.found == b.found && a.message == b.message && a.size == b.size,
               "statement-by-statement parse gives another error");
    return;
  }
  FUZZ_CHECK(whole->body().size() == streamed.size(),
             "statement-by-statement parse visits another number of statements");
  for (size_t i = 0; i < streamed.size(); ++i) {
    const python::Stmt* s = whole->body()[i];
    FUZZ_CHECK((Seen{s->kind, s->range} == streamed[i]),
               "statement-by-statement parse visits another statement");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  if (validate_utf8(text)) return 0;  // the indexer rejects such files before parsing
  check_statements_agree(text, python::ParseDepth::Full);
  check_statements_agree(text, python::ParseDepth::Outline);
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
