// Parameters of def and lambda, with their ordering rules.
#include <vector>

#include "python/parser_impl.h"

namespace korvane::python {

Arg* Parser::parse_param(bool lambda, bool star) {
  if (!at(TokenKind::Name)) return unexpected("name");
  const Token& n = bump();
  auto* a = arena_.make<Arg>();
  a->arg = identifier(n);
  if (!lambda && eat(TokenKind::Colon)) {
    a->annotation = star ? parse_star_expression() : parse_expression();
    if (!a->annotation) return nullptr;
  }
  a->range = {n.start, prev_end()};
  return a;
}

Arguments* Parser::parse_parameters(TokenKind close, bool lambda) {
  uint32_t start = cur().start;
  auto* a = arena_.make<Arguments>();
  std::vector<Arg*> pos, kwonly;
  std::vector<Expr*> defaults, kw_defaults;
  size_t n_posonly = 0;
  bool seen_slash = false, seen_star = false, seen_default = false, bare_star = false;
  uint32_t star_at = 0;
  while (!at(close)) {
    const Token& t = cur();
    if (at(TokenKind::Slash)) {
      if (seen_slash) return syntax_error(t, "/ may appear only once");
      if (seen_star) return syntax_error(t, "/ must be ahead of *");
      if (pos.empty()) return syntax_error(t, "at least one argument must precede /");
      bump();
      seen_slash = true;
      n_posonly = pos.size();
    } else if (at(TokenKind::Star)) {
      if (seen_star) return syntax_error(t, "* argument may appear only once");
      star_at = bump().start;
      seen_star = true;
      if (at(TokenKind::Name)) {
        if (!(a->vararg = parse_param(lambda, true))) return nullptr;
        if (at(TokenKind::Equal)) {
          return syntax_error(cur(), "var-positional argument cannot have default value");
        }
      } else {
        bare_star = true;
      }
    } else if (at(TokenKind::DoubleStar)) {
      bump();
      if (!(a->kwarg = parse_param(lambda, false))) return nullptr;
      if (at(TokenKind::Equal)) {
        return syntax_error(cur(), "var-keyword argument cannot have default value");
      }
      eat(TokenKind::Comma);
      if (!at(close)) return syntax_error(cur(), "arguments cannot follow var-keyword argument");
      break;
    } else {
      Arg* p = parse_param(lambda, false);
      if (!p) return nullptr;
      Expr* def = nullptr;
      if (eat(TokenKind::Equal) && !(def = parse_expression())) return nullptr;
      if (seen_star) {
        kwonly.push_back(p);
        kw_defaults.push_back(def);
      } else {
        if (def) {
          seen_default = true;
          defaults.push_back(def);
        } else if (seen_default) {
          return syntax_error(p->range,
                              "parameter without a default follows parameter with a default");
        }
        pos.push_back(p);
      }
    }
    if (!eat(TokenKind::Comma)) break;
  }
  if (bare_star && kwonly.empty()) {
    return syntax_error(TextRange{star_at, star_at + 1}, "named arguments must follow bare *");
  }
  auto posv = std::span<Arg* const>(pos);
  a->posonlyargs = arena_.copy(posv.subspan(0, n_posonly));
  a->args = arena_.copy(posv.subspan(n_posonly));
  a->kwonlyargs = arena_.copy(std::span<Arg* const>(kwonly));
  a->defaults = arena_.copy(std::span<Expr* const>(defaults));
  a->kw_defaults = arena_.copy(std::span<Expr* const>(kw_defaults));
  a->range = {start, prev_end()};
  return a;
}

}  // namespace korvane::python
