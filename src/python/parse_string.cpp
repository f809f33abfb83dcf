// String literals: implicit concatenation, escapes, f-strings and t-strings.
#include <string>
#include <vector>

#include "python/parser_impl.h"

namespace korvane::python {

// The pieces of a concatenation with f- or t-strings: literal text is gathered in `pending`
// and becomes one StringLiteral part when a replacement field (or the end) comes.
struct Parser::StringParts {
  std::vector<void*> nodes;
  std::string pending;
  uint32_t pending_start = 0;
  uint32_t pending_end = 0;
  bool pending_any = false;
};

namespace {

// The body of a String token (between its quotes) and its prefix length.
std::string_view string_body(std::string_view tok, uint8_t flags) {
  size_t p = 0;
  while (tok[p] != '"' && tok[p] != '\'') ++p;
  size_t q = (flags & kTriple) ? 3 : 1;
  return tok.substr(p + q, tok.size() - p - 2 * q);
}

}  // namespace

bool Parser::decode_literal(const Token& t, std::string& out, bool* bytes) {
  *bytes = (t.flags & kBytes) != 0;
  std::string_view body = string_body(text(t), t.flags);
  if (!(t.flags & kBackslash)) {
    out.append(body);
    return true;
  }
  std::string message;
  size_t offset = 0;
  if (decode_string_body(body, (t.flags & kRaw) != 0, *bytes, out, message, &offset)) {
    return true;
  }
  uint32_t at = static_cast<uint32_t>(body.data() - src_.data() + offset);
  syntax_error(TextRange{at, at + 2}, message, ParseErrorKind::InvalidEscape);
  return false;
}

Expr* Parser::parse_strings() {
  const Token& first = cur();
  const TokenKind next = peek().kind;
  if (first.kind == TokenKind::String && next != TokenKind::String &&
      next != TokenKind::FStringStart) {
    bump();
    std::string_view value = string_body(text(first), first.flags);
    if (first.flags & kBackslash) {
      std::string decoded;
      bool bytes;
      if (!decode_literal(first, decoded, &bytes)) return nullptr;
      value = arena_.copy_text(decoded);
    }
    if (first.flags & kBytes) {
      auto* b = node<BytesLiteral>(first.start, first.end);
      b->value = value;
      return b;
    }
    auto* s = node<StringLiteral>(first.start, first.end);
    s->value = value;
    return s;
  }
  StringParts parts;
  bool any_bytes = false, any_text = false, any_f = false, any_t = false;
  uint32_t count = 0;
  while (at(TokenKind::String) || at(TokenKind::FStringStart)) {
    const Token& t = cur();
    ++count;
    if (t.kind == TokenKind::String) {
      bool bytes;
      if (!parts.pending_any) parts.pending_start = t.start;
      parts.pending_any = true;
      if (!decode_literal(t, parts.pending, &bytes)) return nullptr;
      parts.pending_end = t.end;
      (bytes ? any_bytes : any_text) = true;
      bump();
    } else {
      ((t.flags & kTemplate) ? any_t : any_f) = true;
      if (!parse_fstring(parts)) return nullptr;
    }
    if (any_bytes && (any_text || any_f || any_t)) {
      return syntax_error(TextRange{first.start, t.end}, "cannot mix bytes and nonbytes literals");
    }
    if (any_t && (any_text || any_f)) {
      return syntax_error(TextRange{first.start, t.end},
                          "cannot mix t-string literals with string or bytes literals");
    }
  }
  uint32_t end = prev_end();
  if (!any_f && !any_t) {
    std::string_view value = arena_.copy_text(parts.pending);
    if (any_bytes) {
      auto* b = node<BytesLiteral>(first.start, end);
      b->value = value;
      b->implicit_concatenated = count > 1;
      return b;
    }
    auto* s = node<StringLiteral>(first.start, end);
    s->value = value;
    s->implicit_concatenated = count > 1;
    return s;
  }
  if (parts.pending_any && !parts.pending.empty()) {
    auto* s = node<StringLiteral>(parts.pending_start, parts.pending_end);
    s->value = arena_.copy_text(parts.pending);
    parts.nodes.push_back(s);
  }
  ExprList values = take<Expr>(parts.nodes, 0);
  if (any_t) {
    auto* t = node<TemplateStr>(first.start, end);
    t->values = values;
    return t;
  }
  auto* j = node<JoinedStr>(first.start, end);
  j->values = values;
  return j;
}

bool Parser::decode_middle(const Token& t, bool raw, std::string& out) {
  std::string_view s = text(t);
  if (!(t.flags & kBackslash)) {
    out.append(s);
    return true;
  }
  // Doubled braces stand for one brace; what lies between them is ordinary string text.
  size_t seg = 0, i = 0;
  auto flush = [&](size_t upto) {
    std::string message;
    size_t offset = 0;
    if (decode_string_body(s.substr(seg, upto - seg), raw, false, out, message, &offset)) {
      return true;
    }
    uint32_t at = t.start + static_cast<uint32_t>(seg + offset);
    syntax_error(TextRange{at, at + 2}, message, ParseErrorKind::InvalidEscape);
    return false;
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == '\\' && !raw && i + 2 < s.size() && s[i + 1] == 'N' && s[i + 2] == '{') {
      size_t close = s.find('}', i);
      i = close == std::string_view::npos ? s.size() : close + 1;
    } else if (c == '\\') {
      i += (i + 1 < s.size() && s[i + 1] != '{' && s[i + 1] != '}') ? 2 : 1;
    } else if ((c == '{' || c == '}') && i + 1 < s.size() && s[i + 1] == c) {
      if (!flush(i)) return false;
      out += c;
      i += 2;
      seg = i;
    } else {
      ++i;
    }
  }
  return flush(s.size());
}

