"""Mutants of real code - a token deleted, duplicated or swapped, a line re-indented, a bracket or
colon dropped, a keyword inserted, and more - must be accepted or rejected as CPython's ast.parse
decides.

Near-valid code is where a parser's error paths live, and the standard library alone barely
reaches them. Each mutant is a small window of consecutive statements of a standard-library file
(valid on its own) with one edit, so the oracle decides quickly and a disagreement is easy to read.
A share of the mutants start from the grammar tests' snippets instead (see check_grammar_suite.py):
rare syntax and near misses, where one edit often turns an invalid program valid.
The mutants depend only on the seed and on the oracle's standard library. They are written under
--work-dir (one file each) so any disagreement can be opened and parsed again.

Usage: check_mutants.py --parse-check PATH --work-dir DIR [--count N] [--seed S] [--min-agreement P]
                        [--snippet-share F] [--edits N]
"""

import ast
import io
import keyword
import os
import random
import re
import shutil
import sys
import sysconfig
import tokenize

import check_grammar_suite
import check_trees
import differential
import tree_dump

MAX_WINDOW_LINES = 30
WINDOWS_PER_FILE = 4
MUTANTS_PER_WINDOW = 3
MAX_FILE_BYTES = 400_000  # windows of huge generated tables tell little and tokenize slowly
KEYWORDS = sorted(set(keyword.kwlist + keyword.softkwlist) - {"_"})
BRACKETS_AND_COLONS = set("()[]{}:")
SKIPPED_TOKENS = {tokenize.NEWLINE, tokenize.NL, tokenize.INDENT, tokenize.DEDENT,
                  tokenize.ENDMARKER, tokenize.COMMENT, getattr(tokenize, "ENCODING", -1)}


class Window:
    """A run of sibling statements, runnable on its own, with its tokens as character spans."""

    def __init__(self, text, origin):
        self.text = text
        self.origin = origin
        line_starts = [0]
        for line in io.StringIO(text):  # split as the tokenizer splits
            line_starts.append(line_starts[-1] + len(line))
        self.tokens = []  # (start, end, string)
        try:
            for tok in tokenize.generate_tokens(io.StringIO(text).readline):
                if tok.type in SKIPPED_TOKENS or tok.start[0] != tok.end[0] or not tok.string:
                    continue  # multi-line tokens (docstrings) make poor single edits
                start = line_starts[tok.start[0] - 1] + tok.start[1]
                self.tokens.append((start, line_starts[tok.end[0] - 1] + tok.end[1], tok.string))
        except (tokenize.TokenError, SyntaxError):
            pass  # an invalid base: its tokens up to the fault still make mutants


def statement_runs(tree):
    """Every body (module, function, class, block) as a list of sibling statements."""
    for node in ast.walk(tree):
        for field in ("body", "orelse", "finalbody", "handlers", "cases"):
            body = getattr(node, field, None)
            if isinstance(body, list) and body and isinstance(body[0], ast.stmt):
                yield body


def read_runs(path):
    """The file's text and its statement runs, or None when it makes no good base."""
    with open(path, "rb") as f:
        data = f.read()
    text = differential.decode_source(data)
    if text is None or len(data) > MAX_FILE_BYTES or "\0" in text:
        return None
    try:
        tree = ast.parse(text)
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        return None
    runs = list(statement_runs(tree))
    # Lines as CPython counts them: str.splitlines would also split at form feeds.
    lines = re.findall(r"[^\r\n]*(?:\r\n|\r|\n|$)", text)
    return (lines, runs) if runs else None


