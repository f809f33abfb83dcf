"""Every character name CPython knows must work in a `\\N{...}` escape and decode to the same
character, in any letter case; a name CPython does not know must fail.

The parser looks names up in ICU, CPython in its own tables; they need not be of the same Unicode
version. Names go in files of many lines each (`x = "\\N{NAME}"`); a file the parser rejects is
split into one file per character to name the culprits (see check_identifiers.py).

Usage: check_char_names.py --parse-check PATH --work-dir DIR
"""

import collections
import os
import shutil
import sys
import unicodedata

import check_identifiers
import differential

GROUP = 2000
# Names CPython does not know, each for a way a lookup could be too lenient.
UNKNOWN = ["LATIN SMALL LETTER", "LATIN SMALL LETTER AA", "CJK UNIFIED IDEOGRAPH-",
           "CJK UNIFIED IDEOGRAPH-110000", "HANGUL SYLLABLE", "HANGUL SYLLABLE XYZ",
           "LATIN_SMALL_LETTER_A", " LATIN SMALL LETTER A", "LATIN SMALL LETTER A ", "U+0041",
           "LATIN  SMALL LETTER A", "", "LATIN SMALL LETTER A WITH", "TANGUT IDEOGRAPH-"]


def name_line(cp, position):
    if position == "unknown":
        return f'x = "\\N{{{UNKNOWN[cp]}}}"\n'
    name = unicodedata.name(chr(cp))
    return f'x = "\\N{{{name.lower() if position == "lower case" else name}}}"\n'


def main():
    args = differential.check_arguments(__doc__)
    options = args.parse_args()
    named = [cp for cp in range(0x110000)
             if not 0xD800 <= cp < 0xE000 and unicodedata.name(chr(cp), None)]
    print(f"Unicode {unicodedata.unidata_version}: {len(named)} named characters")

    directory = os.path.join(options.work_dir, "char_names")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    files = check_identifiers.Files(directory, name_line)
    for i in range(0, len(named), GROUP):
        files.add(named[i:i + GROUP], "upper case")
    for i in range(0, len(named), GROUP * 4):
        files.add(named[i:i + GROUP * 4:4], "lower case")  # every fourth: case folding is uniform
    for index in range(len(UNKNOWN)):
        files.add([index], "unknown")
    faults, trees_differ = check_identifiers.judge(options, files)
    status = check_identifiers.report("character name differential", files, faults, trees_differ,
                                      "decode")
    for category, cps in sorted(faults.items()):
        families = collections.Counter(_family(cp) for cp in cps)
        print(f"  {category}, by name: " +
              ", ".join(f"{family} ({n})" for family, n in families.most_common(8)))
    return status


def _family(cp):
    """The shared part of a character's name: `CJK UNIFIED IDEOGRAPH`, `HANGUL SYLLABLE`."""
    name = unicodedata.name(chr(cp), "")
    words = name.split("-")[0].split()
    return " ".join(words[:2]) if words else "?"


if __name__ == "__main__":
    sys.exit(main())
