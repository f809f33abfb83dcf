"""Every code point must be accepted or rejected in an identifier - first or later - as CPython
decides, and every accepted identifier must name what CPython names it (NFKC).

This is where the parser's Unicode tables (ICU) and CPython's (its own unicodedata) meet, and they
need not be of the same Unicode version. Characters valid in identifiers go in files of many lines
each (`<c>x = 1`, `x<c> = 1`); a file the parser rejects is split into one file per character to
name the culprits. Every assigned character that is not valid gets a file of its own, and so does
every character valid only after the first.

Usage: check_identifiers.py --parse-check PATH --work-dir DIR
"""

import argparse
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
    def __init__(self, directory):
        self.directory = directory
        self.cases = []  # (path, label, code points, position)

    def add(self, cps, position):
        path = os.path.join(self.directory, f"{len(self.cases):06d}.py")
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(line(cp, position) for cp in cps)
        label = (f"U+{cps[0]:04X} {unicodedata.name(chr(cps[0]), '?')} "
                 f"({unicodedata.category(chr(cps[0]))}) {position}")
        if len(cps) > 1:
            label = f"U+{cps[0]:04X}..U+{cps[-1]:04X} ({len(cps)} characters) {position}"
        self.cases.append((path, label, cps, position))


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
    differential.become_oracle()
    args = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    args.add_argument("--parse-check", required=True)
    args.add_argument("--work-dir", required=True)
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
    oracle, ours, dumps = run(options, files)

    # Groups we reject: one file per character, to name each.
    retry = Files(os.path.join(directory, "split"))
    os.makedirs(retry.directory)
    faults = collections.defaultdict(list)  # category -> code points
    names_differ = []
    for path, label, cps, position in files.cases:
        theirs, mine = oracle[path], ours[path]
        if theirs.status != "ok" and mine.status == "ok":
            faults[f"accepted, CPython rejects ({position})"].extend(cps)
        elif theirs.status == "ok" and mine.status != "ok":
            if len(cps) == 1:
                faults[f"rejected, CPython accepts ({position}): {mine.detail}"].extend(cps)
            else:
                for cp in cps:
                    retry.add([cp], position)
        elif theirs.status == "ok" and path in dumps:
            with open(path, encoding="utf-8") as f:
                if tree_dump.normalize_floats(dumps[path]) != tree_dump.dump(f.read()):
                    names_differ.append(label)
    if retry.cases:
        oracle, ours, _ = run(options, retry)
        for path, _, cps, position in retry.cases:
            if oracle[path].status == "ok" and ours[path].status != "ok":
                kind = ours[path].detail.split(" {")[0]
                faults[f"rejected, CPython accepts ({position}): {kind}"].extend(cps)

    total = sum(len(cps) for cps in faults.values())
    print(f"identifier differential: {len(files.cases)} files; {total} characters judged "
          f"otherwise than CPython; {len(names_differ)} files name identifiers otherwise")
    for category, cps in sorted(faults.items()):
        print(f"  {len(cps):6d}  {category}: {ranges(sorted(cps))[:2000]}")
    for label in names_differ[:LISTED]:
        print(f"  names differ (NFKC): {label}")
    return 1 if total or names_differ else 0


if __name__ == "__main__":
    sys.exit(main())