def pick_window(rng, path, lines, runs):
    run = rng.choice(runs)
    first = rng.randrange(len(run))
    last = first
    while last + 1 < len(run) and run[last + 1].end_lineno - run[first].lineno < MAX_WINDOW_LINES:
        last += 1
    if run[last].end_lineno - run[first].lineno >= MAX_WINDOW_LINES * 3:
        return None
    body = "".join(lines[run[first].lineno - 1:run[last].end_lineno])
    if not body.endswith(("\n", "\r")):
        body += "\n"
    # A nested run keeps its indentation under a header of our own, so the window stays valid.
    if run[first].col_offset > 0:
        body = "if True:\n" + body
    try:
        ast.parse(body)
        window = Window(body, f"{path}:{run[first].lineno}-{run[last].end_lineno}")
    except (SyntaxError, ValueError, tokenize.TokenError):
        return None  # e.g. a statement sharing its first line with a `;`-joined neighbour
    return window if window.tokens else None


# ---------------------------------------------------------------------------------------------
# Mutations: each takes (rng, window) and returns (new_text, description) or None.


def _token(rng, window, wanted=None):
    tokens = [t for t in window.tokens if wanted is None or t[2] in wanted]
    return rng.choice(tokens) if tokens else None


def _edit(text, start, end, replacement):
    return text[:start] + replacement + text[end:]


def _line_col(text, offset):
    line = text.count("\n", 0, offset) + 1
    return f"{line}:{offset - (text.rfind(chr(10), 0, offset) + 1)}"


def delete_token(rng, window):
    start, end, string = _token(rng, window)
    return (_edit(window.text, start, end, ""),
            f"deleted {string!r} at {_line_col(window.text, start)}")


def duplicate_token(rng, window):
    start, end, string = _token(rng, window)
    return (_edit(window.text, end, end, " " + string),
            f"duplicated {string!r} at {_line_col(window.text, start)}")


def swap_tokens(rng, window):
    pairs = [(a, b) for a, b in zip(window.tokens, window.tokens[1:])
             if a[2] != b[2] and "\n" not in window.text[a[1]:b[0]]]
    if not pairs:
        return None
    a, b = rng.choice(pairs)
    text = window.text
    swapped = text[:a[0]] + b[2] + text[a[1]:b[0]] + a[2] + text[b[1]:]
    return swapped, f"swapped {a[2]!r} and {b[2]!r} at {_line_col(text, a[0])}"


def drop_bracket_or_colon(rng, window):
    token = _token(rng, window, BRACKETS_AND_COLONS)
    if token is None:
        return None
    start, end, string = token
    return (_edit(window.text, start, end, ""),
            f"dropped {string!r} at {_line_col(window.text, start)}")


def insert_keyword(rng, window):
    start = _token(rng, window)[0]
    word = rng.choice(KEYWORDS)
    return (_edit(window.text, start, start, word + " "),
            f"inserted {word!r} at {_line_col(window.text, start)}")


def reindent_line(rng, window):
    lines = window.text.splitlines(keepends=True)
    candidates = [i for i, line in enumerate(lines) if line.strip()]
    index = rng.choice(candidates)
    line = lines[index]
    indent = line[:len(line) - len(line.lstrip(" \t"))]
    choices = [" ", "  ", "    ", "\t", ""]
    change = rng.choice(["add", "remove", "tab", "untab"])
    if change == "add":
        new_indent = indent + rng.choice(choices[:-1])
    elif change == "remove" and indent:
        new_indent = indent[:-rng.randint(1, min(4, len(indent)))]
    elif change == "tab" and indent.startswith(" "):
        new_indent = "\t" + indent.lstrip(" ")  # equal width to CPython only if 8 spaces went
    elif change == "untab" and "\t" in indent:
        new_indent = indent.replace("\t", " " * rng.choice([1, 4, 8]), 1)
    else:
        return None
    lines[index] = new_indent + line[len(indent):]
    return "".join(lines), f"indentation of line {index + 1} {indent!r} -> {new_indent!r}"


def delete_character(rng, window):
    # Hits the lexer where token edits cannot: inside numbers, strings and f-strings.
    start, end, string = _token(rng, window)
    at = rng.randrange(start, end)
    return (_edit(window.text, at, at + 1, ""),
            f"deleted character {window.text[at]!r} of {string!r} at {_line_col(window.text, at)}")


