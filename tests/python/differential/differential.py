"""Shared machinery of the differential checks: CPython's own parser is the oracle.

Every check runs in ONE interpreter - the oracle itself - so the oracle's ast.parse loop needs no
extra process: the script is started by any python3, finds the oracle interpreter, and re-executes
itself under it. The parser under test runs in ONE parse_check process fed a list of files, in
parallel with the oracle loop.

What the oracle sees: the file's bytes decoded as UTF-8 (the parser takes UTF-8 text), with one
leading byte-order mark removed (the parser skips it, as CPython's file reader does). Because the
oracle gets text, an encoding declaration has no effect on it, exactly as it has none on the parser.
Files that are not valid UTF-8 get no verdict from either side: parse_check, like the indexer,
refuses them before parsing. Null bytes are compared like any other input: CPython refuses them at
parse time, so the parser must too. Syntax newer than the oracle is judged in its older spelling
(newer_grammar.py). A parse_check crash or hang is a disagreement whatever the oracle says.
"""

import argparse
import ast
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import sysconfig
import time
import warnings

import newer_grammar

SKIP_RETURN_CODE = 77
MAX_REWRITES = 20
_ORACLE_ENV = "KORVANE_DIFFERENTIAL_ORACLE"
_HOST_STDLIB_ENV = "KORVANE_DIFFERENTIAL_HOST_STDLIB"
PREFERRED_ORACLE = (3, 13)
FALLBACK_ORACLE = (3, 12)


# ---------------------------------------------------------------------------------------------
# Finding the oracle interpreter


def _version_of(executable):
    try:
        out = subprocess.run(
            [executable, "-c", "import sys; print(*sys.version_info[:3])"],
            capture_output=True, text=True, timeout=30, check=True).stdout
        return tuple(int(part) for part in out.split())
    except (OSError, subprocess.SubprocessError, ValueError):
        return None


def _pyenv_roots():
    roots = [os.environ.get("PYENV_ROOT"), os.path.expanduser("~/.pyenv")]
    return [root for root in dict.fromkeys(roots) if root and os.path.isdir(root)]


def _candidates(minor):
    """Interpreters that may be Python 3.<minor>, most likely first."""
    explicit = os.environ.get("KORVANE_PYTHON_ORACLE")
    if explicit:
        yield explicit
    if sys.version_info[:2] == (3, minor):
        yield sys.executable
    for root in _pyenv_roots():
        versions_dir = os.path.join(root, "versions")
        names = [n for n in os.listdir(versions_dir) if re.fullmatch(rf"3\.{minor}\.\d+", n)]
        # Newest patch release first: it carries the most parser fixes.
        for name in sorted(names, key=lambda n: int(n.split(".")[2]), reverse=True):
            yield os.path.join(versions_dir, name, "bin", "python3")
    on_path = shutil.which(f"python3.{minor}")
    if on_path:
        yield on_path


def find_oracle():
    """Returns (executable, version) of the oracle interpreter, or None."""
    for wanted in (PREFERRED_ORACLE, FALLBACK_ORACLE):
        for candidate in _candidates(wanted[1]):
            if not os.access(candidate, os.X_OK):
                continue
            version = _version_of(candidate)
            if version and version[:2] == wanted:
                return candidate, version
    return None


def become_oracle():
    """Re-executes the running script under the oracle interpreter unless already there.

    Exits with SKIP_RETURN_CODE when no usable CPython is installed.
    """
    if os.environ.get(_ORACLE_ENV) == "1":
        warnings.simplefilter("ignore")  # invalid escapes etc. must not turn into verdicts
        if sys.version_info[:2] != PREFERRED_ORACLE:
            print(f"warning: oracle is Python {sys.version.split()[0]}, not "
                  f"{PREFERRED_ORACLE[0]}.{PREFERRED_ORACLE[1]}: syntax newer than it "
                  "(type parameter defaults) shows up as disagreements")
        return
    found = find_oracle()
    if found is None:
        print("SKIP: neither Python 3.13 nor 3.12 was found to serve as the oracle "
              "(set KORVANE_PYTHON_ORACLE to its path)")
        sys.exit(SKIP_RETURN_CODE)
    executable, version = found
    env = dict(os.environ)
    env[_ORACLE_ENV] = "1"
    env[_HOST_STDLIB_ENV] = sysconfig.get_paths()["stdlib"]
    env.pop("PYTHONPATH", None)
    env.pop("PYTHONHOME", None)
    sys.stdout.flush()
    print(f"oracle: {executable} (Python {'.'.join(map(str, version))})", flush=True)
    os.execve(executable, [executable, os.path.abspath(sys.argv[0])] + sys.argv[1:], env)


