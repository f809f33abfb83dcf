"""Where the parser and CPython both accept a file, they must build the same tree: same node
kinds, fields, names and literal values (compared in the parser's compact dump form, see
tree_dump.py). Accepting the right programs with a wrong tree - a precedence slip, a lost
decorator, a mis-decoded escape - passes every verdict check and still misleads the indexer.

Usage: check_trees.py --parse-check PATH --work-dir DIR [--root DIR ...]
"""

import ast
import collections
import hashlib
import os
import sys
import time

import check_corpus
import differential
import tree_dump

LISTED = 30
CONTEXT = 70


def cpython_dumps(paths):
    """({path: sha1 of CPython's dump} for the files CPython accepts, [files CPython accepts
    whose tree is too deep to dump])."""
    digests, too_deep = {}, []
    for path in paths:
        source = _source(path)
        if source is None:
            continue
        try:
            tree = ast.parse(source)
        except (SyntaxError, ValueError, RecursionError, MemoryError):
            continue
        try:
            text = tree_dump.normalize_floats(tree_dump.Dumper(source).dump(tree))
        except RecursionError:
            too_deep.append(path)
            continue
        digests[path] = hashlib.sha1(text.encode("utf-8", "surrogateescape")).digest()
    return digests, too_deep


def _source(path):
    with open(path, "rb") as f:
        return differential.decode_source(f.read())


def _enclosing_kind(dump, at):
    """The kind of the innermost node open at `at` in a dump."""
    depth = 0
    for i in range(at - 1, -1, -1):
        if dump[i] == ")":
            depth += 1
        elif dump[i] == "(":
            if depth == 0:
                start = i
                while start > 0 and (dump[start - 1].isalnum() or dump[start - 1] == "_"):
                    start -= 1
                return dump[start:i] or "?"
            depth -= 1
    return "module"


def describe(path, ours, theirs):
    """(category, text) of the first difference between two dumps."""
    at = next((i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b), min(len(ours),
                                                                                len(theirs)))
    lo = max(0, at - CONTEXT)
    text = (f"{path}\n    ours:    …{ours[lo:at + CONTEXT]}…\n"
            f"    CPython: …{theirs[lo:at + CONTEXT]}…")
    return _enclosing_kind(theirs, at), text


def main():
    sys.setrecursionlimit(100_000)  # the dumper recurses; Python frames no longer use the C stack
    args = differential.check_arguments(__doc__)
    args.add_argument("--root", action="append", help="check these trees instead of the libraries")
    options = args.parse_args()
    os.makedirs(options.work_dir, exist_ok=True)
    paths, description = check_corpus.corpus(options.root)
    print(f"corpus: {description}", flush=True)

    started = time.monotonic()
    checker = differential.ParseCheck(options.parse_check, options.work_dir, ["--dump"])
    checker.start(paths)
    theirs, too_deep = cpython_dumps(paths)
    checker.finish()
    ours = checker.dumps
    both = [p for p in paths if p in theirs and p in ours]
    differing = []
    for path in both:
        mine = tree_dump.normalize_floats(ours[path])
        if hashlib.sha1(mine.encode("utf-8", "surrogateescape")).digest() != theirs[path]:
            differing.append(describe(path, mine, tree_dump.dump(_source(path))))
    print(f"trees compared for {len(both)} files both accept "
          f"({len(theirs) - len(both)} only CPython accepts, {len(ours) - len(both)} only ours; "
          f"the corpus check judges those); {time.monotonic() - started:.1f}s")
    print(f"tree differential: {len(both) - len(differing)} same, {len(differing)} differ")
    for path in too_deep:
        print(f"  not compared, nested too deeply to dump: {path}")
    if not differing:
        return 0
    print("differences by the node they are in:")
    for kind, count in collections.Counter(kind for kind, _ in differing).most_common():
        print(f"  {count:6d}  {kind}")
    full = os.path.join(options.work_dir, "tree_differences.txt")
    with open(full, "w", encoding="utf-8", errors="replace") as f:
        f.write("\n".join(text for _, text in differing) + "\n")
    print(f"first {min(LISTED, len(differing))} (all of them: {full}):")
    for _, text in differing[:LISTED]:
        print(text)
    return 1


if __name__ == "__main__":
    sys.exit(main())
