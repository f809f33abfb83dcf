"""The plain-mode indexFiles job written with the standard `ast` module: the peer a user would
otherwise write. Reads the request's `files` as JSON on stdin, prints files and symbols found.

Same rules as the indexer: private file names skipped, UTF-8 required, plain files without
"__all__" or "import *" skipped, module-level bindings (compound statements entered, def and
class bodies not), `__all__` from literal lists, admission by the file's flags."""
import ast
import json
import os
import sys


def is_dunder(name):
    return len(name) >= 2 and name.startswith("__") and name.endswith("__")


def skipped_name(path):
    stem = os.path.splitext(os.path.basename(path.rstrip("/")))[0]
    return len(stem) >= 2 and stem.startswith("_") and not is_dunder(stem)


def literal_names(node):
    if isinstance(node, (ast.List, ast.Tuple)):
        return [e.value for e in node.elts if isinstance(e, ast.Constant) and isinstance(e.value, str)]
    if isinstance(node, ast.BinOp) and isinstance(node.op, ast.Add):
        return literal_names(node.left) + literal_names(node.right)
    return []


def bind(body, symbols, dunder_all):
    for stmt in body:
        if isinstance(stmt, (ast.FunctionDef, ast.AsyncFunctionDef)):
            symbols.setdefault(stmt.name, []).append(12)
        elif isinstance(stmt, ast.ClassDef):
            symbols.setdefault(stmt.name, []).append(5)
        elif isinstance(stmt, (ast.Assign, ast.AnnAssign, ast.AugAssign)):
            targets = stmt.targets if isinstance(stmt, ast.Assign) else [stmt.target]
            for target in targets:
                for node in ast.walk(target):
                    if isinstance(node, ast.Name):
                        if node.id == "__all__" and stmt.value is not None:
                            dunder_all.update(literal_names(stmt.value))
                        upper = node.id.upper() == node.id and any(c.isalpha() for c in node.id)
                        symbols.setdefault(node.id, []).append(14 if upper else 13)
        elif isinstance(stmt, (ast.Import, ast.ImportFrom)):
            for alias in stmt.names:
                if alias.name != "*":
                    name = alias.asname or alias.name.split(".")[0]
                    symbols.setdefault(name, []).append(0)
        elif isinstance(stmt, ast.Expr) and isinstance(stmt.value, ast.Call):
            func = stmt.value.func
            if (isinstance(func, ast.Attribute) and isinstance(func.value, ast.Name)
                    and func.value.id == "__all__" and stmt.value.args):
                if func.attr == "append" and isinstance(stmt.value.args[0], ast.Constant):
                    dunder_all.add(stmt.value.args[0].value)
                elif func.attr == "extend":
                    dunder_all.update(literal_names(stmt.value.args[0]))
        else:
            for field in ("body", "orelse", "finalbody"):
                bind(getattr(stmt, field, []), symbols, dunder_all)
            for handler in getattr(stmt, "handlers", []):
                bind(handler.body, symbols, dunder_all)


def index_file(f):
    path = f["path"]
    if skipped_name(path):
        return []
    try:
        with open(path, "rb") as handle:
            text = handle.read().decode("utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    stub, typed, everything = f.get("isStub", False), f.get("isPyTyped", False), f.get("includeAllSymbols", False)
    if not (stub or typed or everything) and "__all__" not in text and "import *" not in text:
        return []
    try:
        tree = ast.parse(text)
    except SyntaxError:
        return None
    symbols, dunder_all = {}, set()
    bind(tree.body, symbols, dunder_all)
    out = []
    for name, kinds in symbols.items():
        in_all = name in dunder_all
        if (is_dunder(name) and not in_all) or all(k == 0 for k in kinds):
            continue
        if not (stub or typed) and not (in_all or everything):
            continue
        out.append((name, kinds[0] or 13, 1 | (2 if in_all else 0)))
    return out


def main():
    files = json.load(sys.stdin)
    results = [index_file(f) for f in files]
    symbols = sum(len(r) for r in results if r)
    failed = sum(1 for r in results if r is None)
    print(json.dumps({"files": len(files), "symbols": symbols, "failed": failed}))


if __name__ == "__main__":
    main()
