"""CPython's syntax tree in the compact one-line form of the parser's own dump (`parse_check
--dump`), so the two trees of one file can be compared as text.

The parser's tree differs from CPython's by design in a few places, which this form irons out:
`elif`/`else` are flat clauses of If, not an If nested in `orelse`; constants are split by type;
`async` forms and `except*` print under CPython's own names. Floats print as Python's repr on both
sides once normalized (see normalize_floats).
"""

import ast
import re

_BINARY = {ast.Add: "+", ast.Sub: "-", ast.Mult: "*", ast.MatMult: "@", ast.Div: "/",
           ast.Mod: "%", ast.Pow: "**", ast.LShift: "<<", ast.RShift: ">>", ast.BitOr: "|",
           ast.BitXor: "^", ast.BitAnd: "&", ast.FloorDiv: "//"}
_UNARY = {ast.Invert: "~", ast.Not: "not", ast.UAdd: "+", ast.USub: "-"}
_COMPARE = {ast.Eq: "==", ast.NotEq: "!=", ast.Lt: "<", ast.LtE: "<=", ast.Gt: ">", ast.GtE: ">=",
            ast.Is: "is", ast.IsNot: "is not", ast.In: "in", ast.NotIn: "not in"}
_CONVERSION = {-1: "", 115: "!s", 114: "!r", 97: "!a"}
_FLOAT = re.compile(r"\b(Float|Imaginary)\((\d[\d.e+-]*|inf)\)")


def normalize_floats(dump):
    """The dump with every float printed as Python's repr (the C++ side prints `100`, `1e+15`).

    Applied to both sides, so text inside a string literal that merely looks like a float node
    changes alike on both."""
    return _FLOAT.sub(lambda m: f"{m.group(1)}({float(m.group(2))!r})", dump)


def _quoted(data):
    out = bytearray(b'"')
    for byte in data:
        if byte in b'"\\':
            out += b"\\" + bytes([byte])
        elif byte < 0x20 or byte == 0x7F:
            out += b"\\x%02x" % byte
        else:
            out.append(byte)
    out += b'"'
    return out.decode("utf-8", errors="surrogateescape")