# Tokens whose misplacement tests the rules on targets, starred items, arguments and operators.
TOKEN_POOL = ["=", "==", ":=", "+=", "*", "**", ",", ":", ".", "->", "@", ";", "(", ")", "[", "]",
              "{", "}", "\\", "...", "1", "1j", "'s'", "None", "name", "f()", "*name", "**name",
              "lambda", "yield", "await", "not", "in", "is", "async", "=name", "!r", "/"]
STRING_PREFIXES = ["", "r", "b", "f", "t", "u", "rb", "Br", "rf", "Fr", "tr", "ur", "bu", "ft"]


def replace_token(rng, window):
    start, end, string = _token(rng, window)
    new = rng.choice(TOKEN_POOL)
    return (_edit(window.text, start, end, new),
            f"replaced {string!r} by {new!r} at {_line_col(window.text, start)}")


def insert_token(rng, window):
    start = _token(rng, window)[0]
    new = rng.choice(TOKEN_POOL)
    return (_edit(window.text, start, start, new),
            f"inserted {new!r} at {_line_col(window.text, start)}")


def change_string_prefix(rng, window):
    strings = [t for t in window.tokens if t[2].lstrip("rRbBfFuUtT")[:1] in ("'", '"')]
    if not strings:
        return None
    start, _, string = rng.choice(strings)
    prefix_len = len(string) - len(string.lstrip("rRbBfFuUtT"))
    new = rng.choice(STRING_PREFIXES)
    return (_edit(window.text, start, start + prefix_len, new),
            f"prefix of {string[:12]!r} -> {new!r} at {_line_col(window.text, start)}")


def break_line(rng, window):
    start = _token(rng, window)[0]
    return _edit(window.text, start, start, "\n"), f"line broken at {_line_col(window.text, start)}"


def join_lines(rng, window):
    breaks = [i for i, c in enumerate(window.text[:-1]) if c == "\n"]
    if not breaks:
        return None
    at = rng.choice(breaks)
    line = window.text.count("\n", 0, at) + 1
    return _edit(window.text, at, at + 1, " "), f"line {line} joined"


def change_line_ends(rng, window):
    # Every later edit then runs on `\r\n` or bare `\r` lines, inside strings too.
    ending = rng.choice(["\r\n", "\r"])
    return window.text.replace("\n", ending), f"line ends -> {ending!r}"


def insert_whitespace(rng, window):
    start = _token(rng, window)[0]
    space = rng.choice(["\t", "\f", "\\\n", " \\\n", "\x0b", "\u00a0"])
    return (_edit(window.text, start, start, space),
            f"inserted {space!r} at {_line_col(window.text, start)}")


MUTATIONS = [delete_token, duplicate_token, swap_tokens, drop_bracket_or_colon, insert_keyword,
             reindent_line, delete_character, replace_token, insert_token, change_string_prefix,
             break_line, join_lines, change_line_ends, insert_whitespace]


def snippet_windows():
    """The grammar tests' snippets, valid and invalid: dense in rare syntax and near misses."""
    test_dir = os.path.join(sysconfig.get_paths()["stdlib"], "test")
    windows, seen = [], set()
    for name in check_grammar_suite.TEST_FILES:
        path = os.path.join(test_dir, name)
        if not os.path.exists(path):
            continue
        for text, origin in check_grammar_suite.extract(path):
            if text in seen or "\0" in text or not text.strip():
                continue
            seen.add(text)
            try:
                text.encode("utf-8")
            except UnicodeEncodeError:
                continue
            window = Window(text, origin)
            if window.tokens:
                windows.append(window)
    return windows


def make_mutants(rng, files, snippets, count, snippet_share, edits=1):
    """Returns [(text, label)] of `count` distinct mutants."""
    mutants, seen = [], set()
    attempts = 0
    while len(mutants) < count:
        attempts += 1
        if attempts > count:
            raise RuntimeError(f"only {len(mutants)} mutants after {attempts} attempts")
        if snippets and rng.random() < snippet_share:
            add_mutants(rng, rng.choice(snippets), mutants, seen, count, edits)
            continue
        path = rng.choice(files)
        base = read_runs(path)
        if base is None:
            continue
        # Several windows per file and mutants per window: parsing the file and tokenizing the
        # window cost far more than a mutation.
        for _ in range(WINDOWS_PER_FILE):
            window = pick_window(rng, path, *base)
            if window is not None:
                add_mutants(rng, window, mutants, seen, count, edits)
    return mutants[:count]


