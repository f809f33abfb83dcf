# The text a debug field repeats leaves its comments out.
x = f"{1+2 = # note
  }"
