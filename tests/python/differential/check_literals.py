"""Random number and string literals - valid, nearly valid and broken - must be accepted or
rejected as CPython decides, and where accepted must have the value CPython gives them.

Each literal is one program (`x = <literal>`). The literals are drawn, with a fixed seed, from
the pieces the lexer treats specially: bases, underscores, exponents and imaginary suffixes for
numbers; prefixes, quotes, every kind of escape, braces and line breaks for strings and bytes.
Valid ones share files of many lines (values compared through the trees, see tree_dump.py);
invalid ones get a file each. See check_identifiers.py for how disagreeing files are split.

Usage: check_literals.py --parse-check PATH --work-dir DIR [--count N] [--seed S]
"""

import ast
import collections
import os
import random
import shutil
import sys
import warnings

import check_identifiers
import differential

GROUP = 500
LISTED = 25
NUMBER_PIECES = ["0", "1", "7", "9", "_", ".", "e", "E", "+", "-", "j", "J", "x", "X", "o", "O",
                 "b", "B", "a", "f", "F", "l", "L", "00", "1_000", "0x", "0o", "0b", "e-", "99",
                 "18446744073709551615", "18446744073709551616", "1e308", "1e309", "4e-324"]
PREFIXES = ["", "r", "b", "rb", "Br", "f", "rf", "fR", "u", "U", "R", "bR", "ub", "fb"]
QUOTES = ["'", '"', "'''", '"""']
STRING_PIECES = ["a", "é", "€", "\U0001F600", " ", "\\n", "\\\\", "\\'", '\\"', "\\x41", "\\x4",
                 "\\xg1", "\\101", "\\777", "\\8", "\\u00e9", "\\u00e", "\\U0001F600",
                 "\\U00110000", "\\N{DIGIT ONE}", "\\N{digit one}", "\\N{NO SUCH NAME}", "\\N{",
                 "\\N{}", "\\q", "\\\n", "\n", "\r", "\t", "{", "}", "{{", "}}", "{x}", "{x!r}",
                 "{x:>{w}}", "{x=}", "{'s'}", "{x!}", "{}", "\\{", "'", '"', "\\0", "\x7f",
                 "{x:{y:{z}}}", "\\", "{lambda: 1}", "{(lambda: 1)}", "{x:%H\\n}"]


def number(rng):
    return "".join(rng.choice(NUMBER_PIECES) for _ in range(rng.randint(1, 5)))


def string(rng):
    quote = rng.choice(QUOTES)
    body = "".join(rng.choice(STRING_PIECES) for _ in range(rng.randint(0, 4)))
    text = rng.choice(PREFIXES) + quote + body + quote
    if rng.random() < 0.2:  # implicit concatenation joins values, and mixes kinds
        text += " " + rng.choice(PREFIXES) + rng.choice(QUOTES[:2]) + "b" + quote[0]
    return text


def is_valid(program):
    try:
        ast.parse(program)
        return True
    except (SyntaxError, ValueError, MemoryError, RecursionError):
        return False


def main():
    args = differential.check_arguments(__doc__)
    args.add_argument("--count", type=int, default=20000)
    args.add_argument("--seed", type=int, default=7)
    options = args.parse_args()

    rng = random.Random(options.seed)
    programs = sorted({f"x = {make(rng)}\n" for make in (number, string)
                       for _ in range(options.count // 2)})
    rng.shuffle(programs)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        valid = [i for i, p in enumerate(programs) if is_valid(p)]
    invalid = sorted(set(range(len(programs))) - set(valid))
    print(f"{len(programs)} literals (seed {options.seed}), {len(valid)} valid for CPython")

    directory = os.path.join(options.work_dir, "literals")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    files = check_identifiers.Files(directory, lambda i, _: programs[i],
                                    lambda ids, _: repr(programs[ids[0]]) if len(ids) == 1
                                    else f"{len(ids)} literals")
    for i in range(0, len(valid), GROUP):
        files.add(valid[i:i + GROUP], "valid")
    for i in invalid:
        files.add([i], "invalid")
    faults, trees_differ = check_identifiers.judge(options, files)

    total = sum(len(ids) for ids in faults.values())
    print(f"literal differential: {total} literals judged otherwise than CPython, "
          f"{len(trees_differ)} with another value")
    for category, ids in sorted(faults.items()):
        print(f"  {len(ids):6d}  {category.replace(' (valid)', '').replace(' (invalid)', '')}")
        for i in ids[:LISTED]:
            print(f"            {programs[i]!r}")
    if trees_differ:
        print("  values differ:")
        for label in trees_differ[:LISTED]:
            print(f"            {label}")
    return 1 if total or trees_differ else 0


if __name__ == "__main__":
    sys.exit(main())