def check_arguments(doc):
    """Moves to the oracle, then returns the options every check takes (--parse-check,
    --work-dir), described by the first line of the check's docstring; add more before parsing."""
    become_oracle()
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--parse-check", required=True)
    parser.add_argument("--work-dir", required=True)
    return parser


def host_stdlib():
    """The standard library of the python3 that started the check (before re-execution)."""
    return os.environ.get(_HOST_STDLIB_ENV) or sysconfig.get_paths()["stdlib"]


# ---------------------------------------------------------------------------------------------
# Verdicts

Verdict = collections.namedtuple("Verdict", "status detail")  # status: ok | error | skip | crash


def decode_source(data):
    """The text the parser is handed for these bytes, or None when they are not UTF-8."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return None
    return text[1:] if text.startswith("\ufeff") else text


def _ast_verdict(text):
    """(Verdict, SyntaxError or None) of CPython's parser for text."""
    try:
        ast.parse(text)
    except SyntaxError as e:
        where = f" at {e.lineno}:{e.offset}" if e.lineno is not None else ""
        return Verdict("error", f"{type(e).__name__}: {e.msg}{where}"), e
    except (ValueError, RecursionError, MemoryError, OverflowError) as e:
        return Verdict("error", f"{type(e).__name__}: {e}"), None
    return Verdict("ok", ""), None


def oracle_verdict(data):
    text = decode_source(data)
    if text is None:
        return Verdict("skip", "not valid UTF-8")
    verdict, error = _ast_verdict(text)
    # Forms newer than the oracle are judged in their older spelling (see newer_grammar.py).
    for _ in range(MAX_REWRITES):
        rewritten = error and newer_grammar.rewrite(text, error)
        if not rewritten or rewritten == text:
            break
        text = rewritten
        verdict, error = _ast_verdict(text)
        verdict = verdict._replace(detail=(verdict.detail + " [judged as rewritten]").strip())
    return verdict


def oracle_verdicts(paths):
    verdicts = {}
    for path in paths:
        with open(path, "rb") as f:
            verdicts[path] = oracle_verdict(f.read())
    return verdicts


# ---------------------------------------------------------------------------------------------
# Running the parser under test


