"""Every .py file of python3's standard library and test suite, and of the oracle's own, must be
accepted or rejected by the parser exactly as CPython's ast.parse decides; so must the stubs of
Debian's python3-typeshed when installed (stubs are what the indexer reads most).

Usage: check_corpus.py --parse-check PATH --work-dir DIR [--root DIR ...]
"""

import glob
import os
import sys
import sysconfig
import time

import differential

TYPESHED_STUBS = "/usr/lib/python3/dist-packages/*-stubs"


def corpus(given_roots):
    """(paths, description): the given trees, or both libraries and the typeshed stubs."""
    roots = given_roots or [differential.host_stdlib(), sysconfig.get_paths()["stdlib"]]
    stub_roots = [] if given_roots else sorted(glob.glob(TYPESHED_STUBS))
    paths, seen = [], set()
    for root in roots + stub_roots:
        for path in differential.python_files(root, (".py", ".pyi")):
            real = os.path.realpath(path)
            if real not in seen:
                seen.add(real)
                paths.append(path)
    stubs = f" and {len(stub_roots)} stub packages" if stub_roots else ""
    return paths, f"{len(paths)} files under {', '.join(dict.fromkeys(roots))}{stubs}"


def main():
    args = differential.check_arguments(__doc__)
    args.add_argument("--root", action="append", help="check these trees instead of the libraries")
    options = args.parse_args()
    os.makedirs(options.work_dir, exist_ok=True)

    paths, description = corpus(options.root)
    print(f"corpus: {description}", flush=True)
    if not paths:
        print("no files found")
        return 1

    started = time.monotonic()
    oracle, ours = differential.run_both(options.parse_check, options.work_dir, paths)
    comparison = differential.compare([(p, p) for p in paths], oracle, ours)
    rejected = [p for p in paths if oracle[p].status == "error"]
    print(f"oracle rejects {len(rejected)} files; {time.monotonic() - started:.1f}s")
    for path in rejected[:20]:
        print(f"  {path}: {oracle[path].detail}")
    differential.report("corpus differential", comparison,
                        os.path.join(options.work_dir, "corpus_disagreements.txt"))
    return 1 if comparison.disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
