# `_` is the wildcard before it can start a dotted name: CPython rejects this.
match x:
    case _.a:
        pass
