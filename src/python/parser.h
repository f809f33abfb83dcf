// Parsing a Python module.
//
//   std::string text = read(...);
//   auto parsed = korvane::python::parse_module(text);
//   if (!parsed) return report(parsed.error().kind_text(), parsed.error().range);
//   for (Stmt* s : parsed->body()) ...;
//
// The grammar is that of Python 3.13, plus template strings (t"...") and an unparenthesised
// `except A, B:`; whatever Python rejects while parsing is rejected here with the first error.
// Errors Python raises only when compiling (`return` outside a function) are not syntax errors.
// Nesting is bounded, so hostile input yields an error and never exhausts the stack.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "python/arena.h"
#include "python/ast.h"
#include "python/parse_error.h"
#include "util/result.h"

namespace korvane::python {

// A parsed module: the tree and the arena that owns it. The tree points into the source text,
// which it does NOT own: the caller keeps the text alive (and unchanged) as long as the module.
class ParsedModule {
 public:
  // `body` holds the module's statements, whose nodes live in `arena`.
  ParsedModule(std::unique_ptr<Arena> arena, std::vector<Stmt*> body, std::string_view source)
      : arena_(std::move(arena)), statements_(std::move(body)), source_(source) {}
  ParsedModule(ParsedModule&&) noexcept = default;
  ParsedModule& operator=(ParsedModule&&) noexcept = default;
  ParsedModule(const ParsedModule&) = delete;
  ParsedModule& operator=(const ParsedModule&) = delete;

  // The module's statements in source order.
  StmtList body() const { return statements_; }
  // The text given to parse_module (a leading byte-order mark included).
  std::string_view source() const { return source_; }
  // The source text of a range.
  std::string_view text(TextRange r) const { return source_.substr(r.start, r.end - r.start); }
  // Memory the tree takes: its arena and its list of statements.
  size_t arena_bytes() const {
    return (arena_ ? arena_->bytes_reserved() : 0) + statements_.capacity() * sizeof(Stmt*);
  }
  const Arena* arena() const { return arena_.get(); }

 private:
  std::unique_ptr<Arena> arena_;
  // Outside the arena: a module's list of statements is its one list that grows with the text,
  // and built in place it is never copied, so a file of millions of statements does not hold it
  // twice at the end of its parse. A move keeps its storage, so body() stays valid.
  std::vector<Stmt*> statements_;
  std::string_view source_;
};

// How much of each function and class definition a parse keeps. Either way every part of a
// definition is checked, so a text fails with the same first error.
enum class ParseDepth : uint8_t {
  // Every node.
  Full,
  // For a definition only its kind, ranges, name and `is_async`: decorators, type parameters,
  // parameters, return annotation, bases, keywords and body are left empty (`args` is null).
  // For readers of module-level names, whose tree is then a small part of the full one.
  Outline,
};

// Parses a whole text in module mode. A leading UTF-8 byte-order mark is skipped (ranges still
// count it). The text must be valid UTF-8.
Result<ParsedModule, ParseError> parse_module(std::string_view source,
                                              ParseDepth depth = ParseDepth::Full);

// Reads one top-level statement while its tree is alive.
using StatementVisitor = std::function<void(const Stmt&)>;

// Parses like parse_module, but hands each top-level statement to `visit` as soon as it is parsed
// and frees its tree when `visit` returns, so a module of any length costs the memory of its
// largest statement. Whatever `visit` keeps of a statement (identifiers, string values) it must
// copy. On a syntax error the statements before it have been visited.
Result<void, ParseError> parse_module_statements(std::string_view source, ParseDepth depth,
                                                 const StatementVisitor& visit);

}  // namespace korvane::python
