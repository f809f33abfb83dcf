#include "python/parser.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "python/lexer.h"
#include "python/parser_impl.h"
#include "util/thread_kept.h"

namespace korvane::python {

Parser::Parser(std::string_view source, const std::vector<Token>& tokens,
               const ParseError& lex_error, Arena& arena, bool outline)
    : src_(source), toks_(tokens), lex_error_(lex_error), arena_(arena), outline_(outline) {
  stack_.reserve(256);
}

bool Parser::expect(TokenKind k) {
  if (at(k)) {
    bump();
    return true;
  }
  std::string want(token_kind_text(k));
  if (want.size() > 2 && want.front() == '\'') want = want.substr(1, want.size() - 2);
  unexpected(want);
  return false;
}

Failed Parser::unexpected(std::string_view expected) {
  if (failed_) return {};
  if (at(TokenKind::Error)) {
    failed_ = true;
    error_ = lex_error_;
    return {};
  }
  failed_ = true;
  const Token& t = cur();
  error_.range = {t.start, t.end};
  switch (t.kind) {
    case TokenKind::Indent:
      error_.kind = ParseErrorKind::UnexpectedIndent;
      return {};
    case TokenKind::Newline:
    case TokenKind::Dedent:
    case TokenKind::EndOfFile:
      error_.found = std::string(token_kind_text(t.kind));
      break;
    default: {
      // A long token (a docstring) is cut so the message stays one readable line.
      std::string_view found = text(t);
      if (found.size() > 40) {
        size_t cut = 37;
        while (cut > 0 && (static_cast<unsigned char>(found[cut]) & 0xC0) == 0x80) --cut;
        error_.found = std::string(found.substr(0, cut)) + "...";
      } else {
        error_.found = std::string(found);
      }
    }
  }
  error_.kind = ParseErrorKind::UnexpectedToken;
  error_.expected = std::string(expected);
  return {};
}

Failed Parser::syntax_error(TextRange range, std::string message, ParseErrorKind kind) {
  if (failed_) return {};
  failed_ = true;
  error_.kind = kind;
  error_.range = range;
  error_.message = std::move(message);
  return {};
}

// Python compares identifiers after NFKC normalisation, so `ﬁ` and `fi` are one name.
std::string_view Parser::identifier(const Token& t) {
  std::string_view raw = text(t);
  if ((t.flags & kNonAscii) == 0) return raw;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
  if (U_FAILURE(status)) return raw;
  icu::UnicodeString in = icu::UnicodeString::fromUTF8(raw);
  if (nfkc->isNormalized(in, status) && U_SUCCESS(status)) return raw;
  status = U_ZERO_ERROR;
  icu::UnicodeString norm = nfkc->normalize(in, status);
  if (U_FAILURE(status)) return raw;
  std::string out;
  norm.toUTF8String(out);
  return arena_.copy_text(out);
}

namespace {

// How far past a statement's last token the parser may look (it peeks two ahead), with margin.
constexpr size_t kStatementLookahead = 8;
// Tokens kept behind the current one before the consumed ones are dropped (one erase per so many
// tokens keeps the cost of moving the rest down negligible).
constexpr size_t kDroppedTokens = size_t{1} << 12;

// Keywords that go on a compound statement at its own indentation.
bool continues_statement(TokenKind kind) {
  return kind == TokenKind::Elif || kind == TokenKind::Else || kind == TokenKind::Except ||
         kind == TokenKind::Finally;
}

}  // namespace

bool Parser::lex_statement(Lexer& lexer, std::vector<Token>& tokens, std::vector<size_t>& top_lines,
                           size_t from, bool lexing) {
  // A top-level statement ends where a line at indentation zero starts that neither goes on a
  // compound statement nor follows a decorator. Reading more is harmless: only lexing less is not.
  auto consumed = std::find_if(top_lines.begin(), top_lines.end(),
                               [from](size_t line) { return line >= from; });
  top_lines.erase(top_lines.begin(), consumed);
  bool decorated = false;
  for (size_t k = 0;; ++k) {
    while (k == top_lines.size() || top_lines[k] >= tokens.size()) {
      if (!lexing) return false;
      lexing = lexer.step();
    }
    const size_t line = top_lines[k];
    const TokenKind kind = tokens[line].kind;
    if (kind == TokenKind::EndOfFile || kind == TokenKind::Error) return lexing;
    if (line > from && !decorated && !continues_statement(kind)) {
      while (lexing && tokens.size() < line + kStatementLookahead) lexing = lexer.step();
      return lexing;
    }
    decorated = kind == TokenKind::At;
  }
}

bool Parser::parse_file_streaming(Lexer& lexer, std::vector<Token>& tokens,
                                  const StatementVisitor& visit) {
  return parse_top_level(lexer, tokens, [&](size_t mark) {
    for (size_t i = mark; i < stack_.size(); ++i) visit(*static_cast<const Stmt*>(stack_[i]));
    stack_.resize(mark);
    arena_.reset();
  });
}

bool Parser::parse_file(Lexer& lexer, std::vector<Token>& tokens, std::vector<Stmt*>* body) {
  return parse_top_level(lexer, tokens, [&](size_t mark) {
    for (size_t i = mark; i < stack_.size(); ++i) body->push_back(static_cast<Stmt*>(stack_[i]));
    stack_.resize(mark);
  });
}

template <class OnStatement>
bool Parser::parse_top_level(Lexer& lexer, std::vector<Token>& tokens, OnStatement on_statement) {
  std::vector<size_t> top_lines;
  lexer.begin(tokens, top_lines);
  bool lexing = true;
  for (;;) {
    lexing = lex_statement(lexer, tokens, top_lines, pos_, lexing);
    if (at(TokenKind::EndOfFile)) return true;
    const uint32_t before = pos_;
    const size_t mark = stack_.size();
    if (!parse_statement()) return false;
    progress_guard(before);
    on_statement(mark);
    if (pos_ > kDroppedTokens) {
      // prev_end() still reads the token before the current one.
      const uint32_t dropped = pos_ - 1;
      tokens.erase(tokens.begin(), tokens.begin() + dropped);
      pos_ = 1;
      auto consumed = std::find_if(top_lines.begin(), top_lines.end(),
                                   [dropped](size_t line) { return line >= dropped; });
      top_lines.erase(top_lines.begin(), consumed);
      for (size_t& line : top_lines) line -= dropped;
    }
  }
}

namespace {
// Tokens of about 60 KB of source, most files (200 KB kept per pool thread while the process
// lives, idle or not); a larger array goes back to the system after its file, whose parse takes
// far longer than faulting in a fresh one.
constexpr size_t kKeptTokens = size_t{1} << 14;
constexpr size_t kFirstOutlineBlock = 512;
constexpr size_t kLargestOutlineBlock = size_t{64} << 10;
// A full tree takes 25 to 30 bytes per token, and source text mostly has a token every 4 to 5
// bytes.
constexpr size_t kFullTreeBytesPerSourceByte = 5;

// The token arrays a thread keeps from file to file: parse_module's, and that of the outermost
// parse_module_statements (a visitor may parse another module in turn, which gets its own).
struct KeptTokens {
  std::vector<Token> whole;
  std::vector<Token> streamed;
  bool streamed_in_use = false;
};

ThreadKept<KeptTokens>& kept_tokens() {
  static ThreadKept<KeptTokens> kept;
  return kept;
}

// Hands an array that grew past what is kept back to the system when it goes out of scope.
struct ReleaseHuge {
  std::vector<Token>& tokens;
  ~ReleaseHuge() {
    if (tokens.capacity() > kKeptTokens) std::vector<Token>().swap(tokens);
  }
};

// What rules a text out before any token is read: its size, a NUL byte.
std::optional<ParseError> check_text(std::string_view source) {
  if (source.size() >= (uint64_t{1} << 32)) {
    ParseError e;
    e.kind = ParseErrorKind::SourceTooLarge;
    e.size = source.size();
    return e;
  }
  if (const void* nul = std::memchr(source.data(), 0, source.size())) {
    ParseError e;
    e.kind = ParseErrorKind::InvalidCharacter;
    uint32_t at = static_cast<uint32_t>(static_cast<const char*>(nul) - source.data());
    e.range = {at, at + 1};
    e.found = std::string(1, '\0');
    return e;
  }
  return std::nullopt;
}

uint32_t text_start(std::string_view source) {
  return source.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// A streamed statement's tree is small and dropped at once: one block mostly holds it.
constexpr size_t kStatementBlock = size_t{16} << 10;
constexpr size_t kLargestStatementBlock = size_t{1} << 20;

}  // namespace

Result<ParsedModule, ParseError> parse_module(std::string_view source, ParseDepth depth) {
  if (auto error = check_text(source)) return Unexpected(std::move(*error));
  const uint32_t start = text_start(source);
  // Each thread keeps its token array from file to file: it holds the tokens of a statement or
  // a few thousand, and a fresh one per file would cost allocations and page faults again.
  std::vector<Token> own;
  KeptTokens* kept = kept_tokens().get();
  std::vector<Token>& tokens = kept != nullptr ? kept->whole : own;
  const ReleaseHuge release{tokens};
  tokens.clear();
  Lexer lexer(source, start);
  const bool outline = depth == ParseDepth::Outline;
  // The tokens come and go while the tree grows, so its size is known only from the text. A full
  // tree's first block is sized to hold it mostly, then small blocks follow: little waste, few
  // allocations. An outline is mostly far smaller than that: its blocks start small and grow.
  const size_t estimate = source.size() * kFullTreeBytesPerSourceByte;
  auto arena = outline ? std::make_unique<Arena>(kFirstOutlineBlock, kFirstOutlineBlock,
                                                 kLargestOutlineBlock)
                       : std::make_unique<Arena>(std::max<size_t>(estimate, 256),
                                                 std::clamp<size_t>(estimate / 16, 1024, 1u << 20));
  Parser parser(source, tokens, lexer.error(), *arena, outline);
  std::vector<Stmt*> body;
  const bool parsed = parser.parse_file(lexer, tokens, &body);
  arena->release_scratch();
  if (!parsed) return Unexpected(std::move(parser.error()));
  return ParsedModule(std::move(arena), std::move(body), source);
}

Result<void, ParseError> parse_module_statements(std::string_view source, ParseDepth depth,
                                                 const StatementVisitor& visit) {
  if (auto error = check_text(source)) return Unexpected(std::move(*error));
  // Kept by the thread as parse_module keeps its own; only a statement of more tokens than a
  // module mostly has makes it grow past what is kept.
  std::vector<Token> own;
  KeptTokens* kept = kept_tokens().get();
  struct Claim {
    KeptTokens* kept;
    ~Claim() {
      if (kept != nullptr) kept->streamed_in_use = false;
    }
  } claim{kept != nullptr && !kept->streamed_in_use ? kept : nullptr};
  if (claim.kept != nullptr) claim.kept->streamed_in_use = true;
  std::vector<Token>& tokens = claim.kept != nullptr ? claim.kept->streamed : own;
  const ReleaseHuge release{tokens};
  tokens.clear();
  Lexer lexer(source, text_start(source));
  Arena arena(kStatementBlock, kStatementBlock, kLargestStatementBlock);
  Parser parser(source, tokens, lexer.error(), arena, depth == ParseDepth::Outline);
  const bool parsed = parser.parse_file_streaming(lexer, tokens, visit);
  arena.release_scratch();
  if (!parsed) return Unexpected(std::move(parser.error()));
  return {};
}

}  // namespace korvane::python
