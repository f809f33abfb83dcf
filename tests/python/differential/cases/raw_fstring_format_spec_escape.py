# CPython decodes escapes in the format spec of a raw f-string too.
x = rf'{x:%H\n}'
