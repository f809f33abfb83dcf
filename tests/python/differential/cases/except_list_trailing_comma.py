# Unparenthesised exception lists allow a trailing comma.
try:
    pass
except A, B,:
    pass
