#!/usr/bin/env python3
"""Writes services/text/WordFold.inc from Python's Unicode database: the simple case folding
of every code point that has one, and how the word splitter folds the letters of the Latin,
Greek and Cyrillic blocks (case folded, accents dropped). Run it again only to change the
blocks or to follow a newer Unicode version; the table is committed."""
import os
import unicodedata

BLOCKS = [(0x00C0, 0x0250), (0x0370, 0x0400), (0x0400, 0x0500), (0x1E00, 0x2000)]


def simple_fold(c):
    """Unicode simple case folding (statuses C and S): full folding where it gives one code
    point, else the one-code-point lower case that the S status takes, else the code point."""
    for form in (c.casefold(), c.lower()):
        if len(form) == 1:
            return form
    return c


def fold(cp):
    c = chr(cp)
    if unicodedata.category(c)[0] not in "LN":
        return None  # not a letter or digit: it separates words
    folded = simple_fold(c)
    base = unicodedata.normalize("NFD", folded)[0]
    return simple_fold(base) if unicodedata.category(base)[0] in "LN" else folded


def literal(text):
    return '"' + "".join("\\x%02X" % b if b >= 0x80 else chr(b) for b in text.encode("utf-8")) + '"'


out = ["// Made by services/text/make_word_fold.py (Unicode " + unicodedata.unidata_version + ").", ""]
out.append("// Simple case folding: each code point that has one, with its folded form, in order.")
out.append("constexpr CaseFold kCaseFolds[] = {")
row = []
for cp in range(0x110000):
    if 0xD800 <= cp <= 0xDFFF:
        continue
    folded = simple_fold(chr(cp))
    if folded != chr(cp):
        row.append("{0x%04X, 0x%04X}" % (cp, ord(folded)))
        if len(row) == 6:
            out.append("    " + ", ".join(row) + ",")
            row = []
if row:
    out.append("    " + ", ".join(row) + ",")
out.append("};")
out.append("")
out.append("// The word splitter's forms of the code points of each block, nullptr where the code point")
out.append("// separates words.")
for first, end in BLOCKS:
    out.append("constexpr FoldBlock kFold%04X = {0x%04X, 0x%04X, {" % (first, first, end))
    row = []
    for cp in range(first, end):
        f = fold(cp)
        row.append("nullptr" if f is None else literal(f))
        if len(row) == 8:
            out.append("    " + ", ".join(row) + ",")
            row = []
    if row:
        out.append("    " + ", ".join(row) + ",")
    out.append("}};")
out.append("constexpr const FoldBlock* kFoldBlocks[] = {%s};" % ", ".join("&kFold%04X" % b[0] for b in BLOCKS))
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "WordFold.inc"), "w") as f:
    f.write("\n".join(out) + "\n")
