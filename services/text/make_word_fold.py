#!/usr/bin/env python3
"""Writes services/text/WordFold.inc: how the word splitter folds the letters of the Latin,
Greek and Cyrillic blocks (lower case, accents dropped), from Python's Unicode database.
Run it again only to change the blocks; the table is committed."""
import os
import unicodedata

BLOCKS = [(0x00C0, 0x0250), (0x0370, 0x0400), (0x0400, 0x0500), (0x1E00, 0x1F00)]


def fold(cp):
    c = chr(cp)
    if unicodedata.category(c)[0] not in "LN":
        return None  # not a letter or digit: it separates words
    low = c.lower()
    if len(low) != 1:
        low = unicodedata.normalize("NFD", c)[0].lower()
    base = unicodedata.normalize("NFD", low)[0]
    return base if unicodedata.category(base)[0] in "LN" else low


def literal(text):
    return '"' + "".join("\\x%02X" % b if b >= 0x80 else chr(b) for b in text.encode("utf-8")) + '"'


out = ["// Made by services/text/make_word_fold.py: folded forms of the code points of each block,",
       "// nullptr where the code point separates words.", ""]
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
