# Same, for a dotted class name: CPython rejects this.
match x:
    case _.a(1):
        pass
