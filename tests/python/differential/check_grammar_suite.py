"""The programs of CPython's own grammar tests must be accepted or rejected as ast.parse decides.

The snippets come from the oracle's copies of the test files: every string literal (the sources
handed to compile/exec/eval/ast.parse and the syntax-error helpers are among them; the rest are
messages and names, still fair input), each also dedented when it is indented as a whole (the
helpers dedent before compiling), and every doctest example. Which verdict a test expected does
not matter: the oracle decides each snippet as a module, exactly as the parser sees it.
Snippets that cannot be encoded as UTF-8 (lone surrogates) are left out.

Usage: check_grammar_suite.py --parse-check PATH --work-dir DIR
"""

import ast
import doctest
import inspect
import os
import shutil
import sys
import sysconfig
import textwrap

import differential

TEST_FILES = ["test_grammar.py", "test_syntax.py", "test_fstring.py", "test_patma.py",
              "test_type_params.py", "test_type_aliases.py", "test_exceptions.py"]


def _call_name(node):
    func = node.func
    return func.attr if isinstance(func, ast.Attribute) else getattr(func, "id", "call")


def _docstring_nodes(tree):
    for node in ast.walk(tree):
        if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)):
            body = node.body
            if body and isinstance(body[0], ast.Expr) and isinstance(body[0].value, ast.Constant):
                yield body[0].value


def _variants(text):
    yield text
    if "\n" in text:
        yield textwrap.dedent(text)
        yield inspect.cleandoc(text)


def extract(path):
    """Returns [(snippet, origin)] of one test file."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    name = os.path.basename(path)
    docstrings = {id(node) for node in _docstring_nodes(tree)}
    # Parts of f-strings are not programs; the enclosing call tells where a string goes.
    inside_fstring, context = set(), {}
    for node in ast.walk(tree):
        if isinstance(node, ast.JoinedStr):
            inside_fstring.update(id(child) for child in ast.walk(node))
        elif isinstance(node, ast.Call):
            for child in ast.walk(node):
                context.setdefault(id(child), _call_name(node))
    snippets = []
    parser = doctest.DocTestParser()
    for node in ast.walk(tree):
        if not isinstance(node, ast.Constant) or id(node) in inside_fstring:
            continue
        value = node.value
        if isinstance(value, bytes):
            try:
                value = value.decode("utf-8")
            except UnicodeDecodeError:
                continue
        if not isinstance(value, str):
            continue
        if id(node) in docstrings:
            if ">>>" in value:
                for example in parser.get_examples(value):
                    line = node.lineno + example.lineno
                    snippets.append((example.source, f"{name}:{line} doctest"))
            continue
        origin = f"{name}:{node.lineno} {context.get(id(node), 'literal')}"
        snippets.extend((variant, origin) for variant in _variants(value))
    return snippets


def main():
    args = differential.check_arguments(__doc__)
    options = args.parse_args()

    test_dir = os.path.join(sysconfig.get_paths()["stdlib"], "test")
    snippets, seen, unencodable = [], set(), 0
    for name in TEST_FILES:
        path = os.path.join(test_dir, name)
        if not os.path.exists(path):
            print(f"missing {path}: the oracle's test suite is not installed")
            return 1
        for text, origin in extract(path):
            if text in seen:
                continue
            seen.add(text)
            try:
                snippets.append((text.encode("utf-8"), origin))
            except UnicodeEncodeError:
                unencodable += 1

    snippet_dir = os.path.join(options.work_dir, "snippets")
    shutil.rmtree(snippet_dir, ignore_errors=True)
    os.makedirs(snippet_dir)
    cases = []
    for number, (data, origin) in enumerate(snippets):
        path = os.path.join(snippet_dir, f"{number:05d}.py")
        with open(path, "wb") as f:
            f.write(data)
        cases.append((path, f"{path}  from {origin}"))

    paths = [path for path, _ in cases]
    oracle, ours = differential.run_both(options.parse_check, options.work_dir, paths)
    rejected = sum(1 for v in oracle.values() if v.status == "error")
    print(f"{len(snippets)} snippets from {test_dir} ({unencodable} not encodable as UTF-8 left "
          f"out); oracle rejects {rejected}")
    comparison = differential.compare(cases, oracle, ours)
    differential.report("grammar-suite differential", comparison,
                        os.path.join(options.work_dir, "grammar_suite_disagreements.txt"))
    return 1 if comparison.disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
