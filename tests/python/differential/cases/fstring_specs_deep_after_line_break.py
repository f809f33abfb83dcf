# ...except that CPython does not count past a line break inside the format specifier.
x = f"{1:
{2:{3:{4}}}}"