class ParseCheck:
    """One parse_check process over a list of files, restarted past any file that crashes or
    hangs it.

    parse_check flushes each result line, so after a crash the first path without a line is the
    one that brought it down; a hang is output that stops growing for HANG_SECONDS.
    """

    MAX_CRASHES = 25
    HANG_SECONDS = 60
    CRASH_REPORTS_SHOWN = 3
    CRASH_REPORT_LINES = 25

    def __init__(self, executable, work_dir, options=()):
        self.executable = executable
        self.work_dir = work_dir
        self.options = list(options)  # e.g. ["--dump"]: trees land in self.dumps
        self.verdicts = {}
        self.dumps = {}
        self._pending = []
        self._process = None
        self._round = 0

    def start(self, paths):
        self._pending = list(paths)
        self._launch()

    def _file(self, kind):
        return os.path.join(self.work_dir, f"parse_check_{kind}_{self._round}.txt")

    def _launch(self):
        self._round += 1
        with open(self._file("input"), "w", encoding="utf-8", errors="surrogateescape") as f:
            f.writelines(p + "\n" for p in self._pending)
        # Files, not pipes: a chatty sanitizer cannot block the process on a full pipe.
        with open(self._file("input"), "rb") as stdin, open(self._file("output"), "wb") as out, \
                open(self._file("stderr"), "wb") as err:
            self._process = subprocess.Popen([self.executable, *self.options, "--stdin"],
                                             stdin=stdin, stdout=out, stderr=err)

    def _wait(self):
        """The exit code, or "hang" after killing a process that stopped making progress."""
        last_size, last_change = -1, time.monotonic()
        while True:
            try:
                return self._process.wait(timeout=1)
            except subprocess.TimeoutExpired:
                pass
            size = os.path.getsize(self._file("output"))
            if size != last_size:
                last_size, last_change = size, time.monotonic()
            elif time.monotonic() - last_change > self.HANG_SECONDS:
                self._process.kill()
                self._process.wait()
                return "hang"

    def finish(self):
        """Waits for the parser and returns {path: Verdict}."""
        while True:
            code = self._wait()
            done = self._collect()
            rest = self._pending[done:]
            if code == 0 and not rest:
                return self.verdicts
            if not rest or self._round > self.MAX_CRASHES:
                raise RuntimeError(f"parse_check failed ({_describe_exit(code)}) after {done} "
                                   f"files:\n{self._stderr_head()}")
            how = f"hung for {self.HANG_SECONDS}s" if code == "hang" else _describe_exit(code)
            self.verdicts[rest[0]] = Verdict("crash", how)
            if self._round <= self.CRASH_REPORTS_SHOWN:
                print(f"parse_check {how} on {rest[0]}; its stderr "
                      f"({self._file('stderr')}) begins:\n{self._stderr_head()}", flush=True)
            self._pending = rest[1:]
            if not self._pending:
                return self.verdicts
            self._launch()

    def _stderr_head(self):
        with open(self._file("stderr"), "rb") as f:
            lines = f.read().decode("utf-8", errors="replace").splitlines()
        return "\n".join(lines[:self.CRASH_REPORT_LINES])

    def _collect(self):
        with open(self._file("output"), "rb") as f:
            lines = f.read().decode("utf-8", errors="surrogateescape").split("\n")
        done = 0
        for line in lines:
            if not line:
                continue
            fields = line.split("\t")
            expected = self._pending[done]
            if fields[0] != expected:
                raise RuntimeError(f"parse_check answered for {fields[0]!r}, expected {expected!r}")
            if fields[1] == "ok":
                self.verdicts[expected] = Verdict("ok", "")
                if len(fields) > 2:
                    self.dumps[expected] = fields[2]
            elif fields[1] == "error":
                self.verdicts[expected] = Verdict("error", " ".join(fields[2:]))
            elif fields[1] == "not-utf8":
                self.verdicts[expected] = Verdict("skip", fields[2])
            else:
                raise RuntimeError(f"parse_check could not check {expected}: {line}")
            done += 1
        return done


def _describe_exit(code):
    if code == "hang":
        return "hung"
    if code is not None and code < 0:
        try:
            return f"killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"killed by signal {-code}"
    return f"exit code {code}"


def run_both(parse_check, work_dir, paths, trees=None):
    """Runs the parser and the oracle over the same files; returns (oracle, ours) verdict maps.
    A dict given as `trees` receives the parser's tree dumps of the files it accepts."""
    for p in paths:
        if "\n" in p or "\t" in p:
            raise ValueError(f"path cannot be passed to parse_check: {p!r}")
    os.makedirs(work_dir, exist_ok=True)
    for stale in os.listdir(work_dir):
        if stale.startswith("parse_check_"):
            os.remove(os.path.join(work_dir, stale))
    checker = ParseCheck(parse_check, work_dir, [] if trees is None else ["--dump"])
    checker.start(paths)
    oracle = oracle_verdicts(paths)
    verdicts = checker.finish()
    if trees is not None:
        trees.update(checker.dumps)
    return oracle, verdicts


# ---------------------------------------------------------------------------------------------
# Comparing and reporting

Disagreement = collections.namedtuple("Disagreement", "case oracle ours category")


