# The text a debug field repeats has its line ends read as newlines, like all source text.
x = f"{
1=}"
