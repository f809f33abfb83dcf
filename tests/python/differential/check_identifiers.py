"""Every code point must be accepted or rejected in an identifier - first or later - as CPython
decides, and every accepted identifier must name what CPython names it (NFKC).

This is where the parser's Unicode tables (ICU) and CPython's (its own unicodedata) meet, and they
need not be of the same Unicode version. Characters valid in identifiers go in files of many lines
each (`<c>x = 1`, `x<c> = 1`); a file the parser rejects is split into one file per character to
name the culprits. Every assigned character that is not valid gets a file of its own, and so does
every character valid only after the first.

Usage: check_identifiers.py --parse-check PATH --work-dir DIR
"""

import collections
import os
import shutil
import sys
import unicodedata

import differential
import tree_dump

GROUP = 2000
LISTED = 50


def classify():
    """(valid first, valid only later, assigned but invalid) code points above ASCII."""
    first, later, invalid = [], [], []
    for cp in range(0x80, 0x110000):
        if 0xD800 <= cp < 0xE000:
            continue
        c = chr(cp)
        if (c + "x").isidentifier():
            first.append(cp)
        elif ("x" + c).isidentifier():
            later.append(cp)
        elif unicodedata.category(c) not in ("Cn", "Co", "Cs"):
            invalid.append(cp)
    return first, later, invalid


def line(cp, position):
    return f"{chr(cp)}x = 1\n" if position == "first" else f"x{chr(cp)} = 1\n"


class Files:
    """Test files of one line per code point, made by make_line(cp, position)."""

    def __init__(self, directory, make_line=line, describe=None):
        self.directory = directory
        self.make_line = make_line
        self.describe = describe or describe_code_points
        self.cases = []  # (path, label, code points, position)

    def add(self, cps, position):
        path = os.path.join(self.directory, f"{len(self.cases):06d}.py")
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(self.make_line(cp, position) for cp in cps)
        self.cases.append((path, self.describe(cps, position), cps, position))


def describe_code_points(cps, position):
    if len(cps) > 1:
        return f"U+{cps[0]:04X}..U+{cps[-1]:04X} ({len(cps)} characters) {position}"
    c = chr(cps[0])
    return f"U+{cps[0]:04X} {unicodedata.name(c, '?')} ({unicodedata.category(c)}) {position}"


def ranges(cps):
    """'U+A..U+B, U+C' for sorted code points."""
    spans, start, prev = [], None, None
    for cp in cps + [None]:
        if start is not None and (cp is None or cp != prev + 1):
            spans.append(f"U+{start:04X}" + (f"..U+{prev:04X} ({prev - start + 1})"
                                             if prev != start else ""))
            start = None
        if cp is not None and start is None:
            start = cp
        prev = cp
    return ", ".join(spans)


def run(options, files):
    checker = differential.ParseCheck(options.parse_check, options.work_dir, ["--dump"])
    paths = [path for path, _, _, _ in files.cases]
    checker.start(paths)
    oracle = differential.oracle_verdicts(paths)
    return oracle, checker.finish(), checker.dumps


def main():
    args = differential.check_arguments(__doc__)
    options = args.parse_args()
    first, later, invalid = classify()
    print(f"Unicode {unicodedata.unidata_version}: {len(first)} characters may start an "
          f"identifier, {len(later)} more may follow, {len(invalid)} assigned ones may not")

    directory = os.path.join(options.work_dir, "identifiers")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    files = Files(directory)
    anywhere = sorted(first + later)
    for i in range(0, len(first), GROUP):
        files.add(first[i:i + GROUP], "first")
    for i in range(0, len(anywhere), GROUP):
        files.add(anywhere[i:i + GROUP], "later")
    for cp in later:
        files.add([cp], "first")
    for cp in invalid:
        files.add([cp], "later")
    faults, trees_differ = judge(options, files)
    return report("identifier differential", files, faults, trees_differ, "name identifiers")


def _kind(verdict):
    return verdict.detail.split(" {")[0]


def judge(options, files):
    """({category: code points judged otherwise than CPython}, [labels of single-line files
    whose trees differ from CPython's]). Files of many lines that disagree are split into one
    file per line to name the culprits."""
    faults = collections.defaultdict(list)
    trees_differ = []
    retry = Files(os.path.join(files.directory, "split"), files.make_line, files.describe)
    shutil.rmtree(retry.directory, ignore_errors=True)
    os.makedirs(retry.directory)
    for batch in (files, retry):
        if not batch.cases:
            break
        oracle, ours, dumps = run(options, batch)
        for path, label, cps, position in batch.cases:
            theirs, mine = oracle[path], ours[path]
            differs = theirs.status != mine.status or (
                theirs.status == "ok" and path in dumps and _tree_differs(path, dumps[path]))
            if differs and len(cps) > 1:
                for cp in cps:
                    retry.add([cp], position)
            elif theirs.status != mine.status:
                faults[_fault(theirs, mine, position)].extend(cps)
            elif differs:
                trees_differ.append(label)
    return faults, trees_differ


def _tree_differs(path, ours):
    with open(path, encoding="utf-8") as f:
        return tree_dump.normalize_floats(ours) != tree_dump.dump(f.read())


def _fault(theirs, mine, position):
    if mine.status == "ok":
        return f"accepted, CPython rejects ({position})"
    return f"rejected, CPython accepts ({position}): {_kind(mine)}"


def report(title, files, faults, trees_differ, what):
    total = sum(len(cps) for cps in faults.values())
    print(f"{title}: {len(files.cases)} files; {total} characters judged otherwise than "
          f"CPython; {len(trees_differ)} files {what} otherwise")
    for category, cps in sorted(faults.items()):
        print(f"  {len(cps):6d}  {category}: {ranges(sorted(cps))[:2000]}")
    for label in trees_differ[:LISTED]:
        print(f"  trees differ: {label}")
    return 1 if total or trees_differ else 0


if __name__ == "__main__":
    sys.exit(main())