def _kind_name(kind_text):
    match = re.match(r"[A-Za-z_]\w*", kind_text)
    return match.group(0) if match else kind_text


def _message_shape(detail):
    # "SyntaxError: cannot assign to literal at 3:1" -> "cannot assign to literal"
    message = re.sub(r"^\w+: ", "", detail)
    message = re.sub(r" at \d+:-?\d+$", "", message)
    message = re.sub(r"'[^']*'", "'…'", message)
    return re.sub(r"\d+", "N", message)


def categorize(oracle, ours):
    if ours.status == "crash":
        return f"parse_check crashed ({ours.detail})"
    if oracle.status == "ok":
        return f"rejects valid code: {_kind_name(ours.detail)}"
    return f"accepts invalid code: {_message_shape(oracle.detail)}"


Comparison = collections.namedtuple(
    "Comparison", "compared skipped disagreements both_reject same_line")


def _oracle_line(verdict):
    match = re.search(r" at (\d+):-?\d+$", verdict.detail)
    return int(match.group(1)) if match else None


def _our_line(path, verdict):
    match = re.search(r"\t?(\d+)\.\.\d+$", verdict.detail)
    if not match:
        return None
    with open(path, "rb") as f:
        before = f.read()[:int(match.group(1))]
    return len(re.findall(rb"\r\n|\r|\n", before)) + 1


def compare(cases, oracle, ours):
    """cases: [(path, label)]. Also counts, where both reject, whether the first error is put
    on the same line (a hint for error quality, not a pass condition)."""
    compared = skipped = both_reject = same_line = 0
    found = []
    for path, label in cases:
        theirs, mine = oracle[path], ours[path]
        if mine.status == "crash":  # whatever the oracle thinks of the input
            compared += 1
            found.append(Disagreement(label, theirs, mine, categorize(theirs, mine)))
            continue
        if theirs.status == "skip":
            skipped += 1
            continue
        compared += 1
        if theirs.status != mine.status:
            found.append(Disagreement(label, theirs, mine, categorize(theirs, mine)))
        elif theirs.status == "error":
            both_reject += 1
            line = _oracle_line(theirs)
            same_line += line is not None and line == _our_line(path, mine)
    return Comparison(compared, skipped, found, both_reject, same_line)


def _show(verdict):
    return verdict.status + (f" ({verdict.detail})" if verdict.detail else "")


def report(title, comparison, full_report_path, listed=50):
    """Prints the counts, the categories and the first disagreements; writes all of them.

    Returns the share of agreeing verdicts in percent."""
    compared, skipped, disagreements = comparison[:3]
    agreeing = compared - len(disagreements)
    share = 100.0 * agreeing / compared if compared else 100.0
    print(f"{title}: {compared} compared, {agreeing} agree ({share:.3f}%), "
          f"{len(disagreements)} disagree, {skipped} skipped (not UTF-8)")
    if comparison.both_reject:
        print(f"where both reject, the first error is on the same line in {comparison.same_line} "
              f"of {comparison.both_reject}")
    if not disagreements:
        return share
    counts = collections.Counter(d.category for d in disagreements)
    print("disagreements by category:")
    for category, count in counts.most_common():
        print(f"  {count:6d}  {category}")
    lines = [f"{d.case}\n    oracle: {_show(d.oracle)}\n    ours:   {_show(d.ours)}"
             for d in disagreements]
    with open(full_report_path, "w", encoding="utf-8", errors="replace") as f:
        f.write("\n".join(lines) + "\n")
    shown = min(listed, len(lines))
    print(f"first {shown} of {len(lines)} disagreements (all of them: {full_report_path}):")
    for line in lines[:shown]:
        print(line)
    return share


def python_files(root, suffixes=(".py",),
                 exclude_dirs=("site-packages", "dist-packages", "__pycache__")):
    """Every file with one of the suffixes under root, in a stable order."""
    found = []
    for directory, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in exclude_dirs)
        found.extend(os.path.join(directory, f) for f in sorted(files) if f.endswith(suffixes))
    return found
