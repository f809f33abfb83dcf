"""The oracle's reading of forms newer than itself: a wrong rewrite would make the differential
checks demand the wrong verdict from the parser."""

import sys
import unittest

import differential

# (source, valid in the newer grammar). Each row is a way the rewrite could go wrong.
CASES = [
    # Exception lists.
    ("try:\n  pass\nexcept A, B:\n  pass\n", True),
    ("try:\n  pass\nexcept* A, (B), C.d[1:2]:\n  pass\n", True),  # brackets hold a ':'
    ("try:\n  pass\nexcept A, B as e:\n  pass\n", False),  # `as` still needs parentheses
    ("try:\n  pass\nexcept (A), B:\n  pass\nexcept C, D:\n  pass\n", True),  # two clauses
    ("try:\n  pass\nexcept A, \\\n B  :\n  pass\n", True),  # a continued line
    ("try:\r  pass\rexcept A, B:\r  pass\r", True),  # old Mac line ends
    ("try:\n  pass\nexcept A, B:\n", False),  # the block is still required
    ("try:\n  pass\nexcept A,:\n  pass\n", True),  # a one-tuple, as in any expression list
    ("try:\n  pass\nexcept* A, B,:\n  pass\n", True),
    ("try:\n  pass\nexcept A, as e:\n  pass\n", False),
    ("try:\n  pass\nexcept* *A, B:\n  pass\n", False),  # no starred items, unlike in (...)
    ("try:\n  pass\nexcept A, *B:\n  pass\n", False),
    ("try:\n  pass\nexcept A, f(*B):\n  pass\n", True),
    ("try:\n  pass\nexcept A:\n  x = 1,,\n", False),  # an error in the body stays one
    # Template strings.
    ('x = t"a{b!r:>{w}}"\n', True),
    ('x = (t"a"\n  # c\n  T"b")\n', True),  # concatenated across lines and comments
    ('x = t"a" "b"\n', False),  # never concatenated with a plain string ...
    ('x = t"a" f"b"\n', False),  # ... or an f-string
    ('x = "a" t"b"\n', False),  # in either order
    ('x = (t"a"\n"b")\n', False),
    ('x = rt"a" TR"\\{x}"\n', True),  # raw prefixes in any order and case
    ('x = f"{t"a"}"\n', True),  # nested in an f-string
    ('x = f"{t"a" "b"}"\n', False),  # mixing is checked at every nesting level
    ('x = t"{f"a" "b"}" t""\n', True),  # ... and only within one level
    ('x = t"{t"{1}"}"\n', True),
    ('x=[t"a", "b"]\n', True),  # neighbours in a list are not a concatenation
    ("tr'\\{{{1+\n1}'\n", True),  # 3.13 cannot even tokenize this before the rewrite
    ("def f():\n    \\\ntr'''doc'''\n", True),  # a joined line's indent at the prefix
    ("x = 't' 'a'\n", True),  # a quote, not a prefix, before the t
    ("x = 1\rx = t'{x}'\r", True),  # old Mac line ends
    ("x = 't' \"t\" f'{t}'\n# t'\n", True),  # inside strings, fields and comments
    ('bt"x"\n', False),
    ('x = t "a"\n', False),  # a name and a string, not a prefix
    ("t = 1\nprint(t)\n", True),
]


class NewerGrammarTest(unittest.TestCase):
    def test_verdicts(self):
        for source, valid in CASES:
            with self.subTest(source=source):
                verdict = differential.oracle_verdict(source.encode())
                self.assertEqual(verdict.status, "ok" if valid else "error", verdict.detail)


if __name__ == "__main__":
    differential.become_oracle()
    unittest.main(argv=sys.argv[:1])
