# The text a debug field repeats leaves explicit line joins out.
x = f"{1 \
=}"
