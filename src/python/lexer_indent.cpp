// Indentation: INDENT and DEDENT at the start of logical lines, and the end of input.
#include "python/lexer.h"

#include <bit>
#include <cstring>

namespace korvane::python {

namespace {

// The end of the run of spaces that starts at `i`. Indentation is mostly spaces, four to a
// dozen or more of them: a word at a time they end in one or two steps.
size_t scan_spaces(const char* p, size_t i, size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (const uint64_t other = word ^ 0x2020202020202020ULL) {
        return i + static_cast<size_t>(std::countr_zero(other)) / 8;
      }
    }
  }
  while (i < n && p[i] == ' ') ++i;
  return i;
}

}  // namespace

// Reads the indentation of one physical line: tabs advance to the next multiple of 8, while
// `alt` counts every tab as one column, so a file whose block structure changes with the tab
// size is caught as inconsistent. A backslash-newline inside the indentation joins the next
// line; the column where the first one stood sets the indentation of what follows.
bool Lexer::measure_indent(uint32_t* col_out, uint32_t* alt_out) {
  uint32_t col = 0, alt = 0, cont_col = 0, cont_alt = 0;
  for (;; ++pos_) {
    char c = peek();
    if (c == ' ') {
      const auto run = static_cast<uint32_t>(scan_spaces(src_.data(), pos_, src_.size()) - pos_);
      col += run, alt += run;
      pos_ += run - 1;
    } else if (c == '\t') {
      col = (col / 8 + 1) * 8, ++alt;
    } else if (c == '\f') {
      col = alt = 0;
    } else if (c == '\\') {
      if (!cont_col) cont_col = col, cont_alt = alt;
      uint32_t bs = pos_;
      char n = peek(1);
      if (n != '\n' && n != '\r') {
        return fail(ParseErrorKind::InvalidLineContinuation, bs, bs + 1,
                    pos_ + 1 >= src_.size() ? "unexpected EOF while parsing"
                                            : "unexpected character after line continuation "
                                              "character");
      }
      pos_ += (n == '\r' && peek(2) == '\n') ? 2 : 1;
      if (pos_ + 1 >= src_.size()) {
        return fail(ParseErrorKind::InvalidLineContinuation, bs, pos_ + 1,
                    "unexpected EOF while parsing");
      }
    } else {
      break;
    }
  }
  *col_out = cont_col ? cont_col : col;
  *alt_out = cont_col ? cont_alt : alt;
  return true;
}

// Measures the indentation of the next non-blank line and emits INDENT/DEDENT.
bool Lexer::at_line_start() {
  line_start_ = false;
  uint32_t col = 0, alt = 0, start = pos_;
  for (;;) {
    start = pos_;
    if (!measure_indent(&col, &alt)) return false;
    if (at_end()) return true;
    char c = peek();
    if (c == '#') {
      skip_comment();
      if (at_end()) return true;
      c = peek();
    }
    if (c != '\n' && c != '\r') break;
    pos_ += (c == '\r' && peek(1) == '\n') ? 2 : 1;  // a blank line: no tokens at all
  }
  if (col == indents_.back()) {
    if (alt != alt_indents_.back()) {
      return fail(ParseErrorKind::InconsistentTabs, start, pos_,
                  "inconsistent use of tabs and spaces in indentation");
    }
  } else if (col > indents_.back()) {
    if (indents_.size() >= kMaxIndent) {
      return fail(ParseErrorKind::TooDeeplyNested, start, pos_, "too many levels of indentation");
    }
    if (alt <= alt_indents_.back()) {
      return fail(ParseErrorKind::InconsistentTabs, start, pos_,
                  "inconsistent use of tabs and spaces in indentation");
    }
    indents_.push_back(col);
    alt_indents_.push_back(alt);
    emit(TokenKind::Indent, start);
  } else {
    while (indents_.size() > 1 && col < indents_.back()) {
      indents_.pop_back();
      alt_indents_.pop_back();
      emit(TokenKind::Dedent, pos_);
    }
    if (col != indents_.back()) {
      return fail(ParseErrorKind::UnindentMismatch, start, pos_,
                  "unindent does not match any outer indentation level");
    }
    if (alt != alt_indents_.back()) {
      return fail(ParseErrorKind::InconsistentTabs, start, pos_,
                  "inconsistent use of tabs and spaces in indentation");
    }
  }
  if (top_lines_ != nullptr && indents_.size() == 1) top_lines_->push_back(out_->size());
  return true;
}

bool Lexer::finish() {
  if (!brackets_.empty()) {
    char open = brackets_.back();
    error_.expected = std::string(1, open == '(' ? ')' : open == '[' ? ']' : '}');
    uint32_t at = brackets_at_.back();
    return fail(ParseErrorKind::UnclosedBracket, at, at + 1);
  }
  if (!out_->empty()) {
    TokenKind last = out_->back().kind;
    if (last != TokenKind::Newline && last != TokenKind::Dedent && last != TokenKind::Indent) {
      emit(TokenKind::Newline, pos_);
    }
  }
  while (indents_.size() > 1) {
    indents_.pop_back();
    emit(TokenKind::Dedent, pos_);
  }
  emit(TokenKind::EndOfFile, pos_);
  return false;
}

}  // namespace korvane::python
