"""Hostile nesting - every construct that recurses, nested up to 100,000 deep - must never crash
or hang the parser, and must be judged as CPython judges it wherever the judgement is about the
language rather than about a resource bound.

The rules, per generated file:
- a crash or a hang fails, whatever the oracle says;
- up to SUPPORTED_DEPTH levels the verdicts must agree: real code nests far less, and CPython's
  own hard limits (100 indentation levels, 200 open brackets, 150 nested f-strings) are reached
  only in the deeper rows, which must agree too;
- deeper, a rejection for depth (TooDeeplyNested) where CPython still accepts is our bound, not
  a fault, and so is any verdict where CPython itself gives up for lack of resources
  (RecursionError, "Parser stack overflowed"): both are listed, neither fails.

Usage: check_hostile.py --parse-check PATH --work-dir DIR
"""

import os
import shutil
import sys

import differential

SUPPORTED_DEPTH = 100
DEPTHS = [2, 50, SUPPORTED_DEPTH, 149, 150, 151, 199, 200, 201, 1000, 5000, 100_000]
OUR_DEPTH_BOUND = "TooDeeplyNested"
ORACLE_RESOURCE_LIMITS = ("RecursionError", "MemoryError", "too complex")


MAX_BLOCK_DEPTH = 1000  # indented blocks grow quadratically: 100,000 levels would be 5 GB


def _indented(header, n, body="pass"):
    return "".join(" " * i + header + "\n" for i in range(n)) + " " * n + body + "\n"


BLOCKS = {"if blocks", "class blocks", "with blocks", "try blocks"}


# Each builds a program nesting one construct n deep.
BUILDERS = {
    "parentheses": lambda n: "(" * n + "x" + ")" * n,
    "brackets": lambda n: "[" * n + "x" + "]" * n,
    "dict displays": lambda n: "{1: " * n + "1" + "}" * n,
    "tuples": lambda n: "(1, " * n + "1" + ")" * n,
    "calls": lambda n: "f(" * n + ")" * n,
    "call chain": lambda n: "f" + "()" * n,
    "subscript chain": lambda n: "x" + "[0]" * n,
    "attribute chain": lambda n: "x" + ".a" * n,
    "not": lambda n: "not " * n + "x",
    "unary minus": lambda n: "-" * n + "x",
    "power": lambda n: "2 ** " * n + "2",
    "await": lambda n: "await " * n + "x",
    "lambda": lambda n: "lambda: " * n + "x",
    "conditional": lambda n: "x if y else " * n + "z",
    "walrus": lambda n: "(y := " * n + "x" + ")" * n,
    "yield": lambda n: "def f():\n    x = " + "(yield " * n + "x" + ")" * n + "\n",
    "starred": lambda n: "*" * n + "x",
    "binary operators": lambda n: " + ".join(["x"] * n),
    "comparisons": lambda n: " < ".join(["x"] * n),
    "comprehensions": lambda n: "[" * n + "x" + " for x in y]" * n,
    "f-strings": lambda n: 'f"{' * n + "x" + '}"' * n,
    "f-string specs": lambda n: 'f"{x:{' * n + "y" + '}}"' * n,
    "if blocks": lambda n: _indented("if x:", n),
    "class blocks": lambda n: _indented("class A:", n),
    "with blocks": lambda n: _indented("with x:", n),
    "try blocks": lambda n: "".join(" " * i + "try:\n" for i in range(n)) + " " * n + "pass\n"
    + "".join(" " * i + "finally:\n" + " " * (i + 1) + "pass\n" for i in reversed(range(n))),
    "decorators": lambda n: "@x\n" * n + "def f(): pass\n",
    "patterns": lambda n: "match x:\n    case " + "[" * n + "1" + "]" * n + ":\n        pass\n",
    "class patterns": lambda n: "match x:\n    case " + "C(" * n + ")" * n + ":\n        pass\n",
    "default arguments": lambda n: "def f(a=" * n + "1" + "): pass" * n,
    "line continuations": lambda n: "x = 1" + " \\\n" * n + "\n",
    "elif chain": lambda n: "if x:\n    pass\n" + "elif x:\n    pass\n" * n,
}


def tolerated(depth, oracle, ours):
    """Why a disagreement is no fault, or None."""
    if ours.status == "crash":
        return None
    if any(limit in oracle.detail for limit in ORACLE_RESOURCE_LIMITS):
        return "CPython gave up for lack of resources"
    if (depth > SUPPORTED_DEPTH and oracle.status == "ok"
            and ours.detail.startswith(OUR_DEPTH_BOUND)):
        return "bounded below CPython's limit"
    return None


def main():
    args = differential.check_arguments(__doc__)
    options = args.parse_args()

    out_dir = os.path.join(options.work_dir, "hostile")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    cases = []  # (path, label, depth)
    for name, build in BUILDERS.items():
        for depth in DEPTHS:
            if name in BLOCKS and depth > MAX_BLOCK_DEPTH:
                continue
            path = os.path.join(out_dir, f"{name.replace(' ', '_')}_{depth}.py")
            with open(path, "w", encoding="utf-8") as f:
                f.write(build(depth))
            cases.append((path, f"{name}, {depth} deep ({path})", depth))

    paths = [path for path, _, _ in cases]
    oracle, ours = differential.run_both(options.parse_check, options.work_dir, paths)
    comparison = differential.compare([(p, label) for p, label, _ in cases], oracle, ours)
    depth_of = {label: depth for _, label, depth in cases}
    faults, bounds = [], []
    for d in comparison.disagreements:
        why = tolerated(depth_of[d.case], d.oracle, d.ours)
        (bounds if why else faults).append((d, why))
    print(f"{len(cases)} hostile programs: {len(BUILDERS)} constructs at depths {DEPTHS}")
    differential.report("hostile nesting",
                        comparison._replace(disagreements=[d for d, _ in faults]),
                        os.path.join(options.work_dir, "hostile_disagreements.txt"))
    if bounds:
        print(f"{len(bounds)} tolerated differences at depths beyond {SUPPORTED_DEPTH}:")
        for d, why in bounds:
            print(f"  {d.case}: {why} (oracle: {d.oracle.status}, ours: {d.ours.detail or 'ok'})")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
