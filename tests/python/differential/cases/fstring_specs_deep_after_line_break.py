# ...except that CPython does not count past a line break inside the spec.
x = f"{1:
{2:{3:{4}}}}"
