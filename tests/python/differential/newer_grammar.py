"""Two forms the parser accepts that the oracle (Python 3.13) does not know yet:

- an unparenthesised exception list, `except A, B:` (and `except* A, B:`, `except A,:`), valid
  when no `as` follows; with `as` it stays an error;
- template strings, `t"..."` (prefixes t, rt, tr in any case), which share the f-string grammar,
  may be implicitly concatenated only with other template strings.

rewrite() turns such text into its Python 3.13 equivalent - parentheses around the exception list,
`f` for `t` - so the oracle can judge it. Text that uses neither form is never touched: a rewrite
is only tried once the oracle has rejected the original.
"""

import io
import re
import tokenize

_EXCEPT_LIST_ERROR = "multiple exception types must be parenthesized"
_OPENING, _CLOSING = "([{", ")]}"
_MAYBE_TEMPLATE = re.compile(r"(?<!\w)([tT]|[rR][tT]|[tT][rR])(?=['\"])")


def _tokens(text):
    """The tokens of text as far as the tokenizer gets."""
    found = []
    try:
        for token in tokenize.generate_tokens(io.StringIO(text).readline):
            found.append(token)
    except (tokenize.TokenError, SyntaxError):
        pass
    return found


def _offsets(text):
    starts = [0]
    for line in io.StringIO(text):  # the same line split the tokenizer was fed
        starts.append(starts[-1] + len(line))
    return lambda position: starts[position[0] - 1] + position[1]


def parenthesize_except(text, error):
    """The text with the exception list that `error` points into parenthesised, or None."""
    if error.msg not in (_EXCEPT_LIST_ERROR, "invalid syntax") or error.lineno is None:
        return None
    tokens = _tokens(text)
    at = (error.lineno, (error.offset or 1) - 1)
    clause = [i for i, t in enumerate(tokens) if t.string == "except" and t.start <= at]
    if not clause:
        return None
    first = clause[-1] + 1
    if first < len(tokens) and tokens[first].string == "*":
        first += 1
    depth, last, commas, starred = 0, first, 0, False
    while last < len(tokens):
        token = tokens[last]
        if token.type == tokenize.OP and token.string in _OPENING:
            depth += 1
        elif token.type == tokenize.OP and token.string in _CLOSING:
            depth -= 1
        elif depth == 0 and (token.string in (":", "as") or token.type == tokenize.NEWLINE):
            break
        # An item may not be starred there, though it may inside the parentheses we would add.
        item_start = last == first or tokens[last - 1].string == ","
        starred |= depth == 0 and item_start and token.string in ("*", "**")
        commas += depth == 0 and token.string == ","
        last += 1
    if last >= len(tokens) or tokens[last].string != ":" or last == first or not commas:
        return None  # `except A, B as e:` is an error in the newer grammar too
    if starred:
        return None
    if error.msg != _EXCEPT_LIST_ERROR and not tokens[first].start <= at <= tokens[last].start:
        return None  # a plain syntax error elsewhere, e.g. in the handler's body
    offset = _offsets(text)
    start, end = offset(tokens[first].start), offset(tokens[last - 1].end)
    return text[:start] + "(" + text[start:end] + ")" + text[end:]


def _mixes_templates(tokens, is_template):
    """Whether a template string is implicitly concatenated with another kind of literal, at any
    f-string nesting level."""
    groups = [[]]  # per nesting level: is_template of each literal of the open concatenation
    for token in tokens + [None]:
        kind = token.type if token else None
        if kind in (tokenize.STRING, tokenize.FSTRING_START):
            groups[-1].append(is_template(token))
            if kind == tokenize.FSTRING_START:
                groups.append([])
            continue
        if kind in (tokenize.NL, tokenize.COMMENT):
            continue
        if token is None:
            closing = groups
        elif kind == tokenize.FSTRING_END and len(groups) > 1:
            closing = [groups.pop()]  # the f-string itself stays in the enclosing concatenation
        else:
            closing = [groups[-1]]
        for group in closing:
            if any(group) and not all(group):
                return True
            group.clear()
    return False


def _starts_fstring_at(text, offset):
    """Whether the tokenizer sees an f-string begin exactly at offset (not inside a string or a
    comment)."""
    to_offset = _offsets(text)
    try:
        for token in tokenize.generate_tokens(io.StringIO(text).readline):
            if token.type in (tokenize.INDENT, tokenize.DEDENT):
                continue  # may sit at the same offset, before the token
            at = to_offset(token.start)
            if at >= offset:
                return at == offset and token.type == tokenize.FSTRING_START
    except (tokenize.TokenError, SyntaxError):
        pass
    return False


def template_strings_as_fstrings(text):
    """The text with each template string turned into an f-string, or None when it has none or
    mixes one with other literals in a concatenation (which the newer grammar rejects)."""
    # Left to right, one prefix at a time: only once the oracle sees an f-string there does what
    # follows tokenize right (nested quotes, line breaks in replacement fields). A prefix counts
    # when the rewritten text starts an f-string at it. The rewrite keeps every offset.
    templates = set()
    for match in _MAYBE_TEMPLATE.finditer(text):
        start, prefix = match.start(), match.group(1)
        fixed = prefix.replace("t", "f").replace("T", "F")
        candidate = text[:start] + fixed + text[start + len(fixed):]
        if _starts_fstring_at(candidate, start):
            text = candidate
            templates.add(start)
    if not templates:
        return None
    offset = _offsets(text)
    if _mixes_templates(_tokens(text), lambda token: offset(token.start) in templates):
        return None
    return text


def rewrite(text, error):
    """The Python 3.13 equivalent of text that the oracle rejected with `error`, or None."""
    # CPython reads `\r\n` and `\r` as `\n` before anything else; the tokenize module, which
    # locates the edits here, splits lines at `\n` only.
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    return parenthesize_except(text, error) or template_strings_as_fstrings(text)
