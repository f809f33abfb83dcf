# Unparenthesised exception lists never take starred items.
try:
    pass
except* *A, B:
    pass
