// The child walk: every child reached once, in source order, and nothing missed.
#include "python/ast_visit.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "python/ast_dump.h"
#include "python/parser.h"

namespace korvane::python {
namespace {

// Children must come in source order so a reader can walk a tree as the text reads; a
// starred argument after a keyword is the one case Python's own tree keeps out of order, so
// the snippets avoid it.
void check_order(const ParsedModule& m, const Node* n, int* nodes) {
  ++*nodes;
  uint32_t last = 0;
  for_each_child(n, [&](const Node* c) {
    EXPECT_GE(c->range.start, last) << node_kind_name(n->kind) << " in " << m.source();
    last = c->range.start;
    check_order(m, c, nodes);
  });
}

TEST(ForEachChild, VisitsInSourceOrder) {
  const char* sources[] = {
      "@d\ndef f[T: int](a: A = 1, /, b: B = 2, *c: C, d: D = 3, **e: E) -> R:\n  pass\n",
      "x = a if b else c\n",
      "{k: v for k, v in d if k if v}\n",
      "{**a, b: c, **d}\n",
      "lambda a=1, *b, c=2, **d: a\n",
      "f'{a!r:{b}}{c}'\nt'{d:{e}}'\n",
      "match s:\n case {1: a, **r} | C(1, x=2) | [1, *_] if g: pass\n",
      "with a as b, c: pass\n",
      "try: pass\nexcept E as e: pass\nelse: pass\nfinally: pass\n",
      "if a: b\nelif c: d\nelse: e\n",
      "type X[T = int, *Ts, **P] = T\n",
      "class C[T](B, metaclass=M): x: int = 1\n",
      "a[b:c:d, e] = f(g, *h, i=j, **k)\n",
      "for x, *y in z: pass\nelse: pass\n",
      "assert a, b\nraise c from d\ndel e, f\nreturn g\n",
  };
  for (const char* source : sources) {
    auto parsed = parse_module(source);
    ASSERT_TRUE(parsed) << source;
    int nodes = 0;
    for (const Stmt* s : parsed->body()) check_order(*parsed, s, &nodes);
    EXPECT_GT(nodes, 1) << source;
  }
}

// Each expression of the source is reached: counting Names found by the walk against the
// names written catches a child the walk forgets.
TEST(ForEachChild, ReachesEveryName) {
  struct Case {
    const char* source;
    int names;
  };
  const Case cases[] = {
      {"@a\ndef f[T: b = c](x: d = e, *y: f, z: g = h, **w: i) -> j: k\n", 11},
      {"class C[T: a](b, c=d): e\n", 4},
      {"with a as b, c as d: e\n", 5},
      {"match a:\n case {b.c: d} | e.f(g=h.i) if j: k\n", 6},
      {"x = [a for b in c if d] + {e: f for g in h} + {i for j in k} + (l for m in n)\n", 15},
      {"print(f'{a}{b:{c}}', t'{d!r}', *e, **f)\n", 7},
      {"try: a\nexcept b as c: d\nelse: e\nfinally: f\n", 5},
      {"while a: b\nelse: c\nif d: e\nelif f: g\nelse: h\n", 8},
      {"a[b:c:d] = e.f, *g\nh += i\nj: k = l\n", 11},
      {"lambda a=b, *c, d=e, **f: g\nawait h\n(yield i)\n(yield from j)\nk if l else m\n", 9},
      {"type a[b = c] = d\nglobal e\nassert f, g\nraise h from i\ndel j\nreturn k\n", 9},
  };
  for (const Case& c : cases) {
    auto parsed = parse_module(c.source);
    ASSERT_TRUE(parsed) << c.source << parsed.error().kind_text();
    int names = 0;
    std::function<void(const Node*)> count = [&](const Node* n) {
      names += n->is<Name>();
      for_each_child(n, count);
    };
    for (const Stmt* s : parsed->body()) count(s);
    EXPECT_EQ(names, c.names) << c.source;
  }
}

// Parsing keeps no state between calls: threads parsing at once get the trees one thread gets.
TEST(ParseModule, IsSafeOnManyThreads) {
  const std::string sources[] = {
      "def f(a, *b, **c):\n  return [x for x in a if x]\n",
      "class C:\n  x: int = 1\n  def g(self): return f'{self!r:>{w}}'\n",
      "match p:\n case [1, *r]: pass\n case {'k': v}: pass\n",
      "\xEF\xAC\x81 = '\\N{EM DASH}' 'x'\n",
  };
  std::vector<std::string> want;
  for (const auto& s : sources) want.push_back(dump(parse_module(s)->body()));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        for (size_t i = 0; i < std::size(sources); ++i) {
          auto parsed = parse_module(sources[i]);
          if (!parsed || dump(parsed->body()) != want[i]) ++mismatches[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
}  // namespace korvane::python