bool Parser::parse_fstring(StringParts& parts) {
  const Token& open = bump();
  const bool raw = (open.flags & kRaw) != 0;
  const bool is_template = (open.flags & kTemplate) != 0;
  for (;;) {
    const Token& t = cur();
    if (t.kind == TokenKind::FStringMiddle) {
      if (!parts.pending_any) parts.pending_start = t.start;
      parts.pending_any = true;
      if (!decode_middle(t, raw, parts.pending)) return false;
      parts.pending_end = t.end;
      bump();
    } else if (t.kind == TokenKind::LBrace) {
      std::string_view debug;
      Expr* field = parse_fstring_field(is_template, raw, &debug);
      if (!field) return false;
      if (!debug.empty()) {
        if (!parts.pending_any) parts.pending_start = t.start;
        parts.pending.append(debug);
        parts.pending_any = true;
      }
      if (!parts.pending.empty()) {
        auto* s = node<StringLiteral>(parts.pending_start, parts.pending_end);
        s->value = arena_.copy_text(parts.pending);
        parts.nodes.push_back(s);
      }
      parts.pending.clear();
      parts.pending_any = false;
      parts.nodes.push_back(field);
    } else if (t.kind == TokenKind::FStringEnd) {
      bump();
      return true;
    } else {
      unexpected("'}'");
      return false;
    }
  }
}

// The source text from `start` to `end` spanning tokens [first, last), as Python shows it in
// a `{x=}` field: comments and backslash line joins between the tokens dropped, line breaks
// read as `\n`.
std::string_view Parser::source_text(uint32_t start, uint32_t first, uint32_t last, uint32_t end) {
  std::string_view raw = src_.substr(start, end - start);
  if (raw.find_first_of("#\r\\") == std::string_view::npos) return raw;
  std::string out;
  uint32_t cursor = start;
  auto gap = [&](uint32_t upto) {
    for (uint32_t i = cursor; i < upto; ++i) {
      if (src_[i] == '\\' && i + 1 < upto && (src_[i + 1] == '\n' || src_[i + 1] == '\r')) {
        i += (src_[i + 1] == '\r' && i + 2 < upto && src_[i + 2] == '\n') ? 2 : 1;
        continue;  // a joined line leaves no trace
      }
      if (src_[i] == '#') {
        while (i < upto && src_[i] != '\n' && src_[i] != '\r') ++i;
        if (i == upto) break;
      }
      out += src_[i];
    }
  };
  for (uint32_t t = first; t < last; ++t) {
    gap(toks_[t].start);
    out.append(text(toks_[t]));
    cursor = toks_[t].end;
  }
  gap(end);
  std::string normal;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') {
      normal += '\n';
      if (i + 1 < out.size() && out[i + 1] == '\n') ++i;
    } else {
      normal += out[i];
    }
  }
  return arena_.copy_text(normal);
}