class Dumper:
    def __init__(self, source):
        self._lines = source.encode("utf-8", errors="surrogatepass").splitlines(keepends=True)

    def dump(self, module):
        return self.list(module.body)

    def list(self, items):
        return "[" + ", ".join(self.item(i) for i in items) + "]"

    def names(self, items):
        return "[" + ", ".join(items) + "]"

    def node(self, n):
        return "-" if n is None else self.item(n)

    def call(self, name, *fields):
        return f"{name}({', '.join(fields)})"

    def item(self, n):
        method = getattr(self, "_" + type(n).__name__, None)
        if method is None:
            raise ValueError(f"no dump for {type(n).__name__}")
        return method(n)

    def _is_elif(self, node):
        line = self._lines[node.lineno - 1]
        return line[node.col_offset:node.col_offset + 4] == b"elif"

    # Pieces that are not nodes of their own in the parser's dump.
    def _arg(self, a):
        return a.arg + (f": {self.item(a.annotation)}" if a.annotation else "")

    def _keyword(self, k):
        return f"{k.arg or '**'}={self.item(k.value)}"

    def _alias(self, a):
        return a.name + (f" as {a.asname}" if a.asname else "")

    def _withitem(self, w):
        return self.item(w.context_expr) + (f" as {self.item(w.optional_vars)}"
                                            if w.optional_vars else "")

    def _ExceptHandler(self, h):
        return f"except({self.node(h.type)}, {h.name or '-'}, {self.list(h.body)})"

    def _comprehension(self, c):
        text = ("async for " if c.is_async else "for ") + self.item(c.target) + " in "
        return text + self.item(c.iter) + "".join(" if " + self.item(i) for i in c.ifs)

    def _match_case(self, c):
        return f"case({self.item(c.pattern)}, {self.node(c.guard)}, {self.list(c.body)})"

    def _arguments(self, a):
        return self.call("args", self.list(a.posonlyargs), self.list(a.args), self.node(a.vararg),
                         self.list(a.kwonlyargs), self.list_or_dash(a.kw_defaults),
                         self.node(a.kwarg), self.list(a.defaults))

    def list_or_dash(self, items):
        return "[" + ", ".join(self.node(i) for i in items) + "]"

    def _TypeVar(self, t):
        return self.call("TypeVar", t.name, self.node(t.bound), self.node(t.default_value))

    def _ParamSpec(self, p):
        return self.call("ParamSpec", p.name, self.node(p.default_value))

    def _TypeVarTuple(self, t):
        return self.call("TypeVarTuple", t.name, self.node(t.default_value))

    # Statements.
    def _FunctionDef(self, f, name="FunctionDef"):
        return self.call(name, f.name, self.list(f.type_params), self._arguments(f.args),
                         self.node(f.returns), self.list(f.body), self.list(f.decorator_list))

    def _AsyncFunctionDef(self, f):
        return self._FunctionDef(f, "AsyncFunctionDef")

    def _ClassDef(self, c):
        return self.call("ClassDef", c.name, self.list(c.type_params), self.list(c.bases),
                         self.list(c.keywords), self.list(c.body), self.list(c.decorator_list))

    def _Return(self, r):
        return self.call("Return", self.node(r.value))

    def _Delete(self, d):
        return self.call("Delete", self.list(d.targets))

    def _Assign(self, a):
        return self.call("Assign", self.list(a.targets), self.item(a.value))

    def _TypeAlias(self, t):
        return self.call("TypeAlias", self.item(t.name), self.list(t.type_params),
                         self.item(t.value))

    def _AugAssign(self, a):
        return self.call("AugAssign", self.item(a.target), _BINARY[type(a.op)], self.item(a.value))

    def _AnnAssign(self, a):
        return self.call("AnnAssign", self.item(a.target), self.item(a.annotation),
                         self.node(a.value), str(a.simple))

    def _For(self, f, name="For"):
        return self.call(name, self.item(f.target), self.item(f.iter), self.list(f.body),
                         self.list(f.orelse))

    def _AsyncFor(self, f):
        return self._For(f, "AsyncFor")

    def _While(self, w):
        return self.call("While", self.item(w.test), self.list(w.body), self.list(w.orelse))

    def _If(self, i):
        clauses, orelse = [], i.orelse
        while orelse:
            if len(orelse) == 1 and isinstance(orelse[0], ast.If) and self._is_elif(orelse[0]):
                clauses.append(f"elif({self.item(orelse[0].test)}, {self.list(orelse[0].body)})")
                orelse = orelse[0].orelse
            else:
                clauses.append(f"else({self.list(orelse)})")
                break
        return self.call("If", self.item(i.test), self.list(i.body), "[" + ", ".join(clauses) + "]")

    def _With(self, w, name="With"):
        return self.call(name, "[" + ", ".join(self._withitem(i) for i in w.items) + "]",
                         self.list(w.body))

    def _AsyncWith(self, w):
        return self._With(w, "AsyncWith")

    def _Match(self, m):
        return self.call("Match", self.item(m.subject),
                         "[" + ", ".join(self._match_case(c) for c in m.cases) + "]")

    def _Raise(self, r):
        return self.call("Raise", self.node(r.exc), self.node(r.cause))

    def _Try(self, t, name="Try"):
        return self.call(name, self.list(t.body), self.list(t.handlers), self.list(t.orelse),
                         self.list(t.finalbody))

    def _TryStar(self, t):
        return self._Try(t, "TryStar")

    def _Assert(self, a):
        return self.call("Assert", self.item(a.test), self.node(a.msg))

    def _Import(self, i):
        return self.call("Import", "[" + ", ".join(self._alias(a) for a in i.names) + "]")

    def _ImportFrom(self, i):
        return self.call("ImportFrom", i.module or "-",
                         "[" + ", ".join(self._alias(a) for a in i.names) + "]", str(i.level))

    def _Global(self, g):
        return self.call("Global", self.names(g.names))

    def _Nonlocal(self, n):
        return self.call("Nonlocal", self.names(n.names))

    def _Expr(self, e):
        return self.call("Expr", self.item(e.value))

    def _Pass(self, _):
        return "Pass"

    def _Break(self, _):
        return "Break"

    def _Continue(self, _):
        return "Continue"

    # Expressions.
    def _BoolOp(self, b):
        return self.call("BoolOp", "and" if isinstance(b.op, ast.And) else "or",
                         self.list(b.values))

    def _NamedExpr(self, n):
        return self.call("NamedExpr", self.item(n.target), self.item(n.value))

    def _BinOp(self, b):
        return self.call("BinOp", self.item(b.left), _BINARY[type(b.op)], self.item(b.right))

    def _UnaryOp(self, u):
        return self.call("UnaryOp", _UNARY[type(u.op)], self.item(u.operand))

    def _Lambda(self, lam):
        return self.call("Lambda", self._arguments(lam.args), self.item(lam.body))

    def _IfExp(self, i):
        return self.call("IfExp", self.item(i.test), self.item(i.body), self.item(i.orelse))

    def _Dict(self, d):
        return self.call("Dict", self.list_or_dash(d.keys), self.list(d.values))

    def _Set(self, s):
        return self.call("Set", self.list(s.elts))

    def _generators(self, gens):
        return "[" + ", ".join(self._comprehension(g) for g in gens) + "]"

    def _ListComp(self, c):
        return self.call("ListComp", self.item(c.elt), self._generators(c.generators))

    def _SetComp(self, c):
        return self.call("SetComp", self.item(c.elt), self._generators(c.generators))

    def _DictComp(self, c):
        return self.call("DictComp", self.item(c.key), self.item(c.value),
                         self._generators(c.generators))

    def _GeneratorExp(self, c):
        return self.call("GeneratorExp", self.item(c.elt), self._generators(c.generators))

    def _Await(self, a):
        return self.call("Await", self.item(a.value))

    def _Yield(self, y):
        return self.call("Yield", self.node(y.value))

    def _YieldFrom(self, y):
        return self.call("YieldFrom", self.item(y.value))

    def _Compare(self, c):
        ops = "[" + ", ".join(_COMPARE[type(op)] for op in c.ops) + "]"
        return self.call("Compare", self.item(c.left), ops, self.list(c.comparators))

    def _Call(self, c):
        return self.call("Call", self.item(c.func), self.list(c.args),
                         "[" + ", ".join(self._keyword(k) for k in c.keywords) + "]")

    def _FormattedValue(self, f):
        return self.call("FormattedValue", self.item(f.value), _CONVERSION[f.conversion],
                         self.node(f.format_spec))

    def _JoinedStr(self, j):
        return self.call("JoinedStr", self.list(j.values))

    def _Constant(self, c):
        value = c.value
        if value is None or value is Ellipsis or isinstance(value, bool):
            return {None: "None", Ellipsis: "Ellipsis", True: "True", False: "False"}[value]
        if isinstance(value, str):
            return self.call("Str", _quoted(value.encode("utf-8", errors="surrogatepass")))
        if isinstance(value, bytes):
            return self.call("Bytes", _quoted(value))
        if isinstance(value, int):
            return self.call("Int", str(value) if value < 2**64 else "big")
        if isinstance(value, float):
            return self.call("Float", repr(value))
        return self.call("Imaginary", repr(value.imag))

    def _Attribute(self, a):
        return self.call("Attribute", self.item(a.value), a.attr)

    def _Subscript(self, s):
        return self.call("Subscript", self.item(s.value), self.item(s.slice))

    def _Starred(self, s):
        return self.call("Starred", self.item(s.value))

    def _Name(self, n):
        return self.call("Name", n.id)

    def _List(self, lst):
        return self.call("List", self.list(lst.elts))

    def _Tuple(self, t):
        return self.call("Tuple", self.list(t.elts))

    def _Slice(self, s):
        return self.call("Slice", self.node(s.lower), self.node(s.upper), self.node(s.step))

    # Patterns.
    def _MatchValue(self, m):
        return self.call("MatchValue", self.item(m.value))

    def _MatchSingleton(self, m):
        return self.call("MatchSingleton", repr(m.value))

    def _MatchSequence(self, m):
        return self.call("MatchSequence", self.list(m.patterns))

    def _MatchMapping(self, m):
        return self.call("MatchMapping", self.list(m.keys), self.list(m.patterns), m.rest or "-")

    def _MatchClass(self, m):
        return self.call("MatchClass", self.item(m.cls), self.list(m.patterns),
                         self.names(m.kwd_attrs), self.list(m.kwd_patterns))

    def _MatchStar(self, m):
        return self.call("MatchStar", m.name or "-")

    def _MatchAs(self, m):
        return self.call("MatchAs", self.node(m.pattern), m.name or "-")

    def _MatchOr(self, m):
        return self.call("MatchOr", self.list(m.patterns))


def dump(source):
    """CPython's tree of source (text it accepts) in the parser's dump form, floats normalized."""
    return normalize_floats(Dumper(source).dump(ast.parse(source)))
