# `_` is the wildcard before it can name a class: CPython rejects this.
match x:
    case _(1):
        pass