Expr* Parser::parse_fstring_field(bool is_template, bool raw, std::string_view* debug) {
  const Token& open = bump();
  if (at(TokenKind::RBrace)) {
    return syntax_error(cur(), "f-string: valid expression required before '}'");
  }
  if (at(TokenKind::Lambda)) {
    return syntax_error(cur(), "f-string: lambda expressions are not allowed without parentheses");
  }
  uint32_t first_token = pos_;
  uint32_t expr_start = cur().start;
  Expr* value = at(TokenKind::Yield) ? parse_yield() : parse_star_expressions();
  if (!value) return nullptr;
  uint32_t expr_end = prev_end();
  uint32_t expr_tokens_end = pos_;
  if (eat(TokenKind::Equal)) {
    *debug = source_text(open.end, first_token, pos_, cur().start);
  }
  Conversion conversion = Conversion::None;
  if (at(TokenKind::Exclamation)) {
    const Token& bang = bump();
    if (!at(TokenKind::Name)) {
      return syntax_error(cur(), "f-string: missing conversion character");
    }
    const Token& c = bump();
    if (c.start != bang.end) {
      return syntax_error(c,
                          "f-string: conversion type must come right after the exclamanation mark");
    }
    std::string_view ct = text(c);
    if (ct == "s") {
      conversion = Conversion::Str;
    } else if (ct == "r") {
      conversion = Conversion::Repr;
    } else if (ct == "a") {
      conversion = Conversion::Ascii;
    } else {
      return syntax_error(c, "f-string: invalid conversion character '" + std::string(ct) +
                                 "': expected 's', 'r', or 'a'");
    }
  }
  Expr* format = nullptr;
  if (eat(TokenKind::Colon)) {
    if (!(format = parse_format_spec(raw))) return nullptr;
  }
  if (!at(TokenKind::RBrace)) return unexpected("'}'");
  bump();
  if (!debug->empty() && conversion == Conversion::None && !format) conversion = Conversion::Repr;
  if (is_template) {
    auto* i = node<Interpolation>(open.start);
    i->value = value;
    i->str = source_text(expr_start, first_token, expr_tokens_end, expr_end);
    i->conversion = conversion;
    i->format_spec = format;
    return i;
  }
  auto* f = node<FormattedValue>(open.start);
  f->value = value;
  f->conversion = conversion;
  f->format_spec = format;
  return f;
}

Expr* Parser::parse_format_spec(bool raw) {
  uint32_t start = cur().start;
  StringParts parts;
  parts.pending_start = start;
  for (;;) {
    const Token& t = cur();
    if (t.kind == TokenKind::FStringMiddle) {
      // Python decodes escapes in a format specifier even in a raw f-string.
      if (!decode_middle(t, false, parts.pending)) return nullptr;
      parts.pending_end = t.end;
      bump();
    } else if (t.kind == TokenKind::LBrace) {
      std::string_view debug;
      // A format specifier is formatted right away, even in a template: its fields are plain.
      Expr* field = parse_fstring_field(false, raw, &debug);
      if (!field) return nullptr;
      parts.pending.append(debug);
      if (!parts.pending.empty()) {
        auto* s = node<StringLiteral>(parts.pending_start, t.start);
        s->value = arena_.copy_text(parts.pending);
        parts.nodes.push_back(s);
      }
      parts.pending.clear();
      parts.pending_start = prev_end();
      parts.nodes.push_back(field);
    } else {
      break;
    }
  }
  if (!parts.pending.empty()) {
    auto* s = node<StringLiteral>(parts.pending_start, parts.pending_end);
    s->value = arena_.copy_text(parts.pending);
    parts.nodes.push_back(s);
  }
  auto* j = node<JoinedStr>(start);
  j->values = take<Expr>(parts.nodes, 0);
  return j;
}

}  // namespace korvane::python
