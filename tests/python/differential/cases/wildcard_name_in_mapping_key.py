# A mapping key is a value, never a wildcard, so `_.a` is fine there.
match x:
    case {_.a: 1}:
        pass