def mutate(rng, window, edits):
    """(text, description) after `edits` successive mutations, or None."""
    descriptions = []
    for _ in range(edits):
        mutation = rng.choice(MUTATIONS)
        made = mutation(rng, window) if window.tokens else None
        if made is None or made[0] == window.text:
            return None
        descriptions.append(f"{mutation.__name__}: {made[1]}")
        window = Window(made[0], window.origin)
    return window.text, "; ".join(descriptions)


def add_mutants(rng, window, mutants, seen, count, edits):
    for _ in range(MUTANTS_PER_WINDOW):
        if len(mutants) >= count:
            return
        made = mutate(rng, window, edits)
        if made is None or made[0] in seen:
            continue
        seen.add(made[0])
        mutants.append((made[0], f"{window.origin} [{made[1]}]"))


def tree_differences(cases, oracle, trees):
    """Disagreements on the tree of mutants both accept (newer syntax aside: CPython 3.13 has no
    tree for it)."""
    found = []
    for path, label in cases:
        if path not in trees or oracle[path].detail:
            continue
        with open(path, "rb") as f:
            theirs = tree_dump.dump(differential.decode_source(f.read()))
        ours = tree_dump.normalize_floats(trees[path])
        if ours != theirs:
            kind, text = check_trees.describe(label, ours, theirs)
            found.append(differential.Disagreement(
                text, oracle[path], differential.Verdict("ok", "another tree"),
                f"builds another tree: {kind}"))
    return found


def main():
    args = differential.check_arguments(__doc__)
    args.add_argument("--count", type=int, default=10000)
    args.add_argument("--seed", type=int, default=20231002)
    args.add_argument("--min-agreement", type=float, default=99.5)
    args.add_argument("--snippet-share", type=float, default=0.3,
                      help="share of mutants made from the grammar tests' snippets")
    args.add_argument("--edits", type=int, default=1, help="mutations applied to each mutant")
    options = args.parse_args()

    stdlib = sysconfig.get_paths()["stdlib"]
    files = differential.python_files(stdlib)
    if not files:
        print(f"no Python files under {stdlib}")
        return 1
    rng = random.Random(options.seed)
    snippets = snippet_windows()
    mutants = make_mutants(rng, files, snippets, options.count, options.snippet_share,
                           options.edits)

    mutant_dir = os.path.join(options.work_dir, "mutants")
    shutil.rmtree(mutant_dir, ignore_errors=True)
    os.makedirs(mutant_dir)
    cases = []
    for number, (text, label) in enumerate(mutants):
        path = os.path.join(mutant_dir, f"{number:05d}.py")
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        cases.append((path, f"{path}  from {label}"))

    paths = [path for path, _ in cases]
    trees = {}
    oracle, ours = differential.run_both(options.parse_check, options.work_dir, paths, trees)
    rejected = sum(1 for v in oracle.values() if v.status == "error")
    print(f"{len(mutants)} mutants of {stdlib} and of {len(snippets)} grammar-test snippets "
          f"(seed {options.seed}); oracle rejects {rejected}")
    comparison = differential.compare(cases, oracle, ours)
    comparison = comparison._replace(
        disagreements=comparison.disagreements + tree_differences(cases, oracle, trees))
    share = differential.report("mutation differential", comparison,
                                os.path.join(options.work_dir, "mutant_disagreements.txt"))
    crashes = [d for d in comparison.disagreements if d.ours.status == "crash"]
    if crashes:
        print(f"FAIL: parse_check crashed on {len(crashes)} mutants")
        return 1
    if share < options.min_agreement:
        print(f"FAIL: agreement {share:.3f}% is below {options.min_agreement}%")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
