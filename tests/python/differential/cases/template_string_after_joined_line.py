# A template string right after a joined line.
def f():
    \
tr"""doc"""
