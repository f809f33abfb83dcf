// Python source through the lexer alone.
//
// Invariants: tokens lie inside the source, in order (but for a final Error token), and the stream
// ends with exactly one EndOfFile or Error token, whose error range also lies inside the source.
#include <vector>

#include "fuzz_support.h"
#include "python/lexer.h"
#include "util/utf8.h"

using namespace korvane;
using python::TokenKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  if (validate_utf8(text)) return 0;  // the indexer rejects such files before parsing
  const uint32_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  std::vector<python::Token> tokens;
  python::Lexer lexer(text, start);
  lexer.run(tokens);
  FUZZ_CHECK(!tokens.empty(), "no tokens");
  const TokenKind last = tokens.back().kind;
  FUZZ_CHECK(last == TokenKind::EndOfFile || last == TokenKind::Error, "stream not terminated");
  uint32_t previous = start;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const python::Token& t = tokens[i];
    FUZZ_CHECK(t.start <= t.end && t.end <= text.size(), "token outside the source");
    // The final Error token may point back at what it reports, such as an unclosed bracket.
    FUZZ_CHECK(t.start >= previous || t.kind == TokenKind::Error, "tokens out of order");
    previous = t.start;
    if (i + 1 < tokens.size()) {
      FUZZ_CHECK(t.kind != TokenKind::EndOfFile && t.kind != TokenKind::Error,
                 "stream goes on after its end");
    }
  }
  if (last == TokenKind::Error) {
    const auto& range = lexer.error().range;
    FUZZ_CHECK(range.start <= range.end && range.end <= text.size(), "error outside the source");
  }
  return 0;
}
